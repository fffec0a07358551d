// The library through its four entries, as the converter calls it.
#include "tarvik.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

class TempDir {
public:
    explicit TempDir(const char* name) {
        std::string base = std::string(::testing::TempDir()) + name + "XXXXXX";
        std::vector<char> t(base.begin(), base.end());
        t.push_back('\0');
        char* d = ::mkdtemp(t.data());
        if (d) m_path = d;
        m_path += "/";
    }
    ~TempDir() {
        for (const std::string& f : Files()) ::unlink((m_path + f).c_str());
        ::rmdir(m_path.c_str());
    }
    const std::string& Path() const { return m_path; }
    std::vector<std::string> Files() const {
        std::vector<std::string> out;
        if (DIR* d = ::opendir(m_path.c_str())) {
            while (dirent* e = ::readdir(d))
                if (std::string(e->d_name) != "." && std::string(e->d_name) != "..")
                    out.push_back(e->d_name);
            ::closedir(d);
        }
        std::sort(out.begin(), out.end());
        return out;
    }
    std::string Write(const std::string& name, const std::string& bytes) const {
        std::ofstream(m_path + name, std::ios::binary) << bytes;
        return m_path + name;
    }

private:
    std::string m_path;
};

// Runs the entries exactly as the converter does: nine arguments, a null
// tenth, a fresh instance per file.
int Render(const std::string& input, const std::string& pattern, int dpi = 72) {
    std::string out = "-sOutputFile=" + pattern;
    std::string res = "-r" + std::to_string(dpi) + "x" + std::to_string(dpi);
    std::string size =
        "-g" + std::to_string(int(dpi * 8.27)) + "x" + std::to_string(int(dpi * 11.69));
    std::vector<std::string> args = {"tarvik", "-dNOPAUSE", "-dBATCH", "-dSAFER", "-sDEVICE=bmp16m",
                                     out,      res,         size,      input};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    void* inst = reinterpret_cast<void*>(1);
    int r = tarvik_new_instance(&inst, nullptr);
    EXPECT_EQ(r, 0);
    if (r == 0) r = tarvik_run_with_args(inst, 9, argv.data());
    tarvik_exit(inst);
    tarvik_delete_instance(inst);
    return r;
}

TEST(Entries, RefuseBadHandlesAndArguments) {
    EXPECT_LT(tarvik_new_instance(nullptr, nullptr), 0);
    int bogus = 0;
    EXPECT_LT(tarvik_run_with_args(nullptr, 0, nullptr), 0);
    EXPECT_LT(tarvik_run_with_args(&bogus, 0, nullptr), 0);
    EXPECT_LT(tarvik_exit(nullptr), 0);
    EXPECT_LT(tarvik_delete_instance(nullptr), 0);

    TempDir dir("tarvik-args");
    std::string input = dir.Write("job.pcl", "\x1b"
                                             "E\x1b"
                                             "E");
    void* inst = nullptr;
    ASSERT_EQ(tarvik_new_instance(&inst, nullptr), 0);
    std::vector<std::string> noOutput = {"tarvik", "-r72", input};
    std::vector<char*> argv;
    for (std::string& a : noOutput) argv.push_back(a.data());
    argv.push_back(nullptr);
    EXPECT_LT(tarvik_run_with_args(inst, 3, argv.data()), 0);
    std::vector<std::string> badSize = {"tarvik", "-sOutputFile=" + dir.Path() + "p_%03d.bmp",
                                        "-g0x10", input};
    argv.clear();
    for (std::string& a : badSize) argv.push_back(a.data());
    argv.push_back(nullptr);
    EXPECT_LT(tarvik_run_with_args(inst, 4, argv.data()), 0);
    EXPECT_EQ(tarvik_exit(inst), 0);
    EXPECT_EQ(tarvik_delete_instance(inst), 0);
    EXPECT_EQ(dir.Files(), std::vector<std::string>{"job.pcl"});
}

TEST(Entries, MissingAndNonPrintInputsGiveNegativeAndNoPage) {
    TempDir dir("tarvik-none");
    TempDir out("tarvik-out");
    EXPECT_EQ(Render(dir.Path() + "missing.pcl", out.Path() + "m_%03d.bmp"), -1);
    std::string text = dir.Write("letter.txt", "Just some words.\nNo printer commands here.\n");
    EXPECT_LT(Render(text, out.Path() + "t_%03d.bmp"), 0);
    std::string folder = dir.Path();
    EXPECT_LT(Render(folder, out.Path() + "d_%03d.bmp"), 0);
    EXPECT_TRUE(out.Files().empty());
}

uint32_t Le32(const std::string& b, size_t at) {
    return uint32_t(uint8_t(b[at])) | uint32_t(uint8_t(b[at + 1])) << 8 |
           uint32_t(uint8_t(b[at + 2])) << 16 | uint32_t(uint8_t(b[at + 3])) << 24;
}

// Needs the PCL 5 interpreter: a rectangle fill on one page.
TEST(Entries, WritesCompletePagesNamedByThePattern) {
    TempDir dir("tarvik-in");
    TempDir out("tarvik%dir%03d-");
    std::string job = "\x1b%-12345X@PJL ENTER LANGUAGE=PCL\r\n\x1b"
                      "E\x1b*p0x0Y\x1b*c150a150b0P"
                      "\x1b"
                      "E\x1b%-12345X";
    std::string input = dir.Write("in put.pcl", job);
    int r = Render(input, out.Path() + "in put_%03d.bmp", 72);
    std::vector<std::string> files = out.Files();
    if (files.empty()) GTEST_SKIP() << "the PCL 5 interpreter drew no page (result " << r << ")";
    EXPECT_EQ(r, 0);
    ASSERT_EQ(files, std::vector<std::string>{"in put_001.bmp"});
    std::ifstream f(out.Path() + files[0], std::ios::binary);
    std::string b((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    const uint32_t w = 595, h = 841, row = (w * 3 + 3) & ~3u;
    ASSERT_EQ(b.size(), 54 + size_t(row) * h);
    EXPECT_EQ(b.substr(0, 2), "BM");
    EXPECT_EQ(Le32(b, 2), b.size());
    EXPECT_EQ(Le32(b, 10), 54u);
    EXPECT_EQ(Le32(b, 14), 40u);
    EXPECT_EQ(Le32(b, 18), w);
    EXPECT_EQ(Le32(b, 22), h); // positive: bottom-up
    EXPECT_EQ(uint8_t(b[28]), 24);
    EXPECT_EQ(Le32(b, 38), 2835u); // 72 dpi in pixels per metre
    // Bottom-left pixel white, something black in the top rows.
    EXPECT_EQ(uint8_t(b[54]), 255);
    bool ink = false;
    for (uint32_t y = h - 40; y < h && !ink; ++y)
        for (uint32_t x = 0; x < 100 && !ink; ++x) ink = uint8_t(b[54 + y * row + x * 3]) < 128;
    EXPECT_TRUE(ink);
}

// Needs the PCL XL interpreter: two pages, the stream cut off inside the
// second one.
TEST(Entries, TruncatedJobKeepsItsPagesAndFails) {
    const std::string header = ") HP-PCL XL;2;0\n";
    const std::string session = std::string("\xc0\x00\xf8\x86"             // Measure eInch
                                            "\xd1\x58\x02\x58\x02\xf8\x89" // 600 x 600 units
                                            "\x41",
                                            12);            // BeginSession
    const std::string page = std::string("\xc0\x00\xf8\x28" // portrait
                                         "\xc0\x02\xf8\x25" // A4
                                         "\x43",
                                         9); // BeginPage
    const std::string endPage = "\x44";
    std::string job = "\x1b%-12345X@PJL ENTER LANGUAGE=PCLXL\n" + header + session + page +
                      endPage + page + std::string("\xc0\x00\xf8", 3);
    TempDir dir("tarvik-cut");
    TempDir out("tarvik-cut-out");
    std::string input = dir.Write("cut.pxl", job);
    int r = Render(input, out.Path() + "cut_%03d.bmp");
    std::vector<std::string> files = out.Files();
    if (files.empty()) GTEST_SKIP() << "the PCL XL interpreter drew no page (result " << r << ")";
    EXPECT_LT(r, 0);
    EXPECT_EQ(files, (std::vector<std::string>{"cut_001.bmp", "cut_002.bmp"}));

    // The same job complete succeeds.
    TempDir out2("tarvik-whole-out");
    std::string whole = "\x1b%-12345X@PJL ENTER LANGUAGE=PCLXL\n" + header + session + page +
                        endPage + page + endPage + "\x42\x1b%-12345X";
    EXPECT_EQ(Render(dir.Write("whole.pxl", whole), out2.Path() + "w_%03d.bmp"), 0);
    EXPECT_EQ(out2.Files().size(), 2u);
}

} // namespace
