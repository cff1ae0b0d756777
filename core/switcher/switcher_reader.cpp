#include "core/switcher/switcher_reader.h"

#include "core/link/link_state.h"

namespace corvane {

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
    session.SetPageHandler(PAGE_MATRIX, [this](const Frame& f) { matrix.OnRoutingReply(f); });
    session.SetPageHandler(PAGE_EDID, [this](const Frame& f) { edid.OnEdidReply(f); });
    session.SetPageHandler(PAGE_FIRMWARE, [this](const Frame& f) { firmware.OnFirmwareReply(f); });
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
        if (m_session.Failed() || !m_session.RunUntil([&] { return g_bReady; }))
            return false;
    }
    return QueryRoutes() && QueryEdidNames();
}

bool CSwitcherReader::QueryRoutes()
{
    CLinkCore& link = m_session.Link();
    link.SetCurrentPage(PAGE_MATRIX);
    state.routes = {0, 0};
    if (!link.SendOpeningQuery(PAGE_MATRIX))
        return false;
    return m_session.RunUntil([&] { return g_bReady; });
}

bool CSwitcherReader::QueryEdidNames()
{
    m_session.Link().SetCurrentPage(PAGE_EDID);
    state.edids = {};
    if (!g_bReady)
        return false;
    edid.OnStatus();
    return !m_session.Failed() && m_session.RunUntil([&] { return g_bReady; });
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
