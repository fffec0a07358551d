// PNG writer: palette, gray and RGB images through libpng.
#pragma once

#include "Raster.h"

class ImageStream;

class CRasterPNG : public CRaster {
public:
    CRasterPNG() : CRaster(kFormatPNG) {}

    // One complete PNG file; option word 1 of code 4 makes it Adam7-interlaced.
    bool Encode(ImageStream* stream);
};
