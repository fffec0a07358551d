// Labels: the stick font of StickFont.cpp, or a resident PCL typeface when
// the font definition names one, placed by direction, slant, size, text
// path and label origin.
#include "Hpgl2State.h"

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

} // namespace

Interpreter::State::Cell Interpreter::State::CurrentCell() const {
    const FontSpec& f = fonts[fontSelected];
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
        c.advance = kPluPerInch / f.pitch;
        c.capHeight = f.height * kPluPerPoint * kCapShare;
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

void Interpreter::State::Label(std::string_view text) {
    if (text.empty()) return;
    Flush();
    Cell cell = CurrentCell();
    Point dir = Direction(), up{-dir.y, dir.x};
    double adv = cell.advance * (1 + extraSpace);
    double line = cell.lineHeight * (1 + extraLine) * (lineReverse ? -1 : 1);
    Point step, feed;
    switch (path) {
    case 1:
        step = {-up.x * line, -up.y * line}, feed = {-dir.x * adv, -dir.y * adv};
        break;
    case 2:
        step = {-dir.x * adv, -dir.y * adv}, feed = {-up.x * line, -up.y * line};
        break;
    case 3:
        step = {up.x * line, up.y * line}, feed = {-dir.x * adv, -dir.y * adv};
        break;
    default:
        step = {dir.x * adv, dir.y * adv}, feed = {-up.x * line, -up.y * line};
        break;
    }

    // The label origin moves the text relative to the pen; the first line's
    // extent decides it.
    size_t firstLine = 0;
    while (firstLine < text.size() && uint8_t(text[firstLine]) >= 32) ++firstLine;
    double width = firstLine ? double(firstLine) * adv - cell.advance / 3 : 0;
    int lo = labelOrigin == 21 ? 1 : labelOrigin;
    int base = lo > 10 ? lo - 10 : lo;
    double ox = 0, oy = 0;
    if (base >= 4 && base <= 6) ox = -width / 2;
    if (base >= 7) ox = -width;
    if (base % 3 == 2) oy = -cell.capHeight / 2;
    if (base % 3 == 0) oy = -cell.capHeight;
    if (lo > 10) {
        ox += base <= 3 ? cell.advance / 2 : base >= 7 ? -cell.advance / 2 : 0;
        oy += base % 3 == 1 ? cell.capHeight / 2 : base % 3 == 0 ? -cell.capHeight / 2 : 0;
    }
    if (path != 0) ox = oy = 0; // vertical and reversed paths start at the pen
    Point offset{dir.x * ox + up.x * oy, dir.y * ox + up.y * oy};

    int font = fontSelected;
    std::shared_ptr<FontFace> face;
    auto pickFace = [&]() {
        face.reset();
        const FontSpec& f = fonts[font];
        if (IsStick(f.typeface)) return;
        face = job.Fonts().ByTypeface(f.typeface, f.weight > 0, f.posture > 0).face;
        if (!face) job.Unsupported("HP-GL/2 label typeface");
    };
    pickFace();

    Matrix orient{dir.x, dir.y, up.x, up.y, 0, 0};
    Matrix shear{1, 0, slant, 1, 0, 0};
    Path strokes;
    Device* dev = nullptr;
    Paint paint = PenPaint();
    RasterOp o = op;
    o.sourceTransparent = false;
    o.patternTransparent = false;

    Point pos = pen, lineStart = crPoint;
    for (unsigned char ch : text) {
        if (!transparentData || ch == '\r' || ch == '\n') {
            if (ch == '\r') {
                pos = lineStart;
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
        Point at{pos.x + offset.x, pos.y + offset.y};
        Point next = {pos.x + step.x, pos.y + step.y};
        if (face) {
            const FontSpec& f = fonts[font];
            double em = sizeSet ? cell.capHeight / 0.7 : f.height * kPluPerPoint;
            uint32_t g = face->GlyphForUnicode(ch);
            if (g) {
                if (!dev) dev = Page();
                if (!dev) return;
                Matrix m = Matrix::Scale(em, em)
                               .Then(shear)
                               .Then(orient)
                               .Then(Matrix::Translate(at.x, at.y))
                               .Then(pluToPage);
                dev->FillGlyph(*face, g, m, paint, o);
                if (f.spacing == 1 && path == 0) {
                    double a = face->Advance(g) * em * (1 + extraSpace);
                    next = {pos.x + dir.x * a, pos.y + dir.y * a};
                }
            }
        } else {
            Matrix m = Matrix::Scale(cell.bodyWidth / 6, cell.capHeight / 8)
                           .Then(shear)
                           .Then(orient)
                           .Then(Matrix::Translate(at.x, at.y));
            for (const auto& run : StickGlyph(ch)) {
                for (size_t i = 0; i < run.size(); ++i) {
                    Point q = m.Apply(run[i]);
                    i ? strokes.LineTo(q.x, q.y) : strokes.MoveTo(q.x, q.y);
                }
            }
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
            dev->StrokePath(strokes, pluToPage, st, paint, o);
        }
    }
    pen = pos;
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
    // The symbol is centred on the point and leaves the pen there.
    Point saved = pen, savedCr = crPoint;
    int lo = labelOrigin;
    labelOrigin = 5;
    char s = char(symbol);
    Label(std::string_view(&s, 1));
    labelOrigin = lo;
    pen = saved;
    crPoint = savedCr;
}

} // namespace tarvik::hpgl2
