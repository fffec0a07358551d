// The interpreter's state, shared by its source files: the command reader,
// the configuration and drawing commands, and labels.
#pragma once

#include "Hpgl2.h"

#include <array>
#include <map>
#include <string>

namespace tarvik::hpgl2 {

constexpr uint16_t Code(char a, char b) {
    return uint16_t((uint8_t(a) << 8) | uint8_t(b));
}

// SD/AD: the stick font, Roman-8, fixed 10 cpi, 12 pt; or a PCL font by ID.
struct FontDef {
    fonts::FontRequest request = Stick();
    int fontId = -1; // FI / FN
    static fonts::FontRequest Stick() {
        fonts::FontRequest r;
        r.typeface = 48;
        return r;
    }
};

struct Interpreter::State {
    State(JobContext& j, Host& h) : job(j), host(h) {}

    JobContext& job;
    Host& host;

    // --- Reader -------------------------------------------------------------
    enum class Read { Idle, Second, Params, Quote, Label, Encoded, Symbol, Terminator };
    Read read = Read::Idle;
    char first = 0;
    uint16_t cmd = 0;   // the command being read (0 = none)
    std::string number; // the number being read
    std::vector<double> params;
    bool tooManyParams = false;
    std::string label; // label text read so far
    bool inside = false;
    bool abandoned = false; // a measuring run met PS: nothing more to learn // between ESC %#B and
                            // ESC %#A (or a plot file)
    bool warnedEncoding = false;
    bool warnedPolygon = false;
    bool warnedLabel = false;

    // Polyline encoded (PE) decoding.
    struct Encoded {
        bool sevenBit = false;
        int fractionBits = 0;
        enum class Next { Pair, Pen, Fraction } next = Next::Pair;
        bool penUp = false;
        bool absolute = false;
        bool haveX = false;
        double x = 0;
        uint64_t acc = 0, mult = 1;
        int digits = 0;
        bool overflow = false;
        long points = 0;
    } pe;

    // --- Geometry ------------------------------------------------------------
    Frame frame;
    bool frameKnown = false;
    double frameW = 0, frameH = 0; // the frame in plotter units, unturned
    int rotation = 0;
    double dotsPerInch = 0; // ESC %2B/%3B: units are PCL dots; 0 = plotter units
    Matrix pluToPage;
    Point p1, p2;
    bool p1p2Set = false;
    int scaleType = -1; // -1 off, 0 anisotropic, 1 isotropic, 2 point factor
    double sc[7] = {};
    Matrix userToPlu;
    bool windowSet = false;
    Rect window; // plotter units
    Point pen;   // plotter units
    bool penDown = false;
    bool relative = false;
    Point crPoint; // where a carriage return in a label goes back to

    // --- Lines and fills -------------------------------------------------------
    int penNo = 1;
    std::vector<Color> palette;
    std::vector<Color> pclPaletteSeen; // PCL's palette when the pens last agreed with it
    std::vector<double> penWidths;     // mm, or % of the P1-P2 diagonal under WU1
    bool widthRelative = false;
    double crBlack[3] = {0, 0, 0}, crWhite[3] = {255, 255, 255};
    int lineType = 0; // 0 = solid (no LT type)
    bool lineTypeSolid = true;
    bool lineAdaptive = false;
    double patternLength = 4; // % of the diagonal, or mm
    bool patternAbsolute = false;
    std::array<std::vector<double>, 8> userLines;
    LineCap cap = LineCap::Butt;
    LineJoin join = LineJoin::Miter;
    double miterLimit = 5;
    int fillType = 1;
    double hatchSpacing[2] = {0, 0}; // FT3 / FT4, current units; 0 = default
    double hatchAngle[2] = {0, 0};
    double shading = 100;
    int rasterFillIndex = 1;
    int pclPatternId[2] = {1, 0}; // FT21, FT22
    struct RasterFill {
        int width = 0, height = 0;
        std::vector<int> pens;
    };
    std::array<RasterFill, 8> rasterFills;
    Point anchor;       // AC, plotter units
    int screenType = 0; // SV
    double screenOpt = 0;
    bool transparent = true;
    int symbol = 0; // SM character, 0 = off
    RasterOp op;
    bool gridCentred = false; // PP1: pixels by their centres; PP0 at grid crossings

    // --- Polygons -----------------------------------------------------------------
    bool polygonMode = false;
    Path polygon;       // plotter units
    Path edges;         // what EP draws: the pen-down sides only
    Point polygonStart; // where the open sub-polygon began
    size_t polygonLimit = 500000;
    Path pending; // pen-down lines not yet stroked, plotter units
    bool pendingAny = false;
    // An arc or circle being drawn: adaptive line types fit it as a whole
    // rather than chord by chord.
    bool wholeCurve = false;
    struct WholeCurve {
        State& s;
        explicit WholeCurve(State& st) : s(st) {
            s.Flush();
            s.wholeCurve = true;
        }
        ~WholeCurve() {
            s.Flush();
            s.wholeCurve = false;
        }
    };

    // --- Device -----------------------------------------------------------------------
    bool clipPushed = false;
    double deviceScale = 1; // device pixels per point of the page drawn on
    Device* clipDevice = nullptr;

    // --- Characters ---------------------------------------------------------------
    FontDef fonts[2]; // standard, alternate
    int fontSelected = 0;
    bool sizeSet = false;
    bool sizeRelative = false;
    double sizeW = 0, sizeH = 0; // SI: cm; SR: %
    double slant = 0;
    double dirX = 1, dirY = 0;
    bool dirRelative = false;
    int path = 0;
    bool lineReverse = false;
    double extraSpace = 0, extraLine = 0;
    int labelOrigin = 1;
    uint8_t terminator = 0x03;
    bool terminatorPrinted = false;
    bool transparentData = false;
    int charFill = 0;           // CF: 0 solid, 1 edged, 2 filled with the fill type, 3 both
    bool bitmapFonts = false;   // SB1: bitmap PCL fonts may label too
    bool label16 = false;       // LM1: two bytes a character
    bool labelVertical = false; // LM2/3: the font's vertical forms
    int labelRow = 0;           // LM0 with a row: the high byte of every code
    // DL characters of the stroke fonts, in their 6 x 8 cell.
    std::map<uint32_t, std::vector<std::vector<Point>>> downloaded;
    size_t downloadedPoints = 0;
    int edgePen = -1; // -1: the current pen

    // --- Methods ---------------------------------------------------------------------
    // Reader (Hpgl2Interp.cpp).
    void Byte(uint8_t c);
    void BeginCommand(uint16_t code);
    void EndNumber();
    void EndCommand();
    void Param(double v);
    void EncodedByte(uint8_t c);
    void EncodedValue(int64_t v);

    // Configuration (Hpgl2Interp.cpp).
    void Defaults(bool initialise);
    void UpdateFrame();
    void DefaultP1P2();
    void UpdateScaling();
    // Where the units of IP and unscaled coordinates go: plotter units, or
    // PCL dots after ESC %2B/%3B.
    Matrix NativeToPlu() const;
    void Execute(uint16_t code, const std::vector<double>& p);
    bool Streamed(uint16_t code) const;
    void PointPair(double x, double y);
    Point ToPlu(Point user) const { return userToPlu.Apply(user); }
    Point VecToPlu(Point user) const { return userToPlu.ApplyVector(user); }
    Point UserPen() const { return userToPlu.Inverse().Apply(pen); }
    double Diagonal() const;
    bool Allowed();

    // Drawing (Hpgl2Draw.cpp).
    void MoveTo(Point plu);
    void LineTo(Point plu);
    void CurveTo(Point c1, Point c2, Point end);
    void Flush();
    Device* Page();
    void ApplyClip(Device* dev);
    void DropClip();
    Color PenColor(int pen) const;
    Paint FillPaint() const;
    Paint PenPaint() const;
    Paint RasterPaint(int index) const;
    StrokeStyle Style(const Path& path) const;
    void StrokePlu(const Path& path);
    void FillPlu(const Path& path, FillRule rule);
    void Hatch(Device* dev, const Path& path, FillRule rule, double spacing, double angle);
    // Arcs take user units: under unequal scaling they become elliptical.
    void Arc(Point centre, double sweepDeg, double chordDeg);
    void ArcThree(Point mid, Point end, double chordDeg);
    void Circle(double radius, double chordDeg);
    std::vector<Point> ArcPoints(Point centre, double radius, double startDeg, double sweepDeg,
                                 double chordDeg) const;
    void Rectangle(Point corner, bool fill);
    void Wedge(double radius, double start, double sweep, double chord, bool fill);
    void PolygonPoint(Point plu, bool down);
    // Closes the open sub-polygon; its closing side is edged when the pen
    // is down, as a pen-up closure is a move.
    void ClosePolygon(bool penIsDown);
    void StartPolygon();

    // Characters (Hpgl2Label.cpp).
    // `symbol`: one SM character, centred on its ink at the pen.
    void Label(std::string_view text, bool symbol = false);
    void CharacterPlot(double spaces, double lines);
    struct Cell {
        double advance = 0, capHeight = 0, bodyWidth = 0, lineHeight = 0;
    };
    Cell CurrentCell() const;
    Point Direction() const;
    void Download(const std::vector<double>& p);
    uint32_t StrokeUnicode(int symbolSet, uint32_t code) const;
    // The arc font's advance for a code, in plotter units.
    double ArcAdvance(uint32_t code, int font, const Cell& cell) const;
    void DrawSymbol();
    // toPlu maps the glyph's em space to plotter units.
    void DrawOutlineGlyph(Device& dev, const FontFace& face, uint32_t glyph, const Matrix& toPlu,
                          double em, const Paint& paint, const RasterOp& o);
};

} // namespace tarvik::hpgl2
