// Symbol set tables, resident font metrics and stand-ins, box-drawing cells.
#include "core/Font.h"
#include "fonts/FontSelect.h"
#include "fonts/ResidentFonts.h"
#include "fonts/SymbolSets.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <set>
#include <string>
#include <utility>
#include <vector>

using namespace tarvik;
using namespace tarvik::fonts;

namespace {

int Id(const std::string& id) {
    return SymbolSetValue(std::stoi(id), id.back());
}

uint32_t Map(const char* id, uint32_t code) {
    const SymbolSet* set = FindSymbolSet(Id(id));
    return set ? ToUnicode(*set, code) : 0xDEAD;
}

const ResidentFont* Font(const char* name) {
    for (const ResidentFont& f : ResidentFonts())
        if (std::string(f.name) == name) return &f;
    return nullptr;
}

TEST(SymbolSets, EveryOfferedSetMapsItsCodes) {
    EXPECT_EQ(SymbolSetValue(8, 'U'), 277);
    const char* const kOffered[] = {"8U", "4U",  "10U", "11U", "9T",  "12U",  "17U", "26U", "9J",
                                    "0N", "2N",  "5N",  "9N",  "10N", "12N",  "9U",  "19U", "9E",
                                    "5T", "19L", "9R",  "9G",  "1E",  "0U",   "3S",  "0S",  "0K",
                                    "0I", "4S",  "2S",  "1G",  "0F",  "2K",   "0D",  "1D",  "1F",
                                    "5S", "6S",  "1U",  "7J",  "10J", "12J",  "13J", "14J", "6J",
                                    "8M", "5M",  "6M",  "15U", "19M", "579L", "14L", "18N"};
    for (const char* id : kOffered) {
        const SymbolSet* set = FindSymbolSet(Id(id));
        ASSERT_NE(set, nullptr) << id;
        if (set->kind == SymbolSet::Kind::Text) {
            EXPECT_EQ(ToUnicode(*set, 'A'), 'A') << id;
        }
        EXPECT_EQ(ToUnicode(*set, 0x20), 0x20u) << id;
    }
    EXPECT_EQ(FindSymbolSet(Id("99Q")), nullptr);
    auto all = SymbolSets();
    EXPECT_TRUE(std::is_sorted(all.begin(), all.end(), [](const SymbolSet& a, const SymbolSet& b) {
        return a.value < b.value;
    }));

    // Roman-8 and its euro sibling.
    EXPECT_EQ(Map("8U", 0xC5), 0x00E9u); // é
    EXPECT_EQ(Map("8U", 0xDE), 0x00DFu); // ß
    EXPECT_EQ(Map("8U", 0xBB), 0x00A3u); // £
    EXPECT_EQ(Map("8U", 0xBA), 0x00A4u);
    EXPECT_EQ(Map("4U", 0xBA), 0x20ACu);
    // PC-8: box drawing, shades, and the pictures it prints for control codes.
    EXPECT_EQ(Map("10U", 0xC4), 0x2500u);
    EXPECT_EQ(Map("10U", 0xCD), 0x2550u);
    EXPECT_EQ(Map("10U", 0xC9), 0x2554u);
    EXPECT_EQ(Map("10U", 0xB0), 0x2591u);
    EXPECT_EQ(Map("10U", 0xDB), 0x2588u);
    EXPECT_EQ(Map("10U", 0x01), 0x263Au);
    EXPECT_EQ(Map("12U", 0xD5), 0x0131u); // PC-850's dotless i
    EXPECT_EQ(Map("19U", 0x80), 0x20ACu);
    EXPECT_EQ(Map("1G", 0x5B), 0x00C4u); // ISO 21: Ä in place of [
    EXPECT_EQ(Map("14L", 0x22), 0x2702u);
    // Published tables: IBM's code page 1058 for PC-8 D/N, the Ventura
    // conversion table, Windows 3.0's 1252, Unicode's Wingdings sources.
    EXPECT_EQ(Map("11U", 0x9E), 0x013Fu); // Ŀ where PC-8 has the peseta
    EXPECT_EQ(Map("11U", 0xA6), 0x00F5u);
    EXPECT_EQ(Map("11U", 0xAB), 0x2113u);
    EXPECT_EQ(Map("11U", 0x9D), 0x00D8u);
    EXPECT_EQ(Map("13J", 0xC5), 0x00E9u); // Roman-8's place
    EXPECT_EQ(Map("13J", 0xF0), 0x0152u); // Œ over Roman-8's Thorn
    EXPECT_EQ(Map("13J", 0xF3), 0x00A9u);
    EXPECT_EQ(Map("13J", 0xE3), kNoChar);
    EXPECT_EQ(Map("9U", 0x92), 0x2019u);
    EXPECT_EQ(Map("9U", 0x93), kNoChar); // came with Windows 3.1
    // Pictures groff leaves unnamed, some beyond the 16-bit plane, keep the
    // printer's advance.
    EXPECT_EQ(Map("579L", 0x27), 0x1F56Fu); // candle
    EXPECT_EQ(Map("579L", 0xFE), 0x2611u);
    EXPECT_NEAR(ResidentAdvance(*Font("Wingdings"), 0x1F56F), 0.458, 0.001);
    // Ligatures, which groff's LaserJet jobs print from Microsoft Publishing.
    EXPECT_EQ(Map("6J", 171), 0xFB00u);
    EXPECT_EQ(Map("6J", 172), 0xFB03u);
    EXPECT_GT(ResidentAdvance(*Font("CG Times"), 0xFB03), 0);

    // Undefined codes: Roman-8 prints nothing for control codes or 0x80..0x9F.
    EXPECT_EQ(Map("8U", 0x05), kNoChar);
    EXPECT_EQ(Map("8U", 0x80), kNoChar);
    EXPECT_EQ(Map("0N", 0x7F), kNoChar);
    EXPECT_EQ(Map("8U", 300), kNoChar);
    // The Unicode set passes characters through, but not surrogates or beyond.
    EXPECT_EQ(Map("18N", 0x4E2D), 0x4E2Du);
    EXPECT_EQ(Map("18N", 0xD800), kNoChar);
    EXPECT_EQ(Map("18N", 0x110000), kNoChar);
}

// The y (or x) extents where a cell's geometry touches one of its edges.
using Spans = std::vector<std::pair<double, double>>;

Spans EdgeSpans(const Path& p, double w, double h, char edge) {
    Spans spans;
    const auto& pts = p.Points();
    const auto& verbs = p.Verbs();
    size_t k = 0;
    std::vector<Point> poly;
    auto flush = [&] {
        if (poly.empty()) return;
        double x0 = 1e9, y0 = 1e9, x1 = -1e9, y1 = -1e9;
        for (Point q : poly) {
            x0 = std::min(x0, q.x), x1 = std::max(x1, q.x);
            y0 = std::min(y0, q.y), y1 = std::max(y1, q.y);
        }
        const double e = 1e-9;
        if (edge == 'L' && x0 < e) spans.emplace_back(y0, y1);
        if (edge == 'R' && x1 > w - e) spans.emplace_back(y0, y1);
        if (edge == 'T' && y0 < e) spans.emplace_back(x0, x1);
        if (edge == 'B' && y1 > h - e) spans.emplace_back(x0, x1);
        poly.clear();
    };
    for (Path::Verb v : verbs) {
        if (v == Path::Verb::Move) flush();
        if (v == Path::Verb::Move || v == Path::Verb::Line) poly.push_back(pts[k++]);
        if (v == Path::Verb::Cubic) k += 3;
        if (v == Path::Verb::Close) flush();
    }
    flush();
    // Merge overlaps so two arms drawn as separate pieces compare equal to one.
    std::sort(spans.begin(), spans.end());
    Spans merged;
    for (auto s : spans) {
        if (!merged.empty() && s.first <= merged.back().second + 1e-9)
            merged.back().second = std::max(merged.back().second, s.second);
        else
            merged.push_back(s);
    }
    return merged;
}

TEST(BoxGlyphs, NeighbouringCellsJoinAtEverySize) {
    for (auto [w, h] : {std::pair{30.0, 50.0}, {7.0, 13.0}, {120.0, 100.0}}) {
        // Every line character, side by side with every other: where one
        // reaches its right edge the next must start at its left edge with
        // the same strokes, and likewise top to bottom.
        std::vector<uint32_t> chars;
        for (uint32_t u = 0x2500; u <= 0x257F; ++u)
            if (!(u >= 0x2504 && u <= 0x250B) && !(u >= 0x254C && u <= 0x254F) &&
                !(u >= 0x2571 && u <= 0x2573))
                chars.push_back(u);
        std::set<std::vector<std::pair<double, double>>> rightEdges, leftEdges;
        for (uint32_t u : chars) {
            Path p;
            ASSERT_TRUE(BoxGlyphPath(u, w, h, p)) << std::hex << u;
            Rect b = p.Bounds();
            EXPECT_GE(b.x0, -1e-9);
            EXPECT_LE(b.x1, w + 1e-9);
            EXPECT_GE(b.y0, -1e-9);
            EXPECT_LE(b.y1, h + 1e-9);
            auto r = EdgeSpans(p, w, h, 'R');
            auto l = EdgeSpans(p, w, h, 'L');
            auto t = EdgeSpans(p, w, h, 'T');
            auto bt = EdgeSpans(p, w, h, 'B');
            if (!r.empty()) rightEdges.insert(r);
            if (!l.empty()) leftEdges.insert(l);
            // Symmetric pieces: a horizontal stroke leaves both edges at the
            // same height (─ ═ ━ and their crossings).
            if (!r.empty() && !l.empty()) {
                EXPECT_EQ(r.size(), l.size()) << std::hex << u;
            }
            if (!t.empty() && !bt.empty()) {
                EXPECT_EQ(t.size(), bt.size()) << std::hex << u;
            }
        }
        // Three kinds of arm (light, heavy, double) reach each side, nothing else.
        EXPECT_EQ(rightEdges, leftEdges);
        EXPECT_EQ(rightEdges.size(), 3u);
    }
    // A double corner and a full block fill their own corners exactly.
    Path corner;
    ASSERT_TRUE(BoxGlyphPath(0x2554, 30, 50, corner)); // ╔
    EXPECT_EQ(EdgeSpans(corner, 30, 50, 'L').size(), 0u);
    EXPECT_EQ(EdgeSpans(corner, 30, 50, 'B').size(), 2u);
    Path full;
    ASSERT_TRUE(BoxGlyphPath(0x2588, 30, 50, full));
    Rect fb = full.Bounds();
    EXPECT_DOUBLE_EQ(fb.x1 - fb.x0, 30);
    EXPECT_DOUBLE_EQ(fb.y1 - fb.y0, 50);
    Path shade;
    ASSERT_TRUE(BoxGlyphPath(0x2592, 30, 50, shade));
    EXPECT_FALSE(shade.Empty());

    Path none;
    EXPECT_FALSE(BoxGlyphPath('A', 30, 50, none));
    EXPECT_FALSE(BoxGlyphPath(0x25A0, 30, 50, none));
    EXPECT_FALSE(BoxGlyphPath(0x2500, 0, 50, none));
    EXPECT_FALSE(BoxGlyphPath(0x2500, NAN, 50, none));
    EXPECT_TRUE(none.Empty());
}

TEST(ResidentFontMetrics, PrinterWidthsAndTypefaces) {
    auto fonts = ResidentFonts();
    int scalable = 0, bitmap = 0;
    std::set<int> typefaces;
    for (const ResidentFont& f : fonts) {
        (f.scalable ? scalable : bitmap)++;
        typefaces.insert(f.typeface);
        EXPECT_EQ(&fonts[size_t(f.index)], &f);
        EXPECT_NE(FindSymbolSet(f.symbolSet), nullptr) << f.name;
    }
    EXPECT_EQ(scalable, 45 + 35);
    EXPECT_EQ(bitmap, 1);
    for (int tf : {4099, 4101, 4113, 4116, 4140, 4148, 4168, 4197, 4297, 4362, 16602, 16901, 4102,
                   16686, 31402, 0})
        EXPECT_TRUE(typefaces.count(tf)) << tf;

    const ResidentFont* courier = Font("Courier");
    ASSERT_NE(courier, nullptr);
    EXPECT_FALSE(courier->proportional);
    EXPECT_DOUBLE_EQ(courier->pitch, 10);
    EXPECT_DOUBLE_EQ(ResidentAdvance(*courier, 'A'), 0.6);
    EXPECT_DOUBLE_EQ(ResidentAdvance(*courier, 0x00E9), 0.6);
    EXPECT_LT(ResidentAdvance(*courier, 0x4E2D), 0);
    // Proportional widths as the printer lists them.
    EXPECT_NEAR(ResidentAdvance(*Font("CG Times"), 'A'), 19029 / 26458.33, 1e-4);
    EXPECT_NEAR(ResidentAdvance(*Font("Arial"), 'i'), 5878 / 26458.33, 1e-4);
    EXPECT_NEAR(ResidentAdvance(*Font("Helvetica"), 'W'), 0.944, 1e-4);
    EXPECT_NEAR(ResidentAdvance(*Font("Times Roman"), 'A'), 0.722, 1e-4);
    EXPECT_GT(ResidentAdvance(*Font("CG Times"), ' '), 0);

    const ResidentFont* lp = Font("Line Printer");
    ASSERT_NE(lp, nullptr);
    EXPECT_FALSE(lp->scalable);
    EXPECT_DOUBLE_EQ(lp->pitch, 16.67);
    EXPECT_DOUBLE_EQ(lp->height, 8.5);
    EXPECT_NEAR(ResidentAdvance(*lp, 'x') * lp->height / 72, 1 / 16.67, 1e-4);
}

TEST(ResidentFontMetrics, EveryStandInIsInstalledAndDrawsItsCharacters) {
    FontLibrary lib;
    for (const ResidentFont& f : ResidentFonts()) {
        ASSERT_NE(f.faceFile, nullptr) << f.name;
        FontLibrary::Resident r = lib.ByFile(f.faceFile);
        ASSERT_NE(r.face, nullptr) << f.name << ": " << f.faceFile << " is not installed";
        // A character the printer has must reach a glyph of the stand-in.
        uint32_t probe = f.symbolSet == SymbolSetValue(579, 'L')  ? 0x2702
                         : f.symbolSet == SymbolSetValue(14, 'L') ? 0x2708
                         : f.symbolic                             ? 0x03B1
                                                                  : 'g';
        ASSERT_GT(ResidentAdvance(f, probe), 0) << f.name;
        uint32_t glyph = StandInByCode(f.faceFile)
                             ? r.face->GlyphForCode(StandInCode(f.faceFile, probe))
                             : r.face->GlyphForUnicode(probe);
        EXPECT_NE(glyph, 0u) << f.name;
    }
}

// Symbol fonts print the printer's picture for each code even where the
// stand-in face lays its glyphs out differently (or by Unicode).
TEST(ResidentFontMetrics, SymbolFontsDrawThePrintersCharacter) {
    FontLibrary lib;
    auto glyphOf = [&](const char* name, const char* set, uint32_t code) {
        const ResidentFont* f = Font(name);
        auto font = MakeResidentFont(lib, f->index);
        Glyph g;
        return font && font->Lookup(code, Map(set, code), g) ? g.index : 0u;
    };
    auto dejavu = lib.ByFile("DejaVuSans.ttf").face;
    auto symbol = lib.ByFile("StandardSymbolsPS.otf").face;
    ASSERT_TRUE(dejavu && symbol);
    // Wingdings 0x22 is the scissors, not the stand-in's quotation mark.
    EXPECT_EQ(glyphOf("Wingdings", "579L", 0x22), dejavu->GlyphForUnicode(0x2702));
    // The printer's Symbol set and the URW face's own layout must agree on
    // what a code holds: Delta and Omega are Greek letters in both.
    EXPECT_EQ(glyphOf("Symbol", "19M", 'D'), symbol->GlyphForCode('D'));
    EXPECT_EQ(glyphOf("Symbol", "19M", 'W'), symbol->GlyphForCode('W'));
    EXPECT_EQ(glyphOf("Symbol PS", "5M", 'a'), symbol->GlyphForCode('a'));
}

} // namespace
