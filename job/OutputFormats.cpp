#include "OutputFormats.h"

namespace varnel {

namespace {

const char* const kEntries[kFormatCount] = {
    "JPEG Files(*.jpg)", "TIFF Files(*.tif) ",    "BMP Files(*.bmp)",      "PNG Files(*.png)",
    "GIF Files(*.gif)",  "PCX Files(*.pcx)",      "WMF Files(*.wmf)",      "EMF Files(*.emf)",
    "TGA Files(*.tga)",  "JPEG2000 Files(*.jp2)", "JPEG2000 Files(*.jpc)", "RAS Files(*.ras)",
};

struct ExtensionCode {
    const char* extension;
    int code;
};

// Searched in this order; a later match overrides an earlier one.
const ExtensionCode kSearch[] = {
    {".tif", 7}, {".jpg", 4}, {".bmp", 1}, {".gif", 6},  {".png", 5},  {".pcx", 8},
    {".wmf", 3}, {".emf", 2}, {".tga", 9}, {".jp2", 10}, {".ras", 11}, {".jpc", 12},
};

} // namespace

const char* FormatListEntry(int index) {
    // A stored index that names no entry falls back to the first one (JPEG)
    // rather than leaving a run without an extension.
    if (index < 0 || index >= kFormatCount) index = 0;
    return kEntries[index];
}

OutputFormat FormatFromEntry(std::string_view entry) {
    OutputFormat result;
    for (const ExtensionCode& e : kSearch) {
        std::size_t at = entry.find(e.extension, 1);
        if (at != std::string_view::npos) {
            result.code = e.code;
            result.extension = e.extension;
        }
    }
    return result;
}

} // namespace varnel
