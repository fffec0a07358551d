// Colour: simple colour palettes, configure image data, palette programming,
// the foreground colour, and the palette stack and store.
#include "Pcl5Interp.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace tarvik::pcl5 {

namespace {

const Color kRgbTable[8] = {{0, 0, 0},   {255, 0, 0},   {0, 255, 0},   {255, 255, 0},
                            {0, 0, 255}, {255, 0, 255}, {0, 255, 255}, {255, 255, 255}};
const Color kCmyTable[8] = {{255, 255, 255}, {0, 255, 255}, {255, 0, 255}, {0, 0, 255},
                            {255, 255, 0},   {0, 255, 0},   {255, 0, 0},   {0, 0, 0}};

int16_t Be16(const uint8_t* p) {
    return int16_t(uint16_t(p[0] << 8 | p[1]));
}

constexpr size_t kMaxStoredPalettes = 256;

float BeFloat(const uint8_t* p) {
    uint32_t u = uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
    float f;
    std::memcpy(&f, &u, sizeof f);
    return f;
}

uint8_t ToByte(double v) {
    return uint8_t(std::lround(std::clamp(v, 0.0, 1.0) * 255));
}

double SrgbEncode(double linear) {
    linear = std::clamp(linear, 0.0, 1.0);
    return linear <= 0.0031308 ? 12.92 * linear : 1.055 * std::pow(linear, 1 / 2.4) - 0.055;
}

} // namespace

Color ColorState::ToRgb(double c0, double c1, double c2) const {
    if (space == 3) {
        // CIE L*a*b* under D65 to sRGB.
        double fy = (c0 + 16) / 116, fx = fy + c1 / 500, fz = fy - c2 / 200;
        auto inv = [](double f) {
            return f > 6.0 / 29 ? f * f * f : 3 * 36.0 / 841 * (f - 4.0 / 29);
        };
        double x = 0.95047 * inv(fx), y = inv(fy), z = 1.08883 * inv(fz);
        double r = 3.2406 * x - 1.5372 * y - 0.4986 * z;
        double g = -0.9689 * x + 1.8758 * y + 0.0415 * z;
        double b = 0.0557 * x - 0.2040 * y + 1.0570 * z;
        return {ToByte(SrgbEncode(r)), ToByte(SrgbEncode(g)), ToByte(SrgbEncode(b))};
    }
    if (space == 4) {
        // Luminance and two colour differences, each over its range.
        double y = (c0 - rangeMin[0]) / std::max(1e-9, rangeMax[0] - rangeMin[0]);
        double cb = c1 / std::max(1e-9, rangeMax[1] - rangeMin[1]);
        double cr = c2 / std::max(1e-9, rangeMax[2] - rangeMin[2]);
        return {ToByte(y + 1.402 * cr), ToByte(y - 0.344136 * cb - 0.714136 * cr),
                ToByte(y + 1.772 * cb)};
    }
    uint8_t out[3];
    double v[3] = {c0, c1, c2};
    for (int i = 0; i < 3; ++i) {
        double range = double(white[i]) - black[i];
        out[i] = ToByte(range != 0 ? (v[i] - black[i]) / range : 0);
    }
    return {out[0], out[1], out[2]};
}

void Interpreter::SetSimpleColor(int mode) {
    ColorState c;
    c.fixed = true;
    c.encoding = ColorState::IndexedByPlane;
    c.simplePlanes = std::abs(mode);
    c.bitsPerIndex = std::abs(mode);
    c.palette.clear();
    if (mode == 1) {
        c.palette = ColorState::MonoPalette();
    } else if (mode == 3) {
        c.palette.assign(std::begin(kRgbTable), std::end(kRgbTable));
    } else if (mode == -3) {
        c.space = 1;
        c.palette.assign(std::begin(kCmyTable), std::end(kCmyTable));
    } else {
        // Four planes: the first is black, the others cyan, magenta, yellow.
        c.space = 1;
        c.kcmy = true;
        for (int i = 0; i < 16; ++i)
            c.palette.push_back((i & 1) ? kBlack : kCmyTable[(i >> 1) & 7]);
    }
    m_color = c;
}

void Interpreter::SetDefaultPalette() {
    ColorState& c = m_color;
    size_t size = size_t(1) << c.bitsPerIndex;
    if (c.encoding >= ColorState::DirectByPlane) size = 8;
    c.palette.assign(size, kBlack);
    const Color* table = c.space == 1 ? kCmyTable : kRgbTable;
    if (size == 2) {
        c.palette[0] = table[0];
        c.palette[1] = table[7];
    } else if (size == 4) {
        c.palette = {table[0], table[1], table[2], table[7]};
    } else {
        for (size_t i = 0; i < 8 && i < size; ++i) c.palette[i] = table[i];
    }
}

void Interpreter::SimpleColorCmd(const Token& t) {
    int mode = t.value.Int();
    if (t.value.number != mode) return;
    if (mode == 1 || mode == 3 || mode == -3 || mode == 4 || mode == -4) SetSimpleColor(mode);
}

void Interpreter::ConfigureImageDataCmd(const Token& t) {
    if (t.data.size() < 6 || t.value.sign) {
        m_job.Warning("PCL 5 colour configuration shorter than its header: ignored");
        return;
    }
    const uint8_t* d = t.data.data();
    int space = d[0], encoding = d[1], bits = d[2];
    int primary[3] = {d[3], d[4], d[5]};
    // Colorimetric RGB is drawn as sRGB, whatever primaries it names; an
    // invalid configuration is ignored.
    if (space > 4) {
        m_job.Warning("PCL 5 colour space " + std::to_string(space) + " unknown: ignored");
        return;
    }
    bool valid = false;
    switch (encoding) {
    case ColorState::IndexedByPlane:
        valid = bits >= 1 && bits <= 8;
        break;
    case ColorState::IndexedByPixel:
        valid = bits == 1 || bits == 2 || bits == 4 || bits == 8;
        break;
    case ColorState::DirectByPlane:
        valid = space <= 2 && primary[0] == 1 && primary[1] == 1 && primary[2] == 1;
        break;
    case ColorState::DirectByPixel:
        valid = primary[0] == 8 && primary[1] == 8 && primary[2] == 8;
        break;
    default:
        break;
    }
    if (!valid) {
        // Palettes beyond 256 entries among them: the old palette stays.
        m_job.Warning("PCL 5 colour configuration invalid: ignored");
        return;
    }
    ColorState c;
    c.space = space == 2 ? 0 : space;
    c.encoding = encoding;
    c.bitsPerIndex = encoding <= ColorState::IndexedByPixel ? bits : 3;
    c.fixed = false;
    for (int i = 0; i < 3; ++i) {
        int n = std::clamp(primary[i] == 0 ? 8 : primary[i], 1, 15);
        c.bitsPerPrimary[i] = n;
        int full = (1 << n) - 1;
        c.white[i] = c.space == 1 ? 0 : full;
        c.black[i] = c.space == 1 ? full : 0;
    }
    if (t.data.size() >= 18 && space <= 1) {
        for (int i = 0; i < 3; ++i) {
            c.white[i] = Be16(d + 6 + 2 * i);
            c.black[i] = Be16(d + 12 + 2 * i);
        }
    }
    if (space == 4) {
        c.rangeMin[0] = 0;
        c.rangeMax[0] = 255;
        c.rangeMin[1] = c.rangeMin[2] = -127;
        c.rangeMax[1] = c.rangeMax[2] = 127;
    }
    // The long forms of L*a*b* and luminance-chrominance give the ranges as
    // (minimum, maximum) pairs of floats after the header (the latter after
    // its chromaticities and transform); other long-form data is read past.
    size_t rangeAt = space == 3 ? 6 : space == 4 ? 6 + 12 * 4 : 0;
    if (rangeAt && t.data.size() >= rangeAt + 24) {
        for (int i = 0; i < 3; ++i) {
            double lo = BeFloat(d + rangeAt + 8 * i), hi = BeFloat(d + rangeAt + 8 * i + 4);
            if (std::isfinite(lo) && std::isfinite(hi) && hi > lo && hi - lo < 1e6) {
                c.rangeMin[i] = lo;
                c.rangeMax[i] = hi;
            }
        }
    }
    m_color = c;
    SetDefaultPalette();
}

void Interpreter::ComponentCmd(const Token& t) {
    m_component[t.letter - 'A'] = t.value.Clamped(-32767, 32767);
}

void Interpreter::AssignIndexCmd(const Token& t) {
    int index = t.value.Int();
    if (!m_color.fixed && index >= 0 && size_t(index) < m_color.palette.size())
        m_color.palette[size_t(index)] =
            m_color.ToRgb(m_component[0], m_component[1], m_component[2]);
    m_component[0] = m_component[1] = m_component[2] = 0;
}

Color Interpreter::PaletteColor(int index) const {
    const auto& p = m_color.palette;
    if (p.empty()) return kBlack;
    int n = int(p.size());
    Color c = p[size_t(((index % n) + n) % n)];
    return m_monochrome ? GrayOf(c) : c;
}

void Interpreter::ForegroundCmd(const Token& t) {
    m_foreground = PaletteColor(t.value.Clamped(-32767, 32767));
}

void Interpreter::PushPopPaletteCmd(const Token& t) {
    if (t.value.Int() == 0) {
        if (int(m_paletteStack.size()) < m_job.Limit().maxGraphicsStateDepth)
            m_paletteStack.push_back(m_color);
    } else if (t.value.Int() == 1 && !m_paletteStack.empty()) {
        m_color = std::move(m_paletteStack.back());
        m_paletteStack.pop_back();
        if (m_color.fixed) m_color.encoding = ColorState::IndexedByPlane;
    }
}

void Interpreter::PaletteControlIdCmd(const Token& t) {
    if (t.value.number >= 0 && t.value.number <= 32767) m_paletteControlId = t.value.Int();
}

void Interpreter::SelectPaletteCmd(const Token& t) {
    // The active palette goes back into the store under its ID, so that the
    // changes made to it since it was selected are kept.
    int id = t.value.Int();
    if (id == m_activePaletteId) return;
    auto it = m_paletteStore.find(id);
    if (it == m_paletteStore.end()) return;
    ColorState selected = std::move(it->second);
    m_paletteStore.erase(it);
    m_paletteStore[m_activePaletteId] = std::move(m_color);
    m_color = std::move(selected);
    m_activePaletteId = id;
}

void Interpreter::PaletteControlCmd(const Token& t) {
    switch (t.value.Int()) {
    case 0:
        m_paletteStore.clear();
        break;
    case 1:
        m_paletteStack.clear();
        break;
    case 2:
        if (m_paletteControlId != m_activePaletteId) m_paletteStore.erase(m_paletteControlId);
        break;
    case 6:
        if (m_paletteControlId == m_activePaletteId) break;
        if (m_paletteStore.size() < kMaxStoredPalettes || m_paletteStore.count(m_paletteControlId))
            m_paletteStore[m_paletteControlId] = m_color;
        break;
    default:
        break;
    }
}

} // namespace tarvik::pcl5
