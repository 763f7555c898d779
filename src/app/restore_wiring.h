// Fills the restore window's services from the running application: its settings file and
// file list, its backup running flag, and the device share.
#pragma once
#include <QDialog>
#include <functional>

#include "ui/restore_window.h"
#include "ui/settings_dialog_utility.h"
#include "ui/strings/lrc_reader_wrapper.h"

namespace tessarine {
class CBackupUtilityApp;

class CRestoreWiring {
public:
    // `flagChanged` is told (on the UI thread) when the window took or gave back the flag.
    CRestoreWiring(CBackupUtilityApp& app, std::function<void()> flagChanged);
    // A new restore window (the tray keeps it).
    QDialog* MakeWindow();

private:
    ui::CLrcReaderWrapper strings_;
    ui::QtMessagePresenter messages_;
    ui::RestoreServices services_;
};

}  // namespace tessarine
