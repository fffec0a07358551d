// Path construction, clipping and painting.
#include "PxlInterp.h"

#include <algorithm>
#include <cmath>

namespace tarvik::pclxl {

bool Interpreter::EnsureCursor() {
    if (!m_gs.hasCursor) {
        Warn("CurrentCursorUndefined");
        return false;
    }
    Path& p = m_gs.path;
    if (!p.HasCurrentPoint() || p.CurrentPoint().x != m_gs.cursor.x ||
        p.CurrentPoint().y != m_gs.cursor.y)
        p.MoveTo(m_gs.cursor.x, m_gs.cursor.y);
    return true;
}

void Interpreter::AfterPathOp() {
    if (m_gs.path.HasCurrentPoint()) {
        m_gs.cursor = m_gs.path.CurrentPoint();
        m_gs.hasCursor = true;
    }
    if (m_gs.path.Overflowed()) Warn("InsufficientMemory (path too long)");
}

bool Interpreter::ReadPoints(Reader& r, std::vector<Point>& pts) {
    pts.clear();
    const Value* count = Get(aNumberOfPoints);
    const Value* type = Get(aPointType);
    if (!count || !type) {
        Warn("MissingAttribute NumberOfPoints/PointType");
        return false;
    }
    const uint8_t* d;
    uint32_t n;
    if (!Embedded(r, d, n)) return false;
    int t = SafeInt(type->Num(0));
    if (t < 0 || t > 3) {
        Warn("IllegalAttributeValue PointType");
        return false;
    }
    size_t esize = t < 2 ? 1 : 2;
    size_t want = size_t(std::max(0, SafeInt(count->Num(0))));
    if (want * 2 * esize > n) {
        Warn("MissingData (points)");
        want = n / (2 * esize);
    }
    pts.reserve(want);
    for (size_t i = 0; i < want; ++i) {
        const uint8_t* q = d + i * 2 * esize;
        double v[2];
        for (int k = 0; k < 2; ++k) {
            const uint8_t* e = q + k * esize;
            switch (t) {
            case 0:
                v[k] = e[0];
                break;
            case 1:
                v[k] = int8_t(e[0]);
                break;
            case 2:
                v[k] = Get16(e, m_dataBigEndian);
                break;
            default:
                v[k] = int16_t(Get16(e, m_dataBigEndian));
                break;
            }
        }
        pts.push_back({v[0], v[1]});
    }
    return true;
}

void Interpreter::LinePath(Reader& r, bool relative) {
    std::vector<Point> pts;
    if (const Value* e = Get(aEndPoint)) {
        pts.push_back({e->X(), e->Y()});
    } else if (!ReadPoints(r, pts)) {
        return;
    }
    if (!EnsureCursor()) return;
    Path& p = m_gs.path;
    for (const Point& q : pts) {
        Point at = p.CurrentPoint();
        if (relative)
            p.LineTo(at.x + q.x, at.y + q.y);
        else
            p.LineTo(q.x, q.y);
    }
    AfterPathOp();
}

void Interpreter::BezierPath(Reader& r, bool relative) {
    std::vector<Point> pts;
    const Value* c1 = Get(aControlPoint1);
    const Value* c2 = Get(aControlPoint2);
    const Value* e = Get(aEndPoint);
    if (c1 && c2 && e) {
        pts = {{c1->X(), c1->Y()}, {c2->X(), c2->Y()}, {e->X(), e->Y()}};
    } else if (!ReadPoints(r, pts)) {
        return;
    }
    if (pts.size() % 3 != 0) Warn("IllegalAttributeValue NumberOfPoints (not a multiple of 3)");
    if (!EnsureCursor()) return;
    Path& p = m_gs.path;
    for (size_t i = 0; i + 2 < pts.size(); i += 3) {
        Point o = relative ? p.CurrentPoint() : Point{};
        p.CurveTo(o.x + pts[i].x, o.y + pts[i].y, o.x + pts[i + 1].x, o.y + pts[i + 1].y,
                  o.x + pts[i + 2].x, o.y + pts[i + 2].y);
    }
    AfterPathOp();
}

bool Interpreter::BoxAttr(Rect& box) {
    const Value* b;
    if (!Require(aBoundingBox, b)) return false;
    box = {std::min(b->Num(0), b->Num(2)), std::min(b->Num(1), b->Num(3)),
           std::max(b->Num(0), b->Num(2)), std::max(b->Num(1), b->Num(3))};
    return true;
}

void Interpreter::ArcShape(ArcKind kind) {
    Rect box;
    if (!BoxAttr(box)) return;
    const Value* s = Get(aStartPoint);
    const Value* e = Get(aEndPoint);
    if (!s || !e) {
        Warn("MissingAttribute StartPoint/EndPoint");
        return;
    }
    double cx = (box.x0 + box.x1) / 2, cy = (box.y0 + box.y1) / 2;
    double rx = (box.x1 - box.x0) / 2, ry = (box.y1 - box.y0) / 2;
    if (rx <= 0 || ry <= 0) {
        Warn("IllegalAttributeValue BoundingBox (empty)");
        return;
    }
    auto angle = [&](const Value* v) {
        return std::atan2((v->Y() - cy) / ry, (v->X() - cx) / rx) * 180.0 / M_PI;
    };
    if ((s->X() == cx && s->Y() == cy) || (e->X() == cx && e->Y() == cy)) {
        Warn("IllegalAttributeValue (arc point at the centre)");
        return;
    }
    double a0 = angle(s), a1 = angle(e);
    bool clockwise = Num(aArcDirection, 1) == 0;
    double sweep;
    // Clockwise as seen on the page, where y runs down.
    if (clockwise) {
        sweep = std::fmod(a1 - a0 + 720.0, 360.0);
        if (sweep < 1e-9) sweep = 360;
    } else {
        sweep = -std::fmod(a0 - a1 + 720.0, 360.0);
        if (sweep > -1e-9) sweep = -360;
    }
    Path& p = m_gs.path;
    if (kind == ArcKind::Pie) {
        p.MoveTo(cx, cy);
        p.Arc(cx, cy, rx, ry, a0, sweep, true);
        p.Close();
    } else {
        p.Arc(cx, cy, rx, ry, a0, sweep, false);
        if (kind == ArcKind::Chord) p.Close();
    }
    AfterPathOp();
    if (kind != ArcKind::Arc) m_gs.cursor = {box.x0, box.y0};
}

void Interpreter::EllipsePath() {
    Rect box;
    if (!BoxAttr(box)) return;
    double cx = (box.x0 + box.x1) / 2, cy = (box.y0 + box.y1) / 2;
    m_gs.path.Arc(cx, cy, (box.x1 - box.x0) / 2, (box.y1 - box.y0) / 2, 0, -360, false);
    m_gs.path.Close();
    AfterPathOp();
    m_gs.cursor = {box.x0, box.y0};
}

void Interpreter::RectanglePath() {
    Rect box;
    if (!BoxAttr(box)) return;
    Path& p = m_gs.path;
    // Counter-clockwise as seen on the page.
    p.MoveTo(box.x0, box.y0);
    p.LineTo(box.x0, box.y1);
    p.LineTo(box.x1, box.y1);
    p.LineTo(box.x1, box.y0);
    p.Close();
    AfterPathOp();
    m_gs.cursor = {box.x0, box.y0};
}

void Interpreter::RoundRectanglePath() {
    Rect box;
    if (!BoxAttr(box)) return;
    const Value* ed;
    if (!Require(aEllipseDimension, ed)) return;
    m_gs.path.RoundRectangle(box.x0, box.y0, box.x1, box.y1, ed->X() / 2, ed->Y() / 2);
    AfterPathOp();
    m_gs.cursor = {box.x0, box.y0};
}

void Interpreter::PaintPath() {
    Device* dev = Dev();
    if (!dev || m_gs.path.Empty()) return;
    if (!m_gs.brush.IsNull())
        dev->FillPath(m_gs.path, m_gs.ctm, m_gs.fillMode, m_gs.brush.paint, m_gs.rop);
    if (!m_gs.pen.IsNull())
        dev->StrokePath(m_gs.path, m_gs.ctm, m_gs.stroke, m_gs.pen.paint, m_gs.rop);
}

void Interpreter::PaintShape(void (Interpreter::*build)(), bool trailingNewPath) {
    m_gs.path.Clear();
    (this->*build)();
    PaintPath();
    if (trailingNewPath) m_gs.path.Clear();
}

void Interpreter::EmptyClip() {
    Device* dev = Dev();
    if (!dev) return;
    Path off;
    off.Rectangle(-100, -100, -99, -99);
    dev->ClipPath(off, Matrix{}, FillRule::NonZero, ClipOp::Intersect, ClipRegion::Interior);
    m_gs.clipOutline.Clear();
    m_gs.clipOutlineValid = true;
}

void Interpreter::ClipWithPath(ClipOp op) {
    Device* dev = Dev();
    if (!dev) return;
    ClipRegion region = Num(aClipRegion, 0) == 1 ? ClipRegion::Exterior : ClipRegion::Interior;
    if (region == ClipRegion::Exterior && m_gs.clipMode != FillRule::EvenOdd)
        Warn("ClipModeMismatch");
    if (m_gs.path.Empty()) {
        if (op == ClipOp::Replace) ClipToPage();
        EmptyClip();
    } else {
        dev->ClipPath(m_gs.path, m_gs.ctm, m_gs.clipMode, op, region);
        // Keep an outline for SetPathToClip where it is exact.
        if (region == ClipRegion::Interior && (op == ClipOp::Replace || !m_gs.clipOutlineValid)) {
            m_gs.clipOutline.Clear();
            m_gs.clipOutline.Append(m_gs.path, m_gs.ctm);
            m_gs.clipOutlineValid = true;
        }
    }
    m_gs.path.Clear();
    m_gs.hasCursor = false;
}

void Interpreter::ClipRectangle() {
    Device* dev = Dev();
    Rect box;
    if (!dev || !BoxAttr(box)) return;
    ClipRegion region = Num(aClipRegion, 0) == 1 ? ClipRegion::Exterior : ClipRegion::Interior;
    Path rect;
    rect.Rectangle(box.x0, box.y0, box.x1, box.y1);
    dev->ClipPath(rect, m_gs.ctm, FillRule::NonZero, ClipOp::Intersect, region);
    if (region == ClipRegion::Interior && !m_gs.clipOutlineValid) {
        m_gs.clipOutline.Clear();
        m_gs.clipOutline.Append(rect, m_gs.ctm);
        m_gs.clipOutlineValid = true;
    }
    m_gs.path.Clear();
    m_gs.hasCursor = false;
}

void Interpreter::ClipToPage() {
    if (Device* dev = Dev()) dev->ResetClip();
    m_gs.clipOutline.Clear();
    m_gs.clipOutlineValid = false;
}

void Interpreter::PathToClip() {
    Device* dev = Dev();
    if (!dev) return;
    Path page;
    if (m_gs.clipOutlineValid) {
        page = m_gs.clipOutline;
    } else {
        // Built clockwise, as the default clip is.
        page.Rectangle(0, 0, dev->PageWidth(), dev->PageHeight());
    }
    m_gs.path.Clear();
    m_gs.path.Append(page, m_gs.ctm.Inverse());
    AfterPathOp();
}

} // namespace tarvik::pclxl
