#include "Renderer.h"
#include "JobTestSupport.h"

#include <gtest/gtest.h>

#include <sstream>

using namespace varnel;
using namespace testing_support;

namespace {

TEST(RendererArgumentsTest, PageSizeIsA4AtTheResolutionTruncated) {
    const struct {
        int x, y;
        const char *r, *g;
    } cases[] = {
        {72, 72, "-r72x72", "-g595x841"},       {96, 96, "-r96x96", "-g793x1122"},
        {150, 150, "-r150x150", "-g1240x1753"}, {200, 200, "-r200x200", "-g1654x2338"},
        {300, 300, "-r300x300", "-g2481x3507"}, {500, 500, "-r500x500", "-g4135x5845"},
        {600, 600, "-r600x600", "-g4962x7014"}, {300, 150, "-r300x150", "-g2481x1753"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> a = RendererArguments("/t/", "n", c.x, c.y, "/in.pcl");
        ASSERT_EQ(a.size(), 9u);
        EXPECT_EQ(a[6], c.r);
        EXPECT_EQ(a[7], c.g);
    }
}

TEST(RendererArgumentsTest, NamesArePassedAsTheyAre) {
    std::vector<std::string> a =
        RendererArguments("/tmp/mtmp-abc/", "50% off", 72, 96, "/my files/50% off.pcl");
    EXPECT_EQ(
        a, (std::vector<std::string>{"tarvik", "-dNOPAUSE", "-dBATCH", "-dSAFER", "-sDEVICE=bmp16m",
                                     "-sOutputFile=/tmp/mtmp-abc/50% off_%03d.bmp", "-r72x96",
                                     "-g595x1122", "/my files/50% off.pcl"}));
}

class RendererTest : public ::testing::Test {
protected:
    void SetUp() override {
        ::mkdir(temp.c_str(), 0700);
        ::setenv("TMPDIR", temp.c_str(), 1);
        ::setenv("TARVIK_TEST_LOG", log.c_str(), 1);
        ::unsetenv("TARVIK_TEST_NEW_RESULT");
        ASSERT_TRUE(renderer.LoadRenderer(FakeRendererPath().c_str()));
    }
    void TearDown() override {
        ::unsetenv("TMPDIR");
        ::unsetenv("TARVIK_TEST_LOG");
        ::unsetenv("TARVIK_TEST_NEW_RESULT");
    }
    std::vector<std::string> LogLines() {
        std::ifstream in(log);
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }
    TempDir tmp;
    std::string temp = tmp / "temp";
    std::string log = tmp / "calls.log";
    Renderer renderer;
};

TEST_F(RendererTest, CallsTheFourEntriesInOrderWithNineArguments) {
    std::string dir = tmp / "with space/";
    ::mkdir(dir.c_str(), 0700);
    std::string input = dir + "50%d off.pcl";
    WriteText(input, "pages 2 run -5");
    EXPECT_EQ(renderer.RenderPages(input, "50%d off", 200, 200), -5);

    std::string folder = renderer.PageFolder();
    std::vector<std::string> expected = {
        "new null null", "run ok 10", "arg tarvik", "arg -dNOPAUSE", "arg -dBATCH", "arg -dSAFER",
        "arg -sDEVICE=bmp16m", "arg -sOutputFile=" + folder + "50%d off_%03d.bmp", "arg -r200x200",
        "arg -g1654x2338", "arg " + input,
        // Switches follow the nine.
        "arg -sTarvikReport=" + folder + ".report", "argv[argc] null", "exit ok", "delete ok"};
    EXPECT_EQ(LogLines(), expected);
    // Only the last "%03d" was a page number.
    EXPECT_EQ(ListFolder(folder),
              (std::vector<std::string>{".lock", "50%d off_001.bmp", "50%d off_002.bmp"}));
    TempDir::Remove(folder);
}

TEST_F(RendererTest, EveryRenderGetsAPrivateFolderOfItsOwn) {
    std::string input = tmp / "a.pcl";
    WriteText(input, "pages 1");
    renderer.RenderPages(input, "a", 72, 72);
    std::string first = renderer.PageFolder();
    renderer.RenderPages(input, "a", 72, 72);
    std::string second = renderer.PageFolder();
    EXPECT_NE(first, second);
    for (const std::string& f : {first, second}) {
        EXPECT_EQ(f.rfind(temp + "/mtmp-", 0), 0u) << f;
        EXPECT_EQ(f.back(), '/');
        struct stat st {};
        ASSERT_EQ(::stat(f.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0700u);
        TempDir::Remove(f);
    }
}

TEST_F(RendererTest, NewInstanceResultDecidesWhatFollows) {
    std::string input = tmp / "a.pcl";
    WriteText(input, "pages 1");

    ::setenv("TARVIK_TEST_NEW_RESULT", "-7", 1);
    EXPECT_EQ(renderer.RenderPages(input, "a", 72, 72), -7);
    EXPECT_EQ(LogLines(), std::vector<std::string>{"new null null"});
    EXPECT_EQ(ListFolder(renderer.PageFolder()), std::vector<std::string>{".lock"});
    TempDir::Remove(renderer.PageFolder());

    ::unlink(log.c_str());
    ::setenv("TARVIK_TEST_NEW_RESULT", "3", 1);
    EXPECT_EQ(renderer.RenderPages(input, "a", 72, 72), 3);
    EXPECT_EQ(LogLines(), (std::vector<std::string>{"new null null", "exit ok", "delete ok"}));
    TempDir::Remove(renderer.PageFolder());
}

TEST_F(RendererTest, AMissingTemporaryFolderIsMade) {
    ::setenv("TMPDIR", (tmp / "missing/deeper").c_str(), 1);
    std::string input = tmp / "a.pcl";
    WriteText(input, "pages 1");
    EXPECT_EQ(renderer.RenderPages(input, "a", 72, 72), 0);
    EXPECT_EQ(renderer.PageFolder().rfind(tmp / "missing/deeper/mtmp-", 0), 0u);
}

TEST_F(RendererTest, NoFolderMeansNoRender) {
    // Nothing can be made below a regular file, not even by root.
    WriteText(tmp / "plain", "x");
    ::setenv("TMPDIR", (tmp / "plain/tmp").c_str(), 1);
    std::string input = tmp / "a.pcl";
    WriteText(input, "pages 1");
    EXPECT_LT(renderer.RenderPages(input, "a", 72, 72), 0);
    EXPECT_TRUE(renderer.PageFolder().empty());
    EXPECT_TRUE(LogLines().empty());
}

TEST(RendererLoadTest, AllFourEntriesAreNeeded) {
    Renderer r;
    EXPECT_FALSE(r.LoadRenderer(BrokenRendererPath().c_str()));
    EXPECT_FALSE(r.IsLoaded());
    EXPECT_FALSE(r.LoadRenderer("/nonexistent/libtarvik.so"));
    EXPECT_TRUE(r.LoadRenderer(FakeRendererPath().c_str()));
    EXPECT_TRUE(r.IsLoaded());
    EXPECT_EQ(r.FreeRenderer(), 1);
    EXPECT_FALSE(r.IsLoaded());
    // Not loaded: nothing to call.
    EXPECT_LT(r.RenderPages("/x.pcl", "x", 72, 72), 0);
    TempDir::Remove(r.PageFolder());
}

} // namespace
