#include "tray/tray_tip.h"

#include <gtest/gtest.h>

namespace tessarine::tray {
namespace {

TEST(TrayTipTest, ProgressFollowsTheBackupCounters) {
    struct Case {
        int total;
        int done;
        const char* expected;
    };
    const Case cases[] = {
        {0, 0, "T"},
        {-1, 0, "T\nバックアップ中\n計算中"},
        {200, 85, "T\nバックアップ中\n(42.50%)"},
        {3, 1, "T\nバックアップ中\n(33.33%)"},
        {1000, 0, "T\nバックアップ中\n(0.00%)"},
        {10, 10, "T"},
        {10, 11, "T"},
        {-5, 1, "T"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.total << "/" << c.done);
        EXPECT_EQ(MakeTrayTip("T", c.total, c.done), c.expected);
    }
}

}  // namespace
}  // namespace tessarine::tray
