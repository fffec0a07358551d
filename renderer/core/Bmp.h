// Page files: 24-bit bottom-up BMP with a 40-byte info header.
#pragma once

#include "Raster.h"

#include <cstdint>
#include <string>

namespace tarvik {

// Writes raster to path through a temporary file in the same folder that is
// renamed into place only when complete, so a reader never sees half a page.
bool WriteBmpFile(const PageRaster& raster, int xdpi, int ydpi, const std::string& path);

// A page file the raster draws straight into: its rows live in a shared
// mapping of the file being made, where the file holds them, so finishing
// the page only whitens the rows never drawn on. The file is reserved in
// full first, so drawing never meets a full disk.
class MappedPageFile {
public:
    MappedPageFile() = default;
    MappedPageFile(const MappedPageFile&) = delete;
    MappedPageFile& operator=(const MappedPageFile&) = delete;
    ~MappedPageFile() { Discard(); }

    // Makes the temporary for path and lets raster draw into it. False,
    // with raster and disk as they were, when the file system cannot
    // reserve or map it: then the page is written with WriteBmpFile.
    bool Open(PageRaster& raster, const std::string& path);
    bool IsOpen() const { return m_raster != nullptr; }
    // Bytes the open file holds on disk already.
    uint64_t Reserved() const { return IsOpen() ? m_reserved : 0; }
    // Completes the page and puts it in place; false with errno set, and
    // nothing left behind. The raster draws into its own memory again.
    bool Finish(int xdpi, int ydpi);
    // Drops an unfinished page and its temporary.
    void Discard();

private:
    void Close();

    PageRaster* m_raster = nullptr;
    uint8_t* m_map = nullptr;
    size_t m_size = 0;
    uint64_t m_reserved = 0;
    int m_fd = -1;
    std::string m_temp, m_path;
};

} // namespace tarvik
