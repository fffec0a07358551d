#include "SymbolSets.h"

#include <algorithm>

namespace tarvik::fonts {

namespace {
const SymbolSet kSets[] = {
    {SymbolSetValue(18, 'N'), "Unicode", SymbolSet::Kind::Text, nullptr},
};
} // namespace

std::span<const SymbolSet> SymbolSets() {
    return kSets;
}

const SymbolSet* FindSymbolSet(int value) {
    for (const SymbolSet& s : kSets)
        if (s.value == value) return &s;
    return nullptr;
}

uint32_t ToUnicode(const SymbolSet& set, uint32_t code) {
    if (!set.map) return code <= 0x10FFFF ? code : kNoChar;
    if (code > 255) return kNoChar;
    return set.map[code];
}

bool BoxGlyphPath(uint32_t, double, double, Path&) {
    return false;
}

} // namespace tarvik::fonts
