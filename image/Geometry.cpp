// Resizing, quarter turns and rotation by an angle. Every result is built in
// a temporary image and moved into place, so a failure changes nothing.
#include "Raster.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr uint32_t kTile = 64;

struct Channels {
    double v[4]; // blue, green, red, alpha
};

uint8_t ClampByte(double v) {
    if (!(v > 0.0)) return 0;
    if (v >= 255.0) return 255;
    return uint8_t(v + 0.5);
}

// Keys' cubic convolution kernel (a = -0.5).
double Cubic(double t) {
    t = std::fabs(t);
    if (t < 1.0) return (1.5 * t - 2.5) * t * t + 1.0;
    if (t < 2.0) return ((-0.5 * t + 2.5) * t - 4.0) * t + 2.0;
    return 0.0;
}

} // namespace

bool CRaster::Rescale(uint32_t newWidth, uint32_t newHeight, int mode, CRaster* destination) {
    if (newWidth == 0 || newHeight == 0) return false;
    const uint32_t width = Width();
    const uint32_t height = Height();

    if (newWidth == width && newHeight == height) {
        if (destination && destination != this && pixelBlock) {
            CRaster copy(kFormatNone);
            copy.CopySettings(*this);
            if (!copy.Create(width, height, BitsPerPixel(), settings.formatCode)) {
                SetLastError(copy.LastError());
                return false;
            }
            std::memcpy(copy.pixelBlock, pixelBlock, BlockSize());
            copy.header = header;
            if (!copy.CopyPlanesFrom(*this)) return false;
            return destination->TakeOver(copy, true);
        }
        return true;
    }

    const float xScale = float(double(width) / double(newWidth));
    const float yScale = float(double(height) / double(newHeight));

    CRaster temp(kFormatNone);
    if (!StartGeometryResult(temp, newWidth, newHeight)) return false;
    if (alphaPlane && pixelBlock && !temp.CreateAlphaPlane(0)) return false;

    if (mode == 1) {
        std::vector<uint32_t> sxOf(newWidth);
        bool inside = pixelBlock != nullptr;
        for (uint32_t x = 0; x < newWidth; ++x) {
            sxOf[x] = uint32_t(double(x) * double(xScale));
            inside = inside && sxOf[x] < width;
        }
        for (uint32_t y = 0; y < newHeight && inside; ++y)
            inside = uint32_t(double(y) * double(yScale)) < height;

        if (!inside) {
            // Only an empty image (or one of absurd size) samples outside
            // itself; the checked accessors give the background there.
            for (uint32_t y = 0; y < newHeight; ++y) {
                int64_t sy = int64_t(double(y) * double(yScale));
                for (uint32_t x = 0; x < newWidth; ++x) {
                    RasterColor c = GetColorAt(int64_t(double(x) * double(xScale)), sy, true);
                    temp.SetColorAt(x, y, c, false);
                    if (temp.alphaPlane) temp.alphaPlane[size_t(y) * newWidth + x] = c.reserved;
                }
            }
            return FinishTransform(temp, destination);
        }

        // Palette images: a pixel's new index is the lowest index holding its
        // colour, the same answer for every pixel of one source index.
        uint8_t map[256] = {};
        if (header.clrUsed) {
            for (uint32_t i = 0; i < header.clrUsed && i < 256; ++i)
                map[i] = SearchNearest(temp.Palette(), temp.SearchCount(), Palette()[i]);
        }
        const uint32_t bits = BitsPerPixel();
        uint32_t lastSy = 0;
        for (uint32_t y = 0; y < newHeight; ++y) {
            const uint32_t sy = uint32_t(double(y) * double(yScale));
            lastSy = sy;
            const uint8_t* src = RowPointer(sy);
            uint8_t* dst = temp.RowPointer(y);
            if (y > 0 && sy == uint32_t(double(y - 1) * double(yScale))) {
                std::memcpy(dst, temp.RowPointer(y - 1), temp.settings.rowStride);
            } else if (bits == 24) {
                for (uint32_t x = 0; x < newWidth; ++x) {
                    const uint8_t* p = src + size_t(sxOf[x]) * 3;
                    dst[3 * x] = p[0];
                    dst[3 * x + 1] = p[1];
                    dst[3 * x + 2] = p[2];
                }
            } else if (bits == 8) {
                for (uint32_t x = 0; x < newWidth; ++x) dst[x] = map[src[sxOf[x]]];
            } else {
                for (uint32_t x = 0; x < newWidth; ++x)
                    temp.SetIndexAtUnchecked(x, y, map[GetIndexAtUnchecked(sxOf[x], sy)]);
            }
            if (alphaPlane) {
                const uint8_t* a = alphaPlane + size_t(sy) * width;
                uint8_t* da = temp.alphaPlane + size_t(y) * newWidth;
                for (uint32_t x = 0; x < newWidth; ++x) da[x] = a[sxOf[x]];
            }
        }
        // The one-entry cache ends as the pixel-by-pixel form leaves it.
        if (header.clrUsed) temp.NearestIndex(GetColorAt(sxOf[newWidth - 1], lastSy, true));
        return FinishTransform(temp, destination);
    }

    // Interpolating modes; they work on colours, so a palette image gets the
    // nearest palette entry of each interpolated colour.
    if (!pixelBlock) return FinishTransform(temp, destination);
    auto sample = [&](uint32_t x, uint32_t y) {
        RasterColor c = GetColorAtUnchecked(x, y, true);
        return Channels{{double(c.blue), double(c.green), double(c.red),
                         alphaPlane ? double(c.reserved) : 255.0}};
    };
    auto store = [&](uint32_t x, uint32_t y, const Channels& ch) {
        RasterColor c{ClampByte(ch.v[0]), ClampByte(ch.v[1]), ClampByte(ch.v[2]),
                      ClampByte(ch.v[3])};
        temp.SetColorAtUnchecked(x, y, c, temp.alphaPlane != nullptr);
    };
    const bool areaAverage =
        mode != 2 && BitsPerPixel() == 24 && newWidth < width && newHeight < height;

    for (uint32_t y = 0; y < newHeight; ++y) {
        for (uint32_t x = 0; x < newWidth; ++x) {
            Channels out{{0, 0, 0, 0}};
            if (areaAverage) {
                // The mean over the source area the destination pixel covers.
                double x0 = x * double(xScale),
                       x1 = std::min<double>((x + 1) * double(xScale), width);
                double y0 = y * double(yScale),
                       y1 = std::min<double>((y + 1) * double(yScale), height);
                double total = 0;
                for (uint32_t sy = uint32_t(y0); sy < height && sy < y1; ++sy) {
                    double wy = std::min<double>(sy + 1, y1) - std::max<double>(sy, y0);
                    for (uint32_t sx = uint32_t(x0); sx < width && sx < x1; ++sx) {
                        double w = wy * (std::min<double>(sx + 1, x1) - std::max<double>(sx, x0));
                        if (w <= 0) continue;
                        Channels s = sample(sx, sy);
                        for (int k = 0; k < 4; ++k) out.v[k] += w * s.v[k];
                        total += w;
                    }
                }
                if (total > 0)
                    for (double& v : out.v) v /= total;
            } else {
                double fx = std::clamp((x + 0.5) * double(xScale) - 0.5, 0.0, double(width - 1));
                double fy = std::clamp((y + 0.5) * double(yScale) - 0.5, 0.0, double(height - 1));
                int64_t ix = int64_t(fx), iy = int64_t(fy);
                double tx = fx - double(ix), ty = fy - double(iy);
                auto at = [&](int64_t sx, int64_t sy) {
                    sx = std::clamp<int64_t>(sx, 0, width - 1);
                    sy = std::clamp<int64_t>(sy, 0, height - 1);
                    return sample(uint32_t(sx), uint32_t(sy));
                };
                if (mode == 2) {
                    for (int j = -1; j <= 2; ++j) {
                        double wy = Cubic(double(j) - ty);
                        for (int i = -1; i <= 2; ++i) {
                            double w = wy * Cubic(double(i) - tx);
                            Channels s = at(ix + i, iy + j);
                            for (int k = 0; k < 4; ++k) out.v[k] += w * s.v[k];
                        }
                    }
                } else {
                    Channels a = at(ix, iy), b = at(ix + 1, iy), c = at(ix, iy + 1),
                             d = at(ix + 1, iy + 1);
                    for (int k = 0; k < 4; ++k) {
                        double top = a.v[k] + (b.v[k] - a.v[k]) * tx;
                        double bottom = c.v[k] + (d.v[k] - c.v[k]) * tx;
                        out.v[k] = top + (bottom - top) * ty;
                    }
                }
            }
            store(x, y, out);
        }
    }
    return FinishTransform(temp, destination);
}

bool CRaster::Turn90Right(CRaster* destination) {
    return TurnQuarter(true, destination);
}

bool CRaster::Turn90Left(CRaster* destination) {
    return TurnQuarter(false, destination);
}

bool CRaster::TurnQuarter(bool clockwise, CRaster* destination) {
    if (!pixelBlock) return false;
    const uint32_t width = Width();   // W
    const uint32_t height = Height(); // H
    CRaster temp(kFormatNone);
    if (!StartGeometryResult(temp, height, width)) return false;
    const size_t planeSize = size_t(width) * height;
    if (alphaPlane && !temp.CreateAlphaPlane(0)) return false;
    if (selectionPlane) {
        temp.selectionPlane = static_cast<uint8_t*>(std::malloc(planeSize));
        if (!temp.selectionPlane) return false;
    }

    // Destination (x, y), 0 <= x < H, 0 <= y < W, comes from source
    // right: (W - 1 - y, x); left: (y, H - 1 - x).
    auto sourceX = [&](uint32_t y) { return clockwise ? width - 1 - y : y; };
    auto sourceY = [&](uint32_t x) { return clockwise ? x : height - 1 - x; };
    const uint32_t bits = BitsPerPixel();
    const size_t srcStride = settings.rowStride;

    if (bits == 1) {
        // A source byte at a time: clear the result, then or in the set bits.
        temp.Fill(0);
        const uint32_t rowBytes = (width + 7) / 8; // the padding bytes map nowhere
        for (uint32_t sy0 = 0; sy0 < height; sy0 += kTile) {
            const uint32_t syEnd = std::min(sy0 + kTile, height);
            for (uint32_t bx0 = 0; bx0 < rowBytes; bx0 += kTile / 8) {
                const uint32_t bxEnd = std::min(bx0 + kTile / 8, rowBytes);
                for (uint32_t sy = sy0; sy < syEnd; ++sy) {
                    const uint8_t* src = settings.pixels + size_t(sy) * srcStride;
                    const uint32_t dx = clockwise ? sy : height - 1 - sy;
                    const uint8_t dbit = uint8_t(0x80 >> (dx & 7));
                    for (uint32_t bx = bx0; bx < bxEnd; ++bx) {
                        uint8_t v = src[bx];
                        if (!v) continue;
                        for (uint32_t k = 0; k < 8; ++k) {
                            if (!(v & (0x80 >> k))) continue;
                            uint32_t sx = bx * 8 + k;
                            if (sx >= width) break; // padding bits
                            uint32_t dy = clockwise ? width - 1 - sx : sx;
                            temp.settings
                                .pixels[size_t(dy) * temp.settings.rowStride + (dx >> 3)] |= dbit;
                        }
                    }
                }
            }
        }
    } else {
        // Byte stores may alias anything, so everything the inner loops read
        // is held in locals: the source walks down (right turn) or up (left)
        // one row per destination pixel.
        uint8_t* const srcPixels = settings.pixels;
        uint8_t* const dstPixels = temp.settings.pixels;
        const size_t dstStride = temp.settings.rowStride;
        const ptrdiff_t step = clockwise ? ptrdiff_t(srcStride) : -ptrdiff_t(srcStride);
        // Within each tile, 16 x 16 blocks keep the rows touched at once (one
        // memory page each) within the address cache.
        constexpr uint32_t kBlock = 16;
        for (uint32_t x0 = 0; x0 < height; x0 += kTile) {
            const uint32_t xTileEnd = std::min(x0 + kTile, height);
            for (uint32_t y0 = 0; y0 < width; y0 += kTile) {
                const uint32_t yTileEnd = std::min(y0 + kTile, width);
                for (uint32_t x1 = x0; x1 < xTileEnd; x1 += kBlock) {
                    const uint32_t xEnd = std::min(x1 + kBlock, xTileEnd);
                    const size_t firstRow = sourceY(x1);
                    for (uint32_t y1 = y0; y1 < yTileEnd; y1 += kBlock) {
                        const uint32_t yEnd = std::min(y1 + kBlock, yTileEnd);
                        for (uint32_t y = y1; y < yEnd; ++y) {
                            uint8_t* dst = dstPixels + size_t(y) * dstStride;
                            const uint32_t sx = sourceX(y);
                            if (bits == 24) {
                                const uint8_t* p =
                                    srcPixels + firstRow * srcStride + size_t(sx) * 3;
                                uint8_t* d = dst + size_t(x1) * 3;
                                for (uint32_t x = x1; x < xEnd; ++x, p += step, d += 3) {
                                    const uint8_t b = p[0], g = p[1], r = p[2];
                                    d[0] = b;
                                    d[1] = g;
                                    d[2] = r;
                                }
                            } else if (bits == 8) {
                                const uint8_t* p = srcPixels + firstRow * srcStride + sx;
                                for (uint32_t x = x1; x < xEnd; ++x, p += step) dst[x] = *p;
                            } else {
                                for (uint32_t x = x1; x < xEnd; ++x)
                                    temp.SetIndexAtUnchecked(x, y,
                                                             GetIndexAtUnchecked(sx, sourceY(x)));
                            }
                        }
                    }
                }
            }
        }
    }

    // The planes (rows of W bytes) turn with the pixels.
    auto turnPlane = [&](const uint8_t* src, uint8_t* dst) {
        for (uint32_t y = 0; y < width; ++y)
            for (uint32_t x = 0; x < height; ++x)
                dst[size_t(y) * height + x] = src[size_t(sourceY(x)) * width + sourceX(y)];
    };
    if (alphaPlane) turnPlane(alphaPlane, temp.alphaPlane);
    if (selectionPlane) turnPlane(selectionPlane, temp.selectionPlane);

    const RasterSettings& s = settings;
    RasterSettings& t = temp.settings;
    if (clockwise) {
        t.selectionLeft = s.selectionBottom;
        t.selectionRight = s.selectionTop;
        t.selectionTop = int32_t(width) - 1 - s.selectionLeft;
        t.selectionBottom = int32_t(width) - 1 - s.selectionRight;
    } else {
        t.selectionLeft = int32_t(height) - 1 - s.selectionTop;
        t.selectionRight = int32_t(height) - 1 - s.selectionBottom;
        t.selectionTop = s.selectionRight;
        t.selectionBottom = s.selectionLeft;
    }
    return FinishTransform(temp, destination);
}

bool CRaster::RotateBy(float angle, CRaster* destination) {
    if (!pixelBlock) return false;
    const double a = (-double(angle) * std::acos(0.0)) * 0.011111111111111112;
    const double c = std::cos(a);
    const double s = std::sin(a);
    const double w = Width();
    const double h = Height();

    const float px[4] = {0.0f, float(w * c), float(-h * s), float(w * c - h * s)};
    const float py[4] = {0.0f, float(w * s), float(h * c), float(w * s + h * c)};
    const float minX = *std::min_element(px, px + 4), maxX = *std::max_element(px, px + 4);
    const float minY = *std::min_element(py, py + 4), maxY = *std::max_element(py, py + 4);
    const double newW = std::floor((double(maxX) + 0.5) - double(minX));
    const double newH = std::floor((double(maxY) + 0.5) - double(minY));
    // Sizes beyond the header's range are sent to Create as too large.
    auto toSize = [](double v) {
        return v <= 0 ? 0u : v >= 4294967295.0 ? 0xFFFFFFFFu : uint32_t(v);
    };
    const uint32_t newWidth = toSize(newW);
    const uint32_t newHeight = toSize(newH);

    CRaster temp(kFormatNone);
    if (!StartGeometryResult(temp, newWidth, newHeight)) return false;
    if (alphaPlane && !temp.CreateAlphaPlane(0)) return false;

    const int64_t xFirst = int64_t(minX), xLast = int64_t(maxX);
    const int64_t yFirst = int64_t(minY), yLast = int64_t(maxY);
    const uint32_t bits = BitsPerPixel();
    const uint32_t width = Width(), height = Height();
    // What a read outside the source gives.
    const uint8_t outsideIndex = GetIndexAt(-1, -1);
    const RasterColor outsideColor = GetColorAt(-1, -1, true);

    // Per column and per row parts of the source coordinates, combined in the
    // same order as xx*c + yy*s + 0.5 and yy*c - xx*s + 0.5.
    const uint32_t columns = uint32_t(std::min<int64_t>(xLast - xFirst + 1, newWidth));
    std::vector<double> colC(columns), colS(columns);
    for (uint32_t i = 0; i < columns; ++i) {
        colC[i] = double(xFirst + i) * c;
        colS[i] = double(xFirst + i) * s;
    }
    // Locals, since the byte stores below could otherwise alias every field.
    const double* const cc = colC.data();
    const double* const cs = colS.data();
    const uint8_t* const srcPixels = settings.pixels;
    const size_t srcStride = settings.rowStride;
    const uint8_t* const srcAlpha = alphaPlane;
    const uint8_t ob = outsideColor.blue, og = outsideColor.green, orr = outsideColor.red;
    const int64_t wide = width, high = height;
    uint32_t j = 0;
    for (int64_t yy = yFirst; yy <= yLast && j < newHeight; ++yy, ++j) {
        const double rowS = double(yy) * s;
        const double rowC = double(yy) * c;
        uint8_t* dst = temp.RowPointer(j);
        uint8_t* dstAlpha = temp.alphaPlane ? temp.alphaPlane + size_t(j) * newWidth : nullptr;
        for (uint32_t i = 0; i < columns; ++i) {
            const int64_t sx = int64_t(cc[i] + rowS + 0.5);
            const int64_t sy = int64_t(rowC - cs[i] + 0.5);
            const bool in = sx >= 0 && sy >= 0 && sx < wide && sy < high;
            if (bits == 24) {
                uint8_t* d = dst + size_t(i) * 3;
                if (in) {
                    const uint8_t* p = srcPixels + size_t(sy) * srcStride + size_t(sx) * 3;
                    const uint8_t b = p[0], g = p[1], r = p[2];
                    d[0] = b;
                    d[1] = g;
                    d[2] = r;
                } else {
                    d[0] = ob;
                    d[1] = og;
                    d[2] = orr;
                }
            } else if (bits == 8) {
                dst[i] = in ? srcPixels[size_t(sy) * srcStride + size_t(sx)] : outsideIndex;
            } else {
                temp.SetIndexAtUnchecked(
                    i, j, in ? GetIndexAtUnchecked(uint32_t(sx), uint32_t(sy)) : outsideIndex);
            }
            if (dstAlpha) dstAlpha[i] = in ? srcAlpha[size_t(sy) * width + size_t(sx)] : 0;
        }
    }
    // The outline's rounding can leave the last row or column outside both
    // loops; it gets the background rather than stale memory.
    for (uint32_t y = 0; y < newHeight; ++y) {
        for (uint32_t x = (y < j ? columns : 0); x < newWidth; ++x) {
            if (bits == 24)
                temp.SetColorAtUnchecked(x, y, outsideColor, false);
            else
                temp.SetIndexAtUnchecked(x, y, outsideIndex);
            if (temp.alphaPlane) temp.alphaPlane[size_t(y) * newWidth + x] = 0;
        }
    }
    return FinishTransform(temp, destination);
}
