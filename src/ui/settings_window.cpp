#include "ui/settings_window.h"

#include <QCloseEvent>
#include <QVBoxLayout>
#include <filesystem>
#include <fstream>

#include "backup/backup_sql_utility.h"
#include "base/app_log.h"
#include "core/event_names.h"
#include "ui/dialog_keys.h"
#include "ui/strings/caption_apply.h"
#include "ui/strings/lrc_reader_wrapper.h"
#include "ui/strings/string_ids.h"

namespace tessarine::ui {
namespace {

// Holds a worker's running flag for the length of a save, so that no run starts between the
// decision to save and the end of the database change. False when the worker already runs.
class RunningFlagClaim {
public:
    explicit RunningFlagClaim(std::atomic<int>* flag) : flag_(flag) {
        int idle = 0;
        claimed_ = flag_ == nullptr || flag_->compare_exchange_strong(idle, 1);
    }
    ~RunningFlagClaim() {
        if (claimed_ && flag_ != nullptr) flag_->store(0);
    }
    RunningFlagClaim(const RunningFlagClaim&) = delete;
    RunningFlagClaim& operator=(const RunningFlagClaim&) = delete;
    bool Claimed() const { return claimed_; }

private:
    std::atomic<int>* flag_;
    bool claimed_ = false;
};

}  // namespace

CSettingDlg::CSettingDlg(SettingsServices& services, QWidget* parent)
    : QDialog(parent), services_(services), utility_(*this, *services.strings, *services.messages) {
    LOG_TRACE("Start Setting Dialog");
    const CLrcReaderWrapper& strings = *services.strings;
    setObjectName(QStringLiteral("settings"));
    setWindowTitle(QString::fromStdString(strings.Text(kStrSettingTitle)));
    setAccessibleName(windowTitle());
    tabs_ = new QTabWidget(this);
    tabs_->setObjectName(ControlObjectName(1084));
    common_ = new CCommonSettingDlg(services, tabs_);
    backup_ = new CBackupSettingDlg(services, tabs_);
    backup_->SetCommonSource([this] { return common_->TypedSetting(); });
    detect_ = new CDetectFileSettingDlg(services, tabs_);
    tabs_->addTab(common_,
                  QString::fromStdString(strings.Caption(kDlgCommonSetting, kDlgCommonSetting)));
    tabs_->addTab(backup_,
                  QString::fromStdString(strings.Caption(kDlgBackupSetting, kDlgBackupSetting)));
    tabs_->addTab(detect_, QString::fromStdString(
                               strings.Caption(kDlgDetectFileSetting, kDlgDetectFileSetting)));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tabs_);
    for (QWidget* page : {static_cast<QWidget*>(common_), static_cast<QWidget*>(backup_),
                          static_cast<QWidget*>(detect_)})
        TabInLayoutOrder(*page);
    connect(tabs_, &QTabWidget::currentChanged, this, &CSettingDlg::OnTabChanged);
    FollowPageDefaultButtons(*tabs_, ControlObjectName(kCtlOk));
    connect(common_, &CCommonSettingDlg::okRequested, this, &CSettingDlg::accept);
    connect(backup_, &CBackupSettingDlg::okRequested, this, &CSettingDlg::accept);
    connect(detect_, &CDetectFileSettingDlg::okRequested, this, &CSettingDlg::accept);
    connect(common_, &CCommonSettingDlg::closeRequested, this, &CSettingDlg::reject);
    connect(detect_, &CDetectFileSettingDlg::closeRequested, this, &CSettingDlg::reject);
    connect(backup_, &CBackupSettingDlg::closeRequested, this, [this] {
        backup_->ReadControls();
        if (backup_->IsChangedFromStore() && !utility_.AskDiscardBackupChanges()) return;
        reject();
    });
}

void CSettingDlg::OnTabChanged(int index) {
    if (revertingTab_) return;
    const int previous = shownPage_;
    common_->ReadControls();
    backup_->ReadControls();
    bool allowed = true;
    if (previous == 0 && !common_->IsComplete()) {
        allowed = false;
        utility_.ShowWarning(kStrCommonSettingIncomplete);
    } else if (previous == 1) {
        if (!backup_->IsComplete()) {
            allowed = false;
            utility_.ShowWarning(kStrBackupSettingIncomplete);
        } else if (backup_->IsChangedFromStore()) {
            if (utility_.AskDiscardBackupChanges())
                backup_->LoadValues();
            else
                allowed = false;
        }
    }
    if (!allowed) {
        revertingTab_ = true;
        tabs_->setCurrentIndex(previous);
        revertingTab_ = false;
        return;
    }
    shownPage_ = index;
}

void CSettingDlg::SetBusy(bool busy) {
    common_->OkButton()->setEnabled(!busy && common_->IsComplete());
    backup_->OkButton()->setEnabled(!busy && backup_->IsComplete());
    tabs_->setEnabled(!busy);
}

bool CSettingDlg::Save() {
    if (!common_->CheckForSave([this](bool busy) { SetBusy(busy); }) || !detect_->CheckForSave()) {
        LOG_ERROR("Save Setting Error");
        return false;
    }
    CCommonSetting& common = common_->Setting();
    unsigned refusal = 0;
    {
        // The refusal and the database change happen under the claimed flags: a run that
        // starts after the check would otherwise work on pairs that are being renumbered. The
        // flags are given back before any message waits for the user.
        RunningFlagClaim backupClaim(services_.backupExecuting);
        RunningFlagClaim forwardingClaim(backupClaim.Claimed() ? services_.detectFileExecuting
                                                               : nullptr);
        if (!backupClaim.Claimed()) {
            refusal = kStrBusyBackup;
        } else if (!forwardingClaim.Claimed()) {
            refusal = kStrBusyForwarding;
        } else {
            CCommonSetting stored(services_.store);
            stored.Load();
            const bool newDevice = common.ipv4Address != stored.ipv4Address;
            if (newDevice ? ClearBackupSetting() : UpdateBackupSetting()) {
                common.Save();
                if (newDevice) backup_->LoadValues();
                CDetectFileSetting detect = detect_->Setting();
                detect.Save();
            } else {
                refusal = kStrSaveFailed;
            }
        }
    }
    if (refusal != 0) {
        utility_.ShowWarning(refusal);
        return false;
    }
    // Loading the page while the flag was claimed turned "今すぐバックアップする" off.
    backup_->RefreshBackupNow();
    if (services_.signalEvent) {
        services_.signalEvent(kEventBackupSettingChanged);
        services_.signalEvent(kEventDetectFileSettingChanged);
    }
    if (common.isCreateShortcutToHost) CreateDesktopLink(common.ipv4Address);
    services_.messages->Information(
        this, QString::fromStdString(services_.strings->Text(kStrSettingTitle)),
        QString::fromStdString(services_.strings->Text(kStrSaved)));
    return true;
}

bool CSettingDlg::ClearBackupSetting() {
    CBackupSetting& setting = backup_->Setting();
    backup_->ReadControls();
    setting.folderPairs = BackupFolderPairs{};
    std::vector<BackupSettingChange> removals;
    for (int i = 0; i < kBackupFolderPairCount; ++i)
        removals.push_back({BackupSettingChange::Kind::kRemoval, i});
    CBackupSQLUtility fileList(services_.backupDatabasePath);
    if (!ApplyBackupSettingChanges(fileList, removals)) {
        LOG_ERROR("CSettingDlg::ClearBackupSetting: the file list could not be cleared");
        return false;
    }
    return setting.Save() == 0;
}

bool CSettingDlg::UpdateBackupSetting() {
    CBackupSetting& setting = backup_->Setting();
    backup_->ReadControls();
    CBackupSetting stored(services_.store);
    stored.Load();
    const auto changes = ComputeBackupSettingChanges(stored.folderPairs, setting.folderPairs);
    if (!changes.empty()) {
        CBackupSQLUtility fileList(services_.backupDatabasePath);
        if (!ApplyBackupSettingChanges(fileList, changes)) {
            LOG_ERROR("CSettingDlg::UpdateBackupSetting: the file list could not be changed");
            return false;
        }
    }
    return setting.Save() == 0;
}

void CSettingDlg::CreateDesktopLink(const std::string& address) {
    if (services_.desktopFolder.empty()) return;
    const std::filesystem::path link =
        std::filesystem::path(services_.desktopFolder) / kDesktopLinkName;
    std::error_code error;
    if (std::filesystem::exists(link, error)) return;
    // A new account may have no desktop folder yet; the user asked for a link on it.
    std::filesystem::create_directories(services_.desktopFolder, error);
    std::ofstream out(link);
    out << "[Desktop Entry]\nType=Link\nName=Tessarine\nIcon=tessarine-tool\nURL=http://" << address
        << "/\n";
    if (!out) LOG_ERROR("Desktop link could not be written: " + link.string());
}

void CSettingDlg::reject() {
    common_->LoadValues();
    backup_->LoadValues();
    detect_->LoadValues();
    hide();
    setResult(QDialog::Rejected);
}

void CSettingDlg::closeEvent(QCloseEvent* event) {
    if (tabs_->currentIndex() == 1) {
        backup_->ReadControls();
        if (backup_->IsChangedFromStore()) {
            if (!utility_.AskDiscardBackupChanges()) {
                event->ignore();
                return;
            }
            backup_->LoadValues();
        }
    }
    event->accept();
    hide();
}

}  // namespace tessarine::ui
