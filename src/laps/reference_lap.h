// The chosen lap, re-read from its log and thinned to one point per ten
// samples plus the last.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "formats/sample.h"
#include "formats/text_log.h"

namespace lorvane {

struct GeoPoint {
    double lat = 0; // minutes, north positive
    double lon = 0; // minutes, east positive
};

// Most points a reference file may hold (a lap of 50,000 samples).
inline constexpr std::int32_t kMaxRefPoints = 5001;

// Points for a lap of n samples: floor((n - 1) / 10) + 2.
std::int64_t thinnedPointCount(std::int64_t samples);

// Thins the lap's samples (given in order) into reference points.
class LapThinner {
public:
    void add(double lat, double lon);
    std::vector<GeoPoint> finish(); // appends the last sample once more

private:
    std::vector<GeoPoint> points_;
    GeoPoint last_;
    int phase_ = 0;
    bool any_ = false;
};

// What the lap re-read needs to know of the load.
struct LapSource {
    LogKind kind = LogKind::Text;
    std::string path;
    TextLogColumns columns;     // text and CSV log: the columns the load found
    int recordLength = 0;       // binary log: the record length the load found
    std::int32_t firstSample = 0;
    std::int32_t lastSample = 0;
};

// Re-reads samples firstSample..lastSample with the reader's own rules and
// returns the thinned points. Throws LoadError when the log no longer matches
// (gone, shorter than the lap, a different header, a bad number in the lap) or
// the lap needs more than kMaxRefPoints points.
std::vector<GeoPoint> readReferenceLap(const LapSource& src);
// The same, reading the log's bytes from `bytes` instead of src.path.
std::vector<GeoPoint> readReferenceLap(const LapSource& src, ByteSource& bytes);

} // namespace lorvane
