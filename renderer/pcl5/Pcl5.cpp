#include "Pcl5.h"

#include "Pcl5Interp.h"

#include "fonts/SoftFont.h"

namespace tarvik::pcl5 {

size_t Interpret(const uint8_t* data, size_t size, JobContext& job, bool& ok) {
    // A new PCL 5 job after a UEL starts with only the permanent fonts,
    // symbol sets, macros and patterns.
    job.SoftFonts().RemoveAll(true);
    job.SoftFonts().SymbolSetControl(1, 0);
    Interpreter interpreter(job);
    interpreter.TakeKeptDownloads();
    size_t used = interpreter.Run(data, size, ok);
    interpreter.KeepPermanentDownloads();
    return used;
}

bool InterpretOnPage(const uint8_t* data, size_t size, JobContext& job, const HostPage& host) {
    if (!job.PageOpen()) return false;
    Interpreter interpreter(job);
    interpreter.AttachToHostPage(host);
    bool ok = true;
    interpreter.Run(data, size, ok);
    return ok;
}

} // namespace tarvik::pcl5
