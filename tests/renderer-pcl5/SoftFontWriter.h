// Writes PCL 5 soft-font downloads made from installed fonts: a TrueType
// face as a format 15 font with glyph-ID characters, and FreeType's bitmaps
// of a face as a format 0 or 20 bitmap font. Test support and the source of
// the soft-font demonstration jobs.
#pragma once

#include <string>

namespace softfontwriter {

struct BitmapOptions {
    int format = 20; // 0, 16 or 20
    int dpi = 300;
    double points = 12;
    bool compressed = false; // class 2 characters
};

// Codes 32-126 and 160-255 as ISO 8859-1 characters. Empty when the face
// cannot be read. maxBlock splits characters into continuation blocks.
// vertical: a large font (type 3) with vertical metrics of 1.5 em for every
// glyph, 'V' as the vertical form of 'A', the digits upright in vertical
// text and the turning box's bottom a quarter em below the baseline.
std::string TrueTypeFont(const std::string& fontFile, int fontId, size_t maxBlock = 32767,
                         bool vertical = false);
std::string BitmapFont(const std::string& fontFile, int fontId, const BitmapOptions& options);

// A page: reset, 300 units per inch, the font selected by ID as primary,
// the lines set from the top left, a form feed.
std::string TextPage(int fontId, const std::string& lines);

} // namespace softfontwriter
