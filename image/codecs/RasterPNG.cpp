#include "RasterPNG.h"

#include "ImageStream.h"
#include "PngGlue.h"

#include <cstring>

namespace {

constexpr int kGray = 0, kRgb = 2, kPalette = 3, kAlphaBit = 4;

struct RowFeed {
    CRaster* image;
    int colorType;
    bool alpha;
    bool grayAlpha;
};

void FeedRow(void* context, uint32_t y, uint8_t* row) {
    const auto* feed = static_cast<const RowFeed*>(context);
    CRaster& image = *feed->image;
    const uint32_t width = image.Width();
    const uint32_t bufferRow = image.Height() - 1 - y;
    if (!feed->alpha) {
        const uint8_t* in = image.RowPointer(bufferRow);
        if (feed->colorType == kRgb) {
            for (uint32_t x = 0; x < width; ++x, in += 3, row += 3) {
                row[0] = in[2];
                row[1] = in[1];
                row[2] = in[0];
            }
        } else {
            std::memcpy(row, in, image.RowStride());
        }
        return;
    }
    const uint8_t* alpha = image.alphaPlane + size_t(bufferRow) * width;
    for (uint32_t x = width; x-- > 0;) {
        const RasterColor c = image.GetColorAtUnchecked(x, bufferRow, true);
        if (feed->grayAlpha) {
            row[2 * x] = c.blue;
            row[2 * x + 1] = alpha[x];
        } else {
            row[4 * x] = c.red;
            row[4 * x + 1] = c.green;
            row[4 * x + 2] = c.blue;
            row[4 * x + 3] = alpha[x];
        }
    }
}

} // namespace

bool CRasterPNG::Encode(ImageStream* stream) {
    if (CheckEncodable(stream)) return false;
    const uint32_t bpp = BitsPerPixel();
    const bool hasPalette = ColorCount() > 0 && Palette();
    // PNG gray samples below 8 bits are scaled to the full range, which only
    // matches "entry i is gray i" at 8 bits; smaller gray ramps stay palettes.
    const bool gray = hasPalette && bpp == 8 && IsGray();
    const bool alpha = alphaPlane != nullptr;

    PngEncodeParams p;
    p.width = Width();
    p.height = Height();
    int channels = bpp <= 8 ? 1 : 3;
    p.bitDepth = int(bpp) / channels;
    p.colorType = !hasPalette ? kRgb : (gray ? kGray : kPalette);
    if (alpha) {
        // A colour palette has no alpha form: such pixels go out as RGBA.
        if (p.colorType == kPalette) p.colorType = kRgb;
        p.colorType |= kAlphaBit;
        channels += 1;
        if (p.colorType == (kRgb | kAlphaBit)) channels = 4;
        p.bitDepth = 8;
    }
    p.interlace = GetEncodeOption(kFormatPNG) == 1;

    const int32_t t = settings.backgroundIndex;
    const RasterColor transparent = TransparentColor();
    p.background.index = 0;
    p.background.red = p.background.green = p.background.blue = 255;
    p.background.gray = 0;
    if (t >= 0) {
        p.background.red = transparent.red;
        p.background.green = transparent.green;
        p.background.blue = transparent.blue;
    }
    p.pixelsPerMeterX = uint32_t(header.xPelsPerMeter);
    p.pixelsPerMeterY = uint32_t(header.yPelsPerMeter);

    bool swapped = false;
    if (t >= 0) {
        p.hasTransparency = true;
        p.transparentCount = 1;
        p.transparentAlpha[0] = 0;
        p.transparentColor.index = uint8_t(t);
        p.transparentColor.red = transparent.red;
        p.transparentColor.green = transparent.green;
        p.transparentColor.blue = transparent.blue;
        p.transparentColor.gray = uint16_t(t);
        if (!gray && hasPalette && t != 0 && uint32_t(t) < ColorCount()) {
            // PNG marks transparency per entry from index 0 up; moving the
            // transparent colour to 0 keeps the tRNS chunk one entry long.
            SwapPaletteEntries(0, uint8_t(t));
            swapped = true;
        }
    }
    if (hasPalette && p.colorType == kPalette) {
        uint32_t n = ImportantColors() ? ImportantColors() : ColorCount();
        if (n > ColorCount()) n = ColorCount();
        if (n > 256) n = 256;
        if (settings.alphaPaletteEnabled) {
            p.hasTransparency = true;
            p.transparentCount = int(n);
            for (uint32_t i = 0; i < n; ++i) p.transparentAlpha[i] = PaletteColor(i).reserved;
        }
        p.paletteCount = int(n);
        for (uint32_t i = 0; i < n; ++i) {
            const RasterColor c = PaletteColor(i);
            p.palette[i][0] = c.red;
            p.palette[i][1] = c.green;
            p.palette[i][2] = c.blue;
        }
    }
    if (alpha && bpp == 24 && t >= 0) {
        const uint32_t w = Width(), h = Height();
        for (uint32_t y = 0; y < h; ++y)
            for (uint32_t x = 0; x < w; ++x)
                if (GetColorAtUnchecked(x, y, false).ToU32() << 8 == transparent.ToU32() << 8)
                    alphaPlane[size_t(y) * w + x] = 0;
    }
    if (p.hasTransparency && p.colorType != kPalette && p.colorType != kGray && p.colorType != kRgb)
        p.hasTransparency = false; // libpng refuses tRNS beside a full alpha channel

    const size_t packed = size_t(p.bitDepth / 8) * size_t(channels) * Width();
    p.rowBytes = packed > RowStride() ? packed : RowStride();
    RowFeed feed{this, p.colorType, alpha, p.colorType == (kGray | kAlphaBit)};
    const char* failure = PngWrite(stream, p, FeedRow, &feed);
    // Put the palette back whether or not the write succeeded: the caller's
    // image must look as it did before.
    if (swapped) SwapPaletteEntries(0, uint8_t(t));
    if (failure) {
        SetLastError(failure);
        return false;
    }
    return true;
}
