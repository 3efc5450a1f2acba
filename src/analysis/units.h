// The units the user reads speeds and distances in. The engine computes in
// metres, seconds and km/h; these convert for display and for the exported
// lap CSV. The command line keeps its documented units (km/h, metres).
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace lorvane {

enum class SpeedUnit { Kmh, Mph };
enum class DistanceUnit { Metres, Feet };

struct Units {
    SpeedUnit speed = SpeedUnit::Kmh;
    DistanceUnit distance = DistanceUnit::Metres;

    double speedFromKmh(double kmh) const { return speed == SpeedUnit::Mph ? kmh / 1.609344 : kmh; }
    double distanceFromMetres(double m) const { return distance == DistanceUnit::Feet ? m / 0.3048 : m; }
    double metresFromDistance(double d) const { return distance == DistanceUnit::Feet ? d * 0.3048 : d; }
    const char* speedLabel() const { return speed == SpeedUnit::Mph ? "mph" : "km/h"; }
    const char* distanceLabel() const { return distance == DistanceUnit::Feet ? "ft" : "m"; }
    bool operator==(const Units&) const = default;
};

// "kmh" / "mph", "m" / "ft": the names settings and the command line store.
const char* speedUnitName(SpeedUnit u);
const char* distanceUnitName(DistanceUnit u);
std::optional<SpeedUnit> parseSpeedUnit(std::string_view name);
std::optional<DistanceUnit> parseDistanceUnit(std::string_view name);

// A channel shown in the user's units: a channel whose unit is a speed (m/s,
// km/h, mph, knots...) is shown in the chosen speed unit, one in metres or
// feet in the chosen distance unit; any other keeps its own. value × factor
// gives the shown value.
struct ShownUnit {
    double factor = 1;
    std::string label; // the unit shown; the channel's own when not converted
};
ShownUnit shownUnit(std::string_view channelUnit, const Units& units);
// The same for a channel whose name may carry its unit ("Altitude (ft)"
// beside "Altitude (m)"): such a channel keeps its own unit, so that its
// name and its values never disagree.
ShownUnit shownUnit(std::string_view channelName, std::string_view channelUnit, const Units& units);

} // namespace lorvane
