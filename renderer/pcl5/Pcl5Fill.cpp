// The print model (transparency, logical operation, patterns) and
// rectangular area fills.
#include "Pcl5Interp.h"

#include <algorithm>
#include <cmath>
#include <memory>

namespace tarvik::pcl5 {

namespace {

// Pattern tiles are drawn at 300 dpi, the resolution the built-in shadings
// and hatches were designed for.
constexpr int kTile = 16;
constexpr double kTileDpi = 300;

int ShadingLevel(int id) {
    if (id <= 0) return 0;
    if (id <= 2) return 2;
    if (id <= 10) return 10;
    if (id <= 20) return 15;
    if (id <= 35) return 30;
    if (id <= 55) return 45;
    if (id <= 80) return 70;
    if (id <= 99) return 90;
    return 100;
}

// Ordered-dither threshold of a 16 x 16 Bayer matrix.
int Bayer(int x, int y) {
    int v = 0;
    for (int bit = 0; bit < 4; ++bit) {
        int xb = (x >> bit) & 1, yb = (y >> bit) & 1;
        v = v * 4 + ((xb ^ yb) << 1 | yb);
    }
    // Reverse the digit order so the lowest bits vary fastest.
    int r = 0;
    for (int i = 0; i < 4; ++i) {
        r = r * 4 + (v & 3);
        v >>= 2;
    }
    return r;
}

bool HatchInk(int type, int x, int y) {
    bool h = y % kTile < 2;
    bool v = x % kTile < 2;
    bool d1 = (x + y) % kTile < 2;
    bool d2 = ((x - y) % kTile + kTile) % kTile < 2;
    switch (type) {
    case 1:
        return h;
    case 2:
        return v;
    case 3:
        return d1;
    case 4:
        return d2;
    case 5:
        return h || v;
    case 6:
        return d1 || d2;
    default:
        return false;
    }
}

} // namespace

RasterOp Interpreter::CurrentOp() const {
    RasterOp op;
    op.rop3 = m_rop;
    op.sourceTransparent = m_sourceTransparent;
    op.patternTransparent = m_patternTransparent;
    return op;
}

void Interpreter::SourceTransparencyCmd(const Token& t) {
    if (t.value.Int() == 0 || t.value.Int() == 1) m_sourceTransparent = t.value.Int() == 0;
}

void Interpreter::PatternTransparencyCmd(const Token& t) {
    if (t.value.Int() == 0 || t.value.Int() == 1) m_patternTransparent = t.value.Int() == 0;
}

void Interpreter::LogicalOperationCmd(const Token& t) {
    if (t.value.number >= 0 && t.value.number <= 255) m_rop = uint8_t(t.value.Int());
}

void Interpreter::PatternIdCmd(const Token& t) {
    m_patternId = t.value.Clamped(0, 32767);
}

void Interpreter::SelectPatternCmd(const Token& t) {
    if (t.value.Int() >= 0 && t.value.Int() <= 4) m_currentPattern = t.value.Int();
}

void Interpreter::PatternReferenceCmd(const Token& t) {
    if (t.value.number != 0 && t.value.number != 1) return;
    m_patternOrigin = ToPage(m_x, m_y);
    m_patternFixed = t.value.Int() == 1;
}

void Interpreter::RectWidthUnitsCmd(const Token& t) {
    if (t.value.number >= 0)
        m_rectWidth = std::min(t.value.number, 65535.0) * kUnitsPerInch / m_unit;
}

void Interpreter::RectHeightUnitsCmd(const Token& t) {
    if (t.value.number >= 0)
        m_rectHeight = std::min(t.value.number, 65535.0) * kUnitsPerInch / m_unit;
}

void Interpreter::RectWidthDecipointsCmd(const Token& t) {
    if (t.value.number >= 0) m_rectWidth = std::min(t.value.number, 65535.0) * 10;
}

void Interpreter::RectHeightDecipointsCmd(const Token& t) {
    if (t.value.number >= 0) m_rectHeight = std::min(t.value.number, 65535.0) * 10;
}

Paint Interpreter::FillPaint(int type, int id) const {
    return PatternPaint(type, id, m_foreground);
}

Paint Interpreter::PatternPaint(int type, int id, Color ink) const {
    switch (type) {
    case 0:
        return Paint::SolidColor(ink);
    case 1:
        return Paint::SolidColor(kWhite);
    case 2:
    case 3: {
        auto tile = std::make_shared<Pattern>();
        tile->width = tile->height = kTile;
        tile->pixels.assign(kTile * kTile, kWhite);
        int level = ShadingLevel(id);
        if (type == 2 && level >= 100) return Paint::SolidColor(ink);
        if (type == 3 && (id < 1 || id > 6)) return Paint::Null();
        for (int y = 0; y < kTile; ++y)
            for (int x = 0; x < kTile; ++x) {
                bool on =
                    type == 2 ? Bayer(x, y) < level * kTile * kTile / 100 : HatchInk(id, x, y);
                if (on) tile->pixels[size_t(y * kTile + x)] = ink;
            }
        tile->patternToPage = PatternToPage(kTileDpi, kTileDpi);
        return Paint::Tiled(tile);
    }
    case 4:
        return UserPaint(id, ink);
    default:
        return Paint::Null();
    }
}

void Interpreter::FillRectCmd(const Token& t) {
    int type = t.value.Int();
    if (type < 0 || type > 5) return;
    int id = m_patternId;
    if (type == 5) type = m_currentPattern; // the current pattern of *v#T
    // Clip to the logical page, as the print direction turns it.
    double x0 = std::max(m_x, 0.0), y0 = std::max(m_y, -m_topMargin);
    double x1 = std::min(m_x + m_rectWidth, FrameWidth());
    double y1 = std::min(m_y + m_rectHeight, FrameLength() - m_topMargin);
    if (!(x1 > x0 && y1 > y0)) return;
    Paint paint = FillPaint(type, id);
    if (paint.kind == Paint::Kind::None) return;
    Device* dev = EnsurePage();
    if (!dev) return;

    // Snap to whole device pixels with at least one pixel each way, so thin
    // rules from a high-resolution job stay visible at a lower one.
    Matrix toDevice = dev->PageToDevice();
    Rect r = TransformRect({ToPage(x0, y0).x, ToPage(x0, y0).y, ToPage(x1, y1).x, ToPage(x1, y1).y},
                           toDevice);
    if (!m_gridCentered) {
        // Grid intersection (the default) inks the printer's dots on both
        // edges: a fill is one dot wider and longer than its size, and
        // neighbours overlap by a dot. Grid centred (*l1R) inks only the
        // dots inside, so adjacent fills tile. The dot is the printer's,
        // not the device pixel, so a coarse render does not fatten rules.
        double dot = 72.0 / PrinterDpi();
        r.x1 += std::hypot(toDevice.a, toDevice.b) * dot;
        r.y1 += std::hypot(toDevice.c, toDevice.d) * dot;
    }
    double dx0 = std::round(r.x0), dx1 = std::round(r.x1);
    double dy0 = std::round(r.y0), dy1 = std::round(r.y1);
    if (dx1 <= dx0) dx1 = dx0 + 1;
    if (dy1 <= dy0) dy1 = dy0 + 1;
    Path path;
    path.Rectangle(dx0, dy0, dx1, dy1);
    RasterOp op = CurrentOp();
    if (type == 1) op.patternTransparent = false; // erasing is never see-through
    dev->FillPath(path, toDevice.Inverse(), FillRule::NonZero, paint, op);
}

} // namespace tarvik::pcl5
