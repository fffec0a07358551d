// One converter handle end to end, the way the job runner drives it, for
// timing against other tools. Also makes the A4 test page.
//
//   engine_convert --make-page page.bmp
//   engine_convert page.bmp out.ext <format code> <colour mode>
//
// Colour modes: "True Color", "256 Color", "256 Grays", "16 Color",
// "16 Grays", "B&W". Exit status 0 when the run reported success.
#include "ImgConv.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

// A page as the renderer draws one: 2481 x 3507 pixels (A4 at 300 dpi),
// mostly white, lines of black "words", a colour photo block and a few
// coloured rules.
bool MakePage(const char* path) {
    const int width = 2481, height = 3507;
    const uint32_t stride = (width * 3 + 3) & ~3u;
    std::vector<uint8_t> rows(size_t(stride) * height, 255);
    auto fill = [&](int x0, int y0, int x1, int y1, uint8_t r, uint8_t g, uint8_t b) {
        for (int y = y0; y < y1 && y < height; ++y) {
            uint8_t* p = rows.data() + size_t(height - 1 - y) * stride; // y from the top
            for (int x = x0; x < x1 && x < width; ++x) {
                p[3 * x] = b;
                p[3 * x + 1] = g;
                p[3 * x + 2] = r;
            }
        }
    };
    std::mt19937 random(42);
    // Text: 12-point lines, words of 3 to 12 letters of about 25 pixels.
    for (int line = 0; line < 70; ++line) {
        int y = 300 + line * 45;
        if (line >= 20 && line < 34) continue; // room for the picture
        int x = 300;
        while (x < width - 300) {
            int word = int(25 * (3 + random() % 10));
            for (int letter = 0; letter < word; letter += 25) {
                int h = 20 + int(random() % 12);
                fill(x + letter, y + 32 - h, x + letter + 18, y + 32, 0, 0, 0);
            }
            x += word + 25;
        }
    }
    // A colour picture: smooth gradients with some texture.
    for (int y = 0; y < 600; ++y) {
        uint8_t* p = rows.data() + size_t(height - 1 - (1200 + y)) * stride;
        for (int x = 0; x < 1200; ++x) {
            int px = 640 + x;
            p[3 * px + 2] = uint8_t(x * 255 / 1199);
            p[3 * px + 1] = uint8_t(y * 255 / 599);
            p[3 * px] = uint8_t(((x ^ y) & 63) + 128);
        }
    }
    fill(300, 200, 2181, 212, 200, 30, 30);
    fill(300, 3300, 2181, 3304, 30, 30, 200);
    FILE* file = std::fopen(path, "wb");
    if (!file) return false;
    uint8_t header[54] = {'B', 'M'};
    auto put32 = [&](int at, uint32_t v) {
        for (int i = 0; i < 4; ++i) header[at + i] = uint8_t(v >> (8 * i));
    };
    put32(2, uint32_t(54 + rows.size()));
    put32(10, 54);
    put32(14, 40);
    put32(18, width);
    put32(22, height);
    header[26] = 1;
    header[28] = 24;
    put32(34, uint32_t(rows.size()));
    put32(38, 11811);
    put32(42, 11811);
    bool ok = std::fwrite(header, 1, 54, file) == 54 &&
              std::fwrite(rows.data(), 1, rows.size(), file) == rows.size();
    return std::fclose(file) == 0 && ok;
}

// The options the job runner passes for a colour mode.
void ApplyMode(int h, const std::string& mode) {
    if (mode == "256 Grays" || mode == "16 Grays")
        ImgConvSetOption(h, OPT_GRAY, nullptr, 1, nullptr);
    int bpp = mode == "256 Color" || mode == "256 Grays" ? 8
              : mode == "16 Color" || mode == "16 Grays" ? 4
              : mode == "B&W"                            ? 1
                                                         : 24;
    ImgConvSetOption(h, OPT_BPP, nullptr, bpp, nullptr);
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--make-page") == 0) return MakePage(argv[2]) ? 0 : 1;
    if (argc != 5) {
        std::fprintf(stderr, "usage: %s page.bmp out format mode | --make-page page.bmp\n",
                     argv[0]);
        return 2;
    }
    int format = std::atoi(argv[3]);
    int h = ImgConvCreate();
    if (h <= 0) return 1;
    ImgConvSetOption(h, OPT_XDPI, nullptr, 300, nullptr);
    ImgConvSetOption(h, OPT_YDPI, nullptr, 300, nullptr);
    ImgConvSetOption(h, OPT_FORMAT, nullptr, format, nullptr);
    if (format == FMT_JPEG) ImgConvSetOption(h, OPT_QUALITY, nullptr, 75, nullptr);
    if (format == FMT_TIFF) {
        ImgConvSetOption(h, OPT_TIFF_COMPRESSION, nullptr, 2, nullptr); // the "JPEG" entry
        ImgConvSetOption(h, OPT_QUALITY, nullptr, 75, nullptr);
    }
    if (format != FMT_EMF && format != FMT_WMF) ApplyMode(h, argv[4]);
    ImgConvSetOption(h, OPT_OUTPUT_PATH, argv[2], 0, nullptr);
    ImgConvAddFile(h, argv[1], 1);
    int run = ImgConvRun(h);
    int destroyed = ImgConvDestroy(h);
    return run == 1 && destroyed == 1 ? 0 : 1;
}
