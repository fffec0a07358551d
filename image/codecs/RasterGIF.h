// GIF writer: GIF89a with one image and our own LZW coder; 24-bit images are
// written as 17 x 15 tiles that each carry up to 255 exact colours.
#pragma once

#include "Raster.h"

#include <string>

class ImageStream;

class CRasterGIF : public CRaster {
public:
    CRasterGIF() : CRaster(kFormatGIF) {}

    // Option word of code 2: 1 literal codes, 2 run-length codes, else LZW.
    bool Encode(ImageStream* stream);

    // Written as a comment extension when not empty (at most 255 characters).
    std::string comment;

private:
    bool EncodeTrueColor(ImageStream* stream);
    void WriteScreen(ImageStream* stream, bool globalTable);
    static void WriteControl(ImageStream* stream, const CRaster& frame);
    void WriteComment(ImageStream* stream);
    // Descriptor, optional local table and coded data of `frame`; false when the
    // stream reported an error after the data.
    bool WriteImage(ImageStream* stream, const CRaster& frame, bool localTable);
};
