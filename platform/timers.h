// Window timers with Win32 semantics: keyed by (owner, id); setting a running id restarts it;
// a timer repeats every period until it is killed. Expiry calls the owner's timer handler.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <utility>

namespace corvane {

using TimerHandler = std::function<void(unsigned id)>;

class ITimerService {
public:
    virtual ~ITimerService() = default;
    // The owner's handler receives every expiry of the owner's timers (its WM_TIMER).
    virtual void Attach(const void* owner, TimerHandler handler) = 0;
    // Drops the owner's handler and kills all its timers.
    virtual void Detach(const void* owner) = 0;
    virtual void SetTimer(const void* owner, unsigned id, unsigned periodMs) = 0;
    virtual void KillTimer(const void* owner, unsigned id) = 0;
    virtual bool IsRunning(const void* owner, unsigned id) const = 0;
};

// The (owner, id) table and the owners' handlers, shared by the real and the virtual clock.
// Timer is what one running timer needs on that clock.
template <typename Timer>
class CTimerTable : public ITimerService {
public:
    void Attach(const void* owner, TimerHandler handler) override { m_handlers[owner] = std::move(handler); }
    void Detach(const void* owner) override
    {
        m_handlers.erase(owner);
        for (auto it = m_timers.begin(); it != m_timers.end();) {
            if (it->first.first == owner) {
                Release(it->second);
                it = m_timers.erase(it);
            } else {
                ++it;
            }
        }
    }
    void KillTimer(const void* owner, unsigned id) override
    {
        auto it = m_timers.find({owner, id});
        if (it == m_timers.end())
            return;
        Release(it->second);
        m_timers.erase(it);
    }
    bool IsRunning(const void* owner, unsigned id) const override { return m_timers.count({owner, id}) != 0; }

protected:
    using Key = std::pair<const void*, unsigned>;
    // The owner's handler for an expiry; a copy, since the handler may detach its owner.
    void Fire(const void* owner, unsigned id)
    {
        auto h = m_handlers.find(owner);
        if (h == m_handlers.end())
            return;
        TimerHandler handler = h->second;
        handler(id);
    }
    // A timer leaves the table (killed, or its owner detached).
    virtual void Release(Timer&) {}

    std::map<Key, Timer> m_timers;

private:
    std::map<const void*, TimerHandler> m_handlers;
};

struct SVirtualTimer {
    int64_t due;
    unsigned period;
    uint64_t seq;
};

// Timers on a virtual clock: nothing fires until the test advances the clock; due timers
// then fire in order of their due time (ties in order of setting).
class CVirtualTimers final : public CTimerTable<SVirtualTimer> {
public:
    void SetTimer(const void* owner, unsigned id, unsigned periodMs) override;

    // Moves the clock forward by ms, firing every timer that falls due on the way.
    void Advance(int64_t ms);
    int64_t Now() const { return m_now; }
    // When the next timer falls due, or -1 when none runs.
    int64_t NextDue() const;

private:
    int64_t m_now = 0;
    uint64_t m_seq = 0;
};

// The timer service every window uses: the program installs real timers at start-up, tests
// install a CVirtualTimers. Falls back to a process-wide virtual service when none is set.
ITimerService& Timers();
void InstallTimers(ITimerService* service);

// Convenience for windows: attaches in the constructor, detaches (killing all timers) in the
// destructor, so no timer outlives its window.
class CTimerOwner {
public:
    explicit CTimerOwner(TimerHandler handler) { Timers().Attach(this, std::move(handler)); }
    ~CTimerOwner() { Timers().Detach(this); }
    CTimerOwner(const CTimerOwner&) = delete;
    CTimerOwner& operator=(const CTimerOwner&) = delete;

    void SetTimer(unsigned id, unsigned periodMs) { Timers().SetTimer(this, id, periodMs); }
    void KillTimer(unsigned id) { Timers().KillTimer(this, id); }
    bool IsRunning(unsigned id) const { return Timers().IsRunning(this, id); }
};

}  // namespace corvane
