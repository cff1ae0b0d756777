#include "transport/epoll_dispatcher.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimerEvent>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <vector>

namespace corvane {

namespace {
constexpr int kEventsAPass = 64;
}

CEpollDispatcher::CEpollDispatcher()
    : m_epoll(epoll_create1(EPOLL_CLOEXEC)), m_wake(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
{
    if (m_epoll < 0 || m_wake < 0)
        qFatal("cannot make the event loop's epoll set: %s", strerror(errno));
    epoll_event e{};
    e.events = EPOLLIN;
    e.data.fd = m_wake;
    epoll_ctl(m_epoll, EPOLL_CTL_ADD, m_wake, &e);
}

CEpollDispatcher::~CEpollDispatcher()
{
    close(m_wake);
    close(m_epoll);
}

QSocketNotifier*& CEpollDispatcher::Slot(SDescriptor& d, int type)
{
    return type == QSocketNotifier::Read ? d.read : type == QSocketNotifier::Write ? d.write : d.exception;
}

// The descriptor's epoll entry made to match its notifiers; gone with the last of them.
void CEpollDispatcher::Watch(int fd, SDescriptor& d)
{
    epoll_event e{};
    e.events = (d.read ? EPOLLIN : 0u) | (d.write ? EPOLLOUT : 0u) | (d.exception ? EPOLLPRI : 0u);
    e.data.fd = fd;
    if (!e.events) {
        if (d.added)
            epoll_ctl(m_epoll, EPOLL_CTL_DEL, fd, nullptr);  // fails harmlessly for a descriptor already closed
        m_descriptors.erase(fd);
        return;
    }
    // A descriptor closed before its notifiers were unregistered left the set on its own, and its
    // number may be back as another socket's: whichever entry is missing or there is made.
    int r = epoll_ctl(m_epoll, d.added ? EPOLL_CTL_MOD : EPOLL_CTL_ADD, fd, &e);
    if (r < 0 && errno == ENOENT)
        r = epoll_ctl(m_epoll, EPOLL_CTL_ADD, fd, &e);
    else if (r < 0 && errno == EEXIST)
        r = epoll_ctl(m_epoll, EPOLL_CTL_MOD, fd, &e);
    if (r < 0)
        qWarning("the event loop cannot watch descriptor %d: %s", fd, strerror(errno));
    d.added = r == 0;
}

void CEpollDispatcher::registerSocketNotifier(QSocketNotifier* notifier)
{
    const int fd = static_cast<int>(notifier->socket());
    SDescriptor& d = m_descriptors[fd];
    Slot(d, notifier->type()) = notifier;
    Watch(fd, d);
}

void CEpollDispatcher::unregisterSocketNotifier(QSocketNotifier* notifier)
{
    const int fd = static_cast<int>(notifier->socket());
    const auto it = m_descriptors.find(fd);
    if (it == m_descriptors.end())
        return;
    QSocketNotifier*& slot = Slot(it->second, notifier->type());
    if (slot != notifier)
        return;
    slot = nullptr;
    Watch(fd, it->second);
}

void CEpollDispatcher::registerTimer(int id, qint64 interval, Qt::TimerType type, QObject* object)
{
    unregisterTimer(id);
    STimer& t = m_timers[id];
    t.interval = std::max<qint64>(0, interval);
    t.type = type;
    t.object = object;
    t.due = Clock::now() + std::chrono::milliseconds(t.interval);
    m_due.insert({t.due, id});
}

bool CEpollDispatcher::unregisterTimer(int id)
{
    const auto it = m_timers.find(id);
    if (it == m_timers.end())
        return false;
    m_due.erase({it->second.due, id});
    m_timers.erase(it);
    return true;
}

bool CEpollDispatcher::unregisterTimers(QObject* object)
{
    bool any = false;
    for (auto it = m_timers.begin(); it != m_timers.end();) {
        if (it->second.object != object) {
            ++it;
            continue;
        }
        m_due.erase({it->second.due, it->first});
        it = m_timers.erase(it);
        any = true;
    }
    return any;
}

QList<QAbstractEventDispatcher::TimerInfo> CEpollDispatcher::registeredTimers(QObject* object) const
{
    QList<TimerInfo> list;
    for (const auto& [id, t] : m_timers)
        if (t.object == object)
            list.append(TimerInfo(id, static_cast<int>(t.interval), t.type));
    return list;
}

int CEpollDispatcher::remainingTime(int id)
{
    const auto it = m_timers.find(id);
    if (it == m_timers.end())
        return -1;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(it->second.due - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, INT_MAX));
}

void CEpollDispatcher::wakeUp()
{
    const uint64_t one = 1;
    // A counter already at its limit wakes the loop as well: nothing to do on failure.
    [[maybe_unused]] const auto n = write(m_wake, &one, sizeof one);
}

void CEpollDispatcher::interrupt()
{
    m_interrupted = true;
    wakeUp();
}

// How long the pass may wait: not at all, until the soonest timer, or until woken (-1).
int CEpollDispatcher::WaitMs(bool wait) const
{
    if (!wait)
        return 0;
    if (m_due.empty())
        return -1;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(m_due.begin()->first - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, INT_MAX));
}

int CEpollDispatcher::ActivateNotifiers(const void* ready, int count)
{
    const auto* events = static_cast<const epoll_event*>(ready);
    int activated = 0;
    for (int k = 0; k < count; ++k) {
        const int fd = events[k].data.fd;
        const uint32_t got = events[k].events;
        const bool fire[] = {(got & (EPOLLIN | EPOLLHUP | EPOLLERR)) != 0, (got & (EPOLLOUT | EPOLLERR)) != 0,
                             (got & EPOLLPRI) != 0};
        for (int type : {QSocketNotifier::Read, QSocketNotifier::Write, QSocketNotifier::Exception}) {
            if (!fire[type])
                continue;
            // Looked up again each time: an earlier notifier's handler may have removed this one.
            const auto it = m_descriptors.find(fd);
            if (it == m_descriptors.end())
                break;
            QSocketNotifier* notifier = Slot(it->second, type);
            if (!notifier)
                continue;
            QEvent activation(QEvent::SockAct);
            QCoreApplication::sendEvent(notifier, &activation);
            ++activated;
        }
    }
    return activated;
}

int CEpollDispatcher::ActivateTimers()
{
    const auto now = Clock::now();
    std::vector<int> due;
    for (auto it = m_due.begin(); it != m_due.end() && it->first <= now; ++it)
        due.push_back(it->second);
    int activated = 0;
    for (int id : due) {
        auto it = m_timers.find(id);
        if (it == m_timers.end() || it->second.firing)
            continue;  // killed by an earlier one's handler, or its own handler runs a loop below this one
        STimer& t = it->second;
        // The next time a period on, or a period from now when the loop fell behind.
        m_due.erase({t.due, id});
        t.due += std::chrono::milliseconds(t.interval);
        if (t.due < now)
            t.due = now + std::chrono::milliseconds(t.interval);
        m_due.insert({t.due, id});
        t.firing = true;
        QTimerEvent event(id);
        QCoreApplication::sendEvent(t.object, &event);
        ++activated;
        it = m_timers.find(id);  // the handler may have killed it
        if (it != m_timers.end())
            it->second.firing = false;
    }
    return activated;
}

bool CEpollDispatcher::processEvents(QEventLoop::ProcessEventsFlags flags)
{
    m_interrupted = false;
    emit awake();
    QCoreApplication::sendPostedEvents();
    const int waitMs = WaitMs((flags & QEventLoop::WaitForMoreEvents) && !m_interrupted);
    if (waitMs != 0)
        emit aboutToBlock();
    if (m_interrupted)
        return false;
    epoll_event events[kEventsAPass];
    int count = epoll_wait(m_epoll, events, kEventsAPass, waitMs);
    if (count < 0)
        count = 0;  // a signal: the loop comes round again
    if (waitMs != 0)
        emit awake();
    int activated = 0;
    for (int k = 0; k < count; ++k) {
        if (events[k].data.fd != m_wake)
            continue;
        uint64_t times;
        [[maybe_unused]] const auto n = read(m_wake, &times, sizeof times);
        events[k] = events[--count];  // the rest are sockets
        ++activated;
        break;
    }
    if (!(flags & QEventLoop::ExcludeSocketNotifiers))
        activated += ActivateNotifiers(events, count);
    if (!(flags & QEventLoop::X11ExcludeTimers))
        activated += ActivateTimers();
    return activated > 0;
}

}  // namespace corvane
