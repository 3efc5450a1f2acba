// Cutting a stream of samples into laps at gate crossings.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "formats/sample.h"
#include "formats/start_finish.h"
#include "laps/gate_rules.h"
#include "laps/local_plane.h"

namespace lorvane {

struct Crossing {
    std::int32_t sample = 0; // index of the sample at which it was detected
    double offset = 0;       // seconds from the crossing back from that sample
    double time = 0;         // crossing time on the log's clock
    bool forward = true;     // towards the gate's point 2
    double distance = 0;     // metres from the gate's point 1 to the crossing point
    bool finishGate = false; // crossed the finish gate rather than the start gate
};

struct Lap {
    std::int32_t number = 0;      // from 1
    std::int32_t startSample = 0; // sample of the crossing that opened it
    std::int32_t endSample = 0;   // sample of the crossing that closed it
    double time = 0;              // seconds
    std::string line;             // the lap list line
    // Index in the crossing list of the crossing that opened it (the next one
    // closed it); -1 when unknown. Not the lap number less one: the crossing
    // that opens a run closes no lap.
    std::int32_t openingCrossing = -1;
};

// A stretch of the recording without a pause: samples and times as the lap
// step saw them.
struct Run {
    std::int32_t firstSample = 0, lastSample = 0;
    double firstTime = 0, lastTime = 0;

    bool operator==(const Run&) const = default;
};

// Per-load lap state: the lap reset, the lap step and the tables it fills.
class LapSegmenter {
public:
    // `ticksPerSecond`: the resolution of the samples' clock.
    void reset(const StartFinish& gates, LogKind kind, const GateRules& rules = {}, int ticksPerSecond = 100);

    // The lap step for one sample (run only once a base point exists).
    // Returns the lap completed at this sample, if any.
    const Lap* step(const LocalPlane& plane, const Sample& s);
    // The same for a sample already in the local plane (the gates are placed
    // with `plane` on the first step).
    const Lap* step(const LocalPlane& plane, LocalPoint at, double time, std::int64_t clock, std::int32_t index);

    // The resolution of the samples' clock, once the log's header has told it.
    void setTicksPerSecond(int ticksPerSecond) { ticksPerSecond_ = ticksPerSecond > 0 ? ticksPerSecond : 100; }

    // Position of the latest sample converted by the lap step.
    LocalPoint current() const { return cur_; }
    // False when the last sample offered was passed over: its clock repeats
    // the previous stepped sample's.
    bool lastStepped() const { return lastStepped_; }

    const std::vector<Crossing>& crossings() const { return crossings_; }
    const std::vector<Lap>& laps() const { return laps_; }
    // The runs so far: a new one starts after a pause longer than the
    // rules' maxGap.
    const std::vector<Run>& runs() const { return runs_; }
    std::int32_t bestLap() const { return bestLap_; }
    double bestLapTime() const { return bestLapTime_; }
    // True when the lap last returned by step() became the fastest.
    bool lastWasBest() const { return lastWasBest_; }
    // Metres from the start gate's point 1 (and the finish gate's, when the
    // file has one) to the nearest sample stepped; nullopt before any step.
    std::optional<double> nearestToStart() const;
    std::optional<double> nearestToFinish() const;

    static constexpr double kNoBest = 9999999.0;

private:
    // Seconds from the previous sample of the lap step to this one.
    double interval(std::int64_t clock);

    StartFinish gates_;
    LogKind kind_ = LogKind::Text;
    GateRules rules_;
    std::int64_t ticksPerSecond_ = 100;
    bool havePrevClock_ = false;
    std::int64_t prevClock_ = 0;
    // The gate points in the local plane; fixed once the load has its base point.
    bool gatesLocal_ = false;
    LocalPoint start1_, start2_, finish1_, finish2_;
    LocalPoint cur_, prev_;
    bool havePrevCross_ = false;
    double prevCrossTime_ = 0;
    double crossOffset_ = 0;
    std::vector<Crossing> crossings_;
    std::vector<Lap> laps_;
    std::vector<Run> runs_;
    bool lastStepped_ = false;
    std::int32_t bestLap_ = 0;
    double bestLapTime_ = kNoBest;
    bool lastWasBest_ = false;
    double nearestStart2_ = -1, nearestFinish2_ = -1; // squared; negative before any step
};

} // namespace lorvane
