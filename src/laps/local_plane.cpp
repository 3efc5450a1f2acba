#include "laps/local_plane.h"

#include <cmath>
#include <numbers>

#include "laps/gate_rules.h"

namespace lorvane {

double calcLongScale(double baseLat, double baseLong) {
    constexpr double pi = std::numbers::pi;
    const double R = kEarthRadiusKm;
    const double phi = baseLat / 60 * pi / 180;
    const double lambda = baseLong / 60 * pi / 180;
    const double lambda2 = (baseLong / 60 + 1) * pi / 180;
    // Polar angle of the base parallel.
    const double theta = pi / 2 - std::fabs(phi);
    const double x1 = R * std::sin(theta) * std::cos(lambda);
    const double y1 = R * std::sin(theta) * std::sin(lambda);
    const double z1 = R * std::cos(theta);
    const double x2 = R * std::sin(theta) * std::cos(lambda2);
    const double y2 = R * std::sin(theta) * std::sin(lambda2);
    const double z2 = R * std::cos(theta);
    const double dx = x1 - x2, dy = y1 - y2, dz = z1 - z2;
    const double d = std::sqrt(dx * dx + dy * dy + dz * dz);
    const double gamma = std::acos((R * R + R * R - d * d) / (2 * R * R));
    const double s = gamma * R;
    return s / kOneDegreeKm;
}

std::optional<GateCrossing> crossGate(LocalPoint p1, LocalPoint p2, LocalPoint cur, LocalPoint prev, double dt,
                                      const GateRules& rules) {
    // Signed distance along the gate's direction (point 1 -> point 2), not
    // normalised: only its sign and the ratio of two of them matter.
    const double de = p2.east - p1.east;
    const double dn = p2.north - p1.north;
    if (de == 0 && dn == 0) return std::nullopt; // no direction: not a gate
    const double dPrev = (prev.east - p1.east) * de + (prev.north - p1.north) * dn;
    const double dCur = (cur.east - p1.east) * de + (cur.north - p1.north) * dn;
    // The sides first: the distances are only needed when they differ.
    const bool forward = dPrev < 0 && dCur >= 0;
    const bool reverse = dPrev > 0 && dCur <= 0;
    switch (rules.direction) {
    case GateDirection::Both:
        if (!forward && !reverse) return std::nullopt;
        break;
    case GateDirection::Forward:
        if (!forward) return std::nullopt;
        break;
    case GateDirection::Reverse:
        if (!reverse) return std::nullopt;
        break;
    }
    if (!std::isfinite(dPrev) || !std::isfinite(dCur)) return std::nullopt;
    // Where the segment meets the line.
    const double share = std::fabs(dPrev) / (std::fabs(dPrev) + std::fabs(dCur));
    const double xe = prev.east + (cur.east - prev.east) * share;
    const double xn = prev.north + (cur.north - prev.north) * share;
    const double atLine = std::sqrt((xe - p1.east) * (xe - p1.east) + (xn - p1.north) * (xn - p1.north));
    if (rules.gateWidth) {
        if (!(atLine <= *rules.gateWidth)) return std::nullopt;
    } else {
        // The sample after the line within the gate's radius of point 1.
        const double r = std::sqrt((p1.east - cur.east) * (p1.east - cur.east) +
                                   (p1.north - cur.north) * (p1.north - cur.north));
        if (!(r <= kGateRadius)) return std::nullopt;
    }
    const double offset = (dt * std::fabs(dCur)) / (std::fabs(dPrev) + std::fabs(dCur));
    if (!std::isfinite(offset)) return std::nullopt;
    return GateCrossing{offset, atLine, forward};
}

bool virtual_gate(double lineEast2, double lineEast1, double lineNorth2, double lineNorth1, double curEast,
                  double curNorth, double prevEast, double prevNorth, double& crossOffset) {
    const auto c = crossGate(LocalPoint{lineEast1, lineNorth1}, LocalPoint{lineEast2, lineNorth2},
                             LocalPoint{curEast, curNorth}, LocalPoint{prevEast, prevNorth}, kSampleInterval,
                             GateRules{});
    if (!c) return false;
    crossOffset = c->offset;
    return true;
}

} // namespace lorvane
