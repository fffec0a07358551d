#include "Runner.h"
#include "ImgConv.h"
#include "JobTestSupport.h"
#include "Renderer.h"

#include <gtest/gtest.h>

#include <cstdlib>

using namespace varnel;
using namespace testing_support;

namespace {

class RunnerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(tmp.path().empty());
        ::mkdir(pages.c_str(), 0700);
        ::mkdir(src.c_str(), 0700);
        ::setenv("TMPDIR", pages.c_str(), 1);
        ::unsetenv("TARVIK_TEST_NEW_RESULT");
        ::unsetenv("TARVIK_TEST_LOG");
        ASSERT_TRUE(renderer.LoadRenderer(FakeRendererPath().c_str()));
        RecordingConverter::Reset();
    }
    void TearDown() override {
        ::unsetenv("TMPDIR");
        ::unsetenv("TARVIK_TEST_NEW_RESULT");
        // No run may leave a page folder behind.
        EXPECT_TRUE(ListFolder(pages).empty());
    }

    // An input file for the stand-in renderer.
    std::string Input(const std::string& name, const std::string& script) {
        std::string path = src + name;
        WriteText(path, script);
        return path;
    }

    // Runs on a worker thread as the Start button does, and waits for the end.
    void Run(RecordingView& view, int formatIndex, int mode = 1) {
        runner = std::make_unique<Runner>(view, renderer, RecordingConverter::Api());
        runner->StartStop(formatIndex, mode, settings, out);
        runner->Wait();
        EXPECT_EQ(runner->IsRunning(), 0);
        EXPECT_EQ(runner->IsStopping(), 0);
    }

    void PressStop() { runner->StartStop(0, 1, settings, out); }

    std::vector<RecordedHandle>& handles() { return RecordingConverter::Handles(); }

    TempDir tmp;
    std::string pages = tmp / "tmp";
    std::string src = tmp / "src/";
    std::string out = tmp / "out/";
    Renderer renderer;
    ConvertSettings settings;
    std::unique_ptr<Runner> runner;
};

constexpr int kJpeg = 0, kTiff = 1, kPng = 3;

TEST_F(RunnerTest, ThreeRowsWalkThroughEveryStatusAndProgressStep) {
    RecordingView view(
        {Input("a.pcl", "pages 1"), Input("b.PCL", "pages 1"), Input("c.pxl", "pages 1")});
    Run(view, kJpeg);

    std::vector<std::string> expected = {"button Stop Converting running", "disable",
                                         "label Selected: 1"};
    const int progress[] = {33, 66, 100};
    for (int k = 0; k < 3; ++k) {
        std::string r = std::to_string(k);
        for (std::string c : {"select " + r, "progress " + std::to_string(progress[k]),
                              "status " + r + " Converting.", "status " + r + " Converting..",
                              "status " + r + " Converting...", "status " + r + " Succeed"})
            expected.push_back(c);
    }
    for (std::string c : {"button Start Converting idle", "enable", "select 0"})
        expected.push_back(c);
    EXPECT_EQ(view.calls, expected);
    EXPECT_TRUE(Exists(out + "a.jpg"));
    EXPECT_TRUE(Exists(out + "b.jpg"));
    EXPECT_TRUE(Exists(out + "c.jpg"));
}

TEST_F(RunnerTest, EmptyListAndSingleRow) {
    RecordingView empty({});
    Run(empty, kJpeg);
    EXPECT_EQ(empty.calls, (std::vector<std::string>{
                               "button Stop Converting running", "disable", "label Selected: 1",
                               "button Start Converting idle", "enable", "select 0"}));

    RecordingView one({Input("a.pcl", "pages 1")});
    Run(one, kJpeg);
    EXPECT_EQ(one.Calls("progress"), std::vector<std::string>{"progress 100"});
}

TEST_F(RunnerTest, SinglePageIsNamedAfterTheInput) {
    RecordingView view({Input("my.report.v2.pcl", "pages 1")});
    Run(view, kPng);
    ASSERT_EQ(handles().size(), 1u);
    const RecordedHandle& h = handles()[0];
    EXPECT_EQ(h.outputPath, out + "my.report.v2.png");
    EXPECT_TRUE(h.multiPagePath.empty());
    ASSERT_EQ(h.inputs.size(), 1u);
    EXPECT_EQ(h.inputs[0].substr(h.inputs[0].rfind('/') + 1), "my.report.v2_001.bmp");
    EXPECT_TRUE(h.ran && h.destroyed);
}

TEST_F(RunnerTest, SeveralPagesGiveOneFilePerPageInTheSourceSubfolder) {
    settings.each = 1;
    RecordingView view({Input("report.pcl", "pages 3")});
    Run(view, kPng, /*mode=*/0);
    ASSERT_EQ(handles().size(), 3u);
    std::vector<std::string> outputs;
    for (const RecordedHandle& h : handles()) {
        outputs.push_back(h.outputPath);
        EXPECT_EQ(h.inputs.size(), 1u);
        EXPECT_TRUE(h.ran && h.destroyed);
    }
    std::sort(outputs.begin(), outputs.end());
    EXPECT_EQ(outputs, (std::vector<std::string>{src + "report/report_001.png",
                                                 src + "report/report_002.png",
                                                 src + "report/report_003.png"}));
    EXPECT_EQ(ListFolder(src + "report"),
              (std::vector<std::string>{"report_001.png", "report_002.png", "report_003.png"}));
    EXPECT_EQ(view.FinalStatuses()[0], "Succeed");
}

TEST_F(RunnerTest, TiffWithoutMergingWritesFivePages) {
    settings.multpage = 0;
    RecordingView view({Input("r.pcl", "pages 5")});
    Run(view, kTiff);
    ASSERT_EQ(handles().size(), 5u);
    EXPECT_EQ(ListFolder(out), (std::vector<std::string>{"r_001.tif", "r_002.tif", "r_003.tif",
                                                         "r_004.tif", "r_005.tif"}));
}

TEST_F(RunnerTest, MergedTiffUsesTheMultipagePathEvenForOnePage) {
    settings.multpage = 1;
    settings.each = 1;
    out = tmp / "deep/er/out/"; // every missing folder is made
    RecordingView view({Input("one.pcl", "pages 1"), Input("three.pcl", "pages 3")});
    Run(view, kTiff);
    ASSERT_EQ(handles().size(), 2u);
    EXPECT_EQ(handles()[0].multiPagePath, out + "one/one.tif");
    EXPECT_TRUE(handles()[0].outputPath.empty());
    EXPECT_EQ(handles()[1].multiPagePath, out + "three/three.tif");
    // Pages go in by number, 1 to c.
    const std::vector<std::string>& in = handles()[1].inputs;
    ASSERT_EQ(in.size(), 3u);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(in[i].substr(in[i].rfind('/') + 1), "three_00" + std::to_string(i + 1) + ".bmp");
    // OPT_MULTIPAGE comes before the settings.
    ASSERT_FALSE(handles()[1].options.empty());
    EXPECT_EQ(handles()[1].options[0], std::make_pair(int(OPT_MULTIPAGE), 1));
    EXPECT_TRUE(Exists(out + "three/three.tif"));
}

TEST_F(RunnerTest, TheSameFileTwiceIsConvertedTwice) {
    std::string p = Input("twice.pcl", "pages 1");
    RecordingView view({p, p});
    Run(view, kJpeg);
    ASSERT_EQ(handles().size(), 2u);
    EXPECT_EQ(handles()[0].outputPath, handles()[1].outputPath);
    EXPECT_EQ(view.FinalStatuses(), (std::vector<std::string>{"Succeed", "Succeed"}));
}

TEST_F(RunnerTest, RowsThatCannotBeConvertedFailAndTheRunGoesOn) {
    RecordingView view({Input("none.pcl", "pages 0"),          // renders nothing
                        src + "missing.pcl",                   // cannot be opened
                        Input("broken.pcl", "pages 2 run -3"), // broke after two pages
                        Input("fine.pcl", "pages 1")});
    Run(view, kJpeg);
    // A job that broke is not a success, but the pages it made are kept, and
    // under their page numbers: one page of a broken job is not a whole job.
    EXPECT_EQ(view.FinalStatuses(),
              (std::vector<std::string>{"Failed", "Failed", "Failed", "Succeed"}));
    // A row without pages never reaches "Converting...".
    EXPECT_EQ(view.Calls("status 0 Converting...").size(), 0u);
    EXPECT_EQ(handles().size(), 3u);
    ASSERT_EQ(view.reports.size(), 4u);
    EXPECT_EQ(view.reports[2].pagesRendered, 2);
    EXPECT_NE(view.reports[2].reason.find("2 page(s) written"), std::string::npos)
        << view.reports[2].reason;
    EXPECT_EQ(view.reports[2].outputs,
              (std::vector<std::string>{out + "broken_001.jpg", out + "broken_002.jpg"}));
    EXPECT_EQ(view.reports[3].status, "Succeed");
    EXPECT_EQ(view.reports[3].reason, "");
    EXPECT_EQ(view.reports[3].outputs, std::vector<std::string>{out + "fine.jpg"});
    EXPECT_EQ(view.pageProgress, (std::vector<std::string>{"2 1/2", "2 2/2", "3 1/1"}));
}

TEST_F(RunnerTest, ARendererThatWillNotStartFailsEveryRow) {
    ::setenv("TARVIK_TEST_NEW_RESULT", "-1", 1);
    RecordingView view({Input("a.pcl", "pages 2"), Input("b.pcl", "pages 2")});
    Run(view, kJpeg);
    EXPECT_EQ(view.FinalStatuses(), (std::vector<std::string>{"Failed", "Failed"}));
    EXPECT_TRUE(handles().empty());
}

TEST_F(RunnerTest, OutputsThatCannotBeWrittenMakeTheRowFail) {
    // A folder below a regular file can never be made, not even by root.
    WriteText(tmp / "plain", "x");
    out = tmp / "plain/out/";
    RecordingView view({Input("a.pcl", "pages 1"), Input("b.pcl", "pages 3")});
    Run(view, kPng);
    EXPECT_EQ(view.FinalStatuses(), (std::vector<std::string>{"Failed", "Failed"}));
    // Found before rendering: nothing was rendered or converted in vain.
    EXPECT_TRUE(handles().empty());
    ASSERT_EQ(view.reports.size(), 2u);
    EXPECT_NE(view.reports[1].reason.find("is not a folder"), std::string::npos);
}

TEST_F(RunnerTest, AHandleThatCannotBeCreatedIsSkippedAndStillDestroyed) {
    RecordingConverter::NextCreateResult() = -4;
    RecordingView view({Input("a.pcl", "pages 1")});
    Run(view, kJpeg);
    EXPECT_EQ(view.FinalStatuses()[0], "Failed");
    EXPECT_EQ(RecordingConverter::DestroyedHandles(), std::vector<int>{-4});
}

TEST_F(RunnerTest, EveryFileOfThePageFolderIsAPageAndIsCleanedUp) {
    RecordingView view({Input("a.pcl", "pages 1 extra notes.txt")});
    Run(view, kJpeg);
    EXPECT_EQ(handles().size(), 2u); // case C: the stray file counts
    EXPECT_EQ(view.FinalStatuses()[0], "Succeed");
}

// --- stop requests, at each point where the worker looks -----------------

TEST_F(RunnerTest, StopAfterARowEndsTheRunBeforeTheNext) {
    RecordingView view({Input("a.pcl", "pages 1"), Input("b.pcl", "pages 1")});
    view.onStatus = [&](int row, const std::string& s) {
        if (row == 0 && s == "Succeed") PressStop();
    };
    Run(view, kJpeg);
    EXPECT_EQ(view.FinalStatuses(), (std::vector<std::string>{"Succeed", ""}));
    EXPECT_EQ(view.Calls("select 1").size(), 0u);
    EXPECT_EQ(view.calls.back(), "select 0");
}

TEST_F(RunnerTest, StopDuringRenderingAbortsTheRowAndDropsItsPages) {
    RecordingView view(
        {Input("a.pcl", "pages 1"), Input("b.pcl", "pages 4"), Input("c.pcl", "pages 1")});
    view.onStatus = [&](int row, const std::string& s) {
        if (row == 1 && s == "Converting..") PressStop(); // the render still runs
    };
    Run(view, kJpeg);
    EXPECT_EQ(view.FinalStatuses(), (std::vector<std::string>{"Succeed", "Aborted", ""}));
    EXPECT_EQ(handles().size(), 1u);
}

TEST_F(RunnerTest, StopBetweenPagesAbortsAfterTheCurrentPage) {
    RecordingView view({Input("a.pcl", "pages 3"), Input("b.pcl", "pages 1")});
    RecordingConverter::OnRun() = [&](int run) {
        if (run == 1) PressStop();
    };
    Run(view, kPng);
    EXPECT_EQ(view.FinalStatuses(), (std::vector<std::string>{"Aborted", ""}));
    ASSERT_EQ(handles().size(), 1u);
    EXPECT_TRUE(handles()[0].ran && handles()[0].destroyed);
}

TEST_F(RunnerTest, StopWhileMergingPagesSkipsTheRun) {
    settings.multpage = 1;
    RecordingView view({Input("a.pcl", "pages 3")});
    RecordingConverter::OnAdd() = [&](int add) {
        if (add == 1) PressStop();
    };
    Run(view, kTiff);
    EXPECT_EQ(view.FinalStatuses()[0], "Aborted");
    ASSERT_EQ(handles().size(), 1u);
    EXPECT_EQ(handles()[0].inputs.size(), 1u);
    EXPECT_FALSE(handles()[0].ran);
    EXPECT_TRUE(handles()[0].destroyed);
    // Aborted is written once, not again at the final check.
    EXPECT_EQ(view.Calls("status 0 Aborted").size(), 1u);
}

TEST_F(RunnerTest, StopSeenOnlyAtTheFinalCheckShowsAborted) {
    RecordingView view({Input("a.pcl", "pages 1"), Input("b.pcl", "pages 1")});
    RecordingConverter::OnRun() = [&](int) { PressStop(); };
    Run(view, kJpeg);
    EXPECT_EQ(view.FinalStatuses(), (std::vector<std::string>{"Aborted", ""}));
}

TEST_F(RunnerTest, ALaterRunStartsAgainFromEveryRow) {
    RecordingView view({Input("a.pcl", "pages 1"), Input("b.pcl", "pages 1")});
    view.onStatus = [&](int row, const std::string& s) {
        if (row == 0 && s == "Succeed") PressStop();
    };
    Run(view, kJpeg);
    view.onStatus = nullptr;
    view.calls.clear();
    runner->StartStop(kJpeg, 1, settings, out); // the same runner, once more
    runner->Wait();
    EXPECT_EQ(view.FinalStatuses(), (std::vector<std::string>{"Succeed", "Succeed"}));
}

// --- options handed to the converter ---------------------------------------

using Options = std::vector<std::pair<int, int>>;

class OptionsTest : public RunnerTest {
protected:
    Options Apply(int code) {
        RecordingView view({});
        Runner r(view, renderer, RecordingConverter::Api());
        r.Configure(0, 1, settings, out);
        RecordingConverter::Reset();
        int h = RecordingConverter::Api().Create();
        r.ApplyConverterOptions(h, code);
        return handles().at(0).options;
    }
};

TEST_F(OptionsTest, BaseOptionsComeInOrderAndOnlyWhenSet) {
    settings.xdpi = 300;
    settings.ydpi = 150;
    EXPECT_EQ(Apply(FMT_BMP),
              (Options{{OPT_XDPI, 300}, {OPT_YDPI, 150}, {OPT_FORMAT, 1}, {OPT_BPP, 24}}));
    settings.resize = 1;
    settings.width = 640;
    settings.height = 480;
    settings.angle = 270;
    EXPECT_EQ(Apply(FMT_BMP), (Options{{OPT_WIDTH, 640},
                                       {OPT_HEIGHT, 480},
                                       {OPT_ROTATE, 270},
                                       {OPT_XDPI, 300},
                                       {OPT_YDPI, 150},
                                       {OPT_FORMAT, 1},
                                       {OPT_BPP, 24}}));
}

TEST_F(OptionsTest, EachFormatUsesItsOwnColourModeAndExtras) {
    // Give every format a different mode so a wrong key shows.
    settings.bmpc = "B&W";
    settings.jpgc = "256 Grays";
    settings.pngc = "16 Color";
    settings.gifc = "256 Color";
    settings.tifc = "16 Grays";
    settings.pcxc = "b&w";
    settings.tgac = "256 grays";
    settings.jp2c = "16 COLOR";
    settings.rasc = "Sepia";
    settings.jpcc = "";
    settings.JQu = 40;
    settings.TJQu = 60;
    settings.compress = 1;
    const Options head = {{OPT_XDPI, 72}, {OPT_YDPI, 72}};
    auto with = [&](int code, Options tail) {
        Options o = head;
        o.emplace_back(OPT_FORMAT, code);
        o.insert(o.end(), tail.begin(), tail.end());
        return o;
    };
    EXPECT_EQ(Apply(FMT_BMP), with(1, {{OPT_BPP, 1}}));
    EXPECT_EQ(Apply(FMT_EMF), with(2, {{OPT_BPP, 24}}));
    EXPECT_EQ(Apply(FMT_WMF), with(3, {{OPT_BPP, 24}}));
    EXPECT_EQ(Apply(FMT_JPEG), with(4, {{OPT_QUALITY, 40}, {OPT_GRAY, 1}, {OPT_BPP, 8}}));
    EXPECT_EQ(Apply(FMT_PNG), with(5, {{OPT_BPP, 4}}));
    EXPECT_EQ(Apply(FMT_GIF), with(6, {{OPT_BPP, 8}}));
    EXPECT_EQ(Apply(FMT_TIFF),
              with(7, {{OPT_TIFF_COMPRESSION, 1}, {OPT_QUALITY, 60}, {OPT_GRAY, 1}, {OPT_BPP, 4}}));
    EXPECT_EQ(Apply(FMT_PCX), with(8, {{OPT_BPP, 1}}));
    EXPECT_EQ(Apply(FMT_TGA), with(9, {{OPT_GRAY, 1}, {OPT_BPP, 8}}));
    EXPECT_EQ(Apply(FMT_JP2), with(10, {{OPT_BPP, 4}}));
    EXPECT_EQ(Apply(FMT_RAS), with(11, {{OPT_BPP, 24}}));
    EXPECT_EQ(Apply(FMT_JPC), with(12, {{OPT_BPP, 24}}));
}

TEST_F(OptionsTest, TiffCompressionIndexIsMapped) {
    const std::pair<int, int> map[] = {{0, 0}, {1, 1}, {2, 6}, {3, 2}, {4, 3},
                                       {5, 5}, {6, 4}, {7, 2}, {-1, 2}};
    for (auto [index, value] : map) {
        settings.compress = index;
        Options o = Apply(FMT_TIFF);
        EXPECT_EQ(o.at(3), std::make_pair(int(OPT_TIFF_COMPRESSION), value)) << index;
    }
}

TEST_F(RunnerTest, FormatIndexGivesCodeAndExtension) {
    const std::pair<int, const char*> formats[] = {
        {0, "a.jpg"},  {1, "a.tif"},  {2, "a.bmp"},  {3, "a.png"}, {4, "a.gif"},
        {5, "a.pcx"},  {6, "a.wmf"},  {7, "a.emf"},  {8, "a.tga"}, {9, "a.jp2"},
        {10, "a.jpc"}, {11, "a.ras"}, {12, "a.jpg"}, {-1, "a.jpg"}}; // outside the list: the first
                                                                     // entry
    const int codes[] = {4, 7, 1, 5, 6, 8, 3, 2, 9, 10, 12, 11, 4, 4};
    std::string p = Input("a.pcl", "pages 1");
    int i = 0;
    for (auto [index, name] : formats) {
        RecordingConverter::Reset();
        RecordingView view({p});
        Run(view, index);
        ASSERT_EQ(handles().size(), 1u);
        EXPECT_EQ(handles()[0].outputPath, out + name);
        int format = 0;
        for (auto [code, value] : handles()[0].options)
            if (code == OPT_FORMAT) format = value;
        EXPECT_EQ(format, codes[i++]) << index;
    }
}

} // namespace
