// The vertical-rotated text path: characters that turn (full-width ones, or
// all but the font's upright ranges) print a quarter turn counter-clockwise,
// in their vertical forms, and move the cursor by their vertical advance, so
// that the page read turned a quarter clockwise shows vertical writing.
#include "Pcl5Interp.h"

namespace tarvik::pcl5 {

void Interpreter::TextPathCmd(const Token& t) {
    int v = t.value.Int();
    if (t.value.number != v || (v != 0 && v != -1)) return;
    m_text.vertical = v == -1;
}

bool Interpreter::TurnForPath(const fonts::ActiveFont& font, uint32_t code,
                              const fonts::Glyph*& glyph, fonts::Glyph& vertical, double& advance,
                              Matrix& turn) const {
    if (!glyph || glyph->kind == fonts::Glyph::Kind::None) return false;
    fonts::VerticalForm form = font.Font().Vertical(code, *glyph);
    if (!form.turn) return false;
    if (glyph->kind == fonts::Glyph::Kind::Outline && form.index != glyph->index) {
        vertical = *glyph;
        vertical.index = form.index;
        glyph = &vertical;
    }
    // The character's box (its advance wide, an em tall, its bottom the
    // descender below the baseline) turns about its centre into a box as
    // long as the vertical advance, on the same band across the line.
    double em = font.HeightPt();
    double w = advance / kUnitsPerPoint;
    double along = form.advance * em;
    if (!std::isfinite(along) || along < 0) along = em;
    double middle = -form.descender * em - em / 2; // y down
    // (x, y) -> (y, -x): what pointed along the line now points up the page.
    turn = Matrix{0, -1, 1, 0, along / 2 - middle, middle + w / 2};
    advance = along * kUnitsPerPoint;
    return true;
}

} // namespace tarvik::pcl5
