// corvane-sim as a process: every kind of exchange through a real pseudo-terminal and a real TCP
// socket, the search and configuration datagrams, hang-ups, aliases and a clean end. Loopback only.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>

#include "tests/sim/sim_test_util.h"
#include "tests/support/sim_process.h"

namespace corvane::sim::test {
namespace {

using corvane::test::kWaitMs;
using corvane::test::SimProcess;
using corvane::test::TempDir;

// A write to a link the emulator closed must fail the test, not kill the test program.
const bool kNoSigPipe = [] {
    signal(SIGPIPE, SIG_IGN);
    return true;
}();

bool WriteAll(int fd, const Bytes& b)
{
    std::size_t done = 0;
    while (done < b.size()) {
        const ssize_t n = write(fd, b.data() + done, b.size() - done);
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

Bytes ReadExactly(int fd, std::size_t count, int timeoutMs = kWaitMs)
{
    Bytes out;
    while (out.size() < count) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, timeoutMs) <= 0)
            break;
        uint8_t buf[512];
        const ssize_t n = read(fd, buf, std::min(sizeof buf, count - out.size()));
        if (n <= 0)
            break;
        out.insert(out.end(), buf, buf + n);
    }
    return out;
}

int OpenSerial(const std::string& path)
{
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return fd;
    termios t{};
    tcgetattr(fd, &t);
    cfmakeraw(&t);
    tcsetattr(fd, TCSANOW, &t);
    return fd;
}

int ConnectTcp(uint16_t port)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

Bytes B(const Frame& f) { return Bytes(f.begin(), f.end()); }

struct Step {
    const char* what;
    Bytes send;
    Bytes reply;
};

Bytes FirmwareData()
{
    Bytes d(256);
    for (std::size_t i = 0; i < d.size(); ++i)
        d[i] = static_cast<uint8_t>(0xC3 ^ i);
    return d;
}

// One exchange of each kind the panel has, in an order a session could take.
std::vector<Step> EveryKindOfExchange()
{
    const Block edid = SealedBlock(Bytes(256, 0x42));
    const Block fw = SealedBlock(FirmwareData());
    auto cat = [](const Frame& f, const Block& b) {
        Bytes out = B(f);
        out.insert(out.end(), b.begin(), b.end());
        return out;
    };
    return {
        {"input signal", B(F({0x01, 0x04, 0x01})), B(F({0x01, 0x04, 0x01, 0x00, 0x00}))},
        {"output signal", B(F({0x01, 0x05, 0x02})), B(F({0x01, 0x05, 0x02, 0x00, 0x00}))},
        {"beep status", B(F({0x01, 0x0B})), B(F({0x01, 0x0B, 0x00, 0x00, 0x00}))},
        {"DVI status", B(F({0x01, 0x0C})), B(F({0x01, 0x0C, 0x00, 0x00, 0x00}))},
        {"beep set", B(F({0x06, 0x01, 0xF0, 0x00, 0x00})), B(F({0x06, 0x01, 0x00, 0x00, 0x00}))},
        {"DVI set", B(F({0x07, 0x01, 0x0F, 0x00, 0x00})), B(F({0x07, 0x01, 0x00, 0x00, 0x00}))},
        {"route query", B(F({0x02, 0x01, 0x01})), B(F({0x02, 0x01, 0x01, 0x00, 0x01}))},
        {"route set", B(F({0x02, 0x03, 0x02, 0x00, 0x01})), B(F({0x02, 0x03, 0x00, 0x00, 0x01}))},
        {"EDID status", B(F({0x01, 0x0C, 0x01})), B(F({0x01, 0x0C, 0x01, 0x00, 0x0F}))},
        {"EDID set request", B(F({0x03, 0x08, 0xF0})), B(F({0x03, 0x08, 0x00}))},
        {"EDID preset", B(F({0x03, 0x02, 0x05, 0xF0, 0x02})), B(F({0x03, 0x02, 0x00, 0x00, 0x02}))},
        {"EDID copy request", B(F({0x03, 0x08, 0xF0, 0, 0, 0, 0, 0, 0xEE})), B(F({0x03, 0x08, 0x00}))},
        {"EDID copy", B(F({0x03, 0x04, 0x01, 0x00, 0x03})), B(F({0x03, 0x04, 0x00, 0x00, 0x03}))},
        {"EDID file request", B(F({0x03, 0x08, 0xF0, 0, 0, 0, 0, 0, 0xBB})), B(F({0x03, 0x08, 0x00}))},
        {"EDID file announce", B(F({0x03, 0x07, 0x01, 0xF0})), B(F({0x03, 0x07, 0xAA, 0x00}))},
        {"EDID file data", cat(F({0x03, 0x07, 0x56, 0x00, 0x00, 0x01}), edid),
         B(F({0x03, 0x07, 0x00, 0x00, 0x00, 0x01}))},
        {"EDID status after file", B(F({0x01, 0x0C, 0x01})), B(F({0x01, 0x0C, 0x01, 0x00, kEdidIndexFile}))},
        {"device type", B(F({0x01, 0x01, 0, 0, 0, 0, 0, 0, 0xCC})), B(F({0x01, 0x01, 0x01, 0, 0, 0, 0, 0, 0xCC}))},
        {"size", B(F({0x01, 0x02, 0, 0, 0, 0, 0, 0, 0xCC})), B(F({0x01, 0x02, 0x04, 0, 0x02, 0, 0, 0, 0xCC}))},
        {"version", B(F({0x01, 0x03, 0, 0, 0, 0, 0, 0, 0xCC})), B(F({0x01, 0x03, 0x01, 0, 0x20, 0, 0, 0, 0xCC}))},
        {"build text", B(F({0x01, 0x06})), B(F({0x01, 0x06, 'S', 'I', 'M', 'B', 'L', 'D', '0', '1'}))},
        {"reset 1", B(F({0x02, 0x03, 0x03, 0x00, 0x01})), B(F({0x02, 0x03, 0x00, 0x00, 0x01}))},
        {"reset 2", B(F({0x0A, 0x06, 0x02, 0x00, 0x01})), B(F({0x0A, 0x06, 0x00, 0x00, 0x01}))},
        {"reset 3", B(F({0x0A, 0x0C, 0x01, 0x00, 0x01})), B(F({0x0A, 0x0C, 0x00, 0x00, 0x01}))},
        {"reset 4", B(F({0x03, 0x08, 0xF0, 0x00, 0x00})), B(F({0x03, 0x08, 0x00}))},
        {"reset 5", B(F({0x03, 0x02, 0x04, 0xF0, 0x03})), B(F({0x03, 0x02, 0x00, 0x00, 0x03}))},
        {"beep restored", B(F({0x01, 0x0B})), B(F({0x01, 0x0B, 0x00, 0x00, 0x00}))},
        {"upgrade request", B(F({0x20, 0x01, 0x01})), B(F({0x20, 0x01, 0xAA}))},
        {"request 0x80", B(F({0x20, 0x01, 0x80, 0, 0, 0, 0, 0, 0xEE})), B(F({0x20, 0x01, 0x00, 0, 0, 0, 0, 0, 0xEE}))},
        {"request 0x10", B(F({0x20, 0x01, 0x10})), B(F({0x20, 0x01, 0x00}))},
        {"last packet", cat(F({0x20, 0x01, 0x56, 0x00, 0x00, 0x01, 0x01, 0x40, 0x00}), fw),
         B(F({0x20, 0x01, 0x00, 0x00, 0x00, 0x01, 0x01, 0x00, 0x00}))},
        {"reboot check", B(F({0x01, 0x01})), B(F({0x01, 0x01, 0x01}))},
    };
}

const std::vector<std::string> kDevice = {"--build", "SIMBLD01", "--reboot-ms", "0", "--quiet"};

std::vector<std::string> With(std::vector<std::string> a, const std::vector<std::string>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

void RunSteps(int fd)
{
    for (const Step& s : EveryKindOfExchange()) {
        SCOPED_TRACE(s.what);
        ASSERT_TRUE(WriteAll(fd, s.send));
        EXPECT_EQ(HexBytes(ReadExactly(fd, s.reply.size())), HexBytes(s.reply));
    }
}

TEST(SimProgram, EveryExchangeOverAPseudoTerminal)
{
    TempDir dir;
    const std::string image = dir.path + "/image.bin";
    SimProcess sim(With({"--serial", "--fw-out", image}, kDevice), dir.path);
    ASSERT_NE(sim.first.find("serial: com200 -> /dev/pts/"), std::string::npos) << sim.first;
    const std::string alias = dir.path + "/com200";
    const int fd = OpenSerial(alias);
    ASSERT_GE(fd, 0) << alias;
    RunSteps(fd);
    close(fd);

    std::ifstream f(image, std::ios::binary);
    const Bytes got((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    EXPECT_EQ(got, FirmwareData());

    EXPECT_EQ(sim.Terminate(), 0);
    struct stat st {};
    EXPECT_NE(lstat(alias.c_str(), &st), 0) << "the alias goes with the emulator";
}

TEST(SimProgram, EveryExchangeOverTcp)
{
    TempDir dir;
    SimProcess sim(With({"--tcp", "127.0.0.1:0"}, kDevice), dir.path);
    const std::string port = sim.Find(R"(tcp: 127\.0\.0\.1:(\d+))");
    ASSERT_FALSE(port.empty()) << sim.first;
    const int fd = ConnectTcp(static_cast<uint16_t>(std::stoi(port)));
    ASSERT_GE(fd, 0);
    RunSteps(fd);
    close(fd);
    EXPECT_EQ(sim.Terminate(), 0);
}

TEST(SimProgram, SerialPortSurvivesThePanelClosingIt)
{
    TempDir dir;
    SimProcess sim(With({"--serial", "com9"}, kDevice), dir.path);
    ASSERT_NE(sim.first.find("serial: com9 -> "), std::string::npos) << sim.first;
    for (int round = 0; round < 3; ++round) {
        const int fd = OpenSerial(dir.path + "/com9");
        ASSERT_GE(fd, 0);
        ASSERT_TRUE(WriteAll(fd, B(F({0x01, 0x04, 0x02}))));
        EXPECT_EQ(ReadExactly(fd, 13), B(F({0x01, 0x04, 0x02, 0x00, 0x00}))) << "round " << round;
        close(fd);
    }
}

TEST(SimProgram, SecondEmulatorTakesTheNextFreeAlias)
{
    TempDir dir;
    SimProcess a(With({"--serial"}, kDevice), dir.path);
    SimProcess b(With({"--serial"}, kDevice), dir.path);
    EXPECT_NE(a.first.find("serial: com200 "), std::string::npos) << a.first;
    EXPECT_NE(b.first.find("serial: com201 "), std::string::npos) << b.first;
    SimProcess c(With({"--serial", "com200"}, kDevice), dir.path);
    EXPECT_NE(c.first.find("com200: in use by another emulator"), std::string::npos) << c.first;
    EXPECT_EQ(c.first.find("serial:"), std::string::npos);
    EXPECT_EQ(c.Wait(), 1);
    // Killed, it leaves its link and lock; the link's target soon belongs to another program
    // (here: another node). The next emulator asking for the number takes it over.
    kill(a.Pid(), SIGKILL);
    a.Wait();
    const std::string link = dir.path + "/com200";
    ASSERT_EQ(unlink(link.c_str()), 0);
    ASSERT_EQ(symlink("/dev/null", link.c_str()), 0);
    SimProcess d(With({"--serial", "com200"}, kDevice), dir.path);
    EXPECT_NE(d.first.find("serial: com200 -> /dev/pts/"), std::string::npos) << d.first;
}

TEST(SimProgram, HangUpClosesThePseudoTerminalAndPublishesAFreshOne)
{
    TempDir dir;
    SimProcess sim(With({"--serial", "--fault", "hangup:01 04 01:1"}, kDevice), dir.path);
    const std::string before = sim.Find(R"(-> (/dev/pts/\d+))");
    ASSERT_FALSE(before.empty()) << sim.first;
    const std::string alias = dir.path + "/com200";
    int fd = OpenSerial(alias);
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(WriteAll(fd, B(F({0x01, 0x04, 0x01}))));
    pollfd p{fd, POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, kWaitMs), 1);
    EXPECT_TRUE(p.revents & (POLLHUP | POLLERR)) << "the panel sees the link lost";
    char c;
    EXPECT_LE(read(fd, &c, 1), 0);
    close(fd);

    const std::string line = sim.ReadLine();
    std::smatch m;
    ASSERT_TRUE(std::regex_search(line, m, std::regex(R"(^serial: com200 -> (/dev/pts/\d+)$)"))) << line;
    char target[256] = {};
    ASSERT_GT(readlink(alias.c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(std::string(target), m[1].str());
    fd = OpenSerial(alias);
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(WriteAll(fd, B(F({0x01, 0x04, 0x01}))));
    EXPECT_EQ(ReadExactly(fd, 13), B(F({0x01, 0x04, 0x01, 0x00, 0x00})));
    close(fd);
}

TEST(SimProgram, HangUpClosesTheTcpConnection)
{
    TempDir dir;
    SimProcess sim(With({"--tcp", "0", "--fault", "hangup:01 0B:1"}, kDevice), dir.path);
    const uint16_t port = static_cast<uint16_t>(std::stoi(sim.Find(R"(tcp: [\d.]+:(\d+))")));
    int fd = ConnectTcp(port);
    ASSERT_TRUE(WriteAll(fd, B(F({0x01, 0x0B}))));
    EXPECT_TRUE(ReadExactly(fd, 13).empty()) << "closed, no reply";
    close(fd);
    fd = ConnectTcp(port);
    ASSERT_TRUE(WriteAll(fd, B(F({0x01, 0x0B}))));
    EXPECT_EQ(ReadExactly(fd, 13), B(F({0x01, 0x0B, 0x00, 0x00, 0x00})));
    close(fd);
}

TEST(SimProgram, LogsEachFrameInHexWithATimeStamp)
{
    TempDir dir;
    SimProcess sim({"--tcp", "0", "--fault", "noise=2:01 04 03"}, dir.path);
    const uint16_t port = static_cast<uint16_t>(std::stoi(sim.Find(R"(tcp: [\d.]+:(\d+))")));
    const int fd = ConnectTcp(port);
    ASSERT_TRUE(WriteAll(fd, Bytes{0x00, 0x11}));
    ASSERT_TRUE(WriteAll(fd, B(F({0x01, 0x04, 0x03}))));
    const Bytes reply = ReadExactly(fd, 15);
    close(fd);
    ASSERT_EQ(reply.size(), 15u);
    const std::regex stamp(R"(^\d\d:\d\d:\d\d\.\d\d\d tcp#1 )");
    const std::string skip = sim.LineWith("skip");
    EXPECT_TRUE(std::regex_search(skip, stamp)) << skip;
    EXPECT_NE(skip.find("skip 00 11"), std::string::npos) << skip;
    const std::string rx = sim.LineWith(" rx ");
    EXPECT_NE(rx.find("rx A5 5B 01 04 03 00 00 00 00 00 00 00 F8"), std::string::npos) << rx;
    const std::string tx = sim.LineWith(" tx ");
    EXPECT_TRUE(std::regex_search(tx, stamp)) << tx;
    EXPECT_NE(tx.find(HexBytes(Bytes(reply.begin() + 2, reply.end())).substr(0, 38)), std::string::npos) << tx;
}

// ---- datagrams ----

struct Udp {
    int fd = -1;
    explicit Udp(const char* host, uint16_t port = 0)
    {
        fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        inet_pton(AF_INET, host, &a.sin_addr);
        if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
            close(fd);
            fd = -1;
        }
    }
    ~Udp()
    {
        if (fd >= 0)
            close(fd);
    }
    void SendTo(uint16_t port, const Bytes& d) const
    {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        sendto(fd, d.data(), d.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof a);
    }
    Bytes Receive() const
    {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, kWaitMs) <= 0)
            return {};
        Bytes d(2048);
        const ssize_t n = recv(fd, d.data(), d.size(), 0);
        d.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
        return d;
    }
};

TEST(SimProgram, SearchAndConfigurationDatagrams)
{
    TempDir dir;
    SimProcess sim(With({"--udp", "127.0.0.1:0,0", "--udp-reply", "source", "--mac", "02:00:00:AB:CD:EF"}, kDevice),
                   dir.path);
    std::smatch m;
    ASSERT_TRUE(std::regex_search(sim.first, m, std::regex(R"(udp: 127\.0\.0\.1:(\d+),(\d+))"))) << sim.first;
    const auto searchPort = static_cast<uint16_t>(std::stoi(m[1].str()));
    const auto configPort = static_cast<uint16_t>(std::stoi(m[2].str()));
    Udp panel("127.0.0.1");
    ASSERT_GE(panel.fd, 0);

    panel.SendTo(searchPort, Bytes{0x61});
    Bytes r = panel.Receive();
    ASSERT_GE(r.size(), 50u);
    EXPECT_EQ(Bytes(r.begin(), r.begin() + 10), (Bytes{0x02, 0x00, 0x00, 0xAB, 0xCD, 0xEF, 127, 0, 0, 1}));
    EXPECT_EQ(r[18], 0x77);
    EXPECT_EQ(r[19], 0x88);

    const Mac current{0x02, 0x00, 0x00, 0xAB, 0xCD, 0xEF};
    const Mac fresh{0x02, 0x00, 0x00, 0x12, 0x34, 0x56};
    panel.SendTo(configPort, ConfigRequest(current, fresh, Ipv4{127, 0, 0, 5}));
    r = panel.Receive();
    ASSERT_EQ(r.size(), kConfigSize);
    EXPECT_EQ(r[74], 0x00);

    panel.SendTo(searchPort, Bytes{0x61});
    r = panel.Receive();
    ASSERT_GE(r.size(), 50u);
    EXPECT_EQ(Bytes(r.begin(), r.begin() + 10), (Bytes{0x02, 0x00, 0x00, 0x12, 0x34, 0x56, 127, 0, 0, 5}));

    Bytes bad = ConfigRequest(fresh, fresh, std::nullopt);
    bad[75] ^= 0xFF;
    panel.SendTo(configPort, bad);
    r = panel.Receive();
    ASSERT_EQ(r.size(), kConfigSize);
    EXPECT_EQ(r[74], 0x01) << "refused";
}

TEST(SimProgram, DatagramRepliesGoToTheWellKnownPortOfTheSender)
{
    TempDir dir;
    // The emulator on 127.0.0.1, the panel on 127.0.0.2 with the same port numbers, as two
    // machines would have them.
    SimProcess sim(With({"--udp", "127.0.0.1:0,0"}, kDevice), dir.path);
    std::smatch m;
    ASSERT_TRUE(std::regex_search(sim.first, m, std::regex(R"(udp: 127\.0\.0\.1:(\d+),(\d+))"))) << sim.first;
    const auto searchPort = static_cast<uint16_t>(std::stoi(m[1].str()));
    Udp panel("127.0.0.2", searchPort);
    ASSERT_GE(panel.fd, 0);
    panel.SendTo(searchPort, Bytes{0x61});
    const Bytes r = panel.Receive();
    ASSERT_GE(r.size(), 50u);
    EXPECT_EQ(r[18], 0x77);
}

TEST(SimProgram, EdidOutCreatesItsFolder)
{
    TempDir dir;
    const std::string out = dir.path + "/edid/new";
    SimProcess sim({"--tcp", "127.0.0.1:0", "--quiet", "--edid-out", out}, dir.path);
    ASSERT_NE(sim.first.find("tcp: 127.0.0.1:"), std::string::npos) << sim.first;
    for (int n = 1; n <= 4; ++n) {
        struct stat st {};
        ASSERT_EQ(stat((out + "/in" + std::to_string(n) + ".bin").c_str(), &st), 0) << n;
        EXPECT_EQ(st.st_size, 256);
    }
    EXPECT_EQ(sim.Terminate(), 0);
    // A folder that cannot be made: one line and exit status 1, not a silent emulator.
    std::ofstream(dir.path + "/plain") << "x";
    SimProcess bad({"--tcp", "127.0.0.1:0", "--edid-out", dir.path + "/plain/edid"}, dir.path);
    EXPECT_NE(bad.first.find("--edid-out " + dir.path + "/plain/edid: "), std::string::npos) << bad.first;
    EXPECT_EQ(bad.Wait(), 1);
}

TEST(SimProgram, HelpAndBadOptions)
{
    TempDir dir;
    SimProcess help({"--help"}, dir.path);
    EXPECT_NE(help.first.find("Usage: corvane-sim"), std::string::npos);
    EXPECT_EQ(help.Wait(), 0);
    SimProcess bad({"--fault", "explode:01"}, dir.path);
    EXPECT_NE(bad.first.find("unknown fault"), std::string::npos) << bad.first;
    EXPECT_EQ(bad.Wait(), 2);
    // A value is shown as text, never as the bytes that would drive the terminal.
    SimProcess escape({"--fault", "\x1b[31mred:01"}, dir.path);
    EXPECT_NE(escape.first.find("\\x1B[31mred"), std::string::npos) << escape.first;
    EXPECT_EQ(escape.first.find('\x1b'), std::string::npos);
    EXPECT_EQ(escape.Wait(), 2);
}

}  // namespace
}  // namespace corvane::sim::test
