// The image object: creation limits, pixel and palette access, settings,
// moves between images and the load/save dispatch.
#include "Raster.h"
#include "ImageStream.h"
#include "TestImages.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

using namespace testimg;

TEST(RasterCreate, SizesAndDepths) {
    CRaster img;
    ASSERT_NE(img.Create(1, 1, 24, 0), nullptr);
    EXPECT_EQ(img.RowStride(), 4u);
    EXPECT_EQ(img.header.sizeImage, 4u);
    EXPECT_EQ(img.BlockSize(), 44u);

    ASSERT_NE(img.Create(1, 1, 1, 0), nullptr);
    EXPECT_EQ(img.RowStride(), 4u);
    EXPECT_EQ(img.ColorCount(), 2u);
    EXPECT_EQ(img.BlockSize(), 52u);

    const uint32_t depths[][2] = {{0, 1}, {2, 4}, {5, 8}, {16, 24}, {32, 24}};
    for (auto [asked, made] : depths) {
        ASSERT_NE(img.Create(10, 3, asked, 7), nullptr);
        EXPECT_EQ(img.BitsPerPixel(), made) << asked;
        EXPECT_EQ(img.FormatCode(), 7u);
    }
    // The block's header copy matches the header.
    BitmapInfoHeader copy;
    std::memcpy(&copy, img.pixelBlock, 40);
    EXPECT_EQ(copy.width, 10);
    EXPECT_EQ(copy.bitCount, 24);
    EXPECT_EQ(copy.sizeImage, img.RowStride() * 3);
}

TEST(RasterCreate, Limits) {
    CRaster img;
    EXPECT_EQ(img.Create(0, 5, 24, 0), nullptr);
    EXPECT_STREQ(img.LastError(), "CRaster::Create : width and height must be greater than zero");
    EXPECT_EQ(img.Create(5, 0, 24, 0), nullptr);

    EXPECT_EQ(img.Create(11586, 11586, 24, 0), nullptr);
    EXPECT_STREQ(img.LastError(), "RASTER_MAX_MEMORY exceeded");
    EXPECT_FALSE(img.HasPixels());
    // Products far beyond 64 bits must not wrap into an accepted size.
    EXPECT_EQ(img.Create(0xFFFFFFFFu, 0xFFFFFFFFu, 24, 0), nullptr);
    EXPECT_STREQ(img.LastError(), "RASTER_MAX_MEMORY exceeded");
    // A width the header's signed field cannot hold.
    EXPECT_EQ(img.Create(0x80000000u, 1, 1, 0), nullptr);
    // One pixel wide and very tall: little pixel data but 32 times as much
    // row padding; refused instead of allocating gigabytes.
    EXPECT_EQ(img.Create(1, 1u << 31, 1, 0), nullptr);
    EXPECT_STREQ(img.LastError(), "RASTER_MAX_MEMORY exceeded");

    // Exactly at the limit (192 MiB of pixels) it is allowed.
    uint8_t* block = img.Create(8192, 8192, 24, 0);
    if (block) {
        EXPECT_EQ(img.header.sizeImage, 8192u * 8192u * 3u);
    }
    img.FreeImage();
}

TEST(RasterCreate, FailedCreateEmptiesImage) {
    CRaster img;
    MakePattern(img, 4, 4);
    EXPECT_EQ(img.Create(0, 1, 8, 0), nullptr);
    EXPECT_FALSE(img.HasPixels());
    EXPECT_EQ(img.RowPointer(0), nullptr);
    EXPECT_EQ(img.GetIndexAt(0, 0), 0);
}

TEST(RasterPixels, OutOfRangeReads) {
    CRaster img;
    MakeIndexed(img, 5, 3, 8);
    EXPECT_EQ(img.GetIndexAt(-1, 0), img.GetIndexAt(0, 0));
    EXPECT_EQ(img.GetIndexAt(5, 2), img.GetIndexAt(0, 0));
    img.settings.backgroundIndex = 9;
    EXPECT_EQ(img.GetIndexAt(0, 3), 9);
    EXPECT_EQ(img.GetColorAt(-1, -1), img.PaletteColor(9));

    CRaster bw;
    ASSERT_NE(bw.Create(10, 2, 1, 0), nullptr);
    bw.Fill(0);
    bw.RowPointer(0)[0] = 0xA5;
    EXPECT_EQ(bw.GetIndexAt(-1, 0), 0xA5); // the whole first byte
    EXPECT_EQ(bw.GetIndexAt(0, 0), 1);
    EXPECT_EQ(bw.GetIndexAt(1, 0), 0);

    CRaster rgb;
    MakePattern(rgb, 4, 3);
    EXPECT_TRUE(SameRgb(rgb.GetColorAt(4, 0), PatternColor(0, 0)));
    rgb.settings.backgroundIndex = 0;
    rgb.settings.backgroundColor = RasterColor::Rgb(1, 2, 3);
    EXPECT_EQ(rgb.GetColorAt(4, 0), RasterColor::Rgb(1, 2, 3));

    CRaster empty;
    empty.settings.backgroundColor = RasterColor::Rgb(9, 8, 7, 6);
    EXPECT_EQ(empty.GetColorAt(0, 0), RasterColor::Rgb(9, 8, 7, 6));
    empty.settings.backgroundIndex = 2;
    EXPECT_EQ(empty.GetColorAt(0, 0), RasterColor{});
    empty.SetColorAt(0, 0, RasterColor{}); // no pixels: ignored, no crash
    empty.SetIndexAt(0, 0, 1);
}

TEST(RasterPixels, PackedWritesKeepNeighbours) {
    CRaster img;
    ASSERT_NE(img.Create(9, 1, 1, 0), nullptr);
    img.Fill(0);
    img.SetIndexAt(3, 0, 3); // stored as 3 & 1
    img.SetIndexAt(8, 0, 1);
    EXPECT_EQ(img.RowPointer(0)[0], 0x10);
    EXPECT_EQ(img.RowPointer(0)[1], 0x80);
    img.SetIndexAt(3, 0, 0);
    EXPECT_EQ(img.RowPointer(0)[0], 0x00);

    ASSERT_NE(img.Create(3, 1, 4, 0), nullptr);
    img.Fill(0);
    img.SetIndexAt(0, 0, 0x1A); // stored as 0xA
    img.SetIndexAt(1, 0, 5);
    img.SetIndexAt(2, 0, 15);
    EXPECT_EQ(img.RowPointer(0)[0], 0xA5);
    EXPECT_EQ(img.RowPointer(0)[1], 0xF0);
    EXPECT_EQ(img.GetIndexAt(1, 0), 5);
    img.SetIndexAt(3, 0, 7); // outside: ignored
    EXPECT_EQ(img.RowPointer(0)[1], 0xF0);
}

TEST(RasterPixels, ColoursAndAlpha) {
    CRaster img;
    MakePattern(img, 3, 2);
    img.settings.backgroundColor.reserved = 77;
    EXPECT_EQ(img.GetColorAt(1, 1).reserved, 77);
    EXPECT_EQ(img.GetColorAtUnchecked(1, 1).reserved, 0);
    img.alphaPlane = static_cast<uint8_t*>(std::malloc(6));
    std::memset(img.alphaPlane, 200, 6);
    EXPECT_EQ(img.GetColorAt(1, 1, true).reserved, 200);
    EXPECT_EQ(img.GetColorAt(1, 1, false).reserved, 77);
    img.SetColorAt(2, 1, RasterColor::Rgb(1, 2, 3, 44), true);
    EXPECT_EQ(img.alphaPlane[5], 44);
    EXPECT_EQ(img.GetColorAt(2, 1, true), RasterColor::Rgb(1, 2, 3, 44));
}

TEST(RasterPixels, FillAndFlip) {
    CRaster img;
    ASSERT_NE(img.Create(8, 2, 1, 0), nullptr);
    img.Fill(3);
    EXPECT_EQ(img.RowPointer(1)[0], 255);
    ASSERT_NE(img.Create(2, 2, 4, 0), nullptr);
    img.Fill(0x1F);
    EXPECT_EQ(img.RowPointer(0)[0], 0xFF);
    img.Fill(2);
    EXPECT_EQ(img.RowPointer(0)[0], 0x22);

    MakePattern(img, 3, 3);
    img.alphaPlane = static_cast<uint8_t*>(std::calloc(9, 1));
    img.alphaPlane[0] = 5;
    ASSERT_TRUE(img.FlipRows(false, true));
    EXPECT_TRUE(SameRgb(img.GetColorAt(1, 0), PatternColor(1, 2)));
    EXPECT_TRUE(SameRgb(img.GetColorAt(1, 1), PatternColor(1, 1)));
    EXPECT_EQ(img.alphaPlane[6], 5);
    CRaster empty;
    EXPECT_FALSE(empty.FlipRows(true, true));
}

TEST(RasterPalette, NearestIndexAndCache) {
    CRaster img;
    ASSERT_NE(img.Create(2, 2, 4, 0), nullptr);
    img.SetPaletteColor(2, RasterColor::Rgb(100, 100, 100));
    img.SetPaletteColor(5, RasterColor::Rgb(100, 100, 100));
    img.SetPaletteColor(7, RasterColor::Rgb(250, 0, 0));
    EXPECT_EQ(img.NearestIndex(RasterColor::Rgb(101, 99, 100)), 2);
    EXPECT_EQ(img.NearestIndex(RasterColor::Rgb(240, 10, 0)), 7);

    // The same colour again is answered from the cache, even when the palette
    // memory changed behind its back...
    img.Palette()[7] = RasterColor::Rgb(0, 0, 250);
    EXPECT_EQ(img.NearestIndex(RasterColor::Rgb(240, 10, 0)), 7);
    // ...but every palette write through the image clears it.
    img.SetPaletteColor(8, RasterColor::Rgb(0, 0, 0));
    EXPECT_NE(img.NearestIndex(RasterColor::Rgb(240, 10, 0)), 7);

    // The important colours limit the search; a count beyond the palette
    // must not read past it.
    img.SetImportantColors(3);
    EXPECT_EQ(img.NearestIndex(RasterColor::Rgb(0, 0, 250)), 2);
    img.header.clrImportant = 5000;
    img.SetPaletteColor(0, RasterColor::Rgb(1, 1, 1));
    EXPECT_LT(img.NearestIndex(RasterColor::Rgb(3, 3, 3)), 16);

    CRaster rgb;
    MakePattern(rgb, 2, 2);
    EXPECT_EQ(rgb.NearestIndex(RasterColor::Rgb(1, 2, 3)), 0);
}

TEST(RasterPalette, RampsAndImportantColours) {
    CRaster img;
    ASSERT_NE(img.Create(2, 2, 4, 0), nullptr);
    img.SetGrayRamp();
    EXPECT_EQ(img.PaletteColor(3), RasterColor::Rgb(51, 51, 51));
    EXPECT_EQ(img.PaletteColor(15), RasterColor::Rgb(255, 255, 255));
    EXPECT_FALSE(img.IsGray()); // 0, 17, ... is not the index ramp
    img.SetImportantColors(40);
    EXPECT_EQ(img.ImportantColors(), 16u);
    img.SetImportantColors(300);
    EXPECT_EQ(img.ImportantColors(), 0u);

    ASSERT_NE(img.Create(2, 2, 8, 0), nullptr);
    img.SetGrayRamp();
    EXPECT_TRUE(img.IsGray());
    img.SetImportantColors(200);
    EXPECT_EQ(img.ImportantColors(), 200u);

    ASSERT_NE(img.Create(2, 2, 1, 0), nullptr);
    img.SetGrayRamp();
    EXPECT_EQ(img.PaletteColor(1), RasterColor::Rgb(255, 255, 255));
    img.SetPaletteColor(1, RasterColor::Rgb(9, 9, 9));
    img.SetDefaultPalette();
    EXPECT_EQ(img.PaletteColor(0), RasterColor::Rgb(0, 0, 0));
    EXPECT_EQ(img.PaletteColor(1), RasterColor::Rgb(255, 255, 255));
    img.SetImportantColors(16);
    EXPECT_EQ(img.ImportantColors(), 2u);
    EXPECT_EQ(img.PaletteColor(2), RasterColor{}); // beyond the palette

    uint8_t r, g, b;
    EXPECT_TRUE(img.PaletteComponents(1, r, g, b));
    EXPECT_EQ(r, 255);
    EXPECT_FALSE(img.PaletteComponents(2, r, g, b));
    CRaster rgb;
    MakePattern(rgb, 1, 1);
    EXPECT_FALSE(rgb.PaletteComponents(0, r, g, b));
    EXPECT_FALSE(rgb.IsGray());
}

TEST(RasterPalette, LoadPaletteIsBounded) {
    CRaster img;
    ASSERT_NE(img.Create(2, 2, 1, 0), nullptr);
    RasterColor table[256];
    for (int i = 0; i < 256; ++i) table[i] = RasterColor::Rgb(uint8_t(i), 0, 0);
    img.LoadPalette(table, 256); // only two entries fit
    EXPECT_EQ(img.PaletteColor(1).red, 1);
    img.LoadPalette(nullptr, 2);
    EXPECT_EQ(img.PaletteColor(1).red, 1);
}

TEST(RasterPalette, SwapEntriesKeepsPicture) {
    CRaster img;
    MakeIndexed(img, 7, 5, 4);
    CRaster before;
    MakeIndexed(before, 7, 5, 4);
    img.SwapPaletteEntries(1, 4);
    EXPECT_EQ(img.PaletteColor(1), before.PaletteColor(4));
    EXPECT_TRUE(SamePixels(img, before));
    EXPECT_EQ(img.GetIndexAt(1, 0), 4);
    img.SwapPaletteEntries(1, 200); // beyond the palette: nothing
    EXPECT_TRUE(SamePixels(img, before));
}

TEST(RasterPalette, SwapRedBlueStaysInsideTheBuffer) {
    CRaster img;
    MakePattern(img, 4, 1);
    uint8_t row[16];
    for (int i = 0; i < 16; ++i) row[i] = uint8_t(i);
    img.SwapRedBlue(row, 16); // limited to 3 x width = 12 bytes
    EXPECT_EQ(row[0], 2);
    EXPECT_EQ(row[2], 0);
    EXPECT_EQ(row[11], 9);
    EXPECT_EQ(row[12], 12);
    uint8_t small[5] = {1, 2, 3, 4, 5};
    img.SwapRedBlue(small, 5); // the cut pixel would reach small[5]
    EXPECT_EQ(small[0], 3);
    EXPECT_EQ(small[3], 4);
    EXPECT_EQ(small[4], 5);

    CRaster pal;
    MakeIndexed(pal, 4, 1, 8);
    uint8_t keep[3] = {1, 2, 3};
    pal.SwapRedBlue(keep, 3);
    EXPECT_EQ(keep[0], 1);
}

TEST(RasterSettings, Resolution) {
    CRaster img;
    EXPECT_EQ(img.DpiX(), 96);
    EXPECT_EQ(img.header.xPelsPerMeter, 3780);
    const int32_t cases[][2] = {{72, 2835}, {96, 3780}, {150, 5906}, {300, 11811}, {600, 23622}};
    ASSERT_NE(img.Create(2, 2, 8, 0), nullptr);
    for (auto [dpi, ppm] : cases) {
        img.SetDpiX(dpi);
        img.SetDpiY(dpi);
        EXPECT_EQ(img.header.xPelsPerMeter, ppm);
        EXPECT_EQ(img.header.yPelsPerMeter, ppm);
        BitmapInfoHeader copy;
        std::memcpy(&copy, img.pixelBlock, 40);
        EXPECT_EQ(copy.xPelsPerMeter, ppm);
        EXPECT_EQ(copy.yPelsPerMeter, ppm);
    }
    img.SetDpiX(0);
    EXPECT_EQ(img.DpiX(), 96);
    EXPECT_EQ(img.header.xPelsPerMeter, 3780);
    img.SetDpiY(-5);
    EXPECT_EQ(img.DpiY(), 96);
    img.SetDpiX(INT32_MAX); // saturates instead of overflowing
    EXPECT_EQ(img.header.xPelsPerMeter, INT32_MAX);
}

TEST(RasterSettings, QualityAndEncodeOptions) {
    CRaster img(kFormatPNG);
    EXPECT_EQ(img.GetQuality(), 90);
    img.SetQuality(255);
    EXPECT_EQ(img.GetQuality(), 255);
    img.settings.qualityLevel = 74.5f;
    EXPECT_EQ(img.GetQuality(), 75);

    EXPECT_TRUE(img.SetEncodeOption(16, 3));
    EXPECT_EQ(img.settings.encodeOptions[3], 16u);
    EXPECT_TRUE(img.SetEncodeOption(5, 30));
    EXPECT_EQ(img.settings.encodeOptions[kFormatPNG], 5u);
    EXPECT_EQ(img.GetEncodeOption(0), 5u);
    EXPECT_EQ(img.GetEncodeOption(3), 16u);
    EXPECT_EQ(img.GetEncodeOption(6), 0u);
    img.settings.formatCode = 99; // an invalid own code falls back to slot 0
    img.SetEncodeOption(8, 0);
    EXPECT_EQ(img.settings.encodeOptions[0], 8u);
}

TEST(RasterSettings, LastErrorIsCut) {
    CRaster img;
    std::string longText(400, 'x');
    img.SetLastError(longText);
    EXPECT_EQ(std::strlen(img.LastError()), 255u);
    img.SetLastError(img.LastError()); // copying onto itself is safe
    EXPECT_EQ(std::strlen(img.LastError()), 255u);
}

TEST(RasterMoves, TakeOverCopySettingsAndViews) {
    CRaster a;
    MakePattern(a, 5, 4);
    a.SetDpiX(300);
    a.SetQuality(40);

    CRaster b;
    b.CopySettings(a);
    EXPECT_EQ(b.DpiX(), 300);
    EXPECT_EQ(b.GetQuality(), 40);
    EXPECT_EQ(b.settings.pixels, nullptr);   // not a's memory
    EXPECT_EQ(b.header.xPelsPerMeter, 3780); // header not copied

    CRaster c;
    MakeIndexed(c, 2, 2, 8);
    c.CopySettings(a); // has pixels: nothing happens
    EXPECT_EQ(c.DpiX(), 96);

    ASSERT_TRUE(b.TakeOver(a, true));
    EXPECT_FALSE(a.HasPixels());
    EXPECT_EQ(a.RowPointer(0), nullptr);
    EXPECT_EQ(b.Width(), 5u);
    EXPECT_TRUE(SameRgb(b.GetColorAt(4, 3), PatternColor(4, 3)));

    {
        CRaster view;
        view.MakeView(b);
        EXPECT_EQ(view.pixelBlock, b.pixelBlock);
        EXPECT_FALSE(view.FreeImage());
        EXPECT_EQ(view.Create(3, 3, 8, 0), nullptr);
        CRaster other;
        MakePattern(other, 2, 2);
        EXPECT_FALSE(view.TakeOver(other, true));
        EXPECT_FALSE(other.TakeOver(view, true)); // a view's memory is not its own
        // A copy made from a view is an image of its own.
        CRaster fromView;
        fromView.CopySettings(view);
        EXPECT_NE(fromView.Create(2, 2, 24, 0), nullptr);
    }
    // Destroying the view freed nothing.
    EXPECT_TRUE(SameRgb(b.GetColorAt(4, 3), PatternColor(4, 3)));
    EXPECT_TRUE(b.TakeOver(b, true));
    EXPECT_TRUE(b.HasPixels());
}

TEST(RasterFiles, EncodeDispatch) {
    CRaster img;
    MakePattern(img, 2, 2);
    MemoryStream stream;
    ASSERT_TRUE(stream.OpenEmpty());
    EXPECT_FALSE(img.Encode(&stream, 0));
    EXPECT_STREQ(img.LastError(), "Encode: Unknown format");
    EXPECT_FALSE(img.Encode(&stream, 22));
    EXPECT_STREQ(img.LastError(), "Encode: Unknown format");
    EXPECT_FALSE(img.Encode(&stream, kFormatWMF));
    EXPECT_STREQ(img.LastError(), "Save WMF not supported");
    EXPECT_FALSE(img.Encode(&stream, kFormatRAW));
    EXPECT_STREQ(img.LastError(), "Save RAW not supported");
    EXPECT_FALSE(img.Encode(static_cast<ImageStream*>(nullptr), kFormatBMP));
    EXPECT_STREQ(img.LastError(), "null file handler");
    EXPECT_TRUE(img.Encode(&stream, kFormatBMP));
    EXPECT_EQ(stream.Size(), int64_t(14 + img.BlockSize()));
}

TEST(RasterFiles, DecodeDispatch) {
    CRaster img;
    EXPECT_FALSE(img.Decode(static_cast<ImageStream*>(nullptr), 1));
    EXPECT_STREQ(img.LastError(), "null file handler");
    EXPECT_FALSE(img.Decode(static_cast<FILE*>(nullptr), 1));
    EXPECT_STREQ(img.LastError(), "null file handler");
    uint8_t junk[64] = {1, 2, 3};
    MemoryStream stream(junk, sizeof junk);
    EXPECT_FALSE(img.Decode(&stream, 30));
    EXPECT_STREQ(img.LastError(), "Decode: Unknown or wrong format");
    EXPECT_FALSE(img.Decode(&stream, 21));
    EXPECT_STREQ(img.LastError(), "Decode: Unknown or wrong format");
    stream.Seek(0, 0);
    EXPECT_FALSE(img.Decode(&stream, 0));
    EXPECT_STREQ(img.LastError(), "Decode: Unknown or wrong format");

    // Detection finds a BMP that starts further into the stream.
    CRaster src;
    MakePattern(src, 3, 2);
    MemoryStream data;
    ASSERT_TRUE(data.OpenEmpty());
    data.Write("abc", 1, 3);
    ASSERT_TRUE(src.Encode(&data, kFormatBMP));
    data.Seek(3, 0);
    ASSERT_TRUE(img.Decode(&data, 0)) << img.LastError();
    EXPECT_EQ(img.FormatCode(), uint32_t(kFormatBMP));
    EXPECT_TRUE(SamePixels(img, src));
}

TEST(RasterFiles, SaveAndLoadFiles) {
    TempDir dir;
    CRaster empty;
    std::string path = dir.File("empty.bmp");
    EXPECT_FALSE(empty.SaveFile(path, kFormatBMP));
    EXPECT_STREQ(empty.LastError(), "null image!!!");
    EXPECT_TRUE(std::filesystem::exists(path));
    EXPECT_EQ(std::filesystem::file_size(path), 0u);

    CRaster img;
    MakePattern(img, 6, 3);
    img.SetLastError("before");
    EXPECT_FALSE(img.SaveFile(dir.File("no/such/folder.bmp"), kFormatBMP));
    EXPECT_STREQ(img.LastError(), "before");
    EXPECT_FALSE(img.LoadFile(dir.File("missing.bmp"), kFormatBMP));
    EXPECT_STREQ(img.LastError(), "before");
    EXPECT_TRUE(img.HasPixels());

    // A file that is not a BMP: the typed attempt's message is kept, and the
    // image keeps its content.
    WriteBytes(dir.File("x.png"), {0x89, 'P', 'N', 'G', 13, 10, 26, 10, 0, 0, 0, 13, 'I', 'H', 'D',
                                   'R',  0,   0,   0,   1,  0,  0,  0,  1, 8, 2, 0,  0,   0});
    EXPECT_FALSE(img.LoadFile(dir.File("x.png"), kFormatBMP));
    EXPECT_STREQ(img.LastError(), "Error reading BMP info");
    EXPECT_TRUE(SameRgb(img.GetColorAt(5, 2), PatternColor(5, 2)));

    ASSERT_TRUE(img.SaveFile(dir.File("ok.bmp"), kFormatBMP));
    CRaster back;
    ASSERT_TRUE(back.LoadFile(dir.File("ok.bmp"), 0)) << back.LastError();
    EXPECT_TRUE(SamePixels(back, img));
}

TEST(RasterFiles, WriteFailureIsNotSuccess) {
    if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    CRaster img;
    MakePattern(img, 64, 64);
    EXPECT_FALSE(img.SaveFile("/dev/full", kFormatBMP));
}
