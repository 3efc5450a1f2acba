#include "analysis/lap_channels.h"

#include <cctype>
#include <cmath>
#include <string>

namespace lorvane {

namespace {

const Crossing* crossingAt(const std::vector<Crossing>& crossings, std::int32_t sample) {
    for (const Crossing& c : crossings)
        if (c.sample == sample) return &c;
    return nullptr;
}

// The value at a crossing point: between the detection sample and the one
// before it, as the point lies between them (see crossingPoint).
// Whether a channel's unit is an angle in degrees, which turns from 359 to 0
// (a course, a heading).
bool inDegrees(const std::string& unit) {
    std::string u;
    for (char c : unit) u.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
    return u == "deg" || u == "degrees" || u == "\u00b0";
}

// How a channel's value at a crossing is taken from the samples either side.
enum class Between {
    Linear,  // in proportion (speeds, pressures, accelerations...)
    Angle,   // in proportion, the short way round (a course, a heading)
    Nearest, // the nearer sample's (a gear, a lap count, a time of day hhmmss.ss)
};

double atCrossing(const Track& track, const ChannelColumn& column, std::size_t detection, double offset, Between how) {
    const double c = column.at(detection);
    if (detection == 0) return c;
    const double dt = sampleInterval(track, detection);
    double f = dt > 0 ? offset / dt : 0;
    if (!(f > 0)) f = 0;
    if (f > 1) f = 1;
    if (f == 0) return c;
    const double p = column.at(detection - 1);
    if (how == Between::Nearest) return f < 0.5 ? c : p;
    if (how == Between::Angle && std::fabs(p - c) > 180) {
        // The short way round: 350 and 10 meet at 0, not at 180.
        double v = c + std::remainder(p - c, 360.0) * f;
        if (c >= 0 && p >= 0 && v < 0) v += 360;
        if (c < 360 && p < 360 && v >= 360) v -= 360;
        return v;
    }
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
    const std::string& unit = table.info[channel].unit;
    const Between how = column.whole() || unit.find("hhmm") != std::string::npos ? Between::Nearest
                        : inDegrees(unit)                                        ? Between::Angle
                                                                                 : Between::Linear;
    out.front() = open ? atCrossing(track, column, *first, open->offset, how) : column.at(*first);
    for (std::size_t i = 0; i < inner; ++i) out[i + 1] = column.at(*first + i);
    out.back() = close ? atCrossing(track, column, last, close->offset, how) : column.at(last);
    return out;
}

} // namespace lorvane
