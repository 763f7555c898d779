#include "ui/balloon_dialog.h"

#include <gtest/gtest.h>

#include <QEnterEvent>
#include <QGuiApplication>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>

#include "ui/strings/caption_apply.h"
#include "ui/strings/string_ids.h"

namespace tessarine::ui {
namespace {

using namespace std::chrono_literals;

QPushButton* Button(QWidget& root, unsigned id) {
    return root.findChild<QPushButton*>(ControlObjectName(id));
}

TEST(BalloonDialogTest, KindAndResultChooseTheText) {
    const struct {
        int kind;
        int result;
        const char* text;
    } cases[] = {
        {kBalloonBackupResult, 0, "バックアップ成功しました。"},
        {kBalloonBackupResult, 2, "バックアップ失敗しました。"},
        {kBalloonBackupResult, -1, "バックアップ失敗しました。"},
        {kBalloonDetectFileResult, 0, "指定ファイルが検出されました。"},
        {kBalloonDetectFileResult, 1, "指定ファイルが検出されました。"},
        {1200, 0, ""},
    };
    CNotifyBalloonDlg balloon;
    for (const auto& c : cases) {
        balloon.ShowRequest({static_cast<BalloonKind>(c.kind), c.result, 0});
        EXPECT_EQ(balloon.Text(), QString::fromUtf8(c.text)) << c.kind << "/" << c.result;
        EXPECT_TRUE(balloon.isVisible());
    }
    balloon.hide();
}

TEST(BalloonDialogTest, ClosesAfterItsTimeButZeroKeepsItOpen) {
    CNotifyBalloonDlg balloon(5ms);
    balloon.ShowRequest({kBalloonBackupResult, 1, 4});
    EXPECT_TRUE(balloon.IsCloseTimerActive());
    EXPECT_TRUE(QTest::qWaitFor([&] { return !balloon.isVisible(); }, 2000));

    balloon.ShowRequest({kBalloonBackupResult, 1, 0});
    EXPECT_FALSE(balloon.IsCloseTimerActive());
    QTest::qWait(60);
    EXPECT_TRUE(balloon.isVisible());
    // A new request while shown: same window, new text, timer started again.
    balloon.ShowRequest({kBalloonDetectFileResult, 0, 4});
    EXPECT_EQ(balloon.Text(), "指定ファイルが検出されました。");
    EXPECT_TRUE(balloon.IsCloseTimerActive());
    EXPECT_TRUE(QTest::qWaitFor([&] { return !balloon.isVisible(); }, 2000));
}

TEST(BalloonDialogTest, MouseOverStopsTheCloseTimer) {
    CNotifyBalloonDlg balloon(5ms);
    balloon.ShowRequest({kBalloonBackupResult, 0, 10});
    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
    QCoreApplication::sendEvent(&balloon, &enter);
    EXPECT_FALSE(balloon.IsCloseTimerActive());
    QTest::qWait(100);
    EXPECT_TRUE(balloon.isVisible());
    balloon.hide();
}

TEST(BalloonDialogTest, ResultAsksForTheTabOfItsKindAndCloses) {
    CNotifyBalloonDlg balloon;
    QSignalSpy asked(&balloon, &CNotifyBalloonDlg::ShowResultRequested);
    for (const int kind : {kBalloonDetectFileResult, kBalloonBackupResult}) {
        balloon.ShowRequest({static_cast<BalloonKind>(kind), 0, 30});
        Button(balloon, 1102)->click();
        EXPECT_FALSE(balloon.isVisible());
        EXPECT_FALSE(balloon.IsCloseTimerActive());
        ASSERT_FALSE(asked.isEmpty());
        EXPECT_EQ(asked.takeFirst().at(0).toInt(), kind);
    }
    balloon.ShowRequest({kBalloonBackupResult, 0, 30});
    Button(balloon, kCtlCancel)->click();
    EXPECT_FALSE(balloon.isVisible());
    EXPECT_FALSE(balloon.IsCloseTimerActive());
    EXPECT_TRUE(asked.isEmpty());
}

TEST(BalloonDialogTest, SitsInTheBottomRightCornerOfTheWorkArea) {
    CNotifyBalloonDlg balloon;
    balloon.ShowRequest({kBalloonBackupResult, 0, 0});
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    const QRect frame = balloon.frameGeometry();
    EXPECT_EQ(frame.right(), area.right());
    EXPECT_EQ(frame.bottom(), area.bottom());
    EXPECT_EQ(Button(balloon, 1102)->text(), "結果");
    EXPECT_EQ(Button(balloon, kCtlCancel)->text(), "閉じる");
    balloon.hide();
}

}  // namespace
}  // namespace tessarine::ui
