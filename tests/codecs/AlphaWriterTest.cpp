#include "WriterTestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

using namespace writertest;

// The engine never hands over an alpha plane, but a 32-bit BMP can bring one
// into an image; every writer that reads it must keep the colours intact.
TEST(AlphaWriters, TwentyFourBitsWithAlphaKeepTheirColours) {
    CRaster image;
    MakeImage(image, Kind::TrueColor, 33, 21, true);
    const size_t n = size_t(33) * 21;
    image.alphaPlane = static_cast<uint8_t*>(std::malloc(n));
    ASSERT_NE(image.alphaPlane, nullptr);
    for (size_t i = 0; i < n; ++i) image.alphaPlane[i] = 255;
    const Picture expected = Expected(image);

    const std::string png = TempPath("a.png");
    ASSERT_TRUE(image.SaveFile(png, kFormatPNG)) << image.LastError();
    EXPECT_NE(RunCommand("/usr/bin/identify -verbose '" + png + "'").find("png:IHDR.color_type: 6"),
              std::string::npos);
    const std::string tif = TempPath("a.tif");
    ASSERT_TRUE(image.SaveFile(tif, kFormatTIF)) << image.LastError();
    const std::string tga = TempPath("a.tga");
    ASSERT_TRUE(image.SaveFile(tga, kFormatTGA)) << image.LastError();
    EXPECT_EQ(ReadFileBytes(tga)[16], 32);
    const std::string pcx = TempPath("a.pcx");
    ASSERT_TRUE(image.SaveFile(pcx, kFormatPCX)) << image.LastError();
    EXPECT_EQ(ReadFileBytes(pcx)[65], 4);
    for (const std::string& path : {png, tif, tga}) {
        SCOPED_TRACE(path);
        Picture decoded;
        ASSERT_TRUE(DecodeWithConvert(path, decoded, "-auto-orient -alpha off"));
        EXPECT_EQ(MaxDifference(decoded, expected), 0);
    }
}
