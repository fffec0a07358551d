// Master Symbol List numbers, the symbol index of fonts made for MSL symbol
// sets, to Unicode.
#pragma once

#include "SymbolSets.h"

#include <cstdint>

namespace tarvik::fonts {

// kNoChar for numbers the list does not give a Unicode value.
uint32_t MslToUnicode(uint32_t msl);

} // namespace tarvik::fonts
