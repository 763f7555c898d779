// The server search against the simulated device. Nothing leaves this machine: the loopback
// test sends to 127.0.0.1 over an injected adapter list; the broadcast test runs inside two
// network namespaces made here, joined only by a veth pair.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>

#include "base/app_log.h"
#include "base/string_utility.h"
#include "fakes/test_support.h"
#include "network/blocking_socket_exception.h"
#include "network/devicesim_process.h"
#include "network/search_agent_utility.h"
#include "network/udp_blocking_socket.h"

namespace tessarine {
namespace {

using testing::DeviceSimProcess;

class SearchAgentIntegrationTest : public ::testing::Test {
protected:
    void SetUp() override {
        CAppLog::Get().InitWith(temp_.Path() + "/", "test", true, std::int64_t{64} << 20);
    }
    void TearDown() override { CAppLog::Get().Reset(); }
    std::string Log() const { return testing::ReadFile(CAppLog::Get().LogFilePath()); }

    testing::TempDir temp_;
};

TEST_F(SearchAgentIntegrationTest, KeepsTheModelSkipsOthersAndMovesToTheNextFreePort) {
    DeviceSimProcess device({"search", "--bind", "127.0.0.1", "--port", "0",  //
                             "--device", "netbios=KEEP,ip4=127.0.0.1,http=8080", "--device",
                             "hwname=QZV-9999,netbios=OTHER", "--device",
                             "hwname=qzv-4070,netbios=LOWER", "--device",
                             "hwname=QZV-4070 ,netbios=BLANK", "--raw",
                             "<SERVERRESPONSE><COM><DETAILS><IP4ADRS>1</IP4ADRS>"
                             "<IPV6>x</IPV6></DETAILS></COM></SERVERRESPONSE>"});
    ASSERT_TRUE(device.Ready()) << device.Error();
    const auto searchPort = static_cast<std::uint16_t>(std::stoi(device.Value("port")));

    // The first response port is taken: the search must bind the next one and announce it.
    CUDPBlockingSocket occupant;
    occupant.Create();
    sockaddr_in any{};
    any.sin_family = AF_INET;
    any.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    occupant.Bind(any);
    const std::uint16_t taken = ntohs(occupant.LocalAddress().sin_port);
    ASSERT_LT(taken, 65535);

    FixedNetworkAdapterSource adapters(std::vector<NetworkAdapter>{{"loopback-test", "127.0.0.1"}});
    SearchAgentOptions options;
    options.destinationAddress = "127.0.0.1";
    options.responsePort = taken;
    CSearchAgentUtility search(adapters, options);
    std::vector<CSearchAgentResponse> found;
    EXPECT_EQ(0, search.SearchServers(found, searchPort));

    EXPECT_EQ(taken + 1, search.ResponsePort());
    ASSERT_EQ(1u, found.size());
    EXPECT_EQ("KEEP", found[0].netbiosName);
    EXPECT_EQ("127.0.0.1", found[0].ipv4Address);
    EXPECT_EQ(8080, found[0].httpPort);
    EXPECT_NE(std::string::npos, Log().find("Read <ip6adrs> element Error. Element:IPV6"));
    EXPECT_NE(std::string::npos, Log().find(Utf8ToCp932("レスポンスデータ読込みエラー")));
}

TEST_F(SearchAgentIntegrationTest, NoAdapterGivesAnEmptyResultAndZero) {
    FixedNetworkAdapterSource none(std::vector<NetworkAdapter>{});
    CSearchAgentUtility search(none);
    std::vector<CSearchAgentResponse> found(1);
    EXPECT_EQ(0, search.SearchServers(found, 61000));
    EXPECT_TRUE(found.empty());
}

TEST_F(SearchAgentIntegrationTest, AFloodOfValidAnswersIsCutAtTheKeptLimit) {
    // A free port for the answers: the search binds it, the flood goes to it.
    std::uint16_t port = 0;
    {
        CUDPBlockingSocket probe;
        probe.Create();
        sockaddr_in any{};
        any.sin_family = AF_INET;
        any.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        probe.Bind(any);
        port = ntohs(probe.LocalAddress().sin_port);
    }
    const std::string answer =
        "<SERVERRESPONSE><COM><DETAILS><IP4ADRS>10.0.0.9</IP4ADRS><IP6ADRS>::1</IP6ADRS><HTTP>80</"
        "HTTP>"
        "<HTTPS>443</HTTPS><HWNAME>QZV-4070</HWNAME><NETBIOS>FLOOD</NETBIOS><ROMREV>1</ROMREV>"
        "</DETAILS></COM></SERVERRESPONSE>";
    std::atomic<bool> searching{true};
    // Answers without pause for as long as the search lasts (at most 20 s).
    std::thread flood([&] {
        CUDPBlockingSocket sender;
        sender.Create();
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        to.sin_port = htons(port);
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (searching && std::chrono::steady_clock::now() < end) {
            try {
                sender.SendDatagram(answer.data(), answer.size(), to, 1);
            } catch (const CBlockingSocketException&) {
            }
        }
    });
    FixedNetworkAdapterSource adapters(std::vector<NetworkAdapter>{{"loopback-test", "127.0.0.1"}});
    SearchAgentOptions options;
    options.destinationAddress = "127.0.0.1";
    options.responsePort = port;
    CSearchAgentUtility search(adapters, options);
    std::vector<CSearchAgentResponse> found;
    const int result = search.SearchServers(found, 9);  // the request goes nowhere
    searching = false;
    flood.join();
    EXPECT_EQ(0, result);
    EXPECT_EQ(CSearchAgentUtility::kMaxKeptAnswers, found.size());
    EXPECT_NE(std::string::npos, Log().find("Search Result Full. Search Ended. Count:256"));
}

// Two namespaces joined by a veth pair; removed (with the pair) when the object goes away.
class NamespacePair {
public:
    NamespacePair() {
        const std::string id = std::to_string(getpid() % 100000);
        pc_ = "tess-pc-" + id;
        device_ = "tess-dev-" + id;
        const std::string script =
            "set -e; ip netns add " + pc_ + "; ip netns add " + device_ + "; ip link add tpc" + id +
            " netns " + pc_ + " type veth peer name tdev" + id + " netns " + device_ + "; ip -n " +
            pc_ + " addr add 10.212.0.1/24 dev tpc" + id + "; ip -n " + device_ +
            " addr add 10.212.0.2/24 dev tdev" + id + "; ip -n " + pc_ + " link set tpc" + id +
            " up; ip -n " + device_ + " link set tdev" + id + " up";
        ok_ = std::system(("(" + script + ") >/dev/null 2>&1").c_str()) == 0;
    }
    ~NamespacePair() {
        std::system(("ip netns del " + pc_ + " >/dev/null 2>&1; ip netns del " + device_ +
                     " >/dev/null 2>&1")
                        .c_str());
    }
    bool Ok() const { return ok_; }
    const std::string& Pc() const { return pc_; }
    const std::string& Device() const { return device_; }

private:
    std::string pc_;
    std::string device_;
    bool ok_ = false;
};

// Why the namespace test cannot run here, or "" when it can.
std::string NamespaceUnavailable() {
    if (geteuid() != 0) return "needs root to create network namespaces";
    if (std::system("ip netns list >/dev/null 2>&1") != 0) return "`ip netns` is not available";
    return "";
}

TEST_F(SearchAgentIntegrationTest, BroadcastSearchInsideANetworkNamespace) {
    if (const std::string why = NamespaceUnavailable(); !why.empty()) GTEST_SKIP() << why;
    NamespacePair net;
    ASSERT_TRUE(net.Ok()) << "cannot create the namespaces and the veth pair";
    DeviceSimProcess device(
        {"search", "--bind", "", "--port", "61000", "--device", "netbios=NSDEV"},
        {"ip", "netns", "exec", net.Device()});
    ASSERT_TRUE(device.Ready()) << device.Error();

    // Sockets belong to the namespace of the thread that makes them: the search runs on a
    // thread that has entered the PC's namespace, with the program's own adapter list and the
    // limited broadcast address.
    int result = 1;
    std::string failure;
    std::vector<CSearchAgentResponse> found;
    std::thread searcher([&] {
        const int fd = open(("/var/run/netns/" + net.Pc()).c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0 || setns(fd, CLONE_NEWNET) != 0) {
            failure = "cannot enter the namespace";
            if (fd >= 0) close(fd);
            return;
        }
        close(fd);
        SystemNetworkAdapterSource adapters;
        CSearchAgentUtility search(adapters);
        result = search.SearchServers(found, 61000);
    });
    searcher.join();
    ASSERT_EQ("", failure);
    EXPECT_EQ(0, result);
    ASSERT_EQ(1u, found.size());
    EXPECT_EQ("NSDEV", found[0].netbiosName);
    EXPECT_EQ("10.212.0.2", found[0].ipv4Address);

    // The headless command does the same inside the namespace.
    const char* binary = std::getenv("TESSARINE_BINARY");
    if (binary == nullptr || *binary == '\0') return;
    const std::string command = "ip netns exec " + net.Pc() +
                                " env ALLUSERSPROFILE=" + temp_.Path() + " '" + binary +
                                "' --search 61000";
    FILE* out = popen(command.c_str(), "r");
    ASSERT_NE(nullptr, out);
    std::string printed;
    char chunk[256];
    while (std::fgets(chunk, sizeof chunk, out) != nullptr) printed += chunk;
    EXPECT_EQ(0, pclose(out));
    EXPECT_NE(std::string::npos, printed.find("10.212.0.2\tNSDEV\tQZV-4070")) << printed;
}

}  // namespace
}  // namespace tessarine
