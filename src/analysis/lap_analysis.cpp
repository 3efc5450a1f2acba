#include "analysis/lap_analysis.h"

#include <algorithm>

#include "analysis/split_lines.h"

namespace lorvane {

namespace {

LapTrace traceOf(const Track& track, const Lap& lap, const std::vector<Crossing>& crossings) {
    const auto c = findLapCrossings(crossings, lap);
    if (!c) {
        LapTrace t;
        t.lap = lap.number;
        t.time = lap.time;
        return t;
    }
    return traceLap(track, lap, *c->open, *c->close);
}

bool traceable(const Track& track, const Lap& lap, const std::vector<Crossing>& crossings) {
    const auto c = findLapCrossings(crossings, lap);
    if (!c) return false;
    const auto a = trackIndex(track, c->open->sample), b = trackIndex(track, c->close->sample);
    return a && b && *b > *a;
}

const Lap* lapNumbered(const std::vector<Lap>& laps, std::int32_t n) {
    if (n >= 1 && static_cast<std::size_t>(n) <= laps.size() && laps[static_cast<std::size_t>(n) - 1].number == n)
        return &laps[static_cast<std::size_t>(n) - 1];
    auto it = std::find_if(laps.begin(), laps.end(), [n](const Lap& l) { return l.number == n; });
    return it == laps.end() ? nullptr : &*it;
}

} // namespace

std::int32_t fastestTracedLap(const Track& track, const std::vector<Lap>& laps,
                              const std::vector<Crossing>& crossings) {
    const Lap* best = nullptr;
    for (const Lap& l : laps)
        if ((!best || l.time < best->time) && traceable(track, l, crossings)) best = &l;
    return best ? best->number : 0;
}

LapTrace traceLapNumber(const Track& track, const std::vector<Lap>& laps, const std::vector<Crossing>& crossings,
                        std::int32_t lap) {
    const Lap* l = lapNumbered(laps, lap);
    if (!l) return LapTrace{};
    return traceOf(track, *l, crossings);
}

LapAnalysis analyseLaps(const Track& track, const std::vector<Lap>& laps, const std::vector<Crossing>& crossings,
                        int sectors, std::int32_t referenceLap, const SplitSectors& splits) {
    LapAnalysis a;
    a.sectorCount = std::clamp(sectors, 1, kMaxSectors);
    const Lap* ref = referenceLap ? lapNumbered(laps, referenceLap) : nullptr;
    if (!ref || !traceable(track, *ref, crossings)) ref = lapNumbered(laps, fastestTracedLap(track, laps, crossings));
    if (ref) {
        a.referenceLap = ref->number;
        const LapTrace reference = traceOf(track, *ref, crossings);
        if (!splits.lines.empty()) {
            a.splits = splits.lines;
            if (splits.reverse)
                for (Gate& g : a.splits) {
                    g.lat2 = 2 * g.lat1 - g.lat2;
                    g.long2 = 2 * g.long1 - g.long2;
                }
            a.lines = splitSectorLines(a.splits, splits.plane, reference);
        }
        if (!a.lines.empty())
            a.sectorCount = static_cast<int>(a.lines.size()) + 1;
        else
            a.splits.clear(); // none lies on the reference lap: equal distances as without them
        if (a.splits.empty()) a.lines = sectorLines(reference, a.sectorCount);
    }

    std::vector<std::int32_t> numbers;
    std::vector<std::vector<std::optional<double>>> times;
    a.laps.reserve(laps.size());
    LapTrace t; // one lap at a time
    for (const Lap& l : laps) {
        LapSummary s;
        s.lap = l.number;
        s.time = l.time;
        t = traceOf(track, l, crossings);
        s.sectors.assign(static_cast<std::size_t>(a.sectorCount), std::nullopt);
        if (!t.empty()) {
            s.traced = true;
            s.distance = t.distance;
            s.maxSpeed = t.maxSpeed;
            if (ref) s.sectors = sectorTimes(t, a.lines);
        }
        numbers.push_back(s.lap);
        times.push_back(s.sectors);
        a.laps.push_back(std::move(s));
    }
    a.table = bestSectors(numbers, times, a.sectorCount);
    return a;
}

LapAnalysis analyseLaps(const LoadedLog& log, int sectors, std::int32_t referenceLap) {
    const SplitSectors splits{log.startFinish.splits, log.plane, log.rules.direction == GateDirection::Reverse};
    static const Track kNone;
    return analyseLaps(log.track ? *log.track : kNone, log.laps, log.crossings, sectors, referenceLap, splits);
}

} // namespace lorvane
