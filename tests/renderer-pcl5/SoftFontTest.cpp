// Downloaded fonts: what a job's font downloads leave in the font store, how
// they survive resets and redefinition, and what bad downloads cost.
#include "ScoreImage.h"
#include "SoftFontWriter.h"

#include "core/Job.h"
#include "core/Raster.h"
#include "fonts/SoftFont.h"
#include "job/Runner.h"
#include "pcl5/Pcl5.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

using namespace tarvik;

namespace {

const std::string E = "\x1b";
const std::string kSans = "/usr/share/fonts/truetype/liberation2/LiberationSans-Regular.ttf";

struct JobRun {
    JobOptions options;
    std::unique_ptr<JobContext> job;
    int pages = 0;
    JobRun() {
        options.xdpi = options.ydpi = 75;
        options.widthPx = int(75 * 8.27);
        options.heightPx = int(75 * 11.69);
        options.onPage = [this](int, const PageRaster&) { ++pages; };
        job = std::make_unique<JobContext>(options);
    }
    JobRun& Feed(const std::string& data) {
        bool ok = true;
        pcl5::Interpret(reinterpret_cast<const uint8_t*>(data.data()), data.size(), *job, ok);
        return *this;
    }
    SoftFontStore& Store() { return job->SoftFonts(); }
};

bool HaveSans() {
    return std::filesystem::exists(kSans);
}

Path Outline(const FontFace& face, uint32_t glyph) {
    Path p;
    face.Outline(glyph, p);
    return p;
}

} // namespace

// A TrueType face downloaded as characters keeps every glyph outline, whether
// the characters come whole or in continuation blocks; a character whose
// checksum fails is refused and the rest of the job goes on.
TEST(SoftFont, TrueTypeDownloadRebuildsTheFacesOutlines) {
    if (!HaveSans()) GTEST_SKIP() << kSans << " not installed";
    auto original = FontFace::FromFile(kSans);
    ASSERT_TRUE(original);
    for (size_t block : {size_t(32767), size_t(40)}) {
        JobRun run;
        run.Feed(softfontwriter::TrueTypeFont(kSans, 3, block));
        SoftFont* font = run.Store().Find(3);
        ASSERT_TRUE(font) << block;
        EXPECT_EQ(font->Header().format, 15);
        // 191 codes and the composite parts under code 65535.
        EXPECT_EQ(font->GlyphCount(), 192u) << block;
        auto face = font->Face();
        ASSERT_TRUE(face);
        for (char32_t c : std::u32string_view(U"Ag&\u00e9\u00df")) {
            const SoftGlyph* g = font->Glyph(c);
            ASSERT_TRUE(g) << uint32_t(c);
            uint32_t want = original->GlyphForUnicode(c);
            ASSERT_EQ(g->glyphId, want);
            Path a = Outline(*face, g->glyphId);
            Path b = Outline(*original, want);
            ASSERT_FALSE(a.Empty());
            EXPECT_EQ(a.Bounds().x0, b.Bounds().x0);
            EXPECT_EQ(a.Bounds().y1, b.Bounds().y1);
            EXPECT_DOUBLE_EQ(face->Advance(g->glyphId), original->Advance(want));
        }
        EXPECT_EQ(run.job->WarningCount(), 0);
    }
    // An identical re-download keeps the built face (and so its rendered
    // glyphs); a character sent again with other data gets its own outline.
    {
        const std::string download = softfontwriter::TrueTypeFont(kSans, 3);
        JobRun run;
        run.Feed(download);
        uint64_t first = run.Store().Find(3)->Face()->Id();
        run.Feed(download);
        EXPECT_EQ(run.Store().Find(3)->Face()->Id(), first);
        // 'O''s glyph data sent again as glyph ID of 'X' under code 'X'.
        SoftFont* font = run.Store().Find(3);
        const uint16_t x = font->Glyph('X')->glyphId;
        std::string o = download.substr(download.find(E + "*c79E"));
        o = o.substr(0, o.find(E + "*c", 2));
        std::string block = o.substr(o.find('W') + 1);
        block[6] = char(x >> 8), block[7] = char(x);
        unsigned sum = 0;
        for (size_t i = 4; i + 1 < block.size(); ++i) sum += uint8_t(block[i]);
        block.back() = char((256 - sum % 256) % 256);
        run.Feed(download + E + "*c88E" + E + "(s" + std::to_string(block.size()) + "W" + block);
        font = run.Store().Find(3);
        ASSERT_EQ(font->Glyph('X')->glyphId, x);
        auto face = font->Face();
        EXPECT_NE(face->Id(), first);
        // The same outline, placed by X's side bearing.
        Rect now = Outline(*face, x).Bounds(),
             want = Outline(*face, font->Glyph('O')->glyphId).Bounds();
        EXPECT_NEAR(now.x1 - now.x0, want.x1 - want.x0, 1e-9);
        EXPECT_NEAR(now.y0, want.y0, 1e-9);
        EXPECT_EQ(run.job->WarningCount(), 0);
    }
    // The same font as a format 16 header: 32-bit segment sizes.
    {
        std::string job = softfontwriter::TrueTypeFont(kSans, 3);
        size_t at = job.find(E + ")s"), data = job.find('W', at) + 1;
        size_t size = std::stoul(job.substr(at + 3, data - 1 - at - 3));
        std::string h = job.substr(data, size), wide = h.substr(0, 72);
        wide[2] = 16;
        for (size_t p = 72; p + 4 <= h.size() - 2;) {
            size_t n = (uint8_t(h[p + 2]) << 8) | uint8_t(h[p + 3]);
            wide += h.substr(p, 2) + std::string(2, '\0') + h.substr(p + 2, 2) + h.substr(p + 4, n);
            if (h.compare(p, 2, "\xff\xff") == 0) break;
            p += 4 + n;
        }
        wide += '\0';
        unsigned sum = 0;
        for (size_t i = 64; i < wide.size(); ++i) sum += uint8_t(wide[i]);
        wide += char((256 - sum % 256) % 256);
        JobRun run;
        run.Feed(job.substr(0, at) + E + ")s" + std::to_string(wide.size()) + "W" + wide +
                 job.substr(data + size));
        SoftFont* font = run.Store().Find(3);
        ASSERT_TRUE(font);
        EXPECT_EQ(font->Header().format, 16);
        ASSERT_TRUE(font->Face());
        EXPECT_FALSE(Outline(*font->Face(), font->Glyph('A')->glyphId).Empty());
        EXPECT_EQ(run.job->WarningCount(), 0);
        EXPECT_EQ(run.pages, 0); // a font download alone makes no page
    }
    // One flipped byte in the glyph data of 'B' (code 66).
    std::string job = softfontwriter::TrueTypeFont(kSans, 3);
    size_t at = job.find(E + "*c66E");
    ASSERT_NE(at, std::string::npos);
    size_t data = job.find('W', at) + 1;
    job[data + 12] ^= 0x10;
    JobRun run;
    run.Feed(job);
    ASSERT_TRUE(run.Store().Find(3));
    EXPECT_FALSE(run.Store().Find(3)->Glyph('B'));
    EXPECT_TRUE(run.Store().Find(3)->Glyph('C'));
    EXPECT_EQ(run.job->WarningCount(), 1);
}

// Class 2 rows decode to exactly the bits class 1 sends for the same glyphs.
TEST(SoftFont, CompressedAndPlainBitmapCharactersAgree) {
    if (!HaveSans()) GTEST_SKIP() << kSans << " not installed";
    softfontwriter::BitmapOptions plain{20, 600, 10, false}, packed{20, 600, 10, true};
    JobRun run;
    run.Feed(softfontwriter::BitmapFont(kSans, 1, plain) +
             softfontwriter::BitmapFont(kSans, 2, packed));
    SoftFont *a = run.Store().Find(1), *b = run.Store().Find(2);
    ASSERT_TRUE(a && b);
    EXPECT_EQ(a->Header().xResolution, 600);
    int compared = 0;
    for (uint32_t c = 33; c < 256; ++c) {
        const SoftGlyph *ga = a->Glyph(c), *gb = b->Glyph(c);
        ASSERT_EQ(!ga, !gb) << c;
        if (!ga) continue;
        EXPECT_EQ(ga->glyphClass, 1);
        EXPECT_EQ(gb->glyphClass, 2);
        ASSERT_EQ(ga->width, gb->width);
        ASSERT_EQ(ga->height, gb->height);
        EXPECT_EQ(ga->bits, gb->bits) << "code " << c;
        ++compared;
    }
    EXPECT_GT(compared, 180);
    EXPECT_EQ(run.job->WarningCount(), 0);
}

// Fonts and symbol sets outlive a reset and a new job only when permanent;
// deleting a font, a character, or all fonts takes exactly what was asked.
TEST(SoftFont, ManagementCommands) {
    if (!HaveSans()) GTEST_SKIP() << kSans << " not installed";
    softfontwriter::BitmapOptions o{0, 300, 8, false};
    const std::string font = softfontwriter::BitmapFont(kSans, 0, o);
    const std::string header = font.substr(font.find(E + ")s"));
    auto as = [&](int id) { return E + "*c" + std::to_string(id) + "D" + header; };
    // A user symbol set (B and A for codes 65 and 66), defined twice.
    std::string set = {0, 18, 0, 0, 3, 1, 0, 65, 0, 66, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0x42, 0, 0x41};
    auto defineSet = [&](int id) {
        return E + "*c" + std::to_string(id) + "R" + E + "(f" + std::to_string(set.size()) + "W" +
               set;
    };
    JobRun run;
    run.Feed(as(10) + E + "*c5F" + as(11) + as(12) + E + "*c12d65e3F" + E + "*c11d2F" +
             defineSet(341) + E + "*c5S" + defineSet(342) + as(14) + E + "E" + as(13));
    SoftFontStore& store = run.Store();
    EXPECT_TRUE(store.Find(10));
    EXPECT_FALSE(store.Find(11));
    EXPECT_FALSE(store.Find(12));
    EXPECT_FALSE(store.Find(14));
    ASSERT_TRUE(store.Find(13));
    EXPECT_TRUE(store.Find(13)->Glyph('A'));
    ASSERT_TRUE(store.FindSymbolSet(341));
    EXPECT_FALSE(store.FindSymbolSet(342));
    EXPECT_EQ(store.FindSymbolSet(341)->Lookup('A'), 0x42);
    EXPECT_EQ(store.FindSymbolSet(341)->Lookup('C'), 0xFFFF);

    run.Feed(as(12) + E + "*c12d65e3F");
    ASSERT_TRUE(store.Find(12));
    EXPECT_FALSE(store.Find(12)->Glyph('A'));
    EXPECT_TRUE(store.Find(12)->Glyph('B'));
    // A later job keeps the permanent font and symbol set only.
    run.Feed(defineSet(343));
    run.Feed("");
    EXPECT_EQ(store.FontCount(), 1u);
    EXPECT_TRUE(store.Find(10));
    EXPECT_TRUE(store.FindSymbolSet(341));
    EXPECT_FALSE(store.FindSymbolSet(343));

    // A named font: created through its name, found by it, deleted with all.
    run.Feed(E + "&n5W" + std::string(1, '\0') + "Logo" + header);
    int named = store.IdForName("Logo");
    EXPECT_GT(named, 32767);
    EXPECT_TRUE(store.Find(named));
    run.Feed(E + "*c0F");
    EXPECT_EQ(store.FontCount(), 0u);
    EXPECT_EQ(run.job->WarningCount(), 0);
}

namespace {

std::string Cmd(const std::string& prefix, size_t value, const std::string& letter,
                const std::string& data = {}) {
    return E + prefix + std::to_string(value) + letter + data;
}
std::string BitmapHeader() {
    std::string h(64, '\0');
    h[1] = 64;
    h[3] = 1;
    h[7] = 20;  // baseline
    h[11] = 30; // cell height
    h[36] = 0, h[37] = 32, h[38] = 0, h[39] = 127;
    return Cmd(")s", h.size(), "W", h);
}
// A class 2 character of w x h dots, all black, in a few bytes.
std::string BlackCharacter(int w, int h) {
    std::string c = {4,       0, 14, 2, 0, 0, 0, 0, 0, 0, char(w >> 8), char(w), char(h >> 8),
                     char(h), 0, 40};
    for (int y = 0; y < h; y += 256) {
        c += char(255);
        c += char(0);
        for (int left = w; left > 0; left -= 255) {
            c += char(std::min(left, 255));
            if (left > 255) c += char(0);
        }
    }
    return Cmd("(s", c.size(), "W", c);
}

} // namespace

// Bad downloads cost a warning each and never more memory than the store's
// budget; the fonts that are sound still arrive.
TEST(SoftFont, BadDownloadsAreRefusedWithinBoundedMemory) {
    JobRun run;
    std::string job;
    job += Cmd("*c", 1, "D") + Cmd(")s", 10, "W", std::string(10, '\0')); // short header
    job += Cmd("*c", 2, "D") + BitmapHeader() + Cmd("*c", 65, "E") +      // 65535 x 65535
           Cmd("(s", 16, "W", std::string{4, 0, 14, 1, 0, 0, 0, 0, 0, 0, -1, -1, -1, -1, 0, 4});
    // A compressed row running past the width: 8 dots wide, runs of 5 + 9.
    job +=
        Cmd("*c", 66, "E") +
        Cmd("(s", 19, "W", std::string{4, 0, 14, 2, 0, 0, 0, 0, 0, 0, 0, 8, 0, 1, 0, 32, 0, 5, 9});
    // A TrueType header whose head table lies about where it is.
    std::string tt(72, '\0');
    tt[1] = 72, tt[2] = 15, tt[3] = 2, tt[64] = 8; // scale factor 2048
    std::string gt = {0,   1,   0, 0, 0, 1, 0, 0, 0,    0, 0, 0, 'h', 'e',
                      'a', 'd', 0, 0, 0, 0, 0, 0, 0x10, 0, 0, 0, 0,   54};
    tt += std::string{'G', 'T', 0, char(gt.size())} + gt + std::string{-1, -1, 0, 0, 0, 0};
    job += Cmd("*c", 3, "D") + Cmd(")s", tt.size(), "W", tt);
    // A glyph for a font that does not exist, a continuation with nothing to continue.
    job += Cmd("*c", 4, "D") + Cmd("*c", 65, "E") + BlackCharacter(8, 8) +
           Cmd("(s", 4, "W", std::string{4, 1, 0, 0});
    run.Feed(job);
    EXPECT_FALSE(run.Store().Find(1));
    ASSERT_TRUE(run.Store().Find(2));
    EXPECT_FALSE(run.Store().Find(2)->Glyph(65));
    EXPECT_FALSE(run.Store().Find(2)->Glyph(66));
    EXPECT_FALSE(run.Store().Find(3));
    EXPECT_EQ(run.job->WarningCount(), 6);

    // Thousands of fonts, then big characters a few bytes each expand into:
    // the budget holds and the job goes on.
    job.clear();
    for (int id = 0; id < 4000; ++id) job += Cmd("*c", size_t(id), "D") + BitmapHeader();
    for (int code = 32; code < 127; ++code)
        job += Cmd("*c", size_t(code), "E") + BlackCharacter(4000, 4000);
    job += Cmd("*c", 3999, "D") + Cmd("*c", 7, "F") + "\f";
    run.Feed(job);
    EXPECT_EQ(run.Store().FontCount(), 4000u);
    EXPECT_LE(run.Store().MemoryBytes(), SoftFontStore::kBudgetBytes);
    EXPECT_GT(run.Store().Find(3999)->GlyphCount(), 5u);
    EXPECT_LT(run.Store().Find(3999)->GlyphCount(), 40u);
    run.Feed(Cmd("*c", 0, "F") + Cmd("*c", 1, "D") + BitmapHeader() + Cmd("*c", 65, "E") +
             BlackCharacter(8, 8));
    ASSERT_TRUE(run.Store().Find(1));
    EXPECT_TRUE(run.Store().Find(1)->Glyph(65));
}

namespace {

struct Ink {
    int x0 = 1 << 30, y0 = 1 << 30, x1 = -1, y1 = -1;
    long count = 0;
    std::vector<std::pair<int, int>> dots;
    long Count(bool row, int at) const {
        return std::count_if(dots.begin(), dots.end(),
                             [&](auto d) { return (row ? d.second : d.first) == at; });
    }
};

// An A4 page at 150 dpi, where these tests look at their pages.
JobOptions A4At150() {
    JobOptions o;
    o.xdpi = o.ydpi = 150;
    o.widthPx = int(150 * 8.27);
    o.heightPx = int(150 * 11.69);
    return o;
}

// Renders a job at 150 dpi and returns the first page's ink box.
Ink RenderInk(const std::string& job) {
    Ink ink;
    JobOptions o = A4At150();
    o.onPage = [&](int n, const PageRaster& r) {
        if (n != 1) return;
        for (int y = 0; y < r.Height(); ++y)
            for (int x = 0; x < r.Width(); ++x)
                if (r.At(x, y) == kBlack) {
                    ink.x0 = std::min(ink.x0, x), ink.x1 = std::max(ink.x1, x);
                    ink.y0 = std::min(ink.y0, y), ink.y1 = std::max(ink.y1, y);
                    ++ink.count;
                    ink.dots.emplace_back(x, y);
                }
    };
    JobContext ctx(o);
    bool ok = true;
    pcl5::Interpret(reinterpret_cast<const uint8_t*>(job.data()), job.size(), ctx, ok);
    return ink;
}

} // namespace

// The same words set in one face through four downloads (a format 0 bitmap
// font, compressed format 20 and 16 ones at another resolution, the TrueType
// face itself) land in the same place at the same size; a character the host
// put at the space code prints.
TEST(SoftFont, DownloadedFontsSetTextInPlace) {
    if (!HaveSans()) GTEST_SKIP() << kSans << " not installed";
    const std::string text = "Hamburgefonstiv 1234";
    softfontwriter::BitmapOptions f0{0, 300, 14, false}, f20{20, 600, 14, true};
    Ink a = RenderInk(E + "E" + softfontwriter::BitmapFont(kSans, 5, f0) +
                      softfontwriter::TextPage(5, text));
    Ink b = RenderInk(E + "E" + softfontwriter::BitmapFont(kSans, 5, f20) +
                      softfontwriter::TextPage(5, text));
    Ink c = RenderInk(E + "E" + softfontwriter::TrueTypeFont(kSans, 5) + E + "(s14V" +
                      softfontwriter::TextPage(5, text));
    softfontwriter::BitmapOptions f16{16, 600, 14, true};
    Ink d = RenderInk(E + "E" + softfontwriter::BitmapFont(kSans, 5, f16) +
                      softfontwriter::TextPage(5, text));
    // Metrics in the descriptors instead of hhea/hmtx.
    Ink e = RenderInk(E + "E" + softfontwriter::TrueTypeFont(kSans, 5, 32767, false, true) + E +
                      "(s14V" + softfontwriter::TextPage(5, text));
    ASSERT_GT(a.count, 500);
    // 14 points from the cap height to the descender: about 27 pixels; the
    // line starts half an inch into the logical page (a quarter inch in).
    EXPECT_NEAR(a.y1 - a.y0, 27, 3);
    EXPECT_NEAR(a.x0, 113, 3);
    EXPECT_NEAR(a.x1 - a.x0, 300, 40);
    for (const Ink* other : {&b, &c, &d, &e}) {
        SCOPED_TRACE(other == &b   ? "format 20"
                     : other == &c ? "TrueType"
                     : other == &d ? "format 16"
                                   : "descriptor metrics");
        // Each bitmap font has its own rounded advances: a few pixels over
        // the line. Bitmaps drawn at half their resolution lose some ink.
        EXPECT_NEAR(other->x0, a.x0, 2);
        EXPECT_NEAR(other->x1, a.x1, 6);
        EXPECT_NEAR(other->y0, a.y0, 2);
        EXPECT_NEAR(other->y1, a.y1, 2);
        EXPECT_NEAR(double(other->count), double(a.count), a.count * 0.3);
    }
    // 'H' downloaded again at the space code prints where a space would.
    std::string font = softfontwriter::BitmapFont(kSans, 5, f0);
    size_t h = font.find(E + "*c72E");
    std::string again = font.substr(h, font.find(E + "*c", h + 2) - h);
    again.replace(0, 6, E + "*c32E");
    Ink spaced = RenderInk(E + "E" + font + again + softfontwriter::TextPage(5, "H H"));
    Ink plain = RenderInk(E + "E" + font + softfontwriter::TextPage(5, "HHH"));
    EXPECT_EQ(spaced.count, plain.count);
    EXPECT_EQ(spaced.x1, plain.x1);
    // 'H' redefined as 'I' between two H's of the selected font: the second
    // prints the new character (the font's looked-up glyphs must not outlive
    // the character they point into).
    size_t i = font.find(E + "*c73E");
    std::string asH = font.substr(i, font.find(E + "*c", i + 2) - i).replace(0, 6, E + "*c72E");
    std::string page = softfontwriter::TextPage(5, "H~H");
    page.replace(page.find('~'), 1, asH + " ");
    Ink redefined = RenderInk(E + "E" + font + page);
    Ink both = RenderInk(E + "E" + font + softfontwriter::TextPage(5, "H I"));
    EXPECT_EQ(redefined.count, both.count);
}

// The vertical-rotated text path with a large TrueType font that carries
// vertical metrics, forms and upright ranges: characters turn a quarter
// counter-clockwise, take their vertical advance, print in their vertical
// form, and the font's upright ranges stay as they are.
TEST(SoftFont, VerticalTextPathTurnsCharacters) {
    if (!HaveSans()) GTEST_SKIP() << kSans << " not installed";
    const std::string font =
        E + "E" + softfontwriter::TrueTypeFont(kSans, 5, 32767, true) + E + "(s14V";
    auto set = [&](const std::string& text, bool vertical) {
        return RenderInk(font + E + (vertical ? "&c-1T" : "&c0T") +
                         softfontwriter::TextPage(5, text));
    };
    Ink upright = set("L", false), turned = set("L", true);
    ASSERT_GT(upright.count, 50);
    EXPECT_NEAR(turned.x1 - turned.x0, upright.y1 - upright.y0, 1);
    EXPECT_NEAR(turned.y1 - turned.y0, upright.x1 - upright.x0, 1);
    // Counter-clockwise: the stem lies along the bottom, the foot at the right.
    EXPECT_GT(turned.Count(true, turned.y1), (turned.x1 - turned.x0) * 9 / 10);
    EXPECT_GT(turned.Count(false, turned.x1), (turned.y1 - turned.y0) * 9 / 10);
    EXPECT_LT(turned.Count(true, turned.y0), 4);
    // 1.5 em (43.75 pixels at 14 points) from one character to the next.
    Ink two = set("LL", true);
    EXPECT_NEAR(two.x1 - two.x0, turned.x1 - turned.x0 + 43.75, 1.5);
    // The box turns about its middle, which lies a quarter em above the
    // baseline (an em tall from a quarter em below it): a turned 'H' is
    // centred 7.3 pixels above the upright 'L's baseline.
    Ink h = set("H", true);
    EXPECT_NEAR((h.y0 + h.y1 + 1) / 2.0, upright.y1 + 1 - 7.3, 1);
    // 'V' is the vertical form of 'A'; digits stay upright.
    Ink a = set("A", true), v = set("V", true), ah = set("A", false);
    EXPECT_EQ(a.count, v.count);
    EXPECT_EQ(a.x0, v.x0);
    EXPECT_NE(ah.count, a.count);
    Ink one = set("1", true), oneUpright = set("1", false);
    EXPECT_EQ(one.count, oneUpright.count);
    EXPECT_EQ(one.y1, oneUpright.y1);
    EXPECT_EQ(one.x0, oneUpright.x0);
}

// An Intellifont compound character prints as its parts, each where its
// offset puts it, and advances by its own escapement.
TEST(SoftFont, CompoundCharacterJoinsItsParts) {
    std::string h(80, '\0');
    h[1] = 80, h[2] = 10, h[3] = 1;               // bound 8-bit Intellifont
    h[13] = 1;                                    // proportional
    h[15] = 14;                                   // 0N, ISO 8859-1
    h[64] = 1000 >> 8, h[65] = char(1000 & 0xFF); // design units per em
    // At 200: 'L' at the origin and 'I' 0.7 em right and 0.3 em up; 1.5 em escapement.
    std::string c = {10,        0,
                     2,         4,
                     1500 >> 8, char(1500 & 0xFF),
                     2,         0,
                     0,         'L',
                     0,         0,
                     0,         0,
                     0,         'I',
                     700 >> 8,  char(700 & 0xFF),
                     300 >> 8,  char(300 & 0xFF),
                     0,         0};
    const std::string font = E + "E" + Cmd("*c", 5, "D") + Cmd(")s", h.size(), "W", h) +
                             Cmd("*c", 200, "E") + Cmd("(s", c.size(), "W", c) + E + "(s14V";
    std::string compound = "\xC8";
    Ink both = RenderInk(font + softfontwriter::TextPage(5, compound));
    Ink l = RenderInk(font + softfontwriter::TextPage(5, "L"));
    Ink i = RenderInk(font + softfontwriter::TextPage(5, "I"));
    Ink after = RenderInk(font + softfontwriter::TextPage(5, compound + "L"));
    ASSERT_GT(l.count, 30);
    ASSERT_GT(i.count, 30);
    EXPECT_NEAR(double(both.count), double(l.count + i.count), (l.count + i.count) * 0.25);
    EXPECT_NEAR(both.x0, l.x0, 1);
    EXPECT_NEAR(both.x1, i.x1 + 0.7 * 14 * 150 / 72, 1.5);
    EXPECT_NEAR(both.y0, i.y0 - 0.3 * 14 * 150 / 72, 1.5);
    EXPECT_NEAR(after.x1, l.x1 + 1.5 * 14 * 150 / 72, 1.5);
    // The same compound in an unbound font indexed by MSL numbers: its parts
    // are MSL 45 ('L') and 42 ('I'). Stored under the value the default
    // symbol set hands an unbound font for 'Q'.
    std::string u = h, cm = c;
    u.resize(88, '\0');
    u[1] = 88, u[2] = 11, u[3] = 10, u[85] = 7; // complement: MSL index
    cm[9] = 45, cm[15] = 42;
    Ink msl =
        RenderInk(E + "E" + Cmd("*c", 5, "D") + Cmd(")s", u.size(), "W", u) + Cmd("*c", 'Q', "E") +
                  Cmd("(s", cm.size(), "W", cm) + E + "(s14V" + softfontwriter::TextPage(5, "Q"));
    EXPECT_EQ(msl.count, both.count);
    EXPECT_EQ(msl.x1, both.x1);
}

namespace {

// The first page of a file rendered through the job level at 150 dpi.
render_score::Image RenderFile(const std::string& path) {
    render_score::Image image;
    std::ifstream in(path, std::ios::binary);
    std::string data((std::istreambuf_iterator<char>(in)), {});
    JobOptions o = A4At150();
    o.onPage = [&](int n, const PageRaster& r) {
        if (n != 1) return;
        image.width = r.Width();
        image.height = r.Height();
        image.rgb.resize(size_t(r.Width()) * r.Height() * 3);
        for (int y = 0; y < r.Height(); ++y)
            for (int x = 0; x < r.Width(); ++x) {
                uint8_t* p = &image.rgb[(size_t(y) * r.Width() + x) * 3];
                const uint8_t* s = r.Row(y) + size_t(x) * 3;
                p[0] = s[2], p[1] = s[1], p[2] = s[0];
            }
    };
    JobContext job(o);
    RunInput(reinterpret_cast<const uint8_t*>(data.data()), data.size(), job);
    return image;
}

} // namespace

// A driver's invoice in downloaded bitmap fonts matches the same document
// sent as PCL XL, and fonts downloaded inside a macro exist once it runs.
TEST(SoftFont, CorpusInvoiceAndFontsFromMacros) {
    const std::string dir = VARNEL_CORPUS_DIR;
    const std::string pcl5 = dir + "/pcl5/doctestlib__invoice.pcl";
    const std::string pclxl = dir + "/pclxl/doctestlib__invoice_diff_format.pcl";
    if (!std::filesystem::exists(pcl5) || !std::filesystem::exists(pclxl))
        GTEST_SKIP() << "corpus not found in " << dir;
    render_score::Image ours = RenderFile(pcl5), twin = RenderFile(pclxl);
    ASSERT_GT(ours.width, 0);
    ASSERT_GT(twin.width, 0);
    render_score::Alignment a = render_score::ScoreAligned(ours, twin, 37);
    EXPECT_GE(a.score.Total(), 0.90) << "shift " << a.dx << ", " << a.dy;

    if (!HaveSans()) return;
    softfontwriter::BitmapOptions o{0, 300, 8, false};
    const std::string font = softfontwriter::BitmapFont(kSans, 21, o);
    JobRun run;
    run.Feed(E + "&f9Y" + E + "&f0X" + font + E + "&f1X");
    EXPECT_FALSE(run.Store().Find(21));
    run.Feed(E + "&f9Y" + E + "&f0X" + font + E + "&f1X" + E + "&f9y2X");
    ASSERT_TRUE(run.Store().Find(21));
    EXPECT_TRUE(run.Store().Find(21)->Glyph('A'));
}
