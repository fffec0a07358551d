// Resizing, quarter turns and rotation.
#include "Raster.h"
#include "TestImages.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace testimg;

namespace {

// Every pixel of a palette image of the given depth gets an index from its
// coordinates; the palette has distinct colours.
void MakeCoordIndexed(CRaster& img, uint32_t w, uint32_t h, uint32_t bits) {
    MakeIndexed(img, w, h, bits);
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x)
            img.SetIndexAt(x, y, uint8_t((x * 7 + y * 3 + x * y) % img.ColorCount()));
}

void AddAlpha(CRaster& img) {
    size_t n = size_t(img.Width()) * img.Height();
    img.alphaPlane = static_cast<uint8_t*>(std::malloc(n));
    for (size_t i = 0; i < n; ++i) img.alphaPlane[i] = uint8_t(i * 13 + 1);
}

uint8_t AlphaAt(const CRaster& img, uint32_t x, uint32_t y) {
    return img.alphaPlane[size_t(y) * img.Width() + x];
}

} // namespace

TEST(Rescale, NearestPixelMapping) {
    CRaster img;
    MakePattern(img, 4, 3);
    std::vector<uint8_t> before(img.pixelBlock, img.pixelBlock + img.BlockSize());
    EXPECT_TRUE(img.Rescale(4, 3, 1, nullptr));
    EXPECT_EQ(std::vector<uint8_t>(img.pixelBlock, img.pixelBlock + img.BlockSize()), before);
    EXPECT_FALSE(img.Rescale(0, 3, 1, nullptr));

    CRaster half;
    ASSERT_TRUE(img.Rescale(2, 2, 1, &half));
    EXPECT_EQ(img.Width(), 4u); // a destination leaves the source alone
    EXPECT_TRUE(SameRgb(half.GetColorAt(1, 1), PatternColor(2, 1)));
    EXPECT_TRUE(SameRgb(half.GetColorAt(0, 1), PatternColor(0, 1)));
    EXPECT_TRUE(SameRgb(half.GetColorAt(0, 0), PatternColor(0, 0)));

    ASSERT_TRUE(img.Rescale(8, 6, 1, nullptr));
    for (uint32_t y = 0; y < 6; ++y)
        for (uint32_t x = 0; x < 8; ++x)
            ASSERT_TRUE(SameRgb(img.GetColorAt(x, y), PatternColor(x / 2, y / 2)));

    CRaster wide;
    MakePattern(wide, 1000, 1);
    ASSERT_TRUE(wide.Rescale(300, 1, 1, nullptr));
    EXPECT_TRUE(SameRgb(wide.GetColorAt(299, 0), PatternColor(996, 0)));
}

TEST(Rescale, PaletteAlphaAndCopies) {
    CRaster img;
    MakeCoordIndexed(img, 9, 5, 8);
    AddAlpha(img);
    CRaster src;
    MakeCoordIndexed(src, 9, 5, 8);
    AddAlpha(src);
    ASSERT_TRUE(img.Rescale(4, 7, 1, nullptr));
    EXPECT_EQ(img.BitsPerPixel(), 8u);
    EXPECT_EQ(0, std::memcmp(img.Palette(), src.Palette(), 1024));
    float xs = 9.0f / 4, ys = 5.0f / 7;
    for (uint32_t y = 0; y < 7; ++y)
        for (uint32_t x = 0; x < 4; ++x) {
            uint32_t sx = uint32_t(x * double(xs)), sy = uint32_t(y * double(ys));
            ASSERT_EQ(img.GetIndexAt(x, y), src.GetIndexAt(sx, sy));
            ASSERT_EQ(AlphaAt(img, x, y), AlphaAt(src, sx, sy));
        }

    // A repeated palette colour maps to its lowest index.
    CRaster dup;
    MakeCoordIndexed(dup, 6, 2, 4);
    dup.SetPaletteColor(9, dup.PaletteColor(2));
    dup.SetIndexAt(0, 0, 9);
    ASSERT_TRUE(dup.Rescale(12, 4, 1, nullptr));
    EXPECT_EQ(dup.GetIndexAt(0, 0), 2);
    EXPECT_EQ(dup.GetIndexAt(2, 0), dup.GetIndexAt(2, 1));

    // Same size into a destination: a full copy.
    CRaster copy;
    ASSERT_TRUE(src.Rescale(9, 5, 1, &copy));
    EXPECT_EQ(0, std::memcmp(copy.pixelBlock, src.pixelBlock, src.BlockSize()));
    EXPECT_EQ(0, std::memcmp(copy.alphaPlane, src.alphaPlane, 45));
    EXPECT_NE(copy.pixelBlock, src.pixelBlock);

    // 1 and 4 bits.
    for (uint32_t bits : {1u, 4u}) {
        CRaster small, ref;
        MakeCoordIndexed(small, 13, 3, bits);
        MakeCoordIndexed(ref, 13, 3, bits);
        ASSERT_TRUE(small.Rescale(26, 3, 1, nullptr));
        for (uint32_t x = 0; x < 26; ++x)
            ASSERT_EQ(small.GetIndexAt(x, 1), ref.GetIndexAt(x / 2, 1));
    }
}

TEST(Rescale, EmptyImageGivesBlackBilevel) {
    CRaster empty;
    ASSERT_TRUE(empty.Rescale(5, 2, 1, nullptr));
    EXPECT_EQ(empty.BitsPerPixel(), 1u);
    EXPECT_EQ(empty.Width(), 5u);
    for (uint32_t x = 0; x < 5; ++x) EXPECT_EQ(empty.GetIndexAt(x, 1), 0);
    EXPECT_EQ(empty.PaletteColor(1), RasterColor{});
}

TEST(Rescale, InterpolatingModes) {
    // A flat colour stays flat in every mode and direction.
    for (int mode : {0, 2}) {
        for (auto size : {std::pair{5u, 3u}, std::pair{40u, 30u}, std::pair{5u, 30u}}) {
            CRaster img;
            ASSERT_NE(img.Create(17, 11, 24, 0), nullptr);
            img.Fill(90);
            ASSERT_TRUE(img.Rescale(size.first, size.second, mode, nullptr));
            for (uint32_t y = 0; y < size.second; ++y)
                for (uint32_t x = 0; x < size.first; ++x)
                    ASSERT_EQ(img.GetColorAt(x, y, false), RasterColor::Rgb(90, 90, 90)) << mode;
        }
    }
    // Shrinking a 24-bit image in both directions averages the area.
    CRaster checker;
    ASSERT_NE(checker.Create(4, 4, 24, 0), nullptr);
    for (uint32_t y = 0; y < 4; ++y)
        for (uint32_t x = 0; x < 4; ++x)
            checker.SetColorAt(x, y, (x + y) % 2 ? RasterColor::Rgb(200, 0, 100) : RasterColor{});
    ASSERT_TRUE(checker.Rescale(2, 2, 0, nullptr));
    EXPECT_EQ(checker.GetColorAt(1, 1, false), RasterColor::Rgb(100, 0, 50));

    // A palette image gets palette entries of the interpolated colours.
    CRaster pal;
    MakeCoordIndexed(pal, 8, 8, 8);
    ASSERT_TRUE(pal.Rescale(13, 5, 0, nullptr));
    EXPECT_EQ(pal.BitsPerPixel(), 8u);
    CRaster cubic;
    MakePattern(cubic, 8, 8);
    ASSERT_TRUE(cubic.Rescale(20, 20, 2, nullptr));
    EXPECT_EQ(cubic.Width(), 20u);
}

TEST(Rescale, FailureLeavesImageAndResolutionSurvives) {
    CRaster img;
    MakePattern(img, 4, 4);
    img.SetDpiX(300);
    img.SetDpiY(150);
    EXPECT_FALSE(img.Rescale(100000, 100000, 1, nullptr));
    EXPECT_STREQ(img.LastError(), "RASTER_MAX_MEMORY exceeded");
    EXPECT_EQ(img.Width(), 4u);
    EXPECT_TRUE(SameRgb(img.GetColorAt(3, 3), PatternColor(3, 3)));
    ASSERT_TRUE(img.Rescale(7, 2, 1, nullptr));
    EXPECT_EQ(img.DpiX(), 300);
    EXPECT_EQ(img.header.xPelsPerMeter, 11811);
    EXPECT_EQ(img.header.yPelsPerMeter, 5906);
    BitmapInfoHeader copy;
    std::memcpy(&copy, img.pixelBlock, 40);
    EXPECT_EQ(copy.xPelsPerMeter, 11811);
}

TEST(QuarterTurns, MappingOnSmallImages) {
    CRaster img;
    MakePattern(img, 4, 3);
    CRaster right;
    ASSERT_TRUE(img.Turn90Right(&right));
    EXPECT_EQ(right.Width(), 3u);
    EXPECT_EQ(right.Height(), 4u);
    EXPECT_TRUE(SameRgb(right.GetColorAt(0, 0), PatternColor(3, 0)));
    EXPECT_TRUE(SameRgb(right.GetColorAt(2, 3), PatternColor(0, 2)));
    CRaster left;
    ASSERT_TRUE(img.Turn90Left(&left));
    EXPECT_TRUE(SameRgb(left.GetColorAt(0, 0), PatternColor(0, 2)));
    EXPECT_TRUE(SameRgb(left.GetColorAt(2, 3), PatternColor(3, 0)));
    CRaster empty;
    EXPECT_FALSE(empty.Turn90Right(nullptr));
    EXPECT_FALSE(empty.Turn90Left(nullptr));
}

TEST(QuarterTurns, EveryDepthAcrossTiles) {
    // Sizes that are not multiples of the tile or of a byte.
    for (uint32_t bits : {1u, 4u, 8u, 24u}) {
        CRaster src;
        if (bits == 24)
            MakePattern(src, 130, 71);
        else
            MakeCoordIndexed(src, 130, 71, bits);
        AddAlpha(src);
        CRaster right, left;
        ASSERT_TRUE(src.Turn90Right(&right));
        ASSERT_TRUE(src.Turn90Left(&left));
        ASSERT_EQ(right.Width(), 71u);
        ASSERT_EQ(right.Height(), 130u);
        EXPECT_EQ(right.BitsPerPixel(), bits);
        for (uint32_t y = 0; y < 130; ++y)
            for (uint32_t x = 0; x < 71; ++x) {
                ASSERT_EQ(right.GetColorAt(x, y, false), src.GetColorAt(129 - y, x, false)) << bits;
                ASSERT_EQ(left.GetColorAt(x, y, false), src.GetColorAt(y, 70 - x, false)) << bits;
                ASSERT_EQ(AlphaAt(right, x, y), AlphaAt(src, 129 - y, x));
                ASSERT_EQ(AlphaAt(left, x, y), AlphaAt(src, y, 70 - x));
            }
    }
}

TEST(QuarterTurns, RoundTripsAndResolution) {
    CRaster img, start;
    MakePattern(img, 23, 9);
    MakePattern(start, 23, 9);
    img.SetDpiX(300);
    img.SetDpiY(150);
    for (int i = 0; i < 4; ++i) ASSERT_TRUE(img.Turn90Right(nullptr));
    EXPECT_TRUE(SamePixels(img, start));
    ASSERT_TRUE(img.Turn90Right(nullptr));
    EXPECT_EQ(img.DpiX(), 300); // carried over, not swapped
    EXPECT_EQ(img.DpiY(), 150);
    EXPECT_EQ(img.header.xPelsPerMeter, 11811);
    EXPECT_EQ(img.header.yPelsPerMeter, 5906);
    ASSERT_TRUE(img.Turn90Left(nullptr));
    EXPECT_TRUE(SamePixels(img, start));

    // A 1-bit image with padding bits set turns right and back unchanged.
    CRaster bw, bwStart;
    MakeCoordIndexed(bw, 10, 6, 1);
    MakeCoordIndexed(bwStart, 10, 6, 1);
    bw.RowPointer(2)[1] |= 0x3F; // padding bits of row 2
    bw.RowPointer(2)[3] = 0xFF;
    ASSERT_TRUE(bw.Turn90Right(nullptr));
    ASSERT_TRUE(bw.Turn90Left(nullptr));
    EXPECT_TRUE(SamePixels(bw, bwStart));
}

TEST(RotateBy, RightAnglesAreShiftedByOnePixel) {
    CRaster img;
    MakePattern(img, 4, 3);
    const RasterColor background = img.GetColorAt(0, 0);

    CRaster r90;
    ASSERT_TRUE(img.RotateBy(90, &r90));
    ASSERT_EQ(r90.Width(), 3u);
    ASSERT_EQ(r90.Height(), 4u);
    for (uint32_t i = 0; i < 3; ++i) {
        EXPECT_TRUE(SameRgb(r90.GetColorAt(i, 0), background));
        for (uint32_t j = 1; j < 4; ++j)
            EXPECT_TRUE(SameRgb(r90.GetColorAt(i, j), PatternColor(4 - j, i))) << i << j;
    }

    CRaster r180;
    ASSERT_TRUE(img.RotateBy(180, &r180));
    ASSERT_EQ(r180.Width(), 4u);
    ASSERT_EQ(r180.Height(), 3u);
    for (uint32_t j = 0; j < 3; ++j)
        for (uint32_t i = 0; i < 4; ++i) {
            RasterColor expect = (i == 0 || j == 0) ? background : PatternColor(4 - i, 3 - j);
            EXPECT_TRUE(SameRgb(r180.GetColorAt(i, j), expect)) << i << "," << j;
        }

    CRaster r270;
    ASSERT_TRUE(img.RotateBy(270, &r270));
    ASSERT_EQ(r270.Width(), 3u);
    ASSERT_EQ(r270.Height(), 4u);
    for (uint32_t j = 0; j < 4; ++j)
        for (uint32_t i = 0; i < 3; ++i) {
            RasterColor expect = i == 0 ? background : PatternColor(j, 3 - i);
            EXPECT_TRUE(SameRgb(r270.GetColorAt(i, j), expect)) << i << "," << j;
        }

    CRaster r45;
    ASSERT_TRUE(img.RotateBy(45, &r45));
    EXPECT_EQ(r45.Width(), 5u);
    EXPECT_EQ(r45.Height(), 5u);

    CRaster r0;
    ASSERT_TRUE(img.RotateBy(0, &r0));
    EXPECT_TRUE(SamePixels(r0, img));
    CRaster empty;
    EXPECT_FALSE(empty.RotateBy(30, nullptr));
}

TEST(RotateBy, PaletteBackgroundAlphaAndResolution) {
    CRaster img;
    MakeCoordIndexed(img, 20, 10, 4);
    AddAlpha(img);
    img.settings.backgroundIndex = 5;
    img.SetDpiX(200);
    ASSERT_TRUE(img.RotateBy(30, nullptr));
    EXPECT_EQ(img.BitsPerPixel(), 4u);
    EXPECT_EQ(img.DpiX(), 200);
    EXPECT_EQ(img.header.xPelsPerMeter, 7874);
    // A corner outside the turned picture holds the background, alpha 0.
    EXPECT_EQ(img.GetIndexAt(0, 0), 5);
    EXPECT_EQ(AlphaAt(img, 0, 0), 0);

    // Without a background index a palette image's corners take the first
    // byte of its rows, masked to the depth.
    CRaster bw;
    MakeCoordIndexed(bw, 16, 16, 1);
    bw.RowPointer(0)[0] = 0x80;
    ASSERT_TRUE(bw.RotateBy(45, nullptr));
    EXPECT_EQ(bw.GetIndexAt(0, 0), 0); // 0x80 & 1

    CRaster gray;
    MakeCoordIndexed(gray, 31, 17, 8);
    CRaster ref;
    MakeCoordIndexed(ref, 31, 17, 8);
    ASSERT_TRUE(gray.RotateBy(-20, nullptr));
    // Every result pixel comes from the source or is the background.
    for (uint32_t y = 0; y < gray.Height(); ++y)
        for (uint32_t x = 0; x < gray.Width(); ++x) ASSERT_LT(gray.GetIndexAt(x, y), 256);
}
