// varnel-convert: the command-line front end on the conversion runner.
#include "Batch.h"
#include "CommandLine.h"
#include "ConvertSettings.h"
#include "InputFiles.h"
#include "Inputs.h"
#include "Renderer.h"
#include "Watch.h"

#include <chrono>
#include <csignal>
#include <iostream>
#include <sched.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace varnel;

int Cores() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (::sched_getaffinity(0, sizeof set, &set) == 0) return std::max(1, CPU_COUNT(&set));
    return 1;
}

int UsageError(const std::string& error) {
    std::cerr << "varnel-convert: " << error << "\n"
              << "Try 'varnel-convert --help'.\n";
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    CommandLine options;
    std::string error;
    if (!ParseCommandLine(args, &options, &error)) return UsageError(error);
    if (options.help) {
        std::cout << UsageText();
        return 0;
    }
    if (options.version) {
        std::cout << "varnel-convert " << VARNEL_VERSION << "\n";
        return 0;
    }

    // The program's own defaults; the desktop program's profile only on request.
    WindowSettings window;
    ConvertSettings settings;
    window.type = 3; // PNG
    window.mode = 0; // beside the source
    settings.xdpi = settings.ydpi = 300;
    std::string profile = options.useDesktopProfile ? ProfilePath() : options.profile;
    if (!options.profile.empty() && !FileReadable(profile)) {
        std::cerr << "varnel-convert: cannot read the profile " << profile << "\n";
        return 2;
    }
    if (!profile.empty()) {
        window = LoadWindowSettings(profile);
        settings = LoadSettings(profile);
    }
    std::string note = ApplyOptions(options, &window, &settings);
    if (!note.empty() && !options.quiet) std::cerr << "varnel-convert: " << note << "\n";
    if (std::string bad = CheckCompression(window.type, settings); !bad.empty())
        return UsageError(bad);

    BatchSettings batch;
    batch.formatIndex = window.type;
    batch.outputMode = window.mode;
    batch.outputFolder = window.output;
    batch.settings = settings;
    batch.jobs = options.jobs ? *options.jobs : Cores();
    batch.timeoutSeconds = options.timeoutSeconds;
    batch.maxMemoryMiB = options.maxMemoryMiB;
    batch.pages = options.pages;
    batch.strict = options.strict;
    batch.existing = options.existing == "no-clobber"      ? Existing::NoClobber
                     : options.existing == "skip-existing" ? Existing::Skip
                                                           : Existing::Overwrite;
    if (options.paper == "letter") {
        batch.canvas.widthInches = 8.5;
        batch.canvas.heightInches = 11;
    } else if (options.paper == "legal") {
        batch.canvas.widthInches = 8.5;
        batch.canvas.heightInches = 14;
    } else if (options.paper == "auto") {
        batch.canvas.switches.push_back("-dTarvikJobPaper");
    }
    if (options.fit) batch.canvas.switches.push_back("-dTarvikFit");

    Renderer renderer;
    if (!renderer.LoadRenderer()) {
        std::cerr << kLoadRendererFailed << "\n";
        if (options.verbose) std::cerr << "varnel-convert: " << renderer.LoadError() << "\n";
        return 2;
    }
    // Options win over VARNEL_PAGE_LIMIT_MB and VARNEL_DISK_RESERVE_MB.
    auto bytes = [](const std::optional<long>& mib) { return mib ? (long long)*mib << 20 : -1; };
    renderer.SetPageLimits(bytes(options.pageLimitMiB), bytes(options.diskReserveMiB));

    // A reader that goes away (| head) must not end the run half way, and a
    // file size limit (ulimit -f) makes a write fail, which is reported,
    // instead of killing the process.
    ::signal(SIGPIPE, SIG_IGN);
    ::signal(SIGXFSZ, SIG_IGN);
    SignalWatch signals;

    ReportStyle style;
    style.quiet = options.quiet;
    style.verbose = options.verbose;
    style.json = options.json;
    style.progress = ::isatty(STDERR_FILENO) == 1;

    if (options.watchFolder) {
        WatchSettings watch;
        watch.folder = *options.watchFolder;
        watch.outputGiven = window.mode == 1 && options.outputFolder.has_value();
        return RunWatch(watch, batch, renderer, signals, style);
    }

    InputRules rules;
    rules.recursive = options.recursive;
    rules.listFiles = options.filesFrom;
    rules.nullSeparated = options.nullSeparated;
    InputList list = GatherInputList(options.inputs, rules);

    std::vector<FileTask> tasks = PlanTasks(list.files, batch);
    tasks = ShardTasks(tasks, options.shardIndex, options.shardCount);
    std::vector<std::string> inputs;
    for (const FileTask& t : tasks) inputs.push_back(t.input);

    BatchReport report(inputs, std::cout, std::cerr, style);
    std::vector<long long> sizes;
    for (const std::string& input : inputs) {
        struct stat st {};
        sizes.push_back(::stat(input.c_str(), &st) == 0 ? st.st_size : 0);
    }
    report.SetInputBytes(sizes);
    // Inputs that were not taken belong to the first shard, so a sharded
    // batch names each once.
    if (options.shardIndex == 0) {
        for (const Rejected& r : list.rejected) report.Rejected(r.path, r.reason);
        if (!options.quiet)
            for (const std::string& d : list.duplicates)
                std::cerr << "varnel-convert: " << d << ": named before; converted once\n";
    }
    if (inputs.empty() && list.rejected.empty() && options.shardCount == 1) {
        std::cerr << "varnel-convert: no input file found\n";
        return 1;
    }

    BatchEvents events;
    events.started = [&](int i) { report.Started(i); };
    events.rendered = [&](int i, int pages) { report.Rendered(i, pages); };
    events.page = [&](int i, int page, int pages) { report.Page(i, page, pages); };
    events.status = [&](int i, const std::string& s) { report.Status(i, s); };
    events.finished = [&](int i, const FileResult& r) { report.Finished(i, r); };
    auto start = std::chrono::steady_clock::now();
    BatchOutcome outcome =
        RunBatch(tasks, batch, renderer, signals, SignalMode::StopThenQuit, events);
    report.ClearProgress();
    if (outcome.signal != 0) SignalWatch::Reraise(outcome.signal);
    report.Summary(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    return report.ExitStatus();
}
