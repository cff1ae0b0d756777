#include "core/session/link_session.h"

#include "core/link/link_state.h"
#include "core/link/queries.h"

namespace corvane {

namespace {
enum : unsigned { TIMER_SET_TIMEOUT = 3 };
}  // namespace

CLinkSession::CLinkSession(ILogPane& tx, ILogPane& rx) : m_link(tx, rx)
{
    m_waits = std::make_unique<CTimerOwner>([this](unsigned id) { OnTimer(id); });
    m_query = std::make_unique<CRetryStep>([this] { m_link.SendFrame(kFrameSize, g_CommandFrame.data()); },
                                           [this] {
                                               m_link.NoteTimedOut();
                                               ShowMessage("Time out!", {});
                                           });
    for (uint8_t page : {PAGE_GENERAL, PAGE_EDID, PAGE_MATRIX, PAGE_FIRMWARE})
        m_link.SetPageHandler(page, [this, page](const Frame& f) { OnReply(page, f); });
    m_link.SetMaySend([this](std::span<const uint8_t> out) { return m_stopGuard.MaySend(out, Stopped()); });
}

CLinkSession::~CLinkSession()
{
    m_query.reset();
    m_waits.reset();
}

void CLinkSession::AttachSerial(ITransport* serial)
{
    m_link.SetTransports(serial, nullptr);
    m_link.ResetLate();
    g_nControlMode = MODE_COM;
    g_bComOpen = true;
    m_lost = false;
}

void CLinkSession::AttachTcp(ITransport* tcp)
{
    m_link.SetTransports(nullptr, tcp);
    m_link.ResetLate();
    g_nControlMode = MODE_TCP;
    g_bTcpConnected = true;
    m_lost = false;
}

void CLinkSession::Detach()
{
    m_link.SetTransports(nullptr, nullptr);
    g_bComOpen = false;
    g_bTcpConnected = false;
}

void CLinkSession::OnLinkLost(const std::string& why)
{
    if (m_lost)
        return;
    m_lost = true;
    m_lostWhy = why;
    m_query->Stop();
    m_waits->KillTimer(TIMER_SET_TIMEOUT);
    Detach();
}

void CLinkSession::SetPump(std::function<void()> pump)
{
    m_pump = std::move(pump);
    // The gate waits out a settling line instead of refusing.
    m_link.SetSettleHook(m_pump ? std::function<void()>([this] { Settle(); }) : nullptr);
}

void CLinkSession::Fail(const std::string& what)
{
    if (m_failed || Stopped())  // what a stop cut short is no failure of the switcher
        return;
    m_failed = true;
    std::string line = what;
    const std::string done = m_doneSoFar ? m_doneSoFar() : "";
    if (!done.empty())
        line += "; " + done;
    if (m_report)
        m_report(line);
}

void CLinkSession::OnReply(uint8_t page, const Frame& r)
{
    // No page accepts a refusal; waiting out the page's timer would only delay the same
    // failure. The frame itself is on the trace.
    if (m_failOnRefusal && IsRefusal(r, g_CommandFrame)) {
        Fail("the switcher refused " + (m_timeoutSubject ? m_timeoutSubject() : CommandText(g_CommandFrame)));
        return;
    }
    auto it = m_handlers.find(page);
    if (it != m_handlers.end() && it->second) {
        auto handler = it->second;
        handler(r);
    }
}

bool CLinkSession::RunUntil(const std::function<bool()>& done)
{
    while (!done()) {
        if (m_failed || Stopped())
            return false;
        if (m_lost) {
            Fail("the link to the switcher was lost" + (m_lostWhy.empty() ? "" : ": " + m_lostWhy));
            return false;
        }
        if (!m_pump)
            return false;
        m_pump();
    }
    return !m_failed;
}

void CLinkSession::Settle()
{
    if (!m_pump)
        return;
    while (!m_lost && (Stopped() ? m_stopGuard.Settling(m_link) : m_link.Settling()))
        m_pump();
}

bool CLinkSession::Query(const Frame& query, const std::function<bool()>& answered)
{
    Settle();
    if (m_lost)
        return RunUntil([] { return false; });
    g_CommandFrame = query;
    m_link.SetExchangeOpen(true);
    m_link.SendFrame(kFrameSize, g_CommandFrame.data());
    m_query->Start();
    const bool ok = RunUntil(answered);
    m_query->Stop();
    m_link.SetExchangeOpen(false);
    return ok;
}

bool CLinkSession::AwaitSet(const std::function<bool()>& answered)
{
    m_link.SetExchangeOpen(true);
    m_waits->SetTimer(TIMER_SET_TIMEOUT, kPageTimeoutMs);
    const bool ok = RunUntil(answered);
    m_waits->KillTimer(TIMER_SET_TIMEOUT);
    m_link.SetExchangeOpen(false);
    return ok;
}

void CLinkSession::OnTimer(unsigned id)
{
    m_waits->KillTimer(id);
    m_link.NoteTimedOut();
    ShowMessage("Time out!", {});
}

void CLinkSession::ShowMessage(const std::string& text, std::function<void()> then)
{
    // A time-out names the exchange that went unanswered: the frame the link sent last.
    if (text == "Time out!")
        Fail("no answer to " + (m_timeoutSubject ? m_timeoutSubject() : CommandText(g_CommandFrame)) +
             " (Time out!)");
    else
        Fail(text);
    if (then)
        then();
}

void CLinkSession::AskMessage(const std::string&, std::function<void(int)> then)
{
    if (then)
        then(m_answer);
}

}  // namespace corvane
