// Windows bitmap codec: reads the common BMP variants, writes the pixel block.
#pragma once

#include "Raster.h"

#include <string>

class ImageStream;

class CRasterBMP : public CRaster {
public:
    CRasterBMP() : CRaster(kFormatBMP) {}

    bool Decode(ImageStream* stream);
    bool Encode(ImageStream* stream);
    // Takes a renderer's page file (24-bit, bottom-up, rows right after the
    // 40-byte info header) as a private mapping instead of reading it; false,
    // with nothing changed, for any other file. The file must not be cut short
    // while the image lives.
    bool MapPageFile(const std::string& path);
    // Reads and normalises the info header into info.
    bool ReadInfoHeader(ImageStream* stream, BitmapInfoHeader& info);
    // Turns 16- or 32-bit pixels in source into this image's 24-bit rows;
    // source may be the image's own pixel rows.
    void ExpandBitfields(const uint8_t* source, uint32_t redMask, uint32_t greenMask,
                         uint32_t blueMask, uint32_t bits);

private:
    bool Decode32(ImageStream* stream, bool withMasks, uint32_t dataOffset, int64_t start);
    bool DecodeRle8(ImageStream* stream);
    bool DecodeRle4(ImageStream* stream);
};
