#include "SoftFontFormat.h"

#include <algorithm>
#include <cstring>

namespace tarvik {

namespace {

uint16_t U16(std::span<const uint8_t> d, size_t at) {
    return at + 2 <= d.size() ? uint16_t((d[at] << 8) | d[at + 1]) : 0;
}
int16_t S16(std::span<const uint8_t> d, size_t at) {
    return int16_t(U16(d, at));
}
uint32_t U32(std::span<const uint8_t> d, size_t at) {
    return at + 4 <= d.size() ? (uint32_t(U16(d, at)) << 16) | U16(d, at + 2) : 0;
}
uint8_t U8(std::span<const uint8_t> d, size_t at) {
    return at < d.size() ? d[at] : 0;
}
int8_t S8(std::span<const uint8_t> d, size_t at) {
    return int8_t(U8(d, at));
}
constexpr uint16_t SegId(char a, char b) {
    return uint16_t((uint8_t(a) << 8) | uint8_t(b));
}
constexpr uint32_t Tag(const char t[4]) {
    return (uint32_t(uint8_t(t[0])) << 24) | (uint32_t(uint8_t(t[1])) << 16) |
           (uint32_t(uint8_t(t[2])) << 8) | uint8_t(t[3]);
}

unsigned ByteSum(std::span<const uint8_t> d) {
    unsigned s = 0;
    for (uint8_t b : d) s += b;
    return s & 0xFF;
}

// The table directory of a GT segment: every table must lie inside it.
void ReadTrueTypeTables(SoftFontHeader& h, std::span<const uint8_t> gt, std::string& warning) {
    if (gt.size() < 12) {
        warning = "TrueType font data too short for a table directory";
        return;
    }
    size_t count = U16(gt, 4);
    if (12 + count * 16 > gt.size()) {
        warning = "TrueType table directory runs past its data";
        count = (gt.size() - 12) / 16;
    }
    for (size_t i = 0; i < count; ++i) {
        size_t e = 12 + i * 16;
        uint32_t tag = U32(gt, e), offset = U32(gt, e + 8), length = U32(gt, e + 12);
        if (length == 0) continue; // placeholders such as gdir
        if (offset > gt.size() || length > gt.size() - offset) {
            warning = "TrueType table with an offset or length outside the font data dropped";
            continue;
        }
        h.tables.push_back({tag, gt.subspan(offset, length)});
    }
}

void ReadSegments(SoftFontHeader& h, std::span<const uint8_t> d, size_t pos, bool wideSizes,
                  std::string& warning) {
    const size_t sizeBytes = wideSizes ? 4 : 2;
    bool ended = false;
    while (pos + 2 + sizeBytes <= d.size()) {
        uint16_t id = U16(d, pos);
        uint32_t size = wideSizes ? U32(d, pos + 2) : U16(d, pos + 2);
        pos += 2 + sizeBytes;
        if (id == 0xFFFF) {
            ended = true;
            break;
        }
        if (size > d.size() - pos) {
            warning = "font segment runs past the header data; cut short";
            size = uint32_t(d.size() - pos);
        }
        std::span<const uint8_t> seg = d.subspan(pos, size);
        switch (id) {
        case SegId('G', 'T'):
            ReadTrueTypeTables(h, seg, warning);
            break;
        case SegId('G', 'C'):
            // Format, default galley character, then ranges we do not need.
            if (seg.size() >= 4) h.galleyCharacter = U16(seg, 2);
            break;
        case SegId('C', 'P'):
            h.copyright.assign(seg.begin(), seg.end());
            break;
        case SegId('C', 'C'):
            if (seg.size() >= 8) {
                h.complement = (uint64_t(U32(seg, 0)) << 32) | U32(seg, 4);
                h.hasComplement = true;
            }
            break;
        case SegId('B', 'R'):
            // X and Y resolution; the X one sets the size of the dots.
            if (seg.size() >= 4 && U16(seg, 0) > 0 && U16(seg, 0) <= 9600)
                h.bitmapResolution = U16(seg, 0);
            break;
        case SegId('I', 'F'):
        case SegId('G', 'I'):
            h.intellifontGlobal = seg;
            break;
        case SegId('V', 'T'):
            // Pairs of horizontal and vertical glyph IDs up to 0xFFFF, 0xFFFF.
            for (size_t i = 0; i + 4 <= seg.size(); i += 4) {
                uint16_t from = U16(seg, i), to = U16(seg, i + 2);
                if (from == 0xFFFF && to == 0xFFFF) break;
                h.verticalSubstitutes.emplace_back(from, to);
            }
            std::sort(h.verticalSubstitutes.begin(), h.verticalSubstitutes.end());
            break;
        case SegId('V', 'E'):
            // Format 0, a range count, then first and last codes.
            if (seg.size() >= 2 && seg[0] == 0) {
                h.hasUprightRanges = true;
                for (size_t i = 0, at = 2; i < seg[1] && at + 4 <= seg.size(); ++i, at += 4)
                    h.uprightRanges.emplace_back(U16(seg, at), U16(seg, at + 2));
            }
            break;
        case SegId('V', 'R'):
            if (seg.size() >= 4 && U16(seg, 0) == 0) {
                h.verticalDescender = int16_t(U16(seg, 2));
                h.hasVerticalDescender = true;
            }
            break;
        default:
            break; // PA, CE, TF, ...: nothing that changes what we draw
        }
        pos += size;
    }
    if (!ended) warning = "font segments lack their end marker";
}

} // namespace

const SfntTable* SoftFontHeader::Table(const char tag[4]) const {
    uint32_t t = Tag(tag);
    for (const SfntTable& e : tables)
        if (e.tag == t) return &e;
    return nullptr;
}

bool ParseSoftFontHeader(std::span<const uint8_t> data, SoftFontHeader& out, std::string& warning) {
    out = SoftFontHeader{};
    warning.clear();
    if (data.size() < 64) {
        warning = "font header shorter than 64 bytes";
        return false;
    }
    out.bytes.assign(data.begin(), data.end());
    std::span<const uint8_t> d(out.bytes);
    size_t descriptorSize = U16(d, 0);
    out.format = d[2];
    const int f = out.format;
    size_t minimum = f == 20 ? 68 : f == 10 ? 80 : f == 11 ? 88 : (f == 15 || f == 16) ? 72 : 64;
    if (f != 0 && f != 10 && f != 11 && f != 15 && f != 16 && f != 20) {
        warning = "font header of unknown format " + std::to_string(f);
        return false;
    }
    if (descriptorSize < minimum || data.size() < minimum) {
        warning = "font header shorter than its format";
        return false;
    }
    if (descriptorSize > d.size()) descriptorSize = d.size();

    out.fontType = d[3];
    out.styleWord = (d[4] << 8) | d[23];
    out.baseline = U16(d, 6);
    out.cellWidth = U16(d, 8);
    out.cellHeight = U16(d, 10);
    out.orientation = d[12] & 3;
    out.spacing = d[13] ? 1 : 0;
    out.symbolSet = U16(d, 14);
    out.pitch = U16(d, 16) + d[40] / 256.0;
    out.height = U16(d, 18) + d[41] / 256.0;
    out.xHeight = U16(d, 20);
    out.widthType = S8(d, 22);
    out.strokeWeight = S8(d, 24);
    out.typeface = (d[26] << 8) | d[25];
    out.serifStyle = d[27];
    out.quality = d[28];
    out.placement = S8(d, 29);
    out.underlinePosition = S8(d, 30);
    out.underlineThickness = d[31];
    out.textHeight = U16(d, 32);
    out.textWidth = U16(d, 34);
    out.firstCode = U16(d, 36);
    out.lastCode = U16(d, 38);
    out.capHeight = U16(d, 42);
    out.fontNumber = U32(d, 44);
    out.name.assign(reinterpret_cast<const char*>(d.data() + 48), 16);
    while (!out.name.empty() && (out.name.back() == ' ' || out.name.back() == '\0'))
        out.name.pop_back();

    if (out.fontType > 3 && out.fontType != 10 && out.fontType != 11) {
        warning = "font header with unknown font type " + std::to_string(out.fontType);
        return false;
    }

    switch (f) {
    case 0:
        break;
    case 20:
        out.xResolution = U16(d, 64);
        out.yResolution = U16(d, 66);
        if (out.xResolution == 0 || out.yResolution == 0 || out.xResolution > 9600 ||
            out.yResolution > 9600) {
            warning = "bitmap font header with an unusable resolution";
            return false;
        }
        break;
    case 10:
    case 11:
        out.scaleFactor = U16(d, 64);
        out.masterXResolution = U16(d, 66);
        out.masterYResolution = U16(d, 68);
        out.masterUnderlinePosition = S16(d, 70);
        out.masterUnderlineThickness = U16(d, 72);
        out.scalingTechnology = 0;
        if (f == 11) {
            out.complement = (uint64_t(U32(d, 78)) << 32) | U32(d, 82);
            out.hasComplement = true;
        }
        if (descriptorSize < d.size()) out.intellifontGlobal = d.subspan(descriptorSize);
        break;
    case 15:
    case 16:
        out.scaleFactor = U16(d, 64);
        out.masterUnderlinePosition = S16(d, 66);
        out.masterUnderlineThickness = U16(d, 68);
        out.scalingTechnology = d[70];
        out.variety = d[71];
        if (f == 15) out.scalingTechnology = 1;
        ReadSegments(out, d, descriptorSize, f == 16, warning);
        break;
    }
    if (f == 16 && out.IsBitmap() && out.bitmapResolution <= 0) {
        // Without it the dots have no size: the font is not usable.
        warning = "bitmap font header lacks a usable resolution segment";
        return false;
    }
    if (out.Scalable() && out.scaleFactor == 0) {
        warning = "scalable font header without a scale factor";
        return false;
    }
    if ((f == 10 || f == 11 || f == 15 || f == 16) && data.size() > 64 &&
        ByteSum(d.subspan(64)) != 0 && warning.empty())
        warning = "font header checksum does not match; the header is used as its structure holds";
    if (out.IsTrueType() && (!out.Table("head") || !out.Table("hhea") || !out.Table("maxp"))) {
        warning = "TrueType font header lacks its head, hhea or maxp table";
        return false;
    }
    return true;
}

// --- Characters ----------------------------------------------------------

bool DecodeCompressedBitmap(std::span<const uint8_t> data, int width, int height,
                            std::vector<uint8_t>& bits, std::string& warning) {
    const size_t stride = (size_t(width) + 7) / 8;
    bits.assign(stride * size_t(height), 0);
    size_t pos = 0;
    int y = 0;
    std::vector<uint8_t> row(stride);
    while (y < height && pos < data.size()) {
        int repeat = data[pos++];
        std::fill(row.begin(), row.end(), 0);
        int x = 0;
        bool black = false;
        while (x < width) {
            if (pos >= data.size()) {
                warning = "compressed character ends inside a row";
                break;
            }
            int run = data[pos++];
            int end = x + run;
            if (end > width) {
                warning = "compressed character row longer than the character width";
                return false;
            }
            if (black)
                for (int i = x; i < end; ++i) row[size_t(i) >> 3] |= uint8_t(0x80 >> (i & 7));
            x = end;
            black = !black;
        }
        for (int r = 0; r <= repeat && y < height; ++r, ++y)
            if (stride) std::memcpy(bits.data() + size_t(y) * stride, row.data(), stride);
    }
    return true;
}

void SoftGlyphAssembler::Reset() {
    m_glyph.reset();
    m_pending.clear();
    m_expected = 0;
    m_open = false;
}

SoftGlyphAssembler::Result SoftGlyphAssembler::Add(std::span<const uint8_t> block,
                                                   std::string& warning) {
    warning.clear();
    if (block.size() < 2) {
        warning = "character block shorter than its header";
        Reset();
        return Result::Rejected;
    }
    const bool continuation = block[1] != 0;
    if (continuation) {
        if (!m_open || !m_glyph || block[0] != m_glyph->format) {
            warning = "continuation block without a character to continue";
            Reset();
            return Result::Rejected;
        }
        size_t limit = m_glyph->format == 4 ? kMaxBitmapGlyphBytes : (1u << 20);
        if (m_pending.size() + block.size() - 2 > limit) {
            warning = "character data too large";
            Reset();
            return Result::Rejected;
        }
        m_pending.insert(m_pending.end(), block.begin() + 2, block.end());
        m_glyph->contentHash = HashBytes(block.subspan(2), m_glyph->contentHash);
        return Finish(warning);
    }

    Reset();
    auto g = std::make_shared<SoftGlyph>();
    g->format = block[0];
    g->contentHash = HashBytes(block);
    if (g->format == 4) {
        if (block.size() < 16 || block[2] < 14) {
            warning = "bitmap character descriptor too short";
            return Result::Rejected;
        }
        g->glyphClass = block[3];
        g->orientation = block[4] & 3;
        g->leftOffset = S16(block, 6);
        g->topOffset = S16(block, 8);
        g->width = U16(block, 10);
        g->height = U16(block, 12);
        g->deltaX = S16(block, 14);
        if (g->glyphClass != 1 && g->glyphClass != 2) {
            warning = "bitmap character of unknown class " + std::to_string(g->glyphClass);
            return Result::Rejected;
        }
        if (g->width < 0 || g->height < 0 || g->width > kMaxBitmapGlyphDots ||
            g->height > kMaxBitmapGlyphDots ||
            (size_t(g->width) + 7) / 8 * size_t(g->height) > kMaxBitmapGlyphBytes) {
            warning = "bitmap character of " + std::to_string(g->width) + " x " +
                      std::to_string(g->height) + " dots refused";
            return Result::Rejected;
        }
        size_t start = 2 + size_t(block[2]);
        if (start < block.size()) m_pending.assign(block.begin() + start, block.end());
    } else if (g->format == 15) {
        size_t descSize = U8(block, 2);
        g->glyphClass = U8(block, 3);
        size_t sizeAt = 2 + descSize;
        if (descSize < 2 || sizeAt + 4 > block.size()) {
            warning = "TrueType character descriptor too short";
            return Result::Rejected;
        }
        // The data size counts itself and the glyph ID; reserved byte and
        // checksum follow.
        m_expected = size_t(U16(block, sizeAt)) + 2;
        if (m_expected < 6) {
            warning = "TrueType character with an impossible data size";
            return Result::Rejected;
        }
        m_pending.assign(block.begin() + sizeAt, block.end());
    } else if (g->format == 10) {
        g->glyphClass = U8(block, 3);
        m_pending.assign(block.begin(), block.end());
    } else {
        warning = "character descriptor of unknown format " + std::to_string(g->format);
        return Result::Rejected;
    }
    m_glyph = std::move(g);
    m_open = true;
    return Finish(warning);
}

SoftGlyphAssembler::Result SoftGlyphAssembler::Finish(std::string& warning) {
    SoftGlyph& g = *m_glyph;
    if (g.format == 4) {
        // Decoded on every block: a character cut short still draws what came,
        // and its continuation replaces it.
        const size_t stride = (size_t(g.width) + 7) / 8, total = stride * size_t(g.height);
        if (g.glyphClass == 1) {
            g.bits.assign(total, 0);
            if (size_t n = std::min(total, m_pending.size()))
                std::memcpy(g.bits.data(), m_pending.data(), n);
            if (m_pending.size() >= total) m_open = false;
        } else if (!DecodeCompressedBitmap(m_pending, g.width, g.height, g.bits, warning)) {
            Reset();
            return Result::Rejected;
        }
        return Result::Complete;
    }
    if (g.format == 10) {
        g.raw = m_pending;
        return Result::Complete;
    }
    // TrueType: only a whole character counts.
    if (m_pending.size() < m_expected) return Result::Partial;
    m_open = false;
    std::span<const uint8_t> body(m_pending.data(), m_expected);
    if (ByteSum(body) != 0) {
        warning = "TrueType character checksum does not match; character dropped";
        Reset();
        return Result::Rejected;
    }
    g.glyphId = U16(body, 2);
    g.glyf.assign(body.begin() + 4, body.end() - 2);
    return Result::Complete;
}

// --- Symbol sets ---------------------------------------------------------

bool ParseUserSymbolSet(std::span<const uint8_t> d, UserSymbolSet& out, std::string& warning) {
    out = UserSymbolSet{};
    warning.clear();
    if (d.size() < 18) {
        warning = "symbol set definition shorter than its header";
        return false;
    }
    size_t headerSize = U16(d, 0);
    out.id = U16(d, 2);
    out.format = d[4];
    out.type = d[5];
    out.firstCode = U16(d, 6);
    out.lastCode = U16(d, 8);
    out.requirements = (uint64_t(U32(d, 10)) << 32) | U32(d, 14);
    if (headerSize < 18 || headerSize > d.size() || out.lastCode < out.firstCode ||
        out.lastCode > 0xFFFF) {
        warning = "symbol set definition with an inconsistent header";
        return false;
    }
    size_t count = size_t(out.lastCode - out.firstCode + 1);
    size_t have = (d.size() - headerSize) / 2;
    if (have < count) {
        warning = "symbol set definition shorter than its code range; the rest is undefined";
    }
    out.map.assign(count, 0xFFFF);
    for (size_t i = 0; i < std::min(count, have); ++i) out.map[i] = U16(d, headerSize + 2 * i);
    return true;
}

uint64_t HashBytes(std::span<const uint8_t> data, uint64_t seed) {
    // FNV-1a, 64 bit: equal downloads give equal hashes across a job.
    uint64_t h = seed ? seed : 1469598103934665603ull;
    for (uint8_t b : data) {
        h ^= b;
        h *= 1099511628211ull;
    }
    return h;
}

} // namespace tarvik
