// Times the format writers on an A4 page at 300 dpi.
//
//   bench_writers make <folder>
//       writes the test page in every depth the engine produces, as BMP files
//       (page1, page4, page8, page8g, page24) plus PBM/PGM/PPM copies for
//       peers that read those natively.
//   bench_writers convert <in.bmp> <out> <code> [option] [quality]
//       one conversion as the engine does it: load the BMP, save with the
//       writer of `code` (toolkit format code) and its option word.
//   bench_writers time <in.bmp> <code> [option] [quality] [repeats]
//       the writer alone, into memory: best time of `repeats` runs in ms.

#include "ImageStream.h"
#include "Raster.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr uint32_t kWidth = 2481;
constexpr uint32_t kHeight = 3507;

// What each pixel of the page is: 0 white, 1 black text, 2..9 flat colour
// areas, 10 a gradient picture (with its position in t).
struct PageLayout {
    static int ClassAt(uint32_t x, uint32_t top, double& t) {
        t = 0;
        // A colour logo block and a chart bar near the top.
        if (top > 150 && top < 420 && x > 200 && x < 700) return 2 + int((x - 200) / 125);
        if (top > 2600 && top < 3100 && x > 1300 && x < 2200) {
            t = double(x - 1300) / 900.0 + double(top - 2600) / 2000.0;
            return 10; // gradient picture
        }
        if (top > 2650 && top < 2950 && x > 250 && x < 1100) return 6 + int((top - 2650) / 75);
        // Text: lines 50 px apart, glyphs 30 px high made of 4 px strokes.
        if (top < 500 || top > 3300 || x < 200 || x > 2280) return 0;
        if (top > 2550 && top < 3150) return 0;
        const uint32_t line = (top - 500) / 50;
        const uint32_t inLine = (top - 500) % 50;
        if (inLine >= 30) return 0;
        const uint32_t word = (x - 200 + line * 37) % 260;
        if (word > 220) return 0; // word gap
        const uint32_t glyph = (x - 200) % 22;
        const uint32_t kind = ((x - 200) / 22 + line * 5) % 7;
        if (glyph >= 18) return 0;
        bool ink = false;
        switch (kind) {
        case 0:
            ink = glyph < 4 || inLine < 4;
            break;
        case 1:
            ink = glyph < 4 || glyph > 13;
            break;
        case 2:
            ink = inLine < 4 || inLine > 25 || glyph < 4;
            break;
        case 3:
            ink = (inLine > 13 && inLine < 17) || glyph > 13;
            break;
        case 4:
            ink = glyph < 4 || (inLine > 13 && inLine < 17);
            break;
        case 5:
            ink = inLine > 25 || glyph > 13 || inLine < 4;
            break;
        default:
            ink = (glyph + inLine) % 18 < 4;
            break;
        }
        return ink ? 1 : 0;
    }
};

RasterColor ClassColor(int c, double t) {
    static const RasterColor colors[] = {
        RasterColor::Rgb(255, 255, 255), RasterColor::Rgb(0, 0, 0),
        RasterColor::Rgb(220, 30, 40),   RasterColor::Rgb(30, 120, 210),
        RasterColor::Rgb(250, 200, 0),   RasterColor::Rgb(40, 170, 80),
        RasterColor::Rgb(120, 40, 160),  RasterColor::Rgb(0, 160, 160),
        RasterColor::Rgb(240, 120, 20),  RasterColor::Rgb(90, 90, 90)};
    if (c < 10) return colors[c];
    const double u = t > 1 ? 1 : t;
    return RasterColor::Rgb(uint8_t(40 + 200 * u), uint8_t(180 - 120 * u),
                            uint8_t(90 + 150 * (1 - u)));
}

uint8_t Gray(RasterColor c) {
    return uint8_t((30 * c.red + 59 * c.green + 11 * c.blue) / 100);
}

bool MakePages(const std::string& folder) {
    CRaster page24, page8, page8g, page4, page1;
    page24.Create(kWidth, kHeight, 24, 0);
    page8.Create(kWidth, kHeight, 8, 0);
    page8g.Create(kWidth, kHeight, 8, 0);
    page4.Create(kWidth, kHeight, 4, 0);
    page1.Create(kWidth, kHeight, 1, 0);
    page8g.SetGrayRamp();
    page1.SetDefaultPalette();
    for (int i = 0; i < 10; ++i) page8.SetPaletteColor(i, ClassColor(i, 0));
    for (int i = 10; i < 256; ++i) page8.SetPaletteColor(i, ClassColor(10, double(i - 10) / 245.0));
    for (int i = 0; i < 10; ++i) page4.SetPaletteColor(i, ClassColor(i, 0));
    for (int i = 10; i < 16; ++i) page4.SetPaletteColor(i, ClassColor(10, double(i - 10) / 5.0));
    for (uint32_t top = 0; top < kHeight; ++top) {
        const uint32_t y = kHeight - 1 - top;
        for (uint32_t x = 0; x < kWidth; ++x) {
            double t = 0;
            const int c = PageLayout::ClassAt(x, top, t);
            const RasterColor color = ClassColor(c, t);
            page24.SetColorAtUnchecked(x, y, color);
            const double u = t > 1 ? 1 : t;
            page8.SetIndexAtUnchecked(x, y, uint8_t(c < 10 ? c : 10 + int(u * 245)));
            page4.SetIndexAtUnchecked(x, y, uint8_t(c < 10 ? c : 10 + int(u * 5)));
            page8g.SetIndexAtUnchecked(x, y, Gray(color));
            page1.SetIndexAtUnchecked(x, y, Gray(color) >= 128 ? 1 : 0);
        }
    }
    for (CRaster* p : {&page24, &page8, &page8g, &page4, &page1}) {
        p->SetDpiX(300);
        p->SetDpiY(300);
    }
    bool ok = page24.SaveFile(folder + "/page24.bmp", kFormatBMP) &&
              page8.SaveFile(folder + "/page8.bmp", kFormatBMP) &&
              page8g.SaveFile(folder + "/page8g.bmp", kFormatBMP) &&
              page4.SaveFile(folder + "/page4.bmp", kFormatBMP) &&
              page1.SaveFile(folder + "/page1.bmp", kFormatBMP);
    if (!ok) return false;
    // Netpbm copies for peers without a native BMP reader.
    FILE* ppm = std::fopen((folder + "/page24.ppm").c_str(), "wb");
    FILE* pgm = std::fopen((folder + "/page8g.pgm").c_str(), "wb");
    FILE* pbm = std::fopen((folder + "/page1.pbm").c_str(), "wb");
    if (!ppm || !pgm || !pbm) return false;
    std::fprintf(ppm, "P6\n%u %u\n255\n", kWidth, kHeight);
    std::fprintf(pgm, "P5\n%u %u\n255\n", kWidth, kHeight);
    std::fprintf(pbm, "P4\n%u %u\n", kWidth, kHeight);
    std::string row(3 * kWidth, '\0');
    for (uint32_t top = 0; top < kHeight; ++top) {
        const uint8_t* in = page24.RowPointer(kHeight - 1 - top);
        for (uint32_t x = 0; x < kWidth; ++x) {
            row[3 * x] = char(in[3 * x + 2]);
            row[3 * x + 1] = char(in[3 * x + 1]);
            row[3 * x + 2] = char(in[3 * x]);
        }
        std::fwrite(row.data(), 1, row.size(), ppm);
        std::fwrite(page8g.RowPointer(kHeight - 1 - top), 1, kWidth, pgm);
        const uint8_t* bits = page1.RowPointer(kHeight - 1 - top);
        for (uint32_t i = 0; i < (kWidth + 7) / 8; ++i)
            std::fputc(~bits[i] & 0xFF, pbm); // 1 = black
    }
    std::fclose(ppm);
    std::fclose(pgm);
    std::fclose(pbm);
    return true;
}

void Configure(CRaster& image, uint32_t code, uint32_t option, int quality) {
    image.SetEncodeOption(option, code);
    if (quality >= 0) image.SetQuality(uint8_t(quality));
}

} // namespace

int main(int argc, char** argv) {
    if (argc >= 3 && std::strcmp(argv[1], "make") == 0) {
        if (!MakePages(argv[2])) {
            std::fprintf(stderr, "cannot write the test pages\n");
            return 1;
        }
        return 0;
    }
    if (argc >= 5 && std::strcmp(argv[1], "convert") == 0) {
        CRaster image;
        if (!image.LoadFile(argv[2], kFormatBMP)) {
            std::fprintf(stderr, "load: %s\n", image.LastError());
            return 1;
        }
        const uint32_t code = uint32_t(std::atoi(argv[4]));
        Configure(image, code, argc > 5 ? uint32_t(std::atol(argv[5])) : 0,
                  argc > 6 ? std::atoi(argv[6]) : -1);
        if (!image.SaveFile(argv[3], code)) {
            std::fprintf(stderr, "save: %s\n", image.LastError());
            return 1;
        }
        return 0;
    }
    if (argc >= 4 && std::strcmp(argv[1], "time") == 0) {
        CRaster image;
        if (!image.LoadFile(argv[2], kFormatBMP)) {
            std::fprintf(stderr, "load: %s\n", image.LastError());
            return 1;
        }
        const uint32_t code = uint32_t(std::atoi(argv[3]));
        Configure(image, code, argc > 4 ? uint32_t(std::atol(argv[4])) : 0,
                  argc > 5 ? std::atoi(argv[5]) : -1);
        const int repeats = argc > 6 ? std::atoi(argv[6]) : 3;
        double best = 1e30;
        long bytes = 0;
        for (int i = 0; i < repeats; ++i) {
            MemoryStream out;
            out.OpenEmpty();
            const auto start = std::chrono::steady_clock::now();
            if (!image.Encode(&out, code)) {
                std::fprintf(stderr, "encode: %s\n", image.LastError());
                return 1;
            }
            const double ms =
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                    .count();
            if (ms < best) best = ms;
            bytes = out.size;
        }
        std::printf("%.1f ms %ld bytes\n", best, bytes);
        return 0;
    }
    std::fprintf(stderr,
                 "usage: bench_writers make <folder> | convert <in.bmp> <out> <code> "
                 "[option] [quality] | time <in.bmp> <code> [option] [quality] [repeats]\n");
    return 2;
}
