#include "RasterGIF.h"

#include "GifCoders.h"
#include "ImageStream.h"

namespace {

constexpr int kTileWidth = 17;
constexpr int kTileHeight = 15;

void PutWord(ImageStream* stream, uint32_t value) {
    stream->PutByte(uint8_t(value));
    stream->PutByte(uint8_t(value >> 8));
}

void PutTable(ImageStream* stream, const CRaster& image) {
    const uint32_t n = image.ColorCount();
    uint8_t table[3 * 256];
    for (uint32_t i = 0; i < n && i < 256; ++i) {
        const RasterColor c = image.PaletteColor(i);
        table[3 * i] = c.red;
        table[3 * i + 1] = c.green;
        table[3 * i + 2] = c.blue;
    }
    stream->Write(table, 1, size_t(3) * (n < 256 ? n : 256));
}

} // namespace

bool CRasterGIF::Encode(ImageStream* stream) {
    if (CheckEncodable(stream)) return false;
    // The screen and image sizes are 16-bit fields; a larger image would be
    // written with a wrapped size that no reader could make sense of.
    if (Width() > 65535 || Height() > 65535) {
        SetLastError("Image too large for GIF");
        return false;
    }
    if (BitsPerPixel() > 8) return EncodeTrueColor(stream);
    WriteScreen(stream, true);
    WriteControl(stream, *this);
    WriteComment(stream);
    const bool ok = WriteImage(stream, *this, false);
    stream->PutByte(0x3B);
    return ok;
}

void CRasterGIF::WriteScreen(ImageStream* stream, bool globalTable) {
    stream->Write("GIF89a", 1, 6);
    PutWord(stream, Width());
    PutWord(stream, Height());
    const uint32_t bpp = BitsPerPixel();
    const bool table = globalTable && ColorCount() > 0;
    stream->PutByte(table ? uint8_t(0x80 | (((bpp - 1) << 5) & 0xFF) | (bpp - 1)) : 0x11);
    stream->PutByte(0); // background colour index
    stream->PutByte(0); // pixel aspect ratio
    if (table) PutTable(stream, *this);
}

void CRasterGIF::WriteControl(ImageStream* stream, const CRaster& frame) {
    const int32_t transparent = frame.settings.backgroundIndex;
    stream->PutByte(0x21);
    stream->PutByte(0xF9);
    stream->PutByte(4);
    stream->PutByte(uint8_t((transparent != -1 ? 1 : 0) | ((frame.settings.disposal & 7) << 2)));
    PutWord(stream, frame.settings.frameDelay);
    stream->PutByte(uint8_t(transparent));
    stream->PutByte(0);
}

void CRasterGIF::WriteComment(ImageStream* stream) {
    if (comment.empty()) return;
    const size_t n = comment.size() < 255 ? comment.size() : 255;
    stream->PutByte(0x21);
    stream->PutByte(0xFE);
    stream->PutByte(uint8_t(n));
    stream->Write(comment.data(), 1, n);
    stream->PutByte(0);
}

bool CRasterGIF::WriteImage(ImageStream* stream, const CRaster& frame, bool localTable) {
    const uint32_t bpp = frame.BitsPerPixel();
    stream->PutByte(0x2C);
    PutWord(stream, uint32_t(frame.settings.offsetX));
    PutWord(stream, uint32_t(frame.settings.offsetY));
    PutWord(stream, frame.Width());
    PutWord(stream, frame.Height());
    if (localTable) {
        stream->PutByte(uint8_t(0x80 | (bpp - 1)));
        PutTable(stream, frame);
    } else {
        stream->PutByte(0);
    }
    const int minimumCodeSize = bpp == 1 ? 2 : int(bpp);
    stream->PutByte(uint8_t(minimumCodeSize));
    bool ok;
    switch (GetEncodeOption(kFormatGIF)) {
    case 1:
        ok = GifCompressLiteral(frame, stream, minimumCodeSize + 1);
        break;
    case 2:
        ok = GifCompressRunLength(frame, stream, minimumCodeSize + 1);
        break;
    default:
        ok = GifCompressLzw(frame, stream, minimumCodeSize + 1);
        break;
    }
    if (!ok) SetLastError("Write Error in GIF file");
    stream->PutByte(0);
    return ok;
}

bool CRasterGIF::EncodeTrueColor(ImageStream* stream) {
    WriteScreen(stream, false);
    WriteComment(stream);
    const uint32_t width = Width();
    const uint32_t height = Height();
    const bool transparent = settings.backgroundIndex != -1;
    const RasterColor transparentColor = TransparentColor();
    CRaster tile(kFormatGIF);
    bool ok = true;
    for (uint32_t y0 = 0; y0 < height; y0 += kTileHeight) {
        for (uint32_t x0 = 0; x0 < width; x0 += kTileWidth) {
            const uint32_t w = width - x0 < uint32_t(kTileWidth) ? width - x0 : kTileWidth;
            const uint32_t h = height - y0 < uint32_t(kTileHeight) ? height - y0 : kTileHeight;
            if (!tile.HasPixels() || tile.Width() != w || tile.Height() != h) {
                if (!tile.Create(w, h, 8, kFormatGIF)) {
                    SetLastError(tile.LastError());
                    return false;
                }
            }
            if (transparent) {
                tile.settings.backgroundIndex = 0;
                tile.SetPaletteColor(0, transparentColor);
            }
            for (uint32_t i = 0; i < h; ++i) {
                for (uint32_t j = 0; j < w; ++j) {
                    // Each pixel gets an entry of its own, so every colour is exact.
                    const uint8_t k = uint8_t(kTileWidth * i + 1 + j);
                    const RasterColor c = GetColorAt(x0 + j, int64_t(height) - y0 - h + i, true);
                    tile.SetPaletteColor(k, c);
                    tile.SetIndexAtUnchecked(j, i, tile.NearestIndex(c));
                }
            }
            tile.settings.offsetX = int32_t(x0);
            tile.settings.offsetY = int32_t(y0);
            WriteControl(stream, tile);
            if (!WriteImage(stream, tile, true)) ok = false;
        }
    }
    stream->PutByte(0x3B);
    return ok;
}
