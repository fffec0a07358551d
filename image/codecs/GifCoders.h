// The three GIF image-data coders. Each reads the pixel indices of a palette
// image top row first and writes data sub-blocks (without the terminator).
#pragma once

#include <cstdint>

class CRaster;
class ImageStream;

// Table-driven LZW (hash table of 5003 entries, clear when code 4095 is used).
// Returns false when the stream reports an error after the data.
bool GifCompressLzw(const CRaster& image, ImageStream* stream, int initialBits);
// Every pixel as its own code, with the table bookkeeping a decoder expects.
bool GifCompressLiteral(const CRaster& image, ImageStream* stream, int initialBits);
// Codes a standard decoder expands into runs of one colour; no table built.
bool GifCompressRunLength(const CRaster& image, ImageStream* stream, int initialBits);
