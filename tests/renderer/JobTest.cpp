// The job level: PJL, UEL, language detection, page placement and results.
#include "core/Job.h"
#include "core/Raster.h"
#include "job/Pjl.h"
#include "job/Runner.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

using namespace tarvik;

namespace {

const std::string kUel = "\x1b%-12345X";

// Stand-in interpreters that log what they were given and consume up to
// the next UEL. A stream containing "BREAK" stops with ok = false after
// opening and drawing on a page.
std::string* g_log = nullptr;

size_t Fake(const char* name, const uint8_t* data, size_t size, JobContext& job, bool& ok) {
    size_t end = FindUel(data, size, 0);
    std::string body(reinterpret_cast<const char*>(data), end);
    if (g_log) *g_log += std::string(name) + (job.StartInHpgl2() ? "(gl2)" : "") + "[" + body + "]";
    ok = true;
    if (body.find("PAGE") != std::string::npos) {
        Device& dev = job.BeginPage({});
        Path p;
        p.Rectangle(0, 0, 10, 10);
        dev.FillPath(p, {}, FillRule::NonZero, Paint::SolidColor(kBlack), {});
        if (body.find("BREAK") != std::string::npos) {
            ok = false;
            return end / 2;
        }
        job.EndPage();
    }
    return end;
}
size_t FakeXl(const uint8_t* d, size_t n, JobContext& j, bool& ok) {
    return Fake("XL", d, n, j, ok);
}
size_t FakePcl(const uint8_t* d, size_t n, JobContext& j, bool& ok) {
    return Fake("PCL", d, n, j, ok);
}

struct FakeRun {
    std::string log;
    int result = 0;
    int pages = 0;
    PjlSettings pjl;
};

FakeRun RunFake(const std::string& input) {
    FakeRun r;
    g_log = &r.log;
    JobOptions opt;
    opt.onPage = [&](int, const PageRaster&) {};
    JobContext job(opt);
    r.result = RunInput(reinterpret_cast<const uint8_t*>(input.data()), input.size(), job,
                        {&FakeXl, &FakePcl});
    r.pages = job.PagesWritten();
    r.pjl = job.Pjl();
    g_log = nullptr;
    return r;
}

TEST(Pjl, ParsesCommandsOptionsAndModifiers) {
    PjlCommand c = ParsePjlLine(" SET ORIENTATION = LANDSCAPE");
    EXPECT_EQ(c.command, "SET");
    EXPECT_EQ(c.options.at("ORIENTATION"), "LANDSCAPE");
    c = ParsePjlLine(" SET LPARM : PCL SYMSET = ROMAN8");
    EXPECT_EQ(c.options.at("SYMSET"), "ROMAN8");
    EXPECT_EQ(c.options.count("PCL"), 0u);
    c = ParsePjlLine(" enter language=pclxl");
    EXPECT_EQ(c.command, "ENTER");
    EXPECT_EQ(c.options.at("LANGUAGE"), "pclxl");
    c = ParsePjlLine(" JOB NAME = \"My = Job : 1\" DISPLAY=\"x\"");
    EXPECT_EQ(c.options.at("NAME"), "My = Job : 1");
    c = ParsePjlLine(" FSDOWNLOAD FORMAT:BINARY SIZE=12 NAME=\"0:\\x\"");
    EXPECT_EQ(c.dataSize, 12u);
    c = ParsePjlLine(" COMMENT SET PAPER=A3");
    EXPECT_TRUE(c.options.empty());

    PjlSettings s;
    ApplyPjl(ParsePjlLine(" SET PAPER=LETTER"), s);
    ApplyPjl(ParsePjlLine(" DEFAULT ORIENTATION=REVERSELANDSCAPE"), s);
    ApplyPjl(ParsePjlLine(" SET RESOLUTION=600"), s);
    ApplyPjl(ParsePjlLine(" SET COPIES=3"), s);
    EXPECT_EQ(s.paper, "LETTER");
    EXPECT_DOUBLE_EQ(s.paperWidthPt, 612);
    EXPECT_DOUBLE_EQ(s.paperHeightPt, 792);
    EXPECT_EQ(s.orientation, 3);
    EXPECT_EQ(s.resolution, 600);
    EXPECT_EQ(s.copies, 3);
    ASSERT_NE(FindMedia("a4"), nullptr);
    EXPECT_NEAR(FindMedia("A4Paper")->widthPt, 595.28, 0.01);
    EXPECT_EQ(FindMedia("Tabloidish"), nullptr);
}

TEST(Sniffing, RecognisesStreamsAndEscapes) {
    auto u = [](const char* s) { return reinterpret_cast<const uint8_t*>(s); };
    EXPECT_TRUE(IsXlHeader(u(") HP-PCL XL;2;0;Comment\n"), 23));
    EXPECT_TRUE(IsXlHeader(u("( HP-PCL XL;3;0\n"), 16));
    EXPECT_FALSE(IsXlHeader(u(") HP-PCL XY;2;0\n"), 16));
    EXPECT_FALSE(IsXlHeader(u(") HP-PCL"), 8));
    EXPECT_TRUE(IsPcl5Escape(u("\x1b"
                               "E"),
                             2));
    EXPECT_TRUE(IsPcl5Escape(u("\x1b*r1A"), 5));
    EXPECT_TRUE(IsPcl5Escape(u("\x1b%-1B"), 5));
    EXPECT_FALSE(IsPcl5Escape(u("\x1b\x01"), 2));
    std::string s = "ab" + kUel + "cd\x1b%-1234X" + kUel;
    EXPECT_EQ(FindUel(u(s.c_str()), s.size(), 0), 2u);
    EXPECT_EQ(FindUel(u(s.c_str()), s.size(), 3), s.size() - 9);
    EXPECT_EQ(FindUel(u(s.c_str()), s.size() - 1, 3), s.size() - 1);
}

TEST(JobLevel, RoutesJobsByPjlAndBySniffing) {
    FakeRun r =
        RunFake(kUel +
                "@PJL JOB\r\n@PJL SET ORIENTATION=LANDSCAPE\r\n@PJL ENTER LANGUAGE=PCLXL\r\n"
                ") HP-PCL XL;2;0\nPAGE" +
                kUel +
                "@PJL ENTER LANGUAGE = PCL\n\x1b"
                "EPAGE" +
                kUel + "@PJL EOJ\r\n" + kUel);
    EXPECT_EQ(r.log, "XL[) HP-PCL XL;2;0\nPAGE]PCL[\x1b"
                     "EPAGE]");
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(r.pages, 2);
    EXPECT_EQ(r.pjl.orientation, 1);

    // No PJL at all, leading NULs, a language switch without UEL.
    r = RunFake(std::string(4096, '\0') +
                "\x1b"
                "E text" +
                kUel + ") HP-PCL XL;1;1\n");
    EXPECT_EQ(r.log, "PCL[\x1b"
                     "E text]XL[) HP-PCL XL;1;1\n]");
    EXPECT_EQ(r.result, 0);

    // HP-GL/2 jobs go to the PCL 5 interpreter in HP-GL/2 mode.
    r = RunFake(kUel + "@PJL ENTER LANGUAGE=HPGL2\nIN;PD;" + kUel);
    EXPECT_EQ(r.log, "PCL(gl2)[IN;PD;]");
}

TEST(JobLevel, FileSystemDataIsSkippedNotInterpreted) {
    std::string payload = "\x1b"
                          "EPAGE";
    FakeRun r =
        RunFake(kUel + "@PJL FSDOWNLOAD FORMAT:BINARY SIZE=" + std::to_string(payload.size()) +
                " NAME=\"0:\\f\"\r\n" + payload +
                "@PJL ENTER LANGUAGE=PCL\n\x1b"
                "E" +
                kUel);
    EXPECT_EQ(r.log, "PCL[\x1b"
                     "E]");
    EXPECT_EQ(r.pages, 0);
    EXPECT_EQ(r.result, 0);
}

TEST(JobLevel, ResultsForNonJobsBrokenJobsAndNoise) {
    EXPECT_EQ(RunFake("").result, kResultNotPrintJob);
    EXPECT_EQ(RunFake(std::string(1000, '\0')).result, kResultNotPrintJob);
    FakeRun text = RunFake("Dear reader, this is a letter, not a print job.\n");
    EXPECT_EQ(text.result, kResultNotPrintJob);
    EXPECT_EQ(text.pages, 0);
    EXPECT_EQ(text.log, "");

    // A language we do not speak: no page, and not a success.
    FakeRun ps = RunFake(kUel + "@PJL ENTER LANGUAGE=POSTSCRIPT\n%!PS\nshowpage\n" + kUel);
    EXPECT_LT(ps.result, 0);
    EXPECT_EQ(ps.pages, 0);

    // The page in progress when a job breaks is written; later jobs still run.
    FakeRun broken = RunFake("\x1b"
                             "EPAGE BREAK" +
                             kUel +
                             "\x1b"
                             "EPAGE" +
                             kUel);
    EXPECT_EQ(broken.pages, 2);
    EXPECT_EQ(broken.result, kResultBroken);

    // Garbage after a good job.
    FakeRun noisy = RunFake(kUel +
                            "@PJL ENTER LANGUAGE=PCL\n\x1b"
                            "EPAGE" +
                            kUel + "\x01\x02garbage");
    EXPECT_EQ(noisy.pages, 1);
    EXPECT_EQ(noisy.result, kResultBroken);
}

// Where the page lands on the portrait A4 sheet: 72 dpi, so points = pixels.
struct Placement {
    int x0 = 1 << 30, y0 = 1 << 30, x1 = -1, y1 = -1;
};

Placement Place(const PageSetup& setup, double x, double y, double w, double h) {
    Placement p;
    JobOptions opt;
    opt.xdpi = opt.ydpi = 72;
    opt.widthPx = 595;
    opt.heightPx = 841;
    opt.onPage = [&](int, const PageRaster& r) {
        for (int yy = 0; yy < r.Height(); ++yy)
            for (int xx = 0; xx < r.Width(); ++xx)
                if (!r.At(xx, yy).IsWhite()) {
                    p.x0 = std::min(p.x0, xx);
                    p.y0 = std::min(p.y0, yy);
                    p.x1 = std::max(p.x1, xx + 1);
                    p.y1 = std::max(p.y1, yy + 1);
                }
    };
    JobContext job(opt);
    Device& dev = job.BeginPage(setup);
    Path r;
    r.Rectangle(x, y, x + w, y + h);
    dev.FillPath(r, {}, FillRule::NonZero, Paint::SolidColor(kBlack), {});
    job.EndPage();
    return p;
}

TEST(PagePlacement, OrientationsOnThePortraitSheet) {
    const PageSetup letter{612, 792, 0};
    Placement p = Place(letter, 0, 0, 20, 10);
    EXPECT_EQ(p.x0, 0);
    EXPECT_EQ(p.y0, 0);
    EXPECT_EQ(p.x1, 20);
    EXPECT_EQ(p.y1, 10);
    // Landscape: the page's top-left corner at the sheet's bottom-left of the
    // letter paper, its top edge along the sheet's left edge.
    p = Place({612, 792, 1}, 0, 0, 20, 10);
    EXPECT_EQ(p.x0, 0);
    EXPECT_EQ(p.x1, 10);
    EXPECT_EQ(p.y0, 792 - 20);
    EXPECT_EQ(p.y1, 792);
    // Paper narrower than A4, so that the right edge is on the sheet.
    p = Place({500, 700, 2}, 0, 0, 20, 10);
    EXPECT_EQ(p.x0, 500 - 20);
    EXPECT_EQ(p.x1, 500);
    EXPECT_EQ(p.y0, 700 - 10);
    EXPECT_EQ(p.y1, 700);
    p = Place({500, 700, 3}, 0, 0, 20, 10);
    EXPECT_EQ(p.x0, 500 - 10);
    EXPECT_EQ(p.x1, 500);
    EXPECT_EQ(p.y0, 0);
    EXPECT_EQ(p.y1, 20);
    // Beyond A4 is cut off.
    p = Place(letter, 590, 830, 100, 100);
    EXPECT_EQ(p.x1, 595);
    EXPECT_EQ(p.y1, 841);
}

TEST(PagePlacement, JobPaperSizesEachPageAsTheJobTurnedIt) {
    auto sizes = [](bool jobPaper, int dpi) {
        JobOptions options;
        options.xdpi = options.ydpi = dpi;
        options.widthPx = 595 * dpi / 72;
        options.heightPx = 842 * dpi / 72;
        options.jobPaper = jobPaper;
        std::vector<std::string> seen;
        options.onPage = [&](int, const PageRaster& r) {
            seen.push_back(std::to_string(r.Width()) + "x" + std::to_string(r.Height()));
        };
        JobContext job(options);
        for (PageSetup page : {PageSetup{612, 792, 1}, PageSetup{612, 1008, 0},
                               PageSetup{2384, 3370, 0}, PageSetup{3370, 4768, 0}}) {
            job.BeginPage(page);
            job.EndPage();
        }
        return seen;
    };
    EXPECT_EQ(sizes(false, 72),
              (std::vector<std::string>{"595x842", "595x842", "595x842", "595x842"}));
    // Landscape letter, portrait legal, A0; a page past sixteen sheets keeps the sheet.
    EXPECT_EQ(sizes(true, 150),
              (std::vector<std::string>{"1650x1275", "1275x2100", "4967x7021", "1239x1754"}));
}

TEST(PageFiles, OnlyTheLastNumberSlotIsReplaced) {
    EXPECT_EQ(JobContext::PageFileName("/tmp/out/report_%03d.bmp", 1), "/tmp/out/report_001.bmp");
    EXPECT_EQ(JobContext::PageFileName("/tmp/100%/a%d_%03d.bmp", 12), "/tmp/100%/a%d_012.bmp");
    EXPECT_EQ(JobContext::PageFileName("/t/%03d/x_%03d.bmp", 1234), "/t/%03d/x_1234.bmp");
    EXPECT_EQ(JobContext::PageFileName("/t/%%03d.bmp", 7), "/t/%007.bmp");
    // Without a slot no page overwrites another.
    EXPECT_EQ(JobContext::PageFileName("/t/page.bmp", 1), "/t/page.bmp");
    EXPECT_EQ(JobContext::PageFileName("/t/page.bmp", 2), "/t/page_002.bmp");
}

TEST(JobContextLimits, PagesAndOperationsAreBounded) {
    JobOptions opt;
    opt.limits.maxPages = 3;
    int written = 0;
    opt.onPage = [&](int, const PageRaster&) { ++written; };
    JobContext job(opt);
    bool more = true;
    for (int i = 0; i < 10 && more; ++i) {
        job.BeginPage({});
        more = job.EndPage();
    }
    EXPECT_EQ(written, 3);
    EXPECT_TRUE(job.Stopped());
    // Even an interpreter that carries on gets no further page.
    job.BeginPage({});
    EXPECT_FALSE(job.EndPage());
    EXPECT_EQ(written, 3);

    JobOptions small;
    small.limits.maxOperations = 100;
    JobContext ops(small);
    int n = 0;
    while (ops.Tick() && n < 1000) ++n;
    EXPECT_EQ(n, 100);
    EXPECT_TRUE(ops.Stopped());
}

TEST(TraceOutput, ShowsWhatAPageDrew) {
    std::ostringstream out;
    JobOptions opt;
    opt.trace = &out;
    JobContext job(opt);
    Device& dev = job.BeginPage({612, 792, 1});
    Path p;
    p.MoveTo(1, 2);
    p.LineTo(3.25, 4);
    p.Close();
    dev.FillPath(p, Matrix::Translate(10, 0), FillRule::EvenOdd, Paint::SolidColor({1, 2, 3}),
                 {240, true, false});
    StrokeStyle s;
    s.width = 2;
    s.dash = {3, 1};
    dev.StrokePath(p, {}, s, Paint::Null(), {});
    dev.PushClip();
    dev.PopClip();
    job.EndPage();
    EXPECT_EQ(out.str(), "BeginPage 1 792x612 orientation=1\n"
                         "FillPath evenodd solid(1,2,3) rop=240 st M 11 2 L 13.25 4 Z\n"
                         "StrokePath w=2 cap=butt join=miter miter=10 dash=3,1@0 [1 0 0 1 0 0] "
                         "none rop=252 M 1 2 L 3.25 4 Z\n"
                         "PushClip\nPopClip\nEndPage 1\n");
}

} // namespace
