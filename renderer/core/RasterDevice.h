// The device that draws into a page raster: what JobContext hands out.
#pragma once

#include "Device.h"
#include "GlyphCache.h"
#include "Raster.h"
#include "Scan.h"

#include <memory>
#include <string>
#include <vector>

namespace tarvik {

class RasterDevice : public Device {
public:
    // pageToDevice maps page space (points) onto raster pixels; pageWidth and
    // pageHeight are the page's size in page space. The raster is the whole
    // sheet; whatever falls outside it is clipped. imageRows, when given, is
    // the buffer for decoded image rows, kept by the caller from page to page
    // so that every image does not allocate afresh.
    RasterDevice(PageRaster& raster, const Matrix& pageToDevice, double pageWidth,
                 double pageHeight, GlyphCache* glyphs, PixelBuffer* imageRows = nullptr);
    ~RasterDevice() override;

    double PageWidth() const override { return m_pageWidth; }
    double PageHeight() const override { return m_pageHeight; }
    Matrix PageToDevice() const override { return m_pageToDevice; }

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

    // Notes on what the device refused (budget exceeded, oversized glyphs);
    // the job level reports them with the page.
    const std::vector<std::string>& Notes() const { return m_notes; }

    // Painting work is bounded per page: after this many page areas of
    // pixels, further drawing is dropped.
    static constexpr double kMaxPaintedPages = 300;
    // Pixels painted so far on this page, for the job's work budget.
    uint64_t Painted() const { return m_painted; }

private:
    struct ImageState;
    class Painter;

    bool Budget(uint64_t pixels);
    void Note(const std::string& text);
    void PaintSpans(const SpanSet& shape, int dx, int dy, const Paint& paint, const RasterOp& op);
    void FillEdges(const EdgeList& edges, FillRule rule, const Paint& paint, const RasterOp& op);
    void RenderImageBand(int v0, int v1);
    bool FillMaskCoverage(const uint8_t* bits, int width, int height, size_t stride,
                          const Matrix& maskToDevice, int nx, int ny, const IRect& box,
                          Painter& painter);

    PageRaster& m_raster;
    Matrix m_pageToDevice;
    double m_pageWidth, m_pageHeight;
    GlyphCache* m_glyphs;
    IRect m_pageRect;
    std::shared_ptr<const SpanSet> m_clip;
    std::vector<std::shared_ptr<const SpanSet>> m_clipStack;
    int m_clipOverflow = 0;
    PixelBuffer m_ownImageRows;
    PixelBuffer* m_imageRows;
    std::unique_ptr<ImageState> m_image;
    uint64_t m_painted = 0;
    uint64_t m_paintBudget = 0;
    bool m_budgetNoted = false;
    bool m_fastImages = true; // tests turn the run painter off to compare
    std::vector<std::string> m_notes;

    friend class RasterDeviceTestAccess;
};

} // namespace tarvik
