// Watch folders: converts every print file that arrives in a folder, one
// batch at a time, and moves each input to done/ or failed/ (with a .log
// beside a failed one). Runs until SIGINT or SIGTERM, finishing the files in
// hand; files that arrived while it was not running are taken at start.
#pragma once

#include "Batch.h"
#include "CommandLine.h"

#include <string>

namespace varnel {

struct WatchSettings {
    std::string folder;
    bool outputGiven = false; // else outputs go to <folder>/out/
};

// Exit status: 0 stopped by a signal, 1 the folder went away, 2 it cannot be
// watched.
int RunWatch(const WatchSettings& watch, BatchSettings batch, Renderer& renderer,
             SignalWatch& signals, ReportStyle style);

} // namespace varnel
