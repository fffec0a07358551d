#include "ScoreImage.h"

#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

namespace render_score {

namespace {

constexpr int kDark = 160;

uint32_t Le32(const uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t(p[3]) << 24);
}
uint16_t Le16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

bool LoadBmp(const std::vector<uint8_t>& f, Image& img, std::string& error) {
    if (f.size() < 54 || f[0] != 'B' || f[1] != 'M') return error = "not a BMP file", false;
    uint32_t offset = Le32(&f[10]);
    uint32_t header = Le32(&f[14]);
    int32_t w = static_cast<int32_t>(Le32(&f[18]));
    int32_t h = static_cast<int32_t>(Le32(&f[22]));
    int bpp = Le16(&f[28]);
    uint32_t compression = Le32(&f[30]);
    if (w <= 0 || h == 0 || w > 100000 || std::abs(h) > 100000)
        return error = "bad BMP size", false;
    if (compression != 0 && compression != 3) return error = "compressed BMP", false;
    if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 24 && bpp != 32)
        return error = "unsupported BMP depth", false;
    bool topDown = h < 0;
    int height = std::abs(h);
    size_t stride = ((size_t(w) * bpp + 31) / 32) * 4;
    if (offset > f.size() || stride * height > f.size() - offset)
        return error = "truncated BMP", false;
    const uint8_t* palette = &f[14 + header];
    img.width = w;
    img.height = height;
    img.rgb.assign(size_t(w) * height * 3, 255);
    for (int y = 0; y < height; ++y) {
        const uint8_t* row = &f[offset + stride * (topDown ? y : height - 1 - y)];
        uint8_t* out = &img.rgb[size_t(y) * w * 3];
        for (int x = 0; x < w; ++x) {
            if (bpp >= 24) {
                const uint8_t* p = row + x * (bpp / 8);
                out[x * 3] = p[2], out[x * 3 + 1] = p[1], out[x * 3 + 2] = p[0];
            } else {
                int index = 0;
                if (bpp == 8)
                    index = row[x];
                else if (bpp == 4)
                    index = (row[x / 2] >> (x % 2 ? 0 : 4)) & 15;
                else
                    index = (row[x / 8] >> (7 - x % 8)) & 1;
                const uint8_t* p = palette + index * 4;
                if (p + 3 > f.data() + f.size()) return error = "bad BMP palette", false;
                out[x * 3] = p[2], out[x * 3 + 1] = p[1], out[x * 3 + 2] = p[0];
            }
        }
    }
    return true;
}

bool LoadPng(const std::string& path, Image& img, std::string& error) {
    png_image png;
    std::memset(&png, 0, sizeof png);
    png.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&png, path.c_str())) {
        error = png.message;
        return false;
    }
    png.format = PNG_FORMAT_RGB;
    img.width = static_cast<int>(png.width);
    img.height = static_cast<int>(png.height);
    img.rgb.resize(PNG_IMAGE_SIZE(png));
    if (!png_image_finish_read(&png, nullptr, img.rgb.data(), 0, nullptr)) {
        error = png.message;
        png_image_free(&png);
        return false;
    }
    return true;
}

// Marks every pixel within one pixel of a dark pixel.
std::vector<uint8_t> DarkNear(const std::vector<uint8_t>& dark, int w, int h) {
    std::vector<uint8_t> rows(dark.size(), 0), near(dark.size(), 0);
    for (int y = 0; y < h; ++y) {
        const uint8_t* d = &dark[size_t(y) * w];
        uint8_t* r = &rows[size_t(y) * w];
        for (int x = 0; x < w; ++x)
            r[x] = d[x] | (x > 0 ? d[x - 1] : 0) | (x + 1 < w ? d[x + 1] : 0);
    }
    for (int y = 0; y < h; ++y) {
        uint8_t* n = &near[size_t(y) * w];
        const uint8_t* r = &rows[size_t(y) * w];
        const uint8_t* up = y > 0 ? r - w : nullptr;
        const uint8_t* down = y + 1 < h ? r + w : nullptr;
        for (int x = 0; x < w; ++x) n[x] = r[x] | (up ? up[x] : 0) | (down ? down[x] : 0);
    }
    return near;
}

} // namespace

bool LoadImage(const std::string& path, Image& image, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return error = "cannot open " + path, false;
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
    if (bytes.size() >= 8 && png_sig_cmp(bytes.data(), 0, 8) == 0)
        return LoadPng(path, image, error);
    return LoadBmp(bytes, image, error);
}

bool SavePng(const std::string& path, const Image& image) {
    png_image png;
    std::memset(&png, 0, sizeof png);
    png.version = PNG_IMAGE_VERSION;
    png.width = image.width;
    png.height = image.height;
    png.format = PNG_FORMAT_RGB;
    return png_image_write_to_file(&png, path.c_str(), 0, image.rgb.data(), 0, nullptr) != 0;
}

Score ScorePages(const Image& ours, const Image& ref) {
    int w = std::max(ours.width, ref.width);
    int h = std::max(ours.height, ref.height);
    Score score;
    if (w == 0 || h == 0) return score.ink = score.tone = 1, score;
    auto gray = [&](const Image& img, int x, int y) -> int {
        return (x < img.width && y < img.height) ? img.Gray(x, y) : 255;
    };
    std::vector<uint8_t> darkA(size_t(w) * h), darkB(size_t(w) * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            darkA[size_t(y) * w + x] = gray(ours, x, y) < kDark;
            darkB[size_t(y) * w + x] = gray(ref, x, y) < kDark;
        }
    auto nearA = DarkNear(darkA, w, h), nearB = DarkNear(darkB, w, h);
    size_t countA = 0, countB = 0, hitA = 0, hitB = 0;
    for (size_t i = 0; i < darkA.size(); ++i) {
        if (darkA[i]) ++countA, hitA += nearB[i];
        if (darkB[i]) ++countB, hitB += nearA[i];
    }
    if (countA == 0 && countB == 0) {
        score.ink = 1;
    } else if (countA == 0 || countB == 0) {
        score.ink = 0;
    } else {
        double precision = double(hitA) / countA, recall = double(hitB) / countB;
        score.ink = precision + recall > 0 ? 2 * precision * recall / (precision + recall) : 0;
    }

    // Tone over 8 x 8 block means of each colour channel.
    double diff = 0, range = 0;
    for (int by = 0; by < h; by += 8)
        for (int bx = 0; bx < w; bx += 8)
            for (int c = 0; c < 3; ++c) {
                double sa = 0, sb = 0;
                int n = 0;
                for (int y = by; y < std::min(by + 8, h); ++y)
                    for (int x = bx; x < std::min(bx + 8, w); ++x) {
                        sa += (x < ours.width && y < ours.height)
                                  ? ours.rgb[(size_t(y) * ours.width + x) * 3 + c]
                                  : 255;
                        sb += (x < ref.width && y < ref.height)
                                  ? ref.rgb[(size_t(y) * ref.width + x) * 3 + c]
                                  : 255;
                        ++n;
                    }
                double ma = sa / n, mb = sb / n;
                diff += std::fabs(ma - mb);
                range += std::max(255 - ma, 255 - mb);
            }
    score.tone = range > 0 ? 1 - diff / range : 1;
    return score;
}

namespace {

std::vector<double> Profile(const Image& img, bool rows) {
    std::vector<double> p(size_t(rows ? img.height : img.width), 0);
    for (int y = 0; y < img.height; ++y)
        for (int x = 0; x < img.width; ++x) p[size_t(rows ? y : x)] += 255 - img.Gray(x, y);
    return p;
}

int BestShift(const std::vector<double>& a, const std::vector<double>& b, int range) {
    int best = 0;
    double bestErr = -1;
    for (int s = -range; s <= range; ++s) {
        double err = 0;
        for (size_t i = 0; i < a.size(); ++i) {
            long j = long(i) - s;
            double vb = (j >= 0 && size_t(j) < b.size()) ? b[size_t(j)] : 0;
            err += (a[i] - vb) * (a[i] - vb);
        }
        if (bestErr < 0 || err < bestErr) bestErr = err, best = s;
    }
    return best;
}

} // namespace

Image Shift(const Image& in, int dx, int dy) {
    Image out;
    out.width = in.width;
    out.height = in.height;
    out.rgb.assign(in.rgb.size(), 255);
    for (int y = 0; y < in.height; ++y) {
        int sy = y - dy;
        if (sy < 0 || sy >= in.height) continue;
        int x0 = std::max(0, dx), x1 = std::min(in.width, in.width + dx);
        if (x1 <= x0) continue;
        std::copy_n(&in.rgb[(size_t(sy) * in.width + (x0 - dx)) * 3], size_t(x1 - x0) * 3,
                    &out.rgb[(size_t(y) * in.width + x0) * 3]);
    }
    return out;
}

Alignment ScoreAligned(const Image& ours, const Image& ref, int range) {
    Alignment best;
    best.dx = BestShift(Profile(ours, false), Profile(ref, false), range);
    best.dy = BestShift(Profile(ours, true), Profile(ref, true), range);
    // Undo our shift so the comparison happens in the reference's place.
    auto at = [&](int sx, int sy) { return ScorePages(Shift(ours, -sx, -sy), ref); };
    best.score = at(best.dx, best.dy);
    // The profiles can be a pixel off: step to a better neighbour, one axis
    // at a time.
    for (int axis = 0; axis < 2; ++axis)
        for (int step : {-1, 1}) {
            int sx = best.dx + (axis == 0 ? step : 0), sy = best.dy + (axis == 1 ? step : 0);
            if (std::abs(sx) > range || std::abs(sy) > range) continue;
            Score s = at(sx, sy);
            if (s.Total() > best.score.Total()) {
                best.dx = sx;
                best.dy = sy;
                best.score = s;
                break;
            }
        }
    return best;
}

Image Reduce(const Image& img, int factor) {
    Image out;
    if (factor < 1) factor = 1;
    out.width = (img.width + factor - 1) / factor;
    out.height = (img.height + factor - 1) / factor;
    out.rgb.assign(size_t(out.width) * out.height * 3, 255);
    for (int y = 0; y < out.height; ++y)
        for (int x = 0; x < out.width; ++x)
            for (int c = 0; c < 3; ++c) {
                int sum = 0, n = 0;
                for (int sy = y * factor; sy < std::min((y + 1) * factor, img.height); ++sy)
                    for (int sx = x * factor; sx < std::min((x + 1) * factor, img.width); ++sx)
                        sum += img.rgb[(size_t(sy) * img.width + sx) * 3 + c], ++n;
                out.rgb[(size_t(y) * out.width + x) * 3 + c] =
                    static_cast<uint8_t>(n ? sum / n : 255);
            }
    return out;
}

} // namespace render_score
