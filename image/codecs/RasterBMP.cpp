#include "RasterBMP.h"

#include "ImageStream.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// File fields are little-endian; reading them byte by byte serves every host.
uint16_t Le16(const uint8_t* p) {
    return uint16_t(p[0] | p[1] << 8);
}
uint32_t Le32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
void Put16(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
void Put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}

void StoreInfoHeader(uint8_t* out, const BitmapInfoHeader& h) {
    Put32(out + 0, h.size);
    Put32(out + 4, uint32_t(h.width));
    Put32(out + 8, uint32_t(h.height));
    Put16(out + 12, h.planes);
    Put16(out + 14, h.bitCount);
    Put32(out + 16, h.compression);
    Put32(out + 20, h.sizeImage);
    Put32(out + 24, uint32_t(h.xPelsPerMeter));
    Put32(out + 28, uint32_t(h.yPelsPerMeter));
    Put32(out + 32, h.clrUsed);
    Put32(out + 36, h.clrImportant);
}

void StoreFileHeader(uint8_t* out, uint32_t fileSize, uint32_t offset) {
    Put16(out, 0x4D42);
    Put32(out + 2, fileSize);
    Put32(out + 6, 0);
    Put32(out + 10, offset);
}

// Shift left for positive s, right for negative; far shifts give 0.
uint32_t ShiftBy(uint32_t v, int s) {
    if (s >= 32 || s <= -32) return 0;
    return s >= 0 ? v << s : v >> -s;
}

// Byte position (0..3) of a 32-bit channel mask.
int MaskBytePosition(uint32_t mask) {
    int pos = 0;
    for (int s = 8; s <= 24; s += 8)
        if (mask >> s) ++pos;
    return pos;
}

struct Bitfields16 {
    uint32_t redMask, greenMask, blueMask;
    int blueShift, greenShift, redShift;

    Bitfields16(uint32_t rm, uint32_t gm, uint32_t bm) : redMask(rm), greenMask(gm), blueMask(bm) {
        int r = std::popcount(rm & 0xFFFF);
        int g = std::popcount(gm & 0xFFFF);
        int b = std::popcount(bm & 0xFFFF);
        blueShift = 8 - r;
        greenShift = -(r + g - 8);
        redShift = -(r + g + b - 8);
    }
    void Expand(const uint8_t* src, uint8_t* dst) const {
        uint32_t w = Le16(src);
        dst[0] = uint8_t(ShiftBy(w & blueMask, blueShift));
        dst[1] = uint8_t(ShiftBy(w & greenMask, greenShift));
        dst[2] = uint8_t(ShiftBy(w & redMask, redShift));
    }
};

} // namespace

bool CRasterBMP::ReadInfoHeader(ImageStream* stream, BitmapInfoHeader& info) {
    uint8_t raw[40] = {};
    size_t got = stream->Read(raw, 1, 40);
    if (got == 0) return false;
    info.size = Le32(raw + 0);
    info.width = int32_t(Le32(raw + 4));
    info.height = int32_t(Le32(raw + 8));
    info.planes = Le16(raw + 12);
    info.bitCount = Le16(raw + 14);
    info.compression = Le32(raw + 16);
    info.sizeImage = Le32(raw + 20);
    info.xPelsPerMeter = int32_t(Le32(raw + 24));
    info.yPelsPerMeter = int32_t(Le32(raw + 28));
    info.clrUsed = Le32(raw + 32);
    info.clrImportant = Le32(raw + 36);

    // Wide enough for any header values (up to 2^95).
    auto minimumSize = [&]() -> __int128 {
        return ((__int128(info.bitCount) * info.width + 31) / 32) * 4 * __int128(info.height);
    };

    if (info.size == 40) {
        // as is
    } else if (info.size == 12) {
        info.width = Le16(raw + 4);
        info.height = Le16(raw + 6);
        info.planes = Le16(raw + 8);
        info.bitCount = Le16(raw + 10);
        info.compression = 0;
        info.sizeImage = 0;
        info.xPelsPerMeter = 0;
        info.yPelsPerMeter = 0;
        info.clrUsed = 0;
        info.clrImportant = 0;
        // Back to just after the 12 header bytes (28 bytes after a full read).
        if (got > 12) stream->Seek(-int64_t(got - 12), 1);
    } else if (info.size == 64) {
        stream->Seek(24, 1);
    } else if (info.size > 40 && __int128(info.sizeImage) >= minimumSize() && info.planes == 1 &&
               info.clrUsed == 0) {
        if (info.compression == 0) stream->Seek(int64_t(info.size) - 40, 1);
    } else {
        return false;
    }

    if (info.sizeImage == 0) info.sizeImage = uint32_t(minimumSize());
    if (info.clrUsed == 0 && info.bitCount <= 8) info.clrUsed = 1u << info.bitCount;
    return true;
}

void CRasterBMP::ExpandBitfields(const uint8_t* source, uint32_t redMask, uint32_t greenMask,
                                 uint32_t blueMask, uint32_t bits) {
    if (!pixelBlock || !source || header.bitCount != 24) return;
    const size_t width = Width();
    const size_t height = Height();
    const size_t stride = settings.rowStride;
    if (bits == 16) {
        const Bitfields16 fields(redMask, greenMask, blueMask);
        const size_t srcStride = ((width + 1) / 2) * 4;
        // Backwards, so that in place the 3-byte results never overwrite
        // 2-byte sources not yet read.
        for (size_t y = height; y-- > 0;) {
            const uint8_t* src = source + y * srcStride;
            uint8_t* dst = settings.pixels + y * stride;
            for (size_t x = width; x-- > 0;) fields.Expand(src + 2 * x, dst + 3 * x);
        }
    } else if (bits == 32) {
        const int rp = MaskBytePosition(redMask);
        const int gp = MaskBytePosition(greenMask);
        const int bp = MaskBytePosition(blueMask);
        for (size_t y = height; y-- > 0;) {
            const uint8_t* src = source + y * width * 4;
            uint8_t* dst = settings.pixels + y * stride;
            for (size_t x = width; x-- > 0;) {
                const uint8_t* p = src + 4 * x;
                uint8_t b = p[bp], g = p[gp], r = p[rp];
                dst[3 * x] = b;
                dst[3 * x + 1] = g;
                dst[3 * x + 2] = r;
            }
        }
    }
}

bool CRasterBMP::MapPageFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st {};
    uint8_t head[54] = {};
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::pread(fd, head, 54, 0) == 54;
    const int32_t width = int32_t(Le32(head + 18));
    const int32_t height = int32_t(Le32(head + 22));
    ok = ok && Le16(head) == 0x4D42 && Le32(head + 10) == 54 && Le32(head + 14) == 40 &&
         width > 0 && height > 0 && Le16(head + 26) == 1 && Le16(head + 28) == 24 &&
         Le32(head + 30) == 0;
    // The whole of every row must be in the file: the mapping cannot be
    // cleared past its end the way a short read is.
    const uint64_t rows = ((uint64_t(uint32_t(width)) * 24 + 31) / 32) * 4 * uint32_t(height);
    ok = ok && uint64_t(st.st_size) >= 54 + rows;
    void* mapping = MAP_FAILED;
    if (ok)
        mapping = ::mmap(nullptr, size_t(54 + rows), PROT_READ | PROT_WRITE, MAP_PRIVATE, fd, 0);
    ::close(fd);
    if (mapping == MAP_FAILED) return false;
    if (!CreateOn(uint32_t(width), uint32_t(height), 24, kFormatBMP, static_cast<uint8_t*>(mapping),
                  size_t(54 + rows), 14))
        return false;
    SetDpiX(int32_t(std::floor(int32_t(Le32(head + 38)) * 0.025400000000000002 + 0.5)));
    SetDpiY(int32_t(std::floor(int32_t(Le32(head + 42)) * 0.025400000000000002 + 0.5)));
    return true;
}

bool CRasterBMP::Decode(ImageStream* stream) {
    if (!stream) {
        SetLastError("null file handler");
        return false;
    }
    const int64_t start = stream->Tell();
    uint8_t fileHeader[14] = {};
    if (stream->Read(fileHeader, 1, 14) == 0) {
        SetLastError("Not a BMP");
        return false;
    }
    uint32_t dataOffset = 0;
    if (Le16(fileHeader) == 0x4D42) {
        dataOffset = Le32(fileHeader + 10);
    } else {
        // Bare info header, as in a packed bitmap.
        stream->Seek(start, 0);
    }

    BitmapInfoHeader info;
    if (!ReadInfoHeader(stream, info)) {
        SetLastError("Error reading BMP info");
        return false;
    }
    const bool topDown = info.height < 0;
    const uint32_t height = uint32_t(topDown ? -int64_t(info.height) : int64_t(info.height));
    const uint32_t fileBits = info.bitCount;
    if (!Create(uint32_t(info.width), height, fileBits, kFormatBMP)) return false;

    SetDpiX(int32_t(std::floor(info.xPelsPerMeter * 0.025400000000000002 + 0.5)));
    SetDpiY(int32_t(std::floor(info.yPelsPerMeter * 0.025400000000000002 + 0.5)));

    if (ColorCount() > 0) {
        const size_t entrySize = info.size == 12 ? 3 : 4;
        const uint32_t stored = std::min(info.clrUsed, ColorCount());
        uint8_t* pal = pixelBlock + 40;
        size_t got = stream->Read(pal, entrySize, stored);
        if (entrySize == 3) {
            for (size_t i = stored; i-- > 0;) {
                pal[4 * i + 2] = pal[3 * i + 2];
                pal[4 * i + 1] = pal[3 * i + 1];
                pal[4 * i] = pal[3 * i];
            }
        }
        for (size_t i = 0; i < ColorCount(); ++i) {
            if (i < got)
                pal[4 * i + 3] = 0;
            else
                std::memset(pal + 4 * i, 0, 4); // not in the file
        }
        // Entries beyond our palette are passed over, not kept.
        if (info.clrUsed > stored)
            stream->Seek(int64_t(info.clrUsed - stored) * int64_t(entrySize), 1);
    }

    auto seekToData = [&]() {
        if (dataOffset != 0) stream->Seek(start + dataOffset, 0);
    };
    // Reads straight into the pixel rows; what a short file leaves unread is
    // cleared rather than left as stale heap memory.
    auto readRows = [&](size_t bytes) {
        size_t got = stream->Read(settings.pixels, 1, bytes);
        if (got < header.sizeImage) std::memset(settings.pixels + got, 0, header.sizeImage - got);
    };

    switch (fileBits) {
    case 1:
    case 4:
    case 8:
        if (info.compression == 0) {
            seekToData();
            readRows(header.sizeImage);
        } else if (info.compression == 1) {
            seekToData();
            DecodeRle8(stream);
        } else if (info.compression == 2) {
            seekToData();
            DecodeRle4(stream);
        } else {
            SetLastError("compression type not supported");
            return false;
        }
        break;
    case 16: {
        uint32_t masks[3] = {0x7C00, 0x03E0, 0x001F};
        if (info.compression == 3) {
            uint8_t raw[12] = {};
            stream->Read(raw, 1, 12);
            for (int i = 0; i < 3; ++i) masks[i] = Le32(raw + 4 * i);
        }
        seekToData();
        readRows(((size_t(Width()) + 1) / 2) * 4 * Height());
        ExpandBitfields(settings.pixels, masks[0], masks[1], masks[2], 16);
        break;
    }
    case 24:
        seekToData();
        if (info.compression != 0) {
            SetLastError("unknown compression");
            return false;
        }
        readRows(header.sizeImage);
        break;
    case 32:
        if (info.compression == 0 || info.compression == 3) {
            if (!Decode32(stream, info.compression == 3, dataOffset, start)) return false;
        } else {
            SetLastError("unknown compression");
            return false;
        }
        break;
    default:
        break; // accepted; no pixel data is read
    }

    if (topDown) FlipRows(false, true);
    return true;
}

bool CRasterBMP::Decode32(ImageStream* stream, bool withMasks, uint32_t dataOffset, int64_t start) {
    uint32_t masks[3] = {0xFF0000, 0x00FF00, 0x0000FF};
    if (withMasks) {
        uint8_t raw[12] = {};
        stream->Read(raw, 1, 12);
        for (int i = 0; i < 3; ++i) masks[i] = Le32(raw + 4 * i);
    }
    if (dataOffset != 0) stream->Seek(start + dataOffset, 0);

    const size_t width = Width();
    const size_t height = Height();
    const bool withAlpha = !withMasks;
    if (withAlpha && !CreateAlphaPlane(255)) {
        SetLastError("can't allocate memory");
        return false;
    }
    // Row by row rather than one scratch copy of the whole file: a header
    // that claims a huge image costs no memory beyond the image itself.
    uint8_t* row = static_cast<uint8_t*>(std::malloc(width * 4));
    if (!row) {
        SetLastError("can't allocate memory");
        return false;
    }
    const int rp = MaskBytePosition(masks[0]);
    const int gp = MaskBytePosition(masks[1]);
    const int bp = MaskBytePosition(masks[2]);
    bool anyAlpha = false;
    bool ended = false;
    for (size_t y = 0; y < height; ++y) {
        size_t got = ended ? 0 : stream->Read(row, 1, width * 4);
        if (got < width * 4) {
            std::memset(row + got, 0, width * 4 - got);
            ended = true;
        }
        uint8_t* dst = settings.pixels + y * settings.rowStride;
        for (size_t x = 0; x < width; ++x) {
            const uint8_t* p = row + 4 * x;
            dst[3 * x] = p[bp];
            dst[3 * x + 1] = p[gp];
            dst[3 * x + 2] = p[rp];
        }
        if (withAlpha) {
            uint8_t* a = alphaPlane + y * width;
            for (size_t x = 0; x < width; ++x) {
                a[x] = row[4 * x + 3];
                anyAlpha |= a[x] != 0;
            }
        }
    }
    std::free(row);
    // A file with no alpha values at all is opaque, not invisible.
    if (withAlpha && !anyAlpha) std::memset(alphaPlane, 255, width * height);
    return true;
}

namespace {

// Cursor of the RLE decoders over the image's pixel rows; output beyond the
// rows is dropped.
struct RleCursor {
    uint8_t* pixels;
    size_t stride;
    size_t height;
    uint64_t row = 0;
    uint64_t pos = 0;
    bool high = true;

    void PutByte(uint8_t v) {
        if (row < height && pos < stride) pixels[row * stride + pos] = v;
    }
    void PutNibble(uint8_t nibble) {
        if (high) {
            PutByte(uint8_t(nibble << 4));
            high = false;
        } else {
            if (row < height && pos < stride) pixels[row * stride + pos] |= nibble & 15;
            high = true;
            ++pos;
        }
    }
};

bool ReadByte(ImageStream* s, uint8_t& b) {
    return s->Read(&b, 1, 1) == 1;
}

} // namespace

bool CRasterBMP::DecodeRle8(ImageStream* stream) {
    // Rows the stream does not reach stay blank (Create clears them).
    RleCursor c{settings.pixels, settings.rowStride, Height()};
    uint8_t count, value;
    while (ReadByte(stream, count)) {
        if (count > 0) {
            if (!ReadByte(stream, value)) break;
            for (unsigned i = 0; i < count && c.pos < c.stride; ++i) {
                c.PutByte(value);
                ++c.pos;
            }
            continue;
        }
        uint8_t escape;
        if (!ReadByte(stream, escape)) break;
        if (escape == 0) {
            c.pos = 0;
            ++c.row;
        } else if (escape == 1) {
            break;
        } else if (escape == 2) {
            uint8_t dx, dy;
            if (!ReadByte(stream, dx) || !ReadByte(stream, dy)) break;
            c.pos += dx;
            c.row += dy;
        } else {
            uint8_t run[256];
            size_t got = stream->Read(run, 1, escape);
            for (size_t i = 0; i < got; ++i) {
                c.PutByte(run[i]);
                ++c.pos;
            }
            if (got < escape) break;
            if (escape & 1) {
                uint8_t pad;
                if (!ReadByte(stream, pad)) break;
            }
        }
    }
    return true;
}

bool CRasterBMP::DecodeRle4(ImageStream* stream) {
    RleCursor c{settings.pixels, settings.rowStride, Height()};
    uint8_t count, value;
    while (ReadByte(stream, count)) {
        if (count > 0) {
            if (!ReadByte(stream, value)) break;
            for (unsigned i = 0; i < count; ++i) c.PutNibble((i & 1) ? value & 15 : value >> 4);
            continue;
        }
        uint8_t escape;
        if (!ReadByte(stream, escape)) break;
        if (escape == 0) {
            c.pos = 0;
            ++c.row;
            c.high = true;
        } else if (escape == 1) {
            break;
        } else if (escape == 2) {
            uint8_t dx, dy;
            if (!ReadByte(stream, dx) || !ReadByte(stream, dy)) break;
            c.pos += dx / 2;
            c.row += dy;
        } else {
            uint8_t b;
            bool ok = ReadByte(stream, b);
            for (unsigned i = 0; ok && i < escape; ++i) {
                c.PutNibble((i & 1) ? b & 15 : b >> 4);
                if ((i & 1) && i != escape - 1u) ok = ReadByte(stream, b);
            }
            if (!ok) break;
            if (((escape - 1) & 2) == 0) {
                uint8_t pad;
                if (!ReadByte(stream, pad)) break;
            }
        }
    }
    return true;
}

bool CRasterBMP::Encode(ImageStream* stream) {
    if (CheckEncodable(stream)) return false;
    uint8_t fileHeader[14];
    if (ColorCount() > 0 || !alphaPlane) {
        StoreFileHeader(fileHeader, uint32_t(14 + BlockSize()), 14 + 40 + PaletteBytes());
        stream->Write(fileHeader, 1, 14);
        StoreInfoHeader(pixelBlock, header);
        stream->Write(pixelBlock, BlockSize(), 1);
        return true;
    }

    // 24-bit pixels with an alpha plane: a 32-bit file.
    const size_t width = Width();
    const size_t height = Height();
    BitmapInfoHeader info = header;
    info.bitCount = 32;
    info.compression = 0;
    info.sizeImage = uint32_t(width * height * 4);
    StoreFileHeader(fileHeader, info.sizeImage + 40 + 14, 54);
    uint8_t infoBytes[40];
    StoreInfoHeader(infoBytes, info);
    stream->Write(fileHeader, 1, 14);
    stream->Write(infoBytes, 1, 40);
    uint8_t* row = static_cast<uint8_t*>(std::malloc(width * 4));
    for (size_t y = 0; y < height; ++y) {
        const uint8_t* src = settings.pixels + y * settings.rowStride;
        const uint8_t* alpha = alphaPlane + y * width;
        if (row) {
            for (size_t x = 0; x < width; ++x) {
                std::memcpy(row + 4 * x, src + 3 * x, 3);
                row[4 * x + 3] = alpha[x];
            }
            stream->Write(row, 1, width * 4);
        } else {
            for (size_t x = 0; x < width; ++x) {
                stream->Write(src + 3 * x, 1, 3);
                stream->Write(alpha + x, 1, 1);
            }
        }
    }
    std::free(row);
    return true;
}
