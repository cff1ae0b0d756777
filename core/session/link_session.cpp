#include "core/session/link_session.h"

#include "core/link/queries.h"

namespace corvane {

namespace {
enum : unsigned { TIMER_SET_TIMEOUT = 3 };
}  // namespace

CLinkSession::CLinkSession(ITimerService& timers, ILogPane& tx, ILogPane& rx, INotices* notices)
    : m_link(timers, notices ? *notices : *this, tx, rx), m_stopGuard(timers)
{
    m_waits = std::make_unique<CTimerOwner>(timers, [this](unsigned id) { OnTimer(id); });
    m_query = std::make_unique<CRetryStep>(timers, [this] { m_link.SendFrame(kFrameSize, m_link.CommandFrame.data()); },
                                           [this] {
                                               m_link.NoteTimedOut();
                                               ShowTimeOut({});
                                           });
    for (uint8_t page : {PAGE_GENERAL, PAGE_EDID, PAGE_MATRIX, PAGE_FIRMWARE})
        m_link.SetPageHandler(page, [this, page](const Frame& f) { OnReply(page, f); });
    // A command that failed or was stopped starts nothing more: no chain goes on after its
    // "Time out!", whatever late answer comes.
    m_link.SetMaySend([this](std::span<const uint8_t> out) { return m_stopGuard.MaySend(out, Stopped() || m_failed); });
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
    m_link.nControlMode = MODE_COM;
    m_link.bComOpen = true;
    m_lost = false;
}

void CLinkSession::AttachTcp(ITransport* tcp)
{
    m_link.SetTransports(nullptr, tcp);
    m_link.ResetLate();
    m_link.nControlMode = MODE_TCP;
    m_link.bTcpConnected = true;
    m_lost = false;
}

void CLinkSession::Detach()
{
    m_link.SetTransports(nullptr, nullptr);
    m_link.bComOpen = false;
    m_link.bTcpConnected = false;
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

void CLinkSession::Fail(const std::string& what, EOutcome outcome)
{
    if (m_failed || Stopped())  // what a stop cut short is no failure of the switcher
        return;
    m_failed = true;
    m_outcome = outcome;
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
    if (m_failOnRefusal && IsRefusal(r, m_link.CommandFrame)) {
        Fail("the switcher refused " + (m_timeoutSubject ? m_timeoutSubject() : CommandText(m_link.CommandFrame)),
             EOutcome::Refused);
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
            Fail("the link to the switcher was lost" + (m_lostWhy.empty() ? "" : ": " + m_lostWhy), EOutcome::LinkLost);
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
    m_link.CommandFrame = query;
    m_link.SetExchangeOpen(true);
    m_link.SendFrame(kFrameSize, m_link.CommandFrame.data());
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
    ShowTimeOut({});
}

void CLinkSession::ShowMessage(const std::string& text, std::function<void()> then)
{
    Fail(text);
    if (then)
        then();
}

void CLinkSession::ShowTimeOut(std::function<void()> then)
{
    // A time-out names the exchange that went unanswered: the frame the link sent last.
    Fail("no answer to " + (m_timeoutSubject ? m_timeoutSubject() : CommandText(m_link.CommandFrame)) + " (Time out!)",
         EOutcome::TimedOut);
    if (then)
        then();
}

void CLinkSession::AskMessage(const std::string&, std::function<void(int)> then)
{
    if (then)
        then(m_answer);
}

}  // namespace corvane
