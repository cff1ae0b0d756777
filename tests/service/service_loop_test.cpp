// The service's event loop: what its epoll dispatcher does where handlers change what is
// registered in the middle of a pass, and a wake from another thread. Passes are taken one at a
// time on a thread of the loop's own.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QThread>
#include <QTimerEvent>
#include <future>

#include "transport/epoll_dispatcher.h"

namespace corvane::test {
namespace {

class CTimers : public QObject {
public:
    std::vector<int> fired;
    std::function<void(int)> then;

protected:
    void timerEvent(QTimerEvent* e) override
    {
        fired.push_back(e->timerId());
        if (then)
            then(e->timerId());
    }
};

TEST(ServiceLoop, HandlersChangingTheLoopMidPassAndAWakeFromAnotherThread)
{
    int argc = 1;
    static char name[] = "service_tests", *argv[] = {name, nullptr};
    if (!QCoreApplication::instance())
        new QCoreApplication(argc, argv);
    QThread thread;
    thread.setEventDispatcher(new CEpollDispatcher);
    thread.start();
    QObject context;
    context.moveToThread(&thread);
    QMetaObject::invokeMethod(&context, [] {
        auto* loop = QAbstractEventDispatcher::instance();
        const auto pass = [loop] { loop->processEvents(QEventLoop::AllEvents); };
        // Two timers due in one pass; the first's handler kills the second, which then never fires.
        // A zero interval fires once a pass; a loop run in its handler does not fire it again.
        CTimers t;
        const int a = t.startTimer(0), b = t.startTimer(0);
        int nested = 0;
        t.then = [&](int id) {
            if (id == a && t.fired.size() == 1)
                t.killTimer(b);
            if (id == a && t.fired.size() == 2 && ++nested == 1)
                QAbstractEventDispatcher::instance()->processEvents(QEventLoop::AllEvents);
        };
        pass();
        EXPECT_EQ(t.fired, (std::vector<int>{a}));
        pass();
        EXPECT_EQ(t.fired, (std::vector<int>{a, a}));
        t.killTimer(a);
        pass();
        EXPECT_EQ(t.fired.size(), 2u);
        // A descriptor readable and writable: the read handler turns the write notifier off, which
        // then is not activated in that pass.
        int pair[2];
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
        ASSERT_EQ(write(pair[1], "x", 1), 1);
        QSocketNotifier read(pair[0], QSocketNotifier::Read), writable(pair[0], QSocketNotifier::Write);
        int reads = 0, writes = 0;
        QObject::connect(&read, &QSocketNotifier::activated, [&] {
            ++reads;
            writable.setEnabled(false);
        });
        QObject::connect(&writable, &QSocketNotifier::activated, [&] { ++writes; });
        pass();
        EXPECT_EQ(reads, 1);
        EXPECT_EQ(writes, 0);
        writable.setEnabled(true);
        read.setEnabled(false);
        pass();
        EXPECT_EQ(writes, 1);
        close(pair[0]);
        close(pair[1]);
    }, Qt::BlockingQueuedConnection);
    // The loop waits with nothing due: a call posted from here wakes it.
    std::promise<void> ran;
    QMetaObject::invokeMethod(&context, [&ran] { ran.set_value(); }, Qt::QueuedConnection);
    EXPECT_EQ(ran.get_future().wait_for(std::chrono::seconds(10)), std::future_status::ready);
    thread.quit();
    thread.wait();
}

}  // namespace
}  // namespace corvane::test
