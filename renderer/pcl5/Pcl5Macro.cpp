// Macros: definition, execute, call, automatic overlay and deletion, with
// the print environment saved around calls and overlays.
#include "Pcl5Interp.h"

#include <algorithm>
#include <set>

namespace tarvik::pcl5 {

namespace {

// Two levels of nesting below the macro the job invoked, as printers allow;
// deeper invocations (a macro calling itself, say) are skipped.
constexpr int kMaxMacroDepth = 3;
// Numeric IDs stop at 32767; names could go on without end.
constexpr size_t kMaxMacros = 65536;

} // namespace

struct Interpreter::Environment {
    PrintEnvironment print;
    RasterSettings raster;
};

void Interpreter::SaveEnvironment(Environment& e) const {
    e = {*this, m_raster};
}

void Interpreter::RestoreEnvironment(const Environment& e) {
    if (m_raster.active) EndRaster();
    FlushUnderline(); // a macro's underline ends with it
    static_cast<PrintEnvironment&>(*this) = e.print;
    static_cast<RasterSettings&>(m_raster) = e.raster;
    // The page may have changed size under the macro: keep the cursor on it.
    SetX(m_x);
    SetY(m_y);
}

void Interpreter::DefaultPrintModel() {
    m_rectWidth = m_rectHeight = 0;
    m_patternId = 0;
    m_currentPattern = 0;
    m_sourceTransparent = true;
    m_patternTransparent = true;
    m_patternFixed = false;
    m_gridCentered = false;
    m_rop = 252;
    m_patternOrigin = {0, 0};
}

std::string Interpreter::MacroKey() const {
    return m_macroName.empty() ? "#" + std::to_string(m_macroId) : "$" + m_macroName;
}

void Interpreter::MacroIdCmd(const Token& t) {
    if (t.value.number < 0 || t.value.number > 32767) return;
    m_macroId = t.value.Int();
    m_macroName.clear();
}

void Interpreter::MacroAlphanumericId(int operation, const std::string& name) {
    switch (operation) {
    case 4: // the current macro ID becomes the name
        if (!name.empty()) m_macroName = name;
        break;
    case 5: { // the name also refers to the current macro
        auto it = m_macros.find(MacroKey());
        if (it == m_macros.end() || name.empty()) break;
        if (m_macros.size() >= kMaxMacros) {
            m_job.Warning("PCL 5 macros too many: name dropped");
            break;
        }
        m_macros["$" + name] = it->second;
        break;
    }
    case 21: { // the current alphanumeric ID is deleted
        auto it = m_macros.find("$" + m_macroName);
        if (!m_macroName.empty() && it != m_macros.end()) DropMacro(it);
        break;
    }
    default:
        break;
    }
}

std::map<std::string, Macro>::iterator
Interpreter::DropMacro(std::map<std::string, Macro>::iterator it) {
    // Names share their macro's bytes: only the last holder gives them back.
    if (it->second.data.use_count() == 1)
        m_macroBytes -= std::min(m_macroBytes, it->second.data->size());
    return m_macros.erase(it);
}

void Interpreter::DeleteMacros(bool temporaryOnly) {
    for (auto it = m_macros.begin(); it != m_macros.end();) {
        if (!temporaryOnly || !it->second.permanent) {
            it = DropMacro(it);
        } else {
            ++it;
        }
    }
}

namespace {
// What one PCL 5 part of a job hands the next (in the job's KeptDownloads).
struct KeptDownloads {
    std::map<std::string, Macro> macros;
    std::map<int, UserPattern> patterns;
};
} // namespace

void Interpreter::TakeKeptDownloads() {
    auto kept = std::static_pointer_cast<KeptDownloads>(m_job.KeptDownloads());
    m_job.KeptDownloads().reset();
    if (!kept) return;
    m_macros = std::move(kept->macros);
    m_userPatterns = std::move(kept->patterns);
    // Names share their macro's bytes: count each body once.
    std::set<const void*> bodies;
    m_macroBytes = 0;
    for (const auto& [key, macro] : m_macros)
        if (bodies.insert(macro.data.get()).second) m_macroBytes += macro.data->size();
    m_patternBytes = 0;
    for (const auto& [id, pattern] : m_userPatterns) m_patternBytes += pattern.pixels.size();
}

void Interpreter::KeepPermanentDownloads() {
    DeleteMacros(true);
    DeletePatterns(true);
    if (m_macros.empty() && m_userPatterns.empty()) return;
    auto kept = std::make_shared<KeptDownloads>();
    kept->macros = std::move(m_macros);
    kept->patterns = std::move(m_userPatterns);
    m_macros.clear();
    m_userPatterns.clear();
    m_macroBytes = m_patternBytes = 0;
    m_job.KeptDownloads() = std::move(kept);
}

void Interpreter::MacroControlCmd(const Token& t) {
    int op = t.value.Int();
    if (t.value.number != op) return;
    switch (op) {
    case 0:
        if (!m_parser) return;
        m_definingMacro = true;
        m_macroDef.parser = m_parser;
        m_macroDef.data = m_parserData;
        m_macroDef.start = m_parser->Position();
        m_macroDef.key = MacroKey();
        break;
    case 2:
    case 3:
        RunMacro(MacroKey(), op);
        break;
    case 4:
        m_overlayKey = MacroKey();
        break;
    case 5:
        m_overlayKey.clear();
        break;
    case 6:
        DeleteMacros(false);
        break;
    case 7:
        DeleteMacros(true);
        break;
    case 8: {
        auto it = m_macros.find(MacroKey());
        if (it != m_macros.end()) DropMacro(it);
        break;
    }
    case 9:
    case 10: {
        auto it = m_macros.find(MacroKey());
        if (it != m_macros.end()) it->second.permanent = op == 10;
        break;
    }
    default:
        break;
    }
}

void Interpreter::RecordMacroToken(const Token& t) {
    // Inside a definition nothing runs; only its end and a reset count.
    if (t.kind == TokenKind::Escape && t.byte == 'E') {
        m_job.Warning("PCL 5 macro definition ended by a reset: dropped");
        m_definingMacro = false;
        Escape('E');
        return;
    }
    if (!(t.kind == TokenKind::Command && t.x == '&' && t.group == 'f' && t.letter == 'X' &&
          t.value.number == 1))
        return;
    m_definingMacro = false;
    if (m_macroDef.parser != m_parser || !m_macroDef.data) {
        m_job.Warning("PCL 5 macro definition ends in another stream: dropped");
        return;
    }
    // The body runs up to the escape that starts the closing sequence.
    size_t end = std::min(t.offset, m_parser->Position());
    while (end > m_macroDef.start && m_macroDef.data[end] != 0x1b) --end;
    if (end < m_macroDef.start) end = m_macroDef.start;
    size_t size = end - m_macroDef.start;
    auto old = m_macros.find(m_macroDef.key);
    size_t kept = m_macroBytes;
    if (old != m_macros.end() && old->second.data.use_count() == 1)
        kept -= std::min(kept, old->second.data->size());
    if (kept + size > m_job.Limit().maxDownloadBytes / 4 ||
        (old == m_macros.end() && m_macros.size() >= kMaxMacros)) {
        m_job.Warning("PCL 5 macros exceed their memory: definition dropped");
        return;
    }
    Macro m;
    m.data = std::make_shared<const std::vector<uint8_t>>(m_macroDef.data + m_macroDef.start,
                                                          m_macroDef.data + end);
    m_macroBytes = kept + size;
    m_macros[m_macroDef.key] = std::move(m);
}

bool Interpreter::RunMacro(const std::string& key, int mode) {
    auto it = m_macros.find(key);
    if (it == m_macros.end()) return false;
    if (m_macroDepth >= kMaxMacroDepth) {
        m_job.Warning("PCL 5 macros nested too deeply: skipped");
        return false;
    }
    if (m_raster.active) EndRaster();
    std::shared_ptr<const std::vector<uint8_t>> data = it->second.data;
    Environment saved;
    if (mode != 2) SaveEnvironment(saved);
    Parser parser(data->data(), data->size());
    Parser* outer = m_parser;
    const uint8_t* outerData = m_parserData;
    m_parser = &parser;
    m_parserData = data->data();
    ++m_macroDepth;
    // A stopped job stays stopped (the budget is sticky): the outer loop
    // sees it next and still prints the page so far.
    Interpret(parser);
    --m_macroDepth;
    if (m_definingMacro && m_macroDef.parser == &parser) {
        m_job.Warning("PCL 5 macro definition without an end: dropped");
        m_definingMacro = false;
    }
    if (m_raster.active) EndRaster();
    m_parser = outer;
    m_parserData = outerData;
    if (mode != 2 && !m_stop) RestoreEnvironment(saved);
    return true;
}

void Interpreter::RunOverlay() {
    if (m_overlayKey.empty() || m_inOverlay || m_stop) return;
    if (!m_macros.count(m_overlayKey)) return;
    // The overlay draws in a fresh print model and text area, over what the
    // page holds, and leaves the job's environment as it was.
    Environment saved;
    SaveEnvironment(saved);
    m_inOverlay = true;
    ResetPageState();
    DefaultPrintModel();
    DefaultFrame();
    m_text = TextState{};
    m_text.request[0] = m_text.request[1] = DefaultFontRequest();
    static_cast<RasterSettings&>(m_raster) = RasterSettings{};
    RunMacro(m_overlayKey, 2);
    m_inOverlay = false;
    RestoreEnvironment(saved);
}

} // namespace tarvik::pcl5
