#include "analysis/lap_channels.h"

#include <cmath>

namespace lorvane {

namespace {

const Crossing* crossingAt(const std::vector<Crossing>& crossings, std::int32_t sample) {
    for (const Crossing& c : crossings)
        if (c.sample == sample) return &c;
    return nullptr;
}

// The value at a crossing point: between the detection sample and the one
// before it, as the point lies between them (see crossingPoint).
double atCrossing(const Track& track, const ChannelColumn& column, std::size_t detection, double offset) {
    const double c = column.at(detection);
    if (detection == 0) return c;
    const double dt = sampleInterval(track, detection);
    double f = dt > 0 ? offset / dt : 0;
    if (!(f > 0)) f = 0;
    if (f > 1) f = 1;
    if (f == 0) return c;
    const double p = column.at(detection - 1);
    return c + (p - c) * f; // NaN when either side has none
}

} // namespace

std::vector<double> channelAlongLap(const Track& track, const std::vector<Crossing>& crossings, const LapTrace& trace,
                                    std::size_t channel) {
    const ChannelTable& table = track.channels;
    if (channel >= table.columns.size() || table.rows() != track.samples.size() || trace.points.size() < 3) return {};
    const ChannelColumn& column = table.columns[channel];
    const auto first = trackIndex(track, trace.points[1].sample);
    if (!first) return {};
    const std::size_t inner = trace.points.size() - 2; // the lap's samples
    const std::size_t last = *first + inner;           // the closing crossing's detection sample
    if (last >= track.samples.size()) return {};
    const Crossing* open = crossingAt(crossings, track.samples[*first].sample);
    const Crossing* close = crossingAt(crossings, track.samples[last].sample);

    std::vector<double> out(trace.points.size(), kNoValue);
    out.front() = open ? atCrossing(track, column, *first, open->offset) : column.at(*first);
    for (std::size_t i = 0; i < inner; ++i) out[i + 1] = column.at(*first + i);
    out.back() = close ? atCrossing(track, column, last, close->offset) : column.at(last);
    return out;
}

} // namespace lorvane
