// Downloaded fonts by font ID, as the font-management commands keep them.
// Selection considers them beside the resident fonts; Generation() changes
// with every edit so cached selections know when to look again.
#pragma once

#include "PclFont.h"

#include <cstdint>
#include <map>
#include <memory>

namespace tarvik::fonts {

class FontStore {
public:
    struct Entry {
        std::shared_ptr<PclFont> font;
        bool permanent = false; // survives a printer reset
    };

    // Adds or replaces the font with this ID.
    void Add(int id, std::shared_ptr<PclFont> font, bool permanent = false);
    // False when no font has this ID.
    bool Remove(int id);
    void RemoveAll();
    void RemoveTemporary();
    // Marks a font temporary or permanent; false when absent.
    bool SetPermanent(int id, bool permanent);

    const PclFont* Find(int id) const;
    std::shared_ptr<PclFont> Shared(int id) const;
    const std::map<int, Entry>& All() const { return m_fonts; }
    bool Empty() const { return m_fonts.empty(); }
    uint64_t Generation() const { return m_generation; }

private:
    std::map<int, Entry> m_fonts;
    uint64_t m_generation = 1;
};

} // namespace tarvik::fonts
