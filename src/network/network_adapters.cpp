#include "network/network_adapters.h"

#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <sys/socket.h>

#include <algorithm>

#include "base/app_log.h"

namespace tessarine {

bool SystemNetworkAdapterSource::ListAdapters(std::vector<NetworkAdapter>& adapters) const {
    LOG_METHOD();
    adapters.clear();
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) {
        LOG_ERROR("getifaddrs() error");
        return false;
    }
    for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET) continue;
        const unsigned flags = entry->ifa_flags;
        if ((flags & IFF_UP) == 0 || (flags & IFF_LOOPBACK) != 0 || (flags & IFF_BROADCAST) == 0)
            continue;
        const std::string name = entry->ifa_name != nullptr ? entry->ifa_name : "";
        // The first IPv4 address of each adapter.
        if (std::any_of(adapters.begin(), adapters.end(),
                        [&name](const NetworkAdapter& a) { return a.name == name; }))
            continue;
        char host[NI_MAXHOST] = {};
        if (getnameinfo(entry->ifa_addr, sizeof(sockaddr_in), host, sizeof host, nullptr, 0,
                        NI_NUMERICHOST) != 0)
            continue;
        adapters.push_back({name, host});
        LOG_TRACE("Adapter:" + name + " Address:" + host);
    }
    freeifaddrs(list);
    return true;
}

}  // namespace tessarine
