// What a small hostile input can cost, through the renderer's own program:
// page files stay within the job's limit and work within its budget.
#include "PxlWriter.h"
#include "pclxl/PxlTables.h"

#include <gtest/gtest.h>

#include <csignal>
#include <dirent.h>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace tarvik::pclxl;
using pxltest::Writer;

namespace {

struct Outcome {
    int exitCode = -1;
    double cpuSeconds = 0;
    std::string report;
    uint64_t pageBytes = 0;
    int pages = 0;
};

class JobBoundsTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/tarvik-bounds-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir = std::string(pattern) + "/";
    }
    void TearDown() override {
        for (const std::string& name : Files()) ::unlink((dir + name).c_str());
        ::rmdir(dir.c_str());
    }

    std::vector<std::string> Files() const {
        std::vector<std::string> names;
        if (DIR* d = ::opendir(dir.c_str())) {
            while (const dirent* e = ::readdir(d))
                if (e->d_name[0] != '.') names.emplace_back(e->d_name);
            ::closedir(d);
        }
        return names;
    }

    // Renders bytes with the renderer's program and the extra switches,
    // optionally under a file size limit.
    Outcome Render(const std::vector<uint8_t>& bytes, std::vector<std::string> switches,
                   rlim_t fileSizeLimit = RLIM_INFINITY) {
        const std::string input = dir + "job.bin", report = dir + "report.txt";
        std::ofstream(input, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        std::vector<std::string> args = {TARVIK_PROGRAM, "-sOutputFile=" + dir + "p_%03d.bmp",
                                         "-sTarvikReport=" + report};
        args.insert(args.end(), switches.begin(), switches.end());
        args.push_back(input);
        pid_t child = ::fork();
        if (child == 0) {
            std::vector<char*> argv;
            for (std::string& a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            if (fileSizeLimit != RLIM_INFINITY) {
                std::signal(SIGXFSZ, SIG_IGN); // the write fails instead
                rlimit limit{fileSizeLimit, fileSizeLimit};
                ::setrlimit(RLIMIT_FSIZE, &limit);
            }
            ::execv(TARVIK_PROGRAM, argv.data());
            ::_exit(127);
        }
        int status = 0;
        rusage usage{};
        ::wait4(child, &status, 0, &usage);
        Outcome r;
        r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        r.cpuSeconds = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                       double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
        std::stringstream text;
        text << std::ifstream(report).rdbuf();
        r.report = text.str();
        ::unlink(report.c_str());
        for (const std::string& name : Files()) {
            if (name.rfind("p_", 0) != 0) continue;
            struct stat st {};
            if (::stat((dir + name).c_str(), &st) == 0) r.pageBytes += uint64_t(st.st_size);
            ++r.pages;
        }
        return r;
    }

    std::string dir;
};

TEST_F(JobBoundsTest, AFormFeedFloodStopsAtThePageFileLimit) {
    // 20 KB of form feeds asks for 10,000 pages of 1.5 MB each at 72 dpi.
    std::string flood = "\x1b"
                        "E" +
                        std::string(20000, '\f');
    Outcome r = Render(std::vector<uint8_t>(flood.begin(), flood.end()),
                       {"-r72", "-dTarvikPageLimit=10000000"});
    EXPECT_NE(r.exitCode, 0);
    EXPECT_GT(r.pages, 0);
    EXPECT_LE(r.pageBytes, 10'000'000u);
    EXPECT_NE(r.report.find("stop limit\n"), std::string::npos) << r.report;
    EXPECT_NE(r.report.find("pages " + std::to_string(r.pages) + "\n"), std::string::npos)
        << r.report;
}

TEST_F(JobBoundsTest, AStreamAmplifiedImageStopsAtTheWorkBudget) {
    // A 2048 x 2048 image of one small run-length block, drawn tiny, in a
    // stream run 10^4 times through four levels of ten calls each.
    const unsigned side = 2048;
    std::vector<uint8_t> row;
    for (unsigned left = side; left > 0; left -= 128) row.insert(row.end(), {0x81, 0x80});
    std::vector<uint8_t> block;
    for (unsigned i = 0; i < side; ++i) block.insert(block.end(), row.begin(), row.end());
    Writer leaf;
    leaf.Header().U16Xy(0, 0).A(aPoint).Op(kSetCursor);
    leaf.UB(0).A(aColorMapping).UB(2).A(aColorDepth).U16(side).A(aSourceWidth);
    leaf.U16(side).A(aSourceHeight).U16Xy(10, 10).A(aDestinationSize).Op(kBeginImage);
    leaf.U16(0).A(aStartLine).U16(side).A(aBlockHeight).UB(1).A(aCompressMode).Op(kReadImage);
    leaf.Data(block).Op(kEndImage);

    Writer w;
    w.Header().BeginSession().OpenData().BeginPage();
    w.UB(1).A(aColorSpace).Op(kSetColorSpace);
    auto define = [&w](const std::string& name, const std::vector<uint8_t>& body) {
        w.UBArray(name).A(aStreamName).Op(kBeginStream);
        w.U32(uint32_t(body.size())).A(aStreamDataLength).Op(kReadStream).Data(body);
        w.Op(kEndStream);
    };
    define("s0", leaf.bytes);
    for (int level = 1; level <= 4; ++level) {
        Writer s;
        s.Header();
        for (int k = 0; k < 10; ++k)
            s.UBArray("s" + std::to_string(level - 1)).A(aStreamName).Op(kExecStream);
        define("s" + std::to_string(level), s.bytes);
    }
    w.UBArray("s4").A(aStreamName).Op(kExecStream);
    w.EndPage().CloseData().EndSession();
    ASSERT_LT(w.bytes.size(), 100'000u);

    // Counting image rows, not pixels, this budget let almost 5,000 runs go
    // (about 12 s here); counting pixels it ends after six. The margin leaves
    // room for sanitizer builds.
    Outcome r = Render(w.bytes, {"-r72", "-dTarvikBudget=200000"});
    EXPECT_NE(r.exitCode, 0);
    EXPECT_LT(r.cpuSeconds, 5.0);
    EXPECT_NE(r.report.find("stop budget\n"), std::string::npos) << r.report;
    EXPECT_EQ(r.pages, 1); // the page is still written as far as it got
}

} // namespace

TEST_F(JobBoundsTest, AFirstPageSkipsTheEarlierPagesButKeepsTheirState) {
    // The rectangle's size is set on page 1 only; pages 2 and 3 draw it at
    // different places, so a lost state or a shifted page number shows.
    const std::string job = "\x1b"
                            "E\x1b*c80a40B\x1b*p10x10Y\x1b*c0P\f"
                            "\x1b*p100x200Y\x1b*c0P\f"
                            "\x1b*p300x500Y\x1b*c0P\f";
    const std::vector<uint8_t> bytes(job.begin(), job.end());
    auto read = [this](const std::string& name) {
        std::stringstream text;
        text << std::ifstream(dir + name, std::ios::binary).rdbuf();
        return text.str();
    };
    Outcome all = Render(bytes, {"-r72"});
    ASSERT_EQ(all.pages, 3);
    const std::string second = read("p_002.bmp"), third = read("p_003.bmp");
    ASSERT_NE(second, third);
    for (const std::string& name : Files()) ::unlink((dir + name).c_str());

    Outcome last = Render(bytes, {"-r72", "-dTarvikFirstPage=3"});
    EXPECT_EQ(last.exitCode, 0);
    EXPECT_EQ(last.pages, 1); // the page files present, which Render counts
    EXPECT_TRUE(read("p_003.bmp") == third);

    EXPECT_NE(Render(bytes, {"-dTarvikFirstPage=0"}).exitCode, 0);
}

// A page that cannot be written stops the job at that page: the pages before
// it stay as they were, nothing half-written is left, and the report names
// the page count, the reason, the system's error and where the job stopped.
TEST_F(JobBoundsTest, APageTooLargeToWriteStopsTheJobAtThatPage) {
    // A5, A5, A3, A5, each page with its rectangle somewhere else.
    std::string job = "\x1b"
                      "E";
    const int paper[] = {25, 25, 27, 25};
    std::vector<size_t> pageEnds;
    for (int i = 0; i < 4; ++i) {
        job += "\x1b&l" + std::to_string(paper[i]) + "A\x1b*p" + std::to_string(50 + 100 * i) +
               "x" + std::to_string(80 + 150 * i) + "Y\x1b*c300a200B\x1b*c0P\f";
        pageEnds.push_back(job.size());
    }
    const std::vector<uint8_t> bytes(job.begin(), job.end());
    const std::vector<std::string> switches = {"-r200", "-dTarvikJobPaper"};
    auto read = [this](int page) {
        std::stringstream text;
        text << std::ifstream(dir + "p_00" + std::to_string(page) + ".bmp", std::ios::binary)
                    .rdbuf();
        return text.str();
    };

    Outcome all = Render(bytes, switches);
    ASSERT_EQ(all.exitCode, 0) << all.report;
    ASSERT_EQ(all.pages, 4);
    const std::string first = read(1), second = read(2);
    ASSERT_GT(first.size(), 5'000'000u);
    ASSERT_NE(first, second);
    for (const std::string& name : Files()) ::unlink((dir + name).c_str());

    // The A5 pages (5.8 MB) pass a 10 MB file size limit, the A3 one (23 MB)
    // does not.
    Outcome cut = Render(bytes, switches, 10'000'000);
    EXPECT_NE(cut.exitCode, 0);
    EXPECT_EQ(cut.pages, 2);
    EXPECT_TRUE(read(1) == first);
    EXPECT_TRUE(read(2) == second);
    int temporaries = 0;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (const dirent* e = ::readdir(d))
            if (e->d_name[0] == '.' && std::string(e->d_name) != "." &&
                std::string(e->d_name) != "..")
                ++temporaries;
        ::closedir(d);
    }
    EXPECT_EQ(temporaries, 0);
    // Stopped at the third page's end, not later.
    for (const std::string& line :
         {std::string("result -4\n"), std::string("pages 2\n"), std::string("stop write\n"),
          std::string("error File too large\n"), "bytes " + std::to_string(cut.pageBytes) + "\n",
          "broken " + std::to_string(pageEnds[2]) + "\n"})
        EXPECT_NE(cut.report.find(line), std::string::npos) << line << cut.report;
}
