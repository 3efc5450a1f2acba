#include "laps/lap_segmenter.h"

#include "laps/lap_time_text.h"

namespace lorvane {

void LapSegmenter::reset(const StartFinish& gates, LogKind kind) {
    gates_ = gates;
    kind_ = kind;
    gatesLocal_ = false;
    cur_ = prev_ = LocalPoint{};
    havePrevCross_ = false;
    prevCrossTime_ = 0;
    crossOffset_ = 0;
    crossings_.clear();
    laps_.clear();
    bestLap_ = 0;
    bestLapTime_ = kNoBest;
    lastWasBest_ = false;
}

const Lap* LapSegmenter::step(const LocalPlane& plane, const Sample& s) {
    prev_ = cur_;
    cur_ = plane.toLocal(s.lat, s.lon);
    if (!gatesLocal_) {
        // The base point does not move within a load, so neither do the gates.
        start1_ = plane.toLocal(gates_.start.lat1, gates_.start.long1);
        start2_ = plane.toLocal(gates_.start.lat2, gates_.start.long2);
        finish1_ = plane.toLocal(gates_.finish.lat1, gates_.finish.long1);
        finish2_ = plane.toLocal(gates_.finish.lat2, gates_.finish.long2);
        gatesLocal_ = true;
    }
    bool crossed = virtual_gate(start2_.east, start1_.east, start2_.north, start1_.north, cur_.east, cur_.north,
                                prev_.east, prev_.north, crossOffset_);
    if (!crossed)
        crossed = virtual_gate(finish2_.east, finish1_.east, finish2_.north, finish1_.north, cur_.east,
                               cur_.north, prev_.east, prev_.north, crossOffset_);
    if (!crossed) return nullptr;

    const double c = s.time - crossOffset_;
    crossings_.push_back(Crossing{s.index, crossOffset_, c});
    const Lap* completed = nullptr;
    lastWasBest_ = false;
    if (havePrevCross_) {
        const auto n = static_cast<std::int32_t>(crossings_.size()) - 1;
        double t = c - prevCrossTime_;
        if (t < 0) t += 86400; // the log's clock went past midnight
        Lap lap;
        lap.number = n;
        lap.startSample = crossings_[static_cast<std::size_t>(n) - 1].sample;
        lap.endSample = s.index;
        lap.time = t;
        lap.line = lapListLine(n, t, kind_);
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
