// The UDP socket over loopback only: nothing here is sent beyond 127.0.0.1.
#include "network/udp_blocking_socket.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <string>

#include "network/blocking_socket_exception.h"

namespace tessarine {
namespace {

sockaddr_in Loopback(std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

// Runs `operation` and returns the kind and socket error it threw; {-1, -1} when it did not.
template <typename Operation>
std::pair<int, int> Thrown(Operation operation) {
    try {
        operation();
    } catch (const CBlockingSocketException& e) {
        return {e.GetErrorCode(), e.GetSocketError()};
    }
    return {-1, -1};
}

struct BoundSocket {
    BoundSocket() {
        socket.Create();
        socket.Bind(Loopback(0));
        address = socket.LocalAddress();
    }
    CUDPBlockingSocket socket;
    sockaddr_in address{};
};

TEST(BlockingSocketExceptionTest, MessageCarriesTheSocketErrorOnlyWhenThereIsOne) {
    EXPECT_EQ("Bind Error Code:#98", CBlockingSocketException(1, 98).GetErrorMessage());
    EXPECT_EQ("Receive Datagram Timeout Error", CBlockingSocketException(10, 0).GetErrorMessage());
    EXPECT_EQ("Close Error", CBlockingSocketException(18, 0).GetErrorMessage());
    EXPECT_EQ("", CBlockingSocketException(19, 5).GetErrorMessage());
    EXPECT_EQ("", CBlockingSocketException(-1, 0).GetErrorMessage());
}

TEST(UDPBlockingSocketTest, SecondCreateFailsAndKeepsTheFirstSocket) {
    BoundSocket receiver;
    EXPECT_EQ((std::pair{0, 0}), Thrown([&] { receiver.socket.Create(); }));
    ASSERT_TRUE(receiver.socket.IsCreated());
    EXPECT_EQ(receiver.address.sin_port, receiver.socket.LocalAddress().sin_port);
}

TEST(UDPBlockingSocketTest, BindToAPortInUseFailsWithAddressInUseAndDropsTheSocket) {
    BoundSocket first;
    CUDPBlockingSocket second;
    second.Create();
    EXPECT_EQ((std::pair{1, EADDRINUSE}), Thrown([&] { second.Bind(first.address); }));
    EXPECT_FALSE(second.IsCreated());
    second.Create();  // can be made again
    EXPECT_TRUE(second.IsCreated());
}

TEST(UDPBlockingSocketTest, OperationsWithoutSocketFail) {
    CUDPBlockingSocket socket;
    char buffer[CUDPBlockingSocket::kMaxDatagramSize];
    sockaddr_in sender{};
    const sockaddr_in to = Loopback(9);
    EXPECT_NO_THROW(socket.SetBroadcast());
    EXPECT_NO_THROW(socket.Close());
    EXPECT_EQ((std::pair{1, 0}), Thrown([&] { socket.Bind(to); }));
    EXPECT_EQ((std::pair{11, 0}), Thrown([&] { socket.SendDatagram("x", 1, to, 1); }));
    EXPECT_EQ((std::pair{9, 0}), Thrown([&] { socket.ReceiveDatagram(buffer, sender); }));
}

TEST(UDPBlockingSocketTest, ReceiveTimesOutAfterOneSilentSecond) {
    BoundSocket receiver;
    char buffer[CUDPBlockingSocket::kMaxDatagramSize];
    sockaddr_in sender{};
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ((std::pair{10, 0}), Thrown([&] { receiver.socket.ReceiveDatagram(buffer, sender); }));
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(950));
    EXPECT_LT(waited, std::chrono::milliseconds(3000));
}

TEST(UDPBlockingSocketTest, DatagramsUpToTheLimitArriveWholeLongerOnesAreRefused) {
    BoundSocket receiver;
    BoundSocket sender;
    const std::string exact(CUDPBlockingSocket::kMaxDatagramSize, 'a');
    const std::string tooLong(CUDPBlockingSocket::kMaxDatagramSize + 1, 'b');
    EXPECT_EQ(tooLong.size(),
              sender.socket.SendDatagram(tooLong.data(), tooLong.size(), receiver.address, 1));
    EXPECT_EQ(exact.size(),
              sender.socket.SendDatagram(exact.data(), exact.size(), receiver.address, 1));

    std::string buffer(CUDPBlockingSocket::kMaxDatagramSize, '\0');
    sockaddr_in from{};
    EXPECT_EQ((std::pair{9, EMSGSIZE}),
              Thrown([&] { receiver.socket.ReceiveDatagram(buffer.data(), from); }));
    ASSERT_EQ(exact.size(), receiver.socket.ReceiveDatagram(buffer.data(), from));
    EXPECT_EQ(exact, buffer);
    EXPECT_EQ(sender.address.sin_port, from.sin_port);
}

TEST(UDPBlockingSocketTest, LimitedBroadcastIsRefusedWithoutSetBroadcast) {
    // Without SO_BROADCAST the kernel refuses before anything is sent.
    BoundSocket sender;
    sockaddr_in broadcast = Loopback(61000);
    broadcast.sin_addr.s_addr = htonl(INADDR_BROADCAST);
    const auto [kind, error] = Thrown([&] { sender.socket.SendDatagram("x", 1, broadcast, 1); });
    EXPECT_EQ(11, kind);
    EXPECT_NE(0, error);
}

TEST(UDPBlockingSocketTest, CloseForgetsTheSocket) {
    BoundSocket receiver;
    receiver.socket.Close();
    EXPECT_FALSE(receiver.socket.IsCreated());
    EXPECT_NO_THROW(receiver.socket.Close());
}

}  // namespace
}  // namespace tessarine
