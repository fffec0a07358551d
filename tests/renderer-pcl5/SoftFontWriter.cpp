#include "SoftFontWriter.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_TRUETYPE_TABLES_H
#include FT_TRUETYPE_TAGS_H

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <vector>

namespace softfontwriter {

namespace {

using Bytes = std::vector<uint8_t>;

void U16(Bytes& b, unsigned v) {
    b.push_back(uint8_t(v >> 8));
    b.push_back(uint8_t(v));
}
void U32(Bytes& b, uint32_t v) {
    U16(b, v >> 16);
    U16(b, v & 0xFFFF);
}
void Set16(Bytes& b, size_t at, unsigned v) {
    b[at] = uint8_t(v >> 8);
    b[at + 1] = uint8_t(v);
}
uint32_t Get32(const Bytes& b, size_t at) {
    return (uint32_t(b[at]) << 24) | (uint32_t(b[at + 1]) << 16) | (uint32_t(b[at + 2]) << 8) |
           b[at + 3];
}
unsigned Get16(const Bytes& b, size_t at) {
    return (unsigned(b[at]) << 8) | b[at + 1];
}
std::string Command(const char* prefix, size_t value, const char* letter) {
    return std::string("\x1b") + prefix + std::to_string(value) + letter;
}
std::string Str(const Bytes& b) {
    return std::string(b.begin(), b.end());
}
// The last byte makes the bytes from `from` sum to 0 modulo 256.
void Checksum(Bytes& b, size_t from) {
    unsigned s = 0;
    for (size_t i = from; i < b.size(); ++i) s += b[i];
    b.push_back(uint8_t((256 - (s & 0xFF)) & 0xFF));
}

std::vector<int> Codes() {
    std::vector<int> codes;
    for (int c = 32; c < 127; ++c) codes.push_back(c);
    for (int c = 160; c < 256; ++c) codes.push_back(c);
    return codes;
}

// The common 64 bytes of a header.
Bytes CommonHeader(int size, int format, int fontType, int baseline, int cellW, int cellH,
                   int pitch, int height, const std::string& name) {
    Bytes h(64, 0);
    Set16(h, 0, unsigned(size));
    h[2] = uint8_t(format);
    h[3] = uint8_t(fontType);
    Set16(h, 6, unsigned(baseline));
    Set16(h, 8, unsigned(cellW));
    Set16(h, 10, unsigned(cellH));
    h[13] = 1;        // proportional
    Set16(h, 14, 14); // 0N, ISO 8859-1
    Set16(h, 16, unsigned(pitch));
    Set16(h, 18, unsigned(height));
    Set16(h, 36, 32);
    Set16(h, 38, 255);
    std::memcpy(h.data() + 48, name.data(), std::min<size_t>(16, name.size()));
    return h;
}

} // namespace

std::string TrueTypeFont(const std::string& fontFile, int fontId, size_t maxBlock, bool vertical) {
    std::ifstream in(fontFile, std::ios::binary);
    Bytes file((std::istreambuf_iterator<char>(in)), {});
    FT_Library lib;
    if (file.size() < 12 || FT_Init_FreeType(&lib)) return {};
    FT_Face face;
    if (FT_New_Memory_Face(lib, file.data(), FT_Long(file.size()), 0, &face)) {
        FT_Done_FreeType(lib);
        return {};
    }
    std::map<uint32_t, Bytes> tables;
    unsigned n = Get16(file, 4);
    for (unsigned i = 0; i < n && 12 + 16 * i + 16 <= file.size(); ++i) {
        size_t e = 12 + 16 * i;
        uint32_t tag = Get32(file, e), off = Get32(file, e + 8), len = Get32(file, e + 12);
        if (off + size_t(len) <= file.size())
            tables[tag] = Bytes(file.begin() + off, file.begin() + off + len);
    }
    if (!tables.count(TTAG_glyf) || !tables.count(TTAG_loca)) { // CFF outlines
        FT_Done_Face(face);
        FT_Done_FreeType(lib);
        return {};
    }
    const Bytes& head = tables[TTAG_head];
    bool longLoca = head.size() >= 54 && Get16(head, 50) == 1;
    const Bytes& loca = tables[TTAG_loca];
    const Bytes& glyf = tables[TTAG_glyf];
    auto glyphData = [&](unsigned g) -> Bytes {
        size_t a, b;
        if (longLoca) {
            if (4 * g + 8 > loca.size()) return {};
            a = Get32(loca, 4 * g), b = Get32(loca, 4 * g + 4);
        } else {
            if (2 * g + 4 > loca.size()) return {};
            a = 2 * size_t(Get16(loca, 2 * g)), b = 2 * size_t(Get16(loca, 2 * g + 2));
        }
        if (a > b || b > glyf.size()) return {};
        return Bytes(glyf.begin() + a, glyf.begin() + b);
    };

    // The header: descriptor, PA, GT (the tables a rasteriser needs), end.
    const int upem = face->units_per_EM;
    int spaceAdvance = 0;
    if (FT_Load_Char(face, ' ', FT_LOAD_NO_SCALE) == 0) spaceAdvance = int(face->glyph->advance.x);
    Bytes h =
        CommonHeader(72, 15, vertical ? 3 : 2, face->ascender, face->bbox.xMax - face->bbox.xMin,
                     face->bbox.yMax - face->bbox.yMin, spaceAdvance, 0, face->family_name);
    h.resize(72, 0);
    Set16(h, 64, unsigned(upem));
    h[70] = 1; // TrueType
    h.insert(h.end(), {'P', 'A', 0, 10});
    h.resize(h.size() + 10, 0);
    std::vector<uint32_t> keep = {TTAG_cvt,  TTAG_fpgm, TTAG_head, TTAG_hhea,
                                  TTAG_hmtx, TTAG_maxp, TTAG_prep};
    size_t total = 0;
    for (uint32_t t : keep) total += tables.count(t) ? (tables[t].size() + 3) & ~size_t(3) : 0;
    if (total > 24000) keep = {TTAG_head, TTAG_hhea, TTAG_hmtx, TTAG_maxp}; // hinting data left out
    if (vertical) {
        Bytes vhea(36, 0), vmtx;
        Set16(vhea, 0, 1);
        Set16(vhea, 34, 1); // one long metric serves every glyph
        U16(vmtx, unsigned(upem * 3 / 2));
        U16(vmtx, 0);
        vmtx.resize(vmtx.size() + 2 * size_t(face->num_glyphs - 1), 0);
        tables[FT_MAKE_TAG('v', 'h', 'e', 'a')] = vhea;
        tables[FT_MAKE_TAG('v', 'm', 't', 'x')] = vmtx;
        keep = {TTAG_head,
                TTAG_hhea,
                TTAG_hmtx,
                TTAG_maxp,
                FT_MAKE_TAG('v', 'h', 'e', 'a'),
                FT_MAKE_TAG('v', 'm', 't', 'x')};
        Bytes vt = {'V', 'T', 0, 8};
        U16(vt, FT_Get_Char_Index(face, 'A'));
        U16(vt, FT_Get_Char_Index(face, 'V'));
        U32(vt, 0xFFFFFFFF);
        Bytes ve = {'V', 'E', 0, 6, 0, 1, 0, '0', 0, '9'};
        Bytes vr = {'V', 'R', 0, 4, 0, 0};
        U16(vr, unsigned(-upem / 4) & 0xFFFF);
        for (const Bytes* seg : {&vt, &ve, &vr}) h.insert(h.end(), seg->begin(), seg->end());
    }
    std::vector<uint32_t> present;
    for (uint32_t t : keep)
        if (tables.count(t)) present.push_back(t);
    Bytes gt;
    U32(gt, 0x00010000);
    U16(gt, unsigned(present.size()));
    U16(gt, 0);
    U16(gt, 0);
    U16(gt, 0);
    size_t offset = 12 + 16 * present.size();
    for (uint32_t t : present) {
        U32(gt, t);
        U32(gt, 0);
        U32(gt, uint32_t(offset));
        U32(gt, uint32_t(tables[t].size()));
        offset += (tables[t].size() + 3) & ~size_t(3);
    }
    for (uint32_t t : present) {
        gt.insert(gt.end(), tables[t].begin(), tables[t].end());
        gt.resize((gt.size() + 3) & ~size_t(3), 0);
    }
    h.push_back('G');
    h.push_back('T');
    U16(h, unsigned(gt.size()));
    h.insert(h.end(), gt.begin(), gt.end());
    U16(h, 0xFFFF);
    U16(h, 0);
    h.push_back(0);
    Checksum(h, 64);

    std::string out = Command("*c", size_t(fontId), "D") + Command(")s", h.size(), "W") + Str(h);

    // Characters by code, then composite components under code 65535.
    auto character = [&](int code, unsigned gid) {
        Bytes g = glyphData(gid);
        Bytes c = {15, 0, 2, 15};
        U16(c, unsigned(g.size() + 4));
        U16(c, gid);
        c.insert(c.end(), g.begin(), g.end());
        c.push_back(0);
        Checksum(c, 4);
        out += Command("*c", size_t(code), "E");
        for (size_t pos = 0; pos < c.size();) {
            Bytes block;
            if (pos > 0) block = {15, 1};
            size_t take = std::min(c.size() - pos, maxBlock - block.size());
            block.insert(block.end(), c.begin() + pos, c.begin() + pos + take);
            pos += take;
            out += Command("(s", block.size(), "W") + Str(block);
        }
        // Component glyph IDs of a composite.
        std::vector<unsigned> parts;
        if (g.size() >= 10 && int16_t(Get16(g, 0)) < 0) {
            size_t p = 10;
            for (;;) {
                if (p + 4 > g.size()) break;
                unsigned flags = Get16(g, p), comp = Get16(g, p + 2);
                parts.push_back(comp);
                p += 4 + ((flags & 1) ? 4 : 2);
                if (flags & 8)
                    p += 2;
                else if (flags & 0x40)
                    p += 4;
                else if (flags & 0x80)
                    p += 8;
                if (!(flags & 0x20)) break;
            }
        }
        return parts;
    };
    std::set<unsigned> sent, components;
    for (int code : Codes()) {
        unsigned gid = FT_Get_Char_Index(face, FT_ULong(code));
        if (!gid) continue;
        sent.insert(gid);
        for (unsigned c : character(code, gid)) components.insert(c);
    }
    while (!components.empty()) {
        unsigned c = *components.begin();
        components.erase(components.begin());
        if (sent.insert(c).second)
            for (unsigned more : character(65535, c)) components.insert(more);
    }
    FT_Done_Face(face);
    FT_Done_FreeType(lib);
    return out;
}

std::string BitmapFont(const std::string& fontFile, int fontId, const BitmapOptions& o) {
    FT_Library lib;
    if (FT_Init_FreeType(&lib)) return {};
    FT_Face face;
    if (FT_New_Face(lib, fontFile.c_str(), 0, &face)) {
        FT_Done_FreeType(lib);
        return {};
    }
    FT_Set_Char_Size(face, 0, FT_F26Dot6(o.points * 64), FT_UInt(o.dpi), FT_UInt(o.dpi));
    const int ascent = int(face->size->metrics.ascender >> 6);
    const int descent = int(-face->size->metrics.descender >> 6);
    int spaceAdvance = 0;
    if (FT_Load_Char(face, ' ', FT_LOAD_DEFAULT) == 0)
        spaceAdvance = int(face->glyph->advance.x >> 6);
    const int headerSize = o.format == 20 ? 68 : o.format == 16 ? 72 : 64;
    Bytes h =
        CommonHeader(headerSize, o.format, o.format == 16 ? 3 : 1, ascent,
                     int(face->size->metrics.max_advance >> 6), ascent + descent, spaceAdvance * 4,
                     int(o.points * o.dpi / 72.0 * 4 + 0.5), face->family_name);
    h[30] = uint8_t(int8_t(-std::max(1, o.dpi / 60))); // underline below the baseline
    h[31] = uint8_t(std::max(1, o.dpi / 150));
    if (o.format == 20) {
        U16(h, unsigned(o.dpi));
        U16(h, unsigned(o.dpi));
    }
    if (o.format == 16) {
        // No scale factor or master underline; bitmap technology; then the
        // resolution segment and the null segment, sizes in 32 bits.
        h.resize(72, 0);
        h[70] = 254;
        Bytes segments = {'B', 'R', 0, 0, 0, 4};
        U16(segments, unsigned(o.dpi));
        U16(segments, unsigned(o.dpi));
        segments.insert(segments.end(), {0xFF, 0xFF, 0, 0, 0, 0, 0});
        h.insert(h.end(), segments.begin(), segments.end());
        Checksum(h, 64);
    }
    std::string out = Command("*c", size_t(fontId), "D") + Command(")s", h.size(), "W") + Str(h);
    for (int code : Codes()) {
        if (code == 127 || (code > 127 && code < 160)) continue;
        if (FT_Load_Char(face, FT_ULong(code), FT_LOAD_RENDER | FT_LOAD_TARGET_MONO)) continue;
        const FT_GlyphSlot s = face->glyph;
        const FT_Bitmap& bm = s->bitmap;
        const int w = int(bm.width), rows = int(bm.rows);
        Bytes c = {4, 0, 14, uint8_t(o.compressed ? 2 : 1), 0, 0};
        U16(c, unsigned(s->bitmap_left));
        U16(c, unsigned(s->bitmap_top));
        U16(c, unsigned(w));
        U16(c, unsigned(rows));
        U16(c, unsigned(s->advance.x >> 4)); // quarter dots
        auto bit = [&](int x, int y) {
            return (bm.buffer[y * bm.pitch + (x >> 3)] >> (7 - (x & 7))) & 1;
        };
        for (int y = 0; y < rows;) {
            if (!o.compressed) {
                for (int b = 0; b < (w + 7) / 8; ++b) c.push_back(bm.buffer[y * bm.pitch + b]);
                ++y;
                continue;
            }
            int repeat = 0;
            while (y + repeat + 1 < rows && repeat < 255 &&
                   std::memcmp(bm.buffer + (y + repeat + 1) * bm.pitch, bm.buffer + y * bm.pitch,
                               size_t((w + 7) / 8)) == 0)
                ++repeat;
            c.push_back(uint8_t(repeat));
            int x = 0, colour = 0;
            while (x < w) {
                int run = 0;
                while (x + run < w && bit(x + run, y) == colour) ++run;
                for (int r = run;; r -= 255) {
                    if (r > 255) {
                        c.push_back(255);
                        c.push_back(0);
                        continue;
                    }
                    c.push_back(uint8_t(r));
                    break;
                }
                x += run;
                colour ^= 1;
            }
            y += repeat + 1;
        }
        out += Command("*c", size_t(code), "E") + Command("(s", c.size(), "W") + Str(c);
    }
    FT_Done_Face(face);
    FT_Done_FreeType(lib);
    return out;
}

std::string TextPage(int fontId, const std::string& lines) {
    std::string out = "\x1b&u300D\x1b*p150x300Y" + Command("(", size_t(fontId), "X");
    for (char ch : lines) {
        if (ch == '\n')
            out += "\r\n\x1b*p150X"; // every line starts under the first
        else
            out += ch;
    }
    return out + "\f";
}

} // namespace softfontwriter
