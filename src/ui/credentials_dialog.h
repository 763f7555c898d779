// The device web login's user name and password, accepted only after a login test.
#pragma once
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>

#include "ui/settings_dialog_utility.h"
#include "ui/settings_services.h"

namespace tessarine::ui {

class CSelectUserDlg : public QDialog {
    Q_OBJECT
public:
    static constexpr int kMaxUserName = 32;
    static constexpr int kMaxPassword = 28;

    CSelectUserDlg(SettingsServices& services, QWidget* parent = nullptr);
    // The address, ports and SSL flag of `device` are used for the login test.
    void SetValues(const std::string& userName, const std::string& password,
                   const LoginRequest& device);
    std::string UserName() const { return userName_->text().toStdString(); }
    std::string Password() const { return password_->text().toStdString(); }

    void accept() override;

private:
    SettingsServices& services_;
    CDialogUtility utility_;
    LoginRequest device_;
    QLineEdit* userName_;
    QLineEdit* password_;
    QPushButton* ok_;
};

}  // namespace tessarine::ui
