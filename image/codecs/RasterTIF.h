// TIFF writer: one image as one TIFF page through libtiff, onto a toolkit stream.
//
// Single file: SaveFile(path, 6) runs Encode(stream, false) on a view of the
// image; the page is written and the TIFF closed within the call.
//
// Multi-page series (the engine's merged output):
//   FileStream file(fopen(path, "w+b"));   // "w+b": libtiff reads back what it wrote
//   CRasterTIF page;                       // one object for the whole file
//   for each input:
//       page.LoadFile(input, 1); ...colour, resolution, geometry...
//       page.SetEncodeOption(code, 6);
//       page.Encode(&file, true);          // one more directory, written completely
//   destroy `page` (its destructor closes the TIFF), THEN close the file.
// Every call of a series must pass the same stream object, and that stream must
// outlive the CRasterTIF. After each successful call the file is a complete,
// valid multi-page TIFF. A failed call closes the series (the pages already
// written stay, and libtiff may leave the failed page's directory behind);
// the next Encode(stream, true) appends to the same file again, numbering
// from 1. Pages carry SubfileType 2, PageNumber (n, n) and PageName "Page n"
// with the 1-based running index n. Encode(stream, false) in the middle of a
// series writes one more page of it and closes the TIFF.
#pragma once

#include "Raster.h"

#include <vector>

typedef struct tiff TIFF;
class ImageStream;

// Compression word meaning "JPEG, with our own YCbCr conversion for RGB pages".
// It is no TIFF Compression code; Compression 7 is what reaches the file.
constexpr uint32_t TIFF_JPEG_AUTO = 19999;

class CRasterTIF : public CRaster {
public:
    CRasterTIF() : CRaster(kFormatTIF) {}
    ~CRasterTIF() override;

    // append false: write the page and close the TIFF. append true: write the
    // page with its directory and keep the TIFF open for further pages.
    bool Encode(ImageStream* stream, bool append = false);

    // Tags and pixel data of one directory onto `handle`.
    bool WritePage(TIFF* handle, bool multiPage, int pageNumber, int pageTotal);
    // The JPEG path of RGB pages: our own YCbCr bytes, handed over as raw strips.
    bool WriteYCbCrStrips(TIFF* handle, uint32_t width, uint32_t height, uint32_t rowsPerStrip);
    // LZW pages: our own coder, strips handed over raw. `difference` applies
    // the horizontal predictor to the 8-bit samples.
    bool WriteLzwStrips(TIFF* handle, size_t rowBytes, uint32_t rowsPerStrip, uint16_t samples,
                        bool difference);

    bool SeriesOpen() const { return openHandle != nullptr; }
    int PagesWritten() const { return pagesWritten; }

private:
    bool Fail(const char* text);
    void CloseHandle();
    void SetupYCbCr();
    // A row buffer for `samples` samples a pixel (1: the packed row); false
    // for other counts or without memory.
    bool MakeRowBuffer(std::vector<uint8_t>& buffer, uint16_t samples) const;
    // Pixel-block row `row` as the file holds it: RGB order, alpha last.
    void PackRow(uint32_t row, uint16_t samples, uint8_t* out) const;
    uint8_t ValueCode(float f, float black, float white, float range) const;

    TIFF* openHandle = nullptr;
    bool appending = false;
    int pagesWritten = 0;

    // YCbCr state, filled before every JPEG page of an RGB image.
    float referenceBlackWhite[6] = {};
    float yCbCrCoefficients[3] = {};
    float lumaRed = 0, lumaGreen = 0, lumaBlue = 0;
    float redTable[256] = {};
    float greenTable[256] = {};
    float blueTable[256] = {};
    float blueChromaFactor = 0;
    float redChromaFactor = 0;
    uint8_t blackCode = 0;
    uint32_t horizontalSubsampling = 1;
    uint32_t verticalSubsampling = 1;
};
