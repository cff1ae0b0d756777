// An event dispatcher for a thread that holds many sockets: it waits with epoll, so a pass of the
// event loop costs what is ready, not what is open. Qt's own dispatchers hand every descriptor
// to poll() on every pass; with a site's switchers held in one loop that cost grows with the
// number of switchers and lands on every command. Set it on a thread before its loop runs
// (QCoreApplication::setEventDispatcher for the main thread, before the application object).
//
// Semantics as Qt's: level-triggered socket notifiers (read, write, exception), timers whose
// event goes to their object once per pass at most (a zero interval on every pass), posted
// events first, a wake-up from any thread, interrupt() ending the current wait.
#pragma once

#include <QAbstractEventDispatcher>
#include <atomic>
#include <chrono>
#include <map>
#include <set>
#include <unordered_map>

namespace corvane {

class CEpollDispatcher final : public QAbstractEventDispatcher {
public:
    CEpollDispatcher();
    ~CEpollDispatcher() override;

    bool processEvents(QEventLoop::ProcessEventsFlags flags) override;
    void registerSocketNotifier(QSocketNotifier* notifier) override;
    void unregisterSocketNotifier(QSocketNotifier* notifier) override;
    void registerTimer(int id, qint64 interval, Qt::TimerType type, QObject* object) override;
    bool unregisterTimer(int id) override;
    bool unregisterTimers(QObject* object) override;
    QList<TimerInfo> registeredTimers(QObject* object) const override;
    int remainingTime(int id) override;
    void wakeUp() override;
    void interrupt() override;

private:
    using Clock = std::chrono::steady_clock;
    struct SDescriptor {
        QSocketNotifier* read = nullptr;
        QSocketNotifier* write = nullptr;
        QSocketNotifier* exception = nullptr;
        bool added = false;  // in the epoll set
    };
    struct STimer {
        qint64 interval = 0;
        Qt::TimerType type = Qt::CoarseTimer;
        QObject* object = nullptr;
        Clock::time_point due;
        bool firing = false;  // its event is being handled (a nested loop must not fire it again)
    };
    QSocketNotifier*& Slot(SDescriptor& d, int type);
    void Watch(int fd, SDescriptor& d);
    int WaitMs(bool wait) const;
    int ActivateNotifiers(const void* events, int count);
    int ActivateTimers();

    int m_epoll = -1;
    int m_wake = -1;  // an eventfd: readable once woken
    std::atomic<bool> m_interrupted{false};
    std::unordered_map<int, SDescriptor> m_descriptors;
    std::map<int, STimer> m_timers;                    // by id
    std::set<std::pair<Clock::time_point, int>> m_due;  // (due, id), the soonest first
};

}  // namespace corvane
