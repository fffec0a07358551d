// What became of one input file, for views that explain a run: the row's
// status text and, beside it, why it ended so and what it lost on the way.
#pragma once

#include <string>
#include <vector>

namespace varnel {

struct RowReport {
    std::string input;                 // the row's path
    std::string status;                // "Succeed", "Failed" or "Aborted"
    std::string reason;                // why it failed or was aborted; empty on success
    std::vector<std::string> warnings; // what the renderer could not do, one text each
    int pagesRendered = 0;             // page files the renderer wrote
    std::vector<std::string> outputs;  // output files written, in order
    double seconds = 0;                // wall time of the row
};

} // namespace varnel
