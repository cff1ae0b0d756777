// The General page as the operator uses it, against the switcher model on the virtual clock.
#include "tests/app/app_fixture.h"
#include "panel/widgets/accessible_window.h"

#include <QAccessible>
#include <QPlainTextEdit>

namespace corvane::test {
namespace {

using Bytes = std::vector<uint8_t>;

class GeneralPage : public AppFixture {};

TEST_F(GeneralPage, ConnectReadsBeepAndDviAndStopsPolling)
{
    sim::SwitcherSettings s;
    s.dvi = true;
    s.beep = true;
    port->device = sim::CSwitcher(s);
    EXPECT_TRUE(dlg->Link().IsTimerRunning(TIMER_PORT_POLL));
    Connect();
    EXPECT_EQ(Ctl<QPushButton>(1021)->text(), QStringLiteral("Disconnect"));
    EXPECT_FALSE(Ctl<QComboBox>(1020)->isEnabled());
    EXPECT_FALSE(dlg->Link().IsTimerRunning(TIMER_PORT_POLL));
    // The beeper's state, then DVI compatibility's, one after the other.
    ASSERT_EQ(port->writes.size(), 2u);
    EXPECT_EQ(port->writes[0], (Bytes{0xA5, 0x5B, 0x01, 0x0B, 0, 0, 0, 0, 0, 0, 0, 0, 0xF4}));
    EXPECT_EQ(port->writes[1], (Bytes{0xA5, 0x5B, 0x01, 0x0C, 0, 0, 0, 0, 0, 0, 0, 0, 0xF3}));
    EXPECT_TRUE(Ctl<QCheckBox>(1096)->isChecked());
    EXPECT_TRUE(Ctl<QCheckBox>(1101)->isChecked());
    EXPECT_TRUE(dlg->Link().bReady);
    EXPECT_TRUE(op.Messages().empty());
    // The beeper's answer once more (a line that repeats it): DVI compatibility is not asked again.
    for (uint8_t b : MakeFrame({0x01, 0x0B, 0x00, 0x00, 0x00}))
        dlg->Link().OnPortByte(b);
    EXPECT_EQ(port->writes.size(), 2u);

    Click(1021);  // Disconnect
    EXPECT_FALSE(dlg->Link().bComOpen);
    EXPECT_FALSE(port->IsRunning());
    EXPECT_EQ(Ctl<QPushButton>(1021)->text(), QStringLiteral("Connect"));
    EXPECT_TRUE(Ctl<QComboBox>(1020)->isEnabled());
    EXPECT_TRUE(dlg->Link().IsTimerRunning(TIMER_PORT_POLL));
}

// The readings on connect claim nothing: a lost, late, garbled or doubled answer leaves the gate
// free and says nothing; each box shows only what the switcher really answered.
TEST_F(GeneralPage, ConnectReadingsUnderFaults)
{
    const struct {
        const char* fault;
        bool beepShown, dviShown;  // the box was set from an answer
    } cases[] = {
        {"drop:01 0B", false, false},  // no beep answer: the DVI query is never owed an answer
        {"drop:01 0C", true, false},
        {"corrupt:01 0B", false, false},
        {"delay=2000:01 0B", true, true},
        {"merge:01 0B", true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        TearDown();
        SetUp();
        sim::SwitcherSettings s;
        s.beep = true;
        s.dvi = true;
        port->device = sim::CSwitcher(s);
        port->AddFault(c.fault);
        Connect();
        port->Run(5000);
        EXPECT_EQ(Ctl<QCheckBox>(1096)->isChecked(), c.beepShown);
        EXPECT_EQ(Ctl<QCheckBox>(1101)->isChecked(), c.dviShown);
        EXPECT_TRUE(dlg->Link().bReady);
        EXPECT_TRUE(op.Messages().empty());
        Click(1024);  // and the page still works
        port->Run(0);
        EXPECT_FALSE(Text(1026).isEmpty());
    }
}

TEST_F(GeneralPage, ConnectFailureKeepsPolling)
{
    port->openablePort = 8;  // COM7 is listed but cannot be opened
    Click(1021);
    EXPECT_EQ(op.Messages(), std::vector<std::string>{"Open COM failed!"});
    EXPECT_FALSE(dlg->Link().bComOpen);
    EXPECT_TRUE(dlg->Link().IsTimerRunning(TIMER_PORT_POLL));
}

TEST_F(GeneralPage, FullStatusSequence)
{
    port->device.SetInputSignal(1, true);
    port->device.SetInputSignal(2, false);
    port->device.SetInputSignal(3, true);
    port->device.SetInputSignal(4, false);
    port->device.SetOutputSignal(1, false);
    port->device.SetOutputSignal(2, true);
    Connect();
    port->writes.clear();

    Click(1024);
    EXPECT_TRUE(op.StatusOpen());
    EXPECT_EQ(op.StatusText(), "Getting status");
    EXPECT_FALSE(dlg->Link().bReady);
    port->Run(0);

    EXPECT_EQ(Sent(), (std::vector<Bytes>{{1, 4, 1, 0, 0}, {1, 5, 1, 0, 0}, {1, 4, 2, 0, 0}, {1, 5, 2, 0, 0},
                                          {1, 4, 3, 0, 0}, {1, 4, 4, 0, 0}}));
    const std::pair<int, const char*> expected[] = {
        {1026, "INPUT 1: Connect"},    {1034, "OUTPUT1: Disconnect"}, {1027, "INPUT 2: Disconnect"},
        {1035, "OUTPUT2: Connect"},    {1028, "INPUT 3: Connect"},    {1029, "INPUT 4: Disconnect"},
    };
    for (const auto& [id, text] : expected)
        EXPECT_EQ(Text(id), QString::fromLatin1(text)) << id;
    for (int id : {1030, 1031, 1032, 1033, 1036, 1037, 1038, 1039, 1040, 1041})
        EXPECT_TRUE(Text(id).isEmpty()) << id;
    // The outcome, said once in reading order: a screen reader hears it without flat review.
    ASSERT_NE(AnnouncerOf(dlg.get()), nullptr);
    EXPECT_EQ(AnnouncerOf(dlg.get())->Text().toStdString(),
              "INPUT 1: Connect, INPUT 2: Disconnect, INPUT 3: Connect, INPUT 4: Disconnect, OUTPUT1: Disconnect, "
              "OUTPUT2: Connect");
    EXPECT_FALSE(op.StatusOpen());
    EXPECT_TRUE(dlg->Link().bReady);
    EXPECT_TRUE(op.Messages().empty());
    clock.Advance(20000);
    EXPECT_TRUE(op.Messages().empty());  // no timer left behind
}

TEST_F(GeneralPage, SwitcherThatAnswersOnlyInputOneTimesOutOnStepTwo)
{
    Connect();
    port->AddFault("drop:01 05 01");
    port->writes.clear();
    Click(1024);
    port->Run(5999);
    EXPECT_FALSE(op.BoxOpen());
    EXPECT_EQ(Sent().size(), 3u);  // input 1, output 1, output 1 again
    port->Run(1);
    EXPECT_EQ(op.BoxText(), "Time out!");
    EXPECT_FALSE(op.StatusOpen());
    EXPECT_FALSE(Text(1026).isEmpty());
    for (int id = 1027; id <= 1041; ++id)
        EXPECT_TRUE(Text(id).isEmpty()) << id;
    EXPECT_FALSE(dlg->Link().bReady);
    op.CloseBox();
    EXPECT_TRUE(dlg->Link().bReady);
    EXPECT_EQ(Sent().size(), 3u);
}

TEST_F(GeneralPage, BeepAndDviShowTheSwitchersStateNotTheWish)
{
    struct Case {
        const char* name;
        int box;
        bool initially;
        Bytes frame;       // bytes 2..6 the click sends
        const char* fault; // nullptr: the switcher answers
        bool after;
    };
    const Case cases[] = {
        {"beep on", 1096, false, {0x06, 0x01, 0x0F, 0x00, 0xDD}, nullptr, true},
        {"beep off", 1096, true, {0x06, 0x01, 0xF0, 0x00, 0x00}, nullptr, false},
        {"beep off unanswered", 1096, true, {0x06, 0x01, 0xF0, 0x00, 0x00}, "drop:06 01", true},
        {"beep on refused", 1096, false, {0x06, 0x01, 0x0F, 0x00, 0xDD}, "refuse:06 01", false},
        {"DVI on", 1101, false, {0x07, 0x01, 0x0F, 0x00, 0x00}, nullptr, true},
        {"DVI off", 1101, true, {0x07, 0x01, 0xF0, 0x00, 0xDD}, nullptr, false},
        {"DVI on unanswered", 1101, false, {0x07, 0x01, 0x0F, 0x00, 0x00}, "drop:07 01", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        Connect();
        Ctl<QCheckBox>(c.box)->setChecked(c.initially);
        if (c.fault)
            port->AddFault(c.fault);
        port->writes.clear();
        Click(c.box);
        EXPECT_EQ(Ctl<QCheckBox>(c.box)->isChecked(), c.initially);  // until the switcher answers
        EXPECT_TRUE(dlg->Link().bReady);
        ASSERT_EQ(Sent().size(), 1u);
        EXPECT_EQ(Sent()[0], c.frame);
        port->Run(10000);
        EXPECT_EQ(Ctl<QCheckBox>(c.box)->isChecked(), c.after);
        EXPECT_TRUE(op.Messages().empty());
    }
}

TEST_F(GeneralPage, GatedActionsWithTheLinkClosed)
{
    for (int id : {1024, 1096, 1101, 1095}) {
        SCOPED_TRACE(id);
        op = CScriptedNotices();
        const bool beep = Ctl<QCheckBox>(1096)->isChecked(), dvi = Ctl<QCheckBox>(1101)->isChecked();
        Click(id);
        EXPECT_EQ(op.Messages(), std::vector<std::string>{"Open COM failed!"});
        EXPECT_TRUE(port->writes.empty());
        EXPECT_EQ(Ctl<QCheckBox>(1096)->isChecked(), beep);
        EXPECT_EQ(Ctl<QCheckBox>(1101)->isChecked(), dvi);
        EXPECT_TRUE(dlg->Link().bReady);
    }
}

TEST_F(GeneralPage, ActionsWhileACommandIsOutstandingAreRefusedSilently)
{
    Connect();
    port->AddFault("drop:01 04 01");
    Click(1024);
    const std::size_t sent = port->writes.size();
    for (int id : {1024, 1096, 1101, 1095})
        Click(id);
    EXPECT_EQ(port->writes.size(), sent);
    EXPECT_TRUE(op.Messages().empty());
}

const std::vector<Bytes> kResetFrames = {{0x02, 0x03, 0x03, 0x00, 0x01}, {0x0A, 0x06, 0x02, 0x00, 0x01},
                                         {0x0A, 0x0C, 0x01, 0x00, 0x01}, {0x03, 0x08, 0xF0, 0x00, 0x00},
                                         {0x03, 0x02, 0x04, 0xF0, 0x03}};
// The reset, then the beeper's and DVI compatibility's state read back once its indicator closes.
const std::vector<Bytes> kResetFramesAndReadBack = [] {
    std::vector<Bytes> all = kResetFrames;
    all.push_back({0x01, 0x0B, 0x00, 0x00, 0x00});
    all.push_back({0x01, 0x0C, 0x00, 0x00, 0x00});
    return all;
}();

TEST_F(GeneralPage, FactoryResetAccepted)
{
    sim::SwitcherSettings s;
    s.beep = true;
    port->device = sim::CSwitcher(s);
    Connect();
    Click(1096);  // beep off
    port->Run(0);
    Click(1101);  // DVI on
    port->Run(0);
    ASSERT_FALSE(port->device.Beep());
    ASSERT_TRUE(Ctl<QCheckBox>(1101)->isChecked());
    port->writes.clear();
    Click(1095);
    ASSERT_TRUE(op.BoxOpen());
    EXPECT_TRUE(op.BoxIsQuestion());
    EXPECT_EQ(op.BoxText(), "Do you want to reset to factory settings?");
    EXPECT_TRUE(port->writes.empty());  // nothing before the answer
    op.CloseBox(IDOK);
    EXPECT_EQ(op.StatusText(), "Setting");
    port->Run(0);
    EXPECT_EQ(Sent(), kResetFrames);
    EXPECT_TRUE(op.StatusFinished());
    EXPECT_EQ(op.StatusText(), "Set successfully!");
    EXPECT_TRUE(dlg->Link().bReady);
    clock.Advance(899);
    EXPECT_TRUE(op.StatusOpen());
    port->Run(1);
    EXPECT_FALSE(op.StatusOpen());
    EXPECT_TRUE(port->device.Beep());  // the reset restored the factory settings
    // ... and the page shows them, read back from the switcher.
    EXPECT_EQ(Sent(), kResetFramesAndReadBack);
    EXPECT_TRUE(Ctl<QCheckBox>(1096)->isChecked());
    EXPECT_FALSE(Ctl<QCheckBox>(1101)->isChecked());
    EXPECT_TRUE(dlg->Link().bReady);
}

TEST_F(GeneralPage, NoReadBackAfterAResetWhileAnotherCommandRuns)
{
    op.SetNoLongerRemind(true);
    Connect();
    port->AddFault("drop:01 04 01");  // the status started meanwhile stays unanswered
    Click(1095);
    port->Run(0);
    ASSERT_EQ(op.StatusText(), "Set successfully!");
    port->writes.clear();
    Click(1024);
    port->Run(900);
    EXPECT_EQ(Sent(), (std::vector<Bytes>{{0x01, 0x04, 0x01, 0x00, 0x00}}));
}

TEST_F(GeneralPage, FactoryResetDeclinedAndNoLongerRemind)
{
    Connect();
    port->writes.clear();
    Click(1095);
    op.CloseBox(IDCANCEL, /*noLongerRemind=*/true);
    EXPECT_TRUE(port->writes.empty());
    EXPECT_TRUE(dlg->Link().bReady);
    EXPECT_TRUE(op.NoLongerRemind());  // ticked, then Cancel: kept

    Click(1095);  // no question this time
    EXPECT_FALSE(op.BoxOpen());
    port->Run(0);
    EXPECT_EQ(Sent(), kResetFrames);
}

TEST_F(GeneralPage, FactoryResetTimesOutAtEachStep)
{
    const char* drops[] = {"drop:02 03 03", "drop:0A 06 02", "drop:0A 0C 01", "drop:03 08 F0", "drop:03 02 04"};
    for (std::size_t step = 0; step < std::size(drops); ++step) {
        SCOPED_TRACE(step + 1);
        TearDown();
        SetUp();
        op.SetNoLongerRemind(true);
        Connect();
        port->AddFault(drops[step]);
        port->writes.clear();
        Click(1095);
        port->Run(5999);
        EXPECT_FALSE(op.BoxOpen());
        port->Run(1);
        EXPECT_EQ(op.BoxText(), "Time out!");
        EXPECT_FALSE(op.StatusOpen());
        // Every step before the silent one once, the silent one twice.
        std::vector<Bytes> expected(kResetFrames.begin(), kResetFrames.begin() + step + 1);
        expected.push_back(kResetFrames[step]);
        EXPECT_EQ(Sent(), expected);
        op.CloseBox();
        EXPECT_TRUE(dlg->Link().bReady);
    }
}

TEST_F(GeneralPage, FactoryResetStepAnsweredOnlyAfterItsResend)
{
    // A slow switcher answers a step only to its second sending: the step still completes.
    const char* firstOnly[] = {"drop:02 03 03:1", "drop:0A 06 02:1", "drop:0A 0C 01:1", "drop:03 08 F0:1",
                               "drop:03 02 04:1"};
    for (std::size_t step = 0; step < std::size(firstOnly); ++step) {
        SCOPED_TRACE(step + 1);
        TearDown();
        SetUp();
        op.SetNoLongerRemind(true);
        Connect();
        port->AddFault(firstOnly[step]);
        port->writes.clear();
        Click(1095);
        port->Run(10000);
        std::vector<Bytes> expected = kResetFramesAndReadBack;
        expected.insert(expected.begin() + step, kResetFrames[step]);
        EXPECT_EQ(Sent(), expected);
        EXPECT_TRUE(op.Messages().empty());
        EXPECT_TRUE(dlg->Link().bReady);
    }
}

TEST_F(GeneralPage, StatusReplyOutsideItsSequenceOnlyWritesItsStatic)
{
    op.SetNoLongerRemind(true);
    Connect();
    port->AddFault("drop:02 03 03");  // the reset's first step stays unanswered
    port->writes.clear();
    Click(1095);
    ASSERT_TRUE(op.StatusOpen());
    // A late status answer, and the last one of a sequence that would release the gate.
    for (const Frame& late : {MakeFrame({0x01, 0x04, 0x01, 0x00, 0x00}), MakeFrame({0x01, 0x04, 0x04, 0x00, 0x01})})
        for (uint8_t b : late)
            dlg->Link().OnPortByte(b);
    EXPECT_EQ(Text(1026), QStringLiteral("INPUT 1: Connect"));
    EXPECT_EQ(Text(1029), QStringLiteral("INPUT 4: Disconnect"));
    EXPECT_EQ(Sent(), std::vector<Bytes>{kResetFrames[0]});
    EXPECT_FALSE(dlg->Link().bReady);
    EXPECT_TRUE(op.StatusOpen());
    // The reset's resend is still the reset step, not a status query.
    port->Run(3000);
    EXPECT_EQ(Sent(), (std::vector<Bytes>{kResetFrames[0], kResetFrames[0]}));
    port->Run(3000);
    EXPECT_EQ(op.BoxText(), "Time out!");
    op.CloseBox();
    EXPECT_TRUE(dlg->Link().bReady);

    // With nothing outstanding a status answer writes its static and claims nothing.
    port->writes.clear();
    for (uint8_t b : MakeFrame({0x01, 0x05, 0x02, 0x00, 0x00}))
        dlg->Link().OnPortByte(b);
    EXPECT_EQ(Text(1035), QStringLiteral("OUTPUT2: Connect"));
    EXPECT_TRUE(port->writes.empty());
    EXPECT_TRUE(dlg->Link().bReady);
}

TEST_F(GeneralPage, AssistiveActionsTakeTheClicksPath)
{
    // A screen reader's "toggle" or "press" asks the switcher like a click, and the box then
    // shows what the switcher answered, never the wish alone.
    struct Case {
        const char* name;
        int box;
        QString action;
        const char* fault;
        bool after;
    };
    const QString toggle = QAccessibleActionInterface::toggleAction();
    const QString press = QAccessibleActionInterface::pressAction();
    const Case cases[] = {
        {"beep toggle", 1096, toggle, nullptr, true},
        {"beep press", 1096, press, nullptr, true},
        {"DVI toggle", 1101, toggle, nullptr, true},
        {"DVI toggle refused", 1101, toggle, "refuse:07 01", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        Connect();
        Ctl<QCheckBox>(c.box)->setChecked(false);
        if (c.fault)
            port->AddFault(c.fault);
        port->writes.clear();
        QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(dlg->Control(c.box));
        ASSERT_NE(iface, nullptr);
        ASSERT_NE(iface->actionInterface(), nullptr);
        EXPECT_TRUE(iface->state().checkable);
        iface->actionInterface()->doAction(c.action);
        EXPECT_TRUE(port->writes.empty()) << "the action returns before its click runs";
        QCoreApplication::processEvents();
        EXPECT_FALSE(Ctl<QCheckBox>(c.box)->isChecked());  // until the switcher answers
        ASSERT_EQ(Sent().size(), 1u);
        EXPECT_EQ(Sent()[0][0], c.box == 1096 ? 0x06 : 0x07);
        port->Run(1000);
        EXPECT_EQ(Ctl<QCheckBox>(c.box)->isChecked(), c.after);
        EXPECT_EQ(bool(iface->state().checked), c.after);
    }
}

TEST_F(GeneralPage, ScreenReaderReadsTheCurrentTexts)
{
    const auto name = [&](int id) { return QAccessible::queryAccessibleInterface(dlg->Control(id))->text(QAccessible::Name); };
    EXPECT_EQ(name(1021), QStringLiteral("Connect"));
    EXPECT_EQ(name(1028), QString());  // cleared at start-up, not "Static"
    Connect();
    EXPECT_EQ(name(1021), QStringLiteral("Disconnect"));
    Click(1024);
    port->Run(0);
    EXPECT_EQ(name(1028), Text(1028));
    EXPECT_TRUE(name(1028).startsWith(QStringLiteral("INPUT 3: ")));
    EXPECT_EQ(name(1016), QStringLiteral("COM Control Mode"));
    EXPECT_EQ(QAccessible::queryAccessibleInterface(dlg->Control(1002))->text(QAccessible::Name), QStringLiteral("Close"));
}

TEST_F(GeneralPage, StrayResetAcknowledgementSendsNothing)
{
    Connect();
    port->writes.clear();
    // A late route-set answer has the bytes of the first reset acknowledgement.
    for (uint8_t b : MakeFrame({0x02, 0x03, 0x00, 0x00, 0x01}))
        dlg->Link().OnPortByte(b);
    EXPECT_TRUE(port->writes.empty());
    EXPECT_FALSE(op.StatusOpen());
}

// Lines read from one switcher must not be shown as current for the next one: every way the link
// ends empties them.
TEST_F(GeneralPage, DeviceInformationGoesWithTheLink)
{
    port->device.SetInputSignal(1, true);
    const std::pair<const char*, std::function<void()>> ends[] = {
        {"Disconnect", [&] { Click(1021); }},
        {"link lost", [&] {
             port->AddFault("hangup:07 01");
             Click(1101);
             port->Run(0);
         }},
        {"TCP mode chosen", [&] { Click(1017); }},
    };
    for (const auto& [name, end] : ends) {
        SCOPED_TRACE(name);
        Click(1016);
        Connect();
        Click(1024);
        port->Run(0);
        ASSERT_EQ(Text(1026), QStringLiteral("INPUT 1: Connect"));
        end();
        EXPECT_FALSE(dlg->Link().bComOpen);
        for (int id : {1026, 1027, 1028, 1029, 1034, 1035})
            EXPECT_TRUE(Text(id).isEmpty()) << id;
    }
}

TEST_F(GeneralPage, LinkLostClosesTheLinkAndPollsAgain)
{
    Connect();
    port->AddFault("hangup:01 04 01");
    Click(1024);
    port->Run(0);
    EXPECT_FALSE(dlg->Link().bComOpen);
    EXPECT_EQ(Ctl<QPushButton>(1021)->text(), QStringLiteral("Connect"));
    EXPECT_TRUE(Ctl<QComboBox>(1020)->isEnabled());
    EXPECT_TRUE(dlg->Link().IsTimerRunning(TIMER_PORT_POLL));
    // The status ends with the link: the busy indicator closes and the gate is free at once;
    // the loss is said once, and no "Time out!" follows.
    EXPECT_FALSE(op.StatusOpen());
    EXPECT_TRUE(dlg->Link().bReady);
    port->Run(20000);
    EXPECT_EQ(op.Messages(), std::vector<std::string>{"Connection to Matrix lost! COM1 (model): the line hung up"});
    EXPECT_FALSE(op.StatusOpen());
}

TEST_F(GeneralPage, LogPanesShowEveryExchangeAndClearReleasesTheGate)
{
    Connect();
    auto* tx = Ctl<QPlainTextEdit>(1043);
    auto* rx = Ctl<QPlainTextEdit>(1042);
    EXPECT_EQ(tx->toPlainText(),
              QStringLiteral("A5 5B 01 0B 00 00 00 00 00 00 00 00 F4 \nA5 5B 01 0C 00 00 00 00 00 00 00 00 F3 \n"));
    EXPECT_TRUE(rx->toPlainText().startsWith(QStringLiteral("A5 5B 01 0B 00 ")));
    port->AddFault("drop:01 04 01");
    Click(1024);
    EXPECT_FALSE(dlg->Link().bReady);
    Click(1123);
    EXPECT_TRUE(dlg->Link().bReady);
    EXPECT_TRUE(tx->toPlainText().isEmpty());
    EXPECT_TRUE(rx->toPlainText().isEmpty());
}

TEST_F(GeneralPage, ClearEmptiesTheDeviceInformation)
{
    Connect();
    Click(1024);
    port->Run(0);
    EXPECT_FALSE(Text(1026).isEmpty());
    Click(1025);
    for (int id = 1026; id <= 1041; ++id)
        EXPECT_TRUE(Text(id).isEmpty()) << id;
}

}  // namespace
}  // namespace corvane::test
