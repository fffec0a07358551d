// User-defined patterns, pattern control and the current pattern's paint.
#include "Pcl5Interp.h"

#include <algorithm>
#include <cmath>

namespace tarvik::pcl5 {

namespace {

constexpr size_t kPatternHeader = 8;
constexpr size_t kResolutionHeader = 12;

int Be16u(const uint8_t* p) {
    return int(p[0]) << 8 | p[1];
}

} // namespace

int Interpreter::PrinterDpi() const {
    return m_job.Pjl().resolution >= 75 ? m_job.Pjl().resolution : 300;
}

void Interpreter::UserPatternCmd(const Token& t) {
    const auto& d = t.data;
    if (d.size() < kPatternHeader) {
        m_job.Warning("PCL 5 pattern shorter than its header: ignored");
        return;
    }
    int format = d[0], bits = d[2];
    if (format != 0 && format != 1 && format != 20) {
        m_job.Warning("PCL 5 pattern format " + std::to_string(format) + " unknown: ignored");
        return;
    }
    if (bits != 1 && bits != 8) {
        m_job.Warning("PCL 5 pattern with " + std::to_string(bits) + " bits per pixel: ignored");
        return;
    }
    UserPattern p;
    p.height = Be16u(&d[4]);
    p.width = Be16u(&d[6]);
    p.bitsPerPixel = bits;
    p.indexed = format == 1 || bits > 1;
    size_t header = kPatternHeader;
    // Without a resolution of their own, patterns are in the printer's dots.
    int dpi = PrinterDpi();
    p.xdpi = p.ydpi = dpi;
    if (format == 20) {
        header = kResolutionHeader;
        if (d.size() < header) {
            m_job.Warning("PCL 5 pattern shorter than its header: ignored");
            return;
        }
        p.xdpi = Be16u(&d[8]);
        p.ydpi = Be16u(&d[10]);
        if (p.xdpi < 1 || p.ydpi < 1) p.xdpi = p.ydpi = dpi;
    }
    int maxSide = m_job.Limit().maxPatternDimension;
    if (p.width < 1 || p.height < 1 || p.width > maxSide || p.height > maxSide) {
        m_job.Warning("PCL 5 pattern of " + std::to_string(p.width) + " x " +
                      std::to_string(p.height) + " pixels: ignored");
        return;
    }
    size_t rowBytes = (size_t(p.width) * size_t(bits) + 7) / 8;
    size_t need = header + rowBytes * size_t(p.height);
    if (d.size() < need) {
        // A short pattern is kept: the missing rows stay white.
        m_job.Warning("PCL 5 pattern data shorter than its size");
    }
    size_t pixels = size_t(p.width) * size_t(p.height);
    auto old = m_userPatterns.find(m_patternId);
    size_t kept = m_patternBytes - (old != m_userPatterns.end() ? old->second.pixels.size() : 0);
    if (kept + pixels > m_job.Limit().maxDownloadBytes / 4) {
        m_job.Warning("PCL 5 patterns exceed their memory: pattern dropped");
        return;
    }
    p.pixels.assign(pixels, 0);
    for (int y = 0; y < p.height; ++y) {
        size_t rowStart = header + size_t(y) * rowBytes;
        if (rowStart >= d.size()) break;
        const uint8_t* row = &d[rowStart];
        size_t avail = std::min(rowBytes, d.size() - rowStart);
        uint8_t* out = &p.pixels[size_t(y) * size_t(p.width)];
        for (int x = 0; x < p.width; ++x) {
            if (bits == 8) {
                if (size_t(x) < avail) out[x] = row[x];
            } else if (size_t(x / 8) < avail) {
                out[x] = (row[x / 8] >> (7 - x % 8)) & 1;
            }
        }
    }
    // Colour patterns take their colours from the palette in force when
    // they arrive.
    if (p.indexed) {
        p.colors.resize(256);
        for (int i = 0; i < 256; ++i) p.colors[size_t(i)] = PaletteColor(i);
    }
    m_patternBytes = kept + pixels;
    m_userPatterns[m_patternId] = std::move(p);
}

void Interpreter::DeletePatterns(bool temporaryOnly) {
    for (auto it = m_userPatterns.begin(); it != m_userPatterns.end();) {
        if (!temporaryOnly || !it->second.permanent) {
            m_patternBytes -= std::min(m_patternBytes, it->second.pixels.size());
            it = m_userPatterns.erase(it);
        } else {
            ++it;
        }
    }
}

void Interpreter::PatternControlCmd(const Token& t) {
    switch (t.value.Int()) {
    case 0:
        DeletePatterns(false);
        break;
    case 1:
        DeletePatterns(true);
        break;
    case 2: {
        auto it = m_userPatterns.find(m_patternId);
        if (it != m_userPatterns.end()) {
            m_patternBytes -= std::min(m_patternBytes, it->second.pixels.size());
            m_userPatterns.erase(it);
        }
        break;
    }
    case 4:
    case 5: {
        auto it = m_userPatterns.find(m_patternId);
        if (it != m_userPatterns.end()) it->second.permanent = t.value.Int() == 5;
        break;
    }
    default:
        break;
    }
}

Matrix Interpreter::PatternToPage(double xdpi, double ydpi, bool upright) const {
    // Patterns are laid out on the logical page, so they always turn with
    // the orientation; under *p0R (the default) they also turn with the
    // print direction in force when they are drawn, as text and rasters
    // do, while *p1R keeps them upright on the orientation's page. Either
    // way they tile from the pattern reference point.
    Point ax{1, 0}, ay{0, 1};
    if (!upright && !m_patternFixed && m_text.direction) {
        Point o = FrameToLogical(0, 0, m_text.direction);
        Point ex = FrameToLogical(1, 0, m_text.direction);
        Point ey = FrameToLogical(0, 1, m_text.direction);
        ax = {ex.x - o.x, ex.y - o.y};
        ay = {ey.x - o.x, ey.y - o.y};
    }
    double sx = 72.0 / xdpi, sy = 72.0 / ydpi;
    return Matrix{ax.x * sx, ax.y * sx, ay.x * sy, ay.y * sy, m_patternOrigin.x, m_patternOrigin.y};
}

Paint Interpreter::UserPaint(int id, Color ink, bool upright) const {
    auto it = m_userPatterns.find(id);
    if (it == m_userPatterns.end()) return Paint::Null();
    const UserPattern& u = it->second;
    auto tile = std::make_shared<Pattern>();
    tile->width = u.width;
    tile->height = u.height;
    tile->pixels.resize(u.pixels.size());
    for (size_t i = 0; i < u.pixels.size(); ++i) {
        if (!u.indexed)
            tile->pixels[i] = u.pixels[i] ? ink : kWhite;
        else
            tile->pixels[i] = u.colors[u.pixels[i]];
    }
    tile->patternToPage = PatternToPage(u.xdpi, u.ydpi, upright);
    return Paint::Tiled(tile);
}

Paint Interpreter::CurrentPaint() const {
    return FillPaint(m_currentPattern, m_patternId);
}

} // namespace tarvik::pcl5
