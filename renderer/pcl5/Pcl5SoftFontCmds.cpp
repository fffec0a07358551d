// Font management: downloading font headers, characters and symbol sets,
// deleting and keeping them, and the alphanumeric names of fonts.
#include "Pcl5Interp.h"

#include "fonts/SoftFont.h"

namespace tarvik::pcl5 {

void Interpreter::ResetSoftFonts() {
    // A reset keeps only what was made permanent.
    m_job.SoftFonts().RemoveAll(true);
    m_job.SoftFonts().SymbolSetControl(1, 0);
    m_soft.assembler.Reset();
    m_soft.assemblingFont = -1;
}

void Interpreter::DownloadFontIdCmd(const Token& t) {
    m_soft.fontId = t.value.Clamped(0, 32767);
}

void Interpreter::CharCodeCmd(const Token& t) {
    m_soft.charCode = t.value.Clamped(0, 65535);
}

void Interpreter::FontControlCmd(const Token& t) {
    SoftFontStore& store = m_job.SoftFonts();
    switch (t.value.Int()) {
    case 0:
        store.RemoveAll(false);
        break;
    case 1:
        store.RemoveAll(true);
        break;
    case 2:
        store.Remove(m_soft.fontId);
        break;
    case 3: {
        std::string w;
        store.SetGlyph(m_soft.fontId, uint32_t(m_soft.charCode), nullptr, w);
        break;
    }
    case 4:
    case 5:
        store.SetPermanent(m_soft.fontId, t.value.Int() == 5);
        break;
    case 6:
        CopyCurrentFont(m_soft.fontId);
        break;
    default:
        break;
    }
}

void Interpreter::FontHeaderCmd(const Token& t) {
    SoftFontHeader header;
    std::string warning;
    m_soft.assembler.Reset();
    m_soft.assemblingFont = -1;
    // A header whose ID is in use replaces that font, even when the new
    // header turns out unusable.
    SoftFontStore& store = m_job.SoftFonts();
    store.Remove(m_soft.fontId);
    bool ok = ParseSoftFontHeader(t.data, header, warning);
    if (!warning.empty()) m_job.Warning("font " + std::to_string(m_soft.fontId) + ": " + warning);
    if (!ok) return;
    const bool intellifont = header.IsIntellifont();
    const int typeface = header.typeface, weight = header.strokeWeight,
              posture = header.styleWord & 3;
    if (!store.AddFont(m_soft.fontId, std::move(header), warning)) {
        m_job.Warning(warning);
        return;
    }
    if (intellifont) {
        // Intellifont outlines are not rasterised: the characters print in
        // the nearest resident face.
        m_job.Unsupported("PCL 5 Intellifont soft fonts (drawn in a resident face)");
        store.Find(m_soft.fontId)
            ->SetSubstitute(m_job.Fonts().ByTypeface(typeface, weight > 0, posture != 0).face);
    }
}

void Interpreter::CharDataCmd(const Token& t) {
    std::string warning;
    SoftGlyphAssembler::Result r = m_soft.assembler.Add(t.data, warning);
    const bool continuation = t.data.size() >= 2 && t.data[1] != 0;
    if (!continuation) {
        m_soft.assemblingFont = m_soft.fontId;
        m_soft.assemblingCode = uint32_t(m_soft.charCode);
    }
    if (!warning.empty())
        m_job.Warning("font " + std::to_string(m_soft.assemblingFont) + " character " +
                      std::to_string(m_soft.assemblingCode) + ": " + warning);
    if (r != SoftGlyphAssembler::Result::Complete || m_soft.assemblingFont < 0) return;
    if (!m_job.SoftFonts().SetGlyph(m_soft.assemblingFont, m_soft.assemblingCode,
                                    m_soft.assembler.Glyph(), warning))
        m_job.Warning(warning);
}

void Interpreter::CopyCurrentFont(int toId) {
    // The font text prints in now: a downloaded one is copied, a resident
    // one gets the ID as a second name.
    const fonts::ActiveFont* current = CurrentFont();
    if (!current || !m_job.SoftFonts().CopyFont(current->Shared(), toId))
        m_job.Warning("the current font cannot be copied to font " + std::to_string(toId));
}

void Interpreter::SymbolSetIdCmd(const Token& t) {
    m_soft.symbolSetId = t.value.Clamped(0, 32767);
}

void Interpreter::DefineSymbolSetCmd(const Token& t) {
    UserSymbolSet set;
    std::string warning;
    bool ok = ParseUserSymbolSet(t.data, set, warning);
    if (!warning.empty()) m_job.Warning(warning);
    if (!ok) return;
    // The set takes the ID the host chose with *c#R.
    set.id = m_soft.symbolSetId;
    m_job.SoftFonts().AddSymbolSet(std::move(set));
}

void Interpreter::SymbolSetControlCmd(const Token& t) {
    m_job.SoftFonts().SymbolSetControl(t.value.Int(), m_soft.symbolSetId);
}

void Interpreter::AlphanumericIdCmd(const Token& t) {
    if (t.data.empty()) return;
    const int op = t.data[0];
    std::string name(t.data.begin() + 1, t.data.end());
    SoftFontStore& store = m_job.SoftFonts();
    switch (op) {
    case 0: { // the current font ID becomes the font of this name
        int id = store.IdForName(name);
        if (id < 0) {
            id = m_soft.nextNamedFontId++;
            store.Name(name, id);
        }
        m_soft.fontId = id;
        break;
    }
    case 1: // the name also reaches the current font ID's font
        store.Name(name, m_soft.fontId);
        break;
    case 2:
    case 3:
        if (int id = store.IdForName(name); id >= 0)
            SelectFontById(id, op == 3);
        else
            m_job.Warning("no font is named \"" + name + "\"");
        break;
    case 4:
    case 5:
    case 21:
        MacroAlphanumericId(op, name); // the macros' names
        break;
    case 20:
        store.Unname(name);
        break;
    default:
        break; // media selection and the like: nothing to draw
    }
}

} // namespace tarvik::pcl5
