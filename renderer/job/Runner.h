// The job level: splits an input into jobs at UELs, reads PJL, picks the
// language (from PJL or by sniffing) and hands each job to its interpreter.
#pragma once

#include "core/Job.h"

#include <cstddef>
#include <cstdint>

namespace tarvik {

// Results of RunInput and of the entries.
enum : int {
    kResultOk = 0,
    kResultCannotOpen = -1,  // input missing or unreadable, or bad arguments
    kResultNotPrintJob = -2, // nothing in the input is PCL, PCL XL or PJL
    kResultBroken = -3,      // a job broke part-way (its completed pages are kept)
    kResultWriteFailed = -4, // a page file could not be written, or there was no room for it
};

// An interpreter entry, as pclxl::Interpret and pcl5::Interpret.
using InterpretFn = size_t (*)(const uint8_t* data, size_t size, JobContext& job, bool& ok);
struct Interpreters {
    InterpretFn pclxl;
    InterpretFn pcl5; // also HP-GL/2 jobs, with job.StartInHpgl2() set
};
// The library's own interpreters.
Interpreters DefaultInterpreters();

// Renders every job of data through job; 0 or a negative result above.
int RunInput(const uint8_t* data, size_t size, JobContext& job);
int RunInput(const uint8_t* data, size_t size, JobContext& job, const Interpreters& interpreters);

// Position of the next UEL at or after from; size when none.
size_t FindUel(const uint8_t* data, size_t size, size_t from);
// Whether data starts with a PCL XL stream header line.
bool IsXlHeader(const uint8_t* data, size_t size);
// Whether data starts with a PCL 5 escape sequence.
bool IsPcl5Escape(const uint8_t* data, size_t size);

} // namespace tarvik
