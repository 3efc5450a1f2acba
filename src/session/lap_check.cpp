#include "session/lap_check.h"

#include <algorithm>
#include <cmath>

#include "session/session.h"

namespace lorvane {

std::optional<std::vector<std::int32_t>> splitLaps(const std::vector<Lap>& laps) {
    if (laps.size() < 2) return std::nullopt;
    std::vector<double> times;
    for (const Lap& l : laps) times.push_back(l.time);
    std::vector<double> sorted = times;
    std::sort(sorted.begin(), sorted.end());
    const double median = sorted.size() % 2 ? sorted[sorted.size() / 2]
                                            : (sorted[sorted.size() / 2 - 1] + sorted[sorted.size() / 2]) / 2;
    std::vector<std::int32_t> out;
    for (const Lap& l : laps)
        if (l.time < 0.4 * median) out.push_back(l.number);
    if (out.empty() && laps.size() >= 4) {
        // Short and long alternating: every lap of one parity under half of
        // both its neighbours.
        for (std::size_t parity = 0; parity < 2 && out.empty(); ++parity) {
            bool all = true;
            std::vector<std::int32_t> shorts;
            for (std::size_t i = parity; i < times.size(); i += 2) {
                const bool leftOk = i == 0 || times[i] < 0.5 * times[i - 1];
                const bool rightOk = i + 1 >= times.size() || times[i] < 0.5 * times[i + 1];
                if (!leftOk || !rightOk) {
                    all = false;
                    break;
                }
                shorts.push_back(laps[i].number);
            }
            if (all && shorts.size() >= 2) out = shorts;
        }
    }
    if (out.empty()) return std::nullopt;
    return out;
}

std::optional<SplitLaps> checkSplitLaps(const LoadedLog& log) {
    auto suspects = splitLaps(log.laps);
    if (!suspects) return std::nullopt;
    SplitLaps r;
    r.laps = *suspects;
    if (!log.track) return r;
    // One direction only: the one that keeps more laps without the sign.
    std::size_t bestCount = 0;
    for (GateDirection d : {GateDirection::Forward, GateDirection::Reverse}) {
        GateRules rules = log.rules;
        rules.direction = d;
        const auto cut = recut(log, log.startFinish, rules);
        if (cut->laps.empty() || splitLaps(cut->laps)) continue;
        if (cut->laps.size() > bestCount) {
            bestCount = cut->laps.size();
            r.remedy = rules;
            r.remedyText = d == GateDirection::Forward ? "count forward crossings only"
                                                       : "count reverse crossings only";
        }
    }
    if (r.remedy) return r;
    // Else a minimum lap time of half the longer laps.
    std::vector<double> times;
    for (const Lap& l : log.laps) times.push_back(l.time);
    std::sort(times.begin(), times.end());
    GateRules rules = log.rules;
    rules.minLap = std::floor(times.back() * 0.5);
    if (rules.minLap > log.rules.minLap) {
        const auto cut = recut(log, log.startFinish, rules);
        if (!cut->laps.empty() && !splitLaps(cut->laps)) {
            r.remedy = rules;
            r.remedyText = "ignore laps under " + std::to_string(static_cast<long long>(rules.minLap)) + " s";
        }
    }
    return r;
}

} // namespace lorvane
