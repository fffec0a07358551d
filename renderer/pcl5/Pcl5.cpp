#include "Pcl5.h"

#include "Pcl5Interp.h"

namespace tarvik::pcl5 {

size_t Interpret(const uint8_t* data, size_t size, JobContext& job, bool& ok) {
    Interpreter interpreter(job);
    return interpreter.Run(data, size, ok);
}

} // namespace tarvik::pcl5
