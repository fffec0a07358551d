#pragma once

#include <cstddef>
#include <cstdint>

namespace tarvik {
class JobContext;
}

namespace tarvik::pclxl {
// Interprets a PCL XL stream starting at its stream header line; returns the
// number of bytes consumed (it stops at a UEL, ESC%-12345X, or at the end)
// and sets ok = false when the stream broke.
size_t Interpret(const uint8_t* data, size_t size, JobContext& job, bool& ok);
} // namespace tarvik::pclxl
