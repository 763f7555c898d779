// The web login client against the simulated device on loopback (HTTP and HTTPS).
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "base/app_log.h"
#include "base/string_utility.h"
#include "fakes/test_support.h"
#include "network/devicesim_process.h"
#include "network/http_utility.h"

namespace tessarine {
namespace {

using testing::DeviceSimProcess;
using testing::ReadFile;
using testing::TempDir;

constexpr char kUser[] = "admin";
constexpr char kPassword[] = "~~~?>?";  // Base64 "fn5+Pz4/"

// A loopback TCP port that nothing listens on.
std::uint16_t ClosedPort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    close(fd);
    return ntohs(address.sin_port);
}

class HttpUtilityIntegrationTest : public ::testing::Test {
protected:
    void SetUp() override {
        CAppLog::Get().InitWith(temp_.Path() + "/", "test", true, std::int64_t{64} << 20);
    }
    void TearDown() override { CAppLog::Get().Reset(); }

    // Starts the simulator with the given login answer; false when it could not start.
    void StartDevice(const std::string& loginAnswer) {
        device_ = std::make_unique<DeviceSimProcess>(std::vector<std::string>{
            "web", "--user", kUser, "--password", kPassword, "--login-answer", loginAnswer,
            "--cert-out", temp_.Sub("device.pem"), "--log", temp_.Sub("requests.log")});
        ASSERT_TRUE(device_->Ready()) << device_->Error();
    }
    std::uint16_t Port(const char* key) const {
        return static_cast<std::uint16_t>(std::stoi(device_->Value(key)));
    }
    int Login(CHttpUtility& http, const std::string& password, bool ssl) {
        return http.IsSuccessAuthorize("127.0.0.1", kUser, password, Port("http"), Port("https"),
                                       ssl);
    }
    HttpClientOptions Trusting() const { return {temp_.Sub("device.pem"), false}; }
    std::string Requests() const { return ReadFile(temp_.Sub("requests.log")); }
    std::string Log() const { return ReadFile(CAppLog::Get().LogFilePath()); }

    TempDir temp_;
    std::unique_ptr<DeviceSimProcess> device_;
};

TEST_F(HttpUtilityIntegrationTest, AcceptedLoginPostsTheFormAndLogsOutWithTheSessionCookie) {
    StartDevice("auto");
    CHttpUtility http(Trusting());
    EXPECT_EQ(0, Login(http, kPassword, false));

    const std::string requests = Requests();
    const std::size_t logout = requests.find("\"path\": \"/index?pid=Header&aid=1\"");
    ASSERT_NE(std::string::npos, logout) << requests;  // answered 501, still a success
    const std::string login = requests.substr(0, logout);
    EXPECT_NE(std::string::npos, login.find("\"path\": \"/index?pid=UserLoginProperty&aid=1\""));
    EXPECT_NE(std::string::npos, login.find("\"version\": \"HTTP/1.0\""));
    EXPECT_NE(std::string::npos, login.find("[\"Accept\", \"text/*\"]"));
    EXPECT_NE(std::string::npos, login.find("[\"User-Agent\", \"KVQClient\"]"));
    EXPECT_NE(std::string::npos, login.find("[\"Date\", \""));
    EXPECT_NE(std::string::npos,
              login.find("[\"Content-Type\", \"application/x-www-form-urlencoded\"]"));
    EXPECT_NE(std::string::npos, login.find("\"body\": \"name=admin&password=fn5+Pz4/\"}\n"))
        << login;
    EXPECT_NE(std::string::npos, requests.find("[\"Cookie\", \"JSESSIONID=SIM", logout));
    EXPECT_EQ(std::string::npos, Log().find(kPassword)) << "the password reached the log";
}

TEST_F(HttpUtilityIntegrationTest, RefusedLoginsGiveMinusTwo) {
    const struct {
        const char* answer;
        const char* password;
    } cases[] = {
        {"auto", "wrong"},  // 200 without a cookie
        {"200", kPassword},
        {"401", kPassword},
    };
    for (const auto& c : cases) {
        StartDevice(c.answer);
        CHttpUtility http(Trusting());
        EXPECT_EQ(-2, Login(http, c.password, false)) << c.answer;
        EXPECT_EQ(std::string::npos, Requests().find("pid=Header")) << "no logout after refusal";
        device_.reset();
        unlink(temp_.Sub("requests.log").c_str());
    }
}

TEST_F(HttpUtilityIntegrationTest, UnreachableDeviceGivesMinusOne) {
    CHttpUtility http({"", false, 2000, 2000});
    const std::uint16_t port = ClosedPort();
    EXPECT_EQ(-1, http.IsSuccessAuthorize("127.0.0.1", kUser, kPassword, port, port, false));
    EXPECT_NE(std::string::npos, Log().find("Request Failed"));
}

TEST_F(HttpUtilityIntegrationTest, HttpsUsesTheHttpsPortAndVerifiesTheCertificate) {
    StartDevice("auto");
    CHttpUtility trusting(Trusting());
    EXPECT_EQ(0, Login(trusting, kPassword, true));

    // The system's trust store does not hold the simulator's self-signed certificate.
    CHttpUtility strict({"", false});
    EXPECT_EQ(-1, Login(strict, kPassword, true));
    EXPECT_NE(std::string::npos, Log().find("Server Certificate Refused"));

    // The HTTPS port speaks TLS only: plain HTTP to it is a transport failure, not a login.
    CHttpUtility plain(Trusting());
    EXPECT_EQ(-1, plain.IsSuccessAuthorize("127.0.0.1", kUser, kPassword, Port("https"),
                                           Port("https"), false));
}

// A device on loopback that accepts the login (200 and the cookie) and then keeps the answer
// coming a byte at a time, fast enough never to look stalled: in its body, or in its headers
// before the cookie. The first exchange is slow; the others (the logout) are answered at once.
// The trickle ends after `limit` with a complete answer, so that a client without a limit of
// its own would get through and accept the login.
class TricklingDevice {
public:
    enum Where { kBody, kHeaders };

    TricklingDevice(Where where, std::chrono::seconds limit) : where_(where), limit_(limit) {
        listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        listen(listener_, 4);
        socklen_t length = sizeof address;
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        server_ = std::thread([this] { Serve(); });
    }
    ~TricklingDevice() {
        stop_ = true;
        server_.join();
        close(listener_);
    }
    std::uint16_t Port() const { return port_; }
    // Whether the client closed the slow answer's connection before the trickle ended. The
    // exchanges are served one after the other: once a second one has been answered, this is
    // settled.
    bool ClientHungUp() const { return hungUp_; }

private:
    void Serve() {
        for (int exchange = 0; !stop_; ++exchange) {
            pollfd waiting{listener_, POLLIN, 0};
            if (poll(&waiting, 1, 100) <= 0) continue;
            const int fd = accept(listener_, nullptr, nullptr);
            if (fd < 0) continue;
            ReadRequest(fd);
            if (exchange == 0)
                Trickle(fd);
            else
                Send(fd, "HTTP/1.0 200 OK\r\nContent-Length: 0\r\n\r\n");
            close(fd);
        }
    }
    static void ReadRequest(int fd) {
        std::string request;
        char chunk[1024];
        while (request.find("\r\n\r\n") == std::string::npos) {
            pollfd readable{fd, POLLIN, 0};
            if (poll(&readable, 1, 2000) <= 0) return;
            const ssize_t got = recv(fd, chunk, sizeof chunk, 0);
            if (got <= 0) return;
            request.append(chunk, static_cast<std::size_t>(got));
        }
    }
    static bool Send(int fd, const std::string& text) {
        return send(fd, text.data(), text.size(), MSG_NOSIGNAL) ==
               static_cast<ssize_t>(text.size());
    }
    void Trickle(int fd) {
        const std::string cookie = "Set-Cookie: JSESSIONID=0123456789\r\n";
        if (!Send(fd, "HTTP/1.0 200 OK\r\n" + (where_ == kBody ? cookie + "\r\n" : "X-Pad: ")))
            return;
        const auto end = std::chrono::steady_clock::now() + limit_;
        while (!stop_ && std::chrono::steady_clock::now() < end) {
            if (!Send(fd, "a")) {
                hungUp_ = true;
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        Send(fd, where_ == kBody ? "" : "\r\n" + cookie + "\r\n");
    }

    Where where_;
    std::chrono::seconds limit_;
    int listener_ = -1;
    std::uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<bool> hungUp_{false};
    std::thread server_;
};

TEST_F(HttpUtilityIntegrationTest, AnEndlessBodyAfterTheCookieIsNotWaitedFor) {
    TricklingDevice device(TricklingDevice::kBody, std::chrono::seconds(30));
    CHttpUtility http({"", false, 2000, 2000});
    EXPECT_EQ(0, http.IsSuccessAuthorize("127.0.0.1", kUser, kPassword, device.Port(),
                                         device.Port(), false));
    EXPECT_TRUE(device.ClientHungUp()) << "the body was read to its end";
}

TEST_F(HttpUtilityIntegrationTest, HeadersTrickledPastTheSessionLimitFailTheLogin) {
    TricklingDevice device(TricklingDevice::kHeaders, std::chrono::seconds(30));
    CHttpUtility http({"", false, 200, 1000});  // a session limit of 2.2 s
    EXPECT_EQ(-1, http.IsSuccessAuthorize("127.0.0.1", kUser, kPassword, device.Port(),
                                          device.Port(), false));
    EXPECT_NE(std::string::npos, Log().find("Request Failed. curl:28")) << Log();
}

// Runs `TessarineTool --check-login` on a data folder whose settings name the simulator.
struct CheckLoginRun {
    int status = -1;
    std::string printed;
};

CheckLoginRun CheckLogin(const TempDir& temp, std::uint16_t port, const std::string& password) {
    const std::string settings =
        "[CommonSetting]\r\nIPV4Address=127.0.0.1\r\nHTTPPort=" + std::to_string(port) +
        "\r\nUserName=admin\r\nUserPassword=" + CStringUtility::EncodeBase64(password) +
        "\r\nIsUseSSL=FALSE\r\n";
    testing::WriteFile(temp.Sub("profile/corvane/Tessarine Tool/TessarineTool.msf"), settings);
    const std::string command = "env no_proxy='*' ALLUSERSPROFILE='" + temp.Sub("profile") + "' '" +
                                std::getenv("TESSARINE_BINARY") + "' --check-login";
    CheckLoginRun run;
    FILE* out = popen(command.c_str(), "r");
    if (out == nullptr) return run;
    char chunk[256];
    while (std::fgets(chunk, sizeof chunk, out) != nullptr) run.printed += chunk;
    const int status = pclose(out);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

TEST_F(HttpUtilityIntegrationTest, CheckLoginCommandPrintsTheDialogMessageAndExitStatus) {
    const char* binary = std::getenv("TESSARINE_BINARY");
    if (binary == nullptr || *binary == '\0') GTEST_SKIP() << "TESSARINE_BINARY is not set";
    StartDevice("auto");
    const struct {
        std::uint16_t port;
        const char* password;
        int status;
        const char* printed;
    } cases[] = {
        {Port("http"), kPassword, 0, "成功\n"},
        {Port("http"), "wrong", 2,
         "ログインに失敗しました。ユーザー名またはパスワードを確認してください。\n"},
        {ClosedPort(), kPassword, 3, "接続エラー\n"},
    };
    for (const auto& c : cases) {
        const CheckLoginRun run = CheckLogin(temp_, c.port, c.password);
        EXPECT_EQ(c.status, run.status) << c.printed;
        EXPECT_EQ(c.printed, run.printed);
    }
}

}  // namespace
}  // namespace tessarine
