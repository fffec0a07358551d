#include "SoftFont.h"

#include "SymbolSets.h"

#include <algorithm>

namespace tarvik {

namespace {

size_t HeaderCost(const SoftFontHeader& h) {
    return sizeof(SoftFont) + h.bytes.size() + h.tables.size() * sizeof(SfntTable);
}

// Per stored character: the glyph and the two map entries.
size_t GlyphCost(const SoftGlyph& g) {
    return g.MemoryBytes() + 96;
}

} // namespace

bool ComplementFits(uint64_t complement, uint64_t requirements) {
    // The index kind: complement 111 / requirement 000 is MSL, 110 / 001 Unicode.
    if (((~complement) & 7) != (requirements & 7)) return false;
    return (complement & requirements & ~uint64_t(7)) == 0;
}

SoftFont::SoftFont(SoftFontHeader header, std::shared_ptr<SoftFaceKeeper> keeper)
    : m_header(std::move(header)), m_keeper(std::move(keeper)) {
    const SoftFontHeader& h = m_header;
    fonts::FontTraits& t = m_traits;
    t.symbolSet = h.symbolSet;
    t.proportional = h.spacing == 1;
    t.style = h.styleWord;
    t.weight = h.strokeWeight;
    t.typeface = h.typeface;
    t.orientation = h.orientation;
    t.scalable = h.Scalable();
    // Font types 10 and 11 index their characters by symbol (MSL, Unicode)
    // and print any set their complement covers.
    t.bound = h.fontType < 10;
    if (h.IsBitmap()) {
        const double dpi =
            h.format == 16 && h.bitmapResolution > 0 ? h.bitmapResolution : h.xResolution;
        t.pitch = h.pitch > 0 ? dpi * 4 / h.pitch : 10;
        t.height = h.height / 4 / dpi * 72;
        // Header underline position: dots from the baseline, negative below.
        t.underlineDistance = -h.underlinePosition * 72 / dpi;
        t.underlineThickness = h.underlineThickness * 72 / dpi;
    } else {
        const double em = h.scaleFactor > 0 ? h.scaleFactor : 1;
        t.pitch = h.pitch > 0 ? 6 * em / h.pitch : 10; // cpi at 12 points
        t.height = 0;
        t.underlineDistance = -h.masterUnderlinePosition / em;
        t.underlineThickness = h.masterUnderlineThickness / em;
    }
}

std::string SoftFont::Name() const {
    return m_header.name.empty() ? "downloaded font" : "downloaded font \"" + m_header.name + "\"";
}

bool SoftFont::Supports(int symbolSet) const {
    if (m_traits.bound) return symbolSet == m_traits.symbolSet;
    if (!m_header.hasComplement || !m_store) return true;
    // Only a symbol set the host defined tells us what it requires.
    const UserSymbolSet* set = m_store->FindSymbolSet(symbolSet);
    return !set || ComplementFits(m_header.complement, set->requirements);
}

bool SoftFont::Lookup(uint32_t code, uint32_t unicode, fonts::Glyph& out) const {
    out = fonts::Glyph{};
    if (m_header.IsIntellifont()) {
        auto it = m_byCode.find(m_traits.bound ? code : unicode);
        if (it != m_byCode.end() && it->second->glyphClass == 4 &&
            Compose(*it->second, it->first, out))
            return true;
        // Drawn in the nearest resident face until Intellifont outlines are
        // rasterised here.
        if (!m_substitute || unicode == fonts::kNoUnicode) return false;
        uint32_t g = m_substitute->GlyphForUnicode(unicode);
        if (!g && unicode != ' ') return false;
        out.kind = fonts::Glyph::Kind::Outline;
        out.face = m_substitute.get();
        out.index = g;
        out.advance = m_substitute->Advance(g);
        return true;
    }
    // Unbound fonts hold their characters under the symbol's own value.
    uint32_t key = m_traits.bound ? code : unicode;
    auto it = m_byCode.find(key);
    if (it == m_byCode.end() && m_header.galleyCharacter >= 0)
        it = m_byCode.find(uint32_t(m_header.galleyCharacter));
    if (it == m_byCode.end()) return false;
    const SoftGlyph& g = *it->second;
    if (g.format == 4) {
        const double dpi = m_header.format == 16 && m_header.bitmapResolution > 0
                               ? m_header.bitmapResolution
                               : m_header.xResolution;
        out.kind = fonts::Glyph::Kind::Bitmap;
        out.resolution = int(dpi);
        // Fixed-pitch fonts advance by the pitch, proportional ones by the
        // character's own delta X.
        out.advance =
            (m_traits.proportional || m_header.pitch <= 0 ? g.deltaX : m_header.pitch) / 4.0;
        out.bits = g.bits.empty() ? nullptr : g.bits.data();
        out.width = g.width;
        out.height = g.height;
        out.stride = (size_t(g.width) + 7) / 8;
        out.left = g.leftOffset;
        out.top = g.topOffset;
        return true;
    }
    if (g.format == 15) {
        std::shared_ptr<FontFace> face = Face();
        if (!face) return false;
        // A glyph without contours (a space) only advances.
        out.kind = g.glyf.empty() ? fonts::Glyph::Kind::None : fonts::Glyph::Kind::Outline;
        out.face = face.get();
        out.index = g.glyphId;
        out.advance = face->Advance(g.glyphId);
        return true;
    }
    return false;
}

bool SoftFont::Compose(const SoftGlyph& g, uint32_t code, fonts::Glyph& out) const {
    // Escapement, a part count, a reserved byte, then six bytes a part:
    // code, x and y offset, all in design units.
    const std::vector<uint8_t>& d = g.raw;
    if (!m_substitute || m_header.scaleFactor <= 0 || d.size() < 8) return false;
    auto made = m_compounds.find(code);
    const double em = m_header.scaleFactor;
    auto u16 = [&](size_t at) { return uint16_t(d[at] << 8 | d[at + 1]); };
    // The parts' codes name characters the way the font's own codes do.
    const fonts::SymbolSet* set = fonts::FindSymbolSet(m_traits.symbolSet);
    bool unicodeIndex = !m_traits.bound && m_header.hasComplement && (m_header.complement & 7) == 6;
    if (m_traits.bound ? !set : !unicodeIndex) return false;
    // Looked-up glyphs point at the parts: make them once per character.
    if (made == m_compounds.end()) {
        std::vector<fonts::GlyphPart> parts;
        // Real compounds join two or three characters; more is not kept.
        for (size_t i = 0, at = 8; i < d[6] && i < 16 && at + 6 <= d.size(); ++i, at += 6) {
            uint32_t partCode = u16(at);
            uint32_t u = m_traits.bound ? fonts::ToUnicode(*set, partCode) : partCode;
            uint32_t index = u == fonts::kNoChar ? 0 : m_substitute->GlyphForUnicode(u);
            if (!index) continue; // a part nothing can print
            parts.push_back(
                {m_substitute.get(), index, int16_t(u16(at + 2)) / em, int16_t(u16(at + 4)) / em});
        }
        made = m_compounds.emplace(code, std::move(parts)).first;
    }
    const std::vector<fonts::GlyphPart>& kept = made->second;
    if (kept.empty()) return false;
    out.kind = fonts::Glyph::Kind::Compound;
    out.parts = kept.data();
    out.partCount = int(kept.size());
    out.advance = int16_t(u16(4)) / em;
    return true;
}

namespace {

uint16_t TableU16(const SfntTable* t, size_t at) {
    return t && at + 2 <= t->data.size() ? uint16_t(t->data[at] << 8 | t->data[at + 1]) : 0;
}

} // namespace

fonts::VerticalForm SoftFont::Vertical(uint32_t code, const fonts::Glyph& g) const {
    fonts::VerticalForm v = PclFont::Vertical(code, g);
    if (m_header.hasUprightRanges) {
        // The font lists what stays upright; everything else turns.
        v.turn = true;
        for (auto [first, last] : m_header.uprightRanges)
            if (code >= first && code <= last) v.turn = false;
    }
    if (g.kind != fonts::Glyph::Kind::Outline || !m_header.IsTrueType()) return v;
    // Vertical forms replace glyphs only in large (two-byte) fonts.
    const auto& subs = m_header.verticalSubstitutes;
    auto it =
        std::lower_bound(subs.begin(), subs.end(), std::make_pair(uint16_t(g.index), uint16_t(0)));
    if (m_header.fontType == 3 && it != subs.end() && it->first == g.index &&
        m_byId.count(it->second))
        v.index = it->second;
    double unitsPerEm = TableU16(m_header.Table("head"), 18);
    if (unitsPerEm <= 0) unitsPerEm = m_header.scaleFactor;
    if (unitsPerEm <= 0) return v;
    // The advance height from vmtx; glyphs past its long entries share the last.
    const SfntTable* vhea = m_header.Table("vhea");
    const SfntTable* vmtx = m_header.Table("vmtx");
    size_t longMetrics = TableU16(vhea, 34);
    if (vmtx && longMetrics > 0) {
        size_t i = std::min<size_t>(v.index, longMetrics - 1);
        if (i * 4 + 2 <= vmtx->data.size()) {
            double height = TableU16(vmtx, i * 4);
            if (height > 0) v.advance = height / unitsPerEm;
        }
    }
    if (m_header.hasVerticalDescender) v.descender = m_header.verticalDescender / unitsPerEm;
    return v;
}

std::shared_ptr<FontFace> SoftFont::Face() const {
    if (!m_header.IsTrueType()) return nullptr;
    if (!m_faceStale) return m_face;
    m_faceStale = false;
    std::string warning;
    uint64_t hash = HashBytes(m_header.bytes);
    for (const auto& [id, g] : m_byId) {
        uint8_t key[2] = {uint8_t(id >> 8), uint8_t(id)};
        hash = HashBytes(key, hash);
        hash = HashBytes(g->glyf, hash);
    }
    std::vector<uint8_t> sfnt = BuildSoftSfnt(m_header, m_byId, warning);
    m_face = sfnt.empty() || !m_keeper ? nullptr : m_keeper->FaceFor(hash, std::move(sfnt));
    return m_face;
}

std::shared_ptr<FontFace> SoftFaceKeeper::FaceFor(uint64_t hash, std::vector<uint8_t> sfnt) {
    for (const Kept& k : m_faces)
        if (k.hash == hash && k.bytes == sfnt.size()) return k.face;
    size_t bytes = sfnt.size();
    std::shared_ptr<FontFace> face = FontFace::FromMemory(std::move(sfnt));
    if (!face) return nullptr;
    m_faces.push_back({hash, bytes, face});
    m_bytes += bytes;
    // Fonts in use hold their faces themselves; this list only bridges a
    // delete and an identical re-download.
    while (m_bytes > kKeepBytes && m_faces.size() > 1) {
        m_bytes -= m_faces.front().bytes;
        m_faces.pop_front();
    }
    return face;
}

bool SoftFontStore::AddFont(int id, SoftFontHeader header, std::string& warning) {
    Remove(id);
    size_t cost = HeaderCost(header);
    if (m_bytes + cost > kBudgetBytes) {
        warning = "downloaded fonts exceed " + std::to_string(kBudgetBytes >> 20) + " MiB; font " +
                  std::to_string(id) + " refused";
        return false;
    }
    auto font = std::make_shared<SoftFont>(std::move(header), m_keeper);
    font->m_bytes = cost;
    font->SetSymbolSets(this);
    m_bytes += cost;
    m_selectable.Add(id, font, false);
    m_fonts[id] = std::move(font);
    ++m_generation;
    return true;
}

SoftFont* SoftFontStore::Find(int id) const {
    auto it = m_fonts.find(id);
    return it == m_fonts.end() ? nullptr : it->second.get();
}

std::shared_ptr<SoftFont> SoftFontStore::Shared(int id) const {
    auto it = m_fonts.find(id);
    return it == m_fonts.end() ? nullptr : it->second;
}

bool SoftFontStore::Remove(int id) {
    auto it = m_fonts.find(id);
    if (it == m_fonts.end()) {
        if (!m_selectable.Remove(id)) return false; // a resident font's ID
        ++m_generation;
        return true;
    }
    m_bytes -= it->second->m_bytes;
    m_fonts.erase(it);
    m_selectable.Remove(id);
    ++m_generation;
    return true;
}

bool SoftFontStore::SetPermanent(int id, bool permanent) {
    if (SoftFont* font = Find(id)) font->permanent = permanent;
    return m_selectable.SetPermanent(id, permanent);
}

void SoftFontStore::RemoveAll(bool temporaryOnly) {
    if (temporaryOnly)
        m_selectable.RemoveTemporary();
    else
        m_selectable.RemoveAll();
    for (auto it = m_fonts.begin(); it != m_fonts.end();) {
        if (!temporaryOnly || !it->second->permanent) {
            m_bytes -= it->second->m_bytes;
            it = m_fonts.erase(it);
        } else {
            ++it;
        }
    }
    ++m_generation;
}

bool SoftFontStore::CopyFont(const std::shared_ptr<fonts::PclFont>& font, int toId) {
    if (!font) return false;
    auto* soft = dynamic_cast<const SoftFont*>(font.get());
    if (!soft) {
        Remove(toId);
        m_selectable.Add(toId, font, false);
        ++m_generation;
        return true;
    }
    if (m_bytes + soft->m_bytes > kBudgetBytes) return false;
    auto copy = std::make_shared<SoftFont>(*soft);
    Remove(toId);
    copy->permanent = false;
    // The header's table views point into its own byte copy: parse again.
    std::string w;
    ParseSoftFontHeader(soft->m_header.bytes, copy->m_header, w);
    copy->m_faceStale = true;
    copy->m_face.reset();
    m_bytes += copy->m_bytes;
    m_selectable.Add(toId, copy, false);
    m_fonts[toId] = std::move(copy);
    ++m_generation;
    return true;
}

bool SoftFontStore::SetGlyph(int id, uint32_t code, std::shared_ptr<const SoftGlyph> glyph,
                             std::string& warning) {
    auto it = m_fonts.find(id);
    if (it == m_fonts.end()) {
        warning = "character for font " + std::to_string(id) + ", which does not exist";
        return false;
    }
    SoftFont* font = it->second.get();
    if (glyph && glyph->format == 15 && !font->m_header.IsTrueType()) {
        warning = "TrueType character for a font that is not TrueType";
        return false;
    }
    if (glyph && glyph->format == 4 && !font->m_header.IsBitmap()) {
        warning = "bitmap character for a font that is not a bitmap font";
        return false;
    }
    // The old character goes whatever becomes of the new one.
    if (auto old = font->m_byCode.find(code); old != font->m_byCode.end()) {
        size_t cost = GlyphCost(*old->second);
        font->m_bytes -= cost;
        m_bytes -= cost;
        font->m_byCode.erase(old);
        font->m_compounds.erase(code);
    }
    bool stored = true;
    if (glyph) {
        size_t cost = GlyphCost(*glyph);
        // TrueType glyphs are also kept by glyph ID (composites use them
        // whatever code they came with): that copy is charged as well.
        const bool byId = glyph->format == 15;
        if (m_bytes + (byId ? 2 * cost : cost) > kBudgetBytes) {
            warning = "downloaded fonts exceed " + std::to_string(kBudgetBytes >> 20) +
                      " MiB; character refused";
            stored = false;
        } else {
            font->m_bytes += cost;
            m_bytes += cost;
            if (byId) {
                auto& slot = font->m_byId[glyph->glyphId];
                if (!slot || slot->contentHash != glyph->contentHash) font->m_faceStale = true;
                size_t was = slot ? GlyphCost(*slot) : 0;
                font->m_bytes += cost - was;
                m_bytes += cost - was;
                slot = glyph;
            }
            font->m_byCode[code] = std::move(glyph);
        }
    }
    // Selected fonts keep looked-up glyphs (pointers into the characters):
    // a changed character must make selection look again.
    m_selectable.Add(id, it->second, font->permanent);
    ++m_generation;
    return stored;
}

void SoftFontStore::AddSymbolSet(UserSymbolSet set) {
    // A definition starts temporary, also when it replaces a permanent one.
    int id = set.id;
    m_symbolSets[id] = std::move(set);
    ++m_generation;
    PublishSymbolSets();
}

void SoftFontStore::PublishSymbolSets() {
    std::map<int, std::shared_ptr<const fonts::DefinedSymbolSet>> sets;
    for (const auto& [id, user] : m_symbolSets) {
        // Only the two indexes a character complement knows (MSL, Unicode).
        if (user.format != 1 && user.format != 3) continue;
        auto set = std::make_shared<fonts::DefinedSymbolSet>();
        set->unicode = user.format == 3;
        set->firstCode = uint32_t(user.firstCode);
        set->values = user.map;
        sets[id] = std::move(set);
    }
    m_selectable.SetDefinedSymbolSets(std::move(sets));
}

const UserSymbolSet* SoftFontStore::FindSymbolSet(int id) const {
    auto it = m_symbolSets.find(id);
    return it == m_symbolSets.end() ? nullptr : &it->second;
}

void SoftFontStore::SymbolSetControl(int op, int id) {
    switch (op) {
    case 0:
        m_symbolSets.clear();
        break;
    case 1:
        for (auto it = m_symbolSets.begin(); it != m_symbolSets.end();)
            it = it->second.permanent ? std::next(it) : m_symbolSets.erase(it);
        break;
    case 2:
        m_symbolSets.erase(id);
        break;
    case 4:
    case 5:
        if (auto it = m_symbolSets.find(id); it != m_symbolSets.end())
            it->second.permanent = op == 5;
        break;
    default:
        return;
    }
    ++m_generation;
    PublishSymbolSets();
}

} // namespace tarvik
