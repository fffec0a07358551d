#include "RasterTGA.h"

#include "ImageStream.h"

#include <vector>

bool CRasterTGA::Encode(ImageStream* stream) {
    if (CheckEncodable(stream)) return false;
    const uint32_t bpp = BitsPerPixel();
    if (bpp < 8) {
        SetLastError("Bit depth must be 8 or 24");
        return false;
    }
    const uint32_t width = Width();
    const uint32_t height = Height();
    if (width > 65535 || height > 65535) { // 16-bit size fields
        SetLastError("Image too large for TGA");
        return false;
    }
    const bool mapped = bpp == 8;
    const bool alpha = bpp == 24 && alphaPlane;
    const uint8_t head[18] = {0,
                              uint8_t(ColorCount() > 0 ? 1 : 0),
                              uint8_t(mapped ? 1 : 2),
                              0,
                              0,
                              0,
                              uint8_t(mapped ? 1 : 0), // colour map length 256
                              uint8_t(mapped ? 24 : 0),
                              0,
                              0,
                              0,
                              0,
                              uint8_t(width),
                              uint8_t(width >> 8),
                              uint8_t(height),
                              uint8_t(height >> 8),
                              uint8_t(alpha ? 32 : bpp),
                              0};
    bool ok = stream->Write(head, 1, sizeof head) == sizeof head;
    if (ok && mapped) {
        uint8_t map[768] = {};
        for (uint32_t i = 0; i < 256 && i < ColorCount(); ++i) {
            const RasterColor c = PaletteColor(i);
            map[3 * i] = c.blue;
            map[3 * i + 1] = c.green;
            map[3 * i + 2] = c.red;
        }
        ok = stream->Write(map, 1, sizeof map) == sizeof map;
    }
    std::vector<uint8_t> scratch(alpha ? size_t(4) * width : 0);
    for (uint32_t y = 0; ok && y < height; ++y) {
        const uint8_t* row = RowPointer(y);
        if (alpha) {
            const uint8_t* a = alphaPlane + size_t(y) * width;
            for (uint32_t x = 0; x < width; ++x) {
                scratch[4 * x] = row[3 * x];
                scratch[4 * x + 1] = row[3 * x + 1];
                scratch[4 * x + 2] = row[3 * x + 2];
                scratch[4 * x + 3] = a[x];
            }
            ok = stream->Write(scratch.data(), 1, scratch.size()) == scratch.size();
        } else {
            const size_t bytes = size_t(width) * (bpp / 8);
            ok = stream->Write(row, 1, bytes) == bytes;
        }
    }
    // Reporting a short write keeps a truncated file from passing as saved.
    if (!ok) {
        SetLastError("cannot write TGA file");
        return false;
    }
    return true;
}
