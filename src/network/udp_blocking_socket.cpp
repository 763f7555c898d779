#include "network/udp_blocking_socket.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "base/app_log.h"
#include "network/blocking_socket_exception.h"

namespace tessarine {

namespace {

// Waits for `events` on the socket: 1 ready, 0 time-out, -1 failure (errno set).
int WaitFor(int socket, short events, int timeoutSeconds) {
    pollfd entry{socket, events, 0};
    for (;;) {
        const int ready = poll(&entry, 1, timeoutSeconds * 1000);
        if (ready < 0 && errno == EINTR) continue;
        return ready > 0 ? 1 : ready;
    }
}

}  // namespace

CUDPBlockingSocket::~CUDPBlockingSocket() {
    if (socket_ >= 0) ::close(socket_);
    socket_ = -1;
}

void CUDPBlockingSocket::Create() {
    LOG_METHOD();
    if (socket_ >= 0) {
        LOG_ERROR("Socket has created");
        throw CBlockingSocketException(CBlockingSocketException::kCreate, 0);
    }
    socket_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (socket_ < 0) {
        const int error = errno;
        LOG_ERROR("socket() error");
        throw CBlockingSocketException(CBlockingSocketException::kCreate, error);
    }
}

void CUDPBlockingSocket::Bind(const sockaddr_in& address) {
    LOG_METHOD();
    if (socket_ < 0) {
        LOG_ERROR("Socket hasn't created");
        throw CBlockingSocketException(CBlockingSocketException::kBind, 0);
    }
    if (::bind(socket_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        const int error = errno;
        LOG_ERROR("bind() error");
        ::close(socket_);
        socket_ = -1;
        throw CBlockingSocketException(CBlockingSocketException::kBind, error);
    }
}

void CUDPBlockingSocket::SetBroadcast() {
    LOG_METHOD();
    if (socket_ < 0) return;
    const int on = 1;
    setsockopt(socket_, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
}

std::size_t CUDPBlockingSocket::SendDatagram(const void* data, std::size_t length,
                                             const sockaddr_in& destination, int timeoutSeconds) {
    LOG_METHOD();
    if (socket_ < 0) {
        LOG_ERROR("Socket hasn't created");
        throw CBlockingSocketException(CBlockingSocketException::kSendDatagram, 0);
    }
    const int ready = WaitFor(socket_, POLLOUT, timeoutSeconds);
    if (ready == 0) {
        LOG_ERROR("Time Limit Expired");
        throw CBlockingSocketException(CBlockingSocketException::kSendDatagramTimeout, 0);
    }
    if (ready < 0) {
        const int error = errno;
        LOG_ERROR("select() error");
        throw CBlockingSocketException(CBlockingSocketException::kSendDatagram, error);
    }
    const ssize_t sent =
        ::sendto(socket_, data, length, 0, reinterpret_cast<const sockaddr*>(&destination),
                 sizeof destination);
    if (sent < 0) {
        const int error = errno;
        LOG_ERROR("sendto() error");
        throw CBlockingSocketException(CBlockingSocketException::kSendDatagram, error);
    }
    return static_cast<std::size_t>(sent);
}

std::size_t CUDPBlockingSocket::ReceiveDatagram(void* buffer, sockaddr_in& sender) {
    LOG_METHOD();
    if (socket_ < 0) {
        LOG_ERROR("Socket hasn't created");
        throw CBlockingSocketException(CBlockingSocketException::kReceiveDatagram, 0);
    }
    const int ready = WaitFor(socket_, POLLIN, kReceiveTimeoutSeconds);
    if (ready == 0) {
        LOG_ERROR("Time Limit Expired");
        throw CBlockingSocketException(CBlockingSocketException::kReceiveDatagramTimeout, 0);
    }
    if (ready < 0) {
        const int error = errno;
        LOG_ERROR("select() error");
        throw CBlockingSocketException(CBlockingSocketException::kReceiveDatagram, error);
    }
    socklen_t senderLength = sizeof sender;
    // MSG_TRUNC reports the datagram's full length, so an over-long one is seen, not cut.
    const ssize_t received = ::recvfrom(socket_, buffer, kMaxDatagramSize, MSG_TRUNC,
                                        reinterpret_cast<sockaddr*>(&sender), &senderLength);
    if (received < 0) {
        const int error = errno;
        LOG_ERROR("recvfrom() error:" + std::to_string(error));
        throw CBlockingSocketException(CBlockingSocketException::kReceiveDatagram, error);
    }
    if (static_cast<std::size_t>(received) > kMaxDatagramSize) {
        errno = EMSGSIZE;
        LOG_ERROR("recvfrom() error:" + std::to_string(EMSGSIZE) +
                  " Size:" + std::to_string(received));
        throw CBlockingSocketException(CBlockingSocketException::kReceiveDatagram, EMSGSIZE);
    }
    return static_cast<std::size_t>(received);
}

void CUDPBlockingSocket::Close() {
    LOG_METHOD();
    if (socket_ < 0) return;
    const int result = ::close(socket_);
    socket_ = -1;
    if (result != 0) {
        const int error = errno;
        LOG_ERROR("closesocket() error");
        throw CBlockingSocketException(CBlockingSocketException::kClose, error);
    }
}

sockaddr_in CUDPBlockingSocket::LocalAddress() const {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    if (socket_ < 0 || getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return sockaddr_in{};
    return address;
}

}  // namespace tessarine
