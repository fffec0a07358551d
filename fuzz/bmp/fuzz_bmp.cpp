// Feeds arbitrary bytes to the BMP reader; whatever loads is put through a
// few operations, so that odd sizes and depths reach them too.
#include "ImageStream.h"
#include "OctreeQuantizer.h"
#include "Raster.h"
#include "RasterBMP.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 24)) return 0;
    std::vector<uint8_t> bytes(data, data + size); // the stream may not write into data

    // Headers that claim huge pictures are handled (the unit tests show how),
    // but each would take a second here; the fuzzer's time is better spent on
    // the small ones, which reach the same code.
    {
        MemoryStream peek(bytes.data(), int32_t(bytes.size()));
        uint8_t fileHeader[14] = {};
        peek.Read(fileHeader, 1, 14);
        if (fileHeader[0] != 'B' || fileHeader[1] != 'M') peek.Seek(0, 0);
        CRasterBMP probe;
        BitmapInfoHeader info;
        if (probe.ReadInfoHeader(&peek, info)) {
            uint64_t w = uint64_t(std::abs(int64_t(info.width)));
            uint64_t h = uint64_t(std::abs(int64_t(info.height)));
            if (w * h > (1u << 22)) return 0;
        }
    }

    MemoryStream stream(bytes.data(), int32_t(bytes.size()));
    CRaster img;
    if (!img.Decode(&stream, kFormatBMP)) return 0;

    // Large pictures decode fine but would make every run slow.
    if (uint64_t(img.Width()) * img.Height() > 1u << 16) return 0;

    MemoryStream out;
    out.OpenEmpty();
    img.Encode(&out, kFormatBMP);
    CRaster back;
    MemoryStream again(out.buffer, out.size);
    back.Decode(&again, kFormatBMP);

    OctreeQuantizer quantizer(256, 7);
    quantizer.FeedImage(img.pixelBlock);
    RasterColor palette[256] = {};
    quantizer.ReadPalette(palette);

    CRaster copy;
    img.Rescale(img.Width() / 2 + 1, img.Height() + 3, 1, &copy);
    img.Turn90Right(nullptr);
    // A turned outline can be far larger than a long thin picture.
    uint64_t side = uint64_t(img.Width()) + img.Height();
    if (side * side <= (1u << 20)) img.RotateBy(float(size % 360), nullptr);
    if (img.BitsPerPixel() == 24 || img.BitsPerPixel() == 8)
        img.DecreaseBpp(8, false, palette, 256);
    img.MakeGray();
    copy.DecreaseBpp(1, (size & 1) != 0, nullptr, 2);
    return 0;
}
