// Reference files and lap lists of the demo session, compared byte for byte
// with files kept in tests/data/golden. Any change to what a lap timer
// receives shows up here, whatever function made the bytes.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "formats/numbers.h"
#include "session/session.h"
#include "test_util.h"

using namespace lorvane;

namespace {

const std::string kSamples = LORVANE_SAMPLES;
const std::string kGolden = std::string(LORVANE_TEST_DATA) + "/golden";

struct Demo {
    Session session;
    LoadReport report;
    Demo(LogKind kind) {
        EXPECT_TRUE(session.loadStartFinish(kSamples + "/demo.gxr").ok);
        SessionObserver quiet;
        report = session.loadLog(kind, kSamples + (kind == LogKind::Text ? "/demo.zlg" : "/demo.wmx"), quiet);
        EXPECT_TRUE(report.ok) << report.error.describe();
    }
    std::string reference(std::int32_t lap, bool fixed) {
        test::TempDir dir;
        session.saveLapRefFile(session.pickLap(lap), dir.file("LAP.REF"), fixed);
        return test::readFile(dir.file("LAP.REF"));
    }
};

} // namespace

TEST(Golden, DemoReferenceFilesAreUnchanged) {
    Demo text(LogKind::Text);
    EXPECT_EQ(text.reference(3, false), test::readFile(kGolden + "/demo_zlg_lap3.REF"));
    Demo binary(LogKind::Binary);
    EXPECT_EQ(binary.reference(binary.session.bestLap(), true), test::readFile(kGolden + "/demo_wmx_best_fixed.REF"));
}

TEST(Golden, DemoLapListsAreUnchanged) {
    Demo binary(LogKind::Binary);
    std::string lines;
    for (const Lap& l : binary.session.laps()) lines += l.line + "\n";
    EXPECT_EQ(lines, test::readFile(kGolden + "/demo_wmx.txt"));
}

// Every point but the last is stamped from the crossing that opened the lap:
// trunc((i + its offset) * 1000). The closing crossing's offset, one sample
// away, would be off by up to 100 ms; the check is exact, so even 1 ms shows.
TEST(Golden, ReferencePointsAreStampedFromTheOpeningCrossing) {
    Demo text(LogKind::Text);
    const auto& crossings = text.session.crossings();
    int discriminating = 0;
    for (std::int32_t lap = 1; lap <= static_cast<std::int32_t>(text.session.laps().size()); ++lap) {
        const double opening = crossings[static_cast<std::size_t>(lap) - 1].offset;
        const double closing = crossings[static_cast<std::size_t>(lap)].offset;
        if (truncToInt64(opening * 1000) != truncToInt64(closing * 1000)) ++discriminating;
        const std::string ref = text.reference(lap, false);
        std::istringstream in(ref.substr(ref.find("[Points]\r\n") + 10));
        std::vector<long long> stamps;
        double east, north;
        long long ms;
        while (in >> east >> north >> ms) stamps.push_back(ms);
        ASSERT_GE(stamps.size(), 3u);
        for (std::size_t i = 0; i + 1 < stamps.size(); ++i)
            ASSERT_EQ(stamps[i], truncToInt64((static_cast<double>(i) + opening) * 1000))
                << "lap " << lap << " point " << i;
        EXPECT_EQ(stamps.back(), truncToInt64(text.session.laps()[static_cast<std::size_t>(lap) - 1].time * 1000));
    }
    EXPECT_GT(discriminating, 0) << "no lap tells the opening offset from the closing one";
}
