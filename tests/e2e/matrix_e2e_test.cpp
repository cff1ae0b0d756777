// The routing page through the panel's real serial transport and a real pseudo-terminal, with
// the emulator process at the other end.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QComboBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <functional>

#include "app/corvane_dlg.h"
#include "app/page_factories.h"
#include "app/qt_serial_port.h"
#include "link/port_list.h"
#include "pages/matrix_dlg.h"
#include "platform/qt_timers.h"
#include "platform/scripted_notices.h"
#include "tests/support/sim_process.h"
#include "widgets/icon_button.h"

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

class MatrixEndToEnd : public ::testing::Test {
protected:
    void Start(std::vector<std::string> simArgs)
    {
        ResetLinkState();
        ResetPortListState();
        InstallTimers(&timers);
        InstallNotices(&op);
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
        RegisterPages(*dlg);

        ASSERT_EQ(qobject_cast<QComboBox*>(dlg->Control(1020))->currentText(), QStringLiteral("COM210"));
        qobject_cast<QAbstractButton*>(dlg->Control(1021))->click();
        ASSERT_TRUE(g_bComOpen) << (op.Messages().empty() ? "" : op.Messages().back());
        ASSERT_TRUE(WaitFor([&] { return dlg->Link().Log().RxFrames() >= 1; }));  // DVI status
        ASSERT_TRUE(g_bReady);
    }
    void TearDown() override
    {
        dlg.reset();
        sim.reset();
        InstallTimers(nullptr);
        InstallNotices(nullptr);
    }
    // Opens the Matrix tab (from the General tab); its two route queries are answered.
    void OpenMatrix()
    {
        dlg->PressTab(1008);
        const unsigned before = dlg->Link().Log().RxFrames();
        dlg->PressTab(1012);
        page = dlg->findChild<CMatrixDlg*>();
        ASSERT_NE(page, nullptr);
        ASSERT_TRUE(WaitFor([&] { return g_bReady && dlg->Link().Log().RxFrames() >= before + 2; }));
    }
    bool Shows(int output, int input) const
    {
        return page->InputButton(output, input)->isChecked() && page->DigitShown(output) == input &&
               page->Page().ShownInput(output) == input;
    }
    QString RxText() const { return qobject_cast<QPlainTextEdit*>(dlg->Control(1042))->toPlainText(); }

    CQtTimers timers;
    CScriptedNotices op;
    SPortPaths paths;
    TempDir dir;
    std::unique_ptr<SimProcess> sim;
    std::unique_ptr<CCorvaneDlg> dlg;
    CMatrixDlg* page = nullptr;
};

TEST_F(MatrixEndToEnd, RouteEveryInputToEveryOutputAndReadItBack)
{
    Start({"--serial", "com210"});
    OpenMatrix();
    EXPECT_TRUE(Shows(1, 1));  // the emulator's power-on routes
    EXPECT_TRUE(Shows(2, 2));

    for (int output = 1; output <= 2; ++output) {
        for (int input = 1; input <= 4; ++input) {
            SCOPED_TRACE(::testing::Message() << "input " << input << " to output " << output);
            page->InputButton(output, input)->click();
            ASSERT_TRUE(WaitFor([&] { return g_bReady; }));
            EXPECT_TRUE(Shows(output, input));

            // The emulator's own answer to a route query, read by opening the tab anew.
            qobject_cast<QAbstractButton*>(dlg->Control(1123))->click();  // empty log panes
            OpenMatrix();
            EXPECT_TRUE(Shows(output, input));
            const QString status = QStringLiteral("A5 5B 02 01 %1 00 %2 ").arg(output, 2, 10, QLatin1Char('0'))
                                       .arg(input, 2, 10, QLatin1Char('0'));
            EXPECT_TRUE(RxText().contains(status)) << RxText().toStdString();
        }
    }
    EXPECT_TRUE(Shows(1, 4));
    EXPECT_TRUE(Shows(2, 4));
    EXPECT_TRUE(op.Messages().empty());
}

TEST_F(MatrixEndToEnd, PreviousAndNextOverALineThatSplitsAndPadsReplies)
{
    // Route acknowledgements arrive a byte at a time, after garbage bytes.
    Start({"--serial", "com210", "--fault", "split=3:02 03", "--fault", "noise=5:02 01"});
    OpenMatrix();
    ASSERT_TRUE(Shows(1, 1));
    const int expected[] = {2, 3, 4, 1};
    for (int want : expected) {
        page->NextButton(1)->click();
        ASSERT_TRUE(WaitFor([&] { return g_bReady; }));
        EXPECT_TRUE(Shows(1, want)) << want;
    }
    page->PreviousButton(2)->click();  // from input 2
    ASSERT_TRUE(WaitFor([&] { return g_bReady; }));
    EXPECT_TRUE(Shows(2, 1));
    page->PreviousButton(2)->click();  // from input 1: wraps to 4
    ASSERT_TRUE(WaitFor([&] { return g_bReady; }));
    EXPECT_TRUE(Shows(2, 4));
    OpenMatrix();
    EXPECT_TRUE(Shows(1, 1));
    EXPECT_TRUE(Shows(2, 4));
    EXPECT_TRUE(op.Messages().empty());
}

}  // namespace
}  // namespace corvane::test
