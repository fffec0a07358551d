#include "core/Path.h"

#include <cmath>

namespace tarvik {

bool Path::Room(size_t n) {
    if (m_points.size() + n > kMaxPoints) {
        m_overflowed = true;
        return false;
    }
    return true;
}

void Path::MoveTo(double x, double y) {
    if (!Room(1)) return;
    // Consecutive moves collapse into one: only the last position matters.
    if (!m_verbs.empty() && m_verbs.back() == Verb::Move) {
        m_points.back() = {x, y};
    } else {
        m_verbs.push_back(Verb::Move);
        m_points.push_back({x, y});
    }
    m_current = m_subpathStart = {x, y};
    m_hasCurrent = true;
}

void Path::LineTo(double x, double y) {
    if (!m_hasCurrent) {
        MoveTo(x, y);
        return;
    }
    if (!Room(1)) return;
    if (!m_verbs.empty() && m_verbs.back() == Verb::Close) {
        // A segment after a close starts a new subpath at the closed one's start.
        m_verbs.push_back(Verb::Move);
        m_points.push_back(m_subpathStart);
    }
    m_verbs.push_back(Verb::Line);
    m_points.push_back({x, y});
    m_current = {x, y};
}

void Path::CurveTo(double x1, double y1, double x2, double y2, double x3, double y3) {
    if (!m_hasCurrent) MoveTo(x1, y1);
    if (!Room(4)) return;
    if (!m_verbs.empty() && m_verbs.back() == Verb::Close) {
        m_verbs.push_back(Verb::Move);
        m_points.push_back(m_subpathStart);
    }
    m_verbs.push_back(Verb::Cubic);
    m_points.push_back({x1, y1});
    m_points.push_back({x2, y2});
    m_points.push_back({x3, y3});
    m_current = {x3, y3};
}

void Path::QuadTo(double x1, double y1, double x2, double y2) {
    Point p0 = m_hasCurrent ? m_current : Point{x1, y1};
    CurveTo(p0.x + 2.0 / 3.0 * (x1 - p0.x), p0.y + 2.0 / 3.0 * (y1 - p0.y),
            x2 + 2.0 / 3.0 * (x1 - x2), y2 + 2.0 / 3.0 * (y1 - y2), x2, y2);
}

void Path::Close() {
    if (!m_hasCurrent || m_verbs.empty() || m_verbs.back() == Verb::Close) return;
    if (m_verbs.back() == Verb::Move) return; // nothing to close
    m_verbs.push_back(Verb::Close);
    m_current = m_subpathStart;
}

void Path::Arc(double cx, double cy, double rx, double ry, double startDeg, double sweepDeg,
               bool connect) {
    if (!std::isfinite(cx + cy + rx + ry + startDeg + sweepDeg)) return;
    // Sweeps beyond a full turn draw the full ellipse once.
    sweepDeg = std::clamp(sweepDeg, -360.0, 360.0);
    double a0 = startDeg * M_PI / 180.0;
    Point start{cx + rx * std::cos(a0), cy + ry * std::sin(a0)};
    if (connect && m_hasCurrent)
        LineTo(start.x, start.y);
    else
        MoveTo(start.x, start.y);
    int pieces = std::max(1, int(std::ceil(std::fabs(sweepDeg) / 90.0 - 1e-9)));
    double step = sweepDeg * M_PI / 180.0 / pieces;
    // Control arm length for a cubic that approximates a circular arc of
    // angle step.
    double k = 4.0 / 3.0 * std::tan(step / 4.0);
    double a = a0;
    for (int i = 0; i < pieces; ++i) {
        double b = a + step;
        double ca = std::cos(a), sa = std::sin(a), cb = std::cos(b), sb = std::sin(b);
        CurveTo(cx + rx * (ca - k * sa), cy + ry * (sa + k * ca), cx + rx * (cb + k * sb),
                cy + ry * (sb - k * cb), cx + rx * cb, cy + ry * sb);
        a = b;
    }
}

void Path::Rectangle(double x0, double y0, double x1, double y1) {
    MoveTo(x0, y0);
    LineTo(x1, y0);
    LineTo(x1, y1);
    LineTo(x0, y1);
    Close();
}

void Path::Ellipse(double cx, double cy, double rx, double ry) {
    Arc(cx, cy, rx, ry, 0, 360, false);
    Close();
}

void Path::RoundRectangle(double x0, double y0, double x1, double y1, double rx, double ry) {
    if (x0 > x1) std::swap(x0, x1);
    if (y0 > y1) std::swap(y0, y1);
    rx = std::min(std::fabs(rx), (x1 - x0) / 2);
    ry = std::min(std::fabs(ry), (y1 - y0) / 2);
    if (rx <= 0 || ry <= 0) {
        Rectangle(x0, y0, x1, y1);
        return;
    }
    MoveTo(x0 + rx, y0);
    LineTo(x1 - rx, y0);
    Arc(x1 - rx, y0 + ry, rx, ry, -90, 90, true);
    LineTo(x1, y1 - ry);
    Arc(x1 - rx, y1 - ry, rx, ry, 0, 90, true);
    LineTo(x0 + rx, y1);
    Arc(x0 + rx, y1 - ry, rx, ry, 90, 90, true);
    LineTo(x0, y0 + ry);
    Arc(x0 + rx, y0 + ry, rx, ry, 180, 90, true);
    Close();
}

void Path::Append(const Path& other, const Matrix& m) {
    size_t pi = 0;
    const auto& pts = other.m_points;
    for (Verb v : other.m_verbs) {
        switch (v) {
        case Verb::Move: {
            Point p = m.Apply(pts[pi++]);
            MoveTo(p.x, p.y);
            break;
        }
        case Verb::Line: {
            Point p = m.Apply(pts[pi++]);
            LineTo(p.x, p.y);
            break;
        }
        case Verb::Cubic: {
            Point a = m.Apply(pts[pi]), b = m.Apply(pts[pi + 1]), c = m.Apply(pts[pi + 2]);
            pi += 3;
            CurveTo(a.x, a.y, b.x, b.y, c.x, c.y);
            break;
        }
        case Verb::Close:
            Close();
            break;
        }
    }
    if (other.m_overflowed) m_overflowed = true;
}

void Path::Clear() {
    m_verbs.clear();
    m_points.clear();
    m_hasCurrent = false;
    m_overflowed = false;
}

Rect Path::Bounds() const {
    if (m_points.empty()) return {};
    Rect r{m_points[0].x, m_points[0].y, m_points[0].x, m_points[0].y};
    for (const Point& p : m_points) {
        r.x0 = std::min(r.x0, p.x);
        r.y0 = std::min(r.y0, p.y);
        r.x1 = std::max(r.x1, p.x);
        r.y1 = std::max(r.y1, p.y);
    }
    return r;
}

} // namespace tarvik
