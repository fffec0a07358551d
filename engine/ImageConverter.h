// The page converter object behind the handle API of ImgConv.h, and the
// pipelines that a run dispatches to. Callers outside the engine use only
// ImgConv.h; tests include this header to look inside a handle.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

class CRaster;
class FileStream;

class CImageConverter {
public:
    CImageConverter();
    ~CImageConverter();
    CImageConverter(const CImageConverter&) = delete;
    CImageConverter& operator=(const CImageConverter&) = delete;

    // Fields in the order the converter documents them.
    std::vector<std::string> inputs;
    std::string outputPath;
    std::string multiPagePath;
    int32_t format = 4;
    int32_t bpp = 24;
    bool multiPage = false;
    int32_t tiffCompression = 2;
    bool gray = false;
    int32_t quality = 75;
    int32_t angle = 0;
    int32_t width = 0;
    int32_t height = 0;
    int32_t xdpi = 150;
    int32_t ydpi = 150;
    int32_t paletteBpp = 0;
    FILE* pageFile = nullptr;
    std::unique_ptr<FileStream> pageStream; // the one stream over pageFile
    std::unique_ptr<CRaster> pageImage;     // a TIFF codec object
    int32_t inputFormat = 1;
    int32_t jpegMode = 0;

    // The merged TIFF is written under this name beside multiPagePath and
    // moved into place by Finish.
    std::string pageTempPath;
    std::string pageTargetPath;
    int32_t pagesMerged = 0;
    bool mergeFailed = false;

    void SetOption(int code, const char* text, int value);
    // Returns false when an output could not be written.
    bool Run();
    // Closes a merged TIFF and renames it into place; false when a merged
    // file was started but could not be completed.
    bool Finish();
};

// Turns a path into its absolute, lexically normal form; empty on failure.
std::string AbsolutePath(const char* path);

// Looks up a live handle (tests only; the API does its own lookups).
CImageConverter* FindConverter(int handle);

// Sets paletteBpp (and, for JPEG, gray) from bpp, gray and format.
void ResolveDepth(CImageConverter& c);

// The pipelines; each returns false when its output could not be written.
bool RunRasterPipeline(CImageConverter& c);
bool RunTiffPipeline(CImageConverter& c);
bool WriteEmfPage(CImageConverter& c);
bool WriteWmfPage(CImageConverter& c);
