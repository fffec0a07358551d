// PCL XL entry, the token loop, session and page set-up, graphics state,
// colour and user streams.
#include "PclXl.h"

#include "PxlFont.h"
#include "PxlInterp.h"
#include "PxlVendorRaster.h"
#include "pcl5/Pcl5.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace tarvik::pclxl {

namespace {

constexpr double kMm = 72.0 / 25.4;

struct NamedSize {
    double w, h; // points, portrait
};

// MediaSize enumeration values to paper sizes.
bool MediaForEnum(int value, NamedSize& out) {
    switch (value) {
    case 0:
        out = {612, 792};
        return true; // Letter
    case 1:
        out = {612, 1008};
        return true; // Legal
    case 2:
        out = {210 * kMm, 297 * kMm};
        return true; // A4
    case 3:
        out = {522, 756};
        return true; // Executive
    case 4:
        out = {792, 1224};
        return true; // Ledger
    case 5:
        out = {297 * kMm, 420 * kMm};
        return true; // A3
    case 6:
        out = {297, 684};
        return true; // COM10 envelope
    case 7:
        out = {279, 540};
        return true; // Monarch envelope
    case 8:
        out = {162 * kMm, 229 * kMm};
        return true; // C5 envelope
    case 9:
        out = {110 * kMm, 220 * kMm};
        return true; // DL envelope
    case 10:
        out = {257 * kMm, 364 * kMm};
        return true; // JIS B4
    case 11:
        out = {182 * kMm, 257 * kMm};
        return true; // JIS B5
    case 12:
        out = {176 * kMm, 250 * kMm};
        return true; // B5 envelope
    case 13:
        out = {176 * kMm, 250 * kMm};
        return true; // ISO B5
    case 14:
        out = {100 * kMm, 148 * kMm};
        return true; // J postcard
    case 15:
        out = {200 * kMm, 148 * kMm};
        return true; // J double postcard
    case 16:
        out = {148 * kMm, 210 * kMm};
        return true; // A5
    case 17:
        out = {105 * kMm, 148 * kMm};
        return true; // A6
    case 18:
        out = {128 * kMm, 182 * kMm};
        return true; // JIS B6
    case 19:
        out = {260 * kMm, 368 * kMm};
        return true; // JIS 8K
    case 20:
        out = {184 * kMm, 260 * kMm};
        return true; // JIS 16K
    case 21:
        out = {216 * kMm, 330 * kMm};
        return true; // JIS Exec
    default:
        return false;
    }
}

double UnitsPerInch(int measure, double units) {
    switch (measure) {
    case 1:
        return units * 25.4;
    case 2:
        return units * 254.0;
    default:
        return units;
    }
}

bool IsUel(const uint8_t* p, size_t n) {
    return n >= 9 && std::memcmp(p, "\x1b%-12345X", 9) == 0;
}

uint8_t ToByte(double v) {
    if (!(v > 0)) return 0;
    if (v >= 255) return 255;
    return static_cast<uint8_t>(v + 0.5);
}

// One colour component of an attribute value on the 0..255 scale.
uint8_t Component(const Value& v, size_t i) {
    double x = v.Num(i);
    if (v.IsReal()) return ToByte(x * 255.0);
    if (v.elem == Elem::UInt16) return ToByte(x / 257.0);
    return ToByte(x);
}

} // namespace

Interpreter::Interpreter(JobContext& job) : m_job(job), m_limits(job.Limit()) {
    ResetGraphicsState();
}

Interpreter::~Interpreter() = default;

Device* Interpreter::Dev() {
    return m_pageOpen ? m_job.Page() : nullptr;
}

void Interpreter::Warn(const std::string& what) {
    const char* name = OperatorTable(m_op).name;
    m_job.Warning(std::string(name ? name : "operator") + ": " + what);
}

void Interpreter::Unsupported(const std::string& what) {
    m_job.Unsupported(what);
}

bool Interpreter::Require(uint8_t id, const Value*& out) {
    out = Get(id);
    if (out) return true;
    const char* name = AttributeName(id);
    Warn(std::string("MissingAttribute ") + (name ? name : "?"));
    return false;
}

void Interpreter::ClearAttributes() {
    for (uint8_t id : m_setList) m_set[id] = false;
    m_setList.clear();
}

bool Interpreter::Embedded(Reader& r, const uint8_t*& data, uint32_t& size) {
    std::string err;
    if (!m_dataOpen) Warn("DataSourceNotOpen");
    if (r.ReadEmbedded(data, size, err)) return true;
    Warn(err);
    if (r.AtEnd()) m_broken = true;
    data = nullptr;
    size = 0;
    return false;
}

size_t Interpreter::Run(const uint8_t* data, size_t size, bool& ok) {
    size_t start = 0;
    while (start < size && IsWhiteSpace(data[start])) ++start;
    StreamHeader header;
    std::string err;
    HeaderResult hr = ParseStreamHeader(data + start, size - start, header, err);
    if (hr != HeaderResult::Ok) {
        m_job.Warning("PCL XL stream header: " +
                      (err.empty() ? std::string("IllegalStreamHeader") : err));
        if (header.binding == StreamHeader::Binding::Ascii)
            m_job.Unsupported("PCL XL ASCII binding");
        ok = false;
        return start + header.length;
    }
    m_protocolClass = header.protocolClass;
    Reader r(data, size, header.binding == StreamHeader::Binding::HighByteFirst);
    r.Seek(start + header.length);
    Flow f = Execute(r, 0);
    if (!m_passThrough.empty()) FlushPassThrough();
    if (m_image.open) EndImage();
    bool pageLeftOpen = m_pageOpen;
    if (m_pageOpen) EndPage(); // the page in progress is kept as far as it got
    // Attributes with no operator after them, or a stream without any
    // session, mean the data stopped early.
    bool dangling = !m_setList.empty() || !m_sawSession;
    ok = f != Flow::Broken && !pageLeftOpen && !m_inSession && !m_broken && !dangling;
    if (m_unknownOps > 0)
        m_job.Warning("PCL XL: " + std::to_string(m_unknownOps) + " unknown operators skipped");
    return r.Pos();
}

Interpreter::Flow Interpreter::Execute(Reader& r, int depth) {
    std::string err;
    while (!r.AtEnd()) {
        uint8_t b = r.Peek();
        if (IsWhiteSpace(b)) {
            r.Skip(1);
            continue;
        }
        if (b == 0x1B) {
            if (IsUel(r.Here(), r.Remaining())) return Flow::Stop;
            m_job.Warning("PCL XL: IllegalTag 0x1B");
            return Flow::Broken;
        }
        if (IsDataTypeTag(b)) {
            r.Skip(1);
            Value v;
            if (!r.ReadValue(b, v, err)) {
                m_job.Warning("PCL XL: " + err);
                return Flow::Broken;
            }
            while (!r.AtEnd() && IsWhiteSpace(r.Peek())) r.Skip(1);
            uint8_t t = 0;
            if (!r.U8(t)) return Flow::Broken;
            unsigned id = 0;
            if (t == kTagAttrUByte) {
                uint8_t x;
                if (!r.U8(x)) return Flow::Broken;
                id = x;
            } else if (t == kTagAttrUInt16) {
                uint16_t x;
                if (!r.U16(x)) return Flow::Broken;
                id = x;
            } else {
                m_job.Warning("PCL XL: IllegalTag, attribute id expected");
                return Flow::Broken;
            }
            if (id > 255 || !AttributeName(id)) {
                m_job.Warning("PCL XL: unknown attribute " + std::to_string(id) + " ignored");
                continue;
            }
            m_attrs[id] = v;
            if (!m_set[id]) {
                m_set[id] = true;
                m_setList.push_back(static_cast<uint8_t>(id));
            }
            continue;
        }
        if (b == kTagAttrUByte || b == kTagAttrUInt16) {
            // An attribute id without a value: skip the id.
            r.Skip(b == kTagAttrUByte ? 2 : 3);
            m_job.Warning("PCL XL: attribute id without a value");
            continue;
        }
        if (b == kTagDataLength || b == kTagDataLengthByte) {
            // Data nobody asked for (e.g. after a vendor operator): skip it.
            const uint8_t* d;
            uint32_t n;
            if (!r.ReadEmbedded(d, n, err)) return Flow::Broken;
            continue;
        }
        if (IsOperatorTag(b)) {
            r.Skip(1);
            if (!m_job.Tick() || m_job.Stopped()) {
                m_stopped = true;
                return Flow::Broken;
            }
            Flow f = Operator(b, r, depth);
            ClearAttributes();
            if (m_broken) return Flow::Broken;
            if (f != Flow::Continue) return f;
            continue;
        }
        if ((b == 0x27 || b == 0x28 || b == 0x29) && depth == 0) {
            // A further stream header, as between sessions.
            StreamHeader h;
            HeaderResult hr = ParseStreamHeader(r.Here(), r.Remaining(), h, err);
            if (hr == HeaderResult::Ok) {
                r.SetBigEndian(h.binding == StreamHeader::Binding::HighByteFirst);
                r.Skip(h.length);
                continue;
            }
        }
        char hex[8];
        std::snprintf(hex, sizeof hex, "0x%02X", b);
        m_job.Warning(std::string("PCL XL: IllegalTag ") + hex);
        return Flow::Broken;
    }
    return Flow::Continue;
}

Interpreter::Flow Interpreter::Operator(uint8_t op, Reader& r, int depth) {
    if (op != kPassThrough && !m_passThrough.empty()) FlushPassThrough();
    m_op = op;
    ++m_opCount;
    const OperatorInfo& info = OperatorTable(op);
    if (!info.name) {
        ++m_unknownOps;
        char hex[8];
        std::snprintf(hex, sizeof hex, "0x%02X", op);
        m_job.Unsupported(std::string("PCL XL operator ") + hex);
        return Flow::Continue;
    }
    for (uint8_t id : m_setList)
        if (!info.Accepts(id)) Warn(std::string("IllegalAttribute ") + AttributeName(id));
    // A page-only operator outside a page draws nothing.
    bool needsPage = (op >= kPopGS && op <= kSetCharSubMode && op != kSetColorTreatment) ||
                     (op >= kCloseSubPath && op <= kScanLineRel && op != kSetColorTrapping &&
                      op != kSetAdaptiveHalftoning && op != kBeginRastPattern &&
                      op != kReadRastPattern && op != kEndRastPattern) ||
                     op == kSetDefaultGS;
    if (needsPage && !m_pageOpen) {
        Warn("IllegalOperatorSequence (no page)");
        // Keep the stream in sync: skip data the operator would have read.
        if (op == kReadImage || op == kScanLineRel ||
            ((op == kLinePath || op == kLineRelPath || op == kBezierPath || op == kBezierRelPath) &&
             Get(aNumberOfPoints))) {
            const uint8_t* d;
            uint32_t n;
            Embedded(r, d, n);
        }
        return Flow::Continue;
    }
    if (m_image.open && op != kReadImage && op != kEndImage && op != kReadRastPattern &&
        op != kEndRastPattern && op != kComment) {
        Warn("IllegalOperatorSequence (image not ended)");
        EndImage();
    }

    switch (op) {
    case kBeginSession:
        BeginSession();
        break;
    case kEndSession:
        EndSession();
        break;
    case kBeginPage:
        BeginPage();
        break;
    case kEndPage:
        if (!EndPage()) return Flow::Broken;
        break;
    case kComment:
    case kEchoComment:
    case kQuery:
    case kDiagnostic3:
    case kSetColorTreatment:
    case kSetNeutralAxis:
    case kSetColorTrapping:
    case kSetAdaptiveHalftoning:
    case kBeginUserDefinedLineCaps:
    case kEndUserDefinedLineCaps:
        break;
    case kVendorUnique: {
        // The payload follows either as an embedded block or raw with its
        // length in VUDataLength; that length alone says where the next
        // operator starts. Raster strips are drawn, other payloads skipped.
        double sel = Num(aVUExtension, 0);
        const uint32_t ext = sel >= 0 && sel <= 4294967295.0 ? uint32_t(sel) : 0;
        size_t at = r.Pos();
        while (!r.AtEnd() && IsWhiteSpace(r.Peek())) r.Skip(1);
        bool embedded =
            !r.AtEnd() && (r.Peek() == kTagDataLength || r.Peek() == kTagDataLengthByte);
        r.Seek(at);
        const uint8_t* data = nullptr;
        size_t size = 0;
        bool cut = false;
        if (embedded) {
            // Left to the token loop unless it is a strip.
            if (ext == kVendorRasterStrip) {
                uint32_t n = 0;
                std::string err;
                if (r.ReadEmbedded(data, n, err)) {
                    size = n;
                } else {
                    data = nullptr;
                    cut = true;
                }
            }
        } else if (const Value* len = Get(aVUDataLength)) {
            double n = len->Num(0);
            cut = !(n >= 0) || n > double(r.Remaining());
            // A cut strip still draws the rows it has.
            data = r.Here();
            size = cut ? (n > 0 ? r.Remaining() : 0) : size_t(n);
            r.Skip(size);
        }
        if (ext == kVendorRasterStrip) {
            if (data)
                VendorStrip(data, size);
            else if (!cut)
                Warn("MissingData (vendor raster strip)");
        } else if (ext != kVendorRasterBegin) {
            Unsupported("PCL XL vendor-unique operator");
        }
        if (cut) {
            m_broken = true;
            Warn("MissingData (vendor data)");
        }
        break;
    }
    case kOpenDataSource:
        if (m_dataOpen) Warn("DataSourceNotClosed");
        if (Num(aSourceType, 0) != 0) Warn("IllegalAttributeValue SourceType");
        m_dataOpen = true;
        m_dataBigEndian = Num(aDataOrg, 1) == 0;
        break;
    case kCloseDataSource:
        if (!m_dataOpen) Warn("DataSourceNotOpen");
        m_dataOpen = false;
        break;
    case kBeginFontHeader:
        BeginFontHeader();
        break;
    case kReadFontHeader:
        ReadFontHeader(r);
        break;
    case kEndFontHeader:
        EndFontHeader();
        break;
    case kBeginChar:
        BeginChar();
        break;
    case kReadChar:
        ReadChar(r);
        break;
    case kEndChar:
        EndChar();
        break;
    case kRemoveFont:
        RemoveFont();
        break;
    case kSetCharAttributes:
        m_gs.writingMode = SafeInt(Num(aWritingMode, 0));
        break;
    case kSetDefaultGS: {
        Matrix keep = DefaultCtm();
        ResetGraphicsState();
        m_gs.ctm = keep;
        break;
    }
    case kBeginStream:
        BeginStream();
        break;
    case kReadStream:
        ReadStream(r);
        break;
    case kEndStream:
        EndStream();
        break;
    case kExecStream:
        return ExecStream(depth);
    case kRemoveStream:
        RemoveStream();
        break;
    case kPopGS:
        PopGS();
        break;
    case kPushGS:
        PushGS();
        break;
    case kSetClipReplace:
        ClipWithPath(ClipOp::Replace);
        break;
    case kSetClipIntersect:
        ClipWithPath(ClipOp::Intersect);
        break;
    case kSetClipRectangle:
        ClipRectangle();
        break;
    case kSetClipToPage:
        ClipToPage();
        break;
    case kSetPathToClip:
        PathToClip();
        break;
    case kSetClipMode:
        m_gs.clipMode = Num(aClipMode, 0) == 1 ? FillRule::EvenOdd : FillRule::NonZero;
        break;
    case kSetBrushSource:
        SetSource(true);
        break;
    case kSetPenSource:
        SetSource(false);
        break;
    case kSetCharAngle:
        m_gs.charAngle = Num(aCharAngle, 0);
        break;
    case kSetCharScale:
        if (const Value* v = Get(aCharScale)) {
            m_gs.charScaleX = v->X();
            m_gs.charScaleY = v->Y();
        }
        break;
    case kSetCharShear:
        if (const Value* v = Get(aCharShear)) {
            m_gs.charShearX = v->X();
            m_gs.charShearY = v->Y();
        }
        break;
    case kSetCharBoldValue:
        m_gs.charBold = std::clamp(Num(aCharBoldValue, 0), 0.0, 1.0);
        break;
    case kSetCharSubMode:
        m_gs.charSubMode = SafeInt(Num(aCharSubModeArray, 0));
        break;
    case kSetColorSpace:
        SetColorSpace();
        break;
    case kSetCursor:
        if (const Value* v = Get(aPoint)) {
            m_gs.cursor = {v->X(), v->Y()};
            m_gs.hasCursor = true;
            m_gs.path.MoveTo(v->X(), v->Y());
        } else {
            Warn("MissingAttribute Point");
        }
        break;
    case kSetCursorRel:
        if (const Value* v = Get(aPoint)) {
            if (!m_gs.hasCursor) {
                Warn("CurrentCursorUndefined");
                break;
            }
            m_gs.cursor = {m_gs.cursor.x + v->X(), m_gs.cursor.y + v->Y()};
            m_gs.path.MoveTo(m_gs.cursor.x, m_gs.cursor.y);
        }
        break;
    case kSetHalftoneMethod:
        // Halftoning is the printer's business; a dither matrix's data is
        // read and dropped.
        if (Get(aDitherMatrixDataType)) {
            const uint8_t* d;
            uint32_t n;
            Embedded(r, d, n);
        }
        break;
    case kSetFillMode:
        m_gs.fillMode = Num(aFillMode, 0) == 1 ? FillRule::EvenOdd : FillRule::NonZero;
        break;
    case kSetFont:
        SetFont();
        break;
    case kSetLineDash:
        SetLineDash();
        break;
    case kSetLineCap: {
        int v = SafeInt(Num(aLineCapStyle, 0));
        m_gs.stroke.cap = v == 1   ? LineCap::Round
                          : v == 2 ? LineCap::Square
                          : v == 3 ? LineCap::Triangle
                                   : LineCap::Butt;
        break;
    }
    case kSetLineJoin: {
        int v = SafeInt(Num(aLineJoinStyle, 0));
        m_gs.stroke.join = v == 1   ? LineJoin::Round
                           : v == 2 ? LineJoin::Bevel
                           : v == 3 ? LineJoin::None
                                    : LineJoin::Miter;
        break;
    }
    case kSetMiterLimit: {
        double m = Num(aMiterLength, 10);
        // Zero selects the default.
        m_gs.stroke.miterLimit = m <= 0 ? 10 : std::max(1.0, m);
        break;
    }
    case kSetPenWidth:
        m_gs.stroke.width = std::max(0.0, Num(aPenWidth, 1));
        break;
    case kSetPageDefaultCTM:
        SetCtm(DefaultCtm());
        break;
    case kSetPageOrigin:
        if (const Value* v = Get(aPageOrigin))
            SetCtm(Matrix::Translate(v->X(), v->Y()).Then(m_gs.ctm));
        break;
    case kSetPageRotation: {
        double a = Num(aPageAngle, 0);
        // Counter-clockwise as seen on the page.
        SetCtm(Matrix::Rotate(-a).Then(m_gs.ctm));
        break;
    }
    case kSetPageScale:
        if (const Value* v = Get(aPageScale)) {
            if (v->X() > 0 && v->Y() > 0 && v->X() < 32768 && v->Y() < 32768)
                SetCtm(Matrix::Scale(v->X(), v->Y()).Then(m_gs.ctm));
            else
                Warn("IllegalAttributeValue PageScale");
        } else if (const Value* u = Get(aUnitsPerMeasure)) {
            int measure = SafeInt(Num(aMeasure, 0));
            double nx = UnitsPerInch(measure, u->X()), ny = UnitsPerInch(measure, u->Y());
            if (nx > 0 && ny > 0)
                SetCtm(Matrix::Scale(m_unitsX / nx, m_unitsY / ny).Then(m_gs.ctm));
        }
        break;
    case kSetPaintTxMode:
        m_gs.rop.patternTransparent = Num(aTxMode, 0) == 1;
        break;
    case kSetSourceTxMode:
        m_gs.rop.sourceTransparent = Num(aTxMode, 0) == 1;
        break;
    case kSetROP:
        m_gs.rop.rop3 = static_cast<uint8_t>(std::clamp(SafeInt(Num(aROP3, 252)), 0, 255));
        break;
    case kCloseSubPath:
        m_gs.path.Close();
        AfterPathOp();
        break;
    case kNewPath:
        m_gs.path.Clear();
        m_gs.hasCursor = false;
        break;
    case kPaintPath:
        PaintPath();
        break;
    case kArcPath:
        ArcShape(ArcKind::Arc);
        break;
    case kChordPath:
        ArcShape(ArcKind::Chord);
        break;
    case kPiePath:
        ArcShape(ArcKind::Pie);
        break;
    case kChord:
        m_gs.path.Clear();
        ArcShape(ArcKind::Chord);
        PaintPath();
        break;
    case kPie:
        m_gs.path.Clear();
        ArcShape(ArcKind::Pie);
        PaintPath();
        m_gs.path.Clear();
        break;
    case kBezierPath:
        BezierPath(r, false);
        break;
    case kBezierRelPath:
        BezierPath(r, true);
        break;
    case kLinePath:
        LinePath(r, false);
        break;
    case kLineRelPath:
        LinePath(r, true);
        break;
    case kEllipsePath:
        EllipsePath();
        break;
    case kEllipse:
        PaintShape(&Interpreter::EllipsePath, false);
        break;
    case kRectanglePath:
        RectanglePath();
        break;
    case kRectangle:
        PaintShape(&Interpreter::RectanglePath, false);
        break;
    case kRoundRectanglePath:
        RoundRectanglePath();
        break;
    case kRoundRectangle:
        PaintShape(&Interpreter::RoundRectanglePath, true);
        break;
    case kText:
        Text(false);
        break;
    case kTextPath:
        Text(true);
        break;
    case kBeginImage:
        BeginImage();
        break;
    case kReadImage:
        ReadImage(r);
        break;
    case kEndImage:
        EndImage();
        break;
    case kBeginRastPattern:
        BeginRastPattern();
        break;
    case kReadRastPattern:
        ReadRastPattern(r);
        break;
    case kEndRastPattern:
        EndRastPattern();
        break;
    case kBeginScan:
        m_inScan = true;
        break;
    case kEndScan:
        m_inScan = false;
        break;
    case kScanLineRel:
        ScanLineRel(r);
        break;
    case kPassThrough: {
        // Chunks are stitched first: a PCL command may straddle two of them.
        const uint8_t* d;
        uint32_t n;
        if (!Embedded(r, d, n) || n == 0) break;
        if (m_passThrough.size() + n > m_limits.maxRecordBytes) {
            Warn("PassThrough data too large, dropped");
            m_passThrough.clear();
            break;
        }
        m_passThrough.insert(m_passThrough.end(), d, d + n);
        break;
    }
    default:
        break;
    }
    return Flow::Continue;
}

// ---------------------------------------------------------------------------
// Session and page

void Interpreter::BeginSession() {
    if (m_inSession) Warn("IllegalOperatorSequence (session already open)");
    m_inSession = true;
    m_sawSession = true;
    const Value* u = Get(aUnitsPerMeasure);
    int measure = SafeInt(Num(aMeasure, 0));
    double ux = u ? u->X() : 300, uy = u ? u->Y() : 300;
    if (!u) Warn("MissingAttribute UnitsPerMeasure");
    if (!(ux > 0) || !(uy > 0) || ux > 65535 || uy > 65535) {
        Warn("IllegalAttributeValue UnitsPerMeasure");
        ux = uy = 300;
    }
    m_unitsX = UnitsPerInch(measure, ux);
    m_unitsY = UnitsPerInch(measure, uy);
    // Font, pattern and stream downloads belong to the session.
    m_dataOpen = false;
}

void Interpreter::EndSession() {
    if (m_pageOpen) {
        Warn("IllegalOperatorSequence (page not ended)");
        EndPage();
    }
    m_inSession = false;
    m_dataOpen = false;
    m_fonts.clear();
    m_patterns.clear();
    m_streams.clear();
    m_downloadBytes = 0;
    m_gs.font.reset();
}

Matrix Interpreter::DefaultCtm() const {
    return Matrix::Scale(72.0 / m_unitsX, 72.0 / m_unitsY);
}

void Interpreter::SetCtm(const Matrix& m) {
    if (!m.IsFinite() || !m.Invertible()) {
        Warn("IllegalAttributeValue (degenerate page transform)");
        return;
    }
    // The path and cursor keep their place on the page.
    Matrix toNew = m_gs.ctm.Then(m.Inverse());
    if (!m_gs.path.Empty()) {
        Path moved;
        moved.Append(m_gs.path, toNew);
        m_gs.path = std::move(moved);
    }
    if (m_gs.hasCursor) m_gs.cursor = toNew.Apply(m_gs.cursor);
    m_gs.ctm = m;
}

void Interpreter::ResetGraphicsState() {
    GraphicsState fresh;
    fresh.ctm = DefaultCtm();
    m_gs = std::move(fresh);
    m_gsStack.clear();
}

void Interpreter::BeginPage() {
    if (!m_inSession) Warn("IllegalOperatorSequence (no session)");
    if (m_pageOpen) {
        Warn("IllegalOperatorSequence (page not ended)");
        EndPage();
    }
    PageSetup setup;
    const PjlSettings& pjl = m_job.Pjl();
    if (pjl.paperWidthPt > 0 && pjl.paperHeightPt > 0) {
        setup.widthPt = pjl.paperWidthPt;
        setup.heightPt = pjl.paperHeightPt;
    }
    int orientation = SafeInt(Num(aOrientation, 4));
    if (orientation == 4) orientation = pjl.orientation >= 0 ? pjl.orientation : 0;
    if (orientation < 0 || orientation > 3) {
        Warn("IllegalOrientation");
        orientation = 0;
    }
    if (const Value* ms = Get(aMediaSize)) {
        NamedSize n;
        if (ms->IsArray()) {
            std::string name = ms->Text();
            while (!name.empty() && (name.back() == ' ' || name.back() == 0)) name.pop_back();
            if (const MediaSize* m = FindMedia(name)) {
                setup.widthPt = m->widthPt;
                setup.heightPt = m->heightPt;
            } else {
                Warn("IllegalMediaSize " + name);
            }
        } else if (MediaForEnum(SafeInt(ms->Num(0)), n)) {
            setup.widthPt = n.w;
            setup.heightPt = n.h;
        } else if (ms->Num(0) != 96) {
            Warn("IllegalMediaSize");
        }
        if (Get(aCustomMediaSize)) Warn("IllegalAttributeCombination");
    } else if (const Value* cs = Get(aCustomMediaSize)) {
        int units = SafeInt(Num(aCustomMediaSizeUnits, 0));
        double perPt = 72.0 / UnitsPerInch(units, 1.0);
        double w = cs->X() * perPt, h = cs->Y() * perPt;
        // Up to about 1.3 m on a side; anything else is no paper.
        if (w >= 36 && h >= 36 && w <= 3600 && h <= 3600) {
            setup.widthPt = w;
            setup.heightPt = h;
        } else {
            Warn("IllegalMediaSize (custom)");
        }
    }
    setup.orientation = orientation;
    m_setup = setup;
    m_orientation = orientation;
    m_job.BeginPage(setup);
    m_pageOpen = true;
    ResetGraphicsState();
    // Temporary patterns do not outlive the page that is current when
    // they are made; drop any left from before.
    DropPatterns(0);
}

bool Interpreter::EndPage() {
    if (!m_pageOpen) {
        Warn("IllegalOperatorSequence (no page)");
        return true;
    }
    if (m_image.open) EndImage();
    m_pageOpen = false;
    DropPatterns(0);
    DropPatterns(1);
    m_gsStack.clear();
    bool ok = m_job.EndPage();
    if (!ok) m_stopped = true;
    return ok;
}

void Interpreter::FlushPassThrough() {
    std::vector<uint8_t> data;
    data.swap(m_passThrough);
    Device* dev = Dev();
    if (!m_pageOpen || !dev) {
        Warn("IllegalOperatorSequence (PassThrough outside a page)");
        return;
    }
    pcl5::HostPage host;
    host.setup = m_setup;
    host.setup.orientation = m_orientation;
    host.unitsPerInch = m_unitsX;
    host.cursorValid = m_gs.hasCursor;
    if (m_gs.hasCursor) host.cursor = m_gs.ctm.Apply(m_gs.cursor);
    // PCL draws inside the page's full clip and leaves XL's state as it was.
    dev->PushClip();
    dev->ResetClip();
    if (!pcl5::InterpretOnPage(data.data(), data.size(), m_job, host))
        Warn("PassThrough: the PCL 5 data broke off");
    dev->PopClip();
}

void Interpreter::PushGS() {
    if (int(m_gsStack.size()) >= std::min(m_limits.maxGraphicsStateDepth, 256)) {
        Warn("MaxGSLevelsExceeded");
        return;
    }
    m_gsStack.push_back(m_gs);
    if (Device* d = Dev()) d->PushClip();
}

void Interpreter::PopGS() {
    if (m_gsStack.empty()) {
        Warn("PopGS at level 0 ignored");
        return;
    }
    m_gs = std::move(m_gsStack.back());
    m_gsStack.pop_back();
    if (Device* d = Dev()) d->PopClip();
}

// ---------------------------------------------------------------------------
// Colour

void Interpreter::SetColorSpace() {
    int cs = SafeInt(Num(aColorSpace, 2));
    if (cs == 7) {
        cs = 1; // a vendor's gray variant
    } else if (cs != 1 && cs != 2 && cs != 6) {
        Unsupported("PCL XL colour space " + std::to_string(cs));
        cs = 2;
    }
    m_gs.colorSpace = cs;
    m_gs.palette.clear();
    if (const Value* pd = Get(aPaletteData)) {
        if (Num(aPaletteDepth, 2) != 2) Warn("IllegalAttributeValue PaletteDepth");
        size_t comps = cs == 1 ? 1 : 3;
        size_t n = std::min<size_t>(pd->count, 256 * comps);
        m_gs.palette.resize(n);
        for (size_t i = 0; i < n; ++i) m_gs.palette[i] = Component(*pd, i);
    }
    // Colours of the old space become black in the new one. A null pen or
    // brush stays null: drivers rely on that and do not send it again.
    // A space that only brings a palette sets up an image or pattern that
    // follows: drivers paint stencil masks that way (a two-entry palette,
    // the mask combined with the brush chosen just before), so the pen and
    // brush stay as they are.
    if (m_gs.palette.empty()) {
        if (!m_gs.brush.IsNull()) m_gs.brush.paint = Paint::SolidColor(kBlack);
        if (!m_gs.pen.IsNull()) m_gs.pen.paint = Paint::SolidColor(kBlack);
    }
}

Color Interpreter::PaletteColor(size_t index) const {
    const std::vector<uint8_t>& p = m_gs.palette;
    if (m_gs.colorSpace == 1) return index < p.size() ? Color::Gray(p[index]) : kBlack;
    if (index * 3 + 2 < p.size()) return {p[index * 3], p[index * 3 + 1], p[index * 3 + 2]};
    return kBlack;
}

bool Interpreter::ColorFromAttrs(Color& out, bool& haveColor) {
    haveColor = false;
    const Value* rgb = Get(aRGBColor);
    const Value* gray = Get(aGrayLevel);
    const Value* prim = Get(aPrimaryArray);
    // A palette only serves indexed images and patterns: pen and brush
    // colours are always given directly.
    if (gray) {
        uint8_t g = Component(*gray, 0);
        out = Color::Gray(g);
        haveColor = true;
        if (m_gs.colorSpace != 1) Warn("ColorSpaceMismatch");
        return true;
    }
    const Value* v = rgb ? rgb : prim;
    if (!v) return true;
    if (v->count >= 3) {
        out = {Component(*v, 0), Component(*v, 1), Component(*v, 2)};
        if (m_gs.colorSpace == 1) Warn("ColorSpaceMismatch");
    } else {
        out = Color::Gray(Component(*v, 0));
    }
    haveColor = true;
    return true;
}

void Interpreter::SetSource(bool brush) {
    PaintSource& src = brush ? m_gs.brush : m_gs.pen;
    if (Get(brush ? aNullBrush : aNullPen)) {
        src.paint = Paint::Null();
        return;
    }
    if (const Value* id = Get(aPatternSelectID)) {
        const Value* origin = Get(aPatternOrigin);
        const Value* nds = Get(aNewDestinationSize);
        auto pat =
            SelectPattern(SafeInt(id->Num(0)), origin ? Point{origin->X(), origin->Y()} : Point{},
                          origin != nullptr, nds ? nds->X() : 0, nds ? nds->Y() : 0);
        if (!pat) {
            Warn("RasterPatternUndefined " + std::to_string(SafeInt(id->Num(0))));
            return;
        }
        src.paint = Paint::Tiled(pat);
        return;
    }
    Color c;
    bool have = false;
    ColorFromAttrs(c, have);
    if (!have) {
        Warn("MissingAttribute (colour)");
        return;
    }
    src.paint = Paint::SolidColor(c);
}

void Interpreter::SetLineDash() {
    if (Get(aSolidLine)) {
        m_gs.stroke.dash.clear();
        m_gs.stroke.dashOffset = 0;
        return;
    }
    const Value* v = Get(aLineDashStyle);
    if (!v) {
        Warn("MissingAttribute LineDashStyle");
        return;
    }
    std::vector<double> dash;
    double total = 0;
    for (uint32_t i = 0; i < v->count && i < 20; ++i) {
        double d = std::max(0.0, v->Num(i));
        dash.push_back(d);
        total += d;
    }
    if (v->count > 20) Warn("IllegalArraySize LineDashStyle");
    // An odd count repeats once more so on and off keep alternating.
    if (dash.size() % 2 == 1) {
        size_t n = dash.size();
        for (size_t i = 0; i < n; ++i) dash.push_back(dash[i]);
    }
    if (!(total > 0)) dash.clear();
    m_gs.stroke.dash = std::move(dash);
    m_gs.stroke.dashOffset = Num(aDashOffset, 0);
}

// ---------------------------------------------------------------------------

size_t Interpret(const uint8_t* data, size_t size, JobContext& job, bool& ok) {
    Interpreter interp(job);
    return interp.Run(data, size, ok);
}

} // namespace tarvik::pclxl
