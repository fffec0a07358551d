// The four entries of the page renderer libtarvik.so. A caller creates a fresh
// instance per input file, runs it once with a ghostscript-style argument
// vector, then exits and deletes it.
#pragma once

#if defined(__GNUC__)
#define TARVIK_EXPORT __attribute__((visibility("default")))
#else
#define TARVIK_EXPORT
#endif

extern "C" {
// Sets *instance to a new interpreter. 0 = success; negative = failure (no
// further call is made); positive = the caller skips the run.
TARVIK_EXPORT int tarvik_new_instance(void** instance, void* caller_handle);
// Renders the input named by the argument vector. 0 = success; negative when
// the input cannot be opened, is not a print job, or broke part-way.
TARVIK_EXPORT int tarvik_run_with_args(void* instance, int argc, char** argv);
TARVIK_EXPORT int tarvik_exit(void* instance);
TARVIK_EXPORT int tarvik_delete_instance(void* instance);
}

// Entry types, for callers that bind the library at run time.
using TarvikNewInstanceFn = int (*)(void**, void*);
using TarvikRunWithArgsFn = int (*)(void*, int, char**);
using TarvikExitFn = int (*)(void*);
using TarvikDeleteInstanceFn = int (*)(void*);
