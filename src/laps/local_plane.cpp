#include "laps/local_plane.h"

#include <cmath>
#include <numbers>

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

bool virtual_gate(double lineEast2, double lineEast1, double lineNorth2, double lineNorth1,
                  double curEast, double curNorth, double prevEast, double prevNorth,
                  double& crossOffset) {
    // Signed distance along the gate's direction (point 1 -> point 2), not
    // normalised: only its sign and the ratio of two of them matter.
    const double de = lineEast2 - lineEast1;
    const double dn = lineNorth2 - lineNorth1;
    if (de == 0 && dn == 0) return false; // no direction: not a gate
    const double dPrev = (prevEast - lineEast1) * de + (prevNorth - lineNorth1) * dn;
    const double dCur = (curEast - lineEast1) * de + (curNorth - lineNorth1) * dn;
    // The sides first: the distance is only needed when they differ.
    if (!((dPrev > 0 && dCur <= 0) || (dPrev < 0 && dCur >= 0))) return false;
    if (!std::isfinite(dPrev) || !std::isfinite(dCur)) return false;
    const double r = std::sqrt((lineEast1 - curEast) * (lineEast1 - curEast) +
                               (lineNorth1 - curNorth) * (lineNorth1 - curNorth));
    if (!(r <= kGateRadius)) return false;
    const double offset = (kSampleInterval * std::fabs(dCur)) / (std::fabs(dPrev) + std::fabs(dCur));
    if (!std::isfinite(offset)) return false;
    crossOffset = offset;
    return true;
}

} // namespace lorvane
