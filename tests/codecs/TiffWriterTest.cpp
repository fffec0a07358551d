#include "RasterTIF.h"
#include "WriterTestSupport.h"

#include <gtest/gtest.h>
#include <tiffio.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>

using namespace writertest;

namespace {

struct TiffPage {
    Picture picture;
    uint16_t compression = 0;
    uint16_t photometric = 0;
    uint16_t predictor = 1;
    uint32_t subfileType = 0;
    bool hasPageNumber = false;
    uint16_t pageNumber[2] = {};
    std::string pageName;
    float xResolution = 0, yResolution = 0;
    uint16_t resolutionUnit = 0;
    std::vector<uint16_t> redMap;
};

void QuietTiff(const char*, const char*, va_list) {}

// Reads every directory through libtiff's own decoding (RGBA interface).
std::vector<TiffPage> ReadTiff(const std::string& path) {
    TIFFSetErrorHandler(QuietTiff);
    TIFFSetWarningHandler(QuietTiff);
    std::vector<TiffPage> pages;
    TIFF* tif = TIFFOpen(path.c_str(), "r");
    if (!tif) return pages;
    do {
        TiffPage page;
        uint32_t w = 0, h = 0;
        TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w);
        TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h);
        TIFFGetField(tif, TIFFTAG_COMPRESSION, &page.compression);
        TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &page.photometric);
        TIFFGetField(tif, TIFFTAG_PREDICTOR, &page.predictor);
        TIFFGetField(tif, TIFFTAG_SUBFILETYPE, &page.subfileType);
        page.hasPageNumber =
            TIFFGetField(tif, TIFFTAG_PAGENUMBER, &page.pageNumber[0], &page.pageNumber[1]) == 1;
        char* name = nullptr;
        if (TIFFGetField(tif, TIFFTAG_PAGENAME, &name) == 1 && name) page.pageName = name;
        TIFFGetField(tif, TIFFTAG_XRESOLUTION, &page.xResolution);
        TIFFGetField(tif, TIFFTAG_YRESOLUTION, &page.yResolution);
        TIFFGetField(tif, TIFFTAG_RESOLUTIONUNIT, &page.resolutionUnit);
        uint16_t *r = nullptr, *g = nullptr, *b = nullptr;
        if (page.photometric == PHOTOMETRIC_PALETTE &&
            TIFFGetField(tif, TIFFTAG_COLORMAP, &r, &g, &b)) {
            uint16_t bits = 0;
            TIFFGetField(tif, TIFFTAG_BITSPERSAMPLE, &bits);
            page.redMap.assign(r, r + (1u << bits));
        }
        std::vector<uint32_t> raster(size_t(w) * h);
        if (w && h && TIFFReadRGBAImageOriented(tif, w, h, raster.data(), ORIENTATION_TOPLEFT, 0)) {
            page.picture.width = w;
            page.picture.height = h;
            page.picture.rgb.resize(size_t(3) * w * h);
            for (size_t i = 0; i < raster.size(); ++i) {
                page.picture.rgb[3 * i] = uint8_t(TIFFGetR(raster[i]));
                page.picture.rgb[3 * i + 1] = uint8_t(TIFFGetG(raster[i]));
                page.picture.rgb[3 * i + 2] = uint8_t(TIFFGetB(raster[i]));
            }
        }
        pages.push_back(std::move(page));
    } while (TIFFReadDirectory(tif));
    TIFFClose(tif);
    return pages;
}

// Walks the codes of one LZW strip at the widths a decoder reads them (it
// adds a string with every code but the first after a Clear). True when the
// strip starts with Clear and its EndOfInformation ends in the last byte;
// libtiff stops once it has the strip's pixels and never looks that far.
bool LzwStripEndsCleanly(const std::vector<uint8_t>& strip) {
    size_t bit = 0;
    uint32_t next = 258;
    bool started = false, first = true;
    for (;;) {
        const unsigned width = next + 1 < 512    ? 9
                               : next + 1 < 1024 ? 10
                               : next + 1 < 2048 ? 11
                                                 : 12;
        if (bit + width > strip.size() * 8) return false;
        uint32_t code = 0;
        for (unsigned k = 0; k < width; ++k, ++bit)
            code = code << 1 | ((strip[bit / 8] >> (7 - bit % 8)) & 1);
        if (code == 257) return started && (bit + 7) / 8 == strip.size();
        if (code == 256) {
            started = true;
            first = true;
            next = 258;
            continue;
        }
        if (!started || code > next) return false;
        if (!first) ++next;
        first = false;
    }
}

std::string SaveTiff(CRaster& image, const std::string& name, uint32_t option) {
    image.SetEncodeOption(option, kFormatTIF);
    const std::string path = TempPath(name);
    EXPECT_TRUE(image.SaveFile(path, kFormatTIF)) << image.LastError();
    return path;
}

} // namespace

// The engine's depths with the depth's own compression come back pixel for
// pixel (JPEG within a PSNR floor), tagged as chosen.
TEST(TiffWriter, DefaultCompressionPerDepthReadsBack) {
    struct Case {
        Kind kind;
        uint16_t compression;
        uint16_t photometric;
    } cases[] = {
        {Kind::BlackWhite, COMPRESSION_CCITTFAX4, PHOTOMETRIC_MINISWHITE},
        {Kind::Color16, COMPRESSION_LZW, PHOTOMETRIC_PALETTE},
        {Kind::Gray16, COMPRESSION_LZW, PHOTOMETRIC_PALETTE},
        {Kind::Color256, COMPRESSION_LZW, PHOTOMETRIC_PALETTE},
        {Kind::GrayRamp, COMPRESSION_LZW, PHOTOMETRIC_MINISBLACK},
        {Kind::TrueColor, COMPRESSION_JPEG, PHOTOMETRIC_YCBCR},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.kind));
        CRaster image;
        MakeImage(image, c.kind, 203, 61);
        image.SetQuality(90);
        const Picture expected = Expected(image);
        const auto pages =
            ReadTiff(SaveTiff(image, "page" + std::to_string(int(c.kind)) + ".tif", 0));
        ASSERT_EQ(pages.size(), 1u);
        EXPECT_EQ(pages[0].compression, c.compression);
        EXPECT_EQ(pages[0].photometric, c.photometric);
        EXPECT_EQ(pages[0].subfileType, 0u);
        EXPECT_FALSE(pages[0].hasPageNumber);
        if (c.compression == COMPRESSION_JPEG)
            EXPECT_GT(Psnr(pages[0].picture, expected), 30.0);
        else
            EXPECT_EQ(MaxDifference(pages[0].picture, expected), 0);
    }
}

TEST(TiffWriter, YCbCrJpegTagsAsTiffinfoShowsThem) {
    if (!ToolAvailable("/usr/bin/tiffinfo")) GTEST_SKIP() << "tiffinfo not installed";
    CRaster image;
    MakeImage(image, Kind::TrueColor, 64, 40);
    image.SetQuality(75);
    const std::string path = SaveTiff(image, "ycbcr.tif", TIFF_JPEG_AUTO);
    const std::string info = RunCommand("/usr/bin/tiffinfo '" + path + "'");
    EXPECT_NE(info.find("Compression Scheme: JPEG"), std::string::npos) << info;
    EXPECT_NE(info.find("Photometric Interpretation: YCbCr"), std::string::npos) << info;
    EXPECT_NE(info.find("YCbCr Subsampling: 1, 1"), std::string::npos) << info;
    EXPECT_NE(info.find("Reference Black/White:"), std::string::npos) << info;
    EXPECT_NE(info.find("0:     0   255"), std::string::npos) << info;
    EXPECT_NE(info.find("1:   128   255"), std::string::npos) << info;
    // The YCbCr bytes are ours; a wrong conversion shows in the colours.
    EXPECT_GT(Psnr(ReadTiff(path)[0].picture, Expected(image)), 30.0);
}

TEST(TiffWriter, CompressionWordsGiveTheirCodecsAndPredictor) {
    struct Case {
        Kind kind;
        uint32_t option;
        uint16_t compression;
        uint16_t predictor;
    } cases[] = {
        {Kind::BlackWhite, 5, COMPRESSION_LZW, 1},
        {Kind::Color16, 5, COMPRESSION_LZW, 1},
        {Kind::Color256, 5, COMPRESSION_LZW, 2},
        {Kind::TrueColor, 5, COMPRESSION_LZW, 2},
        {Kind::BlackWhite, 3, COMPRESSION_CCITTFAX3, 1},
        {Kind::BlackWhite, 2, COMPRESSION_CCITTRLE, 1},
        {Kind::BlackWhite, 1, COMPRESSION_NONE, 1},
        {Kind::Color16, 32773, COMPRESSION_PACKBITS, 1},
        {Kind::Color256, 32773, COMPRESSION_PACKBITS, 1},
        {Kind::TrueColor, 32773, COMPRESSION_PACKBITS, 1},
        {Kind::TrueColor, 1, COMPRESSION_NONE, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(int(c.kind)) + " option " + std::to_string(c.option));
        CRaster image;
        MakeImage(image, c.kind, 97, 33, true);
        const Picture expected = Expected(image);
        const auto pages = ReadTiff(SaveTiff(image, "c.tif", c.option));
        ASSERT_EQ(pages.size(), 1u);
        EXPECT_EQ(pages[0].compression, c.compression);
        EXPECT_EQ(pages[0].predictor, c.predictor);
        EXPECT_EQ(MaxDifference(pages[0].picture, expected), 0);
    }
    // JPEG on an 8-bit gray ramp: plain gray JPEG.
    CRaster gray;
    MakeImage(gray, Kind::GrayRamp, 80, 24);
    const auto pages = ReadTiff(SaveTiff(gray, "g.tif", TIFF_JPEG_AUTO));
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_EQ(pages[0].compression, COMPRESSION_JPEG);
    EXPECT_EQ(pages[0].photometric, PHOTOMETRIC_MINISBLACK);
    EXPECT_GT(Psnr(pages[0].picture, Expected(gray)), 30.0);
}

// LZW pages of every depth come back sample for sample through libtiff,
// however the coder's table fills: random bytes (tables cleared many times a
// strip), one flat colour (long strings), a page, and rows whose differenced
// bytes never repeat a pair, sized so the last code of the strip lands on a
// width change or just after a Clear. 4000 x 151 leaves a short last strip
// at every depth.
TEST(TiffWriter, LzwStripsCarryEverySample) {
    // Every adjacent pair differs: one code per byte.
    std::vector<uint8_t> pairs;
    for (int a = 0; a < 256 && pairs.size() < 5000; ++a) {
        pairs.push_back(uint8_t(a));
        for (int b = a + 1; b < 256; ++b) {
            pairs.push_back(uint8_t(a));
            pairs.push_back(uint8_t(b));
        }
    }
    enum Fill { Random, Flat, Page, Pairs };
    struct Case {
        Kind kind;
        bool alpha;
        Fill fill;
        uint32_t width, height;
    };
    std::vector<Case> cases;
    for (Fill fill : {Random, Flat, Page})
        for (auto [kind, alpha] : {std::pair{Kind::Color16, false},
                                   {Kind::GrayRamp, false},
                                   {Kind::GrayRamp, true},
                                   {Kind::TrueColor, false},
                                   {Kind::TrueColor, true}})
            cases.push_back({kind, alpha, fill, 4000, 151});
    for (uint32_t width : {254u, 766u, 1790u, 4090u})
        cases.push_back({Kind::GrayRamp, false, Pairs, width, 1});

    std::mt19937 random(7);
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(int(c.kind)) + (c.alpha ? "+alpha" : "") + " fill " +
                     std::to_string(int(c.fill)) + " width " + std::to_string(c.width));
        CRaster image;
        MakeImage(image, c.kind, c.width, c.height);
        if (c.alpha) {
            // As a 32-bit BMP brings it in.
            image.alphaPlane = static_cast<uint8_t*>(std::malloc(size_t(c.width) * c.height));
            ASSERT_NE(image.alphaPlane, nullptr);
        }
        const size_t rowBytes = image.Width() * image.BitsPerPixel() / 8;
        for (uint32_t y = 0; y < c.height; ++y) {
            uint8_t* row = image.RowPointer(y);
            uint8_t* alpha = c.alpha ? image.alphaPlane + size_t(y) * c.width : nullptr;
            for (size_t i = 0; i < rowBytes; ++i) {
                if (c.fill == Random) row[i] = uint8_t(random());
                if (c.fill == Flat) row[i] = 0x66;
                // The predictor's differences are then the pair sequence.
                if (c.fill == Pairs) row[i] = uint8_t((i ? row[i - 1] : 0) + pairs[i]);
            }
            for (uint32_t x = 0; alpha && x < c.width; ++x)
                alpha[x] = c.fill == Random ? uint8_t(random()) : uint8_t(x * 7 + y);
        }
        const std::string path = SaveTiff(image, "lzw.tif", COMPRESSION_LZW);
        TIFFSetErrorHandler(QuietTiff);
        TIFF* tif = TIFFOpen(path.c_str(), "r");
        ASSERT_NE(tif, nullptr);
        uint16_t compression = 0, samples = 0;
        uint32_t rowsPerStrip = 0;
        TIFFGetField(tif, TIFFTAG_COMPRESSION, &compression);
        TIFFGetField(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
        TIFFGetField(tif, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
        EXPECT_EQ(compression, COMPRESSION_LZW);
        if (c.height > 1) {
            EXPECT_NE(c.height % rowsPerStrip, 0u);
        }
        const uint32_t strips = TIFFNumberOfStrips(tif);
        const size_t fileRow = size_t(TIFFScanlineSize(tif));
        std::vector<uint8_t> decoded(fileRow * rowsPerStrip), raw;
        int wrong = 0;
        for (uint32_t s = 0; s < strips; ++s) {
            const uint32_t top = s * rowsPerStrip;
            const uint32_t rows = std::min(rowsPerStrip, c.height - top);
            const tmsize_t got =
                TIFFReadEncodedStrip(tif, s, decoded.data(), tmsize_t(decoded.size()));
            ASSERT_EQ(got, tmsize_t(fileRow * rows)) << "strip " << s;
            raw.resize(size_t(TIFFRawStripSize(tif, s)));
            ASSERT_EQ(TIFFReadRawStrip(tif, s, raw.data(), tmsize_t(raw.size())),
                      tmsize_t(raw.size()));
            EXPECT_TRUE(LzwStripEndsCleanly(raw)) << "strip " << s;
            for (uint32_t r = 0; r < rows; ++r) {
                const uint32_t y = c.height - 1 - (top + r);
                const uint8_t* in = decoded.data() + fileRow * r;
                for (uint32_t x = 0; x < c.width; ++x) {
                    const uint8_t* p = in + size_t(x) * samples;
                    bool same;
                    if (c.kind == Kind::Color16) {
                        same = ((in[x / 2] >> (x % 2 ? 0 : 4)) & 15) ==
                               image.GetIndexAtUnchecked(x, y);
                    } else if (c.kind == Kind::GrayRamp) {
                        same = p[0] == image.GetIndexAtUnchecked(x, y);
                    } else {
                        const RasterColor color = image.GetColorAtUnchecked(x, y, false);
                        same = p[0] == color.red && p[1] == color.green && p[2] == color.blue;
                    }
                    if (c.alpha)
                        same = same && p[samples - 1] == image.alphaPlane[size_t(y) * c.width + x];
                    wrong += same ? 0 : 1;
                }
            }
        }
        TIFFClose(tif);
        EXPECT_EQ(wrong, 0);
    }
}

TEST(TiffWriter, OneBitPaletteIsWrittenMinIsWhite) {
    // Black, white: entries swap and the bytes invert in the caller's image.
    CRaster image;
    MakeImage(image, Kind::BlackWhite, 21, 9);
    const Picture expected = Expected(image);
    const uint8_t firstByte = image.RowPointer(0)[0];
    auto pages = ReadTiff(SaveTiff(image, "bw.tif", 0));
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_EQ(pages[0].photometric, PHOTOMETRIC_MINISWHITE);
    EXPECT_EQ(MaxDifference(pages[0].picture, expected), 0);
    EXPECT_EQ(image.PaletteColor(0), RasterColor::Rgb(255, 255, 255));
    EXPECT_EQ(image.RowPointer(0)[0], uint8_t(~firstByte));
    EXPECT_EQ(MaxDifference(Expected(image), expected), 0);

    // White, black: already in MinIsWhite order, nothing changes.
    CRaster other;
    MakeImage(other, Kind::WhiteBlack, 21, 9);
    const uint8_t otherByte = other.RowPointer(0)[0];
    pages = ReadTiff(SaveTiff(other, "wb.tif", 0));
    EXPECT_EQ(MaxDifference(pages[0].picture, Expected(other)), 0);
    EXPECT_EQ(other.RowPointer(0)[0], otherByte);
}

TEST(TiffWriter, PhotometricFollowsThePalette) {
    CRaster ramp;
    MakeImage(ramp, Kind::GrayRamp, 16, 16);
    auto pages = ReadTiff(SaveTiff(ramp, "ramp.tif", 0));
    EXPECT_EQ(pages[0].photometric, PHOTOMETRIC_MINISBLACK);
    EXPECT_TRUE(pages[0].redMap.empty());

    ramp.SetPaletteColor(7, RasterColor::Rgb(7, 8, 7));
    pages = ReadTiff(SaveTiff(ramp, "offramp.tif", 0));
    EXPECT_EQ(pages[0].photometric, PHOTOMETRIC_PALETTE);
    ASSERT_EQ(pages[0].redMap.size(), 256u);
    EXPECT_EQ(pages[0].redMap[255], 65535);
    EXPECT_EQ(pages[0].redMap[7], 7 * 257);
    EXPECT_EQ(MaxDifference(pages[0].picture, Expected(ramp)), 0);

    // A 4-bit palette whose entry i is gray i must keep those dark grays: as
    // MinIsBlack it would read back as 0, 17, ..., 255.
    CRaster small;
    small.Create(10, 4, 4, 0);
    for (uint32_t i = 0; i < 16; ++i) small.SetPaletteColor(i, RasterColor::Rgb(i, i, i));
    for (uint32_t x = 0; x < 10; ++x)
        for (uint32_t y = 0; y < 4; ++y) small.SetIndexAt(x, y, uint8_t(x + y));
    pages = ReadTiff(SaveTiff(small, "dark.tif", 0));
    EXPECT_EQ(pages[0].photometric, PHOTOMETRIC_PALETTE);
    EXPECT_EQ(MaxDifference(pages[0].picture, Expected(small)), 0);
}

TEST(TiffWriter, ResolutionTags) {
    CRaster image;
    MakeImage(image, Kind::Color256, 8, 8);
    image.SetDpiX(300);
    image.SetDpiY(150);
    const auto pages = ReadTiff(SaveTiff(image, "dpi.tif", 0));
    EXPECT_FLOAT_EQ(pages[0].xResolution, 300.0f);
    EXPECT_FLOAT_EQ(pages[0].yResolution, 150.0f);
    EXPECT_EQ(pages[0].resolutionUnit, RESUNIT_INCH);
}

TEST(TiffWriter, ThreePageSeriesReadsBackPageByPage) {
    const std::string path = TempPath("series.tif");
    FILE* file = std::fopen(path.c_str(), "w+b");
    ASSERT_NE(file, nullptr);
    std::vector<Picture> expected;
    {
        FileStream stream(file);
        CRasterTIF page;
        const Kind kinds[] = {Kind::BlackWhite, Kind::Color256, Kind::TrueColor};
        const uint32_t options[] = {0, 0, 5};
        for (int i = 0; i < 3; ++i) {
            MakeImage(page, kinds[i], 50 + 10 * i, 30 - 5 * i);
            expected.push_back(Expected(page));
            page.SetEncodeOption(options[i], kFormatTIF);
            ASSERT_TRUE(page.Encode(&stream, true)) << page.LastError();
            EXPECT_TRUE(page.SeriesOpen());
            EXPECT_EQ(page.PagesWritten(), i + 1);
            // Every page is complete when appended: the file is valid so far.
            std::fflush(file);
            EXPECT_EQ(ReadTiff(path).size(), size_t(i + 1));
        }
    } // the CRasterTIF goes first, then the stream; the opener closes the file
    std::fclose(file);
    const auto pages = ReadTiff(path);
    ASSERT_EQ(pages.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(pages[i].subfileType, uint32_t(FILETYPE_PAGE));
        ASSERT_TRUE(pages[i].hasPageNumber);
        EXPECT_EQ(pages[i].pageNumber[0], i + 1);
        EXPECT_EQ(pages[i].pageNumber[1], i + 1);
        EXPECT_EQ(pages[i].pageName, "Page " + std::to_string(i + 1));
        EXPECT_EQ(MaxDifference(pages[i].picture, expected[i]), 0);
    }
}

// A page libtiff refuses ends the series; the next page opens the same file
// again and appends to it.
TEST(TiffWriter, SeriesGoesOnAfterAFailedPage) {
    const std::string path = TempPath("broken.tif");
    FILE* file = std::fopen(path.c_str(), "w+b");
    ASSERT_NE(file, nullptr);
    Picture first, last;
    {
        FileStream stream(file);
        CRasterTIF page;
        MakeImage(page, Kind::Color256, 30, 20);
        first = Expected(page);
        ASSERT_TRUE(page.Encode(&stream, true));
        MakeImage(page, Kind::BlackWhite, 30, 20);
        page.SetEncodeOption(7, kFormatTIF);
        EXPECT_FALSE(page.Encode(&stream, true));
        EXPECT_FALSE(page.SeriesOpen());
        MakeImage(page, Kind::TrueColor, 30, 20);
        last = Expected(page);
        page.SetEncodeOption(5, kFormatTIF);
        ASSERT_TRUE(page.Encode(&stream, true)) << page.LastError();
    }
    std::fclose(file);
    const auto pages = ReadTiff(path);
    ASSERT_GE(pages.size(), 2u);
    EXPECT_EQ(MaxDifference(pages.front().picture, first), 0);
    EXPECT_EQ(MaxDifference(pages.back().picture, last), 0);
}

TEST(TiffWriter, FailuresCloseTheSeriesWithTheirTexts) {
    CRasterTIF page;
    EXPECT_FALSE(page.Encode(nullptr, true));
    EXPECT_STREQ(page.LastError(), "null file handler");
    MemoryStream memory;
    memory.OpenEmpty();
    EXPECT_FALSE(page.Encode(&memory, true));
    EXPECT_STREQ(page.LastError(), "null image!!!");

    // libtiff refuses JPEG on 1-bit pages and CCITT on deeper ones.
    MakeImage(page, Kind::BlackWhite, 16, 16);
    page.SetEncodeOption(7, kFormatTIF);
    EXPECT_FALSE(page.Encode(&memory, false));
    EXPECT_STREQ(page.LastError(), "Error saving TIFF file");
    MakeImage(page, Kind::Color256, 16, 16);
    page.SetEncodeOption(4, kFormatTIF);
    EXPECT_FALSE(page.Encode(&memory, true));
    EXPECT_STREQ(page.LastError(), "Error saving TIFF file");
    EXPECT_FALSE(page.SeriesOpen());

    // A device that fills up: in single mode and in a series.
    for (size_t budget : {size_t(0), size_t(20), size_t(3000)}) {
        for (bool append : {false, true}) {
            SCOPED_TRACE(budget);
            CRasterTIF tif;
            MakeImage(tif, Kind::TrueColor, 120, 90, true);
            tif.SetEncodeOption(5, kFormatTIF);
            FailingStream full(budget);
            EXPECT_FALSE(tif.Encode(&full, append));
            const std::string text = tif.LastError();
            EXPECT_TRUE(text == "Error saving TIFF file" || text == "Error saving TIFF directory" ||
                        text == "initialization fail")
                << text;
            EXPECT_FALSE(tif.SeriesOpen());
            EXPECT_EQ(tif.PagesWritten(), 0);
        }
    }
}

TEST(TiffWriter, AnySizeAndDepthIsWrittenOrRefusedCleanly) {
    const Kind kinds[] = {Kind::BlackWhite, Kind::Color16, Kind::Color256, Kind::GrayRamp,
                          Kind::TrueColor};
    const std::pair<uint32_t, uint32_t> sizes[] = {{1, 1}, {70000, 1}, {1, 70000}};
    for (Kind kind : kinds) {
        for (auto [w, h] : sizes) {
            SCOPED_TRACE(std::to_string(int(kind)) + " " + std::to_string(w) + "x" +
                         std::to_string(h));
            CRaster image;
            MakeImage(image, kind, w, h);
            MemoryStream memory;
            memory.OpenEmpty();
            image.SetEncodeOption(0, kFormatTIF);
            if (image.Encode(&memory, kFormatTIF)) {
                EXPECT_GT(memory.size, 8);
            } else {
                // libjpeg's width limit (65500) is the one refusal expected here.
                EXPECT_EQ(kind, Kind::TrueColor);
                EXPECT_STREQ(image.LastError(), "Error saving TIFF file");
            }
        }
    }
}
