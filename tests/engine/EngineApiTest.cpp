// The handle API: validity of handles, the options and their limits.
#include "EngineTestSupport.h"
#include "ImageConverter.h"

#include <set>

using namespace enginetest;

namespace {

class EngineApi : public EngineTest {};

TEST_F(EngineApi, HandlesNotGreaterThanZeroOrUnknownGiveZero) {
    for (int bad : {0, -5, 123456789}) {
        EXPECT_EQ(ImgConvAddFile(bad, "/tmp/x.bmp", 1), 0);
        EXPECT_EQ(ImgConvSetOption(bad, OPT_FORMAT, nullptr, 5, nullptr), 0);
        EXPECT_EQ(ImgConvRun(bad), 0);
        EXPECT_EQ(ImgConvDestroy(bad), 0);
    }
    int h = ImgConvCreate();
    ASSERT_GT(h, 0);
    EXPECT_EQ(ImgConvDestroy(h), 1);
    // A destroyed handle is unknown from then on, and is not handed out again
    // at once to a newer converter.
    EXPECT_EQ(ImgConvRun(h), 0);
    EXPECT_EQ(ImgConvDestroy(h), 0);
    int next = ImgConvCreate();
    EXPECT_NE(next, h);
    ImgConvDestroy(next);
}

TEST_F(EngineApi, HandlesAreSmallDistinctPositiveNumbers) {
    std::set<int> handles;
    for (int i = 0; i < 50; ++i) {
        int h = ImgConvCreate();
        ASSERT_GT(h, 0);
        EXPECT_LT(h, 1 << 20);
        EXPECT_TRUE(handles.insert(h).second);
    }
    for (int h : handles) EXPECT_EQ(ImgConvDestroy(h), 1);
}

TEST_F(EngineApi, OptionLimits) {
    int h = ImgConvCreate();
    CImageConverter* c = FindConverter(h);
    ASSERT_NE(c, nullptr);
    auto set = [&](int code, int value) {
        EXPECT_EQ(ImgConvSetOption(h, code, nullptr, value, nullptr), 1);
    };

    set(OPT_FORMAT, 0);
    EXPECT_EQ(c->format, 4);
    set(OPT_FORMAT, 12);
    EXPECT_EQ(c->format, 12);
    set(OPT_FORMAT, 13);
    EXPECT_EQ(c->format, 4);
    set(OPT_FORMAT, -2147483647 - 1);
    EXPECT_EQ(c->format, 4);

    set(OPT_XDPI, 50);
    set(OPT_YDPI, 1200);
    EXPECT_EQ(c->xdpi, 72);
    EXPECT_EQ(c->ydpi, 600);
    set(OPT_XDPI, 300);
    set(OPT_YDPI, 300);
    EXPECT_EQ(c->xdpi, 300);
    EXPECT_EQ(c->ydpi, 300);

    set(OPT_WIDTH, 640);
    set(OPT_WIDTH, 0);
    set(OPT_WIDTH, -1);
    EXPECT_EQ(c->width, 640);
    set(OPT_HEIGHT, 480);
    set(OPT_HEIGHT, -7);
    EXPECT_EQ(c->height, 480);
    set(OPT_ROTATE, 90);
    set(OPT_ROTATE, -90);
    set(OPT_ROTATE, 0);
    EXPECT_EQ(c->angle, 90);
    set(OPT_JPEG_MODE, 2);
    set(OPT_JPEG_MODE, 0);
    EXPECT_EQ(c->jpegMode, 2);

    set(OPT_BPP, -3);
    EXPECT_EQ(c->bpp, -3);
    set(OPT_QUALITY, 300);
    EXPECT_EQ(c->quality, 300);
    set(OPT_MULTIPAGE, 7);
    EXPECT_TRUE(c->multiPage);
    set(OPT_GRAY, -1);
    EXPECT_TRUE(c->gray);
    set(OPT_GRAY, 0);
    EXPECT_FALSE(c->gray);

    // Codes outside the table are accepted and change nothing.
    for (int code : {0, 3, 4, 16, 29, 31, -1, 1000000}) set(code, 99);
    EXPECT_EQ(c->format, 4);
    EXPECT_EQ(c->bpp, -3);
    ImgConvDestroy(h);
}

TEST_F(EngineApi, PathsAreMadeAbsoluteAndEmptyTextsIgnored) {
    int h = ImgConvCreate();
    CImageConverter* c = FindConverter(h);
    ASSERT_NE(c, nullptr);
    std::string cwd = fs::current_path().string();
    ImgConvSetOption(h, OPT_OUTPUT_PATH, "out/./a.png", 0, nullptr);
    EXPECT_EQ(c->outputPath, cwd + "/out/a.png");
    ImgConvSetOption(h, OPT_OUTPUT_PATH, "", 0, nullptr);
    ImgConvSetOption(h, OPT_OUTPUT_PATH, nullptr, 0, nullptr);
    EXPECT_EQ(c->outputPath, cwd + "/out/a.png");
    ImgConvSetOption(h, OPT_MULTIPAGE_PATH, "/x/../y/m.tif", 0, nullptr);
    EXPECT_EQ(c->multiPagePath, "/y/m.tif");

    ImgConvAddFile(h, "p1.bmp", 1);
    ImgConvAddFile(h, "/abs/p2.bmp", 7);
    ASSERT_EQ(c->inputs.size(), 2u);
    EXPECT_EQ(c->inputs[0], cwd + "/p1.bmp");
    EXPECT_EQ(c->inputs[1], "/abs/p2.bmp");
    // Every input shares the format of the last call.
    EXPECT_EQ(c->inputFormat, 7);
    ImgConvDestroy(h);
}

TEST_F(EngineApi, RunWithoutInputWritesNothingAndSucceeds) {
    fs::path out = Dir() / "none.jpg";
    int h = ImgConvCreate();
    ImgConvSetOption(h, OPT_OUTPUT_PATH, out.c_str(), 0, nullptr);
    EXPECT_EQ(ImgConvRun(h), 1);
    EXPECT_EQ(ImgConvDestroy(h), 1);
    EXPECT_TRUE(ListFolder(Dir()).empty());
}

} // namespace
