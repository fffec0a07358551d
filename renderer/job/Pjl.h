// PJL command lines: "@PJL SET ORIENTATION=LANDSCAPE", "@PJL ENTER
// LANGUAGE=PCLXL", "@PJL FSDOWNLOAD FORMAT:BINARY SIZE=10 NAME=...".
#pragma once

#include "core/Job.h"

#include <cstddef>
#include <map>
#include <string>
#include <string_view>

namespace tarvik {

struct PjlCommand {
    std::string command; // upper case; empty for "@PJL" alone or a comment
    // Options by upper-case name; values with quotes removed, letter case kept.
    std::map<std::string, std::string> options;
    // Bytes of binary data that follow the line (FSDOWNLOAD, FSAPPEND).
    size_t dataSize = 0;
};

// Parses one line after its "@PJL" prefix (line without the line end).
PjlCommand ParsePjlLine(std::string_view line);

// Applies SET/DEFAULT commands to the job's settings.
void ApplyPjl(const PjlCommand& cmd, PjlSettings& settings);

} // namespace tarvik
