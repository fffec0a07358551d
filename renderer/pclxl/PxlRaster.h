// Decoding of ReadImage / ReadRastPattern blocks into raw sample rows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tarvik::pclxl {

enum class Compression : uint8_t { None = 0, Rle = 1, Jpeg = 2, DeltaRow = 3 };

// Rows of one image or pattern, decoded block by block. Each finished row
// (rowBytes bytes, unpadded) goes to the sink as it is decoded, so a large
// image never sits in memory whole.
class RowDecoder {
public:
    using Sink = std::function<void(const uint8_t* row)>;

    // rowBytes: bytes of one unpadded row; components: 1 or 3 (what a JPEG
    // block must decode to); width: pixels per row.
    void Begin(size_t rowBytes, int width, int components, int height);

    // Decodes one block of blockHeight rows. padMultiple is the row padding
    // of uncompressed and RLE data (1..4). deltaBigEndian: byte order of the
    // delta-row byte counts. Rows past the image height are dropped. Returns
    // false (with a message) when the data is malformed; rows decoded before
    // the fault have been delivered.
    bool Block(Compression mode, const uint8_t* data, size_t size, int blockHeight, int padMultiple,
               bool deltaBigEndian, const Sink& sink, std::string& error);

    int RowsDone() const { return m_rowsDone; }
    size_t RowBytes() const { return m_rowBytes; }

private:
    bool Deliver(const uint8_t* row, const Sink& sink);
    bool DecodeDelta(const uint8_t* data, size_t size, int rows, bool big, const Sink& sink,
                     std::string& error);

    size_t m_rowBytes = 0;
    int m_width = 0;
    int m_components = 1;
    int m_height = 0;
    int m_rowsDone = 0;
    std::vector<uint8_t> m_seed; // delta-row seed, persists across blocks
    std::vector<uint8_t> m_work;
};

// PackBits run-length decoding of src into exactly outSize bytes (short
// input leaves the rest zero). Returns the number of input bytes used.
size_t DecodeRle(const uint8_t* src, size_t size, uint8_t* out, size_t outSize);

// One delta-row command string applied to the seed row in place.
void ApplyDeltaRow(const uint8_t* cmds, size_t size, uint8_t* seed, size_t rowBytes);

// Baseline JPEG in memory to 8-bit rows of `components` components (1 gray,
// 3 RGB); at most maxWidth x maxRows pixels. Each decoded row goes to sink.
// Returns false with a message on a bad or oversized stream.
bool DecodeJpeg(const uint8_t* data, size_t size, int components, int maxWidth, int maxRows,
                const std::function<void(const uint8_t* row, int width)>& sink, std::string& error);

} // namespace tarvik::pclxl
