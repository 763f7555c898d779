#include "fakes/tcp_relay.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace tessarine::testing {

namespace {

sockaddr_in Loopback(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    return address;
}

int ConnectTo(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in address = Loopback(port);
    if (fd >= 0 && ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0)
        return fd;
    if (fd >= 0) ::close(fd);
    return -1;
}

bool SendAll(int fd, const char* data, std::size_t count) {
    while (count > 0) {
        const ssize_t sent = ::send(fd, data, count, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) continue;
        if (sent <= 0) return false;
        data += sent;
        count -= static_cast<std::size_t>(sent);
    }
    return true;
}

}  // namespace

TcpRelay::TcpRelay(int serverPort, std::uint64_t bytes, std::function<bool()> act)
    : serverPort_(serverPort), bytes_(bytes), act_(std::move(act)) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = Loopback(0);
    socklen_t length = sizeof(address);
    if (listener_ < 0 ||
        ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        ::listen(listener_, 64) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return;
    port_ = ntohs(address.sin_port);
    acceptor_ = std::thread([this] { Accept(); });
}

TcpRelay::~TcpRelay() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        for (const auto& link : links_)
            for (const int fd : {link->client, link->server})
                if (fd >= 0) ::shutdown(fd, SHUT_RDWR);
    }
    ended_.notify_all();
    if (listener_ >= 0) ::shutdown(listener_, SHUT_RDWR);  // accept returns
    if (acceptor_.joinable()) acceptor_.join();
    for (std::thread& passer : passers_) passer.join();
    for (const auto& link : links_)
        for (const int fd : {link->client, link->server})
            if (fd >= 0) ::close(fd);
    if (listener_ >= 0) ::close(listener_);
}

bool TcpRelay::Acted() const {
    std::lock_guard lock(mutex_);
    return acted_;
}

void TcpRelay::Accept() {
    for (;;) {
        const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0 && errno == EINTR) continue;
        if (client < 0) return;
        auto link = std::make_unique<Link>();
        link->client = client;
        std::lock_guard lock(mutex_);
        if (stopping_) {
            ::close(client);
            return;
        }
        // A frozen server's kernel still takes connections; nothing answers on them.
        if (!frozen_) link->server = ConnectTo(serverPort_);
        if (link->server >= 0) {
            Link& joined = *link;
            passers_.emplace_back(
                [this, &joined] { Pass(joined.client, joined.server, &joined.sent); });
            passers_.emplace_back([this, &joined] { Pass(joined.server, joined.client, nullptr); });
        }
        links_.push_back(std::move(link));
    }
}

void TcpRelay::Pass(int from, int to, std::uint64_t* sent) {
    std::vector<char> buffer(64 * 1024);
    for (;;) {
        const ssize_t got = ::recv(from, buffer.data(), buffer.size(), 0);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0 || !MayPass(sent, static_cast<std::size_t>(got)) ||
            !SendAll(to, buffer.data(), static_cast<std::size_t>(got)))
            break;
    }
    ::shutdown(to, SHUT_WR);  // the end passes on
}

bool TcpRelay::MayPass(std::uint64_t* sent, std::size_t count) {
    std::unique_lock lock(mutex_);
    if (sent != nullptr && !acted_) {
        *sent += count;
        if (*sent >= bytes_) {
            acted_ = true;
            frozen_ = act_();
        }
    }
    ended_.wait(lock, [&] { return stopping_ || !frozen_; });
    return !stopping_;
}

}  // namespace tessarine::testing
