// Raster operations, transparency, patterns and images.
#include "TestUtil.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

using namespace tarvik;
using tarvik::test::Canvas;

namespace {

TEST(Rop3, NamedOperations) {
    const uint8_t d = 0xA5, s = 0x3C, p = 0x96;
    EXPECT_EQ(ApplyRop3(0, d, s, p), 0x00);
    EXPECT_EQ(ApplyRop3(255, d, s, p), 0xFF);
    EXPECT_EQ(ApplyRop3(170, d, s, p), d);                           // D
    EXPECT_EQ(ApplyRop3(204, d, s, p), s);                           // S
    EXPECT_EQ(ApplyRop3(240, d, s, p), p);                           // P
    EXPECT_EQ(ApplyRop3(252, d, s, p), p | s);                       // PSo
    EXPECT_EQ(ApplyRop3(90, d, s, p), d ^ p);                        // DPx
    EXPECT_EQ(ApplyRop3(102, d, s, p), d ^ s);                       // DSx
    EXPECT_EQ(ApplyRop3(136, d, s, p), d & s);                       // DSa
    EXPECT_EQ(ApplyRop3(238, d, s, p), d | s);                       // DSo
    EXPECT_EQ(ApplyRop3(51, d, s, p), uint8_t(~s));                  // Sn
    EXPECT_EQ(ApplyRop3(85, d, s, p), uint8_t(~d));                  // Dn
    EXPECT_EQ(ApplyRop3(0xC0, d, s, p), p & s);                      // PSa
    EXPECT_EQ(ApplyRop3(0xB8, d, s, p), uint8_t(((d ^ p) & s) ^ p)); // PSDPxax
    EXPECT_EQ(ApplyRop3(0xE2, d, s, p), uint8_t(((p ^ d) & s) ^ d)); // DSPDxax
    EXPECT_TRUE(RopUsesDest(170));
    EXPECT_FALSE(RopUsesDest(204));
    EXPECT_TRUE(RopUsesSource(204));
    EXPECT_FALSE(RopUsesSource(240));
    EXPECT_TRUE(RopUsesPattern(240));
    EXPECT_FALSE(RopUsesPattern(102));
}

// The span painter computes fills through its own shortcut; every ROP must
// agree with the per-pixel definition.
TEST(Rop3, FillsAgreeWithThePixelDefinitionForAll256) {
    const Color dest{200, 60, 17}, paint{35, 180, 240};
    for (int rop = 0; rop < 256; ++rop) {
        Canvas c(4, 4);
        c.device.FillPath(test::Rect(0, 0, 4, 4), {}, FillRule::NonZero, Paint::SolidColor(dest),
                          {240});
        c.device.FillPath(test::Rect(1, 1, 3, 3), {}, FillRule::NonZero, Paint::SolidColor(paint),
                          {uint8_t(rop)});
        Color want = CombinePixel({uint8_t(rop)}, dest, kBlack, paint);
        ASSERT_EQ(c.raster.At(1, 1), want) << "rop " << rop;
        ASSERT_EQ(c.raster.At(0, 0), dest) << "rop " << rop;
    }
}

TEST(Rop3, NullPaintMattersOnlyWhereTheRopReadsIt) {
    Canvas c(4, 4);
    c.device.FillPath(test::Rect(0, 0, 2, 2), {}, FillRule::NonZero, Paint::Null(), {240});
    EXPECT_EQ(c.InkCount(), 0);
    c.device.FillPath(test::Rect(0, 0, 2, 2), {}, FillRule::NonZero, Paint::Null(), {0});
    EXPECT_EQ(c.InkCount(), 4);
    uint8_t gray = 0;
    ImageInfo info;
    info.width = info.height = 1;
    c.device.BeginImage(info, Matrix::Translate(3, 3), Paint::Null(), {204});
    c.device.ImageRows(&gray, 1);
    c.device.EndImage();
    EXPECT_EQ(c.raster.At(3, 3), kBlack);
}

TEST(Transparency, SourceAndPatternRules) {
    const Color d{10, 200, 30}, s{90, 90, 90}, p{250, 5, 5};
    // Opaque: the ROP result everywhere.
    EXPECT_EQ(CombinePixel({252}, d, kWhite, p), kWhite);
    // Transparent source: white source leaves the page.
    EXPECT_EQ(CombinePixel({252, true, false}, d, kWhite, p), d);
    EXPECT_NE(CombinePixel({252, true, false}, d, s, p), d);
    // Transparent pattern: white paint over a non-white source leaves the page,
    // white paint over a white source still paints.
    EXPECT_EQ(CombinePixel({240, false, true}, d, s, kWhite), d);
    EXPECT_EQ(CombinePixel({240, false, true}, d, kWhite, kWhite), kWhite);
    // Both: only where source and paint are both non-white.
    EXPECT_EQ(CombinePixel({204, true, true}, d, s, p), s);
    EXPECT_EQ(CombinePixel({204, true, true}, d, s, kWhite), d);
}

std::shared_ptr<Pattern> Checker(const Matrix& toPage) {
    auto pat = std::make_shared<Pattern>();
    pat->width = pat->height = 2;
    pat->pixels = {kBlack, kWhite, kWhite, kBlack};
    pat->patternToPage = toPage;
    return pat;
}

TEST(PatternPaint, TilesFromItsOrigin) {
    Canvas c(8, 8);
    // Pattern pixels two device pixels wide, tiles anchored at (1, 0).
    auto pat = Checker(Matrix::Scale(2, 2).Then(Matrix::Translate(1, 0)));
    c.device.FillPath(test::Rect(0, 0, 8, 4), {}, FillRule::NonZero, Paint::Tiled(pat), {240});
    EXPECT_EQ(c.Picture(0, 0, 8, 4), ".##..##.\n"
                                     ".##..##.\n"
                                     "#..##..#\n"
                                     "#..##..#\n");
    // Pattern transparency keeps the page under the white tiles.
    Canvas t(8, 8);
    t.device.FillPath(test::Rect(0, 0, 8, 8), {}, FillRule::NonZero, Paint::SolidColor({255, 0, 0}),
                      {});
    t.device.FillPath(test::Rect(0, 0, 8, 4), {}, FillRule::NonZero, Paint::Tiled(pat),
                      {240, false, true});
    EXPECT_EQ(t.raster.At(0, 0), (Color{255, 0, 0}));
    EXPECT_EQ(t.raster.At(1, 0), kBlack);
}

ImageInfo Gray8(int w, int h) {
    ImageInfo info;
    info.format = ImageInfo::Format::Gray;
    info.bitsPerComponent = 8;
    info.width = w;
    info.height = h;
    return info;
}

TEST(Image, PlacedOneToOneAndThroughQuarterTurns) {
    std::vector<uint8_t> px = {0, 50, 100, 150, 200, 250};
    ImageInfo info = Gray8(3, 2);
    Canvas c(16, 16);
    c.device.BeginImage(info, Matrix::Translate(4, 5), Paint::SolidColor(kBlack), {204});
    c.device.ImageRows(px.data(), 2);
    c.device.EndImage();
    EXPECT_EQ(c.raster.At(4, 5), Color::Gray(0));
    EXPECT_EQ(c.raster.At(6, 5), Color::Gray(100));
    EXPECT_EQ(c.raster.At(4, 6), Color::Gray(150));
    EXPECT_EQ(c.raster.At(6, 6), Color::Gray(250));
    EXPECT_EQ(c.raster.At(7, 6), kWhite);

    // A quarter turn clockwise on the page: rows become columns.
    Canvas r(16, 16);
    r.device.BeginImage(info, Matrix::Rotate(90).Then(Matrix::Translate(10, 2)),
                        Paint::SolidColor(kBlack), {204});
    r.device.ImageRows(px.data(), 2);
    r.device.EndImage();
    EXPECT_EQ(r.raster.At(9, 2), Color::Gray(0));
    EXPECT_EQ(r.raster.At(9, 4), Color::Gray(100));
    EXPECT_EQ(r.raster.At(8, 2), Color::Gray(150));
}

TEST(Image, IndexedOneBitAndSourceTransparency) {
    ImageInfo info;
    info.format = ImageInfo::Format::Indexed;
    info.bitsPerComponent = 1;
    info.width = 8;
    info.height = 1;
    info.palette = {kWhite, {0, 0, 255}};
    uint8_t row = 0xA0; // pixels 0 and 2 set
    Canvas c(8, 2);
    c.device.FillPath(test::Rect(0, 0, 8, 2), {}, FillRule::NonZero, Paint::SolidColor({255, 0, 0}),
                      {});
    c.device.BeginImage(info, {}, Paint::SolidColor(kBlack), {204, true, false});
    c.device.ImageRows(&row, 1);
    c.device.EndImage();
    EXPECT_EQ(c.raster.At(0, 0), (Color{0, 0, 255}));
    EXPECT_EQ(c.raster.At(1, 0), (Color{255, 0, 0})); // white source: transparent
    EXPECT_EQ(c.raster.At(2, 0), (Color{0, 0, 255}));
}

TEST(Image, ScaledDownByAreaKeepsThinLines) {
    // A 1-bit raster at four times the device resolution holding a one-pixel
    // vertical line and a solid block: sampling would drop or keep the line
    // by chance, averaging shows it as a quarter-tone.
    const int w = 32, h = 32;
    std::vector<uint8_t> bits(size_t(w / 8) * h, 0xFF); // white = 1 for gray
    for (int y = 0; y < h; ++y) {
        bits[size_t(y) * 4 + 0] &= 0xBF; // x = 1 black
        bits[size_t(y) * 4 + 2] = 0x00;  // x = 16..23 black
    }
    ImageInfo info;
    info.format = ImageInfo::Format::Gray;
    info.bitsPerComponent = 1;
    info.width = w;
    info.height = h;
    Canvas c(8, 8);
    c.device.BeginImage(info, Matrix::Scale(0.25, 0.25), Paint::SolidColor(kBlack), {204});
    c.device.ImageRows(bits.data(), h);
    c.device.EndImage();
    EXPECT_NEAR(c.raster.At(0, 3).r, 191, 2);
    EXPECT_EQ(c.raster.At(4, 3), kBlack);
    EXPECT_EQ(c.raster.At(2, 3), kWhite);

    // The same turned a quarter (a landscape page): the line becomes a row.
    Canvas r(8, 8);
    r.device.BeginImage(
        info, Matrix::Scale(0.25, 0.25).Then(Matrix::Rotate(90)).Then(Matrix::Translate(8, 0)),
        Paint::SolidColor(kBlack), {204});
    r.device.ImageRows(bits.data(), h);
    r.device.EndImage();
    EXPECT_NEAR(r.raster.At(3, 0).r, 191, 2);
    EXPECT_EQ(r.raster.At(3, 4), kBlack);
    EXPECT_EQ(r.raster.At(3, 2), kWhite);
}

TEST(Image, StreamedInBandsMatchesRowByRowAverages) {
    // Tall enough that the device draws it in several bands; each device row
    // must average exactly its own four source rows, seams included.
    const int w = 6000, h = 4000;
    ImageInfo info = Gray8(w, h);
    Canvas c(w / 4, h / 4);
    c.device.BeginImage(info, Matrix::Scale(0.25, 0.25), Paint::SolidColor(kBlack), {204});
    std::vector<uint8_t> row(w);
    for (int y = 0; y < h; ++y) {
        std::fill(row.begin(), row.end(), uint8_t((y / 4) % 200));
        c.device.ImageRows(row.data(), 1);
    }
    c.device.EndImage();
    for (int y = 0; y < h / 4; ++y) {
        ASSERT_EQ(c.raster.At(0, y).r, (y % 200)) << "row " << y;
        ASSERT_EQ(c.raster.At(w / 4 - 1, y).r, (y % 200)) << "row " << y;
    }
}

TEST(Image, ShortAndBogusInput) {
    Canvas c(8, 8);
    ImageInfo info = Gray8(4, 4);
    std::vector<uint8_t> px(16, 0);
    // Fewer rows than announced: what came is drawn.
    c.device.BeginImage(info, {}, Paint::SolidColor(kBlack), {204});
    c.device.ImageRows(px.data(), 2);
    c.device.EndImage();
    EXPECT_EQ(c.raster.At(0, 1), kBlack);
    EXPECT_EQ(c.raster.At(0, 2), kWhite);
    // Rows without a BeginImage, invalid descriptions, singular matrices.
    c.device.ImageRows(px.data(), 4);
    ImageInfo bad = Gray8(0, 4);
    c.device.BeginImage(bad, {}, Paint::SolidColor(kBlack), {204});
    c.device.ImageRows(px.data(), 4);
    c.device.EndImage();
    c.device.BeginImage(info, Matrix::Scale(0, 1), Paint::SolidColor(kBlack), {204});
    c.device.ImageRows(px.data(), 4);
    c.device.EndImage();
    EXPECT_EQ(c.raster.At(0, 3), kWhite);
}

TEST(Mask, SetBitsTakeThePaint) {
    const uint8_t bits[] = {0x81, 0x42}; // two rows of 8
    Canvas c(8, 2);
    c.device.FillMask(bits, 8, 2, 1, {}, Paint::SolidColor({0, 128, 0}), {});
    EXPECT_EQ(c.Picture(0, 0, 8, 2), "#......#\n"
                                     ".#....#.\n");
    EXPECT_EQ(c.raster.At(0, 0), (Color{0, 128, 0}));
}

} // namespace
