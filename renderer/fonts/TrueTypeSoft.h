// A TrueType font in memory from a downloaded font: the tables its header
// carries plus glyf and loca built from the downloaded characters.
#pragma once

#include "SoftFontFormat.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace tarvik {

// Glyph data by glyph ID.
using SoftGlyphsById = std::map<uint16_t, std::shared_ptr<const SoftGlyph>>;

// The sfnt bytes; empty (with a warning) when the header's tables cannot
// make a font. Only bytes of the download go in, at checked places.
std::vector<uint8_t> BuildSoftSfnt(const SoftFontHeader& header, const SoftGlyphsById& glyphs,
                                   std::string& warning);

} // namespace tarvik
