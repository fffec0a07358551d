#include "OpenJpegGlue.h"

#include "ImageStream.h"

#include <openjpeg.h>

#include <new>
#include <thread>
#include <vector>

namespace {

struct StreamContext {
    ImageStream* stream;
    int64_t base; // where the file starts in the toolkit stream
};

OPJ_SIZE_T WriteBytes(void* buffer, OPJ_SIZE_T count, void* user) {
    auto* ctx = static_cast<StreamContext*>(user);
    // A short count would make OpenJPEG retry forever; -1 makes it give up.
    if (ctx->stream->Write(buffer, 1, count) != count) return OPJ_SIZE_T(-1);
    return count;
}

OPJ_OFF_T SkipBytes(OPJ_OFF_T count, void* user) {
    auto* ctx = static_cast<StreamContext*>(user);
    return ctx->stream->Seek(count, 1) ? count : OPJ_OFF_T(-1);
}

OPJ_BOOL SeekTo(OPJ_OFF_T position, void* user) {
    auto* ctx = static_cast<StreamContext*>(user);
    return ctx->stream->Seek(ctx->base + position, 0) ? OPJ_TRUE : OPJ_FALSE;
}

void Quiet(const char*, void*) {}

constexpr uint32_t kTileSize = 512;

// OpenJPEG refuses more decomposition levels than the smaller side can halve.
int Resolutions(uint32_t width, uint32_t height) {
    const uint32_t side = width < height ? width : height;
    int n = 6;
    while (n > 1 && (side >> (n - 1)) == 0) --n;
    return n;
}

} // namespace

const char* J2kEncode(ImageStream* stream, const J2kEncodeParams& p, J2kRowSource source,
                      void* context) {
    opj_codec_t* codec = opj_create_compress(p.codestream ? OPJ_CODEC_J2K : OPJ_CODEC_JP2);
    if (!codec) return "cannot initialize jasper";
    opj_set_info_handler(codec, Quiet, nullptr);
    opj_set_warning_handler(codec, Quiet, nullptr);
    opj_set_error_handler(codec, Quiet, nullptr);

    StreamContext ctx{stream, stream->Tell()};
    opj_stream_t* out = opj_stream_create(OPJ_J2K_STREAM_CHUNK_SIZE, OPJ_FALSE);
    if (!out) {
        opj_destroy_codec(codec);
        return "error: cannot open standard output";
    }
    opj_stream_set_user_data(out, &ctx, nullptr);
    opj_stream_set_write_function(out, WriteBytes);
    opj_stream_set_skip_function(out, SkipBytes);
    opj_stream_set_seek_function(out, SeekTo);

    opj_image_cmptparm_t parts[3] = {};
    for (int c = 0; c < p.components; ++c) {
        parts[c].dx = parts[c].dy = 1;
        parts[c].w = p.width;
        parts[c].h = p.height;
        parts[c].prec = 8;
        parts[c].sgnd = 0;
    }
    // The samples go in tile by tile: a page never sits in OpenJPEG's memory
    // as a whole (a 600 dpi colour page would be over 400 MB of it).
    opj_image_t* image = opj_image_tile_create(
        OPJ_UINT32(p.components), parts, p.components == 1 ? OPJ_CLRSPC_GRAY : OPJ_CLRSPC_SRGB);
    const char* failure = nullptr;
    if (!image) {
        failure = "error : jas_image_create";
    } else {
        image->x0 = image->y0 = 0;
        image->x1 = p.width;
        image->y1 = p.height;
        const uint32_t tile = kTileSize;
        opj_cparameters_t params;
        opj_set_default_encoder_parameters(&params);
        params.tcp_numlayers = 1;
        params.cp_disto_alloc = 1;
        params.tcp_rates[0] = (p.rate > 0.0 && p.rate < 1.0) ? float(1.0 / p.rate) : 0.0f;
        params.tile_size_on = OPJ_TRUE;
        params.cp_tdx = params.cp_tdy = int(tile);
        params.numresolution =
            Resolutions(p.width < tile ? p.width : tile, p.height < tile ? p.height : tile);
        params.tcp_mct = p.components == 3 ? 1 : 0;
        // Code blocks are independent; OpenJPEG spreads them over the cores
        // by itself, and the output is the same with any number of threads.
        const unsigned cores = std::thread::hardware_concurrency();
        bool ok = opj_setup_encoder(codec, &params, image) &&
                  (cores <= 1 || opj_codec_set_threads(codec, int(cores))) &&
                  opj_start_compress(codec, image, out);
        std::vector<uint8_t> buffer;
        if (ok) {
            try {
                buffer.resize(size_t(tile) * tile * size_t(p.components));
            } catch (const std::bad_alloc&) {
                failure = "error : can't allocate memory";
                ok = false;
            }
        }
        const uint32_t across = (p.width + tile - 1) / tile;
        const uint32_t down = (p.height + tile - 1) / tile;
        for (uint32_t ty = 0; ok && ty < down; ++ty) {
            for (uint32_t tx = 0; ok && tx < across; ++tx) {
                const uint32_t x0 = tx * tile, y0 = ty * tile;
                const uint32_t w = p.width - x0 < tile ? p.width - x0 : tile;
                const uint32_t h = p.height - y0 < tile ? p.height - y0 : tile;
                // Planar within the tile: all of component 0, then 1, then 2.
                uint8_t* rows[3] = {};
                for (uint32_t r = 0; r < h; ++r) {
                    for (int c = 0; c < p.components; ++c)
                        rows[c] = buffer.data() + size_t(c) * w * h + size_t(r) * w;
                    source(context, y0 + r, x0, w, rows);
                }
                ok = opj_write_tile(codec, ty * across + tx, buffer.data(),
                                    OPJ_UINT32(size_t(w) * h * size_t(p.components)), out);
            }
        }
        if (ok) ok = opj_end_compress(codec, out);
        if (!ok && !failure) failure = "error: cannot encode image";
    }
    opj_stream_destroy(out);
    opj_destroy_codec(codec);
    if (image) opj_image_destroy(image);
    if (!failure && stream->HasError()) failure = "error: cannot encode image";
    return failure;
}
