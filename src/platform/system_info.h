// Names of this computer and of the account running the program.
#pragma once

#include <string>

namespace tessarine {

class SystemInfo {
public:
    virtual ~SystemInfo() = default;
    // The short host name, upper-cased and cut to 15 characters (the NetBIOS form);
    // empty on failure.
    virtual std::string ComputerName() const = 0;
    // The login name of the effective user; empty on failure.
    virtual std::string UserName() const = 0;
};

// The real machine's names.
const SystemInfo& DefaultSystemInfo();

}  // namespace tessarine
