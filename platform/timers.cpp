#include "platform/timers.h"

#include <limits>

namespace corvane {

void CVirtualTimers::SetTimer(const void* owner, unsigned id, unsigned periodMs)
{
    if (periodMs == 0)
        periodMs = 1;  // a zero period would fire forever at one instant
    m_timers[{owner, id}] = SVirtualTimer{m_now + periodMs, periodMs, m_seq++};
}

int64_t CVirtualTimers::NextDue() const
{
    int64_t next = -1;
    for (const auto& [key, e] : m_timers)
        if (next < 0 || e.due < next)
            next = e.due;
    return next;
}

void CVirtualTimers::Advance(int64_t ms)
{
    const int64_t end = m_now + ms;
    for (;;) {
        auto next = m_timers.end();
        for (auto it = m_timers.begin(); it != m_timers.end(); ++it) {
            if (it->second.due > end)
                continue;
            if (next == m_timers.end() || it->second.due < next->second.due ||
                (it->second.due == next->second.due && it->second.seq < next->second.seq))
                next = it;
        }
        if (next == m_timers.end())
            break;
        const Key key = next->first;
        m_now = next->second.due;
        next->second.due += next->second.period;  // repeats until killed
        next->second.seq = m_seq++;
        Fire(key.first, key.second);
    }
    m_now = end;
}

namespace {
CVirtualTimers& FallbackTimers()
{
    static CVirtualTimers timers;
    return timers;
}
ITimerService* g_timerService = nullptr;
}  // namespace

ITimerService& Timers()
{
    if (g_timerService)
        return *g_timerService;
    return FallbackTimers();
}

void InstallTimers(ITimerService* service) { g_timerService = service; }

}  // namespace corvane
