#include "GifCoders.h"

#include "ImageStream.h"
#include "Raster.h"

#include <cmath>
#include <cstring>
#include <vector>

namespace {

constexpr int kTableSize = 5003;
constexpr int kMaxBits = 12;
constexpr int kMaxMaxCode = 1 << kMaxBits; // 4096

// Hands out the rows of a palette image top row first as one index byte per
// pixel, so the coders' inner loops index a plain array.
class RowReader {
public:
    explicit RowReader(const CRaster& image)
        : m_image(image), m_width(image.Width()), m_bpp(image.BitsPerPixel()) {
        if (m_bpp != 8) m_scratch.resize(m_width);
    }
    uint32_t Width() const { return m_width; }
    uint32_t Height() const { return m_image.Height(); }

    // Row r counted from the top.
    const uint8_t* Row(uint32_t r) {
        const uint8_t* in = m_image.RowPointer(m_image.Height() - 1 - r);
        if (m_bpp == 8) return in;
        uint8_t* out = m_scratch.data();
        if (m_bpp == 4) {
            for (uint32_t x = 0; x < m_width; ++x)
                out[x] = (x & 1) ? (in[x >> 1] & 15) : (in[x >> 1] >> 4);
        } else {
            for (uint32_t x = 0; x < m_width; ++x) out[x] = (in[x >> 3] >> (7 - (x & 7))) & 1;
        }
        return out;
    }

private:
    const CRaster& m_image;
    uint32_t m_width;
    uint32_t m_bpp;
    std::vector<uint8_t> m_scratch;
};

// Least-significant-bit-first code packing into counted sub-blocks.
class BitPacker {
public:
    BitPacker(ImageStream* stream, int blockLimit) : m_stream(stream), m_limit(blockLimit) {}

    void Put(uint32_t code, int width) {
        m_accumulator |= code << m_pending;
        m_pending += width;
        while (m_pending >= 8) {
            Byte(uint8_t(m_accumulator));
            m_accumulator >>= 8;
            m_pending -= 8;
        }
    }
    // Writes the partly filled last byte and whatever the block holds.
    void Finish() {
        if (m_pending > 0) Byte(uint8_t(m_accumulator));
        m_accumulator = 0;
        m_pending = 0;
        FlushBlock();
    }
    // After the end code: push everything out and ask the stream how it went.
    bool FinishAndCheck() {
        Finish();
        m_stream->Flush();
        return m_stream->HasError() == 0;
    }

private:
    void Byte(uint8_t b) {
        m_block[1 + m_count++] = b;
        if (m_count == m_limit) FlushBlock();
    }
    void FlushBlock() {
        if (m_count == 0) return;
        m_block[0] = uint8_t(m_count);
        m_stream->Write(m_block, 1, size_t(m_count) + 1);
        m_count = 0;
    }

    ImageStream* m_stream;
    int m_limit;
    uint32_t m_accumulator = 0;
    int m_pending = 0;
    int m_count = 0;
    uint8_t m_block[256] = {};
};

// Code width bookkeeping shared by the LZW and literal coders.
struct CodeWriter {
    CodeWriter(ImageStream* stream, int initial)
        : packer(stream, 254), initialBits(initial), bits(initial), maxCode((1 << initial) - 1),
          clearCode(1 << (initial - 1)), endCode(clearCode + 1), freeCode(clearCode + 2) {}

    void Output(int code) {
        packer.Put(uint32_t(code), bits);
        if (freeCode > maxCode || clear) {
            if (clear) {
                bits = initialBits;
                maxCode = (1 << bits) - 1;
                clear = false;
            } else {
                ++bits;
                maxCode = bits == kMaxBits ? kMaxMaxCode : (1 << bits) - 1;
            }
        }
    }
    // Ends the data; false when the stream reported an error.
    bool End() {
        Output(endCode);
        return packer.FinishAndCheck();
    }

    BitPacker packer;
    int initialBits;
    int bits;
    int maxCode;
    int clearCode;
    int endCode;
    int freeCode;
    bool clear = false;
};

} // namespace

bool GifCompressLzw(const CRaster& image, ImageStream* stream, int initialBits) {
    RowReader rows(image);
    CodeWriter out(stream, initialBits);
    const int clearCode = out.clearCode;
    std::vector<int32_t> hashTable(kTableSize, -1);
    std::vector<uint16_t> codeTable(kTableSize, 0);
    int32_t* hash = hashTable.data();
    uint16_t* codes = codeTable.data();
    // Doublings that take the table size to 65536 or more, subtracted from 8.
    int hashShift = 0;
    for (long f = kTableSize; f < 65536; f *= 2) ++hashShift;
    hashShift = 8 - hashShift;

    const uint32_t width = rows.Width();
    const uint32_t height = rows.Height();
    const uint8_t* row = rows.Row(0);
    int32_t prefix = row[0];
    out.Output(clearCode);
    uint32_t x = 1;
    for (uint32_t r = 0; r < height; ++r) {
        if (r > 0) {
            row = rows.Row(r);
            x = 0;
        }
        for (; x < width; ++x) {
            const int32_t c = row[x];
            const int32_t key = (c << kMaxBits) + prefix;
            int32_t i = (c << hashShift) ^ prefix;
            if (hash[i] == key) {
                prefix = codes[i];
                continue;
            }
            if (hash[i] >= 0) {
                const int32_t step = i == 0 ? 1 : kTableSize - i;
                bool found = false;
                do {
                    i -= step;
                    if (i < 0) i += kTableSize;
                    if (hash[i] == key) {
                        found = true;
                        break;
                    }
                } while (hash[i] > 0);
                if (found) {
                    prefix = codes[i];
                    continue;
                }
            }
            out.Output(prefix);
            if (out.freeCode < kMaxMaxCode) {
                codes[i] = uint16_t(out.freeCode++);
                hash[i] = key;
            } else {
                std::fill(hashTable.begin(), hashTable.end(), -1);
                out.freeCode = clearCode + 2;
                out.clear = true;
                out.Output(clearCode);
            }
            prefix = c;
        }
    }
    out.Output(prefix);
    return out.End();
}

bool GifCompressLiteral(const CRaster& image, ImageStream* stream, int initialBits) {
    RowReader rows(image);
    CodeWriter out(stream, initialBits);
    const int clearCode = out.clearCode;
    out.Output(clearCode);
    for (uint32_t r = 0; r < rows.Height(); ++r) {
        const uint8_t* row = rows.Row(r);
        for (uint32_t x = 0; x < rows.Width(); ++x) {
            out.Output(row[x]);
            if (out.freeCode < kMaxMaxCode) {
                ++out.freeCode;
            } else {
                out.freeCode = clearCode + 2;
                out.clear = true;
                out.Output(clearCode);
            }
        }
    }
    return out.End();
}

namespace {

// Emits only codes whose strings are runs of one colour, tracking how far the
// decoder's table has grown so the run codes it uses are always defined there.
class RunLengthCoder {
public:
    RunLengthCoder(ImageStream* stream, int initialBits)
        : m_packer(stream, 255), m_initialBits(initialBits), m_clearCode(1 << (initialBits - 1)),
          m_endCode(m_clearCode + 1), m_baseCode(m_clearCode + 2), m_firstBump(m_clearCode - 1),
          m_firstClear(initialBits <= 3 ? 9 : m_clearCode - 2),
          m_maxCodes(kMaxMaxCode - (m_clearCode + 3)) {}

    bool Run(RowReader& rows) {
        Reset();
        Raw(m_clearCode);
        m_runLength = 0;
        for (uint32_t r = 0; r < rows.Height(); ++r) {
            const uint8_t* row = rows.Row(r);
            for (uint32_t x = 0; x < rows.Width(); ++x) {
                const int c = row[x];
                if (m_runLength > 0 && c != m_runColor) Flush();
                if (m_runLength > 0) {
                    ++m_runLength;
                } else {
                    m_runColor = c;
                    m_runLength = 1;
                }
            }
        }
        if (m_runLength > 0) Flush();
        Raw(m_endCode);
        return m_packer.FinishAndCheck();
    }

private:
    void Raw(int code) { m_packer.Put(uint32_t(code), m_bits); }

    void Reset() {
        m_bits = m_initialBits;
        m_bump = m_firstBump;
        m_clearPoint = m_firstClear;
        m_sinceClear = 0;
        m_tableLength = 0;
        m_justCleared = true;
    }

    void Plain(int code) {
        m_justCleared = false;
        Raw(code);
        ++m_sinceClear;
        if (m_sinceClear >= m_bump) {
            ++m_bits;
            m_bump += 1 << (m_bits - 1);
        }
        if (m_sinceClear >= m_clearPoint) {
            Raw(m_clearCode);
            Reset();
        }
    }

    void RestoreClearPoint() {
        m_clearPoint = m_firstClear;
        if (m_sinceClear >= m_clearPoint) {
            Raw(m_clearCode);
            Reset();
        }
    }

    int TriangleCost(int count) const {
        const int perRepeat = m_maxCodes * (m_maxCodes + 1) / 2;
        int cost = 0;
        while (count >= perRepeat) {
            cost += m_maxCodes;
            count -= perRepeat;
        }
        if (count > 0) {
            int k = int(std::sqrt(double(count)));
            while (k > 0 && k * (k + 1) >= 2 * count) --k;
            while (k * (k + 1) < 2 * count) ++k;
            cost += k;
        }
        return cost;
    }

    void FillFromClear(int count) {
        m_clearPoint = m_maxCodes;
        m_tableColor = m_runColor;
        int k = 1;
        while (count > 0) {
            if (k == 1) {
                m_tableLength = 1;
                Plain(m_runColor);
                --count;
            } else if (count >= k) {
                m_tableLength = k;
                Plain(m_baseCode + k - 2);
                count -= k;
            } else if (count == 1) {
                ++m_tableLength;
                Plain(m_runColor);
                count = 0;
            } else {
                ++m_tableLength;
                Plain(m_baseCode + count - 2);
                count = 0;
            }
            k = m_sinceClear == 0 ? 1 : k + 1;
        }
        RestoreClearPoint();
    }

    void ClearOrRepeat(int count) {
        if (1 + TriangleCost(count) < count) {
            Raw(m_clearCode);
            Reset();
            FillFromClear(count);
        } else {
            for (; count > 0; --count) Plain(m_runColor);
        }
    }

    void WithTable(int count) {
        int repeats = count / m_tableLength;
        int leftover = count % m_tableLength;
        int extra = leftover ? 1 : 0;
        if (m_sinceClear + repeats + extra > m_maxCodes) {
            repeats = m_maxCodes - m_sinceClear;
            leftover = count - repeats * m_tableLength;
            extra = 1 + TriangleCost(leftover);
        }
        if (1 + TriangleCost(count) < repeats + extra) {
            Raw(m_clearCode);
            Reset();
            FillFromClear(count);
            return;
        }
        m_clearPoint = m_maxCodes;
        for (; repeats > 0; --repeats) Plain(m_baseCode + m_tableLength - 2);
        if (leftover) {
            if (m_justCleared)
                FillFromClear(leftover);
            else if (leftover == 1)
                Plain(m_runColor);
            else
                Plain(m_baseCode + leftover - 2);
        }
        RestoreClearPoint();
    }

    void Flush() {
        if (m_runLength == 1)
            Plain(m_runColor);
        else if (m_justCleared)
            FillFromClear(m_runLength);
        else if (m_tableLength < 2 || m_tableColor != m_runColor)
            ClearOrRepeat(m_runLength);
        else
            WithTable(m_runLength);
        m_runLength = 0;
    }

    BitPacker m_packer;
    int m_initialBits;
    int m_clearCode;
    int m_endCode;
    int m_baseCode;
    int m_firstBump;
    int m_firstClear;
    int m_maxCodes;

    int m_bits = 0;
    int m_bump = 0;
    int m_clearPoint = 0;
    int m_sinceClear = 0;
    int m_tableLength = 0;
    int m_tableColor = -1;
    bool m_justCleared = true;
    int m_runColor = -1;
    int m_runLength = 0;
};

} // namespace

bool GifCompressRunLength(const CRaster& image, ImageStream* stream, int initialBits) {
    RowReader rows(image);
    RunLengthCoder coder(stream, initialBits);
    return coder.Run(rows);
}
