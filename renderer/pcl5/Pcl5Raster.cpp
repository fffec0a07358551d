// Raster graphics: start/end, transfers by plane and row, the seed rows of the
// delta methods, and the hand-over of rows to the page device as an image.
#include "Pcl5Interp.h"
#include "RasterDecode.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace tarvik::pcl5 {

int Interpreter::RasterPlanes() const {
    const ColorState& c = m_raster.color;
    switch (c.encoding) {
    case ColorState::IndexedByPlane:
        return c.bitsPerIndex;
    case ColorState::DirectByPlane:
        return 3;
    default:
        return 1;
    }
}

size_t Interpreter::PlaneBytes() const {
    const ColorState& c = m_raster.color;
    size_t w = size_t(m_raster.width);
    switch (c.encoding) {
    case ColorState::IndexedByPixel:
        return (w * size_t(c.bitsPerIndex) + 7) / 8;
    case ColorState::DirectByPixel:
        return w * 3;
    default:
        return (w + 7) / 8;
    }
}

void Interpreter::RasterResolutionCmd(const Token& t) {
    if (m_raster.active) return;
    int r = t.value.Int();
    if (r >= 75 && r <= 2400) m_raster.resolution = r;
}

void Interpreter::RasterCompressionCmd(const Token& t) {
    int m = t.value.Int();
    if (m >= 0 && m <= 9 && m != m_raster.compression) {
        m_raster.compression = m;
        m_raster.deltaIsPackBits = -1;
    }
}

void Interpreter::RasterWidthCmd(const Token& t) {
    if (m_raster.active) return;
    int w = t.value.Int();
    if (w >= 0) m_raster.sourceWidth = std::min(w, m_job.Limit().maxImageDimension);
}

void Interpreter::RasterHeightCmd(const Token& t) {
    if (m_raster.active) return;
    int h = t.value.Int();
    if (h >= 0) m_raster.sourceHeight = std::min(h, m_job.Limit().maxImageDimension);
}

void Interpreter::RasterPresentationCmd(const Token& t) {
    if (m_raster.active) return;
    if (t.value.Int() == 0 || t.value.Int() == 3) m_raster.presentation = t.value.Int();
}

void Interpreter::RasterDestWidthCmd(const Token& t) {
    if (!m_raster.active && t.value.number >= 0) m_raster.destWidth = std::min(t.value.number, 1e6);
}

void Interpreter::RasterDestHeightCmd(const Token& t) {
    if (!m_raster.active && t.value.number >= 0)
        m_raster.destHeight = std::min(t.value.number, 1e6);
}

void Interpreter::RasterStartCmd(const Token& t) {
    int mode = t.value.Int();
    if (mode < 0 || mode > 3) mode = 0;
    StartRaster(mode);
}

void Interpreter::RasterEndCmd(const Token&) {
    EndRaster();
}

void Interpreter::StartRaster(int mode) {
    Raster& r = m_raster;
    if (r.active) return;
    r.active = true;
    r.color = m_color;
    r.left = (mode == 1 || mode == 3) ? m_x : 0;
    r.top = m_y;
    r.scaled = mode >= 2;
    r.pixelW = r.pixelH = kUnitsPerInch / r.resolution;
    if (r.scaled && r.sourceWidth > 0 && (r.destWidth > 0 || r.destHeight > 0)) {
        // Scaled raster: the source fills the destination box; a missing side
        // keeps the aspect ratio.
        double sw = r.destWidth * 10 / r.sourceWidth;
        double sh =
            (r.destHeight > 0 && r.sourceHeight > 0) ? r.destHeight * 10 / r.sourceHeight : sw;
        if (r.destWidth <= 0) sw = sh;
        if (sw > 0 && sh > 0) {
            r.pixelW = sw;
            r.pixelH = sh;
        }
    }
    if (r.sourceWidth > 0) {
        r.width = r.sourceWidth;
    } else {
        // Without a source width a row spans the logical page from the left
        // raster margin (turned with the print direction when it follows it).
        double across = r.presentation == 0 ? FrameWidth() : LogicalWidth();
        double span = std::max(0.0, across - r.left);
        r.width = std::max(1, int(std::ceil(span / r.pixelW)));
    }
    r.width = std::clamp(r.width, 1, m_job.Limit().maxImageDimension);
    if (PlaneBytes() > m_job.Limit().maxRecordBytes) r.width = 1;
    r.rowsDone = 0;
    r.rowsInImage = 0;
    r.imageOpen = false;
    r.plane = 0;
    r.deltaIsPackBits = -1;
    r.seeds.assign(size_t(RasterPlanes()), std::vector<uint8_t>(PlaneBytes(), 0));
}

void Interpreter::EndRaster() {
    if (!m_raster.active) return;
    CloseImage();
    m_raster.active = false;
    m_raster.seeds.clear();
    m_raster.row.clear();
    m_raster.row.shrink_to_fit();
}

void Interpreter::CloseImage() {
    if (!m_raster.imageOpen) return;
    if (Device* dev = m_job.Page()) dev->EndImage();
    m_raster.imageOpen = false;
}

void Interpreter::RasterYOffsetCmd(const Token& t) {
    if (!m_raster.active) StartRaster(0);
    double n = t.value.number;
    if (n <= 0) return;
    CloseImage();
    n = std::min(n, 65535.0);
    // Bounded so that endless skips cannot overflow the count.
    m_raster.rowsDone = std::min(m_raster.rowsDone + int(n), 1 << 30);
    for (auto& seed : m_raster.seeds) std::fill(seed.begin(), seed.end(), 0);
    m_raster.plane = 0;
    if (m_raster.presentation == 0 || m_orientation == 0) SetY(m_y + n * m_raster.pixelH);
}

void Interpreter::RasterPlaneCmd(const Token& t) {
    TransferPlane(t, false);
}
void Interpreter::RasterRowCmd(const Token& t) {
    TransferPlane(t, true);
}

void Interpreter::TransferPlane(const Token& t, bool lastPlane) {
    if (!m_raster.active) StartRaster(0);
    Raster& r = m_raster;
    int planes = RasterPlanes();
    if (r.compression == int(Compression::Adaptive)) {
        // A block of whole rows; only single-plane data can use it.
        if (!lastPlane || planes != 1) return;
        DecodeAdaptiveBlock(t.data, r.seeds[0],
                            [this](std::span<const uint8_t>) { return EmitRow(); });
        return;
    }
    if (r.plane < planes) {
        int method = r.compression;
        if (method == int(Compression::DeltaRow)) {
            // A driver that announces delta rows but sends PackBits rows of
            // exactly the declared width would otherwise print noise; only a
            // declared source width makes the test meaningful.
            if (r.deltaIsPackBits < 0 && !t.data.empty())
                r.deltaIsPackBits = r.sourceWidth > 0 && PlaneBytes() >= 32 &&
                                    IsExactPackBitsRow(t.data, PlaneBytes());
            if (r.deltaIsPackBits == 1) method = int(Compression::PackBits);
        }
        if (!DecodeRow(method, t.data, r.seeds[size_t(r.plane)])) {
            // Unknown method: the transfer is ignored, but it still ends a row.
            if (!lastPlane) {
                ++r.plane;
                return;
            }
        }
    }
    if (!lastPlane) {
        ++r.plane;
        return;
    }
    // Planes not sent for this row are empty.
    for (int p = r.plane + 1; p < planes; ++p)
        std::fill(r.seeds[size_t(p)].begin(), r.seeds[size_t(p)].end(), 0);
    r.plane = 0;
    EmitRow();
}

bool Interpreter::OpenImage() {
    Raster& r = m_raster;
    const ColorState& c = r.color;
    bool rotated = r.presentation == 3 && (m_orientation != 0);
    Point ax = rotated ? SheetDirection(false) : Point{1, 0};
    Point ay = rotated ? SheetDirection(true) : Point{0, 1};
    if (!rotated && r.presentation == 0 && m_text.direction) {
        // Following the logical page, a raster turns with the print direction.
        Matrix f = UnitsToPage();
        ax = {f.a * kUnitsPerPoint, f.b * kUnitsPerPoint};
        ay = {f.c * kUnitsPerPoint, f.d * kUnitsPerPoint};
    }

    // Rows follow the cursor, which other commands may move between rows;
    // rotated rasters keep to their own row count.
    double imageTop = m_y;
    Point origin = rotated ? ToPage(r.left, r.top) : ToPage(r.left, imageTop);
    if (rotated) {
        origin.x += ay.x * r.rowsDone * r.pixelH / kUnitsPerPoint;
        origin.y += ay.y * r.rowsDone * r.pixelH / kUnitsPerPoint;
    }

    // Rows left before the edge of the page (or the source height).
    double pageW = (m_orientation & 1) ? m_setup.heightPt : m_setup.widthPt;
    double pageH = (m_orientation & 1) ? m_setup.widthPt : m_setup.heightPt;
    double room = 0;
    if (ay.y > 0.5)
        room = pageH - origin.y;
    else if (ay.y < -0.5)
        room = origin.y;
    else if (ay.x > 0.5)
        room = pageW - origin.x;
    else
        room = origin.x;
    double rowsLeft = std::ceil(room * kUnitsPerPoint / r.pixelH);
    if (r.sourceHeight > 0) rowsLeft = std::min(rowsLeft, double(r.sourceHeight - r.rowsDone));
    rowsLeft = std::min(rowsLeft, double(m_job.Limit().maxImageDimension));
    rowsLeft = std::min(rowsLeft, double(m_job.Limit().maxImagePixels / uint64_t(r.width)));
    if (!(rowsLeft >= 1)) return false;

    ImageInfo& info = r.info;
    info = ImageInfo{};
    info.width = r.width;
    info.height = int(rowsLeft);
    // Rasters are the source; the current pattern is what they paint with,
    // through the logical operation. Colour rasters keep their own colours
    // under a solid pattern.
    Paint paint = m_currentPattern == 0 ? Paint::SolidColor(kBlack) : CurrentPaint();
    if (paint.kind == Paint::Kind::None) paint = Paint::SolidColor(kBlack);
    switch (c.encoding) {
    case ColorState::DirectByPixel:
        info.format = ImageInfo::Format::Rgb;
        info.bitsPerComponent = 8;
        break;
    case ColorState::DirectByPlane:
        info.format = ImageInfo::Format::Indexed;
        info.bitsPerComponent = 8;
        for (int i = 0; i < 8; ++i) {
            Color col{uint8_t(i & 1 ? 255 : 0), uint8_t(i & 2 ? 255 : 0), uint8_t(i & 4 ? 255 : 0)};
            if (c.space == 1)
                col = {uint8_t(255 - col.r), uint8_t(255 - col.g), uint8_t(255 - col.b)};
            info.palette.push_back(col);
        }
        break;
    default: {
        info.format = ImageInfo::Format::Indexed;
        int bits = c.encoding == ColorState::IndexedByPixel ? c.bitsPerIndex : 1;
        bool packed = RasterPlanes() == 1 && (bits == 1 || bits == 4 || bits == 8);
        info.bitsPerComponent = packed ? bits : 8;
        info.palette = c.palette;
        info.palette.resize(size_t(1) << std::min(c.bitsPerIndex, 8), kBlack);
        if (m_monochrome)
            for (Color& col : info.palette) col = GrayOf(col);
        // One bit per pixel takes the foreground colour (or the current
        // pattern), as text does.
        if (c.bitsPerIndex == 1) {
            paint = CurrentPaint();
            if (paint.kind == Paint::Kind::None) paint = Paint::SolidColor(m_foreground);
        }
        break;
    }
    }
    if (!info.Valid()) return false;

    Device* dev = EnsurePage();
    if (!dev) return false;
    Matrix m;
    m.a = ax.x * r.pixelW / kUnitsPerPoint;
    m.b = ax.y * r.pixelW / kUnitsPerPoint;
    m.c = ay.x * r.pixelH / kUnitsPerPoint;
    m.d = ay.y * r.pixelH / kUnitsPerPoint;
    m.e = origin.x;
    m.f = origin.y;
    dev->BeginImage(info, m, paint, CurrentOp());
    r.imageOpen = true;
    r.nextY = imageTop;
    r.rowsInImage = 0;
    r.imageHeight = info.height;
    return true;
}

bool Interpreter::EmitRow() {
    Raster& r = m_raster;
    bool rotated = r.presentation == 3 && m_orientation != 0;
    // A cursor move since the last row starts a new image at the cursor.
    if (r.imageOpen && !rotated && std::fabs(m_y - r.nextY) > 1e-6) CloseImage();
    if (!r.imageOpen && !OpenImage()) {
        // Beyond the page: the row is dropped (the seed rows still count).
        r.rowsDone = std::min(r.rowsDone + 1, 1 << 30);
        return false;
    }
    if (r.rowsInImage >= r.imageHeight) {
        r.rowsDone = std::min(r.rowsDone + 1, 1 << 30);
        return false;
    }
    const ColorState& c = r.color;
    const uint8_t* data = nullptr;
    int planes = RasterPlanes();
    size_t w = size_t(r.width);
    if (r.info.format == ImageInfo::Format::Rgb) {
        data = r.seeds[0].data();
        if (c.space == 1) {
            r.row.resize(w * 3);
            for (size_t i = 0; i < w * 3; ++i) r.row[i] = uint8_t(255 - r.seeds[0][i]);
            data = r.row.data();
        } else if (c.space >= 3 || m_monochrome) {
            // Bytes span each component's range; the result is sRGB.
            r.row.resize(w * 3);
            const uint8_t* s = r.seeds[0].data();
            for (size_t x = 0; x < w; ++x) {
                const uint8_t* px = s + 3 * x;
                Color col{px[0], px[1], px[2]};
                if (c.space >= 3) {
                    double v[3];
                    for (int i = 0; i < 3; ++i)
                        v[i] = c.rangeMin[i] + px[i] * (c.rangeMax[i] - c.rangeMin[i]) / 255.0;
                    col = c.ToRgb(v[0], v[1], v[2]);
                }
                if (m_monochrome) col = GrayOf(col);
                r.row[3 * x] = col.r;
                r.row[3 * x + 1] = col.g;
                r.row[3 * x + 2] = col.b;
            }
            data = r.row.data();
        }
    } else if (r.info.bitsPerComponent != 8 ||
               (planes == 1 && c.encoding == ColorState::IndexedByPixel && c.bitsPerIndex == 8)) {
        data = r.seeds[0].data();
    } else {
        // Gather one index per pixel from the planes (plane 0 = lowest bit),
        // or unpack 2-bit indices.
        r.row.assign(w, 0);
        if (planes == 1 && c.encoding == ColorState::IndexedByPixel) {
            int bits = c.bitsPerIndex;
            const std::vector<uint8_t>& s = r.seeds[0];
            for (size_t x = 0; x < w; ++x) {
                size_t bit = x * size_t(bits);
                r.row[x] = uint8_t((s[bit / 8] >> (8 - bits - bit % 8)) & ((1 << bits) - 1));
            }
        } else {
            for (int p = 0; p < planes; ++p) {
                const uint8_t* s = r.seeds[size_t(p)].data();
                uint8_t mask = uint8_t(1 << p);
                for (size_t x = 0; x < w; ++x)
                    if (s[x >> 3] & (0x80 >> (x & 7))) r.row[x] |= mask;
            }
        }
        data = r.row.data();
    }
    if (Device* dev = m_job.Page()) dev->ImageRows(data, 1);
    ++r.rowsInImage;
    r.rowsDone = std::min(r.rowsDone + 1, 1 << 30);
    if (!rotated) {
        r.nextY += r.pixelH;
        SetY(r.nextY);
        r.nextY = m_y; // clamped at the page's end like the cursor
    }
    return r.rowsInImage < r.imageHeight;
}

} // namespace tarvik::pcl5
