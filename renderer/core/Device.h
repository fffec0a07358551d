// The page device: the only way an interpreter draws.
//
// How to draw a page (interpreter side)
// -------------------------------------
//   tarvik::Device& dev = job.BeginPage({widthPt, heightPt, orientation});
//   tarvik::Path p;
//   p.Rectangle(0, 0, 100, 50);                      // user units
//   Matrix ctm = userToPage;                         // user space -> page space
//   dev.FillPath(p, ctm, FillRule::NonZero, Paint::SolidColor({255, 0, 0}), {});
//   ...
//   job.EndPage();                                   // writes the page file
//
// Page space is the page as it is read, in points (1/72 inch): origin at
// the top-left corner of the physical page in the page's own orientation,
// x to the right, y down. The device turns it onto the portrait sheet at the
// output resolution; interpreters never see sheet pixels unless they ask
// for PageToDevice() (e.g. to snap rasters to whole device pixels).
//
// Every call takes its own matrix from the object's space to page space, so
// a device keeps no current transform. The clip is the only device state:
// ClipPath narrows or replaces it, ResetClip opens it to the whole page,
// PushClip/PopClip save and restore it (use them for PushGS/PopGS or PCL
// macro calls). The initial clip is the whole page.
//
// What a call draws follows Paint.h: S is black inside a path, a stroke, a
// glyph or the set bits of a mask, and the image pixels for images; P is the
// paint. Pixels whose centre lies inside the shape are painted (no
// anti-aliasing), so abutting shapes neither overlap nor leave gaps.
//
// A Paint of kind None (a null pen or brush) makes a call draw nothing when
// its ROP reads P; under other ROPs P does not matter. Calls with a
// non-finite or singular matrix or an empty path draw nothing. Devices never
// throw.
//
// Two devices implement this: the raster device behind JobContext, and the
// TraceDevice (TraceDevice.h), which prints each call as one line of text
// for tests.
#pragma once

#include "Font.h"
#include "Geometry.h"
#include "Image.h"
#include "Paint.h"
#include "Path.h"

#include <cstdint>

namespace tarvik {

enum class ClipOp : uint8_t {
    Intersect, // the new clip is the old one and the shape
    Replace,   // the new clip is the shape (within the page)
};

enum class ClipRegion : uint8_t {
    Interior, // keep what lies inside the shape
    Exterior, // keep what lies outside the shape
};

class Device {
public:
    virtual ~Device() = default;

    // Page size in page space (points), as oriented.
    virtual double PageWidth() const = 0;
    virtual double PageHeight() const = 0;
    // Page space to device pixels (device pixel (i, j) covers [i, i+1) x
    // [j, j+1)). The trace device reports an identity at 72 dpi.
    virtual Matrix PageToDevice() const = 0;

    virtual void FillPath(const Path& path, const Matrix& ctm, FillRule rule, const Paint& paint,
                          const RasterOp& op) = 0;
    // The stroke's width, dashes and joins are measured in the path's user
    // space and go through ctm with it.
    virtual void StrokePath(const Path& path, const Matrix& ctm, const StrokeStyle& style,
                            const Paint& paint, const RasterOp& op) = 0;

    virtual void ClipPath(const Path& path, const Matrix& ctm, FillRule rule, ClipOp op,
                          ClipRegion region) = 0;
    virtual void ResetClip() = 0;
    // The clip stack holds at most kMaxClipDepth entries; deeper pushes are
    // counted, and the matching pops then leave the clip as it is.
    static constexpr int kMaxClipDepth = 256;
    virtual void PushClip() = 0;
    virtual void PopClip() = 0;

    // A source image, streamed row by row: BeginImage, then ImageRows until
    // info.height rows have arrived (extra rows are ignored; EndImage with
    // fewer draws what came), then EndImage. imageToPage maps image space
    // (one unit per source pixel, x right along a row, y down the rows, the
    // first row's top-left at 0,0) to page space. paint is the P operand.
    // Scaled down, source pixels are averaged over each device pixel's
    // area, so fine text in high-resolution rasters stays legible.
    // Only one image is open at a time; BeginImage ends an open one.
    virtual void BeginImage(const ImageInfo& info, const Matrix& imageToPage, const Paint& paint,
                            const RasterOp& op) = 0;
    // rows rows of info.Stride() bytes each.
    virtual void ImageRows(const uint8_t* data, int rows) = 0;
    virtual void EndImage() = 0;

    // A 1-bit mask (bitmap glyphs, PCL bitmaps): set bits (most significant
    // bit = leftmost pixel) are S = black and take the paint; clear bits
    // leave the page alone. maskToPage maps mask pixel space like
    // imageToPage.
    virtual void FillMask(const uint8_t* bits, int width, int height, size_t stride,
                          const Matrix& maskToPage, const Paint& paint, const RasterOp& op) = 0;

    // An outline glyph; glyphToPage maps glyph space (Font.h: em units,
    // y up, origin on the baseline) to page space. Rendered glyphs are cached
    // per face, glyph, size and sub-pixel position.
    virtual void FillGlyph(const FontFace& face, uint32_t glyph, const Matrix& glyphToPage,
                           const Paint& paint, const RasterOp& op) = 0;
};

} // namespace tarvik
