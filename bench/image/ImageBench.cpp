// Toolkit speed on a printed page: A4 at 300 dpi, 24 bits, mostly white with
// black text strokes, a few solid colour areas and one smooth picture.
// The per-pixel figures count the source page's pixels.
#include "OctreeQuantizer.h"
#include "Raster.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr uint32_t kWidth = 2481;
constexpr uint32_t kHeight = 3507;
constexpr double kPixels = double(kWidth) * kHeight;

void FillRect(CRaster& img, uint32_t x0, uint32_t y0, uint32_t w, uint32_t h, RasterColor c) {
    for (uint32_t y = y0; y < y0 + h && y < img.Height(); ++y) {
        uint8_t* row = img.RowPointer(y);
        for (uint32_t x = x0; x < x0 + w && x < img.Width(); ++x) {
            row[3 * x] = c.blue;
            row[3 * x + 1] = c.green;
            row[3 * x + 2] = c.red;
        }
    }
}

// The page, built once.
const CRaster& Page() {
    static CRaster page;
    if (page.HasPixels()) return page;
    page.Create(kWidth, kHeight, 24, 0);
    page.Fill(255);
    page.SetDpiX(300);
    page.SetDpiY(300);
    uint32_t seed = 12345;
    auto next = [&]() { return seed = seed * 1103515245u + 12345u, (seed >> 16) & 0x7FFF; };
    const RasterColor black = RasterColor::Rgb(0, 0, 0);
    // Text: lines of 10-point glyphs (about 42 pixels a line) made of strokes.
    for (uint32_t line = 0; line < 60; ++line) {
        uint32_t top = 300 + line * 48;
        if (top > 2600 && top < 3000) continue; // room for the picture
        uint32_t x = 250;
        while (x < kWidth - 250) {
            uint32_t glyph = 14 + next() % 12;
            if (next() % 6 == 0) {
                x += glyph; // word space
                continue;
            }
            FillRect(page, x, top, 3, 30, black);                            // stem
            FillRect(page, x, top + (next() % 2) * 27, glyph - 4, 3, black); // bar
            if (next() % 2) FillRect(page, x + glyph - 6, top + 10, 3, 20, black);
            x += glyph;
        }
    }
    // Solid colour areas: a bar chart and a header band.
    const RasterColor colours[] = {RasterColor::Rgb(200, 30, 40), RasterColor::Rgb(30, 120, 200),
                                   RasterColor::Rgb(40, 170, 60), RasterColor::Rgb(240, 200, 20)};
    FillRect(page, 0, kHeight - 200, kWidth, 120, RasterColor::Rgb(20, 60, 140));
    for (uint32_t i = 0; i < 8; ++i)
        FillRect(page, 1400 + i * 110, 2650, 80, 100 + 40 * i, colours[i % 4]);
    // A smooth picture of 600 x 400 pixels.
    for (uint32_t y = 0; y < 400; ++y)
        for (uint32_t x = 0; x < 600; ++x)
            page.SetColorAtUnchecked(300 + x, 2620 + y,
                                     RasterColor::Rgb(uint8_t(x * 255 / 600),
                                                      uint8_t(y * 255 / 400),
                                                      uint8_t(128 + (x + y) % 64)));
    return page;
}

void CopyPage(CRaster& out) {
    const_cast<CRaster&>(Page()).Rescale(kWidth, kHeight, 1, &out);
}

void PerPixel(benchmark::State& state) {
    state.counters["ns/pixel"] =
        benchmark::Counter(kPixels * 1e-9, benchmark::Counter::kIsIterationInvariantRate |
                                               benchmark::Counter::kInvert);
}

std::string TempPath(const char* name) {
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir && *dir ? dir : "/tmp") + "/varnel-bench-" + std::to_string(getpid()) +
           "-" + name;
}

const std::string& PageFile() {
    static std::string path;
    if (path.empty()) {
        path = TempPath("page.bmp");
        const_cast<CRaster&>(Page()).SaveFile(path, kFormatBMP);
    }
    return path;
}

void BM_FileCopy(benchmark::State& state) {
    const std::string& from = PageFile();
    std::string to = TempPath("copy.bmp");
    std::vector<char> buffer(1 << 20);
    for (auto _ : state) {
        FILE* in = std::fopen(from.c_str(), "rb");
        FILE* out = std::fopen(to.c_str(), "wb");
        size_t n;
        while ((n = std::fread(buffer.data(), 1, buffer.size(), in)) > 0)
            std::fwrite(buffer.data(), 1, n, out);
        std::fclose(out);
        std::fclose(in);
    }
    std::remove(to.c_str());
    PerPixel(state);
}
BENCHMARK(BM_FileCopy)->Unit(benchmark::kMillisecond);

void BM_BmpLoad(benchmark::State& state) {
    const std::string& path = PageFile();
    for (auto _ : state) {
        CRaster img;
        if (!img.LoadFile(path, kFormatBMP)) state.SkipWithError("load failed");
        benchmark::DoNotOptimize(img.pixelBlock);
    }
    PerPixel(state);
}
BENCHMARK(BM_BmpLoad)->Unit(benchmark::kMillisecond);

void BM_BmpSave(benchmark::State& state) {
    CRaster& page = const_cast<CRaster&>(Page());
    std::string path = TempPath("save.bmp");
    for (auto _ : state)
        if (!page.SaveFile(path, kFormatBMP)) state.SkipWithError("save failed");
    std::remove(path.c_str());
    PerPixel(state);
}
BENCHMARK(BM_BmpSave)->Unit(benchmark::kMillisecond);

// Runs op on a fresh copy of the page each time; the copy is not timed.
template <class Op> void OnCopy(benchmark::State& state, Op op) {
    for (auto _ : state) {
        state.PauseTiming();
        CRaster img;
        CopyPage(img);
        state.ResumeTiming();
        if (!op(img)) state.SkipWithError(img.LastError());
        benchmark::DoNotOptimize(img.pixelBlock);
        state.PauseTiming();
        img.FreeImage();
        state.ResumeTiming();
    }
    PerPixel(state);
}

void BM_MakeGray(benchmark::State& state) {
    OnCopy(state, [](CRaster& img) { return img.MakeGray(); });
}
BENCHMARK(BM_MakeGray)->Unit(benchmark::kMillisecond);

void BM_OctreeFeed(benchmark::State& state) {
    const CRaster& page = Page();
    RasterColor palette[256];
    for (auto _ : state) {
        OctreeQuantizer q(256, 7);
        q.FeedImage(page.pixelBlock);
        q.ReadPalette(palette);
        benchmark::DoNotOptimize(palette);
    }
    PerPixel(state);
}
BENCHMARK(BM_OctreeFeed)->Unit(benchmark::kMillisecond);

void BM_DecreaseBpp8(benchmark::State& state) {
    OctreeQuantizer q(256, 7);
    q.FeedImage(Page().pixelBlock);
    static RasterColor palette[256];
    q.ReadPalette(palette);
    OnCopy(state, [](CRaster& img) { return img.DecreaseBpp(8, false, palette, 256); });
}
BENCHMARK(BM_DecreaseBpp8)->Unit(benchmark::kMillisecond);

void BM_DecreaseBpp1(benchmark::State& state) {
    OnCopy(state, [](CRaster& img) { return img.DecreaseBpp(1, false, nullptr, 2); });
}
BENCHMARK(BM_DecreaseBpp1)->Unit(benchmark::kMillisecond);

void BM_Turn90Right(benchmark::State& state) {
    OnCopy(state, [](CRaster& img) { return img.Turn90Right(nullptr); });
}
BENCHMARK(BM_Turn90Right)->Unit(benchmark::kMillisecond);

void BM_RescaleHalf(benchmark::State& state) {
    OnCopy(state, [](CRaster& img) { return img.Rescale(kWidth / 2, kHeight / 2, 1, nullptr); });
}
BENCHMARK(BM_RescaleHalf)->Unit(benchmark::kMillisecond);

void BM_RescaleHalfBilinear(benchmark::State& state) {
    OnCopy(state, [](CRaster& img) { return img.Rescale(kWidth / 2, kHeight / 2, 0, nullptr); });
}
BENCHMARK(BM_RescaleHalfBilinear)->Unit(benchmark::kMillisecond);

void BM_RotateBy30(benchmark::State& state) {
    OnCopy(state, [](CRaster& img) { return img.RotateBy(30, nullptr); });
}
BENCHMARK(BM_RotateBy30)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::remove(PageFile().c_str());
    return 0;
}
