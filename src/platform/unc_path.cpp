#include "platform/unc_path.h"

#include <cctype>
#include <charconv>

namespace tessarine {

namespace {

constexpr std::string_view kSmbScheme = "smb://";

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(text[i])) !=
            std::tolower(static_cast<unsigned char>(prefix[i])))
            return false;
    }
    return true;
}

bool IsValidHost(std::string_view host) {
    if (host.empty()) return false;
    for (char c : host) {
        const bool ok =
            std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '_';
        if (!ok) return false;
    }
    return true;
}

// A name the share can hold: no control characters, no separators, and none of the characters
// Windows refuses in names (which SMB servers refuse too).
bool IsValidName(std::string_view name) {
    if (name.empty()) return false;
    for (char c : name) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7f) return false;
        switch (c) {
            case '\\':
            case '/':
            case ':':
            case '*':
            case '?':
            case '"':
            case '<':
            case '>':
            case '|':
                return false;
            default:
                break;
        }
    }
    return true;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool PercentDecode(std::string_view text, std::string& out) {
    out.clear();
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out.push_back(text[i]);
            continue;
        }
        if (i + 2 >= text.size()) return false;
        const int high = HexValue(text[i + 1]);
        const int low = HexValue(text[i + 2]);
        if (high < 0 || low < 0) return false;
        out.push_back(static_cast<char>(high * 16 + low));
        i += 2;
    }
    return true;
}

void PercentEncode(std::string_view text, std::string& out) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (std::isalnum(u) || c == '-' || c == '.' || c == '_' || c == '~') {
            out.push_back(c);
        } else {
            out.push_back('%');
            out.push_back(kHex[u >> 4]);
            out.push_back(kHex[u & 0x0f]);
        }
    }
}

}  // namespace

std::string DevicePath::Below() const {
    std::string below;
    for (const auto& part : parts) {
        if (!below.empty()) below.push_back('/');
        below += part;
    }
    return below;
}

bool IsDevicePath(std::string_view text) {
    return text.starts_with("\\\\") || StartsWithNoCase(text, kSmbScheme);
}

bool ParseDevicePath(std::string_view text, DevicePath& out) {
    bool isUrl = false;
    std::string_view rest;
    if (text.starts_with("\\\\")) {
        rest = text.substr(2);
    } else if (StartsWithNoCase(text, kSmbScheme)) {
        rest = text.substr(kSmbScheme.size());
        isUrl = true;
    } else {
        return false;
    }

    size_t hostEnd = 0;
    while (hostEnd < rest.size() && !IsSeparator(rest[hostEnd])) ++hostEnd;
    std::string_view host = rest.substr(0, hostEnd);
    int port = 0;
    if (isUrl) {
        // A query part ("?options") or credentials in the URL are not taken from the user.
        if (text.find('?') != std::string_view::npos) return false;
        if (host.find('@') != std::string_view::npos) return false;
        const size_t colon = host.find(':');
        if (colon != std::string_view::npos) {
            const std::string_view portText = host.substr(colon + 1);
            host = host.substr(0, colon);
            const char* first = portText.data();
            const char* last = portText.data() + portText.size();
            const auto [end, ec] = std::from_chars(first, last, port);
            if (portText.empty() || ec != std::errc() || end != last || port < 1 || port > 65535)
                return false;
        }
    }
    if (!IsValidHost(host)) return false;

    DevicePath parsed;
    parsed.host = std::string(host);
    parsed.port = port;
    size_t pos = hostEnd;
    std::string name;
    while (pos < rest.size()) {
        while (pos < rest.size() && IsSeparator(rest[pos])) ++pos;
        const size_t start = pos;
        while (pos < rest.size() && !IsSeparator(rest[pos])) ++pos;
        if (pos == start) break;
        const std::string_view raw = rest.substr(start, pos - start);
        if (isUrl) {
            if (!PercentDecode(raw, name)) return false;
        } else {
            name.assign(raw);
        }
        if (name == ".") continue;
        if (name == "..") return false;
        if (!IsValidName(name)) return false;
        if (parsed.share.empty())
            parsed.share = name;
        else
            parsed.parts.push_back(name);
    }
    out = std::move(parsed);
    return true;
}

std::string ToUncPath(const DevicePath& path) {
    std::string unc = "\\\\" + path.host;
    if (!path.share.empty()) unc += "\\" + path.share;
    for (const auto& part : path.parts) unc += "\\" + part;
    return unc;
}

std::string ToSmbUrl(const DevicePath& path, int port) {
    std::string url(kSmbScheme);
    url += path.host;
    const int usedPort = path.port != 0 ? path.port : port;
    if (usedPort != 0) {
        url.push_back(':');
        url += std::to_string(usedPort);
    }
    url.push_back('/');
    if (path.share.empty()) return url;
    PercentEncode(path.share, url);
    for (const auto& part : path.parts) {
        url.push_back('/');
        PercentEncode(part, url);
    }
    return url;
}

std::string JoinDevicePath(std::string_view folder, std::string_view relative) {
    while (!relative.empty() && IsSeparator(relative.front())) relative.remove_prefix(1);
    std::string joined(folder);
    if (relative.empty()) return joined;
    while (!joined.empty() && IsSeparator(joined.back()) && joined.size() > 2) joined.pop_back();
    joined.push_back('\\');
    for (char c : relative) joined.push_back(c == '/' ? '\\' : c);
    return joined;
}

}  // namespace tessarine
