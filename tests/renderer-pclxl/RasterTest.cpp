// Image block decoding (none, RLE, delta row, JPEG), images and raster
// patterns drawn on a page.
#include "PxlWriter.h"
#include "TestJob.h"
#include "pclxl/PxlRaster.h"
#include "pclxl/PxlTables.h"

#include <gtest/gtest.h>

#include <csetjmp>
#include <cstdio>
#include <jpeglib.h>

using namespace tarvik::pclxl;
using pxltest::Writer;

namespace {

std::vector<std::string> DecodeRows(Compression mode, const std::vector<uint8_t>& data,
                                    size_t rowBytes, int rows, int pad = 4, bool big = false,
                                    bool* ok = nullptr, int blocks = 1) {
    RowDecoder d;
    d.Begin(rowBytes, int(rowBytes), 1, rows * blocks);
    std::vector<std::string> out;
    std::string err;
    bool good = true;
    for (int b = 0; b < blocks; ++b)
        good &= d.Block(
            mode, data.data(), data.size(), rows, pad, big,
            [&](const uint8_t* row) { out.emplace_back(row, row + rowBytes); }, err);
    if (ok) *ok = good;
    return out;
}

std::vector<uint8_t> Bytes(const std::string& s) {
    return {s.begin(), s.end()};
}

// A baseline JPEG of a gray image: left half black, right half white.
std::vector<uint8_t> MakeJpeg(int w, int h, bool rgb) {
    jpeg_compress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* buf = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &buf, &size);
    c.image_width = JDIMENSION(w);
    c.image_height = JDIMENSION(h);
    c.input_components = rgb ? 3 : 1;
    c.in_color_space = rgb ? JCS_RGB : JCS_GRAYSCALE;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 95, TRUE);
    jpeg_start_compress(&c, TRUE);
    std::vector<uint8_t> row(size_t(w) * (rgb ? 3 : 1));
    for (int x = 0; x < w; ++x)
        for (int k = 0; k < (rgb ? 3 : 1); ++k)
            row[size_t(x) * (rgb ? 3 : 1) + k] = x < w / 2 ? 0 : 255;
    while (c.next_scanline < c.image_height) {
        JSAMPROW p = row.data();
        jpeg_write_scanlines(&c, &p, 1);
    }
    jpeg_finish_compress(&c);
    std::vector<uint8_t> out(buf, buf + size);
    jpeg_destroy_compress(&c);
    std::free(buf);
    return out;
}

} // namespace

TEST(PxlRaster, UncompressedRowsArePadded) {
    // Three-byte rows padded to four, then to two.
    auto rows = DecodeRows(Compression::None, Bytes("abc.def.ghi."), 3, 3);
    EXPECT_EQ(rows, (std::vector<std::string>{"abc", "def", "ghi"}));
    rows = DecodeRows(Compression::None, Bytes("abc.def."), 3, 2, 2);
    EXPECT_EQ(rows, (std::vector<std::string>{"abc", "def"}));
    bool ok = true;
    rows = DecodeRows(Compression::None, Bytes("abc.de"), 3, 3, 4, false, &ok);
    EXPECT_FALSE(ok);
    ASSERT_EQ(rows.size(), 2u); // the short row is delivered zero-filled
    EXPECT_EQ(rows[1], std::string("de\0", 3));
}

TEST(PxlRaster, RunLengthAcrossRows) {
    // -5 'I' 0 'S' -1 'E' gives IIIIIISEE; -128 is a no-op.
    std::vector<uint8_t> rle = {uint8_t(-5), 'I', 0x80, 0, 'S', uint8_t(-1), 'E'};
    uint8_t out[9];
    EXPECT_EQ(DecodeRle(rle.data(), rle.size(), out, 9), rle.size());
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out), 9), "IIIIIISEE");
    // Rows of 3 bytes, padded to 4: runs go on into the next row.
    auto rows = DecodeRows(Compression::Rle, rle, 3, 2, 1);
    EXPECT_EQ(rows, (std::vector<std::string>{"III", "III"}));
    rows = DecodeRows(Compression::Rle, rle, 2, 4, 1);
    EXPECT_EQ(rows, (std::vector<std::string>{"II", "II", "II", "SE"}));
    bool ok = true;
    rows = DecodeRows(Compression::Rle, {uint8_t(-2), 'x'}, 4, 2, 4, false, &ok);
    EXPECT_FALSE(ok);
    EXPECT_EQ(rows[0], std::string("xxx\0", 4));
}

TEST(PxlRaster, DeltaRowKeepsItsSeedAcrossBlocks) {
    for (bool big : {false, true}) {
        std::vector<uint8_t> d;
        auto count = [&](unsigned n) {
            if (big) {
                d.push_back(uint8_t(n >> 8));
                d.push_back(uint8_t(n));
            } else {
                d.push_back(uint8_t(n));
                d.push_back(uint8_t(n >> 8));
            }
        };
        count(4);
        d.insert(d.end(), {0x40, 'A', 'B', 'C'}); // 3 bytes at 0
        count(2);
        d.insert(d.end(), {0x01, 'X'}); // 1 byte at 1
        count(0);                       // same as the row before
        auto rows = DecodeRows(Compression::DeltaRow, d, 4, 3, 4, big);
        EXPECT_EQ(rows, (std::vector<std::string>{std::string("ABC\0", 4), std::string("AXC\0", 4),
                                                  std::string("AXC\0", 4)}));
    }
    // Extended offsets: 31 + 255 + 4 = 290.
    std::vector<uint8_t> row(300, 0);
    const uint8_t cmd[] = {0x1F, 255, 4, 'Z'};
    ApplyDeltaRow(cmd, sizeof cmd, row.data(), row.size());
    EXPECT_EQ(row[290], 'Z');
    // Replacements past the row end are dropped, not written.
    std::vector<uint8_t> small(2, 0);
    const uint8_t far[] = {0xE1, 1, 2, 3, 4, 5, 6, 7, 8};
    ApplyDeltaRow(far, sizeof far, small.data(), small.size());
    EXPECT_EQ(small[1], 1);
    // A byte count past the data is an error.
    bool ok = true;
    DecodeRows(Compression::DeltaRow, {9, 0, 1}, 4, 1, 4, false, &ok);
    EXPECT_FALSE(ok);
}

TEST(PxlRaster, JpegBlocks) {
    for (bool rgb : {false, true}) {
        std::vector<uint8_t> jpg = MakeJpeg(16, 8, rgb);
        RowDecoder d;
        int comps = rgb ? 3 : 1;
        d.Begin(size_t(16 * comps), 16, comps, 8);
        std::string err;
        std::vector<std::vector<uint8_t>> rows;
        ASSERT_TRUE(d.Block(
            Compression::Jpeg, jpg.data(), jpg.size(), 8, 4, false,
            [&](const uint8_t* r) { rows.emplace_back(r, r + 16 * comps); }, err))
            << err;
        ASSERT_EQ(rows.size(), 8u);
        EXPECT_LT(rows[3][0], 40);
        EXPECT_GT(rows[3][15 * comps], 215);
    }
    // Gray JPEG into an RGB image is converted.
    std::vector<uint8_t> jpg = MakeJpeg(16, 8, false);
    RowDecoder d;
    d.Begin(48, 16, 3, 8);
    std::string err;
    int n = 0;
    EXPECT_TRUE(d.Block(
        Compression::Jpeg, jpg.data(), jpg.size(), 8, 4, false,
        [&](const uint8_t* r) { n += r[47] > 200; }, err));
    EXPECT_EQ(n, 8);
    // Garbage and cut streams fail cleanly.
    std::vector<uint8_t> bad(100, 0x5A);
    d.Begin(48, 16, 3, 8);
    EXPECT_FALSE(d.Block(
        Compression::Jpeg, bad.data(), bad.size(), 8, 4, false, [](const uint8_t*) {}, err));
    jpg.resize(jpg.size() / 2);
    d.Begin(16, 16, 1, 8);
    d.Block(
        Compression::Jpeg, jpg.data(), jpg.size(), 8, 4, false, [](const uint8_t*) {}, err);
}

TEST(PxlImages, ImagePlacedAtTheCursorThroughEveryMode) {
    // A 4 x 2 gray image: top row black, bottom row white, 10 x 10 points each.
    std::vector<uint8_t> plain = {0, 0, 0, 0, 255, 255, 255, 255};
    std::vector<uint8_t> rle = {uint8_t(-3), 0, uint8_t(-3), 255};
    // Delta rows: the first repeats the all-black seed, the second sets 4 bytes.
    std::vector<uint8_t> delta = {0, 0, 5, 0, 0x60, 255, 255, 255, 255};
    for (int mode : {0, 1, 3}) {
        Writer w;
        w.Header().BeginSession(72).OpenData().BeginPage(0);
        w.UB(1).A(aColorSpace).Op(kSetColorSpace);
        w.S16Xy(100, 100).A(aPoint).Op(kSetCursor);
        w.UB(0)
            .A(aColorMapping)
            .UB(2)
            .A(aColorDepth)
            .U16(4)
            .A(aSourceWidth)
            .U16(2)
            .A(aSourceHeight);
        w.U16Xy(40, 20).A(aDestinationSize).Op(kBeginImage);
        w.U16(0).A(aStartLine).U16(2).A(aBlockHeight).UB(mode).A(aCompressMode);
        const std::vector<uint8_t>& data = mode == 0 ? plain : mode == 1 ? rle : delta;
        if (mode == 0) w.UB(4).A(aPadBytesMultiple);
        w.Op(kReadImage).Data(data).Op(kEndImage);
        w.EndPage().CloseData().EndSession();
        pxltest::Result r = pxltest::Render(w.bytes);
        ASSERT_EQ(r.rasters.size(), 1u);
        EXPECT_TRUE(r.ok);
        const tarvik::PageRaster& p = r.rasters[0];
        EXPECT_EQ(p.At(120, 105).r, 0) << "mode " << mode;
        EXPECT_EQ(p.At(120, 115).r, 255) << "mode " << mode;
        EXPECT_EQ(p.At(95, 105).r, 255) << "mode " << mode;
        EXPECT_EQ(r.Ink(), 400u) << "mode " << mode;

        pxltest::Result t = pxltest::Trace(w.bytes);
        EXPECT_TRUE(t.Has("BeginImage gray8 4x2 [10 0 0 10 100 100] solid(0,0,0) rop=252"))
            << t.trace;
        EXPECT_TRUE(t.Has("EndImage rows=2")) << t.trace;
    }
}

TEST(PxlImages, IndexedImagesAndBadImages) {
    Writer w;
    w.Header().BeginSession(72).OpenData().BeginPage(0);
    w.UB(2).A(aColorSpace).UB(2).A(aPaletteDepth);
    w.UBArray(std::vector<uint8_t>{255, 0, 0, 0, 0, 255}).A(aPaletteData).Op(kSetColorSpace);
    w.S16Xy(0, 0).A(aPoint).Op(kSetCursor);
    w.UB(1).A(aColorMapping).UB(0).A(aColorDepth).U16(8).A(aSourceWidth).U16(1).A(aSourceHeight);
    w.U16Xy(80, 10).A(aDestinationSize).Op(kBeginImage);
    w.U16(0).A(aStartLine).U16(1).A(aBlockHeight).UB(0).A(aCompressMode);
    w.Op(kReadImage).Data({0x0F, 0, 0, 0}).Op(kEndImage);
    // Too large, zero sized, JPEG with 1 bit: refused without drawing.
    w.UB(0)
        .A(aColorMapping)
        .UB(2)
        .A(aColorDepth)
        .U16(65535)
        .A(aSourceWidth)
        .U16(65535)
        .A(aSourceHeight);
    w.U16Xy(10, 10).A(aDestinationSize).Op(kBeginImage);
    w.U16(0)
        .A(aStartLine)
        .U16(1)
        .A(aBlockHeight)
        .UB(0)
        .A(aCompressMode)
        .Op(kReadImage)
        .Data({1, 2});
    w.Op(kEndImage);
    w.UB(0).A(aColorMapping).UB(0).A(aColorDepth).U16(8).A(aSourceWidth).U16(1).A(aSourceHeight);
    w.U16Xy(10, 10).A(aDestinationSize).Op(kBeginImage);
    w.U16(0)
        .A(aStartLine)
        .U16(1)
        .A(aBlockHeight)
        .UB(2)
        .A(aCompressMode)
        .Op(kReadImage)
        .Data({1, 2});
    w.Op(kEndImage);
    w.EndPage().CloseData().EndSession();
    pxltest::Result r = pxltest::Render(w.bytes);
    ASSERT_EQ(r.rasters.size(), 1u);
    EXPECT_TRUE(r.ok);
    tarvik::Color red = r.rasters[0].At(5, 5), blue = r.rasters[0].At(45, 5);
    EXPECT_EQ(red, (tarvik::Color{255, 0, 0}));
    EXPECT_EQ(blue, (tarvik::Color{0, 0, 255}));
    EXPECT_GE(r.warnings, 2);
}

TEST(PxlImages, RasterPatternsTileTheBrush) {
    Writer w;
    w.Header().BeginSession(72).OpenData().BeginPage(0);
    w.UB(1).A(aColorSpace).Op(kSetColorSpace);
    // A 2 x 2 checker of 1-bit gray, 5 points per cell, kept for the session.
    w.UB(0).A(aColorMapping).UB(0).A(aColorDepth).U16(2).A(aSourceWidth).U16(2).A(aSourceHeight);
    w.U16Xy(10, 10).A(aDestinationSize).S16(7).A(aPatternDefineID).UB(2).A(aPatternPersistence);
    w.Op(kBeginRastPattern);
    w.U16(0).A(aStartLine).U16(2).A(aBlockHeight).UB(0).A(aCompressMode);
    w.Op(kReadRastPattern).Data({0x40, 0, 0, 0, 0x80, 0, 0, 0}).Op(kEndRastPattern);
    w.S16(7).A(aPatternSelectID).Op(kSetBrushSource);
    w.UB(0).A(aNullPen).Op(kSetPenSource);
    w.U16Box(0, 0, 40, 40).A(aBoundingBox).Op(kRectangle);
    w.S16(8).A(aPatternSelectID).Op(kSetBrushSource); // undefined: brush unchanged
    w.U16Box(100, 0, 140, 40).A(aBoundingBox).Op(kRectangle);
    w.EndPage().CloseData().EndSession();
    pxltest::Result t = pxltest::Trace(w.bytes);
    EXPECT_EQ(t.Count("FillPath nonzero pattern(2x2) rop=252"), 2u) << t.trace;
    pxltest::Result r = pxltest::Render(w.bytes);
    ASSERT_EQ(r.rasters.size(), 1u);
    const tarvik::PageRaster& p = r.rasters[0];
    // Row 0 is 0,1 (black, white); row 1 is 1,0.
    EXPECT_EQ(p.At(2, 2).r, 0);
    EXPECT_EQ(p.At(7, 2).r, 255);
    EXPECT_EQ(p.At(2, 7).r, 255);
    EXPECT_EQ(p.At(7, 7).r, 0);
    EXPECT_EQ(p.At(12, 2).r, 0); // tiled
    EXPECT_EQ(r.Ink(), 2 * 400u + 2 * 400u);
}
