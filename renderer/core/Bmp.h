// Page files: 24-bit bottom-up BMP with a 40-byte info header.
#pragma once

#include "Raster.h"

#include <string>

namespace tarvik {

// Writes raster to path through a temporary file in the same folder that is
// renamed into place only when complete, so a reader never sees half a page.
bool WriteBmpFile(const PageRaster& raster, int xdpi, int ydpi, const std::string& path);

} // namespace tarvik
