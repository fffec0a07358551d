// Printing text: characters through the selected font, the cursor's
// advance, line breaks, underlining and the print direction.
#include "Pcl5Interp.h"

#include <algorithm>
#include <cmath>

namespace tarvik::pcl5 {

namespace {

// Dots at 300 dpi in units.
constexpr double kDot = kUnitsPerInch / 300.0;

// Control codes that plain text never prints, whatever the symbol set.
bool NeverPrinted(uint32_t code) {
    return code == 0 || (code >= 7 && code <= 15) || code == 27;
}

// Decodes one UTF-8 sequence; U+FFFD for a malformed one.
uint32_t NextUtf8(const uint8_t* p, size_t n, size_t& i) {
    uint8_t b = p[i++];
    if (b < 0x80) return b;
    int extra = b >= 0xF0 ? 3 : b >= 0xE0 ? 2 : b >= 0xC0 ? 1 : -1;
    if (extra < 0 || b > 0xF4) return 0xFFFD;
    uint32_t cp = b & (0x3F >> extra);
    for (int k = 0; k < extra; ++k) {
        if (i >= n || (p[i] & 0xC0) != 0x80) return 0xFFFD;
        cp = cp << 6 | (p[i++] & 0x3F);
    }
    return cp <= 0x10FFFF ? cp : 0xFFFD;
}

} // namespace

void Interpreter::Text(const uint8_t* bytes, size_t count) {
    PrintRun(bytes, count, PrintMode::Text);
}

Matrix Interpreter::UnitsToPage() const {
    Point o = ToPage(0, 0), ex = ToPage(1, 0), ey = ToPage(0, 1);
    return {ex.x - o.x, ex.y - o.y, ey.x - o.x, ey.y - o.y, o.x, o.y};
}

double Interpreter::RightMarginUnits() const {
    return m_rightMargin < 0 ? FrameWidth() : std::min(m_rightMargin, FrameWidth());
}

void Interpreter::PrintRun(const uint8_t* bytes, size_t count, PrintMode mode) {
    if (!bytes || !count || m_stop) return;
    MarkPage();
    Matrix toPage = UnitsToPage();
    Paint paint = FillPaint(m_currentPattern, m_patternId);
    int method = mode == PrintMode::Text ? m_text.parsing : 0;
    for (size_t i = 0; i < count;) {
        if (mode == PrintMode::Display) {
            uint8_t b = bytes[i++];
            PrintCode(b, mode, false, toPage, paint);
            if (b == 0x0d) {
                // A carriage return prints and starts a new line.
                FlushUnderline();
                CarriageReturn();
                LineFeed();
                toPage = UnitsToPage();
            }
            continue;
        }
        if (method == 83) {
            PrintCode(NextUtf8(bytes, count, i), mode, true, toPage, paint);
            continue;
        }
        uint32_t b = bytes[i++];
        bool twoByte = (method == 21 && b >= 0x21) ||
                       (method == 31 && ((b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC))) ||
                       (method == 38 && b >= 0x80);
        if (twoByte && i < count) b = b << 8 | bytes[i++];
        PrintCode(b, mode, false, toPage, paint);
    }
    FlushUnderline();
}

void Interpreter::PrintCode(uint32_t code, PrintMode mode, bool unicode, const Matrix& unitsToPage,
                            const Paint& paint) {
    if (mode == PrintMode::Text && NeverPrinted(code)) return;
    const fonts::ActiveFont* font = CurrentFont();
    const fonts::Glyph* glyph = nullptr;
    double advance = m_hmi;
    // A downloaded font may put a visible character at the space code
    // (drivers that number their characters from 32 do): it prints.
    bool inkedSpace = false;
    if (font && code == 0x20 && !unicode && !font->Font().Resident()) {
        const fonts::Glyph& g = font->Lookup(code);
        inkedSpace =
            (g.kind == fonts::Glyph::Kind::Bitmap && g.bits && g.width > 0 && g.height > 0) ||
            g.kind == fonts::Glyph::Kind::Outline;
    }
    if (font && (code != 0x20 || inkedSpace)) {
        glyph = unicode ? &font->LookupUnicode(code) : &font->Lookup(code);
        if (glyph->kind == fonts::Glyph::Kind::None && glyph->advance <= 0) {
            bool controlRange = code < 0x20 || (!unicode && code >= 0x80 && code < 0xA0);
            if (mode == PrintMode::Display && code < 0x20) {
                glyph = &font->LookupUnicode(0x2400 + code); // the code's picture
            } else if (controlRange) {
                return; // the set has no character here: nothing prints
            } else {
                glyph = nullptr; // a missing character takes a space
            }
        }
        if (glyph && font->Proportional()) advance = font->AdvancePt(*glyph) * kUnitsPerPoint;
    }
    if (!std::isfinite(advance) || advance < 0) advance = 0;
    fonts::Glyph verticalForm;
    Matrix turn;
    bool turned =
        m_text.vertical && font && TurnForPath(*font, code, glyph, verticalForm, advance, turn);

    // A character that would cross the right margin wraps, unless the
    // cursor was placed beyond the margin on purpose.
    double right = RightMarginUnits();
    if (m_text.wrap && m_x + advance > right + 0.5 && m_x <= right && m_x > m_leftMargin) {
        FlushUnderline();
        CarriageReturn();
        LineFeed();
    }
    bool onPage = m_x < FrameWidth();
    if (glyph && glyph->kind != fonts::Glyph::Kind::None && onPage &&
        paint.kind != Paint::Kind::None) {
        if (Device* dev = EnsurePage()) {
            fonts::GlyphPlacement where;
            Matrix at = unitsToPage;
            if (m_text.direction) at = UnitsToPage(); // the frame may have changed with a wrap
            where.textToPage = Matrix::Scale(kUnitsPerPoint, kUnitsPerPoint)
                                   .Then(Matrix::Translate(m_x, m_y))
                                   .Then(at);
            if (turned) where.textToPage = turn.Then(where.textToPage);
            where.heightPt = font->HeightPt();
            where.cellWidth = advance / kUnitsPerPoint;
            double line = m_vmi / kUnitsPerPoint;
            where.cellHeight =
                line >= font->HeightPt() * 0.5 && line <= font->HeightPt() * 2 ? line : 0;
            fonts::DrawGlyph(*dev, *glyph, where, paint, CurrentOp());
        }
    }
    if (m_text.underline >= 0 && onPage) {
        if (!m_underline.open) {
            m_underline.open = true;
            m_underline.x0 = m_x;
            m_underline.y = m_y;
        }
        m_underline.x1 = std::min(m_x + advance, FrameWidth());
    }
    SetX(m_x + advance);
    m_text.lastAdvance = advance;
}

void Interpreter::FlushUnderline() {
    if (!m_underline.open) return;
    m_underline.open = false;
    if (!(m_underline.x1 > m_underline.x0)) return;
    Paint paint = FillPaint(m_currentPattern, m_patternId);
    if (paint.kind == Paint::Kind::None) return;
    Device* dev = EnsurePage();
    if (!dev) return;
    // Five dots below the baseline, three thick; a floating underline
    // follows the font's own distance where it gives one.
    double below = 5 * kDot, thick = 3 * kDot;
    const fonts::ActiveFont* font = m_text.font[m_text.active].get();
    if (m_text.underline == 3 && font && font->Font().Traits().underlineDistance > 0) {
        const fonts::FontTraits& t = font->Font().Traits();
        double em = t.scalable ? font->HeightPt() * kUnitsPerPoint : kUnitsPerPoint;
        below = t.underlineDistance * em;
        if (t.underlineThickness > 0) thick = t.underlineThickness * em;
    }
    Matrix toDevice = UnitsToPage().Then(dev->PageToDevice());
    Rect r = TransformRect(
        {m_underline.x0, m_underline.y + below, m_underline.x1, m_underline.y + below + thick},
        toDevice);
    double x0 = std::round(r.x0), x1 = std::round(r.x1), y0 = std::round(r.y0),
           y1 = std::round(r.y1);
    if (x1 <= x0) x1 = x0 + 1;
    if (y1 <= y0) y1 = y0 + 1;
    Path path;
    path.Rectangle(x0, y0, x1, y1);
    dev->FillPath(path, dev->PageToDevice().Inverse(), FillRule::NonZero, paint, CurrentOp());
}

void Interpreter::CarriageReturn() {
    SetX(m_leftMargin);
    m_text.lastAdvance = 0;
}

void Interpreter::LineFeed() {
    double y = m_y + m_vmi;
    // Past the text area (perforation skip) or the page: the next page's
    // first line, in the same column.
    bool pastText = m_text.perforationSkip && m_textLength > 0 && y > m_textLength + 0.5;
    if (pastText || y > FrameLength() - m_topMargin + 0.5) {
        double x = m_x;
        EjectPage(false);
        m_y = 0.75 * m_vmi;
        SetX(x);
        return;
    }
    SetY(y);
}

// --- Print direction ----------------------------------------------------------

Point Interpreter::FrameToLogical(double x, double y, int direction) const {
    double w = LogicalWidth(), l = LogicalLength();
    switch (direction) {
    case 90:
        return {y, l - x};
    case 180:
        return {w - x, l - y};
    case 270:
        return {w - y, x};
    default:
        return {x, y};
    }
}

Point Interpreter::LogicalToFrame(double x, double y, int direction) const {
    double w = LogicalWidth(), l = LogicalLength();
    switch (direction) {
    case 90:
        return {l - y, x};
    case 180:
        return {w - x, l - y};
    case 270:
        return {y, w - x};
    default:
        return {x, y};
    }
}

double Interpreter::FrameWidth() const {
    return m_text.direction == 90 || m_text.direction == 270 ? LogicalLength() : LogicalWidth();
}

double Interpreter::FrameLength() const {
    return m_text.direction == 90 || m_text.direction == 270 ? LogicalWidth() : LogicalLength();
}

void Interpreter::PrintDirectionCmd(const Token& t) {
    int d = t.value.Int();
    if (t.value.number != d || (d != 0 && d != 90 && d != 180 && d != 270)) return;
    if (d == m_text.direction) return;
    FlushUnderline();
    // The cursor stays where it is on the page, seen from the new frame.
    Point l = FrameToLogical(m_x, m_y + m_topMargin, m_text.direction);
    Point f = LogicalToFrame(l.x, l.y, d);
    m_text.direction = d;
    SetX(f.x);
    SetY(f.y - m_topMargin);
}

void Interpreter::UnderlineCmd(const Token& t) {
    int v = t.value.Int();
    if (v != 0 && v != 3) return;
    m_text.underline = v;
}

void Interpreter::UnderlineOffCmd(const Token&) {
    FlushUnderline();
    m_text.underline = -1;
}

void Interpreter::WrapCmd(const Token& t) {
    if (t.value.Int() == 0 || t.value.Int() == 1) m_text.wrap = t.value.Int() == 0;
}

void Interpreter::PerforationSkipCmd(const Token& t) {
    if (t.value.Int() == 0 || t.value.Int() == 1) m_text.perforationSkip = t.value.Int() == 1;
}

void Interpreter::ParsingMethodCmd(const Token& t) {
    int m = t.value.Int();
    if (m == 0 || m == 1 || m == 21 || m == 31 || m == 38 || m == 83)
        m_text.parsing = m;
    else
        m_job.Warning("unknown text parsing method " + std::to_string(m) + " ignored");
}

} // namespace tarvik::pcl5
