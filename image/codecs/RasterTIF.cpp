#include "RasterTIF.h"

#include "ImageStream.h"
#include "TiffGlue.h"
#include "TiffLzw.h"

#include <tiffio.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

constexpr tmsize_t kLzwStripBytes = 128 * 1024;

// Integer luminance of a palette entry, as the 1-bit photometric test uses it.
uint32_t Luminance(RasterColor c) {
    return (306u * c.red + 601u * c.green + 117u * c.blue) >> 10;
}

// A value code already offset and rounded up by half: truncated, kept to 0..255.
inline uint8_t UnitCode(float v) {
    if (v <= 0.0f) return 0;
    if (v >= 255.0f) return 255;
    return uint8_t(v);
}

uint8_t MostFrequentByte(const uint8_t* p, size_t n) {
    uint32_t counts[256] = {};
    for (size_t i = 0; i < n; ++i) ++counts[p[i]];
    uint8_t best = 0;
    for (int b = 1; b < 256; ++b)
        if (counts[b] > counts[best]) best = uint8_t(b);
    return best;
}

} // namespace

CRasterTIF::~CRasterTIF() {
    CloseHandle();
}

void CRasterTIF::CloseHandle() {
    if (openHandle) TIFFClose(openHandle);
    openHandle = nullptr;
    appending = false;
    pagesWritten = 0;
}

bool CRasterTIF::Fail(const char* text) {
    if (text && *text) SetLastError(text);
    CloseHandle();
    return false;
}

bool CRasterTIF::Encode(ImageStream* stream, bool append) {
    if (!stream) return Fail("null file handler");
    if (!HasPixels()) return Fail("null image!!!");
    if (!openHandle) {
        openHandle = OpenTiffOnStream(stream);
        if (!openHandle) return Fail("initialization fail");
    }
    if (append || pagesWritten != 0) appending = true;
    ++pagesWritten;
    if (!WritePage(openHandle, appending, pagesWritten, pagesWritten))
        return Fail("Error saving TIFF file");
    // Writing the directory here (rather than leaving it to TIFFClose, which
    // cannot report anything) lets a full disk fail the page in single mode too.
    if (!TIFFWriteDirectory(openHandle)) return Fail("Error saving TIFF directory");
    if (!append) CloseHandle();
    return true;
}

uint8_t CRasterTIF::ValueCode(float f, float black, float white, float range) const {
    float v = f * (white - black) / range + black + 0.5f;
    if (v <= 0.0f) return 0; // float rounding can dip a hair below zero
    if (v >= 256.0f) return 255;
    unsigned code = unsigned(v);
    return code > 255 ? 255 : uint8_t(code);
}

void CRasterTIF::SetupYCbCr() {
    horizontalSubsampling = 1;
    verticalSubsampling = 1;
    yCbCrCoefficients[0] = 0.299f;
    yCbCrCoefficients[1] = 0.587f;
    yCbCrCoefficients[2] = 0.114f;
    lumaRed = 0.299f;
    lumaGreen = 0.587f;
    lumaBlue = 0.114f;
    const float rbw[6] = {0, 255, 128, 255, 128, 255};
    std::memcpy(referenceBlackWhite, rbw, sizeof rbw);
    for (int i = 0; i < 256; ++i) {
        redTable[i] = float(i) * lumaRed;
        greenTable[i] = float(i) * lumaGreen;
        blueTable[i] = float(i) * lumaBlue;
    }
    blueChromaFactor = 1.0f / (2.0f - 2.0f * lumaBlue);
    redChromaFactor = 1.0f / (2.0f - 2.0f * lumaRed);
    blackCode = ValueCode(0.0f, 0, 255, 255);
}

bool CRasterTIF::WritePage(TIFF* tif, bool multiPage, int pageNumber, int pageTotal) {
    const uint32_t width = Width();
    const uint32_t height = Height();
    const uint32_t stride = RowStride();
    uint32_t bpp = BitsPerPixel();
    uint16_t samples = (bpp == 24 || bpp == 32) ? 3 : 1;
    if (bpp == 24 && alphaPlane) {
        bpp = 32;
        samples = 4;
    }
    const uint16_t bitsPerSample = uint16_t(bpp / samples);

    uint16_t photometric = 0;
    if (bpp == 1) {
        photometric = PHOTOMETRIC_MINISWHITE;
        RasterColor c0 = PaletteColor(0);
        RasterColor c1 = PaletteColor(1);
        if (Luminance(c0) < Luminance(c1)) {
            // Bit 0 must be the lighter colour; the picture stays as it was.
            SetPaletteColor(0, c1);
            SetPaletteColor(1, c0);
            uint8_t* p = settings.pixels;
            for (size_t i = 0, n = size_t(stride) * height; i < n; ++i) p[i] = uint8_t(~p[i]);
            // Through SaveFile this is the caller's palette: its colour cache is stale now.
            if (settings.viewOf) settings.viewOf->settings.lastValid = false;
        }
    } else if (bpp == 4 || bpp == 8) {
        // MinIsBlack scales the samples to the full range, so it only equals
        // "entry i is gray i" at 8 bits; a 4-bit 0..15 ramp stays a palette.
        photometric = (bpp == 8 && IsGray()) ? PHOTOMETRIC_MINISBLACK : PHOTOMETRIC_PALETTE;
    } else if (bpp == 24 || bpp == 32) {
        photometric = PHOTOMETRIC_RGB;
    }
    if (alphaPlane && bpp == 8) samples = 2;

    // A local copy of the palette; entries past the colour count stay 0.
    RasterColor table[256] = {};
    if (ColorCount() > 0 && Palette()) {
        const uint32_t n = ColorCount() < 256 ? ColorCount() : 256;
        std::memcpy(table, Palette(), n * sizeof(RasterColor));
    }

    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, samples);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, bitsPerSample);
    if (samples == 2 || samples == 4) {
        // Without it readers take the alpha for a colour channel.
        uint16_t extra = EXTRASAMPLE_UNASSALPHA;
        TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, &extra);
    }
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
    TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    TIFFSetField(tif, TIFFTAG_XRESOLUTION, double(DpiX()));
    TIFFSetField(tif, TIFFTAG_YRESOLUTION, double(DpiY()));

    if (multiPage) {
        char pageName[32];
        std::snprintf(pageName, sizeof pageName, "Page %d", pageNumber);
        TIFFSetField(tif, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
        TIFFSetField(tif, TIFFTAG_PAGENUMBER, uint16_t(pageNumber), uint16_t(pageTotal));
        TIFFSetField(tif, TIFFTAG_PAGENAME, pageName);
    } else {
        TIFFSetField(tif, TIFFTAG_SUBFILETYPE, 0);
    }

    if (photometric == PHOTOMETRIC_PALETTE) {
        std::vector<uint16_t> red(256), green(256), blue(256);
        for (int i = 0; i < 256; ++i) {
            red[i] = uint16_t(table[i].red * 257);
            green[i] = uint16_t(table[i].green * 257);
            blue[i] = uint16_t(table[i].blue * 257);
        }
        TIFFSetField(tif, TIFFTAG_COLORMAP, red.data(), green.data(), blue.data());
    }

    uint32_t choice = GetEncodeOption(kFormatTIF);
    if (choice == 0) {
        if (bpp == 1)
            choice = COMPRESSION_CCITTFAX4;
        else if (bpp == 4 || bpp == 8)
            choice = COMPRESSION_LZW;
        else if (bpp == 24 || bpp == 32)
            choice = TIFF_JPEG_AUTO;
        else
            choice = COMPRESSION_NONE;
    }
    // JPEG cannot carry the alpha channel; such pages keep it losslessly.
    if (choice == TIFF_JPEG_AUTO && bpp == 32) choice = COMPRESSION_LZW;
    TIFFSetField(tif, TIFFTAG_COMPRESSION, choice == TIFF_JPEG_AUTO ? COMPRESSION_JPEG : choice);

    const int quality = GetQuality();
    if (choice == COMPRESSION_LZW && bpp >= 8) {
        TIFFSetField(tif, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
    } else if (choice == COMPRESSION_JPEG) {
        TIFFSetField(tif, TIFFTAG_JPEGQUALITY, quality);
    } else if (choice == TIFF_JPEG_AUTO && photometric == PHOTOMETRIC_RGB) {
        SetupYCbCr();
        TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RAW);
        TIFFSetField(tif, TIFFTAG_REFERENCEBLACKWHITE, referenceBlackWhite);
        TIFFSetField(tif, TIFFTAG_YCBCRSUBSAMPLING, uint16_t(horizontalSubsampling),
                     uint16_t(verticalSubsampling));
        TIFFSetField(tif, TIFFTAG_YCBCRPOSITIONING, YCBCRPOSITION_CENTERED);
        TIFFSetField(tif, TIFFTAG_YCBCRCOEFFICIENTS, yCbCrCoefficients);
        TIFFSetField(tif, TIFFTAG_JPEGQUALITY, quality);
        photometric = PHOTOMETRIC_YCBCR;
    } else if (choice == TIFF_JPEG_AUTO) {
        TIFFSetField(tif, TIFFTAG_JPEGQUALITY, quality);
    }
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, photometric);
    // libtiff's default strip is 8 KB, a single row of a colour page: LZW then
    // starts its table afresh every row, which costs time and doubles the
    // file. Strips of about 128 KB keep random access and most of the gain.
    const tmsize_t rowBytes = TIFFScanlineSize(tif);
    const uint32_t rowsPerStrip = choice == COMPRESSION_LZW && rowBytes > 0
                                      ? std::max<uint32_t>(1, uint32_t(kLzwStripBytes / rowBytes))
                                      : TIFFDefaultStripSize(tif, uint32_t(-1));
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, rowsPerStrip);

    if (photometric == PHOTOMETRIC_YCBCR) return WriteYCbCrStrips(tif, width, height, rowsPerStrip);

    const bool difference = choice == COMPRESSION_LZW && bpp >= 8;
    if (choice == COMPRESSION_LZW && rowBytes > 0)
        return WriteLzwStrips(tif, size_t(rowBytes), rowsPerStrip, samples, difference);

    // Rows go top row first; the pixel block holds them bottom-up. libtiff may
    // change a scanline in place, so each row goes through a copy.
    std::vector<uint8_t> scratch;
    if (!MakeRowBuffer(scratch, samples)) return false;
    for (uint32_t r = 0; r < height; ++r) {
        PackRow(height - 1 - r, samples, scratch.data());
        if (TIFFWriteScanline(tif, scratch.data(), r, 0) == -1) return false;
    }
    return true;
}

bool CRasterTIF::MakeRowBuffer(std::vector<uint8_t>& buffer, uint16_t samples) const {
    try {
        if (samples == 1 || samples == 3)
            buffer.resize(RowStride());
        else if (samples == 2)
            buffer.resize(size_t(2) * Width());
        else if (samples == 4)
            buffer.resize(size_t(4) * Width() + 4);
        else
            return false;
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

void CRasterTIF::PackRow(uint32_t row, uint16_t samples, uint8_t* out) const {
    const uint32_t width = Width();
    const uint8_t* in = RowPointer(row);
    const uint8_t* alpha = alphaPlane ? alphaPlane + size_t(row) * width : nullptr;
    if (samples == 1) {
        std::memcpy(out, in, RowStride());
    } else if (samples == 3) {
        for (uint32_t x = 0; x < width; ++x) {
            out[3 * x] = in[3 * x + 2];
            out[3 * x + 1] = in[3 * x + 1];
            out[3 * x + 2] = in[3 * x];
        }
    } else if (samples == 2) {
        for (uint32_t x = 0; x < width; ++x) {
            out[2 * x] = in[x];
            out[2 * x + 1] = alpha[x];
        }
    } else {
        for (uint32_t x = 0; x < width; ++x) {
            out[4 * x] = in[3 * x + 2];
            out[4 * x + 1] = in[3 * x + 1];
            out[4 * x + 2] = in[3 * x];
            out[4 * x + 3] = alpha[x];
        }
    }
}

bool CRasterTIF::WriteLzwStrips(TIFF* tif, size_t rowBytes, uint32_t rowsPerStrip, uint16_t samples,
                                bool difference) {
    const uint32_t height = Height();
    TiffLzwEncoder coder;
    std::vector<uint8_t> scratch;
    // Packed rows without the predictor are coded straight from the pixel block.
    const bool direct = samples == 1 && !difference;
    if (!direct && !MakeRowBuffer(scratch, samples)) return false;
    tstrip_t strip = 0;
    for (uint32_t top = 0; top < height; top += rowsPerStrip, ++strip) {
        const uint32_t end = height - top < rowsPerStrip ? height : top + rowsPerStrip;
        // Differenced rows repeat 0; packed rows the background's byte,
        // which the strip's top row shows.
        uint8_t runByte = 0;
        if (direct) runByte = MostFrequentByte(RowPointer(height - 1 - top), rowBytes);
        if (!coder.Begin(runByte)) return false;
        for (uint32_t r = top; r < end; ++r) {
            const uint32_t row = height - 1 - r;
            const uint8_t* data = RowPointer(row);
            if (!direct) {
                uint8_t* out = scratch.data();
                PackRow(row, samples, out);
                // Horizontal predictor: each sample less the same sample of
                // the pixel before it; going right to left keeps the sources.
                if (difference)
                    for (size_t i = rowBytes; i-- > samples;) out[i] -= out[i - samples];
                data = out;
            }
            if (!coder.Add(data, rowBytes)) return false;
        }
        if (!coder.End()) return false;
        if (TIFFWriteRawStrip(tif, strip, const_cast<uint8_t*>(coder.Data()),
                              tmsize_t(coder.Size())) == -1)
            return false;
    }
    return true;
}

bool CRasterTIF::WriteYCbCrStrips(TIFF* tif, uint32_t width, uint32_t height,
                                  uint32_t rowsPerStrip) {
    const uint32_t stripRows = rowsPerStrip < height ? rowsPerStrip : height;
    std::vector<uint8_t> output;
    try {
        output.resize(size_t(3) * width * stripRows);
    } catch (const std::bad_alloc&) {
        return false;
    }
    const float blueFactor = blueChromaFactor;
    const float redFactor = redChromaFactor;
    uint32_t remaining = height;
    tstrip_t strip = 0;
    while (remaining > 0) {
        const uint32_t n = stripRows < remaining ? stripRows : remaining;
        uint8_t* o = output.data();
        // Buffer rows remaining-1 down to remaining-n are the next n rows from the top.
        // Pages repeat colours in long runs, so the last conversion is kept.
        uint32_t lastPixel = 0xFFFFFFFF;
        uint8_t last[3] = {};
        for (uint32_t k = 0; k < n; ++k) {
            const uint8_t* in = RowPointer(remaining - 1 - k);
            for (uint32_t x = 0; x < width; ++x, in += 3, o += 3) {
                const uint8_t b = in[0], g = in[1], r = in[2];
                const uint32_t pixel = uint32_t(b) | uint32_t(g) << 8 | uint32_t(r) << 16;
                if (pixel == lastPixel) {
                    o[0] = last[0];
                    o[1] = last[1];
                    o[2] = last[2];
                    continue;
                }
                lastPixel = pixel;
                const float y = redTable[r] + greenTable[g] + blueTable[b];
                // ValueCode with white - black == range, where the scale is 1.
                o[0] = UnitCode(y + 0.5f);
                o[1] = UnitCode((float(b) - y) * blueFactor + 128.5f);
                o[2] = UnitCode((float(r) - y) * redFactor + 128.5f);
                last[0] = o[0];
                last[1] = o[1];
                last[2] = o[2];
            }
        }
        const tmsize_t bytes = tmsize_t(3) * width * n;
        const tmsize_t written = TIFFWriteEncodedStrip(tif, strip, output.data(), bytes);
        if (written == 0 || written == -1) return false;
        remaining -= n;
        ++strip;
    }
    return true;
}
