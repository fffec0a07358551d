// Batch conversion for varnel-convert: every input is converted by a child
// process of its own (the runner on a one-row list), up to N at once, under a
// time and a memory limit, so a renderer crash, hang or runaway allocation
// fails that file only. Results come back in input order.
#pragma once

#include "ConvertSettings.h"
#include "Renderer.h"
#include "RowReport.h"

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace varnel {

enum class Existing { Overwrite, NoClobber, Skip };

struct BatchSettings {
    int formatIndex = 3; // format list index (3: PNG)
    int outputMode = 0;  // 0 beside the source, 1 into outputFolder
    std::string outputFolder;
    ConvertSettings settings;
    int jobs = 1;
    int timeoutSeconds = 0;                 // 0: no limit
    long maxMemoryMiB = 0;                  // 0: no limit
    std::vector<std::pair<int, int>> pages; // inclusive ranges; empty: every page
    PageCanvas canvas;
    Existing existing = Existing::Overwrite;
    bool strict = false;
};

// One input and the name its outputs take.
struct FileTask {
    std::string input;
    std::string stem;        // output file name stem (the input's, or renamed)
    std::string renamedFrom; // the earlier input whose names this one would take
};

struct FileResult : RowReport {
    std::vector<std::string> notes; // said beside the row, not warnings
    bool skipped = false;           // --skip-existing found its outputs
    double workSeconds = 0;         // rendering and converting, inside its process
};

// Output naming of the runner, for checks made before a file is converted.
std::string OutputExtension(int formatIndex);
// The folder the file's outputs go to, ending in "/".
std::string OutputFolderOf(const BatchSettings& s, const std::string& input,
                           const std::string& stem);
// An output of this stem that exists already (the single file, a numbered
// page file or the merged file); empty when none.
std::string ExistingOutput(const BatchSettings& s, const std::string& input,
                           const std::string& stem);

// Tasks for the inputs: a later input whose outputs would land on an earlier
// one's names gets "-2", "-3", ... after its stem.
std::vector<FileTask> PlanTasks(const std::vector<std::string>& inputs, const BatchSettings& s);

// The K-th (from 0) of N slices: every N-th task from K on.
std::vector<FileTask> ShardTasks(const std::vector<FileTask>& tasks, int k, int n);

// Signals taken through a descriptor, so the batch loop can poll them.
class SignalWatch {
public:
    SignalWatch(); // blocks SIGINT, SIGTERM, SIGHUP and reads them
    ~SignalWatch();
    int Fd() const { return m_fd; }
    // Reads pending signals; returns the last one (0 when none).
    int Take();
    // Ends the process the way the signal would have.
    [[noreturn]] static void Reraise(int sig);

private:
    int m_fd = -1;
};

struct BatchEvents {
    std::function<void(int index)> started;
    std::function<void(int index, int pages)> rendered;               // page files made so far
    std::function<void(int index, int page, int pages)> page;         // converting page of pages
    std::function<void(int index, const FileResult&)> finished;       // in completion order
    std::function<void(int index, const std::string& status)> status; // status changes
};

enum class SignalMode {
    StopThenQuit, // first SIGINT stops each file at its next test point; more ends at once
    FinishInHand, // SIGINT/SIGTERM: start nothing new, let running files finish
};

struct BatchOutcome {
    int started = 0;
    int signal = 0; // the signal that ended the batch at once (0: none)
    bool stopRequested = false;
};

// Converts the tasks. The renderer is loaded already; children inherit it.
BatchOutcome RunBatch(const std::vector<FileTask>& tasks, const BatchSettings& s,
                      Renderer& renderer, SignalWatch& signals, SignalMode mode,
                      const BatchEvents& events);

} // namespace varnel
