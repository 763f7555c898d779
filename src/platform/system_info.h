// Names of this computer and of the account running the program.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tessarine {

class SystemInfo {
public:
    virtual ~SystemInfo() = default;
    // The host's computer name (ComputerNameOfHost of the host name); empty on failure.
    virtual std::string ComputerName() const = 0;
    // The login name of the effective user; empty on failure.
    virtual std::string UserName() const = 0;
};

// The longest computer name: the device's files and the file lists carry it (the NetBIOS form).
inline constexpr std::size_t kMaxComputerName = 15;

// The computer name of a host name: the part before the first dot, upper-cased (ASCII). A name
// of at most 15 bytes is that text itself. A longer one would lose its end, so that hosts such
// as "desk-floor2-0001" and "desk-floor2-0002" would share a name and take each other's files
// and results: it becomes its first 8 bytes (no UTF-8 character cut), "-" and 6 characters of
// a hash of the whole upper-cased name (Crockford base 32), 15 bytes at most. The hash is part
// of what the device keeps: it never changes between versions.
std::string ComputerNameOfHost(std::string_view hostName);

// The real machine's names.
const SystemInfo& DefaultSystemInfo();

}  // namespace tessarine
