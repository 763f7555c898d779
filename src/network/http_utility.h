// The device web login check: posts the login form to the device's login page over HTTP or
// HTTPS, accepts the credentials when the device answers 200 or 302 with a "JSESSIONID" cookie,
// then posts the same form to the header page (the logout) and closes the connection. Only the
// status and headers of an answer count: its body is not read, and the whole exchange has a
// time limit (HttpClientOptions::SessionLimitMs).
#pragma once

#include <chrono>
#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

// libcurl's handle type, kept out of the users' translation units.
typedef void CURL;

namespace tessarine {

// How the client reaches the device. The defaults are the program's own; tests point the
// trust store at a simulator's certificate and bypass any proxy of the environment.
struct HttpClientOptions {
    // PEM file of trusted certificates; "" uses the system's trust store.
    std::string caFile;
    // Whether the proxy variables of the environment (http_proxy, https_proxy, no_proxy) apply.
    bool useEnvironmentProxy = true;
    long connectTimeoutMs = 10000;
    // A request whose answer stalls this long fails.
    long transferTimeoutMs = 60000;
    // The whole exchange of a session (connecting, sending, receiving, for the login and the
    // logout together) ends after the connect time-out plus the transfer time-out twice (one
    // for sending, one for receiving), however slowly the device keeps answering.
    long SessionLimitMs() const { return connectTimeoutMs + 2 * transferTimeoutMs; }
};

class CHttpUtility {
public:
    // Results of IsSuccessAuthorize and SendRequest.
    static constexpr int kLoginAccepted = 0;
    static constexpr int kTransportError = -1;
    static constexpr int kLoginRefused = -2;

    enum HeaderKind : int {
        kHeaderAccept = 0,
        kHeaderUserAgent = 1,
        kHeaderAuthorization = 2,
        kHeaderDate = 3,
        kHeaderContentType = 4,
        kHeaderContentLength = 5,
    };

    explicit CHttpUtility(HttpClientOptions options = {});
    ~CHttpUtility();
    CHttpUtility(const CHttpUtility&) = delete;
    CHttpUtility& operator=(const CHttpUtility&) = delete;

    // 0 when the device accepted the credentials, -2 when it refused them, -1 for any other
    // failure (no connection, transport error, certificate refused).
    int IsSuccessAuthorize(const std::string& address, const std::string& userName,
                           const std::string& password, std::uint16_t httpPort,
                           std::uint16_t httpsPort, bool useSsl);

    // Prepares a connection to the server (host name or IPv4 text) and port; 0 or -1.
    int OpenSession(const std::string& server, std::uint16_t port, bool useSsl);
    void CloseSession();
    // The form body "name=<user>&password=<base64>", neither part percent-encoded.
    void CreateLoginPostData(const std::string& userName, const std::string& base64Password);
    const std::string& LoginPostData() const { return formBody_; }
    // Posts the form body to the object (path and query): 0, -1 or -2.
    int SendRequest(const std::string& object);
    // Posts the form body to the object; 200, 302 and 501 count as success. 0 or -1.
    int SendLogoutRequest(const std::string& object);

    // UTF-8 bytes other than ASCII letters, digits and "-_.~" as "%XX".
    static std::string UrlEncode(std::string_view text);
    // Prefix of the kind, the value and "\r\n"; "" for an unknown kind.
    static std::string MakeHeaderLine(int kind, std::string_view value);
    // "%a, %d %b %Y %H:%M:%S GMT" with English names, whatever the locale.
    static std::string FormatHttpDate(std::int64_t secondsSinceEpoch);

    // "http://%s/index?pid=UserLoginProperty&aid=1" or its https form, and the logout URL.
    static std::string LoginUrl(const std::string& address, bool useSsl);
    static std::string LogoutUrl(const std::string& address, bool useSsl);

    static constexpr char kLoginObject[] = "/index?pid=UserLoginProperty&aid=1";
    static constexpr char kLogoutObject[] = "/index?pid=Header&aid=1";
    static constexpr char kUserAgent[] = "KVQClient";

private:
    struct Answer {
        long status = 0;  // 0 when no status line was read
        std::string headers;
        bool bodyStarted = false;  // the body is not read: status and headers are the answer
    };
    // Posts the form body; false (with an error line) on a transport failure.
    bool Post(const std::string& object, Answer& answer);

    HttpClientOptions options_;
    CURL* session_ = nullptr;  // keeps the cookies of the login for the logout
    std::string baseUrl_;      // "scheme://server:port", set by OpenSession
    std::chrono::steady_clock::time_point sessionEnd_;  // set by OpenSession
    std::string formBody_;
};

}  // namespace tessarine
