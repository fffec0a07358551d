#include "PxlFont.h"

#include <algorithm>
#include <cstring>

namespace tarvik::pclxl {

namespace {

uint16_t Be16(const uint8_t* p) {
    return uint16_t(p[0] << 8 | p[1]);
}
uint32_t Be32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}
void Put16(std::vector<uint8_t>& v, size_t at, uint16_t x) {
    v[at] = uint8_t(x >> 8);
    v[at + 1] = uint8_t(x);
}
void Push16(std::vector<uint8_t>& v, uint16_t x) {
    v.push_back(uint8_t(x >> 8));
    v.push_back(uint8_t(x));
}
void Push32(std::vector<uint8_t>& v, uint32_t x) {
    for (int s = 24; s >= 0; s -= 8) v.push_back(uint8_t(x >> s));
}

constexpr uint32_t Tag(const char (&t)[5]) {
    return uint32_t(uint8_t(t[0])) << 24 | uint32_t(uint8_t(t[1])) << 16 |
           uint32_t(uint8_t(t[2])) << 8 | uint8_t(t[3]);
}

// Walks the segment list with size fields of `sizeBytes` bytes; true when
// it ends with the null segment, each segment passed to `seg`.
template <typename F> bool WalkSegments(const uint8_t* d, size_t n, size_t sizeBytes, F&& seg) {
    size_t pos = 0;
    while (pos + 2 + sizeBytes <= n) {
        uint16_t id = Be16(d + pos);
        size_t len = sizeBytes == 4 ? Be32(d + pos + 2) : Be16(d + pos + 2);
        pos += 2 + sizeBytes;
        if (id == 0xFFFF) return len == 0;
        if (len > n - pos) return false;
        seg(id, d + pos, len);
        pos += len;
    }
    return false;
}

} // namespace

bool ParseFontHeader(const uint8_t* data, size_t size, DownloadedFont& font, std::string& error) {
    if (size < 8) {
        error = "IllegalFontData (header too short)";
        return false;
    }
    if (data[0] != 0) {
        error = "IllegalFontHeaderFields (format)";
        return false;
    }
    font.orientation = data[1];
    font.symbolSet = Be16(data + 2);
    uint8_t tech = data[4];
    if (tech == 1) {
        font.tech = DownloadedFont::Tech::TrueType;
    } else if (tech == 254) {
        font.tech = DownloadedFont::Tech::Bitmap;
    } else {
        error = "IllegalFontHeaderFields (scaling technology)";
        return false;
    }
    const uint8_t* seg = data + 8;
    size_t segSize = size - 8;
    bool haveGt = false, haveBr = false;
    auto onSegment = [&](uint16_t id, const uint8_t* p, size_t len) {
        if (id == 0x4754) { // GT
            font.gt.assign(p, p + len);
            haveGt = true;
        } else if (id == 0x4252 && len >= 6) { // BR: format, x and y resolution
            int x = Be16(p + 2), y = Be16(p + 4);
            if (x > 0 && y > 0) {
                font.resX = x;
                font.resY = y;
            }
            haveBr = true;
        } else if (id == 0x4252 && len >= 4) {
            int x = Be16(p), y = Be16(p + 2);
            if (x > 0 && y > 0) {
                font.resX = x;
                font.resY = y;
            }
            haveBr = true;
        }
        // GC, VT, VI and others carry nothing we draw with.
    };
    // Segment sizes are 32 bits in what drivers send; older text gives 16.
    if (!WalkSegments(seg, segSize, 4, [](uint16_t, const uint8_t*, size_t) {})) {
        if (!WalkSegments(seg, segSize, 2, [](uint16_t, const uint8_t*, size_t) {})) {
            // No null segment: take what parses.
            WalkSegments(seg, segSize, 4, onSegment);
        } else {
            WalkSegments(seg, segSize, 2, onSegment);
        }
    } else {
        WalkSegments(seg, segSize, 4, onSegment);
    }
    if (font.tech == DownloadedFont::Tech::TrueType && !haveGt) {
        error = "MissingRequiredSegment GT";
        return false;
    }
    (void)haveBr; // bitmap fonts without it are taken at 300 dpi
    font.bytes = size;
    return true;
}

bool AddCharacter(DownloadedFont& font, uint16_t code, const uint8_t* d, size_t n,
                  std::string& error) {
    if (n < 4) {
        error = "IllegalCharacterData";
        return false;
    }
    uint8_t format = d[0], cls = d[1];
    if (font.tech == DownloadedFont::Tech::Bitmap) {
        if (format != 0) {
            error = "FSTMismatch";
            return false;
        }
        if (cls != 0) {
            error = "UnsupportedCharacterClass";
            return false;
        }
        if (n < 10) {
            error = "IllegalCharacterData";
            return false;
        }
        BitmapGlyph g;
        g.left = int16_t(Be16(d + 2));
        g.top = int16_t(Be16(d + 4));
        g.width = Be16(d + 6);
        g.height = Be16(d + 8);
        size_t stride = (size_t(g.width) + 7) / 8;
        size_t need = stride * g.height;
        if (need > n - 10) {
            error = "IllegalCharacterData (bitmap short)";
            return false;
        }
        g.bits.assign(d + 10, d + 10 + need);
        font.bytes += need;
        font.bitmaps[code] = std::move(g);
        return true;
    }
    if (format != 1) {
        error = "FSTMismatch";
        return false;
    }
    size_t head;
    TrueTypeGlyph g;
    uint16_t gid;
    switch (cls) {
    case 0:
        head = 6;
        if (n < head) break;
        gid = Be16(d + 4);
        break;
    case 1:
        head = 10;
        if (n < head) break;
        g.lsb = int16_t(Be16(d + 4));
        g.advance = Be16(d + 6);
        g.hasMetrics = true;
        gid = Be16(d + 8);
        break;
    case 2:
        head = 12;
        if (n < head) break;
        g.lsb = int16_t(Be16(d + 4));
        g.advance = Be16(d + 6);
        g.hasMetrics = true;
        gid = Be16(d + 10);
        break;
    default:
        error = "UnsupportedCharacterClass";
        return false;
    }
    if (n < head) {
        error = "IllegalCharacterData";
        return false;
    }
    // The record's own size counts from byte 2; it may be shorter than what
    // came (padding).
    size_t total = std::min(n, size_t(Be16(d + 2)) + 2);
    if (total < head) total = head;
    g.glyf.assign(d + head, d + total);
    font.bytes += g.glyf.size();
    if (code != 0xFFFF) font.charToGlyph[code] = gid;
    font.glyphs[gid] = std::move(g);
    font.faceTried = false;
    return true;
}

std::vector<uint8_t> BuildSfnt(const DownloadedFont& font, std::string& error) {
    const std::vector<uint8_t>& gt = font.gt;
    if (gt.size() < 12) {
        error = "IllegalGlobalTrueTypeSegment";
        return {};
    }
    std::map<uint32_t, std::vector<uint8_t>> tables;
    size_t numTables = Be16(gt.data() + 4);
    if (12 + numTables * 16 > gt.size()) {
        error = "IllegalGlobalTrueTypeSegment (directory)";
        return {};
    }
    for (size_t i = 0; i < numTables; ++i) {
        const uint8_t* rec = gt.data() + 12 + i * 16;
        uint32_t tag = Be32(rec), off = Be32(rec + 8), len = Be32(rec + 12);
        if (off > gt.size() || len > gt.size() - off) continue; // table not sent
        tables[tag].assign(gt.begin() + off, gt.begin() + off + len);
    }
    tables.erase(Tag("glyf"));
    tables.erase(Tag("loca"));
    tables.erase(Tag("gdir"));
    auto head = tables.find(Tag("head"));
    if (head == tables.end() || head->second.size() < 54) {
        error = "IllegalGlobalTrueTypeSegment (no head)";
        return {};
    }
    unsigned numGlyphs = font.glyphs.empty() ? 1 : unsigned(font.glyphs.rbegin()->first) + 1;
    auto maxp = tables.find(Tag("maxp"));
    if (maxp != tables.end() && maxp->second.size() >= 6)
        numGlyphs = std::max<unsigned>(numGlyphs, Be16(maxp->second.data() + 4));
    numGlyphs = std::min(numGlyphs, 65535u);

    // glyf and loca (long offsets).
    std::vector<uint8_t> glyf, loca;
    for (unsigned g = 0; g < numGlyphs; ++g) {
        Push32(loca, uint32_t(glyf.size()));
        auto it = font.glyphs.find(uint16_t(g));
        if (it != font.glyphs.end()) {
            glyf.insert(glyf.end(), it->second.glyf.begin(), it->second.glyf.end());
            while (glyf.size() % 4) glyf.push_back(0);
        }
    }
    Push32(loca, uint32_t(glyf.size()));
    Put16(head->second, 50, 1);                 // indexToLocFormat: long
    std::memset(head->second.data() + 8, 0, 4); // checkSumAdjustment is not kept up
    uint16_t unitsPerEm = Be16(head->second.data() + 18);
    if (unitsPerEm < 16) unitsPerEm = 2048;

    if (maxp == tables.end() || maxp->second.size() < 6) {
        // Version 1.0 with room for anything a glyph program may ask for.
        std::vector<uint8_t> m;
        Push32(m, 0x00010000);
        Push16(m, uint16_t(numGlyphs));
        const uint16_t generous[] = {4096, 512, 4096, 512,   2,  256, 256,
                                     256,  256, 1024, 65535, 64, 16};
        for (uint16_t v : generous) Push16(m, v);
        tables[Tag("maxp")] = m;
    } else {
        Put16(maxp->second, 4, uint16_t(numGlyphs));
    }

    // Horizontal metrics: from the records that carry them, else from the
    // downloaded hmtx, one entry per glyph.
    std::vector<int> adv(numGlyphs, 0), lsb(numGlyphs, 0);
    auto hhea = tables.find(Tag("hhea"));
    auto hmtx = tables.find(Tag("hmtx"));
    if (hhea != tables.end() && hhea->second.size() >= 36 && hmtx != tables.end()) {
        size_t nh = Be16(hhea->second.data() + 34);
        const std::vector<uint8_t>& hm = hmtx->second;
        int lastAdv = 0;
        for (unsigned g = 0; g < numGlyphs; ++g) {
            if (g < nh && g * 4 + 4 <= hm.size()) {
                lastAdv = Be16(hm.data() + g * 4);
                adv[g] = lastAdv;
                lsb[g] = int16_t(Be16(hm.data() + g * 4 + 2));
            } else {
                adv[g] = lastAdv;
                size_t at = nh * 4 + (g - nh) * 2;
                if (g >= nh && at + 2 <= hm.size()) lsb[g] = int16_t(Be16(hm.data() + at));
            }
        }
    }
    for (const auto& [g, glyph] : font.glyphs) {
        if (glyph.hasMetrics && g < numGlyphs) {
            adv[g] = glyph.advance;
            lsb[g] = glyph.lsb;
        }
    }
    std::vector<uint8_t> newHmtx;
    int maxAdv = 0;
    for (unsigned g = 0; g < numGlyphs; ++g) {
        Push16(newHmtx, uint16_t(std::clamp(adv[g], 0, 65535)));
        Push16(newHmtx, uint16_t(int16_t(std::clamp(lsb[g], -32768, 32767))));
        maxAdv = std::max(maxAdv, adv[g]);
    }
    tables[Tag("hmtx")] = newHmtx;
    if (hhea == tables.end() || hhea->second.size() < 36) {
        std::vector<uint8_t> h;
        Push32(h, 0x00010000);
        Push16(h, uint16_t(int16_t(unitsPerEm * 4 / 5))); // ascender
        Push16(h, uint16_t(int16_t(-unitsPerEm / 5)));    // descender
        Push16(h, 0);                                     // line gap
        Push16(h, uint16_t(maxAdv));
        for (int i = 0; i < 11; ++i) Push16(h, 0);
        Push16(h, uint16_t(numGlyphs));
        tables[Tag("hhea")] = h;
    } else {
        Put16(hhea->second, 34, uint16_t(numGlyphs));
    }
    if (!tables.count(Tag("name"))) tables[Tag("name")] = {0, 0, 0, 0, 0, 6};
    if (!tables.count(Tag("post"))) {
        std::vector<uint8_t> p;
        Push32(p, 0x00030000);
        for (int i = 0; i < 7; ++i) Push32(p, 0);
        tables[Tag("post")] = p;
    }
    tables[Tag("glyf")] = std::move(glyf);
    tables[Tag("loca")] = std::move(loca);

    // Assemble: offset table, records sorted by tag, 4-byte aligned data.
    std::vector<uint8_t> out;
    uint16_t nt = uint16_t(tables.size());
    uint16_t sr = 1, es = 0;
    while (sr * 2 <= nt) {
        sr *= 2;
        ++es;
    }
    Push32(out, 0x00010000);
    Push16(out, nt);
    Push16(out, uint16_t(sr * 16));
    Push16(out, es);
    Push16(out, uint16_t(nt * 16 - sr * 16));
    size_t offset = 12 + size_t(nt) * 16;
    for (const auto& [tag, data] : tables) {
        uint32_t sum = 0;
        for (size_t i = 0; i < data.size(); i += 4) {
            uint32_t w = 0;
            for (size_t k = 0; k < 4; ++k) w = w << 8 | (i + k < data.size() ? data[i + k] : 0);
            sum += w;
        }
        Push32(out, tag);
        Push32(out, sum);
        Push32(out, uint32_t(offset));
        Push32(out, uint32_t(data.size()));
        offset += (data.size() + 3) & ~size_t(3);
    }
    for (const auto& [tag, data] : tables) {
        out.insert(out.end(), data.begin(), data.end());
        while (out.size() % 4) out.push_back(0);
    }
    return out;
}

std::shared_ptr<FontFace> DownloadedFont::Face() {
    if (tech != Tech::TrueType) return nullptr;
    if (faceTried) return m_face;
    faceTried = true;
    std::string err;
    std::vector<uint8_t> sfnt = BuildSfnt(*this, err);
    m_face = sfnt.empty() ? nullptr : FontFace::FromMemory(std::move(sfnt));
    return m_face;
}

} // namespace tarvik::pclxl
