#include <gtest/gtest.h>

#include <vector>

#include "core/link/link_core.h"
#include "core/link/queries.h"
#include "core/link/retry_step.h"
#include "platform/scripted_notices.h"

namespace corvane {
namespace {

struct RecordingTransport : ITransport {
    std::vector<std::vector<uint8_t>> writes;
    void Write(std::span<const uint8_t> bytes) override { writes.emplace_back(bytes.begin(), bytes.end()); }
};

class LinkCoreTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        core = std::make_unique<CLinkCore>(timers, op, tx, rx);
        core->SetTransports(&serial, &tcp);
        core->SetComModeChecked([this] { return comChecked; });
        for (uint8_t page : {PAGE_GENERAL, PAGE_EDID, PAGE_MATRIX, PAGE_FIRMWARE})
            core->SetPageHandler(page, [this, page](const Frame& f) { handled.push_back({page, f}); });
    }
    void TearDown() override
    {
        core.reset();
    }
    void Receive(const Frame& f)
    {
        for (uint8_t b : f)
            core->OnPortByte(b);
    }

    CVirtualTimers timers;
    CScriptedNotices op;
    CTextPane tx, rx;
    RecordingTransport serial, tcp;
    bool comChecked = true;
    std::unique_ptr<CLinkCore> core;
    std::vector<std::pair<uint8_t, Frame>> handled;
};

TEST_F(LinkCoreTest, SendGate)
{
    struct Case {
        const char* name;
        uint8_t mode;
        bool comOpen, tcpConnected, ready;
        bool admitted;
        const char* message;
    };
    const Case cases[] = {
        {"COM closed", MODE_COM, false, true, true, false, "Open COM failed!"},
        {"TCP not connected", MODE_TCP, true, false, true, false, "Connect to Matrix failed!"},
        {"busy on COM", MODE_COM, true, false, false, false, nullptr},
        {"busy on TCP", MODE_TCP, false, true, false, false, nullptr},
        {"COM ready", MODE_COM, true, false, true, true, nullptr},
        {"TCP ready", MODE_TCP, false, true, true, true, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        op = CScriptedNotices();
        core->nControlMode = c.mode;
        core->bComOpen = c.comOpen;
        core->bTcpConnected = c.tcpConnected;
        core->bReady = c.ready;
        EXPECT_EQ(core->BeginCommand(), c.admitted);
        EXPECT_EQ(core->bReady, c.admitted ? false : c.ready);
        if (c.message)
            EXPECT_EQ(op.Messages(), std::vector<std::string>{c.message});
        else
            EXPECT_TRUE(op.Messages().empty());
    }
}

TEST_F(LinkCoreTest, SenderSealsAndPicksTransportByRadioButton)
{
    core->CommandFrame[12] = 0x99;  // stale checksum must be replaced
    core->SendCommand({0x01, 0x04, 0x01});
    ASSERT_EQ(serial.writes.size(), 1u);
    EXPECT_EQ(serial.writes[0], (std::vector<uint8_t>{0xA5, 0x5B, 1, 4, 1, 0, 0, 0, 0, 0, 0, 0, 0xFA}));
    EXPECT_EQ(tx.Text(), "A5 5B 01 04 01 00 00 00 00 00 00 00 FA \n");

    comChecked = false;  // the radio button decides, not the link flags
    core->nControlMode = MODE_COM;
    core->EdidBlock.fill(0);
    core->EdidBlock[1] = 0xFF;
    core->EdidBlock[2] = 0x02;
    core->OnSendRequest(SEND_EDID_BLOCK);
    ASSERT_EQ(tcp.writes.size(), 1u);
    EXPECT_EQ(tcp.writes[0].size(), kBlockSize);
    EXPECT_EQ(tcp.writes[0][0], 0xFF);  // 0x101 sums to 0x01
    EXPECT_EQ(serial.writes.size(), 1u);
}

TEST_F(LinkCoreTest, SendRequestCodes)
{
    struct Case {
        unsigned code;
        std::size_t bytes;  // 0: nothing sent
    };
    for (const Case c : {Case{2, 13}, Case{3, 257}, Case{4, 13}, Case{5, 13}, Case{6, 257}, Case{1, 0}, Case{7, 0},
                         Case{1000, 0}}) {
        SCOPED_TRACE(c.code);
        serial.writes.clear();
        core->OnSendRequest(c.code);
        if (c.bytes) {
            ASSERT_EQ(serial.writes.size(), 1u);
            EXPECT_EQ(serial.writes[0].size(), c.bytes);
        } else {
            EXPECT_TRUE(serial.writes.empty());
        }
    }
    core->SetTimer(TIMER_PAGE_TIMEOUT, kPageTimeoutMs);
    core->OnSendRequest(STOP_PAGE_TIMER);
    EXPECT_FALSE(core->IsTimerRunning(TIMER_PAGE_TIMEOUT));
}

TEST_F(LinkCoreTest, StepIsResentOnceThenTimesOut)
{
    core->bComOpen = true;
    ASSERT_TRUE(core->BeginCommand());
    core->SendCommand({0x01, 0x04, 0x01});
    core->StartStep(2000);
    op.OpenStatus("Getting status");

    timers.Advance(2999);
    EXPECT_EQ(serial.writes.size(), 1u);
    timers.Advance(1);
    ASSERT_EQ(serial.writes.size(), 2u);
    EXPECT_EQ(serial.writes[1], serial.writes[0]);
    EXPECT_TRUE(core->IsTimerRunning(2001));
    EXPECT_FALSE(core->IsTimerRunning(2000));

    timers.Advance(3000);
    EXPECT_EQ(serial.writes.size(), 2u);  // sent at most twice
    EXPECT_FALSE(op.StatusOpen());
    EXPECT_TRUE(op.BoxOpen());
    EXPECT_EQ(op.BoxText(), "Time out!");
    EXPECT_FALSE(core->bReady);  // ready again only when the operator has closed the box
    op.CloseBox();
    EXPECT_TRUE(core->bReady);
    timers.Advance(60000);
    EXPECT_EQ(serial.writes.size(), 2u);
}

TEST_F(LinkCoreTest, ReplyDuringSecondWaitEndsTheStepNormally)
{
    core->StartStep(2500);
    timers.Advance(3000);
    EXPECT_TRUE(core->IsTimerRunning(2501));
    core->StopStep(2500);
    timers.Advance(10000);
    EXPECT_FALSE(op.BoxOpen());
}

TEST_F(LinkCoreTest, RetryStepResendsOnceThenTimesOut)
{
    struct Case {
        const char* name;
        std::vector<int64_t> answers;  // ms after the start at which the answer comes
        std::vector<int64_t> restarts; // ms at which the chain moves on to its next query
        int resends;
        int64_t timedOutAt;  // -1: never
    } cases[] = {
        {"silent", {}, {}, 1, 6000},
        {"answered in the first wait", {2999}, {}, 0, -1},
        {"answered after the resend", {3001}, {}, 1, -1},
        {"answered at the last moment", {5999}, {}, 1, -1},
        // A chain that moves on starts the step again: its next query gets a whole first wait.
        {"next query after a resend", {}, {4000}, 2, 10000},
        {"next query answered", {2000, 4500}, {2000}, 0, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        int resends = 0;
        int64_t timedOutAt = -1;
        const int64_t begin = timers.Now();
        CRetryStep step(timers, [&] { ++resends; }, [&] { timedOutAt = timers.Now() - begin; });
        step.Start();
        for (int64_t t = 1; t <= 20000; ++t) {
            timers.Advance(1);
            for (int64_t r : c.restarts)
                if (r == t)
                    step.Start();
            for (int64_t a : c.answers)
                if (a == t)
                    step.Stop();
        }
        EXPECT_EQ(resends, c.resends);
        EXPECT_EQ(timedOutAt, c.timedOutAt);
        EXPECT_FALSE(step.Pending());
    }
}

TEST(Queries, FramesRefusalsAndWords)
{
    struct Case {
        Frame frame;
        std::vector<uint8_t> body;  // bytes 2..10
        const char* words;
    } cases[] = {
        {InputSignalQuery(3), {0x01, 0x04, 3, 0, 0, 0, 0, 0, 0}, "the signal query of input 3"},
        {OutputSignalQuery(2), {0x01, 0x05, 2, 0, 0, 0, 0, 0, 0}, "the signal query of output 2"},
        {BeepStatusQuery(), {0x01, 0x0B, 0, 0, 0, 0, 0, 0, 0}, "the beeper query"},
        {DviStatusQuery(), {0x01, 0x0C, 0, 0, 0, 0, 0, 0, 0}, "the DVI compatibility query"},
        {EdidStatusQuery(4), {0x01, 0x0C, 4, 0, 0, 0, 0, 0, 0}, "the EDID query of input 4"},
        {RouteQuery(2), {0x02, 0x01, 2, 0, 0, 0, 0, 0, 0}, "the route query of output 2"},
        {DeviceQuery(DEVICE_TYPE), {0x01, 0x01, 0, 0, 0, 0, 0, 0, 0xCC}, "the device-type query"},
        {DeviceQuery(DEVICE_VERSION), {0x01, 0x03, 0, 0, 0, 0, 0, 0, 0xCC}, "the version query"},
        {DeviceQuery(DEVICE_BUILD), {0x01, 0x06, 0, 0, 0, 0, 0, 0, 0}, "the build-text query"},
        {RebootCheck(), {0x01, 0x01, 0, 0, 0, 0, 0, 0, 0}, "the reboot check"},
        {MakeFrame({0x02, 0x03, 3, 0, 1}), {0x02, 0x03, 3, 0, 1, 0, 0, 0, 0}, "route input 3 to output 1"},
        {MakeFrame({0x03, 0x08, 0xF0}), {0x03, 0x08, 0xF0, 0, 0, 0, 0, 0, 0}, "the EDID set request"},
        {MakeFrame({0x0A, 0x0C, 1, 0, 1}), {0x0A, 0x0C, 1, 0, 1, 0, 0, 0, 0}, "the command 0A 0C 01 00 01"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.words);
        EXPECT_TRUE(FrameChecksumOk(c.frame));
        EXPECT_EQ(std::vector<uint8_t>(c.frame.begin() + 2, c.frame.begin() + 11), c.body);
        EXPECT_EQ(CommandText(c.frame), c.words);
    }
    const Frame sent = MakeFrame({0x03, 0x04, 0x01, 0x00, 0x02});
    EXPECT_TRUE(IsRefusal(MakeFrame({0x03, 0x04, 0xEE, 0x00, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE}), sent));
    EXPECT_TRUE(IsRefusal(MakeFrame({0x03, 0x04, 0xEE, 0x00, 0xEE}), sent));
    EXPECT_FALSE(IsRefusal(MakeFrame({0x03, 0x08, 0xEE, 0x00, 0xEE}), sent)) << "another command's";
    EXPECT_FALSE(IsRefusal(MakeFrame({0x03, 0x04, 0xEE, 0x00, 0x00}), sent));
    EXPECT_FALSE(IsRefusal(MakeFrame({0x03, 0x04, 0x00, 0x00, 0xEE}), sent));

    SDeviceInfo d{0x07, 4, 2, 0, 255, "AB"};
    EXPECT_EQ(d.Line(), "Device: Corvane+Brisel 4x2     Version:0.255-AB");
    d.type = 0x02;
    EXPECT_EQ(d.TypeName(), "Brisel");
}

TEST_F(LinkCoreTest, PageTimeout)
{
    core->bReady = false;
    core->SetTimer(TIMER_PAGE_TIMEOUT, kPageTimeoutMs);
    timers.Advance(6999);
    EXPECT_FALSE(op.BoxOpen());
    timers.Advance(1);
    EXPECT_EQ(op.BoxText(), "Time out!");
    op.CloseBox();
    EXPECT_TRUE(core->bReady);
    EXPECT_FALSE(core->IsTimerRunning(TIMER_PAGE_TIMEOUT));
    // A timer the core does not know is its owner's.
    std::vector<unsigned> other;
    core->SetOtherTimerHandler([&other](unsigned id) { other.push_back(id); });
    core->SetTimer(90, 10);
    timers.Advance(10);
    EXPECT_EQ(other, std::vector<unsigned>{90});
}

TEST_F(LinkCoreTest, ReplyGoesToThePageShownWhenItArrives)
{
    const Frame route = MakeFrame({0x02, 0x01, 0x00, 0x00, 0x02});
    // The page that asked does not matter: the operator may have switched before the reply.
    for (uint8_t shown : {PAGE_GENERAL, PAGE_EDID, PAGE_MATRIX, PAGE_FIRMWARE}) {
        SCOPED_TRACE(int(shown));
        handled.clear();
        core->SetCurrentPage(PAGE_MATRIX);
        core->SendCommand({0x02, 0x01, 0x01});
        core->SetCurrentPage(shown);
        Receive(route);
        ASSERT_EQ(handled.size(), 1u);
        EXPECT_EQ(handled[0].first, shown);
        EXPECT_EQ(handled[0].second, route);
    }
}

TEST_F(LinkCoreTest, OpeningQueryOfEachPage)
{
    core->bComOpen = true;
    struct Case {
        uint8_t page;
        std::vector<uint8_t> body;  // bytes 2..10 sent; empty: nothing
        bool timer, readyAfter;
    };
    const Case cases[] = {
        {PAGE_MATRIX, {0x02, 0x01, 0x01, 0, 0, 0, 0, 0, 0}, true, false},
        {PAGE_EDID, {0x01, 0x0C, 0x01, 0, 0, 0, 0, 0, 0}, true, false},
        {PAGE_FIRMWARE, {0x01, 0x01, 0, 0, 0, 0, 0, 0, 0xCC}, false, true},
        {PAGE_GENERAL, {}, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.page));
        serial.writes.clear();
        core->bReady = true;
        core->KillTimer(TIMER_PAGE_TIMEOUT);
        EXPECT_EQ(core->SendOpeningQuery(c.page), !c.body.empty());
        if (c.body.empty()) {
            EXPECT_TRUE(serial.writes.empty());
        } else {
            ASSERT_EQ(serial.writes.size(), 1u);
            EXPECT_EQ(std::vector<uint8_t>(serial.writes[0].begin() + 2, serial.writes[0].begin() + 11), c.body);
        }
        EXPECT_EQ(core->IsTimerRunning(TIMER_PAGE_TIMEOUT), c.timer);
        EXPECT_EQ(core->bReady, c.readyAfter);
    }
    // A command outstanding: nothing is sent.
    serial.writes.clear();
    core->bReady = false;
    EXPECT_FALSE(core->SendOpeningQuery(PAGE_MATRIX));
    EXPECT_TRUE(serial.writes.empty());
    // The shared frame is cleared before the gate, refused or not: a page that reads back the
    // frame last sent finds no command of its own there (a late route acknowledgement shows
    // no route from a frame that is not the route set).
    for (const bool open : {true, false}) {
        core->bComOpen = open;
        core->CommandFrame = MakeFrame({0x02, 0x03, 0x04, 0x00, 0x01});
        EXPECT_FALSE(core->SendOpeningQuery(PAGE_EDID));
        EXPECT_EQ(core->CommandFrame, (Frame{kHeader0, kHeader1}));
    }
    EXPECT_EQ(op.Messages(), std::vector<std::string>{"Open COM failed!"});
}

TEST_F(LinkCoreTest, SenderSealsTheSharedFrameWhateverByte12Holds)
{
    // Pages fill bytes 2..11 and leave byte 12 as it was; the sender seals every copy it sends.
    core->bComOpen = true;
    const Frame sealed = MakeFrame({0x02, 0x03, 0x02, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x07});
    for (unsigned code : {unsigned(SEND_EDID_FRAME), unsigned(SEND_ROUTING_FRAME), unsigned(SEND_FIRMWARE_FRAME)}) {
        SCOPED_TRACE(code);
        serial.writes.clear();
        core->CommandFrame = sealed;
        core->CommandFrame[12] = 0x00;
        core->OnSendRequest(code);
        ASSERT_EQ(serial.writes.size(), 1u);
        EXPECT_EQ(serial.writes[0], std::vector<uint8_t>(sealed.begin(), sealed.end()));
    }
    // The resend of a step seals again: a page may have left a stale byte 12 behind it.
    serial.writes.clear();
    core->StartStep(2000);
    core->CommandFrame[12] ^= 0x5A;
    timers.Advance(kStepTimeoutMs);
    ASSERT_EQ(serial.writes.size(), 1u);
    EXPECT_EQ(serial.writes[0], std::vector<uint8_t>(sealed.begin(), sealed.end()));
}

TEST_F(LinkCoreTest, BadChecksumIsLoggedAndDropped)
{
    Frame bad = MakeFrame({0x01, 0x04, 0x01});
    bad[12] ^= 1;
    Receive(bad);
    EXPECT_TRUE(handled.empty());
    EXPECT_EQ(rx.Text(), "A5 5B 01 04 01 00 00 00 00 00 00 00 FB \n");
}

TEST_F(LinkCoreTest, TcpReadsWithTwoRepliesAndASplitOne)
{
    const Frame a = MakeFrame({0x01, 0x0B, 0x00});
    const Frame b = MakeFrame({0x01, 0x0C, 0x00, 0x00, 0x01});
    std::vector<uint8_t> read1(a.begin(), a.end());
    read1.insert(read1.end(), b.begin(), b.begin() + 4);
    core->OnTcpRead(read1);
    EXPECT_EQ(handled.size(), 1u);
    core->OnTcpRead(std::vector<uint8_t>(b.begin() + 4, b.end()));
    ASSERT_EQ(handled.size(), 2u);
    EXPECT_EQ(handled[1].second, b);
}

// The line settles while an answer is still owed: after a resend, after a time-out without an
// answer. Steps: b a command claims the gate, r it ends, s send the query (again), a its answer,
// o the exchange timed out, x an exchange opens, c it closes, z a new link, a number advances the
// clock; after each step, whether the line settles.
TEST_F(LinkCoreTest, LineSettlesWhileALateAnswerIsOwed)
{
    const struct {
        const char* name;
        std::vector<std::string> steps;
        std::string settling;  // one letter a step: y or n
    } cases[] = {
        {"answered once", {"s", "a"}, "nn"},
        {"resent, both answers", {"b", "s", "s", "a", "r", "a"}, "nnyyyn"},
        {"resent, one answer: 3.5 s", {"b", "s", "s", "a", "r", "3400", "200"}, "nnyyyyn"},
        {"resent, no answer: 6 s", {"s", "s", "5900", "200"}, "nyyn"},
        {"timed out: 3 s", {"s", "o", "2900", "200"}, "nyyn"},
        {"timed out after an answer: nothing owed", {"s", "a", "o"}, "nnn"},
        {"an open exchange's answer is its own", {"s", "s", "x", "a", "c", "a"}, "nyyyyn"},
        {"a new link forgets the old window", {"s", "s", "z", "5000", "s", "o", "1500", "1600"}, "nynnnyyn"},
        {"a resend lengthens a time-out's window", {"s", "o", "s", "5900", "200"}, "nyyyn"},
        {"an answer after a page's time-out was owed", {"b", "s", "o", "a"}, "nnyn"},
        {"an exchange opened after a time-out takes its answer", {"b", "s", "o", "x", "c", "a"}, "nnyyyy"},
    };
    const Frame query = BeepStatusQuery();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        core->ResetLate();
        core->bComOpen = true;
        core->bReady = true;
        std::string got;
        for (const std::string& step : c.steps) {
            if (step == "b" || step == "r") {
                core->bReady = step == "r";
            } else if (step == "s") {
                core->CommandFrame = query;
                core->SendFrame(kFrameSize, core->CommandFrame.data());
            } else if (step == "a") {
                Receive(MakeFrame({0x01, 0x0B, 0x00, 0x00, 0x01}));
            } else if (step == "o") {
                core->NoteTimedOut();
            } else if (step == "z") {
                core->ResetLate();
            } else if (step == "x" || step == "c") {
                core->SetExchangeOpen(step == "x");
            } else {
                timers.Advance(std::stoi(step));
            }
            got += core->Settling() ? 'y' : 'n';
        }
        EXPECT_EQ(got, c.settling);
    }
    // The gate refuses while the line settles, or waits it out when it can block.
    core->ResetLate();
    core->CommandFrame = query;
    core->SendFrame(kFrameSize, core->CommandFrame.data());
    core->NoteTimedOut();
    core->bReady = true;
    EXPECT_FALSE(core->BeginCommand());
    EXPECT_TRUE(core->bReady);
    core->SetSettleHook([this] { timers.Advance(kLateAfterTimeoutMs); });
    EXPECT_TRUE(core->BeginCommand());
    EXPECT_FALSE(core->bReady);
    // A link lost while it settled admits nothing.
    core->bReady = true;
    core->SendFrame(kFrameSize, core->CommandFrame.data());
    core->NoteTimedOut();
    core->SetSettleHook([this] {
        timers.Advance(kLateAfterTimeoutMs);
        core->bComOpen = false;
    });
    EXPECT_FALSE(core->BeginCommand());
}

TEST_F(LinkCoreTest, ClearReleasesTheGateButTimersGoOn)
{
    core->bComOpen = true;
    ASSERT_TRUE(core->BeginCommand());
    core->SendCommand({0x01, 0x04, 0x01});
    core->StartStep(2000);
    Receive(MakeFrame({0x7F}));
    core->ClearLogs();
    EXPECT_TRUE(core->bReady);
    EXPECT_TRUE(tx.Text().empty());
    EXPECT_TRUE(rx.Text().empty());
    EXPECT_TRUE(core->BeginCommand());  // the operator may start another command at once
    timers.Advance(6000);
    EXPECT_EQ(op.BoxText(), "Time out!");  // the old step still times out
}

}  // namespace
}  // namespace corvane
