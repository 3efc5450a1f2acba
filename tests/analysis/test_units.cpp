#include <gtest/gtest.h>

#include "analysis/units.h"

using namespace lorvane;

// A channel in a speed or distance unit is shown in the user's; its factor
// turns the log's value into the shown one. A name that carries its unit
// keeps it, and any other unit is left alone.
TEST(Units, ChannelsShownInTheUsersUnits) {
    const Units mphFeet{SpeedUnit::Mph, DistanceUnit::Feet};
    const ShownUnit ms = shownUnit("m/s", mphFeet);
    EXPECT_EQ(ms.label, "mph");
    EXPECT_NEAR(10 * ms.factor, 22.369, 1e-3); // 10 m/s
    EXPECT_NEAR(shownUnit("kn", Units{}).factor, 1.852, 1e-12);
    EXPECT_NEAR(shownUnit("MPH", Units{}).factor, 1.609344, 1e-12);
    EXPECT_EQ(shownUnit("MPH", Units{}).label, "km/h");
    EXPECT_NEAR(shownUnit("m", mphFeet).factor, 1 / 0.3048, 1e-12);
    EXPECT_EQ(shownUnit("ft", Units{}).label, "m");
    EXPECT_EQ(shownUnit("Altitude (ft)", "ft", Units{}).label, "ft");
    EXPECT_EQ(shownUnit("Altitude (ft)", "ft", Units{}).factor, 1);
    EXPECT_EQ(shownUnit("Altitude", "ft", Units{}).label, "m");
    EXPECT_EQ(shownUnit("rpm", mphFeet).label, "rpm");
    EXPECT_EQ(shownUnit("rpm", mphFeet).factor, 1);
}
