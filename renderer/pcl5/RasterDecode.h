// Row decompressors of PCL 5 raster graphics (*b#M methods 0, 1, 2, 3, 5, 9).
// Each works on a seed row of fixed width: methods 0, 1 and 2 replace the whole
// row (missing bytes become zero), methods 3 and 9 patch the previous row.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>

namespace tarvik::pcl5 {

enum class Compression : int {
    Unencoded = 0,
    RunLength = 1,
    PackBits = 2,
    DeltaRow = 3,
    Adaptive = 5,
    ReplacementDelta = 9,
};

// Decodes one row of method 0, 1, 2, 3 or 9 into seed (in place). Returns false
// for any other method, leaving seed untouched. Never reads or writes beyond the
// given spans, whatever the data says.
bool DecodeRow(int method, std::span<const uint8_t> data, std::span<uint8_t> seed);

void DecodeUnencoded(std::span<const uint8_t> data, std::span<uint8_t> seed);
void DecodeRunLength(std::span<const uint8_t> data, std::span<uint8_t> seed);
void DecodePackBits(std::span<const uint8_t> data, std::span<uint8_t> seed);
void DecodeDeltaRow(std::span<const uint8_t> data, std::span<uint8_t> seed);
void DecodeReplacementDelta(std::span<const uint8_t> data, std::span<uint8_t> seed);

// True when data, read as method 2, is a complete run of whole PackBits
// records that expands to exactly rowBytes bytes. Some drivers announce method 3
// and then send PackBits rows; a delta row practically never has this shape
// once rows are wider than a few bytes.
bool IsExactPackBitsRow(std::span<const uint8_t> data, size_t rowBytes);

// Method 5: one block carries several rows, each led by a command byte and a
// 16-bit count. emit is called with the seed after every row the block
// produces; it returns false to stop early (e.g. the raster is full). Returns the
// number of rows produced.
size_t DecodeAdaptiveBlock(std::span<const uint8_t> data, std::span<uint8_t> seed,
                           const std::function<bool(std::span<const uint8_t>)>& emit);

} // namespace tarvik::pcl5
