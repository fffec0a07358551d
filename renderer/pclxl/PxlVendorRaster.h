// Page raster strips that some host-based laser drivers send inside
// VendorUnique operators instead of images: each carries a band of 1-bit
// rows, coded against the row above.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tarvik::pclxl {

// VUExtension selectors of the strip format.
constexpr uint32_t kVendorRasterBegin = 0x68702011; // job start marker, no data
constexpr uint32_t kVendorRasterStrip = 0x68702006; // one strip

constexpr size_t kVendorStripHeaderBytes = 25;

// The strip header, big-endian whatever the stream's byte order: bytes 2-3
// resolution, 6 row coding, 12-15 coded bytes, 16-17 eight times the
// width, 18-19 rows, 20-23 first row. The rest (0x0001 at 0, 0x0018 at 4,
// 1 at 24) has never been seen to vary.
struct VendorStripHeader {
    int resolution = 0;     // dots per inch of the rows
    int format = 0;         // row coding; only kVendorStripFormat is known
    uint32_t dataBytes = 0; // coded bytes after the header
    int width = 0;          // pixels per row, a multiple of 8
    int rows = 0;
    uint32_t firstRow = 0; // page row of the strip's first row

    size_t RowBytes() const { return (size_t(width) + 7) / 8; }
};

constexpr int kVendorStripFormat = 3;

// Reads the header at the start of a strip payload. False (with a reason)
// when the payload is too short for one.
bool ParseVendorStripHeader(const uint8_t* data, size_t size, VendorStripHeader& out,
                            std::string& error);

// Decodes the coded rows that follow the header into out: rows of
// header.RowBytes() bytes, most significant bit leftmost, set bits black.
// Reads no further than size and writes no more rows than the header names
// (nor more than the data could hold). Returns the number of complete rows;
// error says why decoding stopped early or left data over, and is empty for
// a clean strip.
int DecodeVendorStrip(const VendorStripHeader& header, const uint8_t* data, size_t size,
                      std::vector<uint8_t>& out, std::string& error);

} // namespace tarvik::pclxl
