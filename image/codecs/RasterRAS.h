// Sun raster files: standard type, 8-bit gray (with a gray colour map) or
// 24-bit blue-green-red, rows padded to 16 bits, big-endian header.
#pragma once

class CRaster;
class ImageStream;

// `gray`: write the 8-bit indices as gray levels. False when the stream
// refused bytes.
bool WriteSunRaster(const CRaster& image, ImageStream* stream, bool gray);
