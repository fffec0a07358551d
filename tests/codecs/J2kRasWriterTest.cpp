#include "RasterJ2K.h"
#include "WriterTestSupport.h"

#include <gtest/gtest.h>

using namespace writertest;

namespace {

std::string Save(CRaster& image, const std::string& name, uint32_t code) {
    const std::string path = TempPath(name);
    EXPECT_TRUE(image.SaveFile(path, code)) << image.LastError();
    return path;
}

// OpenJPEG's own command-line decoder, to PNM.
bool DecodeJ2k(const std::string& path, Picture& out) {
    if (!ToolAvailable("/usr/bin/opj_decompress")) return false;
    const std::string pnm = path + ".pnm";
    int status = 0;
    RunCommand("/usr/bin/opj_decompress -quiet -i '" + path + "' -o '" + pnm + "'", &status);
    return status == 0 && ReadPnm(pnm, out);
}

std::string Dump(const std::string& path) {
    return RunCommand("/usr/bin/opj_dump -i '" + path + "'");
}

uint32_t Big(const std::vector<uint8_t>& b, size_t at) {
    return uint32_t(b[at]) << 24 | uint32_t(b[at + 1]) << 16 | uint32_t(b[at + 2]) << 8 | b[at + 3];
}

// The enumerated colour space in the JP2 "colr" box, or 0.
uint32_t ColourSpace(const std::vector<uint8_t>& b) {
    const std::string text(b.begin(), b.end());
    const size_t at = text.find("colr");
    if (at == std::string::npos || at + 11 > b.size() || b[at + 4] != 1) return 0;
    return Big(b, at + 7);
}

} // namespace

TEST(J2kWriter, RateTextFromTheQuality) {
    char text[32];
    CRasterJ2K::RateOption(75.0f, text, sizeof text);
    EXPECT_STREQ(text, "rate=0.750");
    CRasterJ2K::RateOption(100.0f, text, sizeof text);
    EXPECT_STREQ(text, "rate=1.000");
    CRasterJ2K::RateOption(0.0f, text, sizeof text);
    EXPECT_STREQ(text, "rate=0.000");
    CRasterJ2K::RateOption(255.0f, text, sizeof text);
    EXPECT_STREQ(text, "rate=2.550");
}

TEST(J2kWriter, Jp2BoxesAndComponents) {
    if (!ToolAvailable("/usr/bin/opj_dump")) GTEST_SKIP() << "opj_dump not installed";
    CRaster image;
    MakeImage(image, Kind::TrueColor, 120, 80, true);
    image.SetQuality(75);
    const std::string path = Save(image, "rgb.jp2", kFormatJP2);
    const std::vector<uint8_t> b = ReadFileBytes(path);
    // JP2 signature box, then the file type box naming "jp2 ".
    ASSERT_GT(b.size(), 24u);
    EXPECT_EQ(Big(b, 4), 0x6A502020u);
    EXPECT_EQ(std::string(b.begin() + 20, b.begin() + 24), "jp2 ");
    EXPECT_EQ(ColourSpace(b), 16u); // sRGB
    const std::string dump = Dump(path);
    EXPECT_NE(dump.find("numcomps=3"), std::string::npos) << dump;
    EXPECT_NE(dump.find("prec=8"), std::string::npos) << dump;
    EXPECT_NE(dump.find("sgnd=0"), std::string::npos) << dump;
    // A rate of 0.75 of the raw size bounds the file.
    EXPECT_LT(b.size(), size_t(120 * 80 * 3 * 0.76) + 400);
    Picture decoded;
    ASSERT_TRUE(DecodeJ2k(path, decoded));
    EXPECT_GT(Psnr(decoded, Expected(image)), 30.0);

    CRaster gray;
    MakeImage(gray, Kind::GrayRamp, 50, 40);
    const std::string grayPath = Save(gray, "gray.jp2", kFormatJP2);
    EXPECT_EQ(ColourSpace(ReadFileBytes(grayPath)), 17u); // greyscale
    EXPECT_NE(Dump(grayPath).find("numcomps=1"), std::string::npos);
    ASSERT_TRUE(DecodeJ2k(grayPath, decoded));
    EXPECT_GT(Psnr(decoded, Expected(gray)), 30.0);
}

TEST(J2kWriter, GrayCodeStreamWithoutBoxes) {
    if (!ToolAvailable("/usr/bin/opj_dump")) GTEST_SKIP() << "opj_dump not installed";
    CRaster image;
    MakeImage(image, Kind::GrayRamp, 90, 70);
    image.SetQuality(100); // lossless
    const std::string path = Save(image, "gray.j2k", kFormatJPC);
    const std::vector<uint8_t> b = ReadFileBytes(path);
    ASSERT_GT(b.size(), 4u);
    EXPECT_EQ(b[0], 0xFF); // start of code stream, then the size marker
    EXPECT_EQ(b[1], 0x4F);
    EXPECT_EQ(b[2], 0xFF);
    EXPECT_EQ(b[3], 0x51);
    EXPECT_NE(Dump(path).find("numcomps=1"), std::string::npos);
    Picture decoded;
    ASSERT_TRUE(DecodeJ2k(path, decoded));
    EXPECT_EQ(MaxDifference(decoded, Expected(image)), 0);
}

TEST(J2kWriter, LosslessWhenTheRateIsOutOfRange) {
    for (uint8_t quality : {uint8_t(0), uint8_t(100), uint8_t(200)}) {
        SCOPED_TRACE(int(quality));
        CRaster image;
        MakeImage(image, Kind::TrueColor, 33, 17, true);
        image.SetQuality(quality);
        Picture decoded;
        ASSERT_TRUE(DecodeJ2k(Save(image, "l.jp2", kFormatJP2), decoded));
        EXPECT_EQ(MaxDifference(decoded, Expected(image)), 0);
    }
}

TEST(J2kWriter, RefusalsFailuresAndSizes) {
    for (Kind kind : {Kind::BlackWhite, Kind::Color16, Kind::Gray16, Kind::Color256}) {
        for (uint32_t code : {kFormatJP2, kFormatJPC, kFormatRAS}) {
            CRaster image;
            MakeImage(image, kind, 10, 10);
            MemoryStream out;
            out.OpenEmpty();
            EXPECT_FALSE(image.Encode(&out, code));
            EXPECT_STREQ(image.LastError(), "JasPer can save only RGB or GrayScale images");
        }
    }
    CRaster image;
    MakeImage(image, Kind::TrueColor, 100, 100, true);
    for (uint32_t code : {kFormatJP2, kFormatJPC, kFormatRAS}) {
        for (size_t budget : {size_t(0), size_t(50), size_t(3000)}) {
            SCOPED_TRACE(std::to_string(code) + " " + std::to_string(budget));
            FailingStream full(budget);
            EXPECT_FALSE(image.Encode(&full, code));
            EXPECT_STREQ(image.LastError(), "error: cannot encode image");
        }
    }
    for (auto [w, h] : {std::pair<uint32_t, uint32_t>{1, 1}, {2, 1}, {1, 5000}, {5000, 1}}) {
        for (uint32_t code : {kFormatJP2, kFormatJPC}) {
            SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
            CRaster small;
            MakeImage(small, Kind::TrueColor, w, h, true);
            small.SetQuality(100);
            Picture decoded;
            ASSERT_TRUE(
                DecodeJ2k(Save(small, code == kFormatJP2 ? "s.jp2" : "s.j2k", code), decoded));
            EXPECT_EQ(MaxDifference(decoded, Expected(small)), 0);
        }
    }
}

TEST(SunRasterWriter, GrayAndRgbDecodeExactly) {
    for (Kind kind : {Kind::GrayRamp, Kind::TrueColor}) {
        for (uint32_t width : {31u, 32u}) {
            SCOPED_TRACE(std::to_string(int(kind)) + " " + std::to_string(width));
            CRaster image;
            MakeImage(image, kind, width, 19, true);
            const std::string path = Save(image, "r.ras", kFormatRAS);
            const std::vector<uint8_t> b = ReadFileBytes(path);
            ASSERT_GE(b.size(), 32u);
            EXPECT_EQ(Big(b, 0), 0x59A66A95u);
            EXPECT_EQ(Big(b, 4), width);
            EXPECT_EQ(Big(b, 8), 19u);
            const uint32_t depth = kind == Kind::GrayRamp ? 8 : 24;
            EXPECT_EQ(Big(b, 12), depth);
            size_t row = size_t(width) * depth / 8;
            row += row & 1; // rows padded to 16 bits
            EXPECT_EQ(Big(b, 16), row * 19);
            EXPECT_EQ(Big(b, 20), 1u); // standard type
            EXPECT_EQ(b.size(), 32 + Big(b, 28) + row * 19);
            Picture decoded;
            ASSERT_TRUE(DecodeWithConvert(path, decoded));
            EXPECT_EQ(MaxDifference(decoded, Expected(image)), 0);
            const std::string info = RunCommand("/usr/bin/identify -verbose '" + path + "'");
            EXPECT_NE(info.find("Format: SUN"), std::string::npos) << info;
        }
    }
}

// A page is first coded losslessly and kept so only when every tile stays
// within its share of the target size; a tile of noise must still be fitted
// to the rate while the plain tiles around it come out exact.
TEST(J2kWriter, PlainPagesExactNoisyTilesHeldToTheRate) {
    if (!ToolAvailable("/usr/bin/opj_decompress")) GTEST_SKIP() << "opj_decompress not installed";
    const uint32_t side = 1024; // four tiles
    auto region = [](const Picture& p, uint32_t x0, uint32_t y0, uint32_t n) {
        Picture r{n, n, {}};
        for (uint32_t y = y0; y < y0 + n; ++y) {
            const uint8_t* row = p.rgb.data() + (size_t(y) * p.width + x0) * 3;
            r.rgb.insert(r.rgb.end(), row, row + size_t(n) * 3);
        }
        return r;
    };
    for (uint32_t code : {kFormatJP2, kFormatJPC}) {
        SCOPED_TRACE(code);
        const std::string ext = code == kFormatJP2 ? ".jp2" : ".j2k";
        CRaster image;
        MakeImage(image, Kind::TrueColor, side, side);
        image.SetQuality(75);
        Picture plain;
        ASSERT_TRUE(DecodeJ2k(Save(image, "plain" + ext, code), plain));
        EXPECT_EQ(MaxDifference(plain, Expected(image)), 0);

        // Noise over the top-right tile: lossless, it would be its full size.
        uint32_t state = 12345;
        for (uint32_t y = 0; y < 512; ++y) {
            uint8_t* row = image.RowPointer(side - 1 - y);
            for (uint32_t x = 512 * 3; x < side * 3; ++x) {
                state = state * 1103515245u + 12345u;
                row[x] = uint8_t(state >> 16);
            }
        }
        const std::string path = Save(image, "noisy" + ext, code);
        EXPECT_LT(ReadFileBytes(path).size(), size_t(side * side * 3 * 0.75));
        Picture noisy;
        ASSERT_TRUE(DecodeJ2k(path, noisy));
        const Picture expected = Expected(image);
        EXPECT_GT(MaxDifference(region(noisy, 512, 0, 512), region(expected, 512, 0, 512)), 0);
        EXPECT_EQ(MaxDifference(region(noisy, 0, 512, 512), region(expected, 0, 512, 512)), 0);
    }
}
