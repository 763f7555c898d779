#include "network/http_utility.h"

#include <curl/curl.h>

#include <algorithm>
#include <array>
#include <mutex>
#include <utility>

#include "base/app_log.h"
#include "base/string_utility.h"

namespace tessarine {

namespace {

constexpr std::array<const char*, 6> kHeaderPrefixes = {
    "Accept: ", "User-Agent: ", "Authorization: ", "Date: ", "Content-Type: ", "Content-Length: "};

void InitCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// Host names and IPv4 texts only: anything else could smuggle a user, a port or a path into
// the URL.
bool IsPlainHost(const std::string& server) {
    if (server.empty() || server.size() > 253) return false;
    for (const char c : server) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                        (c >= '0' && c <= '9') || c == '.' || c == '-';
        if (!ok) return false;
    }
    return true;
}

bool IsCertificateFailure(CURLcode code) {
    return code == CURLE_PEER_FAILED_VERIFICATION || code == CURLE_SSL_CACERT_BADFILE ||
           code == CURLE_SSL_ISSUER_ERROR || code == CURLE_SSL_PINNEDPUBKEYNOTMATCH;
}

size_t CollectHeader(char* data, size_t size, size_t count, void* user) {
    static_cast<std::string*>(user)->append(data, size * count);
    return size * count;
}

// The body is never needed; a device could send it slowly or without end. Refusing its first
// bytes ends the transfer (CURLE_WRITE_ERROR, recognised by the flag).
size_t StopAtBody(char*, size_t, size_t, void* user) {
    *static_cast<bool*>(user) = true;
    return 0;
}

}  // namespace

CHttpUtility::CHttpUtility(HttpClientOptions options) : options_(std::move(options)) {
    InitCurlOnce();
}

CHttpUtility::~CHttpUtility() { CloseSession(); }

std::string CHttpUtility::UrlEncode(std::string_view text) {
    std::string out;
    out.reserve(text.size() * 3);
    for (const char c : text) {
        const unsigned char byte = static_cast<unsigned char>(c);
        const bool unreserved = (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
                                (byte >= '0' && byte <= '9') || byte == '-' || byte == '_' ||
                                byte == '.' || byte == '~';
        if (unreserved)
            out.push_back(c);
        else
            out += Format("%%%02X", byte);
    }
    return out;
}

std::string CHttpUtility::MakeHeaderLine(int kind, std::string_view value) {
    if (kind < 0 || static_cast<std::size_t>(kind) >= kHeaderPrefixes.size()) return std::string();
    return std::string(kHeaderPrefixes[static_cast<std::size_t>(kind)]) + std::string(value) +
           "\r\n";
}

std::string CHttpUtility::FormatHttpDate(std::int64_t secondsSinceEpoch) {
    static constexpr std::array<const char*, 7> kDays = {"Sun", "Mon", "Tue", "Wed",
                                                         "Thu", "Fri", "Sat"};
    static constexpr std::array<const char*, 12> kMonths = {
        "Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const std::time_t when = static_cast<std::time_t>(secondsSinceEpoch);
    std::tm utc{};
    if (gmtime_r(&when, &utc) == nullptr) return std::string();
    return Format("%s, %02d %s %04d %02d:%02d:%02d GMT",
                  kDays[static_cast<std::size_t>(utc.tm_wday)], utc.tm_mday,
                  kMonths[static_cast<std::size_t>(utc.tm_mon)], utc.tm_year + 1900, utc.tm_hour,
                  utc.tm_min, utc.tm_sec);
}

std::string CHttpUtility::LoginUrl(const std::string& address, bool useSsl) {
    return std::string(useSsl ? "https://" : "http://") + address + kLoginObject;
}

std::string CHttpUtility::LogoutUrl(const std::string& address, bool useSsl) {
    return std::string(useSsl ? "https://" : "http://") + address + kLogoutObject;
}

int CHttpUtility::IsSuccessAuthorize(const std::string& address, const std::string& userName,
                                     const std::string& password, std::uint16_t httpPort,
                                     std::uint16_t httpsPort, bool useSsl) {
    LOG_METHOD();
    LOG_TRACE("Param:" + address + ", " + userName + ", " + kMaskedPassword + ", " +
              std::to_string(httpPort) + ", " + std::to_string(httpsPort) + ", " +
              BoolToString(useSsl));

    if (OpenSession(address, useSsl ? httpsPort : httpPort, useSsl) != 0) {
        LOG_ERROR("Open Session Error");
        return kTransportError;
    }
    CreateLoginPostData(userName, CStringUtility::EncodeBase64(password));

    const int result = SendRequest(kLoginObject);
    if (result != kLoginAccepted) {
        LOG_TRACE("Send Request Error");
        CloseSession();
        return result;
    }
    SendLogoutRequest(kLogoutObject);  // a failed logout does not undo the accepted login
    CloseSession();
    return kLoginAccepted;
}

int CHttpUtility::OpenSession(const std::string& server, std::uint16_t port, bool useSsl) {
    LOG_METHOD();
    CloseSession();
    if (!IsPlainHost(server)) {
        LOG_ERROR("Invalid Server Address. Server:" + server);
        return kTransportError;
    }
    if (port == 0) {
        LOG_ERROR("Invalid Port. Port:0");
        return kTransportError;
    }
    session_ = curl_easy_init();
    if (session_ == nullptr) {
        LOG_ERROR("curl_easy_init() error");
        return kTransportError;
    }
    baseUrl_ = std::string(useSsl ? "https://" : "http://") + server + ":" + std::to_string(port);
    sessionEnd_ =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(options_.SessionLimitMs());

    // The cookie engine keeps the session cookie of the login answer for the logout request.
    curl_easy_setopt(session_, CURLOPT_COOKIEFILE, "");
    curl_easy_setopt(session_, CURLOPT_USERAGENT, kUserAgent);
    curl_easy_setopt(session_, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_0);
    curl_easy_setopt(session_, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(session_, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(session_, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(session_, CURLOPT_CONNECTTIMEOUT_MS, options_.connectTimeoutMs);
    // A stalled send or receive: less than 1 byte per second for the whole transfer time-out.
    curl_easy_setopt(session_, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(session_, CURLOPT_LOW_SPEED_TIME,
                     std::max(1L, options_.transferTimeoutMs / 1000));
    curl_easy_setopt(session_, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(session_, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!options_.caFile.empty())
        curl_easy_setopt(session_, CURLOPT_CAINFO, options_.caFile.c_str());
    if (!options_.useEnvironmentProxy) curl_easy_setopt(session_, CURLOPT_PROXY, "");
    return 0;
}

void CHttpUtility::CloseSession() {
    if (session_ != nullptr) curl_easy_cleanup(session_);
    session_ = nullptr;
    baseUrl_.clear();
}

void CHttpUtility::CreateLoginPostData(const std::string& userName,
                                       const std::string& base64Password) {
    formBody_ = "name=" + userName + "&password=" + base64Password;
}

bool CHttpUtility::Post(const std::string& object, Answer& answer) {
    const std::string url = baseUrl_ + object;
    curl_slist* headers = nullptr;
    // curl writes the line ends itself: the lines go in without "\r\n".
    auto add = [&headers](int kind, const std::string& value) {
        std::string line = MakeHeaderLine(kind, value);
        line.resize(line.size() - 2);
        headers = curl_slist_append(headers, line.c_str());
    };
    add(kHeaderAccept, "text/*");
    add(kHeaderUserAgent, kUserAgent);
    add(kHeaderDate, FormatHttpDate(static_cast<std::int64_t>(std::time(nullptr))));
    add(kHeaderContentType, "application/x-www-form-urlencoded");
    // HTTP/1.0 has no 100-continue; curl would otherwise ask for it on large bodies.
    headers = curl_slist_append(headers, "Expect:");

    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          sessionEnd_ - std::chrono::steady_clock::now())
                          .count();
    if (left <= 0) {
        curl_slist_free_all(headers);
        LOG_ERROR(Format("Request Failed. Time Limit Reached. Limit:%ldms URL:",
                         options_.SessionLimitMs()) +
                  url);
        return false;
    }
    curl_easy_setopt(session_, CURLOPT_TIMEOUT_MS, static_cast<long>(left));

    char errorText[CURL_ERROR_SIZE] = {};
    curl_easy_setopt(session_, CURLOPT_URL, url.c_str());
    curl_easy_setopt(session_, CURLOPT_POST, 1L);
    curl_easy_setopt(session_, CURLOPT_POSTFIELDS, formBody_.data());
    curl_easy_setopt(session_, CURLOPT_POSTFIELDSIZE_LARGE,
                     static_cast<curl_off_t>(formBody_.size()));
    curl_easy_setopt(session_, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(session_, CURLOPT_HEADERFUNCTION, CollectHeader);
    curl_easy_setopt(session_, CURLOPT_HEADERDATA, &answer.headers);
    curl_easy_setopt(session_, CURLOPT_WRITEFUNCTION, StopAtBody);
    curl_easy_setopt(session_, CURLOPT_WRITEDATA, &answer.bodyStarted);
    curl_easy_setopt(session_, CURLOPT_ERRORBUFFER, errorText);

    const CURLcode code = curl_easy_perform(session_);
    curl_easy_setopt(session_, CURLOPT_HTTPHEADER, nullptr);
    curl_easy_setopt(session_, CURLOPT_ERRORBUFFER, nullptr);
    curl_easy_setopt(session_, CURLOPT_HEADERDATA, nullptr);
    curl_easy_setopt(session_, CURLOPT_WRITEDATA, nullptr);
    curl_slist_free_all(headers);

    if (code != CURLE_OK && !(code == CURLE_WRITE_ERROR && answer.bodyStarted)) {
        const std::string text = errorText[0] != '\0' ? errorText : curl_easy_strerror(code);
        if (IsCertificateFailure(code))
            LOG_ERROR("Server Certificate Refused. URL:" + url + " " + text);
        else
            LOG_ERROR(Format("Request Failed. curl:%d ", static_cast<int>(code)) + text);
        return false;
    }
    curl_easy_getinfo(session_, CURLINFO_RESPONSE_CODE, &answer.status);
    return true;
}

int CHttpUtility::SendRequest(const std::string& object) {
    LOG_METHOD();
    LOG_TRACE("Param:" + object);
    if (object.empty()) {
        LOG_ERROR("Invalid Parameter");
        return kTransportError;
    }
    if (session_ == nullptr) {
        LOG_ERROR("Connection not established");
        return kTransportError;
    }
    Answer answer;
    if (!Post(object, answer)) return kTransportError;
    // Without a status line there is nothing to refuse: the answer counts as success.
    if (answer.status == 0) return kLoginAccepted;
    if (answer.status != 200 && answer.status != 302) {
        LOG_TRACE(Format("Response Code:%ld", answer.status));
        return kLoginRefused;
    }
    LOG_TRACE("Response:" + answer.headers);
    if (answer.headers.find("JSESSIONID") == std::string::npos) {
        LOG_TRACE("Can't Find JSESSIONID. Response:" + answer.headers);
        return kLoginRefused;
    }
    return kLoginAccepted;
}

int CHttpUtility::SendLogoutRequest(const std::string& object) {
    LOG_METHOD();
    LOG_TRACE("Param:" + object);
    if (object.empty()) {
        LOG_ERROR("Invalid Parameter");
        return kTransportError;
    }
    if (session_ == nullptr) {
        LOG_ERROR("Connection not established");
        return kTransportError;
    }
    Answer answer;
    if (!Post(object, answer)) return kTransportError;
    if (answer.status != 0 && answer.status != 200 && answer.status != 302 &&
        answer.status != 501) {
        LOG_TRACE(Format("Response Code:%ld", answer.status));
        return kTransportError;
    }
    return 0;
}

}  // namespace tessarine
