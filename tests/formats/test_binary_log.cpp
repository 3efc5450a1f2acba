#include <gtest/gtest.h>

#include <vector>

#include "formats/binary_log.h"
#include "test_util.h"

using namespace lorvane;
using lorvane::test::TempDir;

namespace {

struct Collect : SampleSink {
    std::vector<Sample> samples;
    bool sample(const Sample& s) override {
        samples.push_back(s);
        return true;
    }
};

// A record of `len` bytes: satellites, time (hundredths), latitude and
// longitude (1e-5 minutes), filler, then the terminator.
std::string record(int len, int sats, std::uint32_t t, std::int32_t lat, std::int32_t lon, char filler = 'x',
                   char term = '$') {
    std::string r;
    r += static_cast<char>(sats);
    r += static_cast<char>((t >> 16) & 0xff);
    r += static_cast<char>((t >> 8) & 0xff);
    r += static_cast<char>(t & 0xff);
    for (std::int32_t v : {lat, lon}) {
        auto u = static_cast<std::uint32_t>(v);
        for (int sh = 24; sh >= 0; sh -= 8) r += static_cast<char>((u >> sh) & 0xff);
    }
    r.append(static_cast<std::size_t>(len - 13), filler);
    r += term;
    return r;
}

std::string header(const std::string& names = "LOG SATS TIME") {
    return names + " $ rest\r\nZ";
}

BinaryLogInfo read(const TempDir& dir, const std::string& content, Collect& c) {
    return readBinaryLog(dir.write("b.wmx", content), c);
}

Diagnostic errorOf(const TempDir& dir, const std::string& content) {
    Collect c;
    try {
        read(dir, content, c);
    } catch (const LoadError& e) {
        return e.diagnostic();
    }
    ADD_FAILURE() << "no error";
    return {};
}

} // namespace

TEST(BinaryLog, RecordLengthFromTheHeaderOnly) {
    EXPECT_EQ(recordLengthForHeader("A B$"), 33);
    EXPECT_EQ(recordLengthForHeader("A VELOCITY(3) B$"), 34);
    EXPECT_EQ(recordLengthForHeader("VERT_SPEED(2)$"), 36);
    EXPECT_EQ(recordLengthForHeader("VELOCITY(3) VERT_SPEED(2)$"), 36);
    EXPECT_EQ(recordLengthForHeader("Velocity(3)$"), 33);
    TempDir dir;
    Collect c;
    // A name after the first '$' does not count.
    auto info = read(dir, "LOG $ VELOCITY(3)\r\nZ" + record(33, 5, 1, 2, 3), c);
    EXPECT_EQ(info.recordLength, 33);
    EXPECT_EQ(c.samples.size(), 1u);
}

TEST(BinaryLog, DecodesTheSpecimenRecord) {
    const unsigned char rec[] = {0x08, 0x45, 0x1E, 0x0E, 0x12, 0x6B, 0x27, 0x79, 0xFF, 0xA3, 0x9E, 0x4F};
    Sample s;
    decodeRecord(rec, s);
    EXPECT_EQ(s.sats, 8);
    EXPECT_DOUBLE_EQ(s.time, 45296.78);
    EXPECT_EQ(s.lat, 3090.12345);
    EXPECT_EQ(s.lon, -60.54321);
}

TEST(BinaryLog, FramingAndResynchronisation) {
    TempDir dir;
    const int L = 34;
    std::string f = header("X VELOCITY(3)");
    f += record(L, 5, 100, 1, 1, '$');      // '$' inside the payload is data
    f += record(L, 5, 200, 2, 2, 'x', 'Q'); // broken: dropped up to the next '$'
    f += record(L, 5, 300, 3, 3);           // swallowed by the resynchronisation
    f += record(L, 5, 400, 4, 4);
    std::string last = record(L, 5, 500, 5, 5);
    f += last.substr(0, last.size() - 1); // last record without terminator
    Collect c;
    auto info = read(dir, f, c);
    EXPECT_EQ(info.resyncs, 1);
    ASSERT_EQ(c.samples.size(), 3u);
    EXPECT_EQ(c.samples[0].lat, 1e-5);
    EXPECT_EQ(c.samples[1].lat, 4e-5);
    EXPECT_EQ(c.samples[1].index, 1); // numbered as if the dropped bytes were never there
    EXPECT_EQ(c.samples[2].time, 5.0);
    EXPECT_EQ(c.samples[2].index, 2);
}

// The satellites are the one channel; the undocumented bytes after the
// position stay unread. A record cut short by the end of the file keeps its value.
TEST(BinaryLog, SatellitesChannel) {
    struct ChannelCollect : Collect {
        LogLayout seen;
        std::vector<double> sats;
        bool wantsChannels() const override { return true; }
        void layout(const LogLayout& l) override { seen = l; }
        bool sample(const Sample& s) override {
            EXPECT_EQ(s.channels.size(), 1u);
            sats.push_back(s.channels.empty() ? -1 : s.channels[0]);
            return Collect::sample(s);
        }
    };
    TempDir dir;
    std::string f = header("X VELOCITY(3)") + record(34, 7, 100, 1, 1) + record(34, 11, 200, 2, 2, 'x', 'Q') +
                    record(34, 12, 300, 3, 3) + record(34, 0, 400, 4, 4) + record(34, 9, 500, 5, 5).substr(0, 20);
    ChannelCollect c;
    read(dir, f, c);
    EXPECT_EQ(c.seen.channels, (std::vector<ChannelInfo>{{"Satellites", ""}}));
    EXPECT_EQ(c.sats, (std::vector<double>{7, 0, 9}));
}

TEST(BinaryLog, ShortAndEmptyLastRecords) {
    TempDir dir;
    Collect a, b, d;
    // Terminated last record: no empty record after it.
    read(dir, header() + record(33, 5, 1, 1, 1) + record(33, 5, 2, 2, 2), a);
    EXPECT_EQ(a.samples.size(), 2u);
    // A last record under 12 bytes is dropped, not decoded.
    auto info = read(dir, header() + record(33, 5, 1, 1, 1) + std::string("\x05\x00\x00", 3), b);
    EXPECT_EQ(b.samples.size(), 1u);
    EXPECT_EQ(info.shortRecords, 1);
    // A last record of exactly 12 bytes is decoded.
    read(dir, header() + record(33, 5, 1, 1, 1) + record(33, 6, 7, 8, 9).substr(0, 12), d);
    ASSERT_EQ(d.samples.size(), 2u);
    EXPECT_EQ(d.samples[1].lon, 9e-5);
    // A resynchronisation that runs to the end leaves nothing to decode.
    Collect e;
    read(dir, header() + record(33, 5, 1, 1, 1) + record(33, 5, 2, 2, 2, 'x', 'Q') + "abc", e);
    EXPECT_EQ(e.samples.size(), 1u);
}

TEST(BinaryLog, HeaderLineRules) {
    TempDir dir;
    EXPECT_EQ(errorOf(dir, "no dollar at all").message, "Read beyond end of file");
    EXPECT_EQ(errorOf(dir, "LOG $ no line end").message, "Read beyond end of file");
    EXPECT_EQ(errorOf(dir, "LOG $\r\n").message, "Read beyond end of file"); // nothing after the pair
    EXPECT_EQ(errorOf(dir, "").message, "Read beyond end of file");
    // CR CR LF: the second CR is the byte after the first and the LF does not end the line.
    Collect c;
    read(dir, "LOG $\r\r\nab\r\nZ" + record(33, 5, 1, 1, 1), c);
    EXPECT_EQ(c.samples.size(), 1u);
    // With no carriage return after it, the header line never ends.
    EXPECT_EQ(errorOf(dir, "LOG $\r\r\nZ" + record(33, 5, 1, 1, 1)).message, "Read beyond end of file");
}

TEST(BinaryLog, FoldersAndMissingFiles) {
    Collect c;
    try {
        readBinaryLog("/no/such/file.wmx", c);
        FAIL();
    } catch (const LoadError& e) {
        EXPECT_EQ(e.diagnostic().message, "File not found");
    }
    EXPECT_THROW(readBinaryLog("/tmp", c), LoadError);
}
