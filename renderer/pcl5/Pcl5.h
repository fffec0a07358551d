#pragma once

#include <cstddef>
#include <cstdint>

namespace tarvik {
class JobContext;
}

namespace tarvik::pcl5 {
// Interprets PCL 5 (with HP-GL/2) starting anywhere in PCL 5 mode; returns
// the number of bytes consumed (it stops at a UEL, ESC%-12345X, or at the
// end) and sets ok = false when the stream broke. When job.StartInHpgl2() is
// set the data begins in HP-GL/2 mode.
size_t Interpret(const uint8_t* data, size_t size, JobContext& job, bool& ok);
} // namespace tarvik::pcl5
