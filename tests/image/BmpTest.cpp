// The BMP codec: files written by an independent writer (ImageMagick's
// convert) must load with exactly the pixels that went in; hand-made variants
// and broken files must load or fail as the format says, never crash.
#include "ImageStream.h"
#include "Raster.h"
#include "RasterBMP.h"
#include "TestImages.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

using namespace testimg;

namespace {

bool DecodeBytes(CRaster& img, const std::vector<uint8_t>& bytes) {
    std::vector<uint8_t> copy = bytes; // the stream gets a buffer of its own
    MemoryStream s(copy.data(), int32_t(copy.size()));
    return img.Decode(&s, kFormatBMP);
}

std::vector<uint8_t> EncodeBytes(CRaster& img) {
    MemoryStream s;
    EXPECT_TRUE(s.OpenEmpty());
    EXPECT_TRUE(img.Encode(&s, kFormatBMP)) << img.LastError();
    return std::vector<uint8_t>(s.buffer, s.buffer + s.size);
}

// Header fields of a BMP file with a 40-byte or larger info header.
struct Fields {
    uint32_t fileSize, offset, headerSize, sizeImage, clrUsed, clrImportant;
    int32_t width, height, xppm, yppm;
    uint16_t bits;
    uint32_t compression;
};

Fields Parse(const std::vector<uint8_t>& d) {
    Fields f{};
    f.fileSize = Le32(d, 2);
    f.offset = Le32(d, 10);
    f.headerSize = Le32(d, 14);
    f.width = int32_t(Le32(d, 18));
    f.height = int32_t(Le32(d, 22));
    f.bits = uint16_t(d[28] | d[29] << 8);
    f.compression = Le32(d, 30);
    f.sizeImage = Le32(d, 34);
    f.xppm = int32_t(Le32(d, 38));
    f.yppm = int32_t(Le32(d, 42));
    f.clrUsed = Le32(d, 46);
    f.clrImportant = Le32(d, 50);
    return f;
}

// A picture of few colours, so the independent writer can make palette files.
void MakeFewColours(CRaster& img, uint32_t w, uint32_t h, uint32_t colours) {
    ASSERT_NE(img.Create(w, h, 24, 0), nullptr);
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
            uint32_t k = (x / 3 + y * 5) % colours;
            img.SetColorAt(
                x, y, RasterColor::Rgb(uint8_t(k * 41), uint8_t(255 - k * 13), uint8_t(k * k)));
        }
}

class IndependentWriter : public ::testing::Test {
protected:
    void SetUp() override {
        if (!HaveConvert()) GTEST_SKIP() << "ImageMagick's convert not found at " << kConvert;
    }
    // Writes source as PPM, has convert turn it into a BMP with the given
    // options and output prefix, and loads the result.
    void Load(const CRaster& source, const std::string& options, CRaster& out, const char* name) {
        std::string ppm = dir.File(std::string(name) + ".ppm");
        std::string bmp = dir.File(std::string(name) + ".bmp");
        WritePpm(source, ppm);
        ASSERT_TRUE(Convert(ppm + " " + options + bmp)) << options;
        bytes = ReadBytes(bmp);
        ASSERT_TRUE(out.LoadFile(bmp, kFormatBMP)) << options << ": " << out.LastError();
    }
    TempDir dir;
    std::vector<uint8_t> bytes;
};

} // namespace

TEST_F(IndependentWriter, TrueColourVariants) {
    CRaster src;
    MakePattern(src, 37, 13); // rows need padding
    const char* variants[][2] = {{"BMP3:", "v3"}, {"BMP2:", "os2"}, {"BMP:", "v5"}};
    for (auto& v : variants) {
        CRaster img;
        std::string name = v[1];
        std::string ppm = dir.File(name + ".ppm"), bmp = dir.File(name + ".bmp");
        WritePpm(src, ppm);
        ASSERT_TRUE(Convert(ppm + " " + v[0] + bmp));
        ASSERT_TRUE(img.LoadFile(bmp, kFormatBMP)) << name << ": " << img.LastError();
        EXPECT_EQ(img.BitsPerPixel(), 24u) << name;
        EXPECT_TRUE(SamePixels(img, src)) << name;
    }
}

TEST_F(IndependentWriter, PaletteVariants) {
    struct Case {
        uint32_t colours;
        const char* options;
        uint32_t bits;
        uint32_t compression;
    } cases[] = {
        {2, "-type palette BMP3:", 1, 0},
        {9, "-type palette BMP3:", 4, 0},
        {9, "-type palette BMP2:", 4, 0},
        {60, "-type palette -compress None BMP3:", 8, 0},
        {60, "-type palette -compress RLE BMP3:", 8, 1},
    };
    int n = 0;
    for (const Case& c : cases) {
        CRaster src, img;
        MakeFewColours(src, 29, 11, c.colours);
        std::string name = "pal" + std::to_string(n++);
        Load(src, c.options, img, name.c_str());
        EXPECT_EQ(img.BitsPerPixel(), c.bits) << c.options;
        if (Le32(bytes, 14) == 40) {
            EXPECT_EQ(Le32(bytes, 30), c.compression) << c.options << " " << c.colours;
        }
        EXPECT_TRUE(SamePixels(img, src)) << c.options << " " << c.colours;
    }
}

TEST_F(IndependentWriter, BitfieldVariants) {
    CRaster src, img;
    MakePattern(src, 21, 9);
    Load(src, "-define bmp:subtype=RGB565 BMP:", img, "rgb565");
    ASSERT_EQ(Le32(bytes, 30), 3u);
    ASSERT_EQ(bytes[28], 16);
    // Expected values from the file's own 16-bit words.
    const uint32_t offset = Le32(bytes, 10);
    const uint32_t stride = ((21 + 1) / 2) * 4;
    for (uint32_t y = 0; y < 9; ++y)
        for (uint32_t x = 0; x < 21; ++x) {
            uint32_t w = bytes[offset + y * stride + 2 * x] | bytes[offset + y * stride + 2 * x + 1]
                                                                  << 8;
            RasterColor expect = RasterColor::Rgb(
                uint8_t((w >> 11) << 3), uint8_t(((w >> 5) & 63) << 2), uint8_t((w & 31) << 3));
            ASSERT_EQ(img.GetColorAt(x, y, false), expect) << x << "," << y;
        }

    CRaster img555;
    Load(src, "-define bmp:subtype=RGB555 BMP:", img555, "rgb555");
    const uint32_t offset555 = Le32(bytes, 10);
    for (uint32_t y = 0; y < 9; ++y)
        for (uint32_t x = 0; x < 21; ++x) {
            size_t at = offset555 + y * stride + 2 * x;
            uint32_t w = bytes[at] | bytes[at + 1] << 8;
            RasterColor expect =
                RasterColor::Rgb(uint8_t(((w >> 10) & 31) << 3), uint8_t(((w >> 5) & 31) << 3),
                                 uint8_t((w & 31) << 3));
            ASSERT_EQ(img555.GetColorAt(x, y, false), expect) << x << "," << y;
        }
}

TEST_F(IndependentWriter, ThirtyTwoBitsWithAlpha) {
    CRaster src, img;
    MakePattern(src, 10, 6);
    std::string ppm = dir.File("a.ppm"), bmp = dir.File("a.bmp");
    WritePpm(src, ppm);
    ASSERT_TRUE(
        Convert(ppm + " -alpha set -channel A -fx 0.5 -define bmp3:alpha=true BMP3:" + bmp));
    bytes = ReadBytes(bmp);
    if (bytes.size() < 30 || bytes[28] != 32) GTEST_SKIP() << "convert wrote no 32-bit file";
    ASSERT_TRUE(img.LoadFile(bmp, kFormatBMP)) << img.LastError();
    EXPECT_EQ(img.BitsPerPixel(), 24u);
    ASSERT_NE(img.alphaPlane, nullptr);
    EXPECT_TRUE(SamePixels(img, src));
    const uint32_t offset = Le32(bytes, 10);
    EXPECT_EQ(img.GetColorAt(3, 2, true).reserved, bytes[offset + (2 * 10 + 3) * 4 + 3]);
    EXPECT_NEAR(img.alphaPlane[0], 128, 1);

    // Saving it again writes a 32-bit file that loads the same.
    std::vector<uint8_t> saved = EncodeBytes(img);
    EXPECT_EQ(saved[28], 32);
    CRaster back;
    ASSERT_TRUE(DecodeBytes(back, saved));
    EXPECT_TRUE(SamePixels(back, img));
    EXPECT_EQ(0, std::memcmp(back.alphaPlane, img.alphaPlane, 60));
}

TEST(BmpRead, RendererPageKeepsRowsAndResolution) {
    CRaster page;
    MakePattern(page, 31, 7);
    page.SetDpiX(300);
    page.SetDpiY(300);
    std::vector<uint8_t> file = EncodeBytes(page);
    Put32(file, 50, 77); // important colours in the input
    CRaster img;
    ASSERT_TRUE(DecodeBytes(img, file));
    EXPECT_EQ(img.DpiX(), 300);
    EXPECT_EQ(img.DpiY(), 300);
    EXPECT_EQ(img.FormatCode(), uint32_t(kFormatBMP));
    std::vector<uint8_t> again = EncodeBytes(img);
    Fields f = Parse(again);
    EXPECT_EQ(f.xppm, 11811);
    EXPECT_EQ(f.clrImportant, 0u);
    EXPECT_EQ(f.offset, 54u);
    ASSERT_EQ(again.size(), file.size());
    EXPECT_TRUE(std::equal(again.begin() + 54, again.end(), file.begin() + 54));

    // No resolution in the file means 96 dpi.
    Put32(file, 38, 0);
    ASSERT_TRUE(DecodeBytes(img, file));
    EXPECT_EQ(img.DpiX(), 96);
    EXPECT_EQ(img.DpiY(), 300);
}

TEST(BmpRead, TopDownAndBareHeader) {
    CRaster src;
    MakePattern(src, 5, 4);
    std::vector<uint8_t> file = EncodeBytes(src);
    const uint32_t stride = src.RowStride();

    // Top-down: negative height, rows stored top row first.
    std::vector<uint8_t> topDown(file.begin(), file.begin() + 54);
    Put32(topDown, 22, uint32_t(-4));
    for (uint32_t r = 4; r-- > 0;)
        topDown.insert(topDown.end(), file.begin() + 54 + r * stride,
                       file.begin() + 54 + (r + 1) * stride);
    CRaster img;
    ASSERT_TRUE(DecodeBytes(img, topDown));
    EXPECT_EQ(img.Height(), 4u);
    EXPECT_TRUE(SamePixels(img, src));

    // Without the 14-byte file header the pixels follow header and palette.
    CRaster pal;
    MakeIndexed(pal, 6, 3, 4);
    std::vector<uint8_t> packed = EncodeBytes(pal);
    packed.erase(packed.begin(), packed.begin() + 14);
    ASSERT_TRUE(DecodeBytes(img, packed));
    EXPECT_EQ(img.BitsPerPixel(), 4u);
    EXPECT_TRUE(SamePixels(img, pal));
}

TEST(BmpRead, InfoHeaderSizes) {
    CRaster src;
    MakeIndexed(src, 6, 3, 8);
    std::vector<uint8_t> file = EncodeBytes(src);

    // A 64-byte header: 24 more bytes after the first 40.
    std::vector<uint8_t> big = file;
    big.insert(big.begin() + 54, 24, 0xEE);
    Put32(big, 14, 64);
    Put32(big, 10, Le32(file, 10) + 24);
    CRaster img;
    ASSERT_TRUE(DecodeBytes(img, big)) << img.LastError();
    EXPECT_TRUE(SamePixels(img, src));
    // The same without a file header, so the stream position must be right.
    big.erase(big.begin(), big.begin() + 14);
    ASSERT_TRUE(DecodeBytes(img, big)) << img.LastError();
    EXPECT_TRUE(SamePixels(img, src));

    // A 12-byte core header with 3-byte palette entries, no file header.
    std::vector<uint8_t> core = {12, 0, 0, 0, 2, 0, 1, 0, 1, 0, 1, 0};
    core.insert(core.end(), {10, 20, 30, 200, 210, 220});
    core.insert(core.end(), {0x40, 0, 0, 0}); // pixels 0, 1
    ASSERT_TRUE(DecodeBytes(img, core)) << img.LastError();
    EXPECT_EQ(img.BitsPerPixel(), 1u);
    EXPECT_EQ(img.PaletteColor(0), RasterColor::Rgb(30, 20, 10));
    EXPECT_EQ(img.PaletteColor(1), RasterColor::Rgb(220, 210, 200));
    EXPECT_EQ(img.GetIndexAt(0, 0), 0);
    EXPECT_EQ(img.GetIndexAt(1, 0), 1);

    // Other sizes: only with a plausible image size, one plane, no colour count.
    std::vector<uint8_t> odd = EncodeBytes(src);
    Put32(odd, 14, 52);
    Put32(odd, 46, 0);
    odd.insert(odd.begin() + 54, 12, 0);
    Put32(odd, 10, Le32(odd, 10) + 12);
    ASSERT_TRUE(DecodeBytes(img, odd)) << img.LastError();
    EXPECT_TRUE(SamePixels(img, src));
    Put16(odd, 26, 2); // two planes
    EXPECT_FALSE(DecodeBytes(img, odd));
    EXPECT_STREQ(img.LastError(), "Error reading BMP info");
}

TEST(BmpRead, PaletteCounts) {
    CRaster src;
    MakeIndexed(src, 4, 2, 8);
    std::vector<uint8_t> file = EncodeBytes(src);
    // 16 entries declared: 16 kept, the rest zero; pixel data stays at its offset.
    std::vector<uint8_t> sixteen = file;
    Put32(sixteen, 46, 16);
    CRaster img;
    ASSERT_TRUE(DecodeBytes(img, sixteen));
    EXPECT_EQ(img.ColorCount(), 256u);
    EXPECT_EQ(img.PaletteColor(15), src.PaletteColor(15));
    EXPECT_EQ(img.PaletteColor(16), RasterColor{});
    EXPECT_EQ(img.PaletteColor(200), RasterColor{});
    // 0 means the full 256.
    Put32(file, 46, 0);
    ASSERT_TRUE(DecodeBytes(img, file));
    EXPECT_EQ(img.PaletteColor(200), src.PaletteColor(200));
    // A huge count keeps only what fits.
    std::vector<uint8_t> huge = file;
    Put32(huge, 46, 0xFFFFFFF0u);
    huge.erase(huge.begin(), huge.begin() + 14);
    ASSERT_TRUE(DecodeBytes(img, huge));
    EXPECT_EQ(img.ColorCount(), 256u);
    // Reserved bytes of a 4-byte palette are cleared.
    Put32(file, 54, 0xAB000000u | src.PaletteColor(0).ToU32());
    ASSERT_TRUE(DecodeBytes(img, file));
    EXPECT_EQ(img.PaletteColor(0).reserved, 0);
}

TEST(BmpRead, SixteenAndThirtyTwoBits) {
    // 2 x 1, 16 bits, no masks: 5-5-5.
    std::vector<uint8_t> f16(54, 0);
    f16[0] = 'B';
    f16[1] = 'M';
    Put32(f16, 10, 54);
    Put32(f16, 14, 40);
    Put32(f16, 18, 2);
    Put32(f16, 22, 1);
    Put16(f16, 26, 1);
    Put16(f16, 28, 16);
    f16.insert(f16.end(), {0xFF, 0x7F, 0x1F, 0x00});
    CRaster img;
    ASSERT_TRUE(DecodeBytes(img, f16));
    EXPECT_EQ(img.GetColorAt(0, 0, false), RasterColor::Rgb(248, 248, 248));
    EXPECT_EQ(img.GetColorAt(1, 0, false), RasterColor::Rgb(0, 0, 248));

    // 32 bits whose fourth bytes are all 0: opaque, and saved as 32 bits.
    std::vector<uint8_t> f32 = f16;
    f32.resize(54);
    Put16(f32, 28, 32);
    f32.insert(f32.end(), {1, 2, 3, 0, 4, 5, 6, 0});
    ASSERT_TRUE(DecodeBytes(img, f32));
    EXPECT_EQ(img.GetColorAt(0, 0, false), RasterColor::Rgb(3, 2, 1));
    ASSERT_NE(img.alphaPlane, nullptr);
    EXPECT_EQ(img.alphaPlane[0], 255);
    EXPECT_EQ(img.alphaPlane[1], 255);
    std::vector<uint8_t> saved = EncodeBytes(img);
    Fields f = Parse(saved);
    EXPECT_EQ(f.bits, 32);
    EXPECT_EQ(f.sizeImage, 8u);
    EXPECT_EQ(f.fileSize, 8u + 54);
    EXPECT_EQ(saved.size(), 62u);
    EXPECT_EQ(saved[54 + 7], 255);

    // 32 bits with masks: no alpha plane; channels from the masks.
    std::vector<uint8_t> masked = f32;
    masked.resize(54);
    Put32(masked, 30, 3);
    Put32(masked, 10, 66);
    masked.insert(masked.end(), {0, 0, 0, 0xFF, 0, 0, 0xFF, 0, 0, 0xFF, 0, 0}); // r, g, b
    masked.insert(masked.end(), {1, 2, 3, 4, 5, 6, 7, 8});
    ASSERT_TRUE(DecodeBytes(img, masked));
    EXPECT_EQ(img.alphaPlane, nullptr);
    EXPECT_EQ(img.GetColorAt(0, 0, false), RasterColor::Rgb(4, 3, 2));
}

TEST(BmpRead, RunLengthEncoded) {
    auto header = [](uint32_t bits, uint32_t compression, uint32_t w, uint32_t h,
                     uint32_t colours) {
        std::vector<uint8_t> d(54, 0);
        d[0] = 'B';
        d[1] = 'M';
        Put32(d, 10, 54 + 4 * colours);
        Put32(d, 14, 40);
        Put32(d, 18, w);
        Put32(d, 22, h);
        Put16(d, 26, 1);
        Put16(d, 28, bits);
        Put32(d, 30, compression);
        Put32(d, 46, colours);
        for (uint32_t i = 0; i < colours; ++i)
            d.insert(d.end(), {uint8_t(i), uint8_t(i), uint8_t(i), 0});
        return d;
    };
    // RLE8: run of 3 x 5, absolute 7 8 9 (odd: one pad byte), end of line,
    // delta (1, 1), run 2 x 4, end of bitmap.
    std::vector<uint8_t> rle8 = header(8, 1, 6, 3, 16);
    rle8.insert(rle8.end(), {3, 5, 0, 3, 7, 8, 9, 0, 0, 0, 0, 2, 1, 1, 2, 4, 0, 1});
    CRaster img;
    ASSERT_TRUE(DecodeBytes(img, rle8));
    const uint8_t expect8[3][6] = {{5, 5, 5, 7, 8, 9}, {0, 0, 0, 0, 0, 0}, {0, 0, 0, 0, 0, 0}};
    for (int x = 0; x < 6; ++x) EXPECT_EQ(img.GetIndexAt(x, 0), expect8[0][x]) << x;
    EXPECT_EQ(img.GetIndexAt(0, 1), 0);
    EXPECT_EQ(img.GetIndexAt(0, 2), 0);
    EXPECT_EQ(img.GetIndexAt(1, 2), 4);
    EXPECT_EQ(img.GetIndexAt(2, 2), 4);
    EXPECT_EQ(img.GetIndexAt(3, 2), 0);

    // RLE4: run of 5 nibbles from 0x12, absolute 3 nibbles 0xAB 0xC0 (two bytes: no pad),
    // end of line, absolute 4 nibbles 0x34 0x56 (no pad), end of bitmap.
    std::vector<uint8_t> rle4 = header(4, 2, 8, 2, 16);
    rle4.insert(rle4.end(), {5, 0x12, 0, 3, 0xAB, 0xC0, 0, 0, 0, 4, 0x34, 0x56, 0, 1});
    ASSERT_TRUE(DecodeBytes(img, rle4));
    const uint8_t row0[8] = {1, 2, 1, 2, 1, 10, 11, 12};
    for (int x = 0; x < 8; ++x) EXPECT_EQ(img.GetIndexAt(x, 0), row0[x]) << x;
    const uint8_t row1[8] = {3, 4, 5, 6, 0, 0, 0, 0};
    for (int x = 0; x < 8; ++x) EXPECT_EQ(img.GetIndexAt(x, 1), row1[x]) << x;

    // Runs, deltas and absolute runs far outside the rows are dropped.
    std::vector<uint8_t> wild = header(8, 1, 4, 2, 2);
    wild.insert(wild.end(), {255, 1, 0, 2, 255, 255, 0, 2, 0, 200, 255, 1, 0, 255});
    wild.insert(wild.end(), 256, 1);
    ASSERT_TRUE(DecodeBytes(img, wild));
    EXPECT_EQ(img.GetIndexAt(3, 0), 1);
    std::vector<uint8_t> wild4 = header(4, 2, 3, 1, 2);
    wild4.insert(wild4.end(), {255, 0x11, 0, 255});
    wild4.insert(wild4.end(), 200, 0x11);
    ASSERT_TRUE(DecodeBytes(img, wild4));
    EXPECT_EQ(img.GetIndexAt(2, 0), 1);
}

TEST(BmpRead, BadInput) {
    CRaster img;
    EXPECT_FALSE(DecodeBytes(img, {}));
    EXPECT_STREQ(img.LastError(), "Not a BMP");

    CRaster src;
    MakeIndexed(src, 4, 4, 8);
    const std::vector<uint8_t> good = EncodeBytes(src);

    std::vector<uint8_t> f = good;
    Put32(f, 14, 7);
    EXPECT_FALSE(DecodeBytes(img, f));
    EXPECT_STREQ(img.LastError(), "Error reading BMP info");
    f = std::vector<uint8_t>(good.begin(), good.begin() + 14);
    EXPECT_FALSE(DecodeBytes(img, f));
    EXPECT_STREQ(img.LastError(), "Error reading BMP info");

    f = good;
    Put32(f, 18, 0);
    EXPECT_FALSE(DecodeBytes(img, f));
    EXPECT_STREQ(img.LastError(), "CRaster::Create : width and height must be greater than zero");

    // A header claiming a huge picture, with no data behind it.
    f = std::vector<uint8_t>(good.begin(), good.begin() + 54);
    Put32(f, 18, 60000);
    Put32(f, 22, 60000);
    EXPECT_FALSE(DecodeBytes(img, f));
    EXPECT_STREQ(img.LastError(), "RASTER_MAX_MEMORY exceeded");
    Put32(f, 22, 0x80000000u); // height INT32_MIN
    EXPECT_FALSE(DecodeBytes(img, f));
    Put32(f, 18, 0xFFFFFFFFu); // width -1
    Put32(f, 22, 1);
    EXPECT_FALSE(DecodeBytes(img, f));

    f = good;
    Put32(f, 30, 5);
    EXPECT_FALSE(DecodeBytes(img, f));
    EXPECT_STREQ(img.LastError(), "compression type not supported");

    CRaster rgb;
    MakePattern(rgb, 3, 3);
    std::vector<uint8_t> g = EncodeBytes(rgb);
    Put32(g, 30, 1);
    EXPECT_FALSE(DecodeBytes(img, g));
    EXPECT_STREQ(img.LastError(), "unknown compression");
    Put16(g, 28, 32);
    Put32(g, 30, 2);
    EXPECT_FALSE(DecodeBytes(img, g));
    EXPECT_STREQ(img.LastError(), "unknown compression");

    // A failed load leaves the asking image as it was.
    CRaster keep;
    MakePattern(keep, 2, 2);
    EXPECT_FALSE(DecodeBytes(keep, f));
    EXPECT_TRUE(SameRgb(keep.GetColorAt(1, 1), PatternColor(1, 1)));
}

TEST(BmpRead, TruncatedFilesLoadWithClearedRest) {
    CRaster src;
    MakePattern(src, 8, 6);
    std::vector<uint8_t> file = EncodeBytes(src);
    for (size_t cut : {size_t(54), size_t(60), file.size() - 1}) {
        std::vector<uint8_t> part(file.begin(), file.begin() + cut);
        CRaster img;
        ASSERT_TRUE(DecodeBytes(img, part)) << cut;
        size_t have = cut - 54;
        const uint8_t* pixels = img.RowPointer(0);
        for (size_t i = have; i < img.header.sizeImage; ++i) ASSERT_EQ(pixels[i], 0) << cut;
        for (size_t i = 0; i < have; ++i) ASSERT_EQ(pixels[i], file[54 + i]);
    }
    // Cut inside a palette, and a 32-bit file without pixel data.
    CRaster pal;
    MakeIndexed(pal, 4, 4, 8);
    std::vector<uint8_t> p = EncodeBytes(pal);
    p.resize(54 + 10);
    CRaster img;
    ASSERT_TRUE(DecodeBytes(img, p));
    EXPECT_EQ(img.PaletteColor(1), pal.PaletteColor(1));
    EXPECT_EQ(img.PaletteColor(2), RasterColor{});
}

// Page files are mapped, not read: the image must be the one a read gives,
// changing it must never reach the file, and a file that is no page file or
// is cut short is read as before.
TEST(BmpRead, PageFilesMapToWhatAReadGives) {
    TempDir dir;
    CRaster src;
    MakePattern(src, 1025, 9); // rows of 3075 bytes plus padding
    src.SetDpiX(600);
    src.SetDpiY(300);
    const std::vector<uint8_t> file = EncodeBytes(src);
    const std::string path = dir.File("page.bmp");
    WriteBytes(path, file);

    CRaster read, mapped;
    ASSERT_TRUE(read.LoadFile(path, kFormatBMP));
    ASSERT_TRUE(mapped.LoadPageFile(path, kFormatBMP));
    EXPECT_TRUE(SamePixels(mapped, read));
    EXPECT_EQ(mapped.DpiX(), 600);
    EXPECT_EQ(mapped.DpiY(), 300);
    EXPECT_EQ(mapped.FormatCode(), uint32_t(kFormatBMP));
    EXPECT_EQ(0, std::memcmp(&mapped.header, &read.header, sizeof read.header));
    EXPECT_EQ(EncodeBytes(mapped), EncodeBytes(read));
    const std::vector<uint8_t> maps = ReadBytes("/proc/self/maps");
    EXPECT_NE(std::string(maps.begin(), maps.end()).find(path), std::string::npos)
        << "the page was read, not mapped";

    // Changes stay in the image; the page, and whatever moves the image on,
    // keep working.
    mapped.SetColorAt(0, 0, RasterColor::Rgb(1, 2, 3));
    std::memset(mapped.RowPointer(4), 0x5A, 3075);
    EXPECT_EQ(ReadBytes(path), file);
    CRaster moved;
    ASSERT_TRUE(moved.TakeOver(mapped, true));
    EXPECT_TRUE(SameRgb(moved.GetColorAt(0, 0), RasterColor::Rgb(1, 2, 3)));
    ASSERT_TRUE(moved.LoadPageFile(path, kFormatBMP)); // a second page into the same image
    EXPECT_TRUE(SamePixels(moved, read));

    // A page cut short: the read path clears the missing rows.
    std::vector<uint8_t> cut(file.begin(), file.end() - 3080);
    WriteBytes(path, cut);
    CRaster shortRead, shortMapped;
    ASSERT_TRUE(shortRead.LoadFile(path, kFormatBMP));
    ASSERT_TRUE(shortMapped.LoadPageFile(path, kFormatBMP));
    EXPECT_TRUE(SamePixels(shortMapped, shortRead));

    // Top-down and palette files are read as ever.
    for (bool palette : {false, true}) {
        CRaster other;
        if (palette)
            MakeIndexed(other, 5, 4, 8);
        else
            MakePattern(other, 5, 4);
        std::vector<uint8_t> bytes = EncodeBytes(other);
        if (!palette) Put32(bytes, 22, uint32_t(-4)); // top-down
        WriteBytes(path, bytes);
        CRaster a, b;
        ASSERT_TRUE(a.LoadFile(path, kFormatBMP));
        ASSERT_TRUE(b.LoadPageFile(path, kFormatBMP));
        EXPECT_TRUE(SamePixels(a, b)) << palette;
        EXPECT_EQ(b.BitsPerPixel(), palette ? 8u : 24u);
    }
    EXPECT_FALSE(read.LoadPageFile(dir.File("missing.bmp"), kFormatBMP));
}

TEST(BmpWrite, LayoutAndResolution) {
    CRaster bw;
    ASSERT_NE(bw.Create(10, 3, 1, 0), nullptr);
    bw.SetDefaultPalette();
    bw.Fill(0);
    std::vector<uint8_t> d = EncodeBytes(bw);
    Fields f = Parse(d);
    EXPECT_EQ(f.offset, 62u);
    EXPECT_EQ(f.fileSize, 14u + 40 + 8 + 4 * 3);
    EXPECT_EQ(d.size(), f.fileSize);
    EXPECT_EQ(f.clrUsed, 2u);
    EXPECT_EQ(f.height, 3);

    CRaster rgb;
    MakePattern(rgb, 5, 5);
    rgb.SetDpiX(300);
    rgb.SetDpiY(300);
    f = Parse(EncodeBytes(rgb));
    EXPECT_EQ(f.offset, 54u);
    EXPECT_EQ(f.xppm, 11811);
    EXPECT_EQ(f.yppm, 11811);
    // A resize keeps the resolution in the header.
    ASSERT_TRUE(rgb.Rescale(3, 3, 1, nullptr));
    f = Parse(EncodeBytes(rgb));
    EXPECT_EQ(f.xppm, 11811);
    EXPECT_EQ(f.yppm, 11811);

    CRaster empty;
    MemoryStream s;
    ASSERT_TRUE(s.OpenEmpty());
    EXPECT_FALSE(empty.Encode(&s, kFormatBMP));
    EXPECT_STREQ(empty.LastError(), "null image!!!");
    EXPECT_EQ(s.Size(), 0);
}

TEST(BmpWrite, RoundTripEveryDepth) {
    TempDir dir;
    for (uint32_t bits : {1u, 4u, 8u}) {
        CRaster src, back;
        MakeIndexed(src, 13, 7, bits);
        std::string path = dir.File("rt" + std::to_string(bits) + ".bmp");
        ASSERT_TRUE(src.SaveFile(path, kFormatBMP));
        ASSERT_TRUE(back.LoadFile(path, kFormatBMP)) << back.LastError();
        EXPECT_EQ(back.BitsPerPixel(), bits);
        EXPECT_EQ(0, std::memcmp(back.Palette(), src.Palette(), src.PaletteBytes()));
        EXPECT_EQ(0, std::memcmp(back.RowPointer(0), src.RowPointer(0), src.header.sizeImage));
    }
    // The independent reader agrees on what we write.
    if (!HaveConvert()) GTEST_SKIP() << "convert not found";
    CRaster src;
    MakePattern(src, 11, 5);
    std::string bmp = dir.File("ours.bmp"), ppm = dir.File("ours.ppm");
    ASSERT_TRUE(src.SaveFile(bmp, kFormatBMP));
    ASSERT_TRUE(Convert(bmp + " " + ppm));
    std::vector<uint8_t> p = ReadBytes(ppm);
    ASSERT_GE(p.size(), 11u * 5 * 3);
    const uint8_t* rgb = p.data() + p.size() - 11 * 5 * 3;
    for (uint32_t y = 0; y < 5; ++y)
        for (uint32_t x = 0; x < 11; ++x) {
            const uint8_t* q = rgb + ((4 - y) * 11 + x) * 3;
            ASSERT_EQ(RasterColor::Rgb(q[0], q[1], q[2]), src.GetColorAt(x, y, false))
                << x << "," << y;
        }
}
