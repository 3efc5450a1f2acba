// The lap table of a load: per lap its distance, top speed and sector times,
// the sector lines along the fastest lap, the best sectors and the
// theoretical best.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "analysis/lap_trace.h"
#include "analysis/sectors.h"
#include "formats/start_finish.h"
#include "laps/lap_segmenter.h"
#include "laps/local_plane.h"
#include "session/loaded_log.h"
#include "track/track.h"

namespace lorvane {

struct LapSummary {
    std::int32_t lap = 0;
    double time = 0;     // seconds
    bool traced = false; // false: the lap's samples are not in the track (no distance, speed or sectors)
    double distance = 0; // metres
    double maxSpeed = 0; // km/h
    std::vector<std::optional<double>> sectors; // seconds, one per sector
};

struct LapAnalysis {
    int sectorCount = kDefaultSectors;
    std::int32_t referenceLap = 0; // the lap the sector lines were laid along; 0 for none
    std::vector<SectorLine> lines; // sectorCount - 1 of them when there is a reference lap
    // The split lines the sectors were cut at, as crossed (point 2 mirrored
    // through point 1 for laps cut in reverse); lines[k].split indexes them.
    // Empty for sectors of equal distance.
    std::vector<Gate> splits;
    std::vector<LapSummary> laps; // in the order of the lap list
    SectorTable table;
};

// The fastest lap that the track holds (the first of equal times), or 0.
std::int32_t fastestTracedLap(const Track& track, const std::vector<Lap>& laps, const std::vector<Crossing>& crossings);

// The user's split lines, which cut the sectors in place of equal-distance ones.
struct SplitSectors {
    std::vector<Gate> lines; // as the start/finish definition holds them
    LocalPlane plane;        // the load's
    bool reverse = false;    // the laps were cut crossing the gates the other way
};

// Analyses every lap. The sector lines are laid along `referenceLap`, or
// along the fastest lap when it is 0 or not in the track: the split lines
// that lie on that lap, in driving order, when `splits` has any (crossed
// from the side away from point 2, or towards it when `reverse`); else
// `sectors` lines of equal distance.
LapAnalysis analyseLaps(const Track& track, const std::vector<Lap>& laps, const std::vector<Crossing>& crossings,
                        int sectors = kDefaultSectors, std::int32_t referenceLap = 0, const SplitSectors& splits = {});

// The same for a loaded log that kept its track (none: no lap is traced),
// with the split lines of its start/finish definition and its gate rules.
// The window and `lorvane-cli laps --json` both analyse a load this way.
LapAnalysis analyseLaps(const LoadedLog& log, int sectors = kDefaultSectors, std::int32_t referenceLap = 0);

// The trace of lap number `lap` (empty when there is no such lap or the track
// lacks its samples).
LapTrace traceLapNumber(const Track& track, const std::vector<Lap>& laps, const std::vector<Crossing>& crossings,
                        std::int32_t lap);

} // namespace lorvane
