// The output-format list of the main window and the format code and file
// extension each entry stands for.
//
// Use: the window fills its format drop-down with FormatListEntry(0..11) in
// that order (the index is the profile key `type`); the runner derives code and
// extension from the entry text with FormatFromEntry.
#pragma once

#include <string>
#include <string_view>

namespace varnel {

inline constexpr int kFormatCount = 12;

// Entry text for a list index; an index outside 0..11 gives entry 0 (JPEG).
const char* FormatListEntry(int index);

struct OutputFormat {
    int code = 4;          // converter format code (ImgConvFormat)
    std::string extension; // with its dot, e.g. ".png"; empty when nothing matched
};

// Looks for ".tif", ".jpg", ".bmp", ".gif", ".png", ".pcx", ".wmf", ".emf",
// ".tga", ".jp2", ".ras", ".jpc" in that order, each found after the first
// character of the text; the last match wins. Starts from code 4.
OutputFormat FormatFromEntry(std::string_view entry);

} // namespace varnel
