// Window timers on the real clock, driven by the Qt event loop of the user-interface thread.
#pragma once

#include <QObject>
#include <QTimer>
#include <map>
#include <memory>

#include "platform/timers.h"

namespace corvane {

class CQtTimers final : public QObject, public CTimerTable<std::unique_ptr<QTimer>> {
    Q_OBJECT
public:
    void SetTimer(const void* owner, unsigned id, unsigned periodMs) override;

private:
    void Release(std::unique_ptr<QTimer>& timer) override;
};

}  // namespace corvane
