// The credentials dialog: the user name is needed, the login test decides, values are kept.
#include "ui/credentials_dialog.h"

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QTest>

#include "ui/settings_test_support.h"

namespace tessarine::ui {
namespace {

using testing::Find;
using testing::SettingsFixture;

class CredentialsDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        dialog_ = std::make_unique<CSelectUserDlg>(fx_.services_);
        dialog_->SetValues("admin", "pw", LoginRequest{"192.168.1.10", "", "", 8080, 8443, true});
    }
    QLineEdit* User() { return Find<QLineEdit>(*dialog_, 1018); }
    QLineEdit* Password() { return Find<QLineEdit>(*dialog_, 1073); }

    SettingsFixture fx_{0};
    std::unique_ptr<CSelectUserDlg> dialog_;
};

struct LoginCase {
    const char* name;
    int result;
    const char* warning;  // "" when the dialog closes with OK
};

class CredentialsLoginTest : public CredentialsDialogTest,
                             public ::testing::WithParamInterface<LoginCase> {};

TEST_P(CredentialsLoginTest, LoginResultDecides) {
    fx_.loginResult_ = GetParam().result;
    dialog_->accept();
    ASSERT_EQ(1u, fx_.logins_.size());
    const LoginRequest& sent = fx_.logins_[0];
    EXPECT_EQ("admin", sent.userName);
    EXPECT_EQ("pw", sent.password);
    EXPECT_EQ(8080, sent.httpPort);
    EXPECT_EQ(8443, sent.httpsPort);
    EXPECT_TRUE(sent.useSsl);
    if (std::string(GetParam().warning).empty()) {
        EXPECT_EQ(QDialog::Accepted, dialog_->result());
        EXPECT_TRUE(fx_.messages_.warnings.empty());
    } else {
        EXPECT_NE(QDialog::Accepted, dialog_->result());
        EXPECT_EQ(std::vector<std::string>{GetParam().warning}, fx_.messages_.warnings);
        EXPECT_EQ("pw", dialog_->Password()) << "values are kept after a warning";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Results, CredentialsLoginTest,
    ::testing::Values(LoginCase{"Accepted", 0, ""},
                      LoginCase{"Refused", -2,
                                "ログインに失敗しました。ユーザー名またはパスワードを確認して"
                                "ください。"},
                      LoginCase{"Unreachable", -1, "接続エラー"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(CredentialsDialogTest, EmptyUserNameIsRefusedBeforeAnyLogin) {
    User()->clear();
    dialog_->accept();
    EXPECT_TRUE(fx_.logins_.empty());
    EXPECT_EQ(std::vector<std::string>{"ユーザー名を入力してください。"}, fx_.messages_.warnings);
}

// Screen readers and the end-to-end test find the dialog by its title.
TEST_F(CredentialsDialogTest, TitleIsTheDialogCaption) {
    EXPECT_EQ(dialog_->windowTitle(), QString::fromUtf8("ユーザー設定"));
}

TEST_F(CredentialsDialogTest, LongInputStopsAtTheLimits) {
    User()->clear();
    QTest::keyClicks(User(), QString(33, 'u'));
    Password()->clear();
    QTest::keyClicks(Password(), QString(29, 'p'));
    EXPECT_EQ(32, User()->text().size());
    EXPECT_EQ(28, Password()->text().size());
    EXPECT_EQ(QLineEdit::Password, Password()->echoMode());
}

}  // namespace
}  // namespace tessarine::ui
