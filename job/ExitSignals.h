// Interrupt, terminate and hang-up, for both programs: whatever a run has
// half-made (the page folder, an unfinished output file) is removed before
// the program ends the way the signal would have ended it.
#pragma once

#include <functional>

namespace varnel {

// Takes SIGINT, SIGTERM and SIGHUP on a thread of its own, so the reaction
// may lock and touch files. Call before any other thread exists: threads
// inherit the blocked signals. For each signal, keepRunning (may be empty)
// decides: true carries on; false removes the work files and ends the program.
void HandleExitSignals(std::function<bool(int signal)> keepRunning);

} // namespace varnel
