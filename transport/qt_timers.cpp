#include "transport/qt_timers.h"

namespace corvane {

void CQtTimers::SetTimer(const void* owner, unsigned id, unsigned periodMs)
{
    auto& timer = m_timers[{owner, id}];
    if (!timer) {
        timer = std::make_unique<QTimer>();
        timer->setTimerType(Qt::PreciseTimer);
        QObject::connect(timer.get(), &QTimer::timeout, this, [this, owner, id] { Fire(owner, id); });
    }
    timer->start(static_cast<int>(periodMs));  // a running timer restarts
}

void CQtTimers::Release(std::unique_ptr<QTimer>& timer)
{
    // The timer may be the one whose timeout is being delivered: stop it now, delete it later.
    timer->stop();
    timer.release()->deleteLater();
}

}  // namespace corvane
