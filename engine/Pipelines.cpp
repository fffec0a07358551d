// What a run does with a page: the bit depth to produce, then the order of
// colour, resolution and geometry steps per output format, then the writer.
#include "ImageConverter.h"
#include "OutputFile.h"

#include "ImageStream.h"
#include "ImgConv.h"
#include "OctreeQuantizer.h"
#include "Raster.h"

#include "RasterTIF.h"

#include <algorithm>
#include <array>

namespace {

// The TIFF writer's code for JPEG with its own YCbCr conversion.
constexpr uint32_t kTiffJpegAuto = 19999;

bool IsPaletteDepth(int32_t bits) {
    return bits == 1 || bits == 4 || bits == 8;
}

uint32_t JpegEncodeOption(int32_t jpegMode) {
    switch (jpegMode) {
    case 2:
        return 1; // baseline
    case 3:
        return 9; // baseline, optimised Huffman tables
    default:
        return 16; // progressive
    }
}

uint32_t TiffCompressionCode(int32_t tiffCompression, int32_t depth, bool gray) {
    int column = depth == 1 ? 0 : depth == 4 ? 1 : depth == 8 ? 2 : 3;
    switch (tiffCompression) {
    case 0:
        return 1;
    case 1:
        return 5;
    case 2: {
        const uint32_t codes[4] = {4, 5, gray ? kTiffJpegAuto : 5, kTiffJpegAuto};
        return codes[column];
    }
    case 3:
        return column == 0 ? 4 : 32773;
    case 5:
        return column == 0 ? 3 : column == 3 ? kTiffJpegAuto : 5;
    case 6:
        return column == 0 ? 2 : column == 3 ? kTiffJpegAuto : 5;
    default:
        return column == 0 ? 4 : column == 3 ? kTiffJpegAuto : 5;
    }
}

bool ReducePalette(CRaster& image, int32_t paletteBpp) {
    uint32_t bits = uint32_t(paletteBpp);
    bool ok;
    if (bits == 1) {
        ok = image.DecreaseBpp(1, false, nullptr, 2);
    } else if (bits == 4 || bits == 8) {
        uint32_t colours = bits == 4 ? 16 : 256;
        OctreeQuantizer quantizer(colours, bits == 4 ? 8 : 7);
        quantizer.FeedImage(image.pixelBlock);
        std::array<RasterColor, 256> table{};
        uint32_t leaves = std::min(quantizer.LeafCount(), colours);
        if (leaves == 0) return false;
        quantizer.ReadPalette(table.data());
        // Unfilled entries repeat the first colour: a duplicate never wins the
        // nearest-colour search, whereas a stray black entry would.
        for (uint32_t i = leaves; i < colours; ++i) table[i] = table[0];
        ok = image.DecreaseBpp(bits, false, table.data(), colours);
    } else {
        return true;
    }
    // A page already at or below the depth stays as it is.
    return ok || image.BitsPerPixel() < bits;
}

bool RotatePage(CRaster& image, int32_t angle) {
    switch (angle) {
    case 0:
        return true;
    case 90:
        return image.Turn90Right();
    case 180:
        return image.Turn90Right() && image.Turn90Right();
    case 270:
        return image.Turn90Left();
    default:
        return image.RotateBy(float(angle));
    }
}

bool PaletteStep(CImageConverter& c, CRaster& image) {
    if (!IsPaletteDepth(c.paletteBpp)) return true;
    if (c.gray && c.paletteBpp != 1 && !image.MakeGray()) return false;
    return ReducePalette(image, c.paletteBpp);
}

bool TgaStep(CImageConverter& c, CRaster& image) {
    if (c.paletteBpp != 8) return true;
    return c.gray ? image.MakeGray() : ReducePalette(image, 8);
}

bool GrayStep(CImageConverter& c, CRaster& image) {
    return !c.gray || image.MakeGray();
}

void Resolution(CImageConverter& c, CRaster& image) {
    image.SetDpiX(c.xdpi);
    image.SetDpiY(c.ydpi);
}

void Quality(CImageConverter& c, CRaster& image) {
    image.SetQuality(uint8_t(c.quality & 0xFF));
}

bool Resize(CImageConverter& c, CRaster& image) {
    if (c.width <= 0 || c.height <= 0) return true;
    return image.Rescale(uint32_t(c.width), uint32_t(c.height), 1);
}

// A turn or a resize rebuilds the image; the header's pixels per metre must
// still say what dpiX and dpiY say, or BMP and PNG files lose the resolution.
void KeepResolution(CRaster& image) {
    image.SetDpiX(image.DpiX());
    image.SetDpiY(image.DpiY());
}

bool Save(CImageConverter& c, CRaster& image, uint32_t code) {
    OutputFile out;
    if (!out.Open(c.outputPath)) return false;
    bool ok;
    {
        FileStream stream(out.File());
        ok = image.Encode(&stream, code);
    }
    return ok && out.Commit();
}

} // namespace

void ResolveDepth(CImageConverter& c) {
    int32_t r = IsPaletteDepth(c.bpp) ? c.bpp : (c.format == FMT_GIF ? 8 : 24);
    switch (c.format) {
    case FMT_JPEG:
        if (r == 8) c.gray = true;
        r = c.gray ? 8 : 24;
        break;
    case FMT_TGA:
        r = r == 8 ? 8 : 24;
        break;
    case FMT_JP2:
    case FMT_RAS:
    case FMT_JPC:
        r = c.gray ? 8 : 24;
        break;
    default:
        break;
    }
    c.paletteBpp = IsPaletteDepth(r) ? r : 0;
}

bool RunRasterPipeline(CImageConverter& c) {
    CRaster image(kFormatNone);
    // A page that cannot be read gives no output: writing an empty or black
    // page in its place would pass a failure off as a result.
    if (!image.LoadPageFile(c.inputs.front(), uint32_t(c.inputFormat))) return false;

    bool ok = true;
    uint32_t code = 0;
    switch (c.format) {
    case FMT_BMP:
        // BMP output is never rotated.
        ok = PaletteStep(c, image);
        Resolution(c, image);
        ok = ok && Resize(c, image);
        code = kFormatBMP;
        break;
    case FMT_JPEG:
        image.SetEncodeOption(JpegEncodeOption(c.jpegMode), kFormatJPG);
        ok = GrayStep(c, image);
        Resolution(c, image);
        ok = ok && RotatePage(image, c.angle);
        Quality(c, image);
        ok = ok && Resize(c, image);
        code = kFormatJPG;
        break;
    case FMT_PNG:
    case FMT_GIF:
    case FMT_PCX:
        ok = PaletteStep(c, image);
        Resolution(c, image);
        ok = ok && RotatePage(image, c.angle) && Resize(c, image);
        code = c.format == FMT_PNG ? kFormatPNG : c.format == FMT_GIF ? kFormatGIF : kFormatPCX;
        break;
    case FMT_TGA:
        ok = TgaStep(c, image);
        Resolution(c, image);
        ok = ok && RotatePage(image, c.angle) && Resize(c, image);
        code = kFormatTGA;
        break;
    case FMT_JP2:
    case FMT_JPC:
        ok = GrayStep(c, image);
        Resolution(c, image);
        ok = ok && RotatePage(image, c.angle);
        Quality(c, image);
        ok = ok && Resize(c, image);
        code = c.format == FMT_JP2 ? kFormatJP2 : kFormatJPC;
        break;
    case FMT_RAS:
        ok = GrayStep(c, image);
        Resolution(c, image);
        ok = ok && RotatePage(image, c.angle) && Resize(c, image);
        code = kFormatRAS;
        break;
    default:
        return false;
    }
    // A step that failed (out of memory) would leave the page unconverted;
    // that is no result to write under the user's settings.
    if (!ok) return false;
    KeepResolution(image);
    return Save(c, image, code);
}

namespace {

bool OpenMergedFile(CImageConverter& c) {
    if (c.pageFile) return true;
    if (c.multiPagePath.empty()) return false;
    // The merged file grows page by page under a temporary name and is moved
    // into place when the handle is destroyed.
    OutputFile out;
    if (!out.Open(c.multiPagePath)) return false;
    c.pageFile = out.File();
    c.pageTempPath = out.TakeTemporary();
    c.pageTargetPath = c.multiPagePath;
    c.pageStream = std::make_unique<FileStream>(c.pageFile);
    return true;
}

// One page of a TIFF run; false when the page could not be written.
bool TiffPage(CImageConverter& c, const std::string& path) {
    if (c.multiPage && !OpenMergedFile(c)) return false;
    CRaster& page = *c.pageImage;
    // A failed load would leave the previous page in the object; it must not
    // be written a second time in place of this one.
    if (!page.LoadPageFile(path, uint32_t(c.inputFormat))) return false;
    int32_t depth = IsPaletteDepth(c.paletteBpp) ? c.paletteBpp : 24;
    uint32_t compression = TiffCompressionCode(c.tiffCompression, depth, c.gray);
    // A gray page bound for JPEG stays on its 256-gray ramp: the octree
    // palette of a gray page is no ramp, and JPEG refuses palette images.
    bool grayJpeg = depth == 8 && c.gray && compression == kTiffJpegAuto;
    bool ok = grayJpeg ? page.MakeGray() : PaletteStep(c, page);
    Resolution(c, page);
    page.SetEncodeOption(compression, kFormatTIF);
    Quality(c, page);
    ok = ok && RotatePage(page, c.angle) && Resize(c, page);
    if (!ok) return false;
    KeepResolution(page);
    if (c.multiPage) {
        if (!static_cast<CRasterTIF&>(page).Encode(c.pageStream.get(), true)) return false;
        ++c.pagesMerged;
        return true;
    }
    // Through the dispatch by format code, not the object's own append series.
    return Save(c, page, kFormatTIF);
}

} // namespace

bool RunTiffPipeline(CImageConverter& c) {
    if (!c.multiPage) return TiffPage(c, c.inputs.front());
    for (const std::string& path : c.inputs) {
        // One lost page spoils the merged file; the rest would only be dropped.
        if (c.mergeFailed) break;
        if (!TiffPage(c, path)) c.mergeFailed = true;
    }
    return !c.mergeFailed;
}
