#include "RasterRAS.h"

#include "ImageStream.h"
#include "Raster.h"

#include <cstring>
#include <vector>

namespace {

constexpr uint32_t kMagic = 0x59A66A95;
constexpr uint32_t kTypeStandard = 1;
constexpr uint32_t kMapNone = 0;
constexpr uint32_t kMapEqualRgb = 1;

void PutBig(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}

} // namespace

bool WriteSunRaster(const CRaster& image, ImageStream* stream, bool gray) {
    const uint32_t width = image.Width();
    const uint32_t height = image.Height();
    const size_t rowBytes = size_t(width) * (gray ? 1 : 3);
    const size_t padded = rowBytes + (rowBytes & 1);
    uint8_t head[32];
    PutBig(head, kMagic);
    PutBig(head + 4, width);
    PutBig(head + 8, height);
    PutBig(head + 12, gray ? 8 : 24);
    PutBig(head + 16, uint32_t(padded * height));
    PutBig(head + 20, kTypeStandard);
    // An explicit gray map: without one, readers disagree on what 8 bits mean.
    PutBig(head + 24, gray ? kMapEqualRgb : kMapNone);
    PutBig(head + 28, gray ? 768 : 0);
    if (stream->Write(head, 1, sizeof head) != sizeof head) return false;
    if (gray) {
        uint8_t map[768];
        for (int plane = 0; plane < 3; ++plane)
            for (int i = 0; i < 256; ++i) map[256 * plane + i] = uint8_t(i);
        if (stream->Write(map, 1, sizeof map) != sizeof map) return false;
    }
    // Standard-type 24-bit pixels are blue, green, red, as the block holds them.
    std::vector<uint8_t> row(padded, 0);
    for (uint32_t r = 0; r < height; ++r) {
        const uint32_t y = height - 1 - r;
        if (gray && image.BitsPerPixel() < 8) {
            for (uint32_t x = 0; x < width; ++x) row[x] = image.GetIndexAtUnchecked(x, y);
        } else {
            std::memcpy(row.data(), image.RowPointer(y), rowBytes);
        }
        if (stream->Write(row.data(), 1, padded) != padded) return false;
    }
    return true;
}
