#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "formats/nmea_log.h"
#include "formats/numbers.h"
#include "test_util.h"

using namespace lorvane;

namespace {

struct Collect : SampleSink {
    std::vector<Sample> samples;
    LogLayout seen;
    std::size_t stopAfter = SIZE_MAX;
    void layout(const LogLayout& l) override { seen = l; }
    bool sample(const Sample& s) override {
        samples.push_back(s);
        return samples.size() < stopAfter;
    }
};

// "$body*hh" with the right checksum.
std::string nmea(const std::string& body) {
    unsigned sum = 0;
    for (char c : body) sum ^= static_cast<unsigned char>(c);
    char cs[4];
    std::snprintf(cs, sizeof cs, "%02X", sum);
    return "$" + body + "*" + cs + "\n";
}

std::string rmc(const std::string& time, const std::string& status = "A", const std::string& date = "040623",
                const std::string& lat = "2824.65615,N", const std::string& lon = "08122.74703,W",
                const std::string& talker = "GP") {
    return nmea(talker + "RMC," + time + "," + status + "," + lat + "," + lon + ",10.0,269.63," + date + ",,,");
}
std::string gga(const std::string& time, int quality = 1, const std::string& sats = "10",
                const std::string& lat = "2824.65615,N", const std::string& lon = "08122.74703,W",
                const std::string& talker = "GP") {
    return nmea(talker + "GGA," + time + "," + lat + "," + lon + "," + std::to_string(quality) + "," + sats +
                ",0.85,28.00,M,,M,,");
}

NmeaLogInfo read(const std::string& text, Collect& c) {
    MemorySource src(text, "t.nmea");
    return readNmeaLog(src, c);
}

Diagnostic errorOf(const std::string& text) {
    Collect c;
    try {
        read(text, c);
    } catch (const LoadError& e) {
        return e.diagnostic();
    }
    ADD_FAILURE() << "no error";
    return {};
}

void expectIncreasing(const std::vector<Sample>& v) {
    for (std::size_t i = 1; i < v.size(); ++i) {
        ASSERT_GT(v[i].clock, v[i - 1].clock) << "sample " << i;
        ASSERT_EQ(v[i].index, static_cast<std::int32_t>(i));
    }
}

} // namespace

TEST(NmeaLog, RealRecordings) {
    {
        LORVANE_REQUIRE_REALDATA(path, "okc-kart-4laps/okc_kart_2023-06-04_4laps.nmea");
        Collect c;
        NmeaLogInfo info = readNmeaLog(path, c);
        EXPECT_EQ(info.samples, 3828);
        EXPECT_EQ(info.sentences, 7656);
        EXPECT_EQ(info.dropped(), 0);
        EXPECT_EQ(info.noFix, 0);
        EXPECT_TRUE(info.satellites);
        EXPECT_EQ(c.seen.ticksPerSecond, 1000);
        ASSERT_EQ(c.samples.size(), 3828u);
        const Sample& s = c.samples.front();
        EXPECT_EQ(s.clock, (16 * 3600 + 53 * 60 + 33) * 1000 + 60);
        EXPECT_DOUBLE_EQ(s.time, 60813.06);
        EXPECT_DOUBLE_EQ(s.lat, 28 * 60 + 24.65615);
        EXPECT_DOUBLE_EQ(s.lon, -(81 * 60 + 22.74703));
        EXPECT_EQ(s.sats, 10);
        EXPECT_TRUE(s.satsKnown);
        EXPECT_NEAR(s.speed, 0.71 * 1852 / 3600, 1e-12);
        EXPECT_EQ(s.line, 1);
        EXPECT_EQ(c.samples.back().clock, (16 * 3600 + 58 * 60 + 46) * 1000 + 890);
        for (const Sample& x : c.samples) ASSERT_TRUE(x.satsKnown && x.sats >= 8 && x.sats <= 10);
        expectIncreasing(c.samples);
    }
    {
        // One GGA, then RMC only: the first fix has satellites, the others not.
        LORVANE_REQUIRE_REALDATA(path, "okc-kart-rental-3laps/okc_kart_2023-04-29_rental.nmea");
        Collect c;
        NmeaLogInfo info = readNmeaLog(path, c);
        EXPECT_EQ(info.samples, 2790);
        EXPECT_EQ(info.dropped(), 0);
        ASSERT_EQ(c.samples.size(), 2790u);
        EXPECT_TRUE(c.samples[0].satsKnown);
        EXPECT_EQ(c.samples[0].sats, 8);
        EXPECT_FALSE(c.samples[1].satsKnown);
        EXPECT_EQ(c.samples[1].sats, kSatsUnknown);
        EXPECT_EQ(c.samples[1].line, 3);
        expectIncreasing(c.samples);
    }
}

TEST(NmeaLog, OneSamplePerFixTime) {
    // RMC then GGA, GGA then RMC, GGA without a fix before a valid RMC, RMC
    // alone, other talkers, other sentences in between.
    std::string log = rmc("100000.00") + gga("100000.00", 1, "07", "2824.00000,N", "08122.00000,W") +
                      nmea("GPGSV,3,1,11,03,03,111,00,04,15,270,00,06,01,010,00,13,06,292,00") +
                      gga("100000.10", 2, "09") + rmc("100000.10", "A", "040623", "2824.00000,N") +
                      gga("100000.20", 0, "03", ",", ",") + rmc("100000.20", "A", "040623", "2824.11111,N") +
                      rmc("100000.30", "A", "040623", "2824.65615,N", "08122.74703,W", "GN") +
                      gga("100000.40", 1, "12", "2824.65615,N", "08122.74703,W", "GL") +
                      nmea("GPVTG,,T,,M,0.0,N,0.0,K");
    Collect c;
    NmeaLogInfo info = read(log, c);
    ASSERT_EQ(c.samples.size(), 5u);
    EXPECT_EQ(info.otherSentences, 2);
    EXPECT_EQ(info.dropped(), 0);
    // RMC first: its position; the GGA's satellites.
    EXPECT_DOUBLE_EQ(c.samples[0].lat, 28 * 60 + 24.65615);
    EXPECT_EQ(c.samples[0].sats, 7);
    EXPECT_TRUE(c.samples[0].satsKnown);
    EXPECT_NEAR(c.samples[0].speed, 10 * 1852.0 / 3600, 1e-12);
    // GGA first: its position.
    EXPECT_DOUBLE_EQ(c.samples[1].lat, 28 * 60 + 24.65615);
    EXPECT_EQ(c.samples[1].sats, 9);
    EXPECT_EQ(c.samples[1].line, 4);
    // A GGA without a fix gives no position, but still the satellites.
    EXPECT_DOUBLE_EQ(c.samples[2].lat, 28 * 60 + 24.11111);
    EXPECT_EQ(c.samples[2].sats, 3);
    EXPECT_EQ(c.samples[2].line, 7);
    // RMC alone: satellites unknown, counted as enough.
    EXPECT_FALSE(c.samples[3].satsKnown);
    EXPECT_EQ(c.samples[3].sats, kSatsUnknown);
    EXPECT_EQ(c.samples[4].sats, 12);
    EXPECT_EQ(c.samples[4].speed, -1); // GGA has no speed
    EXPECT_EQ(c.samples[4].clock, 36000400);
    expectIncreasing(c.samples);
}

TEST(NmeaLog, NoFixGivesNoSample) {
    std::string log = rmc("100000.00", "V") + gga("100000.00", 0, "00") + nmea("GPRMC,,V,,,,,,,,,,N") +
                      nmea("GPGGA,,,,,,0,00,99.99,,,,,,") +
                      // mode indicator N: data not valid, even with status A
                      nmea("GPRMC,100000.10,A,2824.65615,N,08122.74703,W,0.0,0.0,040623,,,N") + rmc("100000.20");
    Collect c;
    NmeaLogInfo info = read(log, c);
    ASSERT_EQ(c.samples.size(), 1u);
    EXPECT_EQ(c.samples[0].clock, 36000200);
    EXPECT_EQ(c.samples[0].index, 0);
    EXPECT_EQ(info.noFix, 2);
    EXPECT_EQ(info.dropped(), 0);
}

TEST(NmeaLog, Checksums) {
    std::string good = rmc("100000.00");
    std::string bad = rmc("100000.10");
    bad[bad.size() - 2] = bad[bad.size() - 2] == '0' ? '1' : '0';
    std::string lower = rmc("100000.20");
    for (char& ch : lower)
        if (ch >= 'A' && ch <= 'F' && &ch > &lower[lower.size() - 4]) ch = static_cast<char>(ch - 'A' + 'a');
    std::string noChecksum = "$GPRMC,100000.30,A,2824.65615,N,08122.74703,W,10.0,269.63,040623,,,\n";
    Collect c;
    NmeaLogInfo info = read(good + bad + lower + noChecksum + rmc("100000.40"), c);
    ASSERT_EQ(c.samples.size(), 3u);
    EXPECT_EQ(c.samples[1].clock, 36000200);
    EXPECT_EQ(info.badChecksums, 1);
    EXPECT_EQ(info.damaged, 1); // no checksum where the others have one: cut short
    EXPECT_EQ(info.firstDroppedLine, 2);

    // A log without checksums at all is read as it is.
    Collect d;
    info = read(noChecksum + "$GPGGA,100000.30,2824.65615,N,08122.74703,W,1,06,0.9,28.0,M,,M,,\r\n", d);
    ASSERT_EQ(d.samples.size(), 1u);
    EXPECT_EQ(d.samples[0].sats, 6);
    EXPECT_EQ(info.dropped(), 0);
}

TEST(NmeaLog, Midnight) {
    // By the RMC date: across midnight and into a new month and year.
    Collect c;
    read(rmc("235959.900", "A", "311223") + gga("235959.900") + rmc("000000.100", "A", "010124") + gga("000000.100") +
             rmc("000000.300", "A", "010124"),
         c);
    ASSERT_EQ(c.samples.size(), 3u);
    EXPECT_EQ(c.samples[0].clock, 86399900);
    EXPECT_EQ(c.samples[1].clock, 86400100);
    EXPECT_DOUBLE_EQ(c.samples[1].time, 86400.1);
    EXPECT_EQ(c.samples[2].clock, 86400300);

    // A date that lags the time past midnight, and a day without fixes.
    Collect e;
    read(rmc("235959.900", "A", "311223") + rmc("000000.100", "A", "311223") + rmc("000000.200", "A", "010124") +
             rmc("120000.000", "A", "020124"),
         e);
    ASSERT_EQ(e.samples.size(), 4u);
    EXPECT_EQ(e.samples[1].clock, 86400100);
    EXPECT_EQ(e.samples[2].clock, 86400200);
    EXPECT_EQ(e.samples[3].clock, 2 * 86400000 + 12 * 3600000);

    // GGA only: a time far before the last one is the next day. GGA before
    // RMC at midnight counts the day once.
    Collect d;
    read(gga("235959.95") + gga("000000.05") + gga("000000.15") + rmc("000000.15", "A", "050623") + gga("235959.95") +
             gga("000000.05"),
         d);
    ASSERT_EQ(d.samples.size(), 5u);
    EXPECT_EQ(d.samples[0].clock, 86399950);
    EXPECT_EQ(d.samples[1].clock, 86400050);
    EXPECT_EQ(d.samples[2].clock, 86400150);
    EXPECT_EQ(d.samples[3].clock, 2 * 86400000 - 50);
    EXPECT_EQ(d.samples[4].clock, 2 * 86400000 + 50);
}

TEST(NmeaLog, CutAndDamagedSentencesAreDroppedAndCounted) {
    const std::string full = rmc("100000.00") + gga("100000.00") + rmc("100000.10") + gga("100000.10");
    // The last line cut anywhere: the fixes before it are all kept.
    const std::string last = rmc("100000.20");
    for (std::size_t cut = 1; cut + 1 < last.size(); ++cut) {
        Collect c;
        NmeaLogInfo info = read(full + last.substr(0, cut), c);
        ASSERT_EQ(c.samples.size(), 2u) << cut;
        EXPECT_EQ(info.damaged, 1) << cut;
        EXPECT_EQ(info.firstDroppedLine, 5) << cut;
    }
    // A sentence cut and followed on the same line by the next one.
    const std::string cutRmc = rmc("100000.20").substr(0, 30);
    Collect c;
    NmeaLogInfo info = read(full + cutRmc + gga("100000.20") + rmc("100000.30"), c);
    ASSERT_EQ(c.samples.size(), 4u);
    EXPECT_EQ(c.samples[2].clock, 36000200);
    EXPECT_EQ(c.samples[2].sats, 10);
    EXPECT_EQ(info.damaged, 1);
    // Fields that do not read (with a good checksum): dropped too.
    Collect d;
    info = read(full + rmc("100000.20", "A", "040623", "28x4.65615,N") + rmc("100000.30", "A", "040623", "2874.6,N") +
                    rmc("100000.40", "A", "040623", "2824.6,Q") + rmc("1000", "A") + rmc("100000.50", "A", "320623") +
                    gga("100000.60", 1, "1x") + rmc("100000.70", "X") + "garbage line\n\n" + rmc("100000.80"),
                d);
    EXPECT_EQ(d.samples.size(), 3u);
    EXPECT_EQ(info.damaged, 7);
    EXPECT_EQ(info.otherLines, 1);
    EXPECT_EQ(info.firstDroppedLine, 5);
}

TEST(NmeaLog, Hemispheres) {
    Collect c;
    read(rmc("100000.00", "A", "040623", "3352.12345,S", "15112.50000,E") +
             rmc("100000.10", "A", "040623", "0000.00000,N", "00000.00010,W"),
         c);
    ASSERT_EQ(c.samples.size(), 2u);
    EXPECT_DOUBLE_EQ(c.samples[0].lat, -(33 * 60 + 52.12345));
    EXPECT_DOUBLE_EQ(c.samples[0].lon, 151 * 60 + 12.5);
    EXPECT_DOUBLE_EQ(c.samples[1].lon, -0.0001);
}

TEST(NmeaLog, NotNmea) {
    EXPECT_NE(errorOf("hello\nworld\n").message.find("Not an NMEA 0183 log"), std::string::npos);
    EXPECT_NE(errorOf(std::string("\0\1\2\3", 4)).message.find("Not an NMEA 0183 log"), std::string::npos);
    Diagnostic d = errorOf(nmea("GPGSV,1,1,00") + nmea("GPGSA,A,1,,,,,,,,,,,,,,,"));
    EXPECT_EQ(d.message, "Not an NMEA 0183 log with fixes: no $..RMC or $..GGA sentence in it");
    EXPECT_EQ(d.file, "t.nmea");
    EXPECT_EQ(d.kind, ErrorKind::Syntax);
    std::string bad = rmc("100000.00");
    bad[bad.size() - 2] ^= 1;
    d = errorOf(bad);
    EXPECT_NE(d.message.find("1 damaged sentences dropped, the first at line 1"), std::string::npos) << d.message;
}

TEST(NmeaLog, SinkStops) {
    Collect c;
    c.stopAfter = 2;
    NmeaLogInfo info = read(rmc("100000.00") + rmc("100000.10") + rmc("100000.20") + rmc("100000.30"), c);
    EXPECT_TRUE(info.stopped);
    EXPECT_EQ(c.samples.size(), 2u);
    EXPECT_EQ(info.samples, 1); // the one refused is not counted
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

// Each fix time's channels read straight from the file's text: speed and
// course of its first valid RMC, altitude and HDOP of its first GGA with a
// fix, satellites of its first GGA; NaN where the fix has none.
std::vector<std::array<double, 5>> channelsFromText(const std::string& path) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    auto num = [&](const std::string& f) { return f.empty() ? nan : parseDecimal(f).value(); };
    std::vector<std::array<double, 5>> out;
    std::string time, line;
    bool fix = false;
    std::array<double, 5> v{};
    auto close = [&] {
        if (fix) out.push_back(v);
    };
    std::ifstream in(path);
    while (std::getline(in, line)) {
        std::vector<std::string> f;
        std::stringstream ss(line.substr(0, line.find('*')));
        for (std::string x; std::getline(ss, x, ',');) f.push_back(x);
        const bool isRmc = f[0].ends_with("RMC");
        if (f[1] != time) {
            close();
            time = f[1];
            fix = false;
            v.fill(nan);
        }
        if (isRmc && f[2] == "A") {
            fix = true;
            if (std::isnan(v[0])) v[0] = num(f[7]), v[1] = num(f[8]);
        } else if (!isRmc) {
            if (f[6] != "0") {
                fix = true;
                if (std::isnan(v[2])) v[2] = num(f[9]), v[3] = num(f[8]);
            }
            if (std::isnan(v[4])) v[4] = num(f[7]);
        }
    }
    close();
    return out;
}

} // namespace

TEST(NmeaLog, ChannelsOfRealRecordingsAsTheirSentencesWriteThem) {
    const std::vector<ChannelInfo> all = {
        {"Speed", "kn"}, {"Course", "deg"}, {"Altitude", "m"}, {"HDOP", ""}, {"Satellites", ""}};
    for (const char* file :
         {"okc-kart-4laps/okc_kart_2023-06-04_4laps.nmea", "okc-kart-rental-3laps/okc_kart_2023-04-29_rental.nmea",
          "other-apps/harrys-laptimer-nmea-willow/LapTimer-0382-0390-20160824-221730.nmea"}) {
        SCOPED_TRACE(file);
        LORVANE_REQUIRE_REALDATA(path, file);
        Collect plain;
        ChannelCollect c;
        readNmeaLog(path, plain);
        readNmeaLog(path, c);
        EXPECT_TRUE(plain.seen.channels.empty());
        EXPECT_EQ(c.seen.channels, all);
        const auto expected = channelsFromText(path);
        ASSERT_EQ(c.samples.size(), plain.samples.size());
        ASSERT_EQ(expected.size(), c.samples.size());
        for (std::size_t i = 0; i < c.samples.size(); ++i) {
            // Wanting channels changes no sample.
            ASSERT_EQ(c.samples[i].clock, plain.samples[i].clock);
            ASSERT_EQ(c.samples[i].lat, plain.samples[i].lat);
            ASSERT_TRUE(plain.samples[i].channels.empty());
            ASSERT_EQ(c.values[i].size(), 5u);
            for (std::size_t k = 0; k < 5; ++k) {
                if (std::isnan(expected[i][k]))
                    ASSERT_TRUE(std::isnan(c.values[i][k])) << "sample " << i << " channel " << k;
                else
                    ASSERT_EQ(c.values[i][k], expected[i][k]) << "sample " << i << " channel " << k;
            }
        }
    }
}

TEST(NmeaLog, ChannelsOfTheSentenceTypesTheLogSends) {
    // RMC only: no GGA channels. A course that does not read is no value and
    // keeps the fix; a void RMC gives no values to the fix after it.
    ChannelCollect c;
    read(rmc("100000.00") + nmea("GPRMC,100000.10,A,2824.65615,N,08122.74703,W,12.5,x1,040623,,,") +
             nmea("GPRMC,100000.20,V,2824.65615,N,08122.74703,W,99.0,99.0,040623,,,") +
             nmea("GPRMC,100000.20,A,2824.65615,N,08122.74703,W,,,040623,,,"),
         c);
    EXPECT_EQ(c.seen.channels, (std::vector<ChannelInfo>{{"Speed", "kn"}, {"Course", "deg"}}));
    ASSERT_EQ(c.values.size(), 3u);
    EXPECT_EQ(c.values[0], (std::vector<double>{10.0, 269.63}));
    EXPECT_EQ(c.values[1][0], 12.5);
    EXPECT_TRUE(std::isnan(c.values[1][1]));
    EXPECT_TRUE(std::isnan(c.values[2][0]) && std::isnan(c.values[2][1]));
    // GGA once a second, RMC ten times: the GGA channels from the first
    // fixes on, without values on the RMC-only fixes.
    ChannelCollect slow;
    std::string log;
    for (int i = 0; i < 20; ++i) {
        const std::string t = "10000" + std::to_string(i / 10) + "." + std::to_string(i % 10) + "0";
        if (i == 5) log += gga(t);
        log += rmc(t);
    }
    read(log, slow);
    EXPECT_EQ(slow.seen.channels.size(), 5u);
    ASSERT_EQ(slow.values.size(), 20u);
    EXPECT_TRUE(std::isnan(slow.values[4][4]));
    EXPECT_EQ(slow.values[5][4], 10);
    EXPECT_EQ(slow.values[5][2], 28);
    EXPECT_EQ(slow.samples[19].index, 19);
    // GGA only, with an altitude below sea level; no fix at all still gives the layout.
    ChannelCollect g;
    read(nmea("GPGGA,100000.00,2824.65615,N,08122.74703,W,1,07,1.25,-3.5,M,,M,,"), g);
    EXPECT_EQ(g.seen.channels, (std::vector<ChannelInfo>{{"Altitude", "m"}, {"HDOP", ""}, {"Satellites", ""}}));
    ASSERT_EQ(g.values.size(), 1u);
    EXPECT_EQ(g.values[0], (std::vector<double>{-3.5, 1.25, 7}));
    ChannelCollect none;
    read(gga("100000.00", 0, "00", ",", ","), none);
    EXPECT_TRUE(none.samples.empty());
    EXPECT_EQ(none.seen.channels.size(), 3u);
}
