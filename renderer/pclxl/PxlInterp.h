// The PCL XL interpreter: session, page and graphics state, and the
// operator dispatch. The operators live in PclXl.cpp (token loop, session,
// page, state, colour), PxlPaths.cpp (paths, clipping, painting),
// PxlImages.cpp (images, raster patterns, scan lines), PxlText.cpp (fonts
// and text) and PxlStreams.cpp (user streams).
#pragma once

#include "PxlRaster.h"
#include "PxlTables.h"
#include "PxlTokens.h"
#include "core/Job.h"

#include <array>
#include <bitset>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace tarvik::pclxl {

struct DownloadedFont;

// A raster pattern as downloaded: decoded colours plus its size in user
// units at download time.
struct StoredPattern {
    std::shared_ptr<Pattern> pattern; // pixels; patternToPage set at selection
    double destWidth = 0, destHeight = 0;
    int persistence = 0; // 0 temporary, 1 page, 2 session
    std::shared_ptr<const Pattern> lastSelected;
};

// A pen or brush. Patterns are resolved at selection, so redefining an id
// later does not change a paint already chosen.
struct PaintSource {
    Paint paint = Paint::SolidColor(kBlack);
    bool IsNull() const { return paint.kind == Paint::Kind::None; }
};

struct GraphicsState {
    Matrix ctm;         // user space to page space (points)
    int colorSpace = 2; // 1 gray, 2 RGB, 6 sRGB
    std::vector<uint8_t> palette;
    PaintSource brush, pen;
    StrokeStyle stroke;
    FillRule fillMode = FillRule::NonZero;
    FillRule clipMode = FillRule::NonZero;
    RasterOp rop;
    // Text
    std::string fontName;
    std::shared_ptr<DownloadedFont> font;         // downloaded font, or
    std::shared_ptr<const FontFace> residentFace; // a resident face
    bool residentSymbolic = false;
    bool fontSet = false;
    double charSize = 0;
    int symbolSet = 0;
    double charAngle = 0;
    double charScaleX = 1, charScaleY = 1;
    double charShearX = 0, charShearY = 0;
    double charBold = 0;
    int charSubMode = 0;
    int writingMode = 0;
    // Path and cursor (user space)
    Path path;
    Point cursor;
    bool hasCursor = false;
    // The current clip as a page-space outline, for SetPathToClip.
    Path clipOutline;
    bool clipOutlineValid = false;
};

class Interpreter {
public:
    explicit Interpreter(JobContext& job);
    ~Interpreter();

    // Interprets from a stream header line; returns the bytes consumed.
    size_t Run(const uint8_t* data, size_t size, bool& ok);

    int UnknownOperators() const { return m_unknownOps; }

private:
    enum class Flow { Continue, Stop, Broken };

    // Runs one stream body (after its header) until its end, a UEL, or a
    // fault. depth 0 is the job's own stream.
    Flow Execute(Reader& r, int depth);
    Flow Operator(uint8_t op, Reader& r, int depth);

    // Attribute access for the operator being run.
    const Value* Get(uint8_t id) const { return m_set[id] ? &m_attrs[id] : nullptr; }
    double Num(uint8_t id, double def, size_t i = 0) const {
        const Value* v = Get(id);
        return v ? v->Num(i) : def;
    }
    bool Require(uint8_t id, const Value*& out);
    void ClearAttributes();
    void Warn(const std::string& what);
    void Unsupported(const std::string& what);
    // Reads the embedded data block that follows the current operator.
    bool Embedded(Reader& r, const uint8_t*& data, uint32_t& size);
    Device* Dev();

    // Session and page (PclXl.cpp)
    void BeginSession();
    void EndSession();
    void BeginPage();
    bool EndPage();
    void ResetGraphicsState();
    Matrix DefaultCtm() const;
    void SetCtm(const Matrix& m);
    void PushGS();
    void PopGS();
    void SetColorSpace();
    void SetSource(bool brush);
    bool ColorFromAttrs(Color& out, bool& haveColor);
    Color PaletteColor(size_t index) const;
    void SetLineDash();

    // Paths, clipping, painting (PxlPaths.cpp)
    bool EnsureCursor();
    void AfterPathOp();
    void LinePath(Reader& r, bool relative);
    void BezierPath(Reader& r, bool relative);
    bool ReadPoints(Reader& r, std::vector<Point>& pts);
    bool BoxAttr(Rect& box);
    enum class ArcKind { Arc, Chord, Pie };
    void ArcShape(ArcKind kind);
    void EllipsePath();
    void RectanglePath();
    void RoundRectanglePath();
    void PaintPath();
    void PaintShape(void (Interpreter::*build)(), bool trailingNewPath);
    void ClipWithPath(ClipOp op);
    void ClipRectangle();
    void ClipToPage();
    void PathToClip();
    void EmptyClip();

    // Images, patterns, scan lines (PxlImages.cpp)
    void BeginImage();
    void ReadImage(Reader& r);
    void EndImage();
    void BeginRastPattern();
    void ReadRastPattern(Reader& r);
    void EndRastPattern();
    void ScanLineRel(Reader& r);
    bool ImageFormat(int mapping, int depth, ImageInfo& info);
    std::shared_ptr<const Pattern> SelectPattern(int id, Point origin, bool haveOrigin, double newW,
                                                 double newH);
    void DropPatterns(int persistence);

    // Vendor raster strips carried by VendorUnique (PxlVendorRaster.cpp):
    // decodes one strip payload (header and rows) and draws it.
    void VendorStrip(const uint8_t* data, size_t size);

    // Fonts and text (PxlText.cpp)
    void BeginFontHeader();
    void ReadFontHeader(Reader& r);
    void EndFontHeader();
    void BeginChar();
    void ReadChar(Reader& r);
    void EndChar();
    void RemoveFont();
    void SetFont();
    void Text(bool toPath);
    Matrix GlyphMatrix(Point origin) const;

    // User streams (PclXl.cpp)
    void BeginStream();
    void ReadStream(Reader& r);
    void EndStream();
    Flow ExecStream(int depth);
    void RemoveStream();

    JobContext& m_job;
    const Limits& m_limits;

    // Operator being run, for messages.
    uint8_t m_op = 0;
    uint64_t m_opCount = 0;
    std::array<Value, 256> m_attrs{};
    std::bitset<256> m_set;
    std::vector<uint8_t> m_setList;
    int m_unknownOps = 0;
    bool m_broken = false;  // the stream lost sync (truncated data)
    bool m_stopped = false; // the job level refused more work

    // Session
    bool m_inSession = false;
    bool m_sawSession = false;
    double m_unitsX = 72, m_unitsY = 72; // user units per inch at session start
    bool m_dataOpen = false;
    bool m_dataBigEndian = false;
    int m_protocolClass = 2;

    // Page
    bool m_pageOpen = false;
    int m_orientation = 0;
    PageSetup m_setup;
    // PCL 5 data of consecutive PassThrough operators, run on the page as one
    // block when the next other operator (or the page's end) comes.
    std::vector<uint8_t> m_passThrough;
    void FlushPassThrough();

    GraphicsState m_gs;
    std::vector<GraphicsState> m_gsStack;

    // Image in progress
    struct ImageJob {
        bool open = false;
        bool pattern = false;
        ImageInfo info;
        int components = 1;
        double destW = 0, destH = 0;
        int patternId = 0;
        int persistence = 0;
        RowDecoder decoder;
        std::vector<Color> rgb; // pattern pixels
        int nextLine = 0;
        bool deviceOpen = false;
    } m_image;

    bool m_inScan = false;

    // Downloads
    std::map<std::string, std::shared_ptr<DownloadedFont>> m_fonts;
    std::string m_fontHeaderName;
    std::vector<uint8_t> m_fontHeader;
    bool m_fontHeaderOpen = false;
    std::shared_ptr<DownloadedFont> m_charFont;
    std::map<std::pair<int, int>, StoredPattern> m_patterns; // (persistence, id)
    std::map<std::string, std::shared_ptr<std::vector<uint8_t>>> m_streams;
    std::string m_streamName;
    std::vector<uint8_t> m_streamData;
    bool m_streamOpen = false;
    std::set<std::string> m_running;
    size_t m_downloadBytes = 0;
};

} // namespace tarvik::pclxl
