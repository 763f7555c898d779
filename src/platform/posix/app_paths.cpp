#include "platform/app_paths.h"

#include <limits.h>
#include <pwd.h>
#include <stdlib.h>
#include <unistd.h>

namespace tessarine {

namespace {

constexpr char kCompanyFolder[] = "corvane/";
constexpr char kProductFolder[] = "Tessarine Tool/";

std::string WithSlash(std::string path) {
    if (!path.empty() && path.back() != '/') path += '/';
    return path;
}

// The folder that plays the role of the all-users profile folder.
std::string ProfileRoot() {
    std::string value;
    if (GetEnvironmentValue("ALLUSERSPROFILE", value) && !value.empty()) return WithSlash(value);
    if (GetEnvironmentValue("XDG_DATA_HOME", value) && !value.empty()) return WithSlash(value);
    std::string home;
    if (!GetEnvironmentValue("HOME", home) || home.empty()) {
        if (const passwd* entry = getpwuid(geteuid()); entry != nullptr && entry->pw_dir != nullptr)
            home = entry->pw_dir;
    }
    if (home.empty()) return std::string();
    return WithSlash(home) + ".local/share/";
}

}  // namespace

bool GetEnvironmentValue(const char* name, std::string& value) {
    const char* found = getenv(name);
    if (found == nullptr) return false;
    value = found;
    return true;
}

std::string GetDataParentFolderPath() {
    const std::string root = ProfileRoot();
    return root.empty() ? std::string() : root + kCompanyFolder;
}

std::string GetDataFolderPath() {
    const std::string parent = GetDataParentFolderPath();
    return parent.empty() ? std::string() : parent + kProductFolder;
}

std::string GetExecutablePath() {
    char buffer[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (length <= 0) return std::string();
    return std::string(buffer, static_cast<std::size_t>(length));
}

std::string GetExecutableTitle() {
    std::string path = GetExecutablePath();
    if (path.empty()) return path;
    const std::size_t slash = path.rfind('/');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const std::size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0) name.resize(dot);
    return name;
}

}  // namespace tessarine
