#include "OpenJpegGlue.h"

#include "ImageStream.h"

#include <openjpeg.h>

#include <cstring>
#include <new>
#include <thread>
#include <vector>

namespace {

// Where the code stream goes: the toolkit stream, or a bounded memory block
// for a trial encoding.
struct Sink {
    ImageStream* stream = nullptr;
    int64_t base = 0; // where the file starts in the toolkit stream
    std::vector<uint8_t> bytes;
    size_t at = 0;
    size_t cap = 0;
};

// A short count would make OpenJPEG retry forever; -1 makes it give up.
OPJ_SIZE_T WriteBytes(void* buffer, OPJ_SIZE_T count, void* user) {
    auto* sink = static_cast<Sink*>(user);
    if (sink->stream) {
        if (sink->stream->Write(buffer, 1, count) != count) return OPJ_SIZE_T(-1);
        return count;
    }
    if (count > sink->cap - sink->at) return OPJ_SIZE_T(-1); // over the budget: give up early
    try {
        if (sink->at + count > sink->bytes.size()) sink->bytes.resize(sink->at + count);
    } catch (const std::bad_alloc&) {
        return OPJ_SIZE_T(-1); // the page is then coded straight onto the stream
    }
    std::memcpy(sink->bytes.data() + sink->at, buffer, count);
    sink->at += count;
    return count;
}

OPJ_OFF_T SkipBytes(OPJ_OFF_T count, void* user) {
    auto* sink = static_cast<Sink*>(user);
    if (sink->stream) return sink->stream->Seek(count, 1) ? count : OPJ_OFF_T(-1);
    if (count < 0 || size_t(count) > sink->cap - sink->at) return OPJ_OFF_T(-1);
    try {
        if (sink->at + size_t(count) > sink->bytes.size())
            sink->bytes.resize(sink->at + size_t(count));
    } catch (const std::bad_alloc&) {
        return OPJ_OFF_T(-1);
    }
    sink->at += size_t(count);
    return count;
}

OPJ_BOOL SeekTo(OPJ_OFF_T position, void* user) {
    auto* sink = static_cast<Sink*>(user);
    if (sink->stream) return sink->stream->Seek(sink->base + position, 0) ? OPJ_TRUE : OPJ_FALSE;
    if (position < 0 || size_t(position) > sink->bytes.size()) return OPJ_FALSE;
    sink->at = size_t(position);
    return OPJ_TRUE;
}

void Quiet(const char*, void*) {}

constexpr uint32_t kTileSize = 512;
// The trial's stream buffer: what a tile has written is known to within this.
constexpr OPJ_SIZE_T kTrialChunk = 4096;

// OpenJPEG refuses more decomposition levels than the smaller side can halve.
int Resolutions(uint32_t width, uint32_t height) {
    const uint32_t side = width < height ? width : height;
    int n = 6;
    while (n > 1 && (side >> (n - 1)) == 0) --n;
    return n;
}

enum class Outcome { Written, OverBudget, Failed };

// One encoding of the page into sink. With limits, every tile must come out
// under its share of the target size (limit[tile] bytes); a tile over it ends
// the attempt as OverBudget.
Outcome EncodeOnce(Sink& sink, const J2kEncodeParams& p, double ratio, J2kRowSource source,
                   void* context, const std::vector<size_t>* limits, const char*& failure) {
    opj_codec_t* codec = opj_create_compress(p.codestream ? OPJ_CODEC_J2K : OPJ_CODEC_JP2);
    if (!codec) {
        failure = "cannot initialize jasper";
        return Outcome::Failed;
    }
    opj_set_info_handler(codec, Quiet, nullptr);
    opj_set_warning_handler(codec, Quiet, nullptr);
    opj_set_error_handler(codec, Quiet, nullptr);

    opj_stream_t* out =
        opj_stream_create(limits ? kTrialChunk : OPJ_J2K_STREAM_CHUNK_SIZE, OPJ_FALSE);
    if (!out) {
        opj_destroy_codec(codec);
        failure = "error: cannot open standard output";
        return Outcome::Failed;
    }
    opj_stream_set_user_data(out, &sink, nullptr);
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
    Outcome outcome = Outcome::Written;
    if (!image) {
        failure = "error : jas_image_create";
        outcome = Outcome::Failed;
    } else {
        image->x0 = image->y0 = 0;
        image->x1 = p.width;
        image->y1 = p.height;
        const uint32_t tile = kTileSize;
        opj_cparameters_t params;
        opj_set_default_encoder_parameters(&params);
        params.tcp_numlayers = 1;
        params.cp_disto_alloc = 1;
        params.tcp_rates[0] = float(ratio);
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
        size_t before = sink.at;
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
                if (limits) {
                    // Up to a chunk of this tile may still sit in OpenJPEG's buffer.
                    const size_t most = sink.at + kTrialChunk - before;
                    if (!ok || most > (*limits)[ty * across + tx]) {
                        outcome = Outcome::OverBudget;
                        ok = false;
                    }
                    before = sink.at;
                }
            }
        }
        if (ok) ok = opj_end_compress(codec, out);
        if (!ok && outcome == Outcome::Written) {
            outcome = limits ? Outcome::OverBudget : Outcome::Failed;
            if (!limits && !failure) failure = "error: cannot encode image";
        }
    }
    opj_stream_destroy(out);
    opj_destroy_codec(codec);
    if (image) opj_image_destroy(image);
    return outcome;
}

// Each tile's share of the target size, with a tenth kept back for the
// headers OpenJPEG counts against it.
std::vector<size_t> TileLimits(const J2kEncodeParams& p, double ratio) {
    std::vector<size_t> limits;
    for (uint32_t y0 = 0; y0 < p.height; y0 += kTileSize) {
        for (uint32_t x0 = 0; x0 < p.width; x0 += kTileSize) {
            const uint32_t w = p.width - x0 < kTileSize ? p.width - x0 : kTileSize;
            const uint32_t h = p.height - y0 < kTileSize ? p.height - y0 : kTileSize;
            limits.push_back(size_t(0.9 * double(w) * h * p.components / ratio));
        }
    }
    return limits;
}

} // namespace

const char* J2kEncode(ImageStream* stream, const J2kEncodeParams& p, J2kRowSource source,
                      void* context) {
    const double ratio = (p.rate > 0.0 && p.rate < 1.0) ? float(1.0 / p.rate) : 0.0;
    const char* failure = nullptr;
    // A printed page nearly always codes losslessly far under the target
    // size, and then fitting it to the rate costs a third of the time and
    // drops nothing. So such a page is first coded losslessly into memory;
    // only when a tile comes near its share of the target is the page coded
    // again under the rate, as it always was.
    if (ratio > 0.0) {
        const std::vector<size_t> limits = TileLimits(p, ratio);
        Sink trial;
        trial.cap = 0;
        for (size_t limit : limits) trial.cap += limit;
        const Outcome outcome = EncodeOnce(trial, p, 0.0, source, context, &limits, failure);
        if (outcome == Outcome::Failed) return failure;
        if (outcome == Outcome::Written) {
            if (stream->Write(trial.bytes.data(), 1, trial.bytes.size()) != trial.bytes.size() ||
                stream->HasError())
                return "error: cannot encode image";
            return nullptr;
        }
    }
    Sink direct;
    direct.stream = stream;
    direct.base = stream->Tell();
    if (EncodeOnce(direct, p, ratio, source, context, nullptr, failure) != Outcome::Written)
        return failure ? failure : "error: cannot encode image";
    if (stream->HasError()) return "error: cannot encode image";
    return nullptr;
}
