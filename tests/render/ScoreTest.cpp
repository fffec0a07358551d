#include "ScoreImage.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <unistd.h>

using namespace render_score;
namespace fs = std::filesystem;

namespace {

const fs::path kRefs = fs::path(VARNEL_SOURCE_DIR) / "tests/render/refs";

Image Load(const fs::path& p) {
    Image img;
    std::string error;
    EXPECT_TRUE(LoadImage(p.string(), img, error)) << error;
    return img;
}

Image Blank(int w, int h) {
    Image img;
    img.width = w;
    img.height = h;
    img.rgb.assign(size_t(w) * h * 3, 255);
    return img;
}

} // namespace

TEST(RenderScore, IdenticalBlankAndPadded) {
    Image text = Load(kRefs / "text-pngmono-150-1.png");
    ASSERT_GT(text.width, 1000);
    EXPECT_DOUBLE_EQ(ScorePages(text, text).Total(), 1.0);
    Score blank = ScorePages(Blank(text.width, text.height), text);
    EXPECT_DOUBLE_EQ(blank.ink, 0.0);
    EXPECT_NEAR(blank.tone, 0.0, 1e-12);
    // Two white pages agree completely.
    EXPECT_DOUBLE_EQ(ScorePages(Blank(40, 40), Blank(40, 40)).Total(), 1.0);
    // A page a pixel larger on each side, the extra white, is the same page.
    Image bigger = Blank(text.width + 1, text.height + 1);
    for (int y = 0; y < text.height; ++y)
        std::copy_n(&text.rgb[size_t(y) * text.width * 3], size_t(text.width) * 3,
                    &bigger.rgb[size_t(y) * bigger.width * 3]);
    EXPECT_DOUBLE_EQ(ScorePages(bigger, text).Total(), 1.0);
}

TEST(RenderScore, OnePixelShiftCostsAboutEightPercent) {
    Image text = Load(kRefs / "text-pngmono-150-1.png");
    Image shifted = Shift(text, 1, 1);
    double s = ScorePages(shifted, text).Total();
    EXPECT_GT(s, 0.88);
    EXPECT_LT(s, 0.96);
    // The score does not depend on which page is called the reference.
    EXPECT_NEAR(s, ScorePages(text, shifted).Total(), 1e-12);
    // Two pixels off is clearly worse than one.
    EXPECT_LT(ScorePages(Shift(text, 2, 2), text).Total(), s - 0.05);
    // Alignment finds the shift and undoes it.
    Alignment al = ScoreAligned(Shift(text, 7, -4), text, 20);
    EXPECT_EQ(al.dx, 7);
    EXPECT_EQ(al.dy, -4);
    EXPECT_GT(al.score.Total(), 0.99);
}

TEST(RenderScore, AntiAliasedTextScoresAboutNinetyFive) {
    // Ghostscript renders the same page with anti-aliasing on.
    fs::path dir = fs::temp_directory_path() / ("render-score-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    fs::path out = dir / "aa.png";
    std::string cmd =
        "gs -q -dSAFER -dBATCH -dNOPAUSE -sPAPERSIZE=a4 -dFIXEDMEDIA "
        "-dTextAlphaBits=4 -dGraphicsAlphaBits=4 -sDEVICE=pnggray -r150 -sOutputFile=" +
        out.string() + " " + VARNEL_SOURCE_DIR "/tests/render/src/text.ps 2>/dev/null";
    if (std::system(cmd.c_str()) != 0 || !fs::exists(out)) {
        fs::remove_all(dir);
        GTEST_SKIP() << "Ghostscript is not available";
    }
    Image aa = Load(out);
    Image plain = Load(kRefs / "text-pngmono-150-1.png");
    fs::remove_all(dir);
    double s = ScorePages(aa, plain).Total();
    EXPECT_GT(s, 0.92);
    EXPECT_LT(s, 0.99);
}

TEST(RenderScore, ReadsBottomUpBmp) {
    // 2 x 2, 24-bit, bottom-up: the first stored row is the lower one.
    uint8_t bmp[54 + 16] = {'B', 'M', 70, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0,  40,
                            0,   0,   0,  2, 0, 0, 0, 2, 0, 0, 0,  1, 0, 24, 0};
    uint8_t* px = bmp + 54;
    // lower row: blue, green; upper row: red, white (BGR order, rows padded to 8)
    uint8_t rows[16] = {255, 0, 0, 0, 255, 0, 0, 0, 0, 0, 255, 255, 255, 255, 0, 0};
    std::copy(rows, rows + 16, px);
    fs::path p = fs::temp_directory_path() / ("score-bmp-" + std::to_string(::getpid()) + ".bmp");
    FILE* f = std::fopen(p.c_str(), "wb");
    ASSERT_TRUE(f);
    std::fwrite(bmp, 1, sizeof bmp, f);
    std::fclose(f);
    Image img = Load(p);
    fs::remove(p);
    ASSERT_EQ(img.width, 2);
    ASSERT_EQ(img.height, 2);
    EXPECT_EQ(img.rgb[0], 255); // top-left red
    EXPECT_EQ(img.rgb[1], 0);
    EXPECT_EQ(img.rgb[3 * 2 + 2], 255); // bottom-left blue
    EXPECT_EQ(img.rgb[3 * 3 + 1], 255); // bottom-right green
}
