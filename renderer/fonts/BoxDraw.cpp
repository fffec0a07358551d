#include "PclFont.h"
#include "SymbolSets.h"

namespace tarvik::fonts {

void DrawBoxGlyph(Device& dev, const Glyph& glyph, const GlyphPlacement& where, const Paint& paint,
                  const RasterOp& op) {
    double h = where.cellHeight > 0 ? where.cellHeight : where.heightPt;
    double w = where.cellWidth > 0 ? where.cellWidth : glyph.advance * where.heightPt;
    Path path;
    if (!(w > 0) || !(h > 0) || !BoxGlyphPath(glyph.unicode, w, h, path)) return;
    // The cell sits on the line as text does: three quarters above the
    // baseline, so cells of consecutive lines meet.
    dev.FillPath(path, Matrix::Translate(0, -0.75 * h).Then(where.textToPage), FillRule::NonZero,
                 paint, op);
}

} // namespace tarvik::fonts
