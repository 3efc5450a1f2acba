// The rules a gate crossing must meet to count, chosen by the user and applied
// to the start gate and the finish gate alike.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace lorvane {

enum class GateDirection {
    Both,    // either way across the line
    Forward, // from the side away from point 2 towards point 2's side
    Reverse, // the other way
};

struct GateRules {
    GateDirection direction = GateDirection::Both;
    // Half-length of the gate segment centred on point 1, in metres, measured
    // at the crossing point. Unset: the sample after the line must lie within
    // 25 m of point 1.
    std::optional<double> gateWidth;
    // A crossing less than this many seconds after the previous counted one is
    // ignored altogether.
    double minLap = 0;
    // A pause in the recording: no fix for more than this many seconds ends a
    // run. No crossing is placed across it and no lap spans it. 0 or less: no
    // limit.
    double maxGap = 10;

    bool operator==(const GateRules&) const = default;
};

inline std::string_view directionName(GateDirection d) {
    switch (d) {
    case GateDirection::Forward: return "forward";
    case GateDirection::Reverse: return "reverse";
    case GateDirection::Both: break;
    }
    return "both";
}

inline std::optional<GateDirection> parseDirection(std::string_view s) {
    if (s == "both") return GateDirection::Both;
    if (s == "forward") return GateDirection::Forward;
    if (s == "reverse") return GateDirection::Reverse;
    return std::nullopt;
}

} // namespace lorvane
