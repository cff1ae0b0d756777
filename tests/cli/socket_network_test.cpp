// The TCP control socket and the datagram socket of the programs without windows, on loopback
// against plain sockets of the test: the outcomes of a connect, a large write taken in parts, the
// peer's close, a socket closed from inside its own callback, and datagrams cut to the longest
// the protocol has.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>
#include <optional>
#include <vector>

#include "core/link/network.h"
#include "transport/linked_switcher.h"
#include "transport/socket_network.h"

namespace corvane {
namespace {

constexpr uint32_t kLoopback = 0x7F000001;

// Runs the event loop until done() holds or ms have passed; done()'s last answer.
bool RunUntil(const std::function<bool()>& done, int ms = 5000)
{
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    return done();
}

// A loopback socket of the test's own, bound to a port the system picks.
struct SPeer {
    explicit SPeer(int type)
    {
        fd = socket(AF_INET, type | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(kLoopback);
        socklen_t len = sizeof a;
        bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
        port = ntohs(a.sin_port);
        if (type == SOCK_STREAM)
            listen(fd, 1);
    }
    ~SPeer() { close(fd); }
    int fd = -1;
    uint16_t port = 0;
};

class SocketNetwork : public ::testing::Test {
protected:
    static void SetUpTestSuite() { EnsureCoreApplication(); }
};

TEST_F(SocketNetwork, ConnectOutcomesComeFromTheLoop)
{
    uint16_t closedPort;
    {
        SPeer gone(SOCK_STREAM);
        closedPort = gone.port;
    }
    SPeer server(SOCK_STREAM);
    const struct {
        const char* name;
        uint16_t port;
        bool ok;
        const char* error;
    } cases[] = {
        {"a port nobody listens on", closedPort, false, "Connection refused"},
        {"a listening port", server.port, true, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CSocketTcpControl tcp;
        std::optional<bool> outcome;
        tcp.onConnected = [&](bool ok) { outcome = ok; };
        tcp.Connect(kLoopback, c.port);
        EXPECT_FALSE(outcome) << "told inside Connect";
        ASSERT_TRUE(RunUntil([&] { return outcome.has_value(); }));
        EXPECT_EQ(*outcome, c.ok);
        EXPECT_EQ(tcp.LastError(), c.error);
    }
}

TEST_F(SocketNetwork, LargeWriteArrivesWholeAndThePeersCloseIsToldOnce)
{
    SPeer server(SOCK_STREAM);
    CSocketTcpControl tcp;
    bool connected = false;
    int closed = 0;
    tcp.onConnected = [&](bool ok) { connected = ok; };
    tcp.onClosed = [&] { ++closed; };
    tcp.Connect(kLoopback, server.port);
    ASSERT_TRUE(RunUntil([&] { return connected; }));
    const int peer = accept(server.fd, nullptr, nullptr);
    ASSERT_GE(peer, 0);

    // More than the socket buffers hold: the rest goes out as the peer reads.
    std::vector<uint8_t> block(8 << 20);
    for (std::size_t i = 0; i < block.size(); ++i)
        block[i] = uint8_t(i * 7 + i / 251);
    tcp.Write(block);
    tcp.Write(std::vector<uint8_t>{1, 2, 3});
    std::vector<uint8_t> got;
    ASSERT_TRUE(RunUntil([&] {
        pollfd p{peer, POLLIN, 0};
        while (poll(&p, 1, 0) > 0) {
            uint8_t chunk[65536];
            const ssize_t n = read(peer, chunk, sizeof chunk);
            if (n <= 0)
                break;
            got.insert(got.end(), chunk, chunk + n);
        }
        return got.size() >= block.size() + 3;
    }, 20000));
    block.insert(block.end(), {1, 2, 3});
    EXPECT_TRUE(got == block) << "the bytes differ or are out of order";

    close(peer);
    EXPECT_TRUE(RunUntil([&] { return closed > 0; }));
    RunUntil([] { return false; }, 100);
    EXPECT_EQ(closed, 1);
}

TEST_F(SocketNetwork, ASocketClosedInsideItsReadCallbackReadsNoMore)
{
    SPeer server(SOCK_STREAM);
    CSocketTcpControl tcp;
    bool connected = false;
    int reads = 0, closed = 0;
    tcp.onConnected = [&](bool ok) { connected = ok; };
    tcp.onRead = [&](std::span<const uint8_t>) {
        ++reads;
        tcp.Close();
    };
    tcp.onClosed = [&] { ++closed; };
    tcp.Connect(kLoopback, server.port);
    ASSERT_TRUE(RunUntil([&] { return connected; }));
    const int peer = accept(server.fd, nullptr, nullptr);
    std::vector<uint8_t> lots(4096, 0xA5);
    for (int i = 0; i < 4; ++i)
        ASSERT_EQ(write(peer, lots.data(), lots.size()), ssize_t(lots.size()));
    EXPECT_TRUE(RunUntil([&] { return reads > 0; }));
    RunUntil([] { return false; }, 100);
    EXPECT_EQ(reads, 1);
    EXPECT_EQ(closed, 0) << "a close of our own is no loss of the link";
    close(peer);
}

TEST_F(SocketNetwork, DatagramsReachTheTargetAndLongOnesAreCut)
{
    SPeer listener(SOCK_DGRAM);
    CSocketDatagrams udp;
    ASSERT_TRUE(udp.Bind(0));
    udp.SetTarget(kLoopback);
    const std::vector<uint8_t> search = {0x55, 0xAA, 0x01};
    udp.Broadcast(search, listener.port);
    uint8_t buf[4096];
    sockaddr_in from{};
    socklen_t len = sizeof from;
    pollfd p{listener.fd, POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 5000), 1);
    ASSERT_EQ(recvfrom(listener.fd, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len), ssize_t(search.size()));
    EXPECT_EQ(udp.LastInterfaceCount(), 0);

    // Answers to the socket's own port: one of the longest kept whole, a longer one cut.
    std::vector<std::size_t> sizes;
    udp.onDatagram = [&](std::span<const uint8_t> d) { sizes.push_back(d.size()); };
    const std::vector<uint8_t> longest(kDatagramMax, 1), longer(kDatagramMax + 100, 2);
    sendto(listener.fd, longest.data(), longest.size(), 0, reinterpret_cast<sockaddr*>(&from), len);
    sendto(listener.fd, longer.data(), longer.size(), 0, reinterpret_cast<sockaddr*>(&from), len);
    EXPECT_TRUE(RunUntil([&] { return sizes.size() == 2; }));
    EXPECT_EQ(sizes, (std::vector<std::size_t>{kDatagramMax, kDatagramMax}));
}

}  // namespace
}  // namespace corvane
