// The credentials dialog and the settings window's OK against the simulated device's web login.
#include <gtest/gtest.h>

#include <QLineEdit>

#include "network/devicesim_process.h"
#include "network/http_utility.h"
#include "ui/credentials_dialog.h"
#include "ui/settings_test_support.h"

namespace tessarine::ui {
namespace {

using testing::SettingsFixture;

constexpr char kUser[] = "admin";
constexpr char kPassword[] = "right";

struct SimCase {
    const char* name;
    const char* password;
    bool deviceRuns;
    const char* warning;  // "" when accepted
};

class CredentialsSimulatorTest : public ::testing::TestWithParam<SimCase> {};

TEST_P(CredentialsSimulatorTest, LoginAgainstTheSimulatedDevice) {
    SettingsFixture fx(0);
    tessarine::testing::DeviceSimProcess device(std::vector<std::string>{
        "web", "--user", kUser, "--password", kPassword, "--cert-out", fx.temp_.Sub("device.pem"),
        "--log", fx.temp_.Sub("requests.log")});
    ASSERT_TRUE(device.Ready()) << device.Error();
    auto port = [&](const char* key) {
        return static_cast<std::uint16_t>(std::stoi(device.Value(key)));
    };
    // Unreachable: port 1 on loopback, where nothing listens.
    const std::uint16_t httpPort = GetParam().deviceRuns ? port("http") : 1;
    fx.services_.login = [&fx](const LoginRequest& r) {
        CHttpUtility http(HttpClientOptions{fx.temp_.Sub("device.pem"), false, 3000, 5000});
        return http.IsSuccessAuthorize(r.address, r.userName, r.password, r.httpPort, r.httpsPort,
                                       r.useSsl);
    };
    CSelectUserDlg dialog(fx.services_);
    dialog.SetValues(kUser, GetParam().password,
                     LoginRequest{"127.0.0.1", "", "", httpPort, port("https"), false});
    dialog.accept();
    if (std::string(GetParam().warning).empty()) {
        EXPECT_EQ(QDialog::Accepted, dialog.result());
        EXPECT_TRUE(fx.messages_.warnings.empty());
    } else {
        EXPECT_NE(QDialog::Accepted, dialog.result());
        EXPECT_EQ(std::vector<std::string>{GetParam().warning}, fx.messages_.warnings);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Device, CredentialsSimulatorTest,
    ::testing::Values(SimCase{"RightPassword", kPassword, true, ""},
                      SimCase{"WrongPassword", "wrong", true,
                              "ログインに失敗しました。ユーザー名またはパスワードを確認して"
                              "ください。"},
                      SimCase{"Unreachable", kPassword, false, "接続エラー"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tessarine::ui
