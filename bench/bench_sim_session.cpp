// The switcher model's throughput: command frames through a stream session, a whole firmware
// transfer of 100,000 bytes, and search datagrams.
#include <benchmark/benchmark.h>

#include <vector>

#include "core/link/frame.h"
#include "sim/session.h"

using namespace corvane;
using namespace corvane::sim;

static void BM_StatusQueries(benchmark::State& state)
{
    CSwitcher device;
    CFaultPlan faults;
    CStreamSession session(device, faults);
    std::vector<uint8_t> stream;
    for (int i = 0; i < 1000; ++i) {
        const Frame f = MakeFrame({0x01, 0x04, static_cast<uint8_t>(1 + i % 4)});
        stream.insert(stream.end(), f.begin(), f.end());
    }
    std::size_t replies = 0;
    for (auto _ : state) {
        session.Feed(stream, 0);
        replies += session.TakeDue(0).size();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * stream.size()));
    state.counters["replies"] = benchmark::Counter(static_cast<double>(replies), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_StatusQueries);

static void BM_FirmwareTransfer(benchmark::State& state)
{
    constexpr std::size_t kImage = 100'000;
    std::vector<std::vector<uint8_t>> packets;
    for (std::size_t offset = 0; offset < kImage + 2; offset += 256) {
        const uint8_t mark = offset + 256 >= kImage + 2 && offset > 0 ? 0x56 : 0xAA;
        const Frame h = MakeFrame({0x20, 0x01, mark, 0, 0, 1, 1, 0x40, static_cast<uint8_t>(offset / 256)});
        Block b{};
        for (std::size_t i = 0; i < 256; ++i)
            b[1 + i] = static_cast<uint8_t>(offset + i);
        SealBlock(b);
        std::vector<uint8_t> p(h.begin(), h.end());
        p.insert(p.end(), b.begin(), b.end());
        packets.push_back(std::move(p));
    }
    const Frame start[] = {MakeFrame({0x20, 0x01, 0x01}), MakeFrame({0x20, 0x01, 0x80, 0, 0, 0, 0, 0, 0xEE}),
                           MakeFrame({0x20, 0x01, 0x10})};
    SwitcherSettings s;
    s.rebootMs = 0;
    for (auto _ : state) {
        CSwitcher device(s);
        CFaultPlan faults;
        CStreamSession session(device, faults);
        for (const Frame& f : start)
            session.Feed(f, 0);
        for (const auto& p : packets)
            session.Feed(p, 0);
        benchmark::DoNotOptimize(session.TakeDue(0).size());
        if (device.Upgrades() != 1)
            state.SkipWithError("transfer incomplete");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kImage));
}
BENCHMARK(BM_FirmwareTransfer)->Unit(benchmark::kMillisecond);

static void BM_Search(benchmark::State& state)
{
    CSwitcher device;
    CFaultPlan faults;
    CDatagramPort port(device, faults, FaultTarget::Search);
    const uint8_t request[] = {0x61};
    for (auto _ : state) {
        port.OnDatagram(request, 1, 0);
        benchmark::DoNotOptimize(port.TakeDue(0).size());
    }
}
BENCHMARK(BM_Search);

BENCHMARK_MAIN();
