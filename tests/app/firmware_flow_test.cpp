// The FW Upgrade page as the operator uses it, against the switcher model on the virtual clock:
// the device line, loading files, whole upgrades, every failure path and its red pane.
#include "tests/app/app_fixture.h"

#include <QAction>
#include <QMenu>

#include <QAccessible>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <sys/stat.h>

#include <fstream>
#include <random>
#include <sstream>

#include "cli/commands.h"
#include "core/firmware/firmware.h"
#include "panel/pages/firmware_dlg.h"

namespace corvane::test {
namespace {

using Bytes = std::vector<uint8_t>;

std::vector<uint8_t> RandomImage(std::size_t n, unsigned seed)
{
    std::mt19937 rng(seed);
    Bytes b(n);
    for (auto& x : b)
        x = uint8_t(rng());
    return b;
}

class FirmwarePage : public AppFixture {
protected:
    void Open(sim::SwitcherSettings s = {})
    {
        port->device = sim::CSwitcher(s);
        Connect();
        port->writes.clear();
        dlg->PressTab(1013);
        page = dlg->findChild<CFWDlg*>();
        ASSERT_NE(page, nullptr);
        page->SetFileChooser([this]() -> std::optional<std::string> {
            ++chooserCalls;
            return chosen;
        });
        port->Run(0);
    }
    std::string WriteFile(const std::string& name, const Bytes& bytes)
    {
        const std::string path = (dir.path() + "/").toStdString() + name;
        std::ofstream(path, std::ios::binary | std::ios::trunc)
            .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        return path;
    }
    std::string Packed(const std::string& name, const Bytes& image) { return WriteFile(name, *PackFirmware(image)); }
    void Load(const std::string& path)
    {
        chosen = path;
        page->OpenButton()->click();
    }
    // Frames written (bytes 2..11) and blocks written (data bytes 1..256).
    std::vector<Bytes> Frames() const
    {
        std::vector<Bytes> out;
        for (const auto& w : port->writes)
            if (w.size() == kFrameSize)
                out.emplace_back(w.begin() + 2, w.begin() + 12);
        return out;
    }
    std::vector<Bytes> Blocks() const
    {
        std::vector<Bytes> out;
        for (const auto& w : port->writes)
            if (w.size() == kBlockSize)
                out.emplace_back(w.begin() + 1, w.end());
        return out;
    }
    std::size_t Count(const Bytes& body) const
    {
        std::size_t n = 0;
        for (const Bytes& f : Frames())
            n += std::equal(body.begin(), body.end(), f.begin());
        return n;
    }
    QString Pane() const { return page->Messages()->toPlainText(); }
    QColor PaneColour() const { return page->Messages()->palette().color(QPalette::Text); }
    bool AnyPageTimer() const
    {
        for (unsigned id : {3000u, 3001u, 3002u, 3003u, 3004u, 3005u, 3006u, 3007u, 4000u, 4001u, 4002u, 4003u,
                            4004u, 4005u, 4006u, 4007u, 4008u, 4009u})
            if (page->Page().TimerRunning(id))
                return true;
        return false;
    }

    // A reply as the switcher would write it, straight onto the line.
    void Inject(std::initializer_list<uint8_t> body)
    {
        for (uint8_t b : MakeFrame(body))
            port->onByte(b);
    }
    // Every packet header written is followed at once by a block, and every block follows a
    // header: the switcher never takes a header for the block it waits for.
    void ExpectEveryHeaderFollowedByItsBlock() const
    {
        const auto& w = port->writes;
        for (std::size_t i = 0; i < w.size(); ++i) {
            const bool header = w[i].size() == kFrameSize && w[i][2] == 0x20 && (w[i][4] == 0xAA || w[i][4] == 0x56);
            if (header) {
                ASSERT_LT(i + 1, w.size());
                EXPECT_EQ(w[i + 1].size(), kBlockSize) << "write " << i + 1;
            }
            if (w[i].size() == kBlockSize) {
                ASSERT_GT(i, 0u);
                EXPECT_EQ(w[i - 1][4] == 0xAA || w[i - 1][4] == 0x56, true) << "write " << i - 1;
            }
        }
    }

    CFWDlg* page = nullptr;
    std::optional<std::string> chosen;
    int chooserCalls = 0;
};

const Bytes kRebootCheck{0x01, 0x01, 0, 0, 0, 0, 0, 0, 0x00};

const QString kSuccess = QStringLiteral(
    "->Upgrading MCU...\n->System rebooting, please wait...\n->System reboot ok \n->MCU upgrading complete \n"
    "->Firmware upgrade successfully \n");

TEST_F(FirmwarePage, OpeningShowsTheDeviceLine)
{
    struct Case {
        uint8_t type;
        uint8_t major, minor;
        std::array<char, 8> build;
        const char* line;
    } cases[] = {
        {0x01, 1, 32, {'2', '0', '2', '6', '1', '2', '0', '7'}, "Device: Corvane 4x2     Version:1.32-20261207"},
        {0x02, 2, 5, {'<', 'b', '>', 'x', '<', '/', 'b', '>'}, "Device: Brisel 4x2     Version:2.5-<b>x</b>"},
        {0x07, 0, 255, {'A', 'B', '\0', 'C', 'D', 'E', 'F', 'G'}, "Device: Corvane+Brisel 4x2     Version:0.255-AB"},
    };
    bool first = true;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        sim::SwitcherSettings s;
        s.deviceType = c.type;
        s.versionMajor = c.major;
        s.versionMinor = c.minor;
        s.build = c.build;
        if (first) {
            Open(s);
            first = false;
        } else {
            port->device = sim::CSwitcher(s);
            port->writes.clear();
            dlg->PressTab(1008);
            dlg->PressTab(1013);
            port->Run(0);
        }
        EXPECT_EQ(page->DeviceLine()->text(), QString::fromLatin1(c.line));
        EXPECT_EQ(page->DeviceLine()->textFormat(), Qt::PlainText);
        EXPECT_EQ(Frames(), (std::vector<Bytes>{{0x01, 0x01, 0, 0, 0, 0, 0, 0, 0xCC, 0},
                                                 {0x01, 0x02, 0, 0, 0, 0, 0, 0, 0xCC, 0},
                                                 {0x01, 0x03, 0, 0, 0, 0, 0, 0, 0xCC, 0},
                                                 {0x01, 0x06, 0, 0, 0, 0, 0, 0, 0x00, 0}}));
        EXPECT_EQ(page->pos(), QPoint(1, 70));
        EXPECT_TRUE(dlg->Link().bReady);
        EXPECT_FALSE(AnyPageTimer());
    }
    EXPECT_EQ(dlg->findChildren<CFWDlg*>().size(), 1);
    // The line goes with the link: the switcher connected next must not seem to be this one.
    Click(1021);
    EXPECT_TRUE(page->DeviceLine()->text().isEmpty());
    EXPECT_FALSE(page->Page().DeviceInfo().has_value());
}

TEST_F(FirmwarePage, WholeUpgradesDeliverTheImage)
{
    struct Case {
        std::size_t imageBytes;
        std::map<unsigned, uint8_t> controls;  // acknowledgement control byte by packet (1-based)
    } cases[] = {{1, {}},       {254, {}},  {255, {}},  {256, {}},
                 {5000, {}},    {9000, {{2, 0xF0}, {3, 0xB0}, {5, 0xF0}}},
                 {kFirmwareMaxImage, {}}};
    Open();
    unsigned seed = 1;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.imageBytes);
        sim::SwitcherSettings s;
        s.packetControl = c.controls;
        port->device = sim::CSwitcher(s);
        const Bytes image = RandomImage(c.imageBytes, seed++);
        Load(Packed("up.fw", image));
        const int fileLength = int(c.imageBytes) + 2;
        EXPECT_EQ(page->Progress()->maximum(), fileLength);
        EXPECT_EQ(page->Progress()->value(), 0);
        port->writes.clear();

        page->UpgradeButton()->click();
        EXPECT_FALSE(dlg->Link().bReady);
        EXPECT_EQ(Pane(), QStringLiteral("->Upgrading MCU...\n"));
        port->Run(0);  // accepted: request 0x80 waits 50 ms
        EXPECT_EQ(Frames().size(), 1u);
        port->Run(49);
        EXPECT_EQ(Frames().size(), 1u);
        port->Run(1);
        // Request 0x80, at once request 0x10 and the first header; its block 50 ms later.
        ASSERT_EQ(Frames().size(), 4u);
        EXPECT_EQ(Frames()[1], (Bytes{0x20, 0x01, 0x80, 0, 0, 0, 0, 0, 0xEE, 0}));
        EXPECT_EQ(Frames()[2], (Bytes{0x20, 0x01, 0x10, 0, 0, 0, 0, 0, 0x00, 0}));
        EXPECT_EQ(Frames()[3], (Bytes{0x20, 0x01, 0xAA, 0, 0, 0x01, 0x01, 0x40, 0x00, 0}));
        EXPECT_TRUE(Blocks().empty());
        port->Run(50);
        EXPECT_EQ(Blocks().size(), 1u);

        port->Run(int64_t(fileLength / 256 + 2) * 50 + 20000);
        EXPECT_EQ(Pane(), kSuccess);
        EXPECT_TRUE(dlg->Link().bReady);
        EXPECT_FALSE(AnyPageTimer());
        EXPECT_EQ(page->Progress()->value(), page->Progress()->maximum()) << "full, though the offset ends past it";
        EXPECT_EQ(port->device.Upgrades(), 1u);

        // Every header is followed by one block; the device kept each block where the page put it.
        const std::vector<FirmwarePacket> plan =
            PlanPackets(fileLength, [&] {
                Bytes controls;
                for (unsigned n = 1; n <= 400; ++n)
                    controls.push_back(c.controls.count(n) ? c.controls.at(n) : 0x00);
                return controls;
            }());
        EXPECT_EQ(Blocks().size(), plan.size());
        const Bytes& got = port->device.FirmwareImage();
        ASSERT_EQ(got.size(), std::size_t(plan.back().offset) + 256);
        std::vector<bool> sent(got.size(), false);
        for (const FirmwarePacket& p : plan)
            std::fill_n(sent.begin() + p.offset, 256, true);
        for (std::size_t i = 0; i < got.size(); ++i) {
            const uint8_t want = !sent[i] ? 0xFF : i < image.size() ? image[i] : 0x00;
            ASSERT_EQ(got[i], want) << "image position " << i;
        }
        EXPECT_EQ(Count(kRebootCheck), 3u) << "the switcher is back on the third check";
    }
}

// The serial link lost in the middle of the transfer: the upgrade ends there, red, with the
// gate free and no "Time out!" behind it.
TEST_F(FirmwarePage, ALostLinkEndsTheUpgradeAtOnce)
{
    Open();
    Load(Packed("f.fw", RandomImage(1000, 7)));
    port->AddFault("hangup:20 01 AA:2");
    page->UpgradeButton()->click();
    for (int guard = 0; guard < 5000 && dlg->Link().bComOpen; ++guard)
        port->Run(1);
    ASSERT_FALSE(dlg->Link().bComOpen);
    EXPECT_TRUE(dlg->Link().bReady);
    EXPECT_FALSE(AnyPageTimer());
    EXPECT_EQ(page->Page().CurrentStep(), CFirmwarePage::Step::Idle);
    EXPECT_TRUE(Pane().endsWith(QStringLiteral("->MCU upgrade failed\n")));
    EXPECT_EQ(PaneColour(), QColor(255, 0, 0));
    port->Run(30000);
    EXPECT_EQ(op.Messages(), std::vector<std::string>{"Connection to Matrix lost! COM1 (model): the line hung up"});
}

TEST_F(FirmwarePage, EveryFailureEndsRedAndReady)
{
    struct Case {
        const char* fault;
        int64_t rebootMs;
        Bytes repeated;         // the frame sent again
        std::size_t sentTimes;  // how often
        int64_t failsAfterMs;   // from the frame's first sending
    } cases[] = {
        {"drop:20 01 01", 4000, {0x20, 0x01, 0x01}, 2, 6000},
        {"drop:20 01 80", 4000, {0x20, 0x01, 0x80}, 2, 6000},
        {"refuse:20 01 80", 4000, {0x20, 0x01, 0x80}, 2, 6000},  // a refusal is no "done"
        {"drop:20 01 10", 4000, {0x20, 0x01, 0x10}, 2, 6000},
        {"drop:20 01 AA:2-", 4000, {0x20, 0x01, 0xAA, 0, 0, 0x01, 0x01, 0x40, 0x01}, 2, 6100},
        {"refuse:20 01 AA:2-", 4000, {0x20, 0x01, 0xAA, 0, 0, 0x01, 0x01, 0x40, 0x01}, 2, 6100},
        {"drop:20 01 56", 4000, {0x20, 0x01, 0x56, 0, 0, 0x01, 0x01, 0x40, 0x03}, 2, 6100},
        {"", 60000, kRebootCheck, 6, 18000},
    };
    Open();
    const Bytes image = RandomImage(1000, 7);
    Load(Packed("f.fw", image));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        sim::SwitcherSettings s;
        s.rebootMs = c.rebootMs;
        port->device = sim::CSwitcher(s);
        port->faults = sim::CFaultPlan();
        if (*c.fault)
            port->AddFault(c.fault);
        port->writes.clear();
        page->UpgradeButton()->click();
        EXPECT_EQ(PaneColour(), QColor(0, 0, 0)) << "black again for a new upgrade";
        // Up to the first sending of the frame that goes unanswered.
        for (int guard = 0; guard < 2000 && Count(c.repeated) == 0; ++guard)
            port->Run(1);
        ASSERT_EQ(Count(c.repeated), 1u);
        port->Run(c.failsAfterMs - 1);
        EXPECT_FALSE(op.BoxOpen());
        port->Run(1);
        ASSERT_TRUE(op.BoxOpen());
        const int progress = page->Progress()->value();
        EXPECT_EQ(op.BoxText(), "Time out!");
        EXPECT_EQ(Count(c.repeated), c.sentTimes);
        EXPECT_FALSE(dlg->Link().bReady) << "until the box is closed";
        EXPECT_FALSE(AnyPageTimer());
        const std::size_t sent = port->writes.size();
        op.CloseBox();
        EXPECT_TRUE(dlg->Link().bReady);
        EXPECT_TRUE(Pane().contains(QStringLiteral("\n->MCU upgrade failed\n")));
        EXPECT_TRUE(Pane().startsWith(QStringLiteral("->Upgrading MCU...\n")));
        EXPECT_EQ(PaneColour(), QColor(255, 0, 0));
        EXPECT_TRUE(page->Page().UpgradeFailed());
        EXPECT_EQ(page->Progress()->value(), progress) << "the bar keeps its place";
        // Only a lost last acknowledgement leaves the switcher with the whole image: the pane
        // says so, the rest of the failure is the same.
        const bool lastLost = c.repeated[2] == 0x56;
        EXPECT_EQ(Pane().endsWith(QStringLiteral(
                      "->MCU upgrade failed\n->The last packet was sent; the switcher may hold the whole image\n")),
                  lastLost);
        EXPECT_EQ(port->device.Upgrades(), lastLost || c.repeated == kRebootCheck ? 1u : 0u);
        port->Run(20000);
        EXPECT_EQ(port->writes.size(), sent) << "nothing more is sent";
        EXPECT_EQ(page->Page().SendOffset(), 0);
        // The page is ready for another file.
        const std::string next = Packed("next.fw", RandomImage(300, 11));
        Load(next);
        EXPECT_EQ(page->PathEdit()->text().toStdString(), next);
        Load(Packed("f.fw", image));
    }
    // The next upgrade starts black and clean, and succeeds.
    port->device = sim::CSwitcher();
    port->faults = sim::CFaultPlan();
    page->UpgradeButton()->click();
    port->Run(30000);
    EXPECT_EQ(Pane(), kSuccess);
    EXPECT_EQ(PaneColour(), QColor(0, 0, 0));
}

TEST_F(FirmwarePage, LostAcknowledgementIsAnsweredByOneRepetition)
{
    Open();
    const Bytes image = RandomImage(2000, 3);
    Load(Packed("l.fw", image));
    port->AddFault("drop:20 01 AA:2");
    page->UpgradeButton()->click();
    port->Run(30000);
    EXPECT_EQ(Pane(), kSuccess);
    const std::vector<Bytes> blocks = Blocks();
    ASSERT_EQ(blocks.size(), 9u);  // 8 packets, the second twice
    EXPECT_EQ(blocks[1], blocks[2]);
    EXPECT_EQ(Count({0x20, 0x01, 0xAA, 0, 0, 0x01, 0x01, 0x40, 0x01}), 2u);
    const Bytes& got = port->device.FirmwareImage();
    EXPECT_TRUE(std::equal(image.begin(), image.end(), got.begin()));
}

TEST_F(FirmwarePage, LateAndLostAcknowledgementsStillDeliverTheImage)
{
    struct Case {
        const char* name;
        std::vector<std::string> faults;
        bool allAnswered;  // every sending gets its acknowledgement, however late
    } cases[] = {
        // Inside the 6 s a packet may wait: the repetition goes out before the answer comes.
        {"every acknowledgement 3.5 s late", {"delay=3500:20 01 AA", "delay=3500:20 01 56"}, true},
        {"one acknowledgement lost", {"drop:20 01 AA:2"}, false},
        // Between the repeated header and its block.
        {"one acknowledgement 3025 ms late", {"delay=3025:20 01 AA:2"}, true},
        {"the last one 3025 ms late", {"delay=3025:20 01 56"}, true},
        {"two in a row lost and late", {"drop:20 01 AA:3", "delay=3500:20 01 AA:5-6"}, false},
    };
    Open();
    unsigned seed = 20;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        port->device = sim::CSwitcher();
        port->faults = sim::CFaultPlan();
        for (const auto& f : c.faults)
            port->AddFault(f);
        const Bytes image = RandomImage(2000, seed++);
        Load(Packed("late.fw", image));
        port->writes.clear();
        port->heard.clear();
        page->UpgradeButton()->click();
        port->Run(120000);
        EXPECT_EQ(Pane(), kSuccess);
        EXPECT_TRUE(op.Messages().empty());
        EXPECT_TRUE(dlg->Link().bReady);
        EXPECT_FALSE(AnyPageTimer());
        ASSERT_EQ(port->device.Upgrades(), 1u);
        const Bytes& got = port->device.FirmwareImage();
        ASSERT_GE(got.size(), image.size());
        EXPECT_TRUE(std::equal(image.begin(), image.end(), got.begin()));
        ExpectEveryHeaderFollowedByItsBlock();
        // Eight packets, none sent more than twice, each header number in order.
        const std::vector<FirmwarePacket> plan = PlanPackets(2002);
        std::size_t at = 0;
        for (const Bytes& f : Frames()) {
            if (f[0] != 0x20 || (f[2] != 0xAA && f[2] != 0x56))
                continue;
            while (at < plan.size() && f[8] != plan[at].number)
                ++at;
            ASSERT_LT(at, plan.size()) << "a header out of order";
        }
        EXPECT_EQ(at, plan.size() - 1);
        for (const FirmwarePacket& p : plan)
            EXPECT_LE(Count({0x20, 0x01, p.mark, 0, 0, 0x01, 0x01, p.kind, p.number}), 2u);
        // A new packet waits until each sending of the one before is answered: a switcher that
        // answers late would credit the repetition's acknowledgement to the next packet.
        std::size_t blocks = 0, acks = 0, h = 0;
        const auto& w = port->writes;
        for (std::size_t i = 0; c.allAnswered && i < w.size(); ++i) {
            for (; h < port->heard.size() && port->heard[h].first <= i; ++h) {
                const Bytes& r = port->heard[h].second;
                acks += r.size() >= kFrameSize && r[2] == 0x20 && r[4] == 0x00 && r[7] == 0x01 && r[8] == 0x01;
            }
            const bool header = w[i].size() == kFrameSize && w[i][2] == 0x20 && (w[i][4] == 0xAA || w[i][4] == 0x56);
            if (header && blocks > 0 && w[i] != w[i - 2]) {
                EXPECT_EQ(acks, blocks) << "the header of write " << i;
            }
            blocks += w[i].size() == kBlockSize;
        }
        op.ClearEvents();
    }
}

TEST_F(FirmwarePage, RebootReplyIsRecognisedOnBytes7_8And10)
{
    struct Case {
        std::map<unsigned, uint8_t> reply;
        bool recognised;
    } cases[] = {
        {{}, true},
        {{{6, 0x5A}, {9, 0xA5}}, true},  // bytes the check does not name
        {{{5, 0x01}, {11, 0xFF}}, true},
        {{{7, 0x01}}, false},
        {{{8, 0x80}}, false},
        {{{10, 0xCC}}, false},
    };
    Open();
    Load(Packed("b.fw", RandomImage(600, 12)));
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.reply.size() << " " << (c.reply.empty() ? 0 : c.reply.begin()->first));
        sim::SwitcherSettings s;
        s.rebootReply = c.reply;
        port->device = sim::CSwitcher(s);
        port->writes.clear();
        page->UpgradeButton()->click();
        port->Run(30000);
        if (c.recognised) {
            EXPECT_EQ(Pane(), kSuccess);
            EXPECT_EQ(Count(kRebootCheck), 3u);
        } else {
            ASSERT_TRUE(op.BoxOpen());
            EXPECT_EQ(op.BoxText(), "Time out!");
            op.CloseBox();
            EXPECT_TRUE(Pane().endsWith(QStringLiteral("->MCU upgrade failed\n")));
            EXPECT_EQ(Count(kRebootCheck), 6u);
        }
        EXPECT_TRUE(dlg->Link().bReady);
    }
}

TEST_F(FirmwarePage, RepeatedDeviceAnswersFillNothingTwice)
{
    // The size answer comes late, so a repeated type answer meets the chain waiting for it.
    Open();
    port->device = sim::CSwitcher();
    port->AddFault("delay=100:01 02");
    port->writes.clear();
    dlg->PressTab(1008);
    dlg->PressTab(1013);
    port->Run(0);
    ASSERT_EQ(Frames().size(), 2u);
    Inject({0x01, 0x01, 0x02, 0, 0, 0, 0, 0, 0xCC});  // the type answer again, another type
    EXPECT_EQ(Frames().size(), 2u) << "the size query is not asked again";
    port->Run(200);
    ASSERT_EQ(Frames().size(), 4u);
    const QString line = QStringLiteral("Device: Corvane 4x2     Version:1.32-20261207");
    EXPECT_EQ(page->DeviceLine()->text(), line);
    // Answers after the chain ended change nothing and ask nothing.
    Inject({0x01, 0x03, 9, 0, 9, 0, 0, 0, 0xCC});
    Inject({0x01, 0x06, 'X', 'X', 'X', 'X', 'X', 'X', 'X', 'X'});
    Inject({0x01, 0x02, 8, 0, 8, 0, 0, 0, 0xCC});
    EXPECT_EQ(page->DeviceLine()->text(), line);
    EXPECT_EQ(Frames().size(), 4u);
}

// Closing the panel mid-upgrade would leave the switcher with half an image: every way of closing
// asks first, Cancel lets the upgrade run to its end, Ok ends the program. Idle, it just closes.
TEST_F(FirmwarePage, ClosingDuringAnUpgradeAsksFirst)
{
    Open();
    int quits = 0;
    dlg->SetQuitHandler([&] { ++quits; });
    dlg->RequestClose();
    EXPECT_EQ(quits, 1);
    EXPECT_FALSE(op.BoxOpen());

    const Bytes image = RandomImage(3000, 5);
    Load(Packed("c.fw", image));
    page->UpgradeButton()->click();
    port->Run(200);
    ASSERT_NE(page->Page().CurrentStep(), CFirmwarePage::Step::Idle);
    const std::pair<const char*, std::function<void()>> ways[] = {
        {"close button", [&] { qobject_cast<QAbstractButton*>(dlg->Control(1002))->click(); }},
        {"window manager (Alt+F4)", [&] { dlg->close(); }},
        {"system menu", [&] {
             dlg->ShowSystemMenu(dlg->mapToGlobal(QPoint(1, 56)));
             for (QAction* a : dlg->SystemMenu()->actions())
                 if (a->text().startsWith(QStringLiteral("Close")))
                     a->trigger();
             dlg->SystemMenu()->hide();
         }},
    };
    for (const auto& [name, close] : ways) {
        SCOPED_TRACE(name);
        op.ClearEvents();
        close();
        ASSERT_TRUE(op.BoxOpen());
        EXPECT_TRUE(op.BoxIsQuestion());
        EXPECT_EQ(op.BoxText(), "An upgrade is running. Close anyway?");
        port->Run(100);  // the transfer goes on under the question
        op.CloseBox(IDCANCEL);
        EXPECT_EQ(quits, 1);
        EXPECT_NE(page->Page().CurrentStep(), CFirmwarePage::Step::Idle);
    }
    dlg->RequestClose();  // still open when the transfer ends: withdrawn, the window stays
    port->Run(30000);
    EXPECT_FALSE(op.BoxOpen());
    EXPECT_EQ(quits, 1);
    EXPECT_EQ(Pane(), kSuccess);
    const Bytes& got = port->device.FirmwareImage();
    EXPECT_TRUE(std::equal(image.begin(), image.end(), got.begin()));

    page->UpgradeButton()->click();
    port->Run(200);
    dlg->RequestClose();
    op.CloseBox(IDOK);
    EXPECT_EQ(quits, 2);
}

TEST_F(FirmwarePage, SwitcherBackOnTheFifthRebootCheck)
{
    sim::SwitcherSettings s;
    s.rebootMs = 11000;
    Open(s);
    Load(Packed("r.fw", RandomImage(300, 4)));
    page->UpgradeButton()->click();
    port->Run(30000);
    EXPECT_EQ(Pane(), kSuccess);
    EXPECT_EQ(Count(kRebootCheck), 5u);
    EXPECT_TRUE(dlg->Link().bReady);
}

TEST_F(FirmwarePage, FilesRefusedOrChosenWhileBusyChangeNothing)
{
    Open();
    const std::string good = Packed("good.fw", RandomImage(700, 5));
    Load(good);
    const Bytes loaded = page->Page().File();
    mkfifo((dir.path() + "/pipe.fw").toLocal8Bit().constData(), 0600);
    struct Case {
        std::string path;
        const char* message;  // nullptr: nothing said
    } cases[] = {
        {WriteFile("big.fw", Bytes(100001, 0x33)), "Firmware file too large (at most 100000 bytes)!"},
        {WriteFile("lead.fw", Bytes{0x12, 0x34}), "Firmware file without image!"},
        {WriteFile("none.fw", Bytes{}), "Firmware file without image!"},
        {(dir.path() + "/pipe.fw").toStdString(), "Not a regular file!"},
        {dir.path().toStdString(), "Not a regular file!"},
        {(dir.path() + "/missing.fw").toStdString(), nullptr},
    };
    const char* reasons[] = {"too large", "without image", "without image", "Not a regular", "Not a regular",
                             "cannot be opened"};
    const char* const* reason = reasons;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        op.ClearEvents();
        Load(c.path);
        if (c.message) {
            EXPECT_EQ(op.Messages(), std::vector<std::string>{c.message});
            op.CloseBox();
        } else {
            EXPECT_TRUE(op.Messages().empty());
        }
        EXPECT_EQ(page->PathEdit()->text().toStdString(), good);
        // Why, in the path field's tip and as its description for a screen reader.
        EXPECT_TRUE(page->PathEdit()->toolTip().contains(QString::fromLatin1(*reason)));
        EXPECT_TRUE(page->PathEdit()->accessibleDescription().contains(QString::fromLatin1(*reason++)));
        EXPECT_TRUE(page->PathEdit()->accessibleDescription().contains(QString::fromStdString(c.path)));
        EXPECT_EQ(page->Page().File(), loaded);
        EXPECT_EQ(page->Progress()->maximum(), 702);
    }

    // "Open" while a command is pending does nothing, not even the dialog.
    chooserCalls = 0;
    page->UpgradeButton()->click();
    Load(Packed("other.fw", RandomImage(10, 6)));
    EXPECT_EQ(chooserCalls, 0);
    EXPECT_EQ(page->Page().File(), loaded);
    port->Run(30000);
    Load(good);
    EXPECT_EQ(chooserCalls, 1);
}

TEST_F(FirmwarePage, ShortFileAfterALongOneSendsNothingOfTheLongOne)
{
    Open();
    Load(Packed("long.fw", Bytes(3000, 0xAB)));
    const Bytes shortImage = RandomImage(10, 8);
    Load(Packed("short.fw", shortImage));
    EXPECT_EQ(page->Progress()->maximum(), 12);
    page->UpgradeButton()->click();
    port->Run(30000);
    EXPECT_EQ(Pane(), kSuccess);
    const std::vector<Bytes> blocks = Blocks();
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_TRUE(std::equal(shortImage.begin(), shortImage.end(), blocks[0].begin()));
    EXPECT_TRUE(std::all_of(blocks[0].begin() + 10, blocks[0].end(), [](uint8_t b) { return b == 0; }));
}

TEST_F(FirmwarePage, UpgradeWithoutFileAsksForOne)
{
    Open();
    port->writes.clear();
    page->UpgradeButton()->click();
    EXPECT_EQ(op.Messages(), std::vector<std::string>{"Please open the file(.fw)!"});
    EXPECT_FALSE(dlg->Link().bReady);
    op.CloseBox();
    EXPECT_TRUE(dlg->Link().bReady);
    EXPECT_TRUE(port->writes.empty());
    EXPECT_TRUE(Pane().isEmpty());
}

TEST_F(FirmwarePage, LoadsWhatCorvanectlPacked)
{
    Open();
    const Bytes image = RandomImage(4321, 9);
    const std::string imagePath = WriteFile("image.bin", image);
    const std::string fw = (dir.path() + "/ctl.fw").toStdString();
    std::ostringstream out, err;
    const std::vector<std::string> args{"firmware", "pack", imagePath, fw};
    ASSERT_EQ(cli::RunCommandLine(args, out, err), 0) << err.str();
    Load(fw);
    const Bytes& file = page->Page().File();
    ASSERT_EQ(file.size(), image.size() + 2);
    EXPECT_TRUE(std::equal(image.begin(), image.end(), file.begin() + 2));
    EXPECT_EQ(page->PathEdit()->text().toStdString(), fw);
    page->UpgradeButton()->click();
    port->Run(30000);
    EXPECT_TRUE(std::equal(image.begin(), image.end(), port->device.FirmwareImage().begin()));
}

TEST_F(FirmwarePage, KeysAssistiveTechnologyAndLook)
{
    Open();
    dlg->show();
    // Space on the focused Upgrade button presses nothing; the assistive press is a click.
    page->UpgradeButton()->setFocus();
    for (int key : {Qt::Key_Space, Qt::Key_Return, Qt::Key_Escape}) {
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, key == Qt::Key_Space ? QStringLiteral(" ") : QString());
        QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier);
        QCoreApplication::sendEvent(page->UpgradeButton(), &press);
        QCoreApplication::sendEvent(page->UpgradeButton(), &release);
    }
    EXPECT_TRUE(op.Messages().empty());
    QAccessibleInterface* button = QAccessible::queryAccessibleInterface(page->UpgradeButton());
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->text(QAccessible::Name), QStringLiteral("Upgrade"));
    button->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    EXPECT_TRUE(op.Messages().empty()) << "the action returns before its click runs";
    QCoreApplication::processEvents();
    EXPECT_EQ(op.Messages(), std::vector<std::string>{"Please open the file(.fw)!"});
    op.CloseBox();

    Load(Packed("a.fw", RandomImage(600, 10)));
    QAccessibleInterface* path = QAccessible::queryAccessibleInterface(page->PathEdit());
    EXPECT_EQ(path->text(QAccessible::Value), page->PathEdit()->text());
    QAccessibleInterface* line = QAccessible::queryAccessibleInterface(page->DeviceLine());
    EXPECT_EQ(line->text(QAccessible::Name), page->DeviceLine()->text());

    // A failed upgrade: the bar reads its value, the pane is red.
    port->AddFault("drop:20 01 56");
    page->UpgradeButton()->click();
    port->Run(10000);
    op.CloseBox();
    QAccessibleInterface* bar = QAccessible::queryAccessibleInterface(page->Progress());
    ASSERT_NE(bar, nullptr);
    ASSERT_NE(bar->valueInterface(), nullptr);
    EXPECT_EQ(bar->valueInterface()->currentValue().toInt(), 512);
    EXPECT_EQ(bar->valueInterface()->maximumValue().toInt(), 602);

    QImage img = dlg->grab().toImage();
    if (const QByteArray shots = qgetenv("CORVANE_SHOTS_DIR"); !shots.isEmpty())
        img.save(QString::fromLocal8Bit(shots) + "/firmware-failed.png");
    // Some text pixel of the pane is pure red.
    const QRect pane = page->Messages()->geometry().translated(page->pos());
    bool red = false;
    for (int y = pane.top(); y < pane.bottom() && !red; ++y)
        for (int x = pane.left(); x < pane.right() && !red; ++x) {
            const QColor c = img.pixelColor(x, y);
            red = c.red() > 200 && c.green() < 60 && c.blue() < 60;
        }
    EXPECT_TRUE(red);
}

}  // namespace
}  // namespace corvane::test
