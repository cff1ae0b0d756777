#include "platform/qt_timers.h"

namespace corvane {

void CQtTimers::Attach(const void* owner, TimerHandler handler) { m_handlers[owner] = std::move(handler); }

void CQtTimers::Detach(const void* owner)
{
    m_handlers.erase(owner);
    for (auto it = m_timers.begin(); it != m_timers.end();) {
        if (it->first.first == owner)
            it = m_timers.erase(it);
        else
            ++it;
    }
}

void CQtTimers::SetTimer(const void* owner, unsigned id, unsigned periodMs)
{
    auto& timer = m_timers[{owner, id}];
    if (!timer) {
        timer = std::make_unique<QTimer>();
        timer->setTimerType(Qt::PreciseTimer);
        QObject::connect(timer.get(), &QTimer::timeout, this, [this, owner, id] {
            auto h = m_handlers.find(owner);
            if (h == m_handlers.end())
                return;
            TimerHandler handler = h->second;  // the handler may kill this very timer
            handler(id);
        });
    }
    timer->start(static_cast<int>(periodMs));  // a running timer restarts
}

void CQtTimers::KillTimer(const void* owner, unsigned id)
{
    auto it = m_timers.find({owner, id});
    if (it == m_timers.end())
        return;
    // The timer may be the one whose timeout is being delivered: stop it now, delete it later.
    it->second->stop();
    it->second.release()->deleteLater();
    m_timers.erase(it);
}

bool CQtTimers::IsRunning(const void* owner, unsigned id) const
{
    auto it = m_timers.find({owner, id});
    return it != m_timers.end() && it->second->isActive();
}

}  // namespace corvane
