// varnel-convert run as a program, with the stand-in renderer found through
// the library search path and the real conversion engine.
#include "JobTestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <functional>
#include <sstream>
#include <sys/file.h>
#include <sys/wait.h>
#include <thread>

using namespace testing_support;

namespace {

struct Result {
    int exitCode = -1; // -1 when ended by a signal
    int signal = 0;
    std::string out, err;
};

std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class ConvertCommandTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(tmp.path().empty());
        for (const std::string& d : {temp, home, src}) ::mkdir(d.c_str(), 0700);
        WriteText(profile, "[Set]\nmode=1\n");
    }
    void TearDown() override {
        // No run may leave a page folder behind, whatever it did.
        EXPECT_TRUE(ListFolder(temp).empty()) << ::testing::PrintToString(ListFolder(temp));
    }

    // Runs the program. With interrupts, waits until the first render has
    // written `pages` page files, then sends that many SIGINTs 100 ms apart.
    Result Convert(std::vector<std::string> args, const std::string& rendererDir = "",
                   int interrupts = 0, std::size_t pages = 0, bool goneReader = false) {
        std::string libs = rendererDir.empty()
                               ? FakeRendererPath().substr(0, FakeRendererPath().rfind('/'))
                               : rendererDir;
        std::string outFile = tmp / "stdout", errFile = tmp / "stderr";
        int pipeFds[2] = {-1, -1};
        if (goneReader && ::pipe(pipeFds) != 0) ADD_FAILURE() << "no pipe";
        pid_t child = ::fork();
        if (child == 0) {
            ::setenv("LD_LIBRARY_PATH", libs.c_str(), 1);
            ::setenv("TMPDIR", temp.c_str(), 1);
            ::setenv("HOME", home.c_str(), 1);
            ::unsetenv("XDG_CONFIG_HOME");
            ::unsetenv("TARVIK_TEST_LOG");
            int o = ::open(outFile.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0600);
            int e = ::open(errFile.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0600);
            ::dup2(goneReader ? pipeFds[1] : o, 1);
            ::dup2(e, 2);
            if (goneReader) ::close(pipeFds[0]);
            std::vector<char*> argv{const_cast<char*>(VARNEL_CONVERT)};
            for (std::string& a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            ::execv(VARNEL_CONVERT, argv.data());
            ::_exit(127);
        }
        if (goneReader) {
            // The reader is gone before the first line is written.
            ::close(pipeFds[0]);
            ::close(pipeFds[1]);
        }
        if (whileRunning) whileRunning(child);
        if (interrupts > 0) WaitForPages(pages);
        for (int i = 0; i < interrupts; ++i) {
            if (i > 0) std::this_thread::sleep_for(std::chrono::milliseconds(100));
            ::kill(child, SIGINT);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        Result r;
        if (WIFEXITED(status)) r.exitCode = WEXITSTATUS(status);
        if (WIFSIGNALED(status)) r.signal = WTERMSIG(status);
        r.out = Slurp(outFile);
        r.err = Slurp(errFile);
        return r;
    }

    // Files of a page folder, less the renderer's lock and report files.
    static std::size_t PageCount(const std::string& folder) {
        std::size_t n = 0;
        for (const std::string& name : ListFolder(folder)) n += name[0] != '.';
        return n;
    }

    void WaitForPages(std::size_t pages) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (std::chrono::steady_clock::now() < deadline) {
            std::vector<std::string> folders = ListFolder(temp);
            if (!folders.empty() && PageCount(temp + folders[0]) >= pages) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ADD_FAILURE() << "the render never started";
    }

    std::string Input(const std::string& name, const std::string& script) {
        WriteText(src + name, script);
        return src + name;
    }

    // Called with the child's process id once it was started.
    std::function<void(pid_t)> whileRunning;
    TempDir tmp;
    std::string temp = tmp / "tmp/";
    std::string home = tmp / "home/";
    std::string src = tmp / "src/";
    std::string out = tmp / "out/";
    std::string profile = tmp / "profile.ini";
};

TEST_F(ConvertCommandTest, ConvertsEveryInputAndLeavesInputsAndProfileAlone) {
    std::string a = Input("a.pcl", "pages 1 size 16x16");
    std::string b = Input("b.pxl", "pages 2 size 16x16");
    const std::string profileText = Slurp(profile);
    Result r = Convert({"--profile", profile, "-f", "png", "-o", out, a, b});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, a + ": Succeed\n" + b + ": Succeed\n");
    EXPECT_EQ(ListFolder(out), (std::vector<std::string>{"a.png", "b_001.png", "b_002.png"}));
    EXPECT_EQ(Slurp(a), "pages 1 size 16x16");
    EXPECT_EQ(Slurp(profile), profileText);
}

TEST_F(ConvertCommandTest, SettingsComeFromTheProfile) {
    WriteText(profile, "[Set]\ntype=1\nmode=0\neach=1\nmultpage=1\ncompress=1\n");
    std::string a = Input("a.pcl", "pages 3 size 16x16");
    Result r = Convert({"--profile", profile, "--verbose", a});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(ListFolder(src + "a"), std::vector<std::string>{"a.tif"});
    EXPECT_EQ(r.out, a + ": Converting.\n" + a + ": Converting..\n" + a + ": Converting...\n" + a +
                         ": Succeed\n");
}

TEST_F(ConvertCommandTest, TheUsersProfileIsReadButNeverWritten) {
    std::string a = Input("a.pcl", "pages 1");
    Result r = Convert({"--quiet", "-o", out, a});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(ListFolder(out), std::vector<std::string>{"a.jpg"});
    EXPECT_TRUE(ListFolder(home + ".config/Krellix/Varnel").empty());
}

TEST_F(ConvertCommandTest, BadInputGivesItsStatusAndTheRunGoesOn) {
    std::string none = Input("none.pcl", "pages 0");
    std::string junk = Input("junk.pcl", "pages 0 extra junk_001.bmp"); // not a bitmap
    std::string text = Input("notes.txt", "pages 1");
    std::string good = Input("good.pcl", "pages 1");
    Result r = Convert({"--profile", profile, "-f", "bmp", "-o", out, none, src + "missing.pcl",
                        junk, text, good});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, none + ": Failed\n" + junk + ": Failed\n" + good + ": Succeed\n");
    EXPECT_NE(r.err.find("missing.pcl"), std::string::npos);
    EXPECT_NE(r.err.find("notes.txt"), std::string::npos);
    EXPECT_EQ(ListFolder(out), std::vector<std::string>{"good.bmp"});
}

TEST_F(ConvertCommandTest, AnOutputFolderThatCannotBeMadeFails) {
    WriteText(tmp / "plain", "x");
    std::string a = Input("a.pcl", "pages 2");
    Result r = Convert({"--profile", profile, "-o", tmp / "plain/out", a});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, a + ": Failed\n");
}

TEST_F(ConvertCommandTest, ExitStatusForUsageNoInputAndMissingRenderer) {
    Result usage = Convert({"--format", "webp", "a.pcl"});
    EXPECT_EQ(usage.exitCode, 2);
    EXPECT_NE(usage.err.find("webp"), std::string::npos);
    EXPECT_EQ(Convert({}).exitCode, 2);
    EXPECT_EQ(Convert({"--profile", tmp / "nope.ini", "a.pcl"}).exitCode, 2);

    Result none = Convert({"--profile", profile, src + "nothing.pcl"});
    EXPECT_EQ(none.exitCode, 1);

    std::string broken = BrokenRendererPath().substr(0, BrokenRendererPath().rfind('/'));
    Result missing = Convert({"--profile", profile, Input("a.pcl", "pages 1")}, broken);
    EXPECT_EQ(missing.exitCode, 2);
    EXPECT_EQ(missing.err, "Load libtarvik.so failed, please reinstall!\n");

    Result help = Convert({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("Usage: varnel-convert"), std::string::npos);
    Result version = Convert({"--version"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out.rfind("varnel-convert ", 0), 0u);
}

TEST_F(ConvertCommandTest, AReaderThatGoesAwayDoesNotStopTheRun) {
    std::string a = Input("a.pcl", "pages 1");
    std::string b = Input("b.pcl", "pages 2");
    Result r = Convert({"--profile", profile, "-o", out, a, b}, "", 0, 0, true);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(ListFolder(out), (std::vector<std::string>{"a.jpg", "b_001.jpg", "b_002.jpg"}));
}

TEST_F(ConvertCommandTest, CtrlCStopsAtTheNextTestPoint) {
    std::string a = Input("a.pcl", "pages 2 hold 500");
    std::string b = Input("b.pcl", "pages 1");
    Result r = Convert({"--profile", profile, "-o", out, a, b}, "", 1, 2);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, a + ": Aborted\n");
    EXPECT_TRUE(ListFolder(out).empty());
}

TEST_F(ConvertCommandTest, ASecondCtrlCEndsAtOnceWithoutLeftovers) {
    std::string a = Input("a.pcl", "pages 3 hold 5000");
    auto start = std::chrono::steady_clock::now();
    Result r = Convert({"--profile", profile, "-o", out, a}, "", 2, 3);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
    EXPECT_EQ(r.signal, SIGINT);
    EXPECT_EQ(r.out, "");
    // TearDown checks that the page folder, pages and all, is gone.
}

// Waits until folder holds a file whose name ends in suffix.
bool WaitForFile(const std::string& folder, const std::string& suffix) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
        for (const std::string& name : ListFolder(folder))
            if (name.size() >= suffix.size() &&
                name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
                return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return false;
}

TEST_F(ConvertCommandTest, TerminateAndHangUpMidConversionLeaveNothing) {
    // A large page, so its output is still being written when the signal comes.
    std::string a = Input("a.pcl", "pages 1 size 5000x5000");
    for (int sig : {SIGTERM, SIGHUP}) {
        whileRunning = [&](pid_t child) {
            ASSERT_TRUE(WaitForFile(out, ".part"));
            ::kill(child, sig);
        };
        Result r = Convert({"--profile", profile, "-f", "png", "-o", out, a});
        EXPECT_EQ(r.signal, sig);
        EXPECT_TRUE(ListFolder(out).empty()) << ::testing::PrintToString(ListFolder(out));
        EXPECT_TRUE(ListFolder(temp).empty());
    }
}

TEST_F(ConvertCommandTest, AKilledRunsPageFolderIsSweptByTheNextRun) {
    std::string a = Input("a.pcl", "pages 2 hold 20000");
    whileRunning = [&](pid_t child) {
        WaitForPages(2);
        ::kill(child, SIGKILL);
    };
    Result killed = Convert({"--profile", profile, "-o", out, a});
    EXPECT_EQ(killed.signal, SIGKILL);
    ASSERT_EQ(ListFolder(temp).size(), 1u);
    whileRunning = nullptr;
    // A folder whose owner lives is left alone, whatever its age.
    const std::string live = temp + "mtmp-Live00/";
    ::mkdir(live.c_str(), 0700);
    int lock = ::open((live + ".lock").c_str(), O_CREAT | O_RDWR, 0600);
    ASSERT_EQ(::flock(lock, LOCK_EX), 0);
    Result next = Convert({"--profile", profile, "-o", out, Input("b.pcl", "pages 1")});
    EXPECT_EQ(next.exitCode, 0);
    EXPECT_EQ(ListFolder(temp), std::vector<std::string>{"mtmp-Live00"});
    ::close(lock);
    TempDir::Remove(live);
}

} // namespace
