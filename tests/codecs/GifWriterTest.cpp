#include "RasterGIF.h"
#include "WriterTestSupport.h"

#include <gtest/gtest.h>

using namespace writertest;

namespace {

struct GifImage {
    uint32_t left, top, width, height;
    uint8_t packed;
    size_t localTableBytes;
    uint8_t minimumCodeSize;
    std::vector<size_t> blockSizes;
};

struct GifFile {
    bool ok = false;
    uint8_t screenPacked = 0;
    size_t globalTableBytes = 0;
    std::vector<std::vector<uint8_t>> controls; // graphic control extension bodies
    std::vector<std::string> comments;
    std::vector<GifImage> images;
    bool trailer = false;
};

uint32_t Word(const std::vector<uint8_t>& b, size_t at) {
    return b[at] | uint32_t(b[at + 1]) << 8;
}

// Walks the block structure of the file.
GifFile ParseGif(const std::vector<uint8_t>& b) {
    GifFile gif;
    if (b.size() < 13 || std::string(b.begin(), b.begin() + 6) != "GIF89a") return gif;
    gif.screenPacked = b[10];
    size_t at = 13;
    if (gif.screenPacked & 0x80) gif.globalTableBytes = 3u << ((gif.screenPacked & 7) + 1);
    at += gif.globalTableBytes;
    auto subBlocks = [&](std::vector<size_t>* sizes, std::vector<uint8_t>* data) {
        while (at < b.size()) {
            const size_t n = b[at++];
            if (n == 0) return true;
            if (sizes) sizes->push_back(n);
            if (data) data->insert(data->end(), b.begin() + at, b.begin() + at + n);
            at += n;
        }
        return false;
    };
    while (at < b.size()) {
        const uint8_t kind = b[at++];
        if (kind == 0x3B) {
            gif.trailer = true;
            gif.ok = at == b.size();
            return gif;
        }
        if (kind == 0x21) {
            const uint8_t label = b[at++];
            std::vector<uint8_t> body;
            if (!subBlocks(nullptr, &body)) return gif;
            if (label == 0xF9) gif.controls.push_back(body);
            if (label == 0xFE) gif.comments.emplace_back(body.begin(), body.end());
        } else if (kind == 0x2C) {
            GifImage image{
                Word(b, at), Word(b, at + 2), Word(b, at + 4), Word(b, at + 6), b[at + 8], 0, 0,
                {}};
            at += 9;
            if (image.packed & 0x80) image.localTableBytes = 3u << ((image.packed & 7) + 1);
            at += image.localTableBytes;
            image.minimumCodeSize = b[at++];
            if (!subBlocks(&image.blockSizes, nullptr)) return gif;
            gif.images.push_back(image);
        } else {
            return gif;
        }
    }
    return gif;
}

std::string SaveGif(CRaster& image, const std::string& name, uint32_t coder = 0) {
    image.SetEncodeOption(coder, kFormatGIF);
    const std::string path = TempPath(name);
    EXPECT_TRUE(image.SaveFile(path, kFormatGIF)) << image.LastError();
    return path;
}

void ExpectDecodesExactly(const std::string& path, const CRaster& image,
                          const std::string& options = "") {
    Picture decoded;
    ASSERT_TRUE(DecodeWithConvert(path, decoded, options)) << path;
    EXPECT_EQ(MaxDifference(decoded, Expected(image)), 0) << path;
}

} // namespace

TEST(GifWriter, PaletteDepthsHaveTheirHeaderFields) {
    struct Case {
        Kind kind;
        uint8_t packed;
        size_t table;
        uint8_t codeSize;
    } cases[] = {
        {Kind::BlackWhite, 0x80, 6, 2}, {Kind::Color16, 0xE3, 48, 4},   {Kind::Gray16, 0xE3, 48, 4},
        {Kind::Color256, 0xE7, 768, 8}, {Kind::GrayRamp, 0xE7, 768, 8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.kind));
        CRaster image;
        MakeImage(image, c.kind, 300, 200, true);
        const std::string path = SaveGif(image, "g" + std::to_string(int(c.kind)) + ".gif");
        const std::vector<uint8_t> bytes = ReadFileBytes(path);
        const GifFile gif = ParseGif(bytes);
        ASSERT_TRUE(gif.ok);
        EXPECT_EQ(Word(bytes, 6), 300u);
        EXPECT_EQ(Word(bytes, 8), 200u);
        EXPECT_EQ(gif.screenPacked, c.packed);
        EXPECT_EQ(bytes[11], 0); // background index
        EXPECT_EQ(bytes[12], 0); // aspect ratio
        EXPECT_EQ(gif.globalTableBytes, c.table);
        ASSERT_EQ(gif.controls.size(), 1u);
        EXPECT_EQ(gif.controls[0], (std::vector<uint8_t>{0, 0, 0, 0xFF}));
        ASSERT_EQ(gif.images.size(), 1u);
        EXPECT_EQ(gif.images[0].packed, 0);
        EXPECT_EQ(gif.images[0].minimumCodeSize, c.codeSize);
        const auto& blocks = gif.images[0].blockSizes;
        ASSERT_FALSE(blocks.empty());
        for (size_t i = 0; i + 1 < blocks.size(); ++i) EXPECT_EQ(blocks[i], 254u);
        ExpectDecodesExactly(path, image);
    }
}

// Random pixels fill the code table many times over: each clear and restart
// at the initial width must keep a standard decoder in step.
TEST(GifWriter, EveryCoderDecodesExactly) {
    for (uint32_t coder : {0u, 1u, 2u}) {
        for (Kind kind : {Kind::BlackWhite, Kind::Color16, Kind::Color256}) {
            for (bool noise : {false, true}) {
                SCOPED_TRACE("coder " + std::to_string(coder) + " kind " +
                             std::to_string(int(kind)) + (noise ? " noise" : ""));
                CRaster image;
                MakeImage(image, kind, 257, 190, noise);
                ExpectDecodesExactly(SaveGif(image, "c.gif", coder), image);
            }
        }
    }
}

TEST(GifWriter, RunLengthCoderHandlesLongAndVaryingRuns) {
    // Runs of every length from 1 to a few thousand, in changing colours.
    CRaster image;
    image.Create(4001, 9, 8, 0);
    for (uint32_t i = 0; i < 256; ++i)
        image.SetPaletteColor(i, RasterColor::Rgb(i, 255 - i, i / 2));
    uint32_t color = 0, left = 1, length = 1;
    for (uint32_t y = 0; y < 9; ++y) {
        for (uint32_t x = 0; x < 4001; ++x) {
            image.SetIndexAt(x, y, uint8_t(color));
            if (--left == 0) {
                length = length * 3 / 2 + 1;
                if (length > 5000) length = 1;
                left = length;
                color = (color * 7 + 3) % 5; // colours come back: the table gets reused
            }
        }
    }
    ExpectDecodesExactly(SaveGif(image, "runs.gif", 2), image);
    ExpectDecodesExactly(SaveGif(image, "runs-lzw.gif", 0), image);
}

TEST(GifWriter, TransparentIndexAndComment) {
    CRasterGIF image;
    MakeImage(image, Kind::Color256, 20, 20);
    image.settings.backgroundIndex = 5;
    image.comment = "made by a test";
    MemoryStream out;
    out.OpenEmpty();
    ASSERT_TRUE(image.Encode(&out));
    const GifFile gif = ParseGif(std::vector<uint8_t>(out.buffer, out.buffer + out.size));
    ASSERT_TRUE(gif.ok);
    EXPECT_EQ(gif.controls[0], (std::vector<uint8_t>{0x01, 0, 0, 5}));
    ASSERT_EQ(gif.comments.size(), 1u);
    EXPECT_EQ(gif.comments[0], "made by a test");
}

TEST(GifWriter, TrueColourGoesOutAsTilesWithExactColours) {
    CRaster image;
    MakeImage(image, Kind::TrueColor, 40, 20, true);
    const std::string path = SaveGif(image, "tiles.gif");
    const GifFile gif = ParseGif(ReadFileBytes(path));
    ASSERT_TRUE(gif.ok);
    EXPECT_EQ(gif.screenPacked, 0x11);
    EXPECT_EQ(gif.globalTableBytes, 0u);
    const uint32_t expected[6][4] = {{0, 0, 17, 15}, {17, 0, 17, 15}, {34, 0, 6, 15},
                                     {0, 15, 17, 5}, {17, 15, 17, 5}, {34, 15, 6, 5}};
    ASSERT_EQ(gif.images.size(), 6u);
    EXPECT_EQ(gif.controls.size(), 6u);
    for (int i = 0; i < 6; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(gif.images[i].left, expected[i][0]);
        EXPECT_EQ(gif.images[i].top, expected[i][1]);
        EXPECT_EQ(gif.images[i].width, expected[i][2]);
        EXPECT_EQ(gif.images[i].height, expected[i][3]);
        EXPECT_EQ(gif.images[i].localTableBytes, 768u);
        EXPECT_EQ(gif.images[i].minimumCodeSize, 8);
    }
    ExpectDecodesExactly(path, image, "-flatten");
}

TEST(GifWriter, FailuresAndSizes) {
    CRaster empty;
    MemoryStream out;
    out.OpenEmpty();
    EXPECT_FALSE(empty.Encode(&out, kFormatGIF));
    EXPECT_STREQ(empty.LastError(), "null image!!!");

    for (uint32_t coder : {0u, 1u, 2u}) {
        for (size_t budget : {size_t(0), size_t(30), size_t(900), size_t(2000)}) {
            SCOPED_TRACE(std::to_string(coder) + " " + std::to_string(budget));
            CRaster image;
            MakeImage(image, Kind::Color256, 200, 100, true);
            image.SetEncodeOption(coder, kFormatGIF);
            FailingStream full(budget);
            EXPECT_FALSE(image.Encode(&full, kFormatGIF));
            EXPECT_STREQ(image.LastError(), "Write Error in GIF file");
        }
    }
    // Sizes are 16-bit fields: a wider image is refused, not wrapped.
    CRaster wide;
    MakeImage(wide, Kind::BlackWhite, 70000, 1);
    EXPECT_FALSE(wide.Encode(&out, kFormatGIF));
    EXPECT_STREQ(wide.LastError(), "Image too large for GIF");
    // ImageMagick's default policy reads at most 16000 pixels a side.
    for (auto [w, h] : {std::pair<uint32_t, uint32_t>{1, 1}, {16000, 2}, {1, 16000}}) {
        SCOPED_TRACE(w);
        CRaster image;
        MakeImage(image, Kind::Color16, w, h);
        ExpectDecodesExactly(SaveGif(image, "s.gif"), image);
    }
    CRaster widest;
    MakeImage(widest, Kind::BlackWhite, 65535, 1);
    const std::vector<uint8_t> bytes = ReadFileBytes(SaveGif(widest, "widest.gif"));
    EXPECT_TRUE(ParseGif(bytes).ok);
    EXPECT_EQ(Word(bytes, 6), 65535u);
}
