// Shared helpers of the engine tests: page bitmaps written by hand, a scratch
// folder per test, a converter run in one call, and small readers that look at
// output files without going through the toolkit.
#pragma once

#include "ImgConv.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace enginetest {

namespace fs = std::filesystem;

std::vector<uint8_t> ReadAll(const fs::path& path);
void WriteAll(const fs::path& path, const std::vector<uint8_t>& bytes);

// A 24-bit bottom-up BMP of width x height at the given resolution. The
// picture has a colour gradient, a black block in the top-left corner and a
// white block in the bottom-right one, so turns and flips can be told apart.
std::vector<uint8_t> MakePageBmp(int width, int height, int dpi = 300);
void WritePage(const fs::path& path, int width, int height, int dpi = 300);

// RGB of pixel (x, y), y from the top, of a 24-bit or palette BMP file.
struct Rgb {
    uint8_t r = 0, g = 0, b = 0;
    friend bool operator==(const Rgb&, const Rgb&) = default;
};
struct BmpInfo {
    bool ok = false;
    int32_t width = 0, height = 0;
    int bits = 0;
    int32_t xPelsPerMeter = 0, yPelsPerMeter = 0;
    uint32_t colours = 0;
    std::vector<uint8_t> bytes;
    uint32_t pixelOffset = 0;
    Rgb Pixel(int x, int y) const;
};
BmpInfo ReadBmp(const fs::path& path);
// The same for a packed DIB (header, palette, rows) held in memory.
BmpInfo ReadDib(const uint8_t* dib, size_t headerAndPalette, const uint8_t* rows, size_t rowBytes);

// Output of `identify -format <format>` on the file; empty when it fails.
std::string Identify(const fs::path& path, const std::string& format);

// Files in a folder, names only, sorted.
std::vector<std::string> ListFolder(const fs::path& folder);

struct Option {
    int code;
    int value;
};

// One handle end to end: create, add the inputs, set output path and options,
// run, destroy. Returns the results of run and destroy.
struct RunResult {
    int run = -1;
    int destroy = -1;
};
RunResult Convert(const std::vector<fs::path>& inputs, const fs::path& output,
                  const std::vector<Option>& options, const fs::path& multiPagePath = {});

// A fresh folder under the test binary's folder, removed afterwards.
class EngineTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    fs::path Dir() const { return m_dir; }
    fs::path Page(int width = 60, int height = 40, int dpi = 300, const std::string& name = "page");

private:
    fs::path m_dir;
};

} // namespace enginetest
