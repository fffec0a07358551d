// Stand-ins that keep the library linkable while an interpreter is absent:
// they take nothing and report the stream as broken, so the job level skips
// to the next UEL. The interpreters' own definitions replace them.
#include "pcl5/Pcl5.h"
#include "pclxl/PclXl.h"

namespace tarvik::pclxl {
__attribute__((weak)) size_t Interpret(const uint8_t*, size_t, JobContext&, bool& ok) {
    ok = false;
    return 0;
}
} // namespace tarvik::pclxl

namespace tarvik::pcl5 {
__attribute__((weak)) size_t Interpret(const uint8_t*, size_t, JobContext&, bool& ok) {
    ok = false;
    return 0;
}
} // namespace tarvik::pcl5
