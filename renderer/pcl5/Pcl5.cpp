#include "Pcl5.h"

#include "Pcl5Interp.h"

#include "fonts/SoftFont.h"

namespace tarvik::pcl5 {

size_t Interpret(const uint8_t* data, size_t size, JobContext& job, bool& ok) {
    // A new PCL 5 job after a UEL starts with only the permanent fonts.
    job.SoftFonts().RemoveAll(true);
    Interpreter interpreter(job);
    return interpreter.Run(data, size, ok);
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
