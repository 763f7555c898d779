// The common (device) page of the settings window: device address, ports, user, pop-up time.
#pragma once
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QWidget>
#include <functional>

#include "settings/setting_records.h"
#include "ui/settings_dialog_utility.h"
#include "ui/settings_services.h"

namespace tessarine::ui {

class CCommonSettingDlg : public QWidget {
    Q_OBJECT
public:
    CCommonSettingDlg(SettingsServices& services, QWidget* parent = nullptr);

    void LoadValues();
    // Copies the controls into the record.
    void ReadControls();
    // The OK check with messages, the device login test included (off the UI thread; the
    // `busy` callback disables OK meanwhile).
    bool CheckForSave(const std::function<void(bool busy)>& busy);
    // The address is a valid IPv4 text and the user name is not empty.
    bool IsComplete() const;

    CCommonSetting& Setting() { return setting_; }
    // The record with the controls as typed, saved or not (the record itself is not changed).
    CCommonSetting TypedSetting() const;
    QPushButton* OkButton() const { return ok_; }
    QPushButton* CloseButton() const { return close_; }

signals:
    void okRequested();
    void closeRequested();

private:
    void RefreshControlState();
    void OnManualToggled(bool manual);
    void OnAddressEdited();
    void OnSearchDevice();
    void OnSetUser();
    QLineEdit* MakeEdit(unsigned id);

    SettingsServices& services_;
    CDialogUtility utility_;
    CCommonSetting setting_;
    std::string addressFromSearch_;
    QCheckBox* manual_;
    QPushButton* searchButton_;
    QLineEdit* hostName_;
    QLineEdit* address_;
    QLineEdit* httpPort_;
    QLineEdit* httpsPort_;
    QCheckBox* useSsl_;
    QCheckBox* shortcut_;
    QLineEdit* userName_;
    QPushButton* userButton_;
    QLineEdit* popupTimeout_;
    QPushButton* ok_;
    QPushButton* close_;
    bool loading_ = false;
};

}  // namespace tessarine::ui
