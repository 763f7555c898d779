// One device's answer to the server search. Everything in it comes from an unauthenticated
// datagram: it is shown to the user, never acted on.
#pragma once

#include <cstdint>
#include <string>

namespace tessarine {

struct CSearchAgentResponse {
    std::string ipv4Address;
    std::string ipv6Address;
    std::uint16_t httpPort = 0;
    std::uint16_t httpsPort = 0;
    std::string hardwareName;
    std::string netbiosName;
    std::string firmwareRevision;
};

}  // namespace tessarine
