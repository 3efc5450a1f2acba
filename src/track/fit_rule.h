// How the track plot's axes are fitted at the end of a load: both axes span
// the same number of metres (to within one metre), the shorter extent padded
// equally on both sides, and a margin all round. Qt-free so it can be tested
// on its own.
#pragma once

#include <optional>

#include "laps/local_plane.h"
#include "track/track.h"

namespace lorvane::track {

struct AxisLimits {
    double eastMin = 0, eastMax = 0;   // bottom axis
    double northMin = 0, northMax = 0; // left axis
};

// Smallest span an axis is given, so that a track of one point (or a straight
// line along one axis) still gets a usable range around it.
inline constexpr double kMinimumSpan = 1.0;

// Share of the fitted span left clear on every side, so that the track
// does not touch the axes.
inline constexpr double kFitMargin = 0.04;

// The limits for a load that plotted `extent`; nothing when it plotted
// nothing, in which case the axes keep the limits they had.
//  - the wider extent is used as it is;
//  - the narrower one is padded on both sides by half the difference of the
//    spans, that difference truncated to whole metres first;
//  - equal spans use the extents as they are;
//  - then every side moves out by kFitMargin of the (common) span.
std::optional<AxisLimits> fitTrack(const TrackExtent& extent);

} // namespace lorvane::track
