#include "RasterPCX.h"

#include "ImageStream.h"

#include <cstring>
#include <vector>

namespace {

uint32_t Luminance(RasterColor c) {
    return (306u * c.red + 601u * c.green + 117u * c.blue) >> 10;
}

void PutWord(uint8_t* p, uint32_t value) {
    p[0] = uint8_t(value);
    p[1] = uint8_t(value >> 8);
}

// Run-length codes `n` bytes: runs of up to 63 equal bytes, a lone byte below
// 0xC0 as itself. Returns the end of the output (at most 2 * n bytes long).
uint8_t* PackLine(const uint8_t* in, size_t n, uint8_t* out) {
    size_t i = 0;
    while (i < n) {
        const uint8_t b = in[i];
        size_t run = 1;
        while (i + run < n && in[i + run] == b) ++run;
        i += run;
        for (; run >= 63; run -= 63) {
            *out++ = 0xFF;
            *out++ = b;
        }
        if (run == 1 && b < 0xC0) {
            *out++ = b;
        } else if (run > 0) {
            *out++ = uint8_t(0xC0 + run);
            *out++ = b;
        }
    }
    return out;
}

// kPlaneBits[p][b]: bit p of the two 4-bit pixels of byte b, left pixel high.
struct PlaneBitTable {
    uint8_t bits[4][256];
    PlaneBitTable() {
        for (int p = 0; p < 4; ++p)
            for (int b = 0; b < 256; ++b)
                bits[p][b] = uint8_t(((b >> (4 + p)) & 1) << 1 | ((b >> p) & 1));
    }
};
const PlaneBitTable kPlaneTable;
const auto& kPlaneBits = kPlaneTable.bits;

} // namespace

bool CRasterPCX::Encode(ImageStream* stream) {
    if (CheckEncodable(stream)) return false;
    const uint32_t width = Width();
    const uint32_t height = Height();
    const uint32_t bpp = BitsPerPixel();
    const bool deep = bpp == 8 || bpp == 24;
    uint32_t planes;
    if (bpp == 8)
        planes = 1;
    else if (bpp == 24)
        planes = alphaPlane ? 4 : 3;
    else
        planes = ColorCount() == 16 ? 4 : 1;
    uint32_t bytesPerLine = deep ? width : (width + 7) / 8;
    bytesPerLine += bytesPerLine & 1;
    // Every size in the header is a 16-bit field.
    if (width > 65535 || height > 65535 || bytesPerLine > 65535) {
        SetLastError("Image too large for PCX");
        return false;
    }

    uint8_t head[128] = {};
    head[0] = 10;
    head[1] = 5;
    head[2] = 1;
    head[3] = deep ? 8 : 1;
    PutWord(head + 8, width - 1);
    PutWord(head + 10, height - 1);
    PutWord(head + 12, uint32_t(DpiX()));
    PutWord(head + 14, uint32_t(DpiY()));
    if (planes == 1 && !deep) {
        std::memset(head + 16 + 3, 255, 3); // entry 0 black, entry 1 white
    } else if (planes == 4) {
        for (uint32_t i = 0; i < 16; ++i) {
            const RasterColor c = PaletteColor(i);
            head[16 + 3 * i] = c.red;
            head[16 + 3 * i + 1] = c.green;
            head[16 + 3 * i + 2] = c.blue;
        }
    }
    head[65] = uint8_t(planes);
    PutWord(head + 66, bytesPerLine);
    PutWord(head + 68, ColorCount() == 0 ? 1 : 0);
    if (stream->Write(head, sizeof head, 1) == 0) {
        SetLastError("cannot write PCX header");
        return false;
    }

    // Packed 4-bit rows, zero past the last pixel up to the plane line's end.
    std::vector<uint8_t> nibbles(size_t(bytesPerLine) * 4 + 4, 0);
    MemoryStream data;
    std::vector<uint8_t> line(bytesPerLine + 2, 0);
    std::vector<uint8_t> packed(2 * size_t(bytesPerLine) + 4);
    bool ok = data.OpenEmpty();
    const bool invert = bpp == 1 && Luminance(PaletteColor(0)) > Luminance(PaletteColor(1));
    for (uint32_t r = 0; ok && r < height; ++r) {
        const uint8_t* in = RowPointer(height - 1 - r);
        for (uint32_t p = 0; p < planes; ++p) {
            size_t n = 0;
            if (bpp == 8) {
                std::memcpy(line.data(), in, width);
                n = width;
            } else if (bpp == 24) {
                // Planes go red, green, blue (alpha); pixels are stored blue first.
                uint8_t* o = line.data();
                if (p < 3) {
                    const uint8_t* s = in + (2 - p);
                    for (uint32_t x = 0; x < width; ++x, s += 3) o[x] = *s;
                } else {
                    std::memcpy(o, alphaPlane + size_t(height - 1 - r) * width, width);
                }
                n = width;
            } else if (bpp == 1) {
                const uint32_t full = (width + 7) / 8;
                for (uint32_t i = 0; i < full; ++i) line[i] = invert ? uint8_t(~in[i]) : in[i];
                if (width & 7) line[full - 1] &= uint8_t(0xFF << (8 - (width & 7)));
                for (uint32_t i = full; i < bytesPerLine; ++i) line[i] = 0;
                n = bytesPerLine;
            } else { // 4 bits: bit p of every index, eight pixels (four bytes) at a time
                if (p == 0) {
                    std::memcpy(nibbles.data(), in, (width + 1) / 2);
                    if (width & 1) nibbles[width / 2] &= 0xF0; // the pixel after the last is 0
                }
                const uint8_t* q = nibbles.data();
                for (uint32_t i = 0; i < bytesPerLine; ++i, q += 4)
                    line[i] = uint8_t(kPlaneBits[p][q[0]] << 6 | kPlaneBits[p][q[1]] << 4 |
                                      kPlaneBits[p][q[2]] << 2 | kPlaneBits[p][q[3]]);
                n = bytesPerLine;
            }
            uint8_t* end = PackLine(line.data(), n, packed.data());
            // An odd width gets one padding pixel 0 per line, written as is.
            if (deep && (width & 1)) *end++ = 0;
            const size_t bytes = size_t(end - packed.data());
            if (data.Write(packed.data(), 1, bytes) != bytes) ok = false;
        }
    }
    if (ok && bpp == 8) {
        uint8_t table[1 + 768] = {12};
        for (uint32_t i = 0; i < 256 && i < ColorCount(); ++i) {
            const RasterColor c = PaletteColor(i);
            table[1 + 3 * i] = c.red;
            table[1 + 3 * i + 1] = c.green;
            table[1 + 3 * i + 2] = c.blue;
        }
        if (data.Write(table, 1, sizeof table) != sizeof table) ok = false;
    }
    // A short write here would leave a truncated file behind a success.
    if (!ok || stream->Write(data.buffer, 1, size_t(data.size)) != size_t(data.size)) {
        SetLastError("cannot write PCX data");
        return false;
    }
    return true;
}
