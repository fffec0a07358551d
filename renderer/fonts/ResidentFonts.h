// The printer's resident fonts: the scalable set, the Line Printer bitmap
// font and the PostScript-compatible faces, each with the printer's own
// advance widths and the installed face that stands in for its outlines.
// The metrics are generated (scripts/fonts/gen-resident-fonts.py).
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace tarvik::fonts {

struct ResidentFont {
    const char* name;
    int typeface;
    int weight;
    int style;
    bool proportional;
    bool scalable; // false: the Line Printer bitmap font
    double
        pitch; // fixed-pitch fonts: characters per inch at height 12 pt; bitmap fonts: their pitch
    double height;        // bitmap fonts: point size; scalable: 0
    int symbolSet;        // the symbol set value the printer lists it with
    const char* faceFile; // installed stand-in (file name, found through core/Font.h
                          // FontLibrary::ByFile), may be nullptr
    const char* fallbackFile;
    bool symbolic; // Symbol/Wingdings/Dingbats: drawn through the face's own map
    int index;
};

std::span<const ResidentFont> ResidentFonts();

// The printer's advance of a Unicode character in ems; < 0 when the
// printer's metrics lack it.
double ResidentAdvance(const ResidentFont& font, uint32_t unicode);

// Some installed symbol faces (the URW Symbol and Dingbats faces) map their
// glyphs only from their own codes, not from Unicode. For such a face,
// StandInByCode is true and StandInCode gives the code that draws a Unicode
// character (kNoChar when the face lacks it); draw it with
// FontFace::GlyphForCode. Other faces are reached by Unicode.
bool StandInByCode(const char* faceFile);
uint32_t StandInCode(const char* faceFile, uint32_t unicode);

} // namespace tarvik::fonts
