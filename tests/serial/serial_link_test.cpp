#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <sys/sysmacros.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <future>
#include <cstring>

#include "transport/serial_link.h"
#include "tests/serial/serial_support.h"

namespace corvane {
namespace {

using namespace corvane::testing;
using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;

constexpr unsigned kPort = 5;

// The received bytes as the main window sees them, on its own thread.
struct SReceiver {
    void Add(uint8_t b)
    {
        std::lock_guard lock(m);
        bytes.push_back(b);
        cv.notify_all();
    }
    bool WaitFor(std::size_t count, std::chrono::milliseconds timeout = 20s)
    {
        std::unique_lock lock(m);
        return cv.wait_for(lock, timeout, [&] { return bytes.size() >= count; });
    }
    Bytes Take()
    {
        std::lock_guard lock(m);
        return bytes;
    }
    std::size_t Size()
    {
        std::lock_guard lock(m);
        return bytes.size();
    }
    std::mutex m;
    std::condition_variable cv;
    Bytes bytes;
};

class SerialLinkTest : public ::testing::Test {
protected:
    SerialLinkTest() : owner(ui, [this](uint8_t b) { rx.Add(b); }) { ports.Alias(kPort, pty.SlavePath()); }

    std::unique_ptr<CSerialLink> MakeLink()
    {
        auto link = std::make_unique<CSerialLink>(ports.Paths());
        link->SetLog([this](const std::string& line) {
            std::lock_guard lock(logMutex);
            log.push_back(line);
        });
        return link;
    }
    std::vector<std::string> Log()
    {
        std::lock_guard lock(logMutex);
        return log;
    }

    CPty pty;
    CFakePorts ports;
    CTaskThread ui;
    SReceiver rx;
    CThreadOwner<CTaskThread> owner;
    std::mutex logMutex;
    std::vector<std::string> log;
};

Bytes Pattern(std::size_t n, unsigned seed = 0)
{
    Bytes out(n);
    for (std::size_t i = 0; i < n; ++i)
        out[i] = uint8_t(i * 7 + i / 251 + seed);
    return out;
}

TEST_F(SerialLinkTest, ConfiguresRaw19200With8DataBitsTwoStopBitsNoParity)
{
    auto link = MakeLink();
    ASSERT_TRUE(link->OpenPort(&owner, kPort));
    EXPECT_TRUE(link->IsOpen());

    const termios t = pty.Settings();
    EXPECT_EQ(cfgetospeed(&t), speed_t(B19200));
    EXPECT_EQ(cfgetispeed(&t), speed_t(B19200));
    EXPECT_EQ(t.c_cflag & CSIZE, tcflag_t(CS8));
    EXPECT_TRUE(t.c_cflag & CSTOPB);
    EXPECT_TRUE(t.c_cflag & CLOCAL);
    EXPECT_TRUE(t.c_cflag & CREAD);
    EXPECT_FALSE(t.c_cflag & (PARENB | CRTSCTS | HUPCL));
    EXPECT_FALSE(t.c_lflag & (ICANON | ECHO | ISIG));
    EXPECT_FALSE(t.c_oflag & OPOST);
    EXPECT_EQ(t.c_cc[VMIN], 0);
    EXPECT_EQ(t.c_cc[VTIME], 0);

    // A pseudo-terminal has no modem lines: expected, so nothing is reported.
    EXPECT_EQ(Log(), std::vector<std::string>());
}

// Reported once per opening, with the settings, the OS text and the port; the port stays open.
TEST_F(SerialLinkTest, UnsupportedSettingsAreReportedOncePerOpening)
{
    auto link = MakeLink();
    auto reports = [&] {
        const auto lines = Log();
        return std::count_if(lines.begin(), lines.end(), [](const std::string& line) {
            return line.find("baud=12345 parity=N data=8 stop=2") != std::string::npos;
        });
    };
    struct SStep {
        const char* what;
        std::function<void()> act;
        long reports;
    };
    const std::vector<SStep> steps = {
        {"opened", [&] { ASSERT_TRUE(link->OpenPort(&owner, kPort, 12345, 'N', 8, 2)); }, 1},
        {"written to", [&] { link->Write(Pattern(13)); }, 1},
        {"opened again without closing", [&] { ASSERT_TRUE(link->OpenPort(&owner, kPort, 12345, 'N', 8, 2)); }, 2},
        {"closed", [&] { link->Stop(); }, 2},
        {"reopened after closing", [&] { ASSERT_TRUE(link->OpenPort(&owner, kPort, 12345, 'N', 8, 2)); }, 3},
    };
    for (const SStep& s : steps) {
        SCOPED_TRACE(s.what);
        s.act();
        EXPECT_EQ(reports(), s.reports);
    }
    EXPECT_TRUE(link->IsOpen());
    const auto lines = Log();
    ASSERT_FALSE(lines.empty());
    EXPECT_NE(lines[0].find("COM5"), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find(std::strerror(EINVAL)), std::string::npos) << lines[0];
}

TEST_F(SerialLinkTest, DeliversTenThousandBytesInOrder)
{
    for (bool batched : {false, true}) {
        SCOPED_TRACE(batched ? "one crossing per read" : "one crossing per byte");
        SReceiver got;
        CThreadOwner<CTaskThread> byteOwner(ui, [&](uint8_t b) { got.Add(b); }, batched);
        auto link = MakeLink();
        ASSERT_TRUE(link->OpenPort(&byteOwner, kPort));
        ASSERT_TRUE(link->Start());
        const Bytes sent = Pattern(10000);
        for (std::size_t at = 0; at < sent.size(); at += 1000)
            pty.WriteAll(Bytes(sent.begin() + long(at), sent.begin() + long(at + 1000)));
        ASSERT_TRUE(got.WaitFor(sent.size()));
        EXPECT_EQ(got.Take(), sent);
    }
}

TEST_F(SerialLinkTest, HandOversInARowEachArriveWholeAndInOrder)
{
    auto link = MakeLink();
    ASSERT_TRUE(link->OpenPort(&owner, kPort));
    ASSERT_TRUE(link->Start());
    // Frames, a 257-byte block and frames again, handed over back to back while the
    // switcher's end has read nothing yet.
    Bytes expected;
    for (unsigned i = 0; i < 40; ++i) {
        const Bytes chunk = Pattern(i == 20 ? 257 : 13, i);
        link->Write(chunk);
        expected.insert(expected.end(), chunk.begin(), chunk.end());
    }
    EXPECT_EQ(pty.Read(expected.size()), expected);
    EXPECT_TRUE(pty.Read(1, 50ms).empty());
}

// Bytes in the port's input queue; waits up to 2 s for at least `atLeast` of them, since the
// kernel moves bytes across a pseudo-terminal asynchronously.
int QueuedInput(const CSerialLink& link, int atLeast = 0)
{
    int n = -1;
    for (int i = 0; i < 2000; ++i) {
        ioctl(link.NativeHandle(), FIONREAD, &n);
        if (n >= atLeast)
            break;
        std::this_thread::sleep_for(1ms);
    }
    return n;
}

TEST_F(SerialLinkTest, InputQueuedBeforeTheWorkerStartsIsDiscarded)
{
    auto link = MakeLink();
    ASSERT_TRUE(link->OpenPort(&owner, kPort));
    pty.WriteAll({0xA5, 0x5B, 0x01, 0x02, 0x03});  // a late reply to an earlier session
    ASSERT_EQ(QueuedInput(*link, 5), 5);
    ASSERT_TRUE(link->Start());
    const Bytes fresh = {0x10, 0x20, 0x30};
    pty.WriteAll(fresh);
    ASSERT_TRUE(rx.WaitFor(fresh.size()));
    EXPECT_EQ(rx.Take(), fresh);
}

TEST_F(SerialLinkTest, StaleInputIsPurgedBeforeAWrite)
{
    auto link = MakeLink();
    // No EV_RXCHAR: nothing is read, so the bytes wait in the port's input queue.
    ASSERT_TRUE(link->OpenPort(&owner, kPort, 19200, 'N', 8, 2, 0));
    ASSERT_TRUE(link->Start());
    pty.WriteAll({0xA5, 0x5B, 0x01, 0x02, 0x03});
    ASSERT_EQ(QueuedInput(*link, 5), 5);

    const Bytes frame = Pattern(13);
    link->Write(frame);
    EXPECT_EQ(pty.Read(frame.size()), frame);
    EXPECT_EQ(QueuedInput(*link), 0);
    EXPECT_EQ(rx.Size(), 0u);
}

TEST_F(SerialLinkTest, HangUpIsReportedOnceAndTheWorkerThenIdles)
{
    auto link = MakeLink();
    ASSERT_TRUE(link->OpenPort(&owner, kPort));
    ASSERT_TRUE(link->Start());
    pty.WriteAll({1, 2, 3});
    ASSERT_TRUE(rx.WaitFor(3));

    pty.CloseMaster();
    ASSERT_TRUE(owner.WaitLinkLost());
    const uint64_t waits = link->WaitCount();
    std::this_thread::sleep_for(100ms);  // a spinning worker would wait thousands of times here
    EXPECT_LE(link->WaitCount(), waits + 1);
    EXPECT_EQ(owner.LinkLostCount(), 1);
    link->Write(Pattern(13));  // dropped, not queued for ever
    EXPECT_EQ(owner.LinkLostCount(), 1);

    link->Stop();
    link.reset();
    EXPECT_EQ(owner.LinkLostCount(), 1);
}

TEST_F(SerialLinkTest, HeldPortCannotBeOpenedAgainUntilReleased)
{
    ports.Alias(6, pty.SlavePath());  // a second name for the same device
    auto first = MakeLink();
    ASSERT_TRUE(first->OpenPort(&owner, kPort));
    ASSERT_TRUE(first->Start());

    auto second = MakeLink();
    EXPECT_FALSE(second->OpenPort(&owner, kPort));
    EXPECT_FALSE(second->OpenPort(&owner, 6));
    EXPECT_FALSE(second->IsOpen());

    first.reset();
    EXPECT_TRUE(second->OpenPort(&owner, 6));
}

TEST_F(SerialLinkTest, StopReleasesThePort)
{
    auto first = MakeLink();
    ASSERT_TRUE(first->OpenPort(&owner, kPort));
    ASSERT_TRUE(first->Start());
    first->Stop();
    // The worker closes the port on its own; the caller does not wait for it.
    for (int i = 0; i < 2000 && first->IsOpen(); ++i)
        std::this_thread::sleep_for(1ms);
    EXPECT_FALSE(first->IsOpen());
    auto second = MakeLink();
    EXPECT_TRUE(second->OpenPort(&owner, kPort));
    EXPECT_FALSE(first->Start());  // nothing open to run on
}

TEST_F(SerialLinkTest, PortsThatMayNotBeOpenedAreRefused)
{
    struct stat st {};
    ASSERT_EQ(stat(pty.SlavePath().c_str(), &st), 0);
    const std::string devNo = std::to_string(major(st.st_rdev)) + ":" + std::to_string(minor(st.st_rdev));
    const std::string ptsName = pty.SlavePath().substr(5);  // "pts/N"
    std::string lockName = ptsName;
    std::replace(lockName.begin(), lockName.end(), '/', '_');

    struct SCase {
        const char* what;
        unsigned port;
        std::function<void()> arrange;
        bool opens;
    };
    const std::vector<SCase> cases = {
        {"no such port", 7, [] {}, false},
        {"port 0", 0, [] {}, false},
        {"beyond 255", 261, [] {}, false},
        {"dangling alias", 8, [&] { ports.Alias(8, ports.Root() / "nothing"); }, false},
        {"not a terminal", 9, [&] { ports.Alias(9, "/dev/null"); }, false},
        {"console by device number", kPort, [&] { ports.Consoles("ttyS0 -W- (EC p a) " + devNo + "\n"); }, false},
        {"console by name", kPort, [&] { ports.Consoles(ptsName + " -W- (EC p a)\n"); }, false},
        {"live lock file", kPort, [&] { ports.LockFile(lockName, "  " + std::to_string(getpid()) + "\n"); }, false},
        {"stale lock file", kPort, [&] { ports.LockFile(lockName, "  999999999\n"); }, true},
        // Beyond any process number; cut to 32 bits it would be this very process.
        {"lock file naming no possible process", kPort,
         [&] { ports.LockFile(lockName, std::to_string((1LL << 32) + getpid()) + "\n"); }, true},
    };
    for (const SCase& c : cases) {
        ports.Consoles("");
        ports.Root().Remove("lock/LCK.." + lockName);
        c.arrange();
        auto link = MakeLink();
        EXPECT_EQ(link->OpenPort(&owner, c.port), c.opens) << c.what;
        EXPECT_EQ(link->IsOpen(), c.opens) << c.what;
    }
}

std::size_t OpenDescriptors()
{
    std::size_t n = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/self/fd"))
        ++n;
    return n;
}

TEST_F(SerialLinkTest, EveryWayOfOpeningAndClosingGivesItsDescriptorsBack)
{
    ports.Alias(6, pty.SlavePath());  // a second name for the same device
    ports.Alias(9, "/dev/null");      // not a terminal
    const std::size_t before = OpenDescriptors();
    {
        auto link = MakeLink();
        auto rival = MakeLink();
        for (int round = 0; round < 3; ++round) {
            SCOPED_TRACE(round);
            EXPECT_FALSE(link->OpenPort(&owner, 9));
            EXPECT_FALSE(link->OpenPort(&owner, 7));  // no such port
            ASSERT_TRUE(link->OpenPort(&owner, kPort));
            link->Stop();  // no worker yet: closed at once
            EXPECT_FALSE(link->IsOpen());

            ASSERT_TRUE(link->OpenPort(&owner, kPort));
            EXPECT_FALSE(rival->OpenPort(&owner, 6));  // held
            ASSERT_TRUE(link->Start());
            link->Write(Pattern(13));
            EXPECT_EQ(pty.Read(13).size(), 13u);
            link->Stop();  // the worker closes the port
            for (int i = 0; i < 2000 && link->IsOpen(); ++i)
                std::this_thread::sleep_for(1ms);
            EXPECT_FALSE(link->IsOpen());
        }
        ASSERT_TRUE(link->OpenPort(&owner, kPort));
        ASSERT_TRUE(link->Start());
    }  // destroyed with the worker running
    EXPECT_EQ(OpenDescriptors(), before);
}

TEST_F(SerialLinkTest, ReopeningClosesTheFirstPort)
{
    CPty other;
    ports.Alias(6, other.SlavePath());
    auto link = MakeLink();
    ASSERT_TRUE(link->OpenPort(&owner, kPort));
    ASSERT_TRUE(link->Start());
    ASSERT_TRUE(link->OpenPort(&owner, 6));
    auto again = MakeLink();
    EXPECT_TRUE(again->OpenPort(&owner, kPort));  // released by the second OpenPort
}

TEST_F(SerialLinkTest, ShutdownWhileBytesAreFlowing)
{
    auto link = MakeLink();
    ASSERT_TRUE(link->OpenPort(&owner, kPort));
    ASSERT_TRUE(link->Start());
    std::atomic<bool> writing{true};
    const int master = pty.Master();
    std::thread writer([&] {
        const Bytes chunk = Pattern(256);
        while (writing.load()) {
            pollfd p{master, POLLOUT, 0};
            if (poll(&p, 1, 10) > 0 && (p.revents & POLLOUT))
                if (write(master, chunk.data(), chunk.size()) < 0)
                    break;
        }
    });
    ASSERT_TRUE(rx.WaitFor(1000));
    // Stopped from the user-interface thread, as the program does, while bytes keep coming.
    std::size_t after = 0;
    std::promise<void> stopped;
    ui.Post([&] {
        link.reset();
        after = rx.Size();
        stopped.set_value();
    });
    ASSERT_EQ(stopped.get_future().wait_for(20s), std::future_status::ready);
    writing = false;
    writer.join();
    std::promise<void> drained;
    ui.Post([&] { drained.set_value(); });
    drained.get_future().wait();
    EXPECT_EQ(rx.Size(), after);  // nothing is delivered once the link has stopped
}

TEST_F(SerialLinkTest, WaitingForTheWorkerWhileItDeliversDoesNotDeadlock)
{
    // The user-interface thread is this test's thread: it does not run the worker's delivery
    // while it waits for the worker to end, exactly like a window stopping the link.
    for (bool batched : {false, true}) {
        SCOPED_TRACE(batched ? "one crossing per read" : "one crossing per byte");
        CHeldQueue held;
        Bytes got;
        CThreadOwner<CHeldQueue> blockedOwner(held, [&](uint8_t b) { got.push_back(b); }, batched);
        auto link = MakeLink();
        ASSERT_TRUE(link->OpenPort(&blockedOwner, kPort));
        ASSERT_TRUE(link->Start());
        pty.WriteAll({0x11, 0x22, 0x33});
        ASSERT_TRUE(held.WaitPending(1));  // the worker is now blocked in the first delivery

        std::promise<void> reopened;
        auto done = reopened.get_future();
        std::thread watchdog([&] {
            if (done.wait_for(20s) != std::future_status::ready)
                std::abort();  // dead-locked: fail loudly instead of hanging the suite
        });
        CPty other;
        ports.Alias(6, other.SlavePath());
        EXPECT_TRUE(link->OpenPort(&blockedOwner, 6));  // stops and joins the worker first
        link.reset();
        reopened.set_value();
        watchdog.join();

        held.RunAll();  // a cancelled delivery is dropped, not handled late
        EXPECT_TRUE(got.empty());
    }
}

}  // namespace
}  // namespace corvane
