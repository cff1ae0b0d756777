// One step of a chain of queries on its own timers: the step's frame is sent once more after
// 3 s without its answer, and the step times out 3 s after that. The answer stops both waits;
// a chain that moves on to its next query starts the step again.
#pragma once

#include <functional>

#include "core/link/link_state.h"
#include "platform/timers.h"

namespace corvane {

class CRetryStep {
public:
    // resend: send the step's frame again; timedOut: the second wait ended without an answer.
    CRetryStep(ITimerService& timers, std::function<void()> resend, std::function<void()> timedOut,
               unsigned waitMs = kStepTimeoutMs);
    CRetryStep(const CRetryStep&) = delete;
    CRetryStep& operator=(const CRetryStep&) = delete;

    // The step's frame has just been sent (for the first time): the first wait begins.
    void Start();
    // The step's answer came: both waits end.
    void Stop();
    bool Pending() const;
    // The frame was sent once more and the second wait runs.
    bool Resent() const;

private:
    enum : unsigned { TIMER_WAIT = 1, TIMER_WAIT_AGAIN = 2 };
    void OnTimer(unsigned id);

    std::function<void()> m_resend, m_timedOut;
    unsigned m_waitMs;
    CTimerOwner m_timers;
};

}  // namespace corvane
