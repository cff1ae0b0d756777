#include "cli/link_run.h"

#include "cli/command_line.h"
#include "link/link_state.h"

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

std::optional<SDeviceLine> SplitDeviceLine(const std::string& line)
{
    static const std::string lead = "Device: ", mark = "     Version:";
    const auto at = line.find(mark);
    if (line.rfind(lead, 0) != 0 || at == std::string::npos)
        return std::nullopt;
    SDeviceLine d;
    d.line = line;
    const std::string head = line.substr(lead.size(), at - lead.size());
    const auto space = head.rfind(' ');
    if (space == std::string::npos)
        return std::nullopt;
    d.type = head.substr(0, space);
    d.size = head.substr(space + 1);
    const std::string tail = line.substr(at + mark.size());
    const auto dash = tail.find('-');
    if (dash == std::string::npos)
        return std::nullopt;
    d.version = tail.substr(0, dash);
    d.build = tail.substr(dash + 1);
    return d;
}

void PrintDeviceJson(std::ostream& out, const std::optional<SDeviceLine>& device, const std::string& line)
{
    const SDeviceLine d = device.value_or(SDeviceLine{line, "", "", "", ""});
    out << "{\"line\":" << JsonString(d.line) << ",\"type\":" << JsonString(d.type) << ",\"size\":"
        << JsonString(d.size) << ",\"version\":" << JsonString(d.version) << ",\"build\":" << JsonString(d.build)
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
    firmwareView.deviceLine.reset();
    return session.Query({0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xCC},
                         [&] { return firmwareView.deviceLine.has_value(); });
}

}  // namespace corvane::cli
