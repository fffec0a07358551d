#include "PclFont.h"

namespace tarvik::fonts {

// Filled in once the box-drawing geometry is available; until then a box
// character prints nothing rather than a wrong shape.
void DrawBoxGlyph(Device&, const Glyph&, const GlyphPlacement&, const Paint&, const RasterOp&) {}

} // namespace tarvik::fonts
