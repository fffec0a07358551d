// The page raster: 24 bits per pixel, rows top to bottom, starting white.
// Pixels are stored in the order B, G, R, as page files hold them, so a page
// is written without reordering a byte; At and Set speak RGB colours.
#pragma once

#include "Paint.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tarvik {

// A block of bytes for page-sized buffers. Large blocks are mapped on their
// own and asked for huge pages: a 600 dpi page would otherwise cost some
// twenty-five thousand page faults to touch, and as many to give back.
class PixelBuffer {
public:
    PixelBuffer() = default;
    // Contents undefined until written.
    explicit PixelBuffer(size_t size);
    PixelBuffer(const PixelBuffer& other);
    PixelBuffer(PixelBuffer&& other) noexcept;
    PixelBuffer& operator=(const PixelBuffer& other);
    PixelBuffer& operator=(PixelBuffer&& other) noexcept;
    ~PixelBuffer();

    uint8_t* Data() { return m_data; }
    const uint8_t* Data() const { return m_data; }
    size_t Size() const { return m_size; }
    // Keeps the first Size() bytes; the rest of the new block is undefined.
    void Grow(size_t size);

private:
    void Allocate(size_t size);
    void Release();

    uint8_t* m_data = nullptr;
    size_t m_size = 0;
    size_t m_mapped = 0; // bytes mapped at m_data, 0 when from the heap
};

class PageRaster {
public:
    PageRaster(int width, int height);

    int Width() const { return m_width; }
    int Height() const { return m_height; }
    // Bytes B, G, R per pixel. Rows come to life white when first asked for
    // to be changed: the parts of a page nothing was drawn on are never
    // touched, and are written out from one shared white row.
    uint8_t* Row(int y) {
        if (!m_live[size_t(y)]) Revive(y);
        return Pixels(y);
    }
    const uint8_t* Row(int y) const { return m_live[size_t(y)] ? Pixels(y) : m_white.data(); }
    Color At(int x, int y) const {
        const uint8_t* p = Row(y) + size_t(x) * 3;
        return {p[2], p[1], p[0]};
    }
    void Set(int x, int y, Color c) {
        uint8_t* p = Row(y) + size_t(x) * 3;
        p[0] = c.b;
        p[1] = c.g;
        p[2] = c.r;
    }
    // Back to white, for the next page.
    void Clear();

private:
    uint8_t* Pixels(int y) { return m_pixels.Data() + size_t(y) * size_t(m_width) * 3; }
    const uint8_t* Pixels(int y) const { return m_pixels.Data() + size_t(y) * size_t(m_width) * 3; }
    void Revive(int y);

    int m_width, m_height;
    PixelBuffer m_pixels;
    std::vector<uint8_t> m_live; // per row: holds its own pixels
    std::vector<uint8_t> m_white;
};

} // namespace tarvik
