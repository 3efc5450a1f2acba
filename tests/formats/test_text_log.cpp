#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "formats/block_reader.h"
#include "formats/numbers.h"
#include "formats/text_log.h"
#include "test_util.h"

using namespace lorvane;
using lorvane::test::TempDir;

namespace {

struct Collect : SampleSink {
    std::vector<Sample> samples;
    std::vector<std::string> timeErrors;
    LogLayout seen;
    void layout(const LogLayout& l) override { seen = l; }
    bool sample(const Sample& s) override {
        samples.push_back(s);
        timeErrors.push_back(s.timeError ? s.timeError->message : "");
        return true;
    }
};

const char* kHead = "[header]\nSatellites\nTime\nLatitude\nLongitude\n[channel units]\n\n[data]\n";

Diagnostic errorOf(const TempDir& dir, const std::string& content) {
    Collect c;
    try {
        readTextLog(dir.write("e.zlg", content), c);
    } catch (const LoadError& e) {
        return e.diagnostic();
    }
    ADD_FAILURE() << "no error";
    return {};
}

} // namespace

TEST(TextLog, ChannelRules) {
    TextLogColumns c;
    applyChannelRules("Time", 1, c);
    applyChannelRules("Trigger time", 2, c);
    applyChannelRules("Sync time", 3, c);
    EXPECT_EQ(c.time, 1);
    applyChannelRules("Local time", 4, c);
    EXPECT_EQ(c.time, 4); // the last match wins
    applyChannelRules("GPS Latitude", 5, c);
    applyChannelRules("Longitude", 6, c);
    applyChannelRules("Satellites", 7, c);
    applyChannelRules("latitude", 8, c); // case-sensitive substring: still "atitude"
    applyChannelRules("LATITUDE", 9, c); // not
    EXPECT_EQ(c.lat, 8);
    EXPECT_EQ(c.lon, 6);
    EXPECT_EQ(c.sats, 7);
}

TEST(TextLog, TimeConversion) {
    EXPECT_DOUBLE_EQ(convertLogTime("123456.78"), 45296.78);
    EXPECT_DOUBLE_EQ(convertLogTime("123456.789"), 45296.79);
    EXPECT_DOUBLE_EQ(convertLogTime("93015.5"), 34215.5);
    EXPECT_EQ(convertLogTime("235959.996"), 86400.0);
    EXPECT_EQ(convertLogTime("0"), 0.0);
    // The fast path and the general one agree to the bit.
    for (const char* t : {"1.5", "000001.50", "123456", "235959.99", "100000.01", "5.", "000000.07"})
        EXPECT_EQ(convertLogTime(t), convertLogTime(std::string("+") + t)) << t;
    EXPECT_THROW(convertLogTime("12:34:56"), LoadError);
    EXPECT_THROW(convertLogTime("nan"), LoadError);
}

TEST(TextLog, ReadsTheSpecimenLine) {
    TempDir dir;
    Collect c;
    auto info = readTextLog(dir.write("a.zlg", std::string(kHead) + "008 123456.78 3090,12345 00060,54321\n"), c);
    EXPECT_EQ(info.columns.sats, 1);
    EXPECT_EQ(info.columns.time, 2);
    EXPECT_EQ(info.columns.lat, 3);
    EXPECT_EQ(info.columns.lon, 4);
    ASSERT_EQ(c.samples.size(), 1u);
    EXPECT_EQ(c.samples[0].sats, 8);
    EXPECT_DOUBLE_EQ(c.samples[0].time, 45296.78);
    EXPECT_EQ(c.samples[0].lat, 3090.12345);
    EXPECT_EQ(c.samples[0].lon, -60.54321);
    EXPECT_EQ(c.samples[0].line, 9);
}

TEST(TextLog, FieldsCarryOverAndBlanksCount) {
    TempDir dir;
    Collect c;
    std::string data = std::string(kHead) +
                       "5 100000 10 20\n"  // 0: all fields
                       "6 100001 11\n"     // 1: no longitude field: keeps 20
                       "\n"                // 2: empty line: everything repeats, still a sample
                       "7  100002 12 21\n" // 3: two blanks: field 2 empty, fields shift
                       " 100003 13 22 \n"  // 4: leading blank: satellites empty; trailing blank adds nothing
                       "8 100004 14 23";   // 5: last line without its end
    readTextLog(dir.write("a.zlg", data), c);
    ASSERT_EQ(c.samples.size(), 6u);
    EXPECT_EQ(c.samples[1].lon, -20.0);
    EXPECT_EQ(c.samples[1].lat, 11.0);
    EXPECT_EQ(c.samples[2].lat, 11.0);
    EXPECT_EQ(c.samples[2].index, 2);
    // "7  100002 12 21": field 2 empty (time stays), field 3 = 100002 -> latitude, field 4 = 12.
    EXPECT_EQ(c.samples[3].sats, 7);
    EXPECT_DOUBLE_EQ(c.samples[3].time, c.samples[1].time);
    EXPECT_EQ(c.samples[3].lat, 100002.0);
    EXPECT_EQ(c.samples[3].lon, -12.0);
    EXPECT_EQ(c.samples[4].sats, 7);
    EXPECT_EQ(c.samples[4].lon, -22.0);
    EXPECT_EQ(c.samples[5].index, 5);
    EXPECT_EQ(c.samples[5].lon, -23.0);
}

TEST(TextLog, LineEndsOfEveryKind) {
    TempDir dir;
    Collect lf, crlf, cr;
    std::string body =
        "[Header]\nSatellites\nTime\nLatitude\nLongitude\n[Comments]\n[Data]\n1 0 1 1\n2 0 2 2\n3 0 3 3\n";
    auto replace = [](std::string s, const std::string& eol) {
        std::string out;
        for (char ch : s) {
            if (ch == '\n')
                out += eol;
            else
                out += ch;
        }
        return out;
    };
    readTextLog(dir.write("lf.zlg", body), lf);
    readTextLog(dir.write("crlf.zlg", replace(body, "\r\n")), crlf);
    readTextLog(dir.write("cr.zlg", replace(body, "\r")), cr);
    ASSERT_EQ(lf.samples.size(), 3u);
    ASSERT_EQ(crlf.samples.size(), 3u);
    ASSERT_EQ(cr.samples.size(), 3u);
    EXPECT_EQ(cr.samples[2].lat, 3.0);
    EXPECT_EQ(crlf.samples[2].line, 10);
}

TEST(TextLog, MarkersMustMatchWholeLines) {
    TempDir dir;
    EXPECT_EQ(errorOf(dir, "[HEADER]\nTime\n").message, "No \"[header]\" line in the log");
    EXPECT_EQ(errorOf(dir, "[header] \nTime\n").message, "No \"[header]\" line in the log");
    EXPECT_NE(errorOf(dir, "[header]\nTime\nLatitude\n").message.find("channel list"), std::string::npos);
    EXPECT_EQ(
        errorOf(dir, "[header]\nSatellites\nTime\nLatitude\nLongitude\n[column names]\nx\n[DATA]\n1 2 3 4\n").message,
        "No \"[data]\" line in the log");
}

TEST(TextLog, MissingChannelsAreNamedTogether) {
    TempDir dir;
    auto d = errorOf(dir, "[header]\nTime\nVelocity\n[channel units]\n[data]\n");
    EXPECT_EQ(d.message, "No latitude, longitude, satellites channel in the log's channel list");
    EXPECT_EQ(d.line, 4);
}

TEST(TextLog, BadNumbersNameFieldAndLine) {
    TempDir dir;
    auto d = errorOf(dir, std::string(kHead) + "5 100000 10 20\n5 100000 1x 20\n");
    EXPECT_EQ(d.message, "'1x' is not a valid floating point value");
    EXPECT_EQ(d.line, 10);
    EXPECT_EQ(errorOf(dir, std::string(kHead) + "5.5 100000 10 20\n").message, "'5.5' is not a valid integer value");
    EXPECT_EQ(errorOf(dir, std::string(kHead) + "5 1 1e999 20\n").message,
              "'1e999' is not a valid floating point value");
    // Unused columns are never converted.
    Collect c;
    readTextLog(dir.write("u.zlg", "[header]\nSatellites\nTime\nLatitude\nLongitude\nSpeed\n[comments]\n[data]\n"
                                   "5 100000 10 20 fast\n"),
                c);
    EXPECT_EQ(c.samples.size(), 1u);
}

TEST(TextLog, BadTimeIsReportedAfterThePosition) {
    TempDir dir;
    Collect c;
    readTextLog(dir.write("t.zlg", std::string(kHead) + "5 12:00 10 20\n"), c);
    ASSERT_EQ(c.samples.size(), 1u);
    EXPECT_EQ(c.samples[0].lat, 10.0);
    EXPECT_EQ(c.timeErrors[0], "'12:00' is not a valid floating point value");
}

TEST(TextLog, OverlongLineEndsTheLoad) {
    TempDir dir;
    std::string big = std::string(kHead) + "5 1 1 1\n" + std::string(kMaxTextLine + 10, '7') + "\n";
    auto d = errorOf(dir, big);
    EXPECT_NE(d.message.find("Line longer than"), std::string::npos);
    EXPECT_EQ(d.line, 10);
}

TEST(TextLog, SinkCanStopAndColumnsAreChecked) {
    TempDir dir;
    std::string path = dir.write("s.zlg", std::string(kHead) + "5 1 1 1\n5 1 2 2\n5 1 3 3\n");
    struct Stop : SampleSink {
        int n = 0;
        bool sample(const Sample&) override { return ++n < 2; }
    } stop;
    auto info = readTextLog(path, stop);
    EXPECT_TRUE(info.stopped);
    EXPECT_EQ(stop.n, 2);
    TextLogColumns other{1, 2, 3, 4};
    Collect c;
    EXPECT_THROW(readTextLog(path, c, &other), LoadError);
}

namespace {

// Hands out its bytes a few at a time, as a slow pipe would.
class TrickleSource final : public ByteSource {
public:
    TrickleSource(std::string_view bytes, bool sizeKnown, unsigned seed)
        : ByteSource("trickle.zlg"), bytes_(bytes), sizeKnown_(sizeKnown), rng_(seed) {}
    std::size_t read(char* dst, std::size_t n) override {
        std::size_t k = std::min({n, bytes_.size() - pos_, static_cast<std::size_t>(rng_() % 13 + 1)});
        std::memcpy(dst, bytes_.data() + pos_, k);
        pos_ += k;
        return k;
    }
    std::uint64_t size() const override { return sizeKnown_ ? bytes_.size() : 0; }

private:
    std::string_view bytes_;
    bool sizeKnown_;
    std::size_t pos_ = 0;
    std::mt19937 rng_;
};

} // namespace

TEST(TextLog, ReadPieceByPieceGivesTheSameSamples) {
    // Every kind of line end, decimal commas, empty and short lines, double
    // and trailing blanks, fields of every length around the eight-byte words
    // the fields are searched in, bad times; read at once and a few bytes at a
    // time (line ends split between reads), the samples must be the same.
    std::mt19937 rng(11);
    auto digits = [&](int n) {
        std::string s;
        for (int i = 0; i < n; ++i) s += static_cast<char>('0' + rng() % 10);
        return s;
    };
    std::string log = "[header]\nRPM\nTime\nThrottle\nHeading\nVelocity\nAltitude\nLatitude\nGear\nLongitude\n"
                      "Satellites\nLambda\n[channel units]\n[data]\n";
    const char* eols[] = {"\n", "\r\n", "\r"};
    for (int i = 0; i < 3000; ++i) {
        const int shape = static_cast<int>(rng() % 20);
        std::string line;
        if (shape == 0) {
            line = "";
        } else if (shape == 1) {
            line = digits(4) + " " + digits(6); // stops before the position
        } else {
            const char point = shape == 2 ? ',' : '.';
            std::string f[11];
            f[0] = digits(static_cast<int>(rng() % 12));
            f[1] = digits(static_cast<int>(rng() % 3 + 5)) + point + digits(static_cast<int>(rng() % 4));
            if (shape == 3) f[1] = "12:00";
            for (int k : {2, 3, 4, 5, 7, 10}) f[k] = digits(static_cast<int>(rng() % 17));
            f[6] = (rng() % 2 ? "-" : "") + digits(static_cast<int>(rng() % 5 + 1)) + point +
                   digits(static_cast<int>(rng() % 25));
            f[8] = digits(static_cast<int>(rng() % 6 + 1)) + point + digits(static_cast<int>(rng() % 8));
            f[9] = digits(static_cast<int>(rng() % 2 + 1));
            if (shape == 4) f[2] = f[3] = f[4] = ""; // blanks in a row
            for (int k = 0; k < 11; ++k) line += (k ? " " : "") + f[k];
            if (shape == 5) line += " ";
        }
        log += line + eols[rng() % 3];
    }
    auto read = [](ByteSource& src, Collect& c) { readTextLog(src, c); };
    MemorySource whole(log, "whole.zlg");
    Collect once;
    read(whole, once);
    ASSERT_GT(once.samples.size(), 2900u);
    for (bool sizeKnown : {true, false}) {
        TrickleSource trickle(log, sizeKnown, 5);
        Collect piecewise;
        read(trickle, piecewise);
        ASSERT_EQ(piecewise.samples.size(), once.samples.size());
        for (std::size_t i = 0; i < once.samples.size(); ++i) {
            const Sample &a = once.samples[i], &b = piecewise.samples[i];
            ASSERT_TRUE(a.lat == b.lat && a.lon == b.lon && a.time == b.time && a.sats == b.sats && a.line == b.line &&
                        once.timeErrors[i] == piecewise.timeErrors[i])
                << "sample " << i << " of line " << a.line;
        }
    }
    // The values themselves: each field as the general conversion reads it.
    std::size_t checked = 0;
    std::size_t lineNo = 0;
    for (std::size_t at = 0, next; at < log.size(); at = next) {
        std::size_t end = log.find_first_of("\r\n", at);
        next = end + (log.compare(end, 2, "\r\n") == 0 ? 2 : 1);
        ++lineNo;
        if (lineNo <= 14) continue; // header
        std::vector<std::string> f;
        std::string line = log.substr(at, end - at);
        for (std::size_t p = 0;;) {
            const std::size_t q = line.find(' ', p);
            f.push_back(line.substr(p, q == std::string::npos ? q : q - p));
            if (q == std::string::npos) break;
            p = q + 1;
        }
        if (f.size() < 11 || f[6].empty() || f[8].empty() || f[9].empty() || f[1] == "12:00") continue;
        for (std::string* s : {&f[1], &f[6], &f[8]}) std::replace(s->begin(), s->end(), ',', '.');
        const Sample& s = once.samples[lineNo - 15];
        ASSERT_EQ(static_cast<std::size_t>(s.line), lineNo);
        EXPECT_EQ(s.lat, *parseDecimal(f[6])) << "line " << lineNo;
        EXPECT_EQ(s.lon, -*parseDecimal(f[8])) << "line " << lineNo;
        EXPECT_EQ(s.sats, *parseInteger(f[9])) << "line " << lineNo;
        EXPECT_EQ(s.time, convertLogTime(f[1])) << "line " << lineNo;
        ++checked;
    }
    EXPECT_GT(checked, 2000u);
}
