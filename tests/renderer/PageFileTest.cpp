// Page rasters and the page files written from them: every byte of the file,
// rows the page never drew on, and pages that follow one another.
#include "core/Bmp.h"
#include "core/Job.h"
#include "core/Raster.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace tarvik;

namespace {

std::string MakeTempDir() {
    std::string t = std::string(::testing::TempDir()) + "tarvik-pages-XXXXXX";
    std::vector<char> name(t.begin(), t.end());
    name.push_back('\0');
    const char* d = ::mkdtemp(name.data());
    return d ? std::string(d) + "/" : std::string();
}

std::vector<std::string> List(const std::string& dir) {
    std::vector<std::string> out;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (dirent* e = ::readdir(d))
            if (std::string(e->d_name) != "." && std::string(e->d_name) != "..")
                out.push_back(e->d_name);
        ::closedir(d);
    }
    return out;
}

void RemoveTree(const std::string& dir) {
    for (const std::string& f : List(dir)) {
        std::string p = dir + f;
        if (::unlink(p.c_str()) != 0) ::rmdir(p.c_str());
    }
    ::rmdir(dir.c_str());
}

std::string ReadAll(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

uint32_t Le32(const std::string& b, size_t at) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | uint8_t(b[at + size_t(i)]);
    return v;
}

Color Pattern(int x, int y) {
    return {uint8_t(x * 7 + y), uint8_t(y * 13), uint8_t(x ^ (y * 3))};
}

// Rows whose number is a multiple of three are drawn on; the others are
// left as the page started.
bool Drawn(int y) {
    return y % 3 == 0;
}

TEST(PageFile, HoldsEveryPixelBottomUpWithZeroPadding) {
    std::string dir = MakeTempDir();
    ASSERT_FALSE(dir.empty());
    // Every padding length, and pages that need several calls to write:
    // narrow ones by the number of rows, wide ones by their bytes, with and
    // without padding between the rows.
    const int sizes[][2] = {{1, 1}, {2, 3},    {3, 2},    {4, 5},
                            {5, 4}, {5, 1500}, {4, 2100}, {1201, 700}};
    for (const auto& sz : sizes) {
        int w = sz[0], h = sz[1];
        PageRaster r(w, h);
        for (int y = 0; y < h; ++y)
            if (Drawn(y))
                for (int x = 0; x < w; ++x) r.Set(x, y, Pattern(x, y));
        std::string path = dir + "p.bmp";
        ASSERT_TRUE(WriteBmpFile(r, 300, 200, path)) << w << "x" << h;
        std::string b = ReadAll(path);
        size_t row = (size_t(w) * 3 + 3) & ~size_t(3);
        ASSERT_EQ(b.size(), 54 + row * size_t(h)) << w << "x" << h;
        EXPECT_EQ(Le32(b, 2), b.size());
        EXPECT_EQ(Le32(b, 18), uint32_t(w));
        EXPECT_EQ(Le32(b, 22), uint32_t(h));
        EXPECT_EQ(Le32(b, 34), uint32_t(row * size_t(h)));
        EXPECT_EQ(Le32(b, 38), 11811u); // 300 dpi in pixels per metre
        EXPECT_EQ(Le32(b, 42), 7874u);
        for (int y = 0; y < h; ++y) {
            // File rows run from the bottom of the page up.
            size_t at = 54 + size_t(h - 1 - y) * row;
            for (int x = 0; x < w; ++x) {
                Color want = Drawn(y) ? Pattern(x, y) : kWhite;
                Color got{uint8_t(b[at + 3 * size_t(x) + 2]), uint8_t(b[at + 3 * size_t(x) + 1]),
                          uint8_t(b[at + 3 * size_t(x)])};
                ASSERT_EQ(got, want) << w << "x" << h << " pixel " << x << "," << y;
            }
            for (size_t p = size_t(w) * 3; p < row; ++p)
                ASSERT_EQ(b[at + p], '\0') << w << "x" << h << " padding of row " << y;
        }
    }
    RemoveTree(dir);
}

TEST(PageFile, FailedWriteLeavesNothingBehind) {
    std::string dir = MakeTempDir();
    ASSERT_FALSE(dir.empty());
    PageRaster r(8, 8);
    EXPECT_FALSE(WriteBmpFile(r, 72, 72, dir + "missing/p.bmp"));
    // The name is taken by a folder: the finished file cannot be put in
    // place, and its temporary must go again.
    ASSERT_EQ(::mkdir((dir + "p.bmp").c_str(), 0755), 0);
    EXPECT_FALSE(WriteBmpFile(r, 72, 72, dir + "p.bmp"));
    EXPECT_EQ(List(dir), std::vector<std::string>{"p.bmp"});
    RemoveTree(dir);
}

// Large enough for the raster to live in its own mapping.
TEST(PageRaster, UntouchedRowsAreWhiteAndClearStartsAFreshPage) {
    const int w = 1200, h = 1300;
    PageRaster r(w, h);
    EXPECT_EQ(r.At(0, 0), kWhite);
    EXPECT_EQ(r.At(w - 1, h - 1), kWhite);
    r.Set(5, 7, Color{1, 2, 3});
    r.Set(w - 1, h - 1, Color{200, 100, 50});
    EXPECT_EQ(r.At(5, 7), (Color{1, 2, 3}));
    EXPECT_EQ(r.At(6, 7), kWhite);
    EXPECT_EQ(r.Row(7)[15], 3); // bytes B, G, R
    EXPECT_EQ(r.Row(7)[17], 1);

    PageRaster copy(r);
    PageRaster assigned(2, 2);
    assigned = copy;
    for (const PageRaster* p : {&copy, &assigned}) {
        EXPECT_EQ(p->At(5, 7), (Color{1, 2, 3}));
        EXPECT_EQ(p->At(w - 1, h - 1), (Color{200, 100, 50}));
        EXPECT_EQ(p->At(0, 500), kWhite);
    }

    // A row drawn on the last page and again on this one starts white.
    r.Clear();
    EXPECT_EQ(r.At(5, 7), kWhite);
    r.Set(9, 7, kBlack);
    EXPECT_EQ(r.At(5, 7), kWhite);
    EXPECT_EQ(r.At(9, 7), kBlack);
    EXPECT_EQ(r.At(w - 1, h - 1), kWhite);
    EXPECT_EQ(copy.At(5, 7), (Color{1, 2, 3})); // copies are their own
}

// Pages of one job share the raster and the image buffer: nothing of one
// page may show on the next.
TEST(PageRaster, NextPageShowsNothingOfTheLast) {
    JobOptions opt;
    opt.xdpi = opt.ydpi = 72;
    opt.widthPx = 612;
    opt.heightPx = 800;
    std::vector<std::vector<Color>> pages;
    opt.onPage = [&](int, const PageRaster& r) {
        std::vector<Color> px;
        for (int y = 0; y < r.Height(); ++y)
            for (int x = 0; x < r.Width(); ++x) px.push_back(r.At(x, y));
        pages.push_back(std::move(px));
    };
    JobContext job(opt);
    ImageInfo info;
    info.format = ImageInfo::Format::Indexed;
    info.bitsPerComponent = 1;
    info.width = 600;
    info.height = 700;
    info.palette = {kWhite, kBlack};
    std::vector<uint8_t> black(info.Stride(), 0xFF), white(info.Stride(), 0x00);

    Device& first = job.BeginPage({612, 800, 0});
    first.FillPath(
        [] {
            Path p;
            p.Rectangle(0, 750, 612, 800);
            return p;
        }(),
        {}, FillRule::NonZero, Paint::SolidColor(Color{0, 0, 255}), {});
    first.BeginImage(info, {}, Paint::SolidColor(kBlack), {204, false, false});
    for (int v = 0; v < info.height; ++v) first.ImageRows(black.data(), 1);
    first.EndImage();
    job.EndPage();

    // Second page: the same image, white but for row 300, drawn through the
    // page's transparency, so white rows must leave the page as it was.
    Device& second = job.BeginPage({612, 800, 0});
    second.BeginImage(info, {}, Paint::SolidColor(kBlack), {252, true, false});
    for (int v = 0; v < info.height; ++v)
        second.ImageRows(v == 300 ? black.data() : white.data(), 1);
    second.EndImage();
    job.EndPage();

    ASSERT_EQ(pages.size(), 2u);
    const std::vector<Color>& p1 = pages[0];
    const std::vector<Color>& p2 = pages[1];
    EXPECT_EQ(p1[size_t(10 * 612 + 10)], kBlack);
    EXPECT_EQ(p1[size_t(780 * 612 + 10)], (Color{0, 0, 255}));
    int ink = 0;
    for (int y = 0; y < 800; ++y)
        for (int x = 0; x < 612; ++x) {
            bool want = y == 300 && x < 600;
            Color c = p2[size_t(y * 612 + x)];
            if (c == kBlack) ++ink;
            ASSERT_EQ(c, want ? kBlack : kWhite) << "second page pixel " << x << "," << y;
        }
    EXPECT_EQ(ink, 600);
}

} // namespace
