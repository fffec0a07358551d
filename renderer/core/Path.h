// Paths in user space: move/line/cubic segments with close marks, plus
// helpers that turn arcs, ellipses and rounded rectangles into cubics. The
// core flattens curves itself, at a tolerance chosen from the transform the
// path is drawn through, so interpreters never need to.
#pragma once

#include "Geometry.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tarvik {

enum class FillRule : uint8_t { NonZero, EvenOdd };

enum class LineCap : uint8_t { Butt, Round, Square, Triangle };
enum class LineJoin : uint8_t { Miter, Round, Bevel, None };

// Stroke parameters in user units (they go through the same matrix as the
// path). A width of 0 or less draws the thinnest line the device can show:
// one device pixel wide.
struct StrokeStyle {
    double width = 1;
    LineCap cap = LineCap::Butt;
    LineJoin join = LineJoin::Miter;
    double miterLimit = 10;
    std::vector<double> dash; // on/off lengths; empty = solid
    double dashOffset = 0;
};

class Path {
public:
    enum class Verb : uint8_t { Move, Line, Cubic, Close };

    // A path refuses points beyond this count (and remembers it did, see
    // Overflowed()), so hostile input cannot exhaust memory.
    static constexpr size_t kMaxPoints = 1'000'000;

    void MoveTo(double x, double y);
    void LineTo(double x, double y);
    // Cubic Bezier from the current point through control points 1 and 2.
    void CurveTo(double x1, double y1, double x2, double y2, double x3, double y3);
    // Quadratic Bezier, stored as a cubic.
    void QuadTo(double x1, double y1, double x2, double y2);
    void Close();

    // Elliptical arc on the ellipse centred at (cx, cy) with radii rx, ry,
    // from angle start sweeping by sweep (degrees; positive = towards +y,
    // i.e. clockwise on a y-down page). Draws a line from the current point
    // to the arc's start when connect is true and a point exists, otherwise
    // starts a new subpath there.
    void Arc(double cx, double cy, double rx, double ry, double startDeg, double sweepDeg,
             bool connect);
    // Closed subpaths. clockwise refers to a y-down page.
    void Rectangle(double x0, double y0, double x1, double y1);
    void Ellipse(double cx, double cy, double rx, double ry);
    void RoundRectangle(double x0, double y0, double x1, double y1, double rx, double ry);

    // Appends another path's segments, each point mapped through m.
    void Append(const Path& other, const Matrix& m = {});

    void Clear();
    bool Empty() const { return m_verbs.empty(); }
    bool HasCurrentPoint() const { return m_hasCurrent; }
    Point CurrentPoint() const { return m_current; }
    bool Overflowed() const { return m_overflowed; }
    size_t PointCount() const { return m_points.size(); }

    const std::vector<Verb>& Verbs() const { return m_verbs; }
    // Move and Line use one point, Cubic three, Close none.
    const std::vector<Point>& Points() const { return m_points; }

    // Bounding box of all points (control points included).
    Rect Bounds() const;

private:
    bool Room(size_t n);

    std::vector<Verb> m_verbs;
    std::vector<Point> m_points;
    Point m_current;
    Point m_subpathStart;
    bool m_hasCurrent = false;
    bool m_overflowed = false;
};

} // namespace tarvik
