// A device that prints every call as one line of text instead of drawing,
// so interpreter tests can state what a job drew. Coordinates are printed in
// page space (points) with up to two decimals, after the call's matrix:
//
//   FillPath nonzero solid(255,0,0) rop=252 M 0 0 L 100 0 L 100 50 L 0 50 Z
//   StrokePath w=1 cap=butt join=miter solid(0,0,0) rop=252 M 0 0 L 10 10
//   ClipPath evenodd intersect interior M ...
//   ResetClip / PushClip / PopClip
//   BeginImage gray8 20x10 [a b c d e f] solid(0,0,0) rop=204 / ImageRows 10 / EndImage rows=10
//   FillMask 8x12 [a b c d e f] solid(0,0,0) rop=252
//   FillGlyph face="Nimbus Sans" glyph=36 [a b c d e f] solid(0,0,0) rop=252
//
// Transparency shows as " st" and " pt" after the rop; a pattern paint as
// pattern(WxH). Curves print as "C x1 y1 x2 y2 x3 y3".
#pragma once

#include "Device.h"

#include <ostream>

namespace tarvik {

class TraceDevice : public Device {
public:
    TraceDevice(std::ostream& out, double pageWidthPt, double pageHeightPt)
        : m_out(out), m_width(pageWidthPt), m_height(pageHeightPt) {}

    double PageWidth() const override { return m_width; }
    double PageHeight() const override { return m_height; }
    Matrix PageToDevice() const override { return {}; }

    void FillPath(const Path& path, const Matrix& ctm, FillRule rule, const Paint& paint,
                  const RasterOp& op) override;
    void StrokePath(const Path& path, const Matrix& ctm, const StrokeStyle& style,
                    const Paint& paint, const RasterOp& op) override;
    void ClipPath(const Path& path, const Matrix& ctm, FillRule rule, ClipOp op,
                  ClipRegion region) override;
    void ResetClip() override;
    void PushClip() override;
    void PopClip() override;
    void BeginImage(const ImageInfo& info, const Matrix& imageToPage, const Paint& paint,
                    const RasterOp& op) override;
    void ImageRows(const uint8_t* data, int rows) override;
    void EndImage() override;
    void FillMask(const uint8_t* bits, int width, int height, size_t stride,
                  const Matrix& maskToPage, const Paint& paint, const RasterOp& op) override;
    void FillGlyph(const FontFace& face, uint32_t glyph, const Matrix& glyphToPage,
                   const Paint& paint, const RasterOp& op) override;

private:
    std::ostream& m_out;
    double m_width, m_height;
    bool m_imageOpen = false;
    int m_imageRows = 0;
    int m_imageHeight = 0;
};

} // namespace tarvik
