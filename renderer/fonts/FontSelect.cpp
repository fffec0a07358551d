#include "FontSelect.h"
#include "ResidentFonts.h"

#include <algorithm>
#include <cmath>
#include <functional>

namespace tarvik::fonts {

namespace {

constexpr size_t kMaxCached = 64;

struct Candidate {
    std::shared_ptr<PclFont> font;
    const FontTraits* traits;
};
using Candidates = std::vector<Candidate>;

// Keeps the candidates that pass, unless none does: a characteristic no
// font has is ignored.
bool Narrow(Candidates& c, const std::function<bool(const FontTraits&)>& keep) {
    Candidates kept;
    for (const Candidate& x : c)
        if (keep(*x.traits)) kept.push_back(x);
    if (kept.empty()) return false;
    c.swap(kept);
    return true;
}

bool SameValue(double a, double b) {
    return std::fabs(a - b) < 0.005;
}

int BaseValue(int typeface) {
    return typeface & 0x1FF;
}

constexpr int kUnicodeSet = SymbolSetValue(18, 'N');

// Whether a font prints a symbol set. A set the job defined is printable by
// any resident text font, which reaches its glyphs through Unicode anyway
// (MSL numbers by way of the symbol list's Unicode values).
bool Prints(const PclFont& font, int set, const FontStore* store) {
    if (font.Supports(set)) return true;
    if (!font.Resident() || !store) return false;
    auto defined = store->DefinedSet(set);
    return defined && font.Supports(kUnicodeSet);
}

} // namespace

// --- ActiveFont ---------------------------------------------------------------

ActiveFont::ActiveFont(std::shared_ptr<PclFont> font, int symbolSet, double heightPt, double pitch,
                       std::shared_ptr<const DefinedSymbolSet> defined)
    : m_font(std::move(font)), m_symbolSet(symbolSet), m_set(FindSymbolSet(symbolSet)),
      m_defined(std::move(defined)), m_height(heightPt), m_pitch(pitch) {
    // Resident fonts reach a set defined by MSL numbers through the symbol
    // list's Unicode values; downloaded fonts indexed by MSL take them as they are.
    m_mslToUnicode = m_defined && !m_defined->unicode && m_font->Resident();
    if (m_pitch > 0) {
        m_hmiPt = 72.0 / m_pitch;
    } else if (!m_font->Traits().scalable && m_font->Traits().pitch > 0) {
        m_hmiPt = 72.0 / m_font->Traits().pitch;
    } else {
        const Glyph& space = Lookup(0x20);
        m_hmiPt = space.advance > 0 ? AdvancePt(space) : m_height / 4;
    }
}

uint32_t ActiveFont::ToUnicode(uint32_t code) const {
    if (m_defined) {
        // The job's own definition wins over a built-in set of that number.
        uint32_t v = m_mslToUnicode ? m_defined->UnicodeOf(code) : m_defined->Value(code);
        return v == 0xFFFF ? kNoUnicode : v;
    }
    if (m_set) {
        uint32_t u = fonts::ToUnicode(*m_set, code);
        return u == kNoChar ? kNoUnicode : u;
    }
    // A set this program has no table for (a soft font's own): printable
    // ASCII is the best guess, and bound fonts look up by code anyway.
    return code >= 0x20 && code < 0x7F ? code : kNoUnicode;
}

const Glyph& ActiveFont::LookupUnicode(uint32_t unicode) const {
    // A downloaded bound font holds its characters under the codes of its
    // own set, not under their Unicode values: go through the set.
    if (m_font->Traits().bound && !m_font->Resident() && m_symbolSet != kUnicodeSet) {
        if (!m_haveCodeFor) {
            // Lowest code first, so a character the set repeats takes its first code.
            auto add = [&](uint32_t code, uint32_t u) {
                if (u != kNoUnicode) m_codeFor.emplace(u, code);
            };
            if (m_defined) {
                for (size_t i = 0; i < m_defined->values.size(); ++i)
                    add(m_defined->firstCode + uint32_t(i), ToUnicode(m_defined->firstCode + i));
            } else {
                for (uint32_t code = 0; code < 256; ++code) add(code, ToUnicode(code));
            }
            m_haveCodeFor = true;
        }
        auto it = m_codeFor.find(unicode);
        if (it != m_codeFor.end()) return Lookup(it->second);
        m_wide = Glyph{}; // not in the set: a missing character
        return m_wide;
    }
    m_font->Lookup(unicode, unicode, m_wide);
    return m_wide;
}

const Glyph& ActiveFont::Lookup(uint32_t code) const {
    if (code < 256 && m_have[code]) return m_glyphs[code];
    Glyph& g = code < 256 ? m_glyphs[code] : m_wide;
    m_font->Lookup(code, ToUnicode(code), g);
    if (code < 256) m_have[code] = true;
    return g;
}

double ActiveFont::AdvancePt(const Glyph& g) const {
    if (g.kind == Glyph::Kind::Bitmap)
        return g.resolution > 0 ? g.advance * 72.0 / g.resolution : 0;
    return g.advance * m_height;
}

// --- FontSelector -------------------------------------------------------------

FontSelector::FontSelector(FontLibrary& library) : m_library(library) {}
FontSelector::~FontSelector() = default;

const std::vector<std::shared_ptr<PclFont>>& FontSelector::Residents() {
    if (m_residents.empty()) {
        size_t n = ResidentFonts().size();
        for (size_t i = 0; i < n; ++i)
            if (auto f = MakeResidentFont(m_library, int(i))) m_residents.push_back(f);
    }
    return m_residents;
}

std::shared_ptr<PclFont> FontSelector::ResidentByNumber(int number) {
    for (const auto& f : Residents())
        if (f->Number() == number) return f;
    return nullptr;
}

std::shared_ptr<PclFont> FontSelector::Choose(const FontRequest& r, const FontStore* store,
                                              int& symbolSet, std::string* note) {
    // Downloaded fonts first, lowest ID first, then the resident ones: the
    // first font left after every characteristic wins.
    Candidates c;
    if (store)
        for (const auto& [id, entry] : store->All())
            c.push_back({entry.font, &entry.font->Traits()});
    for (const auto& f : Residents()) c.push_back({f, &f->Traits()});
    if (c.empty()) return nullptr;

    // Bitmap fonts print in their own orientation only.
    Narrow(c, [&](const FontTraits& t) {
        return t.scalable || (!r.scalableOnly && t.orientation == r.orientation);
    });

    symbolSet = r.symbolSet;
    auto supports = [&](int set) {
        Candidates kept;
        for (const Candidate& x : c)
            if (Prints(*x.font, set, store)) kept.push_back(x);
        if (kept.empty()) return false;
        c.swap(kept);
        return true;
    };
    if (!supports(symbolSet)) {
        if (note)
            *note = "symbol set " + std::to_string(symbolSet / 32) + char(symbolSet % 32 + 64) +
                    " not available; Roman-8 printed";
        symbolSet = kRoman8;
        supports(symbolSet);
    }

    bool proportional = r.spacing == 1;
    Narrow(c, [&](const FontTraits& t) { return t.proportional == proportional; });

    if (!proportional) {
        // Scalable fixed-pitch fonts make any pitch; bitmap fonts offer
        // theirs: else the next greater pitch, else the closest smaller one.
        if (!Narrow(c, [&](const FontTraits& t) {
                return t.proportional || t.scalable || SameValue(t.pitch, r.pitch);
            })) {
            double greater = 1e30, smaller = -1;
            for (const Candidate& x : c) {
                if (x.traits->pitch > r.pitch) greater = std::min(greater, x.traits->pitch);
                if (x.traits->pitch < r.pitch) smaller = std::max(smaller, x.traits->pitch);
            }
            double pick = greater < 1e30 ? greater : smaller;
            Narrow(c, [&](const FontTraits& t) { return SameValue(t.pitch, pick); });
        }
    }

    if (!Narrow(c,
                [&](const FontTraits& t) { return t.scalable || SameValue(t.height, r.height); })) {
        double best = 1e30;
        for (const Candidate& x : c) best = std::min(best, std::fabs(x.traits->height - r.height));
        Narrow(c,
               [&](const FontTraits& t) { return std::fabs(t.height - r.height) <= best + 1e-9; });
    }

    Narrow(c, [&](const FontTraits& t) { return t.style == r.style; });

    if (!Narrow(c, [&](const FontTraits& t) { return t.weight == r.weight; })) {
        // Bold requests go bolder first, light ones lighter first.
        int thicker = 100, thinner = -100;
        for (const Candidate& x : c) {
            if (x.traits->weight > r.weight) thicker = std::min(thicker, x.traits->weight);
            if (x.traits->weight < r.weight) thinner = std::max(thinner, x.traits->weight);
        }
        int pick = r.weight >= 0 ? (thicker < 100 ? thicker : thinner)
                                 : (thinner > -100 ? thinner : thicker);
        Narrow(c, [&](const FontTraits& t) { return t.weight == pick; });
    }

    if (!Narrow(c, [&](const FontTraits& t) { return t.typeface == r.typeface; })) {
        // A base value selects the family of the same design.
        bool base = Narrow(
            c, [&](const FontTraits& t) { return BaseValue(t.typeface) == BaseValue(r.typeface); });
        if (!base && note && note->empty())
            *note = "typeface " + std::to_string(r.typeface) + " not available; " +
                    c.front().font->Name() + " printed";
    }
    return c.front().font;
}

std::shared_ptr<const ActiveFont> FontSelector::Activate(const std::shared_ptr<PclFont>& font,
                                                         const FontRequest& r,
                                                         const FontStore* store) {
    const FontTraits& t = font->Traits();
    int set = t.bound ? t.symbolSet : r.symbolSet;
    if (!Prints(*font, set, store)) set = t.symbolSet;
    double height = t.height > 0 ? t.height : 12;
    double pitch = 0;
    if (!t.proportional) pitch = t.pitch > 0 ? t.pitch : 10;
    if (t.scalable) {
        if (t.proportional) {
            height = std::round(r.height * 4) / 4;
        } else if (t.pitch > 0) {
            // A fixed-pitch outline: the pitch fixes the height.
            pitch = r.pitch;
            height = 12 * t.pitch / pitch;
        } else {
            height = r.height;
            pitch = 120 / height;
        }
    }
    return std::make_shared<ActiveFont>(font, set, height, pitch,
                                        store ? store->DefinedSet(set) : nullptr);
}

std::shared_ptr<const ActiveFont> FontSelector::Select(const FontRequest& r, const FontStore* store,
                                                       std::string* note) {
    uint64_t generation = store ? store->Generation() : 0;
    for (auto it = m_cache.rbegin(); it != m_cache.rend(); ++it) {
        if (it->generation == generation && it->request == r) {
            if (note) *note = it->note;
            return it->font;
        }
    }
    int set = r.symbolSet;
    std::string why;
    std::shared_ptr<PclFont> font = Choose(r, store, set, &why);
    if (!font) return nullptr;
    FontRequest effective = r;
    effective.symbolSet = set;
    auto active = Activate(font, effective, store);
    if (m_cache.size() >= kMaxCached) m_cache.erase(m_cache.begin());
    m_cache.push_back({r, generation, active, why});
    if (note) *note = why;
    return active;
}

double DrawText(Device& dev, const ActiveFont& font, const uint32_t* codes, size_t count,
                const Matrix& textToPage, const Paint& paint, const RasterOp& op) {
    double x = 0;
    GlyphPlacement where;
    where.heightPt = font.HeightPt();
    for (size_t i = 0; i < count; ++i) {
        const Glyph& g = font.Lookup(codes[i]);
        double advance = font.Proportional() && codes[i] != 0x20 && g.kind != Glyph::Kind::None
                             ? font.AdvancePt(g)
                             : font.DefaultHmiPt();
        where.textToPage = Matrix::Translate(x, 0).Then(textToPage);
        where.cellWidth = advance;
        DrawGlyph(dev, g, where, paint, op);
        x += advance;
    }
    return x;
}

bool SetCharacteristic(FontRequest& r, Characteristic c, double v) {
    if (!std::isfinite(v)) return false;
    auto whole = [&](int lo, int hi) { return int(std::clamp(v, double(lo), double(hi))); };
    switch (c) {
    case Characteristic::SymbolSet:
        r.symbolSet = whole(0, 65535);
        return true;
    case Characteristic::Spacing:
        if (v != 0 && v != 1) return false;
        r.spacing = int(v);
        return true;
    case Characteristic::Pitch:
        if (!(v > 0)) return false;
        r.pitch = std::min(v, 576.0);
        return true;
    case Characteristic::Height:
        if (!(v > 0)) return false;
        r.height = std::clamp(v, 0.25, 999.75);
        return true;
    case Characteristic::Style:
        r.style = whole(0, 32767);
        return true;
    case Characteristic::Weight:
        r.weight = whole(-7, 7);
        return true;
    case Characteristic::Typeface:
        r.typeface = whole(0, 65535);
        return true;
    }
    return false;
}

FontRequest FontSelector::RequestFor(const PclFont& font, const FontRequest& current) {
    const FontTraits& t = font.Traits();
    FontRequest r = current;
    if (t.bound) r.symbolSet = t.symbolSet;
    r.spacing = t.proportional ? 1 : 0;
    if (!t.proportional && t.pitch > 0 && !t.scalable) r.pitch = t.pitch;
    if (!t.scalable && t.height > 0) r.height = t.height;
    r.style = t.style;
    r.weight = t.weight;
    r.typeface = t.typeface;
    return r;
}

} // namespace tarvik::fonts
