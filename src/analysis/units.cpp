#include "analysis/units.h"

#include <cctype>

namespace lorvane {

const char* speedUnitName(SpeedUnit u) {
    return u == SpeedUnit::Mph ? "mph" : "kmh";
}
const char* distanceUnitName(DistanceUnit u) {
    return u == DistanceUnit::Feet ? "ft" : "m";
}

std::optional<SpeedUnit> parseSpeedUnit(std::string_view name) {
    if (name == "kmh" || name == "km/h") return SpeedUnit::Kmh;
    if (name == "mph") return SpeedUnit::Mph;
    return std::nullopt;
}

std::optional<DistanceUnit> parseDistanceUnit(std::string_view name) {
    if (name == "m") return DistanceUnit::Metres;
    if (name == "ft") return DistanceUnit::Feet;
    return std::nullopt;
}

namespace {

std::string normalised(std::string_view unit) {
    std::string r;
    for (char c : unit)
        if (c != ' ' && c != '[' && c != ']' && c != '(' && c != ')')
            r.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
    return r;
}

} // namespace

ShownUnit shownUnit(std::string_view channelUnit, const Units& units) {
    const std::string u = normalised(channelUnit);
    double kmhPerUnit = 0; // km/h of one of the channel's unit, for speeds
    if (u == "km/h" || u == "kmh" || u == "kph")
        kmhPerUnit = 1;
    else if (u == "m/s" || u == "mps")
        kmhPerUnit = 3.6;
    else if (u == "mph")
        kmhPerUnit = 1.609344;
    else if (u == "kn" || u == "kt" || u == "kts" || u == "knots" || u == "knot")
        kmhPerUnit = 1.852;
    if (kmhPerUnit > 0) return {units.speedFromKmh(kmhPerUnit), units.speedLabel()};
    double metresPerUnit = 0;
    if (u == "m" || u == "metres" || u == "meters")
        metresPerUnit = 1;
    else if (u == "ft" || u == "feet")
        metresPerUnit = 0.3048;
    if (metresPerUnit > 0) return {units.distanceFromMetres(metresPerUnit), units.distanceLabel()};
    return {1, std::string(channelUnit)};
}

ShownUnit shownUnit(std::string_view channelName, std::string_view channelUnit, const Units& units) {
    // The name ends in "(unit)".
    const std::size_t n = channelUnit.size() + 2;
    if (!channelUnit.empty() && channelName.size() > n && channelName.back() == ')' &&
        channelName[channelName.size() - n] == '(' &&
        channelName.substr(channelName.size() - n + 1, channelUnit.size()) == channelUnit)
        return {1, std::string(channelUnit)};
    return shownUnit(channelUnit, units);
}

} // namespace lorvane
