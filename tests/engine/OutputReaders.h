// Readers of written files that do not use the toolkit: file headers parsed
// here, libpng and libtiff for PNG and TIFF.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace enginetest {

// What a file stores: bits per pixel (1, 4, 8, 24), whether every colour it
// can show is a gray, and its size.
struct ImageKind {
    bool ok = false;
    int bits = 0;
    bool gray = false;
    int width = 0;
    int height = 0;
    std::string detail; // what the reader saw, for failure messages
};

// By the output format code of ImgConv.h.
ImageKind ReadKind(int format, const std::filesystem::path& path);

// PNG pixels as RGB rows, top row first, through libpng.
struct PngPixels {
    bool ok = false;
    int width = 0, height = 0;
    std::vector<uint8_t> rgb;
    uint8_t R(int x, int y) const { return rgb[size_t(3) * (size_t(y) * width + x)]; }
    uint8_t G(int x, int y) const { return rgb[size_t(3) * (size_t(y) * width + x) + 1]; }
    uint8_t B(int x, int y) const { return rgb[size_t(3) * (size_t(y) * width + x) + 2]; }
};
PngPixels ReadPngPixels(const std::filesystem::path& path);
// pHYs of a PNG in pixels per metre; false without one.
bool ReadPngResolution(const std::filesystem::path& path, uint32_t& x, uint32_t& y);

// One directory of a TIFF file through libtiff.
struct TiffPage {
    uint32_t width = 0, height = 0;
    uint16_t bitsPerSample = 0, samplesPerPixel = 0, photometric = 0, compression = 0;
    uint16_t pageNumber = 0;
    std::string pageName;
    float xResolution = 0, yResolution = 0;
};
std::vector<TiffPage> ReadTiff(const std::filesystem::path& path);

// JPEG frame type: the SOFn marker's n (0 baseline, 1 extended, 2 progressive),
// or -1 when none is found.
int JpegFrameType(const std::filesystem::path& path);

} // namespace enginetest
