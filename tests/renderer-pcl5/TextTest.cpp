// PCL 5 text on the trace device: where characters and rules land, which
// font selection picks, and what a symbol set's code prints.
#include "core/Font.h"
#include "core/Job.h"
#include "core/TraceDevice.h"
#include "fonts/FontSelect.h"
#include "pcl5/Pcl5.h"

#include <gtest/gtest.h>

#include <map>

#include <sstream>
#include <string>
#include <vector>

using namespace tarvik;

namespace {

const std::string E = "\x1b";

struct Call {
    std::string kind; // first word of the trace line
    std::string line;
    double a = 0, b = 0, c = 0, d = 0, e = 0, f = 0; // the call's matrix, if any
};

std::vector<Call> Trace(const std::string& job, int* warnings = nullptr,
                        const std::map<std::string, std::string>& pjl = {}) {
    std::ostringstream out;
    JobOptions o;
    o.trace = &out;
    JobContext ctx(o);
    ctx.MutablePjl().variables = pjl;
    bool ok = false;
    pcl5::Interpret(reinterpret_cast<const uint8_t*>(job.data()), job.size(), ctx, ok);
    if (warnings) *warnings = ctx.WarningCount();
    std::vector<Call> calls;
    std::istringstream in(out.str());
    for (std::string line; std::getline(in, line);) {
        Call c;
        c.line = line;
        c.kind = line.substr(0, line.find(' '));
        size_t m = line.find('[');
        if (m != std::string::npos)
            std::istringstream(line.substr(m + 1)) >> c.a >> c.b >> c.c >> c.d >> c.e >> c.f;
        calls.push_back(c);
    }
    return calls;
}

std::vector<Call> Only(const std::vector<Call>& calls, const std::string& kind) {
    std::vector<Call> out;
    for (const Call& c : calls)
        if (c.kind == kind) out.push_back(c);
    return out;
}

// A4 portrait: the logical page starts 71 dots in (17.04 pt).
constexpr double kLeft = 71 * 72.0 / 300;
// Reset, top margin 0: the first line's baseline is 3/4 of a line (9 pt) down.
const std::string Top = E + "E" + E + "&l0E";

} // namespace

TEST(Pcl5Text, CursorAfterTextLinesAndRules) {
    // Courier 10 pitch: every character is 7.2 pt wide; a rule drawn after
    // "AB" starts two columns in, on the baseline.
    auto calls = Trace(Top + "AB" + E + "*c30a10b0P\r\nC" + E + "&k6H" + "DE" + E + "*c10a10b0P");
    auto glyphs = Only(calls, "FillGlyph");
    ASSERT_EQ(glyphs.size(), 5u);
    EXPECT_NEAR(glyphs[0].e, kLeft, 0.01);
    EXPECT_NEAR(glyphs[0].f, 9, 0.01);
    EXPECT_NEAR(glyphs[1].e, kLeft + 7.2, 0.01);
    // CR LF: back to the margin one line (12 pt) down; the HMI then makes
    // each character 6/120 inch (3.6 pt) wide.
    EXPECT_NEAR(glyphs[2].e, kLeft, 0.01);
    EXPECT_NEAR(glyphs[2].f, 21, 0.01);
    EXPECT_NEAR(glyphs[3].e, kLeft + 7.2, 0.01);
    EXPECT_NEAR(glyphs[4].e, kLeft + 10.8, 0.01);
    // Rules snap to whole pixels at the trace device's 72 dpi.
    auto rules = Only(calls, "FillPath");
    ASSERT_EQ(rules.size(), 2u);
    EXPECT_NE(rules[0].line.find("M 31 9 L 39 9"), std::string::npos) << rules[0].line;
    EXPECT_NE(rules[1].line.find("M 31 21"), std::string::npos) << rules[1].line;

    // Past the text area (60 lines from the half-inch top margin) a line
    // feed starts the next page; with perforation skip off the lines run on
    // to the page's foot (70 lines of A4).
    std::string lines;
    for (int i = 0; i < 75; ++i) lines += "x\r\n";
    EXPECT_EQ(Only(Trace(E + "E" + lines), "BeginPage").size(), 2u);
    auto off = Only(Trace(E + "E" + E + "&l0L" + lines), "FillGlyph");
    ASSERT_EQ(off.size(), 75u);
    EXPECT_GT(off[65].f, off[64].f);
    EXPECT_LT(off[67].f, off[66].f);

    // Print direction 90: text runs up the page from the bottom-left corner.
    auto up = Only(Trace(Top + E + "&a90P" + E + "&a0r0CAB"), "FillGlyph");
    ASSERT_EQ(up.size(), 2u);
    EXPECT_NEAR(up[1].e - up[0].e, 0, 0.01);
    EXPECT_NEAR(up[0].f - up[1].f, 7.2, 0.01);
    EXPECT_GT(up[0].f, 800);
}

namespace {

// A downloaded bitmap font as the font-management commands would store it.
class SoftFont : public fonts::PclFont {
public:
    SoftFont(double pitch, double height, int weight, int typeface, bool proportional = false) {
        m_traits.symbolSet = kOwnSet;
        m_traits.bound = true;
        m_traits.scalable = false;
        m_traits.proportional = proportional;
        m_traits.pitch = pitch;
        m_traits.height = height;
        m_traits.weight = weight;
        m_traits.typeface = typeface;
    }
    const fonts::FontTraits& Traits() const override { return m_traits; }
    bool Lookup(uint32_t code, uint32_t, fonts::Glyph& out) const override {
        out = fonts::Glyph{};
        if (code != 'A') return false;
        static const uint8_t bits[2] = {0xC0, 0xC0};
        out.kind = fonts::Glyph::Kind::Bitmap;
        out.bits = bits;
        out.width = out.height = 2;
        out.stride = 1;
        out.top = 2;
        out.advance = 30; // dots
        return true;
    }
    std::string Name() const override { return "soft"; }
    // A set no resident font offers, so only these fonts compete.
    static constexpr int kOwnSet = 200 * 32 + ('Q' - 64);

private:
    fonts::FontTraits m_traits;
};

} // namespace

TEST(Pcl5Text, FontSelectionPriorityAndSoftFonts) {
    FontLibrary library;
    fonts::FontSelector selector(library);
    fonts::FontStore store;
    store.Add(40, std::make_shared<SoftFont>(10, 12, 0, 3));
    store.Add(30, std::make_shared<SoftFont>(12, 10, 0, 3));
    store.Add(20, std::make_shared<SoftFont>(12, 14, 3, 3));
    store.Add(10, std::make_shared<SoftFont>(16.67, 8.5, 0, 0));
    auto pick = [&](auto change) {
        fonts::FontRequest r;
        r.symbolSet = SoftFont::kOwnSet;
        change(r);
        auto f = selector.Select(r, &store);
        for (const auto& [id, entry] : store.All())
            if (&f->Font() == entry.font.get()) return id;
        return -1;
    };
    // Pitch outranks height and typeface: 11 pitch takes the next greater
    // pitch (12); 20 pitch, above every font, the closest smaller one.
    EXPECT_EQ(pick([](fonts::FontRequest& r) { r.pitch = 11; }), 30);
    EXPECT_EQ(pick([](fonts::FontRequest& r) { r.pitch = 20, r.typeface = 3; }), 10);
    // Among the 12 pitch fonts the closest height wins, then the weight: a
    // semi-bold request goes to the next bolder weight.
    EXPECT_EQ(pick([](fonts::FontRequest& r) { r.pitch = 12, r.height = 13.5; }), 20);
    EXPECT_EQ(pick([](fonts::FontRequest& r) { r.pitch = 12, r.height = 12, r.weight = 1; }), 20);
    // All else equal, the lowest ID wins; a missing typeface is ignored.
    store.Add(5, std::make_shared<SoftFont>(10, 12, 0, 3));
    EXPECT_EQ(pick([](fonts::FontRequest& r) { r.typeface = 4101; }), 5);
    // Deleting a font invalidates the cached choice.
    store.Remove(5);
    EXPECT_EQ(pick([](fonts::FontRequest& r) { r.typeface = 4101; }), 40);

    // Other languages draw through the same fonts: a bitmap glyph sits
    // above the baseline, the next one a pitch cell (7.2 pt) on.
    std::ostringstream trace;
    TraceDevice dev(trace, 600, 800);
    fonts::FontRequest soft;
    soft.symbolSet = SoftFont::kOwnSet;
    const uint32_t codes[] = {'A', 'A'};
    EXPECT_NEAR(fonts::DrawText(dev, *selector.Select(soft, &store), codes, 2,
                                Matrix::Translate(100, 200), Paint::SolidColor(kBlack), {}),
                14.4, 0.01);
    EXPECT_NE(trace.str().find("[0.24 0 0 0.24 107.2 199.52]"), std::string::npos) << trace.str();

    // A symbol set nobody has falls back to Roman-8 and is reported.
    std::string note;
    fonts::FontRequest r;
    r.symbolSet = fonts::SymbolSetValue(999, 'Q');
    auto fallback = selector.Select(r, &store, &note);
    EXPECT_EQ(fallback->SymbolSetValue(), fonts::kRoman8);
    EXPECT_NE(note.find("999Q"), std::string::npos);
}

TEST(Pcl5Text, SymbolSetsMapCodesOnOutput) {
    // The same code prints different characters in different sets: 0xE9 is
    // e-acute in ISO 8859-1 and O-tilde in Roman-8.
    FontLibrary library;
    auto face = library.ByFile("NimbusMonoPS-Regular.otf").face;
    if (!face) GTEST_SKIP() << "NimbusMonoPS-Regular.otf is not installed";
    auto glyphOf = [&](const std::string& job) {
        auto g = Only(Trace(Top + job), "FillGlyph");
        if (g.size() != 1) return -1;
        return std::stoi(g[0].line.substr(g[0].line.find("glyph=") + 6));
    };
    EXPECT_EQ(glyphOf(E + "(0N\xe9"), int(face->GlyphForUnicode(0xE9)));
    EXPECT_EQ(glyphOf(E + "(8U\xe9"), int(face->GlyphForUnicode(0xD5)));
    // PC-8's box-drawing characters are geometry filling the whole 12 pt
    // line, so rows join: a vertical line from 3/4 line above the baseline
    // to 1/4 below.
    auto box = Only(Trace(Top + E + "(10U\xb3"), "FillPath");
    ASSERT_EQ(box.size(), 1u);
    double top = 1e9, bottom = -1e9;
    std::istringstream in(box[0].line.substr(box[0].line.find(" M ")));
    for (std::string word; in >> word;) {
        double x, y;
        if (word == "M" || word == "L") {
            in >> x >> y;
            top = std::min(top, y);
            bottom = std::max(bottom, y);
        }
    }
    EXPECT_NEAR(top, 0, 0.01);
    EXPECT_NEAR(bottom, 12, 0.01);
    // PJL's defaults: PC-8 and 12 pitch (10 point Courier, 6 pt a column).
    auto pc8 =
        Only(Trace(Top + "A\xb3" + E + "(3@B", nullptr, {{"SYMSET", "PC8"}, {"PITCH", "12"}}),
             "FillPath");
    ASSERT_EQ(pc8.size(), 1u);
    auto afterDefault =
        Only(Trace(Top + E + "(s16.67H" + E + "(3@AB", nullptr, {{"PITCH", "12"}}), "FillGlyph");
    ASSERT_EQ(afterDefault.size(), 2u);
    EXPECT_NEAR(afterDefault[1].e - afterDefault[0].e, 6, 0.01);
    EXPECT_NEAR(afterDefault[0].a, 10, 0.01);
    // Unprintable control codes print nothing, transparent print included
    // when the set lacks them; in transparent print mode PC-8's 0x10 does.
    EXPECT_TRUE(Only(Trace(Top + E + "(8U\x01\x02"), "FillGlyph").empty());
    EXPECT_EQ(Only(Trace(Top + E + "(10U" + E + "&p1X\x10"), "FillGlyph").size(), 1u);
}

TEST(Pcl5Text, HostileTextStaysBounded) {
    // Absurd sizes, far cursor moves and a transparent-print count far
    // beyond the file: warnings, no crash, output stays on the page.
    int warnings = 0;
    std::string job = Top + E + "(s0V" + E + "(s-5H" + E + "(s1000000000V" + E + "(s1p1e9H" +
                      "Big" + E + "*p1000000000x-1000000000Y" + "X" + E + "&a-1000000000R" + "Y" +
                      E + "&t83P\xff\xc3" + E + "&p1000000000X" + "abc";
    auto calls = Trace(job, &warnings);
    EXPECT_GE(warnings, 3);
    for (const Call& c : Only(calls, "FillGlyph")) {
        EXPECT_LE(std::abs(c.a), 999.75 * 1.01) << c.line;
        EXPECT_LE(c.e, 600) << c.line;
        EXPECT_GE(c.f, -1) << c.line;
    }
}

namespace {

// The x extent of a traced path ("M x y L x y ..."), in page points.
std::pair<double, double> PathXs(const Call& c) {
    double lo = 1e9, hi = -1e9;
    std::istringstream in(c.line.substr(c.line.find(" M ")));
    for (std::string word; in >> word;) {
        double x, y;
        if ((word == "M" || word == "L") && in >> x >> y) {
            lo = std::min(lo, x);
            hi = std::max(hi, x);
        }
    }
    return {lo, hi};
}

} // namespace

TEST(Pcl5Text, UnderlineMarginsAndPageEdge) {
    // An underline runs as one line across rightward moves (a relative
    // move, a tab) until it is switched off, and a new line starts one.
    auto calls =
        Trace(Top + E + "&d0DAB" + E + "*p+100XC\tD" + E + "&d@E\r\n" + E + "&d0DF" + E + "&d@");
    auto lines = Only(calls, "FillPath");
    ASSERT_EQ(lines.size(), 2u);
    // "AB" 14.4 pt, the move 24 pt, "C" to 45.6, the tab to 57.6, "D" to 64.8.
    EXPECT_NEAR(PathXs(lines[0]).first, kLeft, 1);
    EXPECT_NEAR(PathXs(lines[0]).second, kLeft + 64.8, 1);
    EXPECT_NEAR(PathXs(lines[1]).second, kLeft + 7.2, 1);

    // A floating underline under a resident font lies where its face puts
    // it: at 48 point well below the fixed one's 5 dots, and thicker.
    auto drop = [](const std::string& mode) {
        auto calls = Trace(Top + E + "(s1p48v0s0b4101T" + E + mode + "Hx" + E + "&d@");
        auto rule = Only(calls, "FillPath");
        auto glyphs = Only(calls, "FillGlyph");
        if (rule.size() != 1 || glyphs.empty()) return std::pair{-1.0, -1.0};
        double x, top, bottom;
        std::istringstream(rule[0].line.substr(rule[0].line.find(" M ") + 3)) >> x >> top;
        std::istringstream(rule[0].line.substr(rule[0].line.rfind(" L ") + 3)) >> x >> bottom;
        return std::pair{top - glyphs[0].f, bottom - top};
    };
    auto fixed = drop("&d0D"), floating = drop("&d3D");
    EXPECT_NEAR(fixed.first, 1.2, 0.6);
    EXPECT_GT(floating.first, fixed.first + 1.5);
    EXPECT_GT(floating.second, fixed.second);

    // Turning the print direction turns the margins with it: the old left
    // margin (10 columns, 72 pt) becomes the top margin, the old bottom
    // margin (half an inch) the left one; turning back restores them.
    auto turned =
        Only(Trace(Top + E + "&a10L" + E + "&a90P" + E + "&a0R\rA" + E + "&a0P\rB"), "FillGlyph");
    ASSERT_EQ(turned.size(), 2u);
    EXPECT_NEAR(turned[0].e, kLeft + 72 + 9, 0.01); // row 0: 3/4 line below the top margin
    EXPECT_NEAR(turned[0].f, 841.89 - 36, 0.05);    // A4 length less the left margin
    EXPECT_NEAR(turned[1].e, kLeft + 72, 0.01);
    // A page change under a turned direction takes its defaults from the
    // turned page: on landscape A4 turned 90 degrees the text runs down the
    // long side, so line 50 (beyond the unturned 43-line length) still
    // prints on the first sheet, 50 lines below the first.
    auto longer = Only(
        Trace(E + "E" + E + "&a90P" + E + "&l1O" + "A" + std::string(50, '\n') + "B"), "FillGlyph");
    ASSERT_EQ(longer.size(), 2u);
    EXPECT_NEAR(longer[1].e - longer[0].e, 600, 0.05) << longer[1].line;
    // Rules turn too, clipped to the turned page: a 10-inch rule along the
    // A4 sheet's length runs up from its foot, 10 inches long.
    auto rule = Only(Trace(Top + E + "&a90P" + E + "*p0x0Y" + E + "*c3000a3b0P"), "FillPath");
    ASSERT_EQ(rule.size(), 1u);
    EXPECT_NE(rule[0].line.find(" 122 L "), std::string::npos) << rule[0].line;
    // HP-GL/2 does not turn: its picture frame stays on the logical page.
    auto plot = [](const std::string& direction) {
        std::string paths;
        for (const Call& c : Trace(Top + direction + E + "%0BIN;PU0,0;PD1016,0;" + E + "%0A"))
            if (c.kind.find("Path") != std::string::npos) paths += c.line + "\n";
        return paths;
    };
    EXPECT_FALSE(plot("").empty());
    EXPECT_EQ(plot(E + "&a90P"), plot(""));
    // A raster following the logical page turns too: its rows run up the page.
    auto image =
        Only(Trace(Top + E + "&a90P" + E + "*r0F" + E + "*r1A" + E + "*b1W\xff" + E + "*rB"),
             "BeginImage");
    ASSERT_EQ(image.size(), 1u);
    EXPECT_NEAR(image[0].a, 0, 1e-9);
    EXPECT_NEAR(image[0].b, -0.96, 1e-9);

    // Without wrap a character crossing the logical page's right edge
    // (561.2 pt on A4) is clipped there; the cursor stops at the edge, so
    // the next one does not print.
    auto edge = Trace(Top + E + "*p2300XW" + E + "*p2325XWX");
    EXPECT_EQ(Only(edge, "FillGlyph").size(), 2u);
    ASSERT_EQ(Only(edge, "ClipPath").size(), 1u);
    EXPECT_NEAR(PathXs(Only(edge, "ClipPath")[0]).second, kLeft + 561.2, 0.05);
}

TEST(Pcl5Text, TwoByteCodesReachTheirFonts) {
    // A downloaded bitmap font holding code 0x4142: parsing method 21 joins
    // "AB" into that code; single-byte parsing does not.
    // A 10-pitch bitmap font bound to a symbol set, with a square at each code.
    auto bitmapFont = [](int type, int set, std::vector<int> codes) {
        std::string header(64, '\0');
        header[1] = 64;                                             // descriptor size
        header[3] = char(type);                                     // 1: one-byte, 3: two-byte
        header[11] = 60, header[9] = 60, header[7] = 40;            // cell, baseline
        header[14] = char(set >> 8), header[15] = char(set & 0xFF); // symbol set
        header[16] = 0, header[17] = 120;                           // 10 pitch
        header[19] = char(200);                                     // 12 point
        std::string glyph = {4, 0, 14, 1, 0, 0, 0, 0, 0, 8, 0, 8, 0, 8, 0, 120};
        glyph += std::string(8, '\xff');
        std::string font = E + "*c7D" + E + ")s64W" + header;
        for (int code : codes) font += E + "*c" + std::to_string(code) + "E" + E + "(s24W" + glyph;
        return font + E + "(7X";
    };
    std::string font = bitmapFont(3, 619, {0x4142, 0x410D}); // 19K
    EXPECT_EQ(Only(Trace(Top + font + E + "&t21PABAB"), "FillMask").size(), 2u);
    EXPECT_TRUE(Only(Trace(Top + font + "AB"), "FillMask").empty());
    // A lead byte ending a text run keeps waiting for its second byte across
    // an escape sequence, and takes even a control code as it (0x410D; the
    // next character follows on the same line). A font or parsing change, or
    // the end of the data, drops it with a warning.
    int warnings = -1;
    EXPECT_EQ(Only(Trace(Top + font + E + "&t21PA" + E + "*p+0XB", &warnings), "FillMask").size(),
              1u);
    EXPECT_EQ(warnings, 0);
    auto split = Only(Trace(Top + font + E + "&t21PA\rAB"), "FillMask");
    ASSERT_EQ(split.size(), 2u);
    EXPECT_NEAR(split[1].e - split[0].e, 7.2, 0.01);
    EXPECT_EQ(
        Only(Trace(Top + font + E + "&t21PA" + E + "(s1PAB" + E + "(7XA", &warnings), "FillMask")
            .size(),
        1u);
    EXPECT_EQ(warnings, 2);

    // UTF-8 text in a downloaded font bound to Roman-8 prints the codes that
    // set gives the characters: e-acute is 0xC5 there; Zhe is missing and
    // takes a space. A sequence split by an escape sequence joins up.
    std::string roman8 = bitmapFont(1, 277, {0xC5});
    auto utf8 =
        Only(Trace(Top + roman8 + E + "&t83P\xc3\xa9\xd0\x96\xc3" + E + "*p+0X\xa9"), "FillMask");
    ASSERT_EQ(utf8.size(), 2u);
    EXPECT_NEAR(utf8[1].e - utf8[0].e, 14.4, 0.01);

    // A symbol set the job defines reaches the resident fonts: 0x4141..0x4143
    // are Zhe, Omega and e-acute by Unicode values, and A, B, e-acute by MSL
    // numbers, through the symbol list's Unicode values.
    auto defined = [](int format, std::string values = std::string("\x04\x16\x03\xa9\x00\xe9", 6)) {
        std::string d = {0,
                         18,
                         char(619 >> 8),
                         char(619 & 0xFF),
                         char(format),
                         3,
                         0x41,
                         0x41,
                         0x41,
                         0x43,
                         0,
                         0,
                         0,
                         0,
                         0,
                         0,
                         0,
                         1};
        d += values;
        return E + "*c619R" + E + "(f24W" + d;
    };
    FontLibrary library;
    auto face = library.ByFile("NimbusMonoPS-Regular.otf").face;
    auto glyphs = Only(Trace(Top + defined(3) + E + "(19K" + E + "&t21PAAABAC"), "FillGlyph");
    ASSERT_EQ(glyphs.size(), 3u);
    if (face) {
        EXPECT_NE(glyphs[2].line.find("glyph=" + std::to_string(face->GlyphForUnicode(0xE9))),
                  std::string::npos)
            << glyphs[2].line;
    }
    auto msl = Only(Trace(Top + defined(1, std::string("\x00\x22\x00\x23\x00\x86", 6)) + E +
                          "(19K" + E + "&t21PAAABAC"),
                    "FillGlyph");
    ASSERT_EQ(msl.size(), 3u);
    if (face) {
        EXPECT_NE(msl[0].line.find("glyph=" + std::to_string(face->GlyphForUnicode('A')) + " "),
                  std::string::npos);
        EXPECT_NE(msl[2].line.find("glyph=" + std::to_string(face->GlyphForUnicode(0xE9)) + " "),
                  std::string::npos)
            << msl[2].line;
    }

    // HP-GL/2 labels in a PCL font select the job's set too (one-byte codes).
    std::string set = defined(3);
    set[set.size() - 19] = 1, set[set.size() - 18] = 0, set[set.size() - 16] = 0; // 0x41..0x43
    // So do labels in the stick font: A under the job's set draws the Zhe
    // that 0xB6 draws under ISO 8859-5 (10N).
    auto stick = [&](const std::string& setup, int symbolSet, const std::string& text) {
        auto strokes = Only(Trace(Top + setup + E + "%0BIN;SD1," + std::to_string(symbolSet) +
                                  ",2,0,3,10,4,12,7,48;SS;PA0,0;LB" + text + "\x03;" + E + "%0A"),
                            "StrokePath");
        return strokes.empty() ? std::string() : strokes[0].line;
    };
    EXPECT_NE(stick(set, 619, "A"), "");
    EXPECT_EQ(stick(set, 619, "A"), stick("", 334, "\xb6"));
    auto label = Only(
        Trace(Top + set + E + "%0BIN;SD1,619,2,0,3,10,4,12,7,4099;SS;PA0,0;LBABC\x03;" + E + "%0A"),
        "FillGlyph");
    ASSERT_EQ(label.size(), 3u);
    if (face) {
        EXPECT_NE(label[0].line.find("glyph=" + std::to_string(face->GlyphForUnicode(0x416)) + " "),
                  std::string::npos)
            << label[0].line;
        EXPECT_NE(label[2].line.find("glyph=" + std::to_string(face->GlyphForUnicode(0xE9)) + " "),
                  std::string::npos)
            << label[2].line;
    }
}
