// What a load hands on, and in which order: points before the laps they close,
// no point for a sample without a position, one loaded log per load that later
// loads leave alone, and errors that say what kind they are.
#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "formats/binary_log.h"
#include "formats/block_reader.h"
#include "formats/numbers.h"
#include "formats/text_log.h"
#include "session/session.h"
#include "sessiongen/session_gen.h"
#include "test_util.h"

using namespace lorvane;
using lorvane::test::TempDir;

namespace {

gen::Session generated(std::uint64_t seed, int laps) {
    gen::Options o;
    o.seed = seed;
    o.laps = laps;
    o.dropouts = false;
    return gen::generate(o);
}

// Records, for every lap, the highest sample index plotted before it arrived.
struct OrderRecorder : SessionObserver {
    std::int32_t lastPlotted = -1;
    std::vector<std::pair<Lap, std::int32_t>> laps;
    std::vector<TrackPoint> points;
    void trackPoints(std::span<const TrackPoint> p) override {
        points.insert(points.end(), p.begin(), p.end());
        if (!p.empty()) lastPlotted = p.back().sample;
    }
    void lapAdded(const Lap& lap, bool) override { laps.emplace_back(lap, lastPlotted); }
};

// A text log header with the four channels, then `lines`.
std::string zlg(const std::vector<std::string>& lines) {
    std::string s = "[header]\nSatellites\nTime\nLatitude\nLongitude\n[channel units]\n[data]\n";
    for (const auto& l : lines) s += l + "\n";
    return s;
}

} // namespace

TEST(LoadOrder, EveryLapArrivesAfterThePointsItCloses) {
    const gen::Session g = generated(31, 4);
    TempDir dir;
    gen::writeSession(g, dir.file("s"));
    for (LogKind kind : {LogKind::Text, LogKind::Binary}) {
        Session s;
        ASSERT_TRUE(s.loadStartFinish(dir.file("s.gxr")).ok);
        OrderRecorder rec;
        ASSERT_TRUE(s.loadLog(kind, dir.file(kind == LogKind::Text ? "s.zlg" : "s.wmx"), rec).ok);
        ASSERT_EQ(rec.laps.size(), 4u);
        for (const auto& [lap, plotted] : rec.laps) EXPECT_GE(plotted, lap.endSample) << "lap " << lap.number;
    }
}

// A sample at latitude 0 (a receiver without a fix writes zeros) is no place
// on the track: it is not plotted, though it still counts as a sample.
TEST(LoadOrder, SamplesAtLatitudeZeroAreNotPlotted) {
    std::vector<std::string> lines;
    for (int i = 0; i < 40; ++i) {
        const bool noFix = i >= 20 && i < 25;
        const std::string lat = noFix ? "0.00000" : formatFixed(3090.0 + i * 0.0001, 1, 5);
        const std::string lon = noFix ? "0.00000" : "60.00000";
        lines.push_back("8 " + formatFixed(100000.0 + i * 0.1, 6, 2) + " " + lat + " " + lon);
    }
    TempDir dir;
    Session s;
    ASSERT_TRUE(s.loadStartFinish(dir.write("c.gxr", test::gxrText(3091, -60, 3091.001, -60))).ok);
    OrderRecorder rec;
    const LoadReport r = s.loadLog(LogKind::Text, dir.write("c.zlg", zlg(lines)), rec);
    ASSERT_TRUE(r.ok) << r.error.describe();
    EXPECT_EQ(r.samples, 40);
    // The base point is the tenth sample; from there on all but the five without a fix.
    EXPECT_EQ(rec.points.size(), 31u - 5u);
    for (const TrackPoint& p : rec.points) EXPECT_FALSE(p.sample >= 20 && p.sample < 25) << p.sample;
    EXPECT_EQ(r.plotted, static_cast<std::int64_t>(rec.points.size()));
}

TEST(LoadOrder, EachLoadMakesItsOwnLoadedLog) {
    const gen::Session a = generated(32, 3), b = generated(33, 5);
    TempDir dir;
    gen::writeSession(a, dir.file("a"));
    gen::writeSession(b, dir.file("b"));
    Session s;
    s.setKeepTrack(true);
    ASSERT_TRUE(s.loadStartFinish(dir.file("a.gxr")).ok);
    SessionObserver quiet;
    ASSERT_TRUE(s.loadLog(LogKind::Text, dir.file("a.zlg"), quiet).ok);
    const auto first = s.loaded();
    ASSERT_TRUE(first);
    const std::vector<Lap> lapsA = first->laps;
    const std::string textA = first->startFinish.text;
    ASSERT_EQ(lapsA.size(), 3u);
    ASSERT_TRUE(first->track);
    EXPECT_FALSE(first->track->samples.empty());

    ASSERT_TRUE(s.loadStartFinish(dir.file("b.gxr")).ok);
    ASSERT_TRUE(s.loadLog(LogKind::Binary, dir.file("b.wmx"), quiet).ok);
    // The first load's value is as it was; the new one describes the new load.
    EXPECT_EQ(first->laps.size(), lapsA.size());
    EXPECT_EQ(first->startFinish.text, textA);
    EXPECT_EQ(first->kind, LogKind::Text);
    EXPECT_EQ(s.loaded()->laps.size(), 5u);
    EXPECT_EQ(s.loaded()->startFinish.text, test::readFile(dir.file("b.gxr")));
    EXPECT_NE(s.loaded(), first);
    // A lap of the first load can still be re-read and written from it.
    const ReferenceLap ref = pickLap(*first, 2);
    const std::string bytes = composeLapRefFile(*first, ref, false);
    EXPECT_EQ(bytes.rfind(textA.substr(0, textA.find('\n')), 0), 0u);
}

TEST(LoadOrder, ErrorsSayWhatKindTheyAre) {
    TempDir dir;
    Session s;
    EXPECT_EQ(s.loadStartFinish(dir.file("none.gxr")).error.kind, ErrorKind::NotFound);
    EXPECT_EQ(s.loadStartFinish(dir.write("bad.gxr", "[Start finish]\n1 2 x 4\n")).error.kind, ErrorKind::Syntax);
    EXPECT_EQ(s.loadStartFinish(dir.write("plain.txt", "anything")).error.kind, ErrorKind::Invalid);

    const gen::Session g = generated(34, 2);
    gen::writeSession(g, dir.file("s"));
    ASSERT_TRUE(s.loadStartFinish(dir.file("s.gxr")).ok);
    struct Cancel : SessionObserver {
        bool progress(std::uint64_t, std::uint64_t) override { return false; }
    } cancel;
    LoadReport r = s.loadLog(LogKind::Text, dir.file("s.zlg"), cancel);
    EXPECT_TRUE(r.cancelled);
    EXPECT_EQ(r.error.kind, ErrorKind::Cancelled);

    SessionObserver quiet;
    ASSERT_TRUE(s.loadLog(LogKind::Text, dir.file("s.zlg"), quiet).ok);
    // The log is rewritten with another channel order: its lap no longer reads.
    std::string changed = g.zlg;
    const auto at = changed.find("Latitude");
    ASSERT_NE(at, std::string::npos);
    changed.replace(at, 8, "Comment!");
    dir.write("s.zlg", changed);
    try {
        s.pickLap(1);
        ADD_FAILURE() << "no error";
    } catch (const LoadError& e) {
        EXPECT_EQ(e.diagnostic().kind, ErrorKind::Changed) << e.diagnostic().describe();
    }
    try {
        s.pickLap(99);
        ADD_FAILURE() << "no error";
    } catch (const LoadError& e) {
        EXPECT_EQ(e.diagnostic().kind, ErrorKind::Invalid);
    }
}

// Readers take bytes from anywhere: the same bytes in memory give the same
// samples as the file.
TEST(LoadOrder, ReadersReadMemoryAsTheyReadFiles) {
    const gen::Session g = generated(35, 2);
    TempDir dir;
    gen::writeSession(g, dir.file("s"));
    struct Collect : SampleSink {
        std::vector<std::tuple<std::int32_t, double, double, double>> got;
        bool sample(const Sample& s) override {
            got.emplace_back(s.index, s.lat, s.lon, s.time);
            return true;
        }
    };
    Collect fromFile, fromMemory, binFile, binMemory;
    readTextLog(dir.file("s.zlg"), fromFile);
    MemorySource text(g.zlg, "memory.zlg");
    readTextLog(text, fromMemory);
    EXPECT_EQ(fromFile.got, fromMemory.got);
    EXPECT_FALSE(fromFile.got.empty());
    readBinaryLog(dir.file("s.wmx"), binFile);
    MemorySource binary(g.wmx, "memory.wmx");
    readBinaryLog(binary, binMemory);
    EXPECT_EQ(binFile.got, binMemory.got);

    // An error names the source it came from.
    MemorySource bad(std::string_view("[header]\n"), "pasted log");
    try {
        readTextLog(bad, fromMemory);
        ADD_FAILURE() << "no error";
    } catch (const LoadError& e) {
        EXPECT_EQ(e.diagnostic().file, "pasted log");
        EXPECT_EQ(e.diagnostic().kind, ErrorKind::Syntax);
    }
}
