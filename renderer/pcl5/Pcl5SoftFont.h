// What the PCL 5 interpreter remembers between font management commands.
// The fonts themselves live in the job's SoftFontStore.
#pragma once

#include "fonts/SoftFontFormat.h"

namespace tarvik::pcl5 {

// Fonts named by an alphanumeric ID get IDs above the numeric range.
constexpr int kFirstNamedFontId = 0x10000;

struct SoftFontCmdState {
    int fontId = 0;      // *c#D, or the font of an alphanumeric ID
    int charCode = 0;    // *c#E
    int symbolSetId = 0; // *c#R
    SoftGlyphAssembler assembler;
    int assemblingFont = -1; // the font and code of an unfinished character
    uint32_t assemblingCode = 0;
    int nextNamedFontId = kFirstNamedFontId;
};

} // namespace tarvik::pcl5
