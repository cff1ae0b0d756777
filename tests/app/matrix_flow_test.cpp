// The routing page as the operator uses it, against the switcher model on the virtual clock.
#include "tests/app/matrix_fixture.h"

#include "panel/widgets/icon_button.h"

namespace corvane::test {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes RouteSet(int input, int output) { return {0x02, 0x03, uint8_t(input), 0x00, uint8_t(output)}; }
Bytes RouteQuery(int output) { return {0x02, 0x01, uint8_t(output), 0x00, 0x00}; }

class MatrixPage : public MatrixFixture {};

TEST_F(MatrixPage, OpeningShowsBothRoutesEveryTime)
{
    Open(3, 4);
    EXPECT_EQ(Sent(), (std::vector<Bytes>{RouteQuery(1), RouteQuery(2)}));
    EXPECT_EQ(Display(), (std::vector<int>{3, 3, 4, 4}));
    EXPECT_EQ(page->Picture(1)->accessibleName(), QStringLiteral("Output 1: input 3"));
    EXPECT_EQ(page->Picture(2)->accessibleName(), QStringLiteral("Output 2: input 4"));
    EXPECT_EQ(page->pos(), QPoint(1, 56));
    EXPECT_TRUE(dlg->Link().bReady);
    EXPECT_FALSE(dlg->Link().IsTimerRunning(TIMER_PAGE_TIMEOUT));

    // Routes changed elsewhere (the switcher's front panel) show when the tab is chosen again.
    const struct {
        uint8_t route1, route2;
    } changes[] = {{1, 1}, {4, 2}, {2, 3}};
    for (const auto& c : changes) {
        SCOPED_TRACE(int(c.route1) * 10 + c.route2);
        port->device.OnCommand(MakeFrame({0x02, 0x03, c.route1, 0x00, 0x01}), nullptr, 0);
        port->device.OnCommand(MakeFrame({0x02, 0x03, c.route2, 0x00, 0x02}), nullptr, 0);
        dlg->PressTab(1008);
        dlg->PressTab(1012);
        port->Run(0);
        EXPECT_EQ(Display(), (std::vector<int>{c.route1, c.route1, c.route2, c.route2}));
        EXPECT_TRUE(dlg->Link().bReady);
        EXPECT_EQ(dlg->findChildren<CMatrixDlg*>().size(), 1);  // built once, shown again
    }
    clock.Advance(20000);
    EXPECT_TRUE(op.Messages().empty());
}

TEST_F(MatrixPage, EveryInButtonRoutesItsInputOnlyWhenAcknowledged)
{
    Open(4, 4);
    struct Case {
        int id, output, input;
    };
    // Output 2's ids do not run in input order.
    const Case cases[] = {{1101, 1, 1}, {1102, 1, 2}, {1103, 1, 3}, {1104, 1, 4},
                          {1121, 2, 1}, {1122, 2, 2}, {1109, 2, 3}, {1110, 2, 4}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.id);
        port->writes.clear();
        const std::vector<int> before = Display();
        auto* button = qobject_cast<QAbstractButton*>(page->Control(c.id));
        ASSERT_NE(button, nullptr);
        button->click();
        EXPECT_EQ(Sent(), std::vector<Bytes>{RouteSet(c.input, c.output)});
        EXPECT_EQ(port->writes.back()[12], NegatedSum(std::span(port->writes.back()).first(12)));
        EXPECT_EQ(Display(), before) << "the click alone changes nothing";
        EXPECT_FALSE(dlg->Link().bReady);
        EXPECT_TRUE(page->Page().RouteTimerRunning());

        port->Run(0);
        EXPECT_EQ(port->device.Route(c.output), c.input);
        EXPECT_EQ(page->DigitShown(c.output), c.input);
        EXPECT_EQ(Checked(c.output), c.input);
        EXPECT_EQ(page->Picture(c.output)->accessibleName(),
                  QStringLiteral("Output %1: input %2").arg(c.output).arg(c.input));
        const int other = 3 - c.output;
        EXPECT_EQ(page->DigitShown(other), before[2 * (other - 1)]) << "the other output stays";
        EXPECT_EQ(Checked(other), before[2 * (other - 1) + 1]);
        EXPECT_TRUE(dlg->Link().bReady);
        EXPECT_FALSE(page->Page().RouteTimerRunning());
    }
    clock.Advance(20000);
    EXPECT_TRUE(op.Messages().empty());
}

TEST_F(MatrixPage, PreviousAndNextWrapAroundOnBothOutputs)
{
    Open();
    struct Case {
        int output, from;
        bool next;
        int sent;
    };
    const Case cases[] = {
        {1, 1, false, 4}, {1, 2, false, 1}, {1, 3, false, 2}, {1, 4, false, 3},
        {1, 1, true, 2},  {1, 2, true, 3},  {1, 3, true, 4},  {1, 4, true, 1},
        {2, 1, false, 4}, {2, 2, false, 1}, {2, 3, false, 2}, {2, 4, false, 3},
        {2, 1, true, 2},  {2, 2, true, 3},  {2, 3, true, 4},  {2, 4, true, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "output " << c.output << " from " << c.from << (c.next ? " next" : " prev"));
        Route(c.output, c.from);
        port->writes.clear();
        CIconButton* b = c.next ? page->NextButton(c.output) : page->PreviousButton(c.output);
        b->click();
        EXPECT_EQ(Sent(), std::vector<Bytes>{RouteSet(c.sent, c.output)});
        EXPECT_EQ(Checked(c.output), c.from) << "nothing moves before the acknowledgement";
        EXPECT_EQ(page->DigitShown(c.output), c.from);
        port->Run(0);
        EXPECT_EQ(Checked(c.output), c.sent);
        EXPECT_EQ(page->DigitShown(c.output), c.sent);
        EXPECT_TRUE(dlg->Link().bReady);
    }
}

TEST_F(MatrixPage, ClickingTheCheckedButtonSendsAgainAndStaysChecked)
{
    Open(2, 2);
    port->writes.clear();
    page->InputButton(1, 2)->click();
    EXPECT_TRUE(page->InputButton(1, 2)->isChecked());
    EXPECT_EQ(Sent(), std::vector<Bytes>{RouteSet(2, 1)});
    port->Run(0);
    EXPECT_EQ(Display(), (std::vector<int>{2, 2, 2, 2}));
}

TEST_F(MatrixPage, ClicksWhileACommandIsPendingSendNothingAndShowNothing)
{
    Open(1, 2);
    port->writes.clear();
    page->InputButton(1, 3)->click();
    const std::vector<int> before = Display();
    for (int o = 1; o <= 2; ++o) {
        for (int i = 1; i <= 4; ++i)
            page->InputButton(o, i)->click();
        page->PreviousButton(o)->click();
        page->NextButton(o)->click();
    }
    EXPECT_EQ(Sent(), std::vector<Bytes>{RouteSet(3, 1)});
    EXPECT_EQ(Display(), before);
    EXPECT_TRUE(op.Messages().empty());
    port->Run(0);
    EXPECT_EQ(Display(), (std::vector<int>{3, 3, 2, 2}));
    EXPECT_EQ(port->device.Route(2), 2);
}

TEST_F(MatrixPage, ClickWithTheLinkClosedShowsTheGatesMessage)
{
    struct Case {
        uint8_t mode;
        const char* message;
    };
    for (const Case c : {Case{MODE_COM, "Open COM failed!"}, Case{MODE_TCP, "Connect to Matrix failed!"}}) {
        SCOPED_TRACE(c.message);
        dlg->Link().nControlMode = c.mode;
        dlg->PressTab(1008);
        dlg->PressTab(1012);  // the page opens all the same; its query is refused
        page = dlg->findChild<CMatrixDlg*>();
        ASSERT_NE(page, nullptr);
        ASSERT_TRUE(op.BoxOpen());
        op.CloseBox();
        op.ClearEvents();
        for (QAbstractButton* b : {page->InputButton(1, 2), page->InputButton(2, 4),
                                   static_cast<QAbstractButton*>(page->NextButton(1))}) {
            b->click();
            EXPECT_EQ(op.BoxText(), c.message);
            op.CloseBox();
        }
        EXPECT_EQ(op.Messages().size(), 3u);
        EXPECT_TRUE(port->writes.empty());
        EXPECT_EQ(Checked(1), 0);
        EXPECT_EQ(Checked(2), 0);
        EXPECT_TRUE(dlg->Link().bReady);
        EXPECT_FALSE(page->Page().RouteTimerRunning());
    }
}

TEST_F(MatrixPage, UnansweredRouteTimesOutAfterSevenSeconds)
{
    Open(1, 2);
    port->AddFault("drop:02 03");
    port->writes.clear();
    page->InputButton(2, 3)->click();
    port->Run(6999);
    EXPECT_FALSE(op.BoxOpen());
    EXPECT_FALSE(dlg->Link().bReady);
    port->Run(1);
    EXPECT_EQ(op.Messages(), std::vector<std::string>{"Time out!"});
    EXPECT_FALSE(dlg->Link().bReady) << "ready only once the operator has closed the box";
    EXPECT_FALSE(page->Page().RouteTimerRunning());
    EXPECT_EQ(Display(), (std::vector<int>{1, 1, 2, 2}));
    EXPECT_EQ(Sent().size(), 1u) << "a route set is not repeated";
    op.CloseBox();
    EXPECT_TRUE(dlg->Link().bReady);
    port->Run(30000);
    EXPECT_EQ(op.Messages().size(), 1u);

    // The gate is free again: the next click goes out.
    page->InputButton(2, 4)->click();
    EXPECT_EQ(Sent().back(), RouteSet(4, 2));
}

TEST_F(MatrixPage, LateAcknowledgementIsStillApplied)
{
    Open(1, 2);
    port->AddFault("delay=8000:02 03");
    page->InputButton(1, 4)->click();
    port->Run(7000);
    EXPECT_EQ(op.BoxText(), "Time out!");
    EXPECT_EQ(Checked(1), 1);
    port->Run(1000);  // the acknowledgement arrives with the box still open
    EXPECT_EQ(Checked(1), 4);
    EXPECT_EQ(page->DigitShown(1), 4);
    EXPECT_TRUE(dlg->Link().bReady);
    op.CloseBox();
    EXPECT_TRUE(dlg->Link().bReady);
}

// The next command waits until the late acknowledgement came: taken before, it would have been
// the refused command's.
TEST_F(MatrixPage, CommandAfterATimeOutDoesNotTakeItsLateAcknowledgement)
{
    Open(1, 2);
    port->AddFault("delay=7500:02 03 02 00 01");
    port->AddFault("refuse:02 03 03 00 01");
    page->InputButton(1, 2)->click();
    port->Run(7000);
    EXPECT_EQ(op.BoxText(), "Time out!");
    op.CloseBox();
    const std::size_t written = port->writes.size();
    page->InputButton(1, 3)->click();  // the line still settles: nothing goes out
    EXPECT_EQ(port->writes.size(), written);
    port->Run(500);
    EXPECT_EQ(Checked(1), 2);
    page->InputButton(1, 3)->click();
    port->Run(100);
    EXPECT_EQ(port->writes.size(), written + 1);
    EXPECT_EQ(Checked(1), 2) << "the refusal shows no route";
}

TEST_F(MatrixPage, StatusWithAnInputOutsideOneToFourChangesNothing)
{
    Open(3, 4);
    const std::vector<int> before = Display();
    for (uint8_t input : {0x00, 0x05, 0xEE, 0xFF}) {
        SCOPED_TRACE(int(input));
        // The answer to the page's own query for output 2 (the frame last sent), once more.
        ASSERT_EQ(Sent().back(), RouteQuery(2));
        dlg->Link().bReady = false;
        dlg->Link().DispatchReply(MakeFrame({0x02, 0x01, 0x02, 0x00, input}));
        EXPECT_EQ(Display(), before);
        EXPECT_EQ(page->Page().ShownInput(2), 4);
        EXPECT_TRUE(dlg->Link().bReady) << "the chain still ends";
    }
    // Previous and next still send a real input.
    page->NextButton(2)->click();
    EXPECT_EQ(Sent().back(), RouteSet(1, 2));
}

TEST_F(MatrixPage, SwitchingPagesWhileARouteIsPending)
{
    Open(1, 2);
    page->InputButton(1, 3)->click();
    EXPECT_EQ(dlg->CurrentPage(), PAGE_MATRIX);
    dlg->PressTab(1008);
    EXPECT_EQ(dlg->CurrentPage(), PAGE_MATRIX) << "tabs wait for the reply";
    Click(1123);  // the log panes' "clear" frees the gate
    dlg->PressTab(1008);
    ASSERT_EQ(dlg->CurrentPage(), PAGE_GENERAL);
    const std::size_t written = port->writes.size();

    port->Run(0);  // the acknowledgement goes to the General page, which ignores it
    EXPECT_EQ(port->writes.size(), written);
    EXPECT_EQ(Checked(1), 1);
    EXPECT_FALSE(op.StatusOpen());

    port->Run(6999);
    EXPECT_FALSE(op.BoxOpen());
    port->Run(1);
    EXPECT_EQ(op.BoxText(), "Time out!") << "the routing page's own timer still runs";
    op.CloseBox();
    EXPECT_TRUE(dlg->Link().bReady);

    // Back on the page, the switcher's route shows.
    dlg->PressTab(1012);
    port->Run(0);
    EXPECT_EQ(Display(), (std::vector<int>{3, 3, 2, 2}));
}

TEST_F(MatrixPage, UnansweredOpeningQueryTimesOutInTheMainWindow)
{
    struct Case {
        const char* fault;
        std::vector<int> display;  // what the page shows after the time-out
        std::size_t sent;
    };
    const Case cases[] = {
        {"drop:02 01 01", {1, 0, 1, 0}, 1},
        {"drop:02 01 02", {3, 3, 1, 0}, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        TearDown();
        SetUp();
        port->AddFault(c.fault);
        Open(3, 4);
        EXPECT_EQ(Display(), c.display);
        port->Run(6999);
        EXPECT_FALSE(op.BoxOpen());
        port->Run(1);
        EXPECT_EQ(op.BoxText(), "Time out!");
        op.CloseBox();
        EXPECT_TRUE(dlg->Link().bReady);
        EXPECT_EQ(Display(), c.display);
        EXPECT_EQ(Sent().size(), c.sent);
    }
}

}  // namespace
}  // namespace corvane::test
