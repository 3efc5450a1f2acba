// Hostile input for the NMEA, GPX and CSV readers: files cut anywhere, bad
// numbers, the wrong kind of file, huge lines, NUL bytes, damaged bytes. Each
// case ends in samples the whole file would also give (in the same order) or
// in a clear error that names the file -- never a crash or a hang.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "formats/any_log.h"
#include "formats/diagnostic.h"
#include "test_util.h"

using namespace lorvane;

namespace {

const std::string kName = "hostile input";

std::string slurp(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::ostringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

// A real recording (kept outside the project), or empty when it is not here.
std::string realFile(const std::string& name) {
    const std::string path = lorvane::test::realData(name);
    return path.empty() ? std::string() : slurp(path);
}

// The first `n` lines of `text`.
std::string headLines(const std::string& text, int n) {
    std::size_t at = 0;
    for (int i = 0; i < n && at != std::string::npos; ++i) {
        at = text.find('\n', at);
        if (at != std::string::npos) ++at;
    }
    return text.substr(0, at == std::string::npos ? text.size() : at);
}

struct Collect : SampleSink {
    std::vector<Sample> samples;
    bool sample(const Sample& s) override {
        samples.push_back(s);
        return true;
    }
};

struct Outcome {
    std::vector<Sample> samples;
    bool ok = false;
    Diagnostic error;
    AnyLogInfo info;
};

Outcome run(LogKind kind, std::string_view bytes) {
    MemorySource src(bytes, kName);
    Collect c;
    Outcome o;
    try {
        o.info = readAnyLog(kind, src, c);
        o.ok = true;
    } catch (const LoadError& e) {
        o.error = e.diagnostic();
    }
    o.samples = std::move(c.samples);
    return o;
}

// The error is a clear one: a message, a kind and this file.
void expectNamedError(const Outcome& o, const std::string& what) {
    ASSERT_FALSE(o.ok) << what;
    EXPECT_FALSE(o.error.message.empty()) << what;
    EXPECT_NE(o.error.kind, ErrorKind::None) << what;
    EXPECT_EQ(o.error.file, kName) << what;
}

// Every sample delivered is the whole file's sample of the same index.
void expectPrefix(const std::vector<Sample>& got, const std::vector<Sample>& full, const std::string& what) {
    ASSERT_LE(got.size(), full.size()) << what;
    for (std::size_t i = 0; i < got.size(); ++i) {
        ASSERT_EQ(got[i].index, full[i].index) << what;
        ASSERT_EQ(got[i].clock, full[i].clock) << what << " sample " << i;
        ASSERT_EQ(got[i].lat, full[i].lat) << what << " sample " << i;
        ASSERT_EQ(got[i].lon, full[i].lon) << what << " sample " << i;
    }
}

std::string gpxOf(const std::vector<Sample>& fixes) {
    std::string g =
        "<?xml version=\"1.0\"?>\n<gpx version=\"1.1\" xmlns=\"http://www.topografix.com/GPX/1/1\">\n<trk><trkseg>\n";
    for (const Sample& s : fixes) {
        const std::int64_t sec = s.clock / 1000;
        char buf[256];
        std::snprintf(
            buf, sizeof buf,
            "<trkpt lat=\"%.9f\" lon=\"%.9f\"><time>2023-06-04T%02d:%02d:%02d.%03dZ</time><sat>%d</sat></trkpt>\n",
            s.lat / 60, s.lon / 60, static_cast<int>(sec / 3600), static_cast<int>(sec / 60 % 60),
            static_cast<int>(sec % 60), static_cast<int>(s.clock % 1000), s.sats);
        g += buf;
    }
    return g + "</trkseg></trk>\n</gpx>\n";
}

const std::string& nmeaCut() {
    static const std::string s = headLines(realFile("okc-kart-4laps/okc_kart_2023-06-04_4laps.nmea"), 60);
    return s;
}
const std::string& csvCut() {
    static const std::string s = headLines(realFile("pir-corrado-2019/pir_corrado_2019-08-18_tfr.csv"), 60);
    return s;
}
const std::string& gpxCut() {
    static const std::string s = gpxOf(run(LogKind::Nmea, nmeaCut()).samples);
    return s;
}

} // namespace

TEST(HostileImports, NmeaCutAnywhereKeepsTheFixesBeforeTheCut) {
    if (nmeaCut().empty() || csvCut().empty()) GTEST_SKIP() << "the real recordings are not here";
    const Outcome full = run(LogKind::Nmea, nmeaCut());
    ASSERT_TRUE(full.ok);
    ASSERT_EQ(full.samples.size(), 30u);
    const std::size_t firstLine = nmeaCut().find('\n') + 1;
    for (std::size_t cut = 0; cut < nmeaCut().size(); ++cut) {
        const std::string what = "cut at " + std::to_string(cut);
        const Outcome o = run(LogKind::Nmea, std::string_view(nmeaCut()).substr(0, cut));
        if (cut < firstLine - 1) {
            // Not one whole sentence yet. Without a checksum seen, a first
            // sentence cut after its last needed field still reads.
            if (!o.ok) expectNamedError(o, what);
            EXPECT_LE(o.samples.size(), 1u) << what;
            expectPrefix(o.samples, full.samples, what);
            continue;
        }
        ASSERT_TRUE(o.ok) << what << ": " << o.error.describe();
        EXPECT_LE(o.info.nmea.damaged, 1) << what;
        expectPrefix(o.samples, full.samples, what);
        // At most the fix being written when the log was cut is lost.
        const std::size_t lines = static_cast<std::size_t>(
            std::count(nmeaCut().begin(), nmeaCut().begin() + static_cast<std::ptrdiff_t>(cut), '\n'));
        EXPECT_GE(o.samples.size() + 1, (lines + 1) / 2) << what;
    }
}

TEST(HostileImports, GpxCutAnywhereIsAClearErrorWithItsLine) {
    if (nmeaCut().empty() || csvCut().empty()) GTEST_SKIP() << "the real recordings are not here";
    const Outcome full = run(LogKind::Gpx, gpxCut());
    ASSERT_TRUE(full.ok) << full.error.describe();
    ASSERT_EQ(full.samples.size(), 30u);
    const std::size_t end = gpxCut().rfind("</gpx>") + 6;
    const auto lineCount = static_cast<std::int64_t>(std::count(gpxCut().begin(), gpxCut().end(), '\n'));
    for (std::size_t cut = 0; cut < end; cut += (cut < 200 || cut + 200 > end) ? 1 : 7) {
        const std::string what = "cut at " + std::to_string(cut);
        const Outcome o = run(LogKind::Gpx, std::string_view(gpxCut()).substr(0, cut));
        expectNamedError(o, what);
        EXPECT_GE(o.error.line, 1) << what;
        EXPECT_LE(o.error.line, lineCount + 1) << what;
        expectPrefix(o.samples, full.samples, what);
    }
    EXPECT_TRUE(run(LogKind::Gpx, std::string_view(gpxCut()).substr(0, end)).ok);
}

TEST(HostileImports, CsvCutAnywhere) {
    if (nmeaCut().empty() || csvCut().empty()) GTEST_SKIP() << "the real recordings are not here";
    const Outcome full = run(LogKind::Csv, csvCut());
    ASSERT_TRUE(full.ok);
    ASSERT_EQ(full.samples.size(), 51u);
    const std::size_t body = csvCut().find("\n0.0,") + 1;
    for (std::size_t cut = body; cut < csvCut().size(); ++cut) {
        const std::string what = "cut at " + std::to_string(cut);
        const Outcome o = run(LogKind::Csv, std::string_view(csvCut()).substr(0, cut));
        // A row cut short still reads (as a shorter number) or is a named error.
        if (!o.ok) {
            expectNamedError(o, what);
            EXPECT_GT(o.error.line, 9) << what;
        }
        ASSERT_LE(o.samples.size(), full.samples.size()) << what;
        if (o.samples.size() > 1) {
            std::vector<Sample> before(o.samples.begin(), o.samples.end() - 1);
            expectPrefix(before, full.samples, what);
        }
    }
}

TEST(HostileImports, CsvBadNumbersNameLineAndColumn) {
    const std::string head = "Time,Lat (Degrees),Lon (Degrees),Sats,Speed (km/h)\n0,45.5,-122.5,7,100\n";
    const char* bad[] = {"1.2.3", "abc", "1e999", "nan", "inf", "0x10", "--1", "1,5", "\x01", "4 5"};
    for (int column = 0; column < 5; ++column) {
        for (const char* b : bad) {
            std::string row[5] = {"0.1", "45.5", "-122.5", "7", "100"};
            row[column] = b;
            const std::string text = head + row[0] + "," + row[1] + "," + row[2] + "," + row[3] + "," + row[4] + "\n";
            const std::string what = std::string("column ") + std::to_string(column) + " value " + b;
            const Outcome o = run(LogKind::Csv, text);
            if (std::string_view(b) == "1,5") {
                // The comma splits the row: one field too many shifts the rest.
                continue;
            }
            expectNamedError(o, what);
            EXPECT_EQ(o.error.line, 3) << what << ": " << o.error.message;
            EXPECT_EQ(o.samples.size(), 1u) << what;
        }
    }
}

// Lap apps' layouts gone wrong: a units row with junk, only comments, a GPS
// update flag without a fix or with a word in it, a header cell cut short.
TEST(HostileImports, CsvDialectsGoneWrong) {
    Outcome o = run(LogKind::Csv, "time,lat,lon,speed\ns,rad,deg,km/h\n0,0.7,2,10\n");
    expectNamedError(o, "latitude in radians");
    EXPECT_EQ(o.error.line, 2);
    EXPECT_EQ(o.error.message, "The units row gives column \"lat\" in 'rad', not in degrees");
    o = run(LogKind::Csv, "time,lat,lon,speed\n\x01s,deg,deg,km/h\n");
    expectNamedError(o, "binary units row");
    o = run(LogKind::Csv, "time,lat,lon,speed\n?,deg,deg,%%%\n0,1,2,10\n"); // unknown speed unit: no speed
    ASSERT_TRUE(o.ok) << o.error.describe();
    ASSERT_EQ(o.samples.size(), 1u);
    EXPECT_EQ(o.samples[0].speed, -1);
    o = run(LogKind::Csv, "time,lat,lon\nx,y,z\nq,r,s\n1,2,3\n4,x,6\n"); // two text rows, then a bad one
    expectNamedError(o, "text rows");
    EXPECT_EQ(o.samples.size(), 0u) << "a units row 'y' is no degrees";

    std::string comments;
    for (int i = 0; i < 50; ++i) comments += "# Lap " + std::to_string(i) + ": 00:01:47.089\n";
    o = run(LogKind::Csv, comments);
    expectNamedError(o, "only comments");
    EXPECT_EQ(o.error.message.rfind("Not a CSV log", 0), 0u);
    o = run(LogKind::Csv, "\"Time\",\"Latitude\",\"Longitude\"\n" + comments);
    ASSERT_TRUE(o.ok);
    EXPECT_EQ(o.info.csv.commentLines, 50);
    EXPECT_TRUE(o.samples.empty());

    o = run(LogKind::Csv, "Time,GPS_Update,Latitude,Longitude\n0,1,,\n0.05,0,,\n1,1,51.5,13.6\n1.05,0,51.5,13.6\n");
    ASSERT_TRUE(o.ok) << o.error.describe();
    EXPECT_EQ(o.samples.size(), 1u);
    EXPECT_EQ(o.info.csv.rowsWithoutPosition, 2);
    EXPECT_EQ(o.info.csv.rowsRepeated, 1);
    o = run(LogKind::Csv, "Time,GPS_Update,Latitude,Longitude\n0,1,51.5,13.6\n1,yes,51.5,13.6\n");
    expectNamedError(o, "update flag");
    EXPECT_EQ(o.error.line, 3);
    EXPECT_EQ(o.error.message, "'yes' is not a valid floating point value (column \"GPS_Update\")");

    // RaceCapture header cells cut or unbalanced: read as plain names or refused, never past the line.
    for (const char* h : {"\"Interval\"|\"ms\"|0|0|1,\"Latitude\"|\"Deg", "\"Latitude\"|,\"Longitude\"|\"\"|",
                          "\"Utc\"|\"ms\",\"Latitude\"|\"Degrees\"|0|0|10,\"Longitude\"|\"x"}) {
        o = run(LogKind::Csv, std::string(h) + "\n1,2,3\n");
        if (!o.ok) expectNamedError(o, h);
    }
}

TEST(HostileImports, BinaryFilesGivenAsImports) {
    std::string png("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16);
    std::string gzip("\x1f\x8b\x08\0\0\0\0\0\0\x03", 10);
    std::string wmx = slurp(std::string(LORVANE_SAMPLES_DIR) + "/demo.wmx").substr(0, 20000);
    std::mt19937 rng(7);
    std::string noise;
    for (int i = 0; i < 50000; ++i) noise += static_cast<char>(rng() & 0xff);
    for (const std::string* bytes : {&png, &gzip, &wmx, &noise}) {
        for (LogKind kind : {LogKind::Nmea, LogKind::Gpx, LogKind::Csv}) {
            const Outcome o = run(kind, *bytes);
            expectNamedError(o, logKindName(kind));
            EXPECT_EQ(o.error.message.rfind("Not a", 0), 0u) << o.error.message;
            EXPECT_TRUE(o.samples.empty());
        }
    }
}

TEST(HostileImports, HugeLines) {
    if (nmeaCut().empty() || csvCut().empty()) GTEST_SKIP() << "the real recordings are not here";
    const std::string huge(kMaxTextLine + 10, 'x');
    Outcome o = run(LogKind::Nmea, nmeaCut() + "$GPRMC," + huge + "\n" + nmeaCut());
    expectNamedError(o, "nmea");
    EXPECT_EQ(o.error.line, 61);
    EXPECT_EQ(o.samples.size(), 30u);
    o = run(LogKind::Csv, csvCut() + huge + "\n");
    expectNamedError(o, "csv");
    EXPECT_EQ(o.error.line, 61);
    o = run(LogKind::Csv, huge);
    expectNamedError(o, "csv header");
    // GPX has no lines to speak of: a huge value is read as far as it matters.
    o = run(LogKind::Gpx,
            "<gpx><trk><trkseg><trkpt lat=\"1\" lon=\"2\"><time>" + huge + "</time></trkpt></trkseg></trk></gpx>");
    expectNamedError(o, "gpx time");
    EXPECT_NE(o.error.message.find("is not a valid time"), std::string::npos);
    o = run(LogKind::Gpx, "<gpx><trk><trkseg><trkpt lat=\"1\" lon=\"2\" x=\"" + huge +
                              "\"><time>2024-01-01T00:00:00Z</time><name>" + huge +
                              "</name></trkpt></trkseg></trk></gpx>");
    EXPECT_TRUE(o.ok) << o.error.describe();
    EXPECT_EQ(o.samples.size(), 1u);
    // Many fields in one sentence.
    o = run(LogKind::Nmea, "$GPGGA,100000.00,2824.0,N,08122.0,W,1,08" + std::string(5000, ',') + "\n");
    ASSERT_TRUE(o.ok);
    EXPECT_EQ(o.samples.size(), 1u);
}

TEST(HostileImports, NulBytes) {
    if (nmeaCut().empty() || csvCut().empty()) GTEST_SKIP() << "the real recordings are not here";
    // In a sentence: its checksum no longer matches; dropped and counted.
    std::string n = nmeaCut();
    n[n.find("$GPGGA") + 10] = '\0';
    Outcome o = run(LogKind::Nmea, n);
    ASSERT_TRUE(o.ok);
    EXPECT_EQ(o.info.nmea.badChecksums, 1);
    EXPECT_EQ(o.info.nmea.firstDroppedLine, 2);
    EXPECT_EQ(o.samples.size(), 30u);
    o = run(LogKind::Nmea, std::string(4096, '\0'));
    expectNamedError(o, "nmea of NULs");

    std::string c = csvCut();
    c[c.find("\n0.05,") + 3] = '\0';
    o = run(LogKind::Csv, c);
    expectNamedError(o, "csv");
    EXPECT_EQ(o.error.line, 12);
    EXPECT_NE(o.error.message.find("\\x00"), std::string::npos) << o.error.message;
    o = run(LogKind::Csv, std::string(4096, '\0'));
    expectNamedError(o, "csv of NULs");

    std::string g = gpxCut();
    g[g.find("<trkpt", g.find("<trkpt") + 1) + 3] = '\0';
    o = run(LogKind::Gpx, g);
    expectNamedError(o, "gpx");
    EXPECT_EQ(o.error.line, 5);
    EXPECT_EQ(o.samples.size(), 1u);
}

TEST(HostileImports, XmlBombsAndDeepNesting) {
    std::string laughs = "<?xml version=\"1.0\"?>\n<!DOCTYPE gpx [\n<!ENTITY a \"aaaaaaaaaaaaaaaa\">\n";
    for (char e = 'b'; e <= 'l'; ++e) {
        laughs += "<!ENTITY ";
        laughs += e;
        laughs += " \"";
        for (int k = 0; k < 10; ++k) {
            laughs += '&';
            laughs += static_cast<char>(e - 1);
            laughs += ';';
        }
        laughs += "\">\n";
    }
    laughs += "]>\n<gpx>&l;</gpx>\n";
    Outcome o = run(LogKind::Gpx, laughs);
    expectNamedError(o, "entities");
    EXPECT_EQ(o.error.line, 3);

    std::string deep = "<gpx><trk><trkseg><trkpt lat=\"1\" lon=\"2\"><time>2024-01-01T00:00:00Z</time>";
    for (int i = 0; i < 100000; ++i) deep += "<e>";
    for (int i = 0; i < 100000; ++i) deep += "</e>";
    deep += "</trkpt></trkseg></trk></gpx>";
    o = run(LogKind::Gpx, deep);
    ASSERT_TRUE(o.ok) << o.error.describe();
    EXPECT_EQ(o.samples.size(), 1u);
}

// Bytes damaged at random: whatever is read is sound, whatever fails is named.
TEST(HostileImports, DamagedBytes) {
    if (nmeaCut().empty() || csvCut().empty()) GTEST_SKIP() << "the real recordings are not here";
    std::mt19937 rng(2024);
    for (LogKind kind : {LogKind::Nmea, LogKind::Gpx, LogKind::Csv}) {
        const std::string& base = kind == LogKind::Nmea ? nmeaCut() : kind == LogKind::Gpx ? gpxCut() : csvCut();
        for (int round = 0; round < 300; ++round) {
            std::string b = base;
            const int hits = 1 + static_cast<int>(rng() % 8);
            for (int h = 0; h < hits; ++h) {
                const std::size_t at = rng() % b.size();
                switch (rng() % 3) {
                case 0: b[at] = static_cast<char>(rng() & 0xff); break;
                case 1: b.erase(at, 1 + rng() % 20); break;
                default: b.insert(at, std::string(1 + rng() % 5, "0,.$*:<>\"\n\r9-"[rng() % 14])); break;
                }
            }
            const Outcome o = run(kind, b);
            const std::string what = std::string(logKindName(kind)) + " round " + std::to_string(round);
            if (!o.ok) expectNamedError(o, what);
            for (std::size_t i = 0; i < o.samples.size(); ++i) {
                const Sample& s = o.samples[i];
                ASSERT_EQ(s.index, static_cast<std::int32_t>(i)) << what;
                ASSERT_TRUE(s.lat >= -5400 && s.lat <= 5400 && s.lon >= -10800 && s.lon <= 10800) << what;
                ASSERT_EQ(s.time, static_cast<double>(s.clock) / 1000.0) << what;
            }
        }
    }
}
