// The PCL 5 interpreter on whole command streams, rendered at 75 dpi on A4 so
// that one pixel is 1/75 inch (4 dots of 300 dpi).
#include "core/Job.h"
#include "core/Raster.h"
#include "pcl5/Pcl5.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

using namespace tarvik;

namespace {

struct Page {
    int width = 0, height = 0;
    std::vector<Color> px;
    Color At(int x, int y) const { return px[size_t(y) * width + x]; }
    bool Black(int x, int y) const { return At(x, y) == kBlack; }
    bool White(int x, int y) const { return At(x, y) == kWhite; }
    double DarkShare(int x0, int y0, int x1, int y1) const {
        int n = 0, dark = 0;
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x) ++n, dark += At(x, y) == kBlack;
        return n ? double(dark) / n : 0;
    }
};

struct Result {
    std::vector<Page> pages;
    bool ok = false;
    size_t consumed = 0;
};

// Each part is interpreted in turn on one job, as the parts between UELs are.
Result RenderParts(std::initializer_list<std::string> parts, int dpi = 75) {
    Result r;
    JobOptions o;
    o.xdpi = o.ydpi = dpi;
    o.widthPx = int(dpi * 8.27);
    o.heightPx = int(dpi * 11.69);
    o.onPage = [&](int, const PageRaster& raster) {
        Page p;
        p.width = raster.Width();
        p.height = raster.Height();
        for (int y = 0; y < p.height; ++y)
            for (int x = 0; x < p.width; ++x) p.px.push_back(raster.At(x, y));
        r.pages.push_back(std::move(p));
    };
    JobContext ctx(o);
    r.ok = true;
    for (const std::string& job : parts) {
        bool ok = false;
        r.consumed =
            pcl5::Interpret(reinterpret_cast<const uint8_t*>(job.data()), job.size(), ctx, ok);
        r.ok &= ok;
    }
    return r;
}

Result Render(const std::string& job, int dpi = 75) {
    return RenderParts({job}, dpi);
}

const std::string E = "\x1b";
// Reset, top margin 0, cursor at the logical page's top-left corner.
const std::string Top = E + "E" + E + "&l0E" + E + "*p0x0Y";

std::string Bytes(std::initializer_list<int> v) {
    std::string s;
    for (int b : v) s += char(b);
    return s;
}

std::string Row(const std::string& data) {
    return E + "*b" + std::to_string(data.size()) + "W" + data;
}

} // namespace

TEST(Pcl5Pages, FormFeedResetAndPageCommandsEject) {
    std::string box = E + "*c30a30b0P";
    EXPECT_EQ(Render(Top + box + "\x0c").pages.size(), 1u);
    // A reset prints a marked page but not a blank one.
    EXPECT_EQ(Render(Top + box + E + "E" + E + "E").pages.size(), 1u);
    EXPECT_EQ(Render(E + "E" + E + "E").pages.size(), 0u);
    // Page size and orientation print the page in progress first.
    EXPECT_EQ(Render(Top + box + E + "&l26A" + box + E + "&l1O" + box).pages.size(), 3u);
    EXPECT_EQ(Render(Top + E + "&l26A" + E + "&l0O" + box).pages.size(), 1u);
    // Text marks the page even though it is not drawn yet.
    EXPECT_EQ(Render(E + "EHello\r\n\x0c" + E + "E").pages.size(), 1u);
    // Copies are not multiplied.
    EXPECT_EQ(Render(Top + E + "&l3X" + box + "\x0c").pages.size(), 1u);
}

TEST(Pcl5Pages, CustomPaperFromPjl) {
    // PAPER=CUSTOM with a size in decipoints: the user default page and page
    // size 101 both take it; a named size still wins.
    std::ostringstream trace;
    JobOptions o;
    o.trace = &trace;
    JobContext ctx(o);
    ctx.MutablePjl().paper = "CUSTOM";
    ctx.MutablePjl().variables["PAPERWIDTH"] = "2880";
    ctx.MutablePjl().variables["PAPERLENGTH"] = "4320";
    std::string box = E + "*c30a30b0P";
    std::string job = E + "E" + box + E + "&l2A" + box + E + "&l101A" + box;
    bool ok = false;
    pcl5::Interpret(reinterpret_cast<const uint8_t*>(job.data()), job.size(), ctx, ok);
    EXPECT_NE(trace.str().find("BeginPage 1 288x432"), std::string::npos) << trace.str();
    EXPECT_NE(trace.str().find("BeginPage 2 612x792"), std::string::npos);
    EXPECT_NE(trace.str().find("BeginPage 3 288x432"), std::string::npos);
}

TEST(Pcl5Pages, TruncationUelAndSkippedBlocks) {
    // A data command cut short: the page so far is kept, the stream is broken.
    Result cut = Render(Top + E + "*c30a30b0P" + E + "*b100Wabc");
    EXPECT_FALSE(cut.ok);
    ASSERT_EQ(cut.pages.size(), 1u);
    EXPECT_TRUE(cut.pages[0].Black(20, 2));

    std::string job = Top + E + "*c30a30b0P\x0c";
    Result uel = Render(job + E + "%-12345X@PJL EOJ\r\n");
    EXPECT_TRUE(uel.ok);
    EXPECT_EQ(uel.consumed, job.size());

    // Macro bodies and fonts neither draw nor lose sync; display functions
    // print their bytes rather than run them; HP-GL/2 drawing marks the page
    // and PG ends it.
    std::string skipped =
        E + "&f1y0X" + E + "*c30a30b0P\x0c" + E + "&f1X" + E + ")s4W" + E + "E\x0c\x0c";
    EXPECT_EQ(Render(E + "E" + skipped).pages.size(), 0u);
    Result display = Render(E + "E" + E + "Y" + E + "*c30a30b0P\x0c" + E + "Z" + E + "E");
    ASSERT_EQ(display.pages.size(), 1u);
    EXPECT_TRUE(display.pages[0].White(20, 2));
    EXPECT_EQ(
        Render(E + "E" + E + "%0BIN;SP1;PD100,100;LBPG\x03;PG;" + E + "%0A" + E + "E").pages.size(),
        1u);
    EXPECT_EQ(Render(E + "E" + E + "%0BIN;PE<=?;SP1;" + E + "%0A" + E + "E").pages.size(), 1u);
}

TEST(Pcl5Placement, LogicalPageAndCursorUnits) {
    // A4 portrait: the logical page starts 71 dots (17.75 px) in; 300 units
    // are an inch (75 px).
    Result r = Render(Top + E + "*c300a300b0P");
    ASSERT_EQ(r.pages.size(), 1u);
    const Page& p = r.pages[0];
    EXPECT_TRUE(p.White(16, 10));
    EXPECT_TRUE(p.Black(19, 1));
    EXPECT_TRUE(p.Black(92, 73));
    EXPECT_TRUE(p.White(94, 10));
    EXPECT_TRUE(p.White(40, 76));

    // Default top margin: half an inch.
    Result margin = Render(E + "E" + E + "*p0x0Y" + E + "*c30a30b0P");
    EXPECT_TRUE(margin.pages[0].White(20, 36));
    EXPECT_TRUE(margin.pages[0].Black(20, 39));

    // Decipoints, relative moves and another unit of measure all land on the
    // same spot, one inch right and one down.
    for (const std::string& move :
         {E + "&a720h720V", E + "*p+300x+300Y", E + "&u600D" + E + "*p600x600Y",
          E + "*p150x150Y" + E + "&a+360h+360V"}) {
        Result m = Render(Top + move + E + "*c30a30b0P");
        ASSERT_EQ(m.pages.size(), 1u) << move;
        EXPECT_TRUE(m.pages[0].Black(95, 77)) << move;
        EXPECT_TRUE(m.pages[0].White(91, 77)) << move;
        EXPECT_TRUE(m.pages[0].White(95, 73)) << move;
    }

    // Landscape: the page is turned onto the portrait sheet; its top-left
    // corner ends up at the sheet's bottom-left.
    Result land = Render(E + "E" + E + "&l1O" + E + "&l0E" + E + "*p0x0Y" + E + "*c300a300b0P");
    ASSERT_EQ(land.pages.size(), 1u);
    EXPECT_TRUE(land.pages[0].Black(30, 876 - 30));
    EXPECT_TRUE(land.pages[0].White(30, 30));

    // Registration moves the whole logical page.
    Result reg = Render(Top + E + "&l-180U" + E + "*c30a30b0P");
    EXPECT_TRUE(reg.pages[0].Black(2, 2));
}

TEST(Pcl5Raster, EveryCompressionMethodGivesTheSameImage) {
    // Four rows of 16 pixels.
    std::vector<std::string> rows = {Bytes({0xff, 0x00}), Bytes({0xf0, 0x0f}), Bytes({0xf0, 0x0f}),
                                     Bytes({0x00, 0x00})};
    std::string head = Top + E + "*t75R" + E + "*r16S" + E + "*r1A";
    std::vector<std::string> jobs;
    std::string m0 = head + E + "*b0M";
    for (auto& r : rows) m0 += Row(r);
    jobs.push_back(m0);
    jobs.push_back(head + E + "*b1M" + Row(Bytes({0, 0xff, 0, 0})) +
                   Row(Bytes({0, 0xf0, 0, 0x0f})) + Row(Bytes({0, 0xf0, 0, 0x0f})) +
                   Row(Bytes({1, 0})));
    jobs.push_back(head + E + "*b2M" + Row(Bytes({1, 0xff, 0})) + Row(Bytes({1, 0xf0, 0x0f})) +
                   Row(Bytes({1, 0xf0, 0x0f})) + Row(Bytes({0xff, 0})));
    jobs.push_back(head + E + "*b3M" + Row(Bytes({0, 0xff})) + Row(Bytes({0x20, 0xf0, 0x0f})) +
                   Row("") + Row(Bytes({0x20, 0, 0})));
    jobs.push_back(head + E + "*b9M" + Row(Bytes({0, 0xff})) + Row(Bytes({1, 0xf0, 0x0f})) +
                   Row("") + Row(Bytes({0x80, 0})));
    std::string block = Bytes({0, 0, 2, 0xff, 0, 0, 0, 2, 0xf0, 0x0f, 5, 0, 1, 4, 0, 1});
    jobs.push_back(head + E + "*b5M" + Row(block));
    Page first;
    for (size_t i = 0; i < jobs.size(); ++i) {
        Result r = Render(jobs[i] + E + "*rB\x0c");
        ASSERT_EQ(r.pages.size(), 1u) << i;
        const Page& p = r.pages[0];
        if (i == 0) {
            first = p;
            EXPECT_TRUE(p.Black(19, 0));
            EXPECT_TRUE(p.Black(25, 0));
            EXPECT_TRUE(p.White(29, 0));
            EXPECT_TRUE(p.Black(19, 1));
            EXPECT_TRUE(p.White(23, 2));
            EXPECT_TRUE(p.Black(33, 2));
            EXPECT_TRUE(p.White(19, 3));
            continue;
        }
        EXPECT_EQ(p.px, first.px) << "method job " << i;
    }
}

TEST(Pcl5Raster, AnnouncedDeltaRowsThatArePackBits) {
    // 320-pixel rows (40 bytes). A driver announces method 3 but sends PackBits
    // rows that expand to exactly the declared width: drawn as PackBits.
    std::string head = Top + E + "*t75R" + E + "*r320S" + E + "*r1A" + E + "*b3M";
    std::string packed = head + Row(Bytes({0x00, 0xff, 0xda, 0x00})) + // ff, 39 x 00
                         Row(Bytes({0xda, 0x00, 0x00, 0x0f}));         // 39 x 00, 0f
    Result r = Render(packed + E + "*rB\x0c");
    ASSERT_EQ(r.pages.size(), 1u);
    const Page& p = r.pages[0];
    // The logical page starts 71/4 = 17.75 pixels in at 75 dpi.
    EXPECT_TRUE(p.Black(18, 0));
    EXPECT_TRUE(p.Black(25, 0));
    EXPECT_TRUE(p.White(26, 0));
    EXPECT_EQ(p.DarkShare(26, 0, 340, 1), 0.0);
    EXPECT_EQ(p.DarkShare(0, 1, 330, 2), 0.0);
    EXPECT_EQ(p.DarkShare(330, 1, 342, 2), 4.0 / 12);

    // Genuine delta rows on the same width keep patching the seed row.
    std::string delta = head + Row(Bytes({0x00, 0xff})) + Row(Bytes({0x01, 0x0f}));
    r = Render(delta + E + "*rB\x0c");
    ASSERT_EQ(r.pages.size(), 1u);
    const Page& q = r.pages[0];
    EXPECT_TRUE(q.Black(18, 0));
    EXPECT_TRUE(q.Black(18, 1)); // kept from the seed
    EXPECT_TRUE(q.Black(31, 1)); // second byte, low half
    EXPECT_TRUE(q.White(27, 1));
}

TEST(Pcl5Raster, MarginsOffsetsTransparencyAndCursor) {
    std::string black = Bytes({0xff});
    // *r1A starts at the cursor, *r0A at the logical page's left edge.
    Result at = Render(Top + E + "*p300X" + E + "*t75R" + E + "*r1A" + Row(black) + E + "*rB");
    EXPECT_TRUE(at.pages[0].Black(94, 0));
    EXPECT_TRUE(at.pages[0].White(20, 0));
    Result left = Render(Top + E + "*p300X" + E + "*t75R" + E + "*r0A" + Row(black) + E + "*rB");
    EXPECT_TRUE(left.pages[0].Black(20, 0));

    // *b#Y skips rows; a cursor move inside raster graphics moves the rows.
    Result skip = Render(Top + E + "*t75R" + E + "*r1A" + Row(black) + E + "*b2Y" + Row(black) + E +
                         "*p+40Y" + Row(black) + E + "*rB");
    const Page& s = skip.pages[0];
    EXPECT_TRUE(s.Black(20, 0));
    EXPECT_TRUE(s.White(20, 1));
    EXPECT_TRUE(s.White(20, 2));
    EXPECT_TRUE(s.Black(20, 3));
    EXPECT_TRUE(s.White(20, 4));
    EXPECT_TRUE(s.Black(20, 14));

    // Transparent (default) white pixels leave a black box alone; opaque ones
    // paint white.
    std::string box = E + "*c60a60b0P";
    std::string holes = E + "*t75R" + E + "*r1A" + Row(Bytes({0x0f})) + E + "*rB";
    EXPECT_TRUE(Render(Top + box + holes).pages[0].Black(19, 0));
    Result opaque = Render(Top + box + E + "*v1N" + holes);
    EXPECT_TRUE(opaque.pages[0].White(19, 0));
    EXPECT_TRUE(opaque.pages[0].Black(24, 0));
    EXPECT_TRUE(opaque.pages[0].Black(19, 5));

    // Scaled raster: two source pixels over a two-inch destination.
    Result scaled =
        Render(Top + E + "*r2s1T" + E + "*t1440H" + E + "*r3A" + Row(Bytes({0x40})) + E + "*rB");
    EXPECT_TRUE(scaled.pages[0].White(40, 20));
    EXPECT_TRUE(scaled.pages[0].Black(130, 20));
}

TEST(Pcl5Raster, ColourPlanesCidAndPalettes) {
    // Simple RGB colour: plane 1 is the red bit, plane 3 the blue one.
    Result rgb = Render(Top + E + "*r3U" + E + "*t75R" + E + "*r1A" + E + "*b1V" + Bytes({0xf0}) +
                        E + "*b1V" + Bytes({0x00}) + E + "*b1W" + Bytes({0x0f}) + E + "*rB");
    EXPECT_EQ(rgb.pages[0].At(19, 0), (Color{255, 0, 0}));
    EXPECT_EQ(rgb.pages[0].At(24, 0), (Color{0, 0, 255}));

    // CMY planes: all three set is black, none is white (transparent).
    Result cmy = Render(Top + E + "*r-3U" + E + "*t75R" + E + "*r1A" + E + "*b1V" + Bytes({0xf0}) +
                        E + "*b1V" + Bytes({0xf0}) + E + "*b1W" + Bytes({0xff}) + E + "*rB");
    EXPECT_EQ(cmy.pages[0].At(19, 0), kBlack);
    EXPECT_EQ(cmy.pages[0].At(24, 0), (Color{255, 255, 0})); // yellow

    // CID direct by pixel: 24-bit rows.
    std::string cid = E + "*v6W" + Bytes({0, 3, 0, 8, 8, 8});
    Result direct = Render(Top + cid + E + "*r2S" + E + "*t75R" + E + "*r1A" +
                           Row(Bytes({10, 200, 30, 0, 0, 255})) + E + "*rB");
    EXPECT_EQ(direct.pages[0].At(18, 0), (Color{10, 200, 30}));
    EXPECT_EQ(direct.pages[0].At(19, 0), (Color{0, 0, 255}));

    // CID indexed by pixel with a programmed entry; the foreground colour
    // comes from the palette too.
    std::string indexed = E + "*v6W" + Bytes({0, 1, 8, 8, 8, 8}) + E + "*v40a50b60c5I";
    Result pal = Render(Top + indexed + E + "*r1S" + E + "*t75R" + E + "*r1A" + Row(Bytes({5})) +
                        E + "*rB" + E + "*v5S" + E + "*p0x100Y" + E + "*c30a30b0P");
    EXPECT_EQ(pal.pages[0].At(18, 0), (Color{40, 50, 60}));
    EXPECT_EQ(pal.pages[0].At(20, 27), (Color{40, 50, 60}));

    // Simple palettes cannot be changed; a pushed palette comes back on pop.
    Result fixed = Render(Top + E + "*r3U" + E + "*v9a9b9c1I" + E + "*v1S" + E + "*c30a30b0P");
    EXPECT_EQ(fixed.pages[0].At(20, 2), (Color{255, 0, 0}));
    Result pushed = Render(Top + E + "*r3U" + E + "*p0P" + E + "*r1U" + E + "*p1P" + E + "*v4S" +
                           E + "*c30a30b0P");
    EXPECT_EQ(pushed.pages[0].At(20, 2), (Color{0, 0, 255}));

    // Palettes kept by ID: a copy made before a change stays as it was, and
    // the active palette keeps its changes when another one is selected.
    std::string stored = Top + E + "*v6W" + Bytes({0, 1, 8, 8, 8, 8}) + E + "*v200a0b0c3I" + E +
                         "&p7i6C" + E + "*v0a200b0c3I" + E + "&p7S" + E + "*v3S" + E +
                         "*c30a30b0P" + E + "&p0S" + E + "*v3S" + E + "*p0x150Y" + E + "*c30a30b0P";
    Result ids = Render(stored);
    EXPECT_EQ(ids.pages[0].At(20, 2), (Color{200, 0, 0}));
    EXPECT_EQ(ids.pages[0].At(20, 40), (Color{0, 200, 0}));
}

TEST(Pcl5Fills, EraseShadingHatchAndThinRules) {
    std::string big = E + "*c600a600b";
    Result erase = Render(Top + big + "0P" + E + "*c300a300b1P");
    EXPECT_TRUE(erase.pages[0].White(30, 30));
    EXPECT_TRUE(erase.pages[0].Black(150, 140));

    Result shade = Render(Top + E + "*c45g" + big + "2P", 300);
    double share = shade.pages[0].DarkShare(80, 10, 600, 500);
    EXPECT_GT(share, 0.35);
    EXPECT_LT(share, 0.55);
    Result light = Render(Top + E + "*c5g" + big + "2P", 300);
    EXPECT_LT(light.pages[0].DarkShare(80, 10, 600, 500), 0.15);

    // Horizontal hatching: whole rows of ink with clear rows between.
    Result hatch = Render(Top + E + "*c1g" + big + "3P", 300);
    int inkRows = 0;
    for (int y = 10; y < 500; ++y) inkRows += hatch.pages[0].DarkShare(80, y, 600, y + 1) > 0.99;
    EXPECT_GT(inkRows, 20);
    EXPECT_LT(inkRows, 200);

    // A rule one 600-dpi dot wide still shows at 75 dpi.
    Result rule = Render(Top + E + "&u600D" + E + "*p600X" + E + "*c1a600b0P");
    int dark = 0;
    for (int x = 85; x < 105; ++x) dark += rule.pages[0].Black(x, 40);
    EXPECT_EQ(dark, 1);
}

TEST(Pcl5Fills, PixelPlacementDecidesWhetherNeighboursOverlap) {
    // Two fills side by side, each exclusive-ORed onto the page (165 is
    // P xnor D: ink flips what is under it): by default
    // (grid intersection) each takes one dot more than its size, so they
    // share a column that the second one clears again; grid centred they
    // tile. The dot is the printer's (300 dpi): at 600 dpi it is two pixels.
    std::string pair = E + "*l165O" + E + "*c30a30b0P" + E + "*p30X" + E + "*c0P";
    for (int dpi : {300, 600}) {
        int k = dpi / 300;
        Result grid = Render(Top + pair, dpi);
        Result centred = Render(Top + E + "*l1R" + pair, dpi);
        ASSERT_EQ(grid.pages.size(), 1u);
        int y = 10 * k, left = 71 * k;
        EXPECT_EQ(grid.pages[0].DarkShare(left, y, left + 30 * k, y + 1), 1.0) << dpi;
        EXPECT_EQ(grid.pages[0].DarkShare(left + 30 * k, y, left + 31 * k, y + 1), 0.0) << dpi;
        EXPECT_EQ(grid.pages[0].DarkShare(left + 31 * k, y, left + 61 * k, y + 1), 1.0) << dpi;
        EXPECT_EQ(grid.pages[0].DarkShare(left, 30 * k, left + 30 * k, 31 * k), 1.0) << dpi;
        EXPECT_EQ(centred.pages[0].DarkShare(left, y, left + 60 * k, y + 1), 1.0) << dpi;
        EXPECT_TRUE(centred.pages[0].White(left + 60 * k, y)) << dpi;
        EXPECT_TRUE(centred.pages[0].White(left, 30 * k)) << dpi;
    }
}

TEST(Pcl5Limits, HostileValuesStayBounded) {
    // Enormous sizes, offsets and counts neither crash nor hang.
    std::string job = Top + E + "*r999999999S" + E + "*r1A" + Row(Bytes({0xff})) + E +
                      "*b999999999Y" + Row(Bytes({0xff})) + E + "*rB" + E +
                      "*p-99999999x99999999Y" + E + "*c9999999a9999999b0P" + E + "*t1R" + E +
                      "*b5M" + E + "*r1A" +
                      Row(Bytes({5, 0xff, 0xff, 5, 0xff, 0xff, 4, 0xff, 0xff})) + E + "*rB" + E +
                      "*v6W" + Bytes({0, 0, 200, 8, 8, 8}) + E + "*v-6W" +
                      Bytes({0, 0, 8, 8, 8, 8}) + E + "*v99999I" + E + "*v-99999S";
    for (int i = 0; i < 400; ++i) job += E + "*p0P";
    for (int i = 0; i < 400; ++i) job += E + "*p1P";
    Result r = Render(job);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.pages.size(), 1u);
}

TEST(Pcl5Macros, ExecuteCallOverlayAndLifetime) {
    // Macro 1 draws a box at the cursor, moves the cursor and selects 50 %
    // shading: executing it keeps those changes, calling it does not.
    std::string define =
        E + "&f1y0X" + E + "*c30a30b0P" + E + "*p+150X" + E + "*c50G" + E + "*v2T" + E + "&f1X";
    std::string probe = E + "*c30a30b5P"; // the current pattern, at the cursor
    Result exec = Render(Top + define + E + "&f2X" + probe);
    ASSERT_EQ(exec.pages.size(), 1u);
    EXPECT_TRUE(exec.pages[0].Black(20, 2));
    double moved = exec.pages[0].DarkShare(56, 0, 64, 7);
    EXPECT_GT(moved, 0.2);
    EXPECT_LT(moved, 0.8);
    Result call = Render(Top + define + E + "&f3X" + probe);
    EXPECT_TRUE(call.pages[0].Black(20, 2));
    EXPECT_EQ(call.pages[0].DarkShare(18, 0, 25, 7), 1.0); // solid, at the old cursor
    EXPECT_EQ(call.pages[0].DarkShare(56, 0, 64, 7), 0.0);

    // The text model is part of the environment: underlining switched on in
    // a called macro ends with it; executed, it stays.
    std::string underline = E + "&f4y0X" + E + "&d0D" + E + "&f1X";
    Result plain = Render(Top + "MMMM\r\n");
    Result calledText = Render(Top + underline + E + "&f4y3X" + "MMMM\r\n");
    Result executedText = Render(Top + underline + E + "&f4y2X" + "MMMM\r\n");
    ASSERT_EQ(plain.pages.size(), 1u);
    EXPECT_TRUE(calledText.pages[0].px == plain.pages[0].px);
    EXPECT_FALSE(executedText.pages[0].px == plain.pages[0].px);

    // An overlay is drawn on every page, the blank ones a form feed ejects
    // included, in a fresh environment, and not on a page that is never
    // printed; a page size change ends it.
    std::string overlay =
        E + "&f2y0X" + E + "*p0x600Y" + E + "*c30a30b0P" + E + "&f1X" + E + "&f4X";
    Result pages = Render(Top + overlay + E + "*p900X" + E + "*c30a30b0P\x0c\x0c" + E + "&l26A" +
                          E + "*c30a30b0P" + E + "E");
    ASSERT_EQ(pages.pages.size(), 3u);
    // Two inches below the default half-inch top margin.
    for (int i = 0; i < 2; ++i) EXPECT_TRUE(pages.pages[size_t(i)].Black(20, 190)) << i;
    EXPECT_TRUE(pages.pages[0].Black(245, 2));
    EXPECT_TRUE(pages.pages[2].White(20, 190));

    // A reset drops temporary macros; permanent ones stay.
    std::string kept = define + E + "&f10X" + E + "&f2y0X" + E + "*c30a30b0P" + E + "&f1X";
    Result reset =
        Render(Top + kept + E + "E" + Top + E + "&f1y3X" + E + "*p0x300Y" + E + "&f2y3X");
    ASSERT_EQ(reset.pages.size(), 1u);
    EXPECT_TRUE(reset.pages[0].Black(20, 2));
    EXPECT_TRUE(reset.pages[0].White(20, 77));
}

TEST(Pcl5Macros, PermanentDownloadsOutliveTheUel) {
    // Macro 1 and pattern 3 made permanent, macro 2 and pattern 4 left
    // temporary: in the job's next part only the permanent ones draw.
    std::string box = E + "*c30a30b0P";
    std::string stripes = Bytes({0, 0, 1, 0, 0, 8, 0, 8}) + std::string(8, char(0xf0));
    std::string first = Top + E + "&f1y0X" + box + E + "&f1X" + E + "&f10X" + E + "&f2y0X" + box +
                        E + "&f1X" + E + "*c3g16W" + stripes + E + "*c5Q" + E + "*c4g16W" + stripes;
    std::string second = Top + E + "&f1y3X" + E + "*p0x300Y" + E + "&f2y3X" + E + "*p0x600Y" + E +
                         "*c3g120a30b4P" + E + "*p0x900Y" + E + "*c4g120a30b4P";
    Result r = RenderParts({first, second});
    ASSERT_EQ(r.pages.size(), 1u);
    const Page& p = r.pages[0];
    EXPECT_TRUE(p.Black(20, 2));
    EXPECT_EQ(p.DarkShare(18, 75, 25, 82), 0.0);
    double striped = p.DarkShare(18, 150, 47, 157);
    EXPECT_GT(striped, 0.3);
    EXPECT_LT(striped, 0.7);
    EXPECT_EQ(p.DarkShare(18, 225, 47, 232), 0.0);
}

TEST(Pcl5Macros, HostileMacrosEnd) {
    // A macro that calls itself, an overlay that defines a macro it never
    // closes, a form feed in an overlay, a definition left open at the end:
    // the job ends with its three pages.
    std::string self = E + "&f5y0X" + E + "*c30a30b0P" + E + "&f5y3X" + E + "&f1X" + E + "&f3X";
    std::string overlay = E + "&f6y0X" + E + "&f7y0X" + E + "*c9a9b0P\x0c" + E + "&f1X" + E +
                          "&f7y2X\x0c" + E + "&f1X" + E + "&f6y4X";
    Result r = Render(Top + self + overlay + "\x0c\x0c" + E + "&f8y0X" + E + "*c30a30b0P");
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.pages.size(), 3u);
    EXPECT_TRUE(r.pages[0].Black(20, 2));
}

namespace {
// An 8 x 8 pattern whose left half is ink, as format 0 or resolution-specified.
std::string StripePattern(int id, int dpi = 0) {
    std::string head =
        dpi ? Bytes({20, 0, 1, 0, 0, 8, 0, 8, dpi >> 8, dpi & 255, dpi >> 8, dpi & 255})
            : Bytes({0, 0, 1, 0, 0, 8, 0, 8});
    std::string data = head + std::string(8, char(0xf0));
    return E + "*c" + std::to_string(id) + "g" + std::to_string(data.size()) + "W" + data;
}

// Whether device columns x0..x1 of row y follow stripes of period `period`
// starting with ink at column `phase`.
bool Stripes(const Page& p, int y, int x0, int x1, int period, int phase) {
    for (int x = x0; x < x1; ++x) {
        bool ink = (((x - phase) % period) + period) % period < period / 2;
        if (p.Black(x, y) != ink) return false;
    }
    return true;
}
} // namespace

TEST(Pcl5Patterns, UserPatternsTileFromTheReferencePoint) {
    // 300 dpi pattern on a 300 dpi page: tiles of 8 device pixels from the
    // page origin; a 600 dpi one tiles at half the size; *p#R moves the
    // phase to the cursor; selected with *v4T and filled with *c5P alike.
    std::string box = E + "*c600a60b";
    Result fmt0 = Render(Top + StripePattern(3) + box + "4P", 300);
    EXPECT_TRUE(Stripes(fmt0.pages[0], 30, 80, 600, 8, 0));
    Result fine = Render(Top + StripePattern(3, 600) + E + "*v4T" + box + "5P", 300);
    EXPECT_TRUE(Stripes(fine.pages[0], 30, 80, 600, 4, 0));
    Result moved = Render(Top + StripePattern(3) + E + "*p2x0Y" + E + "*p0R" + box + "4P", 300);
    EXPECT_TRUE(Stripes(moved.pages[0], 30, 80, 600, 8, 71 + 2));

    // Patterns turn with the orientation and, unless *p1R holds them, with
    // the print direction: the vertical stripes run across the sheet when
    // either turns them a quarter. HP-GL/2 ignores the print direction: its
    // frame and its pattern fills stay put. Checked at the sheet's centre.
    const std::string rect = E + "*p0x0Y" + E + "*c2000a2000b4P";
    const std::string plot = E + "%0BIN;FT22,3;PU0,0;RA10000,10000;" + E + "%0A";
    struct Turn {
        std::string setup, fill;
        bool across;
    } turns[] = {{"", rect, false},
                 {E + "&a90P" + E + "*p0R", rect, true},
                 {E + "&a90P" + E + "*p1R", rect, false},
                 {E + "&l1O" + E + "&l0E", rect, true},
                 {E + "&a90P", plot, false}};
    for (const Turn& turn : turns) {
        Result r = Render(Top + turn.setup + StripePattern(3) + turn.fill, 300);
        ASSERT_EQ(r.pages.size(), 1u);
        const Page& p = r.pages[0];
        bool rowEven = true, colEven = true;
        for (int i = 1; i < 16; ++i) {
            rowEven &= p.Black(1240 + i, 1750) == p.Black(1240, 1750);
            colEven &= p.Black(1240, 1750 + i) == p.Black(1240, 1750);
        }
        EXPECT_EQ(rowEven, turn.across) << turn.setup << turn.fill;
        EXPECT_EQ(colEven, !turn.across) << turn.setup << turn.fill;
        EXPECT_GT(p.DarkShare(1240, 1750, 1272, 1782), 0.3) << turn.setup << turn.fill;
    }

    // On a page coarser than the pattern each device pixel takes the tile's
    // average: half ink reads as mid gray, not as solid or blank.
    Result coarse = Render(Top + StripePattern(3, 600) + box + "4P", 75);
    int sum = 0;
    for (int x = 20; x < 160; ++x) sum += coarse.pages[0].At(x, 8).r;
    EXPECT_NEAR(sum / 140.0, 127.5, 8);

    // A colour pattern's pixels are palette indices: under simple RGB
    // colour, 1 is red and 0 black.
    std::string colour = Bytes({1, 0, 1, 0, 0, 8, 0, 8}) + std::string(8, char(0xf0));
    Result rgb = Render(Top + E + "*r3U" + E + "*c3g16W" + colour + box + "4P", 300);
    EXPECT_EQ(rgb.pages[0].At(80, 30), (Color{255, 0, 0}));
    EXPECT_EQ(rgb.pages[0].At(84, 30), kBlack);

    // Deleted, oversized and short patterns leave nothing (and no crash).
    Result deleted =
        Render(Top + StripePattern(3) + E + "*c2Q" + box + "4P" + E + "*c0g" + E + "*c20W" +
               Bytes({0, 0, 1, 0, 255, 255, 255, 255}) + std::string(12, 'x') + box + "4P" + E +
               "*c5W" + Bytes({20, 0, 1, 0, 0}) + box + "4P" + E + "*c5g60a60b0P");
    ASSERT_EQ(deleted.pages.size(), 1u);
    EXPECT_EQ(deleted.pages[0].DarkShare(80, 5, 600, 55), 0.0);
}

TEST(Pcl5Patterns, ShadingLevelsAndHatchesAtTwoResolutions) {
    // Eight shading levels and six hatches side by side; each patch's share
    // of ink matches the printer's level at 300 and at 600 dpi.
    const int ids[] = {2, 10, 15, 30, 45, 70, 90, 100};
    const double hatch[] = {0.125, 0.125, 0.125, 0.125, 0.234, 0.234};
    std::string job = Top;
    for (int i = 0; i < 8; ++i)
        job += E + "*p" + std::to_string(i * 270) + "x0Y" + E + "*c" + std::to_string(ids[i]) +
               "g240a240b2P";
    for (int i = 0; i < 6; ++i)
        job += E + "*p" + std::to_string(i * 270) + "x300Y" + E + "*c" + std::to_string(i + 1) +
               "g240a240b3P";
    for (int dpi : {300, 600}) {
        Result r = Render(job, dpi);
        ASSERT_EQ(r.pages.size(), 1u);
        double k = dpi / 300.0;
        for (int i = 0; i < 8; ++i) {
            int x = int((71 + i * 270) * k);
            EXPECT_NEAR(r.pages[0].DarkShare(x + 8, 8, x + int(232 * k), int(232 * k)),
                        ids[i] / 100.0, 0.01)
                << "level " << ids[i] << " at " << dpi;
        }
        for (int i = 0; i < 6; ++i) {
            int x = int((71 + i * 270) * k), y = int(300 * k);
            EXPECT_NEAR(r.pages[0].DarkShare(x + 8, y + 8, x + int(232 * k), y + int(232 * k)),
                        hatch[i], 0.02)
                << "hatch " << i + 1 << " at " << dpi;
        }
    }
}

TEST(Pcl5Patterns, RastersPaintWithTheCurrentPatternAndColour) {
    // A 1-bit raster is a stencil: its set bits take the current pattern or
    // the foreground colour, its clear bits leave the page as it was.
    std::string raster = E + "*t300R" + E + "*r1A";
    for (int i = 0; i < 64; ++i) raster += Row(std::string(40, char(0xff)) + std::string(10, 0));
    raster += E + "*rB";
    std::string gray = E + "*p0x0Y" + E + "*c2400a100b" + E + "*c10g2P";
    Result shaded = Render(Top + E + "*c50g" + E + "*v2T" + raster, 300);
    double share = shaded.pages[0].DarkShare(75, 2, 385, 62);
    EXPECT_GT(share, 0.4);
    EXPECT_LT(share, 0.6);
    std::string red = E + "*r3U" + E + "*v1S";
    Result colour = Render(Top + gray + red + raster, 300);
    EXPECT_EQ(colour.pages[0].At(200, 30), (Color{255, 0, 0}));
    // Under the clear bits the 10 % shading shows through.
    EXPECT_GT(colour.pages[0].DarkShare(400, 2, 460, 62), 0.05);
}

TEST(Pcl5Color, LabPalettesAndMonochromePrinting) {
    // CIE L*a*b* entries come out in sRGB; monochrome printing turns the
    // same colour into its gray.
    std::string lab = E + "*v6W" + Bytes({3, 1, 8, 8, 8, 8}) + E + "*v53a80b67c1I" + E + "*v1S";
    Result r = Render(Top + lab + E + "*c30a30b0P");
    Color c = r.pages[0].At(20, 2);
    EXPECT_GT(c.r, 230);
    EXPECT_LT(c.g, 40);
    EXPECT_LT(c.b, 40);
    Result mono = Render(Top + E + "&b1M" + lab + E + "*c30a30b0P");
    Color g = mono.pages[0].At(20, 2);
    EXPECT_EQ(g.r, g.g);
    EXPECT_EQ(g.g, g.b);
    EXPECT_NEAR(g.r, 77 * c.r / 256 + 150 * c.g / 256 + 29 * c.b / 256, 3);
}
