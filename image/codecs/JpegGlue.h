// libjpeg compression onto a toolkit stream; the only place that jumps back
// out of libjpeg.
#pragma once

#include <cstddef>
#include <cstdint>

class ImageStream;

// Bits of the JPEG encode option word.
enum JpegOption : uint32_t {
    kJpegBaseline = 1,
    kJpegArithmetic = 2,
    kJpegGrayscale = 4,
    kJpegOptimize = 8,
    kJpegProgressive = 16,
    kJpegSmoothing = 64,
    kJpegSampling422 = 4096,
    kJpegSampling444 = 8192,
};

struct JpegEncodeParams {
    uint32_t width = 0;
    uint32_t height = 0;
    bool grayInput = false; // one gray sample per pixel, else red, green, blue
    int quality = 0;
    uint32_t options = 0;
    int smoothing = 0;     // used with kJpegSmoothing
    uint16_t densityX = 0; // dots per inch
    uint16_t densityY = 0;
    size_t rowBytes = 0; // size of the row buffer handed to the row source
};

// Fills `row` with picture row `y` (0 = top) in the input layout.
using JpegRowSource = void (*)(void* context, uint32_t y, uint8_t* row);

// Writes one complete JPEG (SOI to EOI) at the stream's position. On failure
// returns false with libjpeg's formatted message in `error`.
bool JpegCompress(ImageStream* stream, const JpegEncodeParams& params, JpegRowSource source,
                  void* context, char* error, size_t errorSize);
