// One lap against another along the lap: the time the compared lap has lost
// (positive) or gained (negative) on the reference lap by the time both have
// covered the same share of their own lap distance. Laps matched by share
// rather than by metres end together: at the finish the delta is the lap-time
// difference, whatever lines the two took. See docs/analysis.md.
#pragma once

#include <cstddef>
#include <optional>
#include <vector>

#include "analysis/lap_trace.h"

namespace lorvane {

// The delta at distance `d` along the reference lap: the time into `compared`
// at the same share of its own lap distance, d × compared distance / reference
// distance, minus the time into `reference` at d. 0 at d = 0; at the
// reference lap distance the compared lap time minus the reference lap time.
// Empty outside [0, reference distance] or when either lap is empty.
std::optional<double> deltaAt(const LapTrace& compared, const LapTrace& reference, double d);

struct DeltaPoint {
    double distance = 0; // metres along the reference lap
    double delta = 0;    // seconds, positive where the compared lap is behind
};

// The delta at `count` distances spread evenly along the reference lap from 0
// to its lap distance, both ends included (one point at 0 when count is 1;
// none when count is 0 or either lap is empty).
std::vector<DeltaPoint> deltaOnGrid(const LapTrace& compared, const LapTrace& reference, std::size_t count);

// The delta at each of the compared lap's points, in order: the point's own
// time into the lap minus the time into the reference lap at the same share
// of its lap distance. The first point gives 0, the last the lap-time
// difference; every point has a value unless either lap is empty (then all
// are empty).
std::vector<std::optional<double>> deltaAtPoints(const LapTrace& compared, const LapTrace& reference);

// Where the compared lap is farthest behind and farthest ahead of the
// reference lap. The delta runs straight between the points of either lap
// (the compared lap's taken at their share of the reference lap's distance),
// so it is looked at on each of those: the highest and the lowest value, at
// the first distance along the reference lap that has it.
struct DeltaExtremes {
    double finish = 0;  // the delta at the finish: the lap-time difference
    DeltaPoint highest; // ≥ 0 (the delta starts at 0)
    DeltaPoint lowest;  // ≤ 0
};
// Empty when either lap is empty.
std::optional<DeltaExtremes> deltaExtremes(const LapTrace& compared, const LapTrace& reference);

} // namespace lorvane
