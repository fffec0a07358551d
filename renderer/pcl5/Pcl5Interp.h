// The PCL 5 interpreter: page control, cursor positioning, raster graphics,
// colour and rectangle fills. Commands dispatch through one table keyed by
// their parameterised character, group and letter, so further command sets
// (fonts, macros, patterns) plug in beside these.
#pragma once

#include "Pcl5.h"
#include "Pcl5Parser.h"
#include "Pcl5SoftFont.h"
#include "Pcl5Text.h"

#include "core/Device.h"
#include "core/Job.h"
#include "fonts/FontStore.h"
#include "fonts/SoftFont.h"
#include "hpgl2/Hpgl2.h"

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace tarvik::pcl5 {

// 1/7200 inch: every PCL unit of measure and decipoints divide it evenly.
constexpr double kUnitsPerInch = 7200.0;
constexpr double kUnitsPerPoint = kUnitsPerInch / 72.0;

struct PageSize {
    int code;
    double widthPt, heightPt; // portrait form
    bool metric;              // ISO sizes have slightly smaller offsets
};
const PageSize* FindPageSize(int code);

// A colour's gray equivalent, as a monochrome printer prints it.
inline Color GrayOf(Color c) {
    return Color::Gray(uint8_t((c.r * 77 + c.g * 150 + c.b * 29 + 128) >> 8));
}

// The active palette and how raster data addresses it.
struct ColorState {
    enum Encoding { IndexedByPlane = 0, IndexedByPixel = 1, DirectByPlane = 2, DirectByPixel = 3 };
    // 0 device RGB, 1 device CMY, 2 colorimetric RGB (drawn as sRGB),
    // 3 CIE L*a*b*, 4 luminance-chrominance (both turned into sRGB).
    int space = 0;
    // Ranges of the three components of spaces 3 and 4: raster bytes 0..255
    // span them, palette entries are given in them.
    double rangeMin[3] = {0, -128, -128};
    double rangeMax[3] = {100, 127, 127};
    Color ToRgb(double c0, double c1, double c2) const;
    int encoding = IndexedByPlane;
    int bitsPerIndex = 1;
    int bitsPerPrimary[3] = {8, 8, 8};
    // Component value ranges (white and black references).
    int white[3] = {255, 255, 255};
    int black[3] = {0, 0, 0};
    bool fixed = true; // simple colour palettes cannot be changed
    int simplePlanes = 1;
    bool kcmy = false; // the 4-plane simple palette
    std::vector<Color> palette = MonoPalette();

    static std::vector<Color> MonoPalette() {
        std::vector<Color> p(2, kWhite);
        p[1] = kBlack;
        return p;
    }
};

// The HP-GL/2 picture frame (*c#X, *c#Y, *c#T, *c#K, *c#L): where the
// plot goes on the PCL page. Shared with the HP-GL/2 interpreter, which
// takes its default window, P1 and P2 from it.
struct PictureFrame {
    Point anchor{0, 0};      // units from the logical page's left edge and the page top
    double width = 0;        // units; 0 = the logical page width
    double height = 0;       // units; 0 = the logical length less 1 inch
    double plotWidthIn = 0;  // *c#K; 0 = not set (plot size = frame size)
    double plotHeightIn = 0; // *c#L
};

// A downloaded user-defined pattern, as sent (*c#W).
struct UserPattern {
    int width = 0, height = 0;
    // Format 0 and 20: set bits take the foreground colour. Format 1 (colour
    // patterns): every pixel is a palette index.
    bool indexed = false;
    int bitsPerPixel = 1;
    int xdpi = 300, ydpi = 300;
    bool permanent = false;
    std::vector<uint8_t> pixels; // one byte per pixel, rows top to bottom
    std::vector<Color> colors;   // indexed: the palette it came with
};

// A stored macro: its bytes are shared so that a macro may delete or
// redefine itself while it runs.
struct Macro {
    std::shared_ptr<const std::vector<uint8_t>> data;
    bool permanent = false;
};

// What a macro call or an overlay gives back when it ends: the modified
// print environment, less the downloaded things (fonts, macros, patterns,
// palettes kept by ID), which are global. The interpreter holds it as its
// own state, so saving and restoring it is one copy.
struct PrintEnvironment {
    double m_topMargin = 3600; // units from the page top
    double m_textLength = 0;   // units
    double m_leftMargin = 0;   // units from the logical page's left edge
    double m_rightMargin = -1; // units; < 0 = the logical page's right edge
    double m_hmi = 720;        // units per column
    double m_vmi = 1200;       // units per line
    double m_unit = 300;       // PCL units per inch
    int m_lineTermination = 0;
    double m_x = 0, m_y = 0; // cursor, units
    std::vector<Point> m_cursorStack;

    TextState m_text;
    // The start of a character a text run ended inside (a two-byte lead
    // byte, part of a UTF-8 sequence); the next text finishes it.
    uint8_t m_pending[3] = {};
    size_t m_pendingCount = 0;
    // The font that last set the HMI, held so that its address cannot be
    // reused by another font.
    std::shared_ptr<const fonts::ActiveFont> m_hmiFont;

    ColorState m_color;
    Color m_foreground = kBlack;

    // Print model.
    double m_rectWidth = 0, m_rectHeight = 0; // units
    int m_patternId = 0;
    int m_currentPattern = 0; // *v#T: 0 solid, 1 white, 2 shading, 3 cross-hatch, 4 user
    bool m_sourceTransparent = true;
    bool m_patternTransparent = true;
    bool m_patternFixed = false; // *p1R: the print direction does not turn patterns
    bool m_gridCentered = false; // *l1R
    uint8_t m_rop = 252;
    Point m_patternOrigin{0, 0};

    PictureFrame m_frame;
};

// Raster settings that belong to the print environment.
struct RasterSettings {
    int resolution = 75;
    int compression = 0;
    int presentation = 3;
    int sourceWidth = 0;                  // 0 = not set
    int sourceHeight = 0;                 // 0 = not set
    double destWidth = 0, destHeight = 0; // decipoints, 0 = not set
};

class Interpreter : private hpgl2::Host, private PrintEnvironment {
public:
    explicit Interpreter(JobContext& job);
    ~Interpreter() override;
    // Runs to the end or a UEL; returns bytes consumed.
    size_t Run(const uint8_t* data, size_t size, bool& ok);
    // Permanent macros and patterns outlive a UEL, as they outlive a reset:
    // a part of the job takes those the parts before it kept and, when it
    // ends, keeps its own permanent ones for the parts after it.
    void TakeKeptDownloads();
    void KeepPermanentDownloads();
    // Draws on the host's open page from now on (see InterpretOnPage).
    void AttachToHostPage(const HostPage& host);
    // Downloaded fonts by ID as selection sees them; the font-management
    // commands fill them and the job keeps them across its PCL 5 parts.
    const fonts::FontStore& SoftFonts() const { return m_job.SoftFonts().Selectable(); }

    using Handler = void (Interpreter::*)(const Token&);

private:
    friend struct CommandTable;

    // Page cycle.
    void ResetEnvironment();
    void ResetPageState();
    void ApplyHostPage();
    Device* EnsurePage();
    bool EjectPage(bool evenIfBlank);
    void MarkPage();

    // Coordinates: PCL position (units, from the logical page's left edge and
    // the top margin) to page space (points).
    Point ToPage(double xu, double yu) const;
    // The same from the orientation's logical page (units from its left edge
    // and the page top), whatever the print direction.
    Point LogicalToPage(double xu, double yu) const;
    // Page-space direction of the physical sheet's +x / +y (for rasters that
    // follow the physical page).
    Point SheetDirection(bool vertical) const;
    double LogicalWidth() const;  // units
    double LogicalLength() const; // units, from the page top
    double TopMarginUnits() const { return m_topMargin; }
    void SetX(double xu);
    void SetY(double yu);

    // Dispatch.
    void Command(const Token& t);
    void Escape(uint8_t c);
    void Control(uint8_t c);
    void Text(const uint8_t* bytes, size_t count);

    // Text and fonts (Pcl5Text.cpp, Pcl5FontSelect.cpp).
    enum class PrintMode { Text, Transparent, Display };
    void PrintCode(uint32_t code, PrintMode mode, bool unicode, const Matrix& unitsToPage,
                   const Paint& paint);
    void PrintRun(const uint8_t* bytes, size_t count, PrintMode mode);
    // What decides how the next text byte prints; a change drops an
    // unfinished character.
    struct TextKey {
        int parsing, active, fontId;
        fonts::FontRequest request;
        const void* font;
    };
    TextKey CurrentTextKey() const;
    void DropPending(const char* why);
    void FlushUnderline();
    // A horizontal cursor move (text, spaces, tabs, positioning): to the
    // right it carries an enabled underline along.
    void MoveX(double xu);
    void ExtendUnderline(double from, double to);
    const fonts::ActiveFont* CurrentFont();
    void SyncFont() { CurrentFont(); }
    void LineFeed();
    void CarriageReturn();
    double RightMarginUnits() const;
    Matrix UnitsToPage() const;
    fonts::FontRequest DefaultFontRequest();
    void ResetText();
    void FontCharacteristicCmd(const Token& t);
    void SymbolSetCmd(const Token& t);
    void FontIdCmd(const Token& t);
    void DefaultFontCmd(const Token& t);
    void UnderlineCmd(const Token& t);
    void UnderlineOffCmd(const Token& t);
    void WrapCmd(const Token& t);
    void PerforationSkipCmd(const Token& t);
    void PrintDirectionCmd(const Token& t);
    void ParsingMethodCmd(const Token& t);
    // Print direction: the cursor lives in the frame of the current
    // direction; these turn absolute positions (from the frame's top-left
    // corner) between it and the orientation's logical page.
    Point FrameToLogical(double x, double y, int direction) const;
    Point LogicalToFrame(double x, double y, int direction) const;
    double FrameWidth() const;
    double FrameLength() const;

    // Page control.
    void PageSizeCmd(const Token& t);
    void OrientationCmd(const Token& t);
    void PaperSourceCmd(const Token& t);
    void TopMarginCmd(const Token& t);
    void TextLengthCmd(const Token& t);
    void LeftMarginCmd(const Token& t);
    void RightMarginCmd(const Token& t);
    void HmiCmd(const Token& t);
    void VmiCmd(const Token& t);
    void LinesPerInchCmd(const Token& t);
    void UnitOfMeasureCmd(const Token& t);
    void LeftRegistrationCmd(const Token& t);
    void TopRegistrationCmd(const Token& t);
    void DuplexSideCmd(const Token& t);
    void LineTerminationCmd(const Token& t);
    void PushPopCursorCmd(const Token& t);
    void TransparentPrintCmd(const Token& t);
    void DisplayFunctions();
    void MacroControlCmd(const Token& t);
    void Ignore(const Token&) {}

    // Cursor.
    void ColumnCmd(const Token& t);
    void RowCmd(const Token& t);
    void HorizontalDecipointsCmd(const Token& t);
    void VerticalDecipointsCmd(const Token& t);
    void HorizontalUnitsCmd(const Token& t);
    void VerticalUnitsCmd(const Token& t);

    // Raster graphics (Pcl5Raster.cpp).
    void RasterResolutionCmd(const Token& t);
    void RasterStartCmd(const Token& t);
    void RasterEndCmd(const Token& t);
    void RasterCompressionCmd(const Token& t);
    void RasterPlaneCmd(const Token& t);
    void RasterRowCmd(const Token& t);
    void RasterYOffsetCmd(const Token& t);
    void RasterWidthCmd(const Token& t);
    void RasterHeightCmd(const Token& t);
    void RasterPresentationCmd(const Token& t);
    void RasterDestWidthCmd(const Token& t);
    void RasterDestHeightCmd(const Token& t);
    void StartRaster(int mode);
    void EndRaster();
    void TransferPlane(const Token& t, bool lastPlane);
    bool EmitRow();
    void CloseImage();
    bool OpenImage();
    int RasterPlanes() const;
    size_t PlaneBytes() const;

    // Colour (Pcl5Color.cpp).
    void SimpleColorCmd(const Token& t);
    void ConfigureImageDataCmd(const Token& t);
    void ComponentCmd(const Token& t);
    void AssignIndexCmd(const Token& t);
    void ForegroundCmd(const Token& t);
    void PushPopPaletteCmd(const Token& t);
    void SelectPaletteCmd(const Token& t);
    void PaletteControlIdCmd(const Token& t);
    void PaletteControlCmd(const Token& t);
    void RenderAlgorithmCmd(const Token&) {}
    void MonochromeModeCmd(const Token& t);
    void ColorDataCmd(const Token& t);
    void SetSimpleColor(int mode);
    void SetDefaultPalette();
    Color PaletteColor(int index) const;

    // Print model and rectangles (Pcl5Fill.cpp).
    void RectWidthUnitsCmd(const Token& t);
    void RectHeightUnitsCmd(const Token& t);
    void RectWidthDecipointsCmd(const Token& t);
    void RectHeightDecipointsCmd(const Token& t);
    void FillRectCmd(const Token& t);
    void PatternIdCmd(const Token& t);
    void SelectPatternCmd(const Token& t);
    void SourceTransparencyCmd(const Token& t);
    void PatternTransparencyCmd(const Token& t);
    void LogicalOperationCmd(const Token& t);
    void PatternReferenceCmd(const Token& t);
    Paint FillPaint(int type, int id) const;
    RasterOp CurrentOp() const;

    // Downloaded fonts and symbol sets (Pcl5SoftFontCmds.cpp).
    void DownloadFontIdCmd(const Token& t);
    void CharCodeCmd(const Token& t);
    void FontControlCmd(const Token& t);
    void FontHeaderCmd(const Token& t);
    void CharDataCmd(const Token& t);
    void SymbolSetIdCmd(const Token& t);
    void DefineSymbolSetCmd(const Token& t);
    void SymbolSetControlCmd(const Token& t);
    void AlphanumericIdCmd(const Token& t);
    void ResetSoftFonts();
    void SelectFontById(int id, bool secondary);
    void CopyCurrentFont(int toId);
    // The vertical-rotated text path (Pcl5TextPath.cpp).
    void TextPathCmd(const Token& t);
    bool TurnForPath(const fonts::ActiveFont& font, uint32_t code, const fonts::Glyph*& glyph,
                     fonts::Glyph& vertical, double& advance, Matrix& turn) const;
    // Page features: macros, user patterns, the picture frame and the rest
    // of page control (Pcl5Macro.cpp, Pcl5Pattern.cpp, Pcl5PageControl.cpp).
public:
    // The paint of the current pattern (*v#T with *c#G), as text, rasters
    // and HP-GL/2 fills draw with it.
    Paint CurrentPaint() const;
    // A PCL pattern in colour ink: type 2 shading (id = percent), 3
    // cross-hatch (id 1-6), 4 user pattern id (whose set bits take ink);
    // kind None when there is none. HP-GL/2 fills with these, upright:
    // the print direction does not turn its drawings.
    Paint PatternPaint(int type, int id, Color ink, bool upright = false) const;
    RasterOp PrintModelOp() const { return CurrentOp(); }
    const std::vector<Color>& Palette() const { return m_color.palette; }
    const PictureFrame& Frame() const { return m_frame; }
    // The frame on the page: its corners in page space (points).
    Rect FrameOnPage() const;
    // Alphanumeric macro IDs (&n#W operations 4, 5 and 21).
    void MacroAlphanumericId(int operation, const std::string& name);

private:
    enum class LoopEnd { End, Uel, Stop };
    LoopEnd Interpret(Parser& parser);
    void RecordMacroToken(const Token& t);
    void MacroIdCmd(const Token& t);
    bool RunMacro(const std::string& key, int mode);
    void RunOverlay();
    std::string MacroKey() const;
    void DeleteMacros(bool temporaryOnly);
    std::map<std::string, Macro>::iterator DropMacro(std::map<std::string, Macro>::iterator it);
    struct Environment;
    void SaveEnvironment(Environment& env) const;
    void RestoreEnvironment(const Environment& env);
    void DefaultPrintModel();

    void UserPatternCmd(const Token& t);
    void PatternControlCmd(const Token& t);
    Paint UserPaint(int id, Color ink, bool upright) const;
    Matrix PatternToPage(double xdpi, double ydpi, bool upright) const;
    void DeletePatterns(bool temporaryOnly);
    int PrinterDpi() const; // PJL's RESOLUTION (75 dpi or finer), else 300

    void FrameWidthCmd(const Token& t);
    void FrameHeightCmd(const Token& t);
    void FrameAnchorCmd(const Token& t);
    void PlotWidthCmd(const Token& t);
    void PlotHeightCmd(const Token& t);
    void CopiesCmd(const Token& t);
    void PixelPlacementCmd(const Token& t);
    void DefaultFrame();
    bool CustomPaper(double& widthPt, double& heightPt) const;

    JobContext& m_job;
    Parser* m_parser = nullptr;
    bool m_ok = true;
    bool m_stop = false;

    // Page.
    PageSetup m_setup;
    const PageSize* m_size = nullptr;
    int m_orientation = 0;
    double m_registrationX = 0; // units, along the sheet
    double m_registrationY = 0;
    bool m_pageMarked = false;
    // Inside another language's page: no page starts, ends or size changes.
    bool m_onHostPage = false;
    HostPage m_host;
    int m_pagesInJob = 0;

    // Text.
    std::unique_ptr<fonts::FontSelector> m_fontSelector;
    // The underline being drawn: it runs from where it started across every
    // rightward move on the line and is drawn once the line is left.
    struct Underline {
        bool open = false;
        double x0 = 0, x1 = 0, y = 0; // units
        double below = 0, thick = 0;  // units; floating: the deepest font's
        Paint paint;
    } m_underline;
    std::vector<std::string> m_fontNotes; // substitutions already reported

    // Macros.
    bool m_definingMacro = false;
    struct MacroDefinition {
        Parser* parser = nullptr; // the stream the definition started in
        const uint8_t* data = nullptr;
        size_t start = 0;
        std::string key;
    } m_macroDef;
    const uint8_t* m_parserData = nullptr; // the bytes m_parser reads
    std::map<std::string, Macro> m_macros;
    size_t m_macroBytes = 0;
    int m_macroId = 0;
    std::string m_macroName;  // an alphanumeric ID in force instead of m_macroId
    std::string m_overlayKey; // empty = no overlay
    int m_macroDepth = 0;
    bool m_inOverlay = false;

    // User patterns, by ID.
    std::map<int, UserPattern> m_userPatterns;
    size_t m_patternBytes = 0;
    bool m_monochrome = false; // &b1M: colours print as their gray

    // HP-GL/2 (Pcl5Hpgl2.cpp): entering and leaving it, and the host side
    // of its interpreter.
    void EnterHpgl2(int mode);
    void LeaveHpgl2(int mode);
    Device* DrawingPage() override;
    void AdvancePage() override;
    hpgl2::Frame PlotFrame() const override;
    RasterOp PclRasterOp() const override { return CurrentOp(); }
    std::vector<Color> PclPalette() const override;
    Paint PclPattern(int kind, int id, Color c) const override;
    bool SetPlotSize(double lengthPlu, double widthPlu) override;
    void SharePalette(const std::vector<Color>& palette) override;
    void ShareRasterOp(uint8_t rop3) override { m_rop = rop3; }
    void SharePixelPlacement(bool gridCentred) override { m_gridCentered = gridCentred; }
    bool PclGridCentred() const override { return m_gridCentered; }
    double PclUnitsPerInch() const override { return m_unit; }
    std::shared_ptr<const fonts::DefinedSymbolSet> JobSymbolSet(int set) const override {
        return SoftFonts().DefinedSet(set);
    }
    std::shared_ptr<const fonts::ActiveFont> LabelFont(const fonts::FontRequest& request,
                                                       int fontId) override;
    std::unique_ptr<hpgl2::Interpreter> m_gl;
    bool m_plotFile = false; // a stand-alone plot: the frame is the page
    // A plot without PS: its media from the extent of its ink (plotter units).
    void SizePlotFromExtent(const uint8_t* data, size_t size);
    Point m_plotMedia{0, 0};

    // Colour.
    std::vector<ColorState> m_paletteStack;
    // Palettes kept by ID, except the active one, which is m_color.
    std::map<int, ColorState> m_paletteStore;
    int m_activePaletteId = 0;
    int m_paletteControlId = 0;
    int m_component[3] = {0, 0, 0};

    SoftFontCmdState m_soft;

    // Raster graphics.
    struct Raster : RasterSettings {
        bool active = false;
        bool scaled = false;
        double left = 0;               // units, the raster's left edge
        double top = 0;                // units, where the current image starts
        double pixelW = 0, pixelH = 0; // one source pixel in units
        int width = 0;                 // pixels per row
        int rowsDone = 0;              // rows since the raster start
        double nextY = 0;              // units: where the open image's next row goes
        int rowsInImage = 0;           // rows sent to the open image
        int imageHeight = 0;
        bool imageOpen = false;
        int plane = 0;
        // Method 3 rows that turned out to be PackBits (decided once per
        // raster from its first row): -1 undecided, 0 delta rows, 1 PackBits.
        int deltaIsPackBits = -1;
        ColorState color;
        std::vector<std::vector<uint8_t>> seeds;
        std::vector<uint8_t> row; // composed row for the device
        ImageInfo info;
    } m_raster;
};

} // namespace tarvik::pcl5
