#include "network/blocking_socket_exception.h"

#include <array>
#include <string_view>

namespace tessarine {

namespace {

constexpr std::array<std::string_view, 19> kMessages = {
    "Create Error",
    "Bind Error",
    "Listen Error",
    "Accept Error",
    "Connect Error",
    "Receive Error",
    "Receive Timeout Error",
    "Send Error",
    "Send Timeout Error",
    "Receive Datagram Error",
    "Receive Datagram Timeout Error",
    "Send Datagram Error",
    "Send Datagram Timeout Error",
    "Get Peer Name Error",
    "Get Sock Name Error",
    "Get Host by Name Error",
    "Get Host by Address Error",
    "Get Local Host Name Error",
    "Close Error",
};

}  // namespace

std::string CBlockingSocketException::GetErrorMessage() const {
    const int kind = GetErrorCode();
    if (kind < 0 || static_cast<std::size_t>(kind) >= kMessages.size()) return std::string();
    std::string message(kMessages[static_cast<std::size_t>(kind)]);
    if (socketError_ != 0) message += " Code:#" + std::to_string(socketError_);
    return message;
}

}  // namespace tessarine
