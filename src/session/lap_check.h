// A look at a load's laps for the sign that the track crosses a gate more
// than once a lap (a return leg passing close to the line): laps that come
// out split into a short and a long part. Offers the rules that join them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "laps/gate_rules.h"
#include "session/loaded_log.h"

namespace lorvane {

struct SplitLaps {
    std::vector<std::int32_t> laps; // the suspect laps, from 1
    // Rules that give laps without that sign, when some do; a re-cut with
    // them is what the user is offered.
    std::optional<GateRules> remedy;
    std::string remedyText; // "count forward crossings only", ...
};

// True when some laps are under 40 % of the median lap, or short and long
// laps alternate (every other lap under half of its neighbours).
std::optional<std::vector<std::int32_t>> splitLaps(const std::vector<Lap>& laps);

// Whether `cut`, the laps a remedy cuts from a log whose laps `before` look
// split, are believable: none of them looks split, on its own or beside the
// laps of `before` that did not look split (a remedy joins laps; it does not
// make them shorter than those).
bool fixedLapsPlausible(const std::vector<Lap>& before, const std::vector<Lap>& cut);

// Why a load that ended well found no lap, in words for the user ("no base
// point ...", "the track never comes within 25 m of the start/finish line's
// point 1 (nearest: 1843 m)", "the start/finish line is crossed only once");
// empty when it has laps.
std::string noLapReason(const LoadedLog& log);

// The check and, when the log kept its track, the remedy: one direction
// only other than the one in force (the one that keeps more laps), else a
// minimum lap time; each is tried by cutting the laps again, and only one
// whose laps are plausible (fixedLapsPlausible) is offered.
std::optional<SplitLaps> checkSplitLaps(const LoadedLog& log);

} // namespace lorvane
