// A log's channels along one lap: the value of a channel at every point of
// the lap's trace, the crossing points' values interpolated between the
// samples either side, as the speed of the trace is (an angle in degrees the
// short way round; a channel of whole numbers, a gear or a lap count, and a
// time of day take the nearer sample's value instead).
#pragma once

#include <cstddef>
#include <vector>

#include "analysis/lap_trace.h"
#include "laps/lap_segmenter.h"
#include "track/track.h"

namespace lorvane {

// The value of channel `channel` of track.channels at every point of
// `trace` (a trace of a lap of this track, cut by `crossings`); NaN where the
// log has none. Empty when the track kept no channels, the channel does not
// exist or the trace's samples are not in the track.
std::vector<double> channelAlongLap(const Track& track, const std::vector<Crossing>& crossings, const LapTrace& trace,
                                    std::size_t channel);

} // namespace lorvane
