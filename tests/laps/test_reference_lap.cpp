#include <gtest/gtest.h>

#include <cstdio>

#include "formats/diagnostic.h"
#include "laps/reference_lap.h"
#include "test_util.h"

using namespace lorvane;
using lorvane::test::TempDir;

namespace {
std::vector<int> thinnedIndices(int n) {
    LapThinner t;
    for (int i = 0; i < n; ++i) t.add(i, -i, 4000000 + 10 * i);
    std::vector<int> out;
    for (const GeoPoint& p : t.finish()) out.push_back(static_cast<int>(p.lat));
    return out;
}
} // namespace

TEST(ReferenceLap, ThinningKeepsEveryTenthAndTheLast) {
    EXPECT_EQ(thinnedIndices(1), (std::vector<int>{0, 0}));
    EXPECT_EQ(thinnedIndices(10), (std::vector<int>{0, 9}));
    EXPECT_EQ(thinnedIndices(11), (std::vector<int>{0, 10, 10}));
    EXPECT_EQ(thinnedIndices(12), (std::vector<int>{0, 10, 11}));
    EXPECT_EQ(thinnedIndices(50000).size(), 5001u);
    for (int n : {1, 9, 10, 11, 12, 21, 50000}) EXPECT_EQ(thinnedPointCount(n), (long)thinnedIndices(n).size());
}

TEST(ReferenceLap, StampsNeverRunBackWhenTheClockDoes) {
    // 0.0, 1.0, 2.0 s, then the logger's clock steps back to 0.5 s: the
    // closing point keeps the stamp already reached instead of going back.
    LapThinner t;
    for (std::int64_t c : {0, 100, 200, 50}) t.add(0, 0, 1000 + c);
    const auto pts = t.finish();
    ASSERT_EQ(pts.size(), 4u);
    for (std::size_t i = 1; i < pts.size(); ++i) EXPECT_GE(pts[i].elapsed, pts[i - 1].elapsed) << i;
    EXPECT_EQ(pts.back().elapsed, 2.0);
}

TEST(ReferenceLap, TextLogRereadKeepsCarriedOverFields) {
    TempDir dir;
    // The lap starts at sample 2, a short line: its latitude is carried over
    // from sample 1, and decimal commas are read as points.
    std::string path = dir.write("a.zlg", "[header]\nSatellites\nTime\nLatitude\nLongitude\n[channel units]\n[data]\n"
                                          "5 1 10 20\n5 1 11,5 21,5\n5 1\n5 1 13 23\n");
    LapSource src{LogKind::Text, path, TextLogColumns{3, 4, 2, 1}, 0, 2, 3};
    auto pts = readReferenceLap(src);
    ASSERT_EQ(pts.size(), 2u);
    EXPECT_EQ(pts[0].lat, 11.5);
    EXPECT_EQ(pts[0].lon, -21.5);
    EXPECT_EQ(pts[1].lat, 13.0);
    EXPECT_EQ(pts[1].lon, -23.0);
}

TEST(ReferenceLap, BinaryRereadFollowsTheLoadsFraming) {
    TempDir dir;
    auto rec = [](int i, char term = '$') {
        std::string r(36, 'x');
        r[0] = 5;
        r[1] = r[2] = r[3] = 0;
        r[4] = r[5] = r[6] = 0;
        r[7] = static_cast<char>(i);
        r[8] = r[9] = r[10] = 0;
        r[11] = static_cast<char>(i);
        r[35] = term;
        return r;
    };
    std::string f = "HDR VERT_SPEED(2) $\r\nZ" + rec(1) + rec(2, '#') + rec(3) + rec(4) + rec(5) + rec(6);
    std::string path = dir.write("a.wmx", f);
    // Records 2 and 3 are dropped by the resynchronisation: sample 1 is record 4.
    auto pts = readReferenceLap(LapSource{LogKind::Binary, path, {}, 36, 1, 2});
    ASSERT_EQ(pts.size(), 2u);
    EXPECT_EQ(pts[0].lat, 4e-5);
    EXPECT_EQ(pts[0].lon, 4e-5);
    EXPECT_EQ(pts[1].lat, 5e-5);
}

TEST(ReferenceLap, ChangedOrOversizedLogsAreRefused) {
    TempDir dir;
    std::string path = dir.write("a.zlg", "[header]\nSatellites\nTime\nLatitude\nLongitude\n[channel units]\n[data]\n"
                                          "5 1 10 20\n5 1 11 21\n");
    EXPECT_THROW(readReferenceLap(LapSource{LogKind::Text, path, TextLogColumns{3, 4, 2, 1}, 0, 1, 5}), LoadError);
    EXPECT_THROW(readReferenceLap(LapSource{LogKind::Text, path, TextLogColumns{1, 2, 3, 4}, 0, 0, 1}), LoadError);
    EXPECT_THROW(readReferenceLap(LapSource{LogKind::Text, dir.file("gone.zlg"), TextLogColumns{3, 4, 2, 1}, 0, 0, 1}),
                 LoadError);
    // A lap of 5000 s or more needs more points than a reference file holds,
    // whatever the sample rate: here one sample a second.
    std::string slow = "[header]\nSatellites\nTime\nLatitude\nLongitude\n[channel units]\n[data]\n";
    for (int i = 0; i < 5002; ++i) {
        const int t = 10 * 3600 + i; // from 10:00:00
        char hms[16];
        std::snprintf(hms, sizeof hms, "%02d%02d%02d", t / 3600, t / 60 % 60, t % 60);
        slow += std::string("5 ") + hms + " 10 20\n";
    }
    const std::string slowPath = dir.write("slow.zlg", slow);
    try {
        readReferenceLap(LapSource{LogKind::Text, slowPath, TextLogColumns{3, 4, 2, 1}, 0, 0, 5001});
        FAIL();
    } catch (const LoadError& e) {
        EXPECT_NE(e.diagnostic().message.find("at most 5001 points"), std::string::npos) << e.diagnostic().message;
        EXPECT_EQ(e.diagnostic().kind, ErrorKind::Invalid);
    }
    // One second shorter fits exactly.
    EXPECT_EQ(readReferenceLap(LapSource{LogKind::Text, slowPath, TextLogColumns{3, 4, 2, 1}, 0, 0, 4999}).size(),
              5001u);
}
