#include "RasterPNG.h"
#include "WriterTestSupport.h"

#include <gtest/gtest.h>
#include <png.h>

#include <cstdio>

using namespace writertest;

namespace {

struct PngFile {
    bool ok = false;
    int colorType = -1;
    int bitDepth = 0;
    int interlace = -1;
    int paletteCount = 0;
    png_color palette[256] = {};
    bool hasBackground = false;
    png_color_16 background{};
    bool hasPhys = false;
    png_uint_32 physX = 0, physY = 0;
    int unit = -1;
    int transparentCount = 0;
    png_byte transparentAlpha[256] = {};
    Picture picture; // expanded to 8-bit RGB, alpha dropped
};

// libpng's reading side with its expansions does the decoding.
PngFile ReadPng(const std::string& path) {
    PngFile result;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return result;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        std::fclose(f);
        return result;
    }
    png_init_io(png, f);
    png_read_info(png, info);
    png_uint_32 w, h;
    png_get_IHDR(png, info, &w, &h, &result.bitDepth, &result.colorType, &result.interlace, nullptr,
                 nullptr);
    png_colorp palette = nullptr;
    if (png_get_PLTE(png, info, &palette, &result.paletteCount))
        std::copy(palette, palette + result.paletteCount, result.palette);
    png_color_16p background = nullptr;
    if (png_get_bKGD(png, info, &background)) {
        result.hasBackground = true;
        result.background = *background;
    }
    result.hasPhys = png_get_pHYs(png, info, &result.physX, &result.physY, &result.unit) != 0;
    png_bytep alpha = nullptr;
    png_color_16p trnsColor = nullptr;
    if (png_get_tRNS(png, info, &alpha, &result.transparentCount, &trnsColor) && alpha)
        std::copy(alpha, alpha + result.transparentCount, result.transparentAlpha);
    png_set_expand(png);
    png_set_strip_16(png);
    png_set_strip_alpha(png);
    png_set_gray_to_rgb(png);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    result.picture.width = w;
    result.picture.height = h;
    result.picture.rgb.resize(size_t(3) * w * h);
    std::vector<png_bytep> rows(h);
    for (png_uint_32 y = 0; y < h; ++y) rows[y] = &result.picture.rgb[size_t(3) * w * y];
    png_read_image(png, rows.data());
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(f);
    result.ok = true;
    return result;
}

std::string SavePng(CRaster& image, const std::string& name) {
    const std::string path = TempPath(name);
    EXPECT_TRUE(image.SaveFile(path, kFormatPNG)) << image.LastError();
    return path;
}

} // namespace

TEST(PngWriter, EveryDepthIsExactWithItsColourType) {
    struct Case {
        Kind kind;
        int colorType;
        int bitDepth;
        int paletteCount;
    } cases[] = {
        {Kind::BlackWhite, PNG_COLOR_TYPE_PALETTE, 1, 2},
        {Kind::WhiteBlack, PNG_COLOR_TYPE_PALETTE, 1, 2},
        {Kind::Color16, PNG_COLOR_TYPE_PALETTE, 4, 16},
        {Kind::Gray16, PNG_COLOR_TYPE_PALETTE, 4, 16},
        {Kind::Color256, PNG_COLOR_TYPE_PALETTE, 8, 256},
        {Kind::GrayRamp, PNG_COLOR_TYPE_GRAY, 8, 0},
        {Kind::TrueColor, PNG_COLOR_TYPE_RGB, 8, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.kind));
        CRaster image;
        MakeImage(image, c.kind, 131, 47, true);
        image.SetDpiX(300);
        image.SetDpiY(150);
        const PngFile png = ReadPng(SavePng(image, "p" + std::to_string(int(c.kind)) + ".png"));
        ASSERT_TRUE(png.ok);
        EXPECT_EQ(png.colorType, c.colorType);
        EXPECT_EQ(png.bitDepth, c.bitDepth);
        EXPECT_EQ(png.paletteCount, c.paletteCount);
        EXPECT_EQ(png.interlace, PNG_INTERLACE_NONE);
        EXPECT_TRUE(png.hasPhys);
        EXPECT_EQ(png.physX, 11811u);
        EXPECT_EQ(png.physY, 5906u);
        EXPECT_EQ(png.unit, PNG_RESOLUTION_METER);
        ASSERT_TRUE(png.hasBackground);
        if (c.colorType == PNG_COLOR_TYPE_RGB) {
            EXPECT_EQ(png.background.red, 255);
            EXPECT_EQ(png.background.blue, 255);
        } else if (c.colorType == PNG_COLOR_TYPE_GRAY) {
            EXPECT_EQ(png.background.gray, 0);
        } else {
            EXPECT_EQ(png.background.index, 0);
        }
        EXPECT_EQ(MaxDifference(png.picture, Expected(image)), 0);
    }
}

TEST(PngWriter, InterlaceOnOptionWordOne) {
    CRaster image;
    MakeImage(image, Kind::Color16, 37, 29, true);
    image.SetEncodeOption(1, kFormatPNG);
    PngFile png = ReadPng(SavePng(image, "adam7.png"));
    EXPECT_EQ(png.interlace, PNG_INTERLACE_ADAM7);
    EXPECT_EQ(MaxDifference(png.picture, Expected(image)), 0);
    image.SetEncodeOption(2, kFormatPNG);
    EXPECT_EQ(ReadPng(SavePng(image, "plain.png")).interlace, PNG_INTERLACE_NONE);
}

TEST(PngWriter, TransparentIndexMovesToEntryZeroInTheFileOnly) {
    CRaster image;
    MakeImage(image, Kind::Color256, 40, 30, true);
    image.settings.backgroundIndex = 5;
    const Picture before = Expected(image);
    const RasterColor entry5 = image.PaletteColor(5);
    const PngFile png = ReadPng(SavePng(image, "trns.png"));
    ASSERT_TRUE(png.ok);
    EXPECT_EQ(png.transparentCount, 1);
    EXPECT_EQ(png.transparentAlpha[0], 0);
    EXPECT_EQ(png.palette[0].red, entry5.red);
    EXPECT_EQ(png.palette[0].blue, entry5.blue);
    EXPECT_EQ(png.background.index, 0);
    EXPECT_EQ(png.background.red, entry5.red);
    EXPECT_EQ(MaxDifference(png.picture, before), 0);
    // The caller's image is as it was.
    EXPECT_EQ(image.PaletteColor(5), entry5);
    EXPECT_EQ(MaxDifference(Expected(image), before), 0);

    // Also when the write fails half-way.
    FailingStream full(300);
    EXPECT_FALSE(image.Encode(&full, kFormatPNG));
    EXPECT_STREQ(image.LastError(), "Error saving PNG file");
    EXPECT_EQ(image.PaletteColor(5), entry5);
    EXPECT_EQ(MaxDifference(Expected(image), before), 0);
}

TEST(PngWriter, SmallGrayRampsKeepTheirLevels) {
    // Entry i = gray i at 1 bit: as a PNG gray image level 1 would be white.
    CRaster image;
    image.Create(9, 3, 1, 0);
    image.SetPaletteColor(0, RasterColor::Rgb(0, 0, 0));
    image.SetPaletteColor(1, RasterColor::Rgb(1, 1, 1));
    for (uint32_t x = 0; x < 9; ++x)
        for (uint32_t y = 0; y < 3; ++y) image.SetIndexAt(x, y, uint8_t((x + y) & 1));
    const PngFile png = ReadPng(SavePng(image, "dark.png"));
    EXPECT_EQ(png.colorType, PNG_COLOR_TYPE_PALETTE);
    EXPECT_EQ(MaxDifference(png.picture, Expected(image)), 0);
}

TEST(PngWriter, FailuresAndOddSizes) {
    CRaster image;
    MemoryStream out;
    out.OpenEmpty();
    EXPECT_FALSE(image.Encode(&out, kFormatPNG));
    EXPECT_STREQ(image.LastError(), "null image!!!");
    MakeImage(image, Kind::TrueColor, 200, 100, true);
    for (size_t budget : {size_t(0), size_t(8), size_t(40), size_t(2000)}) {
        FailingStream full(budget);
        EXPECT_FALSE(image.Encode(&full, kFormatPNG));
        EXPECT_STREQ(image.LastError(), "Error saving PNG file");
    }
    const std::pair<uint32_t, uint32_t> sizes[] = {{1, 1}, {70000, 1}, {1, 70000}};
    for (Kind kind : {Kind::BlackWhite, Kind::Color16, Kind::Color256, Kind::TrueColor}) {
        for (auto [w, h] : sizes) {
            SCOPED_TRACE(std::to_string(int(kind)) + " " + std::to_string(w));
            CRaster odd;
            MakeImage(odd, kind, w, h, true);
            const PngFile png = ReadPng(SavePng(odd, "odd.png"));
            ASSERT_TRUE(png.ok);
            EXPECT_EQ(MaxDifference(png.picture, Expected(odd)), 0);
        }
    }
}
