// Downloaded TrueType and bitmap fonts, resident fonts and text operators.
#include "core/Font.h"
#include "PxlWriter.h"
#include "TestJob.h"
#include "pclxl/PxlFont.h"
#include "pclxl/PxlTables.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <map>

using namespace tarvik::pclxl;
using pxltest::Writer;

namespace {

const char* kTtf = "/usr/share/fonts/truetype/liberation2/LiberationSans-Regular.ttf";

uint16_t Be16(const uint8_t* p) {
    return uint16_t(p[0] << 8 | p[1]);
}
uint32_t Be32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}
void Push16(std::vector<uint8_t>& v, unsigned x) {
    v.push_back(uint8_t(x >> 8));
    v.push_back(uint8_t(x));
}
void Push32(std::vector<uint8_t>& v, uint32_t x) {
    for (int s = 24; s >= 0; s -= 8) v.push_back(uint8_t(x >> s));
}

// A TrueType file split as a driver sends it: the tables without glyf and
// loca for the GT segment, and each glyph's 'glyf' entry on its own.
struct SplitFont {
    std::vector<uint8_t> gt;
    std::map<uint16_t, std::vector<uint8_t>> glyphs;
    std::map<uint16_t, std::pair<int, int>> metrics; // advance, lsb
    bool Load(bool keepMetrics) {
        std::ifstream in(kTtf, std::ios::binary);
        std::vector<uint8_t> f((std::istreambuf_iterator<char>(in)), {});
        if (f.size() < 12) return false;
        std::map<std::string, std::vector<uint8_t>> t;
        unsigned n = Be16(&f[4]);
        for (unsigned i = 0; i < n; ++i) {
            const uint8_t* r = &f[12 + i * 16];
            t[std::string(reinterpret_cast<const char*>(r), 4)] = std::vector<uint8_t>(
                f.begin() + Be32(r + 8), f.begin() + Be32(r + 8) + Be32(r + 12));
        }
        bool longLoca = Be16(&t["head"][50]) == 1;
        const std::vector<uint8_t>& loca = t["loca"];
        unsigned count = Be16(&t["maxp"][4]);
        for (unsigned g = 0; g < count; ++g) {
            uint32_t a = longLoca ? Be32(&loca[g * 4]) : Be16(&loca[g * 2]) * 2u;
            uint32_t b = longLoca ? Be32(&loca[g * 4 + 4]) : Be16(&loca[g * 2 + 2]) * 2u;
            glyphs[uint16_t(g)].assign(t["glyf"].begin() + a, t["glyf"].begin() + b);
        }
        unsigned nh = Be16(&t["hhea"][34]);
        for (unsigned g = 0; g < count && g < nh; ++g)
            metrics[uint16_t(g)] = {Be16(&t["hmtx"][g * 4]), int16_t(Be16(&t["hmtx"][g * 4 + 2]))};
        std::vector<std::string> keep = {"head", "maxp", "cvt ", "fpgm", "prep"};
        if (keepMetrics) {
            keep.push_back("hhea");
            keep.push_back("hmtx");
        }
        Push32(gt, 0x00010000);
        Push16(gt, unsigned(keep.size()));
        Push16(gt, 0);
        Push16(gt, 0);
        Push16(gt, 0);
        uint32_t off = uint32_t(12 + keep.size() * 16);
        std::vector<uint8_t> data;
        for (const std::string& name : keep) {
            gt.insert(gt.end(), name.begin(), name.end());
            Push32(gt, 0);
            Push32(gt, off + uint32_t(data.size()));
            Push32(gt, uint32_t(t[name].size()));
            data.insert(data.end(), t[name].begin(), t[name].end());
            while (data.size() % 4) data.push_back(0);
        }
        gt.insert(gt.end(), data.begin(), data.end());
        return true;
    }
};

uint32_t GlyphOf(char c) {
    auto face = tarvik::FontFace::FromFile(kTtf);
    return face ? face->GlyphForUnicode(uint32_t(c)) : 0;
}

// Downloads `chars` of the font as "Dl" and writes "text" with it.
Writer TrueTypeJob(const SplitFont& f, const std::string& chars, int charClass,
                   const std::string& text, bool big = false) {
    Writer w(big);
    w.Header().BeginSession(72).OpenData();
    std::vector<uint8_t> header = {0, 0, 0x02, 0x75, 1, 0, 0, uint8_t(chars.size())};
    Push16(header, 0x4754);
    Push32(header, uint32_t(f.gt.size()));
    header.insert(header.end(), f.gt.begin(), f.gt.end());
    Push16(header, 0xFFFF);
    Push32(header, 0);
    w.UBArray("Dl").A(aFontName).UB(0).A(aFontFormat).Op(kBeginFontHeader);
    // In two chunks that do not line up with the segments.
    std::vector<uint8_t> a(header.begin(), header.begin() + 20),
        b(header.begin() + 20, header.end());
    w.U16(unsigned(a.size())).A(aFontHeaderLength).Op(kReadFontHeader).Data(a);
    w.U16(unsigned(b.size())).A(aFontHeaderLength).Op(kReadFontHeader).Data(b);
    w.Op(kEndFontHeader);
    w.UBArray("Dl").A(aFontName).Op(kBeginChar);
    for (char c : chars) {
        uint16_t gid = uint16_t(GlyphOf(c));
        const std::vector<uint8_t>& glyf = f.glyphs.at(gid);
        std::vector<uint8_t> rec = {1, uint8_t(charClass)};
        size_t head = charClass == 0 ? 6 : 10;
        Push16(rec, unsigned(glyf.size() + head - 2));
        if (charClass == 1) {
            Push16(rec, unsigned(f.metrics.at(gid).second));
            Push16(rec, unsigned(f.metrics.at(gid).first));
        }
        Push16(rec, gid);
        rec.insert(rec.end(), glyf.begin(), glyf.end());
        w.UB(uint8_t(c))
            .A(aCharCode)
            .U16(unsigned(rec.size()))
            .A(aCharDataSize)
            .Op(kReadChar)
            .Data(rec);
    }
    w.Op(kEndChar);
    w.BeginPage(0);
    w.UBArray("Dl").A(aFontName).Real(100).A(aCharSize).U16(629).A(aSymbolSet).Op(kSetFont);
    w.S16Xy(100, 200).A(aPoint).Op(kSetCursor);
    w.UBArray(text).A(aTextData).Op(kText);
    w.EndPage().CloseData().EndSession();
    return w;
}

} // namespace

TEST(PxlFonts, DownloadedTrueTypeDrawsGlyphs) {
    SplitFont f;
    if (!f.Load(true)) GTEST_SKIP() << kTtf << " not installed";
    for (bool big : {false, true}) {
        Writer w = TrueTypeJob(f, "HI", 0, "HIX", big); // X is not downloaded
        pxltest::Result t = pxltest::Trace(w.bytes);
        EXPECT_TRUE(t.ok);
        std::string g = "glyph=" + std::to_string(GlyphOf('H')) + " [100 0 0 -100 100 200]";
        EXPECT_TRUE(t.Has(g)) << t.trace;
        EXPECT_EQ(t.Count("FillGlyph"), 2u);
        pxltest::Result r = pxltest::Render(w.bytes);
        ASSERT_EQ(r.rasters.size(), 1u);
        // The H's crossbar sits about a third of the em above the baseline.
        EXPECT_EQ(r.rasters[0].At(140, 165).r, 0);
        EXPECT_GT(r.Ink(), 1500u);
    }
}

TEST(PxlFonts, ClassOneCharactersCarryTheirOwnMetrics) {
    // No hhea/hmtx in the download: the advance comes from the records.
    SplitFont f;
    if (!f.Load(false)) GTEST_SKIP() << kTtf << " not installed";
    Writer w = TrueTypeJob(f, "HI", 1, "HI");
    pxltest::Result t = pxltest::Trace(w.bytes);
    EXPECT_TRUE(t.ok);
    EXPECT_EQ(t.Count("FillGlyph"), 2u) << t.trace;
    // No spacing data: I follows H by H's advance (1479 of 2048 units).
    EXPECT_TRUE(t.Has("[100 0 0 -100 172.22 200]")) << t.trace;
    pxltest::Result r = pxltest::Render(w.bytes);
    EXPECT_GT(r.Ink(), 1500u);
}

TEST(PxlFonts, SfntFromBrokenDownloads) {
    DownloadedFont font;
    std::string err;
    const uint8_t noGt[] = {0, 0, 2, 0x75, 1, 0, 0, 1, 0xFF, 0xFF, 0, 0, 0, 0};
    EXPECT_FALSE(ParseFontHeader(noGt, sizeof noGt, font, err));
    const uint8_t tech[] = {0, 0, 2, 0x75, 9, 0, 0, 1, 0xFF, 0xFF, 0, 0, 0, 0};
    EXPECT_FALSE(ParseFontHeader(tech, sizeof tech, font, err));
    // A GT segment whose directory points past its end.
    std::vector<uint8_t> hdr = {0, 0, 2, 0x75, 1, 0, 0, 1, 0x47, 0x54, 0, 0, 0, 28};
    std::vector<uint8_t> gt = {0,   1,   0, 0, 0, 1, 0, 0, 0, 0,  0, 0, 'h', 'e',
                               'a', 'd', 0, 0, 0, 0, 0, 0, 0, 12, 0, 1, 0,   0};
    hdr.insert(hdr.end(), gt.begin(), gt.end());
    hdr.insert(hdr.end(), {0xFF, 0xFF, 0, 0, 0, 0});
    ASSERT_TRUE(ParseFontHeader(hdr.data(), hdr.size(), font, err)) << err;
    EXPECT_TRUE(BuildSfnt(font, err).empty());
    EXPECT_EQ(font.Face(), nullptr);
    // Character records that are cut short are refused.
    const uint8_t shortRec[] = {1, 1, 0, 20, 0};
    EXPECT_FALSE(AddCharacter(font, 65, shortRec, sizeof shortRec, err));
    const uint8_t bitmapRec[] = {0, 0, 0, 0, 0, 0, 0, 8, 0, 8};
    EXPECT_FALSE(AddCharacter(font, 65, bitmapRec, sizeof bitmapRec, err)); // FST mismatch
}

TEST(PxlFonts, BitmapFontDrawsMasks) {
    Writer w;
    w.Header().BeginSession(72).OpenData();
    std::vector<uint8_t> header = {0, 0, 0x02, 0x75, 254, 0, 0, 1};
    Push16(header, 0x4252); // BR: format 0, 72 x 72 dots per inch
    Push32(header, 6);
    header.insert(header.end(), {0, 0, 0, 72, 0, 72});
    Push16(header, 0xFFFF);
    Push32(header, 0);
    w.UBArray("Bm").A(aFontName).UB(0).A(aFontFormat).Op(kBeginFontHeader);
    w.U16(unsigned(header.size())).A(aFontHeaderLength).Op(kReadFontHeader).Data(header);
    w.Op(kEndFontHeader);
    // An 8 x 8 solid box standing on the baseline, one dot right of it.
    std::vector<uint8_t> rec = {0, 0, 0, 1, 0, 8, 0, 8, 0, 8};
    rec.insert(rec.end(), 8, 0xFF);
    w.UBArray("Bm").A(aFontName).Op(kBeginChar);
    w.UB('A').A(aCharCode).U16(unsigned(rec.size())).A(aCharDataSize).Op(kReadChar).Data(rec);
    w.Op(kEndChar);
    w.BeginPage(0);
    w.UBArray("Bm").A(aFontName).Real(10).A(aCharSize).U16(629).A(aSymbolSet).Op(kSetFont);
    w.S16Xy(20, 30).A(aPoint).Op(kSetCursor);
    w.UBArray("AAB").A(aTextData).UBArray(std::vector<uint8_t>{20, 20, 20}).A(aXSpacingData);
    w.Op(kText);
    w.EndPage().CloseData().EndSession();
    pxltest::Result t = pxltest::Trace(w.bytes);
    EXPECT_TRUE(t.ok);
    EXPECT_TRUE(t.Has("FillMask 8x8 [1 0 0 1 21 22] solid(0,0,0) rop=252")) << t.trace;
    EXPECT_TRUE(t.Has("FillMask 8x8 [1 0 0 1 41 22]")) << t.trace;
    EXPECT_EQ(t.Count("FillMask"), 2u); // B is not in the font
    pxltest::Result r = pxltest::Render(w.bytes);
    EXPECT_EQ(r.Ink(), 128u);
    EXPECT_EQ(r.rasters[0].At(21, 22).r, 0);
}

TEST(PxlFonts, ResidentFontsTextPathAndCharacterTransforms) {
    Writer w;
    w.Header().BeginSession(72).OpenData().BeginPage(0);
    w.UBArray("Courier         ").A(aFontName).Real(20).A(aCharSize).U16(277).A(aSymbolSet);
    w.Op(kSetFont);
    w.S16Xy(50, 100).A(aPoint).Op(kSetCursor);
    w.UBArray(std::vector<uint8_t>{'A', 0xC5}).A(aTextData).Op(kText); // 0xC5 is e-acute in Roman-8
    w.S16(90).A(aCharAngle).Op(kSetCharAngle);
    w.RealXy(2, 1).A(aCharScale).Op(kSetCharScale);
    w.S16Xy(50, 200).A(aPoint).Op(kSetCursor);
    w.UBArray("A").A(aTextData).Op(kText);
    w.S16(0).A(aCharAngle).Op(kSetCharAngle);
    w.RealXy(1, 1).A(aCharScale).Op(kSetCharScale);
    w.Op(kNewPath).S16Xy(50, 300).A(aPoint).Op(kSetCursor);
    w.UBArray("O").A(aTextData).Op(kTextPath);
    w.UB(0).A(aNullPen).Op(kSetPenSource).Op(kPaintPath);
    w.EndPage().CloseData().EndSession();
    pxltest::Result t = pxltest::Trace(w.bytes);
    EXPECT_TRUE(t.ok);
    EXPECT_EQ(t.Count("FillGlyph"), 3u) << t.trace;
    // Monospaced: the second glyph 12 points (0.6 em) on.
    EXPECT_TRUE(t.Has("[20 0 0 -20 62 100]")) << t.trace;
    // Turned a quarter counter-clockwise and twice as wide.
    EXPECT_TRUE(t.Has("[0 -40 -20 0 50 200]")) << t.trace;
    EXPECT_TRUE(t.Has("FillPath nonzero solid(0,0,0) rop=252 M")) << t.trace;

    // Text with no font, and a font that does not exist.
    Writer n;
    n.Header().BeginSession(72).OpenData().BeginPage(0);
    n.S16Xy(50, 100).A(aPoint).Op(kSetCursor).UBArray("A").A(aTextData).Op(kText);
    n.EndPage().CloseData().EndSession();
    pxltest::Result nr = pxltest::Trace(n.bytes);
    EXPECT_TRUE(nr.ok);
    EXPECT_FALSE(nr.Has("FillGlyph"));
}

TEST(PxlFonts, SymbolSets) {
    EXPECT_EQ(SymbolSetToUnicode(277, 0xC5), 0xE9u);   // Roman-8 e acute
    EXPECT_EQ(SymbolSetToUnicode(629, 0x80), 0x20ACu); // Windows euro
    EXPECT_EQ(SymbolSetToUnicode(341, 0x82), 0xE9u);   // PC-8 e acute
    EXPECT_EQ(SymbolSetToUnicode(14, 0xE9), 0xE9u);
    EXPECT_EQ(SymbolSetToUnicode(277, 'A'), uint32_t('A'));
}
