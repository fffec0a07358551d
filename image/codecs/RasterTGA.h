// TGA writer: uncompressed Truevision TGA, 8-bit colour-mapped or 24-bit.
#pragma once

#include "Raster.h"

class ImageStream;

class CRasterTGA : public CRaster {
public:
    CRasterTGA() : CRaster(kFormatTGA) {}

    bool Encode(ImageStream* stream);
};
