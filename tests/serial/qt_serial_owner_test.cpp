#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QThread>
#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "transport/serial_link.h"
#include "transport/qt_serial_owner.h"
#include "tests/serial/serial_support.h"

namespace corvane {
namespace {

using namespace corvane::testing;
using namespace std::chrono_literals;

// Runs the event loop of this (the user-interface) thread until `done` or 20 s have passed.
template <class Pred>
bool PumpUntil(Pred done)
{
    const auto end = std::chrono::steady_clock::now() + 20s;
    while (!done() && std::chrono::steady_clock::now() < end)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return done();
}

class QtSerialOwnerTest : public ::testing::Test {
protected:
    QtSerialOwnerTest() { ports.Alias(5, pty.SlavePath()); }
    std::unique_ptr<CSerialLink> MakeLink()
    {
        auto link = std::make_unique<CSerialLink>(ports.Paths());
        link->SetLog([](const std::string&) {});
        return link;
    }
    CPty pty;
    CFakePorts ports;
    CQtSerialOwner owner;
};

TEST_F(QtSerialOwnerTest, BytesArriveOnTheUserInterfaceThreadInOrder)
{
    std::vector<uint8_t> got;
    bool allOnUiThread = true;
    owner.SetOnByte([&](uint8_t b, unsigned port) {
        got.push_back(b);
        allOnUiThread = allOnUiThread && QThread::currentThread() == qApp->thread() && port == 5;
    });
    auto link = MakeLink();
    ASSERT_TRUE(link->OpenPort(&owner, 5));
    ASSERT_TRUE(link->Start());
    std::vector<uint8_t> sent(300);
    for (std::size_t i = 0; i < sent.size(); ++i)
        sent[i] = uint8_t(i * 13);
    pty.WriteAll(sent);
    ASSERT_TRUE(PumpUntil([&] { return got.size() >= sent.size(); }));
    EXPECT_EQ(got, sent);
    EXPECT_TRUE(allOnUiThread);
}

TEST_F(QtSerialOwnerTest, LinkLossIsPostedToTheUserInterfaceThread)
{
    int lost = 0;
    owner.SetOnLinkLost([&](unsigned port) {
        EXPECT_EQ(QThread::currentThread(), qApp->thread());
        EXPECT_EQ(port, 5u);
        ++lost;
    });
    auto link = MakeLink();
    ASSERT_TRUE(link->OpenPort(&owner, 5));
    ASSERT_TRUE(link->Start());
    pty.CloseMaster();
    ASSERT_TRUE(PumpUntil([&] { return lost > 0; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(lost, 1);
}

TEST_F(QtSerialOwnerTest, StoppingWhileTheWorkerWaitsForThisThreadDoesNotDeadlock)
{
    int handled = 0;
    owner.SetOnByte([&](uint8_t, unsigned) { ++handled; });
    auto link = MakeLink();
    ASSERT_TRUE(link->OpenPort(&owner, 5));
    ASSERT_TRUE(link->Start());
    pty.WriteAll({1, 2, 3});
    // Without pumping events the worker stays blocked in its first delivery.
    QThread::msleep(50);

    std::promise<void> stopped;
    auto done = stopped.get_future();
    std::thread watchdog([&] {
        if (done.wait_for(20s) != std::future_status::ready)
            std::abort();
    });
    link.reset();  // stop and join, on the very thread the delivery waits for
    stopped.set_value();
    watchdog.join();
    QCoreApplication::processEvents();
    EXPECT_EQ(handled, 0);  // the cancelled delivery is dropped
}

TEST_F(QtSerialOwnerTest, AHandlerThatStopsTheLinkEndsTheDeliveryThere)
{
    // The worker is certainly blocked in a delivery: this thread is running it. The handler
    // stops the link and waits for the worker, as Disconnect does.
    auto link = MakeLink();
    std::vector<uint8_t> got;
    owner.SetOnByte([&](uint8_t b, unsigned) {
        got.push_back(b);
        link.reset();
    });
    ASSERT_TRUE(link->OpenPort(&owner, 5));
    ASSERT_TRUE(link->Start());
    pty.WriteAll({1, 2, 3});

    std::atomic<bool> done{false};
    std::thread watchdog([&] {
        for (int i = 0; i < 2000 && !done.load(); ++i)
            std::this_thread::sleep_for(10ms);
        if (!done.load())
            std::abort();  // dead-locked: fail loudly instead of hanging the suite
    });
    const bool stopped = PumpUntil([&] { return link == nullptr; });
    done = true;
    watchdog.join();
    ASSERT_TRUE(stopped);
    QCoreApplication::processEvents();
    EXPECT_EQ(got, std::vector<uint8_t>{1});  // the bytes after the stop are dropped
}

}  // namespace
}  // namespace corvane

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
