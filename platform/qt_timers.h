// Window timers on the real clock, driven by the Qt event loop of the user-interface thread.
#pragma once

#include <QObject>
#include <QTimer>
#include <map>
#include <memory>

#include "platform/timers.h"

namespace corvane {

class CQtTimers final : public QObject, public ITimerService {
    Q_OBJECT
public:
    void Attach(const void* owner, TimerHandler handler) override;
    void Detach(const void* owner) override;
    void SetTimer(const void* owner, unsigned id, unsigned periodMs) override;
    void KillTimer(const void* owner, unsigned id) override;
    bool IsRunning(const void* owner, unsigned id) const override;

private:
    using Key = std::pair<const void*, unsigned>;
    std::map<Key, std::unique_ptr<QTimer>> m_timers;
    std::map<const void*, TimerHandler> m_handlers;
};

}  // namespace corvane
