// EMF and WMF output: a white rectangle covering the box and the page bitmap
// stretched into it, as records of the published metafile formats.
#pragma once

#include <cstdint>

// The virtual reference screen the EMF frame is measured against: a 96-dpi
// display of 1920 x 1080 pixels, 508 x 286 mm.
struct ReferenceScreen {
    int32_t widthMm = 508;
    int32_t heightMm = 286;
    int32_t widthPx = 1920;
    int32_t heightPx = 1080;
};

// One side of the EMF frame in 0.01 mm: the box's size at the screen's pixel
// pitch, (mm x box) x 100 / pixels, truncated toward zero.
int32_t EmfFrameExtent(int32_t screenMm, int32_t box, int32_t screenPx);
