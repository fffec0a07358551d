// Page files: 24-bit bottom-up BMP with a 40-byte info header.
#pragma once

#include "Raster.h"

#include <cstdint>
#include <string>

namespace tarvik {

// A page file on its way: the temporary exists next to its final name.
struct PendingBmpFile {
    int fd = -1;
    std::string tempName, path;
    uint8_t header[54] = {};
    // The file's room was taken at once, so writing it cannot run out of
    // space or pass a file size limit.
    bool reserved = false;
};

// Makes the temporary for raster's file at path and takes its room. False,
// with errno set and nothing left behind, when that fails (a full disk, a
// file size limit): before a byte is written.
bool BeginBmpFile(const PageRaster& raster, int xdpi, int ydpi, const std::string& path,
                  PendingBmpFile& file);
// Writes the rows, closes the temporary and renames it into place. False,
// with errno set and the temporary removed, when any of that fails. Safe on
// another thread than the one drawing the next page.
bool FinishBmpFile(PendingBmpFile& file, const PageRaster& raster);

// Writes raster to path through a temporary file in the same folder that is
// renamed into place only when complete, so a reader never sees half a page.
bool WriteBmpFile(const PageRaster& raster, int xdpi, int ydpi, const std::string& path);

} // namespace tarvik
