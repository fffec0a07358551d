// Vendor raster strips: the row decoder against strips whose rows are
// known, its bounds on damaged data, and strips drawn through the
// interpreter, up to a whole driver job scored against Ghostscript.
#include "PxlWriter.h"
#include "ScoreImage.h"
#include "TestJob.h"
#include "pclxl/PxlVendorRaster.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <unistd.h>

using namespace tarvik::pclxl;
using pxltest::Writer;

namespace {

std::vector<uint8_t> Hex(const std::string& s) {
    std::vector<uint8_t> out;
    int hi = -1;
    for (char c : s) {
        int v = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
        if (v < 0) continue;
        if (hi < 0) {
            hi = v;
        } else {
            out.push_back(uint8_t(hi << 4 | v));
            hi = -1;
        }
    }
    return out;
}

void PutBe(std::vector<uint8_t>& v, size_t at, uint32_t x, int bytes) {
    for (int i = 0; i < bytes; ++i) v[at + size_t(i)] = uint8_t(x >> (8 * (bytes - 1 - i)));
}

// A strip payload as the driver lays it out: header, then the coded rows.
std::vector<uint8_t> Strip(int width, int rows, uint32_t firstRow,
                           const std::vector<uint8_t>& coded, int dpi = 600) {
    std::vector<uint8_t> p = Hex("0001 0258 0018 03 0000000000 00000000 0000 0000 00000000 01");
    PutBe(p, 2, uint32_t(dpi), 2);
    PutBe(p, 12, uint32_t(coded.size()), 4);
    PutBe(p, 16, uint32_t(width) * 8, 2);
    PutBe(p, 18, uint32_t(rows), 2);
    PutBe(p, 20, firstRow, 4);
    p.insert(p.end(), coded.begin(), coded.end());
    return p;
}

// What the driver made of a 320 x 128 page holding the rows of PatternRow.
const char* const kDriverStrip =
    "0001025800180300000000000000057f0a0000800000000001b8fe3fb8fe3fb8fe3fb8fe3f0080b8fe3e20b8fe3e"
    "b8fe3fb8fe3fff1107b8fe1bbf11fe257f00078080808080808080808080808080e703b8fe215f00040000000000"
    "0000000000008700fe2ab8fe3fb8fe3fb8fe3fb8fe3fb8fe3fb8fe3fb8fe3fb8fe3fb8fe3f1802e0b8fe391802fc"
    "b8fe391902ff80b8fe381803f0b8fe381803feb8fe385903c0b8fe371804f8b8fe375804b8fe371805e0b8fe3618"
    "05fcb8fe36590580b8fe351806f0b8fe351806feb8fe355906c0b8fe341807f8b8fe345807b8fe341808e0b8fe33"
    "1808fcb8fe33590880b8fe321809f0b8fe321809feb8fe325909c0b8fe31180af8b8fe31580ab8fe31180be0b8fe"
    "30180bfcb8fe30580b8480b8fe2a9c0cf0b8fe2a9c0cfeb8fe2a580c83c0b8fe2a9b0df8b8fe2adb0db8fe2a9a0e"
    "e0b8fe2a9a0efcb8fe2a580e8180b8fe2a990ff0b8fe2a990ffeb8fe2a590fc0b8fe2b9810f8b8fe2a5f02020000"
    "000000000000008700fe2ab8fe3fb8fe3fb8fe3f1f01aa07aaaaaaaaaaaaaaaaaaaaaaaaaaaae708b8fe1b1f0155"
    "075555555555555555555555555555e708b8fe1b1f01aa07aaaaaaaaaaaaaaaaaaaaaaaaaaaae708b8fe1b1f0155"
    "075555555555555555555555555555e708b8fe1b1f01aa07aaaaaaaaaaaaaaaaaaaaaaaaaaaae708b8fe1b1f0155"
    "075555555555555555555555555555e708b8fe1b1f01aa07aaaaaaaaaaaaaaaaaaaaaaaaaaaae708b8fe1b1f0155"
    "075555555555555555555555555555e708b8fe1b1f01aa07aaaaaaaaaaaaaaaaaaaaaaaaaaaae708b8fe1b1f0155"
    "075555555555555555555555555555e708b8fe1b1f01aa07aaaaaaaaaaaaaaaaaaaaaaaaaaaae708b8fe1b1f0155"
    "075555555555555555555555555555e708b8fe1b1f01aa07aaaaaaaaaaaaaaaaaaaaaaaaaaaae708b8fe1b1f0155"
    "075555555555555555555555555555e708b8fe1b1f01aa07aaaaaaaaaaaaaaaaaaaaaaaaaaaae708b8fe1b1f0155"
    "075555555555555555555555555555e708b8fe1b5f0103000000000000000000008700fe2ab8fe3fb8fe3fb8fe3f"
    "b8fe3fb8fe3fb8fe3fb8fe3fb8fe3fb8fe3f07ff07ffffffffffffffffffffffffffffe710b8fe17b8fe3f000718"
    "23e0b8fe170700070000000000000000000000000000e7fe2ab8fe3fb8fe3fb8fe3fb8fe3fb8fe3fb8fe3f1c090f"
    "ffffffff87f80289ff00f0b8fe1e5f0903000000007fffffffffff82fe0101ff5900feb8fe1dda0e00034cffffff"
    "ff5a02ffc0b8fe1b0f1f03ffffffffffffffffffe05c0600000007580683f8b8fe164f0300000000e00000000000"
    "19090fff580781ffb8fe1738031a0007fff8d808010000e1003f87f006b8fe105a070000123fffff87fe03037fff"
    "fffeb8fe1dda0c0501ffffffffff828001ffff52ffc0b8fe1bdb10040fffffffff580382f8b8fe171f017f01ffff"
    "fffffffffff85a080003580683ffb8fe155c01000000035d00ffffffffff84fe8d0701f0008500b8fe165e050000"
    "00001e00e700010fff580385feb8fe17380a1901ffff878002003fc800c0b8fe1bda0f0307ffffff82e0017fff59"
    "00f8b8fe1a153ffffffffff8580b840001ffff5802e6b8fe12570400000001fffffffffffffe980a019f00f002b8"
    "fe145d03000000000f4effffffffffff84800003a400feb8fe1d5d08000000007f5e00ffffffffffffd80300c0b8"
    "fe1bda0d000381e0000f5907f8b8fe1a021ffff8df0e02003f580187ff01b8fe100200000013fffffffe19127fff"
    "87f005b8fe115f020200000007ffffffffff8780019801ff4887fe03b8fe125f0604000000003fffffffffffff84"
    "e00101ffd80100c0b8fe1b580b8100000156ffffffffffff5904f8b8fe1adb0f000f5909ffb8fe1918007e59100f"
    "9e04f0b8fe1738001b0003ffff80590a008300013fff87fe05b8fe105f0401000000001fffffff87e003907f49ff"
    "87c002b8fe11";

constexpr int kPatternWidth = 320;

std::vector<uint8_t> PatternRow(int y) {
    std::vector<uint8_t> b(kPatternWidth / 8);
    auto span = [&](int x0, int x1) {
        for (int x = x0; x < std::min(x1, kPatternWidth); ++x) b[size_t(x >> 3)] |= 0x80 >> (x & 7);
    };
    if (y == 4) {
        span(0, 1);
    } else if (y == 8) {
        span(160, 161);
    } else if (y == 10) {
        for (int x = 24; x < 240; x += 8) span(x, x + 1);
    } else if (y >= 20 && y < 60) {
        span(40, 40 + 3 * (y - 20)); // an edge that moves on every row
    } else if (y >= 64 && y < 80) {
        for (int x = 32; x < 288; x += 2) span(x + (y & 1), x + (y & 1) + 1);
    } else if (y == 90 || y == 91) {
        span(0, 320);
    } else if (y == 92) {
        span(5, 315);
    } else if (y >= 100) {
        int a = (y * 37) % 200;
        span(a, a + (y * 13) % 90 + 1);
        span(250 - (y % 7) * 9, 260 + (y % 5) * 11);
    }
    return b;
}

int Decode(const std::vector<uint8_t>& payload, std::vector<uint8_t>& rows, std::string& err,
           size_t keep = SIZE_MAX) {
    VendorStripHeader h;
    if (!ParseVendorStripHeader(payload.data(), payload.size(), h, err)) return -1;
    size_t n = std::min(payload.size(), keep) - kVendorStripHeaderBytes;
    return DecodeVendorStrip(h, payload.data() + kVendorStripHeaderBytes, n, rows, err);
}

std::vector<uint8_t> RowOf(const std::vector<uint8_t>& rows, size_t rowBytes, int y) {
    auto at = rows.begin() + std::ptrdiff_t(size_t(y) * rowBytes);
    return std::vector<uint8_t>(at, at + std::ptrdiff_t(rowBytes));
}

// Rows of a strip as byte -> value pairs on white; everything else 0.
using Marks = std::vector<std::pair<size_t, uint8_t>>;

void ExpectRows(const std::vector<uint8_t>& coded, int width, const std::vector<Marks>& want,
                const std::string& what) {
    std::vector<uint8_t> rows;
    std::string err;
    int n = Decode(Strip(width, int(want.size()), 0, coded), rows, err);
    ASSERT_EQ(n, int(want.size())) << what << ": " << err;
    EXPECT_EQ(err, "") << what;
    size_t rowBytes = size_t(width + 7) / 8;
    for (size_t y = 0; y < want.size(); ++y) {
        std::vector<uint8_t> expect(rowBytes);
        for (auto [at, v] : want[y]) expect[at] = v;
        EXPECT_EQ(RowOf(rows, rowBytes, int(y)), expect) << what << ", row " << y;
    }
}

Marks Fill(size_t from, size_t to, uint8_t value) {
    Marks m;
    for (size_t i = from; i < to; ++i) m.push_back({i, value});
    return m;
}

// A job of strips in VendorUnique operators, as the driver frames them.
struct StripJob {
    Writer w;
    StripJob() {
        w.Header().BeginSession(600).OpenData().BeginPage();
        w.U32(kVendorRasterBegin).A(145).Op(0x46);
    }
    StripJob& Add(const std::vector<uint8_t>& payload, uint32_t ext = kVendorRasterStrip,
                  size_t claimed = 0) {
        w.U32(ext).A(145).U32(uint32_t(claimed ? claimed : payload.size())).A(146).Op(0x46);
        w.Raw(payload);
        return *this;
    }
    // The same in an embedded data block, which the format also allows.
    StripJob& AddEmbedded(const std::vector<uint8_t>& payload) {
        w.U32(kVendorRasterStrip).A(145).Op(0x46).Data(payload);
        return *this;
    }
    std::vector<uint8_t> Finish() {
        w.EndPage().CloseData().EndSession();
        return w.bytes;
    }
};

bool Black(const tarvik::PageRaster& page, int x, int y) {
    tarvik::Color c = page.At(x, y);
    return c.r + c.g + c.b < 3 * 128;
}

// Pixels where the page differs from the pattern strip drawn with its top
// at row top.
int PatternMismatches(const tarvik::PageRaster& page, int top, int rows = 128) {
    int bad = 0;
    for (int y = 0; y < rows; ++y) {
        std::vector<uint8_t> want = PatternRow(y);
        for (int x = 0; x < kPatternWidth; ++x)
            bad += Black(page, x, top + y) != bool(want[size_t(x >> 3)] & (0x80 >> (x & 7)));
    }
    return bad;
}

} // namespace

TEST(VendorStrip, HeaderFields) {
    std::vector<uint8_t> p = Hex(kDriverStrip);
    VendorStripHeader h;
    std::string err;
    ASSERT_TRUE(ParseVendorStripHeader(p.data(), p.size(), h, err));
    EXPECT_EQ(h.resolution, 600);
    EXPECT_EQ(h.format, kVendorStripFormat);
    EXPECT_EQ(h.dataBytes, p.size() - kVendorStripHeaderBytes);
    EXPECT_EQ(h.width, kPatternWidth);
    EXPECT_EQ(h.rows, 128);
    EXPECT_EQ(h.firstRow, 0u);
    EXPECT_EQ(h.RowBytes(), 40u);
    EXPECT_FALSE(ParseVendorStripHeader(p.data(), kVendorStripHeaderBytes - 1, h, err));
    EXPECT_FALSE(err.empty());
}

TEST(VendorStrip, DriverStripDecodesToItsRows) {
    std::vector<uint8_t> rows;
    std::string err;
    ASSERT_EQ(Decode(Hex(kDriverStrip), rows, err), 128) << err;
    EXPECT_EQ(err, "");
    for (int y = 0; y < 128; ++y) EXPECT_EQ(RowOf(rows, 40, y), PatternRow(y)) << "row " << y;
}

TEST(VendorStrip, CommandForms) {
    // Rows the driver wrote for A4 pages (4960 pixels), each ending with a
    // skip past the pixel count.
    ExpectRows(Hex("0080 b8ff125d  20 b8ff125d"), 4960, {{{0, 0x80}}, {}},
               "a literal, then the byte above-right");
    ExpectRows(Hex("9f118007 b8ff123a  bf11ff1244"), 4960, {{{20, 0x80}}, {}},
               "a run copying white from sixteen bytes back");
    ExpectRows(Hex("1f008007 8080808080808080808080808080 e703 b8ff1240"
                   "5f0004 0000000000000000000000 8700ff1249"),
               4960, {Fill(3, 30, 0x80), {}}, "a run repeating the sixteen bytes before it");
    ExpectRows(Hex("180280 68 b8ff1256  380228 b8ff1256"), 4960, {{{5, 0x80}, {7, 0x80}}, {}},
               "the last data byte again");
    // The three implied sources; only a command's own first byte counts as
    // the last data byte, not the literal bytes after it.
    ExpectRows(Hex("0311223344 b839  28 50 60 b837"), 64,
               {{{0, 0x11}, {1, 0x22}, {2, 0x33}, {3, 0x44}},
                {{0, 0x11}, {1, 0x33}, {2, 0x33}, {3, 0x44}, {4, 0x44}, {5, 0x11}}},
               "above-right, above-left, last data byte");
    Marks periodic;
    for (size_t i = 0; i < 32; ++i) periodic.push_back({i, uint8_t(i % 16 + 1)});
    std::vector<uint8_t> coded = Hex("070107");
    for (uint8_t b = 2; b < 16; ++b) coded.push_back(b);
    for (uint8_t b : Hex("87100b b8dc")) coded.push_back(b);
    ExpectRows(coded, 256, {periodic}, "a run past the end of the row");
    // A length extension of 254 and one more byte: 7 + 254 + 2 literal bytes
    // after the first.
    coded = Hex("0755fe02");
    Marks lit{{0, 0x55}};
    for (size_t i = 0; i < 263; ++i) {
        coded.push_back(uint8_t(i * 7 + 1));
        lit.push_back({i + 1, uint8_t(i * 7 + 1)});
    }
    for (uint8_t b : Hex("b8ff1156")) coded.push_back(b);
    ExpectRows(coded, 4960, {lit}, "a 264-byte literal");
}

TEST(VendorStrip, DamagedDataStaysInBounds) {
    const std::vector<uint8_t> full = Hex(kDriverStrip);
    // Cut anywhere: only whole rows come back, and they are the right ones.
    int previous = 0;
    for (size_t keep = kVendorStripHeaderBytes; keep < full.size(); ++keep) {
        std::vector<uint8_t> rows;
        std::string err;
        int n = Decode(full, rows, err, keep);
        ASSERT_GE(n, previous);
        ASSERT_LT(n, 128);
        ASSERT_FALSE(err.empty());
        ASSERT_EQ(rows.size(), size_t(n) * 40);
        for (int y = 0; y < n; ++y) ASSERT_EQ(RowOf(rows, 40, y), PatternRow(y)) << keep;
        previous = n;
    }
    EXPECT_GT(previous, 120);

    // More rows promised than sent, and data left over.
    std::vector<uint8_t> rows;
    std::string err;
    EXPECT_EQ(Decode(Strip(4960, 500, 0, Hex("0080 b8ff125d")), rows, err), 1);
    EXPECT_NE(err.find("after row 1 of 500"), std::string::npos) << err;
    EXPECT_EQ(Decode(Strip(4960, 1, 0, Hex("0080 b8ff125d 0080")), rows, err), 1);
    EXPECT_NE(err.find("2 bytes left"), std::string::npos) << err;
    EXPECT_EQ(Decode(Strip(0, 128, 0, Hex("0080 b8ff125d")), rows, err), 0);

    // Noise under headers of any size: memory stays bounded by the data.
    std::mt19937 rng(7);
    for (int i = 0; i < 3000; ++i) {
        std::vector<uint8_t> coded(rng() % 400);
        for (uint8_t& b : coded) b = uint8_t(rng());
        int width = int(rng() % 8192), height = int(rng() % 65536);
        VendorStripHeader h;
        h.width = width;
        h.rows = height;
        int n = DecodeVendorStrip(h, coded.data(), coded.size(), rows, err);
        ASSERT_GE(n, 0);
        ASSERT_LE(size_t(n), std::min(size_t(height), coded.size()));
        ASSERT_EQ(rows.size(), size_t(n) * h.RowBytes());
    }
}

TEST(VendorRasterJob, StripsDrawnAtTheirRows) {
    std::vector<uint8_t> strip = Hex(kDriverStrip);
    std::vector<uint8_t> lower = strip;
    PutBe(lower, 20, 200, 4);
    StripJob job;
    std::vector<uint8_t> bytes = job.Add(strip).AddEmbedded(lower).Finish();
    pxltest::Result r = pxltest::Render(bytes, 600, kPatternWidth + 20, 340);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.pages, 1);
    EXPECT_EQ(r.unsupported, 0);
    EXPECT_EQ(r.warnings, 0);
    ASSERT_EQ(r.rasters.size(), 1u);
    EXPECT_EQ(PatternMismatches(r.rasters[0], 0), 0);
    EXPECT_EQ(PatternMismatches(r.rasters[0], 200), 0);
    for (int y = 128; y < 200; ++y)
        for (int x = 0; x < kPatternWidth + 20; ++x) ASSERT_FALSE(Black(r.rasters[0], x, y));

    // At 300 dpi each device pixel averages four strip pixels: the full
    // black rows 90 and 91 make device row 45 black.
    r = pxltest::Render(bytes, 300, 200, 200);
    ASSERT_EQ(r.rasters.size(), 1u);
    EXPECT_TRUE(Black(r.rasters[0], 80, 45));
    EXPECT_FALSE(Black(r.rasters[0], 80, 44));
}

TEST(VendorRasterJob, DamagedStripsKeepTheStreamInSync) {
    std::vector<uint8_t> strip = Hex(kDriverStrip);
    std::vector<uint8_t> junk = Strip(4960, 128, 0, std::vector<uint8_t>(300, 0xE7));
    std::vector<uint8_t> shortHeader(10, 0);
    StripJob job;
    job.Add(junk).Add(shortHeader).Add(strip).Add(Hex("0102030405"), 0x68700001);
    pxltest::Result r = pxltest::Render(job.Finish(), 600, kPatternWidth, 128);
    EXPECT_TRUE(r.ok);
    EXPECT_GE(r.warnings, 2);
    EXPECT_EQ(r.unsupported, 1); // the unknown extension only
    ASSERT_EQ(r.rasters.size(), 1u);
    EXPECT_EQ(PatternMismatches(r.rasters[0], 0), 0);

    // A stream that ends inside a strip: the rows it has are drawn, the
    // stream reports the break.
    StripJob cut;
    cut.Add(std::vector<uint8_t>(strip.begin(), strip.begin() + 700), kVendorRasterStrip,
            strip.size());
    r = pxltest::Render(cut.w.bytes, 600, kPatternWidth, 128);
    EXPECT_FALSE(r.ok);
    ASSERT_EQ(r.rasters.size(), 1u);
    EXPECT_EQ(PatternMismatches(r.rasters[0], 0, 60), 0);
    EXPECT_TRUE(Black(r.rasters[0], 0, 4));
}

namespace {

bool Shell(const std::string& command) {
    return std::system(command.c_str()) == 0;
}

render_score::Image ToImage(const tarvik::PageRaster& page) {
    render_score::Image im;
    im.width = page.Width();
    im.height = page.Height();
    im.rgb.resize(size_t(im.width) * size_t(im.height) * 3);
    for (int y = 0; y < im.height; ++y)
        for (int x = 0; x < im.width; ++x) {
            tarvik::Color c = page.At(x, y);
            uint8_t* p = &im.rgb[(size_t(y) * size_t(im.width) + size_t(x)) * 3];
            p[0] = c.r;
            p[1] = c.g;
            p[2] = c.b;
        }
    return im;
}

} // namespace

TEST(VendorRasterJob, DriverJobMatchesGhostscript) {
    const std::string filter = "/usr/lib/cups/filter/hpcups";
    const std::string drv = "/usr/share/cups/drv/hpcups.drv";
    if (access(filter.c_str(), X_OK) != 0 || access(drv.c_str(), R_OK) != 0 ||
        !Shell("command -v gs >/dev/null 2>&1 && command -v ppdc >/dev/null 2>&1"))
        GTEST_SKIP() << "needs gs, ppdc and the CUPS filter " << filter;
    std::string dir = (std::filesystem::temp_directory_path() / "vendor-raster-XXXXXX").string();
    ASSERT_NE(mkdtemp(dir.data()), nullptr);
    // A 3 x 2 inch page: text, rules, a halftone and a diagonal.
    std::ofstream(dir + "/doc.ps") << "/Helvetica-Bold findfont 14 scalefont setfont\n"
                                      "10 122 moveto (Strip raster) show\n"
                                      "/Times-Roman findfont 8 scalefont setfont\n"
                                      "10 106 moveto (The quick brown fox jumps over the lazy dog)"
                                      " show\n"
                                      "10 96 moveto (0123456789 Pack my box with five dozen) show\n"
                                      "0.5 setgray 10 20 80 60 rectfill 0 setgray\n"
                                      "0.4 setlinewidth 100 20 moveto 206 84 lineto stroke\n"
                                      "110 40 90 6 rectfill 150 30 2 60 rectfill showpage\n";
    const std::string page = "-r600 -dDEVICEWIDTHPOINTS=216 -dDEVICEHEIGHTPOINTS=144 -dFIXEDMEDIA ";
    const std::string gs = "gs -q -dSAFER -dBATCH -dNOPAUSE " + page;
    ASSERT_TRUE(Shell("cd " + dir + " && ppdc -d ppd " + drv + " >/dev/null 2>&1 && " + gs +
                      "-sDEVICE=cups -dcupsColorSpace=3 -dcupsBitsPerColor=1 -sOutputFile=page.ras "
                      "doc.ps 2>/dev/null && PPD=ppd/hp-laserjet_1010.ppd " +
                      filter +
                      " 1 user job 1 PageSize=Custom.216x144 page.ras >job.pxl 2>/dev/null && " +
                      gs + "-sDEVICE=pngmono -sOutputFile=ref.png doc.ps"))
        << "making the job in " << dir;
    std::ifstream in(dir + "/job.pxl", std::ios::binary);
    std::vector<uint8_t> job((std::istreambuf_iterator<char>(in)), {});
    static const std::string marker = ") HP-PCL XL";
    auto at = std::search(job.begin(), job.end(), marker.begin(), marker.end());
    ASSERT_NE(at, job.end());
    pxltest::Result r = pxltest::Render(std::vector<uint8_t>(at, job.end()), 600, 1800, 1200);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.unsupported, 0);
    ASSERT_EQ(r.rasters.size(), 1u);
    render_score::Image ref;
    std::string err;
    ASSERT_TRUE(render_score::LoadImage(dir + "/ref.png", ref, err)) << err;
    render_score::Score s = render_score::ScorePages(ToImage(r.rasters[0]), ref);
    std::printf("driver strip job at 600 dpi: ink %.4f tone %.4f score %.4f\n", s.ink, s.tone,
                s.Total());
    EXPECT_GE(s.Total(), 0.95);
    std::filesystem::remove_all(dir);
}
