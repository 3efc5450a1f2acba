// Finding the circuit of a recorded track by the start gates it crosses.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <random>

#include "circuits/circuit_db.h"
#include "laps/local_plane.h"
#include "session/session.h"
#include "sessiongen/session_gen.h"
#include "test_util.h"

using namespace lorvane;
using lorvane::test::TempDir;

namespace {

constexpr double kLat = 3090, kLon = -60; // 51.5 N, 1 W

// A point `east`/`north` metres from (kLat, kLon).
GeoSample at(double east, double north) {
    const double scale = calcLongScale(kLat, kLon);
    return {kLat + north / kMetresPerMinute, kLon + east / (kMetresPerMinute * scale)};
}

// A gate through the point `east` metres east of the centre, point 2 one
// metre north: "forward" is northwards.
Gate northGate(double east = 0) {
    GeoSample p1 = at(east, 0), p2 = at(east, 1);
    return Gate{p1.lat, p1.lon, p2.lat, p2.lon};
}

// Driving north along x = `east` from -100 m to +100 m, `times` times, with a
// return leg 300 m to the west that misses every gate.
std::vector<GeoSample> northwardLaps(double east, int times) {
    std::vector<GeoSample> t;
    for (int k = 0; k < times; ++k) {
        for (double n = -100; n <= 100; n += 3.7) t.push_back(at(east, n));
        for (double n = 100; n >= -100; n -= 3.7) t.push_back(at(east - 300, n));
    }
    return t;
}

Circuit layout(std::string name, Gate g, GateDirection dir = GateDirection::Both) {
    Circuit c;
    c.name = std::move(name);
    c.start = g;
    c.rules.direction = dir;
    return c;
}

std::vector<std::string> names(const std::vector<CircuitMatch>& ms) {
    std::vector<std::string> out;
    for (const CircuitMatch& m : ms) out.push_back(m.circuit.name);
    return out;
}

} // namespace

TEST(CircuitLookup, LayoutsSharingAStartLineAreAllFound) {
    TempDir t;
    CircuitDb db = CircuitDb::open(t.file("c.db"));
    Circuit full = layout("Venue full", northGate());
    full.lapDistance = 3200;
    Circuit club = layout("Venue club", northGate());
    club.lapDistance = 1900;
    db.addCircuit(full);
    db.addCircuit(club);
    db.addCircuit(layout("Next door", northGate(500)));                // 500 m away, not driven
    db.addCircuit(layout("Far away", Gate{1000, 1000, 1000.1, 1000})); // another continent

    auto found = db.findCircuitsForTrack(northwardLaps(0, 4));
    ASSERT_EQ(names(found), (std::vector<std::string>{"Venue club", "Venue full"}));
    EXPECT_EQ(found[0].crossings, 4);
    EXPECT_EQ(found[0].circuit.lapDistance, 1900);
    EXPECT_EQ(found[1].circuit.lapDistance, 3200);

    EXPECT_TRUE(db.findCircuitsForTrack({}).empty());
    EXPECT_EQ(names(db.findCircuitsForTrack(northwardLaps(500, 1))), std::vector<std::string>{"Next door"});
}

TEST(CircuitLookup, DirectionRulesDecide) {
    TempDir t;
    CircuitDb db = CircuitDb::open(t.file("c.db"));
    db.addCircuit(layout("Either", northGate(), GateDirection::Both));
    db.addCircuit(layout("Northwards", northGate(), GateDirection::Forward));
    db.addCircuit(layout("Southwards", northGate(), GateDirection::Reverse));

    auto north = northwardLaps(0, 3);
    EXPECT_EQ(names(db.findCircuitsForTrack(north)), (std::vector<std::string>{"Either", "Northwards"}));
    std::vector<GeoSample> south(north.rbegin(), north.rend());
    EXPECT_EQ(names(db.findCircuitsForTrack(south)), (std::vector<std::string>{"Either", "Southwards"}));

    // Back and forth over the line: both ways count for "both".
    std::vector<GeoSample> shuttle;
    for (int k = 0; k < 3; ++k) {
        shuttle.push_back(at(0, -5));
        shuttle.push_back(at(0, 5));
    }
    auto m = db.findCircuitsForTrack(shuttle);
    ASSERT_EQ(names(m), (std::vector<std::string>{"Either", "Northwards", "Southwards"}));
    EXPECT_EQ(m[0].crossings, 5);
    EXPECT_EQ(m[1].crossings, 3);
    EXPECT_EQ(m[2].crossings, 2);
}

TEST(CircuitLookup, GateWidthIsMeasuredAtTheCrossingPoint) {
    const Gate g = northGate();
    GateRules narrow, wide;
    wide.gateWidth = 40;
    // Crossing 30 m east of point 1: outside the 25 m default, inside 40 m.
    EXPECT_EQ(countGateCrossings(g, narrow, northwardLaps(30, 2)), 0);
    EXPECT_EQ(countGateCrossings(g, wide, northwardLaps(30, 2)), 2);
    EXPECT_EQ(countGateCrossings(g, narrow, northwardLaps(24, 2)), 2);
    // A long step whose end is far from point 1 but whose crossing point is on
    // the gate still counts.
    std::vector<GeoSample> jump{at(-60, -200), at(60, 200)};
    EXPECT_EQ(countGateCrossings(g, narrow, jump), 1);
    // A sample without a fix breaks the track instead of joining a far point.
    std::vector<GeoSample> gap{at(0, -5), {0, 0}, at(0, 5)};
    EXPECT_EQ(countGateCrossings(g, narrow, gap), 0);
    std::vector<GeoSample> nan{at(0, -5), {std::nan(""), kLon}, at(0, 5)};
    EXPECT_EQ(countGateCrossings(g, narrow, nan), 0);

    // The database's prefilter keeps a circuit whose wide gate reaches the track.
    TempDir t;
    CircuitDb db = CircuitDb::open(t.file("c.db"));
    Circuit c = layout("Wide", northGate(-150));
    c.rules.gateWidth = 200;
    db.addCircuit(c);
    std::vector<GeoSample> track{at(0, -5), at(0, 5)}; // 150 m east of point 1
    EXPECT_EQ(names(db.findCircuitsForTrack(track)), std::vector<std::string>{"Wide"});
}

// Circuits made from three generated sessions: each session's own samples
// find its own circuit, with one crossing per crossing the generator drove.
TEST(CircuitLookup, GeneratedSessionsFindTheirOwnCircuit) {
    TempDir t;
    CircuitDb db = CircuitDb::open(t.file("c.db"));
    std::vector<gen::Session> sessions;
    for (std::uint64_t seed : {21u, 22u, 23u}) {
        gen::Options o;
        o.seed = seed;
        o.laps = 4;
        sessions.push_back(gen::generate(o));
        StartFinish sf = parseStartFinish(sessions.back().gxr, "gen.gxr");
        Circuit c;
        c.name = "Generated " + std::to_string(seed);
        c.start = sf.start;
        db.addCircuit(c);
    }
    for (std::size_t i = 0; i < sessions.size(); ++i) {
        SCOPED_TRACE(i);
        std::vector<GeoSample> track;
        for (const gen::WrittenSample& s : sessions[i].samples) track.push_back({s.lat(), s.lon()});
        auto found = db.findCircuitsForTrack(track);
        ASSERT_EQ(found.size(), 1u);
        EXPECT_EQ(found[0].circuit.name, "Generated " + std::to_string(21 + i));
        int starts = 0;
        for (const gen::Crossing& c : sessions[i].crossings) starts += c.gate == gen::GateKind::Start;
        EXPECT_EQ(found[0].crossings, starts);
    }
}

// A loaded log's own circuit: the lookup runs on its kept track, counts what
// the lap step counts, and what it hands over (gates, split lines, rules) cuts
// those laps when put in force, for the text and the binary log alike.
TEST(CircuitLookup, LoadedLogFindsItsCircuitAndItsLapsAsCounted) {
    TempDir t;
    gen::Options o;
    o.seed = 31;
    o.laps = 5;
    const gen::Session g = gen::generate(o);
    gen::writeSession(g, t.file("s"));
    const StartFinish sf = parseStartFinish(g.gxr, "s.gxr");
    int starts = 0;
    for (const gen::Crossing& c : g.crossings) starts += c.gate == gen::GateKind::Start;

    CircuitDb db = CircuitDb::open(t.file("c.db"));
    Circuit own = layout("Own", sf.start, GateDirection::Forward);
    own.rules.gateWidth = 10;
    own.lapDistance = g.lapLength;
    for (std::size_t i : {g.samples.size() / 3, g.samples.size() / 2}) { // two split lines on the driven path
        const gen::WrittenSample &a = g.samples[i], &b = g.samples[i + 1];
        own.splits.push_back(Gate{a.lat(), a.lon(), b.lat(), b.lon()});
    }
    db.addCircuit(own);
    db.addCircuit(layout("Own backwards", sf.start, GateDirection::Reverse));
    // A minimum lap time longer than the session: the lap step keeps the first
    // crossing only, and so must the count.
    Circuit once = layout("Own once", sf.start);
    once.rules.minLap = 1e5;
    db.addCircuit(once);

    for (const auto& [kind, file] : {std::pair{LogKind::Text, "s.zlg"}, std::pair{LogKind::Binary, "s.wmx"}}) {
        SCOPED_TRACE(file);
        Session session;
        GateRules before;
        before.maxGap = 7.5; // the user's pause limit stays in force
        session.setGateRules(before);
        session.setKeepTrack(true);
        SessionObserver quiet;
        ASSERT_TRUE(session.loadLog(kind, t.file(file), quiet).ok);
        const auto log = session.loaded();
        const auto found = db.findCircuitsForTrack(*log->track, log->plane, log->kind, session.gateRules());
        ASSERT_EQ(names(found), (std::vector<std::string>{"Own", "Own once"}));
        EXPECT_EQ(found[0].crossings, starts);
        EXPECT_EQ(found[1].crossings, 1);

        for (const CircuitMatch& m : found) {
            SCOPED_TRACE(m.circuit.name);
            const StartFinishFile sff = circuitStartFinish(m.circuit);
            EXPECT_EQ(sff.path, m.circuit.name);
            EXPECT_EQ(sff.text, db.exportGxr(m.circuit.name));
            const GateRules rules = circuitRules(m.circuit, session.gateRules());
            EXPECT_EQ(rules.maxGap, 7.5);
            session.setStartFinish(sff);
            session.setGateRules(rules);
            const LoadReport r = session.recutLoaded();
            int counted = 0;
            for (const Crossing& c : session.crossings()) counted += !c.finishGate;
            EXPECT_EQ(counted, m.crossings);
            EXPECT_EQ(r.lapCount, m.circuit.name == "Own" ? g.expectedLaps : 0);
            session.setGateRules(before);
        }
        const StartFinishFile sff = circuitStartFinish(found[0].circuit);
        ASSERT_EQ(sff.splits.size(), 2u);
        for (std::size_t i = 0; i < 2; ++i) {
            EXPECT_EQ(sff.splits[i].lat1, own.splits[i].lat1);
            EXPECT_EQ(sff.splits[i].long2, own.splits[i].long2);
        }
        const GateRules rules = circuitRules(found[0].circuit, before);
        EXPECT_EQ(rules.direction, GateDirection::Forward);
        EXPECT_EQ(rules.gateWidth, 10);
    }
}

// Many circuits around the world: the prefilter keeps the lookup quick.
TEST(CircuitLookup, BigDatabaseStaysFast) {
    TempDir t;
    CircuitDb db = CircuitDb::open(t.file("c.db"));
    std::mt19937 rng(3);
    std::uniform_real_distribution<double> lat(-60 * 60, 70 * 60), lon(-180 * 60, 180 * 60);
    std::vector<Circuit> many;
    for (int i = 0; i < 20000; ++i) {
        double a = lat(rng), b = lon(rng);
        many.push_back(layout("World " + std::to_string(i), Gate{a, b, a + 0.001, b}));
    }
    db.addCircuits(many);
    db.addCircuit(layout("Here", northGate()));
    auto track = northwardLaps(0, 50);
    const auto t0 = std::chrono::steady_clock::now();
    auto found = db.findCircuitsForTrack(track);
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_EQ(names(found), std::vector<std::string>{"Here"});
    RecordProperty("lookup_ms", std::to_string(ms));
    std::printf("lookup among %zu circuits, %zu samples: %.2f ms\n", many.size() + 1, track.size(), ms);
    EXPECT_LT(ms, 500);
}
