#include "ui/settings_common_page.h"

#include <QGridLayout>
#include <QHBoxLayout>

#include "base/app_log.h"
#include "ui/credentials_dialog.h"
#include "ui/search_host_dialog.h"
#include "ui/settings_background.h"
#include "ui/strings/caption_apply.h"
#include "ui/strings/string_ids.h"
#include "ui/window_placement.h"

namespace tessarine::ui {
namespace {

QString Q(const std::string& text) { return QString::fromStdString(text); }

template <typename W>
W* Named(W* widget, unsigned id) {
    widget->setObjectName(ControlObjectName(id));
    return widget;
}

QLabel* Label(QWidget* parent, unsigned id, QWidget* buddy = nullptr) {
    auto* label = Named(new QLabel(parent), id);
    if (buddy != nullptr) label->setBuddy(buddy);
    return label;
}

}  // namespace

QLineEdit* CCommonSettingDlg::MakeEdit(unsigned id) { return Named(new QLineEdit(this), id); }

CCommonSettingDlg::CCommonSettingDlg(SettingsServices& services, QWidget* parent)
    : QWidget(parent),
      services_(services),
      utility_(*this, *services.strings, *services.messages),
      setting_(services.store) {
    setObjectName(ControlObjectName(kDlgCommonSetting));
    manual_ = Named(new QCheckBox(this), 1007);
    searchButton_ = Named(new QPushButton(this), 1008);
    hostName_ = MakeEdit(1009);
    ShowAsReadOnly(*hostName_);
    address_ = MakeEdit(1012);
    httpPort_ = MakeEdit(1013);
    httpsPort_ = MakeEdit(1015);
    useSsl_ = Named(new QCheckBox(this), 1017);
    shortcut_ = Named(new QCheckBox(this), 1018);
    userName_ = MakeEdit(1074);
    ShowAsReadOnly(*userName_);
    userButton_ = Named(new QPushButton(this), 1025);
    popupTimeout_ = MakeEdit(1027);
    ok_ = Named(new QPushButton(this), kCtlOk);
    close_ = Named(new QPushButton(this), kCtlCancel);
    ok_->setDefault(true);

    auto* grid = new QGridLayout(this);
    int row = 0;
    grid->addWidget(manual_, row, 0, 1, 2);
    grid->addWidget(searchButton_, row++, 2);
    grid->addWidget(Label(this, 1010, hostName_), row, 0);
    grid->addWidget(hostName_, row++, 1, 1, 2);
    grid->addWidget(Label(this, 1011, address_), row, 0);
    grid->addWidget(address_, row++, 1, 1, 2);
    grid->addWidget(Label(this, 1014, httpPort_), row, 0);
    grid->addWidget(httpPort_, row++, 1);
    grid->addWidget(Label(this, 1016, httpsPort_), row, 0);
    grid->addWidget(httpsPort_, row++, 1);
    grid->addWidget(useSsl_, row++, 0, 1, 3);
    grid->addWidget(shortcut_, row++, 0, 1, 3);
    grid->addWidget(Label(this, 1019, userName_), row, 0);
    grid->addWidget(userName_, row, 1);
    grid->addWidget(userButton_, row++, 2);
    grid->addWidget(Label(this, 1020, popupTimeout_), row, 0);
    auto* timeRow = new QHBoxLayout;
    timeRow->addWidget(popupTimeout_);
    timeRow->addWidget(Label(this, 1023));
    grid->addLayout(timeRow, row++, 1, 1, 2);
    auto* note = Label(this, 1024);
    note->setWordWrap(true);
    grid->addWidget(note, row++, 0, 1, 3);
    // Spare height goes to an empty row above the buttons: on the note's own row it opened a
    // gap between the note and the time it explains.
    grid->setRowStretch(row++, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok_);
    buttons->addWidget(close_);
    grid->addLayout(buttons, row, 0, 1, 3);

    ApplyCaptions(*this, kDlgCommonSetting, *services_.strings);

    connect(manual_, &QCheckBox::toggled, this, &CCommonSettingDlg::OnManualToggled);
    connect(address_, &QLineEdit::textEdited, this, &CCommonSettingDlg::OnAddressEdited);
    connect(searchButton_, &QPushButton::clicked, this, &CCommonSettingDlg::OnSearchDevice);
    connect(userButton_, &QPushButton::clicked, this, &CCommonSettingDlg::OnSetUser);
    connect(ok_, &QPushButton::clicked, this, &CCommonSettingDlg::okRequested);
    connect(close_, &QPushButton::clicked, this, &CCommonSettingDlg::closeRequested);
    for (QLineEdit* edit : {address_, userName_})
        connect(edit, &QLineEdit::textChanged, this, &CCommonSettingDlg::RefreshControlState);
    LoadValues();
}

void CCommonSettingDlg::LoadValues() {
    loading_ = true;
    setting_.Load();
    addressFromSearch_ = setting_.ipv4Address;
    manual_->setChecked(setting_.isManualHostSetting);
    hostName_->setText(Q(setting_.hostName));
    address_->setText(Q(setting_.ipv4Address));
    httpPort_->setText(QString::number(setting_.httpPort));
    httpsPort_->setText(QString::number(setting_.httpsPort));
    useSsl_->setChecked(setting_.isUseSsl);
    shortcut_->setChecked(setting_.isCreateShortcutToHost);
    userName_->setText(Q(setting_.userName));
    popupTimeout_->setText(QString::number(setting_.popupTimeout));
    loading_ = false;
    RefreshControlState();
}

void CCommonSettingDlg::ReadControls() {
    setting_.isManualHostSetting = manual_->isChecked();
    setting_.hostName = hostName_->text().toStdString();
    setting_.ipv4Address = address_->text().trimmed().toStdString();
    setting_.httpPort = httpPort_->text().toInt();
    setting_.httpsPort = httpsPort_->text().toInt();
    setting_.isUseSsl = useSsl_->isChecked();
    setting_.isCreateShortcutToHost = shortcut_->isChecked();
    setting_.userName = userName_->text().toStdString();
    setting_.popupTimeout = popupTimeout_->text().toInt();
}

CCommonSetting CCommonSettingDlg::TypedSetting() const {
    CCommonSetting typed = setting_;
    typed.isManualHostSetting = manual_->isChecked();
    typed.hostName = hostName_->text().toStdString();
    typed.ipv4Address = address_->text().trimmed().toStdString();
    typed.userName = userName_->text().toStdString();
    return typed;
}

bool CCommonSettingDlg::IsComplete() const {
    return CDialogUtility::IsValidIPv4Text(address_->text().trimmed().toStdString()) &&
           !userName_->text().isEmpty();
}

void CCommonSettingDlg::RefreshControlState() {
    ok_->setEnabled(IsComplete());
    const bool manual = manual_->isChecked();
    for (QWidget* w : {static_cast<QWidget*>(address_), static_cast<QWidget*>(httpPort_),
                       static_cast<QWidget*>(httpsPort_)})
        w->setEnabled(manual);
}

void CCommonSettingDlg::OnManualToggled(bool manual) {
    if (!loading_ && !manual) {
        if (address_->text().toStdString() != addressFromSearch_) {
            hostName_->clear();
            address_->clear();
        }
        httpPort_->setText(QStringLiteral("80"));
        httpsPort_->setText(QStringLiteral("443"));
    }
    RefreshControlState();
}

void CCommonSettingDlg::OnAddressEdited() {
    hostName_->clear();
    setting_.hostName.clear();
}

bool CCommonSettingDlg::CheckForSave(const std::function<void(bool busy)>& busy) {
    if (manual_->isChecked()) {
        if (!utility_.ValidatePort(*httpPort_, kStrFieldHttpPort, true)) return false;
        if (!utility_.ValidatePort(*httpsPort_, kStrFieldHttpsPort, true)) return false;
    }
    utility_.SetMessageIds(kStrFieldPopupTime, kStrRangePopupTime, kStrFormDigits);
    if (!utility_.ValidateNumber(*popupTimeout_, 0, 60, true)) return false;
    ReadControls();
    if (!IsComplete()) return false;
    LoginRequest request{setting_.ipv4Address,
                         setting_.userName,
                         setting_.userPassword,
                         static_cast<std::uint16_t>(setting_.httpPort),
                         static_cast<std::uint16_t>(setting_.httpsPort),
                         setting_.isUseSsl};
    busy(true);
    auto login = services_.login;
    const auto answer =
        RunInBackground<int>([login, request] { return login ? login(request) : -1; });
    if (!answer) return false;  // the program is quitting: nothing is saved or shown
    busy(false);
    if (*answer == 0) return true;
    utility_.ShowWarning(*answer == -2 ? kStrLoginFailed : kStrConnectError);
    return false;
}

void CCommonSettingDlg::OnSearchDevice() {
    CSearchHostDlg dialog(services_, this);
    dialog.SetPortOption(setting_.isChangeSearchAgentPort, setting_.searchAgentPort);
    if (dialog.exec() != QDialog::Accepted) return;
    setting_.isChangeSearchAgentPort = dialog.ChangePort();
    setting_.searchAgentPort = dialog.Port();
    if (CDialogUtility::IsValidIPv4Text(dialog.SelectedAddress())) {
        setting_.hostName = dialog.SelectedName();
        setting_.ipv4Address = dialog.SelectedAddress();
        addressFromSearch_ = setting_.ipv4Address;
        hostName_->setText(Q(setting_.hostName));
        address_->setText(Q(setting_.ipv4Address));
    }
}

void CCommonSettingDlg::OnSetUser() {
    if (manual_->isChecked()) {
        if (!utility_.ValidatePort(*httpPort_, kStrFieldHttpPort, true)) return;
        if (!utility_.ValidatePort(*httpsPort_, kStrFieldHttpsPort, true)) return;
    }
    ReadControls();
    CSelectUserDlg dialog(services_, this);
    dialog.SetValues(
        setting_.userName, setting_.userPassword,
        LoginRequest{setting_.ipv4Address, "", "", static_cast<std::uint16_t>(setting_.httpPort),
                     static_cast<std::uint16_t>(setting_.httpsPort), setting_.isUseSsl});
    if (dialog.exec() != QDialog::Accepted) return;
    setting_.userName = dialog.UserName();
    setting_.userPassword = dialog.Password();
    userName_->setText(Q(setting_.userName));
}

}  // namespace tessarine::ui
