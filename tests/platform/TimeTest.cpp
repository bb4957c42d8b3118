#include <gtest/gtest.h>

#include "platform/Time.h"
#include "tests/support/TestEnv.h"

using namespace platform;
using testenv::ScopedEnv;

TEST(Time, StandardBiasFollowsTheZoneWithoutDaylightSaving) {
    {
        ScopedEnv tz("TZ", "UTC0");
        EXPECT_EQ(StandardBiasMinutes(), 0);
    }
    {
        ScopedEnv tz("TZ", "EST5EDT,M3.2.0,M11.1.0");  // five hours west, with summer time
        EXPECT_EQ(StandardBiasMinutes(), 300);
    }
    {
        ScopedEnv tz("TZ", "CET-1CEST,M3.5.0,M10.5.0/3");  // one hour east
        EXPECT_EQ(StandardBiasMinutes(), -60);
    }
    {
        ScopedEnv tz("TZ", "IST-5:30");  // half-hour zone
        EXPECT_EQ(StandardBiasMinutes(), -330);
    }
}

TEST(Time, LocalTimeRoundTripsAndFormatsAsAFolderName) {
    ScopedEnv tz("TZ", "CET-1CEST,M3.5.0,M10.5.0/3");
    tzset();
    const LocalTime t = ToLocalTime(1425751509);  // 2015-03-07 18:05:09 UTC
    EXPECT_EQ(FormatTimestamp(t), "2015-03-07-19-05-09");
    EXPECT_EQ(FromLocalTime(t), 1425751509);
    EXPECT_EQ(FormatTimestamp(LocalTime{2015, 1, 2, 3, 4, 5}), "2015-01-02-03-04-05");
    EXPECT_GT(UnixNow(), 1700000000);
}
