// Measuring a plot file that names no media: the interpreter runs once on
// a large blank page that only records where ink would go.
#include "Hpgl2.h"

#include <algorithm>
#include <cmath>

namespace tarvik::hpgl2 {

namespace {

// The measuring page: 200 inches square, the plot's origin at its
// lower-left corner.
constexpr double kSidePt = 72.0 * 200;

class BoundsDevice : public Device {
public:
    double PageWidth() const override { return kSidePt; }
    double PageHeight() const override { return kSidePt; }
    Matrix PageToDevice() const override { return {}; }
    void FillPath(const Path& path, const Matrix& ctm, FillRule, const Paint&,
                  const RasterOp&) override {
        Add(path, ctm, 0);
    }
    void StrokePath(const Path& path, const Matrix& ctm, const StrokeStyle& style, const Paint&,
                    const RasterOp&) override {
        Add(path, ctm, std::max(0.0, style.width) / 2 * ctm.MaxScale());
    }
    void ClipPath(const Path&, const Matrix&, FillRule, ClipOp, ClipRegion) override {}
    void ResetClip() override {}
    void PushClip() override {}
    void PopClip() override {}
    void BeginImage(const ImageInfo&, const Matrix&, const Paint&, const RasterOp&) override {}
    void ImageRows(const uint8_t*, int) override {}
    void EndImage() override {}
    void FillMask(const uint8_t*, int, int, size_t, const Matrix&, const Paint&,
                  const RasterOp&) override {}
    void FillGlyph(const FontFace&, uint32_t, const Matrix& m, const Paint&,
                   const RasterOp&) override {
        Path em;
        em.Rectangle(0, -0.25, 1, 1);
        Add(em, m, 0);
    }

    Rect bounds{1, 1, 0, 0};

private:
    void Add(const Path& path, const Matrix& ctm, double grow) {
        if (path.Empty() || !ctm.IsFinite()) return;
        Rect r = TransformRect(path.Bounds(), ctm);
        if (!std::isfinite(r.x0) || !std::isfinite(r.y0) || !std::isfinite(r.x1) ||
            !std::isfinite(r.y1))
            return;
        r = {r.x0 - grow, r.y0 - grow, r.x1 + grow, r.y1 + grow};
        if (bounds.x1 < bounds.x0) {
            bounds = r;
        } else {
            bounds = {std::min(bounds.x0, r.x0), std::min(bounds.y0, r.y0),
                      std::max(bounds.x1, r.x1), std::max(bounds.y1, r.y1)};
        }
    }
};

JobOptions Quiet(const JobContext& job) {
    JobOptions o;
    o.limits = job.Limit();
    return o;
}

} // namespace

struct PlotMeter::Impl : Host {
    explicit Impl(const JobContext& job) : scratch(Quiet(job)), gl(scratch, *this) {}
    Device* DrawingPage() override { return &device; }
    void AdvancePage() override {}
    Frame PlotFrame() const override {
        Frame f;
        f.widthPt = f.heightPt = kSidePt;
        return f;
    }
    RasterOp PclRasterOp() const override { return {}; }
    std::vector<Color> PclPalette() const override { return {}; }
    Paint PclPattern(int, int, Color c) const override { return Paint::SolidColor(c); }
    bool SetPlotSize(double, double) override {
        sawPlotSize = true;
        return false;
    }
    bool Measuring() const override { return true; }

    // Warnings and budget of the measuring run stay out of the job's.
    JobContext scratch;
    BoundsDevice device;
    Interpreter gl;
    bool sawPlotSize = false;
};

PlotMeter::PlotMeter(const JobContext& job) : m(std::make_unique<Impl>(job)) {}
PlotMeter::~PlotMeter() = default;

void PlotMeter::Enter() {
    m->gl.Enter(0, {});
}

void PlotMeter::Leave() {
    m->gl.Leave();
}

void PlotMeter::Feed(std::span<const uint8_t> data) {
    m->gl.Feed(data);
}

bool PlotMeter::Done() const {
    return m->sawPlotSize || m->scratch.Stopped();
}

bool PlotMeter::SawPlotSize() const {
    return m->sawPlotSize;
}

Rect PlotMeter::Extent() const {
    m->gl.Leave();
    Rect b = m->device.bounds;
    if (b.x1 < b.x0) return {1, 1, 0, 0};
    // Page space (y down from the measuring page's top) to plotter units.
    return {b.x0 * kPluPerPoint, (kSidePt - b.y1) * kPluPerPoint, b.x1 * kPluPerPoint,
            (kSidePt - b.y0) * kPluPerPoint};
}

} // namespace tarvik::hpgl2
