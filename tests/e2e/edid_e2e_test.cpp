// The EDID page through the panel's real serial transport and a real pseudo-terminal, with the
// emulator process at the other end keeping each input's EDID in a folder the test reads.
#include "tests/e2e/panel_e2e.h"

#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <fstream>
#include <functional>
#include <iterator>

#include "core/edid/edid_decode.h"
#include "panel/pages/edid_dlg.h"
#include "transport/qt_timers.h"
#include "tests/support/edid_builder.h"

namespace corvane::test {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes ReadAll(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

class EdidEndToEnd : public PanelEndToEnd {
protected:
    void SetUp() override
    {
        std::filesystem::create_directories(dir.path + "/edid");
        StartPanel({"--serial", "com230", "--edid-out", dir.path + "/edid", "--quiet"}, timers);
        PressConnect("COM230");
        ASSERT_TRUE(WaitFor([&] { return dlg->Link().Log().RxFrames() >= 1; }));  // DVI status
        ASSERT_TRUE(dlg->Link().bReady);

        const unsigned before = dlg->Link().Log().RxFrames();
        dlg->PressTab(1011);
        page = dlg->findChild<CEDIDDlg*>();
        ASSERT_NE(page, nullptr);
        ASSERT_TRUE(WaitFor([&] { return dlg->Link().bReady && dlg->Link().Log().RxFrames() >= before + 4; }));
        page->SetFileChooser([this] { return std::optional<std::string>(chosen); });
    }
    void Press(int id) { qobject_cast<QAbstractButton*>(page->Control(id))->click(); }
    // A "Set" of the page, to the end of its busy indicator and of the reading of the inputs it
    // changed that follows.
    void Set(int button)
    {
        Press(button);
        ASSERT_TRUE(WaitFor([&] { return op.StatusFinished(); })) << (op.Messages().empty() ? "" : op.Messages()[0]);
        EXPECT_EQ(op.StatusText(), "Set successfully!");
        ASSERT_TRUE(WaitFor([&] { return !op.StatusOpen() && dlg->Link().bReady; }));
        EXPECT_TRUE(op.Messages().empty());
    }
    std::vector<std::string> ReadNames()
    {
        const unsigned before = dlg->Link().Log().RxFrames();
        Press(1113);
        EXPECT_TRUE(WaitFor([&] { return dlg->Link().bReady && dlg->Link().Log().RxFrames() >= before + 4; }));
        std::vector<std::string> names;
        for (int n = 1; n <= 4; ++n)
            names.push_back(page->InputEdid(n)->text().toStdString());
        return names;
    }
    Bytes Held(int input) const { return ReadAll(dir.path + "/edid/in" + std::to_string(input) + ".bin"); }
    std::string Write(const std::string& name, const Bytes& content) const
    {
        const std::string path = dir.path + "/" + name;
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(content.data()),
                                                    static_cast<std::streamsize>(content.size()));
        return path;
    }

    CQtTimers timers;
    CEDIDDlg* page = nullptr;
    std::string chosen;
};

TEST_F(EdidEndToEnd, PresetsAndCopiesReadBackWithStatus)
{
    EXPECT_EQ(ReadNames(), std::vector<std::string>(4, "Default EDID"));

    page->List(EdidList::Preset)->setCurrentIndex(4);
    page->List(EdidList::PresetTarget)->setCurrentIndex(4);  // All Input
    Set(1084);
    page->List(EdidList::Preset)->setCurrentIndex(9);
    page->List(EdidList::PresetTarget)->setCurrentIndex(2);
    Set(1084);
    page->List(EdidList::CopySource)->setCurrentIndex(1);  // HDMI OUTB
    page->List(EdidList::CopyTarget)->setCurrentIndex(3);
    Set(1089);
    EXPECT_EQ(ReadNames(), (std::vector<std::string>{"1080p,Dolby/DTS 5.1", "1080p,Dolby/DTS 5.1",
                                                      "4K2K,Stereo Audio 2.0", "Default EDID"}));
    // The copy is the display's own EDID, as the emulator holds it.
    EXPECT_EQ(DecodeEdid(Held(4)).displayName, "DISPLAY B");

    page->List(EdidList::Preset)->setCurrentIndex(15);  // Default EDID to all
    page->List(EdidList::PresetTarget)->setCurrentIndex(4);
    Set(1084);
    EXPECT_EQ(ReadNames(), std::vector<std::string>(4, "Default EDID"));
    EXPECT_TRUE(op.Messages().empty());
}

TEST_F(EdidEndToEnd, TheEmulatorHoldsExactlyTheFilesBytes)
{
    const EdidImage two = BuildEdid();
    const Bytes twoBlocks(two.begin(), two.end());
    EdidFields plain;
    plain.name = "LOBBY";
    plain.cta = false;
    const EdidImage one = BuildEdid(plain);
    Bytes oneBlock(one.begin(), one.begin() + 128);
    oneBlock[126] = 1;  // announces an extension the file lacks: 128 zero bytes are sent
    oneBlock[127] -= 1;
    Bytes padded = oneBlock;
    padded.resize(256, 0);
    const Bytes before1 = Held(1);
    ASSERT_EQ(before1.size(), 256u);

    chosen = Write("office.BIN", twoBlocks);
    Press(1104);
    ASSERT_EQ(page->FileEdit()->text().toStdString(), chosen);
    EXPECT_TRUE(page->FileEdit()->toolTip().contains(QStringLiteral("Display: OFFICE 27")));
    page->List(EdidList::FileTarget)->setCurrentIndex(1);
    Set(1092);
    EXPECT_EQ(Held(2), twoBlocks);
    EXPECT_EQ(Held(1), before1) << "only the input chosen";

    chosen = Write("lobby.bin", oneBlock);
    Press(1104);
    ASSERT_EQ(page->FileEdit()->text().toStdString(), chosen);
    EXPECT_TRUE(page->FileEdit()->toolTip().contains(QStringLiteral("Display: LOBBY")));
    page->List(EdidList::FileTarget)->setCurrentIndex(4);  // All Input
    Set(1092);
    for (int n = 1; n <= 4; ++n)
        EXPECT_EQ(Held(n), padded) << n;
    EXPECT_TRUE(op.Messages().empty());
}

}  // namespace
}  // namespace corvane::test
