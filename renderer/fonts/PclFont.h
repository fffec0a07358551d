// A font as PCL 5 selects and prints it: the printer's resident fonts and
// downloaded (soft) fonts share this interface, so selection, spacing and
// drawing treat them alike. HP-GL/2 labels draw through it too.
//
// Character codes arrive as the job sent them; the caller also passes the
// Unicode value the active symbol set gives the code (kNoUnicode when the
// set leaves it undefined). Bound fonts (most soft fonts) look glyphs up by
// code; unbound and resident fonts by Unicode.
#pragma once

#include "core/Device.h"
#include "core/Font.h"
#include "core/Geometry.h"

#include <cstdint>
#include <memory>
#include <string>

namespace tarvik::fonts {

constexpr uint32_t kNoUnicode = 0xFFFF;

// What selection by characteristics compares (the font header's fields).
struct FontTraits {
    int symbolSet = 277;       // number * 32 + letter - 64, e.g. 8U = 277
    bool proportional = false; // spacing
    // Fixed-pitch fonts: characters per inch. Scalable fixed-pitch fonts
    // give their pitch at 12 point here; it scales inversely with height.
    double pitch = 10;
    double height = 12;   // points; scalable fonts: 0 (any height)
    int style = 0;        // posture, width and structure as the header codes them
    int weight = 0;       // stroke weight, -7 .. 7
    int typeface = 4099;  // family value
    int orientation = 0;  // bitmap fonts print only in their own orientation
    bool scalable = true; // false: a bitmap font of one size
    // Unbound fonts print any symbol set they support (resident scalable
    // fonts, soft fonts with a symbol collection); bound fonts only symbolSet.
    bool bound = false;
    // Distance from the baseline to the underline and its thickness, in ems
    // for scalable fonts and in points for bitmap fonts; 0 = the default.
    double underlineDistance = 0;
    double underlineThickness = 0;
};

// One part of a compound character: an outline glyph placed off the origin.
struct GlyphPart {
    const FontFace* face = nullptr;
    uint32_t index = 0;
    double dx = 0, dy = 0; // ems, y up
};

// One glyph as a font yields it.
struct Glyph {
    enum class Kind : uint8_t {
        None,     // the font cannot print the character
        Outline,  // face + index, drawn at the selected size
        Bitmap,   // 1-bit rows at the font's resolution
        Box,      // a box-drawing or shade character drawn as joining geometry
        Compound, // parts drawn together at the selected size
    };
    Kind kind = Kind::None;
    // Horizontal advance: ems for Outline, Box and Compound, dots at `resolution` for
    // Bitmap. For resident fonts this is the printer's advance.
    double advance = 0;

    // Outline.
    const FontFace* face = nullptr;
    uint32_t index = 0;
    // Horizontal stretch of the face's outline so that a stand-in face fills
    // the printer's advance (1 for a metric twin or a soft font's own glyph).
    double scaleX = 1;
    // Ems the outline moves right: a stand-in far narrower or wider than the
    // printer's character is centred in its advance rather than distorted.
    double offsetX = 0;

    // Bitmap: `height` rows of `stride` bytes, most significant bit leftmost;
    // left = dots from the reference point to the bitmap's left edge, top =
    // dots from the baseline up to its top row.
    const uint8_t* bits = nullptr;
    int width = 0, height = 0;
    size_t stride = 0;
    int left = 0, top = 0;
    int resolution = 300;

    // Box: the Unicode box-drawing or shade character.
    uint32_t unicode = 0;

    // Compound: parts owned by the font, valid while the character is.
    const GlyphPart* parts = nullptr;
    int partCount = 0;
};

// How a character prints when text runs vertically (the vertical-rotated
// text path): whether it turns a quarter counter-clockwise, how far it moves
// the cursor then, and the glyph it prints (a vertical form may replace it).
struct VerticalForm {
    bool turn = false;
    double advance = 1;             // ems along the line, when turned
    double descender = -36.0 / 256; // ems: the bottom of the box it turns in
    uint32_t index = 0;             // Outline: the glyph to print
};

class PclFont {
public:
    virtual ~PclFont() = default;
    virtual const FontTraits& Traits() const = 0;
    // Whether this font prints the symbol set (bound fonts: only their own).
    virtual bool Supports(int symbolSet) const {
        return !Traits().bound || symbolSet == Traits().symbolSet;
    }
    // The glyph for a code of the selected symbol set; false (and Kind::None)
    // when the font has none. Must be cheap: it runs for every character.
    virtual bool Lookup(uint32_t code, uint32_t unicode, Glyph& out) const = 0;
    // A name for warnings and the batch report, e.g. "CG Times Bold".
    virtual std::string Name() const = 0;
    // Resident fonts never go away; soft fonts are resident == false.
    virtual bool Resident() const { return false; }
    // The factory font number PJL's FONTNUMBER counts (resident fonts only).
    virtual int Number() const { return -1; }
    // The vertical form of the character `code` whose glyph is g. By default
    // full-width characters turn (as in dual-pitch Asian fonts) and take one
    // em down the line.
    virtual VerticalForm Vertical(uint32_t code, const Glyph& g) const;
};

// Where a glyph goes: the origin on the baseline and the page-space
// direction of the text, the font's size, and the paint.
struct GlyphPlacement {
    // Maps text space (points, origin at the glyph origin on the baseline, x
    // along the baseline, y DOWN) to page space.
    Matrix textToPage;
    double heightPt = 12; // the em size of scalable fonts
    // Box characters: the cell they fill, in points (0 = from the size).
    double cellWidth = 0;
    double cellHeight = 0;
};

// Draws one glyph; the caller advances. Usable by any language that prints
// through PclFont (PCL 5 text, HP-GL/2 labels).
void DrawGlyph(Device& dev, const Glyph& glyph, const GlyphPlacement& where, const Paint& paint,
               const RasterOp& op);
// Box-drawing and shade characters as geometry filling the character cell
// (advance wide, the line tall, three quarters above the baseline).
void DrawBoxGlyph(Device& dev, const Glyph& glyph, const GlyphPlacement& where, const Paint& paint,
                  const RasterOp& op);

} // namespace tarvik::fonts
