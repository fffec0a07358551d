#include "ImageConverter.h"
#include "OutputFile.h"

#include "ImageStream.h"
#include "ImgConv.h"
#include "Raster.h"

#include "RasterTIF.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <mutex>
#include <new>
#include <unistd.h>

namespace {

// Handles are keys of this table, never addresses: a stale or forged number
// finds nothing instead of touching memory.
struct HandleTable {
    std::mutex lock;
    std::map<int, std::unique_ptr<CImageConverter>> converters;
    int next = 1;
};

HandleTable& Table() {
    static HandleTable table;
    return table;
}

int32_t Clamp(int32_t value, int32_t low, int32_t high) {
    return std::min(std::max(value, low), high);
}

} // namespace

std::string AbsolutePath(const char* path) {
    if (!path || !*path) return {};
    std::error_code error;
    std::filesystem::path absolute = std::filesystem::absolute(path, error);
    if (error) return {};
    return absolute.lexically_normal().string();
}

CImageConverter::CImageConverter() : pageImage(std::make_unique<CRasterTIF>()) {}

CImageConverter::~CImageConverter() {
    // Only ImgConvDestroy puts a merged file in place; a converter that goes
    // away otherwise (at exit) leaves nothing behind.
    pageImage.reset();
    pageStream.reset();
    if (pageFile) {
        std::fclose(pageFile);
        pageFile = nullptr;
        ::unlink(pageTempPath.c_str());
        ForgetPendingOutput(pageTempPath);
    }
}

void CImageConverter::SetOption(int code, const char* text, int value) {
    switch (code) {
    case OPT_OUTPUT_PATH:
    case OPT_MULTIPAGE_PATH: {
        std::string absolute = AbsolutePath(text);
        if (absolute.empty()) return;
        (code == OPT_OUTPUT_PATH ? outputPath : multiPagePath) = absolute;
        return;
    }
    case OPT_FORMAT:
        format = value < 1 || value > 12 ? 4 : value;
        return;
    case OPT_BPP:
        bpp = value;
        return;
    case OPT_XDPI:
        xdpi = Clamp(value, 72, 600);
        return;
    case OPT_YDPI:
        ydpi = Clamp(value, 72, 600);
        return;
    case OPT_QUALITY:
        quality = value;
        return;
    case OPT_TIFF_COMPRESSION:
        tiffCompression = value;
        return;
    case OPT_MULTIPAGE:
        multiPage = value != 0;
        return;
    case OPT_GRAY:
        gray = value != 0;
        return;
    case OPT_WIDTH:
        if (value > 0) width = value;
        return;
    case OPT_HEIGHT:
        if (value > 0) height = value;
        return;
    case OPT_ROTATE:
        if (value > 0) angle = value;
        return;
    case OPT_JPEG_MODE:
        if (value > 0) jpegMode = value;
        return;
    default:
        return;
    }
}

bool CImageConverter::Run() {
    ResolveDepth(*this);
    if (inputs.empty()) return true;
    switch (format) {
    case FMT_EMF:
        return WriteEmfPage(*this);
    case FMT_WMF:
        return WriteWmfPage(*this);
    case FMT_TIFF:
        return RunTiffPipeline(*this);
    default:
        return RunRasterPipeline(*this);
    }
}

bool CImageConverter::Finish() {
    // The TIFF object goes first: closing its TIFF may still touch the stream.
    pageImage.reset();
    if (!pageFile) return true;
    pageStream.reset();
    bool ok = std::fflush(pageFile) == 0 && !std::ferror(pageFile);
    ok = std::fclose(pageFile) == 0 && ok;
    pageFile = nullptr;
    ok = ok && pagesMerged > 0 && !mergeFailed;
    if (ok) ok = std::rename(pageTempPath.c_str(), pageTargetPath.c_str()) == 0;
    if (!ok) ::unlink(pageTempPath.c_str());
    ForgetPendingOutput(pageTempPath);
    pageTempPath.clear();
    return ok;
}

CImageConverter* FindConverter(int handle) {
    if (handle <= 0) return nullptr;
    HandleTable& table = Table();
    std::lock_guard<std::mutex> guard(table.lock);
    auto found = table.converters.find(handle);
    return found == table.converters.end() ? nullptr : found->second.get();
}

extern "C" {

int ImgConvCreate() {
    try {
        auto converter = std::make_unique<CImageConverter>();
        HandleTable& table = Table();
        std::lock_guard<std::mutex> guard(table.lock);
        // Numbers are not reused until the counter wraps, so a handle kept
        // past its destruction does not reach a newer converter.
        for (int tries = 0; tries < 1 << 20; ++tries) {
            int handle = table.next;
            table.next = table.next == INT32_MAX ? 1 : table.next + 1;
            if (table.converters.count(handle)) continue;
            table.converters.emplace(handle, std::move(converter));
            return handle;
        }
        return 0;
    } catch (...) {
        return 0;
    }
}

int ImgConvAddFile(int handle, const char* path, int format) {
    CImageConverter* converter = FindConverter(handle);
    if (!converter) return 0;
    try {
        // A path that cannot be made absolute is kept as given, so the run
        // reports the page as unreadable instead of silently skipping it.
        std::string absolute = AbsolutePath(path);
        converter->inputs.push_back(absolute.empty() ? std::string(path ? path : "") : absolute);
        converter->inputFormat = format;
        return 1;
    } catch (...) {
        return 0;
    }
}

int ImgConvSetOption(int handle, int code, const char* text, int value, void* /*reserved*/) {
    CImageConverter* converter = FindConverter(handle);
    if (!converter) return 0;
    try {
        converter->SetOption(code, text, value);
        return 1;
    } catch (...) {
        return 0;
    }
}

int ImgConvRun(int handle) {
    CImageConverter* converter = FindConverter(handle);
    if (!converter) return 0;
    try {
        return converter->Run() ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

int ImgConvDestroy(int handle) {
    if (handle <= 0) return 0;
    std::unique_ptr<CImageConverter> converter;
    {
        HandleTable& table = Table();
        std::lock_guard<std::mutex> guard(table.lock);
        auto found = table.converters.find(handle);
        if (found == table.converters.end()) return 0;
        converter = std::move(found->second);
        table.converters.erase(found);
    }
    bool finished = false;
    try {
        finished = converter->Finish();
    } catch (...) {
    }
    converter.reset();
    return finished ? 1 : 0;
}

} // extern "C"
