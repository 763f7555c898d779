#include "ui/search_host_dialog.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QTimer>

#include "base/app_log.h"
#include "ui/dialog_keys.h"
#include "ui/settings_background.h"
#include "ui/strings/caption_apply.h"
#include "ui/strings/lrc_reader_wrapper.h"
#include "ui/strings/string_ids.h"
#include "ui/window_placement.h"

namespace tessarine::ui {

CSearchHostDlg::CSearchHostDlg(SettingsServices& services, QWidget* parent)
    : QDialog(parent), services_(services), utility_(*this, *services.strings, *services.messages) {
    const CLrcReaderWrapper& strings = *services.strings;
    setObjectName(ControlObjectName(kDlgSearchHost));
    auto named = [](auto* widget, unsigned id) {
        widget->setObjectName(ControlObjectName(id));
        return widget;
    };
    address_ = named(new QLineEdit(this), 1078);
    address_->setEnabled(false);
    auto* ok = named(new QPushButton(this), kCtlOk);
    ok->setDefault(true);
    auto* cancel = named(new QPushButton(this), kCtlCancel);
    update_ = named(new QPushButton(this), 3);
    list_ = named(new QTreeWidget(this), 1080);
    list_->setRootIsDecorated(false);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->setHeaderLabels({QString::fromStdString(strings.Text(kStrIpAddressColumn)),
                            QString::fromStdString(strings.Text(kStrHostNameColumn))});
    SizeColumnsToContents(*list_->header(), 1);
    auto* addressLabel = named(new QLabel(this), 1076);
    addressLabel->setBuddy(address_);
    auto* listLabel = named(new QLabel(this), 1077);
    listLabel->setBuddy(list_);
    auto* group = named(new QGroupBox(this), 1081);
    auto* portLabel = named(new QLabel(group), 1079);
    portOption_ = named(new QCheckBox(group), 1082);
    port_ = named(new QLineEdit(group), 1083);
    port_->setMaximumWidth(100);
    portLabel->setBuddy(port_);

    auto* groupLayout = new QGridLayout(group);
    groupLayout->addWidget(portLabel, 0, 0);
    groupLayout->addWidget(portOption_, 1, 0, 1, 2);
    groupLayout->addWidget(port_, 2, 0);
    auto* grid = new QGridLayout(this);
    grid->addWidget(addressLabel, 0, 0);
    grid->addWidget(ok, 0, 1);
    grid->addWidget(address_, 1, 0);
    grid->addWidget(cancel, 1, 1);
    grid->addWidget(listLabel, 2, 0);
    grid->addWidget(update_, 2, 1);
    grid->addWidget(list_, 3, 0, 1, 2);
    grid->addWidget(group, 4, 0, 1, 2);
    resize(520, 420);

    ApplyCaptions(*this, kDlgSearchHost, strings);
    // Its own title: the dialog's resource caption is the settings window's "設定".
    setWindowTitle(QString::fromStdString(strings.Text(kStrSearchHostTitle)));
    setAccessibleName(windowTitle());
    TabInLayoutOrder(*this);
    if (ok->text().isEmpty()) ok->setText(QStringLiteral("OK"));
    connect(ok, &QPushButton::clicked, this, &CSearchHostDlg::accept);
    connect(cancel, &QPushButton::clicked, this, &CSearchHostDlg::reject);
    connect(update_, &QPushButton::clicked, this, [this] { UpdateHosts(); });
    connect(portOption_, &QCheckBox::clicked, this, &CSearchHostDlg::OnPortOption);
    connect(list_, &QTreeWidget::itemSelectionChanged, this, &CSearchHostDlg::OnSelectionChanged);
    PushFields();
}

void CSearchHostDlg::SetPortOption(bool changePort, int port) {
    changePort_ = changePort;
    portText_ = QString::number(port);
    PushFields();
}

void CSearchHostDlg::PushFields() {
    address_->setText(selectedAddress_);
    portOption_->setChecked(changePort_);
    port_->setText(portText_);
    port_->setEnabled(changePort_);
}

bool CSearchHostDlg::Validate() {
    if (portOption_->isChecked()) {
        if (!utility_.ValidatePort(*port_, kStrFieldSearchPort, true)) return false;
    } else {
        port_->setText(QString::number(kDefaultSearchPort));
    }
    changePort_ = portOption_->isChecked();
    portText_ = port_->text();
    return true;
}

void CSearchHostDlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (searchedOnce_) return;
    searchedOnce_ = true;
    // After the window is on screen, so the first search does not hold up its drawing.
    QTimer::singleShot(0, this, [this] { UpdateHosts(); });
}

bool CSearchHostDlg::UpdateHosts() {
    if (!Validate()) return false;
    update_->setEnabled(false);
    std::uint16_t port = kDefaultSearchPort;
    if (changePort_) {
        LOG_TRACE("Change Search Port:" + portText_.toStdString());
        port = static_cast<std::uint16_t>(portText_.toInt());
    }
    auto search = services_.search;
    struct Outcome {
        int result = -1;
        std::vector<CSearchAgentResponse> found;
    };
    const auto answer = RunInBackground<Outcome>([search, port] {
        Outcome o;
        if (search) o.result = search(o.found, port);
        return o;
    });
    if (!answer) return false;  // the program is quitting
    const Outcome& outcome = *answer;
    if (outcome.result != 0)
        LOG_ERROR("Server Search Error");
    else
        LoadListItem(outcome.found);
    update_->setEnabled(true);
    return true;
}

void CSearchHostDlg::LoadListItem(const std::vector<CSearchAgentResponse>& found) {
    LOG_TRACE(" Start--->");
    const QSignalBlocker block(list_);
    list_->clear();
    for (const auto& device : found) {
        auto* item = new QTreeWidgetItem(list_);
        item->setText(0, QString::fromStdString(device.ipv4Address));
        item->setText(1, QString::fromStdString(device.netbiosName));
    }
    LOG_TRACE(" End  <---");
}

void CSearchHostDlg::OnPortOption() {
    if (Validate()) port_->setEnabled(changePort_);
}

void CSearchHostDlg::OnSelectionChanged() {
    const auto chosen = list_->selectedItems();
    if (chosen.size() == 1) {
        selectedAddress_ = chosen.front()->text(0);
        selectedName_ = chosen.front()->text(1);
    }
    PushFields();
}

void CSearchHostDlg::accept() {
    if (Validate()) QDialog::accept();
}

}  // namespace tessarine::ui
