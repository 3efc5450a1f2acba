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

} // namespace lorvane::track
