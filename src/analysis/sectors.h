// Sectors of equal distance along a reference lap, every lap's time through
// each of them, the best of each and the theoretical best lap.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "analysis/lap_trace.h"
#include "laps/local_plane.h"

namespace lorvane {

inline constexpr int kDefaultSectors = 3;
inline constexpr int kMaxSectors = 20;
// Half-length of a sector line, centred on its point 1, in metres, measured
// at the crossing point.
inline constexpr double kSectorGateHalfWidth = 25.0;
// Point 2 of a sector line lies this far from point 1 along the direction of travel.
inline constexpr double kSectorLineDirection = 5.0;
// The direction of travel at a boundary is that of the chord between the
// reference lap's path points this far before and after it.
inline constexpr double kSectorChordHalf = 5.0;

// A boundary between two sectors: crossed from the side away from point 2
// towards point 2's side, through the line through point 1 perpendicular to
// point 1 -> point 2, within kSectorGateHalfWidth of point 1.
struct SectorLine {
    LocalPoint p1, p2;
    double distance = 0; // along the reference lap, metres
    int split = -1;      // the split line it was made from (its index), -1 for an equal-distance line
};

// The sectors-1 lines that cut `reference` into `sectors` parts of equal
// distance (none for one sector or an empty trace).
std::vector<SectorLine> sectorLines(const LapTrace& reference, int sectors);

// Time into the lap at which the trace crosses each line, in the lines'
// order: each line is looked for after the last line found. Empty where the
// lap does not cross a line.
std::vector<std::optional<double>> lineCrossings(const LapTrace& trace, const std::vector<SectorLine>& lines);

// Sector times of a lap (lines.size() + 1 of them, in seconds): sector k runs
// from line k-1 to line k, the first from the opening crossing and the last
// to the closing one. Empty where a line at either end was missed; all empty
// for an empty trace.
std::vector<std::optional<double>> sectorTimes(const LapTrace& trace, const std::vector<SectorLine>& lines);

struct BestSector {
    std::int32_t lap = 0; // the lap holding it (the first one on a tie)
    double time = 0;
};

struct SectorTable {
    std::vector<std::optional<BestSector>> best; // per sector; empty when no lap has a time
    std::optional<double> theoreticalBest;       // sum of the best sectors; empty if any is
};

// The best of each sector over the laps (lap numbers alongside their sector times).
SectorTable bestSectors(const std::vector<std::int32_t>& laps,
                        const std::vector<std::vector<std::optional<double>>>& sectors, int sectorCount);

} // namespace lorvane
