// Raster pipelines through the handle API, checked on the written files.
#include "EngineTestSupport.h"
#include "OutputReaders.h"

#include <climits>
#include <map>

using namespace enginetest;

namespace {

const char* Extension(int format) {
    static const std::map<int, const char*> names = {
        {FMT_BMP, "bmp"}, {FMT_EMF, "emf"}, {FMT_WMF, "wmf"},  {FMT_JPEG, "jpg"},
        {FMT_PNG, "png"}, {FMT_GIF, "gif"}, {FMT_TIFF, "tif"}, {FMT_PCX, "pcx"},
        {FMT_TGA, "tga"}, {FMT_JP2, "jp2"}, {FMT_RAS, "ras"},  {FMT_JPC, "jpc"}};
    return names.at(format);
}

// The colour modes as the job runner passes them: gray before bpp.
struct ColourMode {
    const char* name;
    int bpp;
    bool gray;
};
const ColourMode kModes[6] = {{"TrueColor", 24, false}, {"256Color", 8, false},
                              {"256Grays", 8, true},    {"16Color", 4, false},
                              {"16Grays", 4, true},     {"BW", 1, false}};

std::vector<Option> ModeOptions(int format, const ColourMode& mode) {
    std::vector<Option> options = {{OPT_FORMAT, format}};
    if (mode.gray) options.push_back({OPT_GRAY, 1});
    options.push_back({OPT_BPP, mode.bpp});
    return options;
}

// What each format stores per colour mode: bits per pixel and gray-only.
struct Expected {
    int bits;
    bool gray;
};
constexpr Expected RGB24{24, false}, PAL8{8, false}, GRAY8{8, true}, PAL4{4, false}, GRAY4{4, true},
    BW1{1, true};

Expected ExpectedKind(int format, int mode) {
    switch (format) {
    case FMT_BMP:
    case FMT_PNG:
    case FMT_PCX:
    case FMT_TIFF:
        return std::array{RGB24, PAL8, GRAY8, PAL4, GRAY4, BW1}[mode];
    case FMT_GIF:
        return std::array{PAL8, PAL8, GRAY8, PAL4, GRAY4, BW1}[mode];
    case FMT_JPEG:
        return std::array{RGB24, GRAY8, GRAY8, RGB24, GRAY8, RGB24}[mode];
    case FMT_TGA:
        return std::array{RGB24, PAL8, GRAY8, RGB24, RGB24, RGB24}[mode];
    default:
        return std::array{RGB24, RGB24, GRAY8, RGB24, GRAY8, RGB24}[mode];
    }
}

class FormatByMode : public EngineTest,
                     public ::testing::WithParamInterface<std::tuple<int, int>> {};

TEST_P(FormatByMode, GivesTheDepthOfTheTable) {
    auto [format, mode] = GetParam();
    fs::path out = Dir() / (std::string("out.") + Extension(format));
    RunResult result = Convert({Page(60, 40)}, out, ModeOptions(format, kModes[mode]));
    EXPECT_EQ(result.run, 1);
    EXPECT_EQ(result.destroy, 1);
    ImageKind kind = ReadKind(format, out);
    ASSERT_TRUE(kind.ok) << "unreadable " << out;
    Expected expected = ExpectedKind(format, mode);
    EXPECT_EQ(kind.bits, expected.bits) << kind.detail;
    if (expected.bits > 1) {
        EXPECT_EQ(kind.gray, expected.gray) << kind.detail;
    }
    EXPECT_EQ(kind.width, 60);
    EXPECT_EQ(kind.height, 40);
    // An independent decoder opens every file at its size.
    EXPECT_EQ(Identify(out, "%w %h"), "60 40");
    // Nothing else is left in the folder: no temporary file.
    EXPECT_EQ(ListFolder(Dir()),
              (std::vector<std::string>{std::string("out.") + Extension(format), "page.bmp"}));
}

std::string FormatModeName(const ::testing::TestParamInfo<std::tuple<int, int>>& info) {
    return std::string(Extension(std::get<0>(info.param))) + "_" +
           kModes[std::get<1>(info.param)].name;
}

INSTANTIATE_TEST_SUITE_P(Engine, FormatByMode,
                         ::testing::Combine(::testing::Values(FMT_BMP, FMT_JPEG, FMT_PNG, FMT_GIF,
                                                              FMT_TIFF, FMT_PCX, FMT_TGA, FMT_JP2,
                                                              FMT_RAS, FMT_JPC),
                                            ::testing::Range(0, 6)),
                         FormatModeName);

class EnginePipeline : public EngineTest {};

// The test page has a black block top-left and a white block bottom-right.
bool IsBlack(const PngPixels& p, int x, int y) {
    return p.R(x, y) < 40 && p.G(x, y) < 40 && p.B(x, y) < 40;
}
bool IsWhite(const PngPixels& p, int x, int y) {
    return p.R(x, y) > 215 && p.G(x, y) > 215 && p.B(x, y) > 215;
}

TEST_F(EnginePipeline, QuarterTurnsAndOtherAngles) {
    fs::path page = Page(60, 40);
    struct Case {
        int angle;
        int width, height;
        int blackX, blackY, whiteX, whiteY; // a pixel inside each block
    };
    const Case cases[] = {
        {90, 40, 60, 38, 2, 1, 57},  // clockwise: top-left goes to top-right
        {180, 60, 40, 58, 38, 1, 1}, // upside down
        {270, 40, 60, 1, 57, 38, 2}, // counter-clockwise: top-left goes to bottom-left
    };
    for (const Case& c : cases) {
        fs::path out = Dir() / ("turn" + std::to_string(c.angle) + ".png");
        RunResult result = Convert({page}, out, {{OPT_FORMAT, FMT_PNG}, {OPT_ROTATE, c.angle}});
        EXPECT_EQ(result.run, 1);
        PngPixels p = ReadPngPixels(out);
        ASSERT_TRUE(p.ok);
        EXPECT_EQ(p.width, c.width) << c.angle;
        EXPECT_EQ(p.height, c.height) << c.angle;
        EXPECT_TRUE(IsBlack(p, c.blackX, c.blackY)) << c.angle;
        EXPECT_TRUE(IsWhite(p, c.whiteX, c.whiteY)) << c.angle;
    }
    // Any other angle rotates the page into a larger outline.
    fs::path out = Dir() / "turn30.png";
    EXPECT_EQ(Convert({page}, out, {{OPT_FORMAT, FMT_PNG}, {OPT_ROTATE, 30}}).run, 1);
    PngPixels p = ReadPngPixels(out);
    ASSERT_TRUE(p.ok);
    // 60 cos 30 + 40 sin 30 = 71.96, 60 sin 30 + 40 cos 30 = 64.64
    EXPECT_NEAR(p.width, 72, 1);
    EXPECT_NEAR(p.height, 65, 1);
}

TEST_F(EnginePipeline, BmpIsNeverRotated) {
    fs::path out = Dir() / "out.bmp";
    EXPECT_EQ(Convert({Page(60, 40)}, out, {{OPT_FORMAT, FMT_BMP}, {OPT_ROTATE, 90}}).run, 1);
    BmpInfo bmp = ReadBmp(out);
    ASSERT_TRUE(bmp.ok);
    EXPECT_EQ(bmp.width, 60);
    EXPECT_EQ(bmp.height, 40);
    EXPECT_EQ(bmp.Pixel(2, 2), (Rgb{0, 0, 0}));
}

TEST_F(EnginePipeline, ResizeNeedsBothSides) {
    fs::path page = Page(60, 40);
    fs::path out = Dir() / "small.bmp";
    EXPECT_EQ(Convert({page}, out, {{OPT_FORMAT, FMT_BMP}, {OPT_WIDTH, 30}, {OPT_HEIGHT, 25}}).run,
              1);
    BmpInfo bmp = ReadBmp(out);
    EXPECT_EQ(bmp.width, 30);
    EXPECT_EQ(bmp.height, 25);

    fs::path half = Dir() / "half.bmp";
    EXPECT_EQ(Convert({page}, half, {{OPT_FORMAT, FMT_BMP}, {OPT_WIDTH, 30}}).run, 1);
    EXPECT_EQ(ReadBmp(half).width, 60);

    // Resizing comes after the turn: the box is the output's own size.
    fs::path turned = Dir() / "turned.png";
    EXPECT_EQ(Convert({page}, turned,
                      {{OPT_FORMAT, FMT_PNG}, {OPT_ROTATE, 90}, {OPT_WIDTH, 33}, {OPT_HEIGHT, 22}})
                  .run,
              1);
    PngPixels p = ReadPngPixels(turned);
    EXPECT_EQ(p.width, 33);
    EXPECT_EQ(p.height, 22);
}

TEST_F(EnginePipeline, ResolutionIsStampedAndSurvivesTurnsAndResizing) {
    fs::path page = Page(60, 40, 96);
    fs::path bmpOut = Dir() / "res.bmp";
    EXPECT_EQ(Convert({page}, bmpOut,
                      {{OPT_FORMAT, FMT_BMP},
                       {OPT_XDPI, 300},
                       {OPT_YDPI, 150},
                       {OPT_WIDTH, 20},
                       {OPT_HEIGHT, 10}})
                  .run,
              1);
    BmpInfo bmp = ReadBmp(bmpOut);
    EXPECT_EQ(bmp.xPelsPerMeter, 11811);
    EXPECT_EQ(bmp.yPelsPerMeter, 5906);

    for (int angle : {90, 33}) {
        fs::path pngOut = Dir() / ("res" + std::to_string(angle) + ".png");
        EXPECT_EQ(Convert({page}, pngOut,
                          {{OPT_FORMAT, FMT_PNG},
                           {OPT_XDPI, 300},
                           {OPT_YDPI, 150},
                           {OPT_ROTATE, angle},
                           {OPT_WIDTH, 20},
                           {OPT_HEIGHT, 10}})
                      .run,
                  1);
        uint32_t x = 0, y = 0;
        ASSERT_TRUE(ReadPngResolution(pngOut, x, y));
        EXPECT_EQ(x, 11811u) << angle;
        EXPECT_EQ(y, 5906u) << angle;
    }

    fs::path tifOut = Dir() / "res.tif";
    EXPECT_EQ(Convert({page}, tifOut,
                      {{OPT_FORMAT, FMT_TIFF}, {OPT_XDPI, 200}, {OPT_YDPI, 100}, {OPT_ROTATE, 90}})
                  .run,
              1);
    std::vector<TiffPage> pages = ReadTiff(tifOut);
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_FLOAT_EQ(pages[0].xResolution, 200);
    EXPECT_FLOAT_EQ(pages[0].yResolution, 100);

    // Out-of-range resolutions are held to 72 ... 600.
    fs::path low = Dir() / "low.bmp";
    EXPECT_EQ(Convert({page}, low, {{OPT_FORMAT, FMT_BMP}, {OPT_XDPI, 10}, {OPT_YDPI, 5000}}).run,
              1);
    EXPECT_EQ(ReadBmp(low).xPelsPerMeter, 2835);
    EXPECT_EQ(ReadBmp(low).yPelsPerMeter, 23622);
}

TEST_F(EnginePipeline, OnlyTheFirstInputIsConvertedExceptForMergedTiff) {
    fs::path first = Page(60, 40, 300, "first");
    fs::path second = Page(30, 20, 300, "second");
    fs::path out = Dir() / "out.png";
    EXPECT_EQ(Convert({first, second}, out, {{OPT_FORMAT, FMT_PNG}}).run, 1);
    EXPECT_EQ(ReadPngPixels(out).width, 60);
    EXPECT_EQ(ListFolder(Dir()), (std::vector<std::string>{"first.bmp", "out.png", "second.bmp"}));
}

TEST_F(EnginePipeline, ThreeInputsMergeIntoOneTiffInOrder) {
    fs::path a = Page(60, 40, 300, "a"), b = Page(50, 30, 300, "b"), c = Page(40, 20, 300, "c");
    fs::path merged = Dir() / "merged.tif";
    fs::path single = Dir() / "single.tif";
    int h = ImgConvCreate();
    for (const fs::path& p : {a, b, c}) ImgConvAddFile(h, p.c_str(), 1);
    ImgConvSetOption(h, OPT_OUTPUT_PATH, single.c_str(), 0, nullptr);
    ImgConvSetOption(h, OPT_MULTIPAGE_PATH, merged.c_str(), 0, nullptr);
    ImgConvSetOption(h, OPT_MULTIPAGE, nullptr, 1, nullptr);
    ImgConvSetOption(h, OPT_FORMAT, nullptr, FMT_TIFF, nullptr);
    ImgConvSetOption(h, OPT_BPP, nullptr, 1, nullptr);
    EXPECT_EQ(ImgConvRun(h), 1);
    // The merged file takes its name only when the handle is finished.
    EXPECT_FALSE(fs::exists(merged));
    EXPECT_EQ(ImgConvDestroy(h), 1);

    std::vector<TiffPage> pages = ReadTiff(merged);
    ASSERT_EQ(pages.size(), 3u);
    const uint32_t widths[3] = {60, 50, 40};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(pages[i].width, widths[i]);
        EXPECT_EQ(pages[i].pageNumber, i + 1);
        EXPECT_EQ(pages[i].pageName, "Page " + std::to_string(i + 1));
        EXPECT_EQ(pages[i].bitsPerSample, 1);
        EXPECT_EQ(pages[i].compression, 4);
    }
    EXPECT_FALSE(fs::exists(single));
    EXPECT_EQ(ListFolder(Dir()),
              (std::vector<std::string>{"a.bmp", "b.bmp", "c.bmp", "merged.tif"}));
}

TEST_F(EnginePipeline, UnmergedTiffWritesOnePageToTheOutputPath) {
    fs::path merged = Dir() / "merged.tif";
    fs::path single = Dir() / "single.tif";
    RunResult result = Convert({Page(60, 40, 300, "a"), Page(30, 20, 300, "b")}, single,
                               {{OPT_FORMAT, FMT_TIFF}, {OPT_MULTIPAGE, 0}}, merged);
    EXPECT_EQ(result.run, 1);
    EXPECT_FALSE(fs::exists(merged));
    std::vector<TiffPage> pages = ReadTiff(single);
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_EQ(pages[0].width, 60u);
    EXPECT_EQ(pages[0].pageNumber, 0);
}

TEST_F(EnginePipeline, TiffCompressionByDepth) {
    fs::path page = Page(60, 40);
    struct Case {
        int selector, bpp;
        bool gray;
        uint16_t compression;
    };
    const Case cases[] = {
        {2, 1, false, 4},     // JPEG asked for a 1-bit page: CCITT Group 4
        {3, 1, false, 4},     // PackBits likewise
        {6, 24, false, 7},    // RLE on true colour falls back to JPEG
        {2, 4, false, 5},     // 16 colours with JPEG: LZW
        {3, 8, false, 32773}, // PackBits on 256 colours
        {0, 24, false, 1},    // uncompressed
        {5, 1, false, 3},     // CCITT Group 3
        {2, 8, true, 7},      // 256 grays with JPEG: gray JPEG
    };
    for (const Case& c : cases) {
        fs::path out =
            Dir() / ("c" + std::to_string(c.selector) + "_" + std::to_string(c.bpp) + ".tif");
        std::vector<Option> options = {{OPT_FORMAT, FMT_TIFF}, {OPT_TIFF_COMPRESSION, c.selector}};
        if (c.gray) options.push_back({OPT_GRAY, 1});
        options.push_back({OPT_BPP, c.bpp});
        EXPECT_EQ(Convert({page}, out, options).run, 1) << c.selector << "/" << c.bpp;
        std::vector<TiffPage> pages = ReadTiff(out);
        ASSERT_EQ(pages.size(), 1u) << c.selector << "/" << c.bpp;
        EXPECT_EQ(pages[0].compression, c.compression) << c.selector << "/" << c.bpp;
        if (c.gray) {
            EXPECT_EQ(pages[0].photometric, 1); // MinIsBlack
        }
    }
}

TEST_F(EnginePipeline, JpegModesAndQuality) {
    fs::path page = Page(64, 48);
    fs::path progressive = Dir() / "p.jpg", baseline = Dir() / "b.jpg", optimised = Dir() / "o.jpg";
    EXPECT_EQ(Convert({page}, progressive, {{OPT_FORMAT, FMT_JPEG}}).run, 1);
    EXPECT_EQ(Convert({page}, baseline, {{OPT_FORMAT, FMT_JPEG}, {OPT_JPEG_MODE, 2}}).run, 1);
    EXPECT_EQ(Convert({page}, optimised, {{OPT_FORMAT, FMT_JPEG}, {OPT_JPEG_MODE, 3}}).run, 1);
    EXPECT_EQ(JpegFrameType(progressive), 2);
    EXPECT_EQ(JpegFrameType(baseline), 0);
    EXPECT_EQ(JpegFrameType(optimised), 0);

    // Only the low 8 bits of the quality reach the writer: 300 is 44.
    fs::path q300 = Dir() / "q300.jpg", q44 = Dir() / "q44.jpg";
    EXPECT_EQ(Convert({page}, q300, {{OPT_FORMAT, FMT_JPEG}, {OPT_QUALITY, 300}}).run, 1);
    EXPECT_EQ(Convert({page}, q44, {{OPT_FORMAT, FMT_JPEG}, {OPT_QUALITY, 44}}).run, 1);
    EXPECT_EQ(Identify(q300, "%Q"), "44");
    EXPECT_EQ(ReadAll(q300), ReadAll(q44));
}

TEST_F(EnginePipeline, FailedOutputsAreReportedAndLeaveNoFile) {
    fs::path page = Page(60, 40);
    // A page that cannot be loaded.
    fs::path out = Dir() / "out.png";
    EXPECT_EQ(Convert({Dir() / "missing.bmp"}, out, {{OPT_FORMAT, FMT_PNG}}).run, 0);
    EXPECT_FALSE(fs::exists(out));
    // An output folder that does not exist.
    EXPECT_EQ(Convert({page}, Dir() / "no" / "such" / "out.png", {{OPT_FORMAT, FMT_PNG}}).run, 0);
    EXPECT_FALSE(fs::exists(Dir() / "no"));
    // No output path at all.
    EXPECT_EQ(Convert({page}, {}, {{OPT_FORMAT, FMT_PNG}}).run, 0);
    EXPECT_EQ(ListFolder(Dir()), std::vector<std::string>{"page.bmp"});
}

TEST_F(EnginePipeline, AFailedWriteKeepsAnOlderFile) {
    const std::vector<uint8_t> older = {'o', 'l', 'd'};
    // A 1-bit page: the TGA writer refuses it in True Color mode.
    std::vector<uint8_t> bmp(62 + 8 * 4, 0);
    bmp[0] = 'B', bmp[1] = 'M', bmp[10] = 62, bmp[14] = 40, bmp[18] = 8, bmp[22] = 8, bmp[26] = 1,
    bmp[28] = 1;
    bmp[46] = 2;
    bmp[2] = uint8_t(bmp.size());
    bmp[58] = bmp[59] = bmp[60] = 255;
    fs::path monochrome = Dir() / "mono.bmp";
    WriteAll(monochrome, bmp);
    fs::path tga = Dir() / "out.tga";
    WriteAll(tga, older);
    EXPECT_EQ(Convert({monochrome}, tga, {{OPT_FORMAT, FMT_TGA}}).run, 0);
    EXPECT_EQ(ReadAll(tga), older);

    // A page that cannot be loaded leaves the older file too.
    fs::path png = Dir() / "out.png";
    WriteAll(png, older);
    EXPECT_EQ(Convert({Dir() / "missing.bmp"}, png, {{OPT_FORMAT, FMT_PNG}}).run, 0);
    EXPECT_EQ(ReadAll(png), older);

    // A successful run replaces it.
    EXPECT_EQ(Convert({Page(60, 40)}, png, {{OPT_FORMAT, FMT_PNG}}).run, 1);
    EXPECT_EQ(ReadPngPixels(png).width, 60);
    EXPECT_EQ(ListFolder(Dir()),
              (std::vector<std::string>{"mono.bmp", "out.png", "out.tga", "page.bmp"}));
}

TEST_F(EnginePipeline, AMergedTiffWithALostPageIsNotPutInPlace) {
    const std::vector<uint8_t> older = {'o', 'l', 'd'};
    fs::path merged = Dir() / "merged.tif";
    WriteAll(merged, older);
    RunResult result =
        Convert({Page(60, 40, 300, "a"), Dir() / "missing.bmp", Page(30, 20, 300, "c")}, {},
                {{OPT_FORMAT, FMT_TIFF}, {OPT_MULTIPAGE, 1}}, merged);
    EXPECT_EQ(result.run, 0);
    EXPECT_EQ(result.destroy, 0);
    EXPECT_EQ(ReadAll(merged), older);
    EXPECT_EQ(ListFolder(Dir()), (std::vector<std::string>{"a.bmp", "c.bmp", "merged.tif"}));

    // A merged file whose folder is missing: every page is dropped.
    result = Convert({Dir() / "a.bmp"}, {}, {{OPT_FORMAT, FMT_TIFF}, {OPT_MULTIPAGE, 1}},
                     Dir() / "none" / "m.tif");
    EXPECT_EQ(result.run, 0);
    EXPECT_FALSE(fs::exists(Dir() / "none"));
}

} // namespace
