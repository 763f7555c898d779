#include "app/tray_startup.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QApplication>
#include <QMessageBox>
#include <atomic>

#include "app/backup_utility_app.h"
#include "base/app_log.h"
#include "fakes/fake_clock.h"
#include "fakes/test_support.h"
#include "platform/app_paths.h"
#include "platform/system_info.h"
#include "tray/backup_utility_app_tray_wnd.h"
#include "tray/qt_message_sink.h"

namespace tessarine {
namespace {

using testing::ReadFile;
using testing::ScopedEnv;
using testing::TempDir;

// A worker that only counts that it was made.
class IdleWorker : public CThreadCommon {
protected:
    int ThreadCore() override { return 0; }
};

class TrayStartupTest : public ::testing::Test {
protected:
    TrayStartupTest() {
        mkdir(temp_.Sub("profile").c_str(), 0755);
        mkdir(temp_.Sub("run").c_str(), 0700);
    }
    ~TrayStartupTest() override { CAppLog::Get().Reset(); }

    std::string LogText() const {
        return ReadFile(temp_.Sub("profile/corvane/Tessarine Tool/log/") + GetExecutableTitle() +
                        ".log");
    }
    // The three databases, the second failing when `detectionFails`; workers in every slot.
    void Configure(CBackupUtilityApp& app, bool detectionFails) {
        app.AddDatabaseInitializer([] { return 0; }, "Initialize Backup Table Error.");
        app.AddDatabaseInitializer([detectionFails] { return detectionFails ? 4 : 0; },
                                   "Initialize Detect File Table Error.");
        app.AddDatabaseInitializer([] { return 0; }, "Initialize Detect File Result Table Error.");
        for (const auto slot :
             {CBackupUtilityApp::kBackupSchedule, CBackupUtilityApp::kDetectFileSchedule,
              CBackupUtilityApp::kDetectFileResultCheck}) {
            app.SetWorkerFactory(slot, [this](Platform&) -> WorkerPtr<CThreadCommon> {
                ++workersMade_;
                return MakeWorker<IdleWorker>();
            });
        }
    }

    TempDir temp_;
    ScopedEnv profileEnv_{"ALLUSERSPROFILE", temp_.Sub("profile")};
    ScopedEnv runtimeEnv_{"XDG_RUNTIME_DIR", temp_.Sub("run")};
    testing::FakeClock clock_;
    tray::CQtMessageSink sink_;
    std::atomic<int> workersMade_{0};
};

// The detection database failing ends start-up before any worker or tray.
TEST_F(TrayStartupTest, DetectionDatabaseFailureLeavesNoWorkerAndNoTray) {
    CBackupUtilityApp app(clock_, DefaultSystemInfo(), sink_);
    Configure(app, /*detectionFails=*/true);
    CTrayStartup startup(
        app, sink_, [] {}, /*useLogind=*/false);

    EXPECT_FALSE(app.InitInstance());
    EXPECT_EQ(app.StartupFailureReason(), StartupFailure::kDatabase);
    EXPECT_EQ(startup.Tray(), nullptr);
    EXPECT_EQ(workersMade_.load(), 0);
    for (const auto slot :
         {CBackupUtilityApp::kBackupSchedule, CBackupUtilityApp::kDetectFileSchedule,
          CBackupUtilityApp::kDetectFileResultCheck}) {
        EXPECT_EQ(app.Worker(slot), nullptr);
    }
    EXPECT_NE(LogText().find("Initialize Detect File Table Error."), std::string::npos);
    EXPECT_EQ(app.ExitInstance(), 0);
}

// The offscreen platform has no tray host: one message box, one log line, and the program
// runs on with its workers and its tray window (reachable through --show).
TEST_F(TrayStartupTest, WithoutATrayHostTheProgramWarnsOnceAndKeepsRunning) {
    ASSERT_FALSE(QSystemTrayIcon::isSystemTrayAvailable());
    CBackupUtilityApp app(clock_, DefaultSystemInfo(), sink_);
    Configure(app, /*detectionFails=*/false);
    CTrayStartup startup(
        app, sink_, [] {}, /*useLogind=*/false);

    ASSERT_TRUE(app.InitInstance());
    ASSERT_NE(startup.Tray(), nullptr);
    EXPECT_TRUE(startup.WarnedNoTrayHost());
    EXPECT_EQ(workersMade_.load(), 3);
    int boxes = 0;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->objectName() == QStringLiteral("noTrayHost") && widget->isVisible()) ++boxes;
    }
    EXPECT_EQ(boxes, 1);
    EXPECT_NE(LogText().find("System Tray Not Available."), std::string::npos);

    // Messages now reach the tray window.
    sink_.Post(ShowResult{kBalloonDetectFileResult});
    QCoreApplication::processEvents();
    ASSERT_NE(startup.Tray()->Windows().ResultWindow(), nullptr);
    EXPECT_EQ(startup.Tray()->Windows().ResultTab(), 1);
    // Every window carries the program's icon; Qt's own texts are Japanese.
    EXPECT_FALSE(startup.Tray()->Windows().ResultWindow()->windowIcon().isNull());
    EXPECT_TRUE(QCoreApplication::translate("QPlatformTheme", "&Yes").startsWith("はい"))
        << "Qt's Japanese translation (qt6-translations-l10n) is not loaded";

    startup.DestroyTray();
    EXPECT_EQ(app.ExitInstance(), 0);
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->objectName() == QStringLiteral("noTrayHost")) widget->close();
    }
    QCoreApplication::processEvents();
}

// A panel that starts after the program: the warning goes away by itself once a tray host is
// there.
TEST_F(TrayStartupTest, WarningClosesItselfWhenATrayHostAppears) {
    CBackupUtilityApp app(clock_, DefaultSystemInfo(), sink_);
    Configure(app, /*detectionFails=*/false);
    CTrayStartup startup(
        app, sink_, [] {}, /*useLogind=*/false);
    bool hostThere = false;
    startup.SetTrayHostCheck([&] { return hostThere; });
    ASSERT_TRUE(app.InitInstance());
    auto visibleBoxes = [] {
        int boxes = 0;
        for (QWidget* widget : QApplication::topLevelWidgets())
            if (widget->objectName() == QStringLiteral("noTrayHost") && widget->isVisible())
                ++boxes;
        return boxes;
    };
    EXPECT_EQ(visibleBoxes(), 1);
    EXPECT_FALSE(startup.CheckTrayHost());
    EXPECT_EQ(visibleBoxes(), 1);

    hostThere = true;
    EXPECT_TRUE(startup.CheckTrayHost());
    QCoreApplication::processEvents();
    EXPECT_EQ(visibleBoxes(), 0);
    EXPECT_NE(LogText().find("System Tray Available Now."), std::string::npos);

    startup.DestroyTray();
    EXPECT_EQ(app.ExitInstance(), 0);
}

}  // namespace
}  // namespace tessarine
