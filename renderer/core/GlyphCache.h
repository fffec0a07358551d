// Rendered outline glyphs, kept as pixel spans across the pages of a job.
#pragma once

#include "Font.h"
#include "Scan.h"

#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <tuple>
#include <unordered_map>
#include <vector>

namespace tarvik {

class GlyphCache {
public:
    // Spans of glyph glyph of face drawn through glyphToDevice, relative to
    // the whole-pixel origin (floor(e), floor(f)) of that matrix. The linear
    // part and the sub-pixel position (quarter pixels) form the key.
    // nullptr when the glyph has no outline.
    std::shared_ptr<const SpanSet> Get(const FontFace& face, uint32_t glyph,
                                       const Matrix& glyphToDevice);

    // The outline of a glyph in glyph space, loaded once.
    std::shared_ptr<const Path> Outline(const FontFace& face, uint32_t glyph);

    // A bitmap mask reduced to coverage counts per device pixel at one
    // scale and sub-pixel phase. Bitmap fonts made for a finer printer
    // repeat their characters, and sampling each afresh costs many bit tests
    // a pixel. counts[y * width + x] is out of samples.
    struct MaskCoverage {
        int width = 0, height = 0, samples = 0;
        std::vector<uint8_t> counts;
        std::vector<uint8_t> bits; // the mask it came from, rows packed
        size_t MemoryBytes() const { return counts.size() + bits.size() + 64; }
    };
    // Where the mask lies, its size and stride, scale and phase. The entry
    // also keeps the bits: memory that a redefined character reuses must not
    // print the character it replaced.
    struct MaskKey {
        uintptr_t bits;
        int width, height;
        size_t stride;
        int64_t sx, sy;
        int qx, qy;
        bool operator==(const MaskKey&) const = default;
    };
    // The entry made from exactly these mask bits under key, or nullptr.
    std::shared_ptr<const MaskCoverage> FindMask(const MaskKey& key, const uint8_t* bits, int width,
                                                 int height, size_t stride) const;
    void StoreMask(const MaskKey& key, std::shared_ptr<const MaskCoverage> mask);

    size_t MemoryBytes() const { return m_bytes; }

    static constexpr size_t kMaxBytes = 24u << 20;

private:
    using Key = std::tuple<uint64_t, uint32_t, int64_t, int64_t, int64_t, int64_t, int, int>;
    std::map<Key, std::shared_ptr<const SpanSet>> m_glyphs;
    std::map<std::pair<uint64_t, uint32_t>, std::shared_ptr<const Path>> m_outlines;
    struct MaskKeyHash {
        size_t operator()(const MaskKey& k) const {
            uint64_t h = k.bits;
            for (uint64_t v : {uint64_t(k.width), uint64_t(k.height), uint64_t(k.stride),
                               uint64_t(k.sx), uint64_t(k.sy), uint64_t(k.qx), uint64_t(k.qy)})
                h = (h ^ v) * 0x100000001b3u + (h >> 29);
            return size_t(h);
        }
    };
    std::unordered_map<MaskKey, std::shared_ptr<const MaskCoverage>, MaskKeyHash> m_masks;
    size_t m_bytes = 0;

    void Trim();
};

} // namespace tarvik
