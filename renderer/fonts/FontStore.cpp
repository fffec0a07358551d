#include "FontStore.h"

#include "MslUnicode.h"

namespace tarvik::fonts {

uint32_t DefinedSymbolSet::UnicodeOf(uint32_t code) const {
    uint32_t v = Value(code);
    return unicode || v == 0xFFFF ? v : MslToUnicode(v);
}

void FontStore::Add(int id, std::shared_ptr<PclFont> font, bool permanent) {
    if (!font) return;
    m_fonts[id] = Entry{std::move(font), permanent};
    ++m_generation;
}

bool FontStore::Remove(int id) {
    if (!m_fonts.erase(id)) return false;
    ++m_generation;
    return true;
}

void FontStore::RemoveAll() {
    if (m_fonts.empty()) return;
    m_fonts.clear();
    ++m_generation;
}

void FontStore::RemoveTemporary() {
    bool changed = false;
    for (auto it = m_fonts.begin(); it != m_fonts.end();) {
        if (it->second.permanent) {
            ++it;
        } else {
            it = m_fonts.erase(it);
            changed = true;
        }
    }
    if (changed) ++m_generation;
}

bool FontStore::SetPermanent(int id, bool permanent) {
    auto it = m_fonts.find(id);
    if (it == m_fonts.end()) return false;
    it->second.permanent = permanent;
    return true;
}

const PclFont* FontStore::Find(int id) const {
    auto it = m_fonts.find(id);
    return it == m_fonts.end() ? nullptr : it->second.font.get();
}

void FontStore::SetDefinedSymbolSets(std::map<int, std::shared_ptr<const DefinedSymbolSet>> sets) {
    m_sets = std::move(sets);
    ++m_generation;
}

std::shared_ptr<const DefinedSymbolSet> FontStore::DefinedSet(int id) const {
    auto it = m_sets.find(id);
    return it == m_sets.end() ? nullptr : it->second;
}

std::shared_ptr<PclFont> FontStore::Shared(int id) const {
    auto it = m_fonts.find(id);
    return it == m_fonts.end() ? nullptr : it->second.font;
}

} // namespace tarvik::fonts
