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

    size_t MemoryBytes() const { return m_bytes; }

    static constexpr size_t kMaxBytes = 24u << 20;

private:
    using Key = std::tuple<uint64_t, uint32_t, int64_t, int64_t, int64_t, int64_t, int, int>;
    std::map<Key, std::shared_ptr<const SpanSet>> m_glyphs;
    std::map<std::pair<uint64_t, uint32_t>, std::shared_ptr<const Path>> m_outlines;
    size_t m_bytes = 0;
};

} // namespace tarvik
