// The stroke fonts labels are drawn in. Each glyph is a list of strokes; a
// stroke is a run of points, two characters each: x as a digit 0-6, y as a
// letter, 'A' = -2 up to 'K' = 8 (so 'C' is the baseline, 'H' the x-height
// and 'K' the cap height; accents over capitals reach 'N').
#include "Hpgl2.h"

#include <cmath>

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

// Accents at lowercase height; over capitals they go 3 units higher.
const char* const kAccents[] = {
    "2K4I",       // grave
    "4K2I",       // acute
    "1I3K5I",     // circumflex
    "1I2J4I5J",   // tilde
    "2J2I 4J4I",  // diaeresis
    "2J3K4J3I2J", // ring
    "1K3I5K",     // caron
    "3C4B3A2A",   // cedilla (under the letter, never raised)
    "6I0B",       // slash through o (through O: 6L0B)
    "1K2I4I5K",   // breve
    "5C4B5A6A",   // ogonek (under the letter's right foot, never raised)
    "3K2I 5K4I",  // double acute
    "3J",         // dot above
    "1J5J",       // macron
    "1J 5J 4L3I", // dialytika and tonos
};
enum Accent {
    Grave,
    Acute,
    Circumflex,
    Tilde,
    Diaeresis,
    Ring,
    Caron,
    Cedilla,
    Slash,
    Breve,
    Ogonek,
    DoubleAcute,
    DotAbove,
    Macron,
    DialytikaTonos
};

struct Composite {
    uint16_t unicode;
    uint16_t base;
    Accent accent;
};

// Accented letters of the label symbol sets (Latin-1 and Roman-8): a base
// letter and an accent. Dotless i under accents is handled below.
constexpr Composite kComposites[] = {
    {0xC0, 'A', Grave},
    {0xC1, 'A', Acute},
    {0xC2, 'A', Circumflex},
    {0xC3, 'A', Tilde},
    {0xC4, 'A', Diaeresis},
    {0xC5, 'A', Ring},
    {0xC7, 'C', Cedilla},
    {0xC8, 'E', Grave},
    {0xC9, 'E', Acute},
    {0xCA, 'E', Circumflex},
    {0xCB, 'E', Diaeresis},
    {0xCC, 'I', Grave},
    {0xCD, 'I', Acute},
    {0xCE, 'I', Circumflex},
    {0xCF, 'I', Diaeresis},
    {0xD1, 'N', Tilde},
    {0xD2, 'O', Grave},
    {0xD3, 'O', Acute},
    {0xD4, 'O', Circumflex},
    {0xD5, 'O', Tilde},
    {0xD6, 'O', Diaeresis},
    {0xD8, 'O', Slash},
    {0xD9, 'U', Grave},
    {0xDA, 'U', Acute},
    {0xDB, 'U', Circumflex},
    {0xDC, 'U', Diaeresis},
    {0xDD, 'Y', Acute},
    {0xE0, 'a', Grave},
    {0xE1, 'a', Acute},
    {0xE2, 'a', Circumflex},
    {0xE3, 'a', Tilde},
    {0xE4, 'a', Diaeresis},
    {0xE5, 'a', Ring},
    {0xE7, 'c', Cedilla},
    {0xE8, 'e', Grave},
    {0xE9, 'e', Acute},
    {0xEA, 'e', Circumflex},
    {0xEB, 'e', Diaeresis},
    {0xEC, 'i', Grave},
    {0xED, 'i', Acute},
    {0xEE, 'i', Circumflex},
    {0xEF, 'i', Diaeresis},
    {0xF1, 'n', Tilde},
    {0xF2, 'o', Grave},
    {0xF3, 'o', Acute},
    {0xF4, 'o', Circumflex},
    {0xF5, 'o', Tilde},
    {0xF6, 'o', Diaeresis},
    {0xF8, 'o', Slash},
    {0xF9, 'u', Grave},
    {0xFA, 'u', Acute},
    {0xFB, 'u', Circumflex},
    {0xFC, 'u', Diaeresis},
    {0xFD, 'y', Acute},
    {0xFF, 'y', Diaeresis},
    {0x160, 'S', Caron},
    {0x161, 's', Caron},
    {0x178, 'Y', Diaeresis},
    {0x17D, 'Z', Caron},
    {0x17E, 'z', Caron},
    {0x401, 'E', Diaeresis},
    {0x451, 'e', Diaeresis},
    // Cyrillic letters of the other Slavic languages.
    {0x403, 0x413, Acute},
    {0x40C, 0x41A, Acute},
    {0x40E, 0x423, Breve},
    {0x407, 'I', Diaeresis},
    {0x453, 0x433, Acute},
    {0x45C, 0x43A, Acute},
    {0x45E, 'y', Breve},
    {0x457, 'i', Diaeresis},
    // Central European, Turkish and Baltic letters.
    {0x104, 'A', Ogonek},
    {0x105, 'a', Ogonek},
    {0x15A, 'S', Acute},
    {0x15B, 's', Acute},
    {0x15E, 'S', Cedilla},
    {0x15F, 's', Cedilla},
    {0x164, 'T', Caron},
    {0x179, 'Z', Acute},
    {0x17A, 'z', Acute},
    {0x17B, 'Z', DotAbove},
    {0x17C, 'z', DotAbove},
    {0x154, 'R', Acute},
    {0x155, 'r', Acute},
    {0x102, 'A', Breve},
    {0x103, 'a', Breve},
    {0x139, 'L', Acute},
    {0x13A, 'l', Acute},
    {0x106, 'C', Acute},
    {0x107, 'c', Acute},
    {0x10C, 'C', Caron},
    {0x10D, 'c', Caron},
    {0x118, 'E', Ogonek},
    {0x119, 'e', Ogonek},
    {0x11A, 'E', Caron},
    {0x11B, 'e', Caron},
    {0x10E, 'D', Caron},
    {0x143, 'N', Acute},
    {0x144, 'n', Acute},
    {0x147, 'N', Caron},
    {0x148, 'n', Caron},
    {0x150, 'O', DoubleAcute},
    {0x151, 'o', DoubleAcute},
    {0x158, 'R', Caron},
    {0x159, 'r', Caron},
    {0x16E, 'U', Ring},
    {0x16F, 'u', Ring},
    {0x170, 'U', DoubleAcute},
    {0x171, 'u', DoubleAcute},
    {0x162, 'T', Cedilla},
    {0x163, 't', Cedilla},
    {0x11E, 'G', Breve},
    {0x11F, 'g', Breve},
    {0x130, 'I', DotAbove},
    {0x100, 'A', Macron},
    {0x101, 'a', Macron},
    {0x112, 'E', Macron},
    {0x113, 'e', Macron},
    {0x12A, 'I', Macron},
    {0x12B, 'i', Macron},
    {0x14C, 'O', Macron},
    {0x14D, 'o', Macron},
    {0x16A, 'U', Macron},
    {0x16B, 'u', Macron},
    {0x122, 'G', Cedilla},
    {0x123, 'g', Acute},
    {0x136, 'K', Cedilla},
    {0x137, 'k', Cedilla},
    {0x13B, 'L', Cedilla},
    {0x13C, 'l', Cedilla},
    {0x145, 'N', Cedilla},
    {0x146, 'n', Cedilla},
    {0x156, 'R', Cedilla},
    {0x157, 'r', Cedilla},
    {0x12E, 'I', Ogonek},
    {0x12F, 'i', Ogonek},
    {0x172, 'U', Ogonek},
    {0x173, 'u', Ogonek},
    {0x116, 'E', DotAbove},
    {0x117, 'e', DotAbove},
    {0x128, 'I', Tilde},
    {0x129, 'i', Tilde},
    {0x168, 'U', Tilde},
    {0x169, 'u', Tilde},
    // Greek with tonos (an acute) and dialytika.
    {0x386, 'A', Acute},
    {0x388, 'E', Acute},
    {0x389, 'H', Acute},
    {0x38A, 'I', Acute},
    {0x38C, 'O', Acute},
    {0x38E, 'Y', Acute},
    {0x38F, 0x3A9, Acute},
    {0x3AA, 'I', Diaeresis},
    {0x3AB, 'Y', Diaeresis},
    {0x3AC, 0x3B1, Acute},
    {0x3AD, 0x3B5, Acute},
    {0x3AE, 0x3B7, Acute},
    {0x3AF, 0x3B9, Acute},
    {0x3CA, 0x3B9, Diaeresis},
    {0x3CB, 0x3C5, Diaeresis},
    {0x3CC, 'o', Acute},
    {0x3CD, 0x3C5, Acute},
    {0x3CE, 0x3C9, Acute},
    {0x390, 0x3B9, DialytikaTonos},
    {0x3B0, 0x3C5, DialytikaTonos},
};

struct Symbol {
    uint16_t unicode;
    const char* strokes;
};

// Other characters of those sets that labels commonly carry.
constexpr Symbol kSymbols[] = {
    {0xA1, "3K3J 3I3A"},                              // inverted !
    {0xA2, "5G4H2H1G1E2D4D5E 3I3B"},                  // cent
    {0xA3, "5J4K3K2J2D1C6C 0G4G"},                    // pound
    {0xA5, "0K3G6K 3G3C 1F5F 1E5E"},                  // yen
    {0xA7, "5J4K2K1J1I5F5E4D2D1E 1H5G"},              // section
    {0xAB, "3H1F3D 6H4F6D"},                          // left guillemet
    {0xAC, "0F6F6D"},                                 // not
    {0xB0, "2K4K4I2I2K"},                             // degree
    {0xB1, "3I3E 1G5G 1C5C"},                         // plus-minus
    {0xB5, "0H0A 0D1C5C6D 6H6C"},                     // micro
    {0xB7, "3F3E"},                                   // middle dot
    {0xBB, "0H2F0D 3H5F3D"},                          // right guillemet
    {0xBF, "6A5A1A0B0D3F3G 3I3J"},                    // inverted ?
    {0xC6, "0C2K6K 1F5F 2K3C6C 3G5G"},                // AE
    {0xD0, "1C1K4K6I6E4C1C 0G3G"},                    // Eth
    {0xD7, "1H5D 1D5H"},                              // multiply
    {0xDE, "0K0C 0I4I5H5F4E0E"},                      // Thorn
    {0xDF, "0C0J1K4K5J5H3G5F5D4C2C"},                 // sharp s
    {0xE6, "1H2H3G3D2C1C0D1F3F 3G4H5H6G6F3F 3D4C6C"}, // ae
    {0xF0, "1J5H 6G6D5C1C0D0G1H6H"},                  // eth
    {0xF7, "1F5F 3H3H 3D3D"},                         // divide
    {0xFE, "0K0A 0G2H5H6G6D5C2C0E"},                  // thorn
    // Math (Math-8, PS Math) and arrows.
    {0x2213, "1I5I 1E5E 3G3C"},                              // minus-plus
    {0x2264, "5J1H5F 1D5D"},                                 // less or equal
    {0x2265, "1J5H1F 1D5D"},                                 // greater or equal
    {0x2260, "1G5G 1E5E 5I1C"},                              // not equal
    {0x2248, "1G2H4G5H 1E2F4E5F"},                           // almost equal
    {0x2261, "1H5H 1F5F 1D5D"},                              // identical
    {0x2262, "1H5H 1F5F 1D5D 5J1B"},                         // not identical
    {0x2245, "1I2J4I5J 1G5G 1E5E"},                          // congruent
    {0x2243, "1H2I4H5I 1F5F"},                               // asymptotic
    {0x223C, "1F2G4E5F"},                                    // tilde operator
    {0x221D, "6H4H2E1D0E0G1H2H4E6D"},                        // proportional
    {0x221E, "3F2G1G0F1E2E3F4G5G6F5E4E3F"},                  // infinity
    {0x221A, "0F1F2C5K6K"},                                  // square root
    {0x2202, "1J2K4K5I5D4C1C0D0F1G4G5F"},                    // partial
    {0x2207, "0K6K3C0K"},                                    // nabla
    {0x222B, "5K4K3J3B2A1A"},                                // integral
    {0x2208, "5I2I1H1D2C5C 1F5F"},                           // element of
    {0x2209, "5I2I1H1D2C5C 1F5F 5J1B"},                      // not element of
    {0x220B, "1I4I5H5D4C1C 1F5F"},                           // contains
    {0x2229, "0C0G1I5I6G6C"},                                // intersection
    {0x222A, "0I0E1C5C6E6I"},                                // union
    {0x2282, "6I2I1H1D2C6C"},                                // subset
    {0x2283, "0I4I5H5D4C0C"},                                // superset
    {0x2284, "6I2I1H1D2C6C 5J1B"},                           // not subset
    {0x2285, "0I4I5H5D4C0C 5J1B"},                           // not superset
    {0x2286, "6J2J1I1F2E6E 1C6C"},                           // subset or equal
    {0x2287, "0J4J5I5F4E0E 0C5C"},                           // superset or equal
    {0x2200, "0K3C6K 1G5G"},                                 // for all
    {0x2203, "0K6K6C0C 1G6G"},                               // exists
    {0x2227, "0C3I6C"},                                      // and
    {0x2228, "0I3C6I"},                                      // or
    {0x2234, "3H 1D 5D"},                                    // therefore
    {0x2235, "1H 5H 3D"},                                    // because
    {0x2220, "6I0C6C"},                                      // angle
    {0x221F, "0I0C6C"},                                      // right angle
    {0x22A5, "3K3C 0C6C"},                                   // up tack
    {0x22A4, "0K6K 3K3C"},                                   // down tack
    {0x22A2, "0K0C 0G6G"},                                   // right tack
    {0x22A3, "6K6C 0G6G"},                                   // left tack
    {0x2205, "1K5K6J6D5C1C0D0J1K 6L0A"},                     // empty set
    {0x2295, "1I5I6H6D5C1C0D0H1I 3I3C 0F6F"},                // circled plus
    {0x2296, "1I5I6H6D5C1C0D0H1I 0F6F"},                     // circled minus
    {0x2297, "1I5I6H6D5C1C0D0H1I 1H5D 1D5H"},                // circled times
    {0x2298, "1I5I6H6D5C1C0D0H1I 5H1D"},                     // circled slash
    {0x2299, "1I5I6H6D5C1C0D0H1I 3F"},                       // circled dot
    {0x25CB, "1I5I6H6D5C1C0D0H1I"},                          // circle
    {0x25CF, "1I5I6H6D5C1C0D0H1I 1H5H 0G6G 0F6F 0E6E 1D5D"}, // black circle
    {0x2218, "2G4G4E2E2G"},                                  // ring operator
    {0x25CA, "3J6F3B0F3J"},                                  // lozenge
    {0x2022, "2G4G 2F4F 2E4E"},                              // bullet
    {0x2026, "1D1C 3D3C 5D5C"},                              // ellipsis
    {0x2032, "4K3I"},                                        // prime
    {0x2033, "3K2I 5K4I"},                                   // double prime
    {0x2308, "4K2K2B"},                                      // left ceiling
    {0x2309, "2K4K4B"},                                      // right ceiling
    {0x230A, "2K2B4B"},                                      // left floor
    {0x230B, "4K4B2B"},                                      // right floor
    {0x27E8, "4K1F4A"},                                      // left angle bracket
    {0x27E9, "2K5F2A"},                                      // right angle bracket
    {0x2190, "0F6F 2H0F2D"},                                 // left arrow
    {0x2191, "3C3K 1I3K5I"},                                 // up arrow
    {0x2192, "0F6F 4H6F4D"},                                 // right arrow
    {0x2193, "3K3C 1E3C5E"},                                 // down arrow
    {0x2194, "0F6F 2H0F2D 4H6F4D"},                          // left-right arrow
    {0x2195, "3C3K 1I3K5I 1E3C5E"},                          // up-down arrow
    {0x21D0, "2G6G 2E6E 3I0F3C"},                            // left double arrow
    {0x21D1, "2C2I 4C4I 0H3K6H"},                            // up double arrow
    {0x21D2, "0G4G 0E4E 3I6F3C"},                            // right double arrow
    {0x21D3, "2K2E 4K4E 0F3C6F"},                            // down double arrow
    {0x21D4, "1G5G 1E5E 2I0F2C 4I6F4C"},                     // left-right double arrow
    {0x2020, "3K3A 1I5I"},                                   // dagger
    {0x2021, "3K3A 1I5I 1D5D"},                              // double dagger
    {0x2014, "0F6F"},                                        // em dash
    {0x20AC, "6J5K2K1J1D2C5C6D 0H4H 0F4F"},                  // euro
    // Typographic signs of the Latin, Windows and PC sets.
    {0xA4, "2H4H5G5E4D2D1E1G2H 1I2H 5I4H 1C2D 5C4D"}, // currency
    {0xA6, "3K3H 3E3B"},                              // broken bar
    {0xA8, "2J 4J"},                                  // diaeresis
    {0xA9, "1K5K6J6D5C1C0D0J1K 4I2I2E4E"},            // copyright
    {0xAA, "1J3J4I4F 4H2H1G2F4F 1D4D"},               // feminine ordinal
    {0xAE, "1K5K6J6D5C1C0D0J1K 2E2I4I4G2G 3G4E"},     // registered
    {0xAF, "1K5K"},                                   // macron
    {0xB2, "1J2K3K4J4I1G4G"},                         // superscript two
    {0xB3, "1K4K2I3I4H3G1G"},                         // superscript three
    {0xB4, "4K2I"},                                   // acute
    {0xB6, "6K2K0J0H2G3G 3K3C 5K5C"},                 // pilcrow
    {0xB8, "3C4B3A2A"},                               // cedilla
    {0xB9, "2J3K3G 2G4G"},                            // superscript one
    {0xBA, "2J3J4I4G3F2F1G1I2J 1D4D"},                // masculine ordinal
    {0xBC, "0J1K1F 6K0C 5A5E3B6B"},                   // one quarter
    {0xBD, "0J1K1F 6K0C 4D5E6D6C4A6A"},               // one half
    {0xBE, "0K2K1I2H1F0F 6K0C 5A5E3B6B"},             // three quarters
    {0x152, "6K1K0J0D1C6C 3K3C 3G5G"},                // OE
    {0x153, "3G2H1H0G0D1C2C3D3G4H5H6G6F3F 3D4C6C"},   // oe
    {0x192, "5K4K3J3B2A1A 1H5H"},                     // f with hook
    {0x2C6, "1I3K5I"},                                // circumflex
    {0x2DC, "1I2J4I5J"},                              // small tilde
    {0x2CB, "2K4I"},                                  // grave
    {0x201A, "3D3C2B"},                               // low quote
    {0x201E, "2D2C1B 4D4C3B"},                        // low double quote
    {0x2039, "3H1F3D"},                               // single left guillemet
    {0x203A, "1H3F1D"},                               // single right guillemet
    {0x2030, "6K0C 1K0J1I2J1K 3E2D3C4D3E 6E5D6C"},    // per mille
    {0x2122, "0K2K 1K1H 3H3K4J5K5H"},                 // trade mark
    {0x2116, "0C0K3C3K 5J6I5H4I5J 4F6F"},             // numero
    {0x2310, "6D6F0F"},                               // reversed not
    {0x207F, "1J1G 1I2J3J4I4G"},                      // superscript n
    {0x20A7, "0C0K3K4J4H3G0G 5J5D6C 4H6H"},           // peseta
    {0x20A4, "5J4K3K2J2D1C6C 0G4G 0E4E"},             // lira
    {0x131, "3H3C"},                                  // dotless i
    {0x2017, "0B6B 0@6@"},                            // double low line
    {0x203E, "0L6L"},                                 // overline
    {0x2015, "0F6F"},                                 // horizontal bar
    // Letters with strokes and hooks, and the spacing accents.
    {0x110, "1C1K4K6I6E4C1C 0G3G"},        // D with stroke
    {0x138, "0H0C 5H0E 2F5C"},             // kra
    {0x141, "1K1C6C 0F3I"},                // L with stroke
    {0x142, "3K3D4C 1F5I"},                // l with stroke
    {0x111, "6K6C 6F4H1H0G0D1C4C6E 4J8J"}, // d with stroke
    {0x13D, "0K0C6C 3K2I"},                // L with caron
    {0x13E, "2K2D3C 5K4I"},                // l with caron
    {0x165, "2K2D3C5C 0H4H 5K4I"},         // t with caron
    {0x10F, "6K6C 6F4H1H0G0D1C4C6E 8K7I"}, // d with caron
    {0x14A, "0C0K 0J1K5K6J6A5@4@"},        // Eng
    {0x14B, "0H0C 0G1H5H6G6A5@4@"},        // eng
    {0x166, "0K6K 3K3C 1G5G"},             // T with stroke
    {0x167, "2K2D3C5C 0H5H 0F4F"},         // t with stroke
    {0x2D8, "1K2I4I5K"},                   // breve
    {0x2DB, "3C2B3A4A"},                   // ogonek
    {0x2C7, "1K3I5K"},                     // caron
    {0x2DD, "3K2I 5K4I"},                  // double acute
    {0x2D9, "3J"},                         // dot above
    {0x2DA, "2J3K4J3I2J"},                 // ring above
    {0x384, "4K3I"},                       // tonos
    {0x385, "1J 5J 4L3I"},                 // dialytika tonos
    // The PC sets' pictures.
    {0x263A, "1K5K6J6D5C1C0D0J1K 2I 4I 2F3E4F"},            // smiling face
    {0x263B, "1K5K6J6D5C1C0D0J1K 2I 4I 2F3E4F"},            // black smiling face
    {0x2665, "3C0G0I1J2J3I4J5J6I6G3C"},                     // heart
    {0x2666, "3J5F3B1F3J"},                                 // diamond
    {0x2663, "3C3F 2F1F0G0H1I2I3H4I5I6H6G5F4F 2I2J3K4J4I"}, // club
    {0x2660, "3K0G0F1E2E3F4E5E6F6G3K 3F2C4C"},              // spade
    {0x2642, "1F2G3G4F4D3C2C1D1F 4F6H 4H6H6F"},             // male
    {0x2640, "2K4K5J5H4G2G1H1J2K 3G3C 1E5E"},               // female
    {0x266A, "2D1C0C0D1E2E2D 2D2K4J"},                      // note
    {0x266B, "1D0C0D1D 1D1K5K5E 5E4D4E5E"},                 // beamed notes
    {0x263C, "2H4H5G5E4D2D1E1G2H 3K3J 3B3A 0F1F 5F6F"},     // sun
    {0x203C, "2K2E 2D2C 4K4E 4D4C"},                        // double exclamation
    {0x25AC, "0E6E 0F6F 0G6G"},                             // black rectangle
    {0x21A8, "3B3K 1I3K5I 1D3B5D 1A5A"},                    // up-down arrow with base
    {0x2302, "0C0G3K6G6C0C"},                               // house
    {0x25B2, "0C3K6C0C 1E5E 2G4G"},                         // up triangle
    {0x25BC, "0K3C6K0K 1I5I 2G4G"},                         // down triangle
    {0x25BA, "0J6F0B0J 0H4F0D"},                            // right pointer
    {0x25C4, "6J0F6B6J 6H2F6D"},                            // left pointer
    // Pointing hands.
    {0x261E, "0I2I3H6H6G3G 3G4G4F3F 3F4F4E3E 3E4E4D3D 3D1D0E0I"}, // right index
    {0x261C, "6I4I3H0H0G3G 3G2G2F3F 3F2F2E3E 3E2E2D3D 3D5D6E6I"}, // left index
    // Hebrew letters, script and black-letter capitals of the math sets.
    {0x2135, "1K5C 4E6I6K 2I0E0C"},           // alef
    {0x2136, "0K5K5C 0C6C"},                  // bet
    {0x2137, "2K3K4J4C 4F1C"},                // gimel
    {0x212D, "6J5K1K0J0D1C5C6D 2K2C"},        // black-letter C
    {0x2111, "1J2K4J5K 4J4D3C1C0D"},          // black-letter I
    {0x211C, "0J1K1C0B 1K5K6J6H5G1G 3G5D6C"}, // black-letter R
    {0x2128, "0K6K2G4G6E6B5A3A"},             // black-letter Z
    {0x2118, "0G1H1A 1F3H5H6G6E5D3D1F"},      // script P
    {0x212F, "1E4F5G4H2H0F0D1C4C"},           // script e
    {0x3D2, "0J1K2J3G 6J5K4J3G 3G3C"},        // upsilon with hook
    {0x222E, "5K4K3J3B2A1A 2G4G5F4E2E1F2G"},  // contour integral
    {0x22BB, "0J3E6J 0C6C"},                  // exclusive or
    // Harpoons, paired and return arrows.
    {0x21C0, "0F6F 4H6F"},               // rightwards harpoon, barb up
    {0x21C1, "0F6F 4D6F"},               // rightwards harpoon, barb down
    {0x21BC, "6F0F 2H0F"},               // leftwards harpoon, barb up
    {0x21BD, "6F0F 2D0F"},               // leftwards harpoon, barb down
    {0x21C4, "0H6H 4J6H4F 6D0D 2F0D2B"}, // right over left arrow
    {0x21C6, "6H0H 2J0H2F 0D6D 4F6D4B"}, // left over right arrow
    {0x21CC, "0H6H 4J6H 6D0D 2B0D"},     // right over left harpoon
    {0x21D5, "2F2H 4F4H 0H3K6H 0F3C6F"}, // up-down double arrow
    {0x21B5, "6K6F1F 3H1F3D"},           // return arrow
    // Pieces of tall brackets, braces and integrals, radicals and arrows:
    // they run to the edges of the line ('?' is 4 units below the baseline,
    // 'O' 12 above) so that pieces on successive lines join, and the
    // horizontal ones to both neighbours ('-' is 3 units left of the cell).
    {0x2320, "3?3L4M5L"},   // top half integral
    {0x2321, "3O3A2@1A"},   // bottom half integral
    {0x23AE, "3O3?"},       // integral extension
    {0x239B, "5O4N3L2I2?"}, // left parenthesis upper hook
    {0x239C, "2O2?"},       // left parenthesis extension
    {0x239D, "2O2E3B4@5?"}, // left parenthesis lower hook
    {0x239E, "1O2N3L4I4?"}, // right parenthesis upper hook
    {0x239F, "4O4?"},       // right parenthesis extension
    {0x23A0, "4O4E3B2@1?"}, // right parenthesis lower hook
    {0x23A1, "5O2O2?"},     // left square bracket upper corner
    {0x23A2, "2O2?"},       // left square bracket extension
    {0x23A3, "2O2?5?"},     // left square bracket lower corner
    {0x23A4, "1O4O4?"},     // right square bracket upper corner
    {0x23A5, "4O4?"},       // right square bracket extension
    {0x23A6, "4O4?1?"},     // right square bracket lower corner
    {0x23A7, "5O4O3N3?"},   // left brace upper hook
    {0x23A8, "3O3H1G3F3?"}, // left brace middle
    {0x23A9, "3O3@4?5?"},   // left brace lower hook
    {0x23AA, "3O3?"},       // brace extension
    {0x23AB, "1O2O3N3?"},   // right brace upper hook
    {0x23AC, "3O3H5G3F3?"}, // right brace middle
    {0x23AD, "3O3@2?1?"},   // right brace lower hook
    {0x23B7, "0F1G3?3O"},   // radical bottom
    {0x23D0, "3O3?"},       // vertical line extension
    {0x23AF, "-F9F"},       // horizontal line extension
    {0xF8E5, "-K9K"},       // radical extender (the private code of the PostScript sets)
};

// Characters drawn as another one: Greek and Cyrillic letters that look
// like Latin ones, math variants of Greek letters, typographic look-alikes.
struct Alias {
    uint16_t unicode;
    uint16_t same;
};
constexpr Alias kAliases[] = {
    {0x391, 'A'},    {0x392, 'B'},   {0x395, 'E'},    {0x396, 'Z'},    {0x397, 'H'},
    {0x399, 'I'},    {0x39A, 'K'},   {0x39C, 'M'},    {0x39D, 'N'},    {0x39F, 'O'},
    {0x3A1, 'P'},    {0x3A4, 'T'},   {0x3A5, 'Y'},    {0x3A7, 'X'},    {0x3BD, 'v'},
    {0x3BF, 'o'},    {0x3C7, 'x'},   {0x410, 'A'},    {0x412, 'B'},    {0x415, 'E'},
    {0x41A, 'K'},    {0x41C, 'M'},   {0x41D, 'H'},    {0x41E, 'O'},    {0x420, 'P'},
    {0x421, 'C'},    {0x422, 'T'},   {0x425, 'X'},    {0x430, 'a'},    {0x435, 'e'},
    {0x43E, 'o'},    {0x440, 'p'},   {0x441, 'c'},    {0x443, 'y'},    {0x445, 'x'},
    {0x405, 'S'},    {0x406, 'I'},   {0x408, 'J'},    {0x455, 's'},    {0x456, 'i'},
    {0x458, 'j'},    {0xAD, '-'},    {0x2013, '-'},   {0x2018, '\''},  {0x2019, '\''},
    {0x201C, '"'},   {0x201D, '"'},  {0x2217, '*'},   {0x2044, '/'},   {0x2215, '/'},
    {0x22C5, 0xB7},  {0x2219, 0xB7}, {0x2211, 0x3A3}, {0x220F, 0x3A0}, {0x2206, 0x394},
    {0x2126, 0x3A9}, {0x3D1, 0x3B8}, {0x3D5, 0x3C6},  {0x3D6, 0x3C0},  {0x3F5, 0x3B5},
    {0x2212, '-'},
};

// The private codes of the PostScript math sets: serif and sans copyright
// signs, arrow extenders and the pieces of tall delimiters.
constexpr Alias kPrivateAliases[] = {
    {0xF6D9, 0xA9},   {0xF6DA, 0xAE},   {0xF6DB, 0x2122}, {0xF8E8, 0xAE},   {0xF8E9, 0xA9},
    {0xF8EA, 0x2122}, {0xF8E6, 0x23D0}, {0xF8E7, 0x23AF}, {0xF8EB, 0x239B}, {0xF8EC, 0x239C},
    {0xF8ED, 0x239D}, {0xF8EE, 0x23A1}, {0xF8EF, 0x23A2}, {0xF8F0, 0x23A3}, {0xF8F1, 0x23A7},
    {0xF8F2, 0x23A8}, {0xF8F3, 0x23A9}, {0xF8F4, 0x23AA}, {0xF8F5, 0x23AE}, {0xF8F6, 0x239E},
    {0xF8F7, 0x239F}, {0xF8F8, 0x23A0}, {0xF8F9, 0x23A4}, {0xF8FA, 0x23A5}, {0xF8FB, 0x23A6},
    {0xF8FC, 0x23AB}, {0xF8FD, 0x23AC}, {0xF8FE, 0x23AD},
};

// Greek and Cyrillic letters of their own. Cyrillic small letters not listed
// are their capitals brought down to the x-height.
constexpr Symbol kLetters[] = {
    {0x393, "0C0K6K"},                        // Gamma
    {0x394, "0C3K6C0C"},                      // Delta
    {0x398, "1K5K6J6D5C1C0D0J1K 2G4G"},       // Theta
    {0x39B, "0C3K6C"},                        // Lambda
    {0x39E, "0K6K 1G5G 0C6C"},                // Xi
    {0x3A0, "0C0K6K6C"},                      // Pi
    {0x3A3, "6K0K3G0C6C"},                    // Sigma
    {0x3A6, "3K3C 1I5I6H6F5E1E0F0H1I"},       // Phi
    {0x3A8, "0K0H1F5F6H6K 3K3C"},             // Psi
    {0x3A9, "0C2C2D0F0I1K5K6I6F4D4C6C"},      // Omega
    {0x3B1, "6H5F5E6C 5F4H1H0G0D1C4C5E"},     // alpha
    {0x3B2, "0A0J1K4K5J5I4H1H 4H5G5D4C1C0D"}, // beta
    {0x3B3, "0H3D3A 6H3D"},                   // gamma
    {0x3B4, "4K2K1J4H6G6D5C1C0D0G1H4H"},      // delta
    {0x3B5, "6H1H0G1F4F 1F0E0D1C6C"},         // epsilon
    {0x3B6, "1K5K1F0E0D1C5C5B4A"},            // zeta
    {0x3B7, "0H0C 0G1H5H6G6A"},               // eta
    {0x3B8, "1K5K6J6D5C1C0D0J1K 0G6G"},       // theta
    {0x3B9, "3H3D4C"},                        // iota
    {0x3BA, "0H0C 5H0E 2F5C"},                // kappa
    {0x3BB, "0K1K6C 3G0C"},                   // lambda
    {0x3BC, "0H0A 0D1C5C6D 6H6C"},            // mu
    {0x3BE, "1K5K 2K1J2H4H 2H1G1E2D5D5B4A"},  // xi
    {0x3C0, "0H6H 1H1C 5H5C"},                // pi
    {0x3C1, "0A0G1H5H6G6D5C1C0D"},            // rho
    {0x3C2, "6G5H1H0G0E1D5D5B4A"},            // final sigma
    {0x3C3, "6H2H0G0D1C4C5D5G4H"},            // sigma
    {0x3C4, "0H6H 3H3D4C"},                   // tau
    {0x3C5, "0H0D1C5C6D6H"},                  // upsilon
    {0x3C6, "3K3A 1H0G0E1D5D6E6G5H1H"},       // phi
    {0x3C8, "0H0E1D5D6E6H 3K3A"},             // psi
    {0x3C9, "1H0G0D1C2C3D3F 3D4C5C6D6G5H"},   // omega
    {0x411, "6K0K0C5C6D6F5G0G"},              // Be
    {0x413, "0C0K6K"},                        // Ghe
    {0x414, "0B0C6C6B 1C2K5K5C"},             // De
    {0x416, "0K3G6K 3K3C 0C3G6C"},            // Zhe
    {0x417, "0J1K5K6J6H5G3G 5G6F6D5C1C0D"},   // Ze
    {0x418, "0K0C6K6C"},                      // I
    {0x419, "0K0C6K6C 2M3L4M"},               // short I
    {0x41B, "0C1C2K6K6C"},                    // El
    {0x41F, "0C0K6K6C"},                      // Pe
    {0x423, "0K3F 6K1C"},                     // U
    {0x424, "3K3C 1I5I6H6F5E1E0F0H1I"},       // Ef
    {0x426, "0K0C5C5K 5C6C6B"},               // Tse
    {0x427, "0K0G1F6F 6K6C"},                 // Che
    {0x428, "0K0C6C6K 3K3C"},                 // Sha
    {0x429, "0K0C5C5K 3K3C 5C6C6B"},          // Shcha
    {0x42A, "0K1K1C5C6D6F5G1G"},              // hard sign
    {0x42B, "0K0C4C5D5F4G0G 6K6C"},           // Yeru
    {0x42C, "1K1C5C6D6F5G1G"},                // soft sign
    {0x42D, "0J1K5K6J6D5C1C0D 2G6G"},         // E
    {0x42E, "0K0C 0G2G 2J3K5K6J6D5C3C2D2J"},  // Yu
    {0x42F, "6C6K1K0J0H1G6G 6G0C"},           // Ya
    {0x402, "0K4K 2K2C 2G5G6F6D5C4C"},        // Dje
    {0x404, "6J5K1K0J0D1C5C6D 0G4G"},         // Ukrainian Ie
    {0x409, "0C1D2K4K4C 4G5G6F6D5C4C"},       // Lje
    {0x40A, "0K0C 4K4C 0G5G6F6D5C4C"},        // Nje
    {0x40B, "0K4K 2K2C 2G5G6F6C"},            // Tshe
    {0x40F, "0K0C6C6K 3C3A"},                 // Dzhe
    {0x490, "0C0K5K5M"},                      // Ghe with upturn
    {0x431, "5K2K0I0D1C5C6D6F5G0G"},          // be
    {0x452, "1K1C 0J3J 1F3H5H6G6B5A4A"},      // dje
    {0x45B, "1K1C 0J3J 1F3H5H6G6C"},          // tshe
    {0x491, "0C0H5H5J"},                      // ghe with upturn
    {0x444, "3K3A 1H0G0E1D5D6E6G5H1H"},       // ef
};

void Parse(const char* p, double dy, std::vector<std::vector<Point>>& strokes) {
    std::vector<Point> run;
    for (;;) {
        if (*p == ' ' || *p == 0) {
            if (!run.empty()) {
                // A single point is a dot: give it some length to show.
                if (run.size() == 1) run.push_back({run[0].x, run[0].y - 0.4});
                strokes.push_back(run);
            }
            run.clear();
            if (*p == 0) break;
            ++p;
            continue;
        }
        if (!p[1]) break;
        run.push_back({double(p[0] - '0'), double(p[1] - 'C') + dy});
        p += 2;
    }
}

// The arc font's curves: turns gentler than a right angle are rounded off,
// corners of 90 degrees and more stay sharp.
std::vector<Point> Rounded(const std::vector<Point>& run) {
    if (run.size() < 3) return run;
    std::vector<Point> out;
    size_t n = run.size();
    auto gentle = [&](size_t i) {
        const Point& a = run[i - 1];
        const Point& b = run[i];
        const Point& c = run[i + 1];
        double ux = b.x - a.x, uy = b.y - a.y, vx = c.x - b.x, vy = c.y - b.y;
        double lu = std::hypot(ux, uy), lv = std::hypot(vx, vy);
        if (lu == 0 || lv == 0) return false;
        return (ux * vx + uy * vy) / (lu * lv) > 0.3; // a turn under ~72 degrees
    };
    for (size_t i = 0; i < n; ++i) {
        bool inner = i > 0 && i + 1 < n;
        if (!inner || !gentle(i)) {
            out.push_back(run[i]);
            continue;
        }
        // A quadratic curve from midway in to midway out, through the corner's pull.
        Point a = run[i - 1], b = run[i], c = run[i + 1];
        Point m0{(a.x + b.x) / 2, (a.y + b.y) / 2}, m1{(b.x + c.x) / 2, (b.y + c.y) / 2};
        for (int k = 0; k <= 4; ++k) {
            double t = k / 4.0, u = 1 - t;
            out.push_back({u * u * m0.x + 2 * u * t * b.x + t * t * m1.x,
                           u * u * m0.y + 2 * u * t * b.y + t * t * m1.y});
        }
    }
    return out;
}

// Line-drawing characters (PC-8 and the other PC sets): arms from the middle
// of the whole character cell to its edges, so that neighbours join; the
// cell is the advance wide (9 units) and the line tall, three quarters above
// the baseline. Arms: left, right, up, down; 1 single, 2 double.
struct Box {
    uint16_t unicode;
    const char* arms;
};
constexpr Box kBoxes[] = {
    {0x2500, "1100"}, {0x2502, "0011"}, {0x250C, "0101"}, {0x2510, "1001"}, {0x2514, "0110"},
    {0x2518, "1010"}, {0x251C, "0111"}, {0x2524, "1011"}, {0x252C, "1101"}, {0x2534, "1110"},
    {0x253C, "1111"}, {0x2550, "2200"}, {0x2551, "0022"}, {0x2552, "0201"}, {0x2553, "0102"},
    {0x2554, "0202"}, {0x2555, "2001"}, {0x2556, "1002"}, {0x2557, "2002"}, {0x2558, "0210"},
    {0x2559, "0120"}, {0x255A, "0220"}, {0x255B, "2010"}, {0x255C, "1020"}, {0x255D, "2020"},
    {0x255E, "0211"}, {0x255F, "0122"}, {0x2560, "0222"}, {0x2561, "2011"}, {0x2562, "1022"},
    {0x2563, "2022"}, {0x2564, "2201"}, {0x2565, "1102"}, {0x2566, "2202"}, {0x2567, "2210"},
    {0x2568, "1120"}, {0x2569, "2220"}, {0x256A, "2211"}, {0x256B, "1122"}, {0x256C, "2222"},
};
constexpr double kCellLeft = 0, kCellRight = 9, kCellBottom = -4, kCellTop = 12;

void BoxGlyph(uint32_t unicode, std::vector<std::vector<Point>>& strokes) {
    const double cx = (kCellLeft + kCellRight) / 2, cy = (kCellBottom + kCellTop) / 2;
    auto line = [&](double x0, double y0, double x1, double y1) {
        strokes.push_back({{x0, y0}, {x1, y1}});
    };
    for (const Box& b : kBoxes) {
        if (b.unicode != unicode) continue;
        int left = b.arms[0] - '0', right = b.arms[1] - '0', up = b.arms[2] - '0',
            down = b.arms[3] - '0';
        // A double arm's two lines stop at the crossing lines of the other
        // direction's arms, or run through the middle where there are none.
        double gap = 1;
        bool vertical = up || down, horizontal = left || right;
        double vx = vertical ? (std::max(up, down) == 2 ? gap : 0) : 0;
        double hy = horizontal ? (std::max(left, right) == 2 ? gap : 0) : 0;
        for (int side = 0; side < 2; ++side) {
            int arm = side ? right : left;
            double edge = side ? kCellRight : kCellLeft;
            if (arm == 1) line(edge, cy, cx + (side ? -vx : vx), cy);
            if (arm == 2)
                for (double o : {-gap, gap}) line(edge, cy + o, cx + (side ? -vx : vx), cy + o);
        }
        for (int side = 0; side < 2; ++side) {
            int arm = side ? down : up;
            double edge = side ? kCellBottom : kCellTop;
            if (arm == 1) line(cx, edge, cx, cy + (side ? -hy : hy));
            if (arm == 2)
                for (double o : {-gap, gap}) line(cx + o, edge, cx + o, cy + (side ? -hy : hy));
        }
        return;
    }
    // Blocks and shades: rows of strokes, closer for darker shades.
    double x0 = kCellLeft, x1 = kCellRight, y0 = kCellBottom, y1 = kCellTop, pitch = 0.7;
    double holeIn = 0, holeOut = -1; // a ring left white, radii from the middle
    switch (unicode) {
    case 0x2588:
        break;
    case 0x2580:
        y0 = cy;
        break;
    case 0x2584:
        y1 = cy;
        break;
    case 0x258C:
        x1 = cx;
        break;
    case 0x2590:
        x0 = cx;
        break;
    case 0x2591:
        pitch = 3.2;
        break;
    case 0x2592:
        pitch = 1.6;
        break;
    case 0x2593:
        pitch = 1.05;
        break;
    case 0x25A0:
        x0 = 1, x1 = 5, y0 = 0, y1 = 4;
        break;   // black square
    case 0x25D8: // inverse bullet: a round hole
        holeIn = 0, holeOut = 2.2;
        break;
    case 0x25D9: // inverse white circle: a white ring round a black disc
        holeIn = 1.6, holeOut = 3.2;
        break;
    default:
        return;
    }
    for (double y = y0 + 0.35; y < y1; y += pitch) {
        // The rows break where they cross the hole, leaving room for the
        // stroke's own width.
        double dy = std::fabs(y - cy), out = holeOut + 0.4, in = holeIn - 0.4;
        if (dy >= out) {
            line(x0, y, x1, y);
            continue;
        }
        double outer = std::sqrt(out * out - dy * dy);
        line(x0, y, cx - outer, y);
        line(cx + outer, y, x1, y);
        if (in > 0 && dy < in) {
            double inner = std::sqrt(in * in - dy * dy);
            line(cx - inner, y, cx + inner, y);
        }
    }
}

} // namespace

std::vector<std::vector<Point>> StrokeGlyph(uint32_t unicode, bool arc) {
    std::vector<std::vector<Point>> strokes;
    if (unicode >= 32 && unicode <= 126) {
        Parse(kGlyphs[unicode - 32], 0, strokes);
    } else {
        for (const Composite& c : kComposites) {
            if (c.unicode != unicode) continue;
            bool capital = (c.base >= 'A' && c.base <= 'Z') ||
                           (c.base >= 0x391 && c.base <= 0x3A9) ||
                           (c.base >= 0x410 && c.base <= 0x42F);
            bool below = c.accent == Cedilla || c.accent == Ogonek;
            // Accents above replace the dot of i, and clear the ascender of l.
            if (c.base == 'i' && !below)
                Parse("3H3C", 0, strokes);
            else
                strokes = StrokeGlyph(c.base, false);
            if (c.accent == Slash)
                Parse(capital ? "6L0B" : kAccents[Slash], 0, strokes);
            else
                Parse(kAccents[c.accent], (capital || c.base == 'l') && !below ? 3 : 0, strokes);
            break;
        }
        for (const Symbol& s : kSymbols)
            if (s.unicode == unicode) Parse(s.strokes, 0, strokes);
        for (const Alias& a : kAliases)
            if (a.unicode == unicode) strokes = StrokeGlyph(a.same, false);
        for (const Alias& a : kPrivateAliases)
            if (a.unicode == unicode) strokes = StrokeGlyph(a.same, false);
        for (const Symbol& s : kLetters)
            if (s.unicode == unicode) Parse(s.strokes, 0, strokes);
        if (strokes.empty()) BoxGlyph(unicode, strokes);
        bool cyrillicSmall =
            (unicode >= 0x431 && unicode <= 0x44F) || (unicode >= 0x450 && unicode <= 0x45F);
        if (strokes.empty() && cyrillicSmall) {
            // A Cyrillic small letter: its capital at the x-height.
            std::vector<std::vector<Point>> capital =
                StrokeGlyph(unicode - (unicode >= 0x450 ? 0x50 : 0x20), false);
            for (auto& run : capital)
                for (Point& q : run) q.y *= 5.0 / 8;
            strokes = std::move(capital);
        }
    }
    if (arc)
        for (auto& run : strokes) run = Rounded(run);
    return strokes;
}

} // namespace tarvik::hpgl2
