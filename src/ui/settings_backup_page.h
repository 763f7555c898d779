// The backup page of the settings window: the schedule, the folder pairs and the options.
#pragma once
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeWidget>
#include <QWidget>
#include <array>

#include "settings/setting_records.h"
#include "ui/settings_dialog_utility.h"
#include "ui/settings_services.h"
#include "ui/share_folder_source.h"

namespace tessarine::ui {

class CBackupSettingDlg : public QWidget {
    Q_OBJECT
public:
    CBackupSettingDlg(SettingsServices& services, QWidget* parent = nullptr);

    void LoadValues();
    // Copies every control into the record.
    void ReadControls();
    bool IsComplete() const;
    // The record differs from the stored backup settings.
    bool IsChangedFromStore() const;
    CBackupSetting& Setting() { return setting_; }
    void RefreshBackupNow();

    // The pair commands, as the buttons run them.
    void OnAdd();
    void OnCopy();
    void OnDelete();
    void OnFileManagement();
    // Opens the restore window on the one ticked pair (else the current row).
    void OnRestore();
    // Gives the one ticked pair the patterns of the exclusion field.
    void OnSetExclusions();

    // Controls of the exclusion patterns (beside the dialog template's own).
    static constexpr unsigned kCtlExclusionsLabel = 1150;
    static constexpr unsigned kCtlExclusions = 1151;
    static constexpr unsigned kCtlSetExclusions = 1152;
    static constexpr unsigned kCtlExclusionsColumn = 1153;

    QPushButton* OkButton() const { return ok_; }
    // A new pair's destination is being looked at or made on the device.
    bool IsCheckingDestination() const { return deviceCalls_ > 0; }
    // Where 参照, 追加 and the prefilled destination take the device address and credentials
    // from: the common page as typed (set by the settings window); unset, the stored ones.
    void SetCommonSource(std::function<CCommonSetting()> source) {
        commonSource_ = std::move(source);
    }

signals:
    void okRequested();
    void closeRequested();

private:
    void RefreshControlState();
    void FillList();
    void PrefillDestination();
    std::vector<bool> TickedRows() const;
    // The one ticked row, or -1 after the warning for none or several.
    int SingleTickedRow();
    void Browse(QLineEdit* edit, bool destination);
    // Looks off the UI thread whether a new pair's destination is on the device (with the
    // common page's address and credentials as typed) and offers to make it when it is not.
    void CheckDestination(const std::string& destination, const CCommonSetting& common);
    void DestinationChecked(const std::shared_ptr<ShareFolderSource>& source,
                            const std::string& destination, const ShareFolderOutcome& outcome);
    void DestinationCreated(const std::string& destination, const ShareFolderOutcome& outcome);

    SettingsServices& services_;
    CDialogUtility utility_;
    CBackupSetting setting_;
    QCheckBox* schedule_;
    std::array<QRadioButton*, 4> kinds_{};
    QComboBox* dateDay_;
    QComboBox* dateHour_;
    QComboBox* dateMinute_;
    std::array<QCheckBox*, 7> weekdays_{};
    QComboBox* weekdayHour_;
    QComboBox* weekdayMinute_;
    QComboBox* hourHour_;
    QComboBox* hourMinute_;
    QComboBox* interval_;
    std::vector<QWidget*> kindControls_[4];
    QCheckBox* whenShutdown_;
    QCheckBox* whenStart_;
    QCheckBox* notify_;
    QCheckBox* deletedFiles_;
    QPushButton* backupNow_;
    QLineEdit* source_;
    QLineEdit* destination_;
    QLineEdit* exclusions_;
    QPushButton* add_;
    QTreeWidget* list_;
    QPushButton* ok_;
    bool loading_ = false;
    int deviceCalls_ = 0;  // checks and creations under way
    bool asking_ = false;  // a question about a destination is on screen
    std::function<CCommonSetting()> commonSource_;
    CCommonSetting CurrentCommon() const;
};

}  // namespace tessarine::ui
