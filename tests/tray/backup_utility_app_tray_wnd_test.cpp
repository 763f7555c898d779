#include "tray/backup_utility_app_tray_wnd.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <thread>

#include "backup/backup_xml_utility.h"
#include "base/time_utility.h"
#include "core/event_names.h"
#include "fakes/test_support.h"
#include "platform/named_events.h"
#include "settings/profile_store.h"
#include "settings/setting_records.h"
#include "tray/qt_message_sink.h"
#include "ui/strings/caption_apply.h"
#include "ui/strings/string_ids.h"

namespace tessarine::tray {
namespace {

// Runs the UI thread's queued work until `done` holds or a second passes.
template <typename Predicate>
bool ProcessEventsUntil(Predicate done) {
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < 1000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return done();
}

class TrayWndTest : public ::testing::Test {
protected:
    TrayWndTest()
        : store_(dir_.Sub("TessarineTool.msf")),
          icons_(LoadTrayIcons()),
          tray_(TrayState{backupExecuting_, detectFileExecuting_, progress_}, icons_,
                TrayServices{.events = events_,
                             .profileStore = &store_,
                             .browser = nullptr,
                             .exitProgram = [this] { ++exitRequests_; },
                             .useLogind = false,
                             .backupFolderPath = dir_.Path() + "/",
                             .detectFileResults = nullptr,
                             .programVersion = "1.0.0"}) {
        shutdownEvent_ = events_.Create(std::string(kEventBackupWindowsShutDown));
        tray_.Create();
    }

    void SetBackupWhenShutdown(bool on) {
        CBackupSetting setting(&store_);
        setting.Load();
        setting.isBackupWhenShutdown = on;
        ASSERT_EQ(setting.Save(), 0);
    }
    // How many times "BackupWindowsShutDown" was signalled since the last call (0 or 1: the
    // event is auto-reset).
    bool TakeShutdownSignal() { return events_.WaitAny({shutdownEvent_}, 0) == 0; }
    qint64 IconKey() { return tray_.TrayIcon().icon().cacheKey(); }
    QString Tip() { return tray_.TrayIcon().toolTip(); }

    testing::TempDir dir_;
    CProfileStore store_;
    NamedEvents events_;
    EventHandle shutdownEvent_;
    std::atomic<int> backupExecuting_{0};
    std::atomic<int> detectFileExecuting_{0};
    BackupProgress progress_;
    TrayIcons icons_;
    int exitRequests_ = 0;
    CBackupUtilityAppTrayWnd tray_;
};

TEST_F(TrayWndTest, IconsAreThereAndDistinct) {
    EXPECT_FALSE(icons_.normal.isNull());
    EXPECT_FALSE(icons_.busy.isNull());
    for (const QIcon& frame : icons_.frames) {
        EXPECT_FALSE(frame.isNull());
        EXPECT_NE(frame.cacheKey(), icons_.busy.cacheKey());
    }
}

// Busy while either flag is set, the tip shows counting and then the percentage, and the
// normal icon and tip come back when both flags clear.
TEST_F(TrayWndTest, BusyIconAnimationAndProgressTip) {
    const QString title = QStringLiteral("バックアップ＆指定ファイル検出ユーティリティ");
    EXPECT_EQ(IconKey(), icons_.normal.cacheKey());
    const QString idle = title + QStringLiteral("\n次回のバックアップ：予定なし");
    EXPECT_EQ(Tip(), idle);
    EXPECT_FALSE(tray_.IsAnimating());

    backupExecuting_ = 1;
    progress_.totalCount = -1;
    tray_.HandleMessage(ExecuteStateChanged{});
    EXPECT_EQ(IconKey(), icons_.busy.cacheKey());
    EXPECT_TRUE(tray_.IsAnimating());
    tray_.AnimationStep();
    EXPECT_EQ(IconKey(), icons_.frames[0].cacheKey());
    EXPECT_EQ(Tip(), title + QStringLiteral("\nバックアップ中\n計算中"));

    progress_.totalCount = 200;
    progress_.doneCount = 85;
    tray_.AnimationStep();
    EXPECT_EQ(IconKey(), icons_.frames[1].cacheKey());
    EXPECT_EQ(Tip(), title + QStringLiteral("\nバックアップ中\n(42.50%)"));
    for (int n = 0; n < 11; ++n) tray_.AnimationStep();
    EXPECT_EQ(tray_.Frame(), 0);  // twelve frames, then round again

    // A forwarding run overlaps: the backup ending keeps the icon busy.
    detectFileExecuting_ = 1;
    backupExecuting_ = 0;
    tray_.HandleMessage(ExecuteStateChanged{});
    EXPECT_TRUE(tray_.IsAnimating());
    EXPECT_EQ(IconKey(), icons_.busy.cacheKey());

    detectFileExecuting_ = 0;
    tray_.HandleMessage(ExecuteStateChanged{});
    EXPECT_FALSE(tray_.IsAnimating());
    EXPECT_EQ(IconKey(), icons_.normal.cacheKey());
    EXPECT_EQ(Tip(), idle);
}

// Between runs the tip tells how the last one ended and when the next one is due.
TEST_F(TrayWndTest, IdleTipShowsTheLastAndTheNextRun) {
    CBackupXMLUtility writer(dir_.Path() + "/", DefaultSystemInfo());
    std::time_t end = 0;
    std::time_t next = 0;
    ASSERT_TRUE(MakeLocalTime(2026, 12, 11, 3, 52, 10, end));
    ASSERT_TRUE(MakeLocalTime(2026, 12, 12, 3, 0, 0, next));
    writer.CreateClientResultFile(end - 130, end, 2);
    BackupErrorList list;
    for (int i = 0; i < 3; ++i) list.AddSuccess();
    list.AddFailure("/a", FailureReason::kCaseClash, "A");
    writer.CreateDetailResultFile(list);
    progress_.nextRunTime = next;

    tray_.HandleMessage(ExecuteStateChanged{});

    EXPECT_EQ(Tip(), QStringLiteral("バックアップ＆指定ファイル検出ユーティリティ\n"
                                    "前回のバックアップ：2026/12/11 03:52 ファイルアクセスエラー"
                                    "（1 件失敗）\n次回のバックアップ：2026/12/12 03:00"));
}

// The timer itself turns the icon back when the flags clear before the message arrives.
TEST_F(TrayWndTest, TheAnimationEndsByItselfWhenTheFlagsClear) {
    backupExecuting_ = 1;
    tray_.NotifyIcon();
    ASSERT_TRUE(ProcessEventsUntil([&] { return tray_.Frame() >= 1; }));
    backupExecuting_ = 0;
    ASSERT_TRUE(ProcessEventsUntil([&] { return !tray_.IsAnimating(); }));
    EXPECT_EQ(IconKey(), icons_.normal.cacheKey());
}

// A message posted on a worker thread reaches the window on the UI thread.
TEST_F(TrayWndTest, MessagesFromWorkersArriveOnTheUiThread) {
    CQtMessageSink sink;
    sink.SetHandler([this](const Message& message) { tray_.HandleMessage(message); });
    backupExecuting_ = 1;
    std::thread worker([&sink] {
        sink.Post(ExecuteStateChanged{});
        sink.Post(BalloonRequest{kBalloonBackupResult, 1, 10});
    });
    worker.join();
    EXPECT_FALSE(tray_.IsAnimating());  // nothing happens off the UI thread
    ASSERT_TRUE(ProcessEventsUntil([&] { return tray_.Windows().BalloonWindow() != nullptr; }));
    EXPECT_TRUE(tray_.IsAnimating());
    EXPECT_TRUE(tray_.Windows().BalloonWindow()->isVisible());
    EXPECT_EQ(tray_.Windows().BalloonWindow()->accessibleName(),
              QStringLiteral("バックアップ失敗しました。"));
    backupExecuting_ = 0;
}

// Seven commands in menu order with their access keys.
TEST_F(TrayWndTest, MenuOfSevenCommands) {
    QList<QAction*> actions = tray_.Menu().actions();
    ASSERT_EQ(actions.size(), 7);
    const char* texts[] = {"設定（&S）", "結果（&R）",    "今すぐバックアップ（&B）",
                           "復元（&O）", "ログイン（&L)", "バージョン（&A)",
                           "終了（&E)"};
    for (int i = 0; i < 7; ++i) EXPECT_EQ(actions[i]->text(), QString::fromUtf8(texts[i]));
    EventHandle backupNow = events_.Create(std::string(kEventBackupNow));
    actions[2]->trigger();
    EXPECT_EQ(events_.WaitAny({backupNow}, 0), 0u);
    actions[3]->trigger();  // no restore window made yet: nothing opens
    EXPECT_EQ(tray_.Windows().RestoreWindow(), nullptr);
    tray_.Windows().SetRestoreWindowFactory([] { return new QDialog; });
    actions[3]->trigger();
    ASSERT_NE(tray_.Windows().RestoreWindow(), nullptr);
    EXPECT_TRUE(tray_.Windows().RestoreWindow()->isVisible());
    actions.removeAt(3);
    actions.removeAt(2);

    actions[0]->trigger();
    ASSERT_NE(tray_.Windows().SettingsWindow(), nullptr);
    EXPECT_TRUE(tray_.Windows().SettingsWindow()->isVisible());
    actions[3]->trigger();
    ASSERT_NE(tray_.Windows().VersionWindow(), nullptr);
    EXPECT_TRUE(tray_.Windows().VersionWindow()->isVisible());
    actions[2]->trigger();  // no address, no user: nothing opens
    EXPECT_EQ(exitRequests_, 0);
    actions[4]->trigger();
    EXPECT_EQ(exitRequests_, 1);
}

// A run that ends while the result window is open shows in it at once.
TEST_F(TrayWndTest, OpenResultWindowShowsARunThatEndsMeanwhile) {
    tray_.OnCommand(ui::kCmdResult);
    QDialog* window = tray_.Windows().ResultWindow();
    ASSERT_NE(window, nullptr);
    auto* processed = window->findChild<QLineEdit*>(ui::ControlObjectName(1109));
    ASSERT_NE(processed, nullptr);
    EXPECT_EQ(processed->text(), "0");
    BackupErrorList list;
    list.AddSuccess();
    list.AddFailure("/a", FailureReason::kPermissionDenied);
    CBackupXMLUtility(dir_.Path() + "/", DefaultSystemInfo()).CreateDetailResultFile(list);

    tray_.HandleMessage(RefreshBackupNow{});

    EXPECT_EQ(processed->text(), "2");
}

TEST_F(TrayWndTest, ResultWindowOpensOnceAndOnTheRequestedTab) {
    tray_.OnCommand(ui::kCmdResult);
    QDialog* window = tray_.Windows().ResultWindow();
    ASSERT_NE(window, nullptr);
    tray_.HandleMessage(ShowResult{kBalloonDetectFileResult});
    EXPECT_EQ(tray_.Windows().ResultWindow(), window);
    EXPECT_EQ(tray_.Windows().ResultTab(), 1);
    tray_.HandleMessage(ShowResult{0});  // no tab named: the tab stays
    EXPECT_EQ(tray_.Windows().ResultTab(), 1);
    tray_.HandleMessage(ShowResult{kBalloonBackupResult});
    EXPECT_EQ(tray_.Windows().ResultTab(), 0);
}

TEST_F(TrayWndTest, SessionEndWithTheBackupBeforeShutdownOff) {
    SetBackupWhenShutdown(false);
    EXPECT_TRUE(tray_.OnQueryEndSession());
    EXPECT_FALSE(TakeShutdownSignal());
}

TEST_F(TrayWndTest, OnlyAnEndingSessionEndsTheProgram) {
    tray_.OnEndSession(false);
    EXPECT_EQ(0, exitRequests_);
    tray_.OnEndSession(true);
    EXPECT_EQ(1, exitRequests_);
}

// The first query hides the windows, starts the backup and refuses; a second query during the
// backup refuses without a second start; after the backup the next query starts again.
TEST_F(TrayWndTest, SessionEndWithTheBackupBeforeShutdownOn) {
    SetBackupWhenShutdown(true);
    tray_.OnCommand(ui::kCmdSetting);
    ASSERT_TRUE(tray_.Windows().SettingsWindow()->isVisible());

    EXPECT_FALSE(tray_.OnQueryEndSession());
    EXPECT_TRUE(TakeShutdownSignal());
    EXPECT_FALSE(tray_.Windows().SettingsWindow()->isVisible());
    EXPECT_TRUE(tray_.SessionGuard().IsShutdownBackupRunning());

    EXPECT_FALSE(tray_.OnQueryEndSession());
    EXPECT_FALSE(TakeShutdownSignal());

    tray_.HandleMessage(ShutdownBackupComplete{});
    EXPECT_FALSE(tray_.SessionGuard().IsShutdownBackupRunning());
    EXPECT_FALSE(tray_.OnQueryEndSession());
    EXPECT_TRUE(TakeShutdownSignal());
}

// "TessarineTool --show …" signals these events through the control socket.
TEST_F(TrayWndTest, ShowEventsOpenTheirWindows) {
    ASSERT_TRUE(events_.Signal(kEventShowResults));
    ASSERT_TRUE(ProcessEventsUntil([&] { return tray_.Windows().ResultWindow() != nullptr; }));
    EXPECT_TRUE(tray_.Windows().ResultWindow()->isVisible());
    ASSERT_TRUE(events_.Signal(kEventShowVersion));
    ASSERT_TRUE(ProcessEventsUntil([&] { return tray_.Windows().VersionWindow() != nullptr; }));
    ASSERT_TRUE(events_.Signal(kEventShowSettings));
    ASSERT_TRUE(ProcessEventsUntil([&] { return tray_.Windows().SettingsWindow() != nullptr; }));
}

}  // namespace
}  // namespace tessarine::tray
