#include "cli/link_run.h"

#include "cli/command_line.h"
#include "link/link_state.h"

namespace corvane::cli {

namespace {
constexpr int kLastEdidIndex = 0x12;  // 0..14 presets, 15 default, 16/17 output A/B, 18 a file
}  // namespace

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
    routeAnswers = {-1, -1};
    if (!link.SendOpeningQuery(PAGE_MATRIX) || !session.RunUntil([&] { return g_bReady; }))
        return false;
    // A value outside the switcher's range is an error, never a route.
    for (int o = 1; o <= 2; ++o)
        if (matrixView.reported[o - 1] == 0) {
            session.Fail(routeAnswers[o - 1] < 0
                             ? "the switcher did not report the route of output " + std::to_string(o)
                             : "the switcher reported input " + std::to_string(routeAnswers[o - 1]) + " for output " +
                                   std::to_string(o) + ", outside 1 to 4");
            return false;
        }
    return true;
}

bool SLinkRun::QueryEdidNames()
{
    session.Link().SetCurrentPage(PAGE_EDID);
    edidView.names = {};
    edidAnswers = {-1, -1, -1, -1};
    if (!g_bReady)
        return false;
    edid.OnStatus();
    if (session.Failed() || !session.RunUntil([&] { return g_bReady; }))
        return false;
    // The EDIDs a switcher can report: the presets, the default, a display's copy, a file.
    for (int i = 1; i <= 4; ++i)
        if (edidAnswers[i - 1] > kLastEdidIndex) {
            session.Fail("the switcher reported EDID number " + std::to_string(edidAnswers[i - 1]) + " for input " +
                         std::to_string(i) + ", outside 0 to " + std::to_string(kLastEdidIndex));
            return false;
        }
    return true;
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
