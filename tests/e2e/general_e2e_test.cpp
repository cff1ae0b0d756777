// The whole General page through the panel's real serial transport and a real pseudo-terminal,
// with the emulator process at the other end.
#include "tests/e2e/panel_e2e.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QLabel>
#include <QPushButton>
#include <functional>

#include "transport/qt_timers.h"

namespace corvane::test {
namespace {

class GeneralEndToEnd : public PanelEndToEnd {
protected:
    void Start(std::vector<std::string> simArgs)
    {
        op.SetNoLongerRemind(true);
        simArgs.push_back("--quiet");
        StartPanel(std::move(simArgs), timers);
    }

    CQtTimers timers;
};

TEST_F(GeneralEndToEnd, ConnectStatusBeepDviResetDisconnect)
{
    Start({"--serial", "com201", "--signals", "1010:01"});
    auto* ports = Ctl<QComboBox>(1020);
    ASSERT_EQ(ports->currentText(), QStringLiteral("COM201"));

    Click(1021);
    ASSERT_TRUE(dlg->Link().bComOpen) << (op.Messages().empty() ? "" : op.Messages().back());
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
    EXPECT_TRUE(dlg->Link().bReady);
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
    EXPECT_FALSE(dlg->Link().bComOpen);
    EXPECT_TRUE(op.Messages().empty());
    // The worker closes the port on its own, a moment later; then it is listed again and can
    // be opened anew.
    EXPECT_TRUE(WaitFor([&] {
        dlg->RefreshPortList();
        return ports->currentText() == QStringLiteral("COM201");
    }));
    Click(1021);
    EXPECT_TRUE(dlg->Link().bComOpen);
}

TEST_F(GeneralEndToEnd, EmulatorHangingUpClosesTheLink)
{
    Start({"--serial", "com202"});
    Click(1021);
    ASSERT_TRUE(dlg->Link().bComOpen);
    ASSERT_TRUE(WaitFor([&] { return dlg->Link().Log().RxFrames() >= 1; }));
    EXPECT_EQ(sim->Terminate(), 0);  // closes its end and removes the alias
    ASSERT_TRUE(WaitFor([&] { return !dlg->Link().bComOpen; }));
    // Said once, with what failed on the line.
    ASSERT_EQ(op.Messages().size(), 1u);
    EXPECT_EQ(op.Messages()[0].rfind("Connection to Matrix lost! COM202: ", 0), 0u) << op.Messages()[0];
    EXPECT_EQ(Ctl<QPushButton>(1021)->text(), QStringLiteral("Connect"));
    EXPECT_TRUE(Ctl<QComboBox>(1020)->isEnabled());
    EXPECT_TRUE(dlg->Link().IsTimerRunning(TIMER_PORT_POLL));
    dlg->RefreshPortList();
    EXPECT_EQ(Ctl<QComboBox>(1020)->count(), 0);
}

}  // namespace
}  // namespace corvane::test
