// Fills the settings window's services from the running application: its settings file, file
// list, running flags and events, and the real device calls.
#pragma once
#include <QDialog>
#include <memory>

#include "network/browser_utility.h"
#include "network/network_adapters.h"
#include "ui/settings_dialog_utility.h"
#include "ui/settings_services.h"
#include "ui/strings/lrc_reader_wrapper.h"

namespace tessarine {
class CBackupUtilityApp;

class CSettingsWiring {
public:
    CSettingsWiring(CBackupUtilityApp& app, CBrowserUtility& browser);
    // A new settings window (the tray keeps it).
    QDialog* MakeWindow();
    // What the backup page's "復元" does.
    void SetOpenRestore(std::function<void(int pair)> open) {
        services_.openRestore = std::move(open);
    }

private:
    ui::CLrcReaderWrapper strings_;
    ui::QtMessagePresenter messages_;
    ui::SettingsServices services_;
};

// The XDG desktop folder: $XDG_DESKTOP_DIR from user-dirs.dirs, else ~/Desktop.
std::string DesktopFolderPath();

}  // namespace tessarine
