#include "laps/lap_segmenter.h"

#include <cmath>

#include "laps/lap_time_text.h"

namespace lorvane {

void LapSegmenter::reset(const StartFinish& gates, LogKind kind, const GateRules& rules, int ticksPerSecond) {
    gates_ = gates;
    kind_ = kind;
    rules_ = rules;
    ticksPerSecond_ = ticksPerSecond > 0 ? ticksPerSecond : 100;
    havePrevClock_ = false;
    prevClock_ = 0;
    gatesLocal_ = false;
    cur_ = prev_ = LocalPoint{};
    havePrevCross_ = false;
    prevCrossTime_ = 0;
    crossOffset_ = 0;
    crossings_.clear();
    laps_.clear();
    runs_.clear();
    lastStepped_ = false;
    bestLap_ = 0;
    bestLapTime_ = kNoBest;
    lastWasBest_ = false;
    nearestStart2_ = nearestFinish2_ = -1;
}

std::optional<double> LapSegmenter::nearestToStart() const {
    if (nearestStart2_ < 0) return std::nullopt;
    return std::sqrt(nearestStart2_);
}

std::optional<double> LapSegmenter::nearestToFinish() const {
    if (nearestFinish2_ < 0 || !gates_.hasFinishLine) return std::nullopt;
    return std::sqrt(nearestFinish2_);
}

double LapSegmenter::interval(std::int64_t clock) {
    const bool first = !havePrevClock_;
    const std::int64_t prev = prevClock_;
    havePrevClock_ = true;
    prevClock_ = clock;
    // The first lap step of a load has no previous time.
    if (first) return kSampleInterval;
    const std::int64_t day = 86400 * ticksPerSecond_;
    std::int64_t d = clock - prev;
    if (d < -day / 2) d += day; // the clock passed midnight
    if (d < 0) d = 0;           // a clock stepping back
    return static_cast<double>(d) / static_cast<double>(ticksPerSecond_);
}

const Lap* LapSegmenter::step(const LocalPlane& plane, const Sample& s) {
    return step(plane, plane.toLocal(s.lat, s.lon), s.time, s.clock, s.index);
}

const Lap* LapSegmenter::step(const LocalPlane& plane, LocalPoint at, double time, std::int64_t clock,
                              std::int32_t index) {
    // A fix whose time repeats the last stepped one's is passed over: some
    // apps write the sample at a lap boundary twice, once for each lap, and
    // the second copy (on either side of the line) would make a crossing of
    // its own. The first copy is kept, so that the pass is timed from the
    // samples as recorded before it.
    lastStepped_ = !havePrevClock_ || clock != prevClock_;
    if (!lastStepped_) return nullptr;
    prev_ = cur_;
    cur_ = at;
    if (!gatesLocal_) {
        // The base point does not move within a load, so neither do the gates.
        start1_ = plane.toLocal(gates_.start.lat1, gates_.start.long1);
        start2_ = plane.toLocal(gates_.start.lat2, gates_.start.long2);
        finish1_ = plane.toLocal(gates_.finish.lat1, gates_.finish.long1);
        finish2_ = plane.toLocal(gates_.finish.lat2, gates_.finish.long2);
        gatesLocal_ = true;
    }
    {
        const auto closer = [&](double& best, LocalPoint g) {
            const double de = cur_.east - g.east, dn = cur_.north - g.north, d2 = de * de + dn * dn;
            if (best < 0 || d2 < best) best = d2;
        };
        closer(nearestStart2_, start1_);
        closer(nearestFinish2_, finish1_);
    }
    const double dt = interval(clock);
    if (runs_.empty() || (rules_.maxGap > 0 && dt > rules_.maxGap)) {
        // A pause ends the run: nothing is timed across it, and the crossing
        // before it opens no lap.
        runs_.push_back(Run{index, index, time, time});
        havePrevCross_ = false;
        if (runs_.size() > 1) return nullptr;
    }
    runs_.back().lastSample = index;
    runs_.back().lastTime = time;
    // A crossing too soon after the previous one is ignored altogether, and
    // the finish gate is then not tried for this sample.
    auto tooSoon = [&](const GateCrossing& g) {
        if (!havePrevCross_ || !(rules_.minLap > 0)) return false;
        double t = (time - g.offset) - prevCrossTime_;
        if (t < 0) t += 86400;
        return t < rules_.minLap;
    };
    bool finish = false;
    std::optional<GateCrossing> crossing = crossGate(start1_, start2_, cur_, prev_, dt, rules_);
    if (crossing && tooSoon(*crossing)) return nullptr;
    if (!crossing) {
        crossing = crossGate(finish1_, finish2_, cur_, prev_, dt, rules_);
        if (crossing && tooSoon(*crossing)) return nullptr;
        finish = true;
    }
    if (!crossing) return nullptr;
    crossOffset_ = crossing->offset;

    const double c = time - crossOffset_;
    crossings_.push_back(Crossing{index, crossOffset_, c, crossing->forward, crossing->distance, finish});
    const Lap* completed = nullptr;
    lastWasBest_ = false;
    if (havePrevCross_) {
        // Laps are numbered on across runs.
        const auto n = static_cast<std::int32_t>(laps_.size()) + 1;
        const auto opening = static_cast<std::int32_t>(crossings_.size()) - 2;
        double t = c - prevCrossTime_;
        if (t < 0) t += 86400; // the log's clock went past midnight
        Lap lap;
        lap.number = n;
        lap.startSample = crossings_[static_cast<std::size_t>(opening)].sample;
        lap.endSample = index;
        lap.time = t;
        lap.line = lapListLine(n, t, kind_);
        lap.openingCrossing = opening;
        laps_.push_back(std::move(lap));
        completed = &laps_.back();
        if (t < bestLapTime_) {
            bestLapTime_ = t;
            bestLap_ = n;
            lastWasBest_ = true;
        }
    }
    prevCrossTime_ = c;
    havePrevCross_ = true;
    return completed;
}

} // namespace lorvane
