#include "RasterJ2K.h"

#include "ImageStream.h"
#include "OpenJpegGlue.h"
#include "RasterRAS.h"

#include <charconv>
#include <cstring>

namespace {

struct RowFeed {
    const CRaster* image;
    bool gray;
};

// Picture row y counts from the top; the block holds rows bottom-up.
void FeedRow(void* context, uint32_t y, uint32_t x0, uint32_t count, uint8_t* const* rows) {
    const auto* feed = static_cast<const RowFeed*>(context);
    const CRaster& image = *feed->image;
    const uint32_t row = image.Height() - 1 - y;
    if (feed->gray) {
        uint8_t* g = rows[0];
        if (image.BitsPerPixel() == 8) {
            std::memcpy(g, image.RowPointer(row) + x0, count);
        } else {
            for (uint32_t x = 0; x < count; ++x) g[x] = image.GetIndexAtUnchecked(x0 + x, row);
        }
        return;
    }
    const uint8_t* in = image.RowPointer(row) + size_t(3) * x0;
    uint8_t* r = rows[0];
    uint8_t* g = rows[1];
    uint8_t* b = rows[2];
    for (uint32_t x = 0; x < count; ++x, in += 3) {
        r[x] = in[2];
        g[x] = in[1];
        b[x] = in[0];
    }
}

} // namespace

void CRasterJ2K::RateOption(float qualityLevel, char* text, size_t size) {
    // Formed without the C locale's help: a desktop locale with a decimal
    // comma must not change the text or its reading.
    const double rate = double(qualityLevel) * double(0.01f);
    char number[64];
    auto result = std::to_chars(number, number + sizeof number, rate, std::chars_format::fixed, 3);
    *result.ptr = '\0';
    std::snprintf(text, size, "rate=%s", number);
}

bool CRasterJ2K::Encode(ImageStream* stream, uint32_t code) {
    if (CheckEncodable(stream)) return false;
    const bool hasPalette = ColorCount() > 0;
    const bool gray = hasPalette && IsGray();
    if (hasPalette && !gray) {
        SetLastError("JasPer can save only RGB or GrayScale images");
        return false;
    }
    if (code == kFormatRAS) {
        if (!WriteSunRaster(*this, stream, gray)) {
            SetLastError("error: cannot encode image");
            return false;
        }
        return true;
    }
    if (code != kFormatJP2 && code != kFormatJPC) {
        SetLastError("Encode: Unknown format");
        return false;
    }
    char option[80];
    RateOption(settings.qualityLevel, option, sizeof option);
    double rate = 0.0;
    const char* value = option + std::strlen("rate=");
    std::from_chars(value, value + std::strlen(value), rate);

    J2kEncodeParams p;
    p.width = Width();
    p.height = Height();
    p.components = gray ? 1 : 3;
    p.codestream = code == kFormatJPC;
    p.rate = rate;
    RowFeed feed{this, gray};
    if (const char* failure = J2kEncode(stream, p, FeedRow, &feed)) {
        SetLastError(failure);
        return false;
    }
    return true;
}
