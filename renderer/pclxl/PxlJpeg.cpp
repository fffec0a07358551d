// libjpeg glue for JPEG-compressed image blocks. The jump-back recovery
// point lives here alone, so no other file mixes setjmp with C++ objects.
#include "PxlRaster.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include <jpeglib.h>

namespace tarvik::pclxl {

namespace {

struct ErrorMgr {
    jpeg_error_mgr pub;
    jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

void OnError(j_common_ptr cinfo) {
    auto* err = reinterpret_cast<ErrorMgr*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, err->message);
    longjmp(err->jump, 1);
}

void OnMessage(j_common_ptr, int) {} // warnings are not shown anywhere

// Everything that must survive a longjmp is plain data owned by the caller.
struct Decode {
    jpeg_decompress_struct cinfo;
    ErrorMgr err;
    std::vector<uint8_t> row;
    std::vector<uint8_t> out;
};

bool Run(Decode& d, const uint8_t* data, size_t size, int components, int maxWidth, int maxRows,
         const std::function<void(const uint8_t*, int)>& sink, std::string& error) {
    jpeg_decompress_struct& cinfo = d.cinfo;
    if (setjmp(d.err.jump)) {
        error = std::string("JPEG: ") + d.err.message;
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    jpeg_create_decompress(&cinfo);
    // A hostile stream cannot make the library allocate without bound.
    cinfo.mem->max_memory_to_use = 64L << 20;
    jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(size));
    if (jpeg_read_header(&cinfo, TRUE) != JPEG_HEADER_OK) {
        error = "JPEG: no image";
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    if (cinfo.image_width == 0 || cinfo.image_width > unsigned(maxWidth) * 2 + 16 ||
        cinfo.image_height > 65535) {
        error = "JPEG: image size does not match";
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    bool cmyk = cinfo.num_components == 4;
    if (cmyk)
        cinfo.out_color_space = JCS_CMYK;
    else
        cinfo.out_color_space = components == 1 ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_start_decompress(&cinfo);
    int width = int(cinfo.output_width);
    int comps = cinfo.output_components;
    d.row.assign(size_t(width) * size_t(comps), 0);
    d.out.assign(size_t(width) * size_t(components), 0);
    int rows = 0;
    while (cinfo.output_scanline < cinfo.output_height && rows < maxRows) {
        JSAMPROW p = d.row.data();
        jpeg_read_scanlines(&cinfo, &p, 1);
        const uint8_t* src = d.row.data();
        if (cmyk || comps != components) {
            for (int x = 0; x < width; ++x) {
                uint8_t r, g, b;
                if (cmyk) {
                    // Adobe-style inverted CMYK, the common kind.
                    const uint8_t* q = src + x * 4;
                    r = uint8_t(q[0] * q[3] / 255);
                    g = uint8_t(q[1] * q[3] / 255);
                    b = uint8_t(q[2] * q[3] / 255);
                } else if (comps == 1) {
                    r = g = b = src[x];
                } else {
                    r = src[x * comps];
                    g = src[x * comps + 1];
                    b = src[x * comps + 2];
                }
                if (components == 1) {
                    d.out[x] = uint8_t((r * 30 + g * 59 + b * 11) / 100);
                } else {
                    d.out[x * 3] = r;
                    d.out[x * 3 + 1] = g;
                    d.out[x * 3 + 2] = b;
                }
            }
            src = d.out.data();
        }
        sink(src, std::min(width, maxWidth));
        ++rows;
    }
    // Rows beyond what the image wants are not decoded.
    jpeg_abort_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return true;
}

} // namespace

bool DecodeJpeg(const uint8_t* data, size_t size, int components, int maxWidth, int maxRows,
                const std::function<void(const uint8_t* row, int width)>& sink,
                std::string& error) {
    if (size < 4) {
        error = "JPEG: no image";
        return false;
    }
    auto d = std::make_unique<Decode>();
    std::memset(&d->cinfo, 0, sizeof d->cinfo);
    d->cinfo.err = jpeg_std_error(&d->err.pub);
    d->err.pub.error_exit = OnError;
    d->err.pub.emit_message = OnMessage;
    d->err.message[0] = 0;
    return Run(*d, data, size, components, maxWidth, maxRows, sink, error);
}

} // namespace tarvik::pclxl
