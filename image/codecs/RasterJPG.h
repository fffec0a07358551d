// JPEG writer: 24-bit and 8-bit gray images through libjpeg.
#pragma once

#include "Raster.h"

class ImageStream;

class CRasterJPG : public CRaster {
public:
    CRasterJPG() : CRaster(kFormatJPG) {}

    // One complete JPEG file at the stream's position, shaped by the option
    // word of code 3 (1 baseline, 8 optimised tables, 16 progressive, ...).
    bool Encode(ImageStream* stream);

    // Input smoothing used when option bit 64 is set (1..100).
    int smoothing = 10;
};
