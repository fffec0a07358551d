// The font select tables: characteristic commands, selection by ID, the
// default font and the PJL variables that change it.
#include "Pcl5Interp.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace tarvik::pcl5 {

namespace {

using fonts::SymbolSetValue;

// PJL SYMSET names.
struct SymsetName {
    const char* name;
    int value;
};
const SymsetName kSymsets[] = {
    {"ROMAN8", SymbolSetValue(8, 'U')},   {"ROMAN9", SymbolSetValue(4, 'U')},
    {"ISOL1", SymbolSetValue(0, 'N')},    {"ISOL2", SymbolSetValue(2, 'N')},
    {"ISOL5", SymbolSetValue(5, 'N')},    {"ISOL6", SymbolSetValue(6, 'N')},
    {"ISOL9", SymbolSetValue(9, 'N')},    {"PC8", SymbolSetValue(10, 'U')},
    {"PC8DN", SymbolSetValue(11, 'U')},   {"PC850", SymbolSetValue(12, 'U')},
    {"PC852", SymbolSetValue(17, 'U')},   {"PC8TK", SymbolSetValue(9, 'T')},
    {"PC775", SymbolSetValue(26, 'U')},   {"PC1004", SymbolSetValue(9, 'J')},
    {"WINL1", SymbolSetValue(19, 'U')},   {"WIN30", SymbolSetValue(9, 'U')},
    {"WINL2", SymbolSetValue(9, 'E')},    {"WINL5", SymbolSetValue(5, 'T')},
    {"WINBALT", SymbolSetValue(19, 'L')}, {"DESKTOP", SymbolSetValue(7, 'J')},
    {"PSTEXT", SymbolSetValue(10, 'J')},  {"MCTEXT", SymbolSetValue(12, 'J')},
    {"VNINTL", SymbolSetValue(13, 'J')},  {"VNUS", SymbolSetValue(14, 'J')},
    {"MSPUBL", SymbolSetValue(6, 'J')},   {"MATH8", SymbolSetValue(8, 'M')},
    {"PSMATH", SymbolSetValue(5, 'M')},   {"VNMATH", SymbolSetValue(6, 'M')},
    {"PIFONT", SymbolSetValue(15, 'U')},  {"LEGAL", SymbolSetValue(1, 'U')},
    {"ISO4", SymbolSetValue(1, 'E')},     {"ISO6", SymbolSetValue(0, 'U')},
    {"ISO11", SymbolSetValue(0, 'S')},    {"ISO15", SymbolSetValue(0, 'I')},
    {"ISO17", SymbolSetValue(2, 'S')},    {"ISO21", SymbolSetValue(1, 'G')},
    {"ISO60", SymbolSetValue(0, 'D')},    {"ISO69", SymbolSetValue(1, 'F')},
    {"SYMBOL", SymbolSetValue(19, 'M')},  {"WINGDINGS", SymbolSetValue(579, 'L')},
};

bool Number(const std::map<std::string, std::string>& vars, const char* name, double& out) {
    auto it = vars.find(name);
    if (it == vars.end()) return false;
    char* end = nullptr;
    double v = std::strtod(it->second.c_str(), &end);
    if (end == it->second.c_str() || !std::isfinite(v)) return false;
    out = v;
    return true;
}

} // namespace

fonts::FontRequest Interpreter::DefaultFontRequest() {
    // The factory default, Courier 10 pitch 12 point Roman-8, as PJL changed it.
    fonts::FontRequest r;
    const auto& vars = m_job.Pjl().variables;
    double v = 0;
    auto source = vars.find("FONTSOURCE");
    bool internal = source == vars.end() || source->second == "I";
    if (internal && Number(vars, "FONTNUMBER", v) && v >= 0 && v < 1000)
        if (auto font = m_fontSelector->ResidentByNumber(int(v)))
            r = fonts::FontSelector::RequestFor(*font, r);
    if (Number(vars, "PITCH", v) && v >= 0.44 && v <= 99.99) r.pitch = v;
    if (Number(vars, "PTSIZE", v) && v >= 4 && v <= 999.75) r.height = std::round(v * 4) / 4;
    auto symset = vars.find("SYMSET");
    if (symset != vars.end()) {
        for (const SymsetName& s : kSymsets)
            if (symset->second == s.name) r.symbolSet = s.value;
    }
    return r;
}

void Interpreter::ResetText() {
    if (!m_fontSelector) m_fontSelector = std::make_unique<fonts::FontSelector>(m_job.Fonts());
    m_text = TextState{};
    m_text.request[0] = m_text.request[1] = DefaultFontRequest();
    m_underline = {};
    m_hmiFont = nullptr;
}

const fonts::ActiveFont* Interpreter::CurrentFont() {
    int i = m_text.active;
    uint64_t generation = SoftFonts().Generation();
    if (!m_text.font[i] || m_text.generation[i] != generation) {
        std::shared_ptr<const fonts::ActiveFont> font;
        if (m_text.fontId[i] >= 0) {
            // Activated afresh even when it is the same font: its characters
            // may have changed, and the active font keeps glyphs it looked up.
            if (auto soft = SoftFonts().Shared(m_text.fontId[i]))
                font = m_fontSelector->Activate(soft, m_text.request[i], &SoftFonts());
            else
                m_text.fontId[i] = -1; // deleted: back to the characteristics
        }
        if (!font) {
            std::string note;
            // Bitmap fonts must suit the page's orientation.
            fonts::FontRequest request = m_text.request[i];
            request.orientation = m_orientation;
            font = m_fontSelector->Select(request, &SoftFonts(), &note);
            if (!note.empty() &&
                std::find(m_fontNotes.begin(), m_fontNotes.end(), note) == m_fontNotes.end()) {
                if (m_fontNotes.size() < 64) m_fontNotes.push_back(note);
                m_job.Warning(note);
            }
        }
        m_text.font[i] = font;
        m_text.generation[i] = generation;
    }
    const fonts::ActiveFont* font = m_text.font[i].get();
    if (font && font != m_hmiFont.get()) {
        // A newly selected font brings its own spacing.
        m_hmi = font->DefaultHmiPt() * kUnitsPerPoint;
        m_hmiFont = m_text.font[i];
    }
    return font;
}

void Interpreter::FontCharacteristicCmd(const Token& t) {
    int i = t.x == ')' ? 1 : 0;
    fonts::FontRequest& r = m_text.request[i];
    double v = t.value.number;
    using C = fonts::Characteristic;
    C c;
    switch (t.letter) {
    case 'P':
        c = C::Spacing;
        break;
    case 'H':
        c = C::Pitch;
        break;
    case 'V':
        c = C::Height;
        if (v > 999.75) m_job.Warning("font height " + std::to_string(v) + " limited to 999.75");
        break;
    case 'S':
        c = C::Style;
        break;
    case 'B':
        c = C::Weight;
        break;
    case 'T':
        c = C::Typeface;
        break;
    default:
        return;
    }
    if (!fonts::SetCharacteristic(r, c, v)) {
        if (c == C::Pitch || c == C::Height)
            m_job.Warning(std::string(c == C::Pitch ? "font pitch " : "font height ") +
                          std::to_string(v) + " ignored");
        return;
    }
    // PCL heights come in quarter points.
    if (c == C::Height) r.height = std::round(r.height * 4) / 4;
    m_text.fontId[i] = -1;
    m_text.font[i] = nullptr;
}

void Interpreter::SymbolSetCmd(const Token& t) {
    int i = t.x == ')' ? 1 : 0;
    int number = t.value.Int();
    if (number < 0 || number > 2047) return;
    m_text.request[i].symbolSet = number * 32 + (t.letter - 64);
    m_text.fontId[i] = -1;
    m_text.font[i] = nullptr;
}

void Interpreter::FontIdCmd(const Token& t) {
    SelectFontById(t.value.Int(), t.x == ')');
}

void Interpreter::SelectFontById(int id, bool secondary) {
    int i = secondary ? 1 : 0;
    const fonts::PclFont* font = SoftFonts().Find(id);
    if (!font) {
        // No such font: the current one stays.
        m_job.Warning("font ID " + std::to_string(id) + " selected but not downloaded");
        return;
    }
    m_text.request[i] = fonts::FontSelector::RequestFor(*font, m_text.request[i]);
    m_text.fontId[i] = id;
    m_text.font[i] = nullptr;
}

void Interpreter::DefaultFontCmd(const Token& t) {
    if (t.value.Int() != 3) return;
    int i = t.x == ')' ? 1 : 0;
    m_text.request[i] = DefaultFontRequest();
    m_text.fontId[i] = -1;
    m_text.font[i] = nullptr;
}

} // namespace tarvik::pcl5
