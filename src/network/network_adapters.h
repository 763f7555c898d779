// The network adapters the server search broadcasts on: a seam, so that tests search over
// loopback or inside a network namespace and never on the machine's own interfaces.
#pragma once

#include <string>
#include <vector>

namespace tessarine {

struct NetworkAdapter {
    std::string name;     // interface name, for the log
    std::string address;  // numeric IPv4 text of the adapter
};

class NetworkAdapterSource {
public:
    virtual ~NetworkAdapterSource() = default;
    // False when the list cannot be read.
    virtual bool ListAdapters(std::vector<NetworkAdapter>& adapters) const = 0;
};

// The system's adapters from getifaddrs: interfaces that are up, not loopback, able to
// broadcast, with their first IPv4 address (IPv6-only adapters are left out).
class SystemNetworkAdapterSource : public NetworkAdapterSource {
public:
    bool ListAdapters(std::vector<NetworkAdapter>& adapters) const override;
};

// A fixed list, for tests and tools.
class FixedNetworkAdapterSource : public NetworkAdapterSource {
public:
    explicit FixedNetworkAdapterSource(std::vector<NetworkAdapter> adapters)
        : adapters_(std::move(adapters)) {}
    bool ListAdapters(std::vector<NetworkAdapter>& adapters) const override {
        adapters = adapters_;
        return true;
    }

private:
    std::vector<NetworkAdapter> adapters_;
};

}  // namespace tessarine
