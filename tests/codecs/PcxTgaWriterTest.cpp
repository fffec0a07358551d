#include "RasterPCX.h"
#include "RasterTGA.h"
#include "WriterTestSupport.h"

#include <gtest/gtest.h>

using namespace writertest;

namespace {

uint32_t Word(const std::vector<uint8_t>& b, size_t at) {
    return b[at] | uint32_t(b[at + 1]) << 8;
}

std::vector<uint8_t> Encoded(CRaster& image, uint32_t code) {
    MemoryStream out;
    out.OpenEmpty();
    EXPECT_TRUE(image.Encode(&out, code)) << image.LastError();
    return std::vector<uint8_t>(out.buffer, out.buffer + out.size);
}

std::string Save(CRaster& image, const std::string& name, uint32_t code) {
    const std::string path = TempPath(name);
    EXPECT_TRUE(image.SaveFile(path, code)) << image.LastError();
    return path;
}

} // namespace

TEST(PcxWriter, EveryDepthDecodesExactlyWithItsHeader) {
    struct Case {
        Kind kind;
        uint8_t bitsPerPlane;
        uint8_t planes;
        uint32_t width;
    } cases[] = {
        {Kind::BlackWhite, 1, 1, 101}, {Kind::WhiteBlack, 1, 1, 64}, {Kind::Color16, 1, 4, 77},
        {Kind::Gray16, 1, 4, 16},      {Kind::Color256, 8, 1, 99},   {Kind::GrayRamp, 8, 1, 100},
        {Kind::TrueColor, 8, 3, 53},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.kind));
        CRaster image;
        MakeImage(image, c.kind, c.width, 41, true);
        image.SetDpiX(300);
        image.SetDpiY(150);
        const std::string path =
            Save(image, "p" + std::to_string(int(c.kind)) + ".pcx", kFormatPCX);
        const std::vector<uint8_t> b = ReadFileBytes(path);
        ASSERT_GT(b.size(), 128u);
        EXPECT_EQ(b[0], 10);
        EXPECT_EQ(b[1], 5);
        EXPECT_EQ(b[2], 1);
        EXPECT_EQ(b[3], c.bitsPerPlane);
        EXPECT_EQ(Word(b, 8), c.width - 1);
        EXPECT_EQ(Word(b, 10), 40u);
        EXPECT_EQ(Word(b, 12), 300u);
        EXPECT_EQ(Word(b, 14), 150u);
        EXPECT_EQ(b[65], c.planes);
        uint32_t perLine = c.bitsPerPlane == 8 ? c.width : (c.width + 7) / 8;
        perLine += perLine & 1;
        EXPECT_EQ(Word(b, 66), perLine);
        EXPECT_EQ(Word(b, 68), c.kind == Kind::TrueColor ? 1u : 0u);
        if (c.bitsPerPlane == 8 && c.planes == 1) {
            ASSERT_GT(b.size(), 769u);
            EXPECT_EQ(b[b.size() - 769], 0x0C);
        }
        // netpbm's reader follows the header's colour map for 1-bit files
        // (ImageMagick 6 reads every monochrome PCX as 0 = white).
        Picture decoded;
        ASSERT_TRUE(DecodeWithNetpbm("/usr/bin/pcxtoppm", path, decoded));
        EXPECT_EQ(MaxDifference(decoded, Expected(image)), 0);
        if (c.bitsPerPlane == 8) {
            ASSERT_TRUE(DecodeWithConvert(path, decoded));
            EXPECT_EQ(MaxDifference(decoded, Expected(image)), 0);
        }
    }
}

TEST(PcxWriter, RunLengthBytes) {
    // 100 equal index bytes 5, then 0xC8 standing alone, width 102 (even).
    CRaster image;
    image.Create(102, 1, 8, 0);
    for (uint32_t x = 0; x < 100; ++x) image.SetIndexAt(x, 0, 5);
    image.SetIndexAt(100, 0, 0xC8);
    image.SetIndexAt(101, 0, 7);
    std::vector<uint8_t> b = Encoded(image, kFormatPCX);
    EXPECT_EQ(std::vector<uint8_t>(b.begin() + 128, b.begin() + 128 + 7),
              (std::vector<uint8_t>{0xFF, 5, 0xE5, 5, 0xC1, 0xC8, 7}));
    ASSERT_EQ(b.size(), 128u + 7 + 769);
    EXPECT_EQ(Encoded(image, kFormatPCXAlias), b); // code 21 saves through the PCX writer

    // A 24-bit 3 x 2 image: three planes of 3 bytes and a padding byte 0 each.
    CRaster rgb;
    rgb.Create(3, 2, 24, 0);
    for (uint32_t x = 0; x < 3; ++x)
        for (uint32_t y = 0; y < 2; ++y) rgb.SetColorAt(x, y, RasterColor::Rgb(10, 20, 30));
    b = Encoded(rgb, kFormatPCX);
    EXPECT_EQ(Word(b, 66), 4u);
    EXPECT_EQ(b[65], 3);
    const std::vector<uint8_t> plane = {0xC3, 10, 0, 0xC3, 20, 0, 0xC3, 30, 0};
    std::vector<uint8_t> expected = plane;
    expected.insert(expected.end(), plane.begin(), plane.end());
    EXPECT_EQ(std::vector<uint8_t>(b.begin() + 128, b.end()), expected);
}

TEST(PcxWriter, FailuresAndSizes) {
    CRaster image;
    MakeImage(image, Kind::Color256, 300, 100, true);
    FailingStream none(0);
    EXPECT_FALSE(image.Encode(&none, kFormatPCX));
    EXPECT_STREQ(image.LastError(), "cannot write PCX header");
    // The data after the header does not fit: reported, not passed as saved.
    FailingStream half(500);
    EXPECT_FALSE(image.Encode(&half, kFormatPCX));
    EXPECT_STREQ(image.LastError(), "cannot write PCX data");

    CRaster wide;
    MakeImage(wide, Kind::Color256, 65535, 1);
    MemoryStream out;
    out.OpenEmpty();
    EXPECT_FALSE(wide.Encode(&out, kFormatPCX)); // 65536 bytes per line do not fit
    EXPECT_STREQ(wide.LastError(), "Image too large for PCX");
    for (Kind kind : {Kind::BlackWhite, Kind::Color16, Kind::Color256, Kind::TrueColor}) {
        for (auto [w, h] : {std::pair<uint32_t, uint32_t>{1, 1}, {1, 20000}, {20001, 1}}) {
            SCOPED_TRACE(std::to_string(int(kind)) + " " + std::to_string(w));
            CRaster small;
            MakeImage(small, kind, w, h, true);
            Picture decoded;
            ASSERT_TRUE(
                DecodeWithNetpbm("/usr/bin/pcxtoppm", Save(small, "s.pcx", kFormatPCX), decoded));
            EXPECT_EQ(MaxDifference(decoded, Expected(small)), 0);
        }
    }
}

TEST(TgaWriter, EightAndTwentyFourBitsDecodeExactly) {
    CRaster mapped;
    MakeImage(mapped, Kind::Color256, 45, 23, true);
    std::string path = Save(mapped, "m.tga", kFormatTGA);
    std::vector<uint8_t> b = ReadFileBytes(path);
    EXPECT_EQ(std::vector<uint8_t>(b.begin(), b.begin() + 8),
              (std::vector<uint8_t>{0, 1, 1, 0, 0, 0, 1, 24}));
    EXPECT_EQ(Word(b, 12), 45u);
    EXPECT_EQ(Word(b, 14), 23u);
    EXPECT_EQ(b[16], 8);
    EXPECT_EQ(b[17], 0);
    // Colour map in blue, green, red, then index rows bottom first.
    EXPECT_EQ(b[18 + 3 * 7], mapped.PaletteColor(7).blue);
    EXPECT_EQ(b[18 + 3 * 7 + 2], mapped.PaletteColor(7).red);
    EXPECT_EQ(b.size(), 18u + 768 + 45 * 23);
    EXPECT_EQ(b[18 + 768], mapped.GetIndexAt(0, 0));
    // ImageMagick keeps the bottom-left origin as an orientation tag.
    Picture decoded;
    ASSERT_TRUE(DecodeWithConvert(path, decoded, "-auto-orient"));
    EXPECT_EQ(MaxDifference(decoded, Expected(mapped)), 0);

    CRaster rgb;
    MakeImage(rgb, Kind::TrueColor, 45, 23, true);
    path = Save(rgb, "t.tga", kFormatTGA);
    b = ReadFileBytes(path);
    EXPECT_EQ(b[1], 0);
    EXPECT_EQ(b[2], 2);
    EXPECT_EQ(b[16], 24);
    EXPECT_EQ(b.size(), 18u + 45 * 23 * 3);
    ASSERT_TRUE(DecodeWithConvert(path, decoded, "-auto-orient"));
    EXPECT_EQ(MaxDifference(decoded, Expected(rgb)), 0);
    ASSERT_TRUE(DecodeWithNetpbm("/usr/bin/tgatoppm", path, decoded));
    EXPECT_EQ(MaxDifference(decoded, Expected(rgb)), 0);
    const std::string info = RunCommand("/usr/bin/identify -verbose '" + path + "'");
    EXPECT_NE(info.find("Geometry: 45x23"), std::string::npos) << info;
    EXPECT_NE(info.find("Orientation: BottomLeft"), std::string::npos) << info;
}

TEST(TgaWriter, RefusalsAndWriteFailures) {
    for (Kind kind : {Kind::BlackWhite, Kind::Color16}) {
        CRaster image;
        MakeImage(image, kind, 10, 10);
        MemoryStream out;
        out.OpenEmpty();
        EXPECT_FALSE(image.Encode(&out, kFormatTGA));
        EXPECT_STREQ(image.LastError(), "Bit depth must be 8 or 24");
        EXPECT_EQ(out.size, 0);
    }
    CRaster image;
    MakeImage(image, Kind::TrueColor, 100, 100);
    FailingStream full(1000);
    EXPECT_FALSE(image.Encode(&full, kFormatTGA));
    EXPECT_STREQ(image.LastError(), "cannot write TGA file");
    CRaster wide;
    MakeImage(wide, Kind::GrayRamp, 70000, 1);
    MemoryStream out;
    out.OpenEmpty();
    EXPECT_FALSE(wide.Encode(&out, kFormatTGA));
    EXPECT_STREQ(wide.LastError(), "Image too large for TGA");
    CRaster dot;
    MakeImage(dot, Kind::TrueColor, 1, 1);
    EXPECT_EQ(Encoded(dot, kFormatTGA).size(), 21u);
}
