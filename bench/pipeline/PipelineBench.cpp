// One print file through the whole pipeline as the job runner drives it: the
// renderer writes the page files, the converter turns each into the output.
// Prints one line: pages, seconds of each step and pages per second.
//
//   pipeline_bench <libtarvik.so> <job> <dpi> <png|g4|jpg|lzw|jp2> [out folder]
//
// render   the renderer's run, writing its page files (VARNEL_PAGE_LIMIT_MB
//          bounds how many it writes, as for the runner);
// handoff  the page files' cost outside drawing and coding: the renderer's
//          writes of them (its writev calls, timed here) and loading them back;
// encode   the converter's run less the loading of its page.
// The render column is the renderer's run less its page file writes.
#include "ImgConv.h"
#include "Raster.h"
#include "Renderer.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <dlfcn.h>
#include <string>
#include <sys/uio.h>
#include <unistd.h>
#include <vector>

namespace {

// Wall and processor seconds: on a shared machine the processor time of each
// step says more than its wall time.
struct Tick {
    double wall = 0, cpu = 0;
    Tick operator-(const Tick& o) const { return {wall - o.wall, cpu - o.cpu}; }
    Tick operator+(const Tick& o) const { return {wall + o.wall, cpu + o.cpu}; }
    Tick& operator+=(const Tick& o) { return *this = *this + o; }
};

Tick Now() {
    timespec t{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return {
        std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count(),
        double(t.tv_sec) + double(t.tv_nsec) * 1e-9};
}

std::vector<std::string> PageFiles(const std::string& folder) {
    std::vector<std::string> pages;
    if (DIR* d = ::opendir(folder.c_str())) {
        while (dirent* e = ::readdir(d)) {
            const std::string name = e->d_name;
            if (name.size() > 4 && name.compare(name.size() - 4, 4, ".bmp") == 0)
                pages.push_back(folder + name);
        }
        ::closedir(d);
    }
    std::sort(pages.begin(), pages.end());
    return pages;
}

Tick g_writing; // the renderer's page file writes, counted by writev below

} // namespace

// The renderer writes its page files with writev; this program's own writev
// comes first in symbol lookup (the executable exports it), so each write's
// wall and processor time is counted before it is passed on.
extern "C" ssize_t writev(int fd, const iovec* iov, int count) {
    using Writev = ssize_t (*)(int, const iovec*, int);
    static const Writev real = reinterpret_cast<Writev>(::dlsym(RTLD_NEXT, "writev"));
    timespec c0{}, c1{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &c0);
    const auto w0 = std::chrono::steady_clock::now();
    const ssize_t n = real(fd, iov, count);
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &c1);
    g_writing.wall += std::chrono::duration<double>(std::chrono::steady_clock::now() - w0).count();
    g_writing.cpu += double(c1.tv_sec - c0.tv_sec) + double(c1.tv_nsec - c0.tv_nsec) * 1e-9;
    return n;
}

namespace {} // namespace

int main(int argc, char** argv) {
    if (argc < 5) {
        std::fprintf(stderr, "usage: %s libtarvik.so job dpi png|g4|jpg|lzw|jp2 [out]\n", argv[0]);
        return 2;
    }
    const std::string job = argv[2];
    const int dpi = std::atoi(argv[3]);
    const std::string kind = argv[4];
    const std::string out = argc > 5 ? argv[5] : "/tmp";
    varnel::Renderer renderer;
    if (!renderer.LoadRenderer(argv[1])) {
        std::fprintf(stderr, "cannot load %s\n", argv[1]);
        return 1;
    }
    Tick start = Now();
    renderer.RenderPages(job, "bench", dpi, dpi);
    const Tick rendering = Now() - start;
    const std::vector<std::string> pages = PageFiles(renderer.PageFolder());

    const Tick writing = g_writing;
    Tick loading, converting;
    int failed = 0;
    for (size_t i = 0; i < pages.size(); ++i) {
        const std::string& page = pages[i];
        {
            CRaster image(kFormatNone);
            start = Now();
            if (!image.LoadPageFile(page, kFormatBMP)) ++failed;
            // A mapped page costs its page faults when a writer first reads
            // it; reading a byte of every 4 KiB counts them here.
            unsigned sum = 0;
            const size_t bytes = size_t(image.header.sizeImage);
            const uint8_t* rows = image.RowPointer(0);
            for (size_t at = 0; rows && at < bytes; at += 4096) sum += rows[at];
            loading += Now() - start;
            if (sum == 1) std::fputs("", stderr); // keeps the reads
        }
        const int h = ImgConvCreate();
        const std::string ext = kind == "g4" || kind == "lzw" ? "tif" : kind;
        const std::string output = out + "/bench-" + std::to_string(i + 1) + "." + ext;
        ImgConvSetOption(h, OPT_OUTPUT_PATH, output.c_str(), 0, nullptr);
        ImgConvAddFile(h, page.c_str(), 1);
        ImgConvSetOption(h, OPT_XDPI, nullptr, dpi, nullptr);
        ImgConvSetOption(h, OPT_YDPI, nullptr, dpi, nullptr);
        int bpp = 24;
        if (kind == "png") {
            ImgConvSetOption(h, OPT_FORMAT, nullptr, FMT_PNG, nullptr);
        } else if (kind == "jpg") {
            ImgConvSetOption(h, OPT_FORMAT, nullptr, FMT_JPEG, nullptr);
            ImgConvSetOption(h, OPT_QUALITY, nullptr, 75, nullptr);
        } else if (kind == "jp2") {
            ImgConvSetOption(h, OPT_FORMAT, nullptr, FMT_JP2, nullptr);
        } else {
            ImgConvSetOption(h, OPT_FORMAT, nullptr, FMT_TIFF, nullptr);
            // The engine's words: 4 Group 4 (black and white), 1 LZW.
            ImgConvSetOption(h, OPT_TIFF_COMPRESSION, nullptr, kind == "g4" ? 4 : 1, nullptr);
            if (kind == "g4") bpp = 1;
        }
        ImgConvSetOption(h, OPT_BPP, nullptr, bpp, nullptr);
        start = Now();
        if (ImgConvRun(h) == 0) ++failed;
        converting += Now() - start;
        ImgConvDestroy(h);
        ::unlink(output.c_str());
    }
    renderer.RemovePageFolder(pages);

    // The converter loads the page itself: its share counts as hand-off.
    const Tick handoff = writing + loading;
    const Tick render = rendering - writing;
    const Tick encode = converting - loading;
    const Tick total = rendering + converting;
    std::printf("%zu pages%s  wall: render %.2f handoff %.2f (write %.2f load %.2f) encode %.2f "
                "total %.2f s, %.2f pages/s, handoff %.1f %%  |  cpu: render %.2f handoff %.2f "
                "(write %.2f load %.2f) encode %.2f total %.2f s, handoff %.1f %%\n",
                pages.size(), failed ? " (failures)" : "", render.wall, handoff.wall, writing.wall,
                loading.wall, encode.wall, total.wall,
                total.wall > 0 ? double(pages.size()) / total.wall : 0.0,
                total.wall > 0 ? 100.0 * handoff.wall / total.wall : 0.0, render.cpu, handoff.cpu,
                writing.cpu, loading.cpu, encode.cpu, total.cpu,
                total.cpu > 0 ? 100.0 * handoff.cpu / total.cpu : 0.0);
    return failed ? 1 : 0;
}
