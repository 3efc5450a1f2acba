// The session generator is the ground truth of other tests, so its files are
// read back here with small readers written from the file layouts alone.
#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "sessiongen/session_gen.h"

using namespace lorvane::gen;

namespace {

struct Row {
    std::int64_t centis = 0, lat = 0, lon = 0; // lon east positive
    int sats = 0;
};

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> out;
    std::size_t p = 0;
    while (p < text.size()) {
        std::size_t e = text.find('\n', p);
        if (e == std::string::npos) e = text.size();
        std::string line = text.substr(p, e - p);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        out.push_back(line);
        p = e + 1;
    }
    return out;
}

std::int64_t toInt(std::string_view s) {
    std::int64_t v = 0;
    auto r = std::from_chars(s.data(), s.data() + s.size(), v);
    if (r.ec != std::errc() || r.ptr != s.data() + s.size()) throw std::runtime_error("bad number " + std::string(s));
    return v;
}

// "3090.12345" (or with a comma) -> 309012345, exactly.
std::int64_t units(std::string f) {
    const auto point = f.find_first_of(".,");
    if (point == std::string::npos || f.size() - point != 6) throw std::runtime_error("bad position " + f);
    f.erase(point, 1);
    return toInt(f);
}

std::int64_t centis(const std::string& f) { // hhmmss.ss
    if (f.size() != 9) throw std::runtime_error("bad time " + f);
    return toInt(f.substr(0, 2)) * 360000 + toInt(f.substr(2, 2)) * 6000 + toInt(f.substr(4, 2)) * 100 +
           toInt(f.substr(7, 2));
}

bool has(const std::string& s, const std::string& part) {
    return s.find(part) != std::string::npos;
}

std::vector<Row> readText(const std::string& text) {
    const auto lines = splitLines(text);
    std::size_t i = 0;
    while (lines.at(i) != "[header]") ++i;
    int lat = 0, lon = 0, time = 0, sats = 0, col = 0;
    for (++i; lines.at(i) != "[channel units]"; ++i) {
        const std::string& n = lines[i];
        ++col;
        if (has(n, "atitude")) lat = col;
        if (has(n, "ongitude")) lon = col;
        if (has(n, "ime") && !has(n, "rigger") && !has(n, "ync")) time = col;
        if (has(n, "atellites")) sats = col;
    }
    while (lines.at(i) != "[data]") ++i;
    std::vector<Row> rows;
    for (++i; i < lines.size(); ++i) {
        std::vector<std::string> f(1);
        for (char ch : lines[i]) {
            if (ch == ' ')
                f.emplace_back();
            else
                f.back().push_back(ch);
        }
        EXPECT_EQ(static_cast<int>(f.size()), col) << "line " << i;
        rows.push_back({centis(f.at(time - 1)), units(f.at(lat - 1)), -units(f.at(lon - 1)),
                        static_cast<int>(toInt(f.at(sats - 1)))});
    }
    return rows;
}

std::vector<Row> readBinary(const std::string& b, int& recordLength) {
    const auto dollar = b.find('$');
    const std::string header = b.substr(0, dollar);
    recordLength = has(header, "VERT_SPEED(2)") ? 36 : has(header, "VELOCITY(3)") ? 34 : 33;
    const auto rl = static_cast<std::size_t>(recordLength);
    std::size_t p = b.find("\r\n", dollar) + 3; // the line end and one byte nobody reads
    auto be = [&](std::size_t at, int n) {
        std::uint32_t v = 0;
        for (int k = 0; k < n; ++k) v = v << 8 | static_cast<unsigned char>(b[at + static_cast<std::size_t>(k)]);
        return v;
    };
    std::vector<Row> rows;
    while (p < b.size()) {
        if (p + rl <= b.size() && b[p + rl - 1] != '$') { // broken record: skip past the next '$'
            const auto next = b.find('$', p + rl);
            p = next == std::string::npos ? b.size() : next + 1;
            continue;
        }
        rows.push_back({be(p + 1, 3), static_cast<std::int32_t>(be(p + 4, 4)), static_cast<std::int32_t>(be(p + 8, 4)),
                        static_cast<unsigned char>(b[p])});
        p += rl;
    }
    return rows;
}

Session make(std::uint64_t seed, int laps = 3) {
    Options o;
    o.seed = seed;
    o.laps = laps;
    return generate(o);
}

void expectRowsMatch(const std::vector<Row>& rows, const Session& s, bool skipDropped) {
    std::size_t r = 0;
    for (std::size_t i = 0; i < s.samples.size(); ++i) {
        if (skipDropped && s.binaryIndex(static_cast<std::int64_t>(i)) < 0) continue;
        ASSERT_LT(r, rows.size());
        const WrittenSample& w = s.samples[i];
        ASSERT_EQ(rows[r].centis, w.centis) << "sample " << i;
        ASSERT_EQ(rows[r].lat, w.latUnits) << "sample " << i;
        ASSERT_EQ(rows[r].lon, w.lonUnits) << "sample " << i;
        ASSERT_EQ(rows[r].sats, w.sats) << "sample " << i;
        ++r;
    }
    EXPECT_EQ(r, rows.size());
}

} // namespace

TEST(SessionGen, SameSeedSameFilesAndFormatOptionsKeepTheDrive) {
    const Session a = make(11), b = make(11), c = make(12);
    EXPECT_EQ(a.gxr, b.gxr);
    EXPECT_EQ(a.zlg, b.zlg);
    EXPECT_EQ(a.wmx, b.wmx);
    EXPECT_NE(a.zlg, c.zlg);
    EXPECT_NE(a.gxr, c.gxr);

    Options o;
    o.seed = 11;
    o.laps = 3;
    o.text.decimalComma = true;
    o.text.crlf = true;
    o.text.fillerChannels = -1;
    o.binary.recordLength = a.recordLength == 33 ? 36 : 33;
    o.binary.lastTerminator = false;
    const Session d = generate(o);
    ASSERT_EQ(d.samples.size(), a.samples.size());
    for (std::size_t i = 0; i < a.samples.size(); ++i) {
        ASSERT_EQ(d.samples[i].latUnits, a.samples[i].latUnits);
        ASSERT_EQ(d.samples[i].centis, a.samples[i].centis);
    }
    ASSERT_EQ(d.crossings.size(), a.crossings.size());
    EXPECT_EQ(d.crossings.back().time, a.crossings.back().time);
    EXPECT_NE(d.zlg.find(","), std::string::npos);
    EXPECT_NE(d.zlg.find("\r\n[data]\r\n"), std::string::npos);
    const std::size_t data = d.zlg.find("[data]\r\n") + 8;
    const double perLine = static_cast<double>(d.zlg.size() - data) / static_cast<double>(d.samples.size());
    EXPECT_GE(perLine, 98);
    EXPECT_LE(perLine, 115);
    EXPECT_NE(d.wmx.back(), '$');
    EXPECT_EQ(a.wmx.back(), '$');
}

TEST(SessionGen, BothLogsHoldTheSameSamples) {
    for (std::uint64_t seed : {1u, 2u, 3u}) {
        Options o;
        o.seed = seed;
        o.laps = 2;
        o.text.decimalComma = seed == 2;
        o.text.crlf = seed == 3;
        o.binary.recordLength = seed == 1 ? 33 : seed == 2 ? 34 : 36;
        o.binary.lastTerminator = seed != 3;
        const Session s = generate(o);
        SCOPED_TRACE(seed);
        expectRowsMatch(readText(s.zlg), s, false);
        int rl = 0;
        expectRowsMatch(readBinary(s.wmx, rl), s, true);
        EXPECT_EQ(rl, o.binary.recordLength);
        EXPECT_TRUE(s.droppedSamples.empty());
    }
}

TEST(SessionGen, DamagedRecordsAreExactlyTheOnesListed) {
    Options o;
    o.seed = 5;
    o.laps = 4;
    o.binary.damageRate = 0.01;
    const Session s = generate(o);
    ASSERT_GE(s.droppedSamples.size(), 10u);
    for (std::size_t i = 0; i < s.droppedSamples.size(); i += 2)
        EXPECT_EQ(s.droppedSamples[i + 1], s.droppedSamples[i] + 1); // a broken record takes the next with it
    int rl = 0;
    const auto rows = readBinary(s.wmx, rl);
    EXPECT_EQ(static_cast<std::int64_t>(rows.size()), s.binarySampleCount());
    expectRowsMatch(rows, s, true);
    // Nothing dropped close to a crossing.
    for (const Crossing& c : s.crossings)
        for (std::int64_t d = -5; d <= 5; ++d) EXPECT_GE(s.binaryIndex(c.sample + d), 0);
}

TEST(SessionGen, StartFinishFile) {
    Options o;
    o.seed = 21;
    o.laps = 2;
    const Session plain = generate(o);
    o.finishGate = true;
    const Session fin = generate(o);
    for (const Session* s : {&plain, &fin}) {
        const auto lines = splitLines(s->gxr);
        std::size_t i = 0;
        while (lines.at(i) != "[Start finish]") ++i;
        const auto& g = s->startGate;
        EXPECT_EQ(lines.at(i + 1), std::to_string(g.long1) + " " + std::to_string(g.lat1) + " " +
                                       std::to_string(g.long2) + " " + std::to_string(g.lat2));
        EXPECT_TRUE(g.long2 != g.long1 || g.lat2 != g.lat1); // point 2 gives a direction
        EXPECT_EQ(lines.at(i + 2), "[Finish]");
        if (s == &plain)
            EXPECT_EQ(lines.at(i + 3), "0 0 0 0");
        else
            EXPECT_NE(std::to_string(s->finishGate.lat1), "0");
    }
    EXPECT_EQ(plain.crossings.size(), 3u);
    EXPECT_EQ(plain.expectedLaps, 2);
    ASSERT_EQ(fin.crossings.size(), 5u);
    EXPECT_EQ(fin.expectedLaps, 4);
    for (std::size_t i = 0; i < fin.crossings.size(); ++i)
        EXPECT_EQ(fin.crossings[i].gate, i % 2 ? GateKind::Finish : GateKind::Start);
    EXPECT_EQ(plain.crossings.back().time, fin.crossings.back().time);
}

// The true crossing times, checked against the gate as a reader applies it to
// the written samples: a flat plane, the line through point 1 perpendicular to
// point 1 -> point 2, the later sample within 25 m, linear interpolation.
TEST(SessionGen, CrossingsMatchTheWrittenSamples) {
    for (std::uint64_t seed : {31u, 32u, 33u, 34u}) {
        SCOPED_TRACE(seed);
        const Session s = make(seed, 5);
        ASSERT_EQ(s.crossings.size(), 6u);
        const double lat0 = s.samples[0].lat(), lon0 = s.samples[0].lon();
        const double scale = std::cos(lat0 / 60 * 3.14159265358979 / 180);
        auto local = [&](double lat, double lon) {
            return std::pair{(lon - lon0) * kMetresPerMinute * scale, (lat - lat0) * kMetresPerMinute};
        };
        const auto& g = s.startGate;
        const auto [e1, n1] = local(g.lat1 / kUnitsPerMinute, g.long1 / kUnitsPerMinute);
        const auto [e2, n2] = local(g.lat2 / kUnitsPerMinute, g.long2 / kUnitsPerMinute);
        auto side = [&](double e, double n) { return (e - e1) * (e2 - e1) + (n - n1) * (n2 - n1); };
        std::vector<double> found;
        std::vector<std::int64_t> at;
        for (std::size_t i = static_cast<std::size_t>(s.baseSample) + 1; i < s.samples.size(); ++i) {
            const auto [pe, pn] = local(s.samples[i - 1].lat(), s.samples[i - 1].lon());
            const auto [ce, cn] = local(s.samples[i].lat(), s.samples[i].lon());
            const double dp = side(pe, pn), dc = side(ce, cn);
            if (((dp > 0 && dc <= 0) || (dp < 0 && dc >= 0)) && std::hypot(ce - e1, cn - n1) <= 25) {
                found.push_back(s.samples[i].time() - 0.1 * std::abs(dc) / (std::abs(dp) + std::abs(dc)));
                at.push_back(static_cast<std::int64_t>(i));
            }
        }
        ASSERT_EQ(found.size(), s.crossings.size());
        for (std::size_t k = 0; k < found.size(); ++k) {
            EXPECT_NEAR(found[k], s.crossings[k].clockTime, 0.06) << "crossing " << k;
            EXPECT_LE(std::abs(at[k] - s.crossings[k].sample), 1);
            // The true position at the crossing lies on the gate line, next to point 1.
            const LatLon p = s.truePositionAt(s.crossings[k].elapsed);
            const auto [te, tn] = local(p.lat, p.lon);
            EXPECT_NEAR(side(te, tn) / std::hypot(e2 - e1, n2 - n1), 0, 0.01);
            EXPECT_LT(std::hypot(te - e1, tn - n1), 0.5);
        }
        for (double lap : s.lapTimes) {
            EXPECT_GT(lap, 55);
            EXPECT_LT(lap, 125);
        }
        EXPECT_GT(s.lapLength, 1500);
        EXPECT_LT(s.lapLength, 5000.001);
    }
}

TEST(SessionGen, SamplesFollowThePathAtRacingSpeeds) {
    const Session s = make(41, 2);
    ASSERT_GT(s.baseSample, 0);
    EXPECT_LT(s.samples[0].sats, 3); // no fix yet when the log starts
    int good = 0;
    for (std::size_t i = 0; i < s.samples.size(); ++i) {
        const WrittenSample& w = s.samples[i];
        EXPECT_LT(s.distanceToPath({w.lat(), w.lon()}), 6 * s.noiseSigma + 0.05) << "sample " << i;
        good += w.sats >= 6;
        if (i) {
            EXPECT_EQ(w.centis - s.samples[i - 1].centis, 10);
            const double dn = (w.lat() - s.samples[i - 1].lat()) * kMetresPerMinute;
            const double de = (w.lon() - s.samples[i - 1].lon()) * kMetresPerMinute *
                              std::cos(w.lat() / 60 * 3.14159265358979 / 180);
            const double v = std::hypot(dn, de) * kSamplesPerSecond;
            EXPECT_GT(v, 11) << "sample " << i;
            EXPECT_LT(v, 66) << "sample " << i;
        }
    }
    EXPECT_GT(good, static_cast<int>(s.samples.size() * 9 / 10));
    EXPECT_LT(s.samples.back().time(), 86400);
}

TEST(SessionGen, ClockRestartsAtMidnightOnlyWhenAsked) {
    Options o;
    o.seed = 51;
    o.laps = 3;
    o.crossMidnight = true;
    const Session s = generate(o);
    int wraps = 0;
    for (std::size_t i = 1; i < s.samples.size(); ++i) wraps += s.samples[i].centis < s.samples[i - 1].centis;
    EXPECT_EQ(wraps, 1);
    for (double lap : s.lapTimes) EXPECT_GT(lap, 0);

    o.crossMidnight = false;
    o.startTime = 86350;
    const Session t = generate(o); // too late to finish today: the clock runs on past 24:00
    for (std::size_t i = 1; i < t.samples.size(); ++i) ASSERT_GT(t.samples[i].centis, t.samples[i - 1].centis);
    EXPECT_GT(t.samples.back().time(), 86400);
    EXPECT_GT(readText(t.zlg).back().centis, 8640000); // written as hour 24 and later
}

TEST(SessionGen, RefusesOptionsItCannotHonour) {
    auto bad = [](auto change) {
        Options o;
        change(o);
        EXPECT_THROW(generate(o), std::invalid_argument);
    };
    bad([](Options& o) { o.laps = 0; });
    bad([](Options& o) { o.binary.recordLength = 35; });
    bad([](Options& o) { o.centreLat = 10; }); // longitude missing
    bad([](Options& o) { o.text.extraChannels = std::vector<std::string>{"Lap time"}; });
    bad([](Options& o) { o.text.extraChannels = std::vector<std::string>{"GPS satellites"}; });
    bad([](Options& o) { o.text.fillerChannels = 40; });
    for (int rate : {0, 3, 8, 100, -10}) bad([rate](Options& o) { o.samplesPerSecond = rate; });
    Options ok;
    ok.laps = 1;
    ok.text.extraChannels = std::vector<std::string>{"Trigger time", "Sync time", "Altitude", "Wheel speed"};
    EXPECT_NO_THROW(generate(ok));
}

// Other rates, and logs without the fixes at the line: the clock steps by the
// interval except across the line, both logs hold the samples as listed, and
// each crossing is detected at the first written sample past it.
TEST(SessionGen, RatesAndFixesLeftOutAtTheLine) {
    struct Case {
        int rate;
        bool drop;
    };
    for (const Case c : {Case{1, false}, Case{2, false}, Case{4, false}, Case{5, false}, Case{20, false},
                         Case{25, false}, Case{50, false}, Case{10, true}, Case{5, true}, Case{25, true}}) {
        SCOPED_TRACE(std::to_string(c.rate) + (c.drop ? " Hz, fixes left out at the line" : " Hz"));
        Options o;
        o.seed = 71 + static_cast<std::uint64_t>(c.rate);
        o.laps = 3;
        o.samplesPerSecond = c.rate;
        o.dropFixesAtLine = c.drop;
        o.finishGate = c.drop;
        const Session s = generate(o);
        const std::int64_t step = 100 / c.rate;
        ASSERT_EQ(s.crossings.size(), c.drop ? 7u : 4u);

        // Intervals: the step everywhere but across the line, where crossing k
        // lacks the fix before it, after it, or both, in turn.
        std::vector<std::int64_t> across;
        for (const Crossing& x : s.crossings) {
            ASSERT_GT(x.sample, s.baseSample + 10);
            across.push_back(s.samples[static_cast<std::size_t>(x.sample)].centis -
                             s.samples[static_cast<std::size_t>(x.sample - 1)].centis);
        }
        std::size_t wider = 0;
        for (std::size_t i = 1; i < s.samples.size(); ++i) {
            const std::int64_t d = s.samples[i].centis - s.samples[i - 1].centis;
            if (d != step) ++wider;
            ASSERT_TRUE(d == step || c.drop) << "sample " << i;
        }
        for (std::size_t k = 0; k < across.size(); ++k)
            EXPECT_EQ(across[k], c.drop ? step * (k % 3 == 2 ? 3 : 2) : step) << "crossing " << k;
        EXPECT_EQ(wider, c.drop ? s.crossings.size() : 0u);
        EXPECT_EQ(s.samples.size() + (c.drop ? 7 + 2 : 0),
                  static_cast<std::size_t>((s.samples.back().centis - s.samples.front().centis) / step + 1));

        // Both logs hold exactly the listed samples, one after the other.
        expectRowsMatch(readText(s.zlg), s, false);
        int rl = 0;
        expectRowsMatch(readBinary(s.wmx, rl), s, true);
        EXPECT_TRUE(has(s.zlg, "; " + std::to_string(c.rate) + " samples per second"));
        const std::string j = truthJson(s);
        EXPECT_TRUE(has(j, "\"samplesPerSecond\": " + std::to_string(c.rate) + ","));
        EXPECT_TRUE(has(j, "\"samples\": " + std::to_string(s.samples.size()) + ","));

        for (std::size_t k = 0; k < s.crossings.size(); ++k) {
            const Crossing& x = s.crossings[k];
            const auto at = static_cast<std::size_t>(x.sample);
            EXPECT_GE(s.samples[at].time(), x.clockTime - 1e-9) << "crossing " << k;
            EXPECT_LT(s.samples[at - 1].time(), x.clockTime) << "crossing " << k;
            // The true position then lies on the gate line, next to its point 1.
            const GateUnits& g = x.gate == GateKind::Start ? s.startGate : s.finishGate;
            const LatLon p = s.truePositionAt(x.elapsed);
            const double cosLat = std::cos(p.lat / 60 * 3.14159265358979 / 180);
            const double de = (p.lon - g.long1 / kUnitsPerMinute) * kMetresPerMinute * cosLat;
            const double dn = (p.lat - g.lat1 / kUnitsPerMinute) * kMetresPerMinute;
            EXPECT_LT(std::hypot(de, dn), 0.5) << "crossing " << k;
            // Sample times follow the truth's clock: the written positions lie
            // on the path where the truth puts the vehicle at their time.
            const double elapsed = s.samples[at].time() - s.samples[0].time();
            const LatLon q = s.truePositionAt(elapsed);
            const double qe = (q.lon - s.samples[at].lon()) * kMetresPerMinute * cosLat;
            const double qn = (q.lat - s.samples[at].lat()) * kMetresPerMinute;
            EXPECT_LT(std::hypot(qe, qn), 6 * s.noiseSigma + 0.05) << "crossing " << k;
        }
        for (std::size_t i = 0; i < s.samples.size(); i += 7)
            EXPECT_LT(s.distanceToPath({s.samples[i].lat(), s.samples[i].lon()}), 6 * s.noiseSigma + 0.05);
    }
}

TEST(SessionGen, TruthFileListsCrossingsLapsAndDroppedRecords) {
    Options o;
    o.seed = 61;
    o.laps = 3;
    o.finishGate = true;
    o.binary.damageRate = 0.01;
    const Session s = generate(o);
    const std::string j = truthJson(s);
    auto count = [&](const std::string& part) {
        std::size_t n = 0;
        for (auto p = j.find(part); p != std::string::npos; p = j.find(part, p + 1)) ++n;
        return n;
    };
    EXPECT_EQ(count("\"gate\": \"start\""), 4u);
    EXPECT_EQ(count("\"gate\": \"finish\""), 3u);
    EXPECT_TRUE(has(j, "\"expectedLaps\": 6,"));
    EXPECT_TRUE(has(j, "\"samples\": " + std::to_string(s.samples.size()) + ","));
    std::string dropped = "\"droppedSamples\": [";
    for (std::size_t i = 0; i < s.droppedSamples.size(); ++i)
        dropped += (i ? ", " : "") + std::to_string(s.droppedSamples[i]);
    EXPECT_TRUE(has(j, dropped + "]"));
    // Lap times are written so that they read back to the same doubles.
    const auto lt = j.find("\"lapTimes\": [") + 13;
    double first = 0;
    std::from_chars(j.data() + lt, j.data() + j.size(), first);
    EXPECT_EQ(first, s.lapTimes.front());
}
