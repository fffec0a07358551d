#include "TrueTypeSoft.h"

#include "core/ByteRead.h"

#include <algorithm>
#include <cstring>

namespace tarvik {

namespace {

void Put16(std::vector<uint8_t>& v, size_t at, uint32_t x) {
    v[at] = uint8_t(x >> 8);
    v[at + 1] = uint8_t(x);
}
void Put32(std::vector<uint8_t>& v, size_t at, uint32_t x) {
    Put16(v, at, x >> 16);
    Put16(v, at + 2, x & 0xFFFF);
}
using bytes::Tag;
using bytes::U16;

struct Out {
    uint32_t tag;
    std::vector<uint8_t> data;
};

} // namespace

std::vector<uint8_t> BuildSoftSfnt(const SoftFontHeader& header, const SoftGlyphsById& glyphs,
                                   std::string& warning) {
    const SfntTable* head = header.Table("head");
    const SfntTable* hhea = header.Table("hhea");
    const SfntTable* maxp = header.Table("maxp");
    // Without hmtx the advances come from the characters' descriptors.
    bool descriptorMetrics = false;
    if (!header.Table("hmtx"))
        for (const auto& [id, g] : glyphs)
            descriptorMetrics = descriptorMetrics || (g && g->hasMetrics);
    const bool hheaOk = hhea && hhea->data.size() >= 36;
    if (!head || head->data.size() < 54 || (!hheaOk && !descriptorMetrics) || !maxp ||
        maxp->data.size() < 6) {
        warning = "TrueType font lacks usable head, hhea or maxp tables";
        return {};
    }
    std::vector<Out> tables;
    for (const SfntTable& t : header.tables) {
        // Ours replace any the host sent; gdir is the download's placeholder.
        if (t.tag == Tag("glyf") || t.tag == Tag("loca") || t.tag == Tag("gdir")) continue;
        if (descriptorMetrics && t.tag == Tag("hhea")) continue;
        bool dup = false;
        for (const Out& o : tables) dup = dup || o.tag == t.tag;
        if (!dup) tables.push_back({t.tag, {t.data.begin(), t.data.end()}});
    }

    uint32_t numGlyphs = U16(maxp->data, 4);
    if (!glyphs.empty())
        numGlyphs = std::max<uint32_t>(numGlyphs, uint32_t(glyphs.rbegin()->first) + 1);
    // maxp counts in 16 bits: a glyph at ID 65535 cannot be addressed.
    numGlyphs = std::clamp<uint32_t>(numGlyphs, 1, 0xFFFF);

    Out glyf{Tag("glyf"), {}}, loca{Tag("loca"), std::vector<uint8_t>(size_t(numGlyphs + 1) * 4)};
    auto it = glyphs.begin();
    for (uint32_t id = 0; id < numGlyphs; ++id) {
        Put32(loca.data, size_t(id) * 4, uint32_t(glyf.data.size()));
        while (it != glyphs.end() && it->first < id) ++it;
        if (it != glyphs.end() && it->first == id && it->second) {
            const std::vector<uint8_t>& g = it->second->glyf;
            glyf.data.insert(glyf.data.end(), g.begin(), g.end());
            glyf.data.resize((glyf.data.size() + 3) & ~size_t(3), 0);
        }
    }
    Put32(loca.data, size_t(numGlyphs) * 4, uint32_t(glyf.data.size()));
    if (glyf.data.empty()) glyf.data.resize(4, 0); // a zero-length glyf upsets loaders
    tables.push_back(std::move(glyf));
    tables.push_back(std::move(loca));
    if (descriptorMetrics) {
        // One long metric a glyph; glyphs sent without metrics get none.
        Out hmtx{Tag("hmtx"), std::vector<uint8_t>(size_t(numGlyphs) * 4, 0)};
        uint32_t widest = 0;
        for (const auto& [id, g] : glyphs) {
            if (!g || !g->hasMetrics || id >= numGlyphs) continue;
            Put16(hmtx.data, size_t(id) * 4, g->advanceWidth);
            Put16(hmtx.data, size_t(id) * 4 + 2, uint16_t(g->leftBearing));
            widest = std::max<uint32_t>(widest, g->advanceWidth);
        }
        Out hh{Tag("hhea"), std::vector<uint8_t>(36, 0)};
        if (hheaOk) {
            std::copy_n(hhea->data.begin(), 36, hh.data.begin());
        } else {
            Put32(hh.data, 0, 0x00010000);
            Put16(hh.data, 4, U16(head->data, 42)); // yMax
            Put16(hh.data, 6, U16(head->data, 38)); // yMin
            Put16(hh.data, 18, 1);                  // upright caret
        }
        Put16(hh.data, 10, widest);
        Put16(hh.data, 34, numGlyphs);
        tables.push_back(std::move(hmtx));
        tables.push_back(std::move(hh));
    }

    for (Out& o : tables) {
        if (o.tag == Tag("head")) Put16(o.data, 50, 1); // long loca offsets
        if (o.tag == Tag("maxp")) Put16(o.data, 4, numGlyphs);
    }
    std::sort(tables.begin(), tables.end(),
              [](const Out& a, const Out& b) { return a.tag < b.tag; });

    const size_t n = tables.size();
    size_t size = 12 + 16 * n;
    for (const Out& o : tables) size += (o.data.size() + 3) & ~size_t(3);
    std::vector<uint8_t> sfnt(size, 0);
    Put32(sfnt, 0, 0x00010000);
    Put16(sfnt, 4, uint32_t(n));
    unsigned entry = 1, log = 0;
    while (entry * 2 <= n) entry *= 2, ++log;
    Put16(sfnt, 6, entry * 16);
    Put16(sfnt, 8, log);
    Put16(sfnt, 10, uint32_t(n * 16 - entry * 16));
    size_t offset = 12 + 16 * n;
    for (size_t i = 0; i < n; ++i) {
        const Out& o = tables[i];
        uint32_t sum = 0;
        for (size_t k = 0; k < o.data.size(); k += 4) {
            uint32_t w = 0;
            for (size_t b = 0; b < 4; ++b)
                w = (w << 8) | (k + b < o.data.size() ? o.data[k + b] : 0);
            sum += w;
        }
        Put32(sfnt, 12 + i * 16, o.tag);
        Put32(sfnt, 16 + i * 16, sum);
        Put32(sfnt, 20 + i * 16, uint32_t(offset));
        Put32(sfnt, 24 + i * 16, uint32_t(o.data.size()));
        if (!o.data.empty()) std::memcpy(sfnt.data() + offset, o.data.data(), o.data.size());
        offset += (o.data.size() + 3) & ~size_t(3);
    }
    return sfnt;
}

} // namespace tarvik
