// How a gate looks on the track plot: the segment across point 1,
// perpendicular to point 1 -> point 2, as far each side as the gate reaches,
// and an arrow for the direction that counts when only one does.
#pragma once

#include <optional>
#include <vector>

#include "formats/start_finish.h"
#include "laps/gate_rules.h"
#include "laps/local_plane.h"
#include "track/track.h"

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

// Placing a gate on the track: the kept track sample nearest to `p` (by
// straight-line distance in the local plane); nothing for an empty track.
std::optional<std::size_t> nearestTrackSample(const Track& track, LocalPoint p);

// How far along the direction of travel point 2 of a placed gate lies.
inline constexpr double kPlacedGateAhead = 5.0;

// A gate across the track at sample `index`: point 1 on that sample, point 2
// `ahead` metres further along the direction of travel (the first later
// sample at least that far away, or, at the end of the track, the same
// distance on from an earlier one), so that the forward rule counts
// crossings made in the direction of travel. In minutes, from `plane`.
// Nothing when the index is out of range or the track does not move around it.
std::optional<Gate> gateAtTrackPoint(const Track& track, std::size_t index, const LocalPlane& plane,
                                     double ahead = kPlacedGateAhead);

// A point of the local plane back in minutes.
void toMinutes(const LocalPlane& plane, LocalPoint p, double& lat, double& lon);

} // namespace lorvane::track
