// Downloaded PCL XL fonts: the format 0 font header with its segments, the
// character records of TrueType and bitmap fonts, and the sfnt we build for
// FreeType from a TrueType download.
#pragma once

#include "core/Font.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace tarvik::pclxl {

struct BitmapGlyph {
    int left = 0, top = 0; // offsets of the bitmap from the reference point, dots
    int width = 0, height = 0;
    std::vector<uint8_t> bits; // rows padded to whole bytes, MSB leftmost
};

struct TrueTypeGlyph {
    std::vector<uint8_t> glyf; // one 'glyf' entry
    bool hasMetrics = false;   // class 1 and 2 records carry their own
    int lsb = 0;
    int advance = 0;
};

struct DownloadedFont {
    enum class Tech { TrueType, Bitmap };
    Tech tech = Tech::TrueType;
    int orientation = 0;
    int symbolSet = 0;
    int resX = 300, resY = 300; // bitmap fonts
    std::vector<uint8_t> gt;    // the GT segment: a TrueType table directory and tables
    std::map<uint16_t, BitmapGlyph> bitmaps;  // by character code
    std::map<uint16_t, uint16_t> charToGlyph; // TrueType: character code to glyph id
    std::map<uint16_t, TrueTypeGlyph> glyphs; // TrueType: by glyph id
    size_t bytes = 0;                         // memory held, for the download limit

    // The FreeType face of a TrueType font, rebuilt after characters change.
    std::shared_ptr<FontFace> Face();
    bool faceTried = false;

private:
    std::shared_ptr<FontFace> m_face;
};

// Parses a complete format 0 font header (fixed part and segments).
bool ParseFontHeader(const uint8_t* data, size_t size, DownloadedFont& font, std::string& error);

// Adds one ReadChar record for character `code`.
bool AddCharacter(DownloadedFont& font, uint16_t code, const uint8_t* data, size_t size,
                  std::string& error);

// A TrueType font file made of the GT tables and the downloaded glyphs:
// 'glyf' and 'loca' rebuilt by glyph id, 'maxp', 'hhea' and 'hmtx' made or
// patched to cover every glyph. Empty on failure.
std::vector<uint8_t> BuildSfnt(const DownloadedFont& font, std::string& error);

// Unicode code point of `code` in PCL XL symbol set `symbolSet` (the
// number form, e.g. 277 for 8U); codes of unknown sets map as Windows Latin 1.
uint32_t SymbolSetToUnicode(int symbolSet, uint32_t code);

} // namespace tarvik::pclxl
