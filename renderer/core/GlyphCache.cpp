#include "core/GlyphCache.h"

#include <cmath>
#include <cstring>

namespace tarvik {

std::shared_ptr<const Path> GlyphCache::Outline(const FontFace& face, uint32_t glyph) {
    auto key = std::make_pair(face.Id(), glyph);
    auto it = m_outlines.find(key);
    if (it != m_outlines.end()) return it->second;
    auto path = std::make_shared<Path>();
    if (!face.Outline(glyph, *path)) path.reset();
    if (m_outlines.size() > 20000) m_outlines.clear();
    m_outlines[key] = path;
    return path;
}

std::shared_ptr<const SpanSet> GlyphCache::Get(const FontFace& face, uint32_t glyph,
                                               const Matrix& m) {
    double fx = m.e - std::floor(m.e), fy = m.f - std::floor(m.f);
    int qx = std::min(3, int(fx * 4)), qy = std::min(3, int(fy * 4));
    auto q = [](double v) { return int64_t(std::llround(v * 4096)); };
    Key key{face.Id(), glyph, q(m.a), q(m.b), q(m.c), q(m.d), qx, qy};
    auto it = m_glyphs.find(key);
    if (it != m_glyphs.end()) return it->second;

    std::shared_ptr<const SpanSet> result;
    if (auto outline = Outline(face, glyph)) {
        Matrix local{m.a, m.b, m.c, m.d, (qx + 0.5) / 4, (qy + 0.5) / 4};
        EdgeList edges;
        edges.AddPath(*outline, local);
        auto spans = std::make_shared<SpanSet>();
        Rect b = edges.Bounds();
        IRect area{int(std::floor(b.x0)) - 1, int(std::floor(b.y0)) - 1, int(std::ceil(b.x1)) + 1,
                   int(std::ceil(b.y1)) + 1};
        if (!edges.Empty()) ScanConvert(edges, FillRule::NonZero, area, *spans);
        result = spans;
    }
    Trim();
    m_bytes += 64 + (result ? static_cast<const SpanSet&>(*result).MemoryBytes() : 0);
    m_glyphs[key] = result;
    return result;
}

std::shared_ptr<const GlyphCache::MaskCoverage> GlyphCache::FindMask(const MaskKey& key,
                                                                     const uint8_t* bits, int width,
                                                                     int height,
                                                                     size_t stride) const {
    auto it = m_masks.find(key);
    if (it == m_masks.end()) return nullptr;
    // The key holds where the bits lie, not what they are: a redefined
    // character in reused memory must not print as the one it replaced.
    const MaskCoverage& m = *it->second;
    size_t rowBytes = (size_t(width) + 7) / 8;
    if (m.bits.size() != rowBytes * size_t(height)) return nullptr;
    for (int y = 0; y < height; ++y)
        if (std::memcmp(m.bits.data() + size_t(y) * rowBytes, bits + size_t(y) * stride,
                        rowBytes) != 0)
            return nullptr;
    return it->second;
}

void GlyphCache::StoreMask(const MaskKey& key, std::shared_ptr<const MaskCoverage> mask) {
    Trim();
    m_bytes += mask->MemoryBytes();
    m_masks[key] = std::move(mask);
}

void GlyphCache::Trim() {
    if (m_bytes <= kMaxBytes) return;
    m_glyphs.clear();
    m_masks.clear();
    m_bytes = 0;
}

} // namespace tarvik
