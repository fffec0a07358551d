// Downloaded fonts by font ID, as the font-management commands keep them.
// Selection considers them beside the resident fonts; Generation() changes
// with every edit so cached selections know when to look again.
#pragma once

#include "PclFont.h"

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

namespace tarvik::fonts {

// A symbol set the job defined itself: what each code stands for, as a
// Unicode value or as the printer's own symbol number (MSL). Codes run up to
// 65535, so two-byte text can address it.
struct DefinedSymbolSet {
    bool unicode = true; // false: MSL numbers
    uint32_t firstCode = 0;
    std::vector<uint16_t> values; // from firstCode on; 0xFFFF undefined
    uint32_t Value(uint32_t code) const {
        return code >= firstCode && code - firstCode < values.size() ? values[code - firstCode]
                                                                     : 0xFFFF;
    }
    // The Unicode value of a code, MSL numbers through the symbol list;
    // 0xFFFF when the set leaves the code undefined or the list has no value.
    uint32_t UnicodeOf(uint32_t code) const;
};

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

    // The symbol sets the job defined, by designator value; they count as
    // a change of the fonts for cached selections.
    void SetDefinedSymbolSets(std::map<int, std::shared_ptr<const DefinedSymbolSet>> sets);
    std::shared_ptr<const DefinedSymbolSet> DefinedSet(int id) const;

private:
    std::map<int, Entry> m_fonts;
    std::map<int, std::shared_ptr<const DefinedSymbolSet>> m_sets;
    uint64_t m_generation = 1;
};

} // namespace tarvik::fonts
