// Colour: simple colour palettes, configure image data, palette programming,
// the foreground colour, and the palette stack and store.
#include "Pcl5Interp.h"

#include <algorithm>
#include <cmath>

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

} // namespace

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
    if (t.data.size() < 6 || t.value.sign) return;
    const uint8_t* d = t.data.data();
    int space = d[0], encoding = d[1], bits = d[2];
    int primary[3] = {d[3], d[4], d[5]};
    // Colorimetric RGB is taken as device RGB; the other spaces cannot be shown
    // faithfully, and an invalid configuration is ignored.
    if (space > 2) {
        m_job.Unsupported("PCL 5 CID colour space");
        return;
    }
    switch (encoding) {
    case ColorState::IndexedByPlane:
        if (bits < 1 || bits > 8) return;
        break;
    case ColorState::IndexedByPixel:
        if (bits != 1 && bits != 2 && bits != 4 && bits != 8) return;
        break;
    case ColorState::DirectByPlane:
        if (primary[0] != 1 || primary[1] != 1 || primary[2] != 1) return;
        break;
    case ColorState::DirectByPixel:
        if (primary[0] != 8 || primary[1] != 8 || primary[2] != 8) return;
        break;
    default:
        return;
    }
    ColorState c;
    c.space = space == 1 ? 1 : 0;
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
    m_color = c;
    SetDefaultPalette();
}

void Interpreter::ComponentCmd(const Token& t) {
    m_component[t.letter - 'A'] = t.value.Clamped(-32767, 32767);
}

void Interpreter::AssignIndexCmd(const Token& t) {
    int index = t.value.Int();
    if (!m_color.fixed && index >= 0 && size_t(index) < m_color.palette.size()) {
        uint8_t out[3];
        for (int i = 0; i < 3; ++i) {
            double range = double(m_color.white[i]) - m_color.black[i];
            double v = range != 0 ? (m_component[i] - m_color.black[i]) / range : 0;
            out[i] = uint8_t(std::lround(std::clamp(v, 0.0, 1.0) * 255));
        }
        m_color.palette[size_t(index)] = {out[0], out[1], out[2]};
    }
    m_component[0] = m_component[1] = m_component[2] = 0;
}

Color Interpreter::PaletteColor(int index) const {
    const auto& p = m_color.palette;
    if (p.empty()) return kBlack;
    int n = int(p.size());
    return p[size_t(((index % n) + n) % n)];
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
