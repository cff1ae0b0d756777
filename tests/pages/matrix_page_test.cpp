// The routing page's behaviour without any window: what each reply does to the display, the
// gate and the timers, given the frame that was sent last.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "core/link/link_core.h"
#include "core/pages/matrix_page.h"
#include "platform/scripted_notices.h"

namespace corvane::test {
namespace {

using Bytes = std::vector<uint8_t>;

class CRecordingView final : public IMatrixView {
public:
    void CheckInput(int output, int input) override { calls.push_back("check " + Pair(output, input)); }
    void ShowDigit(int output, int input) override { calls.push_back("digit " + Pair(output, input)); }
    std::vector<std::string> calls;

private:
    static std::string Pair(int a, int b) { return std::to_string(a) + " " + std::to_string(b); }
};

class CRecordingTransport final : public ITransport {
public:
    void Write(std::span<const uint8_t> bytes) override { writes.emplace_back(bytes.begin(), bytes.end()); }
    std::vector<Bytes> writes;
};

class MatrixPageCore : public ::testing::Test {
protected:
    MatrixPageCore()
    {
        link = std::make_unique<CLinkCore>(clock, op, tx, rx);
        link->SetTransports(&serial, nullptr);
        page = std::make_unique<CMatrixPage>(*link, view);
    }
    ~MatrixPageCore() override
    {
        page.reset();
        link.reset();
    }
    void SetUp() override
    {
        link->bComOpen = true;
    }
    // Bytes 2.. of each frame written.
    std::vector<Bytes> Sent() const
    {
        std::vector<Bytes> out;
        for (const Bytes& w : serial.writes)
            out.emplace_back(w.begin() + 2, w.begin() + 7);
        return out;
    }

    CVirtualTimers clock;
    CScriptedNotices op;
    CTextPane tx, rx;
    CRecordingTransport serial;
    CRecordingView view;
    std::unique_ptr<CLinkCore> link;
    std::unique_ptr<CMatrixPage> page;
};

TEST_F(MatrixPageCore, EveryReplyGroupAgainstTheFrameSentLast)
{
    struct Case {
        const char* name;
        Bytes lastSent;  // bytes 2..6 of link->CommandFrame when the reply arrives
        Bytes reply;     // bytes 2..6
        std::vector<std::string> calls;
        bool ready;            // the gate is free afterwards
        bool routeTimer;       // the page's 7-second timer still runs
        bool pageOpenTimer;    // the main window's page-opening timer still runs
        std::vector<Bytes> sent;
    };
    const std::vector<std::string> none;
    const Case cases[] = {
        {"route set acknowledged", {2, 3, 3, 0, 1}, {2, 3, 0, 0, 1}, {"digit 1 3", "check 1 3"}, true, false, true, {}},
        {"route set on output 2", {2, 3, 4, 0, 2}, {2, 3, 0, 0, 2}, {"digit 2 4", "check 2 4"}, true, false, true, {}},
        {"acknowledgement's byte 6 is not read", {2, 3, 2, 0, 1}, {2, 3, 0, 0, 7}, {"digit 1 2", "check 1 2"}, true, false, true, {}},
        {"acknowledgement after another command", {2, 1, 2, 0, 0}, {2, 3, 0, 0, 1}, none, true, false, true, {}},
        {"acknowledgement of a reset step", {0x0A, 6, 2, 0, 1}, {2, 3, 0, 0, 1}, none, true, false, true, {}},
        {"route set refused", {2, 3, 3, 0, 1}, {2, 3, 0xEE, 0, 0xEE}, none, false, true, true, {}},

        {"status of output 1 asks for output 2", {2, 1, 1, 0, 0}, {2, 1, 1, 0, 3}, {"digit 1 3", "check 1 3"}, false, true, true, {{2, 1, 2, 0, 0}}},
        {"status of output 2 ends the chain", {2, 1, 2, 0, 0}, {2, 1, 2, 0, 4}, {"digit 2 4", "check 2 4"}, true, true, false, {}},
        {"status input 0", {2, 1, 2, 0, 0}, {2, 1, 2, 0, 0}, none, true, true, false, {}},
        {"status input 5", {2, 1, 1, 0, 0}, {2, 1, 1, 0, 5}, none, false, true, true, {{2, 1, 2, 0, 0}}},
        // Only the answer to the query last sent counts: another output's answer, or one that
        // comes after another command, neither shows a route nor moves the chain on.
        {"status of another output than asked", {2, 1, 1, 0, 0}, {2, 1, 2, 0, 2}, none, false, true, true, {}},
        {"status of output 1 again after output 2 was asked", {2, 1, 2, 0, 0}, {2, 1, 1, 0, 3}, none, false, true, true, {}},
        {"stray status after a route set", {2, 3, 1, 0, 1}, {2, 1, 1, 0, 3}, none, false, true, true, {}},

        {"option 0C acknowledged", {2, 3, 1, 0, 1}, {0x0A, 0x0C, 0, 0, 1}, none, true, false, true, {}},
        {"option 0E acknowledged", {2, 3, 1, 0, 1}, {0x0A, 0x0E, 0, 0, 1}, none, true, false, true, {}},
        {"option 0F acknowledged", {2, 3, 1, 0, 1}, {0x0A, 0x0F, 0, 0, 1}, none, true, false, true, {}},
        {"0A 01 acknowledged", {2, 3, 1, 0, 1}, {0x0A, 0x01, 0, 0, 0}, none, true, false, true, {}},
        {"0A 0C with byte 6 = 0", {2, 3, 1, 0, 1}, {0x0A, 0x0C, 0, 0, 0}, none, false, true, true, {}},
        {"0A 0C with byte 4 = 1", {2, 3, 1, 0, 1}, {0x0A, 0x0C, 1, 0, 1}, none, false, true, true, {}},
        {"0A 01 with byte 6 = 1", {2, 3, 1, 0, 1}, {0x0A, 0x01, 0, 0, 1}, none, false, true, true, {}},
        {"route to output 2 acknowledged", {0x0A, 6, 3, 0, 1}, {0x0A, 6, 0, 0, 1}, {"digit 2 3", "check 2 3"}, true, false, true, {}},
        {"0A 06 after another command", {2, 1, 1, 0, 0}, {0x0A, 6, 0, 0, 1}, none, true, false, true, {}},

        {"panel 0C", {2, 3, 1, 0, 1}, {0x90, 0x0C, 0x33, 0, 0}, none, true, false, false, {}},
        {"panel 01", {2, 3, 1, 0, 1}, {0x90, 0x01, 0, 0, 0}, none, true, false, false, {}},
        {"panel route to output 2", {2, 3, 1, 0, 1}, {0x90, 0x06, 2, 0, 1}, {"digit 2 2", "check 2 2"}, true, false, false, {}},
        {"panel route to output 2, input 9", {2, 3, 1, 0, 1}, {0x90, 0x06, 9, 0, 1}, none, true, false, false, {}},
        {"panel 0C with byte 6 = 1", {2, 3, 1, 0, 1}, {0x90, 0x0C, 0, 0, 1}, none, false, true, true, {}},
        {"panel 06 with byte 6 = 0", {2, 3, 1, 0, 1}, {0x90, 0x06, 2, 0, 0}, none, false, true, true, {}},

        {"a General page reply", {2, 3, 1, 0, 1}, {1, 4, 1, 0, 0}, none, false, true, true, {}},
        {"beep answer", {2, 3, 1, 0, 1}, {6, 1, 0, 0, 0xDD}, none, false, true, true, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        link->ResetLate();  // the replies below reach the page directly, not through the link
        link->bComOpen = true;
        page->OnInputButton(2, 1);  // starts the page's timer and claims the gate
        ASSERT_TRUE(page->RouteTimerRunning());
        link->SetTimer(TIMER_PAGE_TIMEOUT, kPageTimeoutMs);
        serial.writes.clear();
        view.calls.clear();
        link->CommandFrame = MakeFrame({c.lastSent[0], c.lastSent[1], c.lastSent[2], c.lastSent[3], c.lastSent[4]});

        page->OnRoutingReply(MakeFrame({c.reply[0], c.reply[1], c.reply[2], c.reply[3], c.reply[4]}));
        EXPECT_EQ(view.calls, c.calls);
        EXPECT_EQ(link->bReady, c.ready);
        EXPECT_EQ(page->RouteTimerRunning(), c.routeTimer);
        EXPECT_EQ(link->IsTimerRunning(TIMER_PAGE_TIMEOUT), c.pageOpenTimer);
        EXPECT_EQ(Sent(), c.sent);
        EXPECT_TRUE(op.Messages().empty());
        page->ShowRoute(1, 1);
        page->ShowRoute(1, 2);
        link->KillTimer(TIMER_PAGE_TIMEOUT);
    }
    clock.Advance(10000);  // the route timers left running above
}

TEST_F(MatrixPageCore, ShowRouteKeepsOnlyRealRoutes)
{
    struct Case {
        int input, output;
        std::vector<std::string> calls;
        int shown1, shown2;
    };
    const Case cases[] = {
        {3, 1, {"check 1 3"}, 3, 1}, {4, 2, {"check 2 4"}, 1, 4}, {0, 1, {}, 1, 1},
        {5, 2, {}, 1, 1},            {2, 0, {}, 1, 1},            {2, 3, {}, 1, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.input << " to " << c.output);
        page = std::make_unique<CMatrixPage>(*link, view);
        view.calls.clear();
        page->ShowRoute(c.input, c.output);
        EXPECT_EQ(view.calls, c.calls);
        EXPECT_EQ(page->ShownInput(1), c.shown1);
        EXPECT_EQ(page->ShownInput(2), c.shown2);
    }
}

TEST_F(MatrixPageCore, ButtonsOutsideTheMatrixSendNothingAndKeepTheGate)
{
    page->OnInputButton(0, 1);
    page->OnInputButton(3, 1);
    page->OnInputButton(1, 0);
    page->OnInputButton(1, 5);
    page->OnPreviousInput(0);
    page->OnNextInput(3);
    EXPECT_TRUE(serial.writes.empty());
    EXPECT_TRUE(link->bReady);
    EXPECT_FALSE(page->RouteTimerRunning());
}

TEST_F(MatrixPageCore, TimeOutShowsTheMessageAndFreesTheGateWhenClosed)
{
    page->OnInputButton(1, 2);
    view.calls.clear();
    clock.Advance(kRouteTimeoutMs - 1);
    EXPECT_TRUE(op.Messages().empty());
    page->OnTimer(999);  // not the page's timer
    EXPECT_TRUE(op.Messages().empty());
    clock.Advance(1);
    EXPECT_EQ(op.Messages(), std::vector<std::string>{"Time out!"});
    EXPECT_FALSE(page->RouteTimerRunning()) << "fires once";
    EXPECT_FALSE(link->bReady);
    op.CloseBox();
    EXPECT_TRUE(link->bReady);
    EXPECT_TRUE(view.calls.empty());
    EXPECT_EQ(Sent(), (std::vector<Bytes>{{2, 3, 2, 0, 1}}));
    EXPECT_EQ(serial.writes[0][12], NegatedSum(std::span(serial.writes[0]).first(12)));
}

// After a route's time-out the panel reads both routes back, once the message is closed and a
// late answer could no longer come; a front end that reads back itself gets nothing extra.
TEST_F(MatrixPageCore, AfterATimeOutTheRoutesAreReadBackOnceTheLineHasSettled)
{
    link->SetCurrentPage(PAGE_MATRIX);
    for (bool readBack : {false, true}) {
        SCOPED_TRACE(readBack);
        serial.writes.clear();
        page->SetReadBackAfterTimeOut(readBack);
        page->OnInputButton(2, 3);
        clock.Advance(kRouteTimeoutMs + kLateAfterTimeoutMs);  // the message still open
        EXPECT_EQ(Sent().size(), 1u);
        op.CloseBox();
        clock.Advance(kReadBackPollMs);
        EXPECT_EQ(Sent().size(), readBack ? 2u : 1u);
        if (readBack) {
            EXPECT_EQ(Sent()[1], (Bytes{2, 1, 1, 0, 0}));
            clock.Advance(kPageTimeoutMs);  // that one unanswered too: no read-back of the read-back
            op.CloseBox();
        }
        clock.Advance(kLateAfterTimeoutMs + kReadBackPollMs);
        EXPECT_EQ(Sent().size(), readBack ? 2u : 1u);
    }
    // Closed at once: the late window still runs, and a page left meanwhile reads nothing.
    serial.writes.clear();
    page->OnInputButton(2, 3);
    clock.Advance(kRouteTimeoutMs);
    op.CloseBox();
    clock.Advance(kLateAfterTimeoutMs - kReadBackPollMs);
    EXPECT_EQ(Sent().size(), 1u);
    link->SetCurrentPage(PAGE_EDID);
    clock.Advance(kReadBackPollMs * 4);
    EXPECT_EQ(Sent().size(), 1u);
}

TEST_F(MatrixPageCore, TimeOutWhileAMessageIsOpenFreesTheGateAtOnce)
{
    op.ShowMessage("Open COM failed!", {});
    page->OnInputButton(1, 2);
    clock.Advance(kRouteTimeoutMs);
    EXPECT_EQ(op.BoxText(), "Time out!");
    EXPECT_TRUE(link->bReady);
}

}  // namespace
// Two switchers in one process on one clock: each link has its own gate, frame and timers, so
// a silent one does not hold up the other, and its time-out is its own operator's.
TEST(MatrixPageTwoLinks, ASilentSwitcherDoesNotHoldUpTheOther)
{
    CVirtualTimers clock;
    CScriptedNotices opA, opB;
    CTextPane tx, rx;
    CRecordingTransport lineA, lineB;
    CRecordingView viewA, viewB;
    CLinkCore a(clock, opA, tx, rx), b(clock, opB, tx, rx);
    a.SetTransports(&lineA, nullptr);
    b.SetTransports(&lineB, nullptr);
    a.bComOpen = b.bComOpen = true;
    CMatrixPage pageA(a, viewA), pageB(b, viewB);
    for (auto [link, page] : {std::pair{&a, &pageA}, std::pair{&b, &pageB}}) {
        link->SetCurrentPage(PAGE_MATRIX);
        link->SetPageHandler(PAGE_MATRIX, [page](const Frame& f) { page->OnRoutingReply(f); });
    }
    pageA.OnInputButton(1, 3);
    pageB.OnInputButton(2, 4);
    ASSERT_EQ(lineA.writes.size(), 1u);
    ASSERT_EQ(lineB.writes.size(), 1u);
    EXPECT_FALSE(a.bReady);
    for (uint8_t byte : MakeFrame({2, 3, 0, 0, 2}))
        b.OnPortByte(byte);
    EXPECT_TRUE(b.bReady);
    EXPECT_EQ(viewB.calls, (std::vector<std::string>{"digit 2 4", "check 2 4"}));
    EXPECT_FALSE(a.bReady);
    EXPECT_TRUE(viewA.calls.empty());
    clock.Advance(kRouteTimeoutMs);
    EXPECT_EQ(opA.Messages(), std::vector<std::string>{"Time out!"});
    EXPECT_TRUE(opB.Messages().empty());
    EXPECT_EQ(a.CommandFrame[4], 3);
    EXPECT_EQ(b.CommandFrame[4], 4);
}

}  // namespace corvane::test
