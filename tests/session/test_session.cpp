#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <numbers>

#include "analysis/lap_analysis.h"
#include "formats/numbers.h"
#include "session/session.h"
#include "test_util.h"

using namespace lorvane;
using lorvane::test::Recorder;
using lorvane::test::TempDir;

namespace {

// A vehicle circling at 20 m/s on a 100 m radius around (lat0, lon0), from the
// circle's south point, anticlockwise; the start gate sits at the south point.
constexpr double lat0 = 3090.0, lon0 = -60.0;
constexpr double radius = 100, speed = 20;

struct Pos {
    double lat, lon;
};
Pos posAt(double t) {
    const double scale = calcLongScale(lat0, lon0);
    const double a = -std::numbers::pi / 2 + speed * t / radius;
    return Pos{lat0 + radius * std::sin(a) / kMetresPerMinute,
               lon0 + radius * std::cos(a) / (kMetresPerMinute * scale)};
}

std::string circleZlg(int samples, double t0 = 36000) {
    std::string s = "[header]\nSatellites\nTime\nLatitude\nLongitude\n[channel units]\n[data]\n";
    for (int i = 0; i < samples; ++i) {
        double t = t0 + i * 0.1 + 0.05;
        Pos p = posAt(i * 0.1 + 0.05 - 2);
        double tod = t;
        int h = static_cast<int>(tod / 3600), m = static_cast<int>((tod - h * 3600) / 60);
        double sec = tod - h * 3600 - m * 60;
        s += "8 " + formatFixed(h * 10000 + m * 100 + sec, 6, 2) + " " + formatFixed(p.lat, 1, 5) + " " +
             formatFixed(-p.lon, 1, 5) + "\n";
    }
    return s;
}

// One data line of a text log: 8 satellites, the time of day t, position p.
std::string zlgLine(double t, Pos p) {
    const int h = static_cast<int>(t / 3600), m = static_cast<int>((t - h * 3600) / 60);
    const double sec = t - h * 3600 - m * 60;
    return "8 " + formatFixed(h * 10000 + m * 100 + sec, 6, 2) + " " + formatFixed(p.lat, 1, 5) + " " +
           formatFixed(-p.lon, 1, 5) + "\n";
}

std::string circleGxr(bool finish = false) {
    Pos p1 = posAt(0), p2 = posAt(0.5);
    return test::gxrText(p1.lat, p1.lon, p2.lat, p2.lon, finish, p1.lat, p1.lon, p2.lat, p2.lon);
}

} // namespace

TEST(Session, LoadsLapsAndReportsThem) {
    TempDir dir;
    Session s;
    ASSERT_TRUE(s.loadStartFinish(dir.write("c.gxr", circleGxr())).ok);
    Recorder rec;
    // 2 s before the line, then 3 laps of 10 pi s, and a little more.
    auto r = s.loadLog(LogKind::Text, dir.write("c.zlg", circleZlg(20 + 943 + 20)), rec);
    ASSERT_TRUE(r.ok) << r.error.describe();
    EXPECT_EQ(r.samples, 983);
    EXPECT_EQ(r.lapCount, 3);
    ASSERT_EQ(rec.lines.size(), 3u);
    EXPECT_EQ(rec.lines[0].substr(0, 8), "001 :   ");
    for (const Lap& l : s.laps()) EXPECT_NEAR(l.time, 10 * std::numbers::pi, 0.01);
    EXPECT_EQ(rec.started, 1);
    EXPECT_EQ(rec.finished, 1);
    EXPECT_TRUE(r.hasBase);
    // The base point is the tenth sample (all have 8 satellites), the first plotted point.
    ASSERT_FALSE(rec.points.empty());
    EXPECT_EQ(rec.points.front().sample, 9);
    EXPECT_EQ(rec.points.front().east, 0.0);
    EXPECT_EQ(r.plotted, 983 - 9);
    // Markers: start gate point 1 only (no finish gate).
    ASSERT_TRUE(r.startMarker);
    EXPECT_FALSE(r.finishMarker);
    EXPECT_EQ(r.startMarker->north, s.plane().toLocal(s.gates().start.lat1, s.gates().start.long1).north);
}

TEST(Session, ALoadWithoutLapsSaysWhy) {
    TempDir dir;
    Session s;
    Recorder rec;
    auto load = [&](const std::string& gxr, const std::string& zlg, const GateRules& rules = {}) {
        EXPECT_TRUE(s.loadStartFinish(dir.write("c.gxr", gxr)).ok);
        s.setGateRules(rules);
        auto r = s.loadLog(LogKind::Text, dir.write("c.zlg", zlg), rec);
        EXPECT_TRUE(r.ok) << r.error.describe();
        return r;
    };
    // Laps: nothing to explain.
    EXPECT_EQ(load(circleGxr(), circleZlg(983)).noLaps, "");

    // The line's point 1 at the circle's centre: every sample is 100 m away.
    const Pos c{lat0, lon0}, e = posAt(0.5);
    auto r = load(test::gxrText(c.lat, c.lon, e.lat, e.lon), circleZlg(983));
    EXPECT_EQ(r.lapCount, 0);
    EXPECT_EQ(r.noLaps, "the track never comes within 25 m of the start/finish line's point 1 (nearest: 100.0 m)");

    // Ten seconds from just before the line: one crossing, no lap.
    EXPECT_EQ(load(circleGxr(), circleZlg(120)).noLaps,
              "the start/finish line is crossed only once; a lap runs from one crossing to the next");

    // Driven the other way from what the rules count.
    GateRules reverse;
    reverse.direction = GateDirection::Reverse;
    EXPECT_EQ(load(circleGxr(), circleZlg(983), reverse)
                      .noLaps.find("never crosses the line in the direction the gate rules ask (reverse)") !=
                  std::string::npos,
              true);

    // Three satellites throughout: no base point.
    std::string few = circleZlg(983);
    for (std::size_t at = few.find("\n8 "); at != std::string::npos; at = few.find("\n8 ", at + 1)) few[at + 1] = '3';
    r = load(circleGxr(), few);
    EXPECT_FALSE(r.hasBase);
    EXPECT_EQ(r.noLaps, "no base point (too few samples with four or more satellites)");

    // A log cut off in mid-line is told, whether or not it has laps; a last
    // line that is whole but has no line end is not.
    std::string whole = circleZlg(983);
    whole.pop_back();
    EXPECT_FALSE(load(circleGxr(), whole).cutMidLine);
    std::string cut = whole.substr(0, whole.rfind(' '));
    r = load(circleGxr(), cut);
    EXPECT_TRUE(r.cutMidLine);
    EXPECT_EQ(r.lapCount, 3);
}

TEST(Session, StartFinishFailuresKeepWhatWasThere) {
    TempDir dir;
    Session s;
    const std::string good = dir.write("good.gxr", circleGxr(true));
    ASSERT_TRUE(s.loadStartFinish(good).ok);
    EXPECT_TRUE(s.hasFinishLine());
    const double lat1 = s.gates().start.lat1;

    auto missing = s.loadStartFinish(dir.file("missing.gxr"));
    EXPECT_FALSE(missing.ok);
    EXPECT_FALSE(missing.enableLogLoads());
    EXPECT_EQ(missing.error.message, "File not found");

    auto badName = s.loadStartFinish(dir.write("track.txt", circleGxr()));
    EXPECT_TRUE(badName.nameRejected);
    EXPECT_TRUE(badName.enableLogLoads());

    auto badFinish = s.loadStartFinish(dir.write("bad.gxr", "[Start finish]\n1 2 3 4\n[Finish]\nx 0 0 0\n"));
    EXPECT_FALSE(badFinish.ok);
    EXPECT_EQ(badFinish.error.line, 4);

    EXPECT_EQ(s.gxrFileName(), good);
    EXPECT_EQ(s.gates().start.lat1, lat1);
    // A file without a finish gate clears the flag.
    ASSERT_TRUE(s.loadStartFinish(dir.write("nofinish.gxr", circleGxr(false))).ok);
    EXPECT_FALSE(s.hasFinishLine());
}

TEST(Session, ColumnsAreResetAndTheLogIsRememberedAtTheStart) {
    TempDir dir;
    Session s;
    ASSERT_TRUE(s.loadStartFinish(dir.write("c.gxr", circleGxr())).ok);
    Recorder rec;
    ASSERT_TRUE(s.loadLog(LogKind::Text, dir.write("a.zlg", circleZlg(700)), rec).ok);
    EXPECT_EQ(s.laps().size(), 2u);

    // A second log without a latitude channel must not borrow the first one's column.
    std::string noLat = "[header]\nSatellites\nTime\nLongitude\n[channel units]\n[data]\n8 100000 1 1\n";
    auto r = s.loadLog(LogKind::Text, dir.write("b.zlg", noLat), rec);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error.message, "No latitude channel in the log's channel list");
    EXPECT_TRUE(s.laps().empty());
    EXPECT_EQ(s.logFileName(), dir.file("b.zlg"));

    // A binary load that fails still names the binary log as the current one.
    r = s.loadLog(LogKind::Binary, dir.file("gone.wmx"), rec);
    EXPECT_EQ(r.error.message, "File not found");
    EXPECT_TRUE(s.logIsBinary());
    EXPECT_THROW(s.pickLap(1), LoadError);
}

TEST(Session, ErrorPartWayKeepsTheLapsFoundBeforeIt) {
    TempDir dir;
    Session s;
    ASSERT_TRUE(s.loadStartFinish(dir.write("c.gxr", circleGxr())).ok);
    std::string log = circleZlg(700) + "8 100000.00 oops 60\n";
    Recorder rec;
    auto r = s.loadLog(LogKind::Text, dir.write("c.zlg", log), rec);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error.message, "'oops' is not a valid floating point value");
    EXPECT_EQ(r.error.line, 7 + 701);
    EXPECT_EQ(r.samples, 700);
    EXPECT_EQ(r.lapCount, 2);
    // The lap can still be written: it belongs to this file.
    auto ref = s.pickLap(1);
    EXPECT_EQ(ref.lap, 1);
}

TEST(Session, RefusesReentryDuringALoad) {
    TempDir dir;
    Session s;
    ASSERT_TRUE(s.loadStartFinish(dir.write("c.gxr", circleGxr())).ok);
    const std::string log = dir.write("c.zlg", circleZlg(700));
    struct Reenter : Recorder {
        Session* s = nullptr;
        std::string log;
        LoadReport inner;
        StartFinishReport innerGxr;
        bool pickRefused = false;
        void lapAdded(const Lap& lap, bool best) override {
            Recorder::lapAdded(lap, best);
            inner = s->loadLog(LogKind::Text, log, *this);
            innerGxr = s->loadStartFinish(log);
            try {
                s->pickLap(1);
            } catch (const LoadError&) {
                pickRefused = true;
            }
        }
    } obs;
    obs.s = &s;
    obs.log = log;
    auto r = s.loadLog(LogKind::Text, log, obs);
    EXPECT_TRUE(r.ok);
    EXPECT_FALSE(obs.inner.ok);
    EXPECT_NE(obs.inner.error.message.find("Busy"), std::string::npos);
    EXPECT_FALSE(obs.innerGxr.ok);
    EXPECT_TRUE(obs.pickRefused);
    EXPECT_EQ(obs.started, 1);
    EXPECT_FALSE(s.busy());
}

TEST(Session, CancelStopsTheLoad) {
    TempDir dir;
    Session s;
    ASSERT_TRUE(s.loadStartFinish(dir.write("c.gxr", circleGxr())).ok);
    struct Cancel : Recorder {
        bool progress(std::uint64_t, std::uint64_t) override { return false; }
    } obs;
    auto r = s.loadLog(LogKind::Text, dir.write("c.zlg", circleZlg(700)), obs);
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.cancelled);
    EXPECT_EQ(obs.finished, 1);
}

TEST(Session, ReferenceFileMatchesTheLap) {
    TempDir dir;
    Session s;
    ASSERT_TRUE(s.loadStartFinish(dir.write("c.gxr", circleGxr())).ok);
    Recorder rec;
    ASSERT_TRUE(s.loadLog(LogKind::Text, dir.write("c.zlg", circleZlg(700)), rec).ok);
    auto ref = s.pickLap(1);
    const Lap& lap = s.laps()[0];
    EXPECT_EQ(static_cast<std::int64_t>(ref.points.size()), thinnedPointCount(lap.endSample - lap.startSample + 1));
    const std::string target = dir.file("LAP.REF");
    s.saveLapRefFile(ref, target, true);
    const std::string bytes = test::readFile(target);
    const std::string gxr = test::readFile(dir.file("c.gxr"));
    ASSERT_FALSE(gxr.empty());
    EXPECT_EQ(bytes.rfind(gxr.substr(0, gxr.find('\n')), 0), 0u);

    // The reference file copies the start/finish text that cut the laps, not
    // whatever the file holds at save time: another file in its place, or
    // none at all, changes nothing.
    test::TempDir other;
    std::filesystem::remove(dir.file("c.gxr"));
    s.saveLapRefFile(ref, target, true);
    EXPECT_EQ(test::readFile(target), bytes);
    dir.write("c.gxr", circleGxr(true));
    s.saveLapRefFile(ref, target, true);
    EXPECT_EQ(test::readFile(target), bytes);
}

namespace {

constexpr double kLap = 10 * std::numbers::pi; // seconds round the circle

const char* kZlgHead = "[header]\nSatellites\nTime\nLatitude\nLongitude\n[channel units]\n[data]\n";

// Loads `zlg` (written as `name` in `dir`) over the circle's gate, keeping the track.
std::shared_ptr<const LoadedLog> loadCircle(const TempDir& dir, const std::string& name, const std::string& zlg,
                                            const GateRules& rules = {}) {
    Session s;
    s.setKeepTrack(true);
    s.setGateRules(rules);
    EXPECT_TRUE(s.loadStartFinish(dir.write("c.gxr", circleGxr())).ok);
    Recorder rec;
    const LoadReport r = s.loadLog(LogKind::Text, dir.write(name, zlg), rec);
    EXPECT_TRUE(r.ok) << r.error.describe();
    return s.loaded();
}

// Cutting the kept track again gives what the load gave, runs included.
void expectRecutSame(const LoadedLog& log) {
    const auto cut = recut(log, log.startFinish, log.rules);
    ASSERT_EQ(cut->crossings.size(), log.crossings.size());
    for (std::size_t i = 0; i < log.crossings.size(); ++i) {
        EXPECT_EQ(cut->crossings[i].sample, log.crossings[i].sample);
        EXPECT_EQ(cut->crossings[i].time, log.crossings[i].time);
    }
    ASSERT_EQ(cut->laps.size(), log.laps.size());
    for (std::size_t i = 0; i < log.laps.size(); ++i) {
        EXPECT_EQ(cut->laps[i].line, log.laps[i].line);
        EXPECT_EQ(cut->laps[i].openingCrossing, log.laps[i].openingCrossing);
    }
    EXPECT_EQ(cut->runs, log.runs);
    EXPECT_EQ(cut->report.pauses, log.report.pauses);
}

} // namespace

// A recording paused for ten minutes: two runs, no lap across the pause, the
// laps numbered on, and a lap after the pause timed and stamped from its own
// crossings.
TEST(Runs, APauseEndsARunAndNoLapSpansIt) {
    // Run 1 from just past the line to 5 s past the third crossing; then the
    // clock jumps 600 s while the car moves on 3 s; run 2 crosses three times.
    int samples = 0, run1 = 0;
    auto paused = [&](int lapsBefore, int lapsAfter) {
        std::string zlg = kZlgHead;
        const double t0 = 36000.05, driven0 = 0.35;
        samples = 0;
        for (double d = driven0; d < lapsBefore * kLap + 5; d += 0.1, ++samples)
            zlg += zlgLine(t0 + (d - driven0), posAt(d));
        run1 = samples;
        for (double d = lapsBefore * kLap + 8; d < (lapsBefore + lapsAfter) * kLap + 3; d += 0.1, ++samples)
            zlg += zlgLine(t0 + (d - driven0) + 600 - 3, posAt(d));
        return zlg;
    };
    TempDir dir;
    // Crossed once before the pause and once after: no lap, and the reason.
    EXPECT_EQ(loadCircle(dir, "once.zlg", paused(1, 1))->report.noLaps,
              "the start/finish line is crossed 2 times, but never twice in one run (a stretch of more than 10 s "
              "without a fix ends a run)");
    const std::string zlg = paused(3, 3);
    const auto log = loadCircle(dir, "paused.zlg", zlg);
    ASSERT_TRUE(log);
    ASSERT_EQ(log->runs.size(), 2u);
    EXPECT_EQ(log->runs[0].firstSample, 9); // the base point: the lap step starts there
    EXPECT_EQ(log->runs[0].lastSample, run1 - 1);
    EXPECT_EQ(log->runs[1].firstSample, run1);
    EXPECT_EQ(log->runs[1].lastSample, samples - 1);
    EXPECT_EQ(log->report.runCount, 2);
    ASSERT_EQ(log->report.pauses.size(), 1u);
    EXPECT_NEAR(log->report.pauses[0], 600, 0.2);
    ASSERT_EQ(log->crossings.size(), 6u);
    ASSERT_EQ(log->laps.size(), 4u);
    for (std::size_t i = 0; i < 4; ++i) {
        const Lap& l = log->laps[i];
        EXPECT_EQ(l.number, static_cast<int>(i) + 1);
        EXPECT_EQ(l.line.substr(0, 6), "00" + std::to_string(i + 1) + " : ");
        EXPECT_NEAR(l.time, kLap, 0.01);
        EXPECT_FALSE(l.startSample < run1 && l.endSample >= run1) << "lap " << l.number << " spans the pause";
        EXPECT_EQ(l.openingCrossing, i < 2 ? static_cast<int>(i) : static_cast<int>(i) + 1);
    }
    EXPECT_NEAR(traceLapNumber(*log->track, log->laps, log->crossings, 3).distance, 200 * std::numbers::pi, 1);
    expectRecutSame(*log);

    // Without a limit the pause is a lap of its own; the lap after it is the
    // same lap, with the same reference file, under the next number.
    GateRules unlimited;
    unlimited.maxGap = 0;
    const auto joined = loadCircle(dir, "paused.zlg", zlg, unlimited);
    ASSERT_EQ(joined->runs.size(), 1u);
    ASSERT_EQ(joined->laps.size(), 5u);
    EXPECT_GT(joined->laps[2].time, 600);
    EXPECT_EQ(composeLapRefFile(*log, pickLap(*log, 3), false), composeLapRefFile(*joined, pickLap(*joined, 4), false));
    expectRecutSame(*joined);
    // Cutting again with the pause rule gives the paused load's laps.
    const auto recutPaused = recut(*joined, joined->startFinish, GateRules{});
    EXPECT_EQ(recutPaused->runs, log->runs);
    ASSERT_EQ(recutPaused->laps.size(), 4u);
    EXPECT_EQ(recutPaused->laps[3].line, log->laps[3].line);
}

// Some apps write the sample at a lap boundary twice with one time: a
// repeated time never makes a crossing of its own, whichever side of the
// line the copies lie.
TEST(Runs, RepeatedTimesMakeNoCrossingOfTheirOwn) {
    // Four laps at 10 samples a second; at each crossing the first sample past
    // the line is followed by a copy with its time placed `copyAt` metres past
    // the line (negative: before it).
    auto withCopies = [](std::optional<double> copyAt) {
        std::string zlg = kZlgHead;
        const double t0 = 36000.05, driven0 = 0.35;
        double prev = driven0;
        for (double d = driven0; d < 4 * kLap + 3; d += 0.1) {
            zlg += zlgLine(t0 + (d - driven0), posAt(d));
            if (copyAt && std::floor(d / kLap) != std::floor(prev / kLap))
                zlg += zlgLine(t0 + (d - driven0), posAt(std::floor(d / kLap) * kLap + *copyAt / speed));
            prev = d;
        }
        return zlg;
    };
    TempDir dir;
    const auto clean = loadCircle(dir, "clean.zlg", withCopies(std::nullopt));
    ASSERT_EQ(clean->crossings.size(), 4u);
    for (const double copyAt : {-0.3, 0.3, 1.5}) {
        SCOPED_TRACE(copyAt);
        const auto log = loadCircle(dir, "copies.zlg", withCopies(copyAt));
        ASSERT_EQ(log->crossings.size(), 4u);
        ASSERT_EQ(log->laps.size(), 3u);
        for (std::size_t i = 0; i < 3; ++i) {
            EXPECT_NEAR(log->laps[i].time, clean->laps[i].time, 0.02);
            // The first of the pair is the one kept: the crossing is that of
            // the log without the copies, to the bit.
            EXPECT_EQ(log->crossings[i].time, clean->crossings[i].time);
        }
        EXPECT_EQ(log->runs.size(), 1u);
        // The copies are not in the kept track either.
        EXPECT_EQ(log->track->samples.size(), clean->track->samples.size());
        expectRecutSame(*log);
    }
}

// An empty first data line has no position: it keeps its sample index but is
// no point of the track, its extent or the lap step, and the laps and their
// reference files are those of the log without it.
TEST(Runs, AnEmptyFirstDataLineIsNoFix) {
    const std::string zlg = circleZlg(983);
    const std::size_t data = zlg.find("[data]\n") + 7;
    const std::string opened = zlg.substr(0, data) + "\n" + zlg.substr(data);
    TempDir dir;
    const auto plain = loadCircle(dir, "plain.zlg", zlg);
    const auto log = loadCircle(dir, "opened.zlg", opened);
    ASSERT_TRUE(plain && log);
    EXPECT_EQ(log->report.samples, 984);
    ASSERT_EQ(log->laps.size(), 3u);
    EXPECT_EQ(log->laps[0].startSample, plain->laps[0].startSample + 1);
    EXPECT_LT(log->report.extent.maxEast - log->report.extent.minEast, 250);
    EXPECT_LT(log->report.extent.maxNorth - log->report.extent.minNorth, 250);
    EXPECT_EQ(log->report.plotted, plain->report.plotted);
    for (const TrackSample& t : log->track->samples) EXPECT_NE(t.sample, 0);
    EXPECT_EQ(log->plane.baseLat, plain->plane.baseLat);
    EXPECT_EQ(composeLapRefFile(*log, pickLap(*log, 2), false), composeLapRefFile(*plain, pickLap(*plain, 2), false));
}

// Split lines live in a file of their own beside the .gxr, whose text stays
// what the lap timer reads.
TEST(Session, SplitLinesTravelInAFileBesideTheGxr) {
    TempDir dir;
    const Pos a = posAt(5), b = posAt(5.5), c = posAt(10), d = posAt(10.5);
    StartFinishFile placed = startFinishFromGates(parseStartFinish(circleGxr(true), "c.gxr"), "placed");
    placed.splits = {{3090.01, -60.002, 3090.02, -60.001}, {a.lat, a.lon, b.lat, b.lon}};
    const std::string gxr = dir.file("track.gxr");
    saveStartFinishFile(placed, gxr);
    EXPECT_EQ(test::readFile(gxr), placed.text);

    Session s;
    ASSERT_TRUE(s.loadStartFinish(gxr).ok);
    EXPECT_EQ(s.startFinish().text, placed.text);
    ASSERT_EQ(s.startFinish().splits.size(), 2u);
    EXPECT_EQ(s.startFinish().splits[0].lat1, 3090.01);
    EXPECT_EQ(s.startFinish().splits[0].long2, -60.001);
    EXPECT_NEAR(s.startFinish().splits[1].lat2, b.lat, 0.5e-5);

    // A bad split file refuses the load, naming its line, and keeps what was there.
    dir.write("bad.gxr", placed.text);
    dir.write("bad.splits", "# ok\n" + composeSplitLinesText({{c.lat, c.lon, d.lat, d.lon}}) + "1,2\n");
    const StartFinishReport bad = s.loadStartFinish(dir.file("bad.gxr"));
    EXPECT_FALSE(bad.ok);
    EXPECT_EQ(bad.error.file, dir.file("bad.splits"));
    EXPECT_EQ(bad.error.line, 4);
    EXPECT_EQ(s.gxrFileName(), gxr);
    EXPECT_EQ(s.startFinish().splits.size(), 2u);

    // Saved again without split lines, the old split file goes.
    placed.splits.clear();
    saveStartFinishFile(placed, gxr);
    EXPECT_FALSE(std::filesystem::exists(dir.file("track.splits")));
    ASSERT_TRUE(s.loadStartFinish(gxr).ok);
    EXPECT_TRUE(s.startFinish().splits.empty());
    // A failed .gxr write leaves the split file alone.
    placed.splits = {{c.lat, c.lon, d.lat, d.lon}};
    std::filesystem::create_directory(dir.file("dir.gxr"));
    dir.write("dir.splits", "1,2,3,4\n");
    EXPECT_THROW(saveStartFinishFile(placed, dir.file("dir.gxr")), LoadError);
    EXPECT_EQ(test::readFile(dir.file("dir.splits")), "1,2,3,4\n");
    // A failed split file write names it and says the .gxr was saved.
    std::filesystem::create_directory(dir.file("side.splits"));
    try {
        saveStartFinishFile(placed, dir.file("side.gxr"));
        ADD_FAILURE() << "no error";
    } catch (const LoadError& e) {
        EXPECT_EQ(e.diagnostic().file, dir.file("side.splits"));
        EXPECT_EQ(e.diagnostic().message.rfind("The start/finish file was saved, but not its split lines: ", 0), 0u);
    }
    EXPECT_EQ(test::readFile(dir.file("side.gxr")), placed.text);
}
