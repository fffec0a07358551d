// Colours, patterns and raster operations: what a drawing call paints with.
//
// Every drawing call combines three operands per device pixel, as PCL does:
// D (the page), S (the source: image pixels, or black inside a filled path,
// a stroke or a glyph) and P (the paint: a solid colour or a tiled pattern).
// The ROP3 code r gives each result bit as bit (4*P + 2*S + D) of r, with
// white = 1 and black = 0, applied per bit of each 8-bit RGB channel. So 252
// (P or S) with a black source paints the paint colour, and 204 copies the
// source.
#pragma once

#include "Geometry.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace tarvik {

struct Color {
    uint8_t r = 0, g = 0, b = 0;
    bool operator==(const Color&) const = default;
    bool IsWhite() const { return r == 255 && g == 255 && b == 255; }
    static Color Gray(uint8_t v) { return {v, v, v}; }
};

inline constexpr Color kBlack{0, 0, 0};
inline constexpr Color kWhite{255, 255, 255};

// A small RGB image tiled over the page. patternToPage maps pattern pixel
// space (x right, y down, one unit per pattern pixel, origin at the tile
// origin) to page space; the tile repeats in both directions from there.
struct Pattern {
    int width = 0;
    int height = 0;
    std::vector<Color> pixels; // width * height, rows top to bottom
    Matrix patternToPage;

    Color At(int x, int y) const { return pixels[size_t(y) * size_t(width) + size_t(x)]; }
    bool Valid() const {
        return width > 0 && height > 0 && pixels.size() == size_t(width) * size_t(height);
    }
};

struct Paint {
    enum class Kind : uint8_t {
        None, // a null pen or brush: the object is not drawn
        Solid,
        Pattern,
    };
    Kind kind = Kind::Solid;
    Color color = kBlack;                           // Solid
    std::shared_ptr<const tarvik::Pattern> pattern; // Pattern (must be Valid())

    static Paint Null() { return {Kind::None, kBlack, nullptr}; }
    static Paint SolidColor(Color c) { return {Kind::Solid, c, nullptr}; }
    static Paint Tiled(std::shared_ptr<const tarvik::Pattern> p) {
        return {Kind::Pattern, kBlack, std::move(p)};
    }
};

// How the operands combine. Transparency follows PCL: with
// sourceTransparent, white source pixels leave the page unchanged; with
// patternTransparent, white paint pixels leave the page unchanged where the
// source is not white.
struct RasterOp {
    uint8_t rop3 = 252;
    bool sourceTransparent = false;
    bool patternTransparent = false;
};

// One 8-bit channel (or any bit-parallel word) through ROP3 code rop.
inline uint8_t ApplyRop3(uint8_t rop, uint8_t d, uint8_t s, uint8_t p) {
    uint8_t out = 0;
    for (int i = 0; i < 8; ++i) {
        if (!(rop & (1 << i))) continue;
        uint8_t m = (i & 4) ? p : uint8_t(~p);
        m &= (i & 2) ? s : uint8_t(~s);
        m &= (i & 1) ? d : uint8_t(~d);
        out |= m;
    }
    return out;
}

// One device pixel through the full operation, transparency included.
inline Color CombinePixel(const RasterOp& op, Color d, Color s, Color p) {
    if (op.sourceTransparent && s.IsWhite()) return d;
    if (op.patternTransparent && p.IsWhite() && !s.IsWhite()) return d;
    return {ApplyRop3(op.rop3, d.r, s.r, p.r), ApplyRop3(op.rop3, d.g, s.g, p.g),
            ApplyRop3(op.rop3, d.b, s.b, p.b)};
}

// Whether the result depends on D, S or P at all (lets the core skip work).
inline bool RopUsesDest(uint8_t rop) {
    return ((rop >> 1) & 0x55) != (rop & 0x55);
}
inline bool RopUsesSource(uint8_t rop) {
    return ((rop >> 2) & 0x33) != (rop & 0x33);
}
inline bool RopUsesPattern(uint8_t rop) {
    return ((rop >> 4) & 0x0F) != (rop & 0x0F);
}

} // namespace tarvik
