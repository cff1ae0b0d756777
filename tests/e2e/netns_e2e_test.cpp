// The panel's window and two emulator processes on real network links: the panel in a network
// namespace of its own, each switcher in another, each behind its own veth pair. The panel's
// namespace thus has two broadcast-capable interfaces, and a search or a configuration reaches a
// switcher only if its limited broadcast goes out through that switcher's link. Sockets are the
// window's own (default ports, no aimed target); the panel's timers run on the virtual clock.
// Needs root and `ip` (iproute2); it says why it skips where namespaces cannot be made.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <fstream>
#include <regex>
#include <sstream>

#include "panel/config_ip_dlg.h"
#include "core/link/network.h"
#include "tests/e2e/panel_e2e.h"
#include "tests/support/netns.h"

namespace corvane::test {
namespace {

// One emulated switcher on its segment: the panel's side of the veth pair and the switcher's.
struct Segment {
    const char* role;
    const char* panelIf;
    const char* panelAddress;
    const char* address;
    const char* mac;      // as the emulator takes it
    const char* macText;  // as the panel lists it
    const char* signalsPresent;  // --signals
};
// Created in this order, so the segment whose address sorts last in text (192.168.9.x) has the
// lower interface index and is asked first: its answer tends to come first, and the list must
// still put 192.168.10.2 ahead of it, as text order wants (numerically it would come after).
constexpr Segment kSegments[] = {
    {"nine", "sw9", "192.168.9.1", "192.168.9.2", "02:C5:1A:00:09:02", "02C51A000902", "1010:01"},
    {"ten", "sw10", "192.168.10.1", "192.168.10.2", "02:C5:1A:00:10:02", "02C51A001002", "0101:10"},
};
constexpr const Segment& kNine = kSegments[0];
constexpr const Segment& kTen = kSegments[1];

class NetnsEndToEnd : public PanelEndToEnd {
protected:
    void SetUp() override
    {
        if (geteuid() != 0)
            GTEST_SKIP() << "network namespaces and veth pairs need root (CAP_SYS_ADMIN, CAP_NET_ADMIN); "
                            "running as uid "
                         << geteuid();
        ip = IpTool();
        if (ip.empty())
            GTEST_SKIP() << "`ip` (iproute2) not found in /usr/sbin, /sbin, /usr/bin or /bin";
        spaces = std::make_unique<CNamespaces>(ip);
        std::string error;
        panelNs = spaces->Add("panel", error);
        if (panelNs.empty())
            GTEST_SKIP() << "network namespaces cannot be made here: " << error;
        for (const Segment& s : kSegments) {
            simNs.push_back(spaces->Add(s.role, error));
            ASSERT_FALSE(simNs.back().empty()) << error;
        }
        IpIn(panelNs, {"link", "set", "lo", "up"});
        for (std::size_t k = 0; k < std::size(kSegments); ++k) {
            const Segment& s = kSegments[k];
            IpIn(panelNs, {"link", "add", s.panelIf, "type", "veth", "peer", "name", "eth0", "netns", simNs[k]});
            IpIn(panelNs, {"address", "add", std::string(s.panelAddress) + "/24", "dev", s.panelIf});
            IpIn(panelNs, {"link", "set", s.panelIf, "up"});
            IpIn(simNs[k], {"link", "set", "lo", "up"});
            IpIn(simNs[k], {"address", "add", std::string(s.address) + "/24", "dev", "eth0"});
            IpIn(simNs[k], {"link", "set", "eth0", "up"});
        }
        if (HasFailure())
            return;

        // The switchers listen as a real one does: search and configuration on 30600/30601 of
        // every address, answers to the sender's address at those ports, control on port 8000.
        for (std::size_t k = 0; k < std::size(kSegments); ++k) {
            const Segment& s = kSegments[k];
            sims.push_back(std::make_unique<SimProcess>(
                std::vector<std::string>{"--tcp", "0.0.0.0:8000", "--udp", "--ip", s.address, "--mac", s.mac,
                                         "--signals", s.signalsPresent},
                dir.path + "/ports", std::vector<std::string>{ip, "netns", "exec", simNs[k]}));
            ASSERT_NE(sims.back()->first.find("udp: 0.0.0.0:30600,30601"), std::string::npos)
                << s.role << ": " << sims.back()->first;
        }

        PreparePanel();

        inPanel = std::make_unique<CInNamespace>(panelNs);
        ASSERT_TRUE(inPanel->Entered()) << "setns into " << panelNs << ": " << inPanel->error;
        // The window exactly as the program makes it, with its own TCP and UDP sockets.
        dlg = std::make_unique<CCorvaneDlg>(nullptr, clock, op, paths);
        RegisterPages(*dlg);
    }
    void TearDown() override
    {
        dlg.reset();
        // Sockets closed from their own signals are deleted from the event loop.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        inPanel.reset();
        sims.clear();
        spaces.reset();
        PanelEndToEnd::TearDown();
    }

    void IpIn(const std::string& ns, std::vector<std::string> words)
    {
        words.insert(words.begin(), {ip, "-n", ns});
        const RunResult r = RunProgram(words);
        std::string line;
        for (const auto& w : words)
            line += w + " ";
        EXPECT_EQ(r.status, 0) << line << "\n" << r.output;
    }

    // Everything emulator k has printed so far. It prints a datagram or frame before it answers
    // it, so what the panel has seen the answer to is there already.
    const std::string& Log(std::size_t k)
    {
        logs.resize(sims.size());
        for (std::string line = sims[k]->ReadLine(20); !line.empty(); line = sims[k]->ReadLine(20))
            logs[k] += line + "\n";
        return logs[k];
    }
    // Lines of emulator k's log that match the pattern.
    std::vector<std::string> Lines(std::size_t k, const std::string& pattern)
    {
        std::vector<std::string> found;
        std::istringstream in(Log(k));
        const std::regex re(pattern);
        for (std::string line; std::getline(in, line);)
            if (std::regex_search(line, re))
                found.push_back(line);
        return found;
    }

    QStringList Listed() const
    {
        QStringList items;
        auto* list = Ctl<QComboBox>(1060);
        for (int i = 0; i < list->count(); ++i)
            items << list->itemText(i);
        return items;
    }

    std::string ip;
    std::unique_ptr<CNamespaces> spaces;
    std::string panelNs;
    std::vector<std::string> simNs;
    std::vector<std::unique_ptr<SimProcess>> sims;
    std::vector<std::string> logs;
    CVirtualTimers clock;
    std::unique_ptr<CInNamespace> inPanel;
};

TEST_F(NetnsEndToEnd, SearchThroughEveryInterfaceConnectStatusConfigureStatic)
{
    const std::size_t nine = 0, ten = 1;
    Click(1017);  // TCP control
    Click(1046);  // Search
    const QStringList both = {QString(kTen.address), QString(kNine.address)};
    ASSERT_TRUE(WaitFor([&] { return Listed() == both; }))
        << Listed().join(", ").toStdString() << "\n--- nine\n" << Log(nine) << "--- ten\n" << Log(ten);
    EXPECT_EQ(Ctl<QComboBox>(1060)->currentIndex(), 0);
    // Our own request, heard back on the port, and each answer take lines of their own.
    const QStringList rx = Ctl<QPlainTextEdit>(1042)->toPlainText().split(QLatin1Char('\n'));
    EXPECT_GE(rx.count(QStringLiteral("61 ")), 1) << Ctl<QPlainTextEdit>(1042)->toPlainText().toStdString();
    for (const QString& line : rx)
        EXPECT_FALSE(line.startsWith(QStringLiteral("61 ")) && line != QStringLiteral("61 ")) << line.toStdString();
    ASSERT_EQ(dlg->Net().FoundSwitchers.Size(), 2u);
    EXPECT_EQ(dlg->Net().FoundSwitchers.At(0).mac, kTen.macText);
    EXPECT_EQ(dlg->Net().FoundSwitchers.At(1).mac, kNine.macText);

    // Each request went out once through each link: one arrived on each switcher's segment, and
    // each answered the panel's address on that segment.
    for (std::size_t k : {nine, ten}) {
        const Segment& s = kSegments[k];
        EXPECT_EQ(Lines(k, "udp-search rx 61$").size(), 1u) << s.role << "\n" << Log(k);
        EXPECT_EQ(Lines(k, std::string("udp-search tx .* to ") + s.panelAddress + ":30600$").size(), 1u)
            << s.role << "\n" << Log(k);
    }

    // Connect to the first listed switcher and read its status.
    const unsigned heard = dlg->Link().Log().RxFrames();  // the search answers count too
    Click(1045);
    ASSERT_TRUE(WaitFor([this] { return dlg->Link().bTcpConnected; })) << Log(ten);
    EXPECT_EQ(Ctl<QPushButton>(1045)->text(), QStringLiteral("Disconnect"));
    ASSERT_TRUE(WaitFor([&] { return dlg->Link().Log().RxFrames() >= heard + 1 && dlg->Link().bReady; }));  // the beep status
    Click(1024);
    ASSERT_TRUE(WaitFor([&] { return !Text(1029).isEmpty() && dlg->Link().bReady; })) << Log(ten);
    // That switcher's signals (0101:10), not the other one's (1010:01).
    EXPECT_EQ(Text(1026), QStringLiteral("INPUT 1: Disconnect"));
    EXPECT_EQ(Text(1027), QStringLiteral("INPUT 2: Connect"));
    EXPECT_EQ(Text(1028), QStringLiteral("INPUT 3: Disconnect"));
    EXPECT_EQ(Text(1029), QStringLiteral("INPUT 4: Connect"));
    EXPECT_EQ(Text(1034), QStringLiteral("OUTPUT1: Connect"));
    EXPECT_EQ(Text(1035), QStringLiteral("OUTPUT2: Disconnect"));
    EXPECT_EQ(Lines(ten, std::string("tcp#1 -- connected from ") + kTen.panelAddress + ":").size(), 1u) << Log(ten);
    EXPECT_GE(Lines(ten, "tcp#1 rx ").size(), 2u) << Log(ten);  // beep status, then the status queries
    EXPECT_TRUE(Lines(nine, "tcp#").empty()) << Log(nine);

    // The operator picks the other switcher and gives it a static address that sorts first.
    auto* list = Ctl<QComboBox>(1060);
    const int pick = list->findText(QString(kNine.address));
    list->setCurrentIndex(pick);
    emit list->activated(pick);
    EXPECT_EQ(dlg->Net().SwitcherMacText, kNine.macText);
    std::vector<std::string> shown;
    dlg->SetConfigDialogRunner([&](CConfigIPDlg& d) {
        for (int k = 0; k < 4; ++k)
            shown.push_back(d.IpField(k)->text().toStdString());
        for (int k = 0; k < 6; ++k)
            shown.push_back(d.MacField(k)->text().toStdString());
        qobject_cast<QAbstractButton*>(d.Item(CConfigIPDlg::IDC_STATIC_IP))->click();
        const char* next[] = {"192", "168", "1", "50"};
        for (int k = 0; k < 4; ++k)
            d.IpField(k)->setText(QString(next[k]));
        qobject_cast<QAbstractButton*>(d.Item(CConfigIPDlg::IDC_OK))->click();
        return d.result();
    });
    Click(1047);
    EXPECT_EQ(shown, (std::vector<std::string>{"192", "168", "9", "2", "02", "C5", "1A", "00", "09", "02"}));
    EXPECT_EQ(op.StatusText(), "Configuring");

    // Accepted, and the search that follows lists it under its new address.
    const QStringList after = {QStringLiteral("192.168.1.50"), QString(kTen.address)};
    ASSERT_TRUE(WaitFor([&] { return Listed() == after; }))
        << Listed().join(", ").toStdString() << "\n--- nine\n" << Log(nine) << "--- ten\n" << Log(ten);
    EXPECT_EQ(dlg->Net().FoundSwitchers.At(0).mac, kNine.macText);
    EXPECT_EQ(dlg->Net().FoundSwitchers.At(1).mac, kTen.macText);
    // The search dropped the control link.
    EXPECT_FALSE(dlg->Link().bTcpConnected);
    EXPECT_EQ(Ctl<QPushButton>(1045)->text(), QStringLiteral("Connect"));
    clock.Advance(900);
    EXPECT_EQ(op.StatusText(), "Configure successfully!");
    clock.Advance(900);
    EXPECT_FALSE(op.StatusOpen());
    EXPECT_EQ(op.Messages(), std::vector<std::string>{});

    // The request crossed both links; the switcher it named took it and answered on its own
    // segment, the other one heard it and kept quiet.
    EXPECT_EQ(Lines(nine, "udp-config rx ").size(), 1u) << Log(nine);
    EXPECT_EQ(Lines(nine, "network: static 192\\.168\\.1\\.50, MAC 02:C5:1A:00:09:02").size(), 1u) << Log(nine);
    EXPECT_EQ(Lines(nine, std::string("udp-config tx .* to ") + kNine.panelAddress + ":30601$").size(), 1u)
        << Log(nine);
    EXPECT_EQ(Lines(ten, "udp-config rx ").size(), 1u) << Log(ten);
    EXPECT_EQ(Lines(ten, "udp-config -- no reply").size(), 1u) << Log(ten);
    EXPECT_TRUE(Lines(ten, "udp-config tx").empty()) << Log(ten);
    for (std::size_t k : {nine, ten})
        EXPECT_EQ(Lines(k, "udp-search rx 61$").size(), 2u) << kSegments[k].role << "\n" << Log(k);
}

// Resident memory of this process in kB.
long ResidentKb()
{
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// A host on the switchers' segment floods the panel's search and configuration ports with
// datagrams of 1,024 bytes, a third of them shaped like search answers with ever new MACs: the
// panel's memory stays flat, and it still searches and connects afterwards.
TEST_F(NetnsEndToEnd, FloodOfDatagramsLeavesMemoryFlat)
{
    Click(1017);
    Click(1046);
    ASSERT_TRUE(WaitFor([&] { return Listed().size() == 2; }));
    // Settle the pane and the list at their full size once, so what follows measures growth.
    for (int round = 0; round < 2; ++round)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    const long before = ResidentKb();

    const int count = std::getenv("CORVANE_FLOOD_COUNT") ? std::atoi(std::getenv("CORVANE_FLOOD_COUNT")) : 100000;
    const pid_t flooder = fork();
    if (flooder == 0) {
        const int ns = open(("/run/netns/" + simNs[0]).c_str(), O_RDONLY | O_CLOEXEC);
        if (ns < 0 || setns(ns, CLONE_NEWNET) != 0)
            _exit(2);
        const int s = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        inet_pton(AF_INET, kNine.panelAddress, &to.sin_addr);
        uint8_t d[1024] = {};
        for (int i = 0; i < count; ++i) {
            d[3] = uint8_t(i >> 16), d[4] = uint8_t(i >> 8), d[5] = uint8_t(i);
            d[6] = 10, d[8] = uint8_t(i >> 8), d[9] = uint8_t(i);
            d[18] = i % 3 == 0 ? 0x77 : 0x00;
            d[19] = i % 3 == 0 ? 0x88 : 0x00;
            to.sin_port = htons(i % 2 ? kConfigPort : kSearchPort);
            sendto(s, d, sizeof d, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
            if (i % 16 == 15)
                usleep(1000);  // a pace the panel keeps up with in good part, so it works all along
        }
        _exit(0);
    }
    ASSERT_GT(flooder, 0);
    long peak = before;
    int status = 0;
    ASSERT_TRUE(WaitFor(
        [&] {
            peak = std::max(peak, ResidentKb());
            return waitpid(flooder, &status, WNOHANG) == flooder;
        },
        120000));
    WaitFor([] { return false; }, 300);  // what is still queued
    peak = std::max(peak, ResidentKb());
    EXPECT_EQ(status, 0);
    EXPECT_GT(dlg->Net().FoundSwitchers.Dropped(), 1000u) << "the panel took too few of the datagrams to tell";
#ifndef __SANITIZE_ADDRESS__  // AddressSanitizer keeps freed memory in quarantine: no bound to see
    EXPECT_LT(peak - before, 16 * 1024) << "kB grown: " << before << " -> " << peak;
#endif
    std::printf("flood: %ld kB -> peak %ld kB; %zu listed answers beyond the list\n", before, peak,
                dlg->Net().FoundSwitchers.Dropped());

    // Still a panel: a new search lists both switchers, and a connect works.
    Click(1046);
    const QStringList both = {QString(kTen.address), QString(kNine.address)};
    ASSERT_TRUE(WaitFor([&] { return Listed() == both; })) << Listed().join(", ").toStdString();
    Click(1045);
    EXPECT_TRUE(WaitFor([this] { return dlg->Link().bTcpConnected; }));
}

// corvanectl in the panel's namespace, with a real broadcast: Linux loops the request back to
// its own socket, which must not count as the switcher's refusal.
TEST_F(NetnsEndToEnd, CorvanectlConfigByBroadcast)
{
    dlg.reset();  // the window's sockets stay out of the way
    auto ctl = [&](std::vector<std::string> args) {
        args.insert(args.begin(), {ip, "netns", "exec", panelNs, CORVANECTL_PATH});
        return RunProgram(args);
    };
    const RunResult accepted = ctl({"config", "--mac", kTen.mac, "--static", "192.168.10.50"});
    EXPECT_EQ(accepted.status, 0) << accepted.output << Log(1);
    EXPECT_NE(accepted.output.find("192.168.10.50"), std::string::npos) << accepted.output;
    const RunResult listed = ctl({"search", "--wait", "1000"});
    EXPECT_EQ(listed.status, 0) << listed.output;
    EXPECT_NE(listed.output.find("192.168.10.50\t02:C5:1A:00:10:02"), std::string::npos) << listed.output;

    // .255 is the segment's broadcast address: the switcher refuses it.
    const RunResult refused = ctl({"config", "--mac", kNine.mac, "--static", "192.168.9.255"});
    EXPECT_EQ(refused.status, 1) << refused.output;
    EXPECT_NE(refused.output.find("refused"), std::string::npos) << refused.output;
}

// corvanectl --all in the panel's namespace: the search goes out through both links, and the
// command reaches each switcher that answered over its own TCP link, in the list's order.
TEST_F(NetnsEndToEnd, CorvanectlAllStatus)
{
    dlg.reset();
    const RunResult r =
        RunProgram({ip, "netns", "exec", panelNs, CORVANECTL_PATH, "--all", "--wait", "1000", "status", "--json"});
    EXPECT_EQ(r.status, 0) << r.output << Log(0) << Log(1);
    std::istringstream lines(r.output);
    std::vector<std::string> records;
    for (std::string line; std::getline(lines, line);)
        records.push_back(line);
    ASSERT_EQ(records.size(), 2u) << r.output;
    // Text order: 192.168.10.2 before 192.168.9.2; each with its own signals.
    EXPECT_EQ(records[0].rfind(std::string("{\"host\":\"") + kTen.address + "\",\"ok\":true,\"exit\":0,", 0), 0u)
        << records[0];
    EXPECT_NE(records[0].find("{\"input\":1,\"signal\":false,"), std::string::npos) << records[0];
    EXPECT_EQ(records[1].rfind(std::string("{\"host\":\"") + kNine.address + "\",\"ok\":true,\"exit\":0,", 0), 0u)
        << records[1];
    EXPECT_NE(records[1].find("{\"input\":1,\"signal\":true,"), std::string::npos) << records[1];
    for (std::size_t k : {0u, 1u})
        EXPECT_EQ(Lines(k, std::string("tcp#1 -- connected from ") + kSegments[k].panelAddress + ":").size(), 1u)
            << Log(k);
}

}  // namespace
}  // namespace corvane::test
