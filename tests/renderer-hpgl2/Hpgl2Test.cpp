// HP-GL/2 inside PCL and as plot files, through the job level: where the
// geometry lands on a 72 dpi page (one pixel per point), what the trace
// device is asked to draw, and how bad input is survived.
#include "hpgl2/Hpgl2.h"
#include "core/Job.h"
#include "core/Raster.h"
#include "fonts/SymbolSets.h"
#include "job/Runner.h"

#include "SoftFontWriter.h"

#include <gtest/gtest.h>

#include <array>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

using namespace tarvik;

namespace {

const std::string E = "\x1b";

struct Page {
    int width = 0, height = 0;
    std::vector<Color> px;
    bool Dark(int x, int y) const {
        if (x < 0 || y < 0 || x >= width || y >= height) return false;
        Color c = px[size_t(y) * size_t(width) + size_t(x)];
        return c.r + c.g + c.b < 3 * 160;
    }
    int DarkIn(int x0, int y0, int x1, int y1) const {
        int n = 0;
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x) n += Dark(x, y);
        return n;
    }
    // Bounding box of the ink: x0, y0, x1, y1 (x1 < x0 when blank).
    std::array<int, 4> Ink() const {
        std::array<int, 4> b{width, height, -1, -1};
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                if (Dark(x, y)) {
                    b[0] = std::min(b[0], x), b[1] = std::min(b[1], y);
                    b[2] = std::max(b[2], x), b[3] = std::max(b[3], y);
                }
        return b;
    }
};

struct Outcome {
    std::vector<Page> pages;
    int result = 0;
    int warnings = 0;
    std::string trace;
};

Outcome Render(const std::string& input, int dpi = 72, bool trace = false, bool fit = false) {
    Outcome r;
    std::ostringstream out;
    JobOptions o;
    o.fit = fit;
    o.xdpi = o.ydpi = dpi;
    o.widthPx = int(dpi * 8.27);
    o.heightPx = int(dpi * 11.69);
    if (trace) o.trace = &out;
    o.onPage = [&](int, const PageRaster& raster) {
        Page p;
        p.width = raster.Width();
        p.height = raster.Height();
        for (int y = 0; y < p.height; ++y)
            for (int x = 0; x < p.width; ++x) p.px.push_back(raster.At(x, y));
        r.pages.push_back(std::move(p));
    };
    JobContext job(o);
    r.result = RunInput(reinterpret_cast<const uint8_t*>(input.data()), input.size(), job);
    r.warnings = job.WarningCount();
    r.trace = out.str();
    return r;
}

// A 360 x 360 pt picture frame whose top-left corner is the logical page's
// (17.04 pt in from the sheet's left edge on A4), then HP-GL/2.
std::string InFrame(const std::string& gl) {
    return E + "E" + E + "&l0E" + E + "*p0x0Y" + E + "*c3600x3600Y" + E + "*c0T" + E + "%0B" + gl +
           E + "%0A" + E + "E";
}

} // namespace

TEST(Hpgl2Geometry, FrameScalingRotationAndDegenerateScales) {
    // User units 0..100 across the frame: 3.6 pt each, y up from the frame's
    // bottom edge (page y 360).
    std::string line = "SC0,100,0,100;PW1;SP1;PA10,10;PD90,10;PU;";
    Outcome flat = Render(InFrame("IN;" + line));
    ASSERT_EQ(flat.pages.size(), 1u);
    const Page& a = flat.pages[0];
    EXPECT_TRUE(a.Dark(200, 324));
    EXPECT_FALSE(a.Dark(200, 316));
    EXPECT_FALSE(a.Dark(200, 332));
    EXPECT_TRUE(a.Dark(17 + 37, 324) && !a.Dark(17 + 33, 324)); // starts at x = 10 units

    // RO90 turns the axes a quarter counter-clockwise: x runs up the frame,
    // y runs leftwards from its right edge.
    Outcome turned = Render(InFrame("IN;RO90;" + line));
    ASSERT_EQ(turned.pages.size(), 1u);
    const Page& b = turned.pages[0];
    EXPECT_TRUE(b.Dark(17 + 324, 200));
    EXPECT_FALSE(b.Dark(17 + 324 - 8, 200));
    EXPECT_EQ(b.DarkIn(0, 320, 600, 330), b.DarkIn(17 + 320, 320, 17 + 330, 330));

    // Point-factor scaling with a negative y factor puts user (0,0) at the
    // frame's top-left once IR moves P1 there (how drivers draw pages).
    Outcome driver = Render(InFrame("IN;SC0,1.6933,0,-1.6933,2;IR0,100,100,0;PW1;SP1;"
                                    "PA300,300;PD600,300;"));
    ASSERT_EQ(driver.pages.size(), 1u);
    EXPECT_TRUE(driver.pages[0].Dark(17 + 54, 36)); // 300/600 in = 36 pt
    EXPECT_FALSE(driver.pages[0].Dark(17 + 54, 44));

    // P1 = P2 and an empty SC range neither divide by zero nor stop the job.
    Outcome degenerate = Render(InFrame("IN;IP50,50,50,50;SC0,0,0,0;SC0,100,0,100;SP1;PW1;"
                                        "PA0,0;PD10,0;PA1e300,5;PD20,20;"));
    ASSERT_EQ(degenerate.pages.size(), 1u);
    EXPECT_GT(degenerate.warnings, 0);
    EXPECT_GT(degenerate.pages[0].DarkIn(0, 0, 595, 842), 0);
}

TEST(Hpgl2Geometry, PclDotsPlotSizeOnOneAxisAndSharedState) {
    // ESC %3B: units are PCL dots (300 an inch) down from the frame's top.
    std::string dots = E + "E" + E + "&l0E" + E + "*p0x0Y" + E + "*c3600x3600Y" + E + "*c0T" + E +
                       "%3BIN;SP1;PW1;PA300,150;PD600,150;" + E + "%0A" + E + "E";
    Outcome d = Render(dots);
    ASSERT_EQ(d.pages.size(), 1u);
    EXPECT_TRUE(d.pages[0].Dark(17 + 108, 36));
    EXPECT_FALSE(d.pages[0].Dark(17 + 108, 360 - 11));

    // *c10K alone: a 10-inch plot in a 5-inch frame is halved both ways.
    std::string half = E + "E" + E + "&l0E" + E + "*p0x0Y" + E + "*c3600x3600Y" + E + "*c0T" + E +
                       "*c10K" + E + "%0BIN;SP1;PW1;PA0,0;PD0,2032;" + E + "%0A" + E + "E";
    Outcome h = Render(half);
    ASSERT_EQ(h.pages.size(), 1u);
    EXPECT_NEAR(h.pages[0].Ink()[1], 360 - 72, 2);

    // MC and PC stay in force for PCL after HP-GL/2 (a CID palette is
    // changeable); PP0 fills reach one pixel further, PP1 fills do not.
    std::string shared = E + "E" + E + "*v6W" + std::string("\x00\x00\x03\x08\x08\x08", 6) + E +
                         "%0BIN;PC1,0,0,255;PP1;RR100,100;PP0;RR100,100;MC1,90;" + E + "%0A" + E +
                         "*v1S" + E + "*c30a30b0P" + E + "E";
    std::string trace = Render(shared, 72, true).trace;
    size_t rule = trace.rfind("FillPath");
    ASSERT_NE(rule, std::string::npos) << trace;
    std::string last = trace.substr(rule, trace.find('\n', rule) - rule);
    EXPECT_NE(last.find("rop=90"), std::string::npos) << last;
    EXPECT_NE(last.find("solid(0,0,255)"), std::string::npos) << last;
    size_t first = trace.find("FillPath"), second = trace.find("FillPath", first + 1);
    EXPECT_EQ(trace.substr(first, second - first).find("StrokePath"), std::string::npos);
    EXPECT_NE(trace.substr(second).find("StrokePath"), std::string::npos);
    // IN leaves pixel placement alone: PCL's grid-centred placement holds.
    std::string kept =
        Render(E + "E" + E + "*l1R" + E + "%0BIN;SP1;RR100,100;" + E + "%0A" + E + "E", 72, true)
            .trace;
    ASSERT_NE(kept.find("FillPath"), std::string::npos) << kept;
    EXPECT_EQ(kept.find("StrokePath"), std::string::npos) << kept;

    // ... and back: a CID and a new entry PCL sets after IN are HP-GL/2's
    // pens at the next entry.
    std::string later = E + "E" + E + "%0BIN;SP1;" + E + "%0A" + E + "*v6W" +
                        std::string("\x00\x00\x03\x08\x08\x08", 6) + E + "*v0a200b0c1I" + E +
                        "%1BRR100,100;" + E + "%0A" + E + "E";
    std::string pens = Render(later, 72, true).trace;
    EXPECT_NE(pens.find("solid(0,200,0)"), std::string::npos) << pens;
}

TEST(Hpgl2Encoded, EightAndSevenBitFractionsAndBrokenData) {
    // A square written by a CAD driver (8-bit, absolute pairs), then 7-bit
    // data with a relative pair, then one fractional bit.
    std::string square = "<=m\xcdm\xcd=m\xcd\xbf=\xbf\xbf=\xbfm\xcd=m\xcdm\xcd";
    std::string job = E + "%-1BIN;SP1;PE" + square + ";PE7<=M|M|e_;PE>\xc1=\xc9\xc9;PG;";
    Outcome r = Render(job, 72, true);
    EXPECT_NE(r.trace.find("M 471 471 L 471 0 L 0 0 L 0 471 L 471 471"), std::string::npos)
        << r.trace;
    EXPECT_NE(r.trace.find("L 471 471 L 474 471 L 2.5 2.5"), std::string::npos) << r.trace;

    // Stray bytes and a number cut by a flag are reported; the commands
    // after them still draw.
    Outcome broken = Render(E + "%-1BIN;SP1;PE<=\x01\xff\x7f<m\xcd;PA0,0;PD400,0;PG;", 72, true);
    EXPECT_GT(broken.warnings, 0);
    EXPECT_NE(broken.trace.find("M 0 0 L 400 0"), std::string::npos) << broken.trace;
}

TEST(Hpgl2Polygons, FillsPaletteHatchAndBufferLimit) {
    // Two sub-polygons filled even-odd in a palette colour; a hatch clips
    // to its polygon; a raster fill tiles the pen colours.
    std::string gl = "PS8400,11880;IN;NP4;PC2,0,0,255;CR0,100,0,100,0,100;PC3,50,100,0;SP2;"
                     "PA0,0;PM0;PD1000,0,1000,1000,0,1000;PM1;PU200,200;PD400,200,400,400;PM2;FP;"
                     "SP3;RA100,100;"
                     "FT3,50,45;PU2000,0;PM0;PD3000,0,3000,1000;PM2;FP;"
                     "RF1,2,2,1,0,0,1;FT11,1;SP1;PU4000,0;RR500,500;";
    Outcome r = Render(E + "%-1B" + gl + "PG;", 72, true);
    EXPECT_NE(r.trace.find("FillPath evenodd solid(0,0,255)"), std::string::npos) << r.trace;
    EXPECT_NE(r.trace.find("L 28.35 813.54 Z"), std::string::npos);
    EXPECT_NE(r.trace.find("solid(128,255,0)"), std::string::npos);
    EXPECT_NE(r.trace.find("ClipPath evenodd intersect interior"), std::string::npos);
    EXPECT_NE(r.trace.find("pattern(2x2)"), std::string::npos);

    // EP edges the pen-down sides: a polygon closed with the pen up keeps
    // its closing side undrawn, one closed with the pen down does not.
    Outcome edged =
        Render(E + "%-1BIN;SP1;PA0,0;PM0;PD100,0,100,100;PU;PM2;EP;PA0,0;PM0;PD100,0,100,100;"
                   "PM2;EP;PG;",
               72, true);
    EXPECT_NE(edged.trace.find("M 0 0 L 100 0 L 100 100\n"), std::string::npos) << edged.trace;
    EXPECT_NE(edged.trace.find("M 0 0 L 100 0 L 100 100 L 0 0\n"), std::string::npos);

    // Adaptive line types (negative LT) fit whole patterns into each vector:
    // sides of 1000 and 3000 units get dashes of their own.
    std::string adaptive =
        Render(E + "%-1BIN;SP1;LT-2,4,1;PA0,0;PD1000,0,1000,3000;PG;", 72, true).trace;
    std::vector<std::string> dashes;
    for (size_t at = adaptive.find("dash="); at != std::string::npos;
         at = adaptive.find("dash=", at + 1))
        dashes.push_back(adaptive.substr(at, adaptive.find(' ', at) - at));
    ASSERT_EQ(dashes.size(), 2u) << adaptive;
    EXPECT_NE(dashes[0], dashes[1]);

    // A polygon far larger than the buffer: what fits is filled, with a
    // warning; the job ends normally.
    std::string big = E + "%-1BIN;SP1;PM0;PD";
    for (int i = 0; i < 600000; ++i)
        big += std::to_string(i % 997) + "," + std::to_string(i % 991) + ",";
    big += "0,0;PM2;FP;PG;";
    Outcome huge = Render(big, 20);
    EXPECT_GT(huge.warnings, 0);
    ASSERT_EQ(huge.pages.size(), 1u);
    EXPECT_GT(huge.pages[0].DarkIn(0, 0, huge.pages[0].width, huge.pages[0].height), 0);
}

TEST(Hpgl2Labels, StickFontOriginsAndEndlessLabels) {
    // "HH" centred on the pen (LO5) and started at it (LO1): SI 1 cm wide
    // characters with 1 cm caps (28.35 pt).
    auto label = [&](int origin) {
        return Render(
                   InFrame("IN;SP1;SI1,1;LO" + std::to_string(origin) + ";DT*;PA2032,2032;LBHH*"))
            .pages;
    };
    std::vector<Page> centred = label(5), left = label(1);
    ASSERT_EQ(centred.size(), 1u);
    ASSERT_EQ(left.size(), 1u);
    // The pen is at 144 pt right of the frame's left edge, 216 pt down.
    auto c = centred[0].Ink(), l = left[0].Ink();
    EXPECT_NEAR((c[0] + c[2]) / 2.0, 17 + 144, 3);
    EXPECT_NEAR((c[1] + c[3]) / 2.0, 216, 3);
    EXPECT_NEAR(l[0], 17 + 144, 3);
    EXPECT_NEAR(l[3], 216, 3);
    EXPECT_NEAR(l[2] - l[0], c[2] - c[0], 1);
    EXPECT_NEAR(l[3] - l[1], 28, 3);

    // The stick font writes accented letters of the label's symbol set
    // (ISO 8859-1 here) as their base letters.
    std::string accent = Render(E + "%-1BIN;SP1;SD1,14;DT#;PA500,500;LB\xe9#PG;", 72, true).trace;
    EXPECT_NE(accent.find("StrokePath"), std::string::npos) << accent;

    // ... with their accents: e acute (Latin-1 E9, Roman-8 C5) reaches above
    // a plain e, the same in both sets; the arc font (50) sets "ilil"
    // narrower than the fixed stick font; DL replaces A by a vertical bar;
    // 16-bit labels (LM1) print what 8-bit ones do.
    auto ink = [](const std::string& gl) {
        Outcome o = Render(InFrame("IN;SP1;SI1,1;DT#;PA500,500;" + gl));
        return o.pages.size() == 1 ? o.pages[0].Ink() : std::array<int, 4>{};
    };
    auto plainE = ink("LBe#"), latin = ink("SD1,14;LB\xe9#"), roman = ink("LB\xc5#");
    EXPECT_LT(latin[1], plainE[1] - 4);
    EXPECT_EQ(latin, roman);
    auto stick = ink("LBilil#"), arc = ink("SD7,50;LBilil#");
    EXPECT_LT(arc[2] - arc[0], (stick[2] - stick[0]) * 3 / 4);
    auto bar = ink("DL65,16,0,16,32;LBA#"), letter = ink("LBA#");
    EXPECT_LE(bar[2] - bar[0], 3);
    EXPECT_GT(letter[2] - letter[0], 10);
    EXPECT_NEAR(bar[3] - bar[1], letter[3] - letter[1], 2);
    // ... in a PCL font too (Univers here), at its cap height.
    auto pclBar = ink("SD4,24,7,4148;DL65,16,0,16,32;LBA#");
    EXPECT_LE(pclBar[2] - pclBar[0], 3);
    EXPECT_NEAR(pclBar[3] - pclBar[1], letter[3] - letter[1], 2);
    EXPECT_EQ(ink("LM1;LB" + std::string("\0H\0i", 4) + "#"), ink("LBHi#"));

    // A resident typeface (Univers) fills its glyphs; CF1 edges their
    // outlines in the pen instead.
    std::string univers = E + "%-1BIN;SP1;SD4,24,7,4148;DT#;PA500,500;LBAb#";
    std::string filled = Render(univers + "PG;", 72, true).trace;
    std::string edged = Render(univers + "CF1;LBAb#PG;", 72, true).trace;
    EXPECT_NE(filled.find("FillGlyph"), std::string::npos) << filled;
    EXPECT_EQ(filled.find("StrokePath"), std::string::npos);
    EXPECT_NE(edged.find("StrokePath"), std::string::npos);

    // Fonts the job downloaded, chosen by ID (FI): a bitmap font prints
    // masks once SB1 allows bitmap fonts (under SB0 a scalable font stands
    // in), a TrueType font outlines.
    const std::string sans = "/usr/share/fonts/truetype/liberation2/LiberationSans-Regular.ttf";
    softfontwriter::BitmapOptions bitmap;
    ASSERT_FALSE(softfontwriter::TrueTypeFont(sans, 8).empty()) << sans << " is not installed";
    std::string soft = E + "E" + softfontwriter::BitmapFont(sans, 7, bitmap) +
                       softfontwriter::TrueTypeFont(sans, 8);
    std::string byId =
        Render(soft + E + "%0BIN;SP1;SB1;FI7;DT#;PA500,500;LBAb#" + E + "%0A" + E + "E", 72, true)
            .trace;
    std::string scalableOnly =
        Render(soft + E + "%0BIN;SP1;FI7;DT#;PA500,500;LBAb#" + E + "%0A" + E + "E", 72, true)
            .trace;
    EXPECT_EQ(scalableOnly.find("FillMask"), std::string::npos) << scalableOnly;
    EXPECT_NE(scalableOnly.find("FillGlyph"), std::string::npos) << scalableOnly;
    std::string byIdTt =
        Render(soft + E + "%0BIN;SP1;FI8;DT#;PA500,500;LBAb#" + E + "%0A" + E + "E", 72, true)
            .trace;
    EXPECT_NE(byId.find("FillMask"), std::string::npos) << byId;
    EXPECT_EQ(byId.find("StrokePath"), std::string::npos);
    EXPECT_NE(byIdTt.find("FillGlyph"), std::string::npos) << byIdTt;

    // A label whose terminator never comes ends with the data.
    std::string endless = E + "%-1BIN;SP1;PA100,100;LB" + std::string(20000, 'W');
    Outcome r = Render(endless, 20);
    EXPECT_EQ(r.pages.size(), 1u);
    EXPECT_GT(r.warnings, 0);
}

TEST(Hpgl2Labels, TextPathsOffsetOriginsSymbolsAndCharacterFill) {
    // The pen sits 144 pt right of the frame's left edge and 216 pt down.
    auto ink = [](const std::string& gl) {
        Outcome o = Render(InFrame("IN;SP1;DT#;PA2032,2032;" + gl));
        return o.pages.size() == 1 ? o.pages[0].Ink() : std::array<int, 4>{};
    };
    // LO11 moves the label a third of the point size (cap 0.5 cm: 23.6 pt)
    // right and up, not half a character cell.
    auto offset = ink("SI2,0.5;LO11;LBH#");
    EXPECT_NEAR(offset[0], 17 + 144 + 8, 3);
    EXPECT_NEAR(offset[3], 216 - 8, 3);
    // DV1 hangs the column from the pen; DV2 feeds lines upwards (a quarter
    // turn clockwise from the path), DV0 downwards.
    auto down = ink("SI1,1;DV1;LBHH#");
    EXPECT_NEAR(down[1], 216, 3);
    EXPECT_GT(down[3] - down[1], 2 * 28);
    auto up = ink("SI1,1;DV2;LBH\r\nHH#"), normal = ink("SI1,1;LBH\r\nHH#");
    EXPECT_LT(up[1], 216 - 28 - 10);
    EXPECT_GT(normal[3], 216 + 10);
    // A symbol is centred on each point whatever the path; its ink, not its
    // cell (a PCL font's full stop sits on the point, not above it).
    auto symbol = ink("SI1,1;DV1;SMX;PU2032,2032;");
    EXPECT_NEAR((symbol[0] + symbol[2]) / 2.0, 17 + 144, 3);
    EXPECT_NEAR((symbol[1] + symbol[3]) / 2.0, 216, 3);
    auto stop = ink("SI1,1;SD7,4148;SM.;PU2032,2032;");
    EXPECT_NEAR((stop[0] + stop[2]) / 2.0, 17 + 144, 2);
    EXPECT_NEAR((stop[1] + stop[3]) / 2.0, 216, 2);
    // SI's width stretches PCL-font characters as it does stroke ones.
    auto narrow = ink("SI1,1;SD7,4148;LBH#"), wide = ink("SI2,1;SD7,4148;LBH#");
    EXPECT_GT(wide[2] - wide[0], (narrow[2] - narrow[0]) * 17 / 10);
    EXPECT_NEAR(wide[3] - wide[1], narrow[3] - narrow[1], 1);

    // The stroke font has the other Slavic Cyrillic letters (8859-5: short
    // U with its breve above the cap height, yi), math (Math-8: less or
    // equal) and line drawing (PC-8), whose lines join across the cell.
    auto shortU = ink("SI1,1;SD1,334;LB\xae#"), yi = ink("SI1,1;SD1,334;LB\xf7#");
    EXPECT_GT(shortU[3] - shortU[1], 28 + 2);
    EXPECT_GT(yi[3] - yi[1], 10);
    EXPECT_GT(ink("SI1,1;SD1,269;LB\x5c#")[3], 0);
    auto rule = ink("SI1,1;SD1,341;LB\xc4\xc4\xc4#"), bar = ink("SI1,1;SD1,341;LB\xb3\r\n\xb3#");
    EXPECT_NEAR(rule[2] - rule[0], 3 * 28, 3);
    EXPECT_LE(rule[3] - rule[1], 3);
    EXPECT_EQ(ink("SI1,1;SD1,341,7,50;LB\xc4\xc4\xc4#"), rule); // the arc font joins them too
    EXPECT_NEAR(bar[3] - bar[1], 2 * 2 * 28, 4);

    // Every character of the sets labels commonly select has a stroke glyph
    // (PC-8's pictures from code 1, for transparent data).
    for (int value : {277, 14, 629, 78, 620, 341, 405, 334, 306, 269, 173, 621}) {
        const fonts::SymbolSet* set = fonts::FindSymbolSet(value);
        ASSERT_NE(set, nullptr) << value;
        for (uint32_t code = 1; code < 256; ++code) {
            uint32_t u = fonts::ToUnicode(*set, code);
            if (u == fonts::kNoChar || u <= ' ' || u == 0xA0 || (u >= 0x7F && u < 0xA0)) continue;
            EXPECT_FALSE(hpgl2::StrokeGlyph(u).empty()) << set->name << " code " << code;
        }
    }
    // Pieces of tall delimiters join from line to line: the integral halves
    // (PC-8), a left brace of three pieces (Unicode, 16-bit labels) that
    // keeps its shape in the arc font.
    auto column = [](const std::string& gl) {
        Outcome o = Render(InFrame("IN;SP1;SI1,1;PA2032,2032;" + gl));
        if (o.pages.size() != 1) return std::array<int, 5>{};
        auto b = o.pages[0].Ink();
        int gaps = 0;
        for (int y = b[1]; y <= b[3]; ++y) gaps += o.pages[0].DarkIn(b[0], y, b[2] + 1, y + 1) == 0;
        return std::array<int, 5>{b[0], b[1], b[2], b[3], gaps};
    };
    auto integral = column("DT#;SD1,341;LB\xf4\r\n\xf5#");
    EXPECT_GT(integral[3] - integral[1], 3 * 28);
    EXPECT_EQ(integral[4], 0);
    const std::string brace("LM1;DT@;LB\x23\xa7\0\r\0\n\x23\xa8\0\r\0\n\x23\xa9\0@", 26);
    auto stick = column("SD1,590;" + brace), arc = column("SD1,590,7,50;" + brace);
    EXPECT_NEAR(stick[3] - stick[1], 3 * 2 * 28, 4);
    EXPECT_EQ(stick[4], 0);
    for (int i : {0, 2}) EXPECT_NEAR(arc[i], stick[i], 1);

    // Greek and Cyrillic letters (ISO 8859-7, 8859-5) have stroke glyphs;
    // Cyrillic small letters stand at the x-height; eta with tonos is accented.
    auto lambda = ink("SI1,1;SD1,398;LB\xcb#"), ya = ink("SI1,1;SD1,334;LB\xcf#"),
         small = ink("SI1,1;SD1,334;LB\xef#");
    EXPECT_NEAR(lambda[3] - lambda[1], 28, 3);
    EXPECT_NEAR(ya[3] - ya[1], 28, 3);
    EXPECT_NEAR(small[3] - small[1], 28 * 5 / 8, 3);
    EXPECT_LT(ink("SI1,1;SD1,398;LB\xde#")[1], ink("SI1,1;SD1,398;LB\xe7#")[1] - 4); // tonos

    // Stroke characters cannot be edged: CF1 fills them with the edge pen
    // (red), CF2 with the fill type.
    auto colours = [](const std::string& gl) {
        Outcome o = Render(InFrame("IN;SP1;SI1,1;DT#;PA2032,2032;" + gl));
        std::array<int, 2> n{}; // red, black
        for (Color c : o.pages.at(0).px) {
            n[0] += c.r > 200 && c.g < 60 && c.b < 60;
            n[1] += c.r < 60 && c.g < 60 && c.b < 60;
        }
        return n;
    };
    auto edge = colours("NP8;PC2,255,0,0;CF1,2;LBH#"), shaded = colours("FT10,30;CF2;LBH#");
    EXPECT_GT(edge[0], 20);
    EXPECT_EQ(edge[1], 0);
    EXPECT_EQ(shaded[1], 0);
    // Edge pen 0 is no edging: CF1,0 prints neither stroke nor outline
    // characters (nothing knocks out of a black area).
    for (std::string font : {"", "SD7,4148;"}) {
        Outcome o = Render(InFrame("IN;SP1;PA1800,1800;RA3200,3200;SI1,1;DT#;PA2032,2032;" + font +
                                   "CF1,0;LBHH#"));
        EXPECT_EQ(o.pages.at(0).DarkIn(17 + 128, 200, 17 + 188, 230), 60 * 30) << font;
    }

    // SI sizes bitmap characters as well.
    const std::string sans = "/usr/share/fonts/truetype/liberation2/LiberationSans-Regular.ttf";
    std::string soft = E + "E" + softfontwriter::BitmapFont(sans, 7, {});
    auto bitmap = [&](const std::string& size) {
        Outcome o = Render(soft + E + "%0BIN;SP1;SB1;FI7;" + size + "DT#;PA500,500;LBH#" + E +
                           "%0A" + E + "E");
        return o.pages.size() == 1 ? o.pages[0].Ink() : std::array<int, 4>{};
    };
    auto own = bitmap(""), sized = bitmap("SI2,2;"), stretched = bitmap("SI4,2;");
    EXPECT_GT(sized[3] - sized[1], 2 * (own[3] - own[1]));
    EXPECT_GT(stretched[2] - stretched[0], (sized[2] - sized[0]) * 17 / 10);
    EXPECT_EQ(stretched[3] - stretched[1], sized[3] - sized[1]);

    // LM2 prints the vertical forms a large font carries ('V' stands for 'A'
    // in this one); LM0 does not.
    std::string large = E + "E" + softfontwriter::TrueTypeFont(sans, 9, 32767, true);
    auto glyphs = [&](const std::string& gl) {
        std::string t =
            Render(large + E + "%0BIN;SP1;FI9;DT#;PA500,500;" + gl + E + "%0A" + E + "E", 72, true)
                .trace;
        size_t at = t.find("FillGlyph");
        return at == std::string::npos ? std::string() : t.substr(at, t.find('\n', at) - at);
    };
    EXPECT_FALSE(glyphs("LBV#").empty());
    EXPECT_EQ(glyphs("LM2;LBA#"), glyphs("LBV#"));
    EXPECT_NE(glyphs("LBA#"), glyphs("LBV#"));
}

TEST(Hpgl2Plot, FoundByContentWithItsMediaSize) {
    std::string body = "IN;SP1;PA100,100;PD1000,1000;";
    const std::vector<std::string> starts = {
        std::string(1000, '\0') + body,
        "BP;" + body,
        E + "%-1B" + body,
        E + "E" + E + "%0B" + body,
        E + "%-12345X@PJL ENTER LANGUAGE=HPGL2\r\n" + body + "PG;" + E + "%-12345X",
    };
    for (const std::string& s : starts) {
        Outcome r = Render(s, 20);
        EXPECT_EQ(r.result, kResultOk) << s.substr(0, 12);
        EXPECT_EQ(r.pages.size(), 1u) << s.substr(0, 12);
    }
    // PS gives the media: 8 x 4 inches, along x, is a landscape page.
    Outcome ps = Render(E + "%-1BBP;IN;PS8128,4064;SP1;PD100,100;PG;PD200,200;", 72, true);
    EXPECT_NE(ps.trace.find("BeginPage 1 576x288 orientation=3"), std::string::npos) << ps.trace;
    EXPECT_NE(ps.trace.find("BeginPage 2 576x288"), std::string::npos);
    // Without PS the media reaches to the farthest ink, a quarter inch on.
    Outcome extent = Render("IN;SP1;PA0,0;PD4000,0,4000,2000;PG;", 72, true);
    EXPECT_NE(extent.trace.find("BeginPage 1 301.961x160.228 orientation=3"), std::string::npos)
        << extent.trace;
    // HP RTL raster between HP-GL/2 blocks starts at the pen (ESC %1A): here
    // an inch right of the page's left edge and 7.87 in above its bottom.
    std::string rtl = E + "%-1BIN;SP1;PU1016,8000;" + E + "%1A" + E + "*t100R" + E + "*r40S" + E +
                      "*r1A" + E + "*b2M";
    for (int i = 0; i < 20; ++i) rtl += E + "*b2W\xfb\xff"; // PackBits: 6 x 0xff
    rtl += E + "*rC" + E + "%1BPG;";
    Outcome raster = Render(rtl, 50);
    ASSERT_EQ(raster.pages.size(), 1u);
    EXPECT_GT(raster.pages[0].DarkIn(51, 192, 69, 199), 100);
    EXPECT_EQ(raster.pages[0].DarkIn(0, 0, 49, 584), 0);
    EXPECT_EQ(raster.pages[0].DarkIn(0, 0, 413, 188), 0);
    // A 40 x 20 inch plot is clipped by the A4 sheet, or shrunk onto it
    // whole with the fit option (the frame's far corners inside the sheet).
    std::string large = "IN;SP1;PW5;PA0,0;PD40640,0,40640,20320,0,20320,0,0;PG;";
    Outcome clipped = Render(large, 20), fitted = Render(large, 20, false, true);
    ASSERT_EQ(clipped.pages.size(), 1u);
    ASSERT_EQ(fitted.pages.size(), 1u);
    auto c = clipped.pages[0].Ink(), f = fitted.pages[0].Ink();
    EXPECT_EQ(c[3], clipped.pages[0].height - 1);
    EXPECT_EQ(f[0], 0);
    EXPECT_LT(f[3], fitted.pages[0].height - 1);
    EXPECT_NEAR(double(f[3] - f[1]) / (f[2] - f[0]), 2.0, 0.1);
    // Prose that begins with the same letters is not a plot; NULs alone are
    // no job at all.
    EXPECT_EQ(Render("INVOICE 42\n", 20).pages.size(), 0u);
    EXPECT_EQ(Render(std::string(128 * 1024, '\0'), 20).result, kResultNotPrintJob);
}

namespace {

std::string Corpus(const std::string& name) {
    std::ifstream in(std::string(VARNEL_CORPUS_DIR) + "/" + name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

} // namespace

TEST(Hpgl2Corpus, DesignJetPlotAndDriverOutlines) {
    std::string plot = Corpus("hpgl/hpgl2reader__XANADU-PLT-test.plt");
    std::string invoice = Corpus("pcl5/doctestlib__invoice_letterformat.pcl");
    if (plot.empty() || invoice.empty()) GTEST_SKIP() << "corpus not found";
    // The drawing sits in the upper two thirds of the A4 page, its caption
    // below it, and nothing further down.
    Outcome p = Render(plot, 30);
    ASSERT_EQ(p.pages.size(), 1u);
    const Page& pg = p.pages[0];
    EXPECT_GT(pg.DarkIn(40, 30, 210, 210), 500);
    EXPECT_GT(pg.DarkIn(40, 270, 210, 290), 100); // the caption
    EXPECT_EQ(pg.DarkIn(0, 300, pg.width, pg.height), 0);

    // The invoice's text is HP-GL/2 outlines in a landscape frame: the
    // lines of text lie inside the frame's box on the sheet.
    Outcome inv = Render(invoice, 30);
    ASSERT_EQ(inv.pages.size(), 1u);
    const Page& ip = inv.pages[0];
    // Landscape: the page's left half is the sheet's lower half.
    EXPECT_GT(ip.DarkIn(30, 130, 215, 315), 800);
    EXPECT_EQ(ip.DarkIn(0, 0, ip.width, 120), 0);
}
