// The serial receive path and the port-list refresh.
//
// Receive: switcher frames written into a pseudo-terminal, read by the real worker and handed
// with blocking hand-overs (one per byte, or one per read) to another thread that cuts frames
// out of them byte by byte. The line rate of 19200 8N2 is 1,745 bytes/s; the path must keep
// up with at least 25 times that.
#include <benchmark/benchmark.h>

#include <atomic>

#include "core/link/frame.h"
#include "transport/port_list.h"
#include "core/link/receive.h"
#include "transport/serial_link.h"
#include "tests/serial/serial_support.h"

namespace corvane {
namespace {

using namespace corvane::testing;

constexpr double kLineRate = 19200.0 / 11.0;  // 1 start, 8 data, 2 stop bits

// The main window's side: the serial hunt on its own thread, counting dispatched frames.
class CFrameCounter {
public:
    void OnByte(uint8_t b)
    {
        if (m_hunt.OnPortByte(b)) {
            std::lock_guard lock(m_m);
            ++m_frames;
            m_cv.notify_all();
        }
    }
    void WaitFrames(uint64_t count)
    {
        std::unique_lock lock(m_m);
        m_cv.wait(lock, [&] { return m_frames >= count; });
    }

private:
    CSerialHunt m_hunt;  // touched on the task thread only
    std::mutex m_m;
    std::condition_variable m_cv;
    uint64_t m_frames = 0;
};

void BM_SerialReceiveToDispatchedFrame(benchmark::State& state)
{
    const bool batched = state.range(0) != 0;
    const int framesPerRound = 20;
    CPty pty;
    CFakePorts ports;
    ports.Alias(5, pty.SlavePath());
    CTaskThread ui;
    CFrameCounter counter;
    CThreadOwner<CTaskThread> owner(ui, [&](uint8_t b) { counter.OnByte(b); }, batched);
    CSerialLink link(ports.Paths());
    link.SetLog([](const std::string&) {});
    if (!link.OpenPort(&owner, 5) || !link.Start()) {
        state.SkipWithError("cannot open the pseudo-terminal");
        return;
    }
    std::vector<uint8_t> round;
    for (int i = 0; i < framesPerRound; ++i) {
        const Frame f = MakeFrame({0x02, 0x03, 0x00, 0x00, uint8_t(i)});
        round.insert(round.end(), f.begin(), f.end());
    }
    uint64_t frames = 0;
    for (auto _ : state) {
        pty.WriteAll(round);
        frames += uint64_t(framesPerRound);
        counter.WaitFrames(frames);
    }
    const double bytes = double(state.iterations()) * double(round.size());
    state.SetBytesProcessed(int64_t(bytes));
    state.counters["bytes_per_s"] = benchmark::Counter(bytes, benchmark::Counter::kIsRate);
    state.counters["x_line_rate"] = benchmark::Counter(bytes / kLineRate, benchmark::Counter::kIsRate);
}
// Arg 0: one blocking crossing per byte; 1: one per read, each byte still handled by itself.
BENCHMARK(BM_SerialReceiveToDispatchedFrame)->ArgName("per_read")->Arg(0)->Arg(1)->UseRealTime()->Unit(benchmark::kMillisecond)->MinTime(1.0);

// The 600 ms refresh when nothing changed: enumeration, open test of every port, comparison.
void BM_PortListRefreshUnchanged(benchmark::State& state)
{
    CPty a, b, c, d;
    CFakePorts ports;
    ports.Tty("ttyUSB0", a.SlavePath(), "pl2303", "USB-Serial Controller");
    ports.Tty("ttyACM0", b.SlavePath(), "cdc_acm");
    ports.Tty("ttyS0", c.SlavePath(), "serial8250");  // no UART behind it: test-opened, left out
    ports.Alias(5, d.SlavePath());
    ResetPortListState();
    CFakeCombo combo;
    RefreshPortList(combo, ports.Paths());
    const int changes = combo.changes;
    for (auto _ : state)
        benchmark::DoNotOptimize(RefreshPortList(combo, ports.Paths()));
    if (combo.changes != changes || combo.Count() != 3)
        state.SkipWithError("the list changed");
    ResetPortListState();
}
BENCHMARK(BM_PortListRefreshUnchanged)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace corvane

BENCHMARK_MAIN();
