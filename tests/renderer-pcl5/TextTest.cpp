// PCL 5 text on the trace device: where characters and rules land, which
// font selection picks, and what a symbol set's code prints.
#include "core/Font.h"
#include "core/Job.h"
#include "fonts/FontSelect.h"
#include "pcl5/Pcl5.h"

#include <gtest/gtest.h>

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

std::vector<Call> Trace(const std::string& job, int* warnings = nullptr) {
    std::ostringstream out;
    JobOptions o;
    o.trace = &out;
    JobContext ctx(o);
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
