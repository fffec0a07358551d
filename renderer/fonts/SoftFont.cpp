#include "SoftFont.h"

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

std::shared_ptr<FontFace> SoftFont::Face(SoftFontStore& store) {
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
    m_face = sfnt.empty() ? nullptr : store.FaceFor(hash, std::move(sfnt));
    m_faceFailed = !m_face;
    return m_face;
}

std::shared_ptr<FontFace> SoftFontStore::FaceFor(uint64_t hash, std::vector<uint8_t> sfnt) {
    for (const KeptFace& k : m_faces)
        if (k.hash == hash && k.bytes == sfnt.size()) return k.face;
    size_t bytes = sfnt.size();
    std::shared_ptr<FontFace> face = FontFace::FromMemory(std::move(sfnt));
    if (!face) return nullptr;
    m_faces.push_back({hash, bytes, face});
    m_faceBytes += bytes;
    // Fonts in use hold their faces themselves; this list only bridges a
    // delete and an identical re-download.
    while (m_faceBytes > kFaceKeepBytes && m_faces.size() > 1) {
        m_faceBytes -= m_faces.front().bytes;
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
    auto font = std::make_shared<SoftFont>(std::move(header));
    font->m_bytes = cost;
    m_bytes += cost;
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
    if (it == m_fonts.end()) return false;
    m_bytes -= it->second->m_bytes;
    m_fonts.erase(it);
    ++m_generation;
    return true;
}

void SoftFontStore::RemoveAll(bool temporaryOnly) {
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

bool SoftFontStore::Copy(int fromId, int toId) {
    auto src = Shared(fromId);
    if (!src || fromId == toId) return false;
    if (m_bytes + src->m_bytes > kBudgetBytes) return false;
    Remove(toId);
    auto copy = std::make_shared<SoftFont>(*src);
    copy->permanent = false;
    // The header's table views point into its own byte copy: parse again.
    std::string w;
    ParseSoftFontHeader(src->m_header.bytes, copy->m_header, w);
    copy->m_faceStale = true;
    copy->m_face.reset();
    m_bytes += copy->m_bytes;
    m_fonts[toId] = std::move(copy);
    ++m_generation;
    return true;
}

bool SoftFontStore::SetGlyph(int id, uint32_t code, std::shared_ptr<const SoftGlyph> glyph,
                             std::string& warning) {
    SoftFont* font = Find(id);
    if (!font) {
        warning = "character for font " + std::to_string(id) + ", which does not exist";
        return false;
    }
    auto old = font->m_byCode.find(code);
    if (old != font->m_byCode.end()) {
        size_t cost = GlyphCost(*old->second);
        font->m_bytes -= cost;
        m_bytes -= cost;
        font->m_byCode.erase(old);
    }
    if (glyph) {
        if (glyph->format == 15 && !font->m_header.IsTrueType()) {
            warning = "TrueType character for a font that is not TrueType";
            return false;
        }
        if (glyph->format == 4 && !font->m_header.IsBitmap()) {
            warning = "bitmap character for a font that is not a bitmap font";
            return false;
        }
        size_t cost = GlyphCost(*glyph);
        if (m_bytes + cost > kBudgetBytes) {
            warning = "downloaded fonts exceed " + std::to_string(kBudgetBytes >> 20) +
                      " MiB; character refused";
            return false;
        }
        font->m_bytes += cost;
        m_bytes += cost;
        if (glyph->format == 15) {
            auto& slot = font->m_byId[glyph->glyphId];
            if (!slot || slot->contentHash != glyph->contentHash) font->m_faceStale = true;
            slot = glyph;
        }
        font->m_byCode[code] = std::move(glyph);
    }
    ++m_generation;
    return true;
}

void SoftFontStore::AddSymbolSet(UserSymbolSet set) {
    // A definition starts temporary, also when it replaces a permanent one.
    int id = set.id;
    m_symbolSets[id] = std::move(set);
    ++m_generation;
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
}

} // namespace tarvik
