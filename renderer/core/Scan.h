// Scan conversion: paths to device-pixel spans.
//
// A pixel belongs to a shape when its centre lies inside (edges are
// half-open, so shapes that share an edge share no pixel). Two dropout
// rules keep hairline shapes visible: a span narrower than a pixel that
// covers no centre paints the pixel under its middle, and a shape so flat
// that it covers no row centre is scanned along its middle row.
#pragma once

#include "Geometry.h"
#include "Path.h"

#include <cstdint>
#include <vector>

namespace tarvik {

struct Edge {
    double x0, y0, x1, y1; // y0 < y1
    int dir;               // +1 downwards in the original path, -1 upwards
};

// Line segments in device space, made from paths.
class EdgeList {
public:
    // Caps the work one shape can cause.
    static constexpr size_t kMaxEdges = 800'000;

    // Adds every subpath of path through m, curves flattened to within
    // tolerance device pixels; open subpaths are closed for filling.
    void AddPath(const Path& path, const Matrix& m, double tolerance = 0.2);
    void AddLine(Point a, Point b);
    // Polygon from a point list (implicitly closed).
    void AddPolygon(const Point* pts, size_t n);

    const std::vector<Edge>& Edges() const { return m_edges; }
    bool Empty() const { return m_edges.empty(); }
    Rect Bounds() const { return m_bounds; }
    bool Truncated() const { return m_truncated; }

private:
    std::vector<Edge> m_edges;
    Rect m_bounds{1e300, 1e300, -1e300, -1e300};
    bool m_truncated = false;
};

// Receives the spans of one row at a time: n pairs [x0, x1), sorted, not
// overlapping, rows in increasing order.
class SpanSink {
public:
    virtual ~SpanSink() = default;
    virtual void Row(int y, const int32_t* xs, int pairs) = 0;
};

void ScanConvert(const EdgeList& edges, FillRule rule, const IRect& clip, SpanSink& sink);

// Flattens a path into polylines (for stroking): each subpath as a list of
// points and whether it was closed.
struct Polyline {
    std::vector<Point> points;
    bool closed = false;
};
std::vector<Polyline> FlattenPath(const Path& path, const Matrix& m, double tolerance,
                                  size_t maxPoints = EdgeList::kMaxEdges);

// A set of pixels stored as sorted spans per row: clip regions and cached
// glyphs.
class SpanSet : public SpanSink {
public:
    SpanSet() = default;
    static SpanSet FromRect(const IRect& r);

    void Row(int y, const int32_t* xs, int pairs) override;

    // Row y's spans; pairs = 0 when none.
    const int32_t* RowSpans(int y, int& pairs) const;
    IRect Bounds() const { return m_bounds; } // tight box; empty when nothing
    bool IsRect() const { return m_isRect; }
    bool Empty() const { return m_bounds.Empty(); }
    size_t MemoryBytes() const { return m_xs.size() * 4 + m_rowStart.size() * 4; }
    // A set refuses spans beyond this many (32 MiB); callers then fall back
    // to its bounding box.
    static constexpr size_t kMaxCoordinates = 8u << 20;
    bool Overflowed() const { return m_overflowed; }

    SpanSet Intersect(const SpanSet& other) const;
    // The pixels of area that are not in this set.
    SpanSet ComplementWithin(const IRect& area) const;

private:
    int m_y0 = 0;                     // first row stored
    std::vector<uint32_t> m_rowStart; // per stored row, index into m_xs; one extra at the end
    std::vector<int32_t> m_xs;
    IRect m_bounds{0, 0, 0, 0};
    bool m_isRect = false;
    bool m_overflowed = false;
    bool m_rowsStarted = false;
};

} // namespace tarvik
