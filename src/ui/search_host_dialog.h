// The device search: lists the devices that answer the search broadcast and lets the user pick
// one and, when needed, another search port. The search runs on its own thread.
#pragma once
#include <QCheckBox>
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <vector>

#include "network/search_agent_response.h"
#include "ui/settings_dialog_utility.h"
#include "ui/settings_services.h"

namespace tessarine::ui {

class CSearchHostDlg : public QDialog {
    Q_OBJECT
public:
    static constexpr int kDefaultSearchPort = 61000;

    CSearchHostDlg(SettingsServices& services, QWidget* parent = nullptr);
    void SetPortOption(bool changePort, int port);

    bool ChangePort() const { return changePort_; }
    int Port() const { return portText_.toInt(); }
    std::string SelectedAddress() const { return selectedAddress_.toStdString(); }
    std::string SelectedName() const { return selectedName_.toStdString(); }

    // Validates the port option and searches; false when the port was refused.
    bool UpdateHosts();
    void LoadListItem(const std::vector<CSearchAgentResponse>& found);

    void accept() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    bool Validate();
    void OnPortOption();
    void OnSelectionChanged();
    void PushFields();

    SettingsServices& services_;
    CDialogUtility utility_;
    bool changePort_ = false;
    QString portText_ = QString::number(kDefaultSearchPort);
    QString selectedAddress_;
    QString selectedName_;
    bool searchedOnce_ = false;
    QLineEdit* address_;
    QPushButton* update_;
    QTreeWidget* list_;
    QCheckBox* portOption_;
    QLineEdit* port_;
};

}  // namespace tessarine::ui
