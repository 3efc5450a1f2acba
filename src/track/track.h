// The track of a load: the points plotted from its samples, in the local plane,
// and their extent.
#pragma once

#include <cstdint>

namespace lorvane {

struct TrackPoint {
    double east = 0;
    double north = 0;
    std::int32_t sample = 0; // index of the sample it was plotted from
};

// Extent of the points plotted by one load.
struct TrackExtent {
    double maxEast = -99999, minEast = 99999;
    double maxNorth = -99999, minNorth = 99999;
    bool empty() const { return maxEast < minEast; }
    void add(double east, double north) {
        if (east > maxEast) maxEast = east;
        if (east < minEast) minEast = east;
        if (north > maxNorth) maxNorth = north;
        if (north < minNorth) minNorth = north;
    }
};

} // namespace lorvane
