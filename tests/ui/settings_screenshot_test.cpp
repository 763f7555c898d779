// The settings window, the device search and the credentials dialog at their default size: no
// control is squeezed below the size its text needs. With TESSARINE_SCREENSHOT_DIR set, each
// window is also saved there as a PNG, without a frame (docs/screenshots/ takes its share folder
// box from here; the other windows come with their frame from tests/e2e/windows_e2e.sh).
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QTest>

#include "ui/credentials_dialog.h"
#include "ui/search_host_dialog.h"
#include "ui/settings_test_support.h"
#include "ui/settings_window.h"
#include "ui/share_folder_dialog.h"

namespace tessarine::ui {
namespace {

using testing::SettingsFixture;

// A device share with "zereda" at the root and two folders in every folder below it.
class TwoFolders : public ShareFolderSource {
public:
    IoResult<std::vector<std::string>> ListFolders(const std::string& folder) override {
        if (folder.back() == '\\') return {{kDeviceShareName}, 0};
        return {{"backup", "import"}, 0};
    }
    ShareFolderOutcome ProbeFolder(const std::string&) override { return {}; }
    ShareFolderOutcome CreateFolder(const std::string&) override { return {}; }
};

// Buttons and labels narrower than their text would cut it off.
void ExpectNothingCut(QWidget& window, const char* name) {
    window.show();
    QApplication::processEvents();
    for (auto* w : window.findChildren<QWidget*>()) {
        if (!w->isVisible() || (!qobject_cast<QAbstractButton*>(w) && !qobject_cast<QLabel*>(w)))
            continue;
        if (auto* label = qobject_cast<QLabel*>(w); label != nullptr && label->wordWrap()) continue;
        EXPECT_GE(w->width(), w->minimumSizeHint().width())
            << name << " " << w->objectName().toStdString();
    }
}

void Save(QWidget& window, const char* file) {
    const QByteArray dir = qgetenv("TESSARINE_SCREENSHOT_DIR");
    if (dir.isEmpty()) return;
    window.grab().save(QString::fromUtf8(dir) + "/" + file);
}

TEST(SettingsScreenshotTest, WindowsShowEveryCaptionInFull) {
    SettingsFixture fx(3);
    fx.services_.search = [](std::vector<CSearchAgentResponse>& found, std::uint16_t) {
        found = {{"192.168.1.10", "", 80, 443, "", "DEV01", ""}};
        return 0;
    };
    CSettingDlg window(fx.services_);
    const char* pages[] = {"settings-common.png", "settings-backup.png", "settings-detect.png"};
    for (int i = 0; i < 3; ++i) {
        window.Tabs().setCurrentIndex(i);
        ExpectNothingCut(window, pages[i]);
        Save(window, pages[i]);
    }
    CSearchHostDlg search(fx.services_);
    ExpectNothingCut(search, "search");
    search.UpdateHosts();
    Save(search, "settings-search.png");
    CSelectUserDlg credentials(fx.services_);
    credentials.SetValues("admin", "secret", LoginRequest{});
    ExpectNothingCut(credentials, "credentials");
    Save(credentials, "settings-credentials.png");
    CShareFolderDlg browser(std::make_shared<TwoFolders>(), testing::kAddress, fx.strings_,
                            fx.messages_);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !browser.IsListing(); }, 5000));
    browser.OpenFolder(kDeviceShareName);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !browser.IsListing(); }, 5000));
    ExpectNothingCut(browser, "share folder");
    Save(browser, "settings-share-folder.png");
}

}  // namespace
}  // namespace tessarine::ui
