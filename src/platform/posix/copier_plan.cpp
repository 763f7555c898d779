#include "platform/posix/copier_plan.h"

#include <ifaddrs.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstring>

namespace tessarine {

namespace {

constexpr int kRemoteCopiers = 4;
constexpr unsigned kMostLocalCopiers = 4;

bool IsLoopback(const sockaddr* address) {
    if (address->sa_family == AF_INET) {
        const auto* v4 = reinterpret_cast<const sockaddr_in*>(address);
        return (ntohl(v4->sin_addr.s_addr) >> 24) == 127;
    }
    if (address->sa_family == AF_INET6) {
        const auto* v6 = reinterpret_cast<const sockaddr_in6*>(address);
        if (IN6_IS_ADDR_LOOPBACK(&v6->sin6_addr)) return true;
        // ::ffff:127.x.y.z
        return IN6_IS_ADDR_V4MAPPED(&v6->sin6_addr) && v6->sin6_addr.s6_addr[12] == 127;
    }
    return false;
}

bool SameAddress(const sockaddr* a, const sockaddr* b) {
    if (a == nullptr || b == nullptr || a->sa_family != b->sa_family) return false;
    if (a->sa_family == AF_INET)
        return reinterpret_cast<const sockaddr_in*>(a)->sin_addr.s_addr ==
               reinterpret_cast<const sockaddr_in*>(b)->sin_addr.s_addr;
    if (a->sa_family == AF_INET6)
        return std::memcmp(&reinterpret_cast<const sockaddr_in6*>(a)->sin6_addr,
                           &reinterpret_cast<const sockaddr_in6*>(b)->sin6_addr,
                           sizeof(in6_addr)) == 0;
    return false;
}

bool IsInterfaceAddress(const sockaddr* address) {
    ifaddrs* interfaces = nullptr;
    if (::getifaddrs(&interfaces) != 0) return false;
    bool found = false;
    for (const ifaddrs* it = interfaces; it != nullptr && !found; it = it->ifa_next)
        found = SameAddress(it->ifa_addr, address);
    ::freeifaddrs(interfaces);
    return found;
}

}  // namespace

CopierPlan PlanCopiers(bool serverOnThisMachine, unsigned processors) {
    if (!serverOnThisMachine) return CopierPlan{kRemoteCopiers, true};
    return CopierPlan{static_cast<int>(std::clamp(processors, 1u, kMostLocalCopiers)), false};
}

bool IsThisMachine(const std::string& host) {
    std::string name = host;
    // "[::1]" as written in a path
    if (name.size() > 2 && name.front() == '[' && name.back() == ']')
        name = name.substr(1, name.size() - 2);
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (name.empty() || ::getaddrinfo(name.c_str(), nullptr, &hints, &found) != 0) return false;
    bool local = false;
    for (const addrinfo* it = found; it != nullptr && !local; it = it->ai_next)
        local = IsLoopback(it->ai_addr) || IsInterfaceAddress(it->ai_addr);
    ::freeaddrinfo(found);
    return local;
}

unsigned UsableProcessors() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (::sched_getaffinity(0, sizeof(set), &set) == 0)
        return static_cast<unsigned>(std::max(CPU_COUNT(&set), 1));
    return 1;
}

}  // namespace tessarine
