// Downloaded (soft) font data as the host sends it: font headers, character
// blocks and user symbol sets, decoded into plain structures. Nothing here
// draws or keeps state between commands except the character assembler,
// which joins a character's continuation blocks.
//
// Every decoder takes the bytes of one command and never reads past them;
// what it refuses it explains in `warning`.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace tarvik {

// The largest bitmap character accepted, in dots per side.
constexpr int kMaxBitmapGlyphDots = 16384;
// The most decoded bytes one bitmap character may take.
constexpr size_t kMaxBitmapGlyphBytes = 4u << 20;

enum class SoftFontFormat : uint8_t {
    Bitmap = 0,
    IntellifontBound = 10,
    IntellifontUnbound = 11,
    TrueType = 15,
    Universal = 16,
    BitmapResolution = 20,
};

// A table of a TrueType font carried in the header's GT segment; offset and
// length are already checked against the segment.
struct SfntTable {
    uint32_t tag = 0;
    std::span<const uint8_t> data;
};

struct SoftFontHeader {
    int format = 0;
    int fontType = 0; // 0 7-bit, 1 8-bit, 2 all codes, 3 large, 10/11 unbound
    int styleWord = 0;
    int baseline = 0; // dots (bitmap) or design units from the cell top
    int cellWidth = 0, cellHeight = 0;
    int orientation = 0;
    int spacing = 0; // 0 fixed, 1 proportional
    int symbolSet = 0;
    double pitch = 0;  // quarter dots (bitmap) or design units, with the extension
    double height = 0; // likewise
    int xHeight = 0;
    int widthType = 0;
    int strokeWeight = 0;
    int typeface = 0;
    int serifStyle = 0;
    int quality = 0;
    int placement = 0;
    int underlinePosition = 0; // dots above (+) / below (-) the baseline
    int underlineThickness = 0;
    int textHeight = 0, textWidth = 0;
    int firstCode = 0, lastCode = 0; // or the character count (15/16)
    int capHeight = 0;
    uint32_t fontNumber = 0;
    std::string name;

    // Bitmap resolution (format 20; 300 for format 0).
    int xResolution = 300, yResolution = 300;

    // Scalable fonts.
    int scaleFactor = 0; // design units per em
    int masterXResolution = 0, masterYResolution = 0;
    int masterUnderlinePosition = 0, masterUnderlineThickness = 0;
    int scalingTechnology = 0; // 0 Intellifont, 1 TrueType, 254 bitmap
    int variety = 0;
    uint64_t complement = 0; // unbound fonts: character complement bits
    bool hasComplement = false;

    // Segments (formats 15 and 16). The byte copy keeps the spans valid.
    std::vector<uint8_t> bytes;
    std::vector<SfntTable> tables;              // from GT
    int galleyCharacter = -1;                   // GC: drawn for codes the font lacks
    std::string copyright;                      // CP
    int bitmapResolution = 0;                   // BR (format 16 bitmap fonts)
    std::span<const uint8_t> intellifontGlobal; // formats 10/11, IF / GI
    // Vertical text (VT, VE, VR): glyph IDs that replace others when text
    // runs vertically, code ranges that stay upright there, and the bottom
    // of the box a turned character turns in (design units below the baseline).
    std::vector<std::pair<uint16_t, uint16_t>> verticalSubstitutes;
    std::vector<std::pair<uint16_t, uint16_t>> uprightRanges;
    bool hasUprightRanges = false;
    int verticalDescender = 0;
    bool hasVerticalDescender = false;

    bool Scalable() const {
        return format == 10 || format == 11 || format == 15 ||
               (format == 16 && scalingTechnology != 254);
    }
    bool IsTrueType() const { return format == 15 || (format == 16 && scalingTechnology == 1); }
    bool IsBitmap() const {
        return format == 0 || format == 20 || (format == 16 && scalingTechnology == 254);
    }
    bool IsIntellifont() const {
        return format == 10 || format == 11 || (format == 16 && scalingTechnology == 0);
    }
    const SfntTable* Table(const char tag[4]) const;
};

// Decodes a font header. False (with a warning) when the header cannot
// describe a usable font; true with a non-empty warning for flaws that were
// worked around (a checksum, an unknown segment).
bool ParseSoftFontHeader(std::span<const uint8_t> data, SoftFontHeader& out, std::string& warning);

// One downloaded character, complete or still awaiting continuation blocks.
struct SoftGlyph {
    int format = 0; // 4 bitmap, 10 Intellifont, 15 TrueType
    int glyphClass = 0;
    // Bitmap characters: rows top to bottom, (width + 7) / 8 bytes each.
    int orientation = 0;
    int leftOffset = 0, topOffset = 0; // dots from the origin to the top-left
    int width = 0, height = 0;
    int deltaX = 0; // quarter dots
    std::vector<uint8_t> bits;
    // TrueType characters.
    uint16_t glyphId = 0;
    std::vector<uint8_t> glyf;
    // Intellifont characters, kept as sent.
    std::vector<uint8_t> raw;
    // A hash of the data as sent: equal for an identical re-download.
    uint64_t contentHash = 0;

    size_t MemoryBytes() const { return sizeof(*this) + bits.size() + glyf.size() + raw.size(); }
};

// Joins a character's blocks. Feed every `(s#W` block in order; a block that
// does not continue the previous character starts a new one.
class SoftGlyphAssembler {
public:
    enum class Result {
        Rejected, // nothing to store (see warning)
        Partial,  // more continuation blocks are expected
        Complete, // glyph() holds the character
    };
    Result Add(std::span<const uint8_t> block, std::string& warning);
    // The character of the last Partial or Complete result.
    const std::shared_ptr<SoftGlyph>& Glyph() const { return m_glyph; }
    void Reset();

private:
    Result Finish(std::string& warning);

    std::shared_ptr<SoftGlyph> m_glyph;
    std::vector<uint8_t> m_pending; // class 1/2 row data or TrueType data so far
    size_t m_expected = 0;          // TrueType: bytes from the data size field to the end
    bool m_open = false;
};

// Decodes class 2 (run-length rows) into packed rows of width bits; false
// when the runs are malformed. Rows the data lacks stay blank.
bool DecodeCompressedBitmap(std::span<const uint8_t> data, int width, int height,
                            std::vector<uint8_t>& bits, std::string& warning);

// A user-defined symbol set.
struct UserSymbolSet {
    int id = 0;     // number * 32 + letter - 64
    int format = 0; // 1 MSL, 3 Unicode
    int type = 0;   // 0 7-bit, 1 8-bit, 2 all codes
    int firstCode = 0, lastCode = 0;
    uint64_t requirements = 0;
    std::vector<uint16_t> map; // first..last; 0xFFFF undefined
    bool permanent = false;

    // The value for a code, 0xFFFF when the set leaves it undefined.
    uint16_t Lookup(int code) const {
        if (code < firstCode || code > lastCode) return 0xFFFF;
        size_t i = size_t(code - firstCode);
        return i < map.size() ? map[i] : 0xFFFF;
    }
};
bool ParseUserSymbolSet(std::span<const uint8_t> data, UserSymbolSet& out, std::string& warning);

uint64_t HashBytes(std::span<const uint8_t> data, uint64_t seed = 0);

} // namespace tarvik
