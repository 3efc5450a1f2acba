#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "formats/gpx_log.h"
#include "formats/log_time.h"
#include "formats/nmea_log.h"
#include "formats/numbers.h"
#include "test_util.h"

using namespace lorvane;

namespace {

struct Collect : SampleSink {
    std::vector<Sample> samples;
    LogLayout seen;
    void layout(const LogLayout& l) override { seen = l; }
    bool sample(const Sample& s) override {
        samples.push_back(s);
        return true;
    }
};

GpxLogInfo read(const std::string& text, Collect& c) {
    MemorySource src(text, "t.gpx");
    return readGpxLog(src, c);
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

const char* kGpx11 = R"(<?xml version="1.0" encoding="UTF-8"?>
<gpx version="1.1" creator="test" xmlns="http://www.topografix.com/GPX/1/1">
  <metadata><time>2020-01-01T00:00:00Z</time></metadata>
  <wpt lat="1" lon="2"><time>2023-06-04T10:00:00Z</time></wpt>
  <rte><rtept lat="3" lon="4"><time>2023-06-04T10:00:00Z</time></rtept></rte>
  <trk><name>one</name>
    <trkseg>
      <trkpt lat="28.41093583" lon="-81.37911717"><ele>28.0</ele><time>2023-06-04T16:53:33.060Z</time></trkpt>
      <trkpt lat="28.4109355" lon="-81.379117"><time>2023-06-04T16:53:33.12Z</time><extensions><x:speed xmlns:x="urn:x">2.5</x:speed></extensions></trkpt>
    </trkseg>
    <trkseg>
      <trkpt lat=" 28.5 " lon="-81.5"><time>2023-06-04T18:53:34+02:00</time></trkpt>
    </trkseg>
  </trk>
  <trk><trkseg><trkpt lat="-33.5" lon="151.25"><time>2023-06-04T16:53:35.0625</time></trkpt></trkseg></trk>
</gpx>
)";

} // namespace

TEST(GpxLog, TracksInFileOrderWaypointsAndRoutesSkipped) {
    Collect c;
    GpxLogInfo info = read(kGpx11, c);
    EXPECT_EQ(info.version, "1.1");
    EXPECT_EQ(info.tracks, 2);
    EXPECT_EQ(info.segments, 3);
    EXPECT_FALSE(info.satellites);
    EXPECT_EQ(c.seen.ticksPerSecond, 1000);
    ASSERT_EQ(c.samples.size(), 4u);
    const std::int64_t base = (16 * 3600 + 53 * 60 + 33) * 1000;
    EXPECT_EQ(c.samples[0].clock, base + 60);
    EXPECT_DOUBLE_EQ(c.samples[0].lat, 28.41093583 * 60);
    EXPECT_DOUBLE_EQ(c.samples[0].lon, -81.37911717 * 60);
    EXPECT_FALSE(c.samples[0].satsKnown);
    EXPECT_EQ(c.samples[0].sats, kSatsUnknown);
    EXPECT_EQ(c.samples[0].speed, -1);
    EXPECT_EQ(c.samples[0].line, 8);
    EXPECT_EQ(c.samples[1].clock, base + 120);
    EXPECT_DOUBLE_EQ(c.samples[1].speed, 2.5);
    EXPECT_EQ(c.samples[2].clock, base + 1000); // +02:00 taken to UTC
    EXPECT_DOUBLE_EQ(c.samples[2].lat, 28.5 * 60);
    EXPECT_EQ(c.samples[3].clock, base + 2063); // no zone, four decimals: rounded to the ms
    EXPECT_DOUBLE_EQ(c.samples[3].lon, 151.25 * 60);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(c.samples[static_cast<std::size_t>(i)].index, i);
}

TEST(GpxLog, Version10WithSatellitesAndSpeed) {
    const char* gpx =
        "<?xml version=\"1.0\"?>\n"
        "<gpx version=\"1.0\" xmlns=\"http://www.topografix.com/GPX/1/0\"><trk><trkseg>\n"
        "<trkpt lat=\"45.5\" "
        "lon=\"-122.5\"><ele>6</ele><time>2019-08-18T23:59:59.5Z</time><speed>30.5</speed><sat>9</sat></trkpt>\n"
        "<trkpt lat=\"45.5\" lon=\"-122.5\"><time>2019-08-19T00:00:00.5Z</time><sat>4</sat></trkpt>\n"
        "<trkpt lat=\"45.5\" lon=\"-122.5\"><time>2019-08-20T00:00:00Z</time></trkpt>\n"
        "</trkseg></trk></gpx>";
    Collect c;
    GpxLogInfo info = read(gpx, c);
    EXPECT_EQ(info.version, "1.0");
    EXPECT_TRUE(info.satellites);
    ASSERT_EQ(c.samples.size(), 3u);
    EXPECT_EQ(c.samples[0].sats, 9);
    EXPECT_TRUE(c.samples[0].satsKnown);
    EXPECT_DOUBLE_EQ(c.samples[0].speed, 30.5);
    // The clock runs on past midnight, by the date.
    EXPECT_EQ(c.samples[0].clock, kMsPerDay - 500);
    EXPECT_EQ(c.samples[1].clock, kMsPerDay + 500);
    EXPECT_EQ(c.samples[2].clock, 2 * kMsPerDay);
    EXPECT_FALSE(c.samples[2].satsKnown);
}

TEST(GpxLog, PrefixedNamesAndEmptyTracks) {
    const char* gpx = "<g:gpx xmlns:g=\"http://www.topografix.com/GPX/1/1\" version=\"1.1\"><g:trk/><g:trk><g:trkseg/>"
                      "<g:trkseg><g:trkpt lat=\"1\" "
                      "lon=\"2\"><g:time>2024-02-29T12:00:00Z</g:time></g:trkpt></g:trkseg></g:trk></g:gpx>";
    Collect c;
    GpxLogInfo info = read(gpx, c);
    EXPECT_EQ(info.tracks, 2);
    EXPECT_EQ(info.segments, 2);
    ASSERT_EQ(c.samples.size(), 1u);
    EXPECT_EQ(c.samples[0].clock, 12 * 3600 * 1000);
    Collect none;
    EXPECT_EQ(read("<gpx version=\"1.1\"><wpt lat=\"1\" lon=\"2\"/></gpx>", none).samples, 0);
}

TEST(GpxLog, Errors) {
    const std::string head = "<?xml version=\"1.0\"?>\n<gpx version=\"1.1\">\n<trk><trkseg>\n";
    const std::string pt = "<trkpt lat=\"1\" lon=\"2\"><time>2024-01-01T00:00:00Z</time></trkpt>\n";
    Diagnostic d = errorOf(head + pt + pt.substr(0, 30));
    EXPECT_EQ(d.message, "The GPX file ends early, inside an element (is it cut short?)");
    EXPECT_EQ(d.line, 5);
    EXPECT_EQ(d.file, "t.gpx");
    EXPECT_EQ(d.kind, ErrorKind::Syntax);
    d = errorOf(head + pt + "</trkseg></trk>\n");
    EXPECT_EQ(d.message, "The GPX file ends early, inside an element (is it cut short?)");
    d = errorOf(head + "<trkpt lat=\"1\" lon=\"2\"></trkpt>\n");
    EXPECT_EQ(d.message, "Track point without a <time>");
    EXPECT_EQ(d.line, 4);
    d = errorOf(head + "<trkpt lat=\"1\"><time>2024-01-01T00:00:00Z</time></trkpt>");
    EXPECT_EQ(d.message, "Track point without a lon attribute");
    d = errorOf(head + "<trkpt lat=\"1,5\" lon=\"2\"/>");
    EXPECT_EQ(d.message, "'1,5' is not a valid floating point value (the lat of a track point)");
    EXPECT_EQ(d.line, 4);
    d = errorOf(head + "<trkpt lat=\"91\" lon=\"2\"/>");
    EXPECT_EQ(d.message, "Latitude '91' is outside -90 to 90 degrees");
    d = errorOf(head + "\n<trkpt lat=\"1\" lon=\"2\"><time>\n2024-13-01T00:00:00Z</time></trkpt>");
    EXPECT_NE(d.message.find("'2024-13-01T00:00:00Z' is not a valid time"), std::string::npos) << d.message;
    EXPECT_EQ(d.line, 6);
    d = errorOf(head + "<trkpt lat=\"1\" lon=\"2\"><time>2024-01-01T00:00:00Z</time><sat>many</sat></trkpt>");
    EXPECT_EQ(d.message, "'many' is not a valid integer value (the <sat> of a track point)");
    d = errorOf(head + "<trkpt lat=\"1\" lon=\"2\"><time>2024-01-01T00:00:00Z</time></trkpt></trk>");
    EXPECT_NE(d.message.find("not well-formed XML: mismatched tag"), std::string::npos) << d.message;
    EXPECT_EQ(d.line, 4);
    d = errorOf("<?xml version=\"1.0\"?>\n<kml><Document/></kml>");
    EXPECT_EQ(d.message, "Not a GPX file: its root element is <kml>, not <gpx>");
    EXPECT_EQ(d.line, 2);
    d = errorOf(std::string("\x1f\x8b\x08\0\0\0", 6));
    EXPECT_NE(d.message.find("Not a GPX file: not XML"), std::string::npos) << d.message;
    EXPECT_EQ(errorOf("").message, "Not a GPX file: no XML element in it");
    d = errorOf("<!DOCTYPE gpx [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;\">]>\n<gpx>&b;</gpx>");
    EXPECT_EQ(d.message, "The GPX file declares XML entities, which GPX files do not use");
}

TEST(GpxLog, SameFixesAsNmea) {
    // The kart's NMEA fixes written as GPX give the same samples.
    LORVANE_REQUIRE_REALDATA(kart, "okc-kart-4laps/okc_kart_2023-06-04_4laps.nmea");
    Collect n;
    readNmeaLog(kart, n);
    ASSERT_EQ(n.samples.size(), 3828u);
    std::string gpx =
        "<?xml version=\"1.0\"?>\n<gpx version=\"1.1\" xmlns=\"http://www.topografix.com/GPX/1/1\"><trk><trkseg>\n";
    for (const Sample& s : n.samples) {
        const std::int64_t ms = s.clock % 1000, sec = s.clock / 1000;
        gpx += "<trkpt lat=\"" + format17(s.lat / 60) + "\" lon=\"" + format17(s.lon / 60) + "\"><time>2023-06-04T" +
               formatPadded(sec / 3600, 2) + ":" + formatPadded(sec / 60 % 60, 2) + ":" + formatPadded(sec % 60, 2) +
               "." + formatPadded(ms, 3) + "Z</time><sat>" + std::to_string(s.sats) + "</sat></trkpt>\n";
    }
    gpx += "</trkseg></trk></gpx>\n";
    Collect g;
    read(gpx, g);
    ASSERT_EQ(g.samples.size(), n.samples.size());
    for (std::size_t i = 0; i < n.samples.size(); ++i) {
        ASSERT_EQ(g.samples[i].clock, n.samples[i].clock) << i;
        ASSERT_EQ(g.samples[i].time, n.samples[i].time) << i;
        ASSERT_NEAR(g.samples[i].lat, n.samples[i].lat, 1e-9) << i;
        ASSERT_NEAR(g.samples[i].lon, n.samples[i].lon, 1e-9) << i;
        ASSERT_EQ(g.samples[i].sats, n.samples[i].sats) << i;
    }
}

// The file's bytes are read in the encoding its declaration names.
TEST(GpxLog, DeclaredEncodings) {
    auto gpx = [](const std::string& encoding, const std::string& name) {
        return "<?xml version=\"1.0\" encoding=\"" + encoding + "\"?>\n<gpx version=\"1.1\"><trk><name>" + name +
               "</name><trkseg>\n"
               "<trkpt lat=\"45.5\" lon=\"-73.25\"><time>2024-05-01T10:00:00Z</time></trkpt>\n"
               "<trkpt lat=\"45.6\" lon=\"-73.26\"><time>2024-05-01T10:00:01Z</time></trkpt>\n"
               "</trkseg></trk></gpx>\n";
    };
    // Harry's LapTimer writes windows-1252; 0x80-0x9F are its own characters
    // (0x81 among the five it leaves undefined).
    for (const char* encoding : {"windows-1252", "WINDOWS-1252", "cp1252", "ISO-8859-15", "iso-8859-2", "latin1"}) {
        SCOPED_TRACE(encoding);
        Collect c;
        const auto info = read(gpx(encoding, "Caf\xE9 \x80\x81\x93Ring\x94 \xDF"), c);
        EXPECT_EQ(info.samples, 2);
        ASSERT_EQ(c.samples.size(), 2u);
        EXPECT_DOUBLE_EQ(c.samples[1].lat, 45.6 * 60);
    }
    // UTF-16 little endian with its byte order mark.
    const std::string text = gpx("UTF-16", "Caf\xC3\xA9");
    std::string utf16 = "\xFF\xFE";
    for (std::size_t i = 0; i < text.size(); ++i) {
        const unsigned char ch = static_cast<unsigned char>(text[i]);
        if (ch == 0xC3) { // the é
            utf16 += "\xE9";
            utf16 += '\0';
            ++i;
            continue;
        }
        utf16 += static_cast<char>(ch);
        utf16 += '\0';
    }
    Collect c;
    EXPECT_EQ(read(utf16, c).samples, 2);
    // A byte ISO-8859-3 leaves undefined is an error, as is an encoding not read.
    EXPECT_NE(errorOf(gpx("ISO-8859-3", "\xA5")).message.find("not well-formed"), std::string::npos);
    const Diagnostic d = errorOf(gpx("KOI8-R", "x"));
    EXPECT_NE(d.message.find("\"KOI8-R\""), std::string::npos) << d.message;
    EXPECT_EQ(d.kind, ErrorKind::Syntax);
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

// The text of <tag> in a track point's XML; NaN without one.
double tagValue(std::string_view point, const std::string& tag) {
    const auto at = point.find("<" + tag + ">");
    if (at == std::string_view::npos) return std::numeric_limits<double>::quiet_NaN();
    const auto from = at + tag.size() + 2;
    return parseDecimal(point.substr(from, point.find('<', from) - from)).value();
}

} // namespace

TEST(GpxLog, ChannelsOfTheFirstPointsElementsAndExtensions) {
    {
        // Harry's LapTimer: ele, course, speed, sat and hdop on every point.
        LORVANE_REQUIRE_REALDATA(path, "harrys-laptimer-gpx-willow/LapTimer-0382-0390-20160824-221730.gpx");
        ChannelCollect c;
        readGpxLog(path, c);
        EXPECT_EQ(c.seen.channels,
                  (std::vector<ChannelInfo>{
                      {"Elevation", "m"}, {"Speed", "m/s"}, {"Course", "deg"}, {"HDOP", ""}, {"Satellites", ""}}));
        std::ifstream in(path, std::ios::binary);
        const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::size_t i = 0;
        for (auto at = text.find("<trkpt"); at != std::string::npos; at = text.find("<trkpt", at + 1), ++i) {
            const std::string_view point = std::string_view(text).substr(at, text.find("</trkpt>", at) - at);
            ASSERT_LT(i, c.values.size());
            const std::vector<double> expected = {tagValue(point, "ele"), tagValue(point, "speed"),
                                                  tagValue(point, "course"), tagValue(point, "hdop"),
                                                  tagValue(point, "sat")};
            ASSERT_EQ(c.values[i], expected) << "point " << i;
        }
        EXPECT_EQ(i, 843u);
        EXPECT_EQ(c.values.size(), i);
    }
    // Garmin's TrackPointExtension. A value that does not read, or a point
    // without the element, is no value; an element that only a later point
    // has is a channel all the same.
    const std::string gpx = R"(<?xml version="1.0" encoding="UTF-8"?>
<gpx version="1.1" xmlns="http://www.topografix.com/GPX/1/1" xmlns:gpxtpx="http://www.garmin.com/xmlschemas/TrackPointExtension/v1">
<trk><trkseg>
<trkpt lat="50.1" lon="8.1"><ele>101.4</ele><time>2024-05-01T10:00:00Z</time><extensions><gpxtpx:TrackPointExtension><gpxtpx:atemp>-2.5</gpxtpx:atemp><gpxtpx:hr>142</gpxtpx:hr><gpxtpx:cad>88</gpxtpx:cad></gpxtpx:TrackPointExtension></extensions></trkpt>
<trkpt lat="50.2" lon="8.2"><ele>n/a</ele><time>2024-05-01T10:00:01Z</time><hdop>0.9</hdop><extensions><gpxtpx:TrackPointExtension><gpxtpx:cad>90</gpxtpx:cad></gpxtpx:TrackPointExtension><power>250</power></extensions></trkpt>
</trkseg></trk></gpx>
)";
    ChannelCollect c;
    read(gpx, c);
    EXPECT_EQ(c.seen.channels, (std::vector<ChannelInfo>{{"Elevation", "m"},
                                                         {"HDOP", ""},
                                                         {"Heart rate", "bpm"},
                                                         {"Cadence", "rpm"},
                                                         {"Air temperature", "°C"},
                                                         {"Power", "W"}}));
    ASSERT_EQ(c.values.size(), 2u);
    // NaN for no value: 0 stands for it here, as no value below is 0.
    auto shown = [](std::vector<double> v) {
        for (double& x : v) x = std::isnan(x) ? 0 : x;
        return v;
    };
    EXPECT_EQ(shown(c.values[0]), (std::vector<double>{101.4, 0, 142, 88, -2.5, 0}));
    EXPECT_EQ(shown(c.values[1]), (std::vector<double>{0, 0.9, 0, 90, 0, 250}));
    // Without channels wanted, the same samples and no layout of channels.
    Collect plain;
    read(gpx, plain);
    EXPECT_TRUE(plain.seen.channels.empty());
    ASSERT_EQ(plain.samples.size(), 2u);
    EXPECT_EQ(plain.samples[1].clock, c.samples[1].clock);
}
