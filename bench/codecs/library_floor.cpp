// The fastest a program can write a BMP page as JPEG 2000 or LZW TIFF with the
// same libraries the toolkit uses: libopenjp2 and libtiff called directly, with
// the settings that measured fastest here. peers.sh times it as the floor our
// writers are held to.
//
//   library_floor jp2|j2k <in.bmp> <out>   lossless, 512-pixel tiles, all cores
//   library_floor lzw <in.bmp> <out.tif>   LZW (horizontal predictor from 8 bits)
//   library_floor jpeg <in.bmp> <out.tif>  JPEG at quality 75 of a 24-bit page,
//                                          YCbCr without subsampling, as ours
//
// Reads uncompressed bottom-up BMP files of 4, 8 or 24 bits, as the
// bench_writers pages are. Exit status 0 on success.
#include <openjpeg.h>
#include <tiffio.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Bmp {
    uint32_t width = 0, height = 0, bits = 0, stride = 0;
    std::vector<uint8_t> palette; // 4 bytes an entry: blue, green, red, 0
    std::vector<uint8_t> rows;    // bottom-up, as stored
    const uint8_t* Row(uint32_t top) const {
        return rows.data() + size_t(height - 1 - top) * stride;
    }
};

uint32_t Le32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

bool ReadBmp(const char* path, Bmp& bmp) {
    FILE* f = std::fopen(path, "rb");
    if (!f) return false;
    uint8_t head[54];
    bool ok = std::fread(head, 1, 54, f) == 54 && head[0] == 'B' && head[1] == 'M';
    if (ok) {
        bmp.width = Le32(head + 18);
        bmp.height = Le32(head + 22);
        bmp.bits = head[28] | head[29] << 8;
        bmp.stride = ((bmp.width * bmp.bits + 31) / 32) * 4;
        const uint32_t offset = Le32(head + 10);
        bmp.palette.resize(offset > 54 ? offset - 54 : 0);
        bmp.rows.resize(size_t(bmp.stride) * bmp.height);
        ok = (bmp.bits == 4 || bmp.bits == 8 || bmp.bits == 24) && Le32(head + 30) == 0 &&
             std::fread(bmp.palette.data(), 1, bmp.palette.size(), f) == bmp.palette.size() &&
             std::fread(bmp.rows.data(), 1, bmp.rows.size(), f) == bmp.rows.size();
    }
    std::fclose(f);
    return ok;
}

bool IsGrayRamp(const Bmp& bmp) {
    if (bmp.bits != 8 || bmp.palette.size() < 1024) return false;
    for (int i = 0; i < 256; ++i)
        if (bmp.palette[4 * i] != i || bmp.palette[4 * i + 1] != i || bmp.palette[4 * i + 2] != i)
            return false;
    return true;
}

OPJ_SIZE_T FileWrite(void* buffer, OPJ_SIZE_T count, void* user) {
    return std::fwrite(buffer, 1, count, static_cast<FILE*>(user)) == count ? count
                                                                            : OPJ_SIZE_T(-1);
}
OPJ_OFF_T FileSkip(OPJ_OFF_T count, void* user) {
    return std::fseek(static_cast<FILE*>(user), long(count), SEEK_CUR) == 0 ? count : -1;
}
OPJ_BOOL FileSeek(OPJ_OFF_T at, void* user) {
    return std::fseek(static_cast<FILE*>(user), long(at), SEEK_SET) == 0;
}

bool WriteJ2k(const Bmp& bmp, const char* path, bool codestream) {
    const bool gray = IsGrayRamp(bmp);
    if (bmp.bits != 24 && !gray) return false;
    const int comps = gray ? 1 : 3;
    FILE* f = std::fopen(path, "wb");
    if (!f) return false;
    opj_codec_t* codec = opj_create_compress(codestream ? OPJ_CODEC_J2K : OPJ_CODEC_JP2);
    opj_stream_t* out = opj_stream_create(OPJ_J2K_STREAM_CHUNK_SIZE, OPJ_FALSE);
    opj_stream_set_user_data(out, f, nullptr);
    opj_stream_set_write_function(out, FileWrite);
    opj_stream_set_skip_function(out, FileSkip);
    opj_stream_set_seek_function(out, FileSeek);
    opj_image_cmptparm_t parts[3] = {};
    for (int c = 0; c < comps; ++c) {
        parts[c].dx = parts[c].dy = 1;
        parts[c].w = bmp.width;
        parts[c].h = bmp.height;
        parts[c].prec = 8;
    }
    opj_image_t* image =
        opj_image_tile_create(comps, parts, gray ? OPJ_CLRSPC_GRAY : OPJ_CLRSPC_SRGB);
    image->x1 = bmp.width;
    image->y1 = bmp.height;
    const uint32_t tile = 512;
    opj_cparameters_t params;
    opj_set_default_encoder_parameters(&params);
    params.tcp_numlayers = 1;
    params.cp_disto_alloc = 1;
    params.tile_size_on = OPJ_TRUE;
    params.cp_tdx = params.cp_tdy = int(tile);
    params.tcp_mct = comps == 3 ? 1 : 0;
    bool ok = opj_setup_encoder(codec, &params, image) &&
              opj_codec_set_threads(codec, int(std::thread::hardware_concurrency())) &&
              opj_start_compress(codec, image, out);
    std::vector<uint8_t> buffer(size_t(tile) * tile * comps);
    const uint32_t across = (bmp.width + tile - 1) / tile, down = (bmp.height + tile - 1) / tile;
    for (uint32_t ty = 0; ok && ty < down; ++ty) {
        for (uint32_t tx = 0; ok && tx < across; ++tx) {
            const uint32_t x0 = tx * tile, y0 = ty * tile;
            const uint32_t w = std::min(tile, bmp.width - x0), h = std::min(tile, bmp.height - y0);
            for (uint32_t r = 0; r < h; ++r) {
                const uint8_t* in = bmp.Row(y0 + r) + size_t(x0) * (gray ? 1 : 3);
                uint8_t* p0 = buffer.data() + size_t(r) * w;
                if (gray) {
                    std::memcpy(p0, in, w);
                    continue;
                }
                uint8_t* p1 = p0 + size_t(w) * h;
                uint8_t* p2 = p1 + size_t(w) * h;
                for (uint32_t x = 0; x < w; ++x, in += 3) {
                    p0[x] = in[2];
                    p1[x] = in[1];
                    p2[x] = in[0];
                }
            }
            ok = opj_write_tile(codec, ty * across + tx, buffer.data(),
                                OPJ_UINT32(size_t(w) * h * comps), out);
        }
    }
    ok = ok && opj_end_compress(codec, out);
    opj_stream_destroy(out);
    opj_destroy_codec(codec);
    opj_image_destroy(image);
    return std::fclose(f) == 0 && ok;
}

bool WriteLzw(const Bmp& bmp, const char* path) {
    TIFF* tif = TIFFOpen(path, "w");
    if (!tif) return false;
    const bool rgb = bmp.bits == 24;
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, bmp.width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, bmp.height);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, rgb ? 3 : 1);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, rgb ? 8 : bmp.bits);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, rgb ? PHOTOMETRIC_RGB : PHOTOMETRIC_PALETTE);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
    if (bmp.bits >= 8) TIFFSetField(tif, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
    if (!rgb) {
        std::vector<uint16_t> map(3 * 256, 0);
        for (size_t i = 0; i < bmp.palette.size() / 4 && i < (1u << bmp.bits); ++i) {
            map[i] = uint16_t(bmp.palette[4 * i + 2] * 257);
            map[256 + i] = uint16_t(bmp.palette[4 * i + 1] * 257);
            map[512 + i] = uint16_t(bmp.palette[4 * i] * 257);
        }
        TIFFSetField(tif, TIFFTAG_COLORMAP, map.data(), map.data() + 256, map.data() + 512);
    }
    // 32 to 128 rows of a colour page measured best for both time and size.
    const tmsize_t rowBytes = TIFFScanlineSize(tif);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, std::max<uint32_t>(1, uint32_t(256 * 1024 / rowBytes)));
    std::vector<uint8_t> row(static_cast<size_t>(rowBytes));
    bool ok = true;
    for (uint32_t top = 0; ok && top < bmp.height; ++top) {
        const uint8_t* in = bmp.Row(top);
        if (rgb) {
            for (uint32_t x = 0; x < bmp.width; ++x) {
                row[3 * x] = in[3 * x + 2];
                row[3 * x + 1] = in[3 * x + 1];
                row[3 * x + 2] = in[3 * x];
            }
        } else {
            std::memcpy(row.data(), in, row.size()); // the predictor works in place
        }
        ok = TIFFWriteScanline(tif, row.data(), top, 0) != -1;
    }
    TIFFClose(tif);
    return ok;
}

// libtiff's JPEG codec does the colour conversion itself (JPEGCOLORMODE_RGB).
bool WriteJpeg(const Bmp& bmp, const char* path) {
    if (bmp.bits != 24) return false;
    TIFF* tif = TIFFOpen(path, "w");
    if (!tif) return false;
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, bmp.width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, bmp.height);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_JPEG);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_YCBCR);
    TIFFSetField(tif, TIFFTAG_YCBCRSUBSAMPLING, uint16_t(1), uint16_t(1));
    TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
    TIFFSetField(tif, TIFFTAG_JPEGQUALITY, 75);
    const uint32_t rowsPerStrip = TIFFDefaultStripSize(tif, uint32_t(-1));
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, rowsPerStrip);
    std::vector<uint8_t> strip(size_t(3) * bmp.width * rowsPerStrip);
    bool ok = true;
    tstrip_t index = 0;
    for (uint32_t top = 0; ok && top < bmp.height; top += rowsPerStrip, ++index) {
        const uint32_t rows = std::min(rowsPerStrip, bmp.height - top);
        uint8_t* o = strip.data();
        for (uint32_t r = 0; r < rows; ++r) {
            const uint8_t* in = bmp.Row(top + r);
            for (uint32_t x = 0; x < bmp.width; ++x, o += 3) {
                o[0] = in[3 * x + 2];
                o[1] = in[3 * x + 1];
                o[2] = in[3 * x];
            }
        }
        ok = TIFFWriteEncodedStrip(tif, index, strip.data(), tmsize_t(3) * bmp.width * rows) != -1;
    }
    TIFFClose(tif);
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s jp2|j2k|lzw|jpeg in.bmp out\n", argv[0]);
        return 2;
    }
    const std::string mode = argv[1];
    Bmp bmp;
    if (!ReadBmp(argv[2], bmp)) return 1;
    if (mode == "jp2" || mode == "j2k") return WriteJ2k(bmp, argv[3], mode == "j2k") ? 0 : 1;
    if (mode == "lzw") return WriteLzw(bmp, argv[3]) ? 0 : 1;
    if (mode == "jpeg") return WriteJpeg(bmp, argv[3]) ? 0 : 1;
    return 2;
}
