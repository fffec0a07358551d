// Font selection for PCL 5 text and HP-GL/2 labels: by characteristics in
// the printer's priority order over the resident fonts and the downloaded
// fonts of a FontStore, or a given font by ID; and the selected font at its
// size, which looks glyphs up for printing.
//
// Drivers reselect for every word, so results are cached per request and
// the glyphs of single-byte codes per selected font.
#pragma once

#include "FontStore.h"
#include "PclFont.h"
#include "SymbolSets.h"

#include <array>
#include <bitset>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace tarvik {
class FontLibrary;
}

namespace tarvik::fonts {

constexpr int kRoman8 = SymbolSetValue(8, 'U');

// The characteristics a job asks for (the font select table).
struct FontRequest {
    int symbolSet = kRoman8;
    int spacing = 0; // 0 fixed, 1 proportional
    double pitch = 10;
    double height = 12;
    int style = 0;
    int weight = 0;
    int typeface = 4099;
    int orientation = 0;
    bool scalableOnly = false; // HP-GL/2 labels under SB0 pass bitmap fonts by
    bool operator==(const FontRequest&) const = default;
};

// The characteristics fonts are selected by, numbered as HP-GL/2's SD and AD
// kinds; PCL's ESC (s commands name the same ones by letter.
enum class Characteristic { SymbolSet = 1, Spacing, Pitch, Height, Style, Weight, Typeface };

// Sets one characteristic within the ranges printers accept (pitch up to
// 576 cpi, heights 0.25-999.75 pt); false, leaving the request alone, for a
// value they reject.
bool SetCharacteristic(FontRequest& r, Characteristic c, double v);

// A font as selected: the font, the symbol set its codes go through, and
// its size.
class ActiveFont {
public:
    // `defined`: the job's own definition of the symbol set, if it made one.
    ActiveFont(std::shared_ptr<PclFont> font, int symbolSet, double heightPt, double pitch,
               std::shared_ptr<const DefinedSymbolSet> defined = nullptr);

    const PclFont& Font() const { return *m_font; }
    const std::shared_ptr<PclFont>& Shared() const { return m_font; }
    int SymbolSetValue() const { return m_symbolSet; }
    const SymbolSet* Set() const { return m_set; }
    // The em size of scalable fonts; a bitmap font's own height.
    double HeightPt() const { return m_height; }
    // Fixed-pitch fonts: characters per inch; proportional fonts: 0.
    double Pitch() const { return m_pitch; }
    bool Proportional() const { return m_pitch <= 0; }
    // The default horizontal motion: the pitch's cell, or the space width.
    double DefaultHmiPt() const { return m_hmiPt; }

    // Unicode of a code in this font's symbol set; kNoUnicode when the set
    // leaves it undefined.
    uint32_t ToUnicode(uint32_t code) const;
    // The glyph for a code; Kind::None when the font cannot print it.
    const Glyph& Lookup(uint32_t code) const;
    // The glyph for a Unicode character (UTF-8 text); not cached unless it
    // goes through a code of the font's set.
    const Glyph& LookupUnicode(uint32_t unicode) const;
    // Advance of a glyph in points (for proportional spacing).
    double AdvancePt(const Glyph& g) const;

private:
    std::shared_ptr<PclFont> m_font;
    int m_symbolSet;
    const SymbolSet* m_set;
    std::shared_ptr<const DefinedSymbolSet> m_defined;
    bool m_mslToUnicode = false; // m_defined holds MSL numbers for a resident font
    double m_height, m_pitch, m_hmiPt = 0;
    mutable std::array<Glyph, 256> m_glyphs;
    mutable std::bitset<256> m_have;
    mutable Glyph m_wide;
    // Unicode -> code of the set, built on first use by LookupUnicode.
    mutable std::unordered_map<uint32_t, uint32_t> m_codeFor;
    mutable bool m_haveCodeFor = false;
};

class FontSelector {
public:
    explicit FontSelector(FontLibrary& library);
    ~FontSelector();

    // The best font for the request; never null. `note`, when given, gets a
    // description of what was substituted (empty for a fitting font).
    std::shared_ptr<const ActiveFont> Select(const FontRequest& request, const FontStore* store,
                                             std::string* note = nullptr);
    // A font chosen by ID, at the request's size and symbol set where it is
    // scalable or unbound; `store` holds the symbol sets the job defined.
    std::shared_ptr<const ActiveFont> Activate(const std::shared_ptr<PclFont>& font,
                                               const FontRequest& request,
                                               const FontStore* store = nullptr);
    // The request a font fulfils exactly (the select table after (#X).
    static FontRequest RequestFor(const PclFont& font, const FontRequest& current);

    const std::vector<std::shared_ptr<PclFont>>& Residents();
    // PJL FONTNUMBER counts resident fonts in this order.
    std::shared_ptr<PclFont> ResidentByNumber(int number);

private:
    std::shared_ptr<PclFont> Choose(const FontRequest& r, const FontStore* store, int& symbolSet,
                                    std::string* note);
    FontLibrary& m_library;
    std::vector<std::shared_ptr<PclFont>> m_residents;
    struct Cached {
        FontRequest request;
        uint64_t generation;
        std::shared_ptr<const ActiveFont> font;
        std::string note;
    };
    std::vector<Cached> m_cache; // few distinct requests per job; newest last
};

// Draws codes of the font's symbol set along a baseline (HP-GL/2 labels and
// any other caller outside PCL 5's text model): textToPage maps text space
// (points, origin on the baseline, y down) to page space. Spaces and
// fixed-pitch fonts advance by the pitch cell. Returns the advance in points.
double DrawText(Device& dev, const ActiveFont& font, const uint32_t* codes, size_t count,
                const Matrix& textToPage, const Paint& paint, const RasterOp& op);

// The resident font behind an installed stand-in face.
std::shared_ptr<PclFont> MakeResidentFont(FontLibrary& library, int index);

} // namespace tarvik::fonts
