// PCL 5 page features at 600 dpi: a page-sized fill with a shading, a
// cross-hatch or a user pattern against the same fill in solid black, and a
// form drawn on 100 pages by an overlay macro against the same form sent
// with every page. Pages are rasterised and handed over, not written.
#include "core/Job.h"
#include "pcl5/Pcl5.h"

#include <benchmark/benchmark.h>

#include <string>

using namespace tarvik;

namespace {

const std::string E = "\x1b";

void RunJob(benchmark::State& state, const std::string& job, int dpi = 600) {
    int pages = 0;
    for (auto _ : state) {
        JobOptions o;
        o.xdpi = o.ydpi = dpi;
        o.widthPx = int(dpi * 8.27);
        o.heightPx = int(dpi * 11.69);
        o.onPage = [&](int, const PageRaster&) { ++pages; };
        JobContext ctx(o);
        bool ok = false;
        pcl5::Interpret(reinterpret_cast<const uint8_t*>(job.data()), job.size(), ctx, ok);
        benchmark::DoNotOptimize(ok);
    }
    state.counters["pages"] = benchmark::Counter(pages, benchmark::Counter::kIsRate);
}

// Ten full-width bands that together cover the page, filled as asked.
std::string Bands(const std::string& select, const std::string& fill) {
    std::string job = E + "E" + E + "&l0E" + select;
    for (int i = 0; i < 10; ++i)
        job += E + "*p0x" + std::to_string(i * 340) + "Y" + E + "*c2400a340b" + fill;
    return job + "\x0c";
}

std::string UserPattern() {
    std::string data = {0, 0, 1, 0, 0, 8, 0, 8};
    for (int i = 0; i < 8; ++i) data += char(i % 2 ? 0xaa : 0x55);
    return E + "*c7g" + std::to_string(data.size()) + "W" + data;
}

void BM_FillSolid(benchmark::State& s) {
    RunJob(s, Bands("", "0P"));
}
void BM_FillShading(benchmark::State& s) {
    RunJob(s, Bands(E + "*c45G", "2P"));
}
void BM_FillHatch(benchmark::State& s) {
    RunJob(s, Bands(E + "*c6G", "3P"));
}
void BM_FillUserPattern(benchmark::State& s) {
    RunJob(s, Bands(UserPattern(), "4P"));
}

// A form: ruled boxes, shaded headers and a hatched stamp.
std::string Form() {
    std::string f;
    for (int row = 0; row < 30; ++row)
        f += E + "*p100x" + std::to_string(300 + row * 100) + "Y" + E + "*c2200a3b0P";
    for (int col = 0; col < 6; ++col)
        f += E + "*p" + std::to_string(100 + col * 440) + "x300Y" + E + "*c3a2900b0P";
    f += E + "*p100x200Y" + E + "*c20g2200a100b2P";
    f += E + "*p1800x3250Y" + E + "*c5g500a300b3P";
    return f;
}

void BM_FormOnEveryPage(benchmark::State& s) {
    std::string job = E + "E";
    for (int i = 0; i < 100; ++i) job += Form() + E + "*p100x100Y" + E + "*c50a50b0P\x0c";
    RunJob(s, job, 150);
}

void BM_FormAsOverlay(benchmark::State& s) {
    std::string job = E + "E" + E + "&f1y0X" + Form() + E + "&f1X" + E + "&f4X";
    for (int i = 0; i < 100; ++i) job += E + "*p100x100Y" + E + "*c50a50b0P\x0c";
    RunJob(s, job, 150);
}

} // namespace

BENCHMARK(BM_FillSolid)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FillShading)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FillHatch)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FillUserPattern)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FormOnEveryPage)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FormAsOverlay)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
