// The base point, the longitude scale, the flat local plane in metres around
// the base point, and the gate test.
#pragma once

#include <cstdint>
#include <optional>

namespace lorvane {

inline constexpr double kEarthRadiusKm = 6371.315;
inline constexpr double kOneDegreeKm = 111.20042443169142;
inline constexpr double kMetresPerMinute = 1853.3404;
inline constexpr double kGateRadius = 25.0;
inline constexpr double kSampleInterval = 0.1;

// Length of one degree of longitude at the base latitude over that of one
// degree of latitude (close to cos(latitude)). Depends on the latitude only;
// the longitude is taken for the record.
double calcLongScale(double baseLat, double baseLong);

struct LocalPoint {
    double east = 0;
    double north = 0;
};

struct LocalPlane {
    double baseLat = 0, baseLong = 0, longScale = 0;

    LocalPoint toLocal(double lat, double lon) const {
        LocalPoint p;
        p.north = (lat - baseLat) * kMetresPerMinute;
        p.east = (lon - baseLong) * kMetresPerMinute * longScale;
        return p;
    }
};

struct GateRules;

// A counted crossing of a gate: how long before the current sample the line
// was crossed, where (metres from point 1 to the crossing point) and which way.
struct GateCrossing {
    double offset = 0;
    double distance = 0;
    bool forward = true; // towards point 2's side
};

// The gate test with the measured time `dt` between the previous and the
// current sample and the user's rules: did prev -> cur cross the line through
// point 1 perpendicular to point 1 -> point 2, in a direction and at a place
// the rules count? With the default rules and dt = 0.1 this is virtual_gate.
// The direction rule of `rules` is applied; its minimum lap time is the lap
// step's business.
std::optional<GateCrossing> crossGate(LocalPoint p1, LocalPoint p2, LocalPoint cur, LocalPoint prev, double dt,
                                      const GateRules& rules);

// Did the segment prev -> cur cross the gate through point 1 that is
// perpendicular to the direction point 1 -> point 2? On a crossing, returns
// true and sets crossOffset (seconds from the crossing to the current sample);
// otherwise returns false and leaves crossOffset alone. Argument order as the
// readers call it: point 2 east, point 1 east, point 2 north, point 1 north,
// current east/north, previous east/north.
bool virtual_gate(double lineEast2, double lineEast1, double lineNorth2, double lineNorth1, double curEast,
                  double curNorth, double prevEast, double prevNorth, double& crossOffset);

// Picks the base point: the tenth sample with more than three satellites since
// the load began or since the last sample with fewer than three.
class BasePointSelector {
public:
    void reset() { count_ = 0; }
    // Counting half; returns true when this sample becomes the base point.
    bool count(bool haveBase, std::int32_t sats) {
        if (!haveBase && sats > 3) {
            ++count_;
            if (count_ >= 10) return true;
        }
        return false;
    }
    // Resetting half.
    void resetIfLost(std::int32_t sats) {
        if (sats < 3) count_ = 0;
    }

private:
    int count_ = 0;
};

} // namespace lorvane
