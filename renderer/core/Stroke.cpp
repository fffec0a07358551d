#include "core/Stroke.h"

#include <algorithm>
#include <cmath>

namespace tarvik {

namespace {

constexpr size_t kMaxDashPieces = 1'000'000;

double Length(Point a, Point b) {
    return std::hypot(b.x - a.x, b.y - a.y);
}

class PolygonAdder {
public:
    PolygonAdder(const Matrix& m, EdgeList& out) : m_m(m), m_out(out) {}

    void Add(std::initializer_list<Point> pts) { Add(std::vector<Point>(pts)); }
    void Add(std::vector<Point> pts) {
        for (Point& p : pts) p = m_m.Apply(p);
        double area = 0;
        for (size_t i = 0; i < pts.size(); ++i) {
            const Point& a = pts[i];
            const Point& b = pts[(i + 1) % pts.size()];
            area += a.x * b.y - b.x * a.y;
        }
        if (area == 0) return;
        if (area < 0) std::reverse(pts.begin(), pts.end());
        m_out.AddPolygon(pts.data(), pts.size());
    }

private:
    Matrix m_m;
    EdgeList& m_out;
};

// Round caps and joins are drawn finer than curves: their edge decides
// whole pixels next to the line.
int CircleSteps(double r, double tol) {
    tol /= 4;
    if (r <= tol) return 16;
    double n = M_PI / std::acos(std::max(-1.0, 1 - tol / r));
    return int(std::clamp(std::ceil(n), 16.0, 256.0));
}

void Circle(PolygonAdder& add, Point c, double r, double tol) {
    int n = CircleSteps(r, tol);
    std::vector<Point> pts(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
        double a = 2 * M_PI * i / n;
        pts[size_t(i)] = {c.x + r * std::cos(a), c.y + r * std::sin(a)};
    }
    add.Add(std::move(pts));
}

// Cap at end point p of a segment running in unit direction d.
void Cap(PolygonAdder& add, Point p, Point d, double hw, LineCap cap, double tol) {
    Point n{-d.y * hw, d.x * hw};
    Point e{d.x * hw, d.y * hw};
    switch (cap) {
    case LineCap::Butt:
        break;
    case LineCap::Square:
        add.Add({{p.x + n.x, p.y + n.y},
                 {p.x + n.x + e.x, p.y + n.y + e.y},
                 {p.x - n.x + e.x, p.y - n.y + e.y},
                 {p.x - n.x, p.y - n.y}});
        break;
    case LineCap::Round:
        Circle(add, p, hw, tol);
        break;
    case LineCap::Triangle:
        add.Add({{p.x + n.x, p.y + n.y}, {p.x + e.x, p.y + e.y}, {p.x - n.x, p.y - n.y}});
        break;
    }
}

void Join(PolygonAdder& add, Point p, Point d0, Point d1, const StrokeStyle& s, double hw,
          double tol) {
    double cross = d0.x * d1.y - d0.y * d1.x;
    double dot = d0.x * d1.x + d0.y * d1.y;
    if (std::fabs(cross) < 1e-12 && dot > 0) return; // straight on
    // The outer side is left of the turn when turning right and vice versa.
    double side = cross > 0 ? -1 : 1;
    Point n0{-d0.y * hw * side, d0.x * hw * side};
    Point n1{-d1.y * hw * side, d1.x * hw * side};
    Point a{p.x + n0.x, p.y + n0.y}, b{p.x + n1.x, p.y + n1.y};
    switch (s.join) {
    case LineJoin::None:
        return;
    case LineJoin::Round:
        // Gentle turns (flattened curves) are covered well enough by a bevel.
        if (dot > 0.985)
            add.Add({p, a, b});
        else
            Circle(add, p, hw, tol);
        return;
    case LineJoin::Bevel:
        add.Add({p, a, b});
        return;
    case LineJoin::Miter: {
        // Miter length over line width = 1 / sin(theta/2), theta the angle
        // between the segments.
        double cosTheta = -dot;
        double sinHalf = std::sqrt(std::max(0.0, (1 - cosTheta) / 2));
        if (sinHalf < 1e-9 || 1 / sinHalf > s.miterLimit) {
            add.Add({p, a, b});
            return;
        }
        Point mid{n0.x + n1.x, n0.y + n1.y};
        double ml = std::hypot(mid.x, mid.y);
        if (ml < 1e-12) {
            add.Add({p, a, b});
            return;
        }
        double len = hw / sinHalf;
        Point tip{p.x + mid.x / ml * len, p.y + mid.y / ml * len};
        add.Add({p, a, tip, b});
        return;
    }
    }
}

void StrokeOne(PolygonAdder& add, const Polyline& line, const StrokeStyle& s, double hw,
               double tol) {
    std::vector<Point> pts;
    pts.reserve(line.points.size());
    for (const Point& p : line.points)
        if (pts.empty() || Length(pts.back(), p) > 1e-9) pts.push_back(p);
    bool closed = line.closed;
    if (closed && pts.size() > 1 && Length(pts.front(), pts.back()) <= 1e-9) pts.pop_back();
    if (pts.size() == 1) {
        // A zero-length stroke shows only as its caps.
        if (s.cap == LineCap::Round)
            Circle(add, pts[0], hw, tol);
        else if (s.cap == LineCap::Square)
            add.Add({{pts[0].x - hw, pts[0].y - hw},
                     {pts[0].x + hw, pts[0].y - hw},
                     {pts[0].x + hw, pts[0].y + hw},
                     {pts[0].x - hw, pts[0].y + hw}});
        return;
    }
    if (pts.size() < 2) return;
    if (pts.size() == 2) closed = false;
    size_t segs = closed ? pts.size() : pts.size() - 1;
    std::vector<Point> dirs(segs);
    for (size_t i = 0; i < segs; ++i) {
        Point a = pts[i], b = pts[(i + 1) % pts.size()];
        double l = Length(a, b);
        dirs[i] = {(b.x - a.x) / l, (b.y - a.y) / l};
        Point n{-dirs[i].y * hw, dirs[i].x * hw};
        add.Add({{a.x + n.x, a.y + n.y},
                 {b.x + n.x, b.y + n.y},
                 {b.x - n.x, b.y - n.y},
                 {a.x - n.x, a.y - n.y}});
    }
    for (size_t i = 1; i < segs; ++i) Join(add, pts[i], dirs[i - 1], dirs[i], s, hw, tol);
    if (closed) {
        Join(add, pts[0], dirs[segs - 1], dirs[0], s, hw, tol);
    } else {
        Cap(add, pts[0], {-dirs[0].x, -dirs[0].y}, hw, s.cap, tol);
        Cap(add, pts.back(), dirs[segs - 1], hw, s.cap, tol);
    }
}

} // namespace

std::vector<Polyline> ApplyDashes(const std::vector<Polyline>& lines, const StrokeStyle& s) {
    double period = 0;
    bool valid = !s.dash.empty();
    for (double d : s.dash) {
        if (!(d >= 0) || !std::isfinite(d)) valid = false;
        period += d;
    }
    if (!valid || !(period > 0)) return lines;
    // An odd count repeats the list so on and off alternate.
    std::vector<double> dash = s.dash;
    if (dash.size() % 2) dash.insert(dash.end(), s.dash.begin(), s.dash.end());
    period *= dash.size() / s.dash.size();

    double total = 0;
    for (const Polyline& l : lines)
        for (size_t i = 1; i < l.points.size(); ++i) total += Length(l.points[i - 1], l.points[i]);
    if (total / period * double(dash.size()) > double(kMaxDashPieces)) return lines;

    std::vector<Polyline> out;
    for (const Polyline& l : lines) {
        std::vector<Point> pts = l.points;
        if (l.closed && !pts.empty()) pts.push_back(pts.front());
        // Each subpath starts the pattern afresh at the offset.
        double off = std::fmod(s.dashOffset, period);
        if (off < 0) off += period;
        size_t di = 0;
        while (off > 0 && off >= dash[di]) {
            off -= dash[di];
            di = (di + 1) % dash.size();
        }
        double left = dash[di] - off; // of the current dash entry
        bool on = di % 2 == 0;
        Polyline cur;
        if (on && !pts.empty()) cur.points.push_back(pts[0]);
        for (size_t i = 1; i < pts.size(); ++i) {
            Point a = pts[i - 1], b = pts[i];
            double segLen = Length(a, b), pos = 0;
            while (segLen - pos > left) {
                pos += left;
                double t = pos / segLen;
                Point p{a.x + (b.x - a.x) * t, a.y + (b.y - a.y) * t};
                if (on) {
                    cur.points.push_back(p);
                    out.push_back(std::move(cur));
                    cur = {};
                } else {
                    cur.points = {p};
                }
                on = !on;
                di = (di + 1) % dash.size();
                left = dash[di];
            }
            left -= segLen - pos;
            if (on) cur.points.push_back(b);
        }
        if (on && cur.points.size() > 1) out.push_back(std::move(cur));
    }
    return out;
}

void StrokePolylines(const std::vector<Polyline>& lines, const StrokeStyle& style,
                     const Matrix& toDevice, double tolerance, EdgeList& out) {
    double hw = std::max(style.width, 0.0) / 2;
    if (!(hw > 0)) return;
    PolygonAdder add(toDevice, out);
    for (const Polyline& l : ApplyDashes(lines, style)) {
        StrokeOne(add, l, style, hw, tolerance);
        if (out.Truncated()) return;
    }
}

} // namespace tarvik
