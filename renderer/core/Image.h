// Description of a source image handed to Device::BeginImage, and of the row
// data that follows it.
#pragma once

#include "Paint.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tarvik {

struct ImageInfo {
    enum class Format : uint8_t {
        Gray,    // one component per pixel, 0 = black
        Rgb,     // three components per pixel, in the order R, G, B
        Indexed, // one palette index per pixel
    };
    Format format = Format::Gray;
    // Bits per component (Gray, Rgb) or per index (Indexed): 1, 4 or 8.
    // Rgb with 1 or 4 bits packs the components of a pixel one after the
    // other, most significant bits first.
    int bitsPerComponent = 8;
    int width = 0;  // pixels per row
    int height = 0; // rows
    // Bytes from one row's start to the next in the data given to
    // Device::ImageRows; 0 means the rows are packed to whole bytes.
    size_t rowStride = 0;
    // Indexed: the colours; missing entries read as black.
    std::vector<Color> palette;

    size_t PackedRowBytes() const {
        int comps = format == Format::Rgb ? 3 : 1;
        return (size_t(width) * size_t(comps) * size_t(bitsPerComponent) + 7) / 8;
    }
    size_t Stride() const { return rowStride ? rowStride : PackedRowBytes(); }
    bool Valid() const {
        bool bits = bitsPerComponent == 1 || bitsPerComponent == 4 || bitsPerComponent == 8;
        return bits && width > 0 && height > 0 && Stride() >= PackedRowBytes();
    }
};

} // namespace tarvik
