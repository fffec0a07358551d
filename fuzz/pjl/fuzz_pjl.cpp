// The PJL layer on its own: command lines parsed and applied to a job's
// settings, as the job level does for every "@PJL" line of a print file.
#include "job/Pjl.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    tarvik::PjlSettings settings;
    std::string_view text(reinterpret_cast<const char*>(data), size);
    // One command per line, as the job level hands them over.
    while (!text.empty()) {
        size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        if (line.size() >= 4 && line.substr(0, 4) == "@PJL") line.remove_prefix(4);
        tarvik::PjlCommand cmd = tarvik::ParsePjlLine(line);
        tarvik::ApplyPjl(cmd, settings);
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + 1);
    }
    return 0;
}
