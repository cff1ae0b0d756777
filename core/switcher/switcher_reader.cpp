#include "core/switcher/switcher_reader.h"

namespace corvane {

namespace {
constexpr int kLastEdidIndex = 0x12;  // 0..14 presets, 15 default, 16/17 output A/B, 18 a file
}  // namespace

void SGeneralView::WriteDeviceInfo(const SSignalLine& line)
{
    if (line.output && line.number >= 1 && line.number <= 2)
        state.outputs[line.number - 1] = line;
    else if (!line.output && line.number >= 1 && line.number <= 4)
        state.inputs[line.number - 1] = line;
}

int SEdidView::Selection(EdidList list) const
{
    switch (list) {
    case EdidList::Preset: return preset;
    case EdidList::PresetTarget: return presetTarget;
    case EdidList::CopySource: return copySource;
    case EdidList::CopyTarget: return copyTarget;
    case EdidList::FileTarget: return fileTarget;
    }
    return -1;
}

CSwitcherReader::CSwitcherReader(CLinkSession& session)
    : general(session.Link(), generalView), matrix(session.Link(), matrixView), edid(session.Link(), edidView),
      firmware(session.Link(), firmwareView), m_session(session)
{
    session.SetPageHandler(PAGE_GENERAL, [this](const Frame& f) { general.OnGeneralReply(f); });
    session.SetPageHandler(PAGE_MATRIX, [this](const Frame& f) {
        if (f[2] == GROUP_ROUTE && f[3] == ROUTE_QUERY && f[4] >= 1 && f[4] <= 2)
            routeAnswers[f[4] - 1] = f[6];
        matrix.OnRoutingReply(f);
    });
    session.SetPageHandler(PAGE_EDID, [this](const Frame& f) {
        if (f[2] == 0x01 && f[3] == STATUS_DVI_EDID && f[4] >= 1 && f[4] <= 4)
            edidAnswers[f[4] - 1] = f[6];
        edid.OnEdidReply(f);
    });
    session.SetPageHandler(PAGE_FIRMWARE, [this](const Frame& f) { firmware.OnFirmwareReply(f); });
}

CSwitcherReader::~CSwitcherReader()
{
    for (uint8_t page : {PAGE_GENERAL, PAGE_MATRIX, PAGE_EDID, PAGE_FIRMWARE})
        m_session.SetPageHandler(page, nullptr);
}

bool CSwitcherReader::QuerySettings(bool withSignals)
{
    state.beep.reset();
    state.dvi.reset();
    m_session.Link().SetCurrentPage(PAGE_GENERAL);
    if (!m_session.Query(DviStatusQuery(), [&] { return state.dvi.has_value(); }) ||
        !m_session.Query(BeepStatusQuery(), [&] { return state.beep.has_value(); }))
        return false;
    if (withSignals) {
        general.OnStatus();
        if (m_session.Failed() || !m_session.RunUntil([&] { return m_session.Link().bReady; }))
            return false;
    }
    return QueryRoutes() && QueryEdidNames();
}

bool CSwitcherReader::QueryRoutes()
{
    CLinkCore& link = m_session.Link();
    link.SetCurrentPage(PAGE_MATRIX);
    state.routes = {0, 0};
    routeAnswers = {-1, -1};
    if (!link.SendOpeningQuery(PAGE_MATRIX) || !m_session.RunUntil([&] { return m_session.Link().bReady; }))
        return false;
    // A value outside the switcher's range is an error, never a route.
    for (int o = 1; o <= 2; ++o)
        if (state.routes[o - 1] == 0) {
            m_session.Fail(routeAnswers[o - 1] < 0
                               ? "the switcher did not report the route of output " + std::to_string(o)
                               : "the switcher reported input " + std::to_string(routeAnswers[o - 1]) +
                                     " for output " + std::to_string(o) + ", outside 1 to 4");
            return false;
        }
    return true;
}

bool CSwitcherReader::QueryEdidNames()
{
    m_session.Link().SetCurrentPage(PAGE_EDID);
    state.edids = {};
    edidAnswers = {-1, -1, -1, -1};
    if (!m_session.Link().bReady)
        return false;
    edid.OnStatus();
    if (m_session.Failed() || !m_session.RunUntil([&] { return m_session.Link().bReady; }))
        return false;
    // The EDIDs a switcher can report: the presets, the default, a display's copy, a file.
    for (int i = 1; i <= 4; ++i)
        if (edidAnswers[i - 1] > kLastEdidIndex) {
            m_session.Fail("the switcher reported EDID number " + std::to_string(edidAnswers[i - 1]) + " for input " +
                           std::to_string(i) + ", outside 0 to " + std::to_string(kLastEdidIndex));
            return false;
        }
    return true;
}

bool CSwitcherReader::SetRoute(int output, int input)
{
    m_session.Settle();  // what the change shows must be its own answer
    m_session.Link().SetCurrentPage(PAGE_MATRIX);
    matrix.OnInputButton(output, input);
    return !m_session.Failed() && m_session.RunUntil([this] { return m_session.Link().bReady; });
}

bool CSwitcherReader::ConfirmRoute(int output, int input)
{
    m_notDone.clear();
    if (!QueryRoutes())
        return false;
    const int shown = state.routes.at(output - 1);
    if (shown == input)
        return true;
    m_notDone = "the switcher shows IN " + std::to_string(shown) + " on output " + std::to_string(output);
    return false;
}

bool CSwitcherReader::ConfirmSwitch(bool beep, bool on)
{
    m_notDone.clear();
    std::optional<bool>& shown = beep ? state.beep : state.dvi;
    shown.reset();
    m_session.Link().SetCurrentPage(PAGE_GENERAL);
    if (!m_session.Query(beep ? BeepStatusQuery() : DviStatusQuery(), [&] { return shown.has_value(); }))
        return false;
    if (*shown == on)
        return true;
    m_notDone = std::string("the switcher reports ") + (beep ? "beep " : "DVI compatibility ") + (*shown ? "on" : "off");
    return false;
}

bool CSwitcherReader::ConfirmEdidPreset(int input, const std::string& expected)
{
    m_notDone.clear();
    if (!m_session.RunUntil([this] { return !edid.ReadBackPending() && m_session.Link().bReady; }))
        return false;
    for (int i = 1; i <= 4; ++i)
        if ((input == kEveryInput || input == i) && !state.edids[i - 1]) {
            if (!QueryEdidNames())
                return false;
            break;
        }
    for (int i = 1; i <= 4; ++i)
        if ((input == kEveryInput || input == i) && *state.edids[i - 1] != expected) {
            m_notDone = "the switcher reports \"" + *state.edids[i - 1] + "\" on IN" + std::to_string(i);
            return false;
        }
    return true;
}

bool CSwitcherReader::SetSwitch(bool beep, bool on)
{
    m_session.Settle();
    std::optional<bool>& shown = beep ? state.beep : state.dvi;
    shown.reset();
    m_session.Link().SetCurrentPage(PAGE_GENERAL);
    if (beep)
        general.OnBeep(on);
    else
        general.OnDvi(on);
    return !m_session.Failed() && m_session.AwaitSet([&] { return shown.has_value(); });
}

int CSwitcherReader::EdidTarget(int input)
{
    m_session.Settle();  // what the change shows must be its own answer
    m_session.Link().SetCurrentPage(PAGE_EDID);
    for (int i = 1; i <= 4; ++i)
        if (input == kEveryInput || input == i)
            state.edids[i - 1].reset();
    return input == kEveryInput ? 4 : input - 1;
}

bool CSwitcherReader::AwaitEdidSet()
{
    return !m_session.Failed() && m_session.RunUntil([this] { return m_session.Link().bReady; });
}

bool CSwitcherReader::SetEdidPreset(int input, int preset)
{
    edidView.presetTarget = EdidTarget(input);
    edidView.preset = preset;
    edid.OnSetPreset();
    return AwaitEdidSet();
}

bool CSwitcherReader::SetEdidCopy(int input, int output)
{
    edidView.copyTarget = EdidTarget(input);
    edidView.copySource = output - 1;
    edid.OnSetCopy();
    return AwaitEdidSet();
}

bool CSwitcherReader::SetEdidFile(int input, const std::string& name, std::span<const uint8_t> data)
{
    const int target = EdidTarget(input);
    edidView.fileTarget = target;
    edid.SetLog([this](const std::string& line) { m_session.Fail(line); });
    m_session.SetTimeoutSubject([this, target] { return EdidStepText(m_session.Link().CommandFrame, target); });
    if (!edid.TakeContent(name, data))
        return false;
    edid.OnSetFile();
    return AwaitEdidSet();
}

bool CSwitcherReader::QueryDevice()
{
    m_session.Link().SetCurrentPage(PAGE_FIRMWARE);
    state.device.reset();
    firmware.SetDeviceGuard(true);
    firmware.QueryDevice();
    return !m_session.Failed() && m_session.RunUntil([&] { return state.device.has_value(); });
}

}  // namespace corvane
