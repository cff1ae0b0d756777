// The routing page through the panel's real serial transport and a real pseudo-terminal, with
// the emulator process at the other end.
#include "tests/e2e/panel_e2e.h"

#include <QCoreApplication>
#include <QPlainTextEdit>
#include <functional>

#include "panel/pages/matrix_dlg.h"
#include "transport/qt_timers.h"
#include "panel/widgets/icon_button.h"

namespace corvane::test {
namespace {

class MatrixEndToEnd : public PanelEndToEnd {
protected:
    void Start(std::vector<std::string> simArgs)
    {
        simArgs.push_back("--quiet");
        StartPanel(std::move(simArgs), timers);
        PressConnect("COM210");
        ASSERT_TRUE(WaitFor([&] { return dlg->Link().Log().RxFrames() >= 1; }));  // DVI status
        ASSERT_TRUE(dlg->Link().bReady);
    }
    // Opens the Matrix tab (from the General tab); its two route queries are answered.
    void OpenMatrix()
    {
        dlg->PressTab(1008);
        const unsigned before = dlg->Link().Log().RxFrames();
        dlg->PressTab(1012);
        page = dlg->findChild<CMatrixDlg*>();
        ASSERT_NE(page, nullptr);
        ASSERT_TRUE(WaitFor([&] { return dlg->Link().bReady && dlg->Link().Log().RxFrames() >= before + 2; }));
    }
    bool Shows(int output, int input) const
    {
        return page->InputButton(output, input)->isChecked() && page->DigitShown(output) == input &&
               page->Page().ShownInput(output) == input;
    }
    QString RxText() const { return qobject_cast<QPlainTextEdit*>(dlg->Control(1042))->toPlainText(); }

    CQtTimers timers;
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
            ASSERT_TRUE(WaitFor([&] { return dlg->Link().bReady; }));
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
        ASSERT_TRUE(WaitFor([&] { return dlg->Link().bReady; }));
        EXPECT_TRUE(Shows(1, want)) << want;
    }
    page->PreviousButton(2)->click();  // from input 2
    ASSERT_TRUE(WaitFor([&] { return dlg->Link().bReady; }));
    EXPECT_TRUE(Shows(2, 1));
    page->PreviousButton(2)->click();  // from input 1: wraps to 4
    ASSERT_TRUE(WaitFor([&] { return dlg->Link().bReady; }));
    EXPECT_TRUE(Shows(2, 4));
    OpenMatrix();
    EXPECT_TRUE(Shows(1, 1));
    EXPECT_TRUE(Shows(2, 4));
    EXPECT_TRUE(op.Messages().empty());
}

}  // namespace
}  // namespace corvane::test
