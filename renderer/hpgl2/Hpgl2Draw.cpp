// Drawing: pen moves, the polygon buffer, strokes with line attributes,
// fills with the fill types, arcs, rectangles and wedges.
#include "Hpgl2State.h"

#include <algorithm>
#include <cmath>

namespace tarvik::hpgl2 {

namespace {

// Strokes are batched into one path; past this many points it is drawn.
constexpr size_t kPendingPoints = 100000;
constexpr double kPluPerMm = 40.0;

Color Tint(Color c, double percent) {
    auto ch = [&](uint8_t v) {
        return uint8_t(std::lround(255 - (255 - v) * std::clamp(percent, 0.0, 100.0) / 100));
    };
    return {ch(c.r), ch(c.g), ch(c.b)};
}

// Whether painting twice differs from painting once: some source and
// pattern combination turns the destination over (as XOR does).
bool Inverts(uint8_t rop3) {
    for (int i = 0; i < 4; ++i)
        if ((rop3 >> (2 * i) & 3) == 1) return true;
    return false;
}

double Norm360(double a) {
    a = std::fmod(a, 360.0);
    return a < 0 ? a + 360 : a;
}

} // namespace

// --- Pen moves -----------------------------------------------------------------

void Interpreter::State::MoveTo(Point plu) {
    if (!std::isfinite(plu.x) || !std::isfinite(plu.y)) return;
    if (polygonMode) {
        // A pen-up move starts a new sub-polygon.
        if (polygon.HasCurrentPoint() && polygon.Verbs().back() != Path::Verb::Move)
            ClosePolygon(false);
        PolygonPoint(plu, false);
    }
    pen = plu;
}

void Interpreter::State::LineTo(Point plu) {
    if (!std::isfinite(plu.x) || !std::isfinite(plu.y)) return;
    if (polygonMode) {
        PolygonPoint(plu, true);
    } else {
        if (!pending.HasCurrentPoint() || pending.CurrentPoint().x != pen.x ||
            pending.CurrentPoint().y != pen.y)
            pending.MoveTo(pen.x, pen.y);
        if (plu.x == pen.x && plu.y == pen.y)
            pending.LineTo(plu.x + 0.5, plu.y); // a dot still shows
        else
            pending.LineTo(plu.x, plu.y);
        if (pending.PointCount() > kPendingPoints) Flush();
    }
    pen = plu;
}

void Interpreter::State::CurveTo(Point c1, Point c2, Point end) {
    if (!penDown && !polygonMode) {
        MoveTo(end);
        return;
    }
    for (Point q : {c1, c2, end})
        if (!std::isfinite(q.x) || !std::isfinite(q.y)) return;
    Path& target = polygonMode ? polygon : pending;
    if (polygonMode && polygon.PointCount() + 3 > polygonLimit) {
        PolygonPoint(end, true);
        pen = end;
        return;
    }
    Path* both[2] = {&target, polygonMode ? &edges : nullptr};
    for (Path* t : both) {
        if (!t) continue;
        if (!t->HasCurrentPoint() || t->CurrentPoint().x != pen.x || t->CurrentPoint().y != pen.y)
            t->MoveTo(pen.x, pen.y);
        t->CurveTo(c1.x, c1.y, c2.x, c2.y, end.x, end.y);
    }
    pen = end;
    if (!polygonMode && pending.PointCount() > kPendingPoints) Flush();
}

void Interpreter::State::PolygonPoint(Point plu, bool down) {
    // The buffer is finite, as a printer's is: what fits is drawn.
    if (polygon.PointCount() >= polygonLimit) {
        if (!warnedPolygon) job.Warning("HP-GL/2 polygon buffer full; the rest is dropped");
        warnedPolygon = true;
        return;
    }
    if (down) {
        if (!polygon.HasCurrentPoint()) StartPolygon();
        polygon.LineTo(plu.x, plu.y);
        if (!edges.HasCurrentPoint() || edges.CurrentPoint().x != pen.x ||
            edges.CurrentPoint().y != pen.y)
            edges.MoveTo(pen.x, pen.y);
        edges.LineTo(plu.x, plu.y);
    } else {
        polygon.MoveTo(plu.x, plu.y);
        polygonStart = plu;
    }
}

void Interpreter::State::StartPolygon() {
    polygon.MoveTo(pen.x, pen.y);
    polygonStart = pen;
}

void Interpreter::State::ClosePolygon(bool penIsDown) {
    if (!polygon.HasCurrentPoint()) return;
    Point at = polygon.CurrentPoint();
    polygon.Close();
    if (penIsDown && (at.x != polygonStart.x || at.y != polygonStart.y)) {
        if (!edges.HasCurrentPoint() || edges.CurrentPoint().x != at.x ||
            edges.CurrentPoint().y != at.y)
            edges.MoveTo(at.x, at.y);
        edges.LineTo(polygonStart.x, polygonStart.y);
    }
}

void Interpreter::State::Flush() {
    if (pending.Empty()) return;
    Path p = std::move(pending);
    pending = Path{};
    StrokePlu(p);
}

// --- Device ---------------------------------------------------------------------

Device* Interpreter::State::Page() {
    Device* dev = host.DrawingPage();
    if (!dev) return nullptr;
    ApplyClip(dev);
    deviceScale = dev->PageToDevice().MaxScale();
    return dev;
}

void Interpreter::State::ApplyClip(Device* dev) {
    if (clipPushed && clipDevice == dev) return;
    DropClip();
    bool turned = rotation == 90 || rotation == 270;
    Rect r{0, 0, turned ? frameH : frameW, turned ? frameW : frameH};
    if (windowSet) {
        r.x0 = std::max(r.x0, window.x0), r.y0 = std::max(r.y0, window.y0);
        r.x1 = std::min(r.x1, window.x1), r.y1 = std::min(r.y1, window.y1);
    }
    if (r.Empty()) r = {-1e7, -1e7, -1e7 + 1, -1e7 + 1}; // nothing shows
    Path clip;
    clip.Rectangle(r.x0, r.y0, r.x1, r.y1);
    dev->PushClip();
    dev->ClipPath(clip, pluToPage, FillRule::NonZero, ClipOp::Intersect, ClipRegion::Interior);
    clipPushed = true;
    clipDevice = dev;
}

void Interpreter::State::DropClip() {
    if (clipPushed && clipDevice && job.Page() == clipDevice) clipDevice->PopClip();
    clipPushed = false;
    clipDevice = nullptr;
}

// --- Paints and styles --------------------------------------------------------------

Color Interpreter::State::PenColor(int pn) const {
    if (palette.empty()) return kBlack;
    return palette[size_t(std::max(pn, 0)) % palette.size()];
}

Paint Interpreter::State::RasterPaint(int index) const {
    const auto& rf = rasterFills[size_t(std::clamp(index, 1, 8) - 1)];
    if (rf.width <= 0) return Paint::SolidColor(PenColor(penNo));
    auto tile = std::make_shared<Pattern>();
    tile->width = rf.width;
    tile->height = rf.height;
    tile->pixels.reserve(rf.pens.size());
    for (int pn : rf.pens) tile->pixels.push_back(PenColor(pn));
    // Pattern pixels smaller than the page's pixels would alias into blotches:
    // an opaque pattern is then drawn in its average colour.
    if (!transparent && 72.0 / 300 * deviceScale < 0.75) {
        double sum[3] = {0, 0, 0};
        for (Color c : tile->pixels) sum[0] += c.r, sum[1] += c.g, sum[2] += c.b;
        double n = double(tile->pixels.size());
        return Paint::SolidColor({uint8_t(std::lround(sum[0] / n)),
                                  uint8_t(std::lround(sum[1] / n)),
                                  uint8_t(std::lround(sum[2] / n))});
    }
    // Raster fills are laid down in 300 dpi pixels from the anchor corner.
    Point a = pluToPage.Apply(anchor);
    tile->patternToPage = Matrix::Scale(72.0 / 300, 72.0 / 300).Then(Matrix::Translate(a.x, a.y));
    return Paint::Tiled(tile);
}

Paint Interpreter::State::FillPaint() const {
    Color c = PenColor(penNo);
    switch (fillType) {
    case 10:
        return Paint::SolidColor(Tint(c, shading));
    case 11:
        return RasterPaint(rasterFillIndex);
    case 21:
    case 22: {
        Paint p = host.PclPattern(fillType, pclPatternId[fillType - 21], c);
        if (p.kind == Paint::Kind::None) {
            job.Unsupported("HP-GL/2 fill with a PCL pattern the page does not have");
            return Paint::SolidColor(c);
        }
        return p;
    }
    default:
        return Paint::SolidColor(c);
    }
}

Paint Interpreter::State::PenPaint() const {
    Color c = PenColor(penNo);
    switch (screenType) {
    case 1:
        return Paint::SolidColor(Tint(c, screenOpt));
    case 2:
        return RasterPaint(int(screenOpt));
    case 21:
    case 22: {
        Paint p = host.PclPattern(screenType, int(screenOpt), c);
        return p.kind == Paint::Kind::None ? Paint::SolidColor(c) : p;
    }
    default:
        return Paint::SolidColor(c);
    }
}

StrokeStyle Interpreter::State::Style(const Path& path) const {
    StrokeStyle st;
    double w = penWidths.empty() ? 0.35 : penWidths[size_t(std::max(penNo, 0)) % penWidths.size()];
    st.width = widthRelative ? w / 100 * Diagonal() : w * kPluPerMm;
    st.cap = cap;
    st.join = join;
    st.miterLimit = miterLimit;
    // Thin lines get plain butt ends and no joins.
    if (st.width <= 0.35 * kPluPerMm + 1e-9) {
        st.cap = LineCap::Butt;
        st.join = LineJoin::Miter;
    }
    if (lineTypeSolid || lineType == 0) return st;
    int t = std::abs(lineType);
    const std::vector<double>& user = userLines[size_t(t - 1)];
    static const std::vector<double> kStd[8] = {
        {0, 100},
        {50, 50},
        {70, 30},
        {80, 10, 0, 10},
        {70, 10, 10, 10},
        {50, 10, 10, 10, 10, 10},
        {70, 10, 0, 10, 0, 10},
        {50, 10, 0, 10, 10, 10, 0, 10},
    };
    const std::vector<double>& pct = user.empty() ? kStd[t - 1] : user;
    double length = patternAbsolute ? patternLength * kPluPerMm : patternLength / 100 * Diagonal();
    if (!(length > 0) || !std::isfinite(length)) return st;
    if (lineAdaptive) {
        // Whole patterns fit each line: stretch the pattern to the path.
        double total = 0;
        const auto& pts = path.Points();
        for (size_t i = 1; i < pts.size(); ++i)
            total += std::hypot(pts[i].x - pts[i - 1].x, pts[i].y - pts[i - 1].y);
        if (total > 0) length = total / std::max(1.0, std::round(total / length));
    }
    double sum = 0;
    for (double v : pct) sum += v;
    if (!(sum > 0)) return st;
    double dot = std::max(st.width, length / 100);
    for (size_t i = 0; i < pct.size(); ++i) {
        double d = pct[i] / sum * length;
        // Zero-length dashes are dots; the next gap pays for them.
        if (i % 2 == 0 && d == 0) d = dot;
        if (i % 2 == 1) d = std::max(d - (pct[i - 1] == 0 ? dot : 0), length / 1000);
        st.dash.push_back(d);
    }
    if (st.dash.size() % 2) st.dash.push_back(st.dash.back());
    return st;
}

void Interpreter::State::StrokePlu(const Path& path) {
    if (path.Empty()) return;
    Device* dev = Page();
    if (!dev) return;
    Paint paint = PenPaint();
    RasterOp o = op;
    o.sourceTransparent = false;
    o.patternTransparent = paint.kind == Paint::Kind::Pattern && transparent;
    StrokeStyle st = Style(path);
    if (lineAdaptive && !lineTypeSolid && lineType != 0 && !wholeCurve) {
        // Adaptive types start and end every vector with a whole pattern.
        const auto& pts = path.Points();
        size_t i = 0;
        Point start, at;
        for (Path::Verb v : path.Verbs()) {
            Path seg;
            switch (v) {
            case Path::Verb::Move:
                start = at = pts[i++];
                continue;
            case Path::Verb::Line:
                seg.MoveTo(at.x, at.y);
                at = pts[i++];
                seg.LineTo(at.x, at.y);
                break;
            case Path::Verb::Cubic:
                seg.MoveTo(at.x, at.y);
                seg.CurveTo(pts[i].x, pts[i].y, pts[i + 1].x, pts[i + 1].y, pts[i + 2].x,
                            pts[i + 2].y);
                at = pts[i + 2];
                i += 3;
                break;
            default:
                seg.MoveTo(at.x, at.y);
                seg.LineTo(start.x, start.y);
                at = start;
                break;
            }
            dev->StrokePath(seg, pluToPage, Style(seg), paint, o);
        }
        return;
    }
    if (lineTypeSolid || lineType != 0) {
        dev->StrokePath(path, pluToPage, st, paint, o);
        return;
    }
    // LT0 marks only the points a line passes through.
    Path dots;
    const auto& pts = path.Points();
    size_t i = 0;
    for (Path::Verb v : path.Verbs()) {
        if (v == Path::Verb::Close) continue;
        i += v == Path::Verb::Cubic ? 3 : 1;
        Point q = pts[i - 1];
        dots.MoveTo(q.x, q.y);
        dots.LineTo(q.x + 0.01, q.y);
    }
    st.cap = LineCap::Round;
    st.width = std::max(st.width, 0.35 * kPluPerMm);
    dev->StrokePath(dots, pluToPage, st, paint, o);
}

void Interpreter::State::FillPlu(const Path& path, FillRule rule) {
    if (path.Empty()) return;
    if (fillType == 3 || fillType == 4) {
        Device* dev = Page();
        if (!dev) return;
        int i = fillType - 3;
        double s = hatchSpacing[i];
        s = s > 0 ? std::hypot(VecToPlu({s, 0}).x, VecToPlu({s, 0}).y) : Diagonal() / 100;
        Hatch(dev, path, rule, s, hatchAngle[i]);
        if (fillType == 4) Hatch(dev, path, rule, s, hatchAngle[i] + 90);
        return;
    }
    Device* dev = Page();
    if (!dev) return;
    Paint paint = FillPaint();
    RasterOp o = op;
    o.sourceTransparent = false;
    o.patternTransparent = paint.kind == Paint::Kind::Pattern && transparent;
    dev->FillPath(path, pluToPage, rule, paint, o);
    if (gridCentred || Inverts(o.rop3)) return;
    // Grid-intersection placement (PP0) also prints the pixels whose corner
    // a boundary passes through: the area reaches one pixel further right
    // and down, as a one-pixel outline half a pixel on.
    double unit = deviceScale * pluToPage.MaxScale();
    if (!(unit > 0) || !std::isfinite(unit)) return;
    Point half = dev->PageToDevice().Inverse().ApplyVector({0.5, 0.5});
    StrokeStyle edge;
    edge.width = 1 / unit;
    edge.join = LineJoin::Miter;
    edge.miterLimit = 2;
    dev->StrokePath(path, pluToPage.Then(Matrix::Translate(half.x, half.y)), edge, paint, o);
}

void Interpreter::State::Hatch(Device* dev, const Path& path, FillRule rule, double spacing,
                               double angle) {
    Rect b = path.Bounds();
    if (b.Empty() || !(spacing > 0)) return;
    double cx = (b.x0 + b.x1) / 2, cy = (b.y0 + b.y1) / 2;
    double r = std::hypot(b.x1 - b.x0, b.y1 - b.y0) / 2 + spacing;
    // A hatch finer than the page can show is drawn two device pixels apart
    // at most, and never with more than a few thousand lines.
    double pixel = 1 / std::max(1e-9, pluToPage.Then(dev->PageToDevice()).MaxScale());
    spacing = std::max({spacing, 2 * pixel, r / 2000});
    double a = angle * M_PI / 180, dx = std::cos(a), dy = std::sin(a);
    Path lines;
    // Lines pass through the anchor corner, so neighbouring areas line up.
    double off = std::fmod((cx - anchor.x) * -dy + (cy - anchor.y) * dx, spacing);
    for (double t = -r - off; t <= r; t += spacing) {
        double px = cx - dy * t, py = cy + dx * t;
        lines.MoveTo(px - dx * r, py - dy * r);
        lines.LineTo(px + dx * r, py + dy * r);
    }
    dev->PushClip();
    dev->ClipPath(path, pluToPage, rule, ClipOp::Intersect, ClipRegion::Interior);
    StrokeStyle st = Style(lines);
    st.dash.clear();
    st.cap = LineCap::Butt; // the clip cuts the lines' ends anyway
    RasterOp o = op;
    o.sourceTransparent = false;
    dev->StrokePath(lines, pluToPage, st, Paint::SolidColor(PenColor(penNo)), o);
    dev->PopClip();
}

// --- Arcs and shapes ---------------------------------------------------------------------

std::vector<Point> Interpreter::State::ArcPoints(Point c, double radius, double startDeg,
                                                 double sweepDeg, double chordDeg) const {
    std::vector<Point> pts;
    if (!std::isfinite(radius) || !std::isfinite(startDeg) || !std::isfinite(sweepDeg)) return pts;
    sweepDeg = std::clamp(sweepDeg, -360.0, 360.0);
    chordDeg = std::clamp(std::isfinite(chordDeg) ? std::fabs(chordDeg) : 5.0, 0.5, 180.0);
    int steps = std::max(1, int(std::ceil(std::fabs(sweepDeg) / chordDeg)));
    for (int i = 0; i <= steps; ++i) {
        double a = (startDeg + sweepDeg * i / steps) * M_PI / 180;
        pts.push_back({c.x + radius * std::cos(a), c.y + radius * std::sin(a)});
    }
    return pts;
}

void Interpreter::State::Arc(Point centre, double sweepDeg, double chordDeg) {
    Point u = UserPen();
    double r = std::hypot(u.x - centre.x, u.y - centre.y);
    double start = std::atan2(u.y - centre.y, u.x - centre.x) * 180 / M_PI;
    std::vector<Point> pts = ArcPoints(centre, r, start, sweepDeg, chordDeg);
    WholeCurve whole(*this);
    for (size_t i = 1; i < pts.size(); ++i) {
        Point q = ToPlu(pts[i]);
        if (penDown)
            LineTo(q);
        else
            MoveTo(q);
    }
    crPoint = pen;
}

void Interpreter::State::ArcThree(Point mid, Point end, double chordDeg) {
    Point a = UserPen();
    double d = 2 * (a.x * (mid.y - end.y) + mid.x * (end.y - a.y) + end.x * (a.y - mid.y));
    if (std::fabs(d) < 1e-9 || !std::isfinite(d)) {
        // Points on one line: the arc is a straight line to the end.
        Point q = ToPlu(end);
        penDown ? LineTo(q) : MoveTo(q);
        return;
    }
    auto sq = [](Point p) { return p.x * p.x + p.y * p.y; };
    Point c{(sq(a) * (mid.y - end.y) + sq(mid) * (end.y - a.y) + sq(end) * (a.y - mid.y)) / d,
            (sq(a) * (end.x - mid.x) + sq(mid) * (a.x - end.x) + sq(end) * (mid.x - a.x)) / d};
    auto ang = [&](Point p) { return std::atan2(p.y - c.y, p.x - c.x) * 180 / M_PI; };
    double a0 = ang(a), sweep = Norm360(ang(end) - a0), toMid = Norm360(ang(mid) - a0);
    if (toMid > sweep) sweep -= 360;
    std::vector<Point> pts = ArcPoints(c, std::hypot(a.x - c.x, a.y - c.y), a0, sweep, chordDeg);
    WholeCurve whole(*this);
    for (size_t i = 1; i < pts.size(); ++i) {
        Point q = ToPlu(i + 1 == pts.size() ? end : pts[i]);
        penDown ? LineTo(q) : MoveTo(q);
    }
    crPoint = pen;
}

void Interpreter::State::Circle(double radius, double chordDeg) {
    Point u = UserPen();
    std::vector<Point> pts = ArcPoints(u, radius, 0, 360, chordDeg);
    if (pts.empty()) return;
    Point saved = pen;
    if (polygonMode) {
        if (polygon.HasCurrentPoint() && polygon.Verbs().back() != Path::Verb::Move)
            ClosePolygon(false);
        PolygonPoint(ToPlu(pts[0]), false);
        pen = ToPlu(pts[0]);
        for (size_t i = 1; i < pts.size(); ++i) {
            PolygonPoint(ToPlu(pts[i]), true);
            pen = ToPlu(pts[i]);
        }
        ClosePolygon(true);
        pen = saved;
        MoveTo(saved);
        return;
    }
    Flush();
    Path c;
    for (size_t i = 0; i < pts.size(); ++i) {
        Point q = ToPlu(pts[i]);
        i ? c.LineTo(q.x, q.y) : c.MoveTo(q.x, q.y);
    }
    c.Close();
    WholeCurve whole(*this);
    StrokePlu(c);
}

void Interpreter::State::Rectangle(Point corner, bool fill) {
    if (!std::isfinite(corner.x) || !std::isfinite(corner.y)) return;
    Path r;
    r.MoveTo(pen.x, pen.y);
    r.LineTo(corner.x, pen.y);
    r.LineTo(corner.x, corner.y);
    r.LineTo(pen.x, corner.y);
    r.Close();
    if (fill)
        FillPlu(r, FillRule::EvenOdd);
    else
        StrokePlu(r);
}

void Interpreter::State::Wedge(double radius, double start, double sweep, double chord, bool fill) {
    Point u = UserPen();
    if (radius < 0) radius = -radius, start += 180;
    std::vector<Point> pts = ArcPoints(u, radius, start, sweep, chord);
    if (pts.empty()) return;
    Path w;
    w.MoveTo(pen.x, pen.y);
    for (Point q : pts) {
        Point t = ToPlu(q);
        w.LineTo(t.x, t.y);
    }
    w.Close();
    if (fill)
        FillPlu(w, FillRule::NonZero);
    else
        StrokePlu(w);
}

} // namespace tarvik::hpgl2
