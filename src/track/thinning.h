// Screen-resolution thinning of a polyline: what the track plot hands to the
// painter, never what it keeps. Qt-free so it can be tested on its own.
#pragma once

#include <cmath>
#include <cstddef>
#include <span>
#include <vector>

#include "laps/local_plane.h"
#include "track/track.h"

namespace lorvane::track {

// The visible part of the plot in data units and its size in pixels.
struct Viewport {
    double xMin = 0, xMax = 1; // east, metres
    double yMin = 0, yMax = 1; // north, metres
    double widthPx = 1, heightPx = 1;
};

// Margin, in pixels, around the viewport inside which points count as visible
// (wide enough for the pen and for antialiasing).
inline constexpr double kThinMarginPx = 4.0;

// A break in the thinned line: east and north are NaN (the plot leaves a gap
// there); a TrackPoint break repeats the sample before it so the order stays
// ascending.
template <class Point>
inline bool isBreak(const Point& p) {
    return std::isnan(p.east);
}

// Thins `points` (in recorded order) to a line that draws the same picture in
// `view`, within about one pixel:
//  - inside the viewport, a point is kept when it falls in another pixel cell
//    than the last kept point;
//  - a step between two pixel cells that has already been drawn (the next lap
//    over the same stretch, say) is not drawn again: the line breaks there and
//    resumes where it draws something new;
//  - a run of consecutive points that all lie beyond the same edge of the
//    viewport (the half-plane beyond it is convex, so no segment between them
//    can be seen) is reduced to its first and last points;
//  - the first and the last point are always kept.
// The output holds input points in recorded order and break markers between
// them. Cost: one pass over the points. Its size is bounded by the pixel
// cells the track passes through, whatever the number of points or laps.
// Defined for TrackPoint and LocalPoint.
template <class Point>
void thinForView(std::span<const Point> points, const Viewport& view, std::vector<Point>& out);

inline void thinForView(const std::vector<TrackPoint>& points, const Viewport& view, std::vector<TrackPoint>& out) {
    thinForView(std::span<const TrackPoint>(points), view, out);
}
inline void thinForView(const std::vector<LocalPoint>& points, const Viewport& view, std::vector<LocalPoint>& out) {
    thinForView(std::span<const LocalPoint>(points), view, out);
}

} // namespace lorvane::track
