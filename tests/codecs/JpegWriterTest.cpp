#include "RasterJPG.h"
#include "WriterTestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>

using namespace writertest;

namespace {

std::string Identify(const std::string& path) {
    return RunCommand("/usr/bin/identify -verbose '" + path + "'");
}

bool Has(const std::string& text, const std::string& what) {
    return text.find(what) != std::string::npos;
}

std::string SaveJpeg(CRaster& image, const std::string& name, uint32_t option, uint8_t quality) {
    image.SetEncodeOption(option, kFormatJPG);
    image.SetQuality(quality);
    const std::string path = TempPath(name);
    EXPECT_TRUE(image.SaveFile(path, kFormatJPG)) << image.LastError();
    return path;
}

} // namespace

// The option words the engine uses: 1 baseline, 9 baseline with optimised
// tables, 16 progressive; each decodes close to the original, right way up.
TEST(JpegWriter, EngineOptionWordsDecodeCloseToTheOriginal) {
    CRaster image;
    MakeImage(image, Kind::TrueColor, 160, 96);
    image.SetDpiX(300);
    image.SetDpiY(200);
    const Picture expected = Expected(image);
    const std::string baseline = SaveJpeg(image, "baseline.jpg", 1, 75);
    const std::string optimised = SaveJpeg(image, "optimised.jpg", 9, 75);
    const std::string progressive = SaveJpeg(image, "progressive.jpg", 16, 75);
    for (const std::string& path : {baseline, optimised, progressive}) {
        SCOPED_TRACE(path);
        Picture decoded;
        ASSERT_TRUE(DecodeWithConvert(path, decoded));
        EXPECT_GT(Psnr(decoded, expected), 30.0);
    }
    // The same image data with better tables is smaller.
    EXPECT_LT(ReadFileBytes(optimised).size(), ReadFileBytes(baseline).size());

    const std::string info = Identify(baseline);
    EXPECT_TRUE(Has(info, "Interlace: None")) << info;
    EXPECT_TRUE(Has(info, "Resolution: 300x200")) << info;
    EXPECT_TRUE(Has(info, "Units: PixelsPerInch")) << info;
    EXPECT_TRUE(Has(info, "jpeg:sampling-factor: 2x2,1x1,1x1")) << info;
    EXPECT_TRUE(Has(info, "Quality: 75")) << info;
    EXPECT_TRUE(Has(Identify(progressive), "Interlace: JPEG"));
}

TEST(JpegWriter, GrayRampIsOneComponentOtherPalettesAreRefused) {
    CRaster gray;
    MakeImage(gray, Kind::GrayRamp, 70, 50);
    const std::string path = SaveJpeg(gray, "gray.jpg", 16, 90);
    const std::vector<uint8_t> bytes = ReadFileBytes(path);
    // Start of frame: one component.
    bool sawFrame = false;
    for (size_t i = 2; i + 9 < bytes.size(); ++i) {
        if (bytes[i] == 0xFF && (bytes[i + 1] == 0xC0 || bytes[i + 1] == 0xC2)) {
            EXPECT_EQ(bytes[i + 9], 1);
            sawFrame = true;
            break;
        }
    }
    EXPECT_TRUE(sawFrame);
    Picture decoded;
    ASSERT_TRUE(DecodeWithConvert(path, decoded));
    EXPECT_GT(Psnr(decoded, Expected(gray)), 30.0);

    // 1 and 4 bits, colour palettes, and even a 1-bit palette whose entries
    // are (0,0,0), (1,1,1): packed rows cannot be gray samples.
    const Kind refused[] = {Kind::BlackWhite, Kind::Color16, Kind::Gray16, Kind::Color256};
    for (Kind kind : refused) {
        CRaster image;
        MakeImage(image, kind, 20, 10);
        MemoryStream out;
        out.OpenEmpty();
        EXPECT_FALSE(image.Encode(&out, kFormatJPG));
        EXPECT_STREQ(image.LastError(), "JPEG can save only RGB or GreyScale images");
        EXPECT_EQ(out.size, 0);
    }
    CRaster tiny;
    tiny.Create(20, 10, 1, 0);
    tiny.SetPaletteColor(1, RasterColor::Rgb(1, 1, 1));
    ASSERT_TRUE(tiny.IsGray());
    MemoryStream out;
    out.OpenEmpty();
    EXPECT_FALSE(tiny.Encode(&out, kFormatJPG));
    EXPECT_STREQ(tiny.LastError(), "JPEG can save only RGB or GreyScale images");
}

TEST(JpegWriter, QualityAndColourSpaceBits) {
    CRaster image;
    MakeImage(image, Kind::TrueColor, 64, 64, true);
    // Quality 0 is libjpeg's 1, anything above 100 is 100.
    const size_t q0 = ReadFileBytes(SaveJpeg(image, "q0.jpg", 1, 0)).size();
    const size_t q1 = ReadFileBytes(SaveJpeg(image, "q1.jpg", 1, 1)).size();
    const size_t q100 = ReadFileBytes(SaveJpeg(image, "q100.jpg", 1, 100)).size();
    const size_t q255 = ReadFileBytes(SaveJpeg(image, "q255.jpg", 1, 255)).size();
    EXPECT_EQ(q0, q1);
    EXPECT_EQ(q100, q255);
    EXPECT_LT(q1, q100);
    // Bit 4 stores a colour image as gray; 8192 turns chroma subsampling off.
    EXPECT_TRUE(Has(Identify(SaveJpeg(image, "asgray.jpg", 1 | 4, 75)), "Colorspace: Gray"));
    EXPECT_TRUE(Has(Identify(SaveJpeg(image, "444.jpg", 1 | 8192, 75)),
                    "jpeg:sampling-factor: 1x1,1x1,1x1"));
    EXPECT_TRUE(Has(Identify(SaveJpeg(image, "422.jpg", 1 | 4096, 75)),
                    "jpeg:sampling-factor: 2x1,1x1,1x1"));
}

TEST(JpegWriter, FailuresCarryTheirTexts) {
    CRaster image;
    EXPECT_FALSE(image.Encode(static_cast<ImageStream*>(nullptr), kFormatJPG));
    EXPECT_STREQ(image.LastError(), "null file handler");
    MemoryStream out;
    out.OpenEmpty();
    EXPECT_FALSE(image.Encode(&out, kFormatJPG));
    EXPECT_STREQ(image.LastError(), "null image!!!");

    MakeImage(image, Kind::TrueColor, 300, 200, true);
    for (size_t budget : {size_t(0), size_t(100), size_t(5000), size_t(9000)}) {
        SCOPED_TRACE(budget);
        FailingStream full(budget);
        EXPECT_FALSE(image.Encode(&full, kFormatJPG));
        EXPECT_STREQ(image.LastError(), "Output file write error --- out of disk space?");
    }
    // libjpeg's own limit reaches the caller as its message, not a crash.
    CRaster wide;
    MakeImage(wide, Kind::GrayRamp, 70000, 1);
    EXPECT_FALSE(wide.Encode(&out, kFormatJPG));
    EXPECT_STRNE(wide.LastError(), "");
}

TEST(JpegWriter, SmallAndNarrowImages) {
    const std::pair<uint32_t, uint32_t> sizes[] = {{1, 1}, {1, 3000}, {3000, 1}, {17, 3}};
    for (Kind kind : {Kind::GrayRamp, Kind::TrueColor}) {
        for (auto [w, h] : sizes) {
            SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
            CRaster image;
            MakeImage(image, kind, w, h);
            const std::string path = SaveJpeg(image, "s.jpg", 16, 90);
            Picture decoded;
            ASSERT_TRUE(DecodeWithConvert(path, decoded));
            EXPECT_EQ(decoded.width, w);
            EXPECT_EQ(decoded.height, h);
        }
    }
}
