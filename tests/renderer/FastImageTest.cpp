// The run painter for upright images must give exactly the pixels of the
// per-pixel painter, for every format, scale, offset, operation and clip.
#include "TestUtil.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <vector>

namespace tarvik {

class RasterDeviceTestAccess {
public:
    static void SetFastImages(RasterDevice& d, bool on) { d.m_fastImages = on; }
};

} // namespace tarvik

using namespace tarvik;

namespace {

struct Case {
    ImageInfo info;
    std::vector<uint8_t> data;
    Matrix place;
    Paint paint;
    RasterOp op;
    bool clip = false;
};

// Rows with long runs, as driver rasters have, plus scattered single pixels.
std::vector<uint8_t> RandomRows(std::mt19937& rng, const ImageInfo& info) {
    std::vector<uint8_t> d(info.Stride() * size_t(info.height));
    for (auto& b : d) {
        unsigned r = rng() % 8;
        b = r < 3 ? 0x00 : r < 6 ? 0xFF : uint8_t(rng());
    }
    return d;
}

void Draw(const Case& k, bool fast, PageRaster& out) {
    GlyphCache glyphs;
    RasterDevice dev(out, Matrix{}, out.Width(), out.Height(), &glyphs);
    RasterDeviceTestAccess::SetFastImages(dev, fast);
    // A busy page underneath, so operations that read D show it.
    for (int y = 0; y < out.Height(); ++y)
        for (int x = 0; x < out.Width(); ++x)
            if ((x * 7 + y * 3) % 5 < 2) out.Set(x, y, Color{uint8_t(x * 9), uint8_t(y * 5), 77});
    if (k.clip) {
        dev.ClipPath(test::Rect(5, 3, 40, 30), {}, FillRule::NonZero, ClipOp::Intersect,
                     ClipRegion::Interior);
        dev.ClipPath(test::Rect(12, 9, 20, 15), {}, FillRule::NonZero, ClipOp::Intersect,
                     ClipRegion::Exterior);
    }
    dev.BeginImage(k.info, k.place, k.paint, k.op);
    // Rows in uneven batches, as the interpreters deliver them.
    size_t stride = k.info.Stride();
    for (int v = 0; v < k.info.height;) {
        int n = std::min(k.info.height - v, 1 + v % 3);
        dev.ImageRows(k.data.data() + size_t(v) * stride, n);
        v += n;
    }
    dev.EndImage();
}

bool SamePixels(const Case& k, std::string& where, int w = 56, int h = 44) {
    PageRaster a(w, h), b(w, h);
    Draw(k, true, a);
    Draw(k, false, b);
    for (int y = 0; y < a.Height(); ++y)
        for (int x = 0; x < a.Width(); ++x)
            if (!(a.At(x, y) == b.At(x, y))) {
                where = "pixel " + std::to_string(x) + "," + std::to_string(y);
                return false;
            }
    return true;
}

TEST(FastImage, RunPainterMatchesPixelPainter) {
    std::mt19937 rng(1234);
    const uint8_t rops[] = {204, 252, 0, 255, 90, 102, 136, 184, 238, 240, 51, 226};
    const double scales[][2] = {{1, 1},  {2, 2},      {3, 1},      {1.5, 2.5},  {1.25, 1},
                                {-2, 1}, {1, -3},     {0.5, 0.5},  {0.5, 1},    {1, 0.5},
                                {-1, 1}, {0.3, 0.45}, {-0.5, 0.5}, {1.25, 0.5}, {2, 0.4}};
    const double offsets[][2] = {{0, 0}, {0.3, 0.7}, {2.5, 1.25}, {-4, -2}, {30, 20}};
    auto pattern = std::make_shared<Pattern>();
    pattern->width = 3;
    pattern->height = 2;
    pattern->pixels = {kBlack, kWhite, Color{200, 10, 30}, kWhite, kBlack, kWhite};
    const Paint paints[] = {Paint::SolidColor(kBlack), Paint::SolidColor(kWhite),
                            Paint::SolidColor(Color{30, 140, 220}), Paint::Tiled(pattern),
                            Paint::Null()};
    int cases = 0;
    for (int format = 0; format < 4; ++format) {
        Case k;
        k.info.width = 11 + format * 7;
        k.info.height = 9 + format;
        switch (format) {
        case 0: // driver rasters: 1-bit, white and black
            k.info.format = ImageInfo::Format::Indexed;
            k.info.bitsPerComponent = 1;
            k.info.palette = {kWhite, kBlack};
            break;
        case 1: // coloured 1-bit palette
            k.info.format = ImageInfo::Format::Indexed;
            k.info.bitsPerComponent = 1;
            k.info.palette = {Color{250, 240, 0}, Color{0, 0, 90}};
            break;
        case 2:
            k.info.format = ImageInfo::Format::Gray;
            k.info.bitsPerComponent = 8;
            break;
        default:
            k.info.format = ImageInfo::Format::Rgb;
            k.info.bitsPerComponent = 4;
            k.info.rowStride = k.info.PackedRowBytes() + 3;
            break;
        }
        k.data = RandomRows(rng, k.info);
        for (const auto& sc : scales)
            for (const auto& of : offsets)
                for (uint8_t rop : rops)
                    for (int t = 0; t < 4; ++t) {
                        k.place = Matrix::Scale(sc[0], sc[1]).Then(Matrix::Translate(of[0], of[1]));
                        if (sc[0] < 0) k.place = k.place.Then(Matrix::Translate(40, 0));
                        if (sc[1] < 0) k.place = k.place.Then(Matrix::Translate(0, 40));
                        k.paint = paints[(cases + t) % 5];
                        k.op = {rop, (t & 1) != 0, (t & 2) != 0};
                        k.clip = (cases % 3) == 0;
                        std::string where;
                        ASSERT_TRUE(SamePixels(k, where))
                            << where << " format " << format << " scale " << sc[0] << "x" << sc[1]
                            << " offset " << of[0] << "," << of[1] << " rop " << int(rop)
                            << " transparency " << t;
                        ++cases;
                    }
    }
    EXPECT_GT(cases, 1000);
}

// Runs of every length up to well past the painter's widest step, ending
// in each byte position, in 1-bit and in 8-bit gray rows.
TEST(FastImage, RunsEndExactlyWhereTheSourceChanges) {
    for (int bits : {1, 8}) {
        Case k;
        k.info.format = bits == 1 ? ImageInfo::Format::Indexed : ImageInfo::Format::Gray;
        k.info.bitsPerComponent = bits;
        k.info.palette = {kWhite, kBlack};
        k.info.width = 150;
        k.info.height = 80;
        k.data.assign(k.info.Stride() * size_t(k.info.height), 0);
        for (int v = 0; v < k.info.height; ++v) {
            // Row v: a run of v + 1 set pixels, one clear, then the rest set.
            uint8_t* row = k.data.data() + size_t(v) * k.info.Stride();
            for (int u = 0; u < k.info.width; ++u) {
                bool set = u != v + 1;
                if (bits == 1) {
                    if (set) row[u / 8] |= uint8_t(0x80 >> (u % 8));
                } else {
                    row[u] = set ? 0 : 255;
                }
            }
        }
        for (double sx : {1.0, 2.0, 0.5}) {
            k.place = Matrix::Scale(sx, 1).Then(Matrix::Translate(3, 2));
            for (bool transparent : {false, true}) {
                k.paint = Paint::SolidColor(kBlack);
                k.op = {204, transparent, false};
                std::string where;
                EXPECT_TRUE(SamePixels(k, where, 320, 90))
                    << where << " bits " << bits << " scale " << sx;
            }
        }
    }
}

// Masks (bitmap glyphs) through the run painter and the per-pixel painter.
TEST(FastMask, RunPainterMatchesPixelPainter) {
    std::mt19937 rng(99);
    const int w = 21, h = 13;
    const size_t stride = 4;
    std::vector<uint8_t> bits(stride * h);
    for (auto& b : bits) {
        unsigned r = rng() % 4;
        b = r == 0 ? 0x00 : r == 1 ? 0xFF : uint8_t(rng());
    }
    const double scales[][2] = {{1, 1}, {2, 3}, {1.3, 1}, {-1, 1}, {1, -2}, {0.5, 1}, {0.7, 0.6}};
    const double offsets[][2] = {{0, 0}, {0.4, 0.6}, {-5, -3}, {33, 25}};
    const Paint paints[] = {Paint::SolidColor(kBlack), Paint::SolidColor(Color{30, 140, 220}),
                            Paint::SolidColor(kWhite)};
    const uint8_t rops[] = {252, 204, 90, 136, 240};
    int cases = 0;
    for (const auto& sc : scales)
        for (const auto& of : offsets)
            for (uint8_t rop : rops)
                for (int t = 0; t < 4; ++t) {
                    Matrix place =
                        Matrix::Scale(sc[0], sc[1]).Then(Matrix::Translate(of[0], of[1]));
                    if (sc[0] < 0) place = place.Then(Matrix::Translate(40, 0));
                    if (sc[1] < 0) place = place.Then(Matrix::Translate(0, 40));
                    const Paint& paint = paints[size_t(cases % 3)];
                    RasterOp op{rop, (t & 1) != 0, (t & 2) != 0};
                    bool clip = cases % 2 == 0;
                    PageRaster out[2] = {PageRaster(56, 44), PageRaster(56, 44)};
                    for (int fast = 0; fast < 2; ++fast) {
                        GlyphCache glyphs;
                        RasterDevice dev(out[fast], Matrix{}, 56, 44, &glyphs);
                        RasterDeviceTestAccess::SetFastImages(dev, fast == 1);
                        for (int y = 0; y < 44; ++y)
                            for (int x = 0; x < 56; ++x)
                                if ((x + 2 * y) % 3 == 0) out[fast].Set(x, y, Color{200, 50, 9});
                        if (clip)
                            dev.ClipPath(test::Rect(4, 6, 30, 40), {}, FillRule::NonZero,
                                         ClipOp::Intersect, ClipRegion::Interior);
                        dev.FillMask(bits.data(), w, h, stride, place, paint, op);
                        // Again a whole number of pixels away: the cached
                        // coverage of the first draw serves.
                        dev.FillMask(bits.data(), w, h, stride, place.Then(Matrix::Translate(7, 3)),
                                     paint, op);
                    }
                    for (int y = 0; y < 44; ++y)
                        for (int x = 0; x < 56; ++x)
                            ASSERT_EQ(out[0].At(x, y), out[1].At(x, y))
                                << "pixel " << x << "," << y << " scale " << sc[0] << "x" << sc[1]
                                << " offset " << of[0] << "," << of[1] << " rop " << int(rop);
                    ++cases;
                }
    EXPECT_GT(cases, 500);
}

// Source transparency over a coloured page: white source pixels leave the
// page alone, black ones are painted, at a 2x up-scale.
TEST(FastImage, TransparentRasterKeepsThePageUnderWhite) {
    test::Canvas c(16, 4);
    c.device.FillPath(test::Rect(0, 0, 16, 4), {}, FillRule::NonZero,
                      Paint::SolidColor(Color{0, 200, 0}), {240});
    ImageInfo info;
    info.format = ImageInfo::Format::Indexed;
    info.bitsPerComponent = 1;
    info.width = 8;
    info.height = 2;
    info.palette = {kWhite, kBlack};
    const uint8_t rows[] = {0xF0, 0x0F};
    c.device.BeginImage(info, Matrix::Scale(2, 2), Paint::SolidColor(kBlack), {204, true, false});
    c.device.ImageRows(rows, 2);
    c.device.EndImage();
    EXPECT_EQ(c.raster.At(0, 0), kBlack);
    EXPECT_EQ(c.raster.At(7, 1), kBlack);
    EXPECT_EQ(c.raster.At(8, 0), (Color{0, 200, 0}));
    EXPECT_EQ(c.raster.At(0, 2), (Color{0, 200, 0}));
    EXPECT_EQ(c.raster.At(15, 3), kBlack);
}

} // namespace
