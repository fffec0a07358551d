// The command reader and the configuration, vector and attribute commands.
#include "Hpgl2State.h"

#include <algorithm>
#include <cmath>

namespace tarvik::hpgl2 {

namespace {

// Numbers beyond the plotter's integer range are clamped there: no
// coordinate, count or size is ever larger.
constexpr double kMaxNumber = 1073741823.0;
// More numbers than any command takes (RF's largest pattern included) are
// read and dropped.
constexpr size_t kMaxParams = 255 * 255 + 8;

bool IsLetter(uint8_t c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool IsSpace(uint8_t c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == 0;
}

double Clamp(double v) {
    if (!std::isfinite(v)) return 0;
    return std::clamp(v, -kMaxNumber, kMaxNumber);
}

const std::vector<Color>& DefaultPens() {
    static const std::vector<Color> pens = {
        {255, 255, 255}, {0, 0, 0},   {255, 0, 0},   {0, 255, 0},
        {255, 255, 0},   {0, 0, 255}, {255, 0, 255}, {0, 255, 255},
    };
    return pens;
}

} // namespace

// --- Public face ---------------------------------------------------------------

Interpreter::Interpreter(JobContext& job, Host& host) : m(std::make_unique<State>(job, host)) {
    m->Defaults(true);
}

Interpreter::~Interpreter() = default;

void Interpreter::Enter(int mode, Point cursorOnPage) {
    m->inside = true;
    if (m->read != State::Read::Label && m->read != State::Read::Encoded)
        m->read = State::Read::Idle;
    double dots = mode == 2 || mode == 3 ? m->host.PclUnitsPerInch() : 0;
    if (!(dots > 0 && dots <= 10000)) dots = 0;
    if (dots != m->dotsPerInch) m->frameKnown = false; // a new system: P1, P2 and IW anew
    m->dotsPerInch = dots;
    m->UpdateFrame();
    m->op.rop3 = m->host.PclRasterOp().rop3;
    m->gridCentred = m->host.PclGridCentred();
    // The palette is one for both languages: what PCL set since (a CID, new
    // entries) becomes the pens.
    std::vector<Color> pcl = m->host.PclPalette();
    if (pcl.size() >= 2 && pcl != m->pclPaletteSeen) {
        m->palette = pcl;
        m->penWidths.resize(pcl.size(), m->penWidths.empty() ? 0.35 : m->penWidths.back());
        m->pclPaletteSeen = std::move(pcl);
    }
    if ((mode == 1 || mode == 3) && std::isfinite(cursorOnPage.x) &&
        std::isfinite(cursorOnPage.y) && m->pluToPage.Invertible()) {
        Point p = m->pluToPage.Inverse().Apply(cursorOnPage);
        if (std::isfinite(p.x) && std::isfinite(p.y)) {
            m->pen = {Clamp(p.x), Clamp(p.y)};
            m->crPoint = m->pen;
        }
    }
}

void Interpreter::Leave() {
    if (m->read == State::Read::Label) {
        m->Label(m->label);
        m->label.clear();
    }
    if (m->read == State::Read::Params || m->read == State::Read::Second ||
        m->read == State::Read::Symbol || m->read == State::Read::Terminator)
        m->EndCommand();
    if (m->read == State::Read::Encoded) m->cmd = 0;
    m->read = State::Read::Idle;
    m->Flush();
    m->DropClip();
    m->inside = false;
}

void Interpreter::Feed(std::span<const uint8_t> data) {
    for (uint8_t c : data) {
        if (m->abandoned) return;
        m->Byte(c);
    }
    // Strokes wait for the next command; a block's end draws them, so the
    // page never misses what was read.
    if (m->read == State::Read::Idle) m->Flush();
}

void Interpreter::Reset() {
    Leave();
    m->frameKnown = false;
    m->Defaults(true);
}

void Interpreter::PageEnding() {
    m->Flush();
    m->DropClip();
}

Point Interpreter::PenOnPage() const {
    return m->pluToPage.Apply(m->pen);
}

// --- Reader ------------------------------------------------------------------------

void Interpreter::State::Byte(uint8_t c) {
    switch (read) {
    case Read::Label: {
        // 16-bit labels end at a character's start; a zero byte followed by
        // the terminator ends them too.
        bool second = label16 && label.size() % 2 == 1;
        bool ends = c == terminator && (!second || label.back() == 0);
        if (ends) {
            if (second) label.pop_back();
            if (terminatorPrinted) {
                if (label16) label.push_back(0);
                label.push_back(char(c));
            }
            Label(label);
            label.clear();
            read = Read::Idle;
            cmd = 0;
            return;
        }
        label.push_back(char(c));
        // A label whose terminator never comes is drawn in pieces.
        if (label.size() >= 4096 && label.size() % 2 == 0) {
            if (!warnedLabel) job.Warning("HP-GL/2 label without terminator");
            warnedLabel = true;
            Label(label);
            label.clear();
        }
        return;
    }
    case Read::Encoded:
        EncodedByte(c);
        return;
    case Read::Quote:
        if (c == '"') read = Read::Params;
        return;
    case Read::Symbol:
        // A character that does not print ends symbol mode.
        symbol = c > 32 && c != ';' && c != 127 ? c : 0;
        read = c == ';' ? Read::Idle : Read::Params;
        if (c == ';') cmd = 0;
        return;
    case Read::Terminator:
        if (IsSpace(c) && c != 0) return;
        if (c == ';') {
            terminator = 0x03;
            terminatorPrinted = false;
            read = Read::Idle;
            cmd = 0;
        } else {
            terminator = c;
            terminatorPrinted = false;
            read = Read::Params;
        }
        return;
    case Read::Second:
        if (IsLetter(c)) {
            BeginCommand(Code(char(std::toupper(first)), char(std::toupper(c))));
            return;
        }
        if (IsSpace(c)) return;
        read = Read::Idle;
        return;
    case Read::Idle:
    case Read::Params:
        break;
    }
    if ((c >= '0' && c <= '9') || c == '.' || c == '-' || c == '+') {
        if (read != Read::Params) return; // stray numbers between commands
        if ((c == '-' || c == '+') && !number.empty()) EndNumber();
        if (number.size() < 40) number.push_back(char(c));
        return;
    }
    if (read == Read::Params) EndNumber();
    if (IsLetter(c)) {
        if (read == Read::Params) EndCommand();
        first = char(c);
        read = Read::Second;
    } else if (c == ';') {
        if (read == Read::Params) EndCommand();
        read = Read::Idle;
    } else if (c == '"' && read == Read::Params) {
        read = Read::Quote;
    }
}

void Interpreter::State::EndNumber() {
    if (number.empty()) return;
    double v = 0, scale = 0;
    bool neg = false, any = false;
    for (char ch : number) {
        if (ch == '-') {
            neg = true;
        } else if (ch == '.') {
            if (scale == 0) scale = 1;
        } else if (ch >= '0' && ch <= '9') {
            any = true;
            if (scale == 0)
                v = std::min(v * 10 + (ch - '0'), 1e15);
            else if (scale < 1e12)
                v += (ch - '0') / (scale *= 10);
        }
    }
    number.clear();
    if (!any) return;
    Param(Clamp(neg ? -v : v));
}

bool Interpreter::State::Streamed(uint16_t code) const {
    return code == Code('P', 'A') || code == Code('P', 'R') || code == Code('P', 'D') ||
           code == Code('P', 'U') || code == Code('B', 'Z') || code == Code('B', 'R');
}

void Interpreter::State::Param(double v) {
    if (params.size() >= kMaxParams) {
        tooManyParams = true;
        return;
    }
    params.push_back(v);
    // Point lists run as they arrive, so that a list of any length needs no
    // more memory than one pair (or one curve).
    if (cmd == Code('P', 'A') || cmd == Code('P', 'R') || cmd == Code('P', 'D') ||
        cmd == Code('P', 'U')) {
        if (params.size() == 2) {
            PointPair(params[0], params[1]);
            params.clear();
        }
    } else if (cmd == Code('B', 'Z') || cmd == Code('B', 'R')) {
        if (params.size() == 6) {
            Point c[3];
            for (int i = 0; i < 3; ++i) {
                Point u{params[size_t(2 * i)], params[size_t(2 * i + 1)]};
                c[i] = cmd == Code('B', 'Z') ? ToPlu(u)
                                             : Point{pen.x + VecToPlu(u).x, pen.y + VecToPlu(u).y};
            }
            CurveTo(c[0], c[1], c[2]);
            params.clear();
        }
    }
}

void Interpreter::State::BeginCommand(uint16_t code) {
    cmd = code;
    params.clear();
    tooManyParams = false;
    number.clear();
    read = Read::Params;
    if (!job.Tick()) return;
    // What a point list does before its first pair.
    if (code != Code('P', 'A') && code != Code('P', 'R') && code != Code('P', 'D') &&
        code != Code('P', 'U') && code != Code('P', 'E'))
        Flush();
    switch (code) {
    case Code('P', 'A'):
        relative = false;
        break;
    case Code('P', 'R'):
        relative = true;
        break;
    case Code('P', 'D'):
        penDown = true;
        break;
    case Code('P', 'U'):
        penDown = false;
        break;
    case Code('L', 'B'):
        read = Read::Label;
        label.clear();
        break;
    case Code('P', 'E'):
        read = Read::Encoded;
        pe = Encoded{};
        // An encoded polyline counts as drawing even when its points all
        // move the pen up: the page it is on is printed.
        Page();
        break;
    case Code('S', 'M'):
        read = Read::Symbol;
        break;
    case Code('D', 'T'):
        read = Read::Terminator;
        break;
    default:
        break;
    }
}

void Interpreter::State::EndCommand() {
    EndNumber();
    uint16_t code = cmd;
    cmd = 0;
    if (code == 0) return;
    if (tooManyParams) job.Warning("HP-GL/2 command with too many parameters");
    if (Streamed(code)) {
        params.clear();
        return;
    }
    Execute(code, params);
    params.clear();
}

// --- Encoded polylines ---------------------------------------------------------------

void Interpreter::State::EncodedByte(uint8_t c) {
    if (c == ';') {
        // Reading stops; a half-read number is dropped.
        read = Read::Idle;
        cmd = 0;
        if (pe.digits) {
            if (!warnedEncoding) job.Warning("HP-GL/2 encoded polyline ends inside a number");
            warnedEncoding = true;
        }
        return;
    }
    uint8_t flag = c & 0x7f;
    bool isFlag = (c < 0x80 || !pe.sevenBit) &&
                  (flag == ':' || flag == '<' || flag == '>' || flag == '=' || flag == '7') &&
                  (c < 0x80 || c >= 0xB7) && (c < 0x80 || c <= 0xBE);
    if (isFlag) {
        if (pe.digits) {
            if (!warnedEncoding) job.Warning("HP-GL/2 encoded polyline broken");
            warnedEncoding = true;
            pe.acc = 0, pe.mult = 1, pe.digits = 0, pe.overflow = false;
        }
        switch (flag) {
        case ':':
            pe.next = Encoded::Next::Pen;
            break;
        case '<':
            pe.penUp = true;
            break;
        case '>':
            pe.next = Encoded::Next::Fraction;
            break;
        case '=':
            pe.absolute = true;
            break;
        case '7':
            pe.sevenBit = true;
            break;
        }
        return;
    }
    int digit = -1;
    bool last = false;
    if (pe.sevenBit) {
        if (c >= 63 && c <= 94)
            digit = c - 63;
        else if (c >= 95 && c <= 126)
            digit = c - 95, last = true;
    } else {
        if (c >= 63 && c <= 126)
            digit = c - 63;
        else if (c >= 191 && c <= 254)
            digit = c - 191, last = true;
    }
    if (digit < 0) {
        if (IsSpace(c)) return;
        if (!warnedEncoding) job.Warning("HP-GL/2 encoded polyline holds a stray byte");
        warnedEncoding = true;
        return;
    }
    // Ten digits of base 64 fill 60 bits; more cannot be a coordinate.
    if (pe.digits >= 10) pe.overflow = true;
    if (!pe.overflow) {
        pe.acc += uint64_t(digit) * pe.mult;
        pe.mult *= pe.sevenBit ? 32 : 64;
    }
    ++pe.digits;
    if (!last) return;
    bool bad = pe.overflow;
    uint64_t v = pe.acc;
    pe.acc = 0, pe.mult = 1, pe.digits = 0, pe.overflow = false;
    if (bad) {
        if (!warnedEncoding) job.Warning("HP-GL/2 encoded number out of range");
        warnedEncoding = true;
        return;
    }
    int64_t value = (v & 1) ? -int64_t(v >> 1) : int64_t(v >> 1);
    EncodedValue(value);
}

void Interpreter::State::EncodedValue(int64_t value) {
    switch (pe.next) {
    case Encoded::Next::Pen:
        pe.next = Encoded::Next::Pair;
        Flush();
        Execute(Code('S', 'P'), {double(value)});
        return;
    case Encoded::Next::Fraction:
        pe.next = Encoded::Next::Pair;
        pe.fractionBits = int(std::clamp<int64_t>(value, -26, 26));
        return;
    case Encoded::Next::Pair:
        break;
    }
    double v = std::ldexp(double(value), -pe.fractionBits);
    if (!pe.haveX) {
        pe.x = Clamp(v);
        pe.haveX = true;
        return;
    }
    pe.haveX = false;
    Point u{pe.x, Clamp(v)};
    Point to;
    if (pe.absolute) {
        to = ToPlu(u);
    } else {
        Point d = VecToPlu(u);
        to = {pen.x + d.x, pen.y + d.y};
    }
    if (pe.penUp)
        MoveTo(to);
    else
        LineTo(to);
    crPoint = pen;
    pe.penUp = false;
    pe.absolute = false;
    if ((++pe.points & 1023) == 0) job.Tick();
}

// --- Configuration ------------------------------------------------------------------

void Interpreter::State::Defaults(bool initialise) {
    if (initialise) {
        rotation = 0;
        frameKnown = false;
        UpdateFrame();
        DefaultP1P2();
        pen = {0, 0};
        crPoint = pen;
        std::vector<Color> pcl = host.PclPalette();
        palette = pcl.size() >= 2 ? pcl : DefaultPens();
        pclPaletteSeen = pcl;
        penWidths.assign(palette.size(), 0.35);
        for (auto& r : rasterFills) r = RasterFill{};
        for (int i = 0; i < 3; ++i) crBlack[i] = 0, crWhite[i] = 255;
        op = RasterOp{};
        op.rop3 = 252;
        // Pixel placement is shared with PCL and IN leaves it as it is.
        polygon.Clear();
        edges.Clear();
        penNo = 1;
        downloaded.clear();
        downloadedPoints = 0;
    }
    scaleType = -1;
    UpdateScaling();
    windowSet = false;
    penDown = false;
    relative = false;
    polygonMode = false;
    widthRelative = false;
    lineTypeSolid = true;
    lineType = 0;
    lineAdaptive = false;
    patternLength = 4;
    patternAbsolute = false;
    for (auto& u : userLines) u.clear();
    cap = LineCap::Butt;
    join = LineJoin::Miter;
    miterLimit = 5;
    fillType = 1;
    hatchSpacing[0] = hatchSpacing[1] = 0;
    hatchAngle[0] = hatchAngle[1] = 0;
    shading = 100;
    rasterFillIndex = 1;
    anchor = {0, 0};
    screenType = 0;
    transparent = true;
    symbol = 0;
    fonts[0] = fonts[1] = FontDef{};
    fontSelected = 0;
    sizeSet = false;
    slant = 0;
    dirX = 1, dirY = 0;
    dirRelative = false;
    path = 0;
    lineReverse = false;
    extraSpace = extraLine = 0;
    labelOrigin = 1;
    terminator = 0x03;
    terminatorPrinted = false;
    transparentData = false;
    charFill = 0;
    edgePen = -1;
    bitmapFonts = false;
    label16 = false;
    labelVertical = false;
    labelRow = 0;
}

void Interpreter::State::UpdateFrame() {
    Frame f = host.PlotFrame();
    if (!(f.widthPt > 0) || !(f.heightPt > 0) || !std::isfinite(f.widthPt) ||
        !std::isfinite(f.heightPt))
        f.widthPt = f.heightPt = 72;
    bool changed = !frameKnown || !(f == frame);
    frame = f;
    frameKnown = true;
    frameW = f.plotWidthIn > 0 ? f.plotWidthIn * kPluPerInch : f.widthPt * kPluPerPoint;
    frameH = f.plotHeightIn > 0 ? f.plotHeightIn * kPluPerInch : f.heightPt * kPluPerPoint;
    // A plot size for one axis scales the other by the same factor.
    if (f.plotWidthIn > 0 && !(f.plotHeightIn > 0)) frameH = f.heightPt * frameW / f.widthPt;
    if (f.plotHeightIn > 0 && !(f.plotWidthIn > 0)) frameW = f.widthPt * frameH / f.heightPt;
    double kx = f.widthPt / frameW, ky = f.heightPt / frameH;
    Matrix turn;
    switch (rotation) {
    case 90:
        turn = {0, 1, -1, 0, frameW, 0};
        break;
    case 180:
        turn = {-1, 0, 0, -1, frameW, frameH};
        break;
    case 270:
        turn = {0, -1, 1, 0, 0, frameH};
        break;
    default:
        break;
    }
    pluToPage = turn.Then({kx, 0, 0, -ky, f.anchor.x, f.anchor.y + frameH * ky});
    if (changed) {
        DefaultP1P2();
        windowSet = false;
        UpdateScaling();
    }
}

void Interpreter::State::DefaultP1P2() {
    bool turned = rotation == 90 || rotation == 270;
    p1 = {0, 0};
    p2 = {turned ? frameH : frameW, turned ? frameW : frameH};
    UpdateScaling();
}

double Interpreter::State::Diagonal() const {
    return std::hypot(p2.x - p1.x, p2.y - p1.y);
}

Matrix Interpreter::State::NativeToPlu() const {
    if (!(dotsPerInch > 0)) return {};
    // PCL dots run down from the frame's top-left corner.
    double k = kPluPerInch / dotsPerInch;
    bool turned = rotation == 90 || rotation == 270;
    return {k, 0, 0, -k, 0, turned ? frameW : frameH};
}

void Interpreter::State::UpdateScaling() {
    userToPlu = NativeToPlu();
    if (scaleType < 0) return;
    double dx = p2.x - p1.x, dy = p2.y - p1.y;
    double sx = 1, sy = 1, tx = 0, ty = 0;
    if (scaleType == 2) {
        sx = sc[1], sy = sc[3];
        tx = p1.x - sc[0] * sx;
        ty = p1.y - sc[2] * sy;
    } else {
        double ux = sc[1] - sc[0], uy = sc[3] - sc[2];
        sx = dx / ux, sy = dy / uy;
        if (scaleType == 1) {
            double s = std::min(std::fabs(sx), std::fabs(sy));
            sx = std::copysign(s, sx);
            sy = std::copysign(s, sy);
            double left = sc[5], bottom = sc[6];
            tx = p1.x + (dx - ux * sx) * left / 100 - sc[0] * sx;
            ty = p1.y + (dy - uy * sy) * bottom / 100 - sc[2] * sy;
        } else {
            tx = p1.x - sc[0] * sx;
            ty = p1.y - sc[2] * sy;
        }
    }
    Matrix m{sx, 0, 0, sy, tx, ty};
    if (!m.IsFinite() || !m.Invertible()) {
        job.Warning("HP-GL/2 scaling cannot be used");
        scaleType = -1;
        return;
    }
    userToPlu = m;
}

bool Interpreter::State::Allowed() {
    if (polygonMode) {
        job.Warning("HP-GL/2 command not allowed in polygon mode");
        return false;
    }
    return true;
}

void Interpreter::State::PointPair(double x, double y) {
    Point to;
    if (relative) {
        Point d = VecToPlu({x, y});
        to = {pen.x + d.x, pen.y + d.y};
    } else {
        to = ToPlu({x, y});
    }
    if (penDown)
        LineTo(to);
    else
        MoveTo(to);
    crPoint = pen;
    if (symbol) DrawSymbol();
}

void Interpreter::State::Execute(uint16_t code, const std::vector<double>& p) {
    size_t n = p.size();
    auto at = [&](size_t i, double def) { return i < n ? p[i] : def; };
    auto integer = [&](size_t i, int def) {
        return int(std::clamp(std::trunc(at(i, def)), -2147483647.0, 2147483647.0));
    };
    switch (code) {
    // Configuration and status.
    case Code('I', 'N'):
        Flush();
        DropClip();
        Defaults(true);
        break;
    case Code('D', 'F'):
        Defaults(false);
        break;
    case Code('I', 'P'):
        if (n == 0) {
            DefaultP1P2();
        } else if (n >= 2) {
            Point d{p2.x - p1.x, p2.y - p1.y};
            Matrix native = NativeToPlu();
            p1 = native.Apply({p[0], p[1]});
            p2 = n >= 4 ? native.Apply({p[2], p[3]}) : Point{p1.x + d.x, p1.y + d.y};
        }
        if (p2.x == p1.x) p2.x += 1; // P1 = P2 would scale by zero
        if (p2.y == p1.y) p2.y += 1;
        UpdateScaling();
        break;
    case Code('I', 'R'): {
        bool turned = rotation == 90 || rotation == 270;
        double w = turned ? frameH : frameW, h = turned ? frameW : frameH;
        if (n == 0) {
            DefaultP1P2();
            break;
        }
        if (n < 2) break;
        Point d{p2.x - p1.x, p2.y - p1.y};
        p1 = {w * p[0] / 100, h * p[1] / 100};
        p2 = n >= 4 ? Point{w * p[2] / 100, h * p[3] / 100} : Point{p1.x + d.x, p1.y + d.y};
        if (p2.x == p1.x) p2.x += 1;
        if (p2.y == p1.y) p2.y += 1;
        UpdateScaling();
        break;
    }
    case Code('S', 'C'):
        if (n == 0) {
            scaleType = -1;
            UpdateScaling();
            break;
        }
        if (n < 4) break;
        {
            int type = integer(4, 0);
            if (type < 0 || type > 2) break;
            if (type != 2 && (p[0] == p[1] || p[2] == p[3])) {
                job.Warning("HP-GL/2 scaling with an empty range ignored");
                break;
            }
            if (type == 2 && (p[1] == 0 || p[3] == 0)) {
                job.Warning("HP-GL/2 scaling with a zero factor ignored");
                break;
            }
            scaleType = type;
            for (int i = 0; i < 4; ++i) sc[i] = p[size_t(i)];
            sc[5] = std::clamp(at(5, 50), 0.0, 100.0);
            sc[6] = std::clamp(at(6, 50), 0.0, 100.0);
            UpdateScaling();
        }
        break;
    case Code('I', 'W'):
        if (n < 4) {
            windowSet = false;
        } else {
            Point a = ToPlu({p[0], p[1]}), b = ToPlu({p[2], p[3]});
            window = {std::min(a.x, b.x), std::min(a.y, b.y), std::max(a.x, b.x),
                      std::max(a.y, b.y)};
            windowSet = true;
        }
        DropClip();
        break;
    case Code('R', 'O'): {
        int r = integer(0, 0);
        if (r != 0 && r != 90 && r != 180 && r != 270) break;
        Point page = pluToPage.Apply(pen);
        rotation = r;
        frameKnown = false;
        UpdateFrame();
        if (pluToPage.Invertible()) pen = pluToPage.Inverse().Apply(page);
        DropClip();
        break;
    }
    case Code('P', 'G'):
        Flush();
        DropClip();
        host.AdvancePage();
        break;
    case Code('P', 'S'):
        if (n >= 1 && p[0] > 0) {
            double len = std::min(p[0], 1e6), wid = n >= 2 && p[1] > 0 ? std::min(p[1], 1e6) : len;
            Flush();
            DropClip();
            if (host.Measuring()) abandoned = true;
            if (host.SetPlotSize(len, wid)) {
                frameKnown = false;
                UpdateFrame();
            }
        }
        break;
    case Code('B', 'P'):
    case Code('C', 'O'):
    case Code('R', 'P'):
    case Code('E', 'C'):
    case Code('Q', 'L'):
    case Code('M', 'G'):
    case Code('N', 'R'):
    case Code('O', 'I'):
    case Code('O', 'P'):
        break; // plotter housekeeping: nothing to draw

    // Vectors.
    case Code('A', 'A'):
    case Code('A', 'R'):
        if (n >= 3) {
            Point c{p[0], p[1]};
            if (code == Code('A', 'R')) {
                Point u = UserPen();
                c = {u.x + c.x, u.y + c.y};
            }
            Arc(c, p[2], at(3, 5));
        }
        break;
    case Code('A', 'T'):
    case Code('R', 'T'):
        if (n >= 4) {
            Point a{p[0], p[1]}, b{p[2], p[3]};
            if (code == Code('R', 'T')) {
                Point u = UserPen();
                a = {u.x + a.x, u.y + a.y}, b = {u.x + b.x, u.y + b.y};
            }
            ArcThree(a, b, at(4, 5));
        }
        break;
    case Code('C', 'I'):
        if (n >= 1) Circle(p[0], at(1, 5));
        break;

    // Polygons.
    case Code('P', 'M'): {
        int mode = integer(0, 0);
        if (mode == 0) {
            polygon.Clear();
            edges.Clear();
            StartPolygon();
            polygonMode = true;
        } else if (polygonMode && (mode == 1 || mode == 2)) {
            ClosePolygon(penDown);
            if (mode == 2) polygonMode = false;
        }
        break;
    }
    case Code('F', 'P'):
        if (!Allowed()) break;
        FillPlu(polygon, integer(0, 0) == 1 ? FillRule::NonZero : FillRule::EvenOdd);
        break;
    case Code('E', 'P'):
        if (!Allowed()) break;
        StrokePlu(edges);
        break;
    case Code('R', 'A'):
    case Code('E', 'A'):
        if (n >= 2 && Allowed()) Rectangle(ToPlu({p[0], p[1]}), code == Code('R', 'A'));
        break;
    case Code('R', 'R'):
    case Code('E', 'R'):
        if (n >= 2 && Allowed()) {
            Point d = VecToPlu({p[0], p[1]});
            Rectangle({pen.x + d.x, pen.y + d.y}, code == Code('R', 'R'));
        }
        break;
    case Code('W', 'G'):
    case Code('E', 'W'):
        if (n >= 3 && Allowed()) Wedge(p[0], p[1], p[2], at(3, 5), code == Code('W', 'G'));
        break;

    // Line and fill attributes.
    case Code('S', 'P'): {
        int pn = integer(0, 1);
        if (pn < 0) break;
        penNo = pn;
        break;
    }
    case Code('P', 'W'): {
        double w = std::max(0.0, at(0, widthRelative ? 0.1 : 0.35));
        if (n >= 2) {
            int pn = integer(1, 0);
            if (pn >= 0 && size_t(pn) < penWidths.size()) penWidths[size_t(pn)] = w;
        } else {
            std::fill(penWidths.begin(), penWidths.end(), w);
        }
        break;
    }
    case Code('W', 'U'):
        widthRelative = integer(0, 0) == 1;
        std::fill(penWidths.begin(), penWidths.end(), widthRelative ? 0.1 : 0.35);
        break;
    case Code('L', 'A'):
        if (n == 0) {
            cap = LineCap::Butt, join = LineJoin::Miter, miterLimit = 5;
        }
        for (size_t i = 0; i + 1 < n; i += 2) {
            int kind = int(p[i]);
            double v = p[i + 1];
            if (kind == 1) {
                static const LineCap caps[] = {LineCap::Butt, LineCap::Square, LineCap::Triangle,
                                               LineCap::Round};
                if (v >= 1 && v <= 4) cap = caps[int(v) - 1];
            } else if (kind == 2) {
                static const LineJoin joins[] = {LineJoin::Miter, LineJoin::Miter, LineJoin::Bevel,
                                                 LineJoin::Round, LineJoin::Bevel, LineJoin::None};
                if (v >= 1 && v <= 6) join = joins[int(v) - 1];
            } else if (kind == 3) {
                miterLimit = std::clamp(v, 1.0, 32767.0);
            }
        }
        break;
    case Code('L', 'T'):
        if (n == 0) {
            lineTypeSolid = true;
            break;
        }
        if (p[0] == 99) {
            // The line type in force before LT; (or LT0 dots) comes back.
            lineTypeSolid = false;
            break;
        }
        {
            int t = integer(0, 0);
            if (t < -8 || t > 8) break;
            lineTypeSolid = false;
            lineType = t;
            lineAdaptive = t < 0;
            if (n >= 2 && p[1] > 0) patternLength = p[1];
            if (n >= 3) patternAbsolute = integer(2, 0) == 1;
        }
        break;
    case Code('U', 'L'):
        if (n == 0) {
            for (auto& u : userLines) u.clear();
        } else {
            int idx = integer(0, 0);
            if (idx < 1 || idx > 8) break;
            std::vector<double> gaps;
            double sum = 0;
            for (size_t i = 1; i < n && gaps.size() < 20; ++i) {
                gaps.push_back(std::max(0.0, p[i]));
                sum += gaps.back();
            }
            userLines[size_t(idx - 1)] = sum > 0 ? gaps : std::vector<double>{};
        }
        break;
    case Code('F', 'T'): {
        int t = integer(0, 1);
        if (n == 0) t = 1;
        switch (t) {
        case 1:
        case 2:
            fillType = t;
            break;
        case 3:
        case 4:
            fillType = t;
            if (n >= 2) hatchSpacing[t - 3] = std::max(0.0, p[1]);
            if (n >= 3) hatchAngle[t - 3] = p[2];
            break;
        case 10:
            fillType = t;
            if (n >= 2) shading = std::clamp(p[1], 0.0, 100.0);
            break;
        case 11:
            fillType = t;
            if (n >= 2 && p[1] >= 1 && p[1] <= 8) rasterFillIndex = int(p[1]);
            break;
        case 21:
        case 22:
            fillType = t;
            if (n >= 2) pclPatternId[t - 21] = integer(1, 0);
            break;
        default:
            break;
        }
        break;
    }
    case Code('R', 'F'):
        if (n == 0) {
            for (auto& r : rasterFills) r = RasterFill{};
        } else if (n >= 3) {
            int idx = integer(0, 0), w = integer(1, 0), h = integer(2, 0);
            if (idx < 1 || idx > 8 || w < 1 || h < 1 || w > 255 || h > 255) {
                job.Warning("HP-GL/2 raster fill out of range");
                break;
            }
            RasterFill& r = rasterFills[size_t(idx - 1)];
            r.width = w, r.height = h;
            r.pens.assign(size_t(w) * size_t(h), 0);
            for (size_t i = 0; i < r.pens.size() && i + 3 < n; ++i) r.pens[i] = int(p[i + 3]);
        }
        break;
    case Code('A', 'C'):
        anchor = n >= 2 ? ToPlu({p[0], p[1]}) : Point{0, 0};
        break;
    case Code('S', 'V'):
        screenType = integer(0, 0);
        screenOpt = at(1, 100);
        break;
    case Code('T', 'R'):
        transparent = integer(0, 1) != 0;
        break;
    case Code('S', 'M'):
        break; // the character was taken by the reader
    case Code('M', 'C'):
        op.rop3 = integer(0, 0) == 1 ? uint8_t(std::clamp(integer(1, 252), 0, 255)) : 252;
        host.ShareRasterOp(op.rop3);
        break;
    case Code('P', 'P'):
        gridCentred = integer(0, 0) == 1;
        host.SharePixelPlacement(gridCentred);
        break;

    // Palette.
    case Code('N', 'P'): {
        int size = n ? integer(0, 8) : 8;
        if (size < 2) {
            job.Warning("HP-GL/2 palette size below 2 ignored");
            break;
        }
        int s = 2;
        while (s < size && s < 32768) s *= 2;
        size_t old = palette.size();
        palette.resize(size_t(s), kBlack);
        for (size_t i = old; i < palette.size() && i < DefaultPens().size(); ++i)
            palette[i] = DefaultPens()[i];
        penWidths.resize(palette.size(), penWidths.empty() ? 0.35 : penWidths.back());
        host.SharePalette(palette);
        pclPaletteSeen = host.PclPalette();
        break;
    }
    case Code('P', 'C'): {
        int pn = integer(0, 0);
        if (n == 0) {
            for (size_t i = 0; i < palette.size(); ++i)
                palette[i] = i < DefaultPens().size() ? DefaultPens()[i] : kBlack;
        } else if (pn < 0 || palette.empty()) {
            break;
        } else if (size_t i = size_t(pn) % palette.size(); n < 4) {
            palette[i] = i < DefaultPens().size() ? DefaultPens()[i] : kBlack;
        } else {
            uint8_t c[3];
            for (int k = 0; k < 3; ++k) {
                double range = crWhite[k] - crBlack[k];
                double v = range != 0 ? (p[size_t(k + 1)] - crBlack[k]) / range * 255 : 0;
                c[k] = uint8_t(std::lround(std::clamp(v, 0.0, 255.0)));
            }
            palette[i] = {c[0], c[1], c[2]};
        }
        host.SharePalette(palette);
        pclPaletteSeen = host.PclPalette();
        break;
    }
    case Code('C', 'R'):
        for (int k = 0; k < 3; ++k) {
            crBlack[k] = n >= 6 ? p[size_t(2 * k)] : 0;
            crWhite[k] = n >= 6 ? p[size_t(2 * k + 1)] : 255;
        }
        break;

    // Characters.
    case Code('S', 'D'):
    case Code('A', 'D'): {
        FontDef& f = fonts[code == Code('A', 'D') ? 1 : 0];
        if (n == 0) f = FontDef{};
        f.fontId = -1; // characteristics replace a font chosen by ID
        for (size_t i = 0; i + 1 < n; i += 2)
            if (p[i] >= 1 && p[i] <= 7)
                fonts::SetCharacteristic(f.request, fonts::Characteristic(int(p[i])), p[i + 1]);
        break;
    }
    case Code('S', 'S'):
        fontSelected = 0;
        break;
    case Code('S', 'A'):
        fontSelected = 1;
        break;
    case Code('F', 'I'):
    case Code('F', 'N'):
        if (n >= 1 && p[0] >= 0 && p[0] <= 32767)
            fonts[code == Code('F', 'N') ? 1 : 0].fontId = integer(0, 0);
        break;
    case Code('S', 'I'):
    case Code('S', 'R'):
        if (n >= 2 && p[0] != 0 && p[1] != 0) {
            sizeSet = true;
            sizeRelative = code == Code('S', 'R');
            sizeW = p[0], sizeH = p[1];
        } else if (n == 0 && code == Code('S', 'R')) {
            sizeSet = true;
            sizeRelative = true;
            sizeW = 0.75, sizeH = 1.5;
        } else if (n == 0) {
            sizeSet = false;
        }
        break;
    case Code('S', 'L'):
        slant = std::clamp(at(0, 0), -100.0, 100.0);
        break;
    case Code('D', 'I'):
    case Code('D', 'R'):
        if (n >= 2 && (p[0] != 0 || p[1] != 0)) {
            dirX = p[0], dirY = p[1];
            dirRelative = code == Code('D', 'R');
        } else if (n == 0) {
            dirX = 1, dirY = 0;
            dirRelative = false;
        }
        break;
    case Code('D', 'V'):
        path = std::clamp(integer(0, 0), 0, 3);
        lineReverse = integer(1, 0) == 1;
        break;
    case Code('E', 'S'):
        extraSpace = std::clamp(at(0, 0), -100.0, 100.0);
        extraLine = std::clamp(at(1, 0), -100.0, 100.0);
        break;
    case Code('L', 'O'): {
        int lo = integer(0, 1);
        if ((lo >= 1 && lo <= 9) || (lo >= 11 && lo <= 19) || lo == 21) labelOrigin = lo;
        break;
    }
    case Code('D', 'T'):
        terminatorPrinted = n >= 1 && integer(0, 1) == 0;
        break;
    case Code('C', 'P'):
        if (n >= 2)
            CharacterPlot(p[0], p[1]);
        else
            CharacterPlot(NAN, NAN);
        break;
    case Code('C', 'F'):
        charFill = std::clamp(integer(0, 0), 0, 3);
        edgePen = n >= 2 ? std::max(0, integer(1, 0)) : -1;
        break;
    case Code('L', 'M'): {
        int mode = integer(0, 0);
        label16 = mode == 1 || mode == 3;
        labelVertical = mode == 2 || mode == 3;
        labelRow = label16 ? 0 : std::clamp(integer(1, 0), 0, 255);
        break;
    }
    case Code('S', 'B'):
        bitmapFonts = integer(0, 0) == 1;
        break;
    case Code('T', 'D'):
        transparentData = integer(0, 0) == 1;
        break;
    case Code('D', 'L'):
        Download(p);
        break;
    default:
        break;
    }
}

} // namespace tarvik::hpgl2
