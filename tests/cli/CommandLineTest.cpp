#include "CommandLine.h"
#include "Inputs.h"
#include "JobTestSupport.h"

#include <gtest/gtest.h>

#include <climits>
#include <map>
#include <sstream>
#include <sys/stat.h>

using namespace varnel;
using namespace testing_support;

namespace {

bool Parse(std::vector<std::string> args, CommandLine* out, std::string* error = nullptr) {
    std::string e;
    bool ok = ParseCommandLine(args, out, &e);
    if (error) *error = e;
    return ok;
}

TEST(CommandLineTest, OptionsOverrideTheProfileForThisRun) {
    CommandLine o;
    ASSERT_TRUE(Parse({"-f",
                       "gif",
                       "-c",
                       "b&w",
                       "-r",
                       "300x150",
                       "--resize=800x600",
                       "--rotate",
                       "90",
                       "--each",
                       "--multipage",
                       "--compression",
                       "fax4",
                       "-q",
                       "40",
                       "-o",
                       "/out",
                       "a.pcl",
                       "--",
                       "-b.pcl"},
                      &o));
    EXPECT_EQ(o.inputs, (std::vector<std::string>{"a.pcl", "-b.pcl"}));
    WindowSettings w;
    ConvertSettings s;
    EXPECT_EQ(ApplyOptions(o, &w, &s), "");
    EXPECT_EQ(w.type, 4);
    EXPECT_EQ(w.mode, 1);
    EXPECT_EQ(w.output, "/out/");
    EXPECT_EQ(s.gifc, "B&W");
    EXPECT_EQ(s.jpgc, "True Color");
    EXPECT_EQ(s.xdpi, 300);
    EXPECT_EQ(s.ydpi, 150);
    EXPECT_EQ(s.resize, 1);
    EXPECT_EQ(s.width, 800);
    EXPECT_EQ(s.height, 600);
    EXPECT_EQ(s.angle, 90);
    EXPECT_EQ(s.each, 1);
    EXPECT_EQ(s.multpage, 1);
    EXPECT_EQ(s.compress, 6);
    EXPECT_EQ(s.JQu, 40);
    EXPECT_EQ(s.TJQu, 40);
}

TEST(CommandLineTest, OptionsLeaveUnnamedSettingsAlone) {
    CommandLine o;
    ASSERT_TRUE(Parse(
        {"--beside-source", "--no-resize", "--no-each", "--no-multipage", "--dpi=600", "x.pcl"},
        &o));
    WindowSettings w;
    w.output = "/kept/";
    ConvertSettings s;
    s.resize = 1;
    s.each = 1;
    s.multpage = 1;
    s.JQu = 12;
    ApplyOptions(o, &w, &s);
    EXPECT_EQ(w.mode, 0);
    EXPECT_EQ(w.output, "/kept/");
    EXPECT_EQ(s.resize, 0);
    EXPECT_EQ(s.each, 0);
    EXPECT_EQ(s.multpage, 0);
    EXPECT_EQ(s.xdpi, 600);
    EXPECT_EQ(s.JQu, 12);
}

TEST(CommandLineTest, ColourModeGoesToTheChosenFormatOrIsReported) {
    for (auto [format, field] : std::vector<std::pair<std::string, std::string ConvertSettings::*>>{
             {"jpg", &ConvertSettings::jpgc},
             {"tif", &ConvertSettings::tifc},
             {"bmp", &ConvertSettings::bmpc},
             {"png", &ConvertSettings::pngc},
             {"pcx", &ConvertSettings::pcxc},
             {"tga", &ConvertSettings::tgac},
             {"jp2", &ConvertSettings::jp2c},
             {"jpc", &ConvertSettings::jpcc},
             {"ras", &ConvertSettings::rasc}}) {
        CommandLine o;
        ASSERT_TRUE(Parse({"-f" + format, "--color=16 grays", "a.pcl"}, &o));
        WindowSettings w;
        ConvertSettings s;
        ApplyOptions(o, &w, &s);
        EXPECT_EQ(s.*field, "16 Grays") << format;
    }
    CommandLine o;
    ASSERT_TRUE(Parse({"-f", "emf", "-c", "256 Color", "a.pcl"}, &o));
    WindowSettings w;
    ConvertSettings s;
    EXPECT_NE(ApplyOptions(o, &w, &s), "");
    EXPECT_EQ(w.type, 7);
}

TEST(CommandLineTest, UsageErrorsAreReported) {
    const std::vector<std::vector<std::string>> bad = {
        {},
        {"--quiet"},
        {"--bogus", "a.pcl"},
        {"-f", "webp", "a.pcl"},
        {"-f"},
        {"-c", "Sepia", "a.pcl"},
        {"-r", "abc", "a.pcl"},
        {"-r", "300x", "a.pcl"},
        {"--resize", "800", "a.pcl"},
        {"--resize", "0x600", "a.pcl"},
        {"--rotate", "45", "a.pcl"},
        {"--compression", "zip", "a.pcl"},
        {"-q", "0", "a.pcl"},
        {"-q", "101", "a.pcl"},
        {"-o", "", "a.pcl"},
        {"--each=1", "a.pcl"},
        {"--quiet", "--verbose", "a.pcl"},
        {"-r", "50", "a.pcl"},
        {"--dpi=300x1200", "a.pcl"},
        {"--shard", "0/0", "a.pcl"},
        {"--shard", "5/3", "a.pcl"},
        {"--shard", "1", "a.pcl"},
        {"--pages", "3-1", "a.pcl"},
        {"--pages", "x", "a.pcl"},
        {"--pages", "0", "a.pcl"},
        {"--pages", "1,,2", "a.pcl"},
        {"-j", "0", "a.pcl"},
        {"--max-memory", "10", "a.pcl"},
        {"--paper", "a3", "a.pcl"},
        {"--watch", "d", "a.pcl"},
        {"--profile", "p.ini", "--use-desktop-profile", "a.pcl"},
    };
    for (const auto& args : bad) {
        CommandLine o;
        std::string error;
        EXPECT_FALSE(Parse(args, &o, &error)) << ::testing::PrintToString(args);
        EXPECT_FALSE(error.empty());
    }
    CommandLine help, version;
    EXPECT_TRUE(Parse({"--help"}, &help));
    EXPECT_TRUE(help.help);
    EXPECT_TRUE(Parse({"--version"}, &version));
    EXPECT_TRUE(version.version);
}

TEST(CommandLineTest, RangesAreNamedAndImpossiblePairsRefused) {
    std::vector<std::pair<int, int>> pages;
    ASSERT_TRUE(ParsePageRanges("1-3,7,9-", &pages));
    EXPECT_EQ(pages, (std::vector<std::pair<int, int>>{{1, 3}, {7, 7}, {9, INT_MAX}}));
    CommandLine o;
    std::string error;
    EXPECT_FALSE(Parse({"-r", "1200", "a.pcl"}, &o, &error));
    EXPECT_NE(error.find("72 to 600"), std::string::npos) << error;

    ConvertSettings s;
    s.tifc = "True Color";
    s.compress = 6; // fax4
    EXPECT_EQ(CheckCompression(1, s),
              "TIFF compression fax4 cannot hold the colour mode 'True Color'; it works with: B&W");
    EXPECT_EQ(CheckCompression(3, s), ""); // no TIFF
    s.tifc = "B&W";
    EXPECT_EQ(CheckCompression(1, s), "");
    s.compress = 3; // jpeg
    EXPECT_NE(CheckCompression(1, s).find("True Color, 256 Grays"), std::string::npos);
    s.tifc = "256 Grays";
    EXPECT_EQ(CheckCompression(1, s), "");
}

TEST(CommandLineTest, InputsAreJudgedByContentFoldersByNameAndEachIsTakenOnce) {
    TempDir tmp;
    const std::string xl = ") HP-PCL XL;2;0\r\n";
    WriteText(tmp / "job.prn", "\x1b%-12345X@PJL ENTER LANGUAGE=PCL\r\n");
    WriteText(tmp / "plot.bin", "IN;SP1;PU0,0;PD100,100;");
    WriteText(tmp / "xl.dat", xl);
    // Padding in front, longer than one read, as some drivers write.
    WriteText(tmp / "esc.txt", std::string(9000, '\0') + "\x1b" + "E\x1b&l26A");
    WriteText(tmp / "prose.txt", "IN the beginning");
    WriteText(tmp / "empty.pcl", "");
    ::mkdir((tmp / "dir").c_str(), 0700);
    WriteText(tmp / "dir/b.PCL5", "x");
    WriteText(tmp / "dir/a.hpgl", "x");
    WriteText(tmp / "dir/notes.txt", "x");
    ::mkdir((tmp / "dir/sub").c_str(), 0700);
    WriteText(tmp / "dir/sub/inner.pclxl", "x");
    ::symlink((tmp / "job.prn").c_str(), (tmp / "link.pcl").c_str());
    WriteText(tmp / "list", tmp / "xl.dat\n" + tmp / "gone.pcl\n\n" + tmp / "dir\n");

    InputList plain = GatherInputList(
        {tmp / "job.prn", tmp / "plot.bin", tmp / "xl.dat", tmp / "esc.txt", tmp / "prose.txt",
         tmp / "empty.pcl", tmp / "missing.pcl", tmp / "dir", tmp / "link.pcl", tmp / "job.prn"},
        {});
    EXPECT_EQ(plain.files,
              (std::vector<std::string>{tmp / "job.prn", tmp / "plot.bin", tmp / "xl.dat",
                                        tmp / "esc.txt", tmp / "dir/a.hpgl", tmp / "dir/b.PCL5"}));
    EXPECT_EQ(plain.duplicates, (std::vector<std::string>{tmp / "link.pcl", tmp / "job.prn"}));
    std::map<std::string, std::string> why;
    for (const Rejected& r : plain.rejected) why[r.path] = r.reason;
    EXPECT_EQ(why.size(), 3u);
    EXPECT_NE(why[tmp / "prose.txt"].find("not a print job"), std::string::npos);
    EXPECT_EQ(why[tmp / "empty.pcl"], "empty file");
    EXPECT_EQ(why[tmp / "missing.pcl"], "no such file");

    InputRules rules;
    rules.recursive = true;
    rules.listFiles = {tmp / "list", tmp / "no-list"};
    InputList listed = GatherInputList({}, rules);
    EXPECT_EQ(listed.files,
              (std::vector<std::string>{tmp / "xl.dat", tmp / "dir/a.hpgl", tmp / "dir/b.PCL5",
                                        tmp / "dir/sub/inner.pclxl"}));
    ASSERT_EQ(listed.rejected.size(), 2u);
    EXPECT_EQ(listed.rejected[0].path, tmp / "no-list");
    EXPECT_EQ(listed.rejected[1].path, tmp / "gone.pcl");
}

TEST(BatchReportTest, RowsComeInInputOrderAndFailuresAreNeverSilent) {
    auto result = [](const std::string& in, const std::string& status, const std::string& reason) {
        FileResult r;
        r.input = in;
        r.status = status;
        r.reason = reason;
        return r;
    };
    std::ostringstream out, err;
    BatchReport report({"a.pcl", "b\nc.pcl"}, out, err, ReportStyle{});
    FileResult b = result("b\nc.pcl", "Succeed", "");
    b.warnings = {"font X replaced"};
    b.outputs = {"b.png"};
    report.Finished(1, b);
    EXPECT_EQ(out.str(), ""); // waits for a.pcl
    EXPECT_EQ(report.ExitStatus(), 1);
    report.Finished(0, result("a.pcl", "Succeed", ""));
    EXPECT_EQ(out.str(), "a.pcl: Succeed\nb\\nc.pcl: Succeed with 1 warning -> b.png\n"
                         "  warning: font X replaced\n");
    EXPECT_EQ(report.ExitStatus(), 0);

    std::ostringstream qout, qerr;
    ReportStyle quiet;
    quiet.quiet = true;
    quiet.progress = true;
    BatchReport q({"a.pcl", "b.pcl"}, qout, qerr, quiet);
    q.Finished(0, result("a.pcl", "Failed", "the renderer crashed (SIGSEGV)"));
    q.Finished(1, result("b.pcl", "Succeed", ""));
    q.Summary(1);
    EXPECT_EQ(qout.str(), "");
    EXPECT_EQ(qerr.str(), "a.pcl: Failed: the renderer crashed (SIGSEGV)\n");
    EXPECT_EQ(q.ExitStatus(), 1);
}

} // namespace

namespace {

TEST(BatchReportTest, TheTimeLeftFollowsPagesNotFiles) {
    // A 10 kB file of one page is done; a 600 kB file has rendered 30 pages.
    FileHeadway small{10'000, 1, 1, 1, true};
    FileHeadway large{600'000, 30, 0, -1, false};
    EXPECT_FALSE(BatchHeadway({large}).known); // no count to go by yet
    Headway h = BatchHeadway({small, large});
    EXPECT_TRUE(h.known);
    EXPECT_EQ(h.pages, 31);
    // The large one is expected to hold 60 pages, by size: a quarter is done.
    EXPECT_DOUBLE_EQ(h.done, 2 + 30);
    EXPECT_DOUBLE_EQ(h.total, 2 + 120);
    // Rendered, with 40 selected pages, 10 of them converted.
    large.rendered = 60;
    large.pages = 40;
    large.converted = 10;
    h = BatchHeadway({small, large, FileHeadway{20'000, 0, 0, -1, false}});
    EXPECT_DOUBLE_EQ(h.done, 2 + 60 + 10);
    EXPECT_DOUBLE_EQ(h.total, 2 + 100 + 2 * (20'000 * 61.0 / 610'000));
}

} // namespace
