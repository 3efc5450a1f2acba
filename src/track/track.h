// The track of a load: the points plotted from its samples, in the local plane,
// and their extent.
#pragma once

#include <cstdint>
#include <vector>

#include "track/channel_table.h"

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

// A sample that reached the lap step: where it lies in the local plane and
// when it was taken. A loaded log keeps these so that its laps can be cut
// again without reading the file.
struct TrackSample {
    double east = 0;
    double north = 0;
    double time = 0;         // seconds on the log's clock, as the lap step used it
    std::int64_t clock = 0;  // the same time in the log's own ticks (see ticksPerSecond)
    std::int32_t sample = 0; // index of the sample in the log
    // Speed over ground as the log recorded it, m/s; negative when it has
    // none. A float: it fills what would be padding after `sample`.
    float speed = -1;
};

struct Track {
    std::vector<TrackSample> samples; // in recorded order
    int ticksPerSecond = 100;         // 100 for our own logs, 1000 for imported ones
    // Every channel of the log, a row per entry of samples; empty when the
    // load kept no channels.
    ChannelTable channels;
};

} // namespace lorvane
