#include "Raster.h"

#include "CodecTable.h"
#include "ImageStream.h"
#include "RasterBMP.h"

#include <algorithm>
#include <bit>
#include <climits>
#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <sys/mman.h>

#if defined(__SANITIZE_ADDRESS__)
#define VARNEL_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VARNEL_ASAN 1
#endif
#endif

namespace {

// Pixel blocks the size of a page image are mapped on 2 MiB boundaries and offered huge
// pages: a page image then costs a dozen page faults instead of thousands,
// and column walks (quarter turns) stop missing the address cache. Under
// AddressSanitizer every block comes from the checked heap instead.
#ifndef VARNEL_ASAN
constexpr size_t kHugePage = size_t(2) << 20;
constexpr size_t kMapThreshold = size_t(8) << 20;
#endif

// Zeroed memory for a pixel block; mappedBytes is the mapping's length, or 0
// when the block came from the heap.
uint8_t* AllocateBlock(size_t size, size_t& mappedBytes) {
    mappedBytes = 0;
#ifndef VARNEL_ASAN
    if (size >= kMapThreshold) {
        size_t length = (size + kHugePage - 1) & ~(kHugePage - 1);
        void* raw = mmap(nullptr, length + kHugePage, PROT_READ | PROT_WRITE,
                         MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (raw != MAP_FAILED) {
            uintptr_t base = reinterpret_cast<uintptr_t>(raw);
            uintptr_t start = (base + kHugePage - 1) & ~uintptr_t(kHugePage - 1);
            if (start > base) munmap(raw, start - base);
            size_t tail = (base + length + kHugePage) - (start + length);
            if (tail) munmap(reinterpret_cast<void*>(start + length), tail);
            madvise(reinterpret_cast<void*>(start), length, MADV_HUGEPAGE);
            mappedBytes = length;
            return reinterpret_cast<uint8_t*>(start);
        }
    }
#endif
    return static_cast<uint8_t*>(std::calloc(1, size));
}

// offset: where the block starts in its mapping (a mapped file has its own
// header before it).
void FreeBlock(uint8_t* block, size_t mappedBytes, size_t offset) {
    if (!block) return;
    if (mappedBytes)
        munmap(block - offset, mappedBytes);
    else
        std::free(block);
}

// 256 MiB of pixel data, row padding not counted.
constexpr uint64_t kMaxPixelBytes = uint64_t(1) << 28;
// The padded rows of very narrow images can be many times their pixel data;
// this bound keeps such a request from becoming an unbounded allocation.
constexpr uint64_t kMaxPaddedBytes = uint64_t(1) << 29;

int32_t PixelsPerMetre(int32_t dpi) {
    double ppm = std::floor(double(dpi) * 39.37007874015748 + 0.5);
    return ppm >= double(INT32_MAX) ? INT32_MAX : int32_t(ppm);
}

} // namespace

CRaster::CRaster(uint32_t formatCode) {
    settings.formatCode = formatCode;
    settings.qualityLevel = 90.0f;
    settings.alphaMax = 255;
    settings.backgroundIndex = -1;
    settings.enabled = true;
    settings.littleEndianHost = std::endian::native == std::endian::little;
    SetDpiX(96);
    SetDpiY(96);
}

CRaster::~CRaster() {
    ReleaseFrames();
    FreeImage();
}

void CRaster::ReleaseFrames() {
    if (settings.viewOf) {
        frames.clear(); // a view borrowed them
        return;
    }
    for (CRaster* frame : frames) delete frame;
    frames.clear();
}

bool CRaster::FreeImage() {
    if (settings.viewOf) return false;
    FreeBlock(pixelBlock, m_mappedBytes, m_blockOffset);
    pixelBlock = nullptr;
    m_mappedBytes = 0;
    m_blockOffset = 0;
    settings.pixels = nullptr;
    std::free(alphaPlane);
    alphaPlane = nullptr;
    std::free(selectionPlane);
    selectionPlane = nullptr;
    for (CRaster* layer : layers) delete layer;
    layers.clear();
    return true;
}

uint8_t* CRaster::Create(uint32_t width, uint32_t height, uint32_t bpp, uint32_t formatCode) {
    return CreateOn(width, height, bpp, formatCode, nullptr, 0, 0);
}

uint8_t* CRaster::CreateOn(uint32_t width, uint32_t height, uint32_t bpp, uint32_t formatCode,
                           uint8_t* mapping, size_t length, size_t offset) {
    // A mapping that is not taken is still ours to release.
    auto refuse = [&]() -> uint8_t* {
        if (mapping) munmap(mapping, length);
        return nullptr;
    };
    if (!FreeImage()) return refuse();
    if (width == 0 || height == 0) {
        SetLastError("CRaster::Create : width and height must be greater than zero");
        return refuse();
    }
    bpp = bpp <= 1 ? 1 : bpp <= 4 ? 4 : bpp <= 8 ? 8 : 24;

    // width x height x bpp needs up to 70 bits, so the tests are made in ranges
    // that cannot overflow.
    uint64_t area = uint64_t(width) * height;
    uint64_t rowStride = ((uint64_t(width) * bpp + 31) / 32) * 4;
    bool tooLarge = area > (uint64_t(1) << 40) || (area * bpp) / 8 > kMaxPixelBytes ||
                    rowStride * height > kMaxPaddedBytes;
    if (tooLarge) {
        SetLastError("RASTER_MAX_MEMORY exceeded");
        return refuse();
    }
    uint64_t imageSize = rowStride * height;
    // The header's signed fields must hold the size.
    if (width > uint32_t(INT32_MAX) || height > uint32_t(INT32_MAX) || imageSize > UINT32_MAX) {
        SetLastError("CRaster::Create can't allocate memory");
        return refuse();
    }

    uint32_t colors = bpp == 1 ? 2 : bpp == 4 ? 16 : bpp == 8 ? 256 : 0;
    settings.rowStride = uint32_t(rowStride);
    header.size = 40;
    header.width = int32_t(width);
    header.height = int32_t(height);
    header.planes = 1;
    header.bitCount = uint16_t(bpp);
    header.compression = 0;
    header.sizeImage = uint32_t(imageSize);
    header.clrUsed = colors;
    settings.formatCode = formatCode;

    // Zeroed rows cost next to nothing for large blocks (fresh pages) and keep
    // row padding and unwritten rows from carrying stale memory into files.
    if (mapping) {
        if (offset > length || BlockSize() > length - offset) {
            SetLastError("CRaster::Create : the file is too short");
            return refuse();
        }
        pixelBlock = mapping + offset;
        m_mappedBytes = length;
        m_blockOffset = offset;
    } else {
        pixelBlock = AllocateBlock(BlockSize(), m_mappedBytes);
    }
    if (!pixelBlock) {
        SetLastError("CRaster::Create can't allocate memory");
        return nullptr;
    }
    std::free(selectionPlane);
    selectionPlane = nullptr;
    std::free(alphaPlane);
    alphaPlane = nullptr;
    std::memcpy(pixelBlock, &header, sizeof header);
    settings.pixels = pixelBlock + 40 + PaletteBytes();
    settings.lastValid = false;
    return pixelBlock;
}

void CRaster::CopySettings(const CRaster& other) {
    if (pixelBlock || &other == this) return;
    settings = other.settings;
    // Those two describe other's memory, not ours.
    settings.pixels = nullptr;
    settings.viewOf = nullptr;
}

bool CRaster::TakeOver(CRaster& other, bool withFrames) {
    if (&other == this) return true;
    // A view's memory belongs to the image it shows.
    if (other.settings.viewOf) return false;
    if (!FreeImage()) return false;
    header = other.header;
    settings = other.settings;
    pixelBlock = other.pixelBlock;
    m_mappedBytes = other.m_mappedBytes;
    m_blockOffset = other.m_blockOffset;
    alphaPlane = other.alphaPlane;
    selectionPlane = other.selectionPlane;
    layers = std::move(other.layers);
    other.pixelBlock = nullptr;
    other.m_mappedBytes = 0;
    other.m_blockOffset = 0;
    other.settings.pixels = nullptr;
    other.alphaPlane = nullptr;
    other.selectionPlane = nullptr;
    other.layers.clear();
    if (withFrames) {
        ReleaseFrames();
        frames = std::move(other.frames);
        other.frames.clear();
    }
    return true;
}

void CRaster::MakeView(CRaster& other) {
    if (&other == this) return;
    if (!settings.viewOf) {
        ReleaseFrames();
        FreeImage();
    }
    header = other.header;
    settings = other.settings;
    pixelBlock = other.pixelBlock;
    alphaPlane = other.alphaPlane;
    selectionPlane = other.selectionPlane;
    layers = other.layers;
    frames = other.frames;
    settings.viewOf = &other;
}

uint8_t* CRaster::RowPointer(uint32_t row) const {
    if (!pixelBlock) return nullptr;
    if (row != 0 && row >= Height()) return nullptr;
    return settings.pixels + size_t(row) * settings.rowStride;
}

size_t CRaster::BlockSize() const {
    return 40 + size_t(PaletteBytes()) + header.sizeImage;
}

bool CRaster::Contains(int64_t x, int64_t y) const {
    return x >= 0 && y >= 0 && x < int64_t(Width()) && y < int64_t(Height());
}

void CRaster::SetLastError(const char* text) {
    if (!text) text = "";
    char copy[256];
    size_t n = strnlen(text, 255);
    std::memcpy(copy, text, n);
    copy[n] = '\0';
    std::memcpy(settings.lastError, copy, n + 1);
}

// ---- pixels ---------------------------------------------------------------

uint8_t CRaster::GetIndexAtUnchecked(uint32_t x, uint32_t y) const {
    const uint8_t* row = settings.pixels + size_t(y) * settings.rowStride;
    switch (header.bitCount) {
    case 8:
        return row[x];
    case 4:
        return (x & 1) ? row[x >> 1] & 15 : row[x >> 1] >> 4;
    case 1:
        return (row[x >> 3] >> (7 - (x & 7))) & 1;
    default:
        return 0;
    }
}

void CRaster::SetIndexAtUnchecked(uint32_t x, uint32_t y, uint8_t index) {
    uint8_t* row = settings.pixels + size_t(y) * settings.rowStride;
    switch (header.bitCount) {
    case 8:
        row[x] = index;
        break;
    case 4: {
        uint8_t& b = row[x >> 1];
        b = (x & 1) ? uint8_t((b & 0xF0) | (index & 15)) : uint8_t((b & 0x0F) | (index & 15) << 4);
        break;
    }
    case 1: {
        uint8_t mask = uint8_t(0x80 >> (x & 7));
        uint8_t& b = row[x >> 3];
        b = (index & 1) ? uint8_t(b | mask) : uint8_t(b & ~mask);
        break;
    }
    default:
        break;
    }
}

uint8_t CRaster::GetIndexAt(int64_t x, int64_t y) const {
    if (!pixelBlock || header.clrUsed == 0) return 0;
    if (!Contains(x, y)) {
        if (settings.backgroundIndex >= 0) return uint8_t(settings.backgroundIndex);
        return settings.pixels[0];
    }
    return GetIndexAtUnchecked(uint32_t(x), uint32_t(y));
}

void CRaster::SetIndexAt(int64_t x, int64_t y, uint8_t index) {
    if (!pixelBlock || header.clrUsed == 0 || !Contains(x, y)) return;
    SetIndexAtUnchecked(uint32_t(x), uint32_t(y), index);
}

RasterColor CRaster::GetColorAtUnchecked(uint32_t x, uint32_t y, bool withAlpha) const {
    RasterColor c;
    if (header.clrUsed) {
        c = Palette()[GetIndexAtUnchecked(x, y)];
    } else {
        const uint8_t* p = settings.pixels + size_t(y) * settings.rowStride + size_t(x) * 3;
        c = RasterColor{p[0], p[1], p[2], 0};
    }
    if (withAlpha && alphaPlane) c.reserved = alphaPlane[size_t(y) * Width() + x];
    return c;
}

RasterColor CRaster::GetColorAt(int64_t x, int64_t y, bool withAlpha) const {
    if (!pixelBlock) {
        return settings.backgroundIndex >= 0 ? RasterColor{} : settings.backgroundColor;
    }
    if (!Contains(x, y)) {
        if (settings.backgroundIndex >= 0) {
            return header.clrUsed ? PaletteColor(uint32_t(settings.backgroundIndex))
                                  : settings.backgroundColor;
        }
        return GetColorAt(0, 0, true);
    }
    RasterColor c = GetColorAtUnchecked(uint32_t(x), uint32_t(y), false);
    if (!header.clrUsed) c.reserved = settings.backgroundColor.reserved;
    if (withAlpha && alphaPlane) c.reserved = alphaPlane[size_t(y) * Width() + size_t(x)];
    return c;
}

void CRaster::SetColorAtUnchecked(uint32_t x, uint32_t y, RasterColor color, bool withAlpha) {
    if (header.clrUsed) {
        SetIndexAtUnchecked(x, y, NearestIndex(color));
    } else {
        uint8_t* p = settings.pixels + size_t(y) * settings.rowStride + size_t(x) * 3;
        p[0] = color.blue;
        p[1] = color.green;
        p[2] = color.red;
    }
    if (withAlpha && alphaPlane) alphaPlane[size_t(y) * Width() + x] = color.reserved;
}

void CRaster::SetColorAt(int64_t x, int64_t y, RasterColor color, bool withAlpha) {
    if (!pixelBlock || !Contains(x, y)) return;
    SetColorAtUnchecked(uint32_t(x), uint32_t(y), color, withAlpha);
}

uint8_t CRaster::SearchNearest(const RasterColor* pal, uint32_t n, RasterColor color) {
    int32_t best = 200000;
    uint32_t bestIndex = 0;
    for (uint32_t i = 0; i < n; ++i) {
        // Partial sums that already reach the best cannot win: skipping them
        // keeps the lowest-index rule.
        int32_t db = int32_t(pal[i].blue) - color.blue;
        int32_t d = db * db;
        if (d >= best) continue;
        int32_t dg = int32_t(pal[i].green) - color.green;
        d += dg * dg;
        if (d >= best) continue;
        int32_t dr = int32_t(pal[i].red) - color.red;
        d += dr * dr;
        if (d < best) {
            best = d;
            bestIndex = i;
            if (d == 0) break;
        }
    }
    return uint8_t(bestIndex);
}

uint32_t CRaster::SearchCount() const {
    uint32_t n = header.clrImportant ? header.clrImportant : header.clrUsed;
    return std::min(n, header.clrUsed); // never search past the palette
}

uint8_t CRaster::NearestIndex(RasterColor color) {
    if (!pixelBlock || header.clrUsed == 0) return 0;
    if (settings.lastValid && settings.lastColor == color) return settings.lastIndex;
    settings.lastColor = color;
    settings.lastValid = true;
    settings.lastIndex = SearchNearest(Palette(), SearchCount(), color);
    return settings.lastIndex;
}

void CRaster::Fill(uint8_t value) {
    if (!pixelBlock) return;
    if (header.bitCount == 1 && value) value = 255;
    if (header.bitCount == 4) value = uint8_t((value & 15) * 17);
    std::memset(settings.pixels, value, header.sizeImage);
}

bool CRaster::FlipRows(bool withSelection, bool withAlpha) {
    if (!pixelBlock) return false;
    size_t width = Width();
    size_t height = Height();
    uint8_t* scratch =
        static_cast<uint8_t*>(std::malloc(std::max<size_t>(settings.rowStride, width)));
    if (!scratch) return false;
    auto flip = [&](uint8_t* base, size_t stride) {
        for (size_t i = 0; i < height / 2; ++i) {
            uint8_t* a = base + i * stride;
            uint8_t* b = base + (height - 1 - i) * stride;
            std::memcpy(scratch, a, stride);
            std::memcpy(a, b, stride);
            std::memcpy(b, scratch, stride);
        }
    };
    flip(settings.pixels, settings.rowStride);
    if (withSelection && selectionPlane) flip(selectionPlane, width);
    if (withAlpha && alphaPlane) flip(alphaPlane, width);
    std::free(scratch);
    return true;
}

// ---- palette ---------------------------------------------------------------

RasterColor* CRaster::Palette() const {
    if (!pixelBlock || header.clrUsed == 0) return nullptr;
    return reinterpret_cast<RasterColor*>(pixelBlock + 40);
}

RasterColor CRaster::PaletteColor(uint32_t index) const {
    RasterColor* pal = Palette();
    if (!pal || index >= header.clrUsed) return RasterColor{};
    return pal[index];
}

void CRaster::SetPaletteColor(uint32_t index, RasterColor color) {
    RasterColor* pal = Palette();
    if (pal && index < header.clrUsed) pal[index] = color;
    settings.lastValid = false;
}

void CRaster::LoadPalette(const RasterColor* table, uint32_t count) {
    RasterColor* pal = Palette();
    if (!table || !pal) return;
    uint64_t bytes = std::min<uint64_t>(uint64_t(count) * 4, PaletteBytes());
    std::memcpy(pal, table, size_t(bytes));
    settings.lastValid = false;
}

void CRaster::SetGrayRamp() {
    RasterColor* pal = Palette();
    if (!pal) return;
    uint32_t n = header.clrUsed;
    uint32_t step = n > 1 ? 255 / (n - 1) : 0;
    for (uint32_t i = 0; i < n; ++i) {
        uint8_t v = uint8_t(i * step);
        pal[i].blue = pal[i].green = pal[i].red = v;
    }
    settings.lastValid = false;
}

void CRaster::SetDefaultPalette() {
    RasterColor* pal = Palette();
    if (pal) {
        if (header.bitCount == 1) {
            pal[0] = RasterColor{0, 0, 0, 0};
            pal[1] = RasterColor{255, 255, 255, 0};
        } else if (header.bitCount == 4) {
            // The sixteen classic display colours.
            static const uint32_t kVga[16] = {
                0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080, 0x008080, 0xC0C0C0,
                0x808080, 0xFF0000, 0x00FF00, 0xFFFF00, 0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF};
            for (int i = 0; i < 16; ++i) pal[i] = RasterColor::FromU32(kVga[i]);
        } else if (header.bitCount == 8) {
            // A 6 x 6 x 6 cube, then a gray ramp.
            for (int i = 0; i < 216; ++i)
                pal[i] = RasterColor::Rgb(uint8_t(i / 36 * 51), uint8_t(i / 6 % 6 * 51),
                                          uint8_t(i % 6 * 51));
            for (int i = 216; i < 256; ++i) {
                uint8_t v = uint8_t((i - 216) * 255 / 39);
                pal[i] = RasterColor::Rgb(v, v, v);
            }
        }
    }
    settings.lastValid = false;
}

void CRaster::SetImportantColors(uint32_t n) {
    if (n == 0 || n > 256) {
        header.clrImportant = 0;
        return;
    }
    switch (header.bitCount) {
    case 1:
        header.clrImportant = std::min(n, 2u);
        break;
    case 4:
        header.clrImportant = std::min(n, 16u);
        break;
    case 8:
        header.clrImportant = n;
        break;
    default:
        break;
    }
}

bool CRaster::PaletteComponents(uint32_t index, uint8_t& red, uint8_t& green, uint8_t& blue) const {
    RasterColor* pal = Palette();
    if (!pal || index >= header.clrUsed) return false;
    red = pal[index].red;
    green = pal[index].green;
    blue = pal[index].blue;
    return true;
}

void CRaster::SwapPaletteEntries(uint8_t a, uint8_t b) {
    RasterColor* pal = Palette();
    if (!pal || a >= header.clrUsed || b >= header.clrUsed || a == b) return;
    std::swap(pal[a], pal[b]);
    settings.lastValid = false;
    uint32_t w = Width(), h = Height();
    for (uint32_t y = 0; y < h; ++y) {
        for (uint32_t x = 0; x < w; ++x) {
            uint8_t i = GetIndexAtUnchecked(x, y);
            if (i == a)
                SetIndexAtUnchecked(x, y, b);
            else if (i == b)
                SetIndexAtUnchecked(x, y, a);
        }
    }
}

void CRaster::SwapRedBlue(uint8_t* row, size_t length) const {
    if (!row || header.clrUsed || header.bitCount != 24) return;
    size_t limit = std::min<size_t>({length, settings.rowStride, size_t(3) * Width()});
    // Only whole pixels: a pixel cut by the limit would reach past the buffer.
    for (size_t i = 0; i + 2 < limit; i += 3) std::swap(row[i], row[i + 2]);
}

RasterColor CRaster::TransparentColor() const {
    if (header.clrUsed && settings.backgroundIndex >= 0)
        return PaletteColor(uint32_t(settings.backgroundIndex));
    return settings.backgroundColor;
}

bool CRaster::IsGray() const {
    RasterColor* pal = Palette();
    if (!pal) return false;
    for (uint32_t i = 0; i < header.clrUsed; ++i) {
        if (pal[i].blue != i || pal[i].green != i || pal[i].red != i) return false;
    }
    return true;
}

// ---- settings read by the writers -----------------------------------------

void CRaster::SetDpiX(int32_t dpi) {
    if (dpi <= 0) dpi = 96;
    settings.dpiX = dpi;
    header.xPelsPerMeter = PixelsPerMetre(dpi);
    // Copied, not assigned: a mapped page file's block is only 2-byte aligned.
    if (pixelBlock)
        std::memcpy(pixelBlock + offsetof(BitmapInfoHeader, xPelsPerMeter), &header.xPelsPerMeter,
                    sizeof header.xPelsPerMeter);
}

void CRaster::SetDpiY(int32_t dpi) {
    if (dpi <= 0) dpi = 96;
    settings.dpiY = dpi;
    header.yPelsPerMeter = PixelsPerMetre(dpi);
    // Copied, not assigned: a mapped page file's block is only 2-byte aligned.
    if (pixelBlock)
        std::memcpy(pixelBlock + offsetof(BitmapInfoHeader, yPelsPerMeter), &header.yPelsPerMeter,
                    sizeof header.yPelsPerMeter);
}

uint8_t CRaster::GetQuality() const {
    float q = settings.qualityLevel + 0.5f;
    if (!(q > 0.0f)) return 0;
    if (q >= 4294967296.0f) return 255;
    return uint8_t(uint32_t(q));
}

bool CRaster::SetEncodeOption(uint32_t word, uint32_t formatCode) {
    uint32_t code = ValidFormat(formatCode);
    if (code == kFormatNone) code = ValidFormat(settings.formatCode);
    settings.encodeOptions[code] = word;
    return true;
}

uint32_t CRaster::GetEncodeOption(uint32_t formatCode) const {
    uint32_t code = ValidFormat(formatCode);
    if (code == kFormatNone) code = ValidFormat(settings.formatCode);
    return settings.encodeOptions[code];
}

bool CRaster::CheckEncodable(ImageStream* stream) {
    if (!stream) {
        SetLastError("null file handler");
        return true;
    }
    if (!pixelBlock) {
        SetLastError("null image!!!");
        return true;
    }
    return false;
}

// ---- files ------------------------------------------------------------------

bool CRaster::LoadFile(const std::string& path, uint32_t formatCode) {
    uint32_t code = ValidFormat(formatCode);
    if (code != kFormatNone) {
        FILE* f = std::fopen(path.c_str(), "rb");
        if (!f) return false;
        bool ok = Decode(f, code);
        std::fclose(f);
        if (ok) return true;
    }
    char kept[256];
    std::memcpy(kept, settings.lastError, sizeof kept);
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    bool ok = Decode(f, kFormatNone);
    std::fclose(f);
    // The typed attempt's message says more than the detection's.
    if (!ok && code != kFormatNone) std::memcpy(settings.lastError, kept, sizeof kept);
    return ok;
}

bool CRaster::LoadPageFile(const std::string& path, uint32_t formatCode) {
    if (ValidFormat(formatCode) == kFormatBMP) {
        CRasterBMP page;
        page.CopySettings(*this);
        if (page.MapPageFile(path)) return TakeOver(page, true);
    }
    return LoadFile(path, formatCode);
}

bool CRaster::Decode(FILE* file, uint32_t formatCode) {
    if (!file) return Decode(static_cast<ImageStream*>(nullptr), formatCode);
    FileStream stream(file);
    return Decode(&stream, formatCode);
}

bool CRaster::Decode(ImageStream* stream, uint32_t formatCode) {
    if (!stream) {
        SetLastError("null file handler");
        return false;
    }
    if (formatCode >= 1 && formatCode <= 20) {
        DecodeFunction decode = kCodecTable[formatCode].decode;
        if (decode) return decode(*this, stream);
    } else if (formatCode == kFormatNone) {
        int64_t start = stream->Tell();
        DecodeFunction tried[kFormatCount] = {};
        size_t triedCount = 0;
        for (size_t i = 0; i < kDetectionOrderLength; ++i) {
            DecodeFunction decode = kCodecTable[kDetectionOrder[i]].decode;
            if (!decode || std::find(tried, tried + triedCount, decode) != tried + triedCount)
                continue;
            if (triedCount > 0) stream->Seek(start, 0);
            tried[triedCount++] = decode;
            if (decode(*this, stream)) return true;
        }
    }
    SetLastError("Decode: Unknown or wrong format");
    return false;
}

bool CRaster::SaveFile(const std::string& path, uint32_t formatCode) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = Encode(f, formatCode);
    // Writers do not test every write; a full disk must not pass as success.
    bool written = std::ferror(f) == 0;
    written = std::fclose(f) == 0 && written;
    if (ok && !written) {
        SetLastError("SaveFile: write failed");
        ok = false;
    }
    return ok;
}

bool CRaster::Encode(FILE* file, uint32_t formatCode) {
    if (!file) return Encode(static_cast<ImageStream*>(nullptr), formatCode);
    FileStream stream(file);
    return Encode(&stream, formatCode);
}

bool CRaster::Encode(ImageStream* stream, uint32_t formatCode) {
    if (formatCode != kFormatNone && formatCode < kFormatCount) {
        EncodeFunction encode = kCodecTable[formatCode].encode;
        if (encode) return encode(*this, stream);
    }
    SetLastError("Encode: Unknown format");
    return false;
}

// ---- helpers for the transforms ---------------------------------------------

bool CRaster::CreateAlphaPlane(uint8_t fill) {
    std::free(alphaPlane);
    size_t n = size_t(Width()) * Height();
    alphaPlane = static_cast<uint8_t*>(std::malloc(n ? n : 1));
    if (!alphaPlane) return false;
    std::memset(alphaPlane, fill, n);
    return true;
}

bool CRaster::CopyPlanesFrom(const CRaster& source) {
    size_t n = size_t(Width()) * Height();
    bool ok = true;
    if (source.alphaPlane) {
        if (CreateAlphaPlane(0))
            std::memcpy(alphaPlane, source.alphaPlane, n);
        else
            ok = false;
    }
    if (source.selectionPlane) {
        std::free(selectionPlane);
        selectionPlane = static_cast<uint8_t*>(std::malloc(n ? n : 1));
        if (selectionPlane)
            std::memcpy(selectionPlane, source.selectionPlane, n);
        else
            ok = false;
    }
    return ok;
}

bool CRaster::StartGeometryResult(CRaster& temp, uint32_t width, uint32_t height) {
    temp.CopySettings(*this);
    temp.Create(width, height, BitsPerPixel(), settings.formatCode);
    temp.LoadPalette(Palette(), 256);
    if (!temp.pixelBlock) {
        SetLastError(temp.LastError());
        return false;
    }
    return true;
}

bool CRaster::FinishTransform(CRaster& temp, CRaster* destination) {
    CRaster* target = destination ? destination : this;
    if (!target->TakeOver(temp, true)) return false;
    target->SetDpiX(target->settings.dpiX);
    target->SetDpiY(target->settings.dpiY);
    return true;
}
