#include "ResidentFonts.h"

#include "SymbolSets.h"

#include <algorithm>
#include <string_view>

namespace tarvik::fonts {

namespace {

struct Advance {
    uint32_t unicode;
    uint16_t width; // 1/10000 em
};

#include "ResidentFontTables.inc"

// Installed faces that carry their symbols under their own codes rather
// than under Unicode, and the symbol set that lays those codes out.
struct CodedFace {
    const char* file;
    int symbolSet;
};
constexpr CodedFace kCodedFaces[] = {
    {"StandardSymbolsPS.otf", SymbolSetValue(5, 'M')},
    {"D050000L.otf", SymbolSetValue(14, 'L')},
};

} // namespace

std::span<const ResidentFont> ResidentFonts() {
    return kFonts;
}

double ResidentAdvance(const ResidentFont& font, uint32_t unicode) {
    if (font.index < 0 || size_t(font.index) >= std::size(kAdvanceTables)) return -1;
    std::span<const Advance> table = kAdvanceTables[font.index];
    auto it = std::lower_bound(table.begin(), table.end(), unicode,
                               [](const Advance& a, uint32_t u) { return a.unicode < u; });
    if (it == table.end() || it->unicode != unicode) return -1;
    return it->width / 10000.0;
}

uint32_t StandInCode(const char* faceFile, uint32_t unicode) {
    if (!faceFile) return kNoChar;
    for (const CodedFace& c : kCodedFaces) {
        if (std::string_view(faceFile) != c.file) continue;
        const SymbolSet* set = FindSymbolSet(c.symbolSet);
        if (!set || !set->map) return kNoChar;
        for (uint32_t code = 0; code < 256; ++code)
            if (set->map[code] == unicode) return code;
        return kNoChar;
    }
    return kNoChar;
}

bool StandInByCode(const char* faceFile) {
    if (!faceFile) return false;
    for (const CodedFace& c : kCodedFaces)
        if (std::string_view(faceFile) == c.file) return true;
    return false;
}

} // namespace tarvik::fonts
