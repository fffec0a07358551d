// Downloaded fonts as the interpreter keeps them: one SoftFont per font ID
// with its characters, and the store that holds them within a memory budget.
#pragma once

#include "FontStore.h"
#include "PclFont.h"
#include "SoftFontFormat.h"
#include "TrueTypeSoft.h"

#include "core/Font.h"

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>

namespace tarvik {

class SoftFontStore;

// Built TrueType faces kept for identical re-downloads.
class SoftFaceKeeper {
public:
    static constexpr size_t kKeepBytes = 8u << 20;
    // A face for these sfnt bytes: an identical one built before is reused,
    // so its rendered glyphs stay cached.
    std::shared_ptr<FontFace> FaceFor(uint64_t hash, std::vector<uint8_t> sfnt);

private:
    struct Kept {
        uint64_t hash;
        size_t bytes;
        std::shared_ptr<FontFace> face;
    };
    std::deque<Kept> m_faces;
    size_t m_bytes = 0;
};

class SoftFont : public fonts::PclFont {
public:
    SoftFont(SoftFontHeader header, std::shared_ptr<SoftFaceKeeper> keeper);

    const SoftFontHeader& Header() const { return m_header; }
    bool permanent = false;

    // PclFont.
    const fonts::FontTraits& Traits() const override { return m_traits; }
    bool Supports(int symbolSet) const override;
    bool Lookup(uint32_t code, uint32_t unicode, fonts::Glyph& out) const override;
    std::string Name() const override;
    fonts::VerticalForm Vertical(uint32_t code, const fonts::Glyph& g) const override;
    // Fonts the renderer cannot draw itself (Intellifont) print their
    // characters in this resident face.
    void SetSubstitute(std::shared_ptr<FontFace> face) { m_substitute = std::move(face); }
    // Symbol sets the host defined, for unbound fonts' complement check.
    void SetSymbolSets(const SoftFontStore* store) { m_store = store; }

    // The character for a code (bitmap and TrueType fonts), nullptr if none.
    const SoftGlyph* Glyph(uint32_t code) const {
        auto it = m_byCode.find(code);
        return it == m_byCode.end() ? nullptr : it->second.get();
    }
    size_t GlyphCount() const { return m_byCode.size(); }
    // The outline face of a TrueType font with every character so far, built
    // again only when characters changed; nullptr when it cannot be built.
    std::shared_ptr<FontFace> Face() const;

    size_t MemoryBytes() const { return m_bytes; }

private:
    friend class SoftFontStore;
    SoftFontHeader m_header;
    fonts::FontTraits m_traits;
    std::unordered_map<uint32_t, std::shared_ptr<const SoftGlyph>> m_byCode;
    SoftGlyphsById m_byId;
    std::shared_ptr<SoftFaceKeeper> m_keeper;
    std::shared_ptr<FontFace> m_substitute;
    const SoftFontStore* m_store = nullptr;
    // Compound characters put together from their parts, by code.
    bool Compose(const SoftGlyph& g, uint32_t code, fonts::Glyph& out) const;
    mutable std::unordered_map<uint32_t, std::vector<fonts::GlyphPart>> m_compounds;
    mutable std::shared_ptr<FontFace> m_face;
    mutable bool m_faceStale = true;
    size_t m_bytes = 0;
};

// Whether an unbound font's character complement holds every collection a
// symbol set requires (bits 0-2 name the index: MSL or Unicode).
bool ComplementFits(uint64_t complement, uint64_t requirements);

// All downloaded fonts and user symbol sets of a job. Fonts and characters
// cost their decoded size against one budget; what would exceed it is
// refused with a warning, so a job downloading thousands of fonts stays
// within a fixed amount of memory. A TrueType font's face holds no more than
// its charged tables and glyphs, and the face keeper a few MiB more, so
// downloads take at most about twice the budget plus the keeper.
class SoftFontStore {
public:
    static constexpr size_t kBudgetBytes = 24u << 20;

    // Replaces any font of that ID. False (warning set) when over budget.
    bool AddFont(int id, SoftFontHeader header, std::string& warning);
    SoftFont* Find(int id) const;
    bool SetPermanent(int id, bool permanent);
    // The fonts as font selection sees them.
    const fonts::FontStore& Selectable() const { return m_selectable; }
    std::shared_ptr<SoftFont> Shared(int id) const;
    bool Remove(int id);
    void RemoveAll(bool temporaryOnly);
    // Gives a copy of a font (downloaded or resident) a new ID; the copy
    // is temporary.
    bool CopyFont(const std::shared_ptr<fonts::PclFont>& font, int toId);
    // Stores a character; nullptr glyph deletes it.
    bool SetGlyph(int id, uint32_t code, std::shared_ptr<const SoftGlyph> glyph,
                  std::string& warning);
    size_t FontCount() const { return m_fonts.size(); }
    size_t MemoryBytes() const { return m_bytes; }
    // Incremented whenever a font appears, changes or goes: lets font
    // selection know when to look again.
    uint64_t Generation() const { return m_generation; }
    const std::map<int, std::shared_ptr<SoftFont>>& Fonts() const { return m_fonts; }

    // User symbol sets by their designator value.
    void AddSymbolSet(UserSymbolSet set);
    const UserSymbolSet* FindSymbolSet(int id) const;
    void SymbolSetControl(int op, int id);

    // Alphanumeric names for font IDs.
    void Name(const std::string& name, int id) { m_names[name] = id; }
    int IdForName(const std::string& name) const {
        auto it = m_names.find(name);
        return it == m_names.end() ? -1 : it->second;
    }
    void Unname(const std::string& name) { m_names.erase(name); }

private:
    std::map<int, std::shared_ptr<SoftFont>> m_fonts;
    // Every selectable font: the downloaded ones and resident fonts given
    // an ID by copying.
    fonts::FontStore m_selectable;
    std::shared_ptr<SoftFaceKeeper> m_keeper = std::make_shared<SoftFaceKeeper>();
    std::map<int, UserSymbolSet> m_symbolSets;
    void PublishSymbolSets(); // to m_selectable, for printing
    std::map<std::string, int> m_names;
    size_t m_bytes = 0;
    uint64_t m_generation = 1;
};

} // namespace tarvik
