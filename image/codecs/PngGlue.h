// libpng writing onto a toolkit stream; the only place that jumps back out of
// libpng.
#pragma once

#include <cstddef>
#include <cstdint>

class ImageStream;

struct PngRgb16 {
    uint8_t index = 0;
    uint16_t red = 0, green = 0, blue = 0, gray = 0;
};

struct PngEncodeParams {
    uint32_t width = 0;
    uint32_t height = 0;
    int bitDepth = 8;
    int colorType = 0; // PNG colour type: 0 gray, 2 RGB, 3 palette, 4 and 6 with alpha
    bool interlace = false;
    PngRgb16 background;
    uint32_t pixelsPerMeterX = 0;
    uint32_t pixelsPerMeterY = 0;
    bool hasTransparency = false;
    int transparentCount = 0;
    uint8_t transparentAlpha[256] = {};
    PngRgb16 transparentColor;
    int paletteCount = 0;         // 0: no PLTE chunk
    uint8_t palette[256][3] = {}; // red, green, blue
    size_t rowBytes = 0;
};

// Fills `row` with picture row `y` (0 = top), called once per row and pass.
using PngRowSource = void (*)(void* context, uint32_t y, uint8_t* row);

// Writes signature to IEND. Returns null on success, else the failure text.
const char* PngWrite(ImageStream* stream, const PngEncodeParams& params, PngRowSource source,
                     void* context);
