// OpenJPEG compression onto a toolkit stream.
#pragma once

#include <cstdint>

class ImageStream;

struct J2kEncodeParams {
    uint32_t width = 0;
    uint32_t height = 0;
    int components = 3;      // 1 gray, 3 red, green, blue
    bool codestream = false; // raw code stream instead of a JP2 file
    double rate = 1.0;       // target size as a share of the raw size; <= 0 or >= 1 lossless
};

// Fills rows[c][0 .. count) with the 8-bit samples of component c at picture
// row y (0 = top), columns x .. x + count.
using J2kRowSource = void (*)(void* context, uint32_t y, uint32_t x, uint32_t count,
                              uint8_t* const* rows);

// Writes the file at the stream's position. Returns null on success, else the
// failure text.
const char* J2kEncode(ImageStream* stream, const J2kEncodeParams& params, J2kRowSource source,
                      void* context);
