#include "circuits/log_track.h"

#include "formats/any_log.h"

namespace lorvane {

namespace {
struct Collect : SampleSink {
    std::vector<GeoSample> track;
    bool sample(const Sample& s) override {
        if (s.hasPosition) track.push_back({s.lat, s.lon});
        return true;
    }
};
} // namespace

std::vector<GeoSample> readLogTrack(LogKind kind, const std::string& path) {
    Collect c;
    readAnyLog(kind, path, c);
    return std::move(c.track);
}

} // namespace lorvane
