#include "cli/link_run.h"

#include "cli/command_line.h"
#include "core/link/link_state.h"

namespace corvane::cli {

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

void PrintDeviceJson(std::ostream& out, const SDeviceInfo& d)
{
    out << "{\"line\":" << JsonString(d.Line()) << ",\"type\":" << JsonString(d.TypeName()) << ",\"size\":"
        << JsonString(d.Size()) << ",\"version\":" << JsonString(d.Version()) << ",\"build\":" << JsonString(d.build)
        << "}";
}

SLinkRun::SLinkRun(std::ostream& err, const SConnection& c)
    : session(err, c), general(session.Link(), generalView), matrix(session.Link(), matrixView),
      edid(session.Link(), edidView), firmware(session.Link(), firmwareView)
{
    session.SetPageHandler(PAGE_GENERAL, [this](const Frame& f) { general.OnGeneralReply(f); });
    session.SetPageHandler(PAGE_MATRIX, [this](const Frame& f) { matrix.OnRoutingReply(f); });
    session.SetPageHandler(PAGE_EDID, [this](const Frame& f) { edid.OnEdidReply(f); });
    session.SetPageHandler(PAGE_FIRMWARE, [this](const Frame& f) { firmware.OnFirmwareReply(f); });
}

bool SLinkRun::QuerySettings(bool withSignals)
{
    SGeneralView& v = generalView;
    v.beep.reset();
    v.dvi.reset();
    session.Link().SetCurrentPage(PAGE_GENERAL);
    if (!session.Query(DviStatusQuery(), [&] { return v.dvi.has_value(); }) ||
        !session.Query(BeepStatusQuery(), [&] { return v.beep.has_value(); }))
        return false;
    if (withSignals) {
        general.OnStatus();
        if (session.Failed() || !session.RunUntil([&] { return g_bReady; }))
            return false;
    }
    return QueryRoutes() && QueryEdidNames();
}

SSwitcherSettings SLinkRun::Settings() const
{
    SSwitcherSettings s;
    s.routes = matrixView.reported;
    s.beep = generalView.beep.value_or(false);
    s.dvi = generalView.dvi.value_or(false);
    for (int i = 0; i < 4; ++i)
        s.edids[i] = edidView.names[i].value_or("");
    return s;
}

bool SLinkRun::QueryRoutes()
{
    CLinkCore& link = session.Link();
    link.SetCurrentPage(PAGE_MATRIX);
    matrixView.reported = {0, 0};
    if (!link.SendOpeningQuery(PAGE_MATRIX))
        return false;
    return session.RunUntil([&] { return g_bReady; });
}

bool SLinkRun::QueryEdidNames()
{
    session.Link().SetCurrentPage(PAGE_EDID);
    edidView.names = {};
    if (!g_bReady)
        return false;
    edid.OnStatus();
    return !session.Failed() && session.RunUntil([&] { return g_bReady; });
}

bool SLinkRun::QueryDevice()
{
    session.Link().SetCurrentPage(PAGE_FIRMWARE);
    firmwareView.device.reset();
    firmware.SetDeviceGuard(true);
    firmware.QueryDevice();
    return !session.Failed() && session.RunUntil([&] { return firmwareView.device.has_value(); });
}

}  // namespace corvane::cli
