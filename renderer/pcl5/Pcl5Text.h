// The text state of the PCL 5 interpreter: the font select tables of the
// primary and secondary fonts and the modes that shape how text prints.
// One struct, so the environment can be saved and restored as a whole.
#pragma once

#include "fonts/FontSelect.h"

#include <memory>

namespace tarvik::pcl5 {

struct TextState {
    fonts::FontRequest request[2]; // primary (SI) and secondary (SO)
    int fontId[2] = {-1, -1};      // selected by ID; -1: by characteristics
    // The font each table resolved to and the store generation it saw;
    // null until text needs it.
    std::shared_ptr<const fonts::ActiveFont> font[2];
    uint64_t generation[2] = {0, 0};
    int active = 0;     // 0 primary, 1 secondary
    int underline = -1; // -1 off, 0 fixed, 3 floating
    bool wrap = false;  // end-of-line wrap
    bool perforationSkip = true;
    int direction = 0;      // print direction, degrees counter-clockwise
    int parsing = 0;        // text parsing method
    bool vertical = false;  // text path: vertical rotated
    double lastAdvance = 0; // units: a backspace goes back this far
};

} // namespace tarvik::pcl5
