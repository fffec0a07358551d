// The PCL 5 interpreter: page control, cursor positioning, raster graphics,
// colour and rectangle fills. Commands dispatch through one table keyed by
// their parameterised character, group and letter, so further command sets
// (fonts, macros, patterns) plug in beside these.
#pragma once

#include "Hpgl2Scan.h"
#include "Pcl5.h"
#include "Pcl5Parser.h"
#include "Pcl5SoftFont.h"
#include "Pcl5Text.h"

#include "core/Device.h"
#include "core/Job.h"
#include "fonts/FontStore.h"
#include "fonts/SoftFont.h"

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

// The active palette and how raster data addresses it.
struct ColorState {
    enum Encoding { IndexedByPlane = 0, IndexedByPixel = 1, DirectByPlane = 2, DirectByPixel = 3 };
    int space = 0; // 0 device RGB, 1 device CMY (others handled as RGB)
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

class Interpreter {
public:
    explicit Interpreter(JobContext& job);
    // Runs to the end or a UEL; returns bytes consumed.
    size_t Run(const uint8_t* data, size_t size, bool& ok);
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
    void FlushUnderline();
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

    JobContext& m_job;
    Parser* m_parser = nullptr;
    bool m_ok = true;
    bool m_stop = false;

    // Page.
    PageSetup m_setup;
    const PageSize* m_size = nullptr;
    int m_orientation = 0;
    double m_topMargin = 3600;  // units from the page top
    double m_textLength = 0;    // units
    double m_leftMargin = 0;    // units from the logical page's left edge
    double m_rightMargin = -1;  // units; < 0 = the logical page's right edge
    double m_hmi = 720;         // units per column
    double m_vmi = 1200;        // units per line
    double m_unit = 300;        // PCL units per inch
    double m_registrationX = 0; // units, along the sheet
    double m_registrationY = 0;
    int m_lineTermination = 0;
    double m_x = 0, m_y = 0; // cursor, units
    std::vector<Point> m_cursorStack;
    bool m_pageMarked = false;
    // Inside another language's page: no page starts, ends or size changes.
    bool m_onHostPage = false;
    HostPage m_host;
    int m_pagesInJob = 0;

    // Text.
    TextState m_text;
    std::unique_ptr<fonts::FontSelector> m_fontSelector;
    struct Underline {
        bool open = false;
        double x0 = 0, x1 = 0, y = 0; // units
    } m_underline;
    // The font that last set the HMI, held so that its address cannot be
    // reused by another font.
    std::shared_ptr<const fonts::ActiveFont> m_hmiFont;
    std::vector<std::string> m_fontNotes; // substitutions already reported

    // Macros are parsed and stored only so far as to keep the stream in step.
    bool m_definingMacro = false;

    // HP-GL/2 blocks are scanned, not drawn: they still mark pages.
    Hpgl2Scan m_hpgl;

    // Colour.
    ColorState m_color;
    std::vector<ColorState> m_paletteStack;
    // Palettes kept by ID, except the active one, which is m_color.
    std::map<int, ColorState> m_paletteStore;
    int m_activePaletteId = 0;
    int m_paletteControlId = 0;
    int m_component[3] = {0, 0, 0};
    Color m_foreground = kBlack;

    // Print model.
    double m_rectWidth = 0, m_rectHeight = 0; // units
    int m_patternId = 0;
    int m_currentPattern = 0; // *v#T: 0 solid, 1 white, 2 shading, 3 cross-hatch, 4 user
    bool m_sourceTransparent = true;
    bool m_patternTransparent = true;
    uint8_t m_rop = 252;
    Point m_patternOrigin{0, 0};

    SoftFontCmdState m_soft;

    // Raster graphics.
    struct Raster {
        bool active = false;
        int resolution = 75;
        int compression = 0;
        int presentation = 3;
        int sourceWidth = 0;                  // 0 = not set
        int sourceHeight = 0;                 // 0 = not set
        double destWidth = 0, destHeight = 0; // decipoints, 0 = not set
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
