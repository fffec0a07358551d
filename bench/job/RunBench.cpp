// A 20-page run end to end: the stand-in renderer writes A4 pages, the real
// engine converts them. Reports how much of the run is spent outside the
// renderer and the converter, which is what the runner itself costs.
#include "JobTestSupport.h"
#include "Renderer.h"
#include "Runner.h"

#include "ImgConv.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <dlfcn.h>

using namespace varnel;
using namespace testing_support;

namespace {

using Clock = std::chrono::steady_clock;
long long g_convertNs = 0;

template <typename F, typename... A> int Timed(F f, A... a) {
    auto start = Clock::now();
    int r = f(a...);
    g_convertNs +=
        std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - start).count();
    return r;
}

int Create() {
    return Timed(ImgConvCreate);
}
int AddFile(int h, const char* p, int f) {
    return Timed(ImgConvAddFile, h, p, f);
}
int SetOption(int h, int c, const char* t, int v, void* r) {
    return Timed(ImgConvSetOption, h, c, t, v, r);
}
int Run(int h) {
    return Timed(ImgConvRun, h);
}
int Destroy(int h) {
    return Timed(ImgConvDestroy, h);
}

void RunPages(benchmark::State& state, int formatIndex, bool merge) {
    TempDir tmp;
    std::string pages = tmp / "tmp";
    ::mkdir(pages.c_str(), 0700);
    ::setenv("TMPDIR", pages.c_str(), 1);
    std::string input = tmp / "twenty.pcl";
    WriteText(input, "pages 20 size page");

    Renderer renderer;
    if (!renderer.LoadRenderer(FakeRendererPath().c_str())) {
        state.SkipWithError("stand-in renderer not found");
        return;
    }
    void* lib = ::dlopen(FakeRendererPath().c_str(), RTLD_NOW | RTLD_NOLOAD);
    auto runNs = reinterpret_cast<long long (*)()>(::dlsym(lib, "tarvik_test_run_ns"));

    ConvertSettings settings;
    settings.xdpi = settings.ydpi = static_cast<int>(state.range(0));
    settings.multpage = merge ? 1 : 0;
    settings.compress = 1; // LZW
    const ConverterApi api{Create, AddFile, SetOption, Run, Destroy};

    double total = 0, render = 0, convert = 0;
    for (auto _ : state) {
        RecordingView view({input});
        Runner runner(view, renderer, api);
        long long render0 = runNs(), convert0 = g_convertNs;
        auto start = Clock::now();
        runner.StartStop(formatIndex, 1, settings, tmp / "out/");
        runner.Wait();
        total += std::chrono::duration<double>(Clock::now() - start).count();
        render += (runNs() - render0) / 1e9;
        convert += (g_convertNs - convert0) / 1e9;
        if (view.FinalStatuses()[0] != "Succeed") state.SkipWithError("the run did not succeed");
    }
    ::dlclose(lib);
    ::unsetenv("TMPDIR");
    state.counters["render_s"] = render / state.iterations();
    state.counters["convert_s"] = convert / state.iterations();
    state.counters["outside_pct"] = 100.0 * (total - render - convert) / total;
}

void BM_TwentyPagesPng(benchmark::State& state) {
    RunPages(state, 3, false);
}
void BM_TwentyPagesMergedTiff(benchmark::State& state) {
    RunPages(state, 1, true);
}
void BM_TwentyPagesJpeg(benchmark::State& state) {
    RunPages(state, 0, false);
}

BENCHMARK(BM_TwentyPagesPng)->Arg(72)->Arg(150)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_TwentyPagesMergedTiff)->Arg(150)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_TwentyPagesJpeg)->Arg(150)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace

BENCHMARK_MAIN();
