#include "ui/settings_detect_page.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>

#include "ui/strings/caption_apply.h"
#include "ui/strings/string_ids.h"

namespace tessarine::ui {

CDetectFileSettingDlg::CDetectFileSettingDlg(SettingsServices& services, QWidget* parent)
    : QWidget(parent),
      utility_(*this, *services.strings, *services.messages),
      setting_(services.store) {
    setObjectName(ControlObjectName(kDlgDetectFileSetting));
    notify_ = new QCheckBox(this);
    notify_->setObjectName(ControlObjectName(1068));
    interval_ = new QLineEdit(this);
    interval_->setObjectName(ControlObjectName(1070));
    interval_->setMaximumWidth(80);
    auto* label = new QLabel(this);
    label->setObjectName(ControlObjectName(1069));
    label->setBuddy(interval_);
    auto* unit = new QLabel(this);
    unit->setObjectName(ControlObjectName(1071));
    auto* ok = new QPushButton(this);
    ok->setObjectName(ControlObjectName(kCtlOk));
    auto* close = new QPushButton(this);
    close->setObjectName(ControlObjectName(kCtlCancel));

    auto* grid = new QGridLayout(this);
    grid->addWidget(notify_, 0, 0, 1, 3);
    grid->addWidget(label, 1, 0);
    grid->addWidget(interval_, 1, 1);
    grid->addWidget(unit, 1, 2);
    grid->setRowStretch(2, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(close);
    grid->addLayout(buttons, 3, 0, 1, 3);

    ApplyCaptions(*this, kDlgDetectFileSetting, *services.strings);
    if (close->text().isEmpty()) close->setText(QStringLiteral("閉じる"));
    connect(ok, &QPushButton::clicked, this, &CDetectFileSettingDlg::okRequested);
    connect(close, &QPushButton::clicked, this, &CDetectFileSettingDlg::closeRequested);
    LoadValues();
}

void CDetectFileSettingDlg::LoadValues() {
    setting_.Load();
    notify_->setChecked(setting_.isNotifyDetectFileComplete);
    interval_->setText(QString::number(setting_.resultWatchInterval));
}

bool CDetectFileSettingDlg::CheckForSave() {
    utility_.SetMessageIds(kStrFieldWatchInterval, kStrRangeWatchInterval, kStrFormDigits);
    if (!utility_.ValidateNumber(*interval_, 1, 60, true)) return false;
    setting_.isNotifyDetectFileComplete = notify_->isChecked();
    setting_.resultWatchInterval = interval_->text().toInt();
    return true;
}

}  // namespace tessarine::ui
