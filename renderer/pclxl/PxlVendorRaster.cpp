// Vendor raster strips: the header, the row decoder and the drawing.
//
// A strip is a 25-byte header and then its rows, each coded as commands
// against the row above (the first row of a strip against a white one).
// A command byte reads, from the top bit down:
//   bit 7     0: literal, 1: run
//   bits 6-5  where the first byte comes from: 0 the next data byte,
//             1 the byte above and one to the right, 2 the byte above and
//             one to the left, 3 the last data byte given so far
//   bits 4-3  bytes to skip (kept from the row above); 3 means more follow
//   bits 2-0  length: a literal is this plus one bytes, a run this plus two;
//             7 means more follow
// A literal's further bytes follow in the data. A run's further bytes each
// copy the byte sixteen to their left in the row being built, which
// repeats any pattern of that period, plain black and white among them.
// Extensions (skip first, then length, after the first data byte if any)
// are one byte below 254, 254 and one byte more, or 255 and a 16-bit
// value. A row ends with the command that reaches the row's width in
// pixels: the coder counts positions in bytes but stops at the pixel count,
// so every row closes with a skip past its end.
#include "PxlVendorRaster.h"

#include "PxlInterp.h"

#include <algorithm>
#include <cstring>

namespace tarvik::pclxl {

namespace {

constexpr size_t kRunDistance = 16;
// The "last data byte" a strip starts with.
constexpr uint8_t kInitialLast = 0xFF;

uint32_t Be16(const uint8_t* p) {
    return uint32_t(p[0]) << 8 | p[1];
}

uint32_t Be32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

// The coded bytes, read with bounds checks.
class Source {
public:
    Source(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}

    size_t Left() const { return m_size - m_pos; }

    bool Byte(uint8_t& out) {
        if (m_pos >= m_size) return false;
        out = m_data[m_pos++];
        return true;
    }

    bool Extension(size_t& out) {
        uint8_t b;
        if (!Byte(b)) return false;
        if (b < 254) {
            out = b;
            return true;
        }
        if (b == 254) {
            uint8_t x;
            if (!Byte(x)) return false;
            out = 254 + size_t(x);
            return true;
        }
        if (Left() < 2) return false;
        out = 255 + Be16(m_data + m_pos);
        m_pos += 2;
        return true;
    }

    bool Bytes(size_t n, const uint8_t*& out) {
        if (Left() < n) return false;
        out = m_data + m_pos;
        m_pos += n;
        return true;
    }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_pos = 0;
};

} // namespace

bool ParseVendorStripHeader(const uint8_t* data, size_t size, VendorStripHeader& out,
                            std::string& error) {
    if (!data || size < kVendorStripHeaderBytes) {
        error = "strip header cut short";
        return false;
    }
    out.resolution = int(Be16(data + 2));
    out.format = data[6];
    out.dataBytes = Be32(data + 12);
    // Stored as eight times the pixel count.
    out.width = int(Be16(data + 16) / 8);
    out.rows = int(Be16(data + 18));
    out.firstRow = Be32(data + 20);
    return true;
}

int DecodeVendorStrip(const VendorStripHeader& header, const uint8_t* data, size_t size,
                      std::vector<uint8_t>& out, std::string& error) {
    error.clear();
    out.clear();
    if (header.width <= 0 || header.rows <= 0) {
        error = "empty strip";
        return 0;
    }
    const size_t rowBytes = header.RowBytes();
    const size_t rowEnd = size_t(header.width);
    // Every row takes at least one command byte, so the data bounds the
    // rows whatever the header claims.
    const size_t rows = std::min(size_t(header.rows), size);
    out.assign(rows * rowBytes, 0);
    Source src(data, size);
    uint8_t last = kInitialLast;
    size_t done = 0;
    bool cut = false;
    for (; done < rows && src.Left() > 0; ++done) {
        uint8_t* cur = out.data() + done * rowBytes;
        const uint8_t* above = done ? cur - rowBytes : nullptr;
        if (above) std::memcpy(cur, above, rowBytes);
        auto up = [&](size_t at) -> uint8_t { return above && at < rowBytes ? above[at] : 0; };
        size_t pos = 0;
        while (pos < rowEnd) {
            uint8_t c;
            if (!src.Byte(c)) {
                cut = true;
                break;
            }
            size_t skip = (c >> 3) & 3, length = c & 7, more = 0;
            if (skip == 3) {
                if (!src.Extension(more)) {
                    cut = true;
                    break;
                }
                skip += more;
            }
            pos += skip;
            uint8_t first = 0;
            switch ((c >> 5) & 3) {
            case 0:
                if (!src.Byte(first)) cut = true;
                last = first;
                break;
            case 1:
                first = up(pos + 1);
                break;
            case 2:
                first = pos > 0 ? up(pos - 1) : 0;
                break;
            default:
                first = last;
                break;
            }
            if (cut) break;
            if (length == 7) {
                if (!src.Extension(more)) {
                    cut = true;
                    break;
                }
                length += more;
            }
            if (pos < rowBytes) cur[pos] = first;
            if (c & 0x80) {
                size_t n = length + 2;
                for (size_t at = pos + 1; at < pos + n && at < rowBytes; ++at)
                    cur[at] = at >= kRunDistance ? cur[at - kRunDistance] : 0;
                pos += n;
            } else {
                const uint8_t* lit;
                if (!src.Bytes(length, lit)) {
                    cut = true;
                    break;
                }
                if (pos + 1 < rowBytes)
                    std::memcpy(cur + pos + 1, lit, std::min(length, rowBytes - pos - 1));
                pos += length + 1;
            }
        }
        if (cut) break;
    }
    out.resize(done * rowBytes);
    if (cut)
        error = "data ends inside row " + std::to_string(done + 1) + " of " +
                std::to_string(header.rows);
    else if (done < size_t(header.rows))
        error =
            "data ends after row " + std::to_string(done) + " of " + std::to_string(header.rows);
    else if (src.Left() > 0)
        error = std::to_string(src.Left()) + " bytes left after the last row";
    return int(done);
}

void Interpreter::VendorStrip(const uint8_t* data, size_t size) {
    VendorStripHeader h;
    std::string err;
    if (!ParseVendorStripHeader(data, size, h, err)) {
        Warn("MissingData (vendor raster: " + err + ")");
        return;
    }
    if (h.format != kVendorStripFormat) {
        Unsupported("PCL XL vendor raster format " + std::to_string(h.format));
        return;
    }
    if (h.width <= 0 || h.rows <= 0 || h.width > m_limits.maxImageDimension ||
        h.rows > m_limits.maxImageDimension ||
        uint64_t(h.width) * uint64_t(h.rows) > m_limits.maxImagePixels ||
        h.RowBytes() > m_limits.maxRecordBytes) {
        Warn("IllegalAttributeValue (vendor raster strip size)");
        return;
    }
    Device* dev = Dev();
    if (!dev) {
        Warn("IllegalOperatorSequence (vendor raster outside a page)");
        return;
    }
    size_t coded = size - kVendorStripHeaderBytes;
    if (h.dataBytes != coded) {
        Warn("IllegalDataValue (vendor raster strip of " + std::to_string(coded) + " bytes says " +
             std::to_string(h.dataBytes) + ")");
        coded = std::min<size_t>(coded, h.dataBytes);
    }
    std::vector<uint8_t> rows;
    int done = DecodeVendorStrip(h, data + kVendorStripHeaderBytes, coded, rows, err);
    if (!err.empty()) Warn("IllegalDataValue (vendor raster strip: " + err + ")");
    m_job.Tick(uint64_t(done) / 64);
    if (done <= 0) return;
    // The rows are in device pixels of their own resolution; user units
    // are the session's.
    double res = h.resolution;
    if (res <= 0) {
        Warn("IllegalAttributeValue (vendor raster resolution 0)");
        res = m_unitsX;
    }
    double sx = m_unitsX / res, sy = m_unitsY / res;
    ImageInfo info;
    info.format = ImageInfo::Format::Indexed;
    info.bitsPerComponent = 1;
    info.width = h.width;
    info.height = done;
    info.palette = {kWhite, kBlack};
    Matrix m =
        Matrix::Scale(sx, sy).Then(Matrix::Translate(0, double(h.firstRow) * sy)).Then(m_gs.ctm);
    dev->BeginImage(info, m, m_gs.brush.paint, m_gs.rop);
    dev->ImageRows(rows.data(), done);
    dev->EndImage();
}

} // namespace tarvik::pclxl
