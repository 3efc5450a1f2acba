// The start/finish file writer: what the reader takes back.
#include <gtest/gtest.h>

#include <random>

#include "formats/diagnostic.h"
#include "formats/start_finish.h"
#include "test_util.h"

using namespace lorvane;

TEST(GxrWriter, LayoutLongitudeFirstCrLfAndZeroFinish) {
    StartFinish sf;
    sf.start = Gate{3090, -60, 3090.01, -60.005};
    EXPECT_EQ(composeStartFinishText(sf),
              "[Start finish]\r\n-6000000 309000000 -6000500 309001000\r\n[Finish]\r\n0 0 0 0\r\n");
    sf.finish = Gate{3091, -61, 3091.5, -61.25};
    sf.hasFinishLine = true;
    EXPECT_EQ(composeStartFinishText(sf, "My circuit\nLength 1000 m"),
              "My circuit\r\nLength 1000 m\r\n[Start finish]\r\n-6000000 309000000 -6000500 309001000\r\n"
              "[Finish]\r\n-6100000 309100000 -6125000 309150000\r\n");
}

TEST(GxrWriter, RoundsToTheNearestUnit) {
    StartFinish sf;
    sf.start = Gate{3090.000004, -0.000004, 3090.000006, -60.0000051};
    EXPECT_EQ(composeStartFinishText(sf).substr(16, 32), "0 309000000 -6000001 309000001\r\n");
    sf.start.long1 = std::nan("");
    EXPECT_THROW(composeStartFinishText(sf), LoadError);
}

TEST(GxrWriter, ReaderGivesTheSameGatesBack) {
    // The demo file, rewritten, reads as the same gates.
    StartFinish demo = readStartFinishFile(std::string(LORVANE_SAMPLES) + "/demo.gxr");
    StartFinish again = parseStartFinish(composeStartFinishText(demo), "again.gxr");
    EXPECT_EQ(again.start.lat1, demo.start.lat1);
    EXPECT_EQ(again.start.long1, demo.start.long1);
    EXPECT_EQ(again.start.lat2, demo.start.lat2);
    EXPECT_EQ(again.start.long2, demo.start.long2);
    EXPECT_EQ(again.hasFinishLine, demo.hasFinishLine);

    std::mt19937_64 rng(5);
    std::uniform_int_distribution<std::int64_t> lat(-540000000, 540000000), lon(-1080000000, 1080000000);
    for (int i = 0; i < 2000; ++i) {
        StartFinish sf;
        // Whole units, and units with a fraction that rounding must settle.
        const double frac = (i % 2) ? 0.3 : 0.0;
        sf.start = Gate{(lat(rng) + frac) / 1e5, (lon(rng) - frac) / 1e5, lat(rng) / 1e5, lon(rng) / 1e5};
        sf.hasFinishLine = i % 3 != 0;
        if (sf.hasFinishLine) sf.finish = Gate{lat(rng) / 1e5 + 1, lon(rng) / 1e5, lat(rng) / 1e5, lon(rng) / 1e5};
        StartFinish back = parseStartFinish(composeStartFinishText(sf, "[Start finish]"), "x.gxr");
        const Gate* gs[2] = {&sf.start, &sf.finish};
        const Gate* bs[2] = {&back.start, &back.finish};
        for (int k = 0; k < (sf.hasFinishLine ? 2 : 1); ++k) {
            EXPECT_NEAR(bs[k]->lat1, gs[k]->lat1, 0.5e-5 + 1e-9);
            EXPECT_NEAR(bs[k]->long1, gs[k]->long1, 0.5e-5 + 1e-9);
            EXPECT_NEAR(bs[k]->lat2, gs[k]->lat2, 0.5e-5 + 1e-9);
            EXPECT_NEAR(bs[k]->long2, gs[k]->long2, 0.5e-5 + 1e-9);
        }
        EXPECT_EQ(composeStartFinishText(back), composeStartFinishText(sf));
        EXPECT_EQ(back.hasFinishLine, sf.hasFinishLine);
        if (!sf.hasFinishLine) {
            EXPECT_EQ(back.finish.lat1, 0);
        }
    }
}
