// CRaster: the toolkit's raster image, a packed device-independent bitmap
// (40-byte info header, palette, bottom-up rows padded to 4 bytes) held in one
// allocation, plus the settings the codecs read.
//
// How codecs plug in: a format codec is a subclass of CRaster (CRasterBMP,
// CRasterTIF, ...) with its own non-virtual Encode(ImageStream*) and/or
// Decode(ImageStream*). CRaster::Encode/Decode reach it only through the table
// in codecs/CodecTable.cpp, one row per ImageFormat code: a writer runs on a
// view of the image (MakeView), so it sees the pixels without owning them; a
// reader decodes into a temporary codec object whose result is moved into the
// asking image with TakeOver, so a failed read leaves that image as it was.
// The fields are public because codecs and the engine's metafile writer work
// on the pixel block and the header directly.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

class ImageStream;
class CRaster;

// Toolkit format codes. Anything outside 0..21 counts as kFormatNone wherever
// a code is validated.
enum ImageFormat : uint32_t {
    kFormatNone = 0,
    kFormatBMP = 1,
    kFormatGIF = 2,
    kFormatJPG = 3,
    kFormatPNG = 4,
    kFormatICO = 5,
    kFormatTIF = 6,
    kFormatTGA = 7,
    kFormatPCX = 8,
    kFormatWBMP = 9,
    kFormatWMF = 10,
    kFormatJP2 = 11,
    kFormatJPC = 12,
    kFormatPGX = 13,
    kFormatPNM = 14,
    kFormatRAS = 15,
    kFormatJBG = 16,
    kFormatMNG = 17,
    kFormatSKA = 18,
    kFormatRAW = 19,
    kFormatPSD = 20,
    kFormatPCXAlias = 21, // saved by the PCX writer through a temporary of code 8
    kFormatCount = 22
};

// Returns code when it is a valid format code, else kFormatNone.
inline uint32_t ValidFormat(uint32_t code) {
    return code < kFormatCount ? code : kFormatNone;
}

// A colour as stored in palettes: blue, green, red, reserved (alpha) in memory.
struct RasterColor {
    uint8_t blue = 0;
    uint8_t green = 0;
    uint8_t red = 0;
    uint8_t reserved = 0;

    // As a little-endian 32-bit value: 0xRRGGBB, reserved in the top byte.
    constexpr uint32_t ToU32() const {
        return uint32_t(blue) | uint32_t(green) << 8 | uint32_t(red) << 16 |
               uint32_t(reserved) << 24;
    }
    static constexpr RasterColor FromU32(uint32_t v) {
        return RasterColor{uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
    }
    static constexpr RasterColor Rgb(uint8_t r, uint8_t g, uint8_t b, uint8_t a = 0) {
        return RasterColor{b, g, r, a};
    }
    friend constexpr bool operator==(const RasterColor&, const RasterColor&) = default;
};
static_assert(sizeof(RasterColor) == 4);

// The 40-byte BMP info header (BITMAPINFOHEADER), field for field.
struct BitmapInfoHeader {
    uint32_t size = 0;
    int32_t width = 0;
    int32_t height = 0;
    uint16_t planes = 0;
    uint16_t bitCount = 0;
    uint32_t compression = 0;
    uint32_t sizeImage = 0;
    int32_t xPelsPerMeter = 0;
    int32_t yPelsPerMeter = 0;
    uint32_t clrUsed = 0;
    uint32_t clrImportant = 0;
};
static_assert(sizeof(BitmapInfoHeader) == 40);

// Everything CopySettings, TakeOver and MakeView move as one unit.
struct RasterSettings {
    uint32_t rowStride = 0;    // bytes per row, a multiple of 4
    uint8_t* pixels = nullptr; // row 0 (the bottom row) inside pixelBlock
    CRaster* viewOf = nullptr; // the image this one is a view of
    CRaster* parent = nullptr; // never set in this system
    uint32_t formatCode = 0;
    char lastError[256] = {};
    int32_t progress = 0;
    int32_t escape = 0;
    int32_t backgroundIndex = 0;
    RasterColor backgroundColor;
    float qualityLevel = 0.0f;
    uint8_t jpegScale = 0;
    int32_t frameIndex = 0;
    int32_t frameCount = 0;
    uint32_t frameDelay = 0;
    int32_t dpiX = 0;
    int32_t dpiY = 0;
    int32_t selectionLeft = 0;
    int32_t selectionTop = 0;
    int32_t selectionRight = 0;
    int32_t selectionBottom = 0;
    uint8_t alphaMax = 0;
    bool alphaPaletteEnabled = false;
    bool enabled = false;
    int32_t offsetX = 0;
    int32_t offsetY = 0;
    uint32_t encodeOptions[kFormatCount] = {};
    RasterColor lastColor;  // NearestIndex cache key
    uint8_t lastIndex = 0;  // NearestIndex cache answer
    bool lastValid = false; // the cache holds an answer
    int32_t layerCount = 0;
    uint32_t flags = 0;
    uint8_t disposal = 0;
    bool allFrames = false;
    bool littleEndianHost = true;
};

class CRaster {
public:
    explicit CRaster(uint32_t formatCode = kFormatNone);
    virtual ~CRaster();
    CRaster(const CRaster&) = delete;
    CRaster& operator=(const CRaster&) = delete;

    // Construction, lifetime and moves between images.
    uint8_t* Create(uint32_t width, uint32_t height, uint32_t bpp, uint32_t formatCode);
    bool FreeImage();
    void CopySettings(const CRaster& other);
    bool TakeOver(CRaster& other, bool withFrames = true);
    void MakeView(CRaster& other);

    // Reading the image.
    uint32_t Width() const { return uint32_t(header.width); }
    uint32_t Height() const { return uint32_t(header.height); }
    uint32_t BitsPerPixel() const { return header.bitCount; }
    uint32_t ColorCount() const { return header.clrUsed; }
    bool HasPixels() const { return pixelBlock != nullptr; }
    const char* LastError() const { return settings.lastError; }
    int32_t DpiX() const { return settings.dpiX; }
    int32_t DpiY() const { return settings.dpiY; }
    uint32_t RowStride() const { return settings.rowStride; }
    uint32_t FormatCode() const { return settings.formatCode; }
    uint8_t* RowPointer(uint32_t row) const;
    size_t BlockSize() const;
    bool Contains(int64_t x, int64_t y) const;

    // Writes text (cut to 255 characters) into lastError.
    void SetLastError(const char* text);
    void SetLastError(const std::string& text) { SetLastError(text.c_str()); }

    // Pixels; x from the left, y from the bottom row.
    uint8_t GetIndexAt(int64_t x, int64_t y) const;
    void SetIndexAt(int64_t x, int64_t y, uint8_t index);
    RasterColor GetColorAt(int64_t x, int64_t y, bool withAlpha = true) const;
    void SetColorAt(int64_t x, int64_t y, RasterColor color, bool withAlpha = false);
    // Without the bounds test, for loops that stay inside the image.
    uint8_t GetIndexAtUnchecked(uint32_t x, uint32_t y) const;
    void SetIndexAtUnchecked(uint32_t x, uint32_t y, uint8_t index);
    RasterColor GetColorAtUnchecked(uint32_t x, uint32_t y, bool withAlpha = true) const;
    void SetColorAtUnchecked(uint32_t x, uint32_t y, RasterColor color, bool withAlpha = false);
    uint8_t NearestIndex(RasterColor color);
    // The search behind NearestIndex, without its cache: the nearest of the
    // first n entries of pal by squared RGB distance, lowest index among equals.
    static uint8_t SearchNearest(const RasterColor* pal, uint32_t n, RasterColor color);
    void Fill(uint8_t value);
    bool FlipRows(bool withSelection, bool withAlpha);

    // Palette.
    RasterColor* Palette() const;
    uint32_t PaletteBytes() const { return 4 * header.clrUsed; }
    RasterColor PaletteColor(uint32_t index) const;
    void SetPaletteColor(uint32_t index, RasterColor color);
    void LoadPalette(const RasterColor* table, uint32_t count);
    void SetGrayRamp();
    void SetDefaultPalette();
    void SetImportantColors(uint32_t n);
    bool PaletteComponents(uint32_t index, uint8_t& red, uint8_t& green, uint8_t& blue) const;
    uint32_t ImportantColors() const { return header.clrImportant; }
    void SwapPaletteEntries(uint8_t a, uint8_t b);
    void SwapRedBlue(uint8_t* row, size_t length) const;
    RasterColor TransparentColor() const;
    bool IsGray() const;

    // Settings read by the writers.
    void SetDpiX(int32_t dpi);
    void SetDpiY(int32_t dpi);
    void SetQuality(uint8_t q) { settings.qualityLevel = float(q); }
    uint8_t GetQuality() const;
    bool SetEncodeOption(uint32_t word, uint32_t formatCode);
    uint32_t GetEncodeOption(uint32_t formatCode) const;
    // True when the image can NOT be encoded (no stream, no pixel block).
    bool CheckEncodable(ImageStream* stream);

    // Files and streams, dispatched by format code.
    bool LoadFile(const std::string& path, uint32_t formatCode);
    // LoadFile for the renderer's page files, which are mapped rather than
    // read when they are BMP; the file must stay whole while the image lives.
    bool LoadPageFile(const std::string& path, uint32_t formatCode);
    bool Decode(FILE* file, uint32_t formatCode);
    bool Decode(ImageStream* stream, uint32_t formatCode);
    bool SaveFile(const std::string& path, uint32_t formatCode);
    bool Encode(FILE* file, uint32_t formatCode);
    bool Encode(ImageStream* stream, uint32_t formatCode);

    // Colour reduction.
    bool MakeGray();
    bool DecreaseBpp(uint32_t bits, bool errorDiffusion, const RasterColor* palette,
                     uint32_t count);

    // Geometry. mode 1 nearest pixel, 2 bicubic, anything else bilinear.
    bool Rescale(uint32_t newWidth, uint32_t newHeight, int mode = 1,
                 CRaster* destination = nullptr);
    bool Turn90Right(CRaster* destination = nullptr);
    bool Turn90Left(CRaster* destination = nullptr);
    bool RotateBy(float angle, CRaster* destination = nullptr);

    // Fields, in the order of the image object.
    uint8_t* pixelBlock = nullptr; // header copy, palette, pixel rows
    BitmapInfoHeader header;
    RasterSettings settings;
    uint8_t* selectionPlane = nullptr; // width x height bytes, never created here
    uint8_t* alphaPlane = nullptr;     // width x height opacity bytes, rows bottom-up
    std::vector<CRaster*> layers;      // empty in this system
    std::vector<CRaster*> frames;      // empty in this system

protected:
    // Create on a private mapping of length bytes (from mmap) whose block of
    // header, palette and rows starts at mapping + offset; the image owns the
    // mapping from then on, and unmaps it itself when it is refused.
    uint8_t* CreateOn(uint32_t width, uint32_t height, uint32_t bpp, uint32_t formatCode,
                      uint8_t* mapping, size_t length, size_t offset);
    // Entries NearestIndex searches: the important colours when set.
    uint32_t SearchCount() const;
    // Makes the alpha plane (every value `fill`); false when it cannot be had.
    bool CreateAlphaPlane(uint8_t fill);
    // Copies alpha and selection planes of `source` (same size) into this image.
    bool CopyPlanesFrom(const CRaster& source);
    // Ends a transform: moves `temp` into `destination` (or this image) and puts
    // the resolution of dpiX/dpiY back into the header, which Create leaves at
    // a fresh object's values.
    bool FinishTransform(CRaster& temp, CRaster* destination);
    // Starts a geometry transform: `temp` gets this image's settings, a pixel
    // block of the new size at this depth and this image's palette. On failure
    // the temporary's message is copied here and false returned.
    bool StartGeometryResult(CRaster& temp, uint32_t width, uint32_t height);
    bool TurnQuarter(bool clockwise, CRaster* destination);
    // Releases the frame list.
    void ReleaseFrames();

private:
    size_t m_mappedBytes = 0; // length of a mapped pixel block; 0 for a heap block
    size_t m_blockOffset = 0; // where the pixel block starts in its mapping
};
