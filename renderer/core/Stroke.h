// Stroking: turns polylines into the polygons that cover a stroke of a
// given width, with caps, joins and dashes, for the scan converter.
#pragma once

#include "Path.h"
#include "Scan.h"

#include <vector>

namespace tarvik {

// Strokes lines (in stroking space) with style and adds the covering
// polygons, mapped through toDevice, to out. Every polygon is added with
// the same orientation, so the non-zero rule fills their union.
// tolerance is the flattening tolerance in stroking space.
void StrokePolylines(const std::vector<Polyline>& lines, const StrokeStyle& style,
                     const Matrix& toDevice, double tolerance, EdgeList& out);

// Splits lines into dashes; returns them unchanged for a solid style or one
// whose dashes would be absurdly many.
std::vector<Polyline> ApplyDashes(const std::vector<Polyline>& lines, const StrokeStyle& style);

} // namespace tarvik
