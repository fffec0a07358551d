// HP-GL/2 inside PCL: entering and leaving it, the picture frame it draws
// in, and what PCL lends it (page, palette, patterns, logical operation).
#include "Pcl5Interp.h"

#include <algorithm>
#include <cmath>

namespace tarvik::pcl5 {

void Interpreter::EnterHpgl2(int mode) {
    if (m_raster.active) EndRaster();
    m_gl->Enter(mode, ToPage(m_x, m_y));
}

void Interpreter::LeaveHpgl2(int mode) {
    Point pen = m_gl->PenOnPage();
    m_gl->Leave();
    if (mode != 1 || !std::isfinite(pen.x) || !std::isfinite(pen.y)) return;
    // The PCL cursor takes the pen's place.
    Point origin = ToPage(0, 0);
    SetX((pen.x - origin.x) * kUnitsPerPoint);
    SetY((pen.y - origin.y) * kUnitsPerPoint);
}

void Interpreter::ResetFrame() {
    m_frameW = m_frameH = 0;
    m_frameAnchored = false;
    m_plotW = m_plotH = 0;
    if (m_gl) m_gl->FrameChanged();
}

void Interpreter::FrameWidthCmd(const Token& t) {
    if (t.value.number < 0 || !std::isfinite(t.value.number)) return;
    m_frameW = std::min(t.value.number, 72.0 * 200 * 10);
    m_plotW = 0; // a new frame takes the plot size back to the frame's
    m_gl->FrameChanged();
}

void Interpreter::FrameHeightCmd(const Token& t) {
    if (t.value.number < 0 || !std::isfinite(t.value.number)) return;
    m_frameH = std::min(t.value.number, 72.0 * 200 * 10);
    m_plotH = 0;
    m_gl->FrameChanged();
}

void Interpreter::FrameAnchorCmd(const Token& t) {
    if (t.value.Int() != 0) return;
    m_frameAnchor = ToPage(m_x, m_y);
    m_frameAnchored = true;
    m_gl->FrameChanged();
}

void Interpreter::PlotWidthCmd(const Token& t) {
    if (t.value.number < 0 || !std::isfinite(t.value.number)) return;
    m_plotW = std::min(t.value.number, 1000.0);
    m_gl->FrameChanged();
}

void Interpreter::PlotHeightCmd(const Token& t) {
    if (t.value.number < 0 || !std::isfinite(t.value.number)) return;
    m_plotH = std::min(t.value.number, 1000.0);
    m_gl->FrameChanged();
}

hpgl2::Frame Interpreter::PictureFrame() const {
    hpgl2::Frame f;
    bool landscape = m_orientation & 1;
    double pageW = landscape ? m_setup.heightPt : m_setup.widthPt;
    double pageH = landscape ? m_setup.widthPt : m_setup.heightPt;
    if (m_plotFile) {
        // A plot file's frame is its whole page.
        f.widthPt = pageW;
        f.heightPt = pageH;
        return f;
    }
    // The default frame: the logical page, half an inch off at the top and
    // at the bottom.
    Point left = ToPage(0, -m_topMargin);
    f.anchor = m_frameAnchored ? m_frameAnchor : Point{left.x, left.y + 36};
    f.widthPt = m_frameW > 0 ? m_frameW / 10 : LogicalWidth() / kUnitsPerPoint;
    f.heightPt = m_frameH > 0 ? m_frameH / 10 : std::max(1.0, pageH - 72);
    f.plotWidthIn = m_plotW;
    f.plotHeightIn = m_plotH;
    return f;
}

Device* Interpreter::DrawingPage() {
    return EnsurePage();
}

void Interpreter::AdvancePage() {
    EjectPage(false);
}

std::vector<Color> Interpreter::PclPalette() const {
    // A plot file starts with the plotter's own pens, not the PCL page's
    // black and white.
    if (m_plotFile && m_color.fixed) return {};
    return m_color.palette;
}

Paint Interpreter::PclPattern(int kind, int id, Color c) const {
    if (kind == 21) {
        // Shading levels 1-100; cross-hatch patterns 1-6 come as 101-106.
        if (id > 100 && id <= 106) return FillPaint(3, id - 100, c);
        return FillPaint(2, std::clamp(id, 0, 100), c);
    }
    return FillPaint(4, id, c);
}

bool Interpreter::SetPlotSize(double lengthPlu, double widthPlu) {
    if (!m_plotFile || m_onHostPage) return false;
    // Pages as large as the device accepts; the sheet shows what fits.
    double maxPt = 72.0 * 200;
    double len = std::clamp(lengthPlu / hpgl2::kPluPerPoint, 72.0, maxPt);
    double wid = std::clamp(widthPlu / hpgl2::kPluPerPoint, 72.0, maxPt);
    EjectPage(false);
    // The plot's x axis runs along its length; a long plot is a landscape
    // page turned so that the plot's left edge is at the sheet's top.
    m_setup.widthPt = std::min(len, wid);
    m_setup.heightPt = std::max(len, wid);
    m_orientation = len > wid ? 3 : 0;
    m_size = nullptr;
    ResetPageState();
    return true;
}

} // namespace tarvik::pcl5
