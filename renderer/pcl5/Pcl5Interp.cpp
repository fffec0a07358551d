#include "Pcl5Interp.h"

#include <algorithm>
#include <cmath>
#include <unordered_map>

namespace tarvik::pcl5 {

namespace {

constexpr double kMm = 72.0 / 25.4;

const PageSize kPageSizes[] = {
    {1, 522, 756, false},              // Executive
    {2, 612, 792, false},              // Letter
    {3, 612, 1008, false},             // Legal
    {6, 792, 1224, false},             // Ledger
    {15, 396, 612, false},             // Statement
    {16, 936, 1368, false},            // Super B
    {25, 148 * kMm, 210 * kMm, true},  // A5
    {26, 210 * kMm, 297 * kMm, true},  // A4
    {27, 297 * kMm, 420 * kMm, true},  // A3
    {45, 182 * kMm, 257 * kMm, true},  // JIS B5
    {46, 257 * kMm, 364 * kMm, true},  // JIS B4
    {71, 100 * kMm, 148 * kMm, true},  // Hagaki
    {72, 200 * kMm, 148 * kMm, true},  // Oufuku-Hagaki
    {73, 105 * kMm, 148 * kMm, true},  // A6
    {74, 288, 432, false},             // 4 x 6 in
    {75, 360, 576, false},             // 5 x 8 in
    {78, 216, 360, false},             // 3 x 5 in
    {80, 279, 540, false},             // Monarch envelope
    {81, 297, 684, false},             // Commercial 10 envelope
    {90, 110 * kMm, 220 * kMm, true},  // DL envelope
    {91, 162 * kMm, 229 * kMm, true},  // C5 envelope
    {92, 114 * kMm, 162 * kMm, true},  // C6 envelope
    {100, 176 * kMm, 250 * kMm, true}, // B5 envelope
    {109, 220 * kMm, 220 * kMm, true}, // Invitation envelope
    {110, 120 * kMm, 235 * kMm, true}, // Japanese long envelope no. 3
    {111, 90 * kMm, 205 * kMm, true},  // Japanese long envelope no. 4
    {113, 240 * kMm, 332 * kMm, true}, // Kaku envelope no. 2
};

uint32_t Key(uint8_t x, uint8_t group, uint8_t letter) {
    return (uint32_t(x) << 16) | (uint32_t(group) << 8) | letter;
}

} // namespace

const PageSize* FindPageSize(int code) {
    for (const PageSize& s : kPageSizes)
        if (s.code == code) return &s;
    return nullptr;
}

// The command table: every command this interpreter acts on. Anything not
// listed is parsed (its data skipped) and ignored.
struct CommandTable {
    std::unordered_map<uint32_t, Interpreter::Handler> map;
    CommandTable() {
        using I = Interpreter;
        auto add = [&](char x, char g, char l, Interpreter::Handler h) {
            map[Key(uint8_t(x), uint8_t(g), uint8_t(l))] = h;
        };
        // Page control.
        add('&', 'l', 'A', &I::PageSizeCmd);
        add('&', 'l', 'O', &I::OrientationCmd);
        add('&', 'l', 'H', &I::PaperSourceCmd);
        add('&', 'l', 'E', &I::TopMarginCmd);
        add('&', 'l', 'F', &I::TextLengthCmd);
        add('&', 'a', 'L', &I::LeftMarginCmd);
        add('&', 'a', 'M', &I::RightMarginCmd);
        add('&', 'k', 'H', &I::HmiCmd);
        add('&', 'l', 'C', &I::VmiCmd);
        add('&', 'l', 'D', &I::LinesPerInchCmd);
        add('&', 'u', 'D', &I::UnitOfMeasureCmd);
        add('&', 'l', 'U', &I::LeftRegistrationCmd);
        add('&', 'l', 'Z', &I::TopRegistrationCmd);
        add('&', 'a', 'G', &I::DuplexSideCmd);
        add('&', 'k', 'G', &I::LineTerminationCmd);
        add('&', 'f', 'S', &I::PushPopCursorCmd);
        add('&', 'p', 'X', &I::TransparentPrintCmd);
        add('&', 'f', 'X', &I::MacroControlCmd);
        add('&', 'f', 'Y', &I::MacroIdCmd);
        add('&', 'l', 'X', &I::CopiesCmd);
        // Cursor.
        add('&', 'a', 'C', &I::ColumnCmd);
        add('&', 'a', 'R', &I::RowCmd);
        add('&', 'a', 'H', &I::HorizontalDecipointsCmd);
        add('&', 'a', 'V', &I::VerticalDecipointsCmd);
        add('*', 'p', 'X', &I::HorizontalUnitsCmd);
        add('*', 'p', 'Y', &I::VerticalUnitsCmd);
        // Raster graphics.
        add('*', 't', 'R', &I::RasterResolutionCmd);
        add('*', 'r', 'A', &I::RasterStartCmd);
        add('*', 'r', 'B', &I::RasterEndCmd);
        add('*', 'r', 'C', &I::RasterEndCmd);
        add('*', 'b', 'M', &I::RasterCompressionCmd);
        add('*', 'b', 'V', &I::RasterPlaneCmd);
        add('*', 'b', 'W', &I::RasterRowCmd);
        add('*', 'b', 'Y', &I::RasterYOffsetCmd);
        add('*', 'r', 'S', &I::RasterWidthCmd);
        add('*', 'r', 'T', &I::RasterHeightCmd);
        add('*', 'r', 'F', &I::RasterPresentationCmd);
        add('*', 't', 'H', &I::RasterDestWidthCmd);
        add('*', 't', 'V', &I::RasterDestHeightCmd);
        // Colour.
        add('*', 'r', 'U', &I::SimpleColorCmd);
        add('*', 'v', 'W', &I::ConfigureImageDataCmd);
        add('*', 'v', 'A', &I::ComponentCmd);
        add('*', 'v', 'B', &I::ComponentCmd);
        add('*', 'v', 'C', &I::ComponentCmd);
        add('*', 'v', 'I', &I::AssignIndexCmd);
        add('*', 'v', 'S', &I::ForegroundCmd);
        add('*', 'p', 'P', &I::PushPopPaletteCmd);
        add('&', 'p', 'S', &I::SelectPaletteCmd);
        add('&', 'p', 'I', &I::PaletteControlIdCmd);
        add('&', 'p', 'C', &I::PaletteControlCmd);
        add('*', 't', 'J', &I::RenderAlgorithmCmd);
        // Print model and rectangles.
        add('*', 'c', 'A', &I::RectWidthUnitsCmd);
        add('*', 'c', 'B', &I::RectHeightUnitsCmd);
        add('*', 'c', 'H', &I::RectWidthDecipointsCmd);
        add('*', 'c', 'V', &I::RectHeightDecipointsCmd);
        add('*', 'c', 'P', &I::FillRectCmd);
        add('*', 'c', 'G', &I::PatternIdCmd);
        add('*', 'v', 'T', &I::SelectPatternCmd);
        add('*', 'v', 'N', &I::SourceTransparencyCmd);
        add('*', 'v', 'O', &I::PatternTransparencyCmd);
        add('*', 'l', 'O', &I::LogicalOperationCmd);
        add('*', 'p', 'R', &I::PatternReferenceCmd);
        // Downloaded fonts and symbol sets.
        add('*', 'c', 'D', &I::DownloadFontIdCmd);
        add('*', 'c', 'E', &I::CharCodeCmd);
        add('*', 'c', 'F', &I::FontControlCmd);
        add(')', 's', 'W', &I::FontHeaderCmd);
        add('(', 's', 'W', &I::CharDataCmd);
        add('*', 'c', 'R', &I::SymbolSetIdCmd);
        add('(', 'f', 'W', &I::DefineSymbolSetCmd);
        add('*', 'c', 'S', &I::SymbolSetControlCmd);
        add('&', 'n', 'W', &I::AlphanumericIdCmd);
        add('&', 'c', 'T', &I::TextPathCmd);
        // Text and fonts.
        for (char x : {'(', ')'}) {
            for (char l : {'P', 'H', 'V', 'S', 'B', 'T'}) add(x, 's', l, &I::FontCharacteristicCmd);
            for (char l = 'A'; l <= 'Z'; ++l)
                if (l != 'X') add(x, 0, l, &I::SymbolSetCmd);
            add(x, 0, 'X', &I::FontIdCmd);
            add(x, 0, '@', &I::DefaultFontCmd);
        }
        add('&', 'd', 'D', &I::UnderlineCmd);
        add('&', 'd', '@', &I::UnderlineOffCmd);
        add('&', 's', 'C', &I::WrapCmd);
        add('&', 'l', 'L', &I::PerforationSkipCmd);
        add('&', 'a', 'P', &I::PrintDirectionCmd);
        add('&', 't', 'P', &I::ParsingMethodCmd);
        // Page features: user patterns, colour settings, picture frame.
        add('*', 'c', 'W', &I::UserPatternCmd);
        add('*', 'c', 'Q', &I::PatternControlCmd);
        add('*', 'l', 'R', &I::PixelPlacementCmd);
        add('&', 'b', 'M', &I::MonochromeModeCmd);
        add('*', 't', 'I', &I::ColorDataCmd);
        add('*', 'i', 'W', &I::ColorDataCmd);
        add('*', 'l', 'W', &I::ColorDataCmd);
        add('*', 'm', 'W', &I::ColorDataCmd);
        add('*', 'o', 'W', &I::ColorDataCmd);
        add('*', 'c', 'X', &I::FrameWidthCmd);
        add('*', 'c', 'Y', &I::FrameHeightCmd);
        add('*', 'c', 'T', &I::FrameAnchorCmd);
        add('*', 'c', 'K', &I::PlotWidthCmd);
        add('*', 'c', 'L', &I::PlotHeightCmd);
    }
};

Interpreter::Interpreter(JobContext& job) : m_job(job) {
    ResetEnvironment();
    m_gl = std::make_unique<hpgl2::Interpreter>(job, static_cast<hpgl2::Host&>(*this));
}

Interpreter::~Interpreter() = default;

void Interpreter::ResetEnvironment() {
    // The user default environment: PJL's paper and orientation, else A4
    // portrait (the sheet everything is printed on).
    const PjlSettings& pjl = m_job.Pjl();
    m_setup = PageSetup{};
    m_size = FindPageSize(26);
    double customW = 0, customH = 0;
    if (pjl.paper == "CUSTOM" && CustomPaper(customW, customH)) {
        m_setup.widthPt = customW;
        m_setup.heightPt = customH;
        m_size = nullptr;
    } else if (pjl.paperWidthPt > 0 && pjl.paperHeightPt > 0) {
        m_setup.widthPt = pjl.paperWidthPt;
        m_setup.heightPt = pjl.paperHeightPt;
        m_size = nullptr;
        for (const PageSize& s : kPageSizes)
            if (std::fabs(s.widthPt - pjl.paperWidthPt) < 2 &&
                std::fabs(s.heightPt - pjl.paperHeightPt) < 2)
                m_size = &s;
    }
    m_orientation = (pjl.orientation >= 0 && pjl.orientation <= 3) ? pjl.orientation : 0;
    m_unit = 300;
    m_registrationX = m_registrationY = 0;
    m_lineTermination = 0;
    m_cursorStack.clear();
    m_definingMacro = false;
    if (m_gl) m_gl->Reset();
    // A reset drops what the job downloaded for the moment; permanent
    // macros and patterns stay for the jobs that follow.
    DeleteMacros(true);
    DeletePatterns(true);
    m_macroId = 0;
    m_macroName.clear();
    m_overlayKey.clear();
    m_monochrome = false;

    m_color = ColorState{};
    m_paletteStack.clear();
    m_paletteStore.clear();
    m_activePaletteId = 0;
    m_paletteControlId = 0;
    m_component[0] = m_component[1] = m_component[2] = 0;
    m_foreground = kBlack;

    DefaultPrintModel();

    m_raster = Raster{};
    ResetText();
    ResetPageState();
    // A reset inside a plot file keeps the media its extent asked for.
    if (m_plotFile && m_plotMedia.x > 0) SetPlotSize(m_plotMedia.x, m_plotMedia.y);
    DefaultFrame();
}

void Interpreter::AttachToHostPage(const HostPage& host) {
    m_onHostPage = true;
    m_host = host;
    ApplyHostPage();
}

void Interpreter::ApplyHostPage() {
    m_setup = m_host.setup;
    m_orientation = (m_host.setup.orientation >= 0 && m_host.setup.orientation <= 3)
                        ? m_host.setup.orientation
                        : 0;
    m_size = nullptr;
    for (const PageSize& s : kPageSizes)
        if (std::fabs(s.widthPt - m_setup.widthPt) < 2 &&
            std::fabs(s.heightPt - m_setup.heightPt) < 2)
            m_size = &s;
    ResetPageState();
    int u = int(std::lround(m_host.unitsPerInch));
    m_unit = (u >= 96 && u <= 7200 && 7200 % u == 0) ? u : 300;
    m_topMargin = 1200; // 1/6 inch at the top and the bottom
    m_textLength = std::max(0.0, FrameLength() - 2 * 1200);
    if (m_host.cursorValid && std::isfinite(m_host.cursor.x) && std::isfinite(m_host.cursor.y)) {
        Point origin = ToPage(0, 0);
        SetX((m_host.cursor.x - origin.x) * kUnitsPerPoint);
        SetY((m_host.cursor.y - origin.y) * kUnitsPerPoint);
    } else {
        m_x = 0;
        m_y = 0.75 * m_vmi;
    }
}

void Interpreter::ResetPageState() {
    // What a page size or orientation change resets: margins, text area,
    // spacing and the cursor.
    m_hmi = 720;
    m_hmiFont = nullptr;                       // the font's own spacing applies again
    m_text.font[0] = m_text.font[1] = nullptr; // bitmap fonts follow the orientation
    m_vmi = 1200;
    m_topMargin = m_plotFile ? 0 : 3600;
    m_leftMargin = 0;
    m_rightMargin = -1;
    // The defaults are the turned page's when a print direction is in force:
    // its length runs along the old width.
    m_textLength = std::max(0.0, FrameLength() - m_topMargin - 3600);
    m_x = 0;
    m_y = 0.75 * m_vmi;
}

double Interpreter::LogicalWidth() const {
    bool landscape = m_orientation & 1;
    double w = landscape ? m_setup.heightPt : m_setup.widthPt;
    // Offsets of 1/4 in (portrait) and 0.2 in (landscape); ISO sizes keep
    // slightly less, 71 and 59 dots at 300 dpi.
    bool metric = m_size ? m_size->metric : true;
    double offsetDots = landscape ? (metric ? 59 : 60) : (metric ? 71 : 75);
    // A plot file's raster (RTL) addresses the whole page.
    if (m_plotFile) offsetDots = 0;
    double offset = offsetDots * 72.0 / 300.0;
    return std::max(0.0, (w - 2 * offset)) * kUnitsPerPoint;
}

double Interpreter::LogicalLength() const {
    bool landscape = m_orientation & 1;
    return (landscape ? m_setup.widthPt : m_setup.heightPt) * kUnitsPerPoint;
}

Point Interpreter::ToPage(double xu, double yu) const {
    Point l = FrameToLogical(xu, yu + m_topMargin, m_text.direction);
    return LogicalToPage(l.x, l.y);
}

Point Interpreter::LogicalToPage(double xu, double yu) const {
    bool landscape = m_orientation & 1;
    double w = landscape ? m_setup.heightPt : m_setup.widthPt;
    double offset = (w * kUnitsPerPoint - LogicalWidth()) / 2;
    Point p{(offset + xu) / kUnitsPerPoint, yu / kUnitsPerPoint};
    if (m_registrationX != 0 || m_registrationY != 0) {
        Point dx = SheetDirection(false), dy = SheetDirection(true);
        p.x += (dx.x * m_registrationX + dy.x * m_registrationY) / kUnitsPerPoint;
        p.y += (dx.y * m_registrationX + dy.y * m_registrationY) / kUnitsPerPoint;
    }
    return p;
}

Point Interpreter::SheetDirection(bool vertical) const {
    // The device turns page space onto the portrait sheet; its inverse
    // brings the sheet's axes back into page space.
    switch (m_orientation) {
    case 1:
        return vertical ? Point{-1, 0} : Point{0, 1};
    case 2:
        return vertical ? Point{0, -1} : Point{-1, 0};
    case 3:
        return vertical ? Point{1, 0} : Point{0, -1};
    default:
        return vertical ? Point{0, 1} : Point{1, 0};
    }
}

void Interpreter::SetX(double xu) {
    if (!std::isfinite(xu)) return;
    m_x = std::clamp(xu, 0.0, FrameWidth());
}

void Interpreter::SetY(double yu) {
    if (!std::isfinite(yu)) return;
    // The cursor may not leave the logical page.
    double y = std::clamp(yu, -m_topMargin, FrameLength() - m_topMargin);
    if (m_underline.open && std::fabs(y - m_underline.y) > 0.5) FlushUnderline();
    m_y = y;
}

Device* Interpreter::EnsurePage() {
    if (m_stop) return nullptr;
    if (m_onHostPage && !m_job.PageOpen()) return nullptr;
    if (!m_job.PageOpen()) {
        PageSetup setup = m_setup;
        setup.orientation = m_orientation;
        m_job.BeginPage(setup);
    }
    m_pageMarked = true;
    return m_job.Page();
}

void Interpreter::MarkPage() {
    EnsurePage();
}

bool Interpreter::EjectPage(bool evenIfBlank) {
    if (m_raster.active) EndRaster();
    FlushUnderline();
    // An overlay cannot end the page it is drawn on.
    if (m_inOverlay) return true;
    if (m_onHostPage) {
        // The host owns the page: a form feed only brings the cursor home.
        m_x = 0;
        m_y = 0;
        return true;
    }
    if (!m_pageMarked && !evenIfBlank) return true;
    if (m_gl) m_gl->PageEnding();
    RunOverlay();
    if (m_stop) return false;
    if (!m_job.PageOpen()) EnsurePage();
    m_pageMarked = false;
    if (!m_job.EndPage()) {
        m_stop = true;
        m_ok = false;
        return false;
    }
    // A new page starts at the top of the text area.
    m_y = 0.75 * m_vmi;
    return true;
}

size_t Interpreter::Run(const uint8_t* data, size_t size, bool& ok) {
    Parser parser(data, size);
    m_parser = &parser;
    m_parserData = data;
    m_plotFile = m_job.StartInHpgl2();
    if (m_plotFile) {
        ResetPageState();
        SizePlotFromExtent(data, size);
        DefaultFrame();
        parser.SetHpgl(true);
        EnterHpgl2(0);
    }
    LoopEnd end = Interpret(parser);
    size_t consumed = size;
    if (end == LoopEnd::Stop) {
        m_ok = false;
        consumed = parser.Position();
    } else if (end == LoopEnd::Uel) {
        consumed = parser.Next().offset;
    }
    if (m_definingMacro) {
        m_job.Warning("PCL 5 macro definition without an end: dropped");
        m_definingMacro = false;
    }
    if (m_pendingCount) DropPending("at the end of the PCL 5 data");
    if (parser.Truncated()) m_ok = false;
    m_gl->Leave();
    m_gl->PageEnding();
    // The page in progress is printed as far as it got, as at the end of a job.
    if (!m_stop) EjectPage(false);
    m_parser = nullptr;
    m_parserData = nullptr;
    ok = m_ok;
    return consumed;
}

Interpreter::LoopEnd Interpreter::Interpret(Parser& parser) {
    static const CommandTable table;
    size_t textRun = 0, textStart = 0;
    for (;;) {
        if (m_stop || m_job.Stopped()) return LoopEnd::Stop;
        Token t = parser.Next();
        if (t.kind != TokenKind::Text && textRun) {
            Text(parser.Bytes() + textStart, textRun);
            textRun = 0;
        }
        if (t.kind == TokenKind::End) return LoopEnd::End;
        if (t.kind == TokenKind::Uel) return LoopEnd::Uel;
        if (!m_job.Tick()) {
            m_ok = false;
            return LoopEnd::Stop;
        }
        if (t.kind == TokenKind::Text) {
            if (!m_definingMacro && !parser.InHpgl()) {
                if (!textRun) textStart = t.offset;
                ++textRun;
            }
            continue;
        }
        if (m_definingMacro) {
            RecordMacroToken(t);
            continue;
        }
        if (m_pendingCount && t.kind == TokenKind::Control && !parser.InHpgl()) {
            // A two-byte character takes the byte after its lead byte, even
            // a control code; a UTF-8 sequence cannot, and ends malformed.
            if (m_text.parsing != 83) {
                PrintRun(&t.byte, 1, PrintMode::Text);
                continue;
            }
            m_pendingCount = 0;
            PrintCode(0xFFFD, PrintMode::Text, true, UnitsToPage(),
                      FillPaint(m_currentPattern, m_patternId));
        }
        TextKey before{};
        if (m_pendingCount) before = CurrentTextKey();
        switch (t.kind) {
        case TokenKind::Control:
            Control(t.byte);
            break;
        case TokenKind::Escape:
            Escape(t.byte);
            break;
        case TokenKind::HpglData:
            m_gl->Feed(t.data);
            break;
        case TokenKind::Command: {
            if (t.x == '%' && t.group == 0 && t.letter == 'B') EnterHpgl2(t.value.Int());
            if (t.x == '%' && t.group == 0 && t.letter == 'A') LeaveHpgl2(t.value.Int());
            if (parser.InHpgl()) break; // other escapes inside HP-GL/2 do nothing
            auto it = table.map.find(Key(t.x, t.group, t.letter));
            if (it != table.map.end()) (this->*(it->second))(t);
            break;
        }
        default:
            break;
        }
        if (m_pendingCount) {
            // An escape sequence between the bytes of a character does not
            // split it, unless it changes the font or how bytes are parsed.
            TextKey after = CurrentTextKey();
            if (before.parsing != after.parsing || before.active != after.active ||
                before.fontId != after.fontId || !(before.request == after.request) ||
                (before.font && before.font != after.font))
                DropPending("after a font or text parsing change");
        }
    }
}

Interpreter::TextKey Interpreter::CurrentTextKey() const {
    int i = m_text.active;
    return {m_text.parsing, i, m_text.fontId[i], m_text.request[i], m_text.font[i].get()};
}

void Interpreter::DropPending(const char* why) {
    m_pendingCount = 0;
    m_job.Warning(std::string("unfinished multi-byte character dropped ") + why);
}

void Interpreter::Escape(uint8_t c) {
    switch (c) {
    case 'E':
        m_gl->Leave();
        EjectPage(false);
        ResetEnvironment();
        ResetSoftFonts();
        if (m_onHostPage) ApplyHostPage();
        break;
    case '9':
        m_leftMargin = 0;
        m_rightMargin = -1;
        break;
    case '=':
        FlushUnderline();
        SetY(m_y + m_vmi / 2);
        break;
    case 'Y':
        DisplayFunctions();
        break;
    default:
        break;
    }
}

void Interpreter::Control(uint8_t c) {
    switch (c) {
    case 0x0d:
        CarriageReturn();
        if (m_lineTermination == 1 || m_lineTermination == 3) LineFeed();
        break;
    case 0x0a:
        if (m_lineTermination == 2 || m_lineTermination == 3) CarriageReturn();
        LineFeed();
        break;
    case 0x0c:
        if (m_lineTermination == 2 || m_lineTermination == 3) CarriageReturn();
        EjectPage(true);
        break;
    case 0x08:
        SyncFont();
        SetX(m_x - (m_text.lastAdvance > 0 ? m_text.lastAdvance : m_hmi));
        m_text.lastAdvance = 0;
        break;
    case 0x09: {
        SyncFont();
        double tab = m_hmi * 8;
        if (tab > 0) MoveX((std::floor((m_x - m_leftMargin) / tab) + 1) * tab + m_leftMargin);
        break;
    }
    case 0x0e:
    case 0x0f:
        m_text.active = c == 0x0e ? 1 : 0;
        SyncFont();
        break;
    default:
        break;
    }
}

void Interpreter::DisplayFunctions() {
    // Everything up to ESC Z is printed as characters, never executed.
    size_t start = m_parser->Position();
    // Tokens are read only to find ESC Z; data commands keep their byte counts
    // so a binary block cannot fake the end.
    for (;;) {
        Token t = m_parser->Next();
        if (t.kind == TokenKind::End || t.kind == TokenKind::Uel) {
            if (t.kind == TokenKind::Uel) m_parser->Seek(t.offset);
            break;
        }
        if (t.kind == TokenKind::Escape && t.byte == 'Z') break;
        if (!m_job.Tick()) break;
    }
    // ESC Y and ESC Z print too, as everything between them.
    size_t end = std::min(m_parser->Position(), m_parser->Size());
    size_t from = start >= 2 ? start - 2 : 0;
    PrintRun(m_parser->Bytes() + from, end - from, PrintMode::Display);
}

// --- Page control -----------------------------------------------------------

void Interpreter::PageSizeCmd(const Token& t) {
    if (m_onHostPage) return; // the host owns the page
    const PageSize* s = FindPageSize(t.value.Int());
    double customW = 0, customH = 0;
    // A custom size takes the paper PJL gave; unknown sizes are ignored.
    if (!s && (t.value.Int() != 101 || !CustomPaper(customW, customH))) return;
    EjectPage(false);
    m_overlayKey.clear(); // a new page size ends the overlay
    m_size = s;
    m_setup.widthPt = s ? s->widthPt : customW;
    m_setup.heightPt = s ? s->heightPt : customH;
    ResetPageState();
    DefaultFrame();
}

void Interpreter::OrientationCmd(const Token& t) {
    if (m_onHostPage) return; // the host owns the page
    int o = t.value.Int();
    if (o < 0 || o > 3 || t.value.number != o) return;
    EjectPage(false);
    m_orientation = o;
    ResetPageState();
    DefaultFrame();
}

void Interpreter::PaperSourceCmd(const Token& t) {
    if (m_onHostPage) return; // the host owns the page
    // Any paper source, 0 included, prints the pending page.
    (void)t;
    EjectPage(false);
}

void Interpreter::DuplexSideCmd(const Token& t) {
    if (m_onHostPage) return; // the host owns the page
    if (t.value.Int() >= 0 && t.value.Int() <= 2) EjectPage(false);
}

void Interpreter::TopMarginCmd(const Token& t) {
    double lines = t.value.number;
    if (lines < 0) return;
    double margin = lines * m_vmi;
    if (margin > FrameLength()) return;
    m_topMargin = margin;
    m_textLength = std::max(0.0, FrameLength() - m_topMargin - 3600);
}

void Interpreter::TextLengthCmd(const Token& t) {
    if (t.value.number < 0) return;
    m_textLength = std::min(t.value.number * m_vmi, FrameLength() - m_topMargin);
}

void Interpreter::LeftMarginCmd(const Token& t) {
    SyncFont();
    double x = t.value.number * m_hmi;
    if (x < 0 || x > FrameWidth()) return;
    m_leftMargin = x;
    if (m_x < m_leftMargin) m_x = m_leftMargin;
}

void Interpreter::RightMarginCmd(const Token& t) {
    SyncFont();
    double x = (t.value.number + 1) * m_hmi;
    if (t.value.number < 0) return;
    m_rightMargin = std::min(x, FrameWidth());
}

void Interpreter::HmiCmd(const Token& t) {
    SyncFont(); // a pending font change would reset the HMI after this
    double v = t.value.number;
    if (v < 0 || v > 32767) return;
    m_hmi = v * kUnitsPerInch / 120.0;
}

void Interpreter::VmiCmd(const Token& t) {
    double v = t.value.number;
    if (v < 0 || v > 32767) return;
    m_vmi = v * kUnitsPerInch / 48.0;
}

void Interpreter::LinesPerInchCmd(const Token& t) {
    int lpi = t.value.Int();
    static const int kValid[] = {1, 2, 3, 4, 6, 8, 12, 16, 24, 48};
    if (std::find(std::begin(kValid), std::end(kValid), lpi) == std::end(kValid)) return;
    m_vmi = kUnitsPerInch / lpi;
}

void Interpreter::UnitOfMeasureCmd(const Token& t) {
    int u = t.value.Int();
    if (u < 96 || u > 7200 || 7200 % u != 0) return;
    m_unit = u;
}

void Interpreter::LeftRegistrationCmd(const Token& t) {
    m_registrationX = std::clamp(t.value.number, -32767.0, 32767.0) * 10; // decipoints
}

void Interpreter::TopRegistrationCmd(const Token& t) {
    m_registrationY = std::clamp(t.value.number, -32767.0, 32767.0) * 10;
}

void Interpreter::LineTerminationCmd(const Token& t) {
    if (t.value.Int() >= 0 && t.value.Int() <= 3) m_lineTermination = t.value.Int();
}

void Interpreter::PushPopCursorCmd(const Token& t) {
    if (t.value.Int() == 0) {
        if (m_cursorStack.size() < 20) m_cursorStack.push_back({m_x, m_y});
    } else if (t.value.Int() == 1 && !m_cursorStack.empty()) {
        SetX(m_cursorStack.back().x);
        SetY(m_cursorStack.back().y);
        m_cursorStack.pop_back();
    }
}

void Interpreter::TransparentPrintCmd(const Token& t) {
    if (t.value.number > double(t.data.size()))
        m_job.Warning("transparent print data runs past the end of the job");
    PrintRun(t.data.data(), t.data.size(), PrintMode::Transparent);
}

// --- Cursor -----------------------------------------------------------------

namespace {
double Target(const Value& v, double current, double scale) {
    return v.sign ? current + v.number * scale : v.number * scale;
}
} // namespace

void Interpreter::ColumnCmd(const Token& t) {
    SyncFont();
    MoveX(Target(t.value, m_x, m_hmi));
}

void Interpreter::RowCmd(const Token& t) {
    // Row 0 has its baseline three quarters of a line below the top margin.
    if (t.value.sign)
        SetY(m_y + t.value.number * m_vmi);
    else
        SetY((t.value.number + 0.75) * m_vmi);
}

void Interpreter::HorizontalDecipointsCmd(const Token& t) {
    MoveX(Target(t.value, m_x, 10));
}
void Interpreter::VerticalDecipointsCmd(const Token& t) {
    SetY(Target(t.value, m_y, 10));
}

void Interpreter::HorizontalUnitsCmd(const Token& t) {
    MoveX(Target(t.value, m_x, kUnitsPerInch / m_unit));
}

void Interpreter::VerticalUnitsCmd(const Token& t) {
    SetY(Target(t.value, m_y, kUnitsPerInch / m_unit));
}

} // namespace tarvik::pcl5
