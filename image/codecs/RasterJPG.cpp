#include "RasterJPG.h"

#include "ImageStream.h"
#include "JpegGlue.h"

#include <cstring>

namespace {

struct RowFeed {
    const CRaster* image;
    bool gray;
};

// libjpeg wants rows top first in red, green, blue; the block holds them
// bottom-up in blue, green, red.
void FeedRow(void* context, uint32_t y, uint8_t* row) {
    const auto* feed = static_cast<const RowFeed*>(context);
    const CRaster& image = *feed->image;
    const uint8_t* in = image.RowPointer(image.Height() - 1 - y);
    if (feed->gray) {
        std::memcpy(row, in, image.RowStride());
        return;
    }
    const uint32_t width = image.Width();
    for (uint32_t x = 0; x < width; ++x, in += 3, row += 3) {
        row[0] = in[2];
        row[1] = in[1];
        row[2] = in[0];
    }
}

} // namespace

bool CRasterJPG::Encode(ImageStream* stream) {
    if (CheckEncodable(stream)) return false;
    const bool hasPalette = ColorCount() > 0;
    // Only 8-bit indices can be handed over as gray samples; a packed 1- or
    // 4-bit row would be read past its end.
    const bool gray = hasPalette && BitsPerPixel() == 8 && IsGray();
    if (hasPalette && !gray) {
        SetLastError("JPEG can save only RGB or GreyScale images");
        return false;
    }
    JpegEncodeParams params;
    params.width = Width();
    params.height = Height();
    params.grayInput = gray;
    params.quality = GetQuality();
    params.options = GetEncodeOption(kFormatJPG);
    params.smoothing = smoothing;
    params.densityX = uint16_t(DpiX());
    params.densityY = uint16_t(DpiY());
    params.rowBytes = RowStride();
    RowFeed feed{this, gray};
    char error[256] = {};
    if (!JpegCompress(stream, params, FeedRow, &feed, error, sizeof error)) {
        SetLastError(error);
        return false;
    }
    return true;
}
