// Reader and writer of the INI-style profile file (one "[Section]" header line,
// then "key=value" lines).
//
// Use: every call opens, reads and closes the file; there is no cache and no
// save step. Section and key names are compared without letter case. An
// integer is an optional sign and the decimal digits at the start of the
// stored text; a missing key, or a text without digits, reads as the default.
// Every write replaces the file atomically (a temporary file in the same
// folder, flushed and renamed over the old one) and keeps every other line;
// the first write creates the file and the section. A failed write leaves the
// old file as it was and returns false.
//
//   int dpi = GetProfileInt(path, "Set", "xdpi", 72);
//   WriteProfileInt(path, "Set", "xdpi", 300);
#pragma once

#include <string>
#include <string_view>

namespace varnel {

int GetProfileInt(const std::string& file, std::string_view section, std::string_view key,
                  int defaultValue);

std::string GetProfileString(const std::string& file, std::string_view section,
                             std::string_view key, std::string_view defaultValue);

bool WriteProfileString(const std::string& file, std::string_view section, std::string_view key,
                        std::string_view value);

// Writes the value as "%d".
bool WriteProfileInt(const std::string& file, std::string_view section, std::string_view key,
                     int value);

// The integer rule above, on a text: leading blanks, optional sign, digits.
// Returns false (and leaves *value alone) when there are no digits. Values
// beyond the range of int saturate.
bool ParseProfileInt(std::string_view text, int* value);

} // namespace varnel
