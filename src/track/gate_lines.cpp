#include "track/gate_lines.h"

#include <cmath>

namespace lorvane::track {

namespace {

std::optional<GateLine> lineOf(const Gate& g, const LocalPlane& plane, const GateRules& rules) {
    const LocalPoint p1 = plane.toLocal(g.lat1, g.long1);
    const LocalPoint p2 = plane.toLocal(g.lat2, g.long2);
    const double de = p2.east - p1.east, dn = p2.north - p1.north;
    const double len = std::hypot(de, dn);
    if (!(len > 0) || !std::isfinite(len)) return std::nullopt;
    const double ue = de / len, un = dn / len; // across the gate, towards point 2's side
    const double reach = rules.gateWidth ? *rules.gateWidth : kGateRadius;
    GateLine line;
    // The line runs perpendicular to point 1 -> point 2.
    line.from = LocalPoint{p1.east - un * reach, p1.north + ue * reach};
    line.to = LocalPoint{p1.east + un * reach, p1.north - ue * reach};
    if (rules.direction != GateDirection::Both) {
        const double sign = rules.direction == GateDirection::Forward ? 1.0 : -1.0;
        const double arrow = 0.6 * reach;
        line.arrowFrom = p1;
        line.arrowTo = LocalPoint{p1.east + sign * ue * arrow, p1.north + sign * un * arrow};
    }
    return line;
}

} // namespace

std::vector<GateLine> gateLines(const StartFinish& gates, const LocalPlane& plane, const GateRules& rules) {
    std::vector<GateLine> out;
    if (auto l = lineOf(gates.start, plane, rules)) out.push_back(*l);
    if (gates.hasFinishLine) {
        if (auto l = lineOf(gates.finish, plane, rules)) {
            l->finish = true;
            out.push_back(*l);
        }
    }
    return out;
}

std::optional<std::size_t> nearestTrackSample(const Track& track, LocalPoint p) {
    std::optional<std::size_t> best;
    double bestD = 0;
    for (std::size_t i = 0; i < track.samples.size(); ++i) {
        const TrackSample& t = track.samples[i];
        const double d = (t.east - p.east) * (t.east - p.east) + (t.north - p.north) * (t.north - p.north);
        if (!std::isfinite(d)) continue;
        if (!best || d < bestD) {
            best = i;
            bestD = d;
        }
    }
    return best;
}

void toMinutes(const LocalPlane& plane, LocalPoint p, double& lat, double& lon) {
    lat = plane.baseLat + p.north / kMetresPerMinute;
    lon = plane.baseLong + p.east / (kMetresPerMinute * plane.longScale);
}

std::optional<Gate> gateAtTrackPoint(const Track& track, std::size_t index, const LocalPlane& plane, double ahead) {
    const auto& s = track.samples;
    if (index >= s.size() || !(plane.longScale != 0) || !(ahead > 0)) return std::nullopt;
    const LocalPoint p1{s[index].east, s[index].north};
    auto dist = [&](std::size_t i) { return std::hypot(s[i].east - p1.east, s[i].north - p1.north); };
    double de = 0, dn = 0;
    bool found = false;
    for (std::size_t i = index + 1; i < s.size(); ++i) {
        if (dist(i) >= ahead) {
            de = s[i].east - p1.east;
            dn = s[i].north - p1.north;
            found = true;
            break;
        }
    }
    if (!found) { // the end of the track: the way the car came
        for (std::size_t i = index; i-- > 0;) {
            if (dist(i) >= ahead) {
                de = p1.east - s[i].east;
                dn = p1.north - s[i].north;
                found = true;
                break;
            }
        }
    }
    const double len = std::hypot(de, dn);
    if (!found || !(len > 0) || !std::isfinite(len)) return std::nullopt;
    const LocalPoint p2{p1.east + de / len * ahead, p1.north + dn / len * ahead};
    Gate g;
    toMinutes(plane, p1, g.lat1, g.long1);
    toMinutes(plane, p2, g.lat2, g.long2);
    return g;
}

} // namespace lorvane::track
