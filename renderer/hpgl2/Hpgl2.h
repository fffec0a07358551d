// The HP-GL/2 interpreter. It runs inside a host: the PCL 5 interpreter,
// which owns the page, the picture frame, the PCL palette and patterns, and
// hands over the bytes of every HP-GL/2 block (stand-alone plot files run
// through the same host, started in HP-GL/2 mode).
//
// Coordinates: plotter units (1/1016 inch) in the plot's own system after
// RO, x right and y up, origin at the picture frame's lower-left corner
// (turned with RO). User units go through SC onto them. Everything is drawn
// through the frame's matrix to page space, clipped to the frame and to IW.
#pragma once

#include "core/Device.h"
#include "core/Job.h"
#include "fonts/FontSelect.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

namespace tarvik::hpgl2 {

constexpr double kPluPerInch = 1016.0;
constexpr double kPluPerPoint = kPluPerInch / 72.0;

// Where the plot lies on the page.
struct Frame {
    Point anchor;            // page space: the frame's top-left corner
    double widthPt = 0;      // the frame along the page's x and y
    double heightPt = 0;     //
    double plotWidthIn = 0;  // *c#K / *c#L plot size: the plot is scaled
    double plotHeightIn = 0; // into the frame; 0 = not set
    bool operator==(const Frame& o) const {
        return anchor.x == o.anchor.x && anchor.y == o.anchor.y && widthPt == o.widthPt &&
               heightPt == o.heightPt && plotWidthIn == o.plotWidthIn &&
               plotHeightIn == o.plotHeightIn;
    }
};

class Host {
public:
    virtual ~Host() = default;
    // The page to draw on, opened if needed and marked as used; nullptr
    // when nothing may be drawn.
    virtual Device* DrawingPage() = 0;
    // PG: prints the page if anything is on it.
    virtual void AdvancePage() = 0;
    virtual Frame PlotFrame() const = 0;
    // The print model PCL shares with HP-GL/2.
    virtual RasterOp PclRasterOp() const = 0;
    virtual std::vector<Color> PclPalette() const = 0;
    // A PCL pattern in colour c: kind 21 = shading (id = percent) or
    // cross-hatch (id 1-6 as hatch+100), kind 22 = user pattern id. Paint
    // kind None when the host has none.
    virtual Paint PclPattern(int kind, int id, Color c) const = 0;
    // PS in a plot file: the media becomes length x width plotter units
    // (length along x). Returns false inside PCL, where PS does nothing.
    virtual bool SetPlotSize(double lengthPlu, double widthPlu) = 0;
    // A PCL font for labels: by ID (FI/FN) when fontId >= 0 and the job has
    // it, else by characteristics; nullptr when the host has no fonts.
    virtual std::shared_ptr<const fonts::ActiveFont> LabelFont(const fonts::FontRequest& request,
                                                               int fontId) {
        (void)request;
        (void)fontId;
        return nullptr;
    }
    // A symbol set the job defined (PCL *c#R with (f#W) under that number;
    // labels in the stroke fonts print by it too.
    virtual std::shared_ptr<const fonts::DefinedSymbolSet> JobSymbolSet(int set) const {
        (void)set;
        return nullptr;
    }
    // What HP-GL/2 changes in the state it shares with PCL: the palette
    // (NP, PC), the logical operation (MC) and pixel placement (PP).
    virtual void SharePalette(const std::vector<Color>& palette) { (void)palette; }
    virtual void ShareRasterOp(uint8_t rop3) { (void)rop3; }
    virtual void SharePixelPlacement(bool gridCentred) { (void)gridCentred; }
    virtual bool PclGridCentred() const { return false; }
    // PCL units per inch: ESC %2B and %3B draw in PCL dots.
    virtual double PclUnitsPerInch() const { return 300; }
    // A measuring run stops reading at the first PS.
    virtual bool Measuring() const { return false; }
};

class Interpreter {
public:
    Interpreter(JobContext& job, Host& host);
    ~Interpreter();
    Interpreter(const Interpreter&) = delete;
    Interpreter& operator=(const Interpreter&) = delete;

    // ESC %#B. mode 1 and 3 put the pen at the PCL cursor (page space);
    // modes 2 and 3 make the units PCL dots, from the frame's top-left
    // corner with y down, as PCL addresses the page.
    void Enter(int mode, Point cursorOnPage);
    // ESC %#A or a reset: ends a half-read command, draws what is pending.
    void Leave();
    // The bytes of an HP-GL/2 block; may arrive in pieces.
    void Feed(std::span<const uint8_t> data);
    // ESC E: everything back to its defaults (as IN).
    void Reset();
    // The host is about to end the page: draw what is pending.
    void PageEnding();
    // The pen in page space (for ESC %1A).
    Point PenOnPage() const;

private:
    struct State;
    std::unique_ptr<State> m;
};

// Finds how large a plot file is that names no media (PS): feed it the
// HP-GL/2 blocks as the host would; Extent() is the area its ink covers,
// in plotter units from the plot's origin (empty when nothing is drawn).
class PlotMeter {
public:
    explicit PlotMeter(const JobContext& job);
    ~PlotMeter();
    PlotMeter(const PlotMeter&) = delete;
    PlotMeter& operator=(const PlotMeter&) = delete;
    void Enter();
    void Leave();
    void Feed(std::span<const uint8_t> data);
    // True once reading further cannot change the answer.
    bool Done() const;
    bool SawPlotSize() const;
    Rect Extent() const;

private:
    struct Impl;
    std::unique_ptr<Impl> m;
};

// The project's stroke fonts: a glyph for printable ASCII, the accented
// Latin letters and common symbols, as polylines in a 6 x 8 cell (x 0..6,
// y -2..8, baseline 0, cap height 8; accents over capitals up to 11). The
// arc font (arc = true) rounds the curves the stick font draws as corners.
// Returns an empty list for characters it has no glyph for.
std::vector<std::vector<Point>> StrokeGlyph(uint32_t unicode, bool arc = false);

} // namespace tarvik::hpgl2
