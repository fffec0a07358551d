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

// Bytes that follow a UTF-8 lead byte; -1 for a byte no sequence starts with.
int Utf8Extra(uint8_t b) {
    if (b < 0x80) return 0;
    if (b > 0xF4) return -1;
    return b >= 0xF0 ? 3 : b >= 0xE0 ? 2 : b >= 0xC0 ? 1 : -1;
}

// Decodes one UTF-8 sequence; U+FFFD for a malformed one.
uint32_t NextUtf8(const uint8_t* p, size_t n, size_t& i) {
    uint8_t b = p[i++];
    int extra = Utf8Extra(b);
    if (extra <= 0) return extra ? 0xFFFD : b;
    uint32_t cp = b & (0x3F >> extra);
    for (int k = 0; k < extra; ++k) {
        if (i >= n || (p[i] & 0xC0) != 0x80) return 0xFFFD;
        cp = cp << 6 | (p[i++] & 0x3F);
    }
    return cp <= 0x10FFFF ? cp : 0xFFFD;
}

// Reads the character code at p[i] under a parsing method; false, leaving i,
// when the bytes end inside a character (a lead byte, or a UTF-8 sequence
// still short of bytes), which the next text may finish.
bool NextCode(int method, const uint8_t* p, size_t n, size_t& i, uint32_t& code) {
    uint8_t b = p[i];
    if (method == 83) {
        int extra = Utf8Extra(b);
        if (extra > 0 && n - i <= size_t(extra)) {
            bool partOfIt = true;
            for (size_t k = i + 1; k < n; ++k) partOfIt = partOfIt && (p[k] & 0xC0) == 0x80;
            if (partOfIt) return false;
        }
        code = NextUtf8(p, n, i);
        return true;
    }
    bool lead = (method == 21 && b >= 0x21) ||
                (method == 31 && ((b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC))) ||
                (method == 38 && b >= 0x80);
    if (lead && i + 1 >= n) return false;
    code = lead ? uint32_t(b) << 8 | p[i + 1] : b;
    i += lead ? 2 : 1;
    return true;
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
    size_t i = 0;
    if (method && m_pendingCount) {
        // Finish the character the last text left open.
        uint8_t joined[sizeof m_pending + 4];
        size_t held = m_pendingCount, taken = std::min(count, sizeof joined - held);
        std::copy(m_pending, m_pending + held, joined);
        std::copy(bytes, bytes + taken, joined + held);
        m_pendingCount = 0;
        size_t used = 0;
        uint32_t code = 0;
        if (!NextCode(method, joined, held + taken, used, code)) {
            m_pendingCount = held + taken;
            std::copy(joined, joined + m_pendingCount, m_pending);
            return;
        }
        PrintCode(code, mode, method == 83, toPage, paint);
        i = used > held ? used - held : 0;
    }
    while (i < count) {
        if (mode == PrintMode::Display) {
            uint8_t b = bytes[i++];
            PrintCode(b, mode, false, toPage, paint);
            if (b == 0x0d) {
                // A carriage return prints and starts a new line.
                CarriageReturn();
                LineFeed();
                toPage = UnitsToPage();
            }
            continue;
        }
        uint32_t code = 0;
        if (!NextCode(method, bytes, count, i, code)) {
            // The character goes on in the next text, past any escape
            // sequence or control code in between.
            m_pendingCount = count - i;
            std::copy(bytes + i, bytes + count, m_pending);
            break;
        }
        PrintCode(code, mode, method == 83, toPage, paint);
    }
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
        CarriageReturn();
        LineFeed();
    }
    // Without wrap, text runs on past the margin to the logical page's edge;
    // what crosses the edge is clipped there.
    double width = FrameWidth();
    if (glyph && glyph->kind != fonts::Glyph::Kind::None && m_x < width &&
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
            bool crosses = m_x + advance > width + 0.5;
            if (crosses) {
                Path page;
                page.Rectangle(0, -m_topMargin, width, FrameLength() - m_topMargin);
                dev->PushClip();
                dev->ClipPath(page, at, FillRule::NonZero, ClipOp::Intersect, ClipRegion::Interior);
            }
            fonts::DrawGlyph(*dev, *glyph, where, paint, CurrentOp());
            if (crosses) dev->PopClip();
        }
    }
    if (m_text.underline >= 0) {
        ExtendUnderline(m_x, m_x + advance);
        // A floating underline lies as deep as the deepest font printed on
        // the line asks.
        if (m_text.underline == 3 && m_underline.open && font &&
            font->Font().Traits().underlineDistance > 0) {
            const fonts::FontTraits& t = font->Font().Traits();
            double em = t.scalable ? font->HeightPt() * kUnitsPerPoint : kUnitsPerPoint;
            if (t.underlineDistance * em > m_underline.below) {
                m_underline.below = t.underlineDistance * em;
                if (t.underlineThickness > 0) m_underline.thick = t.underlineThickness * em;
            }
        }
    }
    SetX(m_x + advance);
    m_text.lastAdvance = advance;
}

void Interpreter::MoveX(double xu) {
    if (!std::isfinite(xu)) return;
    if (m_text.underline >= 0) ExtendUnderline(m_x, xu);
    SetX(xu);
}

void Interpreter::ExtendUnderline(double from, double to) {
    to = std::min(to, FrameWidth());
    if (!(to > from)) return;
    // A move that does not continue the open line (another line, or a jump
    // past either end of it) ends that line and starts a new one.
    Underline& u = m_underline;
    if (u.open && (std::fabs(m_y - u.y) > 0.5 || from > u.x1 + 0.5 || from < u.x0 - 0.5))
        FlushUnderline();
    if (!u.open) {
        // Fixed: five dots below the baseline, three thick. Floating: where
        // the fonts printed on the line put it (PrintCode), else the same.
        u = {true, from, to, m_y, 0, 3 * kDot, FillPaint(m_currentPattern, m_patternId)};
        return;
    }
    u.x1 = std::max(u.x1, to);
}

void Interpreter::FlushUnderline() {
    if (!m_underline.open) return;
    m_underline.open = false;
    const Underline& u = m_underline;
    if (!(u.x1 > u.x0) || u.paint.kind == Paint::Kind::None) return;
    Device* dev = EnsurePage();
    if (!dev) return;
    Matrix toDevice = UnitsToPage().Then(dev->PageToDevice());
    double below = u.below > 0 ? u.below : 5 * kDot;
    Rect r = TransformRect({u.x0, u.y + below, u.x1, u.y + below + u.thick}, toDevice);
    double x0 = std::round(r.x0), x1 = std::round(r.x1), y0 = std::round(r.y0),
           y1 = std::round(r.y1);
    if (x1 <= x0) x1 = x0 + 1;
    if (y1 <= y0) y1 = y0 + 1;
    Path path;
    path.Rectangle(x0, y0, x1, y1);
    dev->FillPath(path, dev->PageToDevice().Inverse(), FillRule::NonZero, u.paint, CurrentOp());
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
    if (m_raster.active) EndRaster();
    FlushUnderline();
    // The cursor stays where it is on the page, and so do the edges of the
    // text area: the left margin of one direction is the top margin of the
    // next one turned 90 degrees.
    int old = m_text.direction;
    Point cursor = FrameToLogical(m_x, m_y + m_topMargin, old);
    double right = m_rightMargin < 0 ? FrameWidth() : m_rightMargin;
    double bottom = m_textLength > 0 ? m_topMargin + m_textLength : FrameLength();
    Point a = FrameToLogical(m_leftMargin, m_topMargin, old);
    Point b = FrameToLogical(right, bottom, old);
    m_text.direction = d;
    Point na = LogicalToFrame(a.x, a.y, d), nb = LogicalToFrame(b.x, b.y, d);
    m_leftMargin = std::min(na.x, nb.x);
    right = std::max(na.x, nb.x);
    m_rightMargin = right >= FrameWidth() - 0.5 ? -1 : right;
    m_topMargin = std::min(na.y, nb.y);
    m_textLength = std::max(na.y, nb.y) - m_topMargin;
    Point f = LogicalToFrame(cursor.x, cursor.y, d);
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
