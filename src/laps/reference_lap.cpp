#include "laps/reference_lap.h"

#include <algorithm>

#include "formats/any_log.h"
#include "formats/diagnostic.h"

namespace lorvane {

std::int64_t thinnedPointCount(std::int64_t samples) {
    return samples <= 0 ? 0 : (samples - 1) / 10 + 2;
}

void LapThinner::add(double lat, double lon, std::int64_t clock) {
    if (!any_) {
        any_ = true;
        firstClock_ = clock;
        last_ = GeoPoint{lat, lon, 0};
        points_.push_back(last_);
        return;
    }
    // Elapsed ticks, with the lap step's rules for midnight and a clock
    // stepping back.
    const std::int64_t day = 86400 * tps_;
    std::int64_t e = clock - firstClock_;
    if (e < -day / 2) e += day;
    if (e < 0) e = 0;
    // A clock that steps back inside the lap must not give the closing
    // point a stamp before the points already taken.
    const double elapsed = std::max(static_cast<double>(e) / static_cast<double>(tps_), points_.back().elapsed);
    last_ = GeoPoint{lat, lon, elapsed};
    if (e / tps_ > reached_) {
        reached_ = e / tps_;
        points_.push_back(last_);
    }
}

std::vector<GeoPoint> LapThinner::finish() {
    if (any_) points_.push_back(last_);
    return std::move(points_);
}

namespace {

class LapCollector : public SampleSink {
public:
    LapCollector(std::int32_t first, std::int32_t last, int ticksPerSecond, const std::string& path)
        : first_(first), last_(last), thinner_(ticksPerSecond), path_(path) {}
    bool sample(const Sample& s) override {
        if (s.index < first_) return true;
        thinner_.add(s.lat, s.lon, s.clock);
        // The last sample comes on top of these.
        if (thinner_.size() > static_cast<std::size_t>(kMaxRefPoints) - 1)
            fail(ErrorKind::Invalid,
                 "The lap is longer than " + std::to_string(kMaxRefPoints - 1) + " s; a reference lap holds at most " +
                     std::to_string(kMaxRefPoints) + " points, one a second",
                 path_);
        ++seen_;
        return s.index < last_;
    }
    std::int64_t seen() const { return seen_; }
    std::vector<GeoPoint> finish() { return thinner_.finish(); }

private:
    std::int32_t first_, last_;
    std::int64_t seen_ = 0;
    LapThinner thinner_;
    std::string path_;
};

} // namespace

std::vector<GeoPoint> readReferenceLap(const LapSource& src) {
    FileSource file(src.path);
    return readReferenceLap(src, file);
}

std::vector<GeoPoint> readReferenceLap(const LapSource& src, ByteSource& bytes) {
    const std::int64_t n = static_cast<std::int64_t>(src.lastSample) - src.firstSample + 1;
    if (src.firstSample < 0 || n < 1) fail(ErrorKind::Invalid, "The lap has no samples", src.path);
    LapCollector collector(src.firstSample, src.lastSample, src.ticksPerSecond, bytes.name());
    LogLayout expected;
    expected.latColumn = src.columns.lat;
    expected.longColumn = src.columns.lon;
    expected.timeColumn = src.columns.time;
    expected.satColumn = src.columns.sats;
    expected.recordLength = src.recordLength;
    readAnyLog(src.kind, bytes, collector, &expected);
    if (collector.seen() < n)
        fail(ErrorKind::Changed, "The log has changed since it was loaded: it ends before the lap's last sample",
             src.path);
    return collector.finish();
}

} // namespace lorvane
