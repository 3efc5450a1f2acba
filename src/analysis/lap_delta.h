// One lap against another along the distance: the time the compared lap has
// lost (positive) or gained (negative) on the reference lap by the time both
// have covered the same distance.
#pragma once

#include <cstddef>
#include <optional>
#include <vector>

#include "analysis/lap_trace.h"

namespace lorvane {

// Time into `compared` at distance d minus time into `reference` at d; empty
// where d lies beyond the end of either lap (or before 0).
std::optional<double> deltaAt(const LapTrace& compared, const LapTrace& reference, double d);

struct DeltaPoint {
    double distance = 0; // metres
    double delta = 0;    // seconds, positive where the compared lap is behind
};

// The delta at `count` distances spread evenly from 0 to the end of the
// shorter lap, both ends included (one point at 0 when count is 1; none when
// count is 0 or either lap is empty).
std::vector<DeltaPoint> deltaOnGrid(const LapTrace& compared, const LapTrace& reference, std::size_t count);

// The delta at the distance of each of the compared lap's points, in order;
// empty beyond the end of the reference lap.
std::vector<std::optional<double>> deltaAtPoints(const LapTrace& compared, const LapTrace& reference);

} // namespace lorvane
