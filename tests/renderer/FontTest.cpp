// Resident typeface mapping, outlines and the glyph cache.
#include "TestUtil.h"

#include "core/Font.h"

#include <gtest/gtest.h>

using namespace tarvik;

namespace {

TEST(ResidentFonts, PclNamesMapToMetricTwins) {
    EXPECT_EQ(FontLibrary::FileForName("Courier         "), "NimbusMonoPS-Regular.otf");
    EXPECT_EQ(FontLibrary::FileForName("Courier       Bd"), "NimbusMonoPS-Bold.otf");
    EXPECT_EQ(FontLibrary::FileForName("Courier     BdIt"), "NimbusMonoPS-BoldItalic.otf");
    EXPECT_EQ(FontLibrary::FileForName("Arial         It"), "LiberationSans-Italic.ttf");
    EXPECT_EQ(FontLibrary::FileForName("TimesNewRmn     "), "LiberationSerif-Regular.ttf");
    EXPECT_EQ(FontLibrary::FileForName("TimeNewRmn    Bd"), "LiberationSerif-Bold.ttf");
    EXPECT_EQ(FontLibrary::FileForName("CG Times      It"), "NimbusRoman-Italic.otf");
    EXPECT_EQ(FontLibrary::FileForName("Univers     CdMd"), "NimbusSansNarrow-Regular.otf");
    EXPECT_EQ(FontLibrary::FileForName("Helvetica-BoldOblique"), "NimbusSans-BoldItalic.otf");
    EXPECT_EQ(FontLibrary::FileForName("Symbol"), "StandardSymbolsPS.otf");
    EXPECT_EQ(FontLibrary::FileForName(std::string("Arial\0\0\0", 8)),
              "LiberationSans-Regular.ttf");
}

TEST(ResidentFonts, LoadedFacesAndFallbacks) {
    FontLibrary lib;
    FontLibrary::Resident courier = lib.ByName("Courier       Bd");
    if (!courier.face) GTEST_SKIP() << "URW base-35 fonts are not installed";
    EXPECT_TRUE(courier.exact);
    EXPECT_TRUE(courier.face->FixedPitch());
    uint32_t a = courier.face->GlyphForUnicode('A');
    ASSERT_NE(a, 0u);
    EXPECT_NEAR(courier.face->Advance(a), 0.6, 0.001); // Courier's 600-unit cell
    // Loaded once per job.
    EXPECT_EQ(lib.ByName("Courier       Bd").face.get(), courier.face.get());

    FontLibrary::Resident unknown = lib.ByName("NoSuchFace    Bd");
    ASSERT_NE(unknown.face, nullptr);
    EXPECT_FALSE(unknown.exact);

    FontLibrary::Resident times = lib.ByTypeface(4101, true, false);
    ASSERT_NE(times.face, nullptr);
    EXPECT_EQ(times.file, "NimbusRoman-Bold.otf");
    EXPECT_EQ(lib.ByTypeface(16602, false, false).file, "LiberationSans-Regular.ttf");
}

TEST(ResidentFonts, BadFontBytesAreRefused) {
    EXPECT_EQ(FontFace::FromMemory({}), nullptr);
    EXPECT_EQ(FontFace::FromMemory(std::vector<uint8_t>(100, 0x41)), nullptr);
    EXPECT_EQ(FontFace::FromFile("/nonexistent/font.ttf"), nullptr);
}

TEST(Glyphs, DrawnAtTheirOriginAndCached) {
    FontLibrary lib;
    auto face = lib.ByName("Arial").face;
    if (!face) GTEST_SKIP() << "Liberation fonts are not installed";
    uint32_t h = face->GlyphForUnicode('H');
    ASSERT_NE(h, 0u);
    Path outline;
    ASSERT_TRUE(face->Outline(h, outline));
    Rect b = outline.Bounds();
    EXPECT_GT(b.y1, 0.6); // glyph space is y-up: the cap height lies above 0
    EXPECT_NEAR(b.y0, 0, 0.01);

    test::Canvas c(64, 64);
    // 40-pixel em, baseline at y = 50.
    Matrix m = Matrix::Scale(40, -40).Then(Matrix::Translate(10, 50));
    c.device.FillGlyph(*face, h, m, Paint::SolidColor(kBlack), {});
    int first = c.InkCount();
    EXPECT_GT(first, 200);
    EXPECT_FALSE(c.Ink(30, 52)); // nothing below the baseline
    EXPECT_TRUE(c.Ink(14, 40));  // the left stem
    size_t cached = c.glyphs.MemoryBytes();
    // The same glyph elsewhere on the page comes from the cache.
    c.device.FillGlyph(*face, h, m.Then(Matrix::Translate(0, -30)), Paint::SolidColor(kBlack), {});
    EXPECT_EQ(c.glyphs.MemoryBytes(), cached);
}

} // namespace
