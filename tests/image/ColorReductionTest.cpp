// Gray conversion, the octree palette and reduction to a palette.
#include "OctreeQuantizer.h"
#include "Raster.h"
#include "TestImages.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

using namespace testimg;

TEST(MakeGray, TrueColourLevels) {
    CRaster img;
    ASSERT_NE(img.Create(5, 1, 24, 0), nullptr);
    const RasterColor in[5] = {RasterColor::Rgb(255, 0, 0), RasterColor::Rgb(0, 255, 0),
                               RasterColor::Rgb(0, 0, 255), RasterColor::Rgb(255, 255, 255),
                               RasterColor::Rgb(128, 128, 128)};
    for (int x = 0; x < 5; ++x) img.SetColorAt(x, 0, in[x]);
    img.SetDpiX(200);
    ASSERT_TRUE(img.MakeGray());
    EXPECT_EQ(img.BitsPerPixel(), 8u);
    EXPECT_TRUE(img.IsGray());
    const uint8_t expect[5] = {76, 149, 29, 255, 128};
    for (int x = 0; x < 5; ++x) EXPECT_EQ(img.GetIndexAt(x, 0), expect[x]);
    EXPECT_EQ(img.DpiX(), 200);
    EXPECT_EQ(img.header.xPelsPerMeter, 7874);

    // Twice is the same as once.
    CRaster again;
    MakePattern(again, 9, 4);
    ASSERT_TRUE(again.MakeGray());
    std::vector<uint8_t> once(again.RowPointer(0), again.RowPointer(0) + again.header.sizeImage);
    ASSERT_TRUE(again.MakeGray());
    EXPECT_EQ(
        std::vector<uint8_t>(again.RowPointer(0), again.RowPointer(0) + again.header.sizeImage),
        once);
}

TEST(MakeGray, PaletteImages) {
    CRaster img;
    MakeIndexed(img, 6, 2, 8);
    img.SetPaletteColor(3, RasterColor::Rgb(255, 0, 0));
    img.settings.backgroundIndex = 3;
    CRaster ref;
    MakeIndexed(ref, 6, 2, 8);
    ref.SetPaletteColor(3, RasterColor::Rgb(255, 0, 0));
    ASSERT_TRUE(img.MakeGray());
    EXPECT_EQ(img.settings.backgroundIndex, 76);
    EXPECT_TRUE(img.IsGray());
    for (uint32_t y = 0; y < 2; ++y)
        for (uint32_t x = 0; x < 6; ++x) {
            RasterColor c = ref.GetColorAt(x, y);
            EXPECT_EQ(img.GetIndexAt(x, y), (306 * c.red + 601 * c.green + 117 * c.blue) >> 10);
        }

    for (uint32_t bits : {1u, 4u}) {
        CRaster small, before;
        MakeIndexed(small, 11, 3, bits);
        MakeIndexed(before, 11, 3, bits);
        ASSERT_TRUE(small.MakeGray());
        EXPECT_EQ(small.BitsPerPixel(), 8u);
        EXPECT_TRUE(small.IsGray());
        for (uint32_t x = 0; x < 11; ++x) {
            RasterColor c = before.GetColorAt(x, 2);
            EXPECT_EQ(small.GetIndexAt(x, 2), (306 * c.red + 601 * c.green + 117 * c.blue) >> 10);
        }
    }
    CRaster empty;
    EXPECT_FALSE(empty.MakeGray());
}

TEST(MakeGray, KeepsAlphaPlane) {
    CRaster img;
    MakePattern(img, 3, 2);
    img.alphaPlane = static_cast<uint8_t*>(std::malloc(6));
    for (int i = 0; i < 6; ++i) img.alphaPlane[i] = uint8_t(i * 10);
    ASSERT_TRUE(img.MakeGray());
    ASSERT_NE(img.alphaPlane, nullptr);
    EXPECT_EQ(img.alphaPlane[5], 50);
}

TEST(Octree, TextOnWhiteGivesTwoEntries) {
    CRaster page;
    ASSERT_NE(page.Create(100, 40, 24, 0), nullptr);
    page.Fill(255);
    for (uint32_t x = 10; x < 90; ++x) page.SetColorAt(x, 20, RasterColor::Rgb(0, 0, 0));
    OctreeQuantizer q(16, 8);
    ASSERT_TRUE(q.FeedImage(page.pixelBlock));
    EXPECT_EQ(q.LeafCount(), 2u);
    RasterColor table[16];
    for (auto& c : table) c = RasterColor::Rgb(1, 2, 3, 4);
    q.ReadPalette(table);
    EXPECT_EQ(table[0], RasterColor::Rgb(0, 0, 0));
    EXPECT_EQ(table[1], RasterColor::Rgb(255, 255, 255));
    EXPECT_EQ(table[2], RasterColor::Rgb(1, 2, 3, 4)); // nothing more written
}

TEST(Octree, GraysShareLeavesAtSevenBits) {
    CRaster img;
    ASSERT_NE(img.Create(256, 3, 8, 0), nullptr);
    img.SetGrayRamp();
    for (uint32_t x = 0; x < 256; ++x) {
        img.SetIndexAt(x, 0, uint8_t(x));
        img.SetIndexAt(x, 1, uint8_t(x));
        img.SetIndexAt(x, 2, uint8_t(x | 1)); // odd grays twice as often
    }
    OctreeQuantizer q(256, 7);
    ASSERT_TRUE(q.FeedImage(img.pixelBlock));
    EXPECT_EQ(q.LeafCount(), 128u);
    RasterColor table[256];
    q.ReadPalette(table);
    for (int k = 0; k < 128; ++k) {
        uint32_t mean = (2 * k * 1 + (2 * k + 1) * 2) / 3; // one of 2k, two of 2k + 1
        ASSERT_EQ(table[k], RasterColor::Rgb(uint8_t(mean), uint8_t(mean), uint8_t(mean))) << k;
    }
}

TEST(Octree, ReductionMergesMostRecentDeepestNode) {
    OctreeQuantizer q(16, 8);
    q.InsertColor(0, 0, 0, 0);
    q.InsertColor(1, 1, 1, 0);
    q.InsertColor(254, 254, 254, 0);
    q.InsertColor(255, 255, 255, 0);
    EXPECT_EQ(q.LeafCount(), 4u);
    q.ReduceDeepest();
    EXPECT_EQ(q.LeafCount(), 3u);
    RasterColor table[16];
    q.ReadPalette(table);
    EXPECT_EQ(table[0], RasterColor::Rgb(0, 0, 0));
    EXPECT_EQ(table[1], RasterColor::Rgb(1, 1, 1));
    EXPECT_EQ(table[2], RasterColor::Rgb(254, 254, 254));
}

TEST(Octree, StaysWithinThresholdAndMatchesPixelByPixelFeed) {
    // Runs of equal colours with many distinct colours, so that reductions
    // happen in the middle of runs.
    CRaster img;
    ASSERT_NE(img.Create(300, 40, 24, 0), nullptr);
    std::mt19937 rng(7);
    for (uint32_t y = 0; y < 40; ++y) {
        uint32_t x = 0;
        while (x < 300) {
            RasterColor c = RasterColor::Rgb(uint8_t(rng()), uint8_t(rng()), uint8_t(rng()));
            uint32_t run = 1 + rng() % 9;
            for (uint32_t i = 0; i < run && x < 300; ++i, ++x) img.SetColorAt(x, y, c);
        }
    }
    for (uint32_t maxColors : {16u, 256u}) {
        OctreeQuantizer fed(maxColors, 7);
        ASSERT_TRUE(fed.FeedImage(img.pixelBlock));
        EXPECT_LE(fed.LeafCount(), fed.Threshold());

        OctreeQuantizer one(maxColors, 7);
        for (uint32_t y = 0; y < 40; ++y)
            for (uint32_t x = 0; x < 300; ++x) {
                RasterColor c = img.GetColorAt(x, y, false);
                one.InsertColor(c.red, c.green, c.blue, 0);
                while (one.LeafCount() > one.Threshold()) one.ReduceDeepest();
            }
        ASSERT_EQ(fed.LeafCount(), one.LeafCount());
        std::vector<RasterColor> a(fed.LeafCount()), b(one.LeafCount());
        fed.ReadPalette(a.data());
        one.ReadPalette(b.data());
        EXPECT_EQ(a, b) << maxColors;
    }
}

TEST(Octree, SumsHoldAWholePage) {
    CRaster page;
    // 18 million white pixels: their sums need more than 32 bits.
    ASSERT_NE(page.Create(6000, 3000, 24, 0), nullptr);
    page.Fill(255);
    OctreeQuantizer q(256, 7);
    ASSERT_TRUE(q.FeedImage(page.pixelBlock));
    RasterColor table[256];
    q.ReadPalette(table);
    EXPECT_EQ(q.LeafCount(), 1u);
    EXPECT_EQ(table[0], RasterColor::Rgb(255, 255, 255));
}

TEST(Octree, RejectsOtherDepths) {
    CRaster img;
    MakePattern(img, 2, 2);
    std::vector<uint8_t> block(img.pixelBlock, img.pixelBlock + img.BlockSize());
    block[14] = 32;
    OctreeQuantizer q(16, 8);
    EXPECT_FALSE(q.FeedImage(block.data()));
    EXPECT_EQ(q.LeafCount(), 0u);
    EXPECT_FALSE(q.FeedImage(nullptr));
}

TEST(DecreaseBpp, Refusals) {
    CRaster img;
    MakePattern(img, 4, 4);
    std::vector<uint8_t> before(img.pixelBlock, img.pixelBlock + img.BlockSize());
    EXPECT_TRUE(img.DecreaseBpp(24, false, nullptr, 0));
    EXPECT_EQ(std::vector<uint8_t>(img.pixelBlock, img.pixelBlock + img.BlockSize()), before);

    CRaster four;
    MakeIndexed(four, 4, 4, 4);
    EXPECT_FALSE(four.DecreaseBpp(8, false, nullptr, 256));
    EXPECT_STREQ(four.LastError(), "DecreaseBpp: target BPP greater than source BPP");
    EXPECT_EQ(four.BitsPerPixel(), 4u);

    CRaster empty;
    EXPECT_FALSE(empty.DecreaseBpp(1, false, nullptr, 2));
}

TEST(DecreaseBpp, BlackAndWhite) {
    CRaster img;
    ASSERT_NE(img.Create(4, 1, 24, 0), nullptr);
    img.SetColorAt(0, 0, RasterColor::Rgb(128, 128, 128));
    img.SetColorAt(1, 0, RasterColor::Rgb(127, 127, 127));
    img.SetColorAt(2, 0, RasterColor::Rgb(255, 255, 255));
    img.SetColorAt(3, 0, RasterColor::Rgb(0, 10, 0));
    img.SetDpiX(600);
    ASSERT_TRUE(img.DecreaseBpp(1, false, nullptr, 2));
    EXPECT_EQ(img.BitsPerPixel(), 1u);
    EXPECT_EQ(img.ImportantColors(), 2u);
    EXPECT_EQ(img.GetIndexAt(0, 0), 1);
    EXPECT_EQ(img.GetIndexAt(1, 0), 0);
    EXPECT_EQ(img.GetIndexAt(2, 0), 1);
    EXPECT_EQ(img.GetIndexAt(3, 0), 0);
    EXPECT_EQ(img.PaletteColor(1), RasterColor::Rgb(255, 255, 255));
    EXPECT_EQ(img.DpiX(), 600);
    EXPECT_EQ(img.header.xPelsPerMeter, 23622);
}

// The definition, pixel by pixel, for comparing the fast paths against.
static std::vector<uint8_t> ReferenceIndices(const CRaster& src, uint32_t bits,
                                             const RasterColor* pal, uint32_t count) {
    CRaster ref;
    EXPECT_NE(ref.Create(src.Width(), src.Height(), bits, 0), nullptr);
    ref.SetImportantColors(count);
    ref.LoadPalette(pal, count);
    std::vector<uint8_t> out;
    for (uint32_t y = 0; y < src.Height(); ++y)
        for (uint32_t x = 0; x < src.Width(); ++x)
            out.push_back(ref.NearestIndex(src.GetColorAt(x, y, true)));
    return out;
}

TEST(DecreaseBpp, MatchesNearestColourEverywhere) {
    CRaster img;
    ASSERT_NE(img.Create(120, 50, 24, 0), nullptr);
    std::mt19937 rng(3);
    for (uint32_t y = 0; y < 50; ++y)
        for (uint32_t x = 0; x < 120; ++x) {
            // mostly a few repeating colours, some noise
            uint32_t v = rng() % 10 < 7 ? (x / 10) * 23 : rng();
            img.SetColorAt(x, y, RasterColor::Rgb(uint8_t(v), uint8_t(v >> 8), uint8_t(v * 7)));
        }
    OctreeQuantizer q(256, 7);
    ASSERT_TRUE(q.FeedImage(img.pixelBlock));
    RasterColor pal[256] = {};
    q.ReadPalette(pal);

    struct Case {
        uint32_t bits, count;
    } cases[] = {{8, 256}, {4, 16}, {1, 2}};
    for (Case c : cases) {
        CRaster work;
        MakePattern(work, 1, 1);
        work.TakeOver(img, true);
        std::vector<uint8_t> expect = ReferenceIndices(work, c.bits, pal, c.count);
        CRaster copy;
        ASSERT_TRUE(work.Rescale(work.Width(), work.Height(), 1, &copy));
        ASSERT_TRUE(copy.DecreaseBpp(c.bits, false, pal, c.count));
        EXPECT_EQ(copy.BitsPerPixel(), c.bits);
        EXPECT_EQ(copy.ImportantColors(), c.count);
        size_t i = 0;
        for (uint32_t y = 0; y < 50; ++y)
            for (uint32_t x = 0; x < 120; ++x, ++i)
                ASSERT_EQ(copy.GetIndexAt(x, y), expect[i]) << c.bits;
        img.TakeOver(work, true);
    }

    // A palette source re-mapped to fewer bits.
    CRaster eight;
    MakeIndexed(eight, 33, 7, 8);
    std::vector<uint8_t> expect = ReferenceIndices(eight, 4, pal, 16);
    ASSERT_TRUE(eight.DecreaseBpp(4, false, pal, 16));
    size_t i = 0;
    for (uint32_t y = 0; y < 7; ++y)
        for (uint32_t x = 0; x < 33; ++x, ++i) ASSERT_EQ(eight.GetIndexAt(x, y), expect[i]);
}

TEST(DecreaseBpp, TiesGoToTheLowestIndex) {
    // A palette full of repeated and equidistant entries, and every colour of
    // a coarse grid: the cached, green-sorted search must give exactly the
    // plain search's answers.
    RasterColor pal[256];
    for (int i = 0; i < 256; ++i) {
        int k = (i * 7) % 9;
        pal[i] = RasterColor::Rgb(uint8_t(k * 32), uint8_t((k % 3) * 64), uint8_t(k * 16));
    }
    CRaster img;
    ASSERT_NE(img.Create(64, 64, 24, 0), nullptr);
    for (uint32_t y = 0; y < 64; ++y)
        for (uint32_t x = 0; x < 64; ++x)
            img.SetColorAt(x, y,
                           RasterColor::Rgb(uint8_t(x * 4), uint8_t(y * 4), uint8_t((x + y) * 2)));
    std::vector<uint8_t> expect = ReferenceIndices(img, 8, pal, 256);
    ASSERT_TRUE(img.DecreaseBpp(8, false, pal, 256));
    size_t i = 0;
    for (uint32_t y = 0; y < 64; ++y)
        for (uint32_t x = 0; x < 64; ++x, ++i)
            ASSERT_EQ(img.GetIndexAt(x, y), expect[i]) << x << "," << y;
}

TEST(DecreaseBpp, SameDepthRemapsUnlessFewerImportantColours) {
    CRaster img;
    MakeIndexed(img, 5, 5, 8);
    RasterColor gray[256];
    for (int i = 0; i < 256; ++i) gray[i] = RasterColor::Rgb(uint8_t(i), uint8_t(i), uint8_t(i));
    ASSERT_TRUE(img.DecreaseBpp(8, false, gray, 256));
    EXPECT_TRUE(img.IsGray());
    EXPECT_EQ(img.ImportantColors(), 256u);
    img.SetImportantColors(16);
    ASSERT_TRUE(img.DecreaseBpp(8, false, gray, 256)); // 16 < 256: nothing to do
    EXPECT_EQ(img.ImportantColors(), 16u);
}

TEST(DecreaseBpp, ErrorDiffusion) {
    CRaster img;
    ASSERT_NE(img.Create(2, 1, 24, 0), nullptr);
    img.SetColorAt(0, 0, RasterColor::Rgb(100, 100, 100));
    img.SetColorAt(1, 0, RasterColor::Rgb(100, 100, 100));
    ASSERT_TRUE(img.DecreaseBpp(1, true, nullptr, 2));
    // 100 goes black; its error 100 x 7/16 lifts the neighbour to 143: white.
    EXPECT_EQ(img.GetIndexAt(0, 0), 0);
    EXPECT_EQ(img.GetIndexAt(1, 0), 1);

    // A flat mid gray dithers to about half white.
    CRaster flat;
    ASSERT_NE(flat.Create(64, 64, 24, 0), nullptr);
    flat.Fill(128);
    ASSERT_TRUE(flat.DecreaseBpp(1, true, nullptr, 2));
    int white = 0;
    for (uint32_t y = 0; y < 64; ++y)
        for (uint32_t x = 0; x < 64; ++x) white += flat.GetIndexAt(x, y);
    EXPECT_GT(white, 64 * 64 * 4 / 10);
    EXPECT_LT(white, 64 * 64 * 6 / 10);
}
