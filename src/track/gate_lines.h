// How a gate looks on the track plot: the segment across point 1,
// perpendicular to point 1 -> point 2, as far each side as the gate reaches,
// and an arrow for the direction that counts when only one does.
#pragma once

#include <optional>
#include <vector>

#include "formats/start_finish.h"
#include "laps/gate_rules.h"
#include "laps/local_plane.h"

namespace lorvane::track {

struct GateLine {
    LocalPoint from, to; // the ends of the segment
    // The counted direction, from the segment's middle.
    std::optional<LocalPoint> arrowFrom, arrowTo;
    bool finish = false;
};

// The start gate, then the finish gate when there is one; none for a gate
// without a direction (its two points the same).
std::vector<GateLine> gateLines(const StartFinish& gates, const LocalPlane& plane, const GateRules& rules);

} // namespace lorvane::track
