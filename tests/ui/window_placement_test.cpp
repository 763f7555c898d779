// Windows kept inside the free part of the screen, fixed dialogs, read-only looks, and the
// settings window's size against a laptop screen.
#include "ui/window_placement.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QLineEdit>
#include <QScreen>
#include <QTest>
#include <QVBoxLayout>

#include "ui/about_dialog.h"
#include "ui/settings_test_support.h"
#include "ui/settings_window.h"

namespace tessarine::ui {
namespace {

QRect Area() { return QGuiApplication::primaryScreen()->availableGeometry(); }

class WindowPlacementTest : public ::testing::Test {
protected:
    void SetUp() override { InstallWindowPlacement(*qApp); }
    // Shown, then the placement's queued step.
    static void ShowAndSettle(QWidget& window) {
        window.show();
        QTest::qWait(50);
    }
};

TEST_F(WindowPlacementTest, AWindowShownPartlyOffTheAreaIsMovedIn) {
    QDialog window;
    window.resize(300, 200);
    window.move(Area().right() - 100, Area().bottom() - 50);
    ShowAndSettle(window);
    EXPECT_TRUE(Area().contains(window.frameGeometry())) << window.frameGeometry().x();
    EXPECT_EQ(QSize(300, 200), window.size());
}

TEST_F(WindowPlacementTest, AWindowLargerThanTheAreaIsShrunkToIt) {
    QDialog window;
    window.resize(Area().width() + 200, Area().height() + 200);
    ShowAndSettle(window);
    EXPECT_TRUE(Area().contains(window.frameGeometry()));
}

TEST_F(WindowPlacementTest, ACornerWindowSitsInTheBottomRightCorner) {
    QDialog window;
    window.resize(200, 100);
    PlaceInCorner(window);
    ShowAndSettle(window);
    EXPECT_EQ(Area().bottomRight(), window.frameGeometry().bottomRight());
}

TEST_F(WindowPlacementTest, FixedDialogsOfferNoMaximise) {
    CAboutDlg about("1.0.0");
    EXPECT_FALSE(about.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_EQ(about.minimumSize(), about.maximumSize());
}

TEST_F(WindowPlacementTest, ReadOnlyFieldsAreDrawnOnTheWindowBackground) {
    QLineEdit edit;
    ShowAsReadOnly(edit);
    EXPECT_TRUE(edit.isReadOnly());
    EXPECT_EQ(edit.palette().color(QPalette::Window), edit.palette().color(QPalette::Base));
}

// 1366x768 less a 40 px panel and a title bar of up to 32 px: the settings window's smallest
// size must fit, every page with its buttons.
TEST_F(WindowPlacementTest, TheSettingsWindowFitsALaptopScreenLessItsPanel) {
    testing::SettingsFixture fixture(2);
    CSettingDlg window(fixture.services_);
    const QSize needed = window.minimumSizeHint();
    EXPECT_LE(needed.width(), 1366);
    EXPECT_LE(needed.height(), 768 - 40 - 32) << "needs " << needed.height();
}

}  // namespace
}  // namespace tessarine::ui
