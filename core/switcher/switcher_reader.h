// The reader of a switcher's state: every page of the panel on a view that writes what the page
// showed into one SSwitcherState, and the readings a front end makes through them, on one link
// session. The blocking readings run on the session's pump (corvanectl, the MQTT bridge).
#pragma once

#include <array>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/pages/edid_page.h"
#include "core/pages/firmware_page.h"
#include "core/pages/general_page.h"
#include "core/pages/matrix_page.h"
#include "core/session/link_session.h"
#include "core/switcher/switcher_state.h"

namespace corvane {

struct SGeneralView final : IGeneralView {
    explicit SGeneralView(SSwitcherState& s) : state(s) {}
    SSwitcherState& state;
    void ClearDeviceInfo() override
    {
        state.inputs = {};
        state.outputs = {};
    }
    void WriteDeviceInfo(const SSignalLine& line) override;
    void ShowBeep(bool on) override { state.beep = on; }
    void ShowDvi(bool on) override { state.dvi = on; }
};

struct SMatrixView final : IMatrixView {
    explicit SMatrixView(SSwitcherState& s) : state(s) {}
    SSwitcherState& state;
    void CheckInput(int, int) override {}
    void ShowDigit(int output, int input) override { state.routes.at(output - 1) = input; }
};

// The EDID page's drop-down lists hold what the command line chose.
struct SEdidView final : IEdidView {
    explicit SEdidView(SSwitcherState& s) : state(s) {}
    SSwitcherState& state;
    int preset = -1, presetTarget = -1, copySource = -1, copyTarget = -1, fileTarget = -1;
    std::vector<std::string> summary;
    int Selection(EdidList list) const override;
    void ShowInputEdid(int input, const std::string& name) override
    {
        if (input >= 1 && input <= 4)
            state.edids[input - 1] = name;
    }
    void ShowFile(const std::string&, const std::vector<std::string>& lines) override { summary = lines; }
    std::optional<std::string> ChooseFile() override { return std::nullopt; }
};

struct SFirmwareView final : IFirmwareView {
    explicit SFirmwareView(SSwitcherState& s) : state(s) {}
    SSwitcherState& state;
    int maximum = 0;
    std::function<void(int)> onProgress;
    std::function<void(const std::string&)> onMessage;
    std::optional<std::string> ChooseFirmwareFile() override { return std::nullopt; }
    void ShowPath(const std::string&) override {}
    void SetProgressRange(int max) override { maximum = max; }
    void SetProgress(int value) override
    {
        if (onProgress)
            onProgress(value);
    }
    void ClearMessages() override {}
    void AppendMessage(const std::string& text) override
    {
        if (onMessage)
            onMessage(text);
    }
    void ShowFailed(bool) override {}
    void ShowDeviceInfo(const SDeviceInfo& info) override { state.device = info; }
    void ClearDeviceInfo() override { state.device.reset(); }
};

inline constexpr int kEveryInput = 0;

class CSwitcherReader {
public:
    explicit CSwitcherReader(CLinkSession& session);
    // The session may outlive the pages: its replies no longer reach them.
    virtual ~CSwitcherReader();
    CSwitcherReader(const CSwitcherReader&) = delete;
    CSwitcherReader& operator=(const CSwitcherReader&) = delete;

    // The switcher's settings and, with withSignals, its status sequence: the DVI and beep
    // queries a link sends when it opens, the General page's status, the routes, the input
    // EDIDs. What it reads is emptied first, so a repeated reading shows only what the switcher
    // answered.
    bool QuerySettings(bool withSignals);
    // The route queries of the opening Matrix page: output 1, then output 2, 7 s in all.
    bool QueryRoutes();
    // The EDID page's Status: input 1 to 4, each query repeated once after 3 s.
    bool QueryEdidNames();
    // The device information the FW Upgrade page asks for when it opens, each query of the
    // chain guarded by a resend and a time-out.
    bool QueryDevice();

    // The changes, each through the page that owns the setting, waiting for the switcher's
    // answer; false after the session said why. The state shows what the answer reported.
    bool SetRoute(int output, int input);
    // The beeper (beep) or DVI compatibility: true once the switcher answered, whatever it says.
    bool SetSwitch(bool beep, bool on);
    // An EDID to an input (1 to 4) or to every input (kEveryInput): a preset (0..14, the
    // built-in list), the EDID of a display on an output (1 or 2), a file's checked bytes (name
    // for messages).
    bool SetEdidPreset(int input, int preset);
    bool SetEdidCopy(int input, int output);
    bool SetEdidFile(int input, const std::string& name, std::span<const uint8_t> data);

    // A set is done only when a reading of what it set shows it, so that no answer, however
    // late (a previous program's on a serial line), can make a set look done that the switcher
    // did not do. Each reads the setting anew: false when the reading failed (the session said
    // why) or shows another value (NotDone() says what it shows; the link is fine).
    bool ConfirmRoute(int output, int input);
    bool ConfirmSwitch(bool beep, bool on);
    // After SetEdidPreset: the page's own reading of the inputs it set (answered, late or not,
    // or timed out), then the input list once more where it left a name unread; every input
    // set must report the name expected.
    bool ConfirmEdidPreset(int input, const std::string& expected);
    const std::string& NotDone() const { return m_notDone; }

    // What the readings and the pages have shown so far.
    const SSwitcherState& State() const { return state; }
    CLinkSession& Session() { return m_session; }

    // The values the switcher last answered the route and EDID queries with, as sent (-1: none),
    // so that a value outside the range is named instead of shown as no answer.
    std::array<int, 2> routeAnswers{-1, -1};
    std::array<int, 4> edidAnswers{-1, -1, -1, -1};

    SSwitcherState state;
    SGeneralView generalView{state};
    CGeneralPage general;
    SMatrixView matrixView{state};
    CMatrixPage matrix;
    SEdidView edidView{state};
    CEdidPage edid;
    SFirmwareView firmwareView{state};
    CFirmwarePage firmware;

private:
    // The EDID set as the page's lists hold it: the input's position, 4 for every input. The
    // inputs it changes are read anew.
    int EdidTarget(int input);
    bool AwaitEdidSet();

    CLinkSession& m_session;
    std::string m_notDone;
};

}  // namespace corvane
