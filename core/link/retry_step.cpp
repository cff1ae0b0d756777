#include "core/link/retry_step.h"

namespace corvane {

CRetryStep::CRetryStep(ITimerService& timers, std::function<void()> resend, std::function<void()> timedOut,
                       unsigned waitMs)
    : m_resend(std::move(resend)), m_timedOut(std::move(timedOut)), m_waitMs(waitMs),
      m_timers(timers, [this](unsigned id) { OnTimer(id); })
{
}

void CRetryStep::Start()
{
    m_timers.KillTimer(TIMER_WAIT_AGAIN);
    m_timers.SetTimer(TIMER_WAIT, m_waitMs);
}

void CRetryStep::Stop()
{
    m_timers.KillTimer(TIMER_WAIT);
    m_timers.KillTimer(TIMER_WAIT_AGAIN);
}

bool CRetryStep::Pending() const { return m_timers.IsRunning(TIMER_WAIT) || m_timers.IsRunning(TIMER_WAIT_AGAIN); }
bool CRetryStep::Resent() const { return m_timers.IsRunning(TIMER_WAIT_AGAIN); }

void CRetryStep::OnTimer(unsigned id)
{
    m_timers.KillTimer(id);
    if (id == TIMER_WAIT) {
        m_timers.SetTimer(TIMER_WAIT_AGAIN, m_waitMs);
        if (m_resend)
            m_resend();
        return;
    }
    if (id == TIMER_WAIT_AGAIN && m_timedOut)
        m_timedOut();
}

}  // namespace corvane
