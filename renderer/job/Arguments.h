// The ghostscript-style argument vector the caller passes.
#pragma once

#include <cstdint>
#include <string>

namespace tarvik {

struct Arguments {
    std::string device = "bmp16m";
    std::string outputPattern;     // -sOutputFile=
    int xdpi = 0, ydpi = 0;        // -rXxY (or -rN)
    int widthPx = 0, heightPx = 0; // -gWxH
    std::string input;             // the last argument that is not a switch
    bool verbose = false;          // -dTARVIK_VERBOSE: diagnostics on stderr (debugging)
    bool trace = false;            // -dTARVIK_TRACE: drawing calls on stdout, no page files
    std::string reportPath;        // -sTarvikReport=: the run's outcome, written there
    int64_t pageLimitBytes = -1;   // -dTarvikPageLimit=: page files of the job; -1 default
    int64_t diskReserveBytes = -1; // -dTarvikDiskReserve=: free space kept; -1 default
    bool jobPaper = false;         // -dTarvikJobPaper: pages sized by the job's own paper
    bool fit = false;              // -dTarvikFit: pages larger than the sheet shrunk onto it
    int64_t operations = -1;       // -dTarvikBudget=: work budget of the job; -1 default
    int firstPage = 1;             // -dTarvikFirstPage=: earlier pages are read, not drawn
};

// Reads argv[1 .. argc-1] (argv[0] is the program name). Unknown switches
// are ignored. Missing resolution and size default to 72 dpi and A4 at the
// resolution. Returns false, with a reason, when no input or no output is
// named, or a value is out of range.
bool ParseArguments(int argc, char** argv, Arguments& out, std::string& error);

} // namespace tarvik
