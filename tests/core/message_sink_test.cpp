#include "core/message_sink.h"

#include <gtest/gtest.h>

namespace tessarine {
namespace {

// The receivers (tray window, settings page, logs) know the messages by these numbers.
TEST(MessageSinkTest, EachMessageKeepsItsWindowMessageWords) {
    struct Case {
        Message message;
        int id;
        int wParam;
        long lParam;
    };
    const Case cases[] = {
        {BalloonRequest{kBalloonBackupResult, 1, 10}, 1124, 1125, 0},
        {BalloonRequest{kBalloonDetectFileResult, 0, 0}, 1124, 1126, 0},
        {RefreshBackupNow{}, 1134, 0, 0},
        {ShowResult{kBalloonDetectFileResult}, 1135, 0, 1126},
        {ShowResult{0}, 1135, 0, 0},
        {ExecuteStateChanged{}, 1136, 0, 0},
        {ShutdownBackupComplete{}, 1137, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.id);
        const MessageWords words = ToWords(c.message);
        EXPECT_EQ(words.id, c.id);
        EXPECT_EQ(words.wParam, c.wParam);
        EXPECT_EQ(words.lParam, c.lParam);
    }
    EXPECT_EQ(WM_TRAY_NOTIFY, 32778);
}

}  // namespace
}  // namespace tessarine
