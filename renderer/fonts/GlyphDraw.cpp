#include "PclFont.h"

namespace tarvik::fonts {

VerticalForm PclFont::Vertical(uint32_t, const Glyph& g) const {
    VerticalForm v;
    v.index = g.index;
    double em = g.kind == Glyph::Kind::Bitmap ? Traits().height * g.resolution / 72 : 1;
    v.turn = em > 0 && g.advance >= 0.9 * em;
    return v;
}

void DrawGlyph(Device& dev, const Glyph& glyph, const GlyphPlacement& where, const Paint& paint,
               const RasterOp& op) {
    switch (glyph.kind) {
    case Glyph::Kind::Outline: {
        if (!glyph.face) return;
        double s = where.heightPt;
        // Glyph space is y up; text space is y down.
        Matrix m = Matrix::Scale(s * glyph.scaleX, -s)
                       .Then(Matrix::Translate(glyph.offsetX * s, 0))
                       .Then(where.textToPage);
        dev.FillGlyph(*glyph.face, glyph.index, m, paint, op);
        break;
    }
    case Glyph::Kind::Bitmap: {
        if (!glyph.bits || glyph.width <= 0 || glyph.height <= 0 || glyph.resolution <= 0) return;
        double dot = 72.0 / glyph.resolution;
        Matrix m = Matrix::Scale(dot, dot)
                       .Then(Matrix::Translate(glyph.left * dot, -glyph.top * dot))
                       .Then(where.textToPage);
        dev.FillMask(glyph.bits, glyph.width, glyph.height, glyph.stride, m, paint, op);
        break;
    }
    case Glyph::Kind::Compound: {
        double s = where.heightPt;
        for (int i = 0; i < glyph.partCount; ++i) {
            const GlyphPart& p = glyph.parts[i];
            if (!p.face) continue;
            Matrix m = Matrix::Scale(s, -s)
                           .Then(Matrix::Translate(p.dx * s, -p.dy * s))
                           .Then(where.textToPage);
            dev.FillGlyph(*p.face, p.index, m, paint, op);
        }
        break;
    }
    case Glyph::Kind::Box:
        DrawBoxGlyph(dev, glyph, where, paint, op);
        break;
    case Glyph::Kind::None:
        break;
    }
}

} // namespace tarvik::fonts
