// Runs the HP-GL/2 interpreter on the fuzz bytes as a plot file, on a small
// page raster (no files), under a modest operation budget.
#include "core/Job.h"
#include "pcl5/Pcl5.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    tarvik::JobOptions o;
    o.xdpi = o.ydpi = 20;
    o.widthPx = 165;
    o.heightPx = 233;
    o.limits.maxPages = 20;
    o.limits.maxOperations = 2'000'000;
    o.onPage = [](int, const tarvik::PageRaster&) {};
    tarvik::JobContext job(o);
    job.SetStartInHpgl2(true);
    bool ok = true;
    tarvik::pcl5::Interpret(data, size, job, ok);
    return 0;
}
