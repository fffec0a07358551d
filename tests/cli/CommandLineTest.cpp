#include "CommandLine.h"
#include "JobTestSupport.h"

#include <gtest/gtest.h>

#include <sstream>

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
        {"--beside-source", "--no-resize", "--no-each", "--no-multipage", "--dpi=1200", "x.pcl"},
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
    EXPECT_EQ(s.xdpi, 600); // limited as the profile is
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

TEST(CommandLineTest, InputsKeepOrderRepeatsAndSkipOthersWithAMessage) {
    TempDir tmp;
    WriteText(tmp / "b.pcl", "x");
    ::mkdir((tmp / "dir").c_str(), 0700);
    WriteText(tmp / "dir/report.PCL", "x");
    WriteText(tmp / "dir/notes.txt", "x");
    ::mkdir((tmp / "dir/sub").c_str(), 0700);
    WriteText(tmp / "dir/sub/inner.pcl", "x");
    std::ostringstream err;
    std::vector<std::string> in =
        GatherInputs({tmp / "b.pcl", tmp / "dir", tmp / "missing.pcl", tmp / "b.pcl"}, err);
    EXPECT_EQ(in, (std::vector<std::string>{tmp / "b.pcl", tmp / "dir/report.PCL", tmp / "b.pcl"}));
    EXPECT_NE(err.str().find("notes.txt"), std::string::npos);
    EXPECT_NE(err.str().find("missing.pcl"), std::string::npos);
    EXPECT_EQ(err.str().find("inner.pcl"), std::string::npos);
}

TEST(ConsoleViewTest, PrintsFinalStatusesAndJudgesTheRun) {
    std::ostringstream out, err;
    ConsoleView view({"a.pcl", "b.pcl"}, out, err, false, false, true);
    view.SetProgress(50);
    view.SetRowStatus(0, "Converting.");
    view.SetRowStatus(0, "Succeed");
    EXPECT_EQ(out.str(), "a.pcl: Succeed\n");
    EXPECT_NE(err.str().find("50%"), std::string::npos);
    EXPECT_EQ(view.ExitStatus(), 1); // b.pcl was never reached
    view.SetRowStatus(1, "Succeed");
    EXPECT_EQ(view.ExitStatus(), 0);

    std::ostringstream vout, verr;
    ConsoleView verbose({"a.pcl"}, vout, verr, false, true, false);
    verbose.SetRowStatus(0, "Converting.");
    verbose.SetRowStatus(0, "Failed");
    EXPECT_EQ(vout.str(), "a.pcl: Converting.\na.pcl: Failed\n");
    EXPECT_EQ(verr.str(), "");
    EXPECT_EQ(verbose.ExitStatus(), 1);
    EXPECT_EQ(verbose.StatusPauseMs(), 0);

    std::ostringstream qout, qerr;
    ConsoleView quiet({"a.pcl"}, qout, qerr, true, false, true);
    quiet.SetProgress(100);
    quiet.SetRowStatus(0, "Aborted");
    EXPECT_EQ(qout.str() + qerr.str(), "");
}

} // namespace
