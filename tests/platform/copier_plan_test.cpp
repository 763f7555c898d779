#include "platform/posix/copier_plan.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <ifaddrs.h>
#include <netinet/in.h>

#include <string>

namespace tessarine {
namespace {

TEST(CopierPlanTest, CopiersFollowWhereTheServerIs) {
    struct Case {
        bool local;
        unsigned processors;
        int copiers;
        bool stripe;
    };
    const Case cases[] = {
        {false, 1, 4, true}, {false, 2, 4, true}, {false, 64, 4, true}, {true, 0, 1, false},
        {true, 1, 1, false}, {true, 2, 2, false}, {true, 4, 4, false},  {true, 64, 4, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.local ? "local" : "remote") + " " +
                     std::to_string(c.processors));
        const CopierPlan plan = PlanCopiers(c.local, c.processors);
        EXPECT_EQ(plan.copiers, c.copiers);
        EXPECT_EQ(plan.stripe, c.stripe);
    }
}

// An IPv4 address of one of this machine's interfaces other than loopback, or "".
std::string OwnInterfaceAddress() {
    ifaddrs* interfaces = nullptr;
    if (::getifaddrs(&interfaces) != 0) return {};
    std::string found;
    for (const ifaddrs* it = interfaces; it != nullptr && found.empty(); it = it->ifa_next) {
        if (it->ifa_addr == nullptr || it->ifa_addr->sa_family != AF_INET) continue;
        const auto* v4 = reinterpret_cast<const sockaddr_in*>(it->ifa_addr);
        if ((ntohl(v4->sin_addr.s_addr) >> 24) == 127) continue;
        char text[INET_ADDRSTRLEN] = {};
        if (::inet_ntop(AF_INET, &v4->sin_addr, text, sizeof(text)) != nullptr) found = text;
    }
    ::freeifaddrs(interfaces);
    return found;
}

TEST(CopierPlanTest, TellsThisMachineFromOthers) {
    struct Case {
        std::string host;
        bool local;
    };
    const Case cases[] = {
        {"127.0.0.1", true},
        {"127.4.5.6", true},
        {"localhost", true},
        {"::1", true},
        {"[::1]", true},
        {"::ffff:127.0.0.1", true},
        // TEST-NET-1 and a documentation IPv6 address: never this machine's.
        {"192.0.2.10", false},
        {"2001:db8::5", false},
        {"", false},
        {"[]", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.host);
        EXPECT_EQ(IsThisMachine(c.host), c.local);
    }
    const std::string own = OwnInterfaceAddress();
    if (!own.empty()) {
        EXPECT_TRUE(IsThisMachine(own)) << own;
    }
}

}  // namespace
}  // namespace tessarine
