// The device search dialog: the port option's checks, the list, the choice taken back.
#include "ui/search_host_dialog.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <thread>

#include "ui/settings_test_support.h"

namespace tessarine::ui {
namespace {

using testing::Find;
using testing::SettingsFixture;

class SearchHostDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        fx_.services_.search = [this](std::vector<CSearchAgentResponse>& found,
                                      std::uint16_t port) {
            ports_.push_back(port);
            searchThread_ = std::this_thread::get_id();
            found = answer_;
            return result_;
        };
        dialog_ = std::make_unique<CSearchHostDlg>(fx_.services_);
    }
    QTreeWidget* List() { return Find<QTreeWidget>(*dialog_, 1080); }
    QLineEdit* PortEdit() { return Find<QLineEdit>(*dialog_, 1083); }
    QCheckBox* PortOption() { return Find<QCheckBox>(*dialog_, 1082); }

    SettingsFixture fx_{0};
    std::vector<CSearchAgentResponse> answer_{{"192.168.1.10", "", 80, 443, "", "DEV01", ""},
                                              {"192.168.1.10", "", 80, 443, "", "DEV01", ""},
                                              {"10.0.0.5", "", 80, 443, "", "DEV02", ""}};
    int result_ = 0;
    std::vector<std::uint16_t> ports_;
    std::thread::id searchThread_;
    std::unique_ptr<CSearchHostDlg> dialog_;
};

TEST_F(SearchHostDialogTest, SearchRunsOffTheUiThreadOnTheDefaultPortAndListsEveryAnswer) {
    ASSERT_TRUE(dialog_->UpdateHosts());
    EXPECT_EQ(std::vector<std::uint16_t>{61000}, ports_);
    EXPECT_NE(std::this_thread::get_id(), searchThread_);
    ASSERT_EQ(3, List()->topLevelItemCount()) << "a device on two adapters is two rows";
    EXPECT_EQ("10.0.0.5", List()->topLevelItem(2)->text(0).toStdString());
    EXPECT_EQ("DEV02", List()->topLevelItem(2)->text(1).toStdString());
    EXPECT_TRUE(Find<QPushButton>(*dialog_, 3)->isEnabled());
}

// Not the settings window's "設定": two windows of one title could not be told apart.
TEST_F(SearchHostDialogTest, TitleIsItsOwn) {
    EXPECT_EQ(dialog_->windowTitle(), QString::fromUtf8("機器の検索"));
}

TEST_F(SearchHostDialogTest, FailedSearchKeepsTheListAndEmptyAnswerEmptiesIt) {
    dialog_->UpdateHosts();
    result_ = -1;
    answer_.clear();
    dialog_->UpdateHosts();
    EXPECT_EQ(3, List()->topLevelItemCount());
    result_ = 0;
    dialog_->UpdateHosts();
    EXPECT_EQ(0, List()->topLevelItemCount());
}

TEST_F(SearchHostDialogTest, ChoosingARowGivesItsAddressAndName) {
    dialog_->UpdateHosts();
    List()->topLevelItem(2)->setSelected(true);
    EXPECT_EQ("10.0.0.5", dialog_->SelectedAddress());
    EXPECT_EQ("DEV02", dialog_->SelectedName());
    EXPECT_EQ("10.0.0.5", Find<QLineEdit>(*dialog_, 1078)->text().toStdString());
}

struct PortCase {
    const char* name;
    const char* text;
    const char* warning;  // "" when accepted
};

class SearchPortTest : public SearchHostDialogTest,
                       public ::testing::WithParamInterface<PortCase> {};

TEST_P(SearchPortTest, ChangedPortIsCheckedBeforeSearchAndOk) {
    dialog_->SetPortOption(true, 61000);
    PortEdit()->setText(GetParam().text);
    const bool searched = dialog_->UpdateHosts();
    dialog_->accept();
    if (std::string(GetParam().warning).empty()) {
        EXPECT_TRUE(searched);
        EXPECT_EQ(
            std::vector<std::uint16_t>{static_cast<std::uint16_t>(std::stoi(GetParam().text))},
            ports_);
        EXPECT_EQ(QDialog::Accepted, dialog_->result());
        EXPECT_TRUE(dialog_->ChangePort());
    } else {
        EXPECT_FALSE(searched);
        EXPECT_TRUE(ports_.empty());
        EXPECT_EQ((std::vector<std::string>{GetParam().warning, GetParam().warning}),
                  fx_.messages_.warnings);
        EXPECT_NE(QDialog::Accepted, dialog_->result());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Ports, SearchPortTest,
    ::testing::Values(PortCase{"Letter", "61a00", "通信ポートは半角数字で入力してください。"},
                      PortCase{"TooLarge", "70000",
                               "通信ポートは0-65535の範囲で入力してください。"},
                      PortCase{"Empty", "", "通信ポートを入力してください。"},
                      PortCase{"Zero", "0", ""}, PortCase{"Other", "62000", ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SearchHostDialogTest, UncheckingThePortOptionRestoresTheDefaultPort) {
    dialog_->SetPortOption(true, 62000);
    EXPECT_TRUE(PortEdit()->isEnabled());
    PortOption()->click();
    EXPECT_EQ("61000", PortEdit()->text().toStdString());
    EXPECT_FALSE(PortEdit()->isEnabled());
    EXPECT_FALSE(dialog_->ChangePort());
    EXPECT_EQ(61000, dialog_->Port());
}

TEST_F(SearchHostDialogTest, OkWithoutAChoiceGivesNoAddress) {
    dialog_->UpdateHosts();
    dialog_->accept();
    EXPECT_EQ(QDialog::Accepted, dialog_->result());
    EXPECT_EQ("", dialog_->SelectedAddress());
}

}  // namespace
}  // namespace tessarine::ui
