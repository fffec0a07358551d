#include "SymbolSets.h"

#include <algorithm>
#include <cmath>

namespace tarvik::fonts {

namespace {

#include "SymbolSetTables.inc"

// --- box drawing ---

// Arm weights of a box-drawing character, in the order left, right, up,
// down: 0 none, 1 light, 2 heavy, 3 double.
struct Arms {
    uint8_t l, r, u, d;
};

constexpr Arms A(const char (&s)[5]) {
    return {uint8_t(s[0] - '0'), uint8_t(s[1] - '0'), uint8_t(s[2] - '0'), uint8_t(s[3] - '0')};
}

// U+2500..U+254B; the dashed lines (2504..250B) are handled apart.
constexpr Arms kLines[] = {
    A("1100"), A("2200"), A("0011"), A("0022"), {},        {},        {},        {},
    {},        {},        {},        {},        // 2500
    A("0101"), A("0201"), A("0102"), A("0202"), // 250C
    A("1001"), A("2001"), A("1002"), A("2002"), // 2510
    A("0110"), A("0210"), A("0120"), A("0220"), // 2514
    A("1010"), A("2010"), A("1020"), A("2020"), // 2518
    A("0111"), A("0211"), A("0121"), A("0112"), A("0122"), A("0221"), A("0212"),
    A("0222"), // 251C
    A("1011"), A("2011"), A("1021"), A("1012"), A("1022"), A("2021"), A("2012"),
    A("2022"), // 2524
    A("1101"), A("2101"), A("1201"), A("2201"), A("1102"), A("2102"), A("1202"),
    A("2202"), // 252C
    A("1110"), A("2110"), A("1210"), A("2210"), A("1120"), A("2120"), A("1220"),
    A("2220"), // 2534
    A("1111"), A("2111"), A("1211"), A("2211"), A("1121"), A("1112"), A("1122"), A("2121"),
    A("1221"), A("2112"), A("1212"), A("2221"), A("2212"), A("2122"), A("1222"), A("2222"), // 253C
};

// U+2550..U+256C.
constexpr Arms kDoubles[] = {
    A("3300"), A("0033"), A("0301"), A("0103"), A("0303"), A("3001"), A("1003"), A("3003"),
    A("0310"), A("0130"), A("0330"), A("3010"), A("1030"), A("3030"), A("0311"), A("0133"),
    A("0333"), A("3011"), A("1033"), A("3033"), A("3301"), A("1103"), A("3303"), A("3310"),
    A("1130"), A("3330"), A("3311"), A("1133"), A("3333"),
};

// U+2574..U+257F: half lines.
constexpr Arms kHalves[] = {
    A("1000"), A("0010"), A("0100"), A("0001"), A("2000"), A("0020"),
    A("0200"), A("0002"), A("1200"), A("0012"), A("2100"), A("0021"),
};

class Box {
public:
    Box(double w, double h, Path& out) : m_w(w), m_h(h), m_out(out) {
        m_t = std::max(std::min(w, h) / 8, 1e-6);
        m_d = m_t; // double lines: centres this far either side of the middle
    }

    void Draw(const Arms& a) {
        DrawHorizontal(a, a.l, true);
        DrawHorizontal(a, a.r, false);
        DrawVertical(a, a.u, true);
        DrawVertical(a, a.d, false);
    }

    void Rect(double x0, double y0, double x1, double y1) {
        if (x0 > x1) std::swap(x0, x1);
        if (y0 > y1) std::swap(y0, y1);
        x0 = std::clamp(x0, 0.0, m_w);
        x1 = std::clamp(x1, 0.0, m_w);
        y0 = std::clamp(y0, 0.0, m_h);
        y1 = std::clamp(y1, 0.0, m_h);
        if (x1 > x0 && y1 > y0) m_out.Rectangle(x0, y0, x1, y1);
    }

    double Thickness(int weight) const { return weight == 2 ? 2 * m_t : m_t; }
    double Light() const { return m_t; }

    // A straight arm's inner end, measured from the middle towards the far
    // side (positive: past the middle). perpA/perpB are the arms across it.
    double SingleReach(int weight, int perpA, int perpB, int opposite) const {
        if (perpA == 3 || perpB == 3) {
            // Across a double line: stop at its near line when the double line
            // runs through, else reach its far line (a corner).
            return (perpA && perpB) ? -m_d : m_d + m_t / 2;
        }
        if (perpA || perpB) return std::max(Thickness(perpA), Thickness(perpB)) / 2;
        return opposite ? Thickness(weight) / 2 : 0;
    }

    // One line of a double arm: its inner end, measured as above. near is the
    // weight of the crossing arm on this line's side, far the other one.
    double DoubleReach(int near, int far, int opposite) const {
        if (near == 3) return -m_d + m_t / 2;
        if (near) return 0;
        if (opposite) return m_t / 2;
        if (far == 3) return m_d + m_t / 2;
        if (far) return Thickness(far) / 2;
        return 0;
    }

private:
    // A left (fromLeft) or right arm.
    void DrawHorizontal(const Arms& a, int w, bool fromLeft) {
        if (!w) return;
        const double cx = m_w / 2, cy = m_h / 2;
        int opposite = fromLeft ? a.r : a.l, up = a.u, down = a.d;
        auto span = [&](double reach, double y0, double y1) {
            if (fromLeft)
                Rect(0, y0, cx + reach, y1);
            else
                Rect(cx - reach, y0, m_w, y1);
        };
        if (w == 3) {
            span(DoubleReach(up, down, opposite), cy - m_d - m_t / 2, cy - m_d + m_t / 2);
            span(DoubleReach(down, up, opposite), cy + m_d - m_t / 2, cy + m_d + m_t / 2);
        } else {
            double t = Thickness(w);
            span(SingleReach(w, up, down, opposite), cy - t / 2, cy + t / 2);
        }
    }

    void DrawVertical(const Arms& a, int w, bool fromTop) {
        if (!w) return;
        const double cx = m_w / 2, cy = m_h / 2;
        int opposite = fromTop ? a.d : a.u;
        auto span = [&](double reach, double x0, double x1) {
            if (fromTop)
                Rect(x0, 0, x1, cy + reach);
            else
                Rect(x0, cy - reach, x1, m_h);
        };
        if (w == 3) {
            span(DoubleReach(a.l, a.r, opposite), cx - m_d - m_t / 2, cx - m_d + m_t / 2);
            span(DoubleReach(a.r, a.l, opposite), cx + m_d - m_t / 2, cx + m_d + m_t / 2);
        } else {
            double t = Thickness(w);
            span(SingleReach(w, a.l, a.r, opposite), cx - t / 2, cx + t / 2);
        }
    }

    double m_w, m_h, m_t, m_d;
    Path& m_out;
};

// Dashed lines: count dashes per cell, each centred in its share so that
// neighbours keep an even rhythm.
void Dashes(Box& box, double w, double h, int count, bool heavy, bool vertical) {
    double t = heavy ? 2 * box.Light() : box.Light();
    double len = vertical ? h : w;
    double share = len / count;
    for (int i = 0; i < count; ++i) {
        double a = i * share + share * 0.2, b = (i + 1) * share - share * 0.2;
        if (vertical)
            box.Rect(w / 2 - t / 2, a, w / 2 + t / 2, b);
        else
            box.Rect(a, h / 2 - t / 2, b, h / 2 + t / 2);
    }
}

void Diagonal(Path& out, double x0, double y0, double x1, double y1, double t) {
    double dx = x1 - x0, dy = y1 - y0, len = std::hypot(dx, dy);
    if (len <= 0) return;
    double nx = -dy / len * t / 2, ny = dx / len * t / 2;
    out.MoveTo(x0 + nx, y0 + ny);
    out.LineTo(x1 + nx, y1 + ny);
    out.LineTo(x1 - nx, y1 - ny);
    out.LineTo(x0 - nx, y0 - ny);
    out.Close();
}

// Shades as a grid of small squares, an even number per side so the
// pattern carries on into the neighbouring cell. level: squares filled of
// every 2x2 block (1 light, 2 medium, 3 dark).
void Shade(Box& box, double w, double h, int level) {
    double q = std::max(std::min(w, h) / 8, 1e-6);
    int nx = std::clamp(2 * int(std::lround(w / (2 * q))), 2, 64);
    int ny = std::clamp(2 * int(std::lround(h / (2 * q))), 2, 64);
    double sx = w / nx, sy = h / ny;
    for (int j = 0; j < ny; ++j) {
        for (int i = 0; i < nx; ++i) {
            int cell = (j % 2) * 2 + (i % 2); // 0 1 / 2 3
            bool on = level == 1 ? cell == 0 : level == 2 ? (cell == 0 || cell == 3) : cell != 3;
            if (on) box.Rect(i * sx, j * sy, (i + 1) * sx, (j + 1) * sy);
        }
    }
}

bool Blocks(Box& box, uint32_t u, double w, double h) {
    if (u == 0x2580) return box.Rect(0, 0, w, h / 2), true;
    if (u >= 0x2581 && u <= 0x2588) {
        double f = (u - 0x2580) / 8.0;
        box.Rect(0, h * (1 - f), w, h);
        return true;
    }
    if (u >= 0x2589 && u <= 0x258F) {
        double f = (0x2590 - u) / 8.0;
        box.Rect(0, 0, w * f, h);
        return true;
    }
    if (u == 0x2590) return box.Rect(w / 2, 0, w, h), true;
    if (u >= 0x2591 && u <= 0x2593) return Shade(box, w, h, int(u - 0x2590)), true;
    if (u == 0x2594) return box.Rect(0, 0, w, h / 8), true;
    if (u == 0x2595) return box.Rect(w * 7 / 8, 0, w, h), true;
    if (u >= 0x2596 && u <= 0x259F) {
        // Quadrants as bits: upper left, upper right, lower left, lower right.
        static const uint8_t kQuads[] = {4, 8, 1, 13, 9, 7, 11, 2, 6, 14};
        uint8_t q = kQuads[u - 0x2596];
        if (q & 1) box.Rect(0, 0, w / 2, h / 2);
        if (q & 2) box.Rect(w / 2, 0, w, h / 2);
        if (q & 4) box.Rect(0, h / 2, w / 2, h);
        if (q & 8) box.Rect(w / 2, h / 2, w, h);
        return true;
    }
    return false;
}

} // namespace

std::span<const SymbolSet> SymbolSets() {
    return kSets;
}

const SymbolSet* FindSymbolSet(int value) {
    auto it = std::lower_bound(std::begin(kSets), std::end(kSets), value,
                               [](const SymbolSet& s, int v) { return s.value < v; });
    return it != std::end(kSets) && it->value == value ? &*it : nullptr;
}

uint32_t ToUnicode(const SymbolSet& set, uint32_t code) {
    if (!set.map) return code <= 0x10FFFF && !(code >= 0xD800 && code <= 0xDFFF) ? code : kNoChar;
    if (code > 255) return kNoChar;
    return set.map[code];
}

bool BoxGlyphPath(uint32_t u, double w, double h, Path& out) {
    if (u < 0x2500 || u > 0x259F) return false;
    if (!(w > 0) || !(h > 0) || !std::isfinite(w) || !std::isfinite(h)) return false;
    Box box(w, h, out);
    if (u >= 0x2504 && u <= 0x250B) {
        int k = int(u - 0x2504);
        Dashes(box, w, h, k < 4 ? 3 : 4, k % 2 == 1, (k / 2) % 2 == 1);
        return true;
    }
    if (u >= 0x254C && u <= 0x254F) {
        int k = int(u - 0x254C);
        Dashes(box, w, h, 2, k % 2 == 1, k >= 2);
        return true;
    }
    if (u < 0x254C) {
        box.Draw(kLines[u - 0x2500]);
        return true;
    }
    if (u >= 0x2550 && u <= 0x256C) {
        box.Draw(kDoubles[u - 0x2550]);
        return true;
    }
    if (u >= 0x256D && u <= 0x2570) {
        // Rounded corners drawn square: they still meet their neighbours.
        static const Arms kCorners[] = {A("0101"), A("1001"), A("1010"), A("0110")};
        box.Draw(kCorners[u - 0x256D]);
        return true;
    }
    if (u >= 0x2571 && u <= 0x2573) {
        double t = box.Light();
        if (u != 0x2572) Diagonal(out, w, 0, 0, h, t);
        if (u != 0x2571) Diagonal(out, 0, 0, w, h, t);
        return true;
    }
    if (u >= 0x2574 && u <= 0x257F) {
        box.Draw(kHalves[u - 0x2574]);
        return true;
    }
    return Blocks(box, u, w, h);
}

} // namespace tarvik::fonts
