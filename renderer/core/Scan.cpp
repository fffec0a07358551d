#include "core/Scan.h"

#include <algorithm>
#include <cmath>

namespace tarvik {

namespace {

// Keeps device coordinates far inside the range of int and of exact
// doubles, whatever a hostile transform produces.
constexpr double kCoordLimit = 4'000'000;

double ClampCoord(double v) {
    if (!std::isfinite(v)) return 0;
    return std::clamp(v, -kCoordLimit, kCoordLimit);
}

int CubicSteps(Point p0, Point p1, Point p2, Point p3, double tol) {
    double ddx = std::max(std::fabs(p0.x - 2 * p1.x + p2.x), std::fabs(p1.x - 2 * p2.x + p3.x));
    double ddy = std::max(std::fabs(p0.y - 2 * p1.y + p2.y), std::fabs(p1.y - 2 * p2.y + p3.y));
    double dd = std::hypot(ddx, ddy);
    if (!std::isfinite(dd)) return 1;
    double n = std::ceil(std::sqrt(0.75 * dd / tol));
    return int(std::clamp(n, 1.0, 1000.0));
}

} // namespace

std::vector<Polyline> FlattenPath(const Path& path, const Matrix& m, double tolerance,
                                  size_t maxPoints) {
    std::vector<Polyline> out;
    if (!(tolerance > 0)) tolerance = 0.2;
    const auto& pts = path.Points();
    size_t pi = 0, total = 0;
    Point cur{0, 0};
    for (Path::Verb v : path.Verbs()) {
        switch (v) {
        case Path::Verb::Move:
            cur = m.Apply(pts[pi++]);
            out.push_back({{cur}, false});
            ++total;
            break;
        case Path::Verb::Line: {
            Point p = m.Apply(pts[pi++]);
            if (out.empty()) out.push_back({{cur}, false});
            if (total < maxPoints) {
                out.back().points.push_back(p);
                ++total;
            }
            cur = p;
            break;
        }
        case Path::Verb::Cubic: {
            Point p1 = m.Apply(pts[pi]), p2 = m.Apply(pts[pi + 1]), p3 = m.Apply(pts[pi + 2]);
            pi += 3;
            if (out.empty()) out.push_back({{cur}, false});
            int n = CubicSteps(cur, p1, p2, p3, tolerance);
            if (total + size_t(n) > maxPoints) n = 1;
            auto& line = out.back().points;
            for (int i = 1; i <= n; ++i) {
                double t = double(i) / n, u = 1 - t;
                double b0 = u * u * u, b1 = 3 * u * u * t, b2 = 3 * u * t * t, b3 = t * t * t;
                line.push_back({b0 * cur.x + b1 * p1.x + b2 * p2.x + b3 * p3.x,
                                b0 * cur.y + b1 * p1.y + b2 * p2.y + b3 * p3.y});
            }
            total += size_t(n);
            cur = p3;
            break;
        }
        case Path::Verb::Close:
            if (!out.empty()) {
                out.back().closed = true;
                cur = out.back().points.front();
            }
            break;
        }
    }
    return out;
}

void EdgeList::AddLine(Point a, Point b) {
    a.x = ClampCoord(a.x);
    a.y = ClampCoord(a.y);
    b.x = ClampCoord(b.x);
    b.y = ClampCoord(b.y);
    m_bounds.x0 = std::min({m_bounds.x0, a.x, b.x});
    m_bounds.x1 = std::max({m_bounds.x1, a.x, b.x});
    m_bounds.y0 = std::min({m_bounds.y0, a.y, b.y});
    m_bounds.y1 = std::max({m_bounds.y1, a.y, b.y});
    if (a.y == b.y) return; // horizontal edges never cross a row centre
    if (m_edges.size() >= kMaxEdges) {
        m_truncated = true;
        return;
    }
    if (a.y < b.y)
        m_edges.push_back({a.x, a.y, b.x, b.y, 1});
    else
        m_edges.push_back({b.x, b.y, a.x, a.y, -1});
}

void EdgeList::AddPolygon(const Point* pts, size_t n) {
    if (n < 2) return;
    for (size_t i = 0; i + 1 < n; ++i) AddLine(pts[i], pts[i + 1]);
    AddLine(pts[n - 1], pts[0]);
}

void EdgeList::AddPath(const Path& path, const Matrix& m, double tolerance) {
    for (const Polyline& pl : FlattenPath(path, m, tolerance))
        AddPolygon(pl.points.data(), pl.points.size());
}

namespace {

struct Crossing {
    double x;
    int dir;
};

// Turns the crossings of one row into spans and hands them on.
void EmitRow(int y, std::vector<Crossing>& xs, FillRule rule, const IRect& clip,
             std::vector<int32_t>& spans, SpanSink& sink) {
    // Insertion sort: rows differ little from the row before.
    for (size_t i = 1; i < xs.size(); ++i) {
        Crossing c = xs[i];
        size_t j = i;
        while (j > 0 && xs[j - 1].x > c.x) {
            xs[j] = xs[j - 1];
            --j;
        }
        xs[j] = c;
    }
    spans.clear();
    int winding = 0;
    double start = 0;
    for (const Crossing& c : xs) {
        bool wasIn = rule == FillRule::NonZero ? winding != 0 : (winding & 1) != 0;
        winding += c.dir;
        bool isIn = rule == FillRule::NonZero ? winding != 0 : (winding & 1) != 0;
        if (!wasIn && isIn) {
            start = c.x;
        } else if (wasIn && !isIn) {
            double end = c.x;
            int x0 = int(std::ceil(start - 0.5)), x1 = int(std::ceil(end - 0.5));
            if (x1 <= x0) {
                if (!(end > start)) continue;
                x0 = int(std::floor((start + end) / 2));
                x1 = x0 + 1;
            }
            x0 = std::max(x0, clip.x0);
            x1 = std::min(x1, clip.x1);
            if (x1 <= x0) continue;
            if (!spans.empty() && x0 <= spans.back()) {
                spans.back() = std::max(spans.back(), x1);
            } else {
                spans.push_back(x0);
                spans.push_back(x1);
            }
        }
    }
    if (!spans.empty()) sink.Row(y, spans.data(), int(spans.size() / 2));
}

} // namespace

void ScanConvert(const EdgeList& list, FillRule rule, const IRect& clip, SpanSink& sink) {
    const auto& edges = list.Edges();
    if (edges.empty() || clip.Empty()) return;
    Rect b = list.Bounds();
    std::vector<Crossing> xs;
    std::vector<int32_t> spans;

    int firstAll = int(std::ceil(b.y0 - 0.5)), lastAll = int(std::ceil(b.y1 - 0.5));
    if (firstAll >= lastAll) {
        // Too flat to cover a row centre: scan its middle line instead.
        double yc = (b.y0 + b.y1) / 2;
        int y = int(std::floor(yc));
        if (y < clip.y0 || y >= clip.y1) return;
        for (const Edge& e : edges)
            if (e.y0 <= yc && yc < e.y1)
                xs.push_back({e.x0 + (yc - e.y0) * (e.x1 - e.x0) / (e.y1 - e.y0), e.dir});
        EmitRow(y, xs, rule, clip, spans, sink);
        return;
    }

    struct Pending {
        int first, last;
        uint32_t index;
    };
    std::vector<Pending> order;
    order.reserve(edges.size());
    for (uint32_t i = 0; i < edges.size(); ++i) {
        const Edge& e = edges[i];
        int first = std::max(int(std::ceil(e.y0 - 0.5)), clip.y0);
        int last = std::min(int(std::ceil(e.y1 - 0.5)), clip.y1);
        if (first < last) order.push_back({first, last, i});
    }
    if (order.empty()) return;
    std::sort(order.begin(), order.end(),
              [](const Pending& a, const Pending& b) { return a.first < b.first; });

    struct Active {
        double x0, y0, slope, x;
        int dir, last;
    };
    std::vector<Active> active;
    size_t next = 0;
    int y = order[0].first;
    while (next < order.size() || !active.empty()) {
        if (active.empty() && next < order.size()) y = std::max(y, order[next].first);
        size_t added = 0;
        while (next < order.size() && order[next].first <= y) {
            ++added;
            const Edge& e = edges[order[next].index];
            active.push_back(
                {e.x0, e.y0, (e.x1 - e.x0) / (e.y1 - e.y0), 0, e.dir, order[next].last});
            ++next;
        }
        double yc = y + 0.5;
        for (Active& a : active) a.x = a.x0 + (yc - a.y0) * a.slope;
        // The active list stays sorted by x from row to row, so an
        // insertion sort does little work unless many edges just started.
        if (added > 32)
            std::sort(active.begin(), active.end(),
                      [](const Active& a, const Active& b) { return a.x < b.x; });
        for (size_t i = 1; i < active.size(); ++i) {
            Active t = active[i];
            size_t j = i;
            while (j > 0 && active[j - 1].x > t.x) {
                active[j] = active[j - 1];
                --j;
            }
            active[j] = t;
        }
        xs.clear();
        for (const Active& a : active) xs.push_back({a.x, a.dir});
        EmitRow(y, xs, rule, clip, spans, sink);
        ++y;
        active.erase(std::remove_if(active.begin(), active.end(),
                                    [y](const Active& a) { return a.last <= y; }),
                     active.end());
    }
}

// --- SpanSet ---

SpanSet SpanSet::FromRect(const IRect& r) {
    SpanSet s;
    if (r.Empty()) return s;
    s.m_bounds = r;
    s.m_isRect = true;
    s.m_xs = {r.x0, r.x1};
    return s;
}

void SpanSet::Row(int y, const int32_t* xs, int pairs) {
    if (pairs <= 0) return;
    if (m_xs.size() + size_t(2 * pairs) > kMaxCoordinates) {
        m_overflowed = true;
        if (m_rowsStarted) {
            // Keep the box honest so the fallback covers the whole shape.
            m_bounds.x0 = std::min(m_bounds.x0, xs[0]);
            m_bounds.x1 = std::max(m_bounds.x1, xs[2 * pairs - 1]);
            m_bounds.y1 = std::max(m_bounds.y1, y + 1);
        }
        return;
    }
    if (!m_rowsStarted) {
        m_rowsStarted = true;
        m_y0 = y;
        m_rowStart = {0};
        m_bounds = {xs[0], y, xs[2 * pairs - 1], y + 1};
    }
    if (y < m_y0 + int(m_rowStart.size()) - 1) return; // rows must increase
    while (m_y0 + int(m_rowStart.size()) - 1 < y) m_rowStart.push_back(uint32_t(m_xs.size()));
    m_xs.insert(m_xs.end(), xs, xs + 2 * pairs);
    m_rowStart.push_back(uint32_t(m_xs.size()));
    m_bounds.x0 = std::min(m_bounds.x0, xs[0]);
    m_bounds.x1 = std::max(m_bounds.x1, xs[2 * pairs - 1]);
    m_bounds.y1 = y + 1;
}

const int32_t* SpanSet::RowSpans(int y, int& pairs) const {
    pairs = 0;
    if (y < m_bounds.y0 || y >= m_bounds.y1) return nullptr;
    if (m_isRect) {
        pairs = 1;
        return m_xs.data();
    }
    int idx = y - m_y0;
    if (idx < 0 || idx + 1 >= int(m_rowStart.size())) return nullptr;
    uint32_t a = m_rowStart[size_t(idx)], b = m_rowStart[size_t(idx) + 1];
    pairs = int((b - a) / 2);
    return m_xs.data() + a;
}

SpanSet SpanSet::Intersect(const SpanSet& other) const {
    if (m_isRect && other.m_isRect) return FromRect(m_bounds.Intersect(other.m_bounds));
    SpanSet out;
    IRect area = m_bounds.Intersect(other.m_bounds);
    if (area.Empty()) return out;
    std::vector<int32_t> row;
    for (int y = area.y0; y < area.y1; ++y) {
        int na, nb;
        const int32_t* a = RowSpans(y, na);
        const int32_t* b = other.RowSpans(y, nb);
        row.clear();
        int i = 0, j = 0;
        while (i < na && j < nb) {
            int32_t lo = std::max(a[2 * i], b[2 * j]), hi = std::min(a[2 * i + 1], b[2 * j + 1]);
            if (lo < hi) {
                row.push_back(lo);
                row.push_back(hi);
            }
            if (a[2 * i + 1] < b[2 * j + 1])
                ++i;
            else
                ++j;
        }
        if (!row.empty()) out.Row(y, row.data(), int(row.size() / 2));
    }
    return out;
}

SpanSet SpanSet::ComplementWithin(const IRect& area) const {
    if (Empty()) return FromRect(area);
    SpanSet out;
    std::vector<int32_t> row;
    for (int y = area.y0; y < area.y1; ++y) {
        int n;
        const int32_t* s = RowSpans(y, n);
        row.clear();
        int32_t x = area.x0;
        for (int i = 0; i < n; ++i) {
            int32_t lo = std::max(s[2 * i], area.x0), hi = std::min(s[2 * i + 1], area.x1);
            if (lo >= hi) continue;
            if (lo > x) {
                row.push_back(x);
                row.push_back(lo);
            }
            x = std::max(x, hi);
        }
        if (x < area.x1) {
            row.push_back(x);
            row.push_back(area.x1);
        }
        if (!row.empty()) out.Row(y, row.data(), int(row.size() / 2));
    }
    return out;
}

} // namespace tarvik
