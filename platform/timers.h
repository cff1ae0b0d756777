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

// Timers whose expiries a loop waiting in poll() delivers: the loop waits for its descriptors at
// most PollTimeoutMs(), then calls FireDue().
class IPolledTimers : public ITimerService {
public:
    // How long the loop may wait before a timer falls due; -1: until a descriptor is ready (no
    // timer runs, or the clock moves only when it is advanced).
    virtual int PollTimeoutMs() const = 0;
    // Fires every timer that has fallen due.
    virtual void FireDue() = 0;
};

// The (owner, id) table and the owners' handlers, shared by the real and the virtual clock.
// Timer is what one running timer needs on that clock; Service the interface it serves.
template <typename Timer, typename Service = ITimerService>
class CTimerTable : public Service {
public:
    void Attach(const void* owner, TimerHandler handler) override { m_handlers[owner] = std::move(handler); }
    void Detach(const void* owner) override
    {
        m_handlers.erase(owner);
        // The owner's timers are together in the table: the others are not looked at.
        for (auto it = m_timers.lower_bound({owner, 0}); it != m_timers.end() && it->first.first == owner;) {
            Release(it->second);
            it = m_timers.erase(it);
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

// Timers on a clock read in milliseconds: due timers fire in order of their due time (ties in
// order of setting).
class CCountedTimers : public CTimerTable<SVirtualTimer, IPolledTimers> {
public:
    void SetTimer(const void* owner, unsigned id, unsigned periodMs) override;
    // When the next timer falls due, or -1 when none runs.
    int64_t NextDue() const;

protected:
    virtual int64_t ClockNow() const = 0;
    // Fires every timer due by end; Reached(t) comes before each expiry at moment t.
    void FireUntil(int64_t end);
    virtual void Reached(int64_t) {}

private:
    uint64_t m_seq = 0;
};

// Timers on a virtual clock: nothing fires until the test advances the clock.
class CVirtualTimers final : public CCountedTimers {
public:
    // Moves the clock forward by ms, firing every timer that falls due on the way.
    void Advance(int64_t ms);
    int64_t Now() const { return m_now; }
    // A poll loop on this clock waits for its descriptors only: the clock moves when the test
    // advances it (from the loop's own callbacks), never while the loop waits.
    int PollTimeoutMs() const override { return -1; }
    void FireDue() override {}

private:
    int64_t ClockNow() const override { return m_now; }
    void Reached(int64_t t) override { m_now = t; }
    int64_t m_now = 0;
};

// Timers on the steady clock for a loop that waits in poll() (the fleet runner).
class CSteadyTimers final : public CCountedTimers {
public:
    int PollTimeoutMs() const override;
    void FireDue() override { FireUntil(ClockNow()); }

private:
    int64_t ClockNow() const override;
};

// Another service's timers, with one call after every expiry's handler has returned: what
// waits on the timers' effects looks again then.
class CObservedTimers final : public ITimerService {
public:
    CObservedTimers(ITimerService& inner, std::function<void()> after) : m_inner(inner), m_after(std::move(after)) {}
    void Attach(const void* owner, TimerHandler handler) override
    {
        m_inner.Attach(owner, [this, handler = std::move(handler)](unsigned id) {
            handler(id);
            m_after();
        });
    }
    void Detach(const void* owner) override { m_inner.Detach(owner); }
    void SetTimer(const void* owner, unsigned id, unsigned periodMs) override { m_inner.SetTimer(owner, id, periodMs); }
    void KillTimer(const void* owner, unsigned id) override { m_inner.KillTimer(owner, id); }
    bool IsRunning(const void* owner, unsigned id) const override { return m_inner.IsRunning(owner, id); }

private:
    ITimerService& m_inner;
    std::function<void()> m_after;
};

// Convenience for windows: attaches to the timer service it is handed (the program's real
// timers, a test's virtual clock) in the constructor and detaches (killing all its timers) in
// the destructor, so no timer outlives its window.
class CTimerOwner {
public:
    CTimerOwner(ITimerService& service, TimerHandler handler) : m_service(service)
    {
        m_service.Attach(this, std::move(handler));
    }
    ~CTimerOwner() { m_service.Detach(this); }
    CTimerOwner(const CTimerOwner&) = delete;
    CTimerOwner& operator=(const CTimerOwner&) = delete;

    void SetTimer(unsigned id, unsigned periodMs) { m_service.SetTimer(this, id, periodMs); }
    void KillTimer(unsigned id) { m_service.KillTimer(this, id); }
    bool IsRunning(unsigned id) const { return m_service.IsRunning(this, id); }
    ITimerService& Service() const { return m_service; }

private:
    ITimerService& m_service;
};

}  // namespace corvane
