#include "session/lap_check.h"

#include <algorithm>
#include <cmath>

#include "formats/numbers.h"
#include "session/session.h"

namespace lorvane {

std::string noLapReason(const LoadedLog& log) {
    const LoadReport& r = log.report;
    if (!log.laps.empty()) return {};
    if (!log.hasBase) return "no base point (too few samples with four or more satellites)";
    if (r.crossingCount == 1)
        return "the start/finish line is crossed only once; a lap runs from one crossing to the next";
    std::optional<double> nearest = r.nearestToStart;
    if (r.nearestToFinish && (!nearest || *r.nearestToFinish < *nearest)) nearest = r.nearestToFinish;
    if (!nearest) return "no sample reached the lap step";
    const bool twoLines = log.startFinish.gates.hasFinishLine;
    const std::string line = twoLines ? "the start or finish line's point 1" : "the start/finish line's point 1";
    const auto metres = [](double d) {
        return d >= 10000 ? formatFixed(d / 1000, 1, 0) + " km" : formatFixed(d, 1, d < 100 ? 1 : 0) + " m";
    };
    const double reach = log.rules.gateWidth.value_or(kGateRadius);
    if (*nearest > reach)
        return "the track never comes within " + formatRoundTrip(reach) + " m of " + line +
               " (nearest: " + metres(*nearest) + ")";
    std::string s = "the track comes within " + metres(*nearest) + " of " + line + " but never crosses the line";
    if (log.rules.direction != GateDirection::Both)
        s += " in the direction the gate rules ask (" + std::string(directionName(log.rules.direction)) + ")";
    return s;
}

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

bool fixedLapsPlausible(const std::vector<Lap>& before, const std::vector<Lap>& cut) {
    if (cut.empty() || splitLaps(cut)) return false;
    // The laps of `before` that did not look split are the yardstick: a lap of
    // the remedy that the same check flags beside them is a piece, not a lap.
    const auto suspects = splitLaps(before);
    std::vector<Lap> trusted;
    for (const Lap& l : before)
        if (!suspects || std::find(suspects->begin(), suspects->end(), l.number) == suspects->end())
            trusted.push_back(l);
    if (trusted.empty()) return true;
    const auto byTime = [](const Lap& a, const Lap& b) { return a.time < b.time; };
    std::sort(trusted.begin(), trusted.end(), byTime);
    for (const Lap& l : cut) {
        std::vector<Lap> beside = trusted;
        Lap probe = l;
        probe.number = -1;
        // Sorted by time, so that only a short lap is flagged, never an alternation.
        beside.insert(std::lower_bound(beside.begin(), beside.end(), probe, byTime), probe);
        const auto flagged = splitLaps(beside);
        if (flagged && std::find(flagged->begin(), flagged->end(), -1) != flagged->end()) return false;
    }
    return true;
}

std::optional<SplitLaps> checkSplitLaps(const LoadedLog& log) {
    auto suspects = splitLaps(log.laps);
    if (!suspects) return std::nullopt;
    SplitLaps r;
    r.laps = *suspects;
    if (!log.track) return r;
    // One direction only: the one that keeps more laps that hold up.
    std::size_t bestCount = 0;
    for (GateDirection d : {GateDirection::Forward, GateDirection::Reverse}) {
        if (d == log.rules.direction) continue;
        GateRules rules = log.rules;
        rules.direction = d;
        const auto cut = recut(log, log.startFinish, rules);
        if (!fixedLapsPlausible(log.laps, cut->laps) || cut->laps.size() <= bestCount) continue;
        bestCount = cut->laps.size();
        r.remedy = rules;
        r.remedyText = d == GateDirection::Forward ? "count forward crossings only" : "count reverse crossings only";
    }
    if (r.remedy) return r;
    // Else a minimum lap time of half the longest lap.
    double longest = 0;
    for (const Lap& l : log.laps) longest = std::max(longest, l.time);
    GateRules rules = log.rules;
    rules.minLap = std::floor(longest * 0.5);
    if (rules.minLap > log.rules.minLap) {
        const auto cut = recut(log, log.startFinish, rules);
        if (fixedLapsPlausible(log.laps, cut->laps)) {
            r.remedy = rules;
            r.remedyText = "ignore laps under " + std::to_string(static_cast<long long>(rules.minLap)) + " s";
        }
    }
    return r;
}

} // namespace lorvane
