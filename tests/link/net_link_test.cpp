// The TCP control states, the search and the network configuration against fake sockets, the
// switcher model answering the datagrams, on the virtual clock.
#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <optional>
#include <vector>

#include "core/link/net_link.h"
#include "platform/scripted_notices.h"
#include "sim/switcher.h"

namespace corvane {
namespace {

using Bytes = std::vector<uint8_t>;

struct FakeTcp : ITcpControl {
    std::vector<std::pair<uint32_t, uint16_t>> connects;
    int closes = 0;
    std::vector<Bytes> writes;
    void Connect(uint32_t ip, uint16_t port) override { connects.push_back({ip, port}); }
    void Close() override { ++closes; }
    void Write(std::span<const uint8_t> b) override { writes.emplace_back(b.begin(), b.end()); }
};

// The UDP socket with the switchers on the other side of the broadcast.
struct FakeUdp : IDatagramSocket {
    std::optional<uint16_t> bound;
    bool failBind = false;
    std::vector<std::pair<Bytes, uint16_t>> sent;
    std::vector<sim::CSwitcher*> switchers;
    std::deque<Bytes> inbox;  // replies not yet delivered
    bool Bind(uint16_t port) override
    {
        bound.reset();
        if (failBind)
            return false;
        bound = port;
        return true;
    }
    void Close() override { bound.reset(), inbox.clear(); }
    void Broadcast(std::span<const uint8_t> b, uint16_t port) override
    {
        sent.push_back({Bytes(b.begin(), b.end()), port});
        for (sim::CSwitcher* s : switchers) {
            auto r = port == kSearchPort ? s->OnSearch(b, 0) : s->OnConfig(b, 0);
            if (r)
                inbox.push_back(*r);
        }
    }
    // Delivers the replies waiting, as the event loop would, one at a time.
    void Deliver()
    {
        while (!inbox.empty() && bound) {
            Bytes d = inbox.front();
            inbox.pop_front();
            onDatagram(d);
        }
    }
};

struct RecordingView : INetView {
    std::vector<std::string> items;
    int selected = -1;
    std::string button = "Connect";
    int closedShown = 0;  // told that what the switcher said is no longer current
    void TcpClosed() override { ++closedShown; }
    void ClearSwitchers() override { items.clear(), selected = -1; }
    void InsertSwitcher(std::size_t pos, const std::string& ip) override { items.insert(items.begin() + pos, ip); }
    void SelectSwitcher(std::size_t pos) override { selected = int(pos); }
    void SetTcpButtonText(const std::string& t) override { button = t; }
};

sim::SwitcherSettings Switcher(sim::Mac mac, sim::Ipv4 ip)
{
    sim::SwitcherSettings s;
    s.mac = mac;
    s.ip = ip;
    s.autoIp = ip;
    return s;
}

Bytes SearchReply(Bytes mac, Bytes ip, std::size_t size = 64, bool marker = true)
{
    Bytes r(size, 0);
    std::copy(mac.begin(), mac.end(), r.begin());
    std::copy(ip.begin(), ip.end(), r.begin() + 6);
    if (marker) {
        r[18] = 0x77;
        r[19] = 0x88;
    }
    return r;
}

class NetLinkTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        core = std::make_unique<CLinkCore>(clock, op, txPane, rxPane);
        core->nControlMode = MODE_TCP;
        core->SetTransports(nullptr, &tcp);
        core->SetPageHandler(PAGE_GENERAL, [this](const Frame& f) { replies.push_back(f); });
        net = std::make_unique<CNetLink>(*core, tcp, udp, view);
        net->SetWarningSink([this](const std::string& l) { warnings.push_back(l); });
    }
    void TearDown() override
    {
        net.reset();
        core.reset();
    }
    void Search()
    {
        net->StartSearch();
        udp.Deliver();
    }
    void ConnectTo(const char16_t* text)
    {
        net->OnTcpConnectButton(text);
        tcp.onConnected(true);
    }

    CVirtualTimers clock;
    CScriptedNotices op;
    CTextPane txPane, rxPane;
    FakeTcp tcp;
    FakeUdp udp;
    RecordingView view;
    std::unique_ptr<CLinkCore> core;
    std::unique_ptr<CNetLink> net;
    std::vector<Frame> replies;
    std::vector<std::string> warnings;
};

TEST_F(NetLinkTest, TcpStatesIdleConnectingConnectedLost)
{
    net->OnTcpConnectButton(u"192.168.1.100");  // idle -> connecting
    ASSERT_EQ(tcp.connects.size(), 1u);
    EXPECT_EQ(tcp.connects[0], (std::pair<uint32_t, uint16_t>{0xC0A80164u, 8000}));
    EXPECT_FALSE(core->bTcpConnected);
    EXPECT_EQ(view.button, "Connect");

    tcp.onConnected(false);  // refused: back to idle, nothing shown
    EXPECT_FALSE(core->bTcpConnected);
    EXPECT_EQ(view.button, "Connect");
    EXPECT_TRUE(tcp.writes.empty());

    net->OnTcpConnectButton(u"192.168.1.100");
    tcp.onConnected(true);  // connected: "Disconnect" and the beep status query
    EXPECT_TRUE(core->bTcpConnected);
    EXPECT_EQ(view.button, "Disconnect");
    ASSERT_EQ(tcp.writes.size(), 1u);
    EXPECT_EQ(tcp.writes[0], (Bytes{0xA5, 0x5B, 0x01, 0x0B, 0, 0, 0, 0, 0, 0, 0, 0, 0xF4}));
    EXPECT_TRUE(core->bReady);  // the query claims nothing

    // Replies arrive through the TCP cutter, split anyhow.
    const Frame beep = MakeFrame({0x01, 0x0B, 0x00, 0x00, 0x00});
    tcp.onRead(std::span(beep).first(5));
    tcp.onRead(std::span(beep).subspan(5));
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0], beep);

    const int shown = view.closedShown;
    tcp.onClosed();  // closed by the switcher: the link is lost, and the operator told
    EXPECT_FALSE(core->bTcpConnected);
    EXPECT_EQ(view.button, "Connect");
    EXPECT_GT(view.closedShown, shown);
    EXPECT_EQ(op.Messages(), std::vector<std::string>{"Connection to Matrix lost!"});
    ASSERT_EQ(warnings.size(), 1u);
    op.CloseBox();
    op.ClearEvents();
    tcp.onClosed();  // a second notice of the same loss says nothing more
    EXPECT_TRUE(op.Events().empty());
    EXPECT_FALSE(core->BeginCommand());
    EXPECT_EQ(op.Messages(), std::vector<std::string>{"Connect to Matrix failed!"});
    op.CloseBox();

    net->OnTcpConnectButton(u"192.168.1.100");  // "Connect" again: a new connection
    EXPECT_EQ(tcp.connects.size(), 3u);
    tcp.onConnected(true);
    net->OnTcpConnectButton(u"192.168.1.100");  // "Disconnect"
    EXPECT_FALSE(core->bTcpConnected);
    EXPECT_EQ(view.button, "Connect");
    EXPECT_EQ(tcp.connects.size(), 3u);
}

TEST_F(NetLinkTest, ConnectWithoutAnAddressDoesNothingVisible)
{
    net->OnTcpConnectButton(u"");
    EXPECT_TRUE(tcp.connects.empty());
    EXPECT_FALSE(core->bTcpConnected);
    EXPECT_EQ(view.button, "Connect");
    EXPECT_TRUE(op.Events().empty());
}

TEST_F(NetLinkTest, SearchListsInTextOrderAndPairsEachMac)
{
    sim::CSwitcher a(Switcher({0x02, 0, 0, 0, 0, 0x03}, {192, 168, 1, 3}));
    sim::CSwitcher b(Switcher({0x02, 0, 0, 0, 0, 0x20}, {192, 168, 1, 20}));
    udp.switchers = {&a, &b};
    Search();
    ASSERT_EQ(udp.sent.size(), 1u);
    EXPECT_EQ(udp.sent[0], (std::pair<Bytes, uint16_t>{{0x61}, 30600}));
    EXPECT_EQ(udp.bound, std::optional<uint16_t>(30600));
    EXPECT_EQ(view.items, (std::vector<std::string>{"192.168.1.20", "192.168.1.3"}));
    EXPECT_EQ(view.selected, 0);
    // The last answer made its sender current.
    EXPECT_EQ(net->SwitcherIp, (IpFields{"192", "168", "1", "20"}));
    EXPECT_EQ(net->SwitcherMacText, "020000000020");

    net->OnSwitcherSelected(1);
    EXPECT_EQ(net->SwitcherIp, (IpFields{"192", "168", "1", "3"}));
    EXPECT_EQ(net->SwitcherMac, (MacFields{"02", "00", "00", "00", "00", "03"}));
    net->OnSwitcherSelected(0);
    EXPECT_EQ(net->SwitcherMac, (MacFields{"02", "00", "00", "00", "00", "20"}));
    // Both replies went into the receive pane as raw bytes, each counted toward its emptying.
    EXPECT_EQ(rxPane.Text().substr(0, 40), "02 00 00 00 00 03 C0 A8 01 03 FF 00 00 \n");
    EXPECT_EQ(core->Log().RxFrames(), 2u);

    // A plain search confirms nothing: the 900 ms timer passes without a notice.
    clock.Advance(5000);
    EXPECT_TRUE(op.Events().empty());
}

TEST_F(NetLinkTest, ListSelectsItsFirstItemWhereverTheAnswerSorts)
{
    // The answer that sorts last arrives last: the list still shows its first item chosen,
    // while the last answer's sender is the current switcher.
    sim::CSwitcher a(Switcher({0x02, 0, 0, 0, 0, 0x03}, {192, 168, 1, 3}));
    sim::CSwitcher b(Switcher({0x02, 0, 0, 0, 0, 0x20}, {192, 168, 1, 20}));
    udp.switchers = {&b, &a};
    Search();
    EXPECT_EQ(view.items, (std::vector<std::string>{"192.168.1.20", "192.168.1.3"}));
    EXPECT_EQ(view.selected, 0);
    EXPECT_EQ(net->SwitcherIp, (IpFields{"192", "168", "1", "3"}));
}

TEST_F(NetLinkTest, SearchReplyKinds)
{
    const Bytes mac = {0x02, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE};
    const struct {
        const char* name;
        Bytes datagram;
        std::size_t listed;
        const char* currentIp;  // "" when the current switcher stays as it was
    } cases[] = {
        {"49 bytes: logged only", SearchReply(mac, {10, 0, 0, 9}, 49), 0, ""},
        {"50 bytes without the marker: current, not listed", SearchReply(mac, {10, 0, 0, 9}, 50, false), 0, "9"},
        {"50 bytes with the marker", SearchReply(mac, {10, 0, 0, 9}, 50), 1, "9"},
        {"longer than 1024: cut", SearchReply(mac, {10, 0, 0, 9}, 1500), 1, "9"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        rxPane.Clear();
        net->StartSearch();
        udp.onDatagram(c.datagram);
        EXPECT_EQ(view.items.size(), c.listed);
        EXPECT_EQ(net->SwitcherIp[3], c.currentIp);
        EXPECT_FALSE(net->IsTimerRunning(TIMER_CONFIG_CONFIRM));  // no configuration waits
        const std::size_t kept = std::min<std::size_t>(c.datagram.size(), 1024);
        // "%02X " each, a break every 13 and one at the end of the datagram
        EXPECT_EQ(rxPane.Text().size(), kept * 3 + (kept + 12) / 13);
        EXPECT_EQ(net->SearchReply[6], 10);
    }
}

TEST_F(NetLinkTest, SameSwitcherTwiceIsListedTwice)
{
    sim::CSwitcher a(Switcher({0x02, 0, 0, 0, 0, 0x01}, {10, 0, 0, 1}));
    udp.switchers = {&a, &a};
    Search();
    EXPECT_EQ(view.items, (std::vector<std::string>{"10.0.0.1", "10.0.0.1"}));
}

TEST_F(NetLinkTest, SearchWhileConnectedDropsTheControlLink)
{
    ConnectTo(u"10.0.0.1");
    ASSERT_TRUE(core->bTcpConnected);
    const int closes = tcp.closes;
    Search();
    EXPECT_FALSE(core->bTcpConnected);
    EXPECT_EQ(view.button, "Connect");
    EXPECT_GT(tcp.closes, closes);
}

TEST_F(NetLinkTest, AnswersBeyond256AreDroppedWithOneLine)
{
    net->StartSearch();
    for (int i = 0; i < 259; ++i)
        udp.onDatagram(SearchReply({0x02, 0, 0, 0, uint8_t(i >> 8), uint8_t(i)}, {10, 0, uint8_t(i >> 8), uint8_t(i)}));
    EXPECT_EQ(view.items.size(), 256u);
    EXPECT_EQ(net->FoundSwitchers.Size(), 256u);
    // The dropped ones did not become current either.
    EXPECT_EQ(net->SwitcherIp, (IpFields{"10", "0", "0", "255"}));
    EXPECT_TRUE(warnings.empty());  // said once the answers have stopped
    clock.Advance(kOverflowQuietMs);
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].find(" 3 more"), std::string::npos) << warnings[0];
    clock.Advance(60000);
    net->StartSearch();
    EXPECT_EQ(warnings.size(), 1u);

    // A new search before the answers have stopped says it first.
    for (int i = 0; i < 257; ++i)
        udp.onDatagram(SearchReply({0x02, 0, 0, 0, uint8_t(i >> 8), uint8_t(i)}, {10, 0, uint8_t(i >> 8), uint8_t(i)}));
    net->StartSearch();
    ASSERT_EQ(warnings.size(), 2u);
    EXPECT_NE(warnings[1].find(" 1 more switcher answer "), std::string::npos) << warnings[1];
}

// ---- Network configuration ---------------------------------------------------------------------

class NetConfigTest : public NetLinkTest {
protected:
    void SetUp() override
    {
        NetLinkTest::SetUp();
        udp.switchers = {&device};
        Search();
        ASSERT_EQ(view.items, std::vector<std::string>{"127.0.0.1"});
        op.ClearEvents();
        udp.sent.clear();
    }
    // What the dialog's OK writes, then the request.
    void Configure(int mode, IpFields ip, MacFields newMac)
    {
        net->nIpMode = mode;
        net->SwitcherIp = ip;
        net->NewMac = newMac;
        ASSERT_TRUE(net->SendConfiguration(net->SwitcherMac));
        EXPECT_EQ(op.StatusText(), "Configuring");
        EXPECT_TRUE(op.StatusOpen());
    }
    sim::CSwitcher device{Switcher({0x02, 0xC5, 0x1A, 0x00, 0x00, 0x01}, {127, 0, 0, 1})};
};

TEST_F(NetConfigTest, AcceptedThenConfirmedBySearch)
{
    Configure(IP_MODE_STATIC, {"192", "168", "1", "100"}, {"02", "C5", "1A", "00", "00", "09"});
    ASSERT_EQ(udp.sent.size(), 1u);
    EXPECT_EQ(udp.sent[0].first.size(), 76u);
    EXPECT_EQ(udp.sent[0].second, 30601);
    EXPECT_EQ(udp.bound, std::optional<uint16_t>(30601));

    udp.Deliver();  // accepted: a new search lists the switcher under its new address
    EXPECT_EQ(udp.bound, std::optional<uint16_t>(30600));
    udp.Deliver();
    EXPECT_EQ(view.items, std::vector<std::string>{"192.168.1.100"});
    EXPECT_EQ(net->SwitcherMacText, "02C51A000009");
    EXPECT_FALSE(net->IsTimerRunning(TIMER_CONFIG_TIMEOUT));

    clock.Advance(500);  // its answer again: the confirmation waits 900 ms from the last one
    udp.onDatagram(SearchReply({0x02, 0xC5, 0x1A, 0x00, 0x00, 0x09}, {192, 168, 1, 100}));
    clock.Advance(899);
    EXPECT_FALSE(op.StatusFinished());
    clock.Advance(1);
    EXPECT_TRUE(op.StatusFinished());
    EXPECT_EQ(op.StatusText(), "Configure successfully!");
    clock.Advance(900);
    EXPECT_FALSE(op.StatusOpen());
    clock.Advance(20000);
    EXPECT_TRUE(op.Messages().empty());

    // Over: a later search that finds the same switcher confirms nothing, and leaves another
    // command's busy indicator alone.
    op.OpenStatus("Getting status");
    Search();
    clock.Advance(5000);
    EXPECT_TRUE(op.StatusOpen());
    EXPECT_EQ(op.StatusText(), "Getting status");
}

TEST_F(NetConfigTest, AutomaticModeReachesTheSwitcher)
{
    device = sim::CSwitcher(Switcher({0x02, 0xC5, 0x1A, 0x00, 0x00, 0x01}, {127, 0, 0, 1}));
    Configure(IP_MODE_AUTO, {"", "", "", ""}, {"02", "C5", "1A", "00", "00", "01"});
    udp.Deliver();
    udp.Deliver();
    EXPECT_TRUE(device.Settings().dhcp);
    EXPECT_EQ(view.items, std::vector<std::string>{"127.0.0.1"});
    clock.Advance(1800);
    EXPECT_FALSE(op.StatusOpen());
    EXPECT_TRUE(op.Messages().empty());
}

// Only the asked switcher's answer, while its configuration waits, moves the configuration on.
TEST_F(NetConfigTest, OnlyTheAskedSwitchersAnswerCounts)
{
    const Bytes asked = {0x02, 0xC5, 0x1A, 0x00, 0x00, 0x01};
    auto reply = [](Bytes mac, uint8_t verdict, std::size_t size = 76) {
        Bytes r(size, 0);
        std::copy(mac.begin(), mac.end(), r.begin());
        if (size > 74)
            r[74] = verdict;
        return r;
    };
    const struct {
        const char* name;
        std::optional<Bytes> reply;  // nothing: our own request comes back
        bool failBind;
        std::optional<ConfigOutcome> outcome;  // before the time-out
    } cases[] = {
        {"our own broadcast looped back (byte 74 = FF)", std::nullopt, false, std::nullopt},
        {"refused by the asked switcher", reply(asked, 0x01), false, ConfigOutcome::Refused},
        {"accepted by another switcher", reply({0x02, 0, 0, 0, 0, 0x77}, 0x00), false, std::nullopt},
        {"75 bytes", reply(asked, 0x00, 75), false, std::nullopt},
        {"no reply, the socket cannot be bound", Bytes{}, true, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        op = CScriptedNotices();
        udp.switchers.clear();
        udp.failBind = c.failBind;
        core->bReady = false;
        std::vector<ConfigOutcome> outcomes;
        net->SetConfigOutcomeSink([&](ConfigOutcome o) { outcomes.push_back(o); });
        Configure(IP_MODE_AUTO, {}, net->SwitcherMac);
        udp.onDatagram(c.reply ? *c.reply : udp.sent.back().first);
        EXPECT_EQ(udp.bound, c.failBind ? std::nullopt : std::optional<uint16_t>(30601));  // no new search
        EXPECT_EQ(outcomes, c.outcome ? std::vector{*c.outcome} : std::vector<ConfigOutcome>{});
        clock.Advance(14999);
        EXPECT_TRUE(op.StatusOpen());
        clock.Advance(1);
        EXPECT_FALSE(op.StatusOpen());
        EXPECT_EQ(op.Messages(), std::vector<std::string>{"Time out!"});
        EXPECT_EQ(outcomes.back(), ConfigOutcome::TimedOut);
        EXPECT_FALSE(core->bReady);  // set when the box closes
        op.CloseBox();
        EXPECT_TRUE(core->bReady);
        udp.failBind = false;
    }
}

// An "accepted" reply nobody waits for must not start a search, which would drop the control
// link in the middle of an EDID write or a firmware upgrade.
TEST_F(NetConfigTest, StrayAcceptedReplyChangesNothing)
{
    Bytes accepted(76, 0);
    std::copy(device.Settings().mac.begin(), device.Settings().mac.end(), accepted.begin());
    // Bound to the configuration port, as after an earlier configuration that timed out.
    Configure(IP_MODE_AUTO, {}, net->SwitcherMac);
    udp.switchers.clear();
    clock.Advance(kConfigTimeoutMs);
    op.CloseBox();
    for (bool connected : {false, true}) {
        SCOPED_TRACE(connected ? "connected over TCP" : "idle");
        if (connected)
            ConnectTo(u"127.0.0.1");
        op.ClearEvents();
        const int closes = tcp.closes;
        udp.onDatagram(accepted);
        EXPECT_EQ(core->bTcpConnected, connected);
        EXPECT_EQ(tcp.closes, closes);
        EXPECT_EQ(udp.bound, std::optional<uint16_t>(30601));
        EXPECT_EQ(view.items, std::vector<std::string>{"127.0.0.1"});
        clock.Advance(5000);
        EXPECT_TRUE(op.Events().empty());
    }
}

// Another switcher answering the search after the configuration does not confirm it.
TEST_F(NetConfigTest, ConfirmedOnlyByTheConfiguredSwitcher)
{
    sim::CSwitcher other(Switcher({0x02, 0, 0, 0, 0, 0x44}, {10, 0, 0, 44}));
    udp.switchers.clear();  // the request reaches no switcher
    std::vector<ConfigOutcome> outcomes;
    net->SetConfigOutcomeSink([&](ConfigOutcome o) { outcomes.push_back(o); });
    Configure(IP_MODE_STATIC, {"192", "168", "1", "100"}, {"02", "C5", "1A", "00", "00", "09"});
    udp.switchers = {&other, &device};
    Bytes accepted(76, 0);
    std::copy(device.Settings().mac.begin(), device.Settings().mac.end(), accepted.begin());
    udp.onDatagram(accepted);  // "accepted", yet the search finds the switcher under its old MAC
    udp.Deliver();
    EXPECT_EQ(view.items.size(), 2u);
    clock.Advance(5000);
    EXPECT_FALSE(op.StatusFinished());
    EXPECT_TRUE(outcomes.empty());
    clock.Advance(kConfigTimeoutMs);
    EXPECT_EQ(outcomes, std::vector{ConfigOutcome::TimedOut});
}

TEST_F(NetConfigTest, StaticAddressThatIsNoneSendsNothing)
{
    net->nIpMode = IP_MODE_STATIC;
    net->SwitcherIp = {"192", "168", "1", "300"};
    EXPECT_FALSE(net->SendConfiguration(net->SwitcherMac));
    EXPECT_TRUE(udp.sent.empty());
    EXPECT_FALSE(net->IsTimerRunning(TIMER_CONFIG_TIMEOUT));
    EXPECT_TRUE(op.Events().empty());
}

TEST_F(NetConfigTest, PlainSearchLeavesAnotherBusyIndicatorAlone)
{
    // A search right before a status sequence: its confirm timer must not finish or close the
    // sequence's indicator.
    Search();
    op.OpenStatus("Getting status");
    clock.Advance(5000);
    EXPECT_TRUE(op.StatusOpen());
    EXPECT_FALSE(op.StatusFinished());
    EXPECT_EQ(op.StatusText(), "Getting status");
}

}  // namespace
}  // namespace corvane
