#include "PngGlue.h"

#include "ImageStream.h"

#include <png.h>

#include <cstdlib>
#include <new>

namespace {

void StreamWrite(png_structp png, png_bytep data, size_t length) {
    auto* stream = static_cast<ImageStream*>(png_get_io_ptr(png));
    if (!stream || stream->Write(data, 1, length) != length) png_error(png, "Write Error");
}

void StreamFlush(png_structp png) {
    auto* stream = static_cast<ImageStream*>(png_get_io_ptr(png));
    if (!stream || !stream->Flush()) png_error(png, "Flush Error");
}

// Everything read after a longjmp lives here, in memory the jump cannot roll back.
struct Session {
    png_structp png = nullptr;
    png_infop info = nullptr;
    png_colorp palette = nullptr;
    png_bytep row = nullptr;
};

void Run(Session& s, ImageStream* stream, const PngEncodeParams& p, PngRowSource source,
         void* context) {
    png_set_write_fn(s.png, stream, StreamWrite, StreamFlush);
    png_color_16 background{};
    background.index = p.background.index;
    background.red = p.background.red;
    background.green = p.background.green;
    background.blue = p.background.blue;
    background.gray = p.background.gray;
    png_set_bKGD(s.png, s.info, &background);
    png_set_pHYs(s.png, s.info, p.pixelsPerMeterX, p.pixelsPerMeterY, PNG_RESOLUTION_METER);
    png_set_IHDR(s.png, s.info, p.width, p.height, p.bitDepth, p.colorType,
                 p.interlace ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (p.paletteCount > 0) {
        s.palette = static_cast<png_colorp>(std::calloc(size_t(p.paletteCount), sizeof(png_color)));
        if (!s.palette) png_error(s.png, "out of memory");
        for (int i = 0; i < p.paletteCount; ++i) {
            s.palette[i].red = p.palette[i][0];
            s.palette[i].green = p.palette[i][1];
            s.palette[i].blue = p.palette[i][2];
        }
        png_set_PLTE(s.png, s.info, s.palette, p.paletteCount);
    }
    if (p.hasTransparency) {
        png_color_16 color{};
        color.index = p.transparentColor.index;
        color.red = p.transparentColor.red;
        color.green = p.transparentColor.green;
        color.blue = p.transparentColor.blue;
        color.gray = p.transparentColor.gray;
        png_set_tRNS(s.png, s.info, p.transparentAlpha, p.transparentCount, &color);
    }
    s.row = static_cast<png_bytep>(std::malloc(p.rowBytes ? p.rowBytes : 1));
    if (!s.row) png_error(s.png, "out of memory");
    png_write_info(s.png, s.info);
    const int passes = png_set_interlace_handling(s.png);
    for (int pass = 0; pass < passes; ++pass) {
        for (uint32_t y = 0; y < p.height; ++y) {
            source(context, y, s.row);
            png_write_row(s.png, s.row);
        }
    }
    png_write_end(s.png, s.info);
}

} // namespace

const char* PngWrite(ImageStream* stream, const PngEncodeParams& params, PngRowSource source,
                     void* context) {
    auto* s = new (std::nothrow) Session;
    if (!s) return "Failed to create PNG structure";
    s->png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (!s->png) {
        delete s;
        return "Failed to create PNG structure";
    }
    s->info = png_create_info_struct(s->png);
    if (!s->info) {
        png_destroy_write_struct(&s->png, nullptr);
        delete s;
        return "Failed to initialize PNG info structure";
    }
    const char* failure = "Error saving PNG file";
    if (setjmp(png_jmpbuf(s->png)) == 0) {
        Run(*s, stream, params, source, context);
        failure = nullptr;
    }
    std::free(s->row);
    std::free(s->palette);
    png_destroy_write_struct(&s->png, &s->info);
    delete s;
    return failure;
}
