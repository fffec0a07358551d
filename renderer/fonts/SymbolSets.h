// The printer's symbol sets: each maps the 256 codes of a text byte to
// Unicode, so a font draws the same character whatever set a job selects.
// The tables are generated (scripts/fonts/gen-symbol-sets.py) from public
// mapping data; keep edits in the script.
#pragma once

#include "core/Path.h"

#include <cstdint>
#include <span>

namespace tarvik::fonts {

// A symbol set's value as PCL carries it: number * 32 + (letter - 64).
constexpr int SymbolSetValue(int number, char letter) {
    return number * 32 + (letter - 64);
} // 8U = 277
constexpr uint32_t kNoChar = 0xFFFF;

struct SymbolSet {
    int value;
    const char* name; // 277, "Roman-8"
    enum class Kind : uint8_t { Text, Symbol, Dingbat } kind;
    const char32_t* map; // 256 codes -> Unicode (kNoChar undefined); nullptr: Unicode set 18N
};

const SymbolSet* FindSymbolSet(int value);               // nullptr when unknown
uint32_t ToUnicode(const SymbolSet& set, uint32_t code); // kNoChar when undefined

// Every set this printer offers, in value order.
std::span<const SymbolSet> SymbolSets();

// Box-drawing and shade characters (U+2500..U+259F) as geometry in a cell of
// the given size (y down, origin top-left of the cell) so neighbours join at
// every size; false when not such a character.
bool BoxGlyphPath(uint32_t unicode, double cellWidth, double cellHeight, Path& out);

} // namespace tarvik::fonts
