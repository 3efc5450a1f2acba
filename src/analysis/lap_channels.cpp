#include "analysis/lap_channels.h"

namespace lorvane {

std::vector<double> channelAlongLap(const Track& track, const std::vector<Crossing>& crossings,
                                    const LapTrace& trace, std::size_t channel) {
    (void)track, (void)crossings, (void)trace, (void)channel;
    return {}; // filled in with the channels' reading
}

} // namespace lorvane
