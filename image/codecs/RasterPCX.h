// PCX writer: ZSoft PCX version 5, run-length encoded, 1, 4, 8 and 24 bits.
#pragma once

#include "Raster.h"

class ImageStream;

class CRasterPCX : public CRaster {
public:
    CRasterPCX() : CRaster(kFormatPCX) {}

    bool Encode(ImageStream* stream);
};
