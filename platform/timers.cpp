#include "platform/timers.h"

#include <algorithm>
#include <chrono>
#include <climits>

namespace corvane {

void CCountedTimers::SetTimer(const void* owner, unsigned id, unsigned periodMs)
{
    if (periodMs == 0)
        periodMs = 1;  // a zero period would fire forever at one instant
    m_timers[{owner, id}] = SVirtualTimer{ClockNow() + periodMs, periodMs, m_seq++};
}

int64_t CCountedTimers::NextDue() const
{
    int64_t next = -1;
    for (const auto& [key, e] : m_timers)
        if (next < 0 || e.due < next)
            next = e.due;
    return next;
}

void CCountedTimers::FireUntil(int64_t end)
{
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
        Reached(next->second.due);
        next->second.due += next->second.period;  // repeats until killed
        next->second.seq = m_seq++;
        Fire(key.first, key.second);
    }
}

void CVirtualTimers::Advance(int64_t ms)
{
    const int64_t end = m_now + ms;
    FireUntil(end);
    m_now = end;
}

int64_t CSteadyTimers::ClockNow() const
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

int CSteadyTimers::PollTimeoutMs() const
{
    const int64_t next = NextDue();
    if (next < 0)
        return -1;
    return static_cast<int>(std::clamp<int64_t>(next - ClockNow(), 0, INT_MAX));
}


}  // namespace corvane
