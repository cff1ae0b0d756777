// TCP control mode on the main window: the mode switch, the connect button, every page over the
// control link, the search list and the network configuration dialog, against the switcher
// model on the virtual clock.
#include "tests/app/app_fixture.h"

#include <QAccessible>
#include <QLineEdit>
#include <QRadioButton>
#include <QTest>

#include "panel/config_ip_dlg.h"
#include "panel/pages/firmware_dlg.h"
#include "panel/pages/matrix_dlg.h"
#include "panel/widgets/qt_ui.h"
#include "panel/widgets/icon_button.h"

namespace corvane::test {
namespace {

using Bytes = std::vector<uint8_t>;

// The control socket with the switcher model behind it.
class CModelTcp final : public ITcpControl {
public:
    explicit CModelTcp(CVirtualTimers& clock) : m_clock(clock) {}
    void Connect(uint32_t ip, uint16_t port) override
    {
        connects.push_back({ip, port});
        m_pending = true;
    }
    void Close() override
    {
        m_pending = false;
        m_session.reset();
    }
    void Write(std::span<const uint8_t> b) override
    {
        writes.emplace_back(b.begin(), b.end());
        if (m_session)
            m_session->Feed(b, m_clock.Now());
    }
    // The connect started last succeeds (or fails).
    void Answer(bool ok = true)
    {
        ASSERT_TRUE(m_pending);
        m_pending = false;
        if (ok)
            m_session = std::make_unique<sim::CStreamSession>(device, faults);
        onConnected(ok);
    }
    // The switcher ends the connection.
    void Drop()
    {
        m_session.reset();
        onClosed();
    }
    // Delivers replies and fires timers for ms of virtual time.
    void Run(int64_t ms)
    {
        const int64_t end = m_clock.Now() + ms;
        for (int guard = 0; guard < 100000; ++guard) {
            int64_t next = end;
            if (auto due = m_session ? m_session->NextDeadline() : std::nullopt)
                next = std::min(next, std::max(*due, m_clock.Now()));
            const int64_t timer = m_clock.NextDue();
            if (timer >= 0 && timer < next)
                next = timer;
            m_clock.Advance(next - m_clock.Now());
            bool delivered = false;
            if (m_session)
                for (const sim::Emission& e : m_session->TakeDue(m_clock.Now())) {
                    delivered = true;
                    if (e.hangUp) {
                        Drop();
                        break;
                    }
                    if (doubled) {  // the reply twice in one read, as a repeating line gives it
                        Bytes twice = e.bytes;
                        twice.insert(twice.end(), e.bytes.begin(), e.bytes.end());
                        onRead(twice);
                    } else {
                        onRead(e.bytes);
                    }
                }
            if (!delivered && m_clock.Now() >= end)
                return;
        }
        ADD_FAILURE() << "the model and the panel keep each other busy";
    }

    sim::CSwitcher device;
    sim::CFaultPlan faults;
    bool doubled = false;
    std::vector<std::pair<uint32_t, uint16_t>> connects;
    std::vector<Bytes> writes;

private:
    CVirtualTimers& m_clock;
    std::unique_ptr<sim::CStreamSession> m_session;
    bool m_pending = false;
};

// The UDP socket; the switcher model answers the broadcasts at once.
class CModelUdp final : public IDatagramSocket {
public:
    bool Bind(uint16_t port) override
    {
        bound = port;
        return true;
    }
    void Close() override { bound = 0; }
    void Broadcast(std::span<const uint8_t> b, uint16_t port) override
    {
        sent.emplace_back(b.begin(), b.end());
        for (sim::CSwitcher* s : switchers)
            if (auto r = port == kSearchPort ? s->OnSearch(b, 0) : s->OnConfig(b, 0, refuse))
                inbox.push_back(*r);
    }
    void Deliver()
    {
        while (!inbox.empty() && bound) {
            Bytes d = inbox.front();
            inbox.erase(inbox.begin());
            onDatagram(d);
        }
    }
    uint16_t bound = 0;
    bool refuse = false;
    std::vector<Bytes> sent, inbox;
    std::vector<sim::CSwitcher*> switchers;
};

class TcpMode : public AppFixture {
protected:
    void SetUp() override
    {
        AppFixture::SetUp();
        auto t = std::make_unique<CModelTcp>(clock);
        auto u = std::make_unique<CModelUdp>();
        tcp = t.get();
        udp = u.get();
        dlg->SetNetTransports(std::move(t), std::move(u));
        udp->switchers = {&tcp->device};
    }
    void SelectTcpMode()
    {
        Click(1017);
        ASSERT_EQ(dlg->Link().nControlMode, MODE_TCP);
    }
    void SearchAndConnect()
    {
        SelectTcpMode();
        Click(1046);
        udp->Deliver();
        ASSERT_EQ(Ctl<QComboBox>(1060)->currentText(), QStringLiteral("127.0.0.1"));
        Click(1045);
        tcp->Answer();
        tcp->Run(0);
        ASSERT_TRUE(dlg->Link().bTcpConnected);
    }
    QString ButtonText(int id) { return Ctl<QAbstractButton>(id)->text(); }

    CModelTcp* tcp = nullptr;
    CModelUdp* udp = nullptr;
};

TEST_F(TcpMode, ModeSwitchEnablesOneGroupAndClosesTheOtherLink)
{
    const int tcpGroup[] = {1045, 1063, 1059, 1046, 1047, 1060};
    const int comGroup[] = {1018, 1019, 1021, 1020};
    for (int id : tcpGroup)
        EXPECT_FALSE(Ctl(id)->isEnabled()) << id;
    Connect();  // the serial link
    SelectTcpMode();
    EXPECT_FALSE(dlg->Link().bComOpen);
    EXPECT_FALSE(port->IsRunning());
    EXPECT_EQ(ButtonText(1021), QStringLiteral("Connect"));
    for (int id : tcpGroup)
        EXPECT_TRUE(Ctl(id)->isEnabled()) << id;
    for (int id : comGroup)
        EXPECT_FALSE(Ctl(id)->isEnabled()) << id;

    Click(1046);
    udp->Deliver();
    Click(1045);
    tcp->Answer();
    EXPECT_EQ(ButtonText(1045), QStringLiteral("Disconnect"));
    Click(1016);
    EXPECT_FALSE(dlg->Link().bTcpConnected);
    EXPECT_EQ(ButtonText(1045), QStringLiteral("Connect"));
    for (int id : comGroup)
        EXPECT_TRUE(Ctl(id)->isEnabled()) << id;
    // The socket is closed: nothing more reaches the switcher over it.
    const auto before = tcp->writes.size();
    Click(1017);
    EXPECT_FALSE(dlg->Link().BeginCommand());
    EXPECT_EQ(op.Messages(), std::vector<std::string>{"Connect to Matrix failed!"});
    EXPECT_EQ(tcp->writes.size(), before);
}

TEST_F(TcpMode, ConnectReadsBeepAndDviAndALostLinkReadsConnect)
{
    sim::SwitcherSettings s;
    s.beep = false;
    s.dvi = true;
    tcp->device = sim::CSwitcher(s);
    Ctl<QCheckBox>(1096)->setChecked(true);
    SearchAndConnect();
    EXPECT_EQ(tcp->connects.back(), (std::pair<uint32_t, uint16_t>{0x7F000001u, 8000}));
    EXPECT_EQ(ButtonText(1045), QStringLiteral("Disconnect"));
    ASSERT_EQ(tcp->writes.size(), 2u);
    EXPECT_EQ(tcp->writes[0], (Bytes{0xA5, 0x5B, 0x01, 0x0B, 0, 0, 0, 0, 0, 0, 0, 0, 0xF4}));
    EXPECT_EQ(tcp->writes[1], (Bytes{0xA5, 0x5B, 0x01, 0x0C, 0, 0, 0, 0, 0, 0, 0, 0, 0xF3}));
    EXPECT_FALSE(Ctl<QCheckBox>(1096)->isChecked());  // the switcher's beep is off
    EXPECT_TRUE(Ctl<QCheckBox>(1101)->isChecked());   // and its DVI compatibility on
    EXPECT_TRUE(port->writes.empty());               // nothing went to the serial side
    Click(1024);
    tcp->Run(0);
    EXPECT_FALSE(Text(1026).isEmpty());

    tcp->Drop();  // closed by the switcher: the link is lost, the operator told
    EXPECT_TRUE(Text(1026).isEmpty());  // that switcher's lines go with it
    EXPECT_FALSE(dlg->Link().bTcpConnected);
    EXPECT_EQ(ButtonText(1045), QStringLiteral("Connect"));
    EXPECT_EQ(op.Messages(), std::vector<std::string>{"Connection to Matrix lost!"});
    op.CloseBox();
    op.ClearEvents();
    Click(1024);
    EXPECT_EQ(op.Messages(), std::vector<std::string>{"Connect to Matrix failed!"});
    op.CloseBox();
    Click(1045);  // "Connect": connects anew
    tcp->Answer();
    EXPECT_TRUE(dlg->Link().bTcpConnected);
    Click(1046);  // a search while connected drops the link
    EXPECT_FALSE(dlg->Link().bTcpConnected);
    EXPECT_EQ(ButtonText(1045), QStringLiteral("Connect"));
    EXPECT_EQ(Ctl<QComboBox>(1060)->count(), 0);
}

TEST_F(TcpMode, PagesWorkOverTheControlLink)
{
    tcp->device.SetInputSignal(3, true);
    SearchAndConnect();
    tcp->writes.clear();
    Click(1024);  // the status sequence
    tcp->Run(0);
    EXPECT_EQ(tcp->writes.size(), 6u);
    EXPECT_EQ(Text(1028), QStringLiteral("INPUT 3: Connect"));
    EXPECT_FALSE(op.StatusOpen());
    EXPECT_TRUE(dlg->Link().bReady);

    // The Matrix page routes over it, with replies split byte by byte.
    tcp->faults = sim::CFaultPlan();
    dlg->PressTab(1012);
    tcp->Run(0);
    auto* page = dlg->findChild<CMatrixDlg*>();
    ASSERT_NE(page, nullptr);
    page->InputButton(2, 4)->click();
    tcp->Run(0);
    EXPECT_EQ(tcp->device.Route(2), 4);
    EXPECT_TRUE(page->InputButton(2, 4)->isChecked());
    EXPECT_TRUE(op.Messages().empty());
    EXPECT_TRUE(port->writes.empty());
}

// A switcher gone while a command waits for its answer: the command ends with the link, and
// "Connection to Matrix lost!" stays the box's text (no "Time out!" later).
TEST_F(TcpMode, ALostLinkIsSaidOnceAndEndsTheWaitingCommand)
{
    tcp->device.SetInputSignal(3, true);
    SearchAndConnect();
    const std::pair<const char*, std::function<void()>> commands[] = {
        {"route", [&] {
             dlg->PressTab(1012);
             tcp->Run(0);
             dlg->findChild<CMatrixDlg*>()->InputButton(2, 4)->click();
         }},
        {"status", [&] {
             dlg->PressTab(1008);
             Click(1024);
         }},
        {"EDID page opening", [&] { dlg->PressTab(1011); }},
    };
    for (const auto& [name, command] : commands) {
        SCOPED_TRACE(name);
        if (!dlg->Link().bTcpConnected) {
            Click(1045);
            tcp->Answer();
            tcp->Run(0);
        }
        ASSERT_TRUE(dlg->Link().bTcpConnected);
        op.ClearEvents();
        command();
        EXPECT_FALSE(dlg->Link().bReady);
        tcp->Drop();  // before the switcher answers
        EXPECT_TRUE(dlg->Link().bReady);
        EXPECT_FALSE(op.StatusOpen());
        tcp->Run(20000);
        EXPECT_EQ(op.Messages(), std::vector<std::string>{"Connection to Matrix lost!"});
        EXPECT_EQ(op.BoxText(), "Connection to Matrix lost!");
        op.CloseBox();
    }
}

TEST_F(TcpMode, RepliesRepeatedInOneReadMoveNoChainTwice)
{
    // The TCP cutter hands every frame of a read to the page: a repeated answer must be taken
    // once, whatever chain waits for it.
    tcp->device.SetInputSignal(3, true);
    SearchAndConnect();
    tcp->doubled = true;
    struct Case {
        const char* name;
        std::function<void()> act;
        std::vector<Bytes> sent;  // bytes 2..4 of each frame written
    };
    auto click = [this](int id) { return [this, id] { Click(id); }; };
    auto tab = [this](int id) { return [this, id] { dlg->PressTab(id); }; };
    const Case cases[] = {
        {"status", click(1024),
         {{0x01, 0x04, 1}, {0x01, 0x05, 1}, {0x01, 0x04, 2}, {0x01, 0x05, 2}, {0x01, 0x04, 3}, {0x01, 0x04, 4}}},
        {"routes", tab(1012), {{0x02, 0x01, 1}, {0x02, 0x01, 2}}},
        {"EDID status", tab(1011), {{0x01, 0x0C, 1}, {0x01, 0x0C, 2}, {0x01, 0x0C, 3}, {0x01, 0x0C, 4}}},
        {"device information", tab(1013), {{0x01, 0x01, 0}, {0x01, 0x02, 0}, {0x01, 0x03, 0}, {0x01, 0x06, 0}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        tcp->writes.clear();
        c.act();
        tcp->Run(10000);
        std::vector<Bytes> sent;
        for (const Bytes& w : tcp->writes)
            sent.emplace_back(w.begin() + 2, w.begin() + 5);
        EXPECT_EQ(sent, c.sent);
        EXPECT_TRUE(dlg->Link().bReady);
        EXPECT_TRUE(op.Messages().empty());
    }
    EXPECT_EQ(Text(1028), QStringLiteral("INPUT 3: Connect"));
    auto* fw = dlg->findChild<CFWDlg*>();
    ASSERT_NE(fw, nullptr);
    EXPECT_EQ(fw->DeviceLine()->text(), QStringLiteral("Device: Corvane 4x2     Version:1.32-20261207"));
    dlg->PressTab(1012);
    tcp->Run(0);
    auto* matrix = dlg->findChild<CMatrixDlg*>();
    ASSERT_NE(matrix, nullptr);
    EXPECT_TRUE(matrix->InputButton(1, 1)->isChecked());
    EXPECT_TRUE(matrix->InputButton(2, 2)->isChecked());
}

TEST_F(TcpMode, SwitcherListIsSortedAndEachChoiceBringsItsMac)
{
    sim::SwitcherSettings a, b;
    a.mac = {0x02, 0, 0, 0, 0, 0x03};
    a.ip = {192, 168, 1, 3};
    b.mac = {0x02, 0, 0, 0, 0, 0x20};
    b.ip = {192, 168, 1, 20};
    sim::CSwitcher sa(a), sb(b);
    udp->switchers = {&sa, &sb};
    SelectTcpMode();
    Click(1046);
    udp->Deliver();
    auto* list = Ctl<QComboBox>(1060);
    ASSERT_EQ(list->count(), 2);
    EXPECT_EQ(list->itemText(0), QStringLiteral("192.168.1.20"));
    EXPECT_EQ(list->itemText(1), QStringLiteral("192.168.1.3"));
    EXPECT_EQ(list->currentIndex(), 0);
    list->setCurrentIndex(1);
    emit list->activated(1);
    EXPECT_EQ(dlg->Net().SwitcherMacText, "020000000003");
    EXPECT_EQ(dlg->Net().SwitcherIp, (IpFields{"192", "168", "1", "3"}));
    Click(1045);
    EXPECT_EQ(tcp->connects.back().first, 0xC0A80103u);
}

TEST_F(TcpMode, TcpGroupOnAWindowOf1024x768)
{
    SearchAndConnect();
    dlg->setGeometry(0, 0, 1024, 768);  // the window maximized on such a screen
    dlg->show();
    for (int id : {1063, 1059, 1060, 1045, 1046, 1047, 1016, 1017}) {
        const QRect r = Ctl(id)->geometry();
        EXPECT_TRUE(Ctl(id)->isVisible()) << id;
        EXPECT_TRUE(QRect(0, 56, 1024, 768 - 56).contains(r)) << id;
    }
    // The group's controls lie inside its frame, side by side.
    const QRect group = Ctl(1063)->geometry();
    for (int id : {1059, 1060, 1045, 1046, 1047})
        EXPECT_TRUE(group.contains(Ctl(id)->geometry())) << id;
    EXPECT_LT(Ctl(1045)->geometry().right(), Ctl(1046)->geometry().left());
    EXPECT_LT(Ctl(1046)->geometry().right(), Ctl(1047)->geometry().left());
    if (qEnvironmentVariableIsSet("CORVANE_GRAB_DIR"))
        dlg->grab().save(qEnvironmentVariable("CORVANE_GRAB_DIR") + QStringLiteral("/main_tcp.png"));
}

// ---- The network configuration dialog ----------------------------------------------------------

class ConfigDialog : public TcpMode {
protected:
    void SetUp() override
    {
        TcpMode::SetUp();
        SelectTcpMode();
        Click(1046);
        udp->Deliver();
        udp->sent.clear();
    }
    // Opens the dialog; act does what the operator does in it and returns whether it closed.
    void Open(const std::function<void(CConfigIPDlg&)>& act)
    {
        dlg->SetConfigDialogRunner([&](CConfigIPDlg& d) {
            d.show();
            opened = true;
            act(d);
            const int r = d.isVisible() ? -1 : d.result();
            stillOpen = d.isVisible();
            d.hide();
            return r;
        });
        Click(1047);
    }
    static QStringList Fields(CConfigIPDlg& d, bool mac)
    {
        QStringList out;
        for (int k = 0; k < (mac ? 6 : 4); ++k)
            out << (mac ? d.MacField(k) : d.IpField(k))->text();
        return out;
    }
    static void Type(CConfigIPDlg& d, const QStringList& ip, const QStringList& mac = {})
    {
        for (int k = 0; k < ip.size(); ++k)
            d.IpField(k)->setText(ip[k]);
        for (int k = 0; k < mac.size(); ++k)
            d.MacField(k)->setText(mac[k]);
    }
    static void Press(CConfigIPDlg& d, int id) { qobject_cast<QAbstractButton*>(d.Item(id))->click(); }

    bool opened = false;
    bool stillOpen = false;
};

TEST_F(ConfigDialog, OpensWithTheCurrentSwitcherInAutomaticMode)
{
    Open([](CConfigIPDlg& d) {
        EXPECT_EQ(Fields(d, false), (QStringList{"127", "0", "0", "1"}));
        EXPECT_EQ(Fields(d, true), (QStringList{"02", "C5", "1A", "00", "00", "01"}));
        EXPECT_TRUE(qobject_cast<QRadioButton*>(d.Item(CConfigIPDlg::IDC_AUTO_IP))->isChecked());
        for (int k = 0; k < 4; ++k)
            EXPECT_FALSE(d.IpField(k)->isEnabled());
        Press(d, CConfigIPDlg::IDC_STATIC_IP);
        for (int k = 0; k < 4; ++k)
            EXPECT_TRUE(d.IpField(k)->isEnabled());
        Press(d, CConfigIPDlg::IDC_AUTO_IP);
        EXPECT_FALSE(d.IpField(0)->isEnabled());
        // Fields without a caption of their own are told apart by name.
        EXPECT_EQ(d.IpField(0)->accessibleName(), QStringLiteral("IP address, part 1"));
        EXPECT_EQ(d.MacField(5)->accessibleName(), QStringLiteral("MAC address, part 6"));
        Press(d, CConfigIPDlg::IDC_CANCEL);
    });
    EXPECT_TRUE(opened);
}

TEST_F(ConfigDialog, CancelAndCloseSendNothingAndKeepTheMode)
{
    for (int closer : {int(CConfigIPDlg::IDC_CANCEL), int(CConfigIPDlg::IDC_CLOSE)}) {
        Open([&](CConfigIPDlg& d) {
            Press(d, CConfigIPDlg::IDC_STATIC_IP);
            Type(d, {"10", "1", "1", "9"}, {"AA"});
            Press(d, closer);
        });
        EXPECT_FALSE(stillOpen) << closer;
        EXPECT_TRUE(udp->sent.empty()) << closer;
        EXPECT_EQ(dlg->Net().nIpMode, IP_MODE_AUTO);
        EXPECT_EQ(dlg->Net().SwitcherIp, (IpFields{"127", "0", "0", "1"}));
        EXPECT_FALSE(op.StatusOpen());
    }
    // Keys cannot end it either.
    Open([&](CConfigIPDlg& d) {
        for (int key : {Qt::Key_Escape, Qt::Key_Return, Qt::Key_Enter})
            QTest::keyClick(d.IpField(0), Qt::Key(key));
        QTest::keyClick(d.Item(CConfigIPDlg::IDC_OK), Qt::Key_Space);
    });
    EXPECT_TRUE(stillOpen);
    EXPECT_TRUE(udp->sent.empty());
}

TEST_F(ConfigDialog, InvalidStaticAddressIsRefusedAndStaysAsTyped)
{
    for (const QStringList& bad : {QStringList{"192", "168", "1", ""}, QStringList{"192", "168", "1", "256"},
                                   QStringList{"1000", "1", "1", "1"}}) {
        op = CScriptedNotices();
        Open([&](CConfigIPDlg& d) {
            Press(d, CConfigIPDlg::IDC_STATIC_IP);
            Type(d, bad);
            Press(d, CConfigIPDlg::IDC_OK);
            EXPECT_EQ(Fields(d, false), bad);
        });
        EXPECT_TRUE(stillOpen) << bad.join('.').toStdString();
        EXPECT_EQ(op.Messages(), std::vector<std::string>{"Invalid IP address!"});
        EXPECT_TRUE(udp->sent.empty());
        EXPECT_EQ(dlg->Net().nIpMode, IP_MODE_AUTO);
    }
    // Letters never get into an address field.
    Open([&](CConfigIPDlg& d) {
        Press(d, CConfigIPDlg::IDC_STATIC_IP);
        d.IpField(0)->clear();
        QTest::keyClicks(d.IpField(0), QStringLiteral("1x2"));
        EXPECT_EQ(d.IpField(0)->text(), QStringLiteral("12"));
        Press(d, CConfigIPDlg::IDC_CANCEL);
    });
}

TEST_F(ConfigDialog, StaticConfigurationConfirmedAndShownNextTime)
{
    Open([](CConfigIPDlg& d) {
        // Focus starts on the first field, ringed, not on the band's close button.
        EXPECT_EQ(d.focusWidget(), d.Item(CConfigIPDlg::IDC_AUTO_IP));
        EXPECT_TRUE(d.testAttribute(Qt::WA_KeyboardFocusChange));
        Press(d, CConfigIPDlg::IDC_STATIC_IP);
        Type(d, {"192", "168", "1", "100"}, {"02", "C5", "1A", "00", "00", "09"});
        d.Item(CConfigIPDlg::IDC_OK)->setFocus();
        Press(d, CConfigIPDlg::IDC_OK);
    });
    ASSERT_EQ(udp->sent.size(), 1u);
    const Bytes& r = udp->sent[0];
    EXPECT_EQ(Bytes(r.begin() + 6, r.begin() + 18),
              (Bytes{0xC0, 0xA8, 0x01, 0x64, 0xC0, 0xA8, 0x01, 0x01, 0xFF, 0xFF, 0xFF, 0x00}));
    EXPECT_EQ(op.StatusText(), "Configuring");
    EXPECT_TRUE(dlg->Net().IsTimerRunning(TIMER_CONFIG_TIMEOUT));
    udp->Deliver();  // accepted: the search that follows lists it anew
    udp->Deliver();
    EXPECT_EQ(Ctl<QComboBox>(1060)->currentText(), QStringLiteral("192.168.1.100"));
    clock.Advance(900);
    EXPECT_EQ(op.StatusText(), "Configure successfully!");
    EXPECT_TRUE(op.StatusFinished());
    clock.Advance(900);
    EXPECT_FALSE(op.StatusOpen());
    EXPECT_TRUE(op.Messages().empty());

    // Next time: static preselected, the confirmed address, the MAC of the current switcher.
    dlg->Net().SwitcherMac = {"02", "C5", "1A", "00", "00", "01"};  // what a choice in the list would set
    Open([](CConfigIPDlg& d) {
        // Not on "OK", the control last used: a second Ctrl+Enter must not send it again.
        EXPECT_EQ(d.focusWidget(), d.Item(CConfigIPDlg::IDC_STATIC_IP));
        EXPECT_TRUE(qobject_cast<QRadioButton*>(d.Item(CConfigIPDlg::IDC_STATIC_IP))->isChecked());
        EXPECT_TRUE(d.IpField(0)->isEnabled());
        EXPECT_EQ(Fields(d, false), (QStringList{"192", "168", "1", "100"}));
        EXPECT_EQ(Fields(d, true), (QStringList{"02", "C5", "1A", "00", "00", "01"}));
        Press(d, CConfigIPDlg::IDC_CANCEL);
    });
}

// The dialog's event loop goes on while it is open: another switcher answering a search then
// must not become the one the request names.
TEST_F(ConfigDialog, RequestNamesTheSwitcherTheDialogShowed)
{
    sim::SwitcherSettings s;
    s.mac = {0x02, 0x00, 0x00, 0x00, 0x00, 0x77};
    s.ip = s.autoIp = {10, 0, 0, 77};
    sim::CSwitcher other(s);
    const uint8_t request = kSearchRequestByte;
    Open([&](CConfigIPDlg& d) {
        EXPECT_EQ(Fields(d, true), (QStringList{"02", "C5", "1A", "00", "00", "01"}));
        udp->onDatagram(*other.OnSearch(std::span(&request, 1), 0));
        EXPECT_EQ(dlg->Net().SwitcherMacText, "020000000077");
        Press(d, CConfigIPDlg::IDC_OK);
    });
    ASSERT_EQ(udp->sent.size(), 1u);
    const Bytes& r = udp->sent[0];
    const Bytes shown = {0x02, 0xC5, 0x1A, 0x00, 0x00, 0x01};
    EXPECT_EQ(Bytes(r.begin(), r.begin() + 6), shown);
    EXPECT_EQ(Bytes(r.begin() + 19, r.begin() + 25), shown);
    udp->Deliver();  // the shown switcher took it
    udp->Deliver();
    clock.Advance(900);
    EXPECT_EQ(op.StatusText(), "Configure successfully!");
}

TEST_F(ConfigDialog, RefusedConfigurationTimesOut)
{
    udp->refuse = true;
    Open([](CConfigIPDlg& d) { Press(d, CConfigIPDlg::IDC_OK); });
    udp->Deliver();
    EXPECT_EQ(udp->bound, kConfigPort);  // no new search
    clock.Advance(15000);
    EXPECT_FALSE(op.StatusOpen());
    EXPECT_EQ(op.Messages(), std::vector<std::string>{"Time out!"});
}

TEST_F(ConfigDialog, Look)
{
    Open([](CConfigIPDlg& d) {
        const QImage img = d.grab().toImage();
        const int w = img.width(), h = img.height();
        EXPECT_EQ(QSize(w, h), QSize(350, 236));
        auto near = [](QColor a, QColor b) {
            return std::abs(a.red() - b.red()) <= 2 && std::abs(a.green() - b.green()) <= 2 &&
                   std::abs(a.blue() - b.blue()) <= 2;
        };
        // Grey at alpha 90 over what lies below: white at the bottom, the band's edge at the top.
        auto over = [](QColor below) {
            auto mix = [](int b) { return b + (128 - b) * 90 / 255; };
            return QColor(mix(below.red()), mix(below.green()), mix(below.blue()));
        };
        const struct {
            const char* what;
            QPoint at;
            QColor colour;
        } pixels[] = {
            {"band", {150, 12}, BandColor()},
            {"band's last row", {150, 25}, BandColor()},
            {"surface below the band", {5, 26}, ButtonFaceColor()},
            {"surface", {5, 200}, ButtonFaceColor()},
            {"outline, bottom", {150, h - 1}, over(Qt::white)},
            {"outline, right below the band", {w - 1, 100}, over(Qt::white)},
            {"outline over the band's top edge", {150, 0}, over(BandEdgeColor())},
            {"outline over the band's left edge", {0, 12}, over(BandEdgeColor())},
        };
        for (const auto& p : pixels)
            EXPECT_TRUE(near(img.pixelColor(p.at), p.colour))
                << p.what << ": " << img.pixelColor(p.at).name().toStdString() << " not " << p.colour.name().toStdString();
        // "TCP Config" in white within (1, 1)-(90, 30), nothing else written in the band (the
        // band's red is 30: anything much lighter is text).
        int inTitle = 0, elsewhere = 0;
        for (int y = 1; y < 25; ++y)
            for (int x = 1; x < w - 27; ++x)
                if (img.pixelColor(x, y).red() > 200)
                    ++(x < 90 ? inTitle : elsewhere);
        EXPECT_GT(inTitle, 20);
        EXPECT_EQ(elsewhere, 0);
        EXPECT_EQ(d.CloseButton()->geometry(), QRect(w - 26, 1, 25, 25));
        EXPECT_EQ(d.CloseButton()->toolTip(), QStringLiteral("Close"));
        // A press on the free surface drags the window.
        bool dragged = false;
        SetWindowDragHandler([&](QWidget*) { return dragged = true; });
        QTest::mousePress(&d, Qt::LeftButton, {}, QPoint(5, 200));
        SetWindowDragHandler({});
        EXPECT_TRUE(dragged);
        if (qEnvironmentVariableIsSet("CORVANE_GRAB_DIR"))
            img.save(qEnvironmentVariable("CORVANE_GRAB_DIR") + QStringLiteral("/config_ip_dlg.png"));
        Press(d, CConfigIPDlg::IDC_CANCEL);
    });
}

}  // namespace
}  // namespace corvane::test
