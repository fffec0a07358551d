// The rest of page control: the HP-GL/2 picture frame, copies, pixel
// placement, monochrome printing and the colour settings that are accepted
// without changing what is drawn.
#include "Pcl5Interp.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace tarvik::pcl5 {

bool Interpreter::CustomPaper(double& widthPt, double& heightPt) const {
    // PJL's PAPERWIDTH and PAPERLENGTH, in decipoints, else a paper PJL named.
    const PjlSettings& pjl = m_job.Pjl();
    auto number = [&](const char* name) {
        auto it = pjl.variables.find(name);
        if (it == pjl.variables.end()) return 0.0;
        char* end = nullptr;
        double v = std::strtod(it->second.c_str(), &end);
        return std::isfinite(v) ? v / 10 : 0.0;
    };
    double w = number("PAPERWIDTH"), h = number("PAPERLENGTH");
    // From a business card to a 1.5 m banner.
    if (w >= 72 && h >= 72 && w <= 4320 && h <= 4320) {
        widthPt = w;
        heightPt = h;
        return true;
    }
    if (pjl.paperWidthPt > 0 && pjl.paperHeightPt > 0) {
        widthPt = pjl.paperWidthPt;
        heightPt = pjl.paperHeightPt;
        return true;
    }
    return false;
}

void Interpreter::DefaultFrame() {
    // The logical page's width, and its length less half an inch at the top
    // and at the bottom, anchored half an inch below the page top.
    m_frame = PictureFrame{};
    m_frame.anchor = {0, kUnitsPerInch / 2};
}

Rect Interpreter::FrameOnPage() const {
    double w = m_frame.width > 0 ? m_frame.width : LogicalWidth();
    double h = m_frame.height > 0 ? m_frame.height : std::max(0.0, LogicalLength() - kUnitsPerInch);
    // HP-GL/2 does not turn with the print direction: the anchor is kept on
    // the logical page, from its top.
    Point a = LogicalToPage(m_frame.anchor.x, m_frame.anchor.y);
    Point b = LogicalToPage(m_frame.anchor.x + w, m_frame.anchor.y + h);
    return {a.x, a.y, b.x, b.y};
}

void Interpreter::FrameWidthCmd(const Token& t) {
    if (t.value.number < 0) return;
    // A new frame size resets the plot size to it.
    m_frame.width = std::min(t.value.number, 1e6) * 10;
    m_frame.plotWidthIn = m_frame.plotHeightIn = 0;
}

void Interpreter::FrameHeightCmd(const Token& t) {
    if (t.value.number < 0) return;
    m_frame.height = std::min(t.value.number, 1e6) * 10;
    m_frame.plotWidthIn = m_frame.plotHeightIn = 0;
}

void Interpreter::FrameAnchorCmd(const Token& t) {
    if (t.value.number != 0) return;
    m_frame.anchor = FrameToLogical(m_x, m_y + m_topMargin, m_text.direction);
}

void Interpreter::PlotWidthCmd(const Token& t) {
    if (t.value.number >= 0) m_frame.plotWidthIn = std::min(t.value.number, 1e4);
}

void Interpreter::PlotHeightCmd(const Token& t) {
    if (t.value.number >= 0) m_frame.plotHeightIn = std::min(t.value.number, 1e4);
}

void Interpreter::CopiesCmd(const Token& t) {
    if (t.value.number > 1) m_job.Unsupported("PCL 5 copies (every page is rendered once)");
}

void Interpreter::PixelPlacementCmd(const Token& t) {
    if (t.value.number == 0 || t.value.number == 1) m_gridCentered = t.value.Int() == 1;
}

void Interpreter::MonochromeModeCmd(const Token& t) {
    if (t.value.number == 0 || t.value.number == 1) m_monochrome = t.value.Int() == 1;
}

void Interpreter::ColorDataCmd(const Token&) {
    // Gamma, viewing illuminant, lookup tables, dither matrices and driver
    // configuration tune a printer's colour; pages are drawn in sRGB as the
    // palette gives it.
}

} // namespace tarvik::pcl5
