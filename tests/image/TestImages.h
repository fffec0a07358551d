// Small images and files for the toolkit tests.
#pragma once

#include "Raster.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace testimg {

// A 24-bit image whose every pixel has its own colour, from its coordinates.
inline RasterColor PatternColor(uint32_t x, uint32_t y) {
    return RasterColor::Rgb(uint8_t(x * 37 + y * 11), uint8_t(y * 53 + 7),
                            uint8_t(x * 5 + y * 91 + 3));
}

inline void MakePattern(CRaster& img, uint32_t w, uint32_t h) {
    ASSERT_NE(img.Create(w, h, 24, 0), nullptr);
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) img.SetColorAt(x, y, PatternColor(x, y));
}

// A palette image with index (x + 3y) mod colours at every pixel.
inline void MakeIndexed(CRaster& img, uint32_t w, uint32_t h, uint32_t bpp) {
    ASSERT_NE(img.Create(w, h, bpp, 0), nullptr);
    uint32_t n = img.ColorCount();
    for (uint32_t i = 0; i < n; ++i)
        img.SetPaletteColor(i, RasterColor::Rgb(uint8_t(i * 7), uint8_t(255 - i), uint8_t(i * 13)));
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) img.SetIndexAt(x, y, uint8_t((x + 3 * y) % n));
}

inline bool SameRgb(RasterColor a, RasterColor b) {
    return a.red == b.red && a.green == b.green && a.blue == b.blue;
}

// Compares every pixel's colour (RGB) of two images of the same size.
inline ::testing::AssertionResult SamePixels(const CRaster& a, const CRaster& b) {
    if (a.Width() != b.Width() || a.Height() != b.Height())
        return ::testing::AssertionFailure() << "size " << a.Width() << "x" << a.Height() << " vs "
                                             << b.Width() << "x" << b.Height();
    for (uint32_t y = 0; y < a.Height(); ++y)
        for (uint32_t x = 0; x < a.Width(); ++x)
            if (!SameRgb(a.GetColorAt(x, y, false), b.GetColorAt(x, y, false)))
                return ::testing::AssertionFailure() << "pixel (" << x << ", " << y << ") differs";
    return ::testing::AssertionSuccess();
}

// A fresh folder under the system's temporary folder, removed at the end.
class TempDir {
public:
    TempDir() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "varnel-image-XXXXXX").string();
        std::vector<char> buf(pattern.begin(), pattern.end());
        buf.push_back('\0');
        if (mkdtemp(buf.data())) m_path = buf.data();
    }
    ~TempDir() {
        std::error_code ec;
        if (!m_path.empty()) std::filesystem::remove_all(m_path, ec);
    }
    std::string File(const std::string& name) const {
        return (std::filesystem::path(m_path) / name).string();
    }

private:
    std::string m_path;
};

inline std::vector<uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
}

inline void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// Writes img as a binary PPM (top row first), the input we hand the
// independent BMP writer.
inline void WritePpm(const CRaster& img, const std::string& path) {
    std::vector<uint8_t> out;
    std::string head =
        "P6\n" + std::to_string(img.Width()) + " " + std::to_string(img.Height()) + "\n255\n";
    out.insert(out.end(), head.begin(), head.end());
    for (uint32_t y = img.Height(); y-- > 0;)
        for (uint32_t x = 0; x < img.Width(); ++x) {
            RasterColor c = img.GetColorAt(x, y, false);
            out.push_back(c.red);
            out.push_back(c.green);
            out.push_back(c.blue);
        }
    WriteBytes(path, out);
}

inline const char* kConvert = "/usr/bin/convert";

inline bool HaveConvert() {
    return std::filesystem::exists(kConvert);
}

// Runs the independent converter with the given arguments; true on success.
inline bool Convert(const std::string& args) {
    std::string cmd = std::string(kConvert) + " " + args + " >/dev/null 2>&1";
    return std::system(cmd.c_str()) == 0;
}

inline uint32_t Le32(const std::vector<uint8_t>& d, size_t at) {
    return uint32_t(d[at]) | uint32_t(d[at + 1]) << 8 | uint32_t(d[at + 2]) << 16 |
           uint32_t(d[at + 3]) << 24;
}

// Field writers for hand-made files; they grow the file when it is short.
inline void Put32(std::vector<uint8_t>& d, size_t at, uint32_t v) {
    if (d.size() < at + 4) d.resize(at + 4);
    for (size_t i = 0; i < 4; ++i) d.at(at + i) = uint8_t(v >> (8 * i));
}

inline void Put16(std::vector<uint8_t>& d, size_t at, uint32_t v) {
    if (d.size() < at + 2) d.resize(at + 2);
    d.at(at) = uint8_t(v);
    d.at(at + 1) = uint8_t(v >> 8);
}

} // namespace testimg
