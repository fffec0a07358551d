// The printer's resident fonts: printer metrics from the resident font
// table, outlines from the closest installed face, stretched horizontally
// where the face is not a metric twin.
#include "FontSelect.h"
#include "ResidentFonts.h"

#include "core/Font.h"

#include <algorithm>

namespace tarvik::fonts {

namespace {

bool IsBoxCharacter(uint32_t u) {
    return u >= 0x2500 && u <= 0x259F;
}

class ResidentPclFont final : public PclFont {
public:
    ResidentPclFont(FontLibrary& library, const ResidentFont& font) : m_font(font) {
        m_traits.symbolSet = font.symbolSet;
        m_traits.proportional = font.proportional;
        m_traits.pitch = font.proportional ? 0 : font.pitch;
        m_traits.height = font.scalable ? 0 : font.height;
        m_traits.style = font.style;
        m_traits.weight = font.weight;
        m_traits.typeface = font.typeface;
        m_traits.scalable = font.scalable;
        m_traits.bound = font.symbolic;
        if (font.faceFile) m_face = library.ByFile(font.faceFile).face;
        if (font.fallbackFile) m_fallback = library.ByFile(font.fallbackFile).face;
        if (!m_face) std::swap(m_face, m_fallback);
        m_byCode = m_face && font.faceFile && StandInByCode(font.faceFile) &&
                   library.ByFile(font.faceFile).face == m_face;
        // Characters neither face has still print, in the face every
        // installation of this program has.
        m_last = library.ByFile("DejaVuSans.ttf").face;
        // A floating underline sits where the face puts its own: the top
        // of the stroke, below the baseline, in ems (points for a font of
        // one size).
        double centre = 0, thick = 0;
        if (m_face && m_face->Underline(centre, thick) && -centre - thick / 2 > 0) {
            double unit = font.scalable ? 1 : font.height;
            m_traits.underlineDistance = (-centre - thick / 2) * unit;
            m_traits.underlineThickness = thick * unit;
        }
        // The printer's advance of every character of a fixed-pitch font.
        if (!font.proportional && font.pitch > 0)
            m_fixedEm = font.scalable ? 6.0 / font.pitch : 72.0 / (font.pitch * font.height);
    }

    const FontTraits& Traits() const override { return m_traits; }
    std::string Name() const override { return m_font.name ? m_font.name : "resident font"; }
    bool Resident() const override { return true; }
    int Number() const override { return m_font.index; }

    bool Supports(int symbolSet) const override {
        if (m_font.symbolic) return symbolSet == m_font.symbolSet;
        const SymbolSet* set = FindSymbolSet(symbolSet);
        return set && set->kind == SymbolSet::Kind::Text;
    }

    // Resident fonts reach every glyph through its character, never its code.
    bool Lookup(uint32_t, uint32_t unicode, Glyph& out) const override {
        out = Glyph{};
        double printer = unicode != kNoUnicode ? ResidentAdvance(m_font, unicode) : -1;
        if (m_fixedEm > 0) printer = m_fixedEm;
        if (unicode != kNoUnicode && IsBoxCharacter(unicode) && !m_font.symbolic) {
            out.kind = Glyph::Kind::Box;
            out.unicode = unicode;
            out.advance = printer > 0 ? printer : 0.6;
            return true;
        }
        const FontFace* face = nullptr;
        uint32_t index = 0;
        // The URW symbol faces carry their glyphs under their own code layout,
        // which is not the printer's (Symbol 19M against the face's 5M): go
        // through the character. Faces with a Unicode map are found below.
        if (m_byCode && unicode != kNoUnicode) {
            uint32_t faceCode = StandInCode(m_font.faceFile, unicode);
            if (faceCode != kNoChar) index = m_face->GlyphForCode(faceCode);
            face = m_face.get();
        }
        for (const FontFace* f : {m_face.get(), m_fallback.get(), m_last.get()}) {
            if (index || !f || unicode == kNoUnicode) break;
            index = f->GlyphForUnicode(unicode);
            face = f;
        }
        if (!index) {
            // The printer has the character but no installed face does: it
            // still takes its room.
            out.advance = printer > 0 ? printer : 0;
            return false;
        }
        double natural = face->Advance(index);
        out.kind = Glyph::Kind::Outline;
        out.face = face;
        out.index = index;
        out.advance = printer >= 0 ? printer : natural;
        if (printer > 0 && natural > 0) {
            // Stretch to the printer's width while the shape survives it;
            // beyond that centre the glyph in the printer's advance.
            out.scaleX = std::clamp(printer / natural, 0.8, 1.25);
            out.offsetX = (printer - natural * out.scaleX) / 2;
        }
        return true;
    }

private:
    const ResidentFont& m_font;
    FontTraits m_traits;
    std::shared_ptr<FontFace> m_face, m_fallback, m_last;
    double m_fixedEm = 0;
    bool m_byCode = false;
};

} // namespace

std::shared_ptr<PclFont> MakeResidentFont(FontLibrary& library, int index) {
    auto all = ResidentFonts();
    if (index < 0 || size_t(index) >= all.size()) return nullptr;
    return std::make_shared<ResidentPclFont>(library, all[size_t(index)]);
}

} // namespace tarvik::fonts
