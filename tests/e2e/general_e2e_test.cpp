// The whole General page through the panel's real serial transport and a real pseudo-terminal,
// with the emulator process at the other end.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <functional>

#include "app/corvane_dlg.h"
#include "app/qt_serial_port.h"
#include "link/port_list.h"
#include "platform/qt_timers.h"
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

class GeneralEndToEnd : public ::testing::Test {
protected:
    void Start(std::vector<std::string> simArgs)
    {
        ResetLinkState();
        ResetPortListState();
        g_bNoLongerRemind = true;
        InstallTimers(&timers);
        InstallNotices(&op);
        // Only the emulator's aliases: no sysfs, no /dev of the machine.
        for (const char* sub : {"/ports", "/dev", "/sys"})
            std::filesystem::create_directories(dir.path + sub);
        paths.portDir = dir.path + "/ports";
        paths.devRoot = dir.path + "/dev";
        paths.sysRoot = dir.path + "/sys";
        paths.consoles = dir.path + "/consoles";
        paths.lockDirs = {};
        simArgs.push_back("--quiet");
        sim = std::make_unique<SimProcess>(simArgs, paths.portDir);
        ASSERT_EQ(sim->first.rfind("serial:", 0), 0u) << sim->first;
        dlg = std::make_unique<CCorvaneDlg>(std::make_unique<CQtSerialPort>(paths), paths);
    }
    void TearDown() override
    {
        dlg.reset();
        sim.reset();
        InstallTimers(nullptr);
        InstallNotices(nullptr);
        g_bNoLongerRemind = false;
    }
    template <typename T = QWidget>
    T* Ctl(int id) const
    {
        return qobject_cast<T*>(dlg->Control(id));
    }
    void Click(int id) { Ctl<QAbstractButton>(id)->click(); }
    QString Text(int id) const { return Ctl<QLabel>(id)->text(); }

    CQtTimers timers;
    CScriptedNotices op;
    SPortPaths paths;
    TempDir dir;
    std::unique_ptr<SimProcess> sim;
    std::unique_ptr<CCorvaneDlg> dlg;
};

TEST_F(GeneralEndToEnd, ConnectStatusBeepDviResetDisconnect)
{
    Start({"--serial", "com201", "--signals", "1010:01"});
    auto* ports = Ctl<QComboBox>(1020);
    ASSERT_EQ(ports->currentText(), QStringLiteral("COM201"));

    Click(1021);
    ASSERT_TRUE(g_bComOpen) << (op.Messages().empty() ? "" : op.Messages().back());
    // The DVI status answer arrives: the emulator starts with DVI compatibility off.
    ASSERT_TRUE(WaitFor([&] { return dlg->Link().Log().RxFrames() >= 1; }));
    EXPECT_FALSE(Ctl<QCheckBox>(1101)->isChecked());

    Click(1024);
    ASSERT_TRUE(WaitFor([&] { return !Text(1029).isEmpty(); }));
    EXPECT_EQ(Text(1026), QStringLiteral("INPUT 1: Connect"));
    EXPECT_EQ(Text(1027), QStringLiteral("INPUT 2: Disconnect"));
    EXPECT_EQ(Text(1028), QStringLiteral("INPUT 3: Connect"));
    EXPECT_EQ(Text(1029), QStringLiteral("INPUT 4: Disconnect"));
    EXPECT_EQ(Text(1034), QStringLiteral("OUTPUT1: Disconnect"));
    EXPECT_EQ(Text(1035), QStringLiteral("OUTPUT2: Connect"));
    EXPECT_TRUE(g_bReady);
    EXPECT_FALSE(op.StatusOpen());

    Click(1101);  // DVI on
    ASSERT_TRUE(WaitFor([&] { return Ctl<QCheckBox>(1101)->isChecked(); }));
    Ctl<QCheckBox>(1096)->setChecked(true);
    Click(1096);  // beep off
    ASSERT_TRUE(WaitFor([&] { return !Ctl<QCheckBox>(1096)->isChecked(); }));

    Click(1095);  // factory reset, without the question
    ASSERT_TRUE(WaitFor([&] { return op.StatusFinished(); }));
    EXPECT_EQ(op.StatusText(), "Set successfully!");
    ASSERT_TRUE(WaitFor([&] { return !op.StatusOpen(); }));  // closes itself after 900 ms

    Click(1021);  // Disconnect
    EXPECT_FALSE(g_bComOpen);
    EXPECT_TRUE(op.Messages().empty());
    // The worker closes the port on its own, a moment later; then it is listed again and can
    // be opened anew.
    EXPECT_TRUE(WaitFor([&] {
        dlg->RefreshPortList();
        return ports->currentText() == QStringLiteral("COM201");
    }));
    Click(1021);
    EXPECT_TRUE(g_bComOpen);
}

TEST_F(GeneralEndToEnd, EmulatorHangingUpClosesTheLink)
{
    Start({"--serial", "com202"});
    Click(1021);
    ASSERT_TRUE(g_bComOpen);
    ASSERT_TRUE(WaitFor([&] { return dlg->Link().Log().RxFrames() >= 1; }));
    EXPECT_EQ(sim->Terminate(), 0);  // closes its end and removes the alias
    ASSERT_TRUE(WaitFor([&] { return !g_bComOpen; }));
    EXPECT_EQ(Ctl<QPushButton>(1021)->text(), QStringLiteral("Connect"));
    EXPECT_TRUE(Ctl<QComboBox>(1020)->isEnabled());
    EXPECT_TRUE(dlg->Link().IsTimerRunning(TIMER_PORT_POLL));
    dlg->RefreshPortList();
    EXPECT_EQ(Ctl<QComboBox>(1020)->count(), 0);
}

}  // namespace
}  // namespace corvane::test
