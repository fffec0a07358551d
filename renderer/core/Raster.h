// The page raster: 24-bit RGB, rows top to bottom, starting white.
#pragma once

#include "Paint.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tarvik {

class PageRaster {
public:
    PageRaster(int width, int height)
        : m_width(width), m_height(height), m_pixels(size_t(width) * size_t(height) * 3, 255) {}

    int Width() const { return m_width; }
    int Height() const { return m_height; }
    uint8_t* Row(int y) { return m_pixels.data() + size_t(y) * size_t(m_width) * 3; }
    const uint8_t* Row(int y) const { return m_pixels.data() + size_t(y) * size_t(m_width) * 3; }
    Color At(int x, int y) const {
        const uint8_t* p = Row(y) + size_t(x) * 3;
        return {p[0], p[1], p[2]};
    }
    void Set(int x, int y, Color c) {
        uint8_t* p = Row(y) + size_t(x) * 3;
        p[0] = c.r;
        p[1] = c.g;
        p[2] = c.b;
    }

private:
    int m_width, m_height;
    std::vector<uint8_t> m_pixels;
};

} // namespace tarvik
