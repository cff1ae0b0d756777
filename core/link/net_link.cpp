#include "core/link/net_link.h"

#include <algorithm>
#include <cstdio>

#include "core/link/queries.h"
#include "platform/notices.h"

namespace corvane {

CNetLink::CNetLink(CLinkCore& link, ITcpControl& tcp, IDatagramSocket& udp, INetView& view, SNetPorts ports)
    : m_link(link), m_tcp(tcp), m_udp(udp), m_view(view), m_ports(ports),
      m_warn([](const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); }),
      m_timers(link.TimerService(), [this](unsigned id) { OnTimer(id); })
{
    m_tcp.onRead = [this](std::span<const uint8_t> bytes) { m_link.OnTcpRead(bytes); };
    m_tcp.onConnected = [this](bool ok) {
        if (!ok)
            return;  // back to idle: the button never left "Connect"
        m_link.bTcpConnected = true;
        m_view.SetTcpButtonText("Disconnect");
        if (!m_view.TcpConnected())
            m_link.SendQuery(BeepStatusQuery());  // its reply sets the check box
    };
    m_tcp.onClosed = [this] {
        if (!m_link.bTcpConnected)
            return;
        CloseTcp();
        if (m_warn)
            m_warn("corvane: the switcher closed the TCP control link");
        m_link.Notices().ShowMessage(kLinkLostText);
    };
}

CNetLink::~CNetLink()
{
    ReportDropped();
    m_tcp.onRead = nullptr;
    m_tcp.onConnected = nullptr;
    m_tcp.onClosed = nullptr;
    m_udp.onDatagram = nullptr;
}

// ---- TCP control link ------------------------------------------------------------------------

void CNetLink::OnTcpConnectButton(std::u16string_view listText)
{
    if (m_link.bTcpConnected) {
        CloseTcp();
        return;
    }
    m_tcp.Close();
    m_link.bTcpConnected = false;
    // No address (an empty list): the connect fails at once, which shows nothing.
    if (const auto address = ParseIpv4(listText))
        m_tcp.Connect(*address, m_ports.control);
}

void CNetLink::CloseTcp()
{
    m_tcp.Close();
    m_link.bTcpConnected = false;
    m_view.SetTcpButtonText("Connect");
    m_view.TcpClosed();
}

// ---- Search ----------------------------------------------------------------------------------

void CNetLink::StartSearch()
{
    ReportDropped();
    m_view.ClearSwitchers();
    FoundSwitchers.Clear();
    m_reportedDropped = 0;
    // A search always drops the control link.
    CloseTcp();

    m_udp.Close();
    m_udp.onDatagram = [this](std::span<const uint8_t> d) { OnSearchDatagram(d); };
    if (!m_udp.Bind(m_ports.searchLocal))
        return;
    const uint8_t request = kSearchRequestByte;
    m_udp.Broadcast(std::span<const uint8_t>(&request, 1), m_ports.searchRemote);
}

void CNetLink::OnSearchDatagram(std::span<const uint8_t> d)
{
    d = d.first(std::min(d.size(), kDatagramMax));
    SearchReply.fill(0);
    if (d.empty())
        return;
    std::copy(d.begin(), d.end(), SearchReply.begin());
    m_link.Log().LogRxRaw(d);

    const auto answer = ParseSearchReply(d);
    if (!answer)
        return;
    // Beyond the list's 256 entries an answer is ignored whole; one line reports how many.
    if (answer->listed && FoundSwitchers.Size() >= kMaxSwitchers) {
        FoundSwitchers.Add(answer->ipText, answer->macText);
        m_timers.SetTimer(TIMER_SEARCH_OVERFLOW, kOverflowQuietMs);
        return;
    }
    SwitcherIp = answer->ip;
    SwitcherMac = answer->mac;
    SwitcherMacText = answer->macText;
    if (!answer->listed)
        return;  // current, but not listed

    const auto pos = FoundSwitchers.Add(answer->ipText, answer->macText);
    m_view.InsertSwitcher(*pos, answer->ipText);
    m_view.SelectSwitcher(0);

    // A configuration is confirmed by the configured switcher answering under its new MAC,
    // not by any switcher that happens to answer the search.
    const bool configured = std::equal(d.begin(), d.begin() + 6, m_request.begin() + 19);
    if (m_configState == ConfigState::Waiting && configured) {
        m_timers.KillTimer(TIMER_CONFIG_TIMEOUT);
        m_timers.SetTimer(TIMER_CONFIG_CONFIRM, kConfirmMs);
        m_configState = ConfigState::Confirming;
    } else if (m_configState == ConfigState::Confirming && configured) {
        m_timers.SetTimer(TIMER_CONFIG_CONFIRM, kConfirmMs);  // a later answer restarts it
    }
}

void CNetLink::OnSwitcherSelected(std::size_t index)
{
    if (index >= FoundSwitchers.Size())
        return;
    const FoundSwitcher& s = FoundSwitchers.At(index);
    SwitcherIp = SplitAddress(s.ip);
    SwitcherMac = SplitMac(s.mac);
    SwitcherMacText = s.mac;
}

void CNetLink::ReportDropped()
{
    m_timers.KillTimer(TIMER_SEARCH_OVERFLOW);
    const std::size_t dropped = FoundSwitchers.Dropped();
    if (dropped <= m_reportedDropped)
        return;
    const std::size_t now = dropped - m_reportedDropped;
    m_reportedDropped = dropped;
    if (m_warn)
        m_warn("corvane: search: " + std::to_string(now) + " more switcher answer" + (now == 1 ? "" : "s") +
               " than the list's " + std::to_string(kMaxSwitchers) + " entries; dropped");
}

// ---- Network configuration -------------------------------------------------------------------

bool CNetLink::SendConfiguration(const MacFields& target)
{
    const auto request = BuildConfigRequest(nIpMode, SwitcherIp, target, NewMac);
    if (!request)
        return false;
    m_request = *request;
    SendConfigRequest(*request);
    m_configState = ConfigState::Waiting;
    m_timers.SetTimer(TIMER_CONFIG_TIMEOUT, kConfigTimeoutMs);
    m_link.Notices().OpenStatus("Configuring");  // modal in the program: nothing may follow it here
    return true;
}

void CNetLink::SendConfigRequest(const ConfigRequest& request)
{
    m_udp.Close();
    m_udp.onDatagram = [this](std::span<const uint8_t> d) { OnConfigDatagram(d); };
    if (!m_udp.Bind(m_ports.configLocal))
        return;  // the time-out reports it
    m_udp.Broadcast(request, m_ports.configRemote);
}

void CNetLink::OnConfigDatagram(std::span<const uint8_t> d)
{
    d = d.first(std::min(d.size(), kDatagramMax));
    if (m_configState != ConfigState::Waiting || d.size() < kConfigRequestSize)
        return;
    // Linux hands our own limited broadcast back to the socket that sent it.
    if (std::equal(d.begin(), d.end(), m_request.begin(), m_request.end()))
        return;
    // The switcher asked names itself by the MAC it had or by the one it has taken.
    if (!std::equal(d.begin(), d.begin() + 6, m_request.begin()) &&
        !std::equal(d.begin(), d.begin() + 6, m_request.begin() + 19))
        return;
    if (ConfigReplyAccepted(d))
        StartSearch();
    else
        Outcome(ConfigOutcome::Refused);
}

void CNetLink::Outcome(ConfigOutcome outcome)
{
    if (m_outcome)
        m_outcome(outcome);
}

void CNetLink::OnTimer(unsigned id)
{
    switch (id) {
    case TIMER_CONFIG_CONFIRM:
        m_timers.KillTimer(id);
        // After a plain search there is nothing to confirm, and a busy indicator open for
        // something else must not be finished or closed by it.
        if (m_configState != ConfigState::Confirming)
            return;
        m_link.Notices().FinishStatus("Configure successfully!");
        m_timers.SetTimer(TIMER_CONFIG_CLOSE, kConfirmMs);
        Outcome(ConfigOutcome::Confirmed);
        break;
    case TIMER_CONFIG_CLOSE:
        m_timers.KillTimer(id);
        m_configState = ConfigState::Idle;
        m_link.Notices().CloseStatus();
        break;
    case TIMER_CONFIG_TIMEOUT:
        m_timers.KillTimer(id);
        m_configState = ConfigState::Idle;
        m_link.Notices().CloseStatus();
        Outcome(ConfigOutcome::TimedOut);
        m_link.Notices().ShowTimeOut([this] { m_link.bReady = true; });
        break;
    case TIMER_SEARCH_OVERFLOW:
        ReportDropped();
        break;
    default:
        break;
    }
}

}  // namespace corvane
