// The panel's TCP control socket and UDP socket against the emulator process on loopback:
// search, connect, status, a route, a drop by the switcher and a network configuration. Socket
// events come through the event loop; the panel's timers run on the virtual clock.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <functional>

#include "app/config_ip_dlg.h"
#include "app/corvane_dlg.h"
#include "app/page_factories.h"
#include "link/port_list.h"
#include "link/qt_network.h"
#include "pages/matrix_dlg.h"
#include "platform/scripted_notices.h"
#include "tests/support/sim_process.h"

namespace corvane::test {
namespace {

// Runs the event loop until the condition holds (true) or five seconds have passed (false).
bool WaitFor(const std::function<bool()>& condition)
{
    QElapsedTimer t;
    t.start();
    while (!condition()) {
        if (t.elapsed() > 5000)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

class TcpEndToEnd : public ::testing::Test {
protected:
    void Start(std::vector<std::string> simArgs)
    {
        ResetLinkState();
        ResetPortListState();
        InstallTimers(&clock);
        InstallNotices(&op);
        for (const char* sub : {"/ports", "/dev", "/sys"})
            std::filesystem::create_directories(dir.path + sub);
        paths.portDir = dir.path + "/ports";
        paths.devRoot = dir.path + "/dev";
        paths.sysRoot = dir.path + "/sys";
        paths.consoles = dir.path + "/consoles";
        paths.lockDirs = {};
        sim = std::make_unique<SimProcess>(simArgs, paths.portDir);
        const std::string tcpPort = sim->Find("tcp: 127\\.0\\.0\\.1:(\\d+)");
        const std::string search = sim->Find("udp: 127\\.0\\.0\\.1:(\\d+),");
        const std::string config = sim->Find("udp: 127\\.0\\.0\\.1:\\d+,(\\d+)");
        ASSERT_FALSE(tcpPort.empty() || search.empty() || config.empty()) << sim->first;

        dlg = std::make_unique<CCorvaneDlg>(nullptr, paths);
        RegisterPages(*dlg);
        // Loopback carries no broadcast: the requests go to the emulator's address, from ports
        // of our own, and it answers where they came from.
        auto udp = std::make_unique<CQtDatagramSocket>();
        udp->SetTarget(QHostAddress(QHostAddress::LocalHost));
        SNetPorts ports;
        ports.searchLocal = ports.configLocal = 0;
        ports.searchRemote = static_cast<uint16_t>(std::stoi(search));
        ports.configRemote = static_cast<uint16_t>(std::stoi(config));
        ports.control = static_cast<uint16_t>(std::stoi(tcpPort));
        dlg->SetNetTransports(std::make_unique<CQtTcpControl>(), std::move(udp), ports);
    }
    void TearDown() override
    {
        dlg.reset();
        sim.reset();
        InstallTimers(nullptr);
        InstallNotices(nullptr);
    }
    template <typename T = QWidget>
    T* Ctl(int id) const
    {
        return qobject_cast<T*>(dlg->Control(id));
    }
    void Click(int id) { Ctl<QAbstractButton>(id)->click(); }
    QString Text(int id) const { return Ctl<QLabel>(id)->text(); }

    CVirtualTimers clock;
    CScriptedNotices op;
    SPortPaths paths;
    TempDir dir;
    std::unique_ptr<SimProcess> sim;
    std::unique_ptr<CCorvaneDlg> dlg;
};

TEST_F(TcpEndToEnd, SearchConnectStatusRouteDropConfigure)
{
    Start({"--tcp", "127.0.0.1:0", "--udp", "127.0.0.1:0,0", "--udp-reply", "source", "--signals", "1010:01",
           "--fault", "hangup:07 01"});
    Click(1017);
    Click(1046);
    auto* list = Ctl<QComboBox>(1060);
    ASSERT_TRUE(WaitFor([&] { return list->count() == 1; }));
    EXPECT_EQ(list->currentText(), QStringLiteral("127.0.0.1"));
    EXPECT_EQ(g_SwitcherMacText, "02C51A000001");
    EXPECT_FALSE(sim->LineWith("udp-search").empty());

    Click(1045);
    ASSERT_TRUE(WaitFor([&] { return g_bTcpConnected; }));
    EXPECT_EQ(Ctl<QPushButton>(1045)->text(), QStringLiteral("Disconnect"));
    ASSERT_TRUE(WaitFor([&] { return dlg->Link().Log().RxFrames() >= 1; }));  // the beep status
    EXPECT_TRUE(Ctl<QCheckBox>(1096)->isChecked());

    Click(1024);
    ASSERT_TRUE(WaitFor([&] { return !Text(1029).isEmpty(); }));
    EXPECT_EQ(Text(1026), QStringLiteral("INPUT 1: Connect"));
    EXPECT_EQ(Text(1027), QStringLiteral("INPUT 2: Disconnect"));
    EXPECT_EQ(Text(1034), QStringLiteral("OUTPUT1: Disconnect"));
    EXPECT_EQ(Text(1035), QStringLiteral("OUTPUT2: Connect"));
    EXPECT_TRUE(g_bReady);

    dlg->PressTab(1012);
    auto* page = dlg->findChild<CMatrixDlg*>();
    ASSERT_NE(page, nullptr);
    ASSERT_TRUE(WaitFor([&] { return g_bReady; }));
    page->InputButton(1, 3)->click();
    ASSERT_TRUE(WaitFor([&] { return page->InputButton(1, 3)->isChecked() && g_bReady; }));
    EXPECT_EQ(page->DigitShown(1), 3);
    dlg->PressTab(1008);

    Click(1101);  // the emulator hangs up instead of answering the DVI set
    ASSERT_TRUE(WaitFor([&] { return !g_bTcpConnected; }));
    EXPECT_EQ(Ctl<QPushButton>(1045)->text(), QStringLiteral("Disconnect"));

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
