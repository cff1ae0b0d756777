// The EDID page in the real main window, against the switcher model on the virtual clock; the
// file dialog replaced by a chooser the test fills, the page's log lines collected.
#pragma once

#include <QLineEdit>
#include <array>
#include <fstream>

#include "panel/pages/edid_dlg.h"
#include "tests/app/app_fixture.h"
#include "tests/support/edid_builder.h"

namespace corvane::test {

using Bytes = std::vector<uint8_t>;

// Bytes 2..10 of a 13-byte frame.
inline Bytes Body(const std::vector<uint8_t>& frame) { return Bytes(frame.begin() + 2, frame.begin() + 11); }
inline Bytes Body(std::initializer_list<uint8_t> bytes)
{
    Bytes b(bytes);
    b.resize(9, 0x00);
    return b;
}
inline Bytes StatusQuery(int input) { return Body({0x01, 0x0C, uint8_t(input)}); }
inline Bytes EdidBytesOf(const EdidFields& fields = {})
{
    const EdidImage e = BuildEdid(fields);
    return Bytes(e.begin(), e.end());
}
inline Bytes SetRequest(uint8_t mode) { return Body({0x03, 0x08, 0xF0, 0, 0, 0, 0, 0, mode}); }

class EdidFixture : public AppFixture {
protected:
    // Connects, gives the switcher's inputs these EDID indexes and opens the EDID tab; the
    // replies to the page-opening chain are delivered.
    void Open(std::array<uint8_t, 4> indexes = {15, 15, 15, 15})
    {
        Connect();
        SetIndexes(indexes);
        port->writes.clear();
        dlg->PressTab(1011);
        page = dlg->findChild<CEDIDDlg*>();
        ASSERT_NE(page, nullptr);
        page->SetFileChooser([this]() -> std::optional<std::string> {
            ++chooserCalls;
            return chosen;
        });
        page->Page().SetLog([this](const std::string& line) { logLines.push_back(line); });
        port->Run(0);
    }
    // The switcher's state changed behind the panel's back (its own front panel): presets
    // 0..14, 15 the default, 0x10/0x11 copied from output A/B.
    void SetIndexes(std::array<uint8_t, 4> indexes)
    {
        for (int n = 1; n <= 4; ++n) {
            const uint8_t index = indexes[n - 1];
            const auto in = static_cast<uint8_t>(n);
            auto command = [&](std::initializer_list<uint8_t> body) {
                ASSERT_TRUE(port->device.OnCommand(MakeFrame(body), nullptr, clock.Now()));
            };
            if (index < 15) {
                command({0x03, 0x08, 0xF0, 0, 0, 0, 0, 0, 0x00});
                command({0x03, 0x02, uint8_t(index + 1), 0xF0, in});
            } else if (index == 0x10 || index == 0x11) {
                command({0x03, 0x08, 0xF0, 0, 0, 0, 0, 0, 0xEE});
                command({0x03, 0x04, uint8_t(index - 0x0F), 0x00, in});
            } else if (port->device.EdidIndex(n) != 15) {
                command({0x03, 0x08, 0xF0, 0, 0, 0, 0, 0, 0x00});
                command({0x03, 0x09, 0xFE});
                SetIndexes(indexes);
                return;
            }
        }
    }
    std::array<uint8_t, 4> DeviceIndexes() const
    {
        return {port->device.EdidIndex(1), port->device.EdidIndex(2), port->device.EdidIndex(3),
                port->device.EdidIndex(4)};
    }
    // The command frames written, bytes 2..10 of each.
    std::vector<Bytes> Frames() const
    {
        std::vector<Bytes> out;
        for (const auto& w : port->writes)
            if (w.size() == kFrameSize)
                out.push_back(Body(w));
        return out;
    }
    std::vector<Bytes> Blocks() const
    {
        std::vector<Bytes> out;
        for (const auto& w : port->writes)
            if (w.size() == kBlockSize)
                out.push_back(w);
        return out;
    }
    std::vector<std::string> Shown() const
    {
        std::vector<std::string> out;
        for (int n = 1; n <= 4; ++n)
            out.push_back(page->InputEdid(n)->text().toStdString());
        return out;
    }
    void Select(EdidList list, int position) { page->List(list)->setCurrentIndex(position); }
    std::string WriteFile(const std::string& name, const Bytes& content)
    {
        const std::string path = (dir.path() + "/").toStdString() + name;
        std::ofstream(path, std::ios::binary | std::ios::trunc)
            .write(reinterpret_cast<const char*>(content.data()), static_cast<std::streamsize>(content.size()));
        return path;
    }
    // Chooses the file with "..." as the operator would.
    void OpenFile(const std::string& path)
    {
        chosen = path;
        Press(1104);
    }
    // A button of the page.
    void Press(int id) { qobject_cast<QAbstractButton*>(page->Control(id))->click(); }
    Bytes EdidBlockData() const { return Bytes(dlg->Link().EdidBlock.begin() + 1, dlg->Link().EdidBlock.end()); }

    CEDIDDlg* page = nullptr;
    std::optional<std::string> chosen;
    int chooserCalls = 0;
    std::vector<std::string> logLines;
};

}  // namespace corvane::test
