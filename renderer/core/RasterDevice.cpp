#include "core/RasterDevice.h"

#include "core/Stroke.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace tarvik {

namespace {

// T = (D & a) | (~D & b) per channel: any ROP3 with S and P fixed is a
// bitwise choice between two constants, which makes span fills cheap. The
// channels are in the raster's byte order (B, G, R).
struct RopConst {
    uint8_t a[3], b[3];
    bool constant; // T does not depend on D
};

RopConst MakeRopConst(uint8_t rop, Color s, Color p) {
    RopConst r{};
    uint8_t sc[3] = {s.b, s.g, s.r}, pc[3] = {p.b, p.g, p.r};
    r.constant = true;
    for (int i = 0; i < 3; ++i) {
        r.a[i] = ApplyRop3(rop, 0xFF, sc[i], pc[i]);
        r.b[i] = ApplyRop3(rop, 0x00, sc[i], pc[i]);
        if (r.a[i] != r.b[i]) r.constant = false;
    }
    return r;
}

// A tile's results for S = black under one operation.
struct PatternTables {
    std::vector<RopConst> consts;
    std::vector<uint8_t> skip; // transparent white: the page stays
};

inline void ApplyConst(uint8_t* px, const RopConst& r) {
    for (int i = 0; i < 3; ++i) px[i] = uint8_t((px[i] & r.a[i]) | (~px[i] & r.b[i]));
}

// A null paint under an operation that reads P: the object has no effect.
bool Invisible(const Paint& paint, const RasterOp& op) {
    return paint.kind == Paint::Kind::None && RopUsesPattern(op.rop3);
}

inline int FloorInt(double v) {
    return int(std::floor(std::clamp(v, -1e9, 1e9)));
}
inline int CeilInt(double v) {
    return int(std::ceil(std::clamp(v, -1e9, 1e9)));
}

IRect DeviceBox(const Rect& r) {
    return {FloorInt(r.x0), FloorInt(r.y0), CeilInt(r.x1), CeilInt(r.y1)};
}

// Pixel range [lo, hi] of x (centre x + 0.5) where lo <= alpha * (x + 0.5) + beta < hi
// holds, widened by one pixel on each side; callers recheck each pixel.
bool SolveRange(double alpha, double beta, double lo, double hi, int& xa, int& xb) {
    if (std::fabs(alpha) < 1e-15) {
        if (beta >= lo && beta < hi) return true; // every x
        xa = 1;
        xb = 0;
        return false;
    }
    double t0 = (lo - beta) / alpha, t1 = (hi - beta) / alpha;
    if (t0 > t1) std::swap(t0, t1);
    xa = std::max(xa, FloorInt(t0 - 0.5) - 1);
    xb = std::min(xb, CeilInt(t1 - 0.5) + 1);
    return true;
}

} // namespace

// Paints pixels with one paint through one raster operation.
class RasterDevice::Painter {
public:
    Painter(PageRaster& raster, const Paint& paint, const RasterOp& op, const Matrix& pageToDevice)
        : m_raster(raster), m_paint(Effective(paint, op)), m_op(op) {
        if (m_paint.kind == Paint::Kind::Pattern && m_paint.pattern && m_paint.pattern->Valid()) {
            ReduceFinePattern(pageToDevice);
            Matrix toDev = m_paint.pattern->patternToPage.Then(pageToDevice);
            m_patternOk = toDev.Invertible() && toDev.IsFinite();
            m_patInv = toDev.Inverse();
            if (m_patternOk) PreparePatternTables(op);
        } else {
            m_solid = MakeRopConst(op.rop3, kBlack, paint.color);
            m_skipAll = op.patternTransparent && paint.color.IsWhite();
        }
        m_sourceCopy = op.rop3 == 204 || (op.rop3 == 252 && paint.kind == Paint::Kind::Solid &&
                                          paint.color == kBlack);
        // A transparent white paint still masks the source.
        if (op.patternTransparent && (paint.kind != Paint::Kind::Solid || paint.color.IsWhite()))
            m_sourceCopy = false;
    }

    bool Usable() const {
        if (m_paint.kind == Paint::Kind::None) return false;
        if (m_paint.kind == Paint::Kind::Pattern) return m_patternOk;
        return true;
    }

    Color PatternAt(int x, int y) const {
        if (m_paint.kind != Paint::Kind::Pattern) return m_paint.color;
        const Pattern& p = *m_paint.pattern;
        double u = m_patInv.a * (x + 0.5) + m_patInv.c * (y + 0.5) + m_patInv.e;
        double v = m_patInv.b * (x + 0.5) + m_patInv.d * (y + 0.5) + m_patInv.f;
        if (!std::isfinite(u) || !std::isfinite(v)) return kWhite;
        // Within the range of whole numbers a double holds exactly, the
        // floor's remainder is the remainder's floor (no fmod per pixel).
        if (std::fabs(u) < 1e15 && std::fabs(v) < 1e15) return p.pixels[PatternIndex(x, y)];
        int64_t iu = int64_t(std::floor(std::fmod(u, double(p.width))));
        int64_t iv = int64_t(std::floor(std::fmod(v, double(p.height))));
        if (iu < 0) iu += p.width;
        if (iv < 0) iv += p.height;
        iu = std::clamp<int64_t>(iu, 0, p.width - 1);
        iv = std::clamp<int64_t>(iv, 0, p.height - 1);
        return p.At(int(iu), int(iv));
    }

    // S = black over [x0, x1) of row y.
    void FillSpan(int y, int x0, int x1) {
        uint8_t* row = m_raster.Row(y);
        if (m_paint.kind == Paint::Kind::Solid) {
            if (m_skipAll) return;
            uint8_t* px = row + size_t(x0) * 3;
            if (m_solid.constant) {
                uint8_t c0 = m_solid.b[0], c1 = m_solid.b[1], c2 = m_solid.b[2];
                if (c0 == c1 && c1 == c2) {
                    std::memset(px, c0, size_t(x1 - x0) * 3);
                } else {
                    for (int x = x0; x < x1; ++x, px += 3) {
                        px[0] = c0;
                        px[1] = c1;
                        px[2] = c2;
                    }
                }
            } else {
                for (int x = x0; x < x1; ++x, px += 3) ApplyConst(px, m_solid);
            }
            return;
        }
        if (m_patConst) {
            FillPatternSpan(row, y, x0, x1);
            return;
        }
        for (int x = x0; x < x1; ++x) Put(row, x, y, kBlack);
    }

    // One pixel with source colour s.
    void Put(uint8_t* row, int x, int y, Color s) {
        uint8_t* px = row + size_t(x) * 3;
        bool white = s.IsWhite();
        if (white && m_op.sourceTransparent) return;
        if (m_sourceCopy) {
            px[0] = s.b;
            px[1] = s.g;
            px[2] = s.r;
            return;
        }
        if (m_paint.kind == Paint::Kind::Solid) {
            if (m_skipAll && !white) return;
            // Images repeat colours: keep the last source's constants.
            if (!m_haveLast || !(s == m_lastSource)) {
                m_last = MakeRopConst(m_op.rop3, s, m_paint.color);
                m_lastSource = s;
                m_haveLast = true;
            }
            ApplyConst(px, m_last);
            return;
        }
        if (s == kBlack && m_patConst) {
            // A stencil's set bit: the tables hold the result for S = black.
            size_t i = PatternIndex(x, y);
            if (!m_patSkip[i]) ApplyConst(px, m_patConst[i]);
            return;
        }
        Color d{px[2], px[1], px[0]};
        Color p = PatternAt(x, y);
        Color t = CombinePixel(m_op, d, s, p);
        px[0] = t.b;
        px[1] = t.g;
        px[2] = t.r;
    }

    // Whether PutRun gives the same pixels as Put: true when the result
    // depends only on the source and the page, not on the pixel position.
    bool RunsOk() const { return m_sourceCopy || m_paint.kind == Paint::Kind::Solid; }

    // Whether PutRun with source colour s changes anything.
    bool Paints(Color s) const {
        bool white = s.IsWhite();
        if (white && m_op.sourceTransparent) return false;
        return m_sourceCopy || !(m_skipAll && !white);
    }

    // Put over [x0, x1) of one row, all with source colour s (RunsOk only).
    void PutRun(uint8_t* row, int x0, int x1, Color s) {
        uint8_t* px = row + size_t(x0) * 3;
        size_t len = size_t(x1 - x0);
        bool white = s.IsWhite();
        if (white && m_op.sourceTransparent) return;
        if (m_sourceCopy) {
            Fill(px, len, s.b, s.g, s.r);
            return;
        }
        if (m_skipAll && !white) return;
        if (!m_haveLast || !(s == m_lastSource)) {
            m_last = MakeRopConst(m_op.rop3, s, m_paint.color);
            m_lastSource = s;
            m_haveLast = true;
        }
        if (m_last.constant) {
            Fill(px, len, m_last.b[0], m_last.b[1], m_last.b[2]);
        } else {
            for (size_t i = 0; i < len; ++i, px += 3) ApplyConst(px, m_last);
        }
    }

    // A partly covered pixel (downscaled masks): blends towards the result.
    void PutCoverage(uint8_t* row, int x, int y, int covered, int total) {
        uint8_t* px = row + size_t(x) * 3;
        Color d{px[2], px[1], px[0]};
        Color t;
        if (m_patConst) {
            // The tables hold the full-coverage result for S = black.
            size_t i = PatternIndex(x, y);
            if (m_patSkip[i]) return;
            uint8_t q[3] = {px[0], px[1], px[2]};
            ApplyConst(q, m_patConst[i]);
            t = {q[2], q[1], q[0]};
        } else {
            t = CombinePixel(m_op, d, kBlack, PatternAt(x, y));
        }
        // Division by total through a 32-bit reciprocal: exact for every
        // sum here (under 2^15), and this runs for every edge pixel of text.
        if (total != m_coverTotal) {
            m_coverTotal = total;
            m_coverScale = ((uint64_t(1) << 32) + uint64_t(total) - 1) / uint64_t(total);
        }
        auto mix = [&](uint8_t dv, uint8_t tv) {
            uint64_t sum = uint64_t(dv * (total - covered) + tv * covered + total / 2);
            return uint8_t((sum * m_coverScale) >> 32);
        };
        px[0] = mix(d.b, t.b);
        px[1] = mix(d.g, t.g);
        px[2] = mix(d.r, t.r);
    }

private:
    // Pattern tiles of up to this many pixels get one ROP constant per pixel
    // for a black source, so pattern fills cost a table look-up a pixel.
    static constexpr size_t kMaxTablePixels = 1 << 16;

    void PreparePatternTables(const RasterOp& op) {
        const Pattern& p = *m_paint.pattern;
        size_t n = size_t(p.width) * size_t(p.height);
        if (n > kMaxTablePixels) return;
        // Text under a pattern paints glyph by glyph with one tile: the
        // tables of the last tile and operation serve again.
        thread_local struct {
            std::shared_ptr<const Pattern> pattern;
            uint8_t rop = 0;
            bool transparent = false;
            std::shared_ptr<const PatternTables> tables;
        } last;
        // Callers often make a new tile object per call: compare contents.
        bool same = last.tables && last.rop == op.rop3 &&
                    last.transparent == op.patternTransparent &&
                    (last.pattern == m_paint.pattern ||
                     (last.pattern->width == p.width && last.pattern->height == p.height &&
                      last.pattern->pixels == p.pixels));
        if (!same) {
            auto t = std::make_shared<PatternTables>();
            t->consts.resize(n);
            t->skip.resize(n);
            // Tiles hold few colours: work each out once.
            Color colour = p.pixels[0];
            RopConst constant = MakeRopConst(op.rop3, kBlack, colour);
            for (size_t i = 0; i < n; ++i) {
                if (!(p.pixels[i] == colour)) {
                    colour = p.pixels[i];
                    constant = MakeRopConst(op.rop3, kBlack, colour);
                }
                t->consts[i] = constant;
                t->skip[i] = op.patternTransparent && colour.IsWhite();
            }
            last.pattern = m_paint.pattern;
            last.rop = op.rop3;
            last.transparent = op.patternTransparent;
            last.tables = std::move(t);
        }
        m_tables = last.tables;
        m_patConst = m_tables->consts.data();
        m_patSkip = m_tables->skip.data();
    }

    // A tile finer than the device (a 600 dpi pattern on a 150 dpi page) is
    // averaged down over blocks of whole tile pixels first: sampling one
    // tile pixel per device pixel would show an arbitrary few of them, and
    // a tile that shrinks to one device pixel would print solid or not at all.
    void ReduceFinePattern(const Matrix& pageToDevice) {
        const Pattern& p = *m_paint.pattern;
        if (size_t(p.width) * size_t(p.height) > kMaxTablePixels) return;
        Matrix toDev = p.patternToPage.Then(pageToDevice);
        double sx = std::hypot(toDev.a, toDev.b), sy = std::hypot(toDev.c, toDev.d);
        if (!(sx > 0) || !(sy > 0)) return;
        int fx = int(std::clamp(std::floor(1 / sx + 1e-6), 1.0, double(p.width)));
        int fy = int(std::clamp(std::floor(1 / sy + 1e-6), 1.0, double(p.height)));
        while (p.width % fx) --fx; // blocks tile the pattern exactly
        while (p.height % fy) --fy;
        if (fx == 1 && fy == 1) return;
        auto small = std::make_shared<Pattern>();
        small->width = p.width / fx;
        small->height = p.height / fy;
        small->patternToPage = Matrix::Scale(fx, fy).Then(p.patternToPage);
        // Text under a pattern makes a painter per character, mostly with
        // the same tile: reduce it once.
        thread_local struct {
            std::vector<Color> from, to;
            int width = 0, fx = 0, fy = 0;
        } last;
        if (last.width == p.width && last.fx == fx && last.fy == fy && last.from == p.pixels) {
            small->pixels = last.to;
            m_paint.pattern = small;
            return;
        }
        small->pixels.resize(size_t(small->width) * size_t(small->height));
        int n = fx * fy;
        for (int y = 0; y < small->height; ++y)
            for (int x = 0; x < small->width; ++x) {
                int r = 0, g = 0, b = 0;
                for (int j = 0; j < fy; ++j)
                    for (int i = 0; i < fx; ++i) {
                        Color c = p.At(x * fx + i, y * fy + j);
                        r += c.r;
                        g += c.g;
                        b += c.b;
                    }
                small->pixels[size_t(y) * size_t(small->width) + size_t(x)] = {
                    uint8_t((r + n / 2) / n), uint8_t((g + n / 2) / n), uint8_t((b + n / 2) / n)};
            }
        last.from = p.pixels;
        last.to = small->pixels;
        last.width = p.width;
        last.fx = fx;
        last.fy = fy;
        m_paint.pattern = small;
    }

    // The tile pixel under device pixel (x, y), as PatternAt finds it.
    size_t PatternIndex(int x, int y) const {
        const Pattern& p = *m_paint.pattern;
        double u = m_patInv.a * (x + 0.5) + m_patInv.c * (y + 0.5) + m_patInv.e;
        double v = m_patInv.b * (x + 0.5) + m_patInv.d * (y + 0.5) + m_patInv.f;
        int64_t iu = int64_t(std::floor(std::clamp(u, -1e15, 1e15))) % p.width;
        int64_t iv = int64_t(std::floor(std::clamp(v, -1e15, 1e15))) % p.height;
        if (iu < 0) iu += p.width;
        if (iv < 0) iv += p.height;
        return size_t(iv) * size_t(p.width) + size_t(iu);
    }

    // S = black over [x0, x1) of row y through the pattern tables: the tile
    // position steps along the row instead of being solved per pixel.
    void FillPatternSpan(uint8_t* row, int y, int x0, int x1) {
        const Pattern& p = *m_paint.pattern;
        double w = p.width, h = p.height;
        double du = m_patInv.a, dv = m_patInv.b;
        if (!(std::fabs(du) < w && std::fabs(dv) < h)) {
            for (int x = x0; x < x1; ++x) {
                size_t i = PatternIndex(x, y);
                if (!m_patSkip[i]) ApplyConst(row + size_t(x) * 3, m_patConst[i]);
            }
            return;
        }
        if (dv == 0 && du > 0 && FillPeriodicSpan(row, y, x0, x1)) return;
        size_t start = PatternIndex(x0, y);
        // Fractional tile position at x0, kept within [0, w) x [0, h).
        double u = m_patInv.a * (x0 + 0.5) + m_patInv.c * (y + 0.5) + m_patInv.e;
        double v = m_patInv.b * (x0 + 0.5) + m_patInv.d * (y + 0.5) + m_patInv.f;
        u = double(start % size_t(p.width)) + (u - std::floor(u));
        v = double(start / size_t(p.width)) + (v - std::floor(v));
        uint8_t* px = row + size_t(x0) * 3;
        for (int x = x0; x < x1; ++x, px += 3) {
            int iu = std::min(int(u), p.width - 1), iv = std::min(int(v), p.height - 1);
            size_t i = size_t(iv) * size_t(p.width) + size_t(iu);
            if (!m_patSkip[i]) ApplyConst(px, m_patConst[i]);
            u += du;
            if (u >= w)
                u -= w;
            else if (u < 0)
                u += w;
            v += dv;
            if (v >= h)
                v -= h;
            else if (v < 0)
                v += h;
        }
    }

    // Rows along the tile's rows whose device period is a whole number of
    // pixels: one period of (a, b) constants is built, then applied over
    // the span byte by byte, which the compiler vectorises.
    bool FillPeriodicSpan(uint8_t* row, int y, int x0, int x1) {
        const Pattern& p = *m_paint.pattern;
        double period = p.width / m_patInv.a;
        long n = std::lround(period);
        if (std::fabs(period - double(n)) > 1e-6 || n < 1 || n > 4096 || x1 - x0 <= n) return false;
        size_t bytes = size_t(n) * 3;
        m_spanA.resize(bytes);
        m_spanB.resize(bytes);
        size_t start = PatternIndex(x0, y);
        size_t rowStart = start - start % size_t(p.width);
        double u = m_patInv.a * (x0 + 0.5) + m_patInv.c * (y + 0.5) + m_patInv.e;
        u = double(start % size_t(p.width)) + (u - std::floor(u));
        for (long k = 0; k < n; ++k) {
            size_t i = rowStart + size_t(std::min(int(u), p.width - 1));
            for (int c = 0; c < 3; ++c) {
                // A skipped pixel keeps the page: T = D.
                m_spanA[size_t(k) * 3 + size_t(c)] = m_patSkip[i] ? 0xFF : m_patConst[i].a[c];
                m_spanB[size_t(k) * 3 + size_t(c)] = m_patSkip[i] ? 0x00 : m_patConst[i].b[c];
            }
            u += m_patInv.a;
            if (u >= p.width) u -= p.width;
        }
        // Whole periods up to at least 256 bytes, so the vector loop below
        // has room.
        while (m_spanA.size() < 256) {
            m_spanA.insert(m_spanA.end(), m_spanA.begin(), m_spanA.begin() + long(bytes));
            m_spanB.insert(m_spanB.end(), m_spanB.begin(), m_spanB.begin() + long(bytes));
        }
        bytes = m_spanA.size();
        uint8_t* px = row + size_t(x0) * 3;
        size_t left = size_t(x1 - x0) * 3;
        const uint8_t* a = m_spanA.data();
        const uint8_t* b = m_spanB.data();
        while (left) {
            size_t len = std::min(left, bytes), k = 0;
#ifdef __SSE2__
            for (; k + 16 <= len; k += 16) {
                __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(px + k));
                __m128i va = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + k));
                __m128i vb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + k));
                __m128i t = _mm_or_si128(_mm_and_si128(d, va), _mm_andnot_si128(d, vb));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(px + k), t);
            }
#endif
            for (; k < len; ++k) px[k] = uint8_t((px[k] & a[k]) | (~px[k] & b[k]));
            px += len;
            left -= len;
        }
        return true;
    }

    static void Fill(uint8_t* px, size_t len, uint8_t c0, uint8_t c1, uint8_t c2) {
        if (c0 == c1 && c1 == c2) {
            std::memset(px, c0, len * 3);
            return;
        }
        for (size_t i = 0; i < len; ++i, px += 3) {
            px[0] = c0;
            px[1] = c1;
            px[2] = c2;
        }
    }

    // A null paint has no effect only where the operation reads P; elsewhere
    // its value does not matter.
    static Paint Effective(const Paint& paint, const RasterOp& op) {
        if (paint.kind == Paint::Kind::None && !RopUsesPattern(op.rop3))
            return Paint::SolidColor(kBlack);
        return paint;
    }

    PageRaster& m_raster;
    Paint m_paint;
    RasterOp m_op;
    RopConst m_solid{};
    bool m_skipAll = false;
    bool m_patternOk = false;
    bool m_sourceCopy = false;
    int m_coverTotal = 0;
    uint64_t m_coverScale = 0;
    Matrix m_patInv;
    std::shared_ptr<const PatternTables> m_tables;
    const RopConst* m_patConst = nullptr; // per tile pixel, for S = black
    const uint8_t* m_patSkip = nullptr;   // per tile pixel: left alone (transparent white)
    std::vector<uint8_t> m_spanA, m_spanB;
    RopConst m_last{};
    Color m_lastSource;
    bool m_haveLast = false;
};

struct RasterDevice::ImageState {
    ImageInfo info;
    Matrix toDevice, inverse;
    Paint paint;
    RasterOp op;
    PixelBuffer* rgb = nullptr; // decoded rows [bufStart, bufStart + bufCount)
    int capacity = 0;           // rows the buffer may hold
    int bufStart = 0, bufCount = 0;
    int received = 0;
    int owned = 0; // rows below this are drawn
    int margin = 1;
    int nx = 1, ny = 1;
    bool drawable = false;
    // 1-bit rows: the 24 decoded bytes of every source byte, when built.
    std::vector<uint8_t> byteTable;
    // Averaging nx * ny samples: (sum + n / 2) / n for every channel sum.
    std::vector<uint8_t> average;

    const uint8_t* Row(int v) const {
        return rgb->Data() + size_t(v - bufStart) * size_t(info.width) * 3;
    }
};

RasterDevice::RasterDevice(PageRaster& raster, const Matrix& pageToDevice, double pageWidth,
                           double pageHeight, GlyphCache* glyphs, PixelBuffer* imageRows)
    : m_raster(raster), m_pageToDevice(pageToDevice), m_pageWidth(pageWidth),
      m_pageHeight(pageHeight), m_glyphs(glyphs),
      m_imageRows(imageRows ? imageRows : &m_ownImageRows) {
    m_pageRect = {0, 0, raster.Width(), raster.Height()};
    m_clip = std::make_shared<SpanSet>(SpanSet::FromRect(m_pageRect));
    m_paintBudget = uint64_t(kMaxPaintedPages * double(raster.Width()) * double(raster.Height()));
}

RasterDevice::~RasterDevice() = default;

void RasterDevice::Note(const std::string& text) {
    if (m_notes.size() < 20) m_notes.push_back(text);
}

bool RasterDevice::Budget(uint64_t pixels) {
    m_painted += pixels;
    if (m_painted <= m_paintBudget) return true;
    if (!m_budgetNoted) {
        m_budgetNoted = true;
        Note("painting budget of the page exhausted; later drawing dropped");
    }
    return false;
}

void RasterDevice::PaintSpans(const SpanSet& shape, int dx, int dy, const Paint& paint,
                              const RasterOp& op) {
    Painter painter(m_raster, paint, op, m_pageToDevice);
    if (!painter.Usable()) return;
    IRect sb = shape.Bounds();
    IRect box = IRect{sb.x0 + dx, sb.y0 + dy, sb.x1 + dx, sb.y1 + dy}.Intersect(m_clip->Bounds());
    if (box.Empty()) return;
    if (!Budget(uint64_t(box.x1 - box.x0) * uint64_t(box.y1 - box.y0))) return;
    for (int y = box.y0; y < box.y1; ++y) {
        int ns, nc;
        const int32_t* s = shape.RowSpans(y - dy, ns);
        if (!ns) continue;
        const int32_t* c = m_clip->RowSpans(y, nc);
        int i = 0, j = 0;
        while (i < ns && j < nc) {
            int lo = std::max(s[2 * i] + dx, c[2 * j]),
                hi = std::min(s[2 * i + 1] + dx, c[2 * j + 1]);
            if (lo < hi) painter.FillSpan(y, lo, hi);
            if (s[2 * i + 1] + dx < c[2 * j + 1])
                ++i;
            else
                ++j;
        }
    }
}

namespace {

// Channel sums of the source pixels that one device pixel covers.
struct ChannelSum {
    unsigned r = 0, g = 0, b = 0;
    void Add(const uint8_t* p) {
        r += p[0];
        g += p[1];
        b += p[2];
    }
    Color Mean(int n) const {
        unsigned u = unsigned(n);
        return {uint8_t((r + u / 2) / u), uint8_t((g + u / 2) / u), uint8_t((b + u / 2) / u)};
    }
};

// Paints spans straight from the scan converter, cut by the clip.
class ClippedSink : public SpanSink {
public:
    using Fill = void (*)(void*, int, int, int);
    ClippedSink(const SpanSet& clip, void* ctx, Fill fill)
        : m_clip(clip), m_ctx(ctx), m_fill(fill) {}
    void Row(int y, const int32_t* s, int ns) override {
        int nc;
        const int32_t* c = m_clip.RowSpans(y, nc);
        int i = 0, j = 0;
        while (i < ns && j < nc) {
            int lo = std::max(s[2 * i], c[2 * j]), hi = std::min(s[2 * i + 1], c[2 * j + 1]);
            if (lo < hi) {
                m_fill(m_ctx, y, lo, hi);
                pixels += uint64_t(hi - lo);
            }
            if (s[2 * i + 1] < c[2 * j + 1])
                ++i;
            else
                ++j;
        }
    }
    uint64_t pixels = 0;

private:
    const SpanSet& m_clip;
    void* m_ctx;
    Fill m_fill;
};

} // namespace

void RasterDevice::FillEdges(const EdgeList& edges, FillRule rule, const Paint& paint,
                             const RasterOp& op) {
    if (edges.Empty()) return;
    Painter painter(m_raster, paint, op, m_pageToDevice);
    if (!painter.Usable()) return;
    if (m_painted > m_paintBudget) {
        Budget(0);
        return;
    }
    if (edges.Truncated()) Note("a path too complex to draw whole was cut short");
    ClippedSink sink(*m_clip, &painter, [](void* ctx, int y, int x0, int x1) {
        static_cast<Painter*>(ctx)->FillSpan(y, x0, x1);
    });
    ScanConvert(edges, rule, m_clip->Bounds(), sink);
    Budget(sink.pixels);
}

void RasterDevice::FillPath(const Path& path, const Matrix& ctm, FillRule rule, const Paint& paint,
                            const RasterOp& op) {
    if (Invisible(paint, op) || path.Empty()) return;
    Matrix m = ctm.Then(m_pageToDevice);
    if (!m.IsFinite()) return;
    EdgeList edges;
    edges.AddPath(path, m);
    FillEdges(edges, rule, paint, op);
}

void RasterDevice::StrokePath(const Path& path, const Matrix& ctm, const StrokeStyle& style,
                              const Paint& paint, const RasterOp& op) {
    if (Invisible(paint, op) || path.Empty()) return;
    Matrix m = ctm.Then(m_pageToDevice);
    if (!m.IsFinite()) return;
    double scale = std::sqrt(std::fabs(m.Determinant()));
    EdgeList edges;
    if (!(style.width > 0) || style.width * scale < 1 || !m.Invertible()) {
        // Thinner than a pixel: stroke one pixel wide in device space, so
        // hairlines never vanish.
        StrokeStyle s = style;
        s.width = 1;
        for (double& d : s.dash) d *= scale;
        s.dashOffset *= scale;
        StrokePolylines(FlattenPath(path, m, 0.2), s, Matrix{}, 0.2, edges);
    } else {
        double tol = 0.2 / std::max(m.MaxScale(), 1e-9);
        StrokePolylines(FlattenPath(path, Matrix{}, tol), style, m, tol, edges);
    }
    FillEdges(edges, FillRule::NonZero, paint, op);
}

void RasterDevice::ClipPath(const Path& path, const Matrix& ctm, FillRule rule, ClipOp op,
                            ClipRegion region) {
    Matrix m = ctm.Then(m_pageToDevice);
    auto shape = std::make_shared<SpanSet>();
    if (m.IsFinite() && !path.Empty()) {
        EdgeList edges;
        edges.AddPath(path, m);
        ScanConvert(edges, rule, m_pageRect, *shape);
    }
    // A clip too intricate to store becomes its bounding box: drawing too
    // much beats exhausting memory.
    auto bounded = [this](std::shared_ptr<SpanSet> s) {
        if (!s->Overflowed()) return s;
        Note("clip region too complex; its bounding box is used");
        return std::make_shared<SpanSet>(SpanSet::FromRect(s->Bounds().Intersect(m_pageRect)));
    };
    shape = bounded(shape);
    if (region == ClipRegion::Exterior)
        shape = bounded(std::make_shared<SpanSet>(shape->ComplementWithin(m_pageRect)));
    if (op == ClipOp::Intersect)
        m_clip = bounded(std::make_shared<SpanSet>(m_clip->Intersect(*shape)));
    else
        m_clip = shape;
}

void RasterDevice::ResetClip() {
    m_clip = std::make_shared<SpanSet>(SpanSet::FromRect(m_pageRect));
}

void RasterDevice::PushClip() {
    if (int(m_clipStack.size()) >= kMaxClipDepth) {
        ++m_clipOverflow;
        return;
    }
    m_clipStack.push_back(m_clip);
}

void RasterDevice::PopClip() {
    if (m_clipOverflow > 0) {
        --m_clipOverflow;
        return;
    }
    if (m_clipStack.empty()) return;
    m_clip = m_clipStack.back();
    m_clipStack.pop_back();
}

// --- images ---

namespace {

// The two colours of a 1-bit row, for the formats that have them.
bool TwoColours(const ImageInfo& info, Color& c0, Color& c1) {
    if (info.bitsPerComponent != 1) return false;
    if (info.format == ImageInfo::Format::Gray) {
        c0 = kBlack;
        c1 = kWhite;
        return true;
    }
    if (info.format != ImageInfo::Format::Indexed) return false;
    c0 = info.palette.size() > 0 ? info.palette[0] : kBlack;
    c1 = info.palette.size() > 1 ? info.palette[1] : kBlack;
    return true;
}

std::vector<uint8_t> MakeByteTable(Color c0, Color c1) {
    std::vector<uint8_t> t(256 * 24);
    for (int b = 0; b < 256; ++b)
        for (int i = 0; i < 8; ++i) {
            Color c = (b >> (7 - i)) & 1 ? c1 : c0;
            uint8_t* o = &t[size_t(b) * 24 + size_t(i) * 3];
            o[0] = c.r;
            o[1] = c.g;
            o[2] = c.b;
        }
    return t;
}

// A 1-bit row through the table: a copy per source byte instead of eight
// pixel decisions.
void DecodeRowByTable(const ImageInfo& info, const uint8_t* table, const uint8_t* src,
                      uint8_t* out) {
    int w = info.width, whole = w / 8;
    for (int i = 0; i < whole; ++i)
        std::memcpy(out + size_t(i) * 24, table + size_t(src[i]) * 24, 24);
    if (int rest = w - whole * 8)
        std::memcpy(out + size_t(whole) * 24, table + size_t(src[whole]) * 24, size_t(rest) * 3);
}

void DecodeRow(const ImageInfo& info, const uint8_t* src, uint8_t* out) {
    int w = info.width, bits = info.bitsPerComponent;
    auto sample = [&](size_t index) -> unsigned {
        if (bits == 8) return src[index];
        if (bits == 4) return (src[index / 2] >> ((index & 1) ? 0 : 4)) & 0xF;
        return (src[index / 8] >> (7 - (index & 7))) & 1;
    };
    auto scale = [&](unsigned v) -> uint8_t {
        if (bits == 8) return uint8_t(v);
        if (bits == 4) return uint8_t(v * 17);
        return v ? 255 : 0;
    };
    switch (info.format) {
    case ImageInfo::Format::Gray:
        for (int x = 0; x < w; ++x) {
            uint8_t g = scale(sample(size_t(x)));
            out[3 * x] = out[3 * x + 1] = out[3 * x + 2] = g;
        }
        break;
    case ImageInfo::Format::Rgb:
        if (bits == 8) {
            std::memcpy(out, src, size_t(w) * 3);
        } else {
            for (size_t i = 0; i < size_t(w) * 3; ++i) out[i] = scale(sample(i));
        }
        break;
    case ImageInfo::Format::Indexed:
        if (bits == 1) {
            // Whole bytes of one colour are the rule in driver rasters.
            Color c0 = info.palette.size() > 0 ? info.palette[0] : kBlack;
            Color c1 = info.palette.size() > 1 ? info.palette[1] : kBlack;
            for (int x = 0; x < w;) {
                uint8_t b = src[x / 8];
                int n = std::min(8, w - x);
                if ((b == 0x00 || b == 0xFF) && (x & 7) == 0) {
                    Color c = b ? c1 : c0;
                    for (int i = 0; i < n; ++i, ++x) {
                        out[3 * x] = c.r;
                        out[3 * x + 1] = c.g;
                        out[3 * x + 2] = c.b;
                    }
                    continue;
                }
                Color c = (b >> (7 - (x & 7))) & 1 ? c1 : c0;
                out[3 * x] = c.r;
                out[3 * x + 1] = c.g;
                out[3 * x + 2] = c.b;
                ++x;
            }
            break;
        }
        for (int x = 0; x < w; ++x) {
            unsigned idx = sample(size_t(x));
            Color c = idx < info.palette.size() ? info.palette[idx] : kBlack;
            out[3 * x] = c.r;
            out[3 * x + 1] = c.g;
            out[3 * x + 2] = c.b;
        }
        break;
    }
}

// Pixels from p on (at most m, m >= 1) equal to the first one. A run ends
// where a byte differs from the byte one pixel further on, so the row is
// compared many bytes at a time whatever its colours.
size_t RunLength(const uint8_t* p, size_t m) {
    size_t limit = (m - 1) * 3, k = 0;
#ifdef __SSE2__
    // Long runs of white are the bulk of a page: 32 bytes per step.
    for (; k + 32 <= limit; k += 32) {
        __m128i a0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + k));
        __m128i b0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + k + 3));
        __m128i a1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + k + 16));
        __m128i b1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + k + 19));
        unsigned eq = unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(a0, b0))) |
                      unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(a1, b1))) << 16;
        if (eq != 0xFFFFFFFFu) return (k + size_t(std::countr_one(eq))) / 3 + 1;
    }
#endif
    if constexpr (std::endian::native == std::endian::little) {
        for (; k + 8 <= limit; k += 8) {
            uint64_t a, b;
            std::memcpy(&a, p + k, 8);
            std::memcpy(&b, p + k + 3, 8);
            if (a != b) return (k + size_t(std::countr_zero(a ^ b)) / 8) / 3 + 1;
        }
    }
    while (k < limit && p[k] == p[k + 3]) ++k;
    return k / 3 + 1;
}

// Rows decoded ahead of painting. A few hundred full-width rows amortise the
// per-band set-up; more only costs memory.
constexpr size_t kImageBufferBytes = 4u << 20;
constexpr int kMaxSamples = 8;

} // namespace

void RasterDevice::BeginImage(const ImageInfo& info, const Matrix& imageToPage, const Paint& paint,
                              const RasterOp& op) {
    if (m_image) EndImage();
    auto st = std::make_unique<ImageState>();
    st->info = info;
    st->paint = paint;
    st->op = op;
    st->rgb = m_imageRows;
    st->toDevice = imageToPage.Then(m_pageToDevice);
    st->drawable = info.Valid() && !Invisible(paint, op) && st->toDevice.IsFinite() &&
                   st->toDevice.Invertible();
    if (st->drawable) {
        st->inverse = st->toDevice.Inverse();
        const Matrix& iv = st->inverse;
        // Source pixels crossed per device pixel along each device axis.
        double lx = std::hypot(iv.a, iv.b), ly = std::hypot(iv.c, iv.d);
        st->nx = std::clamp(int(std::ceil(lx - 0.01)), 1, kMaxSamples);
        st->ny = std::clamp(int(std::ceil(ly - 0.01)), 1, kMaxSamples);
        st->margin = std::clamp(int(std::ceil((std::fabs(iv.b) + std::fabs(iv.d)) / 2)) + 1, 1, 64);
        size_t rowBytes = size_t(info.width) * 3;
        size_t rows = std::max<size_t>(kImageBufferBytes / rowBytes, size_t(4 * st->margin + 8));
        // The buffer grows with the rows that arrive: drivers announce
        // images taller than what they send.
        st->capacity = int(std::min<size_t>(rows, size_t(info.height)));
        Color c0, c1;
        if (m_fastImages && TwoColours(info, c0, c1)) st->byteTable = MakeByteTable(c0, c1);
        // Nothing of it can show: skip the work, still accept the rows.
        Rect box = TransformRect({0, 0, double(info.width), double(info.height)}, st->toDevice);
        if (DeviceBox(box).Intersect(m_clip->Bounds()).Empty()) st->drawable = false;
    }
    m_image = std::move(st);
}

void RasterDevice::ImageRows(const uint8_t* data, int rows) {
    if (!m_image || !data || rows <= 0) return;
    ImageState& st = *m_image;
    size_t stride = st.info.Stride();
    for (int r = 0; r < rows && st.received < st.info.height; ++r) {
        if (!st.drawable) {
            ++st.received;
            continue;
        }
        if (st.bufCount == st.capacity) {
            // Draw what is complete, keep the rows its neighbours still need.
            int upTo = st.bufStart + st.bufCount - st.margin;
            if (upTo > st.owned) {
                RenderImageBand(st.owned, upTo);
                st.owned = upTo;
            }
            int keepFrom = std::max(st.owned - st.margin, st.bufStart);
            int drop = keepFrom - st.bufStart;
            if (drop <= 0) drop = 1; // cannot happen with the margins above, but never stall
            size_t rowBytes = size_t(st.info.width) * 3;
            std::memmove(st.rgb->Data(), st.rgb->Data() + size_t(drop) * rowBytes,
                         size_t(st.bufCount - drop) * rowBytes);
            st.bufStart += drop;
            st.bufCount -= drop;
        }
        size_t rowBytes = size_t(st.info.width) * 3;
        if (st.rgb->Size() < size_t(st.bufCount + 1) * rowBytes) {
            size_t rowsNow = std::min<size_t>(size_t(st.capacity),
                                              std::max<size_t>(16, size_t(st.bufCount) * 2));
            st.rgb->Grow(rowsNow * rowBytes);
        }
        uint8_t* out = st.rgb->Data() + size_t(st.bufCount) * rowBytes;
        if (!st.byteTable.empty())
            DecodeRowByTable(st.info, st.byteTable.data(), data + size_t(r) * stride, out);
        else
            DecodeRow(st.info, data + size_t(r) * stride, out);
        ++st.bufCount;
        ++st.received;
    }
}

void RasterDevice::EndImage() {
    if (!m_image) return;
    ImageState& st = *m_image;
    if (st.drawable && st.received > st.owned) RenderImageBand(st.owned, st.received);
    m_image.reset();
}

void RasterDevice::RenderImageBand(int v0, int v1) {
    ImageState& st = *m_image;
    Painter painter(m_raster, st.paint, st.op, m_pageToDevice);
    if (!painter.Usable()) return;
    const Matrix& iv = st.inverse;
    int w = st.info.width;
    Rect src{0, double(v0), double(w), double(v1)};
    IRect box = DeviceBox(TransformRect(src, st.toDevice)).Intersect(m_clip->Bounds());
    if (box.Empty()) return;
    if (!Budget(uint64_t(box.x1 - box.x0) * uint64_t(box.y1 - box.y0))) return;
    int lastRow = st.bufStart + st.bufCount - 1;
    int n = st.nx * st.ny;
    // Sub-sample offsets in source space, spread evenly over the pixel.
    std::vector<Point> offs;
    for (int j = 0; j < st.ny; ++j)
        for (int i = 0; i < st.nx; ++i) {
            double ox = (i + 0.5) / st.nx - 0.5, oy = (j + 0.5) / st.ny - 0.5;
            offs.push_back({iv.a * ox + iv.c * oy, iv.b * ox + iv.d * oy});
        }
    if (std::fabs(iv.b) < 1e-12 && std::fabs(iv.c) < 1e-12) {
        // Upright (possibly mirrored) images, by far the most common: the
        // source columns of each device column are worked out once.
        int bw = box.x1 - box.x0;
        std::vector<int32_t> cols(size_t(bw) * size_t(st.nx));
        std::vector<uint8_t> inside(static_cast<size_t>(bw));
        for (int x = box.x0; x < box.x1; ++x) {
            double u = iv.a * (x + 0.5) + iv.e;
            inside[size_t(x - box.x0)] = u >= 0 && u < w;
            for (int i = 0; i < st.nx; ++i)
                cols[size_t(x - box.x0) * size_t(st.nx) + size_t(i)] =
                    std::clamp(FloorInt(u + offs[size_t(i)].x), 0, w - 1) * 3;
        }
        std::vector<const uint8_t*> rows(size_t(st.ny));
        int rowLo = std::max(st.bufStart, 0), rowHi = std::min(lastRow, st.received - 1);
        bool runs = painter.RunsOk() && m_fastImages;
        // Not mirrored, and every device column between the first and the
        // last that show the image shows it: the samples then move through
        // the source rows in order, so runs of one colour can be found in
        // the source rows themselves.
        int inLo = box.x1, inHi = box.x0;
        if (runs) {
            for (int x = box.x0; x < box.x1; ++x)
                if (inside[size_t(x - box.x0)]) {
                    inLo = std::min(inLo, x);
                    inHi = x + 1;
                }
            size_t from = size_t(std::max(inLo - box.x0, 0)) * size_t(st.nx);
            size_t to = size_t(std::max(inHi - box.x0, 0)) * size_t(st.nx);
            for (int x = inLo; x < inHi; ++x)
                if (!inside[size_t(x - box.x0)]) inHi = inLo;
            for (size_t i = from + 1; i < to && inLo < inHi; ++i)
                if (cols[i] < cols[i - 1]) inHi = inLo;
        }
        bool ordered = inLo < inHi;
        // For one sample per pixel: the first device column at or after each
        // source column of [uLo, uHi].
        int uLo = 0;
        std::vector<int> firstAt;
        if (ordered && n == 1) {
            uLo = cols[size_t(inLo - box.x0)] / 3;
            int uHi = cols[size_t(inHi - 1 - box.x0)] / 3;
            firstAt.assign(size_t(uHi - uLo + 2), inHi);
            for (int x = inHi - 1; x >= inLo; --x)
                firstAt[size_t(cols[size_t(x - box.x0)] / 3 - uLo)] = x;
            for (size_t k = firstAt.size() - 1; k-- > 0;)
                firstAt[k] = std::min(firstAt[k], firstAt[k + 1]);
        }
        if (runs && n > 1 && st.average.size() != size_t(255 * n + 1)) {
            st.average.resize(size_t(255 * n + 1));
            for (size_t sum = 0; sum < st.average.size(); ++sum)
                st.average[sum] = uint8_t((sum + size_t(n / 2)) / size_t(n));
        }
        for (int y = box.y0; y < box.y1; ++y) {
            double v = iv.d * (y + 0.5) + iv.f;
            if (!(v >= v0 && v < v1)) continue;
            for (int j = 0; j < st.ny; ++j)
                rows[size_t(j)] = st.Row(
                    std::clamp(FloorInt(v + offs[size_t(j) * size_t(st.nx)].y), rowLo, rowHi));
            int nc;
            const int32_t* c = m_clip->RowSpans(y, nc);
            // Runs fetch the page row only when they paint: rows nothing
            // lands on stay untouched.
            uint8_t* row = runs ? nullptr : m_raster.Row(y);
            auto putRun = [&](int x0, int x1, Color s) {
                if (!painter.Paints(s)) return;
                if (!row) row = m_raster.Row(y);
                painter.PutRun(row, x0, x1, s);
            };
            if (ordered && n == 1) {
                // A run of the source row covers the device columns up to
                // the first one that samples past it.
                const uint8_t* sr = rows[0];
                for (int k = 0; k < nc; ++k) {
                    int lo = std::max(inLo, c[2 * k]), hi = std::min(inHi, c[2 * k + 1]);
                    if (lo >= hi) continue;
                    int uEnd = cols[size_t(hi - 1 - box.x0)] / 3;
                    for (int x = lo; x < hi;) {
                        int u = cols[size_t(x - box.x0)] / 3;
                        const uint8_t* p = sr + size_t(u) * 3;
                        int past = u + int(RunLength(p, size_t(uEnd - u + 1)));
                        int e = past > uEnd ? hi : firstAt[size_t(past - uLo)];
                        putRun(x, e, {p[0], p[1], p[2]});
                        x = e;
                    }
                }
                continue;
            }
            if (runs && n == 1) {
                // One sample per pixel and a position-independent result:
                // paint runs of equal source colour at once. Driver rasters
                // are mostly long runs of white or black.
                const uint8_t* sr = rows[0];
                for (int k = 0; k < nc; ++k) {
                    int lo = std::max(box.x0, c[2 * k]), hi = std::min(box.x1, c[2 * k + 1]);
                    for (int x = lo; x < hi;) {
                        size_t xi = size_t(x - box.x0);
                        if (!inside[xi]) {
                            ++x;
                            continue;
                        }
                        const uint8_t* p = sr + cols[xi];
                        int e = x + 1;
                        for (; e < hi; ++e) {
                            size_t xe = size_t(e - box.x0);
                            if (!inside[xe]) break;
                            if (cols[xe] == cols[xi]) continue;
                            const uint8_t* q = sr + cols[xe];
                            if (q[0] != p[0] || q[1] != p[1] || q[2] != p[2]) break;
                        }
                        putRun(x, e, {p[0], p[1], p[2]});
                        x = e;
                    }
                }
                continue;
            }
            if (runs) {
                // Scaled down: average each pixel's samples, then paint runs
                // of equal averages at once.
                const uint8_t* avg = st.average.data();
                for (int k = 0; k < nc; ++k) {
                    int lo = std::max(box.x0, c[2 * k]), hi = std::min(box.x1, c[2 * k + 1]);
                    int runStart = lo, nextTry = lo;
                    Color run{};
                    for (int x = lo; x < hi; ++x) {
                        size_t xi = size_t(x - box.x0);
                        if (!inside[xi]) {
                            if (x > runStart) putRun(runStart, x, run);
                            runStart = x + 1;
                            continue;
                        }
                        const int32_t* cx = &cols[xi * size_t(st.nx)];
                        if (ordered && x >= nextTry && x >= inLo && x < std::min(hi, inHi) - 1) {
                            // Where every sample row holds one colour from
                            // here on, the pixels that sample only there
                            // average to that colour: skip them at once.
                            int last = std::min(hi, inHi) - 1;
                            int uEnd =
                                cols[size_t(last - box.x0) * size_t(st.nx) + size_t(st.nx - 1)];
                            const uint8_t* p = rows[0] + cx[0];
                            size_t len = RunLength(p, size_t(uEnd - cx[0]) / 3 + 1);
                            for (int j = 1; j < st.ny && len > 0; ++j) {
                                const uint8_t* q = rows[size_t(j)] + cx[0];
                                if (q[0] != p[0] || q[1] != p[1] || q[2] != p[2])
                                    len = 0;
                                else
                                    len = std::min(len, RunLength(q, len));
                            }
                            int32_t endByte = cx[0] + int32_t(len) * 3;
                            int e = x;
                            while (e <= last &&
                                   cols[size_t(e - box.x0) * size_t(st.nx) + size_t(st.nx - 1)] <
                                       endByte)
                                ++e;
                            // Busy stretches: look again a little later.
                            if (e <= x + 1) nextTry = x + 8;
                            if (e > x + 1) {
                                Color s{p[0], p[1], p[2]};
                                if (x > runStart && !(s == run)) {
                                    putRun(runStart, x, run);
                                    runStart = x;
                                }
                                run = s;
                                x = e - 1;
                                continue;
                            }
                        }
                        ChannelSum sum;
                        for (int j = 0; j < st.ny; ++j) {
                            const uint8_t* r = rows[size_t(j)];
                            for (int i = 0; i < st.nx; ++i) sum.Add(r + cx[i]);
                        }
                        Color s{avg[sum.r], avg[sum.g], avg[sum.b]};
                        if (x > runStart && !(s == run)) {
                            putRun(runStart, x, run);
                            runStart = x;
                        }
                        run = s;
                    }
                    if (hi > runStart) putRun(runStart, hi, run);
                }
                continue;
            }
            for (int k = 0; k < nc; ++k) {
                int lo = std::max(box.x0, c[2 * k]), hi = std::min(box.x1, c[2 * k + 1]);
                for (int x = lo; x < hi; ++x) {
                    size_t xi = size_t(x - box.x0);
                    if (!inside[xi]) continue;
                    const int32_t* cx = &cols[xi * size_t(st.nx)];
                    Color s;
                    if (n == 1) {
                        const uint8_t* p = rows[0] + cx[0];
                        s = {p[0], p[1], p[2]};
                    } else {
                        ChannelSum sum;
                        for (int j = 0; j < st.ny; ++j) {
                            const uint8_t* r = rows[size_t(j)];
                            for (int i = 0; i < st.nx; ++i) sum.Add(r + cx[i]);
                        }
                        s = sum.Mean(n);
                    }
                    painter.Put(row, x, y, s);
                }
            }
        }
        return;
    }
    if (std::fabs(iv.a) < 1e-12 && std::fabs(iv.d) < 1e-12) {
        // Quarter turns (landscape pages): source rows follow device
        // columns, source columns follow device rows.
        int bw = box.x1 - box.x0;
        std::vector<const uint8_t*> rowsAt(static_cast<size_t>(bw) * size_t(st.nx));
        std::vector<uint8_t> inside(static_cast<size_t>(bw));
        int rowLo = std::max(st.bufStart, 0), rowHi = std::min(lastRow, st.received - 1);
        for (int x = box.x0; x < box.x1; ++x) {
            double v = iv.b * (x + 0.5) + iv.f;
            inside[size_t(x - box.x0)] = v >= v0 && v < v1;
            for (int i = 0; i < st.nx; ++i)
                rowsAt[size_t(x - box.x0) * size_t(st.nx) + size_t(i)] =
                    st.Row(std::clamp(FloorInt(v + offs[size_t(i)].y), rowLo, rowHi));
        }
        std::vector<int32_t> cols(size_t(st.ny));
        for (int y = box.y0; y < box.y1; ++y) {
            double u = iv.c * (y + 0.5) + iv.e;
            if (!(u >= 0 && u < w)) continue;
            for (int j = 0; j < st.ny; ++j)
                cols[size_t(j)] =
                    std::clamp(FloorInt(u + offs[size_t(j) * size_t(st.nx)].x), 0, w - 1) * 3;
            int nc;
            const int32_t* c = m_clip->RowSpans(y, nc);
            uint8_t* row = m_raster.Row(y);
            for (int k = 0; k < nc; ++k) {
                int lo = std::max(box.x0, c[2 * k]), hi = std::min(box.x1, c[2 * k + 1]);
                for (int x = lo; x < hi; ++x) {
                    size_t xi = size_t(x - box.x0);
                    if (!inside[xi]) continue;
                    const uint8_t* const* rx = &rowsAt[xi * size_t(st.nx)];
                    ChannelSum sum;
                    for (int i = 0; i < st.nx; ++i)
                        for (int j = 0; j < st.ny; ++j) sum.Add(rx[i] + cols[size_t(j)]);
                    Color s = sum.Mean(n);
                    painter.Put(row, x, y, s);
                }
            }
        }
        return;
    }
    for (int y = box.y0; y < box.y1; ++y) {
        double yc = y + 0.5;
        double ub = iv.c * yc + iv.e, vb = iv.d * yc + iv.f;
        int xa = box.x0, xb = box.x1 - 1;
        if (!SolveRange(iv.a, ub, 0, w, xa, xb)) continue;
        if (!SolveRange(iv.b, vb, v0, v1, xa, xb)) continue;
        xa = std::max(xa, box.x0);
        xb = std::min(xb, box.x1 - 1);
        if (xa > xb) continue;
        int nc;
        const int32_t* c = m_clip->RowSpans(y, nc);
        uint8_t* row = m_raster.Row(y);
        for (int k = 0; k < nc; ++k) {
            int lo = std::max(xa, c[2 * k]), hi = std::min(xb + 1, c[2 * k + 1]);
            for (int x = lo; x < hi; ++x) {
                double xc = x + 0.5;
                double u = iv.a * xc + ub, v = iv.b * xc + vb;
                if (!(u >= 0 && u < w && v >= v0 && v < v1)) continue;
                Color s;
                if (n == 1) {
                    const uint8_t* p =
                        st.Row(std::clamp(int(v), st.bufStart, lastRow)) + size_t(int(u)) * 3;
                    s = {p[0], p[1], p[2]};
                } else {
                    ChannelSum sum;
                    for (const Point& o : offs) {
                        int su = std::clamp(int(std::floor(u + o.x)), 0, w - 1);
                        int sv = std::clamp(int(std::floor(v + o.y)), st.bufStart, lastRow);
                        sv = std::clamp(sv, 0, st.received - 1);
                        sum.Add(st.Row(sv) + size_t(su) * 3);
                    }
                    s = sum.Mean(n);
                }
                painter.Put(row, x, y, s);
            }
        }
    }
}

void RasterDevice::FillMask(const uint8_t* bits, int width, int height, size_t stride,
                            const Matrix& maskToPage, const Paint& paint, const RasterOp& op) {
    if (!bits || width <= 0 || height <= 0 || stride < size_t(width + 7) / 8) return;
    Matrix m = maskToPage.Then(m_pageToDevice);
    if (!m.IsFinite() || !m.Invertible()) return;
    Painter painter(m_raster, paint, op, m_pageToDevice);
    if (!painter.Usable()) return;
    IRect box = DeviceBox(TransformRect({0, 0, double(width), double(height)}, m))
                    .Intersect(m_clip->Bounds());
    if (box.Empty()) return;
    if (!Budget(uint64_t(box.x1 - box.x0) * uint64_t(box.y1 - box.y0))) return;
    Matrix iv = m.Inverse();
    int nx = std::clamp(int(std::ceil(std::hypot(iv.a, iv.b) - 0.01)), 1, kMaxSamples);
    int ny = std::clamp(int(std::ceil(std::hypot(iv.c, iv.d) - 0.01)), 1, kMaxSamples);
    int n = nx * ny;
    std::vector<Point> offs;
    for (int j = 0; j < ny; ++j)
        for (int i = 0; i < nx; ++i) {
            double ox = (i + 0.5) / nx - 0.5, oy = (j + 0.5) / ny - 0.5;
            offs.push_back({iv.a * ox + iv.c * oy, iv.b * ox + iv.d * oy});
        }
    auto bit = [&](int u, int v) {
        return (bits[size_t(v) * stride + size_t(u) / 8] >> (7 - (u & 7))) & 1;
    };
    if (n == 1 && iv.b == 0 && iv.c == 0 && painter.RunsOk() && m_fastImages) {
        // Upright and not scaled down, as bitmap glyphs are: the source
        // column of each device column is the same on every row, and runs of
        // set bits are painted at once.
        std::vector<int> ucol(size_t(box.x1 - box.x0));
        double ub0 = iv.c * (box.y0 + 0.5) + iv.e;
        for (int x = box.x0; x < box.x1; ++x) {
            double u = iv.a * (x + 0.5) + ub0;
            ucol[size_t(x - box.x0)] = u >= 0 && u < width ? int(u) : -1;
        }
        for (int y = box.y0; y < box.y1; ++y) {
            double yc = y + 0.5;
            double ub = iv.c * yc + iv.e, vb = iv.d * yc + iv.f;
            int xa = box.x0, xb = box.x1 - 1;
            if (!SolveRange(iv.a, ub, 0, width, xa, xb)) continue;
            if (!SolveRange(iv.b, vb, 0, height, xa, xb)) continue;
            if (!(vb >= 0 && vb < height)) continue;
            const uint8_t* src = bits + size_t(int(vb)) * stride;
            auto set = [&](int x) {
                int u = ucol[size_t(x - box.x0)];
                return u >= 0 && ((src[size_t(u) / 8] >> (7 - (u & 7))) & 1);
            };
            int nc;
            const int32_t* c = m_clip->RowSpans(y, nc);
            uint8_t* row = nullptr;
            for (int k = 0; k < nc; ++k) {
                int lo = std::max(xa, c[2 * k]), hi = std::min(xb + 1, c[2 * k + 1]);
                for (int x = lo; x < hi;) {
                    if (!set(x)) {
                        ++x;
                        continue;
                    }
                    int e = x + 1;
                    while (e < hi && set(e)) ++e;
                    if (!row) row = m_raster.Row(y);
                    painter.PutRun(row, x, e, kBlack);
                    x = e;
                }
            }
        }
        return;
    }
    if (n > 1 && iv.b == 0 && iv.c == 0 && m.a > 0 && m.d > 0 && m_glyphs && m_fastImages &&
        FillMaskCoverage(bits, width, height, stride, m, nx, ny, box, painter))
        return;
    if (n > 1 && iv.b == 0 && iv.c == 0) {
        // Upright and scaled down (bitmap fonts made for a finer printer):
        // the sample columns of each device column and the sample rows of
        // each device row are found once, not per pixel.
        const int bw = box.x1 - box.x0;
        std::vector<int> cols(size_t(bw) * size_t(nx));
        for (int x = box.x0; x < box.x1; ++x)
            for (int i = 0; i < nx; ++i)
                cols[size_t(x - box.x0) * nx + i] = std::clamp(
                    int(std::floor(iv.a * (x + 0.5) + iv.e + offs[size_t(i)].x)), 0, width - 1);
        std::vector<const uint8_t*> rows(static_cast<size_t>(ny), nullptr);
        for (int y = box.y0; y < box.y1; ++y) {
            double v = iv.d * (y + 0.5) + iv.f;
            if (!(v >= 0 && v < height)) continue;
            int xa = box.x0, xb = box.x1 - 1;
            if (!SolveRange(iv.a, iv.e, 0, width, xa, xb)) continue;
            for (int j = 0; j < ny; ++j)
                rows[size_t(j)] =
                    bits +
                    size_t(std::clamp(int(std::floor(v + offs[size_t(j) * nx].y)), 0, height - 1)) *
                        stride;
            int nc;
            const int32_t* c = m_clip->RowSpans(y, nc);
            uint8_t* row = nullptr;
            for (int k = 0; k < nc; ++k) {
                int lo = std::max(xa, c[2 * k]), hi = std::min(xb + 1, c[2 * k + 1]);
                for (int x = lo; x < hi; ++x) {
                    double u = iv.a * (x + 0.5) + iv.e;
                    if (!(u >= 0 && u < width)) continue;
                    const int* cu = &cols[size_t(x - box.x0) * nx];
                    int covered = 0;
                    for (int j = 0; j < ny; ++j) {
                        const uint8_t* r = rows[size_t(j)];
                        for (int i = 0; i < nx; ++i)
                            covered += (r[cu[i] >> 3] >> (7 - (cu[i] & 7))) & 1;
                    }
                    if (!covered) continue;
                    if (!row) row = m_raster.Row(y);
                    if (covered == n)
                        painter.Put(row, x, y, kBlack);
                    else
                        painter.PutCoverage(row, x, y, covered, n);
                }
            }
        }
        return;
    }
    for (int y = box.y0; y < box.y1; ++y) {
        double yc = y + 0.5;
        double ub = iv.c * yc + iv.e, vb = iv.d * yc + iv.f;
        int xa = box.x0, xb = box.x1 - 1;
        if (!SolveRange(iv.a, ub, 0, width, xa, xb)) continue;
        if (!SolveRange(iv.b, vb, 0, height, xa, xb)) continue;
        int nc;
        const int32_t* c = m_clip->RowSpans(y, nc);
        uint8_t* row = m_raster.Row(y);
        for (int k = 0; k < nc; ++k) {
            int lo = std::max(xa, c[2 * k]), hi = std::min(xb + 1, c[2 * k + 1]);
            for (int x = lo; x < hi; ++x) {
                double xc = x + 0.5;
                double u = iv.a * xc + ub, v = iv.b * xc + vb;
                if (!(u >= 0 && u < width && v >= 0 && v < height)) continue;
                if (n == 1) {
                    if (bit(int(u), int(v))) painter.Put(row, x, y, kBlack);
                    continue;
                }
                int covered = 0;
                for (const Point& o : offs) {
                    int su = std::clamp(int(std::floor(u + o.x)), 0, width - 1);
                    int sv = std::clamp(int(std::floor(v + o.y)), 0, height - 1);
                    covered += bit(su, sv);
                }
                if (covered == n)
                    painter.Put(row, x, y, kBlack);
                else if (covered)
                    painter.PutCoverage(row, x, y, covered, n);
            }
        }
    }
}

bool RasterDevice::FillMaskCoverage(const uint8_t* bits, int width, int height, size_t stride,
                                    const Matrix& m, int nx, int ny, const IRect& box,
                                    Painter& painter) {
    // The origin's fraction is kept to 1/256 pixel, so that characters
    // placed on one sub-pixel grid share an entry despite rounding noise.
    int bx = FloorInt(m.e), by = FloorInt(m.f);
    int qx = int(std::lround((m.e - bx) * 256)), qy = int(std::lround((m.f - by) * 256));
    double fx = qx / 256.0, fy = qy / 256.0;
    int cw = CeilInt(width * m.a + fx) + 1, ch = CeilInt(height * m.d + fy) + 1;
    if (int64_t(cw) * ch > (1 << 16)) return false; // big masks are rare: sample directly
    size_t rowBytes = (size_t(width) + 7) / 8;
    auto q = [](double v) { return int64_t(std::llround(v * double(int64_t(1) << 40))); };
    GlyphCache::MaskKey key{uintptr_t(bits), width, height, stride, q(m.a), q(m.d), qx, qy};
    auto mask = m_glyphs->FindMask(key, bits, width, height, stride);
    const int n = nx * ny;
    if (!mask) {
        auto made = std::make_shared<GlyphCache::MaskCoverage>();
        made->width = cw;
        made->height = ch;
        made->samples = n;
        made->counts.assign(size_t(cw) * size_t(ch), 0);
        made->bits.resize(rowBytes * size_t(height));
        for (int y = 0; y < height; ++y)
            std::memcpy(made->bits.data() + size_t(y) * rowBytes, bits + size_t(y) * stride,
                        rowBytes);
        double ia = 1 / m.a, id = 1 / m.d;
        // Sample columns of each device column, -1 where its centre is off the mask.
        std::vector<int> cols(size_t(cw) * size_t(nx), -1);
        for (int k = 0; k < cw; ++k) {
            double u = ia * (k + 0.5 - fx);
            if (!(u >= 0 && u < width)) continue;
            for (int i = 0; i < nx; ++i)
                cols[size_t(k) * nx + i] =
                    std::clamp(FloorInt(u + ia * ((i + 0.5) / nx - 0.5)), 0, width - 1);
        }
        for (int r = 0; r < ch; ++r) {
            double v = id * (r + 0.5 - fy);
            if (!(v >= 0 && v < height)) continue;
            uint8_t* out = made->counts.data() + size_t(r) * cw;
            for (int j = 0; j < ny; ++j) {
                int sv = std::clamp(FloorInt(v + id * ((j + 0.5) / ny - 0.5)), 0, height - 1);
                const uint8_t* src = made->bits.data() + size_t(sv) * rowBytes;
                for (int k = 0; k < cw; ++k) {
                    const int* cu = &cols[size_t(k) * nx];
                    if (cu[0] < 0) continue;
                    int c = 0;
                    for (int i = 0; i < nx; ++i) c += (src[cu[i] >> 3] >> (7 - (cu[i] & 7))) & 1;
                    out[k] = uint8_t(out[k] + c);
                }
            }
        }
        mask = made;
        m_glyphs->StoreMask(key, mask);
    }
    const bool runs = painter.RunsOk();
    int y0 = std::max(box.y0, by), y1 = std::min(box.y1, by + mask->height);
    for (int y = y0; y < y1; ++y) {
        const uint8_t* counts = mask->counts.data() + size_t(y - by) * size_t(mask->width);
        int nc;
        const int32_t* c = m_clip->RowSpans(y, nc);
        uint8_t* row = nullptr;
        for (int k = 0; k < nc; ++k) {
            int lo = std::max({box.x0, bx, c[2 * k]});
            int hi = std::min({box.x1, bx + mask->width, c[2 * k + 1]});
            for (int x = lo; x < hi;) {
                int cov = counts[x - bx];
                if (!cov) {
                    ++x;
                    continue;
                }
                if (!row) row = m_raster.Row(y);
                if (cov < n) {
                    painter.PutCoverage(row, x, y, cov, n);
                    ++x;
                } else if (runs) {
                    int e = x + 1;
                    while (e < hi && counts[e - bx] == n) ++e;
                    painter.PutRun(row, x, e, kBlack);
                    x = e;
                } else {
                    painter.Put(row, x, y, kBlack);
                    ++x;
                }
            }
        }
    }
    return true;
}

void RasterDevice::FillGlyph(const FontFace& face, uint32_t glyph, const Matrix& glyphToPage,
                             const Paint& paint, const RasterOp& op) {
    if (Invisible(paint, op)) return;
    Matrix m = glyphToPage.Then(m_pageToDevice);
    if (!m.IsFinite() || !m.Invertible()) return;
    double size = m.MaxScale();
    if (size > 4096) {
        Note("text too large to draw was skipped");
        return;
    }
    if (size > 512 || !m_glyphs) {
        // Big glyphs are rare and would crowd the cache: draw them directly.
        GlyphCache local;
        GlyphCache& cache = m_glyphs ? *m_glyphs : local;
        auto outline = cache.Outline(face, glyph);
        if (outline) FillPath(*outline, glyphToPage, FillRule::NonZero, paint, op);
        return;
    }
    auto spans = m_glyphs->Get(face, glyph, m);
    if (!spans || spans->Empty()) return;
    PaintSpans(*spans, FloorInt(m.e), FloorInt(m.f), paint, op);
}

} // namespace tarvik
