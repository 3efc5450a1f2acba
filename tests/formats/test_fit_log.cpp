#include <gtest/gtest.h>

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
