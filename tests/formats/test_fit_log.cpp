#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "formats/fit_log.h"
#include "formats/fit_writer.h"
#include "formats/log_time.h"
#include "test_util.h"

using namespace lorvane;
using lorvane::test::FitWriter;

namespace {

struct Collect : SampleSink {
    std::vector<Sample> samples;
    LogLayout seen;
    int stopAfter = -1;
    bool cancel = false;
    void layout(const LogLayout& l) override { seen = l; }
    bool sample(const Sample& s) override {
        samples.push_back(s);
        return static_cast<int>(samples.size()) != stopAfter;
    }
    bool progress(std::uint64_t, std::uint64_t) override { return !cancel; }
};

FitLogInfo read(const std::string& bytes, Collect& c) {
    MemorySource src(bytes, "t.fit");
    return readFitLog(src, c);
}

// FIT seconds of a UTC date and time (1989-12-31 00:00 is 0).
std::uint32_t fitTime(int y, int mo, int d, int seconds) {
    return static_cast<std::uint32_t>((daysFromCivil(y, mo, d) - daysFromCivil(1989, 12, 31)) * 86400 + seconds);
}

// Five records, one a second from 10:00:00, on local type 1; offsets in `at`.
std::string fiveRecords(std::vector<std::size_t>& at, FitWriter w = FitWriter()) {
    w.define(1, 20, {FitWriter::kTime, FitWriter::kLat, FitWriter::kLon});
    for (int i = 0; i < 5; ++i)
        at.push_back(w.data(
            1, {fitTime(2024, 5, 1, 36000 + i), FitWriter::semicircles(50 + i * 1e-4), FitWriter::semicircles(8)}));
    return w.finish();
}

} // namespace

TEST(FitLog, WrittenFileBothByteOrdersCompressedTimesDeveloperFields) {
    // From 15 s before midnight: compressed times 10 s apart roll over their
    // five bits and the clock runs on past midnight.
    const std::uint32_t t0 = fitTime(2024, 5, 1, 86400 - 15);
    for (int headerSize : {12, 14}) {
        SCOPED_TRACE(headerSize);
        FitWriter w(headerSize);
        w.define(0, 0, {{1, 2, 0x84}, {2, 2, 0x84}});
        w.data(0, {1, 2530});
        w.define(1, 20, {FitWriter::kTime, FitWriter::kLat, FitWriter::kLon, FitWriter::kSpeed});
        const auto r0 = w.data(1, {t0, FitWriter::semicircles(45.5), FitWriter::semicircles(-73.25), 12345});
        w.data(1, {t0 + 1, 0x7FFFFFFF, 0x7FFFFFFF, 0xFFFF}); // no position yet
        w.define(2, 20, {FitWriter::kLat, FitWriter::kLon, FitWriter::kEnhancedSpeed}, true, {3, 1});
        std::vector<std::size_t> at;
        for (int k = 1; k <= 4; ++k)
            at.push_back(
                w.compressed(2, (t0 + 1 + 10 * k) & 31,
                             {FitWriter::semicircles(45.5 + k * 1e-4), FitWriter::semicircles(-73.25), 20000u + k}));
        Collect c;
        const FitLogInfo info = read(w.finish(), c);
        EXPECT_EQ(c.seen.ticksPerSecond, 1000);
        EXPECT_EQ(info.samples, 5);
        EXPECT_EQ(info.records, 6);
        EXPECT_EQ(info.recordsWithoutPosition, 1);
        EXPECT_EQ(info.messages, 7);
        EXPECT_TRUE(info.crcChecked);
        EXPECT_EQ(info.damage, "");
        EXPECT_EQ(info.device, "Garmin, product 2530");
        ASSERT_EQ(c.samples.size(), 5u);
        const Sample& s0 = c.samples[0];
        EXPECT_NEAR(s0.lat, 45.5 * 60, 1e-5);
        EXPECT_NEAR(s0.lon, -73.25 * 60, 1e-5);
        EXPECT_EQ(s0.clock, (86400 - 15) * 1000);
        EXPECT_DOUBLE_EQ(s0.speed, 12.345);
        EXPECT_EQ(s0.offset, static_cast<std::int64_t>(r0));
        EXPECT_FALSE(s0.satsKnown);
        EXPECT_EQ(s0.sats, kSatsUnknown);
        for (int k = 1; k <= 4; ++k) {
            const Sample& s = c.samples[k];
            EXPECT_EQ(s.index, k);
            EXPECT_EQ(s.clock, (86400 - 14 + 10 * k) * 1000) << k;
            EXPECT_EQ(s.time, s.clock / 1000.0);
            EXPECT_NEAR(s.lat, (45.5 + k * 1e-4) * 60, 1e-5);
            EXPECT_NEAR(s.lon, -73.25 * 60, 1e-5);
            EXPECT_DOUBLE_EQ(s.speed, 20.0 + k / 1000.0);
            EXPECT_EQ(s.offset, static_cast<std::int64_t>(at[k - 1]));
        }
    }
}

TEST(FitLog, RealEdge820Ride) {
    LORVANE_REQUIRE_REALDATA(path, "other-apps/garmin-fit-edge820/garmin-edge-820-bike.fit");
    Collect c;
    const FitLogInfo info = readFitLog(path, c);
    EXPECT_TRUE(info.crcChecked);
    EXPECT_EQ(info.damage, "");
    ASSERT_EQ(info.samples, 15);
    EXPECT_EQ(c.samples.front().clock, (16 * 3600 + 10 * 60 + 15) * 1000); // 16:10:15 UTC
    EXPECT_EQ(c.samples.back().clock, (16 * 3600 + 11 * 60 + 20) * 1000);
    for (std::size_t i = 1; i < c.samples.size(); ++i) {
        const auto step = c.samples[i].clock - c.samples[i - 1].clock;
        EXPECT_TRUE(step >= 1000 && step <= 9000) << i;
    }
    EXPECT_NEAR(c.samples.front().lat / 60, 37.41, 0.01);
    EXPECT_NEAR(c.samples.front().lon / 60, -122.07, 0.01);
}

// Damage part-way keeps the samples before it and names the byte; only a
// file without a FIT header is an error.
TEST(FitLog, DamageKeepsTheSamplesBefore) {
    std::vector<std::size_t> at;
    const std::string good = fiveRecords(at);
    struct Case {
        const char* what;
        std::string bytes;
        std::size_t samples;
        std::int64_t damageAt;
    };
    const std::string withUndefined = [&] {
        FitWriter w;
        w.define(1, 20, {FitWriter::kTime, FitWriter::kLat, FitWriter::kLon});
        w.data(1, {fitTime(2024, 5, 1, 36000), FitWriter::semicircles(50), FitWriter::semicircles(8)});
        w.raw("\x07");
        w.raw(std::string(12, '\0'));
        return w.finish();
    }();
    std::string badCrc = good;
    badCrc.back() ^= 0x40;
    std::vector<std::size_t> at12;
    std::string wideHeader = fiveRecords(at12, FitWriter(12)); // a data size beyond the end of the file
    wideHeader[7] = '\x7F';
    std::string badHeaderCrc = good;
    badHeaderCrc[12] ^= 1;
    const std::vector<Case> cases = {
        {"cut inside the fourth record", good.substr(0, at[3] + 5), 3, static_cast<std::int64_t>(at[3])},
        {"cut before the CRC", good.substr(0, good.size() - 2), 5, static_cast<std::int64_t>(good.size() - 2)},
        {"a bad CRC", badCrc, 5, static_cast<std::int64_t>(good.size() - 2)},
        {"local type 7 undefined", withUndefined, 1, static_cast<std::int64_t>(withUndefined.size() - 2 - 13)},
        {"a data size past the end", wideHeader, 5, static_cast<std::int64_t>(wideHeader.size() - 2)},
        {"a bad header CRC (and so file CRC)", badHeaderCrc, 5, static_cast<std::int64_t>(good.size() - 2)},
        {"a bad header CRC, then a cut", badHeaderCrc.substr(0, at[3] + 5), 3, static_cast<std::int64_t>(at[3])},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        Collect c;
        const FitLogInfo info = read(k.bytes, c);
        EXPECT_EQ(c.samples.size(), k.samples);
        EXPECT_EQ(info.damageOffset, k.damageAt);
        EXPECT_NE(info.damage.find("Byte " + std::to_string(k.damageAt) + ": "), std::string::npos) << info.damage;
        EXPECT_FALSE(info.crcChecked);
        if (std::string_view(k.what).starts_with("a bad header CRC")) {
            EXPECT_NE(info.damage.find("; before it, Byte 12: the header's CRC"), std::string::npos) << info.damage;
        }
    }

    for (const std::string& notFit :
         {std::string(), std::string("<?xml version=\"1.0\"?><gpx/>"), good.substr(0, 11)}) {
        Collect c;
        try {
            read(notFit, c);
            ADD_FAILURE() << "no error";
        } catch (const LoadError& e) {
            EXPECT_EQ(e.diagnostic().kind, ErrorKind::Syntax);
            EXPECT_EQ(e.diagnostic().offset, 0);
            EXPECT_EQ(e.diagnostic().file, "t.fit");
        }
    }
    EXPECT_TRUE(looksLikeFit(good));
    EXPECT_FALSE(looksLikeFit(good.substr(0, 11)));
}

TEST(FitLog, ChainedFilesStopAndCancel) {
    std::vector<std::size_t> at;
    const std::string one = fiveRecords(at);
    {
        Collect c;
        const FitLogInfo info = read(one + one, c);
        ASSERT_EQ(c.samples.size(), 10u);
        EXPECT_TRUE(info.crcChecked);
        EXPECT_EQ(c.samples[5].index, 5);
        EXPECT_EQ(c.samples[5].offset, static_cast<std::int64_t>(one.size() + at[0]));
    }
    {
        Collect c;
        c.stopAfter = 2;
        const FitLogInfo info = read(one, c);
        EXPECT_TRUE(info.stopped);
        EXPECT_EQ(info.samples, 1);
    }
    {
        Collect c;
        c.cancel = true;
        try {
            read(one, c);
            ADD_FAILURE() << "not cancelled";
        } catch (const LoadError& e) {
            EXPECT_EQ(e.diagnostic().kind, ErrorKind::Cancelled);
        }
    }
}

namespace {

struct ChannelCollect : Collect {
    std::vector<std::vector<double>> values;
    bool wantsChannels() const override { return true; }
    bool sample(const Sample& s) override {
        values.emplace_back(s.channels.begin(), s.channels.end());
        return Collect::sample(s);
    }
};

// Four records: altitude before and after its enhanced field, a power and a
// signed temperature, a heart rate at its invalid value, a cadence first
// defined after the first record.
std::string channelFile(bool bigEndian) {
    const std::uint32_t t0 = fitTime(2024, 5, 1, 36000);
    FitWriter w;
    const FitWriter::Field alt{2, 2, 0x84}, enhancedAlt{78, 4, 0x86}, hr{3, 1, 0x02}, power{7, 2, 0x84},
        temp{13, 1, 0x01};
    w.define(1, 20, {FitWriter::kTime, FitWriter::kLat, FitWriter::kLon, alt, enhancedAlt, hr, temp}, bigEndian);
    w.data(1, {t0, FitWriter::semicircles(50), FitWriter::semicircles(8), 2600, 3000, 150, 0xFB});
    w.define(2, 20, {FitWriter::kTime, enhancedAlt, FitWriter::kLat, FitWriter::kLon, alt, hr, power}, bigEndian);
    w.data(2, {t0 + 1, 2400, FitWriter::semicircles(50), FitWriter::semicircles(8), 0xFFFF, 0xFF, 310});
    w.data(2, {t0 + 2, 0xFFFFFFFF, FitWriter::semicircles(50), FitWriter::semicircles(8), 2505, 151, 0xFFFF});
    w.define(3, 20, {FitWriter::kTime, FitWriter::kLat, FitWriter::kLon, {4, 1, 0x02}}, bigEndian);
    w.data(3, {t0 + 3, FitWriter::semicircles(50), FitWriter::semicircles(8), 90});
    return w.finish();
}

} // namespace

TEST(FitLog, ChannelsWithTheProfilesScalesEnhancedFieldsFirstInvalidValuesNone) {
    {
        // The ride's records, decoded by hand from the file's bytes: altitude
        // 2412 is 2412 / 5 - 500 m, speed 6951 is mm/s, distance cm.
        LORVANE_REQUIRE_REALDATA(path, "other-apps/garmin-fit-edge820/garmin-edge-820-bike.fit");
        ChannelCollect c;
        readFitLog(path, c);
        EXPECT_EQ(c.seen.channels, (std::vector<ChannelInfo>{{"Speed", "m/s"},
                                                             {"Altitude", "m"},
                                                             {"Distance", "m"},
                                                             {"Heart rate", "bpm"},
                                                             {"Cadence", "rpm"},
                                                             {"Temperature", "°C"}}));
        ASSERT_EQ(c.values.size(), 15u);
        EXPECT_EQ(c.values.front(), (std::vector<double>{6.951, -17.6, 6.95, 101, 69, 13}));
        EXPECT_EQ(c.values[1], (std::vector<double>{6.867, -17.8, 41.58, 104, 68, 13}));
        EXPECT_EQ(c.values.back(), (std::vector<double>{6.653, -17.8, 457.12, 115, 66, 13}));
        for (std::size_t i = 0; i < c.samples.size(); ++i) EXPECT_EQ(c.values[i][0], c.samples[i].speed) << i;
    }
    for (bool bigEndian : {false, true}) {
        SCOPED_TRACE(bigEndian);
        ChannelCollect c;
        read(channelFile(bigEndian), c);
        EXPECT_EQ(c.seen.channels,
                  (std::vector<ChannelInfo>{{"Altitude", "m"}, {"Heart rate", "bpm"}, {"Temperature", "°C"}}));
        ASSERT_EQ(c.values.size(), 4u);
        EXPECT_EQ(c.values[0], (std::vector<double>{100, 150, -5}));
        EXPECT_EQ(c.values[1][0], -20); // enhanced, though the plain field follows it
        EXPECT_TRUE(std::isnan(c.values[1][1]) && std::isnan(c.values[1][2]));
        EXPECT_EQ(c.values[2][0], 1); // the enhanced field invalid: the plain one
        EXPECT_EQ(c.values[2][1], 151);
        EXPECT_TRUE(std::isnan(c.values[3][0]) && std::isnan(c.values[3][1]) && std::isnan(c.values[3][2]));
    }
}

// A file cut anywhere or with any byte changed reads the same samples whether
// channels are wanted or not, each with one value per channel.
TEST(FitLog, DamagedFilesWithChannelsWanted) {
    const std::string file = channelFile(true);
    auto same = [](const std::string& bytes) {
        Collect plain;
        ChannelCollect c;
        bool plainFailed = false, failed = false;
        try {
            read(bytes, plain);
        } catch (const LoadError&) {
            plainFailed = true;
        }
        try {
            read(bytes, c);
        } catch (const LoadError&) {
            failed = true;
        }
        ASSERT_EQ(failed, plainFailed);
        ASSERT_EQ(c.samples.size(), plain.samples.size());
        for (std::size_t i = 0; i < c.samples.size(); ++i) {
            ASSERT_EQ(c.samples[i].clock, plain.samples[i].clock);
            ASSERT_EQ(c.values[i].size(), c.seen.channels.size());
        }
    };
    for (std::size_t n = 0; n < file.size(); ++n) {
        SCOPED_TRACE(n);
        same(file.substr(0, n));
        for (unsigned char x : {0x00, 0x40, 0xFF}) {
            std::string bad = file;
            bad[n] = static_cast<char>(x);
            same(bad);
        }
    }
}
