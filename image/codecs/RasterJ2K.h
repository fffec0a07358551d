// JPEG 2000 (JP2 file, JPC code stream) and Sun raster writer for 24-bit and
// 8-bit gray images.
#pragma once

#include "Raster.h"

class ImageStream;

class CRasterJ2K : public CRaster {
public:
    explicit CRasterJ2K(uint32_t code = kFormatJP2) : CRaster(code) {}

    // code 11 JP2, 12 JPC, 15 Sun raster. JPEG 2000 output is sized by the
    // quality: "rate=<quality / 100>" of the raw size, 100 and above lossless.
    bool Encode(ImageStream* stream, uint32_t code);

    // The options text formed from the quality, e.g. "rate=0.750".
    static void RateOption(float qualityLevel, char* text, size_t size);
};

// Codec table entry for one of the codes above.
template <uint32_t Code> bool EncodeJ2KAs(CRaster& self, ImageStream* stream) {
    CRasterJ2K codec(Code);
    codec.MakeView(self);
    const bool ok = codec.Encode(stream, Code);
    if (!ok) self.SetLastError(codec.LastError());
    return ok;
}
