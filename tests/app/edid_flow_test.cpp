// The EDID page as the operator uses it, against the switcher model on the virtual clock.
#include "tests/app/edid_fixture.h"

#include <sys/stat.h>

namespace corvane::test {
namespace {

using Names = std::vector<std::string>;
using Indexes = std::array<uint8_t, 4>;

class EdidPage : public EdidFixture {};

const Names kDefaults(4, "Default EDID");

std::vector<Bytes> Queries(std::initializer_list<int> inputs)
{
    std::vector<Bytes> out;
    for (int n : inputs)
        out.push_back(StatusQuery(n));
    return out;
}

TEST_F(EdidPage, OpeningAndStatusReadEveryInput)
{
    Open({0, 4, 8, 14});
    EXPECT_EQ(page->pos(), QPoint(1, 56));
    EXPECT_EQ(Frames(), Queries({1, 2, 3, 4}));
    EXPECT_EQ(Shown(), (Names{"1080i,Stereo Audio 2.0", "1080p,Dolby/DTS 5.1", "3D,HD Audio 7.1", "DVI 1920x1200"}));
    EXPECT_TRUE(dlg->Link().bReady);
    EXPECT_FALSE(dlg->Link().IsTimerRunning(TIMER_PAGE_TIMEOUT)) << "the first answer stops the opening timer";
    for (unsigned id = 2511; id <= 2518; ++id)
        EXPECT_FALSE(page->Page().TimerRunning(id)) << id;

    // "Status" reads them again; indexes 15 and above all read "Default EDID".
    const struct {
        Indexes indexes;
        Names names;
    } cases[] = {
        {{15, 0x10, 0x11, 1}, {"Default EDID", "Default EDID", "Default EDID", "1080i,Dolby/DTS 5.1"}},
        {{2, 5, 9, 12}, {"1080i,HD Audio 7.1", "1080p,HD Audio 7.1", "4K2K,Stereo Audio 2.0", "DVI 1024x768"}},
        {{3, 6, 10, 13}, {"1080p,Stereo Audio 2.0", "3D,Stereo Audio 2.0", "4K2K,Dolby/DTS 5.1", "DVI 1920x1080"}},
        {{7, 11, 15, 0}, {"3D,Dolby/DTS 5.1", "4K2K,HD Audio 7.1", "Default EDID", "1080i,Stereo Audio 2.0"}},
    };
    for (const auto& c : cases) {
        SetIndexes(c.indexes);
        port->writes.clear();
        op.ClearEvents();
        Press(1113);
        EXPECT_FALSE(dlg->Link().bReady);
        port->Run(0);
        EXPECT_EQ(Frames(), Queries({1, 2, 3, 4}));
        EXPECT_EQ(Shown(), c.names);
        EXPECT_TRUE(dlg->Link().bReady);
        EXPECT_TRUE(op.Messages().empty());
    }
    clock.Advance(20000);
    EXPECT_TRUE(op.Messages().empty());
}

TEST_F(EdidPage, EdidNameCoversEveryIndex)
{
    for (unsigned i = 0; i < 15; ++i)
        EXPECT_STREQ(EdidName(i), EdidListName(static_cast<int>(i)));
    for (unsigned i : {15u, 16u, 0x12u, 0x80u, 0xFFu, 0x100u})
        EXPECT_STREQ(EdidName(i), "Default EDID");
    EXPECT_STREQ(EdidListName(15), "Default EDID");
    EXPECT_STREQ(EdidListName(16), "");
    EXPECT_STREQ(EdidListName(-1), "");
}

TEST_F(EdidPage, RepliesForNoInputAreIgnored)
{
    Open({1, 2, 3, 4});
    const Names before = Shown();
    port->writes.clear();
    for (uint8_t input : {0x00, 0x05, 0xFF}) {
        SCOPED_TRACE(int(input));
        dlg->Link().bReady = false;
        dlg->Link().DispatchReply(MakeFrame({0x01, 0x0C, input, 0x00, 0x07}));
        EXPECT_EQ(Shown(), before);
        EXPECT_TRUE(port->writes.empty());
        EXPECT_FALSE(dlg->Link().bReady);
    }
}

TEST_F(EdidPage, ASilentInputEndsTheChainWithTheNamesReceived)
{
    for (int silent = 1; silent <= 4; ++silent) {
        SCOPED_TRACE(silent);
        TearDown();
        SetUp();
        Open({0, 1, 2, 3});
        SetIndexes({12, 13, 14, 11});
        port->AddFault("drop:01 0C 0" + std::to_string(silent));
        port->writes.clear();
        op.ClearEvents();
        Press(1113);
        port->Run(0);
        std::vector<Bytes> expected;
        for (int n = 1; n <= silent; ++n)
            expected.push_back(StatusQuery(n));
        EXPECT_EQ(Frames(), expected);
        const Names received{"DVI 1024x768", "DVI 1920x1080", "DVI 1920x1200", "4K2K,HD Audio 7.1"};
        const Names old{"1080i,Stereo Audio 2.0", "1080i,Dolby/DTS 5.1", "1080i,HD Audio 7.1", "1080p,Stereo Audio 2.0"};
        Names shown = old;
        std::copy(received.begin(), received.begin() + silent - 1, shown.begin());
        EXPECT_EQ(Shown(), shown);

        port->Run(2999);
        EXPECT_EQ(Frames().size(), expected.size());
        port->Run(1);
        expected.push_back(StatusQuery(silent));
        EXPECT_EQ(Frames(), expected) << "asked once more after 3 seconds";
        port->Run(2999);
        EXPECT_FALSE(op.BoxOpen());
        port->Run(1);
        EXPECT_EQ(op.Messages(), std::vector<std::string>{"Time out!"});
        EXPECT_FALSE(dlg->Link().bReady);
        op.CloseBox();
        EXPECT_TRUE(dlg->Link().bReady);
        EXPECT_EQ(Shown(), shown);
        port->Run(20000);
        EXPECT_EQ(Frames(), expected);
    }
}

TEST_F(EdidPage, SilentFirstInputOnOpeningTimesOutInTheMainWindow)
{
    Connect();
    port->AddFault("drop:01 0C 01");
    port->writes.clear();
    dlg->PressTab(1011);
    page = dlg->findChild<CEDIDDlg*>();
    port->Run(6999);
    EXPECT_EQ(Frames(), Queries({1})) << "the opening query is not repeated";
    EXPECT_FALSE(op.BoxOpen());
    port->Run(1);
    EXPECT_EQ(op.BoxText(), "Time out!");
    op.CloseBox();
    EXPECT_TRUE(dlg->Link().bReady);
    EXPECT_EQ(Shown(), kDefaults);
}

TEST_F(EdidPage, ARepeatedQueryAnsweredTwiceMovesTheChainOnce)
{
    Open({0, 1, 2, 3});
    // The first answer for input 2 comes after the repetition has been answered.
    port->AddFault("delay=4000:01 0C 02:1");
    SetIndexes({4, 5, 6, 7});
    port->writes.clear();
    Press(1113);
    port->Run(3000);
    EXPECT_EQ(Frames(), Queries({1, 2, 2, 3, 4}));
    EXPECT_TRUE(dlg->Link().bReady);
    port->Run(1000);  // the late answer
    EXPECT_EQ(Frames(), Queries({1, 2, 2, 3, 4})) << "no second round of queries";
    EXPECT_TRUE(dlg->Link().bReady);
    EXPECT_EQ(Shown(), (Names{"1080p,Dolby/DTS 5.1", "1080p,HD Audio 7.1", "3D,Stereo Audio 2.0", "3D,Dolby/DTS 5.1"}));
    port->Run(20000);
    EXPECT_TRUE(op.Messages().empty());
}

TEST_F(EdidPage, AStrayStatusAnswerLeavesAPendingSetAlone)
{
    Open();
    port->AddFault("delay=2000:03 08");
    port->writes.clear();
    Press(1084);
    // An answer to no query of this exchange: its name shows, the set goes on.
    dlg->Link().DispatchReply(MakeFrame({0x01, 0x0C, 0x01, 0x00, 0x05}));
    EXPECT_EQ(Shown()[0], "1080p,HD Audio 7.1");
    EXPECT_EQ(Frames(), std::vector<Bytes>{SetRequest(0x00)});
    EXPECT_FALSE(dlg->Link().bReady);
    port->Run(2000);
    EXPECT_EQ(Frames().size(), 2u);
    EXPECT_EQ(op.StatusText(), "Set successfully!");
    EXPECT_EQ(port->device.EdidIndex(1), 0);
}

struct SetCase {
    const char* name;
    int button;
    EdidList source;
    int sourcePosition;
    EdidList target;
    int targetPosition;
    uint8_t mode;
    Bytes frame;
    Indexes after;  // from {5, 5, 5, 5}
};

TEST_F(EdidPage, EverySetKindSendsItsFrameAndTheSwitcherTakesIt)
{
    const Bytes file = EdidBytesOf();
    const SetCase cases[] = {
        {"first preset to IN1", 1084, EdidList::Preset, 0, EdidList::PresetTarget, 0, 0x00,
         Body({0x03, 0x02, 0x01, 0xF0, 0x01}), {0, 5, 5, 5}},
        {"1080p stereo to IN2", 1084, EdidList::Preset, 3, EdidList::PresetTarget, 1, 0x00,
         Body({0x03, 0x02, 0x04, 0xF0, 0x02}), {5, 3, 5, 5}},
        {"Default EDID to IN2 sends the same", 1084, EdidList::Preset, 15, EdidList::PresetTarget, 1, 0x00,
         Body({0x03, 0x02, 0x04, 0xF0, 0x02}), {5, 3, 5, 5}},
        {"last preset to IN4", 1084, EdidList::Preset, 14, EdidList::PresetTarget, 3, 0x00,
         Body({0x03, 0x02, 0x0F, 0xF0, 0x04}), {5, 5, 5, 14}},
        {"preset to all", 1084, EdidList::Preset, 11, EdidList::PresetTarget, 4, 0x00,
         Body({0x03, 0x01, 0x0C, 0xF0}), {11, 11, 11, 11}},
        {"Default EDID to all", 1084, EdidList::Preset, 15, EdidList::PresetTarget, 4, 0x00,
         Body({0x03, 0x09, 0xFE}), {15, 15, 15, 15}},
        {"output A to IN3", 1089, EdidList::CopySource, 0, EdidList::CopyTarget, 2, 0xEE,
         Body({0x03, 0x04, 0x01, 0x00, 0x03}), {5, 5, 0x10, 5}},
        {"output B to all", 1089, EdidList::CopySource, 1, EdidList::CopyTarget, 4, 0xEE,
         Body({0x03, 0x03, 0x02}), {0x11, 0x11, 0x11, 0x11}},
        {"file to IN1", 1092, EdidList::FileTarget, 0, EdidList::FileTarget, 0, 0xBB,
         Body({0x03, 0x07, 0x01, 0xF0}), {0x12, 5, 5, 5}},
        {"file to IN4", 1092, EdidList::FileTarget, 3, EdidList::FileTarget, 3, 0xBB,
         Body({0x03, 0x07, 0x04, 0xF0}), {5, 5, 5, 0x12}},
        {"file to all", 1092, EdidList::FileTarget, 4, EdidList::FileTarget, 4, 0xBB,
         Body({0x03, 0x06, 0xFE, 0xF0}), {0x12, 0x12, 0x12, 0x12}},
    };
    Open({5, 5, 5, 5});
    OpenFile(WriteFile("office.bin", file));
    ASSERT_EQ(page->Page().FilePath(), *chosen);
    for (const SetCase& c : cases) {
        SCOPED_TRACE(c.name);
        SetIndexes({5, 5, 5, 5});
        Select(c.source, c.sourcePosition);
        Select(c.target, c.targetPosition);
        port->writes.clear();
        op.ClearEvents();
        const std::vector<std::string> before = Shown();
        Press(c.button);
        EXPECT_EQ(Frames(), std::vector<Bytes>{SetRequest(c.mode)});
        EXPECT_TRUE(op.StatusOpen());
        EXPECT_EQ(op.StatusText(), "Setting");
        EXPECT_FALSE(dlg->Link().bReady);
        EXPECT_TRUE(page->Page().TimerRunning(TIMER_EDID_SET));

        port->Run(c.mode == 0xBB ? 100 : 0);  // a file's block follows its header after 100 ms
        std::vector<Bytes> expected{SetRequest(c.mode), c.frame};
        if (c.mode == 0xBB)
            expected.push_back(Body({0x03, c.frame[1], 0x56, 0x00, 0x00, 0x01}));
        EXPECT_EQ(Frames(), expected);
        EXPECT_EQ(Blocks().size(), c.mode == 0xBB ? 1u : 0u);
        EXPECT_EQ(DeviceIndexes(), c.after);
        EXPECT_EQ(op.StatusText(), "Set successfully!");
        EXPECT_TRUE(op.StatusFinished());
        EXPECT_TRUE(dlg->Link().bReady);
        EXPECT_FALSE(page->Page().TimerRunning(TIMER_EDID_SET));
        EXPECT_EQ(Shown(), before);
        port->Run(899);
        EXPECT_TRUE(op.StatusOpen());
        port->writes.clear();
        port->Run(1);
        EXPECT_FALSE(op.StatusOpen());
        EXPECT_TRUE(op.Messages().empty());
        // Then the inputs it changed are read again, so the list shows what they now have.
        std::vector<std::string> now = before;
        for (int k = 0; k < 4; ++k)
            if (c.targetPosition == 4 || c.targetPosition == k)
                now[k] = EdidName(static_cast<unsigned>(c.after[k]));
        EXPECT_EQ(Shown(), now);
        EXPECT_EQ(Frames().size(), c.targetPosition == 4 ? 4u : 1u);
        EXPECT_TRUE(dlg->Link().bReady);
    }
}

TEST_F(EdidPage, FileHandshakeSendsTheCheckedBytesAfterAPause)
{
    const EdidImage full = BuildEdid();
    Bytes oneBlock(full.begin(), full.begin() + 128);  // announces an extension it lacks
    Bytes anySecondHalf = EdidBytesOf({.cta = false});
    for (int i = 128; i < 256; ++i)
        anySecondHalf[i] = static_cast<uint8_t>(0xFF - i);
    const struct {
        const char* name;
        Bytes content;
        Bytes sent;
    } cases[] = {
        {"two blocks", Bytes(full.begin(), full.end()), Bytes(full.begin(), full.end())},
        {"one block with count 1: 128 zero bytes follow", oneBlock,
         [&] { Bytes b = oneBlock; b.resize(256, 0); return b; }()},
        {"count 0: the second half goes as it is", anySecondHalf, anySecondHalf},
    };
    Open();
    Select(EdidList::FileTarget, 1);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        OpenFile(WriteFile("f.bin", c.content));
        ASSERT_FALSE(op.BoxOpen()) << op.BoxText();
        port->writes.clear();
        Press(1092);
        port->Run(0);
        ASSERT_EQ(Frames().size(), 3u);
        EXPECT_EQ(Frames().back(), Body({0x03, 0x07, 0x56, 0x00, 0x00, 0x01}));
        EXPECT_TRUE(Blocks().empty());
        EXPECT_TRUE(page->Page().TimerRunning(TIMER_EDID_BLOCK));
        port->Run(99);
        EXPECT_TRUE(Blocks().empty());
        port->Run(1);
        ASSERT_EQ(Blocks().size(), 1u);
        const Bytes block = Blocks()[0];
        EXPECT_EQ(Bytes(block.begin() + 1, block.end()), c.sent);
        EXPECT_EQ(block[0], NegatedSum(std::span(block).subspan(1)));
        EXPECT_EQ(port->device.EdidIndex(2), 0x12);
        EXPECT_EQ(Bytes(port->device.EdidData(2).begin(), port->device.EdidData(2).end()), c.sent);
        EXPECT_EQ(op.StatusText(), "Set successfully!");
        EXPECT_TRUE(dlg->Link().bReady);
        port->Run(900);
    }
}

// Closing while an EDID file goes to the switcher asks first; a preset set is one frame and
// closes at once.
TEST_F(EdidPage, ClosingDuringAFileTransferAsksFirst)
{
    Open({5, 5, 5, 5});
    OpenFile(WriteFile("office.bin", EdidBytesOf()));
    int quits = 0;
    dlg->SetQuitHandler([&] { ++quits; });
    Select(EdidList::FileTarget, 2);
    Press(1092);
    dlg->RequestClose();
    ASSERT_TRUE(op.BoxOpen());
    EXPECT_EQ(op.BoxText(), "An EDID file is being sent. Close anyway?");
    op.CloseBox(IDCANCEL);
    port->Run(100);
    EXPECT_EQ(port->device.EdidIndex(3), 0x12);
    EXPECT_EQ(op.StatusText(), "Set successfully!");
    EXPECT_EQ(quits, 0);
    port->Run(900);
    dlg->RequestClose();
    EXPECT_EQ(quits, 1);
}

// The reading after a set under faults: a lost answer is asked for again; an input that stays
// silent ends in "Time out!" with the gate free again, the set itself done.
TEST_F(EdidPage, ReadBackAfterASetUnderFaults)
{
    const struct {
        const char* fault;
        bool timesOut;
    } cases[] = {{"drop:01 0C 03:1", false}, {"delay=2500:01 0C 03", false}, {"merge:01 0C 03", false},
                 {"drop:01 0C 03", true}};
    Open({5, 5, 5, 5});
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        SetIndexes({5, 5, 5, 5});
        op = CScriptedNotices();
        port->AddFault(c.fault);
        Select(EdidList::Preset, 3);
        Select(EdidList::PresetTarget, 2);
        Press(1084);
        port->Run(900);
        EXPECT_EQ(port->device.EdidIndex(3), 3);
        port->Run(7000);
        EXPECT_EQ(op.Messages(), c.timesOut ? std::vector<std::string>{"Time out!"} : std::vector<std::string>{});
        if (c.timesOut)
            op.CloseBox();
        else
            EXPECT_EQ(Shown()[2], EdidName(3));
        EXPECT_TRUE(dlg->Link().bReady);
        port->faults = sim::CFaultPlan{};
    }
}

// The inputs a set changed are read again only while nothing else runs, and only on this page.
TEST_F(EdidPage, NoReadBackWhileAnotherCommandRunsOrOnAnotherPage)
{
    const std::pair<const char*, std::function<void()>> meanwhile[] = {
        {"EDID status started", [&] { port->AddFault("drop:01 0C 01"), Press(1113); }},
        {"General page shown", [&] { dlg->PressTab(1008); }},
    };
    for (const auto& [name, act] : meanwhile) {
        SCOPED_TRACE(name);
        TearDown();
        SetUp();
        Open({5, 5, 5, 5});
        Select(EdidList::Preset, 3);
        Select(EdidList::PresetTarget, 2);
        Press(1084);
        port->Run(0);
        ASSERT_EQ(op.StatusText(), "Set successfully!");
        act();
        port->writes.clear();
        port->Run(900);
        const std::vector<Bytes> sent = Frames();
        EXPECT_EQ(std::count(sent.begin(), sent.end(), StatusQuery(3)), 0);
    }
}

TEST_F(EdidPage, UnansweredSetsTimeOutAfterSevenSeconds)
{
    const struct {
        const char* fault;
        int button;
        std::size_t frames, blocks;
    } cases[] = {
        {"drop:03 08", 1084, 1, 0},     // the set request
        {"drop:03 02", 1084, 2, 0},     // the preset
        {"drop:03 04", 1089, 2, 0},     // the copy
        {"drop:03 07 01", 1092, 2, 0},  // the file announcement
        {"drop:03 07 56", 1092, 3, 1},  // the block
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        TearDown();
        SetUp();
        Open();
        OpenFile(WriteFile("f.bin", EdidBytesOf()));
        op.ClearEvents();
        port->AddFault(c.fault);
        port->writes.clear();
        Press(c.button);
        port->Run(6999);
        EXPECT_FALSE(op.BoxOpen());
        EXPECT_TRUE(op.StatusOpen());
        port->Run(1);
        EXPECT_FALSE(op.StatusOpen());
        EXPECT_EQ(op.Messages(), std::vector<std::string>{"Time out!"});
        EXPECT_FALSE(dlg->Link().bReady);
        EXPECT_FALSE(page->Page().TimerRunning(TIMER_EDID_BLOCK));
        op.CloseBox();
        EXPECT_TRUE(dlg->Link().bReady);
        port->Run(20000);
        EXPECT_EQ(Frames().size(), c.frames) << "nothing is repeated";
        EXPECT_EQ(Blocks().size(), c.blocks);
        EXPECT_EQ(op.Messages().size(), 1u);
    }
}

TEST_F(EdidPage, FileSetWithoutAFileSendsNothing)
{
    Open();
    port->writes.clear();
    Press(1092);
    EXPECT_TRUE(port->writes.empty());
    EXPECT_TRUE(dlg->Link().bReady);
    EXPECT_FALSE(op.StatusOpen());
    EXPECT_TRUE(op.Messages().empty());
    Press(1084);  // the gate is free for the next command
    EXPECT_EQ(Frames(), std::vector<Bytes>{SetRequest(0x00)});
}

TEST_F(EdidPage, ButtonsWhileACommandIsPendingDoNothing)
{
    Open({1, 2, 3, 4});
    const std::string first = WriteFile("first.bin", EdidBytesOf());
    OpenFile(first);
    port->AddFault("drop:03 08");
    port->writes.clear();
    Press(1084);
    const Bytes block = EdidBlockData();
    chooserCalls = 0;
    OpenFile(WriteFile("second.bin", EdidBytesOf({.cta = false})));
    EXPECT_EQ(chooserCalls, 0) << "no file dialog while a command is pending";
    EXPECT_EQ(page->Page().FilePath(), first);
    EXPECT_EQ(EdidBlockData(), block);
    for (int id : {1084, 1089, 1092, 1113})
        Press(id);
    EXPECT_EQ(Frames(), std::vector<Bytes>{SetRequest(0x00)});
    EXPECT_TRUE(op.Messages().empty());
}

TEST_F(EdidPage, WithoutALinkTheGateSaysSoAndNothingIsSent)
{
    dlg->PressTab(1011);
    page = dlg->findChild<CEDIDDlg*>();
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(op.BoxText(), "Open COM failed!");
    op.CloseBox();
    for (int id : {1084, 1089, 1092, 1113}) {
        Press(id);
        EXPECT_EQ(op.BoxText(), "Open COM failed!");
        op.CloseBox();
    }
    EXPECT_TRUE(port->writes.empty());
    EXPECT_TRUE(dlg->Link().bReady);
}

TEST_F(EdidPage, OpenFileTakesOnlyGoodEdids)
{
    Open();
    const EdidImage good = BuildEdid();
    const Bytes goodBytes(good.begin(), good.end());
    Bytes badSum = goodBytes;
    badSum[40] += 1;
    Bytes count2(good.begin(), good.begin() + 128);
    count2[126] = 2;
    count2[127] -= 1;
    count2.resize(256, 0);
    const std::string fifo = (dir.path() + "/pipe.bin").toStdString();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string folder = (dir.path() + "/folder.BIN").toStdString();
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);

    struct Case {
        const char* name;
        std::optional<std::string> path;  // nothing: the operator cancels
        const char* message;              // "" for none
        const char* logged;               // "" for no line
    };
    port->writes.clear();
    OpenFile(WriteFile("good.bin", goodBytes));
    ASSERT_EQ(page->Page().FilePath(), *chosen);
    const std::string accepted = *chosen;
    const QString tip = page->FileEdit()->toolTip();
    const QString described = page->FileEdit()->accessibleDescription();
    const Case cases[] = {
        {"cancelled", std::nullopt, "", ""},
        {"too short", WriteFile("short.bin", Bytes(100, 0)), "Bad EDID file!", "size 100 bytes, expected 128 or 256"},
        {"too long", WriteFile("long.bin", Bytes(100000, 0)), "Bad EDID file!",
         "size 100000 bytes, expected 128 or 256"},
        {"bad sum", WriteFile("sum.bin", badSum), "Bad EDID file!", "bytes 0-127 sum to 0x01, expected 0x00"},
        {"two extensions", WriteFile("ext.bin", count2), "Bad EDID file!", "extension count (byte 126) 2"},
        {"a FIFO", fifo, "Bad EDID file!", "not a regular file but a FIFO"},
        {"a folder", folder, "Bad EDID file!", "not a regular file but a directory"},
        {"gone", (dir.path() + "/gone.bin").toStdString(), "", "cannot open: No such file or directory"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        logLines.clear();
        op.ClearEvents();
        if (c.path)
            OpenFile(*c.path);
        else {
            chosen.reset();
            Press(1104);
        }
        EXPECT_EQ(op.Messages(), *c.message ? std::vector<std::string>{c.message} : std::vector<std::string>{});
        op.CloseBox();
        if (*c.logged) {
            ASSERT_EQ(logLines.size(), 1u);
            EXPECT_NE(logLines[0].find(*c.path), std::string::npos) << logLines[0];
            EXPECT_NE(logLines[0].find(c.logged), std::string::npos) << logLines[0];
            EXPECT_EQ(logLines[0].find('\n'), std::string::npos);
        } else {
            EXPECT_TRUE(logLines.empty());
        }
        EXPECT_EQ(page->Page().FilePath(), accepted) << "a refused file changes nothing";
        EXPECT_EQ(page->FileEdit()->text().toStdString(), accepted);
        // Why, where the operator and a screen reader find it; the accepted file's tip below.
        if (*c.logged) {
            EXPECT_TRUE(page->FileEdit()->toolTip().contains(QString::fromLatin1(c.logged)));
            EXPECT_TRUE(page->FileEdit()->toolTip().contains(tip.mid(tip.indexOf('>') + 1, 40)));
            // The field still shows the accepted file: so does its description, the refusal after.
            EXPECT_EQ(page->FileEdit()->accessibleDescription(),
                      described + " Not taken: " + QString::fromStdString(logLines[0]));
        } else {
            EXPECT_EQ(page->FileEdit()->toolTip(), tip);
        }
        EXPECT_EQ(EdidBlockData(), goodBytes);
        EXPECT_TRUE(dlg->Link().bReady);
    }
    EXPECT_TRUE(port->writes.empty()) << "choosing a file sends nothing";
    // A typed path is taken and shown tidied, naming the same file.
    ASSERT_EQ(mkdir((dir.path() + "/sub").toStdString().c_str(), 0700), 0);
    OpenFile((dir.path() + "/sub/../good.bin").toStdString());
    EXPECT_EQ(page->FileEdit()->text().toStdString(), accepted);
    EXPECT_EQ(page->Page().FilePath(), accepted);
}

TEST_F(EdidPage, TheTipNamesTheDisplayOfTheAcceptedFile)
{
    Open();
    EXPECT_TRUE(page->FileEdit()->toolTip().isEmpty());
    const std::string path = WriteFile("office 27.bin", EdidBytesOf());
    OpenFile(path);
    const QString tip = page->FileEdit()->toolTip();
    for (const char* line : {"Display: OFFICE 27", "Maker: ZQX, product code 0xA1B2", "Made: week 12 of 2019",
                             "Preferred timing: 1920x1080 at 60.00 Hz", "Extension: CTA-861 revision 3, HDMI",
                             "Audio: LPCM 2 ch, AC-3 6 ch, DTS 6 ch"})
        EXPECT_TRUE(tip.contains(QString::fromLatin1(line))) << line;
    EXPECT_TRUE(tip.contains(QString::fromStdString(path)));
    EXPECT_TRUE(page->FileEdit()->accessibleDescription().contains(QStringLiteral("Display: OFFICE 27")));

    // Markup in a name is shown as text, not applied.
    EdidFields fields;
    fields.name = "<b>X</b>&";
    OpenFile(WriteFile("<i>odd&.bin", EdidBytesOf(fields)));
    EXPECT_TRUE(page->FileEdit()->toolTip().contains(QStringLiteral("Display: &lt;b&gt;X&lt;/b&gt;&amp;")));
    EXPECT_TRUE(page->FileEdit()->toolTip().contains(QStringLiteral("&lt;i&gt;odd&amp;.bin")));
}

}  // namespace
}  // namespace corvane::test
