// A session with every page of the panel on text views: what each page showed is collected
// here for the commands to print.
#pragma once

#include <array>
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "cli/scene.h"
#include "cli/session.h"
#include "pages/edid_page.h"
#include "pages/firmware_page.h"
#include "pages/general_page.h"
#include "pages/matrix_page.h"

namespace corvane::cli {

struct SGeneralView final : IGeneralView {
    std::array<std::optional<SSignalLine>, 4> inputs;
    std::array<std::optional<SSignalLine>, 2> outputs;
    std::optional<bool> beep, dvi;
    void ClearDeviceInfo() override
    {
        inputs = {};
        outputs = {};
    }
    void WriteDeviceInfo(const SSignalLine& line) override
    {
        if (line.output && line.number >= 1 && line.number <= 2)
            outputs[line.number - 1] = line;
        else if (!line.output && line.number >= 1 && line.number <= 4)
            inputs[line.number - 1] = line;
    }
    void ShowBeep(bool on) override { beep = on; }
    void ShowDvi(bool on) override { dvi = on; }
};

struct SMatrixView final : IMatrixView {
    std::array<int, 2> reported{0, 0};  // 0: not reported
    void CheckInput(int, int) override {}
    void ShowDigit(int output, int input) override { reported.at(output - 1) = input; }
};

// The EDID page's drop-down lists hold what the command line chose.
struct SEdidView final : IEdidView {
    int preset = -1, presetTarget = -1, copySource = -1, copyTarget = -1, fileTarget = -1;
    std::array<std::optional<std::string>, 4> names;
    std::vector<std::string> summary;
    int Selection(EdidList list) const override;
    void ShowInputEdid(int input, const std::string& name) override
    {
        if (input >= 1 && input <= 4)
            names[input - 1] = name;
    }
    void ShowFile(const std::string&, const std::vector<std::string>& lines) override { summary = lines; }
    std::optional<std::string> ChooseFile() override { return std::nullopt; }
};

// {"line":...,"type":...,"size":...,"version":...,"build":...}
void PrintDeviceJson(std::ostream& out, const SDeviceInfo& device);

struct SFirmwareView final : IFirmwareView {
    std::optional<SDeviceInfo> device;
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
    void ShowDeviceInfo(const SDeviceInfo& info) override { device = info; }
    void ClearDeviceInfo() override { device.reset(); }
};

struct SLinkRun {
    SLinkRun(std::ostream& err, const SConnection& c);

    // The switcher's settings and, with withSignals, its status sequence: the DVI and beep queries a
    // link sends when it opens, the General page's status, the routes, the input EDIDs. Every
    // view is emptied first, so a repeated reading shows only what the switcher answered.
    bool QuerySettings(bool withSignals);
    // What QuerySettings read, as a scene compares it.
    SSwitcherSettings Settings() const;

    // The route queries of the opening Matrix page: output 1, then output 2, 7 s in all.
    bool QueryRoutes();
    // The EDID page's Status: input 1 to 4, each query repeated once after 3 s.
    bool QueryEdidNames();
    // The device information the FW Upgrade page asks for when it opens, each query of the
    // chain guarded by a resend and a time-out.
    bool QueryDevice();

    // The values the switcher last answered the route and EDID queries with, as sent (-1: none),
    // so that a value outside the range is named instead of shown as no answer.
    std::array<int, 2> routeAnswers{-1, -1};
    std::array<int, 4> edidAnswers{-1, -1, -1, -1};

    CSession session;
    SGeneralView generalView;
    CGeneralPage general;
    SMatrixView matrixView;
    CMatrixPage matrix;
    SEdidView edidView;
    CEdidPage edid;
    SFirmwareView firmwareView;
    CFirmwarePage firmware;
};

}  // namespace corvane::cli
