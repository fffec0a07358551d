// Helpers for drawing into a small raster at 72 dpi (1 point = 1 pixel).
#pragma once

#include "core/RasterDevice.h"

#include <string>

namespace tarvik::test {

struct Canvas {
    explicit Canvas(int w = 32, int h = 32)
        : raster(w, h), device(raster, Matrix{}, w, h, &glyphs) {}
    GlyphCache glyphs;
    PageRaster raster;
    RasterDevice device;

    bool Ink(int x, int y) const { return !raster.At(x, y).IsWhite(); }
    int InkCount() const {
        int n = 0;
        for (int y = 0; y < raster.Height(); ++y)
            for (int x = 0; x < raster.Width(); ++x) n += Ink(x, y);
        return n;
    }
    // Rows as text, '#' for ink, '.' for white: readable failure messages.
    std::string Picture(int x0, int y0, int x1, int y1) const {
        std::string s;
        for (int y = y0; y < y1; ++y) {
            for (int x = x0; x < x1; ++x) s += Ink(x, y) ? '#' : '.';
            s += '\n';
        }
        return s;
    }
};

inline Path Rect(double x0, double y0, double x1, double y1) {
    Path p;
    p.Rectangle(x0, y0, x1, y1);
    return p;
}

} // namespace tarvik::test
