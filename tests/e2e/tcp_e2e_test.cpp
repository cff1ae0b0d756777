// The panel's TCP control socket and UDP socket against the emulator process on loopback:
// search, connect, status, a route, a drop by the switcher and a network configuration. Socket
// events come through the event loop; the panel's timers run on the virtual clock.
#include "tests/e2e/panel_e2e.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QPlainTextEdit>
#include <functional>

#include "panel/config_ip_dlg.h"
#include "panel/net_module.h"
#include "panel/pages/matrix_dlg.h"

namespace corvane::test {
namespace {

class TcpEndToEnd : public PanelEndToEnd {
protected:
    void Start(std::vector<std::string> simArgs)
    {
        StartPanel(std::move(simArgs), clock, /*serial=*/false);
        const std::string tcpPort = sim->Find("tcp: 127\\.0\\.0\\.1:(\\d+)");
        const std::string search = sim->Find("udp: 127\\.0\\.0\\.1:(\\d+),");
        const std::string config = sim->Find("udp: 127\\.0\\.0\\.1:\\d+,(\\d+)");
        ASSERT_FALSE(tcpPort.empty() || search.empty() || config.empty()) << sim->first;

        // Loopback carries no broadcast: the requests go to the emulator's address, from ports
        // of our own, and it answers where they came from, as CORVANE_UDP_TO of the run script
        // has it. The panel's own sockets: the network module, loaded on first use.
        SNetPorts ports;
        ports.control = static_cast<uint16_t>(std::stoi(tcpPort));
        ports.searchRemote = static_cast<uint16_t>(std::stoi(search));
        ports.configRemote = static_cast<uint16_t>(std::stoi(config));
        ports.searchLocal = ports.configLocal = 0;
        dlg->SetNetTransports(LazyTcpControl(), LazyDatagramSocket(0x7F000001u), ports);
    }

    CVirtualTimers clock;
};

TEST_F(TcpEndToEnd, SearchConnectStatusRouteDropConfigure)
{
    // The status answers come byte by byte: each read must take every byte there is.
    Start({"--tcp", "127.0.0.1:0", "--udp", "127.0.0.1:0,0", "--udp-reply", "source", "--signals", "1010:01",
           "--fault", "hangup:07 01", "--fault", "split:01"});
    // Qt Network comes with the first search, not with the panel.
    const auto networkLoaded = [] {
        QFile maps(QStringLiteral("/proc/self/maps"));
        return maps.open(QIODevice::ReadOnly) && maps.readAll().contains("corvane-net.so");
    };
    Click(1017);
    EXPECT_FALSE(networkLoaded());  // this is the program's only test that opens them
    Click(1046);
    EXPECT_TRUE(networkLoaded());
    auto* list = Ctl<QComboBox>(1060);
    ASSERT_TRUE(WaitFor([&] { return list->count() == 1; }));
    EXPECT_EQ(list->currentText(), QStringLiteral("127.0.0.1"));
    EXPECT_EQ(dlg->Net().SwitcherMacText, "02C51A000001");
    EXPECT_FALSE(sim->LineWith("udp-search").empty());

    const unsigned heard = dlg->Link().Log().RxFrames();  // the search answers count too
    Click(1045);
    ASSERT_TRUE(WaitFor([&] { return dlg->Link().bTcpConnected; }));
    EXPECT_EQ(Ctl<QPushButton>(1045)->text(), QStringLiteral("Disconnect"));
    ASSERT_TRUE(WaitFor([&] { return dlg->Link().Log().RxFrames() >= heard + 1; }));  // the beep status
    EXPECT_TRUE(Ctl<QCheckBox>(1096)->isChecked());

    Click(1024);
    ASSERT_TRUE(WaitFor([&] { return !Text(1029).isEmpty(); })) << Ctl<QPlainTextEdit>(1042)->toPlainText().toStdString();
    EXPECT_EQ(Text(1026), QStringLiteral("INPUT 1: Connect"));
    EXPECT_EQ(Text(1027), QStringLiteral("INPUT 2: Disconnect"));
    EXPECT_EQ(Text(1034), QStringLiteral("OUTPUT1: Disconnect"));
    EXPECT_EQ(Text(1035), QStringLiteral("OUTPUT2: Connect"));
    EXPECT_TRUE(dlg->Link().bReady);

    dlg->PressTab(1012);
    auto* page = dlg->findChild<CMatrixDlg*>();
    ASSERT_NE(page, nullptr);
    ASSERT_TRUE(WaitFor([&] { return dlg->Link().bReady; }));
    page->InputButton(1, 3)->click();
    ASSERT_TRUE(WaitFor([&] { return page->InputButton(1, 3)->isChecked() && dlg->Link().bReady; }));
    EXPECT_EQ(page->DigitShown(1), 3);
    dlg->PressTab(1008);

    Click(1101);  // the emulator hangs up instead of answering the DVI set: the link is lost
    ASSERT_TRUE(WaitFor([&] { return !dlg->Link().bTcpConnected; }));
    EXPECT_EQ(Ctl<QPushButton>(1045)->text(), QStringLiteral("Connect"));
    EXPECT_EQ(op.Messages(), std::vector<std::string>{"Connection to Matrix lost!"});
    op.CloseBox();
    op.ClearEvents();

    dlg->SetConfigDialogRunner([](CConfigIPDlg& d) {
        qobject_cast<QAbstractButton*>(d.Item(CConfigIPDlg::IDC_STATIC_IP))->click();
        d.IpField(3)->setText(QStringLiteral("5"));
        qobject_cast<QAbstractButton*>(d.Item(CConfigIPDlg::IDC_OK))->click();
        return d.result();
    });
    Click(1047);
    EXPECT_EQ(op.StatusText(), "Configuring");
    ASSERT_TRUE(WaitFor([&] { return list->currentText() == QStringLiteral("127.0.0.5"); }));
    EXPECT_FALSE(sim->LineWith("udp-config").empty());
    clock.Advance(900);
    EXPECT_EQ(op.StatusText(), "Configure successfully!");
    clock.Advance(900);
    EXPECT_FALSE(op.StatusOpen());
    EXPECT_EQ(op.Messages(), std::vector<std::string>{});
}

}  // namespace
}  // namespace corvane::test
