#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "laps/local_plane.h"

using namespace lorvane;

namespace {
// Gate through (e1, n1) with direction point (e2, n2); path prev -> cur.
bool cross(double e1, double n1, double e2, double n2, double pe, double pn, double ce, double cn, double& off) {
    return virtual_gate(e2, e1, n2, n1, ce, cn, pe, pn, off);
}
} // namespace

TEST(Gate, WorkedExample) {
    double off = -1;
    ASSERT_TRUE(cross(0, 0, 10, 10, -5, -2, 1, 1, off));
    EXPECT_NEAR(off, 0.1 * 2 / 9, 1e-15);
    // Back across in the other direction counts too.
    ASSERT_TRUE(cross(0, 0, 10, 10, 1, 1, -5, -2, off));
    EXPECT_NEAR(off, 0.1 * 7 / 9, 1e-15);
}

TEST(Gate, EveryDirectionWorks) {
    double off = -1;
    // Point 2 due west: the gate is the north-south line through point 1.
    ASSERT_TRUE(cross(0, 0, -10, 0, 5, 0, -1, 0, off));
    EXPECT_NEAR(off, 0.1 * 1 / 6, 1e-15);
    // Due east (a slope rule would divide by zero here).
    ASSERT_TRUE(cross(0, 0, 10, 0, -3, 2, 1, 2, off));
    EXPECT_NEAR(off, 0.1 * 1 / 4, 1e-15);
    // Due north (an east difference of 0 still makes a working gate).
    ASSERT_TRUE(cross(0, 0, 0, 10, 3, -2, 3, 2, off));
    EXPECT_NEAR(off, 0.05, 1e-15);
    // Travelling along the gate line is never a crossing.
    EXPECT_FALSE(cross(0, 0, 0, 10, -5, 0, 5, 0, off));
}

TEST(Gate, LineAndRadiusBounds) {
    double off = 42;
    // Previous sample on the line: no crossing; current on the line: crossing with offset 0.
    EXPECT_FALSE(cross(0, 0, 10, 0, 0, 0, 1, 0, off));
    EXPECT_EQ(off, 42);
    ASSERT_TRUE(cross(0, 0, 10, 0, -1, 0, 0, 0, off));
    EXPECT_EQ(off, 0.0);
    // The 25 m radius is inclusive and measured to the current sample only.
    EXPECT_TRUE(cross(0, 0, 10, 0, -1, 25, 0, 25, off));
    EXPECT_FALSE(cross(0, 0, 10, 0, -1, 25.000001, 0, 25.000001, off));
    EXPECT_TRUE(cross(0, 0, 10, 0, -1000, 0, 1, 0, off));
}

TEST(Gate, DegenerateGatesNeverCross) {
    double off = 7;
    EXPECT_FALSE(cross(3, 3, 3, 3, -5, 3, 5, 3, off));
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_FALSE(cross(0, 0, 10, 0, -inf, 0, 1, 0, off));
    EXPECT_FALSE(cross(0, 0, 10, 0, nan, 0, 1, 0, off));
    EXPECT_FALSE(cross(0, 0, 1e300, 0, -1e300, 0, 1, 0, off));
    EXPECT_EQ(off, 7);
}

TEST(LocalPlane, LongitudeScale) {
    EXPECT_NEAR(calcLongScale(3090, 0), 0.62251, 5e-6);
    EXPECT_NEAR(calcLongScale(3600, 10), 0.499995, 5e-6);
    // Depends on the latitude only, and symmetric about the equator.
    EXPECT_EQ(calcLongScale(3090, -600), calcLongScale(3090, 7000));
    EXPECT_EQ(calcLongScale(-2000, 100), calcLongScale(2000, 100));
    LocalPlane p{3090, -60, calcLongScale(3090, -60)};
    auto q = p.toLocal(3090.001, -59.999);
    EXPECT_NEAR(q.north, 1.8533404, 1e-9);
    EXPECT_NEAR(q.east, 1.8533404 * p.longScale, 1e-9);
}

TEST(BasePoint, TenthGoodSampleSinceTheLastLoss) {
    BasePointSelector sel;
    int chosen = -1;
    const int sats[] = {5, 5, 5, 5, 2, 5, 5, 5, 5, 3, 5, 5, 5, 5, 5, 5, 5, 5, 5};
    for (int i = 0; i < 19; ++i) {
        if (sel.count(chosen >= 0, sats[i]) && chosen < 0) chosen = i;
        sel.resetIfLost(sats[i]);
    }
    // Counting restarts after index 4 (2 satellites); 3 satellites neither counts nor resets.
    EXPECT_EQ(chosen, 15);
}
