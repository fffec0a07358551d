// A stand-in for the page renderer, built only for the tests. It exports the
// four entries and obeys lines in the input file:
//   pages N      write N page bitmaps (default 1)
//   size WxH     page size in pixels (default 8x8); "size page" takes -g
//   run R        tarvik_run_with_args returns R (after writing the pages)
//   sleep MS     wait inside the run, before writing the pages
//   hold MS      wait inside the run, after writing the pages
//   extra NAME   also write a file NAME into the page folder
//   crash        die of SIGSEGV inside the run
//   alloc MB     allocate and touch MB megabytes inside the run
//   warn WORD    report the warning WORD through -sTarvikReport
// With TARVIK_TEST_LOG set, every call is appended to that file;
// TARVIK_TEST_NEW_RESULT is what tarvik_new_instance returns (default 0).
#include "tarvik.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Script {
    int pages = 1;
    int width = 8, height = 8;
    bool pageSize = false;
    int runResult = 0;
    int sleepMs = 0;
    int holdMs = 0;
    bool crash = false;
    long allocMb = 0;
    std::vector<std::string> warnings;
    std::vector<std::string> extras;
};

long long g_runNs = 0;
int g_instanceTag = 0;

void Log(const std::string& line) {
    const char* path = std::getenv("TARVIK_TEST_LOG");
    if (!path) return;
    std::ofstream out(path, std::ios::app);
    out << line << "\n";
}

bool ReadScript(const std::string& path, Script* s) {
    std::ifstream in(path);
    if (!in) return false;
    std::string word;
    while (in >> word) {
        if (word == "pages")
            in >> s->pages;
        else if (word == "run")
            in >> s->runResult;
        else if (word == "sleep")
            in >> s->sleepMs;
        else if (word == "hold")
            in >> s->holdMs;
        else if (word == "crash")
            s->crash = true;
        else if (word == "alloc")
            in >> s->allocMb;
        else if (word == "warn") {
            std::string w;
            in >> w;
            s->warnings.push_back(w);
        } else if (word == "extra") {
            std::string name;
            in >> name;
            s->extras.push_back(name);
        } else if (word == "size") {
            std::string v;
            in >> v;
            if (v == "page")
                s->pageSize = true;
            else
                std::sscanf(v.c_str(), "%dx%d", &s->width, &s->height);
        }
    }
    return true;
}

void Put16(std::string& b, int v) {
    b.push_back(static_cast<char>(v & 0xff));
    b.push_back(static_cast<char>((v >> 8) & 0xff));
}
void Put32(std::string& b, long v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<char>((v >> (8 * i)) & 0xff));
}

bool WriteBmp(const std::string& path, int w, int h, int page, int dpi) {
    const int stride = (w * 3 + 3) & ~3;
    std::string b;
    b += "BM";
    Put32(b, 54L + static_cast<long>(stride) * h);
    Put32(b, 0);
    Put32(b, 54);
    Put32(b, 40);
    Put32(b, w);
    Put32(b, h);
    Put16(b, 1);
    Put16(b, 24);
    Put32(b, 0);
    Put32(b, static_cast<long>(stride) * h);
    Put32(b, static_cast<long>(dpi * 39.37 + 0.5));
    Put32(b, static_cast<long>(dpi * 39.37 + 0.5));
    Put32(b, 0);
    Put32(b, 0);
    std::string row(static_cast<std::size_t>(stride), '\0');
    for (int x = 0; x < w; ++x) {
        row[x * 3 + 0] = static_cast<char>(255);
        row[x * 3 + 1] = static_cast<char>((page * 40) & 0xff);
        row[x * 3 + 2] = static_cast<char>((x * 255) / (w > 1 ? w - 1 : 1));
    }
    for (int y = 0; y < h; ++y) b += row;
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = std::fwrite(b.data(), 1, b.size(), f) == b.size();
    return (std::fclose(f) == 0) && ok;
}

// Only the last "%03d" is the page number; every other character is literal.
std::string PageFile(const std::string& pattern, int page) {
    std::size_t at = pattern.rfind("%03d");
    if (at == std::string::npos) return pattern;
    char number[16];
    std::snprintf(number, sizeof number, "%03d", page);
    return pattern.substr(0, at) + number + pattern.substr(at + 4);
}

} // namespace

extern "C" {

TARVIK_EXPORT int tarvik_new_instance(void** instance, void* caller) {
    Log(std::string("new ") + (*instance == nullptr ? "null" : "set") + " " +
        (caller == nullptr ? "null" : "set"));
    *instance = &g_instanceTag;
    const char* result = std::getenv("TARVIK_TEST_NEW_RESULT");
    return result ? std::atoi(result) : 0;
}

TARVIK_EXPORT int tarvik_run_with_args(void* instance, int argc, char** argv) {
    auto start = std::chrono::steady_clock::now();
    std::ostringstream line;
    line << "run " << (instance == &g_instanceTag ? "ok" : "bad") << " " << argc;
    Log(line.str());
    for (int i = 0; i < argc; ++i) Log(std::string("arg ") + argv[i]);
    Log(std::string("argv[argc] ") + (argv[argc] == nullptr ? "null" : "set"));
    if (argc < 9) return -100; // switches may follow the nine

    Script s;
    if (!ReadScript(argv[8], &s)) return -1;
    std::string pattern = argv[5];
    pattern = pattern.substr(std::strlen("-sOutputFile="));
    int dpi = 72, gw = 0, gh = 0;
    std::sscanf(argv[6], "-r%d", &dpi);
    std::sscanf(argv[7], "-g%dx%d", &gw, &gh);
    if (s.pageSize) {
        s.width = gw;
        s.height = gh;
    }
    if (s.sleepMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(s.sleepMs));
    if (s.crash) std::raise(SIGSEGV);
    if (s.allocMb > 0) {
        std::vector<char> block(static_cast<std::size_t>(s.allocMb) << 20, 1);
        Log("allocated " + std::to_string(block.size()));
    }
    for (int page = 1; page <= s.pages; ++page)
        if (!WriteBmp(PageFile(pattern, page), s.width, s.height, page, dpi)) return -2;
    std::string folder = pattern.substr(0, pattern.rfind('/') + 1);
    for (const std::string& extra : s.extras) std::ofstream(folder + extra) << "x";
    for (int i = 9; i < argc && !s.warnings.empty(); ++i) {
        if (std::strncmp(argv[i], "-sTarvikReport=", 15) != 0) continue;
        std::ofstream report(argv[i] + 15);
        report << "result " << s.runResult << "\npages " << s.pages << "\n";
        for (const std::string& w : s.warnings) report << "warning " << w << "\n";
    }
    if (s.holdMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(s.holdMs));
    g_runNs += std::chrono::duration_cast<std::chrono::nanoseconds>(
                   std::chrono::steady_clock::now() - start)
                   .count();
    return s.runResult;
}

TARVIK_EXPORT int tarvik_exit(void* instance) {
    Log(std::string("exit ") + (instance == &g_instanceTag ? "ok" : "bad"));
    return 0;
}

TARVIK_EXPORT int tarvik_delete_instance(void* instance) {
    Log(std::string("delete ") + (instance == &g_instanceTag ? "ok" : "bad"));
    return 0;
}

// Time spent inside runs, for the benchmark.
TARVIK_EXPORT long long tarvik_test_run_ns() {
    return g_runNs;
}
}
