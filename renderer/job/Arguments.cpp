#include "job/Arguments.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace tarvik {

namespace {

// Whole pages up to this many pixels a side; far beyond 600 dpi A3.
constexpr int kMaxSide = 30000;
constexpr int kMaxResolution = 4800;

bool ParseInt(const char*& p, int& out) {
    errno = 0;
    char* end = nullptr;
    long v = std::strtol(p, &end, 10);
    if (end == p || errno != 0 || v < INT_MIN || v > INT_MAX) return false;
    out = int(v);
    p = end;
    return true;
}

// "AxB" or "A"; B = A when missing.
bool ParsePair(const char* p, int& a, int& b) {
    if (!ParseInt(p, a)) return false;
    if (*p == 'x' || *p == 'X') {
        ++p;
        if (!ParseInt(p, b)) return false;
    } else {
        b = a;
    }
    return *p == '\0';
}

// A byte count of at most 2^62; false for anything else.
bool ParseBytes(const char* p, int64_t& out) {
    errno = 0;
    char* end = nullptr;
    long long v = std::strtoll(p, &end, 10);
    if (end == p || *end != '\0' || errno != 0 || v < 0 || v > (1ll << 62)) return false;
    out = v;
    return true;
}

} // namespace

bool ParseArguments(int argc, char** argv, Arguments& out, std::string& error) {
    if (argc < 1 || !argv) {
        error = "no arguments";
        return false;
    }
    bool haveRes = false, haveSize = false;
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (!a) break; // the vector ends early
        if (a[0] == '-' && a[1] != '\0') {
            if (std::strncmp(a, "-sDEVICE=", 9) == 0) {
                out.device = a + 9;
            } else if (std::strncmp(a, "-sOutputFile=", 13) == 0) {
                out.outputPattern = a + 13;
            } else if (a[1] == 'r') {
                if (!ParsePair(a + 2, out.xdpi, out.ydpi)) {
                    error = std::string("bad resolution ") + a;
                    return false;
                }
                haveRes = true;
            } else if (a[1] == 'g') {
                if (!ParsePair(a + 2, out.widthPx, out.heightPx)) {
                    error = std::string("bad page size ") + a;
                    return false;
                }
                haveSize = true;
            } else if (std::strcmp(a, "-dTARVIK_VERBOSE") == 0) {
                out.verbose = true;
            } else if (std::strcmp(a, "-dTARVIK_TRACE") == 0) {
                out.trace = true;
            } else if (std::strcmp(a, "-dTarvikJobPaper") == 0) {
                out.jobPaper = true;
            } else if (std::strcmp(a, "-dTarvikFit") == 0) {
                out.fit = true;
            } else if (std::strncmp(a, "-sTarvikReport=", 15) == 0) {
                out.reportPath = a + 15;
            } else if (std::strncmp(a, "-dTarvikPageLimit=", 18) == 0) {
                if (!ParseBytes(a + 18, out.pageLimitBytes)) {
                    error = std::string("bad page limit ") + a;
                    return false;
                }
            } else if (std::strncmp(a, "-dTarvikBudget=", 15) == 0) {
                if (!ParseBytes(a + 15, out.operations)) {
                    error = std::string("bad budget ") + a;
                    return false;
                }
            } else if (std::strncmp(a, "-dTarvikFirstPage=", 18) == 0) {
                int64_t page = 0;
                if (!ParseBytes(a + 18, page) || page < 1 || page > INT_MAX) {
                    error = std::string("bad first page ") + a;
                    return false;
                }
                out.firstPage = int(page);
            } else if (std::strncmp(a, "-dTarvikDiskReserve=", 20) == 0) {
                if (!ParseBytes(a + 20, out.diskReserveBytes)) {
                    error = std::string("bad disk reserve ") + a;
                    return false;
                }
            }
            // -dNOPAUSE, -dBATCH, -dSAFER and anything else: nothing to do.
            // Rendering never pauses, always ends, and only ever reads the
            // input and writes the page files.
            continue;
        }
        out.input = a;
    }
    if (!haveRes) out.xdpi = out.ydpi = 72;
    if (out.xdpi < 1 || out.ydpi < 1 || out.xdpi > kMaxResolution || out.ydpi > kMaxResolution) {
        error = "resolution out of range";
        return false;
    }
    if (!haveSize) {
        out.widthPx = int(out.xdpi * 8.27);
        out.heightPx = int(out.ydpi * 11.69);
    }
    if (out.widthPx < 1 || out.heightPx < 1 || out.widthPx > kMaxSide || out.heightPx > kMaxSide) {
        error = "page size out of range";
        return false;
    }
    if (out.input.empty()) {
        error = "no input file";
        return false;
    }
    if (out.outputPattern.empty()) {
        error = "no output file";
        return false;
    }
    return true;
}

} // namespace tarvik
