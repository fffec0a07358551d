// Labels: the stroke fonts of StickFont.cpp (stick and arc) with the
// characters DL downloads, or a PCL font when the font definition names one,
// placed by direction, slant, size, text path and label origin.
#include "Hpgl2State.h"

#include "fonts/SymbolSets.h"

#include <algorithm>
#include <cmath>

namespace tarvik::hpgl2 {

namespace {

constexpr double kPluPerCm = 400.0;
// A stick font's cap height for a given point size, and its line gap.
constexpr double kCapShare = 0.6;

bool IsStick(int typeface) {
    return typeface == 48 || typeface == 50 || typeface <= 0;
}

// Line-drawing and block characters, and the pieces of tall delimiters, keep
// their whole cell, so that they join in the proportional arc font too.
bool FillsCell(uint32_t unicode) {
    return (unicode >= 0x2500 && unicode < 0x25A0) || unicode == 0x25D8 || unicode == 0x25D9 ||
           unicode == 0x2320 || unicode == 0x2321 || (unicode >= 0x239B && unicode <= 0x23AF) ||
           unicode == 0x23B7 || unicode == 0x23D0 || (unicode >= 0xF8E5 && unicode <= 0xF8FE);
}

// Stroke units (a sixth of the body width) around an arc-font glyph, and a
// space's width.
constexpr double kArcGap = 2.5, kArcSpace = 5;

} // namespace

void Interpreter::State::DrawOutlineGlyph(Device& dev, const FontFace& face, uint32_t g,
                                          const Matrix& toPlu, double em, const Paint& paint,
                                          const RasterOp& o) {
    Matrix m = toPlu.Then(pluToPage);
    // Edge pen 0 means no edging; CF0 edges only when given a pen.
    bool edged = (charFill == 1 || charFill == 3) ? edgePen != 0 : charFill == 0 && edgePen > 0;
    if (charFill == 0 && !edged) {
        dev.FillGlyph(face, g, m, paint, o);
        return;
    }
    // Edged or pattern-filled characters go through their outlines.
    Path outline;
    if (!face.Outline(g, outline)) return;
    if (charFill == 0) dev.FillGlyph(face, g, m, paint, o);
    if (charFill >= 2) {
        Path area;
        area.Append(outline, toPlu);
        FillPlu(area, FillRule::NonZero);
    }
    if (edged) {
        int pn = edgePen >= 0 ? edgePen : penNo;
        double w = penWidths.empty() ? 0.35 : penWidths[size_t(pn) % penWidths.size()];
        StrokeStyle st;
        st.width = (widthRelative ? w / 100 * Diagonal() : w * 40) / std::max(em, 1e-9);
        st.join = LineJoin::Round;
        dev.StrokePath(outline, m, st, Paint::SolidColor(PenColor(pn)), o);
    }
}

Interpreter::State::Cell Interpreter::State::CurrentCell() const {
    const FontDef& f = fonts[fontSelected];
    Cell c;
    if (sizeSet) {
        if (sizeRelative) {
            c.advance = sizeW / 100 * std::fabs(p2.x - p1.x);
            c.capHeight = sizeH / 100 * std::fabs(p2.y - p1.y);
        } else {
            c.advance = sizeW * kPluPerCm;
            c.capHeight = sizeH * kPluPerCm;
        }
    } else {
        c.advance = kPluPerInch / f.request.pitch;
        c.capHeight = f.request.height * kPluPerPoint * kCapShare;
    }
    // Sizes stay within a few pages: larger text could not be read anyway.
    c.advance = std::clamp(std::isfinite(c.advance) ? c.advance : 0, -1e6, 1e6);
    c.capHeight = std::clamp(std::isfinite(c.capHeight) ? c.capHeight : 0, -1e6, 1e6);
    c.bodyWidth = c.advance * 2 / 3;
    c.lineHeight = std::fabs(c.capHeight) / kCapShare * 1.2;
    return c;
}

Point Interpreter::State::Direction() const {
    double x = dirX, y = dirY;
    if (dirRelative) x *= (p2.x - p1.x) / 100, y *= (p2.y - p1.y) / 100;
    double len = std::hypot(x, y);
    if (!(len > 0) || !std::isfinite(len)) return {1, 0};
    return {x / len, y / len};
}

void Interpreter::State::Download(const std::vector<double>& p) {
    if (p.empty()) {
        downloaded.clear();
        downloadedPoints = 0;
        return;
    }
    if (!(p[0] >= 0 && p[0] <= 65535)) return;
    uint32_t code = uint32_t(p[0]);
    auto old = downloaded.find(code);
    if (old != downloaded.end()) {
        for (const auto& run : old->second) downloadedPoints -= run.size();
        downloaded.erase(old);
    }
    // Points on a grid 32 units across the body and up to the cap height;
    // -128 lifts the pen before the next point.
    std::vector<std::vector<Point>> strokes;
    std::vector<Point> run;
    size_t points = 0;
    for (size_t i = 1; i < p.size();) {
        if (p[i] == -128 || i + 1 >= p.size()) {
            if (!run.empty()) strokes.push_back(std::move(run));
            run.clear();
            ++i;
            continue;
        }
        run.push_back({p[i] * 6 / 32, p[i + 1] * 8 / 32});
        points += 1;
        i += 2;
    }
    if (!run.empty()) strokes.push_back(std::move(run));
    for (auto& r : strokes)
        if (r.size() == 1) r.push_back({r[0].x, r[0].y - 0.4}), ++points; // a dot
    // A few hundred characters of a few hundred points each is plenty.
    if (downloaded.size() >= 1024 || downloadedPoints + points > 200000) {
        job.Warning("HP-GL/2 downloaded characters beyond the buffer dropped");
        return;
    }
    if (strokes.empty()) return;
    downloaded[code] = std::move(strokes);
    downloadedPoints += points;
}

void Interpreter::State::Label(std::string_view text, bool symbol) {
    if (text.empty()) return;
    Flush();
    // LM: 16-bit labels pair their bytes; 8-bit ones may name a row.
    std::vector<uint32_t> codes;
    codes.reserve(text.size());
    if (label16) {
        for (size_t i = 0; i + 1 < text.size(); i += 2)
            codes.push_back(uint32_t(uint8_t(text[i])) << 8 | uint8_t(text[i + 1]));
    } else {
        for (unsigned char ch : text)
            codes.push_back(ch < 32 || !labelRow ? ch : uint32_t(labelRow) << 8 | ch);
    }
    Cell cell = CurrentCell();
    Point dir = Direction(), up{-dir.y, dir.x};
    double adv = cell.advance * (1 + extraSpace);
    double lineStep = cell.lineHeight * (1 + extraLine);
    // Text path in the label's own axes (x along DI, y up); a line feed
    // turns a quarter clockwise from the path, a reverse one anticlockwise.
    Point along;
    switch (path) {
    case 1:
        along = {0, -lineStep};
        break;
    case 2:
        along = {-adv, 0};
        break;
    case 3:
        along = {0, lineStep};
        break;
    default:
        along = {adv, 0};
        break;
    }
    double sideways = path == 1 || path == 3 ? adv : lineStep;
    Point lf{along.y, -along.x};
    double lfLen = std::hypot(lf.x, lf.y);
    if (lfLen > 0) lf = {lf.x / lfLen * sideways, lf.y / lfLen * sideways};
    if (lineReverse) lf = {-lf.x, -lf.y};
    auto labelToPlu = [&](Point v) {
        return Point{dir.x * v.x + up.x * v.y, dir.y * v.x + up.y * v.y};
    };
    Point step = labelToPlu(along), feed = labelToPlu(lf);

    const FontDef& first = fonts[fontSelected];
    bool arcFirst = first.fontId < 0 && first.request.typeface == 50;
    // The label origin aligns each line in reading order: start, centre or
    // end along the text path (the first character starts at the pen under
    // LO1), and bottom, centre or top of the cells across it (for vertical
    // paths: their left, centre or right).
    int lo = labelOrigin == 21 ? 1 : labelOrigin;
    int base = lo > 10 ? lo - 10 : lo;
    int col = (base - 1) / 3, row = (base - 1) % 3;
    // The offset positions move away from the pen by a quarter of the point
    // size, a third for the stroke fonts.
    double pointSize = std::fabs(cell.capHeight) / kCapShare;
    double away =
        lo > 10
            ? pointSize * (IsStick(first.request.typeface) && first.fontId < 0 ? 1.0 / 3 : 1.0 / 4)
            : 0;
    double alongLen = std::hypot(along.x, along.y);
    Point a = alongLen > 0 ? Point{along.x / alongLen, along.y / alongLen} : Point{1, 0};
    Point r = path == 1 || path == 3 ? Point{1, 0} : Point{0, 1};
    auto originFor = [&](size_t from) {
        while (from < codes.size() && (codes[from] == '\r' || codes[from] == '\n')) ++from;
        size_t n = 0;
        double arcWidth = 0;
        for (size_t i = from; i < codes.size() && codes[i] >= 32; ++i, ++n)
            if (arcFirst && path == 0) arcWidth += ArcAdvance(codes[i], fontSelected, cell);
        if (!n) return Point{0, 0};
        // The box of the line's character cells.
        double last = double(n - 1);
        double x0 = std::min(0.0, along.x * last);
        double x1 = std::max(0.0, along.x * last) + cell.bodyWidth;
        double y0 = std::min(0.0, along.y * last);
        double y1 = std::max(0.0, along.y * last) + cell.capHeight;
        if (arcFirst && path == 0) x1 = arcWidth;
        auto span = [&](Point u) {
            double c[4] = {x0 * u.x + y0 * u.y, x1 * u.x + y0 * u.y, x0 * u.x + y1 * u.y,
                           x1 * u.x + y1 * u.y};
            return std::pair{*std::min_element(c, c + 4), *std::max_element(c, c + 4)};
        };
        auto [s0, s1] = span(a);
        auto [q0, q1] = span(r);
        double s = s0 + col * (s1 - s0) / 2 - (col == 0 ? away : col == 2 ? -away : 0);
        double q = q0 + row * (q1 - q0) / 2 - (row == 0 ? away : row == 2 ? -away : 0);
        return labelToPlu({-(s * a.x + q * r.x), -(s * a.y + q * r.y)});
    };
    Point offset = originFor(0);

    int font = fontSelected;
    std::shared_ptr<const fonts::ActiveFont> pcl;
    std::shared_ptr<FontFace> face;
    auto pickFace = [&]() {
        pcl.reset();
        face.reset();
        const FontDef& f = fonts[font];
        if (IsStick(f.request.typeface) && f.fontId < 0) return;
        // The PCL fonts (resident, soft, TrueType) come from the host; a
        // host without them leaves the installed faces. SB0 keeps bitmap
        // fonts out.
        fonts::FontRequest r = f.request;
        r.scalableOnly = !bitmapFonts;
        pcl = host.LabelFont(r, f.fontId);
        if (pcl || IsStick(f.request.typeface)) return;
        face = job.Fonts()
                   .ByTypeface(f.request.typeface, f.request.weight > 0, f.request.style > 0)
                   .face;
        if (!face) job.Unsupported("HP-GL/2 label typeface");
    };
    pickFace();

    Matrix orient{dir.x, dir.y, up.x, up.y, 0, 0};
    Matrix shear{1, 0, slant, 1, 0, 0};
    Path strokes;
    Device* dev = nullptr;
    Paint paint = PenPaint();
    // Stroke and bitmap characters cannot be edged: CF1 fills them with the
    // edge pen (edge pen 0, no edging, leaves them out), CF2/3 with the fill
    // type (hatching falls back to solid).
    bool unpainted = charFill == 1 && edgePen == 0;
    Paint solidPaint =
        charFill == 1 ? Paint::SolidColor(PenColor(edgePen >= 0 ? edgePen : penNo))
        : charFill >= 2
            ? (fillType == 3 || fillType == 4 ? Paint::SolidColor(PenColor(penNo)) : FillPaint())
            : paint;
    RasterOp o = op;
    o.sourceTransparent = false;
    o.patternTransparent = false;

    Point pos = pen, lineStart = crPoint;
    Point at;
    // A symbol's ink centre (`local` maps glyph space to plotter units
    // around the pen) goes onto the pen.
    auto centreInk = [&](const Matrix& local, Point inkCentre) {
        if (!symbol) return;
        Point c = local.Apply(inkCentre);
        at = {pos.x - c.x, pos.y - c.y};
    };
    // Stroke glyphs (grid units: 6 across the body, 8 up to the cap height).
    auto addStrokes = [&](const std::vector<std::vector<Point>>& glyph, const Matrix& local,
                          double shift) {
        double x0 = 1e9, y0 = 1e9, x1 = -1e9, y1 = -1e9;
        for (const auto& run : glyph)
            for (Point q : run)
                x0 = std::min(x0, q.x), y0 = std::min(y0, q.y), x1 = std::max(x1, q.x),
                y1 = std::max(y1, q.y);
        if (x1 >= x0) centreInk(local, {(x0 + x1) / 2 + shift, (y0 + y1) / 2});
        if (unpainted) return;
        Matrix m = local.Then(Matrix::Translate(at.x, at.y));
        for (const auto& run : glyph) {
            for (size_t i = 0; i < run.size(); ++i) {
                Point q = m.Apply({run[i].x + shift, run[i].y});
                i ? strokes.LineTo(q.x, q.y) : strokes.MoveTo(q.x, q.y);
            }
        }
    };
    for (const uint32_t& ch : codes) {
        if (!transparentData || ch == '\r' || ch == '\n') {
            if (ch == '\r') {
                // Each part after a carriage return is placed as a label of its own.
                pos = lineStart;
                offset = originFor(size_t(&ch - codes.data()) + 1);
                continue;
            }
            if (ch == '\n') {
                pos = {pos.x + feed.x, pos.y + feed.y};
                lineStart = {lineStart.x + feed.x, lineStart.y + feed.y};
                continue;
            }
            if (ch == 0x08) {
                pos = {pos.x - step.x, pos.y - step.y};
                continue;
            }
            if (ch == 0x0e || ch == 0x0f) {
                font = ch == 0x0e ? 1 : 0;
                pickFace();
                continue;
            }
            if (ch < 32) continue;
        }
        at = {pos.x + offset.x, pos.y + offset.y};
        Point next = {pos.x + step.x, pos.y + step.y};
        auto own = downloaded.find(ch);
        if ((pcl || face) && own != downloaded.end()) {
            // A downloaded character replaces its code in whatever font
            // labels: strokes in that font's cell, as in the stroke fonts.
            double em = sizeSet ? 0
                        : pcl   ? pcl->HeightPt() * kPluPerPoint
                                : fonts[font].request.height * kPluPerPoint;
            double cap = sizeSet ? cell.capHeight : em * 0.7;
            double body = sizeSet ? cell.bodyWidth : cap * 2 / 3;
            addStrokes(own->second, Matrix::Scale(body / 6, cap / 8).Then(shear).Then(orient), 0);
            bool proportional = fonts[font].request.spacing == 1 || (pcl && pcl->Proportional());
            if (proportional && path == 0) {
                double a = body * 1.5 * (1 + extraSpace);
                next = {pos.x + dir.x * a, pos.y + dir.y * a};
            }
        } else if (pcl) {
            const fonts::Glyph* found = &pcl->Lookup(ch);
            // LM2/3: a vertical form the font carries replaces the glyph.
            fonts::Glyph vertical;
            if (labelVertical && found->kind == fonts::Glyph::Kind::Outline) {
                uint32_t index = pcl->Font().Vertical(ch, *found).index;
                if (index != found->index) {
                    vertical = *found;
                    vertical.index = index;
                    found = &vertical;
                }
            }
            const fonts::Glyph& g = *found;
            if (g.kind != fonts::Glyph::Kind::None) {
                if (!dev) dev = Page();
                if (!dev) return;
                // SI/SR size the characters by their cap height, and stretch
                // them to the width asked for against the font's own cell
                // (proportional fonts: a fixed-pitch cell, 0.6 em).
                double emPt =
                    sizeSet ? std::fabs(cell.capHeight) / 0.7 / kPluPerPoint : pcl->HeightPt();
                double scale = pcl->HeightPt() > 0 ? emPt / pcl->HeightPt() : 1;
                double stretch = 1;
                if (sizeSet) {
                    double natural = pcl->Proportional() ? 0.6 * emPt : pcl->DefaultHmiPt() * scale;
                    if (natural > 0) stretch = cell.advance / (natural * kPluPerPoint);
                    if (!std::isfinite(stretch)) stretch = 1;
                    stretch = std::clamp(stretch, -1000.0, 1000.0);
                }
                Matrix local = Matrix::Scale(kPluPerPoint, -kPluPerPoint).Then(shear).Then(orient);
                Matrix glyphToText = Matrix::Scale(stretch, 1);
                if (g.kind == fonts::Glyph::Kind::Bitmap && sizeSet)
                    glyphToText = Matrix::Scale(scale * stretch, scale);
                // The ink's centre in text space (points, y down) for SM.
                if (g.kind == fonts::Glyph::Kind::Outline && g.face && symbol) {
                    Path outline;
                    if (g.face->Outline(g.index, outline) && !outline.Empty()) {
                        Rect r = outline.Bounds();
                        centreInk(glyphToText.Then(local),
                                  {((r.x0 + r.x1) / 2 * g.scaleX + g.offsetX) * emPt,
                                   -(r.y0 + r.y1) / 2 * emPt});
                    }
                } else if (g.kind == fonts::Glyph::Kind::Bitmap && g.resolution > 0) {
                    double dot = 72.0 / g.resolution;
                    centreInk(glyphToText.Then(local),
                              {(g.left + g.width / 2.0) * dot, (g.height / 2.0 - g.top) * dot});
                }
                Matrix toPlu = local.Then(Matrix::Translate(at.x, at.y));
                if (g.kind == fonts::Glyph::Kind::Outline && g.face &&
                    (charFill != 0 || edgePen > 0)) {
                    double em = emPt * kPluPerPoint;
                    Matrix m = Matrix::Scale(em * g.scaleX * stretch, em)
                                   .Then(shear)
                                   .Then(orient)
                                   .Then(Matrix::Translate(at.x, at.y));
                    DrawOutlineGlyph(*dev, *g.face, g.index, m, em, paint, o);
                } else if (!unpainted) {
                    fonts::GlyphPlacement where;
                    where.textToPage = glyphToText.Then(toPlu).Then(pluToPage);
                    where.heightPt = emPt;
                    fonts::DrawGlyph(*dev, g, where, solidPaint, o);
                }
                if ((fonts[font].request.spacing == 1 || pcl->Proportional()) && path == 0) {
                    double a =
                        pcl->AdvancePt(g) * scale * stretch * kPluPerPoint * (1 + extraSpace);
                    next = {pos.x + dir.x * a, pos.y + dir.y * a};
                }
            }
        } else if (face) {
            const FontDef& f = fonts[font];
            double em = sizeSet ? cell.capHeight / 0.7 : f.request.height * kPluPerPoint;
            uint32_t g = face->GlyphForUnicode(ch);
            if (g) {
                if (!dev) dev = Page();
                if (!dev) return;
                Matrix local = Matrix::Scale(em, em).Then(shear).Then(orient);
                Path outline;
                if (symbol && face->Outline(g, outline) && !outline.Empty()) {
                    Rect r = outline.Bounds();
                    centreInk(local, {(r.x0 + r.x1) / 2, (r.y0 + r.y1) / 2});
                }
                DrawOutlineGlyph(*dev, *face, g, local.Then(Matrix::Translate(at.x, at.y)), em,
                                 paint, o);
                if (f.request.spacing == 1 && path == 0) {
                    double a = face->Advance(g) * em * (1 + extraSpace);
                    next = {pos.x + dir.x * a, pos.y + dir.y * a};
                }
            }
        } else {
            const FontDef& f = fonts[font];
            bool arc = f.request.typeface == 50;
            std::vector<std::vector<Point>> glyph =
                own != downloaded.end() ? own->second
                                        : StrokeGlyph(StrokeUnicode(f.request.symbolSet, ch), arc);
            double shift = 0;
            if (arc && path == 0) {
                // The arc font is proportional: each glyph takes its own width.
                double a = ArcAdvance(ch, font, cell);
                next = {pos.x + dir.x * a, pos.y + dir.y * a};
                double x0 = 1e9;
                for (const auto& run : glyph)
                    for (Point q : run) x0 = std::min(x0, q.x);
                bool whole =
                    own == downloaded.end() && FillsCell(StrokeUnicode(f.request.symbolSet, ch));
                if (x0 < 1e9 && !whole) shift = -x0;
            }
            addStrokes(
                glyph,
                Matrix::Scale(cell.bodyWidth / 6, cell.capHeight / 8).Then(shear).Then(orient),
                shift);
        }
        pos = next;
    }
    if (!strokes.Empty()) {
        if (!dev) dev = Page();
        if (dev) {
            // Stick strokes grow with the characters.
            StrokeStyle st;
            st.width = std::fabs(cell.capHeight) / 10;
            st.cap = LineCap::Round;
            st.join = LineJoin::Round;
            dev->StrokePath(strokes, pluToPage, st, solidPaint, o);
        }
    }
    pen = pos;
}

// The character a code of the label's symbol set stands for: the job's own
// definition of that set first, as for PCL text.
uint32_t Interpreter::State::StrokeUnicode(int symbolSet, uint32_t code) const {
    uint32_t u = 0;
    if (auto defined = host.JobSymbolSet(symbolSet)) {
        u = defined->UnicodeOf(code);
        if (u == 0xFFFF) return 0;
    } else {
        // A set of 256 codes ends there (ToUnicode says so); the Unicode set
        // reaches every character a 16-bit label carries.
        const fonts::SymbolSet* set = fonts::FindSymbolSet(symbolSet);
        u = set ? fonts::ToUnicode(*set, code) : code <= 255 ? code : 0;
    }
    return u == 0xA0 ? ' ' : u;
}

double Interpreter::State::ArcAdvance(uint32_t code, int font, const Cell& cell) const {
    auto own = downloaded.find(code);
    std::vector<std::vector<Point>> glyph =
        own != downloaded.end() ? own->second
                                : StrokeGlyph(StrokeUnicode(fonts[font].request.symbolSet, code));
    double x0 = 1e9, x1 = -1e9;
    for (const auto& run : glyph)
        for (Point q : run) x0 = std::min(x0, q.x), x1 = std::max(x1, q.x);
    double units = x1 >= x0 ? x1 - x0 + kArcGap : kArcSpace;
    if (own == downloaded.end() && FillsCell(StrokeUnicode(fonts[font].request.symbolSet, code)))
        units = 9; // the fixed cell: the advance is one and a half bodies

    return units * cell.bodyWidth / 6 + cell.advance * extraSpace;
}

void Interpreter::State::CharacterPlot(double spaces, double lines) {
    Cell cell = CurrentCell();
    Point dir = Direction(), up{-dir.y, dir.x};
    if (std::isnan(spaces)) {
        // CP; : carriage return and line feed.
        pen = {crPoint.x - up.x * cell.lineHeight, crPoint.y - up.y * cell.lineHeight};
        crPoint = pen;
        return;
    }
    double a = spaces * cell.advance * (1 + extraSpace);
    double l = lines * cell.lineHeight * (1 + extraLine);
    if (!std::isfinite(a) || !std::isfinite(l)) return;
    pen = {pen.x + dir.x * a + up.x * l, pen.y + dir.y * a + up.y * l};
    if (lines != 0) crPoint = {crPoint.x + up.x * l, crPoint.y + up.y * l};
}

void Interpreter::State::DrawSymbol() {
    // The symbol's ink is centred on the point whatever the text path and
    // label origin (its cell where the ink is unknown), and the pen stays.
    Point saved = pen, savedCr = crPoint;
    int lo = labelOrigin, savedPath = path;
    bool wide = label16;
    labelOrigin = 5;
    path = 0;
    label16 = false;
    char s = char(symbol);
    Label(std::string_view(&s, 1), true);
    labelOrigin = lo;
    path = savedPath;
    label16 = wide;
    pen = saved;
    crPoint = savedCr;
}

} // namespace tarvik::hpgl2
