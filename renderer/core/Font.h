// Font faces for text: outline faces through FreeType, from an installed
// file or from bytes in memory, and the table that maps the printer's
// resident typefaces to installed metric-compatible faces.
//
// Glyph space: origin at the glyph origin on the baseline, x to the right,
// y UP, one unit = one em. To draw a glyph of height s (user units) at the
// cursor (x, y) on a y-down page use
//     Matrix::Scale(s, -s).Then(Matrix::Translate(x, y)).Then(ctm)
// and pass it to Device::FillGlyph.
#pragma once

#include "Path.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tarvik {

class FontFace {
public:
    // nullptr when the file or the bytes are not a font FreeType accepts.
    static std::shared_ptr<FontFace> FromFile(const std::string& path, int faceIndex = 0);
    // The face keeps the bytes for as long as it lives.
    static std::shared_ptr<FontFace> FromMemory(std::vector<uint8_t> bytes, int faceIndex = 0);

    ~FontFace();
    FontFace(const FontFace&) = delete;
    FontFace& operator=(const FontFace&) = delete;

    // Glyph index for a Unicode code point; 0 when the face has none.
    uint32_t GlyphForUnicode(uint32_t codePoint) const;
    // Glyph index through the face's own first character map (symbol faces
    // such as dingbats, whose codes are not Unicode); 0 when missing. For a
    // Microsoft symbol map codes are tried as is and at 0xF000 + code.
    uint32_t GlyphForCode(uint32_t code) const;
    uint32_t GlyphCount() const;
    // Horizontal advance in ems.
    double Advance(uint32_t glyph) const;
    // Appends the glyph outline in glyph space (see above); false when the
    // glyph has none (a space) or cannot be loaded.
    bool Outline(uint32_t glyph, Path& out) const;

    std::string FamilyName() const;
    std::string StyleName() const;
    bool FixedPitch() const;
    int UnitsPerEm() const;
    // The face's own underline: centre (negative below the baseline) and
    // thickness in ems; false when the face gives none.
    bool Underline(double& centre, double& thickness) const;
    // Distinct for every face made in this process: the glyph cache key.
    uint64_t Id() const { return m_id; }

private:
    FontFace() = default;
    struct Impl;
    std::unique_ptr<Impl> m_impl;
    uint64_t m_id = 0;
};

// The printer's resident typefaces. Lookups load each installed face once
// per job and keep it.
class FontLibrary {
public:
    struct Resident {
        std::shared_ptr<FontFace> face; // nullptr when nothing is installed
        std::string file;               // the installed file used
        bool exact = false;             // false: a fallback substitute
        bool symbolic = false;          // a symbol or dingbat face
    };

    // By PCL XL font name: the 16-byte name with the base name first and a
    // style suffix such as "Bd", "It", "BdIt" at the end, e.g.
    // "Courier       Bd" or "Arial". Trailing spaces and NULs are ignored.
    Resident ByName(std::string_view pclName);
    // By PCL 5 typeface family number (e.g. 4099 Courier, 4101 CG Times,
    // 4148 Univers, 16602 Arial), weight (stroke weight > 0 = bold) and
    // italic posture.
    Resident ByTypeface(int typeface, bool bold, bool italic);
    // A face by its installed file name, e.g. "NimbusSans-Regular.otf";
    // looked up in the font folders.
    Resident ByFile(std::string_view fileName);

    // Which installed file a PCL XL name maps to, without loading it.
    static std::string FileForName(std::string_view pclName);

private:
    std::map<std::string, std::shared_ptr<FontFace>, std::less<>> m_loaded;
};

} // namespace tarvik
