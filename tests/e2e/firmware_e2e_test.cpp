// The FW Upgrade page through the panel's real serial transport and a real pseudo-terminal,
// with the emulator process at the other end: the image the emulator reassembles is the file's
// image, byte for byte. The emulator answers in real time; the page's own timers run on the
// virtual clock, so no test waits 50 ms per packet or 3 s for a guard.
#include "tests/e2e/panel_e2e.h"

#include <QCoreApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <random>

#include "core/firmware/firmware.h"
#include "panel/pages/firmware_dlg.h"

namespace corvane::test {
namespace {

using Bytes = std::vector<uint8_t>;

class FirmwareEndToEnd : public PanelEndToEnd {
protected:
    void Start(std::vector<std::string> simArgs)
    {
        imageOut = dir.path + "/received.bin";
        // Not quiet: the trace tells when the emulator has dropped a reply on purpose.
        for (std::string a : {"--serial", "com211", "--reboot-ms", "0", "--fw-out"})
            simArgs.push_back(a);
        simArgs.push_back(imageOut);
        StartPanel(std::move(simArgs), clock);
        PressConnect("COM211");
        ASSERT_TRUE(Drive([&] { return dlg->Link().Log().RxFrames() >= 1 && dlg->Link().bReady; }));
        dlg->PressTab(1013);
        page = dlg->findChild<CFWDlg*>();
        ASSERT_NE(page, nullptr);
        ASSERT_TRUE(Drive([&] { return !page->DeviceLine()->text().isEmpty(); }));
    }

    // Runs the panel until done() holds. Replies come over the pseudo-terminal in real time;
    // a pacing timer of the page is run at once on the virtual clock; a guard timer only when
    // the emulator's trace shows it dropped the reply the page waits for, or gave none (the
    // reboot check that ends a one-packet transfer).
    bool Drive(const std::function<bool()>& done)
    {
        QElapsedTimer t;
        t.start();
        while (!done()) {
            if (t.elapsed() > 20000)
                return false;
            QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
            for (std::string line = sim->ReadLine(0); !line.empty(); line = sim->ReadLine(0))
                if (line.find("serial fault") != std::string::npos || line.find("no reply") != std::string::npos)
                    ++dropped;
            bool pacing = false;
            if (page)
                for (unsigned id : {TIMER_FW_BLOCK, TIMER_FW_REQUEST_80, TIMER_FW_BLOCK_AGAIN})
                    pacing = pacing || page->Page().TimerRunning(id);
            // After a repetition the page waits for a second acknowledgement that, the first
            // having been dropped, never comes: that wait is time to pass as well.
            if (page && page->Page().CurrentStep() == CFirmwarePage::Step::Settling)
                pacing = true;
            if ((pacing || dropped > 0) && clock.NextDue() >= 0) {
                if (!pacing)
                    --dropped;
                clock.Advance(clock.NextDue() - clock.Now());
            }
        }
        return true;
    }
    std::string Packed(const Bytes& image)
    {
        const std::string path = dir.path + "/up.fw";
        const Bytes file = *PackFirmware(image);
        std::ofstream(path, std::ios::binary | std::ios::trunc).write(reinterpret_cast<const char*>(file.data()), std::streamsize(file.size()));
        return path;
    }
    Bytes Received() const
    {
        std::ifstream f(imageOut, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(f), {});
    }
    // Upgrades with the image; true when the page reports success.
    bool Upgrade(const Bytes& image)
    {
        page->SetFileChooser([path = Packed(image)] { return std::optional<std::string>(path); });
        page->OpenButton()->click();
        page->UpgradeButton()->click();
        return Drive([&] { return dlg->Link().bReady && page->Page().CurrentStep() == CFirmwarePage::Step::Idle; }) &&
               page->Messages()->toPlainText().endsWith(QStringLiteral("->Firmware upgrade successfully \n"));
    }
    // The emulator holds the image where the page sent it: 0xFF where a skip left a gap, 0x00
    // past the image's end.
    void ExpectReceived(const Bytes& image, const std::map<unsigned, uint8_t>& controls = {})
    {
        Bytes acks;
        for (unsigned n = 1; n <= 400; ++n)
            acks.push_back(controls.count(n) ? controls.at(n) : 0x00);
        const auto plan = PlanPackets(int(image.size()) + 2, acks);
        const Bytes got = Received();
        ASSERT_EQ(got.size(), std::size_t(plan.back().offset) + 256);
        std::vector<bool> sent(got.size(), false);
        for (const FirmwarePacket& p : plan)
            std::fill_n(sent.begin() + p.offset, 256, true);
        for (std::size_t i = 0; i < got.size(); ++i)
            ASSERT_EQ(got[i], !sent[i] ? 0xFF : i < image.size() ? image[i] : 0x00) << "image position " << i;
    }

    CVirtualTimers clock;
    std::string imageOut;
    CFWDlg* page = nullptr;
    int dropped = 0;
};

Bytes RandomImage(std::size_t n, std::mt19937& rng)
{
    Bytes b(n);
    for (auto& x : b)
        x = uint8_t(rng());
    return b;
}

TEST_F(FirmwareEndToEnd, RandomImagesOfManySizesArriveByteForByte)
{
    Start({});
    EXPECT_EQ(page->DeviceLine()->text(), QStringLiteral("Device: Corvane 4x2     Version:1.32-20261207"));
    std::mt19937 rng(20261207);
    for (std::size_t n : {std::size_t(1), std::size_t(254), std::size_t(255), std::size_t(256), std::size_t(1000),
                          std::size_t(4097), std::size_t(rng() % 30000 + 1), std::size_t(rng() % 30000 + 1)}) {
        SCOPED_TRACE(n);
        const Bytes image = RandomImage(n, rng);
        ASSERT_TRUE(Upgrade(image)) << page->Messages()->toPlainText().toStdString();
        ExpectReceived(image);
        EXPECT_EQ(page->Progress()->value(), int(n) + 2);
    }
    EXPECT_TRUE(op.Messages().empty());
}

TEST_F(FirmwareEndToEnd, ControlBytesF0AndB0)
{
    const std::map<unsigned, uint8_t> controls{{2, 0xF0}, {3, 0xB0}, {6, 0xF0}, {7, 0xB0}};
    Start({"--fw-control", "2:F0", "--fw-control", "3:B0", "--fw-control", "6:F0", "--fw-control", "7:B0"});
    std::mt19937 rng(3);
    const Bytes image = RandomImage(14000, rng);
    ASSERT_TRUE(Upgrade(image));
    ExpectReceived(image, controls);
}

TEST_F(FirmwareEndToEnd, LostAcknowledgementIsRepeatedOnce)
{
    Start({"--fault", "drop:20 01 AA:3"});
    std::mt19937 rng(5);
    const Bytes image = RandomImage(3000, rng);
    ASSERT_TRUE(Upgrade(image));
    ExpectReceived(image);
    EXPECT_EQ(dlg->Link().Log().RxFrames() > 0, true);
    EXPECT_TRUE(op.Messages().empty());
}

}  // namespace
}  // namespace corvane::test
