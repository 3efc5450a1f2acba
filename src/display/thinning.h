// Screen-resolution thinning of a polyline: what the track plot hands to the
// painter, never what it keeps. Qt-free so it can be tested on its own.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "app/session.h"

namespace lorvane::display {

// The visible part of the plot in data units and its size in pixels.
struct Viewport {
    double xMin = 0, xMax = 1; // east, metres
    double yMin = 0, yMax = 1; // north, metres
    double widthPx = 1, heightPx = 1;
};

// Margin, in pixels, around the viewport inside which points count as visible
// (wide enough for the pen and for antialiasing).
inline constexpr double kThinMarginPx = 4.0;

// Thins `points` (in recorded order) to a polyline that draws the same picture
// in `view`, in recorded order, as a subsequence of the input:
//  - inside the viewport, a point is kept when it falls in another pixel cell
//    than the last kept point, so a drawn line is never more than about one
//    pixel away from the real one;
//  - a run of consecutive points that all lie beyond the same edge of the
//    viewport (the half-plane beyond it is convex, so no segment between them
//    can be seen) is reduced to its first and last points;
//  - the first and the last point are always kept.
// Cost: one pass over the points. The output is bounded by about the number
// of pixel cells the track passes through, whatever the number of points.
void thinForView(std::span<const TrackPoint> points, const Viewport& view,
                 std::vector<TrackPoint>& out);

} // namespace lorvane::display
