// The page converter's handle API: create a converter, add page bitmaps, set
// numbered options, run, destroy. Every operation returns 1 on success and 0
// for a handle that is not greater than 0 or not known.
#pragma once

enum ImgConvOption {
    OPT_OUTPUT_PATH = 1,
    OPT_MULTIPAGE_PATH = 2,
    OPT_FORMAT = 5,
    OPT_BPP = 6,
    OPT_XDPI = 7,
    OPT_YDPI = 8,
    OPT_QUALITY = 9,
    OPT_TIFF_COMPRESSION = 10,
    OPT_MULTIPAGE = 11,
    OPT_GRAY = 12,
    OPT_WIDTH = 13,
    OPT_HEIGHT = 14,
    OPT_ROTATE = 15,
    OPT_JPEG_MODE = 30,
};

// Output format codes of OPT_FORMAT.
enum ImgConvFormat {
    FMT_BMP = 1,
    FMT_EMF = 2,
    FMT_WMF = 3,
    FMT_JPEG = 4,
    FMT_PNG = 5,
    FMT_GIF = 6,
    FMT_TIFF = 7,
    FMT_PCX = 8,
    FMT_TGA = 9,
    FMT_JP2 = 10,
    FMT_RAS = 11,
    FMT_JPC = 12,
};

extern "C" {
int ImgConvCreate();
int ImgConvAddFile(int handle, const char* path, int format);
int ImgConvSetOption(int handle, int code, const char* text, int value, void* reserved);
// 0 also when an output could not be written (page not loaded, file not
// opened, writer refused or failed); such a run leaves no file behind and an
// older file of that name as it was.
int ImgConvRun(int handle);
// A merged TIFF appears under its name here; 0 also when it was started but
// could not be completed (then no file is left and an older one is kept).
int ImgConvDestroy(int handle);
}
