// The detection page of the settings window: the pop-up option and the watch interval.
#pragma once
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QWidget>

#include "settings/setting_records.h"
#include "ui/settings_dialog_utility.h"
#include "ui/settings_services.h"

namespace tessarine::ui {

class CDetectFileSettingDlg : public QWidget {
    Q_OBJECT
public:
    CDetectFileSettingDlg(SettingsServices& services, QWidget* parent = nullptr);
    void LoadValues();
    // The interval check with messages, then the controls into the record.
    bool CheckForSave();
    CDetectFileSetting& Setting() { return setting_; }

signals:
    void okRequested();
    void closeRequested();

private:
    CDialogUtility utility_;
    CDetectFileSetting setting_;
    QCheckBox* notify_;
    QLineEdit* interval_;
};

}  // namespace tessarine::ui
