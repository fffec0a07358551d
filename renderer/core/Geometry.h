// Points, rectangles and affine matrices shared by the interpreters and the
// page-graphics core. All geometry is double precision; only the rasteriser
// turns it into whole device pixels.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace tarvik {

struct Point {
    double x = 0;
    double y = 0;
};

// Axis-aligned rectangle, x0 <= x1 and y0 <= y1 when not empty.
struct Rect {
    double x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    bool Empty() const { return !(x1 > x0 && y1 > y0); }
};

// Whole-pixel rectangle [x0, x1) x [y0, y1) in device space.
struct IRect {
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    bool Empty() const { return x1 <= x0 || y1 <= y0; }
    IRect Intersect(const IRect& o) const {
        return {std::max(x0, o.x0), std::max(y0, o.y0), std::min(x1, o.x1), std::min(y1, o.y1)};
    }
};

// Affine map x' = a*x + c*y + e, y' = b*x + d*y + f (the PostScript/PDF
// layout). Matrices compose left to right: A.Then(B) applies A first.
struct Matrix {
    double a = 1, b = 0, c = 0, d = 1, e = 0, f = 0;

    static Matrix Translate(double tx, double ty) { return {1, 0, 0, 1, tx, ty}; }
    static Matrix Scale(double sx, double sy) { return {sx, 0, 0, sy, 0, 0}; }
    // Angle in degrees, counter-clockwise in a y-up space (clockwise on a
    // y-down page).
    static Matrix Rotate(double degrees) {
        // Quarter turns are exact so that rotated rasters stay on the grid.
        double r = std::fmod(degrees, 360.0);
        if (r < 0) r += 360.0;
        if (r == 0) return {};
        if (r == 90) return {0, 1, -1, 0, 0, 0};
        if (r == 180) return {-1, 0, 0, -1, 0, 0};
        if (r == 270) return {0, -1, 1, 0, 0, 0};
        double s = std::sin(r * M_PI / 180.0), co = std::cos(r * M_PI / 180.0);
        return {co, s, -s, co, 0, 0};
    }

    // This transform followed by m.
    Matrix Then(const Matrix& m) const {
        return {a * m.a + b * m.c, a * m.b + b * m.d,       c * m.a + d * m.c,
                c * m.b + d * m.d, e * m.a + f * m.c + m.e, e * m.b + f * m.d + m.f};
    }
    Point Apply(Point p) const { return {a * p.x + c * p.y + e, b * p.x + d * p.y + f}; }
    // Applies only the linear part (for distances and directions).
    Point ApplyVector(Point p) const { return {a * p.x + c * p.y, b * p.x + d * p.y}; }
    double Determinant() const { return a * d - b * c; }
    bool Invertible() const {
        double det = Determinant();
        return std::isfinite(det) && std::fabs(det) > 1e-12;
    }
    // Inverse; the identity when the matrix is singular (callers check
    // Invertible() first when it matters).
    Matrix Inverse() const {
        double det = Determinant();
        if (!(std::fabs(det) > 1e-12) || !std::isfinite(det)) return {};
        double ia = d / det, ib = -b / det, ic = -c / det, id = a / det;
        return {ia, ib, ic, id, -(e * ia + f * ic), -(e * ib + f * id)};
    }
    // Largest stretch of a unit vector: used for flattening tolerances and
    // glyph sizes.
    double MaxScale() const {
        double p = a * a + b * b, q = c * c + d * d, r = a * c + b * d;
        double mean = (p + q) / 2, diff = std::sqrt(((p - q) / 2) * ((p - q) / 2) + r * r);
        return std::sqrt(mean + diff);
    }
    bool IsFinite() const {
        return std::isfinite(a) && std::isfinite(b) && std::isfinite(c) && std::isfinite(d) &&
               std::isfinite(e) && std::isfinite(f);
    }
};

// Bounding box of r mapped through m.
inline Rect TransformRect(const Rect& r, const Matrix& m) {
    Point p[4] = {m.Apply({r.x0, r.y0}), m.Apply({r.x1, r.y0}), m.Apply({r.x0, r.y1}),
                  m.Apply({r.x1, r.y1})};
    Rect out{p[0].x, p[0].y, p[0].x, p[0].y};
    for (const Point& q : p) {
        out.x0 = std::min(out.x0, q.x);
        out.y0 = std::min(out.y0, q.y);
        out.x1 = std::max(out.x1, q.x);
        out.y1 = std::max(out.y1, q.y);
    }
    return out;
}

} // namespace tarvik
