#include "base/time_utility.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include "fakes/test_support.h"

namespace tessarine {
namespace {

class TimeUtilityTest : public ::testing::Test {
protected:
    void SetUp() override { tzset(); }
    void TearDown() override { tzset(); }
    testing::ScopedEnv tz_{"TZ", "Asia/Tokyo"};
};

TEST_F(TimeUtilityTest, TimeStampRoundTrip) {
    std::time_t when = 0;
    ASSERT_TRUE(ParseTimeStamp("20171231235959", when));
    EXPECT_EQ(ToTimeStamp(when), "20171231235959");
    EXPECT_EQ(FormatLocalTime(when, kLogTimeFormat), "2017/12/31 23:59:59");
    EXPECT_EQ(FormatUtcTime(when, kHttpDateFormat), "Sun, 31 Dec 2017 14:59:59 GMT");
}

TEST_F(TimeUtilityTest, InvalidStampsAreRefused) {
    const char* bad[] = {"",
                         "abc",
                         "18991231000000",
                         "20171301000000",
                         "20171200000000",
                         "20171232000000",
                         "20171231240000",
                         "20171231236000",
                         "20171231235960"};
    for (const char* text : bad) {
        std::time_t when = 123;
        EXPECT_FALSE(ParseTimeStamp(text, when)) << text;
        EXPECT_EQ(when, 123) << text;
    }
    std::time_t when = 0;
    EXPECT_FALSE(ParseTimeStamp("2017", when));  // missing parts count as 0: month 0 is refused
    EXPECT_TRUE(ParseTimeStamp("201712310000", when));  // missing seconds count as 0
    EXPECT_EQ(ToTimeStamp(when), "20171231000000");
}

TEST_F(TimeUtilityTest, DayPastMonthEndCarries) {
    std::time_t when = 0;
    ASSERT_TRUE(MakeLocalTime(2026, 4, 31, 10, 0, 0, when));
    EXPECT_EQ(ToTimeStamp(when), "20260501100000");
}

}  // namespace
}  // namespace tessarine
