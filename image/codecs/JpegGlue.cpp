#include "JpegGlue.h"

#include "ImageStream.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <jerror.h>
#include <jpeglib.h>

// The compressor is created for the version 6b interface.
static_assert(JPEG_LIB_VERSION == 62, "libjpeg with the version 6b interface expected");

namespace {

constexpr size_t kOutputBufferSize = 4096;

struct ErrorManager {
    jpeg_error_mgr pub;
    jmp_buf recovery;
    char* message;
    size_t messageSize;
};

struct Destination {
    jpeg_destination_mgr pub;
    ImageStream* stream;
    JOCTET* buffer;
};

[[noreturn]] void ErrorExit(j_common_ptr cinfo) {
    auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
    char text[JMSG_LENGTH_MAX];
    (*cinfo->err->format_message)(cinfo, text);
    std::snprintf(err->message, err->messageSize, "%s", text);
    std::longjmp(err->recovery, 1);
}

void InitDestination(j_compress_ptr cinfo) {
    auto* dest = reinterpret_cast<Destination*>(cinfo->dest);
    dest->pub.next_output_byte = dest->buffer;
    dest->pub.free_in_buffer = kOutputBufferSize;
}

boolean EmptyOutputBuffer(j_compress_ptr cinfo) {
    auto* dest = reinterpret_cast<Destination*>(cinfo->dest);
    if (dest->stream->Write(dest->buffer, 1, kOutputBufferSize) < kOutputBufferSize)
        ERREXIT(cinfo, JERR_FILE_WRITE);
    dest->pub.next_output_byte = dest->buffer;
    dest->pub.free_in_buffer = kOutputBufferSize;
    return TRUE;
}

void TermDestination(j_compress_ptr cinfo) {
    auto* dest = reinterpret_cast<Destination*>(cinfo->dest);
    const size_t pending = kOutputBufferSize - dest->pub.free_in_buffer;
    // A short write is as much a failure as none at all: the file would end early.
    if (pending > 0 && dest->stream->Write(dest->buffer, 1, pending) != pending)
        ERREXIT(cinfo, JERR_FILE_WRITE);
    dest->stream->Flush();
    if (dest->stream->HasError()) ERREXIT(cinfo, JERR_FILE_WRITE);
}

// Everything touched after a longjmp lives in these structs (memory, not
// registers), so nothing here needs to be volatile.
struct Session {
    jpeg_compress_struct cinfo;
    ErrorManager err;
    Destination dest;
};

bool Run(Session& s, const JpegEncodeParams& p, JpegRowSource source, void* context) {
    jpeg_compress_struct& cinfo = s.cinfo;
    cinfo.image_width = p.width;
    cinfo.image_height = p.height;
    cinfo.input_components = p.grayInput ? 1 : 3;
    cinfo.in_color_space = p.grayInput ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&cinfo);
    if (p.options & kJpegArithmetic) cinfo.arith_code = TRUE;
    if (p.options & kJpegOptimize) cinfo.optimize_coding = TRUE;
    if (p.options & kJpegGrayscale) jpeg_set_colorspace(&cinfo, JCS_GRAYSCALE);
    if (p.options & kJpegSmoothing) cinfo.smoothing_factor = p.smoothing;
    jpeg_set_quality(&cinfo, p.quality, (p.options & kJpegBaseline) ? TRUE : FALSE);
    if (p.options & kJpegProgressive) jpeg_simple_progression(&cinfo);
    // comp_info holds MAX_COMPONENTS entries, so this is safe for gray output too.
    cinfo.comp_info[0].h_samp_factor = 2;
    cinfo.comp_info[0].v_samp_factor = 2;
    for (int c = 1; c <= 2; ++c) {
        cinfo.comp_info[c].h_samp_factor = 1;
        cinfo.comp_info[c].v_samp_factor = 1;
    }
    if (p.options & kJpegSampling422) {
        cinfo.comp_info[0].h_samp_factor = 2;
        cinfo.comp_info[0].v_samp_factor = 1;
    }
    if (p.options & kJpegSampling444) {
        cinfo.comp_info[0].h_samp_factor = 1;
        cinfo.comp_info[0].v_samp_factor = 1;
    }
    cinfo.density_unit = 1;
    cinfo.X_density = p.densityX;
    cinfo.Y_density = p.densityY;
    jpeg_start_compress(&cinfo, TRUE);
    JSAMPARRAY row = (*cinfo.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&cinfo), JPOOL_IMAGE,
                                                JDIMENSION(p.rowBytes + 8), 1);
    while (cinfo.next_scanline < cinfo.image_height) {
        source(context, cinfo.next_scanline, row[0]);
        jpeg_write_scanlines(&cinfo, row, 1);
    }
    jpeg_finish_compress(&cinfo);
    return true;
}

} // namespace

bool JpegCompress(ImageStream* stream, const JpegEncodeParams& params, JpegRowSource source,
                  void* context, char* error, size_t errorSize) {
    auto* s = static_cast<Session*>(std::calloc(1, sizeof(Session)));
    if (!s) {
        std::snprintf(error, errorSize, "%s", "Insufficient memory");
        return false;
    }
    s->cinfo.err = jpeg_std_error(&s->err.pub);
    s->err.pub.error_exit = ErrorExit;
    s->err.message = error;
    s->err.messageSize = errorSize;
    bool ok = false;
    if (setjmp(s->err.recovery) == 0) {
        jpeg_CreateCompress(&s->cinfo, 62, sizeof(jpeg_compress_struct));
        s->dest.stream = stream;
        s->dest.buffer = static_cast<JOCTET*>(std::malloc(kOutputBufferSize));
        if (!s->dest.buffer) ERREXIT(&s->cinfo, JERR_OUT_OF_MEMORY);
        s->dest.pub.init_destination = InitDestination;
        s->dest.pub.empty_output_buffer = EmptyOutputBuffer;
        s->dest.pub.term_destination = TermDestination;
        s->cinfo.dest = &s->dest.pub;
        ok = Run(*s, params, source, context);
    }
    jpeg_destroy_compress(&s->cinfo);
    std::free(s->dest.buffer);
    std::free(s);
    return ok;
}
