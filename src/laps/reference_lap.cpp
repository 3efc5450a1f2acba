#include "laps/reference_lap.h"

#include "formats/any_log.h"
#include "formats/diagnostic.h"

namespace lorvane {

std::int64_t thinnedPointCount(std::int64_t samples) { return samples <= 0 ? 0 : (samples - 1) / 10 + 2; }

void LapThinner::add(double lat, double lon) {
    if (phase_ == 0) points_.push_back(GeoPoint{lat, lon});
    if (++phase_ == 10) phase_ = 0;
    last_ = GeoPoint{lat, lon};
    any_ = true;
}

std::vector<GeoPoint> LapThinner::finish() {
    if (any_) points_.push_back(last_);
    return std::move(points_);
}

namespace {

class LapCollector : public SampleSink {
public:
    LapCollector(std::int32_t first, std::int32_t last) : first_(first), last_(last) {}
    bool sample(const Sample& s) override {
        if (s.index < first_) return true;
        thinner_.add(s.lat, s.lon);
        ++seen_;
        return s.index < last_;
    }
    std::int64_t seen() const { return seen_; }
    std::vector<GeoPoint> finish() { return thinner_.finish(); }

private:
    std::int32_t first_, last_;
    std::int64_t seen_ = 0;
    LapThinner thinner_;
};

} // namespace

std::vector<GeoPoint> readReferenceLap(const LapSource& src) {
    FileSource file(src.path);
    return readReferenceLap(src, file);
}

std::vector<GeoPoint> readReferenceLap(const LapSource& src, ByteSource& bytes) {
    const std::int64_t n = static_cast<std::int64_t>(src.lastSample) - src.firstSample + 1;
    if (src.firstSample < 0 || n < 1) fail(ErrorKind::Invalid, "The lap has no samples", src.path);
    if (thinnedPointCount(n) > kMaxRefPoints)
        fail(ErrorKind::Invalid, "The lap has " + std::to_string(n) + " samples; a reference lap holds at most " +
                 std::to_string((kMaxRefPoints - 1) * 10) + " samples (" + std::to_string(kMaxRefPoints) +
                 " points)",
             src.path);
    LapCollector collector(src.firstSample, src.lastSample);
    LogLayout expected;
    expected.latColumn = src.columns.lat;
    expected.longColumn = src.columns.lon;
    expected.timeColumn = src.columns.time;
    expected.satColumn = src.columns.sats;
    expected.recordLength = src.recordLength;
    readAnyLog(src.kind, bytes, collector, &expected);
    if (collector.seen() < n)
        fail(ErrorKind::Changed, "The log has changed since it was loaded: it ends before the lap's last sample", src.path);
    return collector.finish();
}

} // namespace lorvane
