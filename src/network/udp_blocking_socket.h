// A small blocking IPv4 UDP socket for the server search. Every failure is thrown as a
// CBlockingSocketException carrying the socket error of the moment; the object is used by one
// thread at a time.
#pragma once

#include <netinet/in.h>

#include <cstddef>

namespace tessarine {

class CUDPBlockingSocket {
public:
    // Datagrams longer than this are refused by ReceiveDatagram.
    static constexpr std::size_t kMaxDatagramSize = 8192;
    static constexpr int kReceiveTimeoutSeconds = 1;

    CUDPBlockingSocket() = default;
    // Closes an open socket without reporting a failure.
    ~CUDPBlockingSocket();
    CUDPBlockingSocket(const CUDPBlockingSocket&) = delete;
    CUDPBlockingSocket& operator=(const CUDPBlockingSocket&) = delete;

    bool IsCreated() const { return socket_ >= 0; }

    // Kind 0 when a socket already exists (it stays) or cannot be made.
    void Create();
    // Kind 1; the socket is closed afterwards, so Create can be called again.
    void Bind(const sockaddr_in& address);
    // Allows sending to broadcast addresses; nothing without a socket.
    void SetBroadcast();
    // Waits up to `timeoutSeconds` for the socket to be writable, then sends one datagram.
    // Kind 12 on the time-out, 11 for any other failure. Returns the bytes sent.
    std::size_t SendDatagram(const void* data, std::size_t length, const sockaddr_in& destination,
                             int timeoutSeconds);
    // Waits up to 1 second for a datagram and receives it into `buffer` (kMaxDatagramSize
    // bytes). Kind 10 on the time-out; kind 9 for any other failure, with EMSGSIZE for a
    // datagram longer than kMaxDatagramSize (which is then dropped).
    std::size_t ReceiveDatagram(void* buffer, sockaddr_in& sender);
    // Kind 18 when closing fails; the socket is forgotten in any case.
    void Close();
    // The bound local address (port in network order); zero when it cannot be read.
    sockaddr_in LocalAddress() const;

private:
    int socket_ = -1;
};

}  // namespace tessarine
