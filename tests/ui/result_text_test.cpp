#include "ui/result_text.h"

#include <gtest/gtest.h>

#include "ui/strings/string_ids.h"

namespace tessarine::ui {
namespace {

TEST(ResultTextTest, TimeStampsShowYearMonthDayHourMinute) {
    const struct {
        const char* stamp;
        const char* shown;
    } cases[] = {
        {"20170301093005", "2017/03/01 09:30"},
        {"20171231235959", "2017/12/31 23:59"},
        {"201712312359", "2017/12/31 23:59"},  // without seconds
        {"2017123123", "2017123123"},          // too short: shown as stored
        {"2017-12-31 23:59", "2017-12-31 23:59"},
        {"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(FormatResultTime(c.stamp), c.shown) << c.stamp;
}

TEST(ResultTextTest, ResultCodesMapToTheirTexts) {
    const struct {
        int code;
        unsigned text;
    } cases[] = {{0, kStrResultSuccess},
                 {1, kStrResultConnectError},
                 {2, kStrResultFileAccessError},
                 {3, kStrResultSuccess},
                 {-1, kStrResultSuccess}};
    for (const auto& c : cases) EXPECT_EQ(BackupResultTextId(c.code), c.text) << c.code;
}

TEST(ResultTextTest, HitsAreGroupedByRunsOfTheSameCategory) {
    using D = std::vector<DetectFileResultDetailData>;
    const struct {
        D details;
        const char* text;
    } cases[] = {
        {{{"A", "x"}, {"A", "y"}, {"B", "z"}}, "A 2件\r\n  x\r\n  y\r\nB 1件\r\n  z\r\n"},
        {{{"A", "x"}, {"B", "y"}, {"A", "z"}}, "A 1件\r\n  x\r\nB 1件\r\n  y\r\nA 1件\r\n  z\r\n"},
        {{}, ""},
        {{{"", ""}}, " 1件\r\n  \r\n"},
    };
    for (const auto& c : cases) EXPECT_EQ(BuildDetectionContent(c.details, "件"), c.text);
}

}  // namespace
}  // namespace tessarine::ui
