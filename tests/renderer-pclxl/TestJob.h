// Runs a PCL XL byte stream through the interpreter, either onto the trace
// device (text) or onto page rasters.
#pragma once

#include "core/Job.h"
#include "core/Raster.h"
#include "pclxl/PclXl.h"

#include <sstream>
#include <string>
#include <vector>

namespace pxltest {

struct Result {
    std::string trace;
    bool ok = false;
    size_t consumed = 0;
    int pages = 0;
    int warnings = 0;
    int unsupported = 0;
    std::vector<tarvik::PageRaster> rasters;

    bool Has(const std::string& s) const { return trace.find(s) != std::string::npos; }
    size_t Count(const std::string& s) const {
        size_t n = 0;
        for (size_t at = trace.find(s); at != std::string::npos; at = trace.find(s, at + 1)) ++n;
        return n;
    }
    // Dark pixels of page `page` (0-based).
    size_t Ink(size_t page = 0) const {
        size_t n = 0;
        const tarvik::PageRaster& r = rasters.at(page);
        for (int y = 0; y < r.Height(); ++y)
            for (int x = 0; x < r.Width(); ++x) {
                tarvik::Color c = r.At(x, y);
                if (c.r + c.g + c.b < 3 * 128) ++n;
            }
        return n;
    }
};

inline Result Trace(const std::vector<uint8_t>& bytes) {
    std::ostringstream out;
    tarvik::JobOptions opt;
    opt.trace = &out;
    tarvik::JobContext job(opt);
    Result r;
    r.consumed = tarvik::pclxl::Interpret(bytes.data(), bytes.size(), job, r.ok);
    r.trace = out.str();
    r.pages = job.PagesWritten();
    r.warnings = job.WarningCount();
    r.unsupported = job.UnsupportedCount();
    return r;
}

// Renders at `dpi` onto a sheet of widthPx x heightPx.
inline Result Render(const std::vector<uint8_t>& bytes, int dpi = 72, int widthPx = 612,
                     int heightPx = 792) {
    tarvik::JobOptions opt;
    opt.xdpi = opt.ydpi = dpi;
    opt.widthPx = widthPx;
    opt.heightPx = heightPx;
    Result r;
    opt.onPage = [&](int, const tarvik::PageRaster& page) { r.rasters.push_back(page); };
    tarvik::JobContext job(opt);
    r.consumed = tarvik::pclxl::Interpret(bytes.data(), bytes.size(), job, r.ok);
    r.pages = job.PagesWritten();
    r.warnings = job.WarningCount();
    r.unsupported = job.UnsupportedCount();
    return r;
}

} // namespace pxltest
