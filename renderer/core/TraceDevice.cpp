#include "core/TraceDevice.h"

#include <cmath>
#include <cstdio>
#include <string>

namespace tarvik {

namespace {

std::string Num(double v) {
    if (!std::isfinite(v)) return "nan";
    double r = std::round(v * 100) / 100;
    if (r == 0) r = 0; // no "-0"
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.2f", r);
    std::string s = buf;
    while (!s.empty() && s.back() == '0') s.pop_back();
    if (!s.empty() && s.back() == '.') s.pop_back();
    return s;
}

std::string PaintText(const Paint& p) {
    switch (p.kind) {
    case Paint::Kind::None:
        return "none";
    case Paint::Kind::Solid:
        return "solid(" + std::to_string(p.color.r) + "," + std::to_string(p.color.g) + "," +
               std::to_string(p.color.b) + ")";
    case Paint::Kind::Pattern:
        if (!p.pattern) return "pattern(?)";
        return "pattern(" + std::to_string(p.pattern->width) + "x" +
               std::to_string(p.pattern->height) + ")";
    }
    return "?";
}

std::string OpText(const RasterOp& op) {
    std::string s = "rop=" + std::to_string(op.rop3);
    if (op.sourceTransparent) s += " st";
    if (op.patternTransparent) s += " pt";
    return s;
}

std::string MatrixText(const Matrix& m) {
    return "[" + Num(m.a) + " " + Num(m.b) + " " + Num(m.c) + " " + Num(m.d) + " " + Num(m.e) +
           " " + Num(m.f) + "]";
}

std::string PathText(const Path& path, const Matrix& m) {
    std::string s;
    const auto& pts = path.Points();
    size_t pi = 0;
    auto pt = [&](const Point& p) {
        Point q = m.Apply(p);
        return " " + Num(q.x) + " " + Num(q.y);
    };
    for (Path::Verb v : path.Verbs()) {
        switch (v) {
        case Path::Verb::Move:
            s += " M" + pt(pts[pi++]);
            break;
        case Path::Verb::Line:
            s += " L" + pt(pts[pi++]);
            break;
        case Path::Verb::Cubic:
            s += " C" + pt(pts[pi]) + pt(pts[pi + 1]) + pt(pts[pi + 2]);
            pi += 3;
            break;
        case Path::Verb::Close:
            s += " Z";
            break;
        }
    }
    return s;
}

const char* RuleText(FillRule r) {
    return r == FillRule::NonZero ? "nonzero" : "evenodd";
}

const char* CapText(LineCap c) {
    switch (c) {
    case LineCap::Butt:
        return "butt";
    case LineCap::Round:
        return "round";
    case LineCap::Square:
        return "square";
    case LineCap::Triangle:
        return "triangle";
    }
    return "?";
}

const char* JoinText(LineJoin j) {
    switch (j) {
    case LineJoin::Miter:
        return "miter";
    case LineJoin::Round:
        return "round";
    case LineJoin::Bevel:
        return "bevel";
    case LineJoin::None:
        return "none";
    }
    return "?";
}

} // namespace

void TraceDevice::FillPath(const Path& path, const Matrix& ctm, FillRule rule, const Paint& paint,
                           const RasterOp& op) {
    m_out << "FillPath " << RuleText(rule) << " " << PaintText(paint) << " " << OpText(op)
          << PathText(path, ctm) << "\n";
}

void TraceDevice::StrokePath(const Path& path, const Matrix& ctm, const StrokeStyle& s,
                             const Paint& paint, const RasterOp& op) {
    m_out << "StrokePath w=" << Num(s.width) << " cap=" << CapText(s.cap)
          << " join=" << JoinText(s.join);
    if (s.join == LineJoin::Miter) m_out << " miter=" << Num(s.miterLimit);
    if (!s.dash.empty()) {
        m_out << " dash=";
        for (size_t i = 0; i < s.dash.size(); ++i) m_out << (i ? "," : "") << Num(s.dash[i]);
        m_out << "@" << Num(s.dashOffset);
    }
    m_out << " " << MatrixText(ctm) << " " << PaintText(paint) << " " << OpText(op)
          << PathText(path, Matrix{}) << "\n";
}

void TraceDevice::ClipPath(const Path& path, const Matrix& ctm, FillRule rule, ClipOp op,
                           ClipRegion region) {
    m_out << "ClipPath " << RuleText(rule) << " "
          << (op == ClipOp::Intersect ? "intersect" : "replace") << " "
          << (region == ClipRegion::Interior ? "interior" : "exterior") << PathText(path, ctm)
          << "\n";
}

void TraceDevice::ResetClip() {
    m_out << "ResetClip\n";
}
void TraceDevice::PushClip() {
    m_out << "PushClip\n";
}
void TraceDevice::PopClip() {
    m_out << "PopClip\n";
}

void TraceDevice::BeginImage(const ImageInfo& info, const Matrix& imageToPage, const Paint& paint,
                             const RasterOp& op) {
    if (m_imageOpen) EndImage();
    const char* fmt = info.format == ImageInfo::Format::Gray  ? "gray"
                      : info.format == ImageInfo::Format::Rgb ? "rgb"
                                                              : "indexed";
    m_out << "BeginImage " << fmt << info.bitsPerComponent << " " << info.width << "x"
          << info.height;
    if (info.format == ImageInfo::Format::Indexed) m_out << " palette=" << info.palette.size();
    m_out << " " << MatrixText(imageToPage) << " " << PaintText(paint) << " " << OpText(op) << "\n";
    m_imageOpen = true;
    m_imageRows = 0;
    m_imageHeight = info.height;
}

void TraceDevice::ImageRows(const uint8_t*, int rows) {
    if (!m_imageOpen || rows <= 0) return;
    m_out << "ImageRows " << rows << "\n";
    m_imageRows += rows;
}

void TraceDevice::EndImage() {
    if (!m_imageOpen) return;
    m_out << "EndImage rows=" << std::min(m_imageRows, m_imageHeight) << "\n";
    m_imageOpen = false;
}

void TraceDevice::FillMask(const uint8_t*, int width, int height, size_t, const Matrix& maskToPage,
                           const Paint& paint, const RasterOp& op) {
    m_out << "FillMask " << width << "x" << height << " " << MatrixText(maskToPage) << " "
          << PaintText(paint) << " " << OpText(op) << "\n";
}

void TraceDevice::FillGlyph(const FontFace& face, uint32_t glyph, const Matrix& glyphToPage,
                            const Paint& paint, const RasterOp& op) {
    m_out << "FillGlyph face=\"" << face.FamilyName() << "\" glyph=" << glyph << " "
          << MatrixText(glyphToPage) << " " << PaintText(paint) << " " << OpText(op) << "\n";
}

} // namespace tarvik
