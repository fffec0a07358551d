// The stick font labels are drawn in. Each glyph is a list of strokes; a
// stroke is a run of points, two characters each: x as a digit 0-6, y as a
// letter, 'A' = -2 up to 'K' = 8 (so 'C' is the baseline, 'H' the x-height
// and 'K' the cap height).
#include "Hpgl2.h"

namespace tarvik::hpgl2 {

namespace {

const char* const kGlyphs[95] = {
    "",                                 // space
    "3K3E 3D3C",                        // !
    "2K2I 4K4I",                        // "
    "2K1C 5K4C 0H6H 0E6E",              // #
    "6I5J1J0I0H1G5G6F6D5C1C0D 3K3B",    // $
    "6K0C 1K0J1I2J1K 5E4D5C6D5E",       // %
    "6C1I1J2K3K4J4I0E0D1C4C6F",         // &
    "3K3I",                             // '
    "4K2I2D4B",                         // (
    "2K4I4D2B",                         // )
    "3J3F 1I5G 1G5I",                   // *
    "3H3D 1F5F",                        // +
    "3D3C2B",                           // ,
    "1F5F",                             // -
    "3D3C",                             // .
    "6K0C",                             // /
    "1K5K6J6D5C1C0D0J1K 6J0D",          // 0
    "1I3K3C 1C5C",                      // 1
    "0J1K5K6J6H0C6C",                   // 2
    "0K6K3G5G6F6D5C1C0D",               // 3
    "5C5K0E6E",                         // 4
    "6K0K0G5G6F6D5C1C0D",               // 5
    "5K2K0I0D1C5C6D6F5G0G",             // 6
    "0K6K2C",                           // 7
    "1G0H0J1K5K6J6H5G1G0F0D1C5C6D6F5G", // 8
    "6G1G0H0J1K5K6J6E4C1C",             // 9
    "3H3G 3D3C",                        // :
    "3H3G 3D3C2B",                      // ;
    "5I1F5C",                           // <
    "1G5G 1E5E",                        // =
    "1I5F1C",                           // >
    "0J1K5K6J6H3F3E 3D3C",              // ?
    "4E2E2H4H4E5E6F6J5K1K0J0D1C5C",     // @
    "0C3K6C 1F5F",                      // A
    "0C0K5K6J6H5G0G 5G6F6D5C0C",        // B
    "6J5K1K0J0D1C5C6D",                 // C
    "0C0K4K6I6E4C0C",                   // D
    "6K0K0C6C 0G4G",                    // E
    "6K0K0C 0G4G",                      // F
    "6J5K1K0J0D1C5C6D6G3G",             // G
    "0K0C 6K6C 0G6G",                   // H
    "1K5K 3K3C 1C5C",                   // I
    "6K6D5C1C0D0E",                     // J
    "0K0C 6K0E 2G6C",                   // K
    "0K0C6C",                           // L
    "0C0K3F6K6C",                       // M
    "0C0K6C6K",                         // N
    "1K5K6J6D5C1C0D0J1K",               // O
    "0C0K5K6J6H5G0G",                   // P
    "1K5K6J6D5C1C0D0J1K 4E6B",          // Q
    "0C0K5K6J6H5G0G 3G6C",              // R
    "6J5K1K0J0H1G5G6F6D5C1C0D",         // S
    "0K6K 3K3C",                        // T
    "0K0D1C5C6D6K",                     // U
    "0K3C6K",                           // V
    "0K1C3G5C6K",                       // W
    "0K6C 6K0C",                        // X
    "0K3G6K 3G3C",                      // Y
    "0K6K0C6C",                         // Z
    "4K2K2B4B",                         // [
    "0K6C",                             // backslash
    "2K4K4B2B",                         // ]
    "1H3K5H",                           // ^
    "0A6A",                             // _
    "2K4I",                             // `
    "1H5H6G6C 6F1F0E0D1C5C6D",          // a
    "0K0C 0F2H5H6G6D5C2C0E",            // b
    "6G5H1H0G0D1C5C6D",                 // c
    "6K6C 6F4H1H0G0D1C4C6E",            // d
    "0F6F6G5H1H0G0D1C5C",               // e
    "5K4K3J3C 1H5H",                    // f
    "6H6B5A1A0B 6G5H1H0G0E1D5D6E",      // g
    "0K0C 0F2H5H6G6C",                  // h
    "3H3C 3J3I",                        // i
    "4H4B3A1A 4J4I",                    // j
    "0K0C 5H0E 2F5C",                   // k
    "3K3D4C",                           // l
    "0H0C 0G1H2H3G3C 3G4H5H6G6C",       // m
    "0H0C 0G1H5H6G6C",                  // n
    "1H5H6G6D5C1C0D0G1H",               // o
    "0H0A 0F2H5H6G6D5C2C0E",            // p
    "6H6A 6F4H1H0G0D1C4C6E",            // q
    "0H0C 0F2H5H6G",                    // r
    "6G5H1H0G1F5E6D5C1C0D",             // s
    "2K2D3C5C 0H5H",                    // t
    "0H0D1C5C6D 6H6C",                  // u
    "0H3C6H",                           // v
    "0H1C3F5C6H",                       // w
    "0H6C 6H0C",                        // x
    "0H3C 6H2A1A",                      // y
    "0H6H0C6C",                         // z
    "4K3J3H2G3F3C4B",                   // {
    "3K3B",                             // |
    "2K3J3H4G3F3C2B",                   // }
    "0I1J2J4I5I6J",                     // ~
};

} // namespace

std::vector<std::vector<Point>> StickGlyph(uint32_t code) {
    std::vector<std::vector<Point>> strokes;
    if (code < 32 || code > 126) return strokes;
    std::vector<Point> run;
    for (const char* p = kGlyphs[code - 32];;) {
        if (*p == ' ' || *p == 0) {
            if (run.size() > 1) strokes.push_back(run);
            run.clear();
            if (*p == 0) break;
            ++p;
            continue;
        }
        if (!p[1]) break;
        run.push_back({double(p[0] - '0'), double(p[1] - 'C')});
        p += 2;
    }
    return strokes;
}

} // namespace tarvik::hpgl2
