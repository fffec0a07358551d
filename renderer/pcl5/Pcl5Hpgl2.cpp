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
    // The PCL cursor takes the pen's place, seen from the print direction.
    Point at = UnitsToPage().Inverse().Apply(pen);
    SetX(at.x);
    SetY(at.y);
}

hpgl2::Frame Interpreter::PlotFrame() const {
    hpgl2::Frame f;
    if (m_plotFile) {
        // A plot file's frame is its whole page.
        bool landscape = m_orientation & 1;
        f.widthPt = landscape ? m_setup.heightPt : m_setup.widthPt;
        f.heightPt = landscape ? m_setup.widthPt : m_setup.heightPt;
        return f;
    }
    Rect r = FrameOnPage();
    f.anchor = {r.x0, r.y0};
    f.widthPt = r.x1 - r.x0;
    f.heightPt = r.y1 - r.y0;
    f.plotWidthIn = Frame().plotWidthIn;
    f.plotHeightIn = Frame().plotHeightIn;
    return f;
}

void Interpreter::SizePlotFromExtent(const uint8_t* data, size_t size) {
    hpgl2::PlotMeter meter(m_job);
    Parser parser(data, size);
    parser.SetHpgl(true);
    meter.Enter();
    while (!meter.Done()) {
        Token t = parser.Next();
        if (t.kind == TokenKind::End || t.kind == TokenKind::Uel) break;
        if (t.kind == TokenKind::HpglData) {
            meter.Feed(t.data);
        } else if (t.kind == TokenKind::Command && t.x == '%' && t.group == 0) {
            if (t.letter == 'B') meter.Enter();
            if (t.letter == 'A') meter.Leave();
        }
    }
    m_plotMedia = {0, 0};
    Rect r = meter.Extent();
    if (meter.SawPlotSize() || r.Empty() || r.x1 <= 0 || r.y1 <= 0) return;
    // The media reaches from the plot's origin to its farthest ink, with a
    // quarter inch to spare.
    double margin = hpgl2::kPluPerInch / 4;
    m_plotMedia = {r.x1 + margin, r.y1 + margin};
    SetPlotSize(m_plotMedia.x, m_plotMedia.y);
}

std::shared_ptr<const fonts::ActiveFont> Interpreter::LabelFont(const fonts::FontRequest& request,
                                                                int fontId) {
    if (!m_fontSelector) return nullptr;
    if (fontId >= 0)
        if (auto soft = SoftFonts().Shared(fontId))
            if (soft->Traits().scalable || !request.scalableOnly)
                return m_fontSelector->Activate(soft, request, &SoftFonts());
    return m_fontSelector->Select(request, &SoftFonts());
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

void Interpreter::SharePalette(const std::vector<Color>& palette) {
    // A simple-colour palette cannot change; HP-GL/2 then keeps its pens.
    if (m_color.fixed || palette.size() < 2) return;
    m_color.palette = palette;
}

Paint Interpreter::PclPattern(int kind, int id, Color c) const {
    if (kind == 21) {
        // Shading levels 1-100; cross-hatch patterns 1-6 come as 101-106.
        if (id > 100 && id <= 106) return PatternPaint(3, id - 100, c);
        return PatternPaint(2, std::clamp(id, 0, 100), c);
    }
    return PatternPaint(4, id, c);
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
