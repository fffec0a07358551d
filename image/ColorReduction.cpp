// Gray conversion and reduction to a palette.
#include "Raster.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace {

// Integer weights that add up to 1024, so white stays 255.
inline uint8_t GrayLevel(uint32_t red, uint32_t green, uint32_t blue) {
    return uint8_t((306 * red + 601 * green + 117 * blue) >> 10);
}

// Remembers nearest-colour answers for many colours at once. Page content
// returns to the same few colours (text, rules, tints), which a one-entry
// cache loses at every edge. A miss searches the palette sorted by green
// outwards from the colour's own green, which ends after a few entries on
// photo-like content. Either way the answer is that of the plain search: the
// lowest index among the entries at the least distance.
class NearestCache {
public:
    NearestCache(const RasterColor* palette, uint32_t count)
        : m_palette(palette), m_count(std::min(count, 256u)) {
        m_keys = std::make_unique<uint32_t[]>(kSlots);
        m_values = std::make_unique<uint8_t[]>(kSlots);
        std::fill_n(m_keys.get(), kSlots, kEmpty);
        for (uint32_t i = 0; i < m_count; ++i) m_order[i] = uint8_t(i);
        std::stable_sort(m_order, m_order + m_count,
                         [&](uint8_t a, uint8_t b) { return palette[a].green < palette[b].green; });
        uint32_t pos = 0;
        for (uint32_t g = 0; g < 256; ++g) {
            while (pos < m_count && palette[m_order[pos]].green < g) ++pos;
            m_start[g] = uint16_t(pos);
        }
    }
    uint8_t Find(uint8_t blue, uint8_t green, uint8_t red) {
        uint32_t key = uint32_t(blue) | uint32_t(green) << 8 | uint32_t(red) << 16;
        uint32_t slot = ((key * 0x9E3779B1u) >> (32 - kBits));
        if (m_keys[slot] == key) return m_values[slot];
        uint8_t index = Search(blue, green, red);
        m_keys[slot] = key;
        m_values[slot] = index;
        return index;
    }

private:
    static constexpr uint32_t kBits = 14;
    static constexpr uint32_t kSlots = 1u << kBits;
    static constexpr uint32_t kEmpty = 0xFFFFFFFFu; // no 24-bit key has the top byte set

    uint8_t Search(int blue, int green, int red) const {
        int best = 200000;
        uint32_t bestIndex = 0;
        auto consider = [&](uint32_t index) {
            const RasterColor& e = m_palette[index];
            int db = e.blue - blue, dg = e.green - green, dr = e.red - red;
            int d = db * db + dg * dg + dr * dr;
            if (d < best || (d == best && index < bestIndex)) {
                best = d;
                bestIndex = index;
            }
        };
        int up = m_start[green];
        int down = up - 1;
        const int n = int(m_count);
        while (up < n || down >= 0) {
            if (up < n) {
                int dg = m_palette[m_order[up]].green - green;
                if (dg * dg > best)
                    up = n; // every further entry is farther in green alone
                else
                    consider(m_order[up++]);
            }
            if (down >= 0) {
                int dg = green - m_palette[m_order[down]].green;
                if (dg * dg > best)
                    down = -1;
                else
                    consider(m_order[down--]);
            }
        }
        return uint8_t(bestIndex);
    }

    const RasterColor* m_palette;
    uint32_t m_count;
    uint8_t m_order[256] = {};
    uint16_t m_start[256] = {};
    std::unique_ptr<uint32_t[]> m_keys;
    std::unique_ptr<uint8_t[]> m_values;
};

} // namespace

bool CRaster::MakeGray() {
    if (!pixelBlock) return false;
    const uint32_t width = Width();
    const uint32_t height = Height();

    if (header.bitCount == 24) {
        CRaster temp(kFormatNone);
        temp.CopySettings(*this);
        if (!temp.Create(width, height, 8, settings.formatCode)) return false;
        temp.SetGrayRamp();
        if (!temp.CopyPlanesFrom(*this)) return false;
        for (uint32_t y = 0; y < height; ++y) {
            const uint8_t* src = RowPointer(y);
            uint8_t* dst = temp.RowPointer(y);
            for (uint32_t x = 0; x < width; ++x, src += 3)
                dst[x] = GrayLevel(src[2], src[1], src[0]);
        }
        return FinishTransform(temp, nullptr);
    }

    RasterColor* pal = Palette();
    if (!pal) return false;
    for (uint32_t i = 0; i < header.clrUsed; ++i)
        pal[i].blue = GrayLevel(pal[i].red, pal[i].green, pal[i].blue);
    if (settings.backgroundIndex >= 0 && uint32_t(settings.backgroundIndex) < header.clrUsed)
        settings.backgroundIndex = pal[settings.backgroundIndex].blue;
    settings.lastValid = false;

    if (header.bitCount == 8) {
        uint8_t* p = settings.pixels;
        for (uint32_t i = 0; i < header.sizeImage; ++i) p[i] = pal[p[i]].blue;
        SetGrayRamp();
        return true;
    }

    CRaster temp(kFormatNone);
    temp.CopySettings(*this);
    if (!temp.Create(width, height, 8, settings.formatCode)) return false;
    temp.SetGrayRamp();
    if (!temp.CopyPlanesFrom(*this)) return false;
    for (uint32_t y = 0; y < height; ++y) {
        uint8_t* dst = temp.RowPointer(y);
        for (uint32_t x = 0; x < width; ++x) dst[x] = pal[GetIndexAtUnchecked(x, y)].blue;
    }
    return FinishTransform(temp, nullptr);
}

bool CRaster::DecreaseBpp(uint32_t bits, bool errorDiffusion, const RasterColor* palette,
                          uint32_t count) {
    if (!pixelBlock) return false;
    if (header.bitCount < bits) {
        SetLastError("DecreaseBpp: target BPP greater than source BPP");
        return false;
    }
    if (header.bitCount == bits) {
        if (count == 0) return true;
        if (header.clrImportant != 0 && header.clrImportant < count) return true;
    }

    const uint32_t width = Width();
    const uint32_t height = Height();
    CRaster temp(kFormatNone);
    temp.CopySettings(*this);
    temp.Create(width, height, bits, settings.formatCode);
    if (count != 0) temp.SetImportantColors(count);
    if (!temp.pixelBlock) {
        SetLastError(temp.LastError());
        return false;
    }
    if (!temp.CopyPlanesFrom(*this)) return false;

    if (!palette)
        temp.SetDefaultPalette();
    else if (count != 0)
        temp.LoadPalette(palette, count);
    else
        temp.LoadPalette(palette, bits >= 9 ? 256u : 1u << bits);

    if (errorDiffusion) {
        auto clampAdd = [](int value, int error, int weight) {
            int v = value + error * weight / 16; // truncated toward zero
            return uint8_t(std::clamp(v, 0, 255));
        };
        auto spread = [&](int64_t x, int64_t y, int dr, int dg, int db, int weight) {
            if (!Contains(x, y)) return; // writes outside are ignored
            RasterColor c = GetColorAt(x, y, true);
            c.red = clampAdd(c.red, dr, weight);
            c.green = clampAdd(c.green, dg, weight);
            c.blue = clampAdd(c.blue, db, weight);
            SetColorAt(x, y, c, false);
        };
        for (uint32_t y = 0; y < height; ++y) {
            for (uint32_t x = 0; x < width; ++x) {
                RasterColor c = GetColorAt(x, y, true);
                temp.SetColorAt(x, y, c, false);
                RasterColor e = temp.GetColorAt(x, y, true);
                int dr = int(c.red) - e.red;
                int dg = int(c.green) - e.green;
                int db = int(c.blue) - e.blue;
                spread(int64_t(x) + 1, y, dr, dg, db, 7);
                spread(int64_t(x) - 1, int64_t(y) + 1, dr, dg, db, 2);
                spread(x, int64_t(y) + 1, dr, dg, db, 4);
                spread(int64_t(x) + 1, int64_t(y) + 1, dr, dg, db, 1);
            }
        }
        return FinishTransform(temp, nullptr);
    }

    if (temp.header.clrUsed == 0) {
        // Same depth, 24 bits: a plain copy of the colours.
        for (uint32_t y = 0; y < height; ++y)
            std::memcpy(temp.RowPointer(y), RowPointer(y),
                        std::min(settings.rowStride, temp.settings.rowStride));
        return FinishTransform(temp, nullptr);
    }

    // Each pixel gets temp.NearestIndex of its colour. The distance ignores the
    // reserved byte, so the answer depends on blue, green and red alone and a
    // wider cache gives the same indices as the one-entry cache.
    const RasterColor* tpal = temp.Palette();
    const uint32_t n = temp.SearchCount();
    if (header.bitCount == 24) {
        NearestCache cache(tpal, n);
        for (uint32_t y = 0; y < height; ++y) {
            const uint8_t* src = RowPointer(y);
            uint8_t* dst = temp.RowPointer(y);
            uint32_t prevKey = 0xFFFFFFFFu;
            uint8_t prevIndex = 0;
            if (temp.header.bitCount == 8) {
                for (uint32_t x = 0; x < width; ++x, src += 3) {
                    uint32_t key =
                        uint32_t(src[0]) | uint32_t(src[1]) << 8 | uint32_t(src[2]) << 16;
                    if (key != prevKey) {
                        prevKey = key;
                        prevIndex = cache.Find(src[0], src[1], src[2]);
                    }
                    dst[x] = prevIndex;
                }
            } else if (temp.header.bitCount == 1) {
                std::memset(dst, 0, temp.settings.rowStride);
                for (uint32_t x = 0; x < width; ++x, src += 3) {
                    uint32_t key =
                        uint32_t(src[0]) | uint32_t(src[1]) << 8 | uint32_t(src[2]) << 16;
                    if (key != prevKey) {
                        prevKey = key;
                        prevIndex = cache.Find(src[0], src[1], src[2]);
                    }
                    dst[x >> 3] |= uint8_t((prevIndex & 1) << (7 - (x & 7)));
                }
            } else {
                for (uint32_t x = 0; x < width; ++x, src += 3) {
                    uint32_t key =
                        uint32_t(src[0]) | uint32_t(src[1]) << 8 | uint32_t(src[2]) << 16;
                    if (key != prevKey) {
                        prevKey = key;
                        prevIndex = cache.Find(src[0], src[1], src[2]);
                    }
                    temp.SetIndexAtUnchecked(x, y, prevIndex);
                }
            }
        }
    } else {
        // A palette source: one answer per source entry.
        const RasterColor* spal = Palette();
        uint8_t map[256];
        for (uint32_t i = 0; i < header.clrUsed && i < 256; ++i)
            map[i] = SearchNearest(tpal, n, spal[i]);
        for (uint32_t y = 0; y < height; ++y)
            for (uint32_t x = 0; x < width; ++x)
                temp.SetIndexAtUnchecked(x, y, map[GetIndexAtUnchecked(x, y)]);
    }
    // Leave the one-entry cache as the pixel-by-pixel loop would: holding the
    // last pixel's colour.
    temp.NearestIndex(GetColorAt(width - 1, height - 1, true));
    return FinishTransform(temp, nullptr);
}
