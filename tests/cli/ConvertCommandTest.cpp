// varnel-convert run as a program, with the stand-in renderer found through
// the library search path and the real conversion engine.
#include "JobTestSupport.h"
#include "PxlWriter.h"
#include "pclxl/PxlTables.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <map>
#include <pty.h>
#include <sstream>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <thread>

using namespace testing_support;

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

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

// Width and height of a BMP file (0x0 when it is none).
std::pair<int, int> BmpSize(const std::string& path) {
    const std::string bmp = Slurp(path);
    if (bmp.size() < 26 || bmp.compare(0, 2, "BM") != 0) return {0, 0};
    auto le32 = [&](std::size_t at) {
        return int32_t(uint8_t(bmp[at]) | uint8_t(bmp[at + 1]) << 8 | uint8_t(bmp[at + 2]) << 16 |
                       uint32_t(uint8_t(bmp[at + 3])) << 24);
    };
    return {le32(18), std::abs(le32(22))};
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
            ChildEnvironment(libs);
            if (fileSizeLimit > 0) {
                rlimit limit{fileSizeLimit, fileSizeLimit};
                ::setrlimit(RLIMIT_FSIZE, &limit);
            }
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

    void ChildEnvironment(const std::string& libs) {
        ::setenv("LD_LIBRARY_PATH", libs.c_str(), 1);
        ::setenv("TMPDIR", temp.c_str(), 1);
        ::setenv("HOME", home.c_str(), 1);
        ::unsetenv("XDG_CONFIG_HOME");
        ::unsetenv("TARVIK_TEST_LOG");
    }

    // Waits until page files, in whatever folders below the temporary
    // folder, add up to `pages`.
    void WaitForPages(std::size_t pages) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (std::chrono::steady_clock::now() < deadline) {
            if (CountFiles(temp) >= pages) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ADD_FAILURE() << "the render never started";
    }
    static std::size_t CountFiles(const std::string& folder) {
        std::size_t n = 0;
        for (const std::string& name : ListFolder(folder)) {
            struct stat st {};
            std::string path = folder + "/" + name;
            if (::lstat(path.c_str(), &st) != 0) continue;
            // The renderer's lock and report files are no pages.
            n += S_ISDIR(st.st_mode) ? CountFiles(path) : name[0] != '.';
        }
        return n;
    }

    // A job for the stand-in renderer; the PJL line in front makes it a print
    // job by content (the stand-in skips words it does not know).
    std::string Input(const std::string& name, const std::string& script) {
        WriteText(src + name, kJob + script);
        return src + name;
    }
    const std::string kJob = "\x1b%-12345X@PJL\n";

    // Called with the program's process id while it runs.
    std::function<void(pid_t)> whileRunning;
    // The program's file size limit in bytes (ulimit -f); 0 leaves it alone.
    rlim_t fileSizeLimit = 0;
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
    EXPECT_EQ(r.out, a + ": Succeed -> " + out + "a.png\n" + b + ": Succeed -> " + out +
                         "b_001.png, " + out + "b_002.png\n" +
                         "varnel-convert: 2 converted, 0 failed, 0 with warnings, 0 skipped; 3 "
                         "pages, 3 outputs in " +
                         r.out.substr(r.out.rfind(" in ") + 4));
    EXPECT_EQ(ListFolder(out), (std::vector<std::string>{"a.png", "b_001.png", "b_002.png"}));
    EXPECT_EQ(Slurp(a), kJob + "pages 1 size 16x16");
    EXPECT_EQ(Slurp(profile), profileText);
}

TEST_F(ConvertCommandTest, SettingsComeFromTheProfile) {
    WriteText(profile, "[Set]\ntype=1\nmode=0\neach=1\nmultpage=1\ncompress=1\n");
    std::string a = Input("a.pcl", "pages 3 size 16x16");
    Result r = Convert({"--profile", profile, "--verbose", a});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(ListFolder(src + "a"), std::vector<std::string>{"a.tif"});
    EXPECT_EQ(r.out.substr(0, r.out.find("varnel-convert:")),
              a + ": Converting.\n" + a + ": Converting..\n" + a + ": Converting...\n" + a +
                  ": Succeed\n" + a + ": Succeed -> " + src + "a/a.tif\n");
}

TEST_F(ConvertCommandTest, TheUsersProfileIsReadButNeverWritten) {
    std::string a = Input("a.pcl", "pages 1");
    Result r = Convert({"--quiet", "--use-desktop-profile", "-o", out, a});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(ListFolder(out), std::vector<std::string>{"a.jpg"});
    EXPECT_TRUE(ListFolder(home + ".config/Krellix/Varnel").empty());
}

TEST_F(ConvertCommandTest, BadInputGivesItsStatusAndTheRunGoesOn) {
    std::string none = Input("none.pcl", "pages 0");
    std::string junk = Input("junk.pcl", "pages 0 extra junk_001.bmp"); // not a bitmap
    std::string text = src + "notes.txt";
    WriteText(text, "pages 1");
    std::string good = Input("good.pcl", "pages 1");
    Result r = Convert({"--profile", profile, "-f", "bmp", "-o", out, none, src + "missing.pcl",
                        junk, text, good});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out.substr(0, r.out.find("varnel-convert:")),
              none + ": Failed: no page was rendered\n" + junk +
                  ": Failed: 1 output file(s) could not be written to " + out + "\n" + good +
                  ": Succeed -> " + out + "good.bmp\n");
    EXPECT_NE(r.err.find(src + "missing.pcl: no such file\n"), std::string::npos);
    EXPECT_NE(r.err.find(text + ": not a print job"), std::string::npos);
    EXPECT_EQ(ListFolder(out), std::vector<std::string>{"good.bmp"});
}

TEST_F(ConvertCommandTest, AnOutputFolderThatCannotBeMadeFails) {
    WriteText(tmp / "plain", "x");
    std::string a = Input("a.pcl", "pages 2");
    Result r = Convert({"--profile", profile, "-o", tmp / "plain/out", a});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out.rfind(a + ": Failed", 0), 0u) << r.out;
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
    Result r = Convert({"--profile", profile, "-j1", "-o", out, a, b}, "", 1, 2);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out.substr(0, r.out.find("varnel-convert:")),
              a + ": Aborted: stopped before its pages were converted\n");
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

// Each line of --json output as "input|status|reason|pages|outputs|warnings|notes",
// read by Python's JSON parser, which also checks every key is there.
std::vector<std::string> JsonRows(const std::string& json, const std::string& folder) {
    WriteText(folder + "report.json", json);
    WriteText(folder + "read.py",
              "import json, sys\n"
              "for line in open(sys.argv[1], encoding='utf-8'):\n"
              "    r = json.loads(line)\n"
              "    assert isinstance(r['seconds'], (int, float))\n"
              "    print('|'.join([r['input'], r['status'], r['reason'], str(r['pages']),\n"
              "                    ','.join(o.rsplit('/', 1)[-1] for o in r['outputs']),\n"
              "                    str(len(r['warnings'])), str(len(r['notes']))]))\n");
    std::string command = "python3 " + folder + "read.py " + folder + "report.json";
    std::vector<std::string> rows;
    if (FILE* p = ::popen(command.c_str(), "r")) {
        char line[4096];
        while (std::fgets(line, sizeof line, p)) {
            rows.push_back(line);
            rows.back().pop_back();
        }
        EXPECT_EQ(::pclose(p), 0) << json;
    }
    return rows;
}

std::map<std::string, std::string> FolderBytes(const std::string& folder) {
    std::map<std::string, std::string> files;
    for (const std::string& name : ListFolder(folder)) files[name] = Slurp(folder + name);
    return files;
}

TEST_F(ConvertCommandTest, ParallelAndShardedRunsWriteWhatOneSerialRunWrites) {
    // The first file is the slowest, so parallel runs finish out of order.
    std::vector<std::string> inputs = {
        Input("a.pcl", "pages 2 size 16x16 sleep 300"),
        Input("a.pxl", "pages 1 size 8x8"),
        Input("job.prn", "pages 3 size 8x8"),
        Input("plot.bin", "pages 1 size 12x12"),
        Input("d.pcl", "pages 1 size 8x8"),
    };
    auto run = [&](const std::string& folder, std::vector<std::string> extra) {
        std::vector<std::string> args = {"--json", "-o", folder};
        args.insert(args.end(), extra.begin(), extra.end());
        args.insert(args.end(), inputs.begin(), inputs.end());
        Result r = Convert(args);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        return JsonRows(r.out, tmp.path());
    };
    std::vector<std::string> serial = run(out + "1/", {"-j1"});
    EXPECT_EQ(serial, (std::vector<std::string>{
                          inputs[0] + "|Succeed||2|a_001.png,a_002.png|0|0",
                          inputs[1] + "|Succeed||1|a-2.png|0|1",
                          inputs[2] + "|Succeed||3|job_001.png,job_002.png,job_003.png|0|0",
                          inputs[3] + "|Succeed||1|plot.png|0|0",
                          inputs[4] + "|Succeed||1|d.png|0|0",
                      }));
    const auto files = FolderBytes(out + "1/");
    ASSERT_EQ(files.size(), 8u);

    EXPECT_EQ(run(out + "2/", {"-j3"}), serial);
    EXPECT_EQ(FolderBytes(out + "2/"), files);

    std::vector<std::string> sharded;
    for (const char* shard : {"0/3", "1/3", "2/3"}) {
        std::vector<std::string> rows = run(out + "3/", {"--shard", shard});
        EXPECT_FALSE(rows.empty()) << shard;
        sharded.insert(sharded.end(), rows.begin(), rows.end());
    }
    std::sort(sharded.begin(), sharded.end());
    std::sort(serial.begin(), serial.end());
    EXPECT_EQ(sharded, serial);
    EXPECT_EQ(FolderBytes(out + "3/"), files);
}

TEST_F(ConvertCommandTest, ACrashHangOrRunawayFailsOnlyItsOwnFile) {
    std::string crash = Input("crash.pcl", "crash");
    std::string hang = Input("hang.pcl", "sleep 20000");
    std::string big = Input("big.pcl", "alloc 8192");
    std::string good = Input("good.pcl", "pages 1");
    std::vector<std::string> args = {"-j2", "--timeout", "1",   "--max-memory", "512",
                                     "-o",  out,         crash, hang,           good};
    // The sanitizer's address space takes no limit, so the runaway file stays out.
    if (!kSanitized) args.push_back(big);
    auto start = std::chrono::steady_clock::now();
    Result r = Convert(args);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(8));
    EXPECT_EQ(r.exitCode, 1);
    std::vector<std::string> lines;
    std::istringstream in(r.out);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    ASSERT_EQ(lines.size(), kSanitized ? 4u : 5u) << r.out;
    // The sanitizer may report the crash and exit instead of dying by the signal.
    EXPECT_EQ(lines[0].rfind(
                  crash + (kSanitized ? ": Failed: " : ": Failed: the renderer crashed (SIG"), 0),
              0u)
        << lines[0];
    EXPECT_EQ(lines[1], hang + ": Failed: stopped after the time limit of 1 s");
    EXPECT_EQ(lines[2], good + ": Succeed -> " + out + "good.png");
    if (!kSanitized) {
        EXPECT_EQ(lines[3], big + ": Failed: ran out of memory (limit 512 MiB)");
    }
    EXPECT_EQ(ListFolder(out), std::vector<std::string>{"good.png"});
}

TEST_F(ConvertCommandTest, PageSelectionAndOutputsOfEarlierRuns) {
    std::string a = Input("a.pcl", "pages 3 size 8x8");
    Result first = Convert({"--pages", "2-3,9", "-o", out, a});
    EXPECT_EQ(first.exitCode, 0) << first.err;
    EXPECT_EQ(ListFolder(out), (std::vector<std::string>{"a_002.png", "a_003.png"}));
    const auto before = FolderBytes(out);

    Result none = Convert({"--pages", "7", "-o", out + "x/", a});
    EXPECT_EQ(none.exitCode, 1);
    EXPECT_NE(none.out.find(a + ": Failed: no selected page exists (the file has 3 pages)"),
              std::string::npos)
        << none.out;

    WriteText(a, kJob + "pages 3 size 16x16");
    Result clobber = Convert({"--no-clobber", "-o", out, a});
    EXPECT_EQ(clobber.exitCode, 1);
    EXPECT_NE(clobber.out.find(a + ": Failed: output exists: "), std::string::npos) << clobber.out;
    Result skip = Convert({"--skip-existing", "-o", out, a});
    EXPECT_EQ(skip.exitCode, 0) << skip.out;
    EXPECT_NE(skip.out.find(a + ": Skipped: "), std::string::npos) << skip.out;
    EXPECT_EQ(FolderBytes(out), before);

    // The canvas follows --paper: legal is 8.5 x 14 inches.
    std::string p = Input("p.pcl", "pages 1 size page");
    Result legal = Convert({"-r", "72", "--paper", "legal", "-f", "bmp", "-o", out + "p/", p});
    EXPECT_EQ(legal.exitCode, 0) << legal.err;
    EXPECT_EQ(BmpSize(out + "p/p.bmp"), std::make_pair(612, 1008));

    Result again = Convert({"-o", out, a}); // --overwrite is the default
    EXPECT_EQ(again.exitCode, 0);
    EXPECT_NE(FolderBytes(out)["a_002.png"], before.at("a_002.png"));
}

TEST_F(ConvertCommandTest, OnATerminalTheProgressLineCountsPagesAsTheyAreMade) {
    // The stand-in holds on after writing its pages, so the page files are
    // there to count before any is converted.
    std::string a = Input("a.pcl", "pages 3 hold 1000");
    int terminal = -1;
    pid_t child = ::forkpty(&terminal, nullptr, nullptr, nullptr);
    ASSERT_GE(child, 0) << std::strerror(errno);
    if (child == 0) {
        ChildEnvironment(FakeRendererPath().substr(0, FakeRendererPath().rfind('/')));
        std::string folder = out;
        char* argv[] = {const_cast<char*>(VARNEL_CONVERT), const_cast<char*>("-o"), folder.data(),
                        a.data(), nullptr};
        ::execv(VARNEL_CONVERT, argv);
        ::_exit(127);
    }
    std::string seen;
    char buffer[4096];
    for (;;) {
        ssize_t n = ::read(terminal, buffer, sizeof buffer);
        if (n > 0)
            seen.append(buffer, std::size_t(n));
        else if (n == 0 || errno != EINTR)
            break; // EIO once the program has gone
    }
    ::close(terminal);
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << seen;

    std::vector<std::string> lines;
    std::string line;
    for (std::size_t i = 0; i <= seen.size(); ++i) {
        if (i == seen.size() || seen[i] == '\r' || seen[i] == '\n') {
            if (!line.empty()) lines.push_back(line);
            line.clear();
        } else if (seen.compare(i, 3, "\033[K") == 0) {
            i += 2;
        } else {
            line += seen[i];
        }
    }
    auto shown = [&](const std::string& start, bool whole) {
        for (const std::string& l : lines)
            if (whole ? l == start : l.rfind(start, 0) == 0) return true;
        return false;
    };
    // Rendered pages count before their file is converted, and the time left
    // follows pages while the only file is still under way.
    EXPECT_TRUE(shown("0/1 files, 0 failed, 3 pages, a.pcl", true)) << seen;
    EXPECT_TRUE(shown("0/1 files, 0 failed, 3 pages, a.pcl, about 0:0", false)) << seen;
    // The line is wiped before the row, which starts a line of its own.
    EXPECT_NE(seen.find("\r\033[K" + a + ": Succeed -> "), std::string::npos) << seen;

    Result piped = Convert({"-o", out, a});
    EXPECT_EQ(piped.exitCode, 0);
    EXPECT_EQ(piped.err.find('\033'), std::string::npos) << piped.err;
}

TEST_F(ConvertCommandTest, AutoPaperGivesEachPageThePaperItsJobAsksFor) {
    // Letter turned to landscape, then A4 upright, at 72 dpi.
    std::string a = Input("p.pcl", "\x1b"
                                   "E\x1b&l2a1OLetter landscape\f\x1b&l26a0OA4 upright\f");
    Result r = Convert({"-r", "72", "--paper", "auto", "-f", "bmp", "-o", out, a},
                       VARNEL_REAL_RENDERER_DIR);
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_EQ(BmpSize(out + "p_001.bmp"), std::make_pair(792, 612));
    EXPECT_EQ(BmpSize(out + "p_002.bmp"), std::make_pair(595, 842));
}

TEST_F(ConvertCommandTest, DiskLimitsComeFromTheCommandLine) {
    std::string pages = "\x1b"
                        "E";
    for (int i = 0; i < 6; ++i) pages += "page\f";
    std::string a = Input("six.pcl", pages);
    // A 150 dpi page file is about 6.5 MB: the second passes 10 MiB.
    Result limited =
        Convert({"-r", "150", "--page-limit", "10", "-o", out, a}, VARNEL_REAL_RENDERER_DIR);
    EXPECT_EQ(limited.exitCode, 1);
    EXPECT_EQ(limited.out.rfind(a + ": Failed", 0), 0u) << limited.out;
    EXPECT_NE(
        limited.out.find(": the job's page files reached their size limit; 1 page(s) written"),
        std::string::npos)
        << limited.out;
    EXPECT_EQ(ListFolder(out), std::vector<std::string>{"six_001.png"});

    struct statvfs fs {};
    if (::statvfs(temp.c_str(), &fs) == 0 && double(fs.f_bavail) * fs.f_frsize < 0x1p40) {
        Result reserved = Convert({"-r", "150", "--disk-reserve", "1048576", "-o", out + "r/", a},
                                  VARNEL_REAL_RENDERER_DIR);
        EXPECT_EQ(reserved.exitCode, 1);
        EXPECT_NE(reserved.out.find("the temporary folder's file system is nearly full; 0 page"),
                  std::string::npos)
            << reserved.out;
    }
    // Under a file size limit the write fails and is reported; the process
    // is not killed by the limit's signal.
    fileSizeLimit = 1 << 20;
    Result capped = Convert({"-r", "72", "-o", out + "c/", a}, VARNEL_REAL_RENDERER_DIR);
    fileSizeLimit = 0;
    EXPECT_EQ(capped.exitCode, 1);
    EXPECT_EQ(capped.out.rfind(a + ": Failed", 0), 0u) << capped.out;
    EXPECT_NE(capped.out.find("a page file could not be written (File too large)"),
              std::string::npos)
        << capped.out;

    Result zero = Convert({"--page-limit", "0", a});
    EXPECT_EQ(zero.exitCode, 2);
    EXPECT_NE(zero.err.find("page limit (MiB of page files per input) must be 1 to 1048576"),
              std::string::npos)
        << zero.err;
}

TEST_F(ConvertCommandTest, WarningsStandBesideASuccessUnlessStrict) {
    std::string a = Input("a.pcl", "pages 1 warn font-replaced");
    Result lenient = Convert({"--json", "-o", out, a});
    EXPECT_EQ(lenient.exitCode, 0) << lenient.err;
    EXPECT_EQ(JsonRows(lenient.out, tmp.path()),
              std::vector<std::string>{a + "|Succeed||1|a.png|1|0"});
    EXPECT_NE(lenient.err.find("  warning: font-replaced\n"), std::string::npos) << lenient.err;
    Result strict = Convert({"--strict", "--quiet", "-o", out, a});
    EXPECT_EQ(strict.exitCode, 1);
    EXPECT_EQ(strict.out, "");
    EXPECT_NE(strict.err.find(a + ": Failed with 1 warning: warnings with --strict"),
              std::string::npos)
        << strict.err;
}

TEST_F(ConvertCommandTest, AWatchFolderTakesFilesWhenTheirWriterClosesThem) {
    const std::string watch = tmp / "watch/";
    ::mkdir(watch.c_str(), 0700);
    WriteText(watch + "early.pcl", kJob + "pages 1"); // arrived while nobody watched
    auto waitFor = [](const std::string& path) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!Exists(path) && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        return Exists(path);
    };
    whileRunning = [&](pid_t program) {
        EXPECT_TRUE(waitFor(watch + "done/early.pcl"));
        {
            // A writer that takes its time; until it closes, the file would
            // give one page.
            std::ofstream slow(watch + "slow.prn", std::ios::binary);
            slow << kJob << std::flush;
            std::this_thread::sleep_for(std::chrono::milliseconds(400));
            slow << "pages 2 size 8x8" << std::flush;
            std::this_thread::sleep_for(std::chrono::milliseconds(400));
        }
        WriteText(watch + ".partial", "x");
        WriteText(watch + "early.pcl", kJob + "pages 1"); // the same name again
        WriteText(watch + "bad.pcl", kJob + "pages 0");
        EXPECT_TRUE(waitFor(watch + "done/slow.prn"));
        EXPECT_TRUE(waitFor(watch + "failed/bad.pcl.log"));
        ::kill(program, SIGTERM);
    };
    Result r = Convert({"--watch", watch});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(ListFolder(watch), (std::vector<std::string>{".partial", "done", "failed", "out"}));
    EXPECT_EQ(
        ListFolder(watch + "out"),
        (std::vector<std::string>{"early-2.png", "early.png", "slow_001.png", "slow_002.png"}));
    EXPECT_EQ(ListFolder(watch + "done"),
              (std::vector<std::string>{"early-2.pcl", "early.pcl", "slow.prn"}));
    EXPECT_EQ(ListFolder(watch + "failed"), (std::vector<std::string>{"bad.pcl", "bad.pcl.log"}));
    EXPECT_NE(Slurp(watch + "failed/bad.pcl.log").find("reason: no page was rendered"),
              std::string::npos);

    // A folder that goes away ends the watch with an error.
    whileRunning = [&](pid_t) {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        TempDir::Remove(watch);
    };
    Result gone = Convert({"--watch", watch});
    EXPECT_EQ(gone.exitCode, 1);
    EXPECT_NE(gone.err.find("was removed"), std::string::npos) << gone.err;
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
    // Its children die of the batch's death a moment later; until then the
    // folder is theirs.
    int held = ::open((temp + ListFolder(temp)[0] + "/.lock").c_str(), O_RDWR);
    for (int i = 0; i < 500 && ::flock(held, LOCK_EX | LOCK_NB) != 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ::close(held);
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

TEST_F(ConvertCommandTest, LongStemsKeepPageNamesWithinTheNameLimit) {
    // 250 bytes of stem: the page names ("_001.bmp" and the writer's own
    // temporary decoration) would pass 255 bytes unless shortened.
    const std::string stem(250, 's');
    std::string one = Input(stem + ".pcl", "pages 1");
    Result r = Convert({"--profile", profile, "-f", "png", "-o", out, one});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(ListFolder(out), std::vector<std::string>{stem + ".png"});
}

// --- with the real renderer: pages lost are never a success ----------------

TEST_F(ConvertCommandTest, ATruncatedJobFailsAndKeepsItsPagesUnderTheirNumbers) {
    using namespace tarvik::pclxl;
    pxltest::Writer w;
    w.Header().BeginSession().OpenData();
    for (int page = 0; page < 3; ++page)
        w.BeginPage().U16Box(10, 10, 200, 200).A(aBoundingBox).Op(kRectangle).EndPage();
    w.BeginPage().U16Box(10, 10, 200, 200).A(aBoundingBox); // cut off here
    w.bytes.push_back(0xC1);                                // half a value
    std::string job(w.bytes.begin(), w.bytes.end());
    std::string a = Input("cut.pxl", job);
    Result r = Convert({"--profile", profile, "-f", "png", "-o", out, a}, VARNEL_REAL_RENDERER_DIR);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out.rfind(a + ": Failed", 0), 0u) << r.out;
    EXPECT_EQ(ListFolder(out), (std::vector<std::string>{"cut_001.png", "cut_002.png",
                                                         "cut_003.png", "cut_004.png"}));
}

TEST_F(ConvertCommandTest, AFullTemporaryFolderFailsTheRowWithThePagesThatFit) {
    // A 16 MB file system holds two 150 dpi pages (6.5 MB each) beside the
    // reserve of a tenth of it; the third page does not fit.
    if (::mount("tmpfs", temp.c_str(), "tmpfs", 0, "size=16m,mode=0700") != 0) {
        GTEST_SKIP() << "cannot mount a small file system here (" << std::strerror(errno) << ")";
    }
    std::string pages = "\x1b"
                        "E";
    for (int i = 0; i < 6; ++i) pages += "page\f";
    std::string a = Input("six.pcl", pages);
    Result r = Convert({"--profile", profile, "-r", "150", "-f", "png", "-o", out, a},
                       VARNEL_REAL_RENDERER_DIR);
    EXPECT_TRUE(ListFolder(temp).empty());
    ::umount(temp.c_str());
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out.rfind(a + ": Failed", 0), 0u) << r.out;
    EXPECT_EQ(ListFolder(out), (std::vector<std::string>{"six_001.png", "six_002.png"}));
}

} // namespace
