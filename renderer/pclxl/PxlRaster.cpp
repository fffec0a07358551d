#include "PxlRaster.h"

#include <algorithm>
#include <cstring>

namespace tarvik::pclxl {

namespace {

size_t PaddedRow(size_t rowBytes, int padMultiple) {
    size_t pad = padMultiple < 1 || padMultiple > 4 ? 4 : size_t(padMultiple);
    return (rowBytes + pad - 1) / pad * pad;
}

// PackBits decoder that can stop at any output byte and resume, so RLE data
// can be decoded one padded row at a time even when runs cross rows.
class RleStream {
public:
    RleStream(const uint8_t* src, size_t size) : m_src(src), m_size(size) {}
    // Fills out[0..n); returns false when the input ran out first.
    bool Fill(uint8_t* out, size_t n) {
        size_t o = 0;
        while (o < n) {
            if (m_literal > 0) {
                if (m_pos >= m_size) break;
                size_t k = std::min({m_literal, n - o, m_size - m_pos});
                std::memcpy(out + o, m_src + m_pos, k);
                m_pos += k;
                o += k;
                m_literal -= k;
                continue;
            }
            if (m_repeat > 0) {
                size_t k = std::min(m_repeat, n - o);
                std::memset(out + o, m_value, k);
                o += k;
                m_repeat -= k;
                continue;
            }
            if (m_pos >= m_size) break;
            int8_t c = static_cast<int8_t>(m_src[m_pos++]);
            if (c >= 0) {
                m_literal = size_t(c) + 1;
            } else if (c != -128) {
                if (m_pos >= m_size) break;
                m_value = m_src[m_pos++];
                m_repeat = size_t(1 - c);
            }
        }
        if (o < n) {
            std::memset(out + o, 0, n - o);
            return false;
        }
        return true;
    }
    size_t Used() const { return m_pos; }

private:
    const uint8_t* m_src;
    size_t m_size;
    size_t m_pos = 0;
    size_t m_literal = 0;
    size_t m_repeat = 0;
    uint8_t m_value = 0;
};

} // namespace

size_t DecodeRle(const uint8_t* src, size_t size, uint8_t* out, size_t outSize) {
    RleStream s(src, size);
    s.Fill(out, outSize);
    return s.Used();
}

void ApplyDeltaRow(const uint8_t* cmds, size_t size, uint8_t* seed, size_t rowBytes) {
    size_t pos = 0;
    size_t col = 0;
    while (pos < size) {
        uint8_t cmd = cmds[pos++];
        size_t count = (cmd >> 5) + 1;
        size_t offset = cmd & 0x1F;
        if (offset == 31) {
            // Extended offset: further bytes are added while they are 255.
            while (pos < size) {
                uint8_t extra = cmds[pos++];
                offset += extra;
                if (extra != 255) break;
            }
        }
        col += offset;
        for (size_t i = 0; i < count && pos < size; ++i, ++col, ++pos)
            if (col < rowBytes) seed[col] = cmds[pos];
    }
}

void RowDecoder::Begin(size_t rowBytes, int width, int components, int height) {
    m_rowBytes = rowBytes;
    m_width = width;
    m_components = components;
    m_height = height;
    m_rowsDone = 0;
    m_seed.assign(rowBytes, 0);
}

bool RowDecoder::Deliver(const uint8_t* row, const Sink& sink) {
    if (m_rowsDone >= m_height) return false;
    sink(row);
    ++m_rowsDone;
    return true;
}

bool RowDecoder::DecodeDelta(const uint8_t* data, size_t size, int rows, bool big, const Sink& sink,
                             std::string& error) {
    size_t pos = 0;
    for (int r = 0; r < rows; ++r) {
        if (size - pos < 2) {
            error = "MissingData";
            return false;
        }
        size_t n = big ? (size_t(data[pos]) << 8 | data[pos + 1])
                       : (size_t(data[pos + 1]) << 8 | data[pos]);
        pos += 2;
        if (n > size - pos) {
            error = "IllegalDataLength";
            return false;
        }
        ApplyDeltaRow(data + pos, n, m_seed.data(), m_rowBytes);
        pos += n;
        if (!Deliver(m_seed.data(), sink)) return true;
    }
    return true;
}

bool RowDecoder::Block(Compression mode, const uint8_t* data, size_t size, int blockHeight,
                       int padMultiple, bool deltaBigEndian, const Sink& sink, std::string& error) {
    if (blockHeight <= 0) return true;
    switch (mode) {
    case Compression::None: {
        size_t padded = PaddedRow(m_rowBytes, padMultiple);
        m_work.assign(m_rowBytes, 0);
        for (int r = 0; r < blockHeight; ++r) {
            size_t at = size_t(r) * padded;
            if (at >= size) {
                error = "MissingData";
                return false;
            }
            size_t k = std::min(m_rowBytes, size - at);
            std::memcpy(m_work.data(), data + at, k);
            if (k < m_rowBytes) std::memset(m_work.data() + k, 0, m_rowBytes - k);
            if (!Deliver(m_work.data(), sink)) return true;
            if (k < m_rowBytes) {
                error = "MissingData";
                return false;
            }
        }
        return true;
    }
    case Compression::Rle: {
        size_t padded = PaddedRow(m_rowBytes, padMultiple);
        m_work.assign(padded, 0);
        RleStream rle(data, size);
        for (int r = 0; r < blockHeight; ++r) {
            bool complete = rle.Fill(m_work.data(), padded);
            if (!Deliver(m_work.data(), sink)) return true;
            if (!complete) {
                error = "MissingData";
                return false;
            }
        }
        return true;
    }
    case Compression::DeltaRow:
        return DecodeDelta(data, size, blockHeight, deltaBigEndian, sink, error);
    case Compression::Jpeg: {
        // JPEG rows arrive 8 bits per component; the caller set rowBytes so.
        int rowsLeft = std::min(blockHeight, m_height - m_rowsDone);
        if (rowsLeft <= 0) return true;
        m_work.assign(m_rowBytes, 0);
        bool ok = DecodeJpeg(
            data, size, m_components, m_width, rowsLeft,
            [&](const uint8_t* row, int w) {
                size_t n = std::min(m_rowBytes, size_t(w) * size_t(m_components));
                std::memcpy(m_work.data(), row, n);
                Deliver(m_work.data(), sink);
            },
            error);
        return ok;
    }
    }
    error = "IllegalAttributeValue";
    return false;
}

} // namespace tarvik::pclxl
