#include "platform/system_info.h"

#include <pwd.h>
#include <unistd.h>

namespace tessarine {

namespace {

class PosixSystemInfo : public SystemInfo {
public:
    std::string ComputerName() const override {
        char buffer[256] = {};
        if (gethostname(buffer, sizeof buffer - 1) != 0) return std::string();
        return ComputerNameOfHost(buffer);
    }

    std::string UserName() const override {
        passwd entry{};
        passwd* result = nullptr;
        char buffer[4096];
        if (getpwuid_r(geteuid(), &entry, buffer, sizeof buffer, &result) != 0 || result == nullptr)
            return std::string();
        return entry.pw_name;
    }
};

}  // namespace

const SystemInfo& DefaultSystemInfo() {
    static const PosixSystemInfo info;
    return info;
}

}  // namespace tessarine
