// Every control of the result window, the detail box, the pop-up and the version box can be
// found by a screen reader by what it says.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <memory>

#include "fakes/fake_detect_file_result_source.h"
#include "ui/about_dialog.h"
#include "ui/balloon_dialog.h"
#include "ui/result_detail_dialog.h"
#include "ui/result_dialog.h"
#include "ui/strings/lrc_reader_wrapper.h"

namespace tessarine::ui {
namespace {

// Controls a user reaches (buttons, fields, lists, tabs) without an accessible name.
QStringList Unnamed(QWidget& root) {
    QStringList unnamed;
    for (QWidget* w : root.findChildren<QWidget*>()) {
        const bool control = qobject_cast<QAbstractButton*>(w) || qobject_cast<QLineEdit*>(w) ||
                             qobject_cast<QPlainTextEdit*>(w) ||
                             (qobject_cast<QAbstractItemView*>(w) && w->parentWidget() != nullptr &&
                              !qobject_cast<QAbstractItemView*>(w->parentWidget())) ||
                             qobject_cast<QTabWidget*>(w);
        if (control && w->objectName().startsWith("ctl") && w->accessibleName().isEmpty()) {
            unnamed << w->objectName();
        }
    }
    return unnamed;
}

TEST(ResultAccessibilityTest, EveryControlHasAnAccessibleName) {
    testing::FakeDetectFileResultSource source;
    CLrcReaderWrapper strings("/nonexistent/none.lrc", [](std::uint32_t) { return true; });
    CDetectFileResult record{"id", "a.txt", "/data/a.txt", "20170301093005", {{"A", "x"}}};
    std::vector<std::pair<const char*, std::unique_ptr<QWidget>>> windows;
    windows.emplace_back("result", std::make_unique<CResultDlg>("/nonexistent/", source));
    windows.emplace_back("detail", std::make_unique<CDetectFileResultDetailDlg>(record, strings));
    windows.emplace_back("balloon", std::make_unique<CNotifyBalloonDlg>());
    windows.emplace_back("about", std::make_unique<CAboutDlg>("1.2.3"));
    for (auto& [name, window] : windows) {
        EXPECT_EQ(Unnamed(*window), QStringList()) << name;
        EXPECT_FALSE(window->accessibleName().isEmpty() && std::string(name) != "balloon") << name;
    }
}

TEST(ResultAccessibilityTest, VersionBoxShowsTheVersions) {
    CAboutDlg about("1.2.3");
    auto text = [&](unsigned id) {
        return about.findChild<QLabel*>(QStringLiteral("ctl%1").arg(id))->text();
    };
    EXPECT_EQ(about.windowTitle(), "バージョン情報");
    EXPECT_EQ(text(1002), "Version 1.2.3");
    EXPECT_EQ(text(1003), "Language 日本語 (1.0.0)");
    EXPECT_EQ(text(1000), "バックアップ＆指定ファイル検出ユーティリティ");
}

}  // namespace
}  // namespace tessarine::ui
