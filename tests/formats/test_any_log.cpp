#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "circuits/log_track.h"
#include "formats/any_log.h"
#include "formats/log_formats.h"
#include "laps/lap_time_text.h"
#include "laps/reference_lap.h"
#include "session/session.h"
#include "test_util.h"

using namespace lorvane;
using lorvane::test::TempDir;

namespace {

struct Count : SampleSink {
    std::int64_t n = 0;
    bool sample(const Sample&) override {
        ++n;
        return true;
    }
};

} // namespace

TEST(AnyLog, DetectsFromContentThenExtension) {
    const std::string zlg = "Lorvane\n[header]\nTime\n[data]\n";
    const std::string wmx = std::string("WMX LOG 2 SATS TIME LAT LONG $\r\n\x01\x35\x48\x00\x13", 37);
    const std::string nmea = "$GPRMC,165333.060,A,2824.65615,N,08122.74703,W,0.71,269.63,040623,,,*34\n";
    const std::string gpx = "\xEF\xBB\xBF<?xml version=\"1.0\"?>\n<gpx version=\"1.1\">";
    const std::string csv = "Format,Logger\nTime,Lat (Degrees),Lon (Degrees)\n0,1,2\n";
    EXPECT_EQ(detectLogFormat(zlg, "a.csv"), LogKind::Text);
    EXPECT_EQ(detectLogFormat(wmx, "a.gpx"), LogKind::Binary);
    EXPECT_EQ(detectLogFormat(nmea, "a.zlg"), LogKind::Nmea);
    EXPECT_EQ(detectLogFormat("junk\r\n" + nmea + nmea, "a.txt"), LogKind::Nmea);
    EXPECT_EQ(detectLogFormat(gpx, "a.nmea"), LogKind::Gpx);
    EXPECT_EQ(detectLogFormat("<gpx:gpx xmlns:gpx=\"x\">", ""), LogKind::Gpx);
    EXPECT_EQ(detectLogFormat(csv, "a.wmx"), LogKind::Csv);
    EXPECT_EQ(detectLogFormat("time\tlatitude\tlongitude\n", "log"), LogKind::Csv);
    // Nothing in the content: the extension, in any case.
    EXPECT_EQ(detectLogFormat("", "x/A.ZLG"), LogKind::Text);
    EXPECT_EQ(detectLogFormat("??", "a.WMX"), LogKind::Binary);
    EXPECT_EQ(detectLogFormat("??", "a.nma"), LogKind::Nmea);
    EXPECT_EQ(detectLogFormat("<kml/>", "a.gpx"), LogKind::Gpx);
    EXPECT_EQ(detectLogFormat(std::string("\0\1\2", 3), "a.csv"), LogKind::Csv);
    EXPECT_EQ(detectLogFormat("??", "dir.csv/a"), std::nullopt);
    EXPECT_EQ(detectLogFormat("hello", "a.txt"), std::nullopt);
    EXPECT_STREQ(logKindName(LogKind::Gpx), "gpx");
    EXPECT_STREQ(logKindName(LogKind::Text), "zlg");
}

TEST(AnyLog, ReadsTheRealFilesThroughOneCall) {
    struct Case {
        std::string file;
        LogKind kind;
        std::int64_t samples;
    };
    const Case cases[] = {
        {"okc-kart-4laps/okc_kart_2023-06-04_4laps.nmea", LogKind::Nmea, 3828},
        {"okc-kart-rental-3laps/okc_kart_2023-04-29_rental.nmea", LogKind::Nmea, 2790},
        {"pir-corrado-2019/pir_corrado_2019-08-18_tfr.csv", LogKind::Csv, 77509},
    };
    for (const Case& k : cases) {
        LORVANE_REQUIRE_REALDATA(path, k.file);
        ASSERT_EQ(detectLogFile(path), k.kind) << k.file;
        Count c;
        AnyLogInfo info = readAnyLog(k.kind, path, c);
        EXPECT_EQ(info.kind, k.kind);
        EXPECT_EQ(info.samples, k.samples) << k.file;
        EXPECT_EQ(c.n, k.samples);
        EXPECT_EQ(info.ticksPerSecond, 1000);
        EXPECT_EQ(info.dropped, 0);
        // The circuit lookup reads the same samples with the same reader.
        EXPECT_EQ(static_cast<std::int64_t>(readLogTrack(k.kind, path).size()), k.samples) << k.file;
    }
}

TEST(AnyLog, EveryFormatIsOneEntryThatEveryCallerSees) {
    for (const LogFormat& f : logFormats()) {
        EXPECT_EQ(&logFormat(f.kind), &f);
        EXPECT_STREQ(logKindName(f.kind), std::string(f.name).c_str());
        ASSERT_FALSE(f.extensions.empty());
        for (std::string_view e : f.extensions) {
            EXPECT_EQ(logFormatByExtension("dir/A." + std::string(e)), &f) << e;
            EXPECT_EQ(detectLogFormat("", "x." + std::string(e)), f.kind) << e;
            EXPECT_NE(logFilePatterns().find("*." + std::string(e)), std::string::npos) << e;
        }
        EXPECT_NE(logFormatsInWords().find(f.description), std::string::npos);
        // Our own logs keep their 10 Hz gate rule; imported ones are measured at the crossing.
        const bool own = f.kind == LogKind::Text || f.kind == LogKind::Binary;
        EXPECT_EQ(effectiveRules(f.kind, {}).gateWidth.has_value(), !own) << f.name;
        EXPECT_EQ(effectiveRules(f.kind, GateRules{GateDirection::Both, 7.0, 0}).gateWidth, 7.0);
    }
    EXPECT_EQ(lapListLine(3, 83.456, LogKind::Binary), "003 :   083.46");
    EXPECT_EQ(lapListLine(3, 83.456, LogKind::Nmea), "003 :   01:23.46");
}

TEST(AnyLog, BinaryFileGivenAsEachFormat) {
    TempDir dir;
    std::string bytes;
    for (int i = 0; i < 5000; ++i) bytes += static_cast<char>((i * 7919) & 0xff);
    for (LogKind kind : {LogKind::Nmea, LogKind::Gpx, LogKind::Csv}) {
        const std::string path = dir.write(std::string("b.") + logKindName(kind), bytes);
        Count c;
        try {
            readAnyLog(kind, path, c);
            ADD_FAILURE() << logKindName(kind);
        } catch (const LoadError& e) {
            EXPECT_EQ(e.diagnostic().file, path);
            EXPECT_EQ(e.diagnostic().kind, ErrorKind::Syntax);
            EXPECT_EQ(e.diagnostic().message.rfind("Not a", 0), 0u) << e.diagnostic().message;
        }
        EXPECT_EQ(c.n, 0);
    }
}

TEST(AnyLog, ReReadRefusesAChangedCsvHeader) {
    TempDir dir;
    const std::string path = dir.write("a.csv", "time,lat,lon\n0,1,2\n");
    LogLayout seen;
    struct Keep : Count {
        LogLayout* out;
        void layout(const LogLayout& l) override { *out = l; }
    } keep;
    keep.out = &seen;
    readAnyLog(LogKind::Csv, path, keep);
    EXPECT_EQ(readAnyLog(LogKind::Csv, path, keep, &seen).samples, 1);
    dir.write("a.csv", "time,lon,lat\n0,1,2\n");
    try {
        readAnyLog(LogKind::Csv, path, keep, &seen);
        ADD_FAILURE();
    } catch (const LoadError& e) {
        EXPECT_EQ(e.diagnostic().kind, ErrorKind::Changed);
    }
}

TEST(AnyLog, LapReReadUsesTheLogsOwnReader) {
    // The re-read for a reference lap gives the positions of the load's samples.
    struct Keep : SampleSink {
        std::vector<Sample> v;
        bool sample(const Sample& s) override {
            v.push_back(s);
            return true;
        }
    };
    for (const auto& [file, kind] :
         {std::pair{std::string("okc-kart-rental-3laps/okc_kart_2023-04-29_rental.nmea"), LogKind::Nmea},
          std::pair{std::string("pir-corrado-2019/pir_corrado_2019-08-18_tfr.csv"), LogKind::Csv}}) {
        LORVANE_REQUIRE_REALDATA(path, file);
        Keep all;
        readAnyLog(kind, path, all);
        LapSource src;
        src.kind = kind;
        src.path = path;
        src.columns = TextLogColumns{2, 3, 1, 0}; // the CSV's columns; unused for NMEA
        src.firstSample = 100;
        src.lastSample = 300;
        src.ticksPerSecond = 1000;
        const std::vector<GeoPoint> pts = readReferenceLap(src);
        // The first sample, the first to reach each whole second after it
        // (by the clock, in milliseconds), and the last again.
        std::vector<std::size_t> want{100};
        std::int64_t reached = 0;
        for (std::size_t i = 101; i <= 300; ++i) {
            const std::int64_t k = (all.v[i].clock - all.v[100].clock) / 1000;
            if (k > reached) {
                reached = k;
                want.push_back(i);
            }
        }
        want.push_back(300);
        ASSERT_EQ(pts.size(), want.size()) << file;
        for (std::size_t k = 0; k < want.size(); ++k) {
            EXPECT_EQ(pts[k].lat, all.v[want[k]].lat) << file << " point " << k;
            EXPECT_EQ(pts[k].lon, all.v[want[k]].lon) << file << " point " << k;
        }
        EXPECT_GE(pts.size(), 4u);
    }
    // A CSV whose columns moved since the load is refused.
    LapSource moved;
    moved.kind = LogKind::Csv;
    moved.path = lorvane::test::realData("pir-corrado-2019/pir_corrado_2019-08-18_tfr.csv");
    moved.columns = TextLogColumns{3, 2, 1, 0};
    moved.lastSample = 5;
    try {
        readReferenceLap(moved);
        ADD_FAILURE();
    } catch (const LoadError& e) {
        EXPECT_EQ(e.diagnostic().kind, ErrorKind::Changed);
    }
}

TEST(AnyLog, AFileOfAnotherKindIsRefusedFromItsFirstBytes) {
    // Every log we have, asked for as every kind: its own kind is never
    // refused, and whatever is refused the reader would have refused too,
    // only after reading all of it.
    TempDir dir;
    const std::string samples = LORVANE_SAMPLES;
    const std::vector<std::pair<std::string, LogKind>> logs{
        {samples + "/demo.zlg", LogKind::Text},
        {samples + "/demo.wmx", LogKind::Binary},
        {lorvane::test::realData("okc-kart-rental-3laps/okc_kart_2023-04-29_rental.nmea"), LogKind::Nmea},
        {lorvane::test::realData("pir-corrado-2019/pir_corrado_2019-08-18_tfr.csv"), LogKind::Csv},
        {dir.write("a.gpx", "<?xml version=\"1.0\"?>\n<gpx version=\"1.1\"><trk><trkseg/></trk></gpx>\n"),
         LogKind::Gpx},
    };
    for (const auto& [path, own] : logs) {
        if (path.empty()) continue; // a real recording that is not here
        for (const LogFormat& format : logFormats()) {
            const LogKind asked = format.kind;
            SCOPED_TRACE(path + " as " + logKindName(asked));
            std::optional<std::string> why;
            try {
                checkLogFile(asked, path);
            } catch (const LoadError& e) {
                EXPECT_EQ(e.diagnostic().kind, ErrorKind::Syntax);
                EXPECT_EQ(e.diagnostic().file, path);
                why = e.diagnostic().message;
            }
            if (asked == own) {
                EXPECT_EQ(why, std::nullopt);
                continue;
            }
            ASSERT_TRUE(why.has_value());
            EXPECT_NE(why->find(std::string(logKindDescription(asked)) + ": the file reads as"), std::string::npos)
                << *why;
            Count c;
            EXPECT_THROW(readAnyLog(asked, path, c), LoadError);
        }
    }
    // Nothing recognised: only what the reader cannot take is refused.
    EXPECT_EQ(notALogOfKind(LogKind::Binary, "some text without a dollar", false),
              "Not a binary (.wmx) log: no header line ending in '$'");
    EXPECT_EQ(notALogOfKind(LogKind::Text, "notes\n", true), "Not a text (.zlg) log: no \"[header]\" line");
    EXPECT_EQ(notALogOfKind(LogKind::Text, "notes\n", false), std::nullopt); // "[header]" may come later
    EXPECT_EQ(notALogOfKind(LogKind::Csv, std::string("\x7f\x45\x4c\x46\x02\x01\x00", 7), false),
              "Not a CSV log: the file holds binary data");
    EXPECT_EQ(notALogOfKind(LogKind::Gpx, "{\"json\": 1}", false), "Not a GPX file: the file is not XML");
    EXPECT_EQ(notALogOfKind(LogKind::Nmea, "", true), "Not an NMEA 0183 log: the file is empty");
    // A receiver's binary messages between sentences are the reader's to skip.
    EXPECT_EQ(notALogOfKind(LogKind::Nmea, std::string("\xb5\x62\x01\x07\0\0junk\n", 12), false), std::nullopt);
}
