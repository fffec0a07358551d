#include "OutputReaders.h"

#include "EngineTestSupport.h"

#include <png.h>
#include <tiffio.h>

#include <cstring>
#include <memory>

namespace enginetest {

namespace {

uint16_t Le16(const std::vector<uint8_t>& b, size_t at) {
    return uint16_t(b[at] | b[at + 1] << 8);
}
uint32_t Be32(const std::vector<uint8_t>& b, size_t at) {
    return uint32_t(b[at]) << 24 | b[at + 1] << 16 | b[at + 2] << 8 | b[at + 3];
}
uint16_t Be16(const std::vector<uint8_t>& b, size_t at) {
    return uint16_t(b[at] << 8 | b[at + 1]);
}

int BitsForColours(uint32_t n) {
    return n <= 2 ? 1 : n <= 16 ? 4 : 8;
}

// Every entry of an RGB triple table is a gray.
bool GrayTriples(const std::vector<uint8_t>& b, size_t at, uint32_t count) {
    if (at + 3 * size_t(count) > b.size()) return false;
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t* e = &b[at + 3 * i];
        if (e[0] != e[1] || e[1] != e[2]) return false;
    }
    return true;
}

ImageKind ReadBmpKind(const std::filesystem::path& path) {
    ImageKind kind;
    BmpInfo bmp = ReadBmp(path);
    if (!bmp.ok) return kind;
    kind.ok = true;
    kind.bits = bmp.bits;
    kind.width = bmp.width;
    kind.height = bmp.height;
    uint32_t entries = bmp.bits <= 8 ? (bmp.colours ? bmp.colours : 1u << bmp.bits) : 0;
    kind.gray = bmp.bits <= 8;
    for (uint32_t i = 0; i < entries; ++i) {
        const uint8_t* e = bmp.bytes.data() + 54 + 4 * i;
        if (e[0] != e[1] || e[1] != e[2]) kind.gray = false;
    }
    return kind;
}

// Reads the header of an open PNG; libpng's error jumps end here.
ImageKind ReadPngHeader(FILE* file) {
    ImageKind kind;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        return ImageKind{};
    }
    png_init_io(png, file);
    png_read_info(png, info);
    png_uint_32 w, h;
    int depth, type, interlace, compression, filter;
    png_get_IHDR(png, info, &w, &h, &depth, &type, &interlace, &compression, &filter);
    kind.ok = true;
    kind.width = int(w);
    kind.height = int(h);
    kind.detail = "colour type " + std::to_string(type);
    if (type == PNG_COLOR_TYPE_RGB) {
        kind.bits = 3 * depth;
    } else if (type == PNG_COLOR_TYPE_GRAY) {
        kind.bits = depth;
        kind.gray = true;
    } else if (type == PNG_COLOR_TYPE_PALETTE) {
        kind.bits = depth;
        png_colorp palette = nullptr;
        int count = 0;
        png_get_PLTE(png, info, &palette, &count);
        kind.gray = count > 0;
        for (int i = 0; i < count; ++i)
            if (palette[i].red != palette[i].green || palette[i].green != palette[i].blue)
                kind.gray = false;
    } else {
        kind.ok = false;
    }
    png_destroy_read_struct(&png, &info, nullptr);
    return kind;
}

ImageKind ReadPngKind(const std::filesystem::path& path) {
    FILE* file = fopen(path.c_str(), "rb");
    if (!file) return ImageKind{};
    ImageKind kind = ReadPngHeader(file);
    fclose(file);
    return kind;
}

ImageKind ReadGifKind(const std::vector<uint8_t>& b) {
    ImageKind kind;
    if (b.size() < 13 || std::memcmp(b.data(), "GIF8", 4) != 0) return kind;
    kind.width = Le16(b, 6);
    kind.height = Le16(b, 8);
    uint8_t packed = b[10];
    if (!(packed & 0x80)) return kind;
    uint32_t entries = 1u << ((packed & 7) + 1);
    kind.ok = true;
    kind.bits = BitsForColours(entries);
    kind.gray = GrayTriples(b, 13, entries);
    return kind;
}

ImageKind ReadPcxKind(const std::vector<uint8_t>& b) {
    ImageKind kind;
    if (b.size() < 128 || b[0] != 0x0A) return kind;
    kind.ok = true;
    kind.width = Le16(b, 8) - Le16(b, 4) + 1;
    kind.height = Le16(b, 10) - Le16(b, 6) + 1;
    int bitsPerPlane = b[3], planes = b[65];
    kind.bits = bitsPerPlane * planes;
    kind.detail = std::to_string(bitsPerPlane) + " bits x " + std::to_string(planes) + " planes";
    if (kind.bits == 8)
        kind.gray =
            b.size() > 769 && b[b.size() - 769] == 0x0C && GrayTriples(b, b.size() - 768, 256);
    else if (kind.bits == 4)
        kind.gray = GrayTriples(b, 16, 16);
    return kind;
}

ImageKind ReadTgaKind(const std::vector<uint8_t>& b) {
    ImageKind kind;
    if (b.size() < 18) return kind;
    int type = b[2];
    kind.ok = type == 1 || type == 2 || type == 3;
    kind.width = Le16(b, 12);
    kind.height = Le16(b, 14);
    kind.bits = b[16];
    kind.detail = "type " + std::to_string(type);
    if (type == 3) kind.gray = true;
    if (type == 1) {
        uint32_t length = Le16(b, 5);
        kind.gray = b[7] == 24 && GrayTriples(b, 18 + b[0] + 3 * size_t(Le16(b, 3)), length);
    }
    return kind;
}

ImageKind ReadRasKind(const std::vector<uint8_t>& b) {
    ImageKind kind;
    if (b.size() < 32 || Be32(b, 0) != 0x59A66A95) return kind;
    kind.ok = true;
    kind.width = int(Be32(b, 4));
    kind.height = int(Be32(b, 8));
    kind.bits = int(Be32(b, 12));
    uint32_t mapLength = Be32(b, 28);
    if (kind.bits == 8) {
        // Without a map, 8-bit Sun raster is gray; a map is three planes.
        kind.gray = true;
        uint32_t n = mapLength / 3;
        for (uint32_t i = 0; i < n && 32 + 2 * n + i < b.size(); ++i)
            if (b[32 + i] != b[32 + n + i] || b[32 + i] != b[32 + 2 * n + i]) kind.gray = false;
    }
    return kind;
}

// The SIZ segment of a JPEG 2000 code stream starting at `at`.
ImageKind ReadSiz(const std::vector<uint8_t>& b, size_t at) {
    ImageKind kind;
    for (size_t i = at; i + 40 < b.size(); ++i) {
        if (b[i] == 0xFF && b[i + 1] == 0x51) {
            kind.ok = true;
            kind.width = int(Be32(b, i + 6) - Be32(b, i + 14));
            kind.height = int(Be32(b, i + 10) - Be32(b, i + 18));
            int components = Be16(b, i + 38);
            kind.bits = 8 * components;
            kind.gray = components == 1;
            return kind;
        }
    }
    return kind;
}

ImageKind ReadJpegKind(const std::vector<uint8_t>& b) {
    ImageKind kind;
    for (size_t i = 2; i + 9 < b.size();) {
        if (b[i] != 0xFF) return kind;
        uint8_t marker = b[i + 1];
        uint16_t length = Be16(b, i + 2);
        if (marker >= 0xC0 && marker <= 0xC2) {
            kind.ok = true;
            kind.height = Be16(b, i + 5);
            kind.width = Be16(b, i + 7);
            int components = b[i + 9];
            kind.bits = 8 * components;
            kind.gray = components == 1;
            return kind;
        }
        i += 2 + length;
    }
    return kind;
}

ImageKind ReadTiffKind(const std::filesystem::path& path) {
    ImageKind kind;
    TIFFSetErrorHandler(nullptr);
    TIFFSetWarningHandler(nullptr);
    TIFF* tiff = TIFFOpen(path.c_str(), "r");
    if (!tiff) return kind;
    uint32_t w = 0, h = 0;
    uint16_t bps = 1, spp = 1, photometric = 0, compression = 1;
    TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &h);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &bps);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &spp);
    TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &photometric);
    TIFFGetField(tiff, TIFFTAG_COMPRESSION, &compression);
    kind.ok = true;
    kind.width = int(w);
    kind.height = int(h);
    kind.bits = bps * spp;
    kind.detail = "photometric " + std::to_string(photometric) + " compression " +
                  std::to_string(compression);
    if (photometric == PHOTOMETRIC_MINISBLACK || photometric == PHOTOMETRIC_MINISWHITE)
        kind.gray = true;
    if (photometric == PHOTOMETRIC_PALETTE) {
        uint16_t *r, *g, *b;
        if (TIFFGetField(tiff, TIFFTAG_COLORMAP, &r, &g, &b)) {
            kind.gray = true;
            for (uint32_t i = 0; i < (1u << bps); ++i)
                if (r[i] != g[i] || g[i] != b[i]) kind.gray = false;
        }
    }
    TIFFClose(tiff);
    return kind;
}

} // namespace

ImageKind ReadKind(int format, const std::filesystem::path& path) {
    std::vector<uint8_t> b = ReadAll(path);
    switch (format) {
    case 1:
        return ReadBmpKind(path);
    case 4:
        return ReadJpegKind(b);
    case 5:
        return ReadPngKind(path);
    case 6:
        return ReadGifKind(b);
    case 7:
        return ReadTiffKind(path);
    case 8:
        return ReadPcxKind(b);
    case 9:
        return ReadTgaKind(b);
    case 10: {
        // The code stream sits in the jp2c box, after the ihdr box.
        for (size_t i = 0; i + 4 < b.size(); ++i)
            if (std::memcmp(&b[i], "jp2c", 4) == 0) return ReadSiz(b, i + 4);
        return ImageKind{};
    }
    case 11:
        return ReadRasKind(b);
    case 12:
        return b.size() > 2 && b[0] == 0xFF && b[1] == 0x4F ? ReadSiz(b, 2) : ImageKind{};
    default:
        return ImageKind{};
    }
}

PngPixels ReadPngPixels(const std::filesystem::path& path) {
    PngPixels out;
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) return out;
    image.format = PNG_FORMAT_RGB;
    out.rgb.resize(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, out.rgb.data(), 0, nullptr)) {
        png_image_free(&image);
        return out;
    }
    out.ok = true;
    out.width = int(image.width);
    out.height = int(image.height);
    return out;
}

bool ReadPngResolution(const std::filesystem::path& path, uint32_t& x, uint32_t& y) {
    std::vector<uint8_t> b = ReadAll(path);
    for (size_t i = 8; i + 12 <= b.size();) {
        uint32_t length = Be32(b, i);
        if (std::memcmp(&b[i + 4], "pHYs", 4) == 0 && i + 17 <= b.size()) {
            x = Be32(b, i + 8);
            y = Be32(b, i + 12);
            return b[i + 16] == 1;
        }
        i += 12 + length;
    }
    return false;
}

std::vector<TiffPage> ReadTiff(const std::filesystem::path& path) {
    std::vector<TiffPage> pages;
    TIFFSetErrorHandler(nullptr);
    TIFFSetWarningHandler(nullptr);
    TIFF* tiff = TIFFOpen(path.c_str(), "r");
    if (!tiff) return pages;
    do {
        TiffPage page;
        TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &page.width);
        TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &page.height);
        TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &page.bitsPerSample);
        TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &page.samplesPerPixel);
        TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &page.photometric);
        TIFFGetField(tiff, TIFFTAG_COMPRESSION, &page.compression);
        uint16_t number = 0, total = 0;
        if (TIFFGetField(tiff, TIFFTAG_PAGENUMBER, &number, &total)) page.pageNumber = number;
        char* name = nullptr;
        if (TIFFGetField(tiff, TIFFTAG_PAGENAME, &name) && name) page.pageName = name;
        TIFFGetField(tiff, TIFFTAG_XRESOLUTION, &page.xResolution);
        TIFFGetField(tiff, TIFFTAG_YRESOLUTION, &page.yResolution);
        pages.push_back(page);
    } while (TIFFReadDirectory(tiff));
    TIFFClose(tiff);
    return pages;
}

int JpegFrameType(const std::filesystem::path& path) {
    std::vector<uint8_t> b = ReadAll(path);
    for (size_t i = 2; i + 4 < b.size();) {
        if (b[i] != 0xFF) return -1;
        uint8_t marker = b[i + 1];
        if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC)
            return marker - 0xC0;
        i += 2 + Be16(b, i + 2);
    }
    return -1;
}

} // namespace enginetest
