#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <string>
#include <vector>

#include "analysis/lap_channels.h"
#include "formats/numbers.h"
#include "formats/text_log.h"
#include "session/session.h"
#include "test_util.h"

using namespace lorvane;
using lorvane::test::TempDir;

namespace {

struct KeepChannels : SampleSink {
    LogLayout seen;
    std::vector<std::vector<double>> rows;
    bool wants = true;
    void layout(const LogLayout& l) override { seen = l; }
    bool wantsChannels() const override { return wants; }
    bool sample(const Sample& s) override {
        rows.emplace_back(s.channels.begin(), s.channels.end());
        return true;
    }
};

} // namespace

// The text log's channels: every named line of the channel list with the
// unit on the same line of "[channel units]"; a field that is empty, missing
// or no number has no value, whatever the position fields carry over.
TEST(LapChannels, TextLogKeepsEveryNamedChannel) {
    TempDir dir;
    const std::string path = dir.write("c.zlg", "[header]\n"
                                                "Latitude\n"
                                                "Longitude\n"
                                                "\n"
                                                "Time\n"
                                                "Satellites\n"
                                                "RPM\n"
                                                "RPM\n"
                                                "Brake\n"
                                                "[channel units]\n"
                                                "min\n"
                                                "min\n"
                                                "x\n"
                                                "hhmmss.ss\n"
                                                "\n"
                                                "rpm\n"
                                                "[comments]\n"
                                                "Brake has no unit line\n"
                                                "[data]\n"
                                                "3189.19601 32.88519 z 094159.50 8 6500 6510 12,5\n"
                                                "3189.19602 32.88520 z 094159.60 8  6520 n/a\n"
                                                "3189.19603 32.88521 z 094159.70 8 6530\n");
    KeepChannels sink;
    readTextLog(path, sink);
    const std::vector<ChannelInfo> want{{"Latitude", "min"}, {"Longitude", "min"}, {"Time", "hhmmss.ss"},
                                        {"Satellites", ""},  {"RPM", "rpm"},       {"RPM 2", ""},
                                        {"Brake", ""}};
    EXPECT_EQ(sink.seen.channels, want);
    ASSERT_EQ(sink.rows.size(), 3u);
    EXPECT_EQ(sink.rows[0], (std::vector<double>{3189.19601, 32.88519, 94159.5, 8, 6500, 6510, 12.5}));
    EXPECT_TRUE(std::isnan(sink.rows[1][4]) && sink.rows[1][5] == 6520 && std::isnan(sink.rows[1][6]));
    EXPECT_TRUE(sink.rows[2][4] == 6530 && std::isnan(sink.rows[2][5]) && std::isnan(sink.rows[2][6]));

    KeepChannels plain;
    plain.wants = false; // a lap count reads none of it
    readTextLog(path, plain);
    EXPECT_TRUE(plain.seen.channels.empty() && plain.rows[0].empty());

    ChannelColumn c; // a column prints back what the log wrote
    for (double v : {132.4, 0.1, 6500.0}) c.push(v);
    EXPECT_FALSE(c.wide());
    c.push(3189.19601);
    EXPECT_TRUE(c.wide());
    EXPECT_EQ(c.text(0) + " " + c.text(1) + " " + c.text(2) + " " + c.text(3), "132.4 0.1 6500 3189.19601");
}

// Along a lap of the demo log: the samples' values are the file's, and the
// crossing points' lie between the samples either side, where the crossing
// point lies between them on the track.
TEST(LapChannels, DemoLapValuesAreTheFilesAndCrossingsInterpolate) {
    const std::string samples = LORVANE_SAMPLES;
    Session session;
    session.setKeepTrack(true);
    session.setKeepChannels(true);
    ASSERT_TRUE(session.loadStartFinish(samples + "/demo.gxr").ok);
    SessionObserver quiet;
    ASSERT_TRUE(session.loadLog(LogKind::Text, samples + "/demo.zlg", quiet).ok);
    const auto log = session.loaded();
    const Track& track = *log->track;
    ASSERT_EQ(track.channels.rows(), track.samples.size());
    const auto velocity = track.channels.find("velocity");
    ASSERT_TRUE(velocity);
    EXPECT_EQ(track.channels.info[*velocity].unit, "km/h");

    // The data lines of the file, by sample index.
    std::ifstream in(samples + "/demo.zlg");
    std::vector<std::string> lines;
    for (std::string l; std::getline(in, l);)
        if (l == "[data]")
            lines.clear();
        else
            lines.push_back(l);

    const Lap& lap = *log->lap(2);
    const auto cross = findLapCrossings(log->crossings, lap);
    ASSERT_TRUE(cross);
    const LapTrace trace = traceLap(track, lap, *cross->open, *cross->close);
    const std::vector<double> v = channelAlongLap(track, log->crossings, trace, *velocity);
    ASSERT_EQ(v.size(), trace.points.size());
    const ChannelColumn& col = track.channels.columns[*velocity];
    for (std::size_t i = 1; i + 1 < v.size(); ++i) {
        const auto row = *trackIndex(track, trace.points[i].sample);
        const std::string& line = lines[static_cast<std::size_t>(trace.points[i].sample)];
        ASSERT_EQ(parseDecimal(col.text(row)), parseDecimal(line.substr(0, line.find(' '))))
            << "sample " << trace.points[i].sample;
        ASSERT_EQ(v[i], col.at(row));
    }
    for (const bool opening : {true, false}) {
        const TracePoint& point = opening ? trace.points.front() : trace.points.back();
        const auto at = *trackIndex(track, (opening ? cross->open : cross->close)->sample);
        const TrackSample &cur = track.samples[at], &prev = track.samples[at - 1];
        const double f = std::hypot(point.east - cur.east, point.north - cur.north) /
                         std::hypot(prev.east - cur.east, prev.north - cur.north);
        const double want = col.at(at) + (col.at(at - 1) - col.at(at)) * f;
        EXPECT_NEAR(opening ? v.front() : v.back(), want, 1e-6);
    }
}

// At a crossing: a course is 0 degrees between 350 and 10, not 180; a gear
// or a lap count is the nearer sample's, never 3.5.
TEST(LapChannels, CrossingValuesKeepWhatTheChannelIs) {
    Track track;
    track.ticksPerSecond = 100;
    track.channels.reset({{"Course", "deg"}, {"Lean", ""}, {"Gear", ""}});
    const double course[] = {350.5, 10.5, 20.5, 30.5}, gear[] = {3, 3, 4, 5};
    for (int i = 0; i < 4; ++i) {
        track.samples.push_back(TrackSample{0, double(i), double(i), i * 100, i, -1});
        track.channels.push(std::vector<double>{course[i], course[i], gear[i]});
    }
    LapTrace trace;
    trace.points = {TracePoint{}, TracePoint{0, 0, 0, 0, 1, 1}, TracePoint{0, 0, 0, 0, 2, 2}, TracePoint{}};
    const std::vector<Crossing> crossings{Crossing{1, 0.5, 0.5}, Crossing{3, 0.25, 2.75}};
    EXPECT_EQ(channelAlongLap(track, crossings, trace, 0), (std::vector<double>{0.5, 10.5, 20.5, 28}));
    EXPECT_EQ(channelAlongLap(track, crossings, trace, 1), (std::vector<double>{180.5, 10.5, 20.5, 28}));
    EXPECT_EQ(channelAlongLap(track, crossings, trace, 2), (std::vector<double>{3, 3, 4, 5}));
}
