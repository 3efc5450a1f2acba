// The user's own split lines (placed on the map or stored with a circuit) as
// sector lines for the lap analysis, instead of equal-distance ones.
#pragma once

#include <vector>

#include "analysis/lap_trace.h"
#include "analysis/sectors.h"
#include "formats/start_finish.h"
#include "laps/local_plane.h"

namespace lorvane {

// Each split line as a sector line at the distance along `reference` of the
// reference path point nearest to its point 1, in driving order (by that
// distance, whatever order they were placed in). A line whose point 1 lies
// farther than kSectorGateHalfWidth from the reference path, or whose two
// points coincide, is left out.
std::vector<SectorLine> splitSectorLines(const std::vector<Gate>& splits, const LocalPlane& plane,
                                         const LapTrace& reference);

} // namespace lorvane
