#include "ui/credentials_dialog.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>

#include "ui/settings_background.h"
#include "ui/strings/caption_apply.h"
#include "ui/strings/lrc_reader_wrapper.h"
#include "ui/strings/string_ids.h"
#include "ui/window_placement.h"

namespace tessarine::ui {

CSelectUserDlg::CSelectUserDlg(SettingsServices& services, QWidget* parent)
    : QDialog(parent), services_(services), utility_(*this, *services.strings, *services.messages) {
    setObjectName(ControlObjectName(kDlgSelectUser));
    setWindowTitle(
        QString::fromStdString(services.strings->Caption(kDlgSelectUser, kDlgSelectUser)));
    userName_ = new QLineEdit(this);
    userName_->setObjectName(ControlObjectName(1018));
    userName_->setMaxLength(kMaxUserName);
    password_ = new QLineEdit(this);
    password_->setObjectName(ControlObjectName(1073));
    password_->setMaxLength(kMaxPassword);
    password_->setEchoMode(QLineEdit::Password);
    auto* userLabel = new QLabel(this);
    userLabel->setObjectName(ControlObjectName(1019));
    userLabel->setBuddy(userName_);
    auto* passwordLabel = new QLabel(this);
    passwordLabel->setObjectName(ControlObjectName(1072));
    passwordLabel->setBuddy(password_);
    ok_ = new QPushButton(this);
    ok_->setObjectName(ControlObjectName(kCtlOk));
    ok_->setDefault(true);
    auto* cancel = new QPushButton(this);
    cancel->setObjectName(ControlObjectName(kCtlCancel));

    auto* grid = new QGridLayout(this);
    grid->addWidget(userLabel, 0, 0);
    grid->addWidget(userName_, 0, 1);
    grid->addWidget(ok_, 0, 2);
    grid->addWidget(passwordLabel, 1, 0);
    grid->addWidget(password_, 1, 1);
    grid->addWidget(cancel, 1, 2);
    userName_->setMinimumWidth(200);

    ApplyCaptions(*this, kDlgSelectUser, *services.strings);
    if (ok_->text().isEmpty()) ok_->setText(QStringLiteral("OK"));
    MakeFixedSize(*this);
    connect(ok_, &QPushButton::clicked, this, &CSelectUserDlg::accept);
    connect(cancel, &QPushButton::clicked, this, &CSelectUserDlg::reject);
    userName_->setFocus();
}

void CSelectUserDlg::SetValues(const std::string& userName, const std::string& password,
                               const LoginRequest& device) {
    userName_->setText(QString::fromStdString(userName));
    password_->setText(QString::fromStdString(password));
    device_ = device;
}

void CSelectUserDlg::accept() {
    if (userName_->text().isEmpty()) {
        utility_.ShowWarningText(FillMessage(services_.strings->Text(kStrEnterValue),
                                             services_.strings->Text(kStrFieldUserName)));
        return;
    }
    LoginRequest request = device_;
    request.userName = UserName();
    request.password = Password();
    ok_->setEnabled(false);
    auto login = services_.login;
    const auto answer =
        RunInBackground<int>([login, request] { return login ? login(request) : -1; });
    if (!answer) return;  // the program is quitting
    const int result = *answer;
    ok_->setEnabled(true);
    if (result == 0) {
        QDialog::accept();
        return;
    }
    utility_.ShowWarning(result == -2 ? kStrLoginFailed : kStrConnectError);
}

}  // namespace tessarine::ui
