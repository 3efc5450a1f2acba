#pragma once

#include <string>
#include <string_view>

#include "session/session.h"

namespace lorvane::test {

// A fresh folder under the system's temporary folder, removed at the end.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(std::string_view name) const { return path_ + "/" + std::string(name); }
    // Writes `content` to `name` in the folder and returns the full path.
    std::string write(std::string_view name, std::string_view content) const;

private:
    std::string path_;
};

std::string readFile(const std::string& path);

// A real recording kept outside the project (LORVANE_REALDATA, by default
// ../shared/realdata beside the source tree; then LORVANE_REALDATA_EXTRA,
// by default ../realdata-extra, for exports tried by hand): its full path, or
// empty when the file is not there.
std::string realData(std::string_view relative);
// Skips the test when the real recording is not there.
#define LORVANE_REQUIRE_REALDATA(var, relative)                                                                        \
    const std::string var = ::lorvane::test::realData(relative);                                                       \
    if (var.empty()) GTEST_SKIP() << "real recording not found: " << (relative)

// Observer that keeps everything a load reports.
struct Recorder : SessionObserver {
    std::vector<TrackPoint> points;
    std::vector<std::string> lines;
    std::vector<int> bestEvents;
    int started = 0, finished = 0;
    LoadReport last;
    void loadStarted(LogKind, const std::string&) override { ++started; }
    void trackPoints(std::span<const TrackPoint> p) override { points.insert(points.end(), p.begin(), p.end()); }
    void lapAdded(const Lap& lap, bool best) override {
        lines.push_back(lap.line);
        if (best) bestEvents.push_back(lap.number);
    }
    void loadFinished(const LoadReport& r) override {
        ++finished;
        last = r;
    }
};

// A gxr file text with the given start gate points (minutes) and an optional finish gate.
std::string gxrText(double lat1, double long1, double lat2, double long2, bool finish = false, double flat1 = 0,
                    double flong1 = 0, double flat2 = 0, double flong2 = 0);

} // namespace lorvane::test
