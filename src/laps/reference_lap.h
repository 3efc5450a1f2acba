// The chosen lap, re-read from its log and thinned to one point a second by
// the log's clock, plus the last sample.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "formats/sample.h"
#include "formats/text_log.h"

namespace lorvane {

struct GeoPoint {
    double lat = 0;     // minutes, north positive
    double lon = 0;     // minutes, east positive
    double elapsed = 0; // seconds since the lap's first sample, by the log's clock
};

// Most points a reference file may hold (a lap of 5000 s).
inline constexpr std::int32_t kMaxRefPoints = 5001;

// Points for a lap of n samples taken ten a second: floor((n - 1) / 10) + 2.
std::int64_t thinnedPointCount(std::int64_t samples);

// Thins the lap's samples (given in order) into reference points: the first
// sample, then each sample that is the first to reach a whole second of
// elapsed time not reached before (after a gap of several seconds, one), then
// the last sample again. At ten samples a second that is every tenth sample.
class LapThinner {
public:
    explicit LapThinner(int ticksPerSecond = 100) : tps_(ticksPerSecond > 0 ? ticksPerSecond : 100) {}
    // `clock`: the sample's time in the log's ticks.
    void add(double lat, double lon, std::int64_t clock);
    std::vector<GeoPoint> finish(); // appends the last sample once more
    // Points so far, the last sample's repeat not counted.
    std::size_t size() const { return points_.size(); }

private:
    std::int64_t tps_;
    std::vector<GeoPoint> points_;
    GeoPoint last_;
    std::int64_t firstClock_ = 0;
    std::int64_t reached_ = 0; // whole seconds reached so far
    bool any_ = false;
};

// What the lap re-read needs to know of the load.
struct LapSource {
    LogKind kind = LogKind::Text;
    std::string path;
    TextLogColumns columns; // text and CSV log: the columns the load found
    int recordLength = 0;   // binary log: the record length the load found
    std::int32_t firstSample = 0;
    std::int32_t lastSample = 0;
    int ticksPerSecond = 100; // resolution of the log's clock
};

// Re-reads samples firstSample..lastSample with the reader's own rules and
// returns the thinned points. Throws LoadError when the log no longer matches
// (gone, shorter than the lap, a different header, a bad number in the lap) or
// the lap needs more than kMaxRefPoints points (found before the read ends).
std::vector<GeoPoint> readReferenceLap(const LapSource& src);
// The same, reading the log's bytes from `bytes` instead of src.path.
std::vector<GeoPoint> readReferenceLap(const LapSource& src, ByteSource& bytes);

} // namespace lorvane
