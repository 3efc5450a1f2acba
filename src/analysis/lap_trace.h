// One lap laid out along its own path: distance from the opening crossing,
// time into the lap and speed at every sample, and where the path lies in the
// local plane. The definitions are in docs/analysis.md.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "laps/lap_segmenter.h"
#include "laps/local_plane.h"
#include "track/track.h"

namespace lorvane {

// Half-width of the speed smoothing window, in seconds: at ten samples a
// second the speed at a sample spans the two samples either side.
inline constexpr double kSpeedHalfWindow = 0.25;

// A stretch of the path that no vehicle could have driven is a jump of the
// fix, not speed: longer by more than kJumpSlack metres than the speed of the
// path either side, raised at kJumpAcceleration, allows. See docs/analysis.md.
inline constexpr double kJumpAcceleration = 3 * 9.80665; // m/s², 3 g
inline constexpr double kJumpSlack = 2.0;                // metres

struct TracePoint {
    double distance = 0; // metres along the lap's path from the opening crossing
    double time = 0;     // seconds into the lap
    double speed = 0;    // km/h: the log's own where it has one, else smoothed
    double east = 0;     // local plane, metres
    double north = 0;
    std::int32_t sample = -1; // the sample's index in the log; -1 for the two crossing points
};

struct LapTrace {
    std::int32_t lap = 0;
    double time = 0;     // lap time, seconds
    double distance = 0; // lap distance, metres (that of the last point)
    double maxSpeed = 0; // km/h, the highest point speed
    // The opening crossing point, the lap's samples, the closing crossing
    // point. Empty when the lap's samples are not in the track.
    std::vector<TracePoint> points;

    bool empty() const { return points.empty(); }
};

// Position in track.samples of the sample with log index `sample`, if the
// track holds it.
std::optional<std::size_t> trackIndex(const Track& track, std::int32_t sample);

// The crossings that open and close `lap`, if the list holds them.
struct LapCrossings {
    const Crossing* open = nullptr;
    const Crossing* close = nullptr;
};
std::optional<LapCrossings> findLapCrossings(const std::vector<Crossing>& crossings, const Lap& lap);

// Seconds between track sample i - 1 and sample i as the lap step measures
// them, from the log's clock: a clock that passed midnight in between gains a
// day, one stepping back gives 0. 0 for the first sample.
double sampleInterval(const Track& track, std::size_t i);

// Where a crossing lies: on the segment from the sample before its detection
// sample to the detection sample, `offset` seconds back from the latter,
// taking the measured time between the two samples.
LocalPoint crossingPoint(const Track& track, std::size_t detection, double offset);

// Lays out `lap`, opened by `open` and closed by `close`, along its path. Each
// point takes the speed the log recorded for its sample (the crossing points
// one interpolated between the samples either side); points without one
// take the smoothed speed.
LapTrace traceLap(const Track& track, const Lap& lap, const Crossing& open, const Crossing& close);

// Recomputes the smoothed speeds and the top speed of a trace from its
// distances and times, leaving jumps of the fix out.
void smoothSpeeds(LapTrace& trace);

// Index of the first point whose distance reaches `d` (d in [0, distance]).
std::size_t pointAtOrAfter(const LapTrace& trace, double d);

// Time into the lap at distance `d` along it, linear between points; empty
// outside [0, lap distance] or for an empty trace.
std::optional<double> timeAtDistance(const LapTrace& trace, double d);

// Position at distance `d` (clamped to the lap), linear between points.
LocalPoint positionAtDistance(const LapTrace& trace, double d);

} // namespace lorvane
