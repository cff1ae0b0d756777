// Cost of the pure receive path per 13-byte frame: cut, check, log text, dispatch.
#include <benchmark/benchmark.h>

#include <vector>

#include "core/link/link_core.h"
#include "platform/scripted_notices.h"
#include "core/scene/scene.h"

using namespace corvane;

namespace {

struct NullPane final : ILogPane {
    std::size_t bytes = 0;
    void Insert(std::string_view text) override { bytes += text.size(); }
    void Clear() override {}
};

void BM_SerialFrame(benchmark::State& state)
{
    NullPane tx, rx;
    CVirtualTimers timers;
    CScriptedNotices op;
    CLinkCore core(timers, op, tx, rx);
    int handled = 0;
    core.SetPageHandler(PAGE_GENERAL, [&](const Frame&) { ++handled; });
    const Frame f = MakeFrame({0x01, 0x04, 0x01});
    for (auto _ : state)
        for (uint8_t b : f)
            core.OnPortByte(b);
    benchmark::DoNotOptimize(handled);
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * kFrameSize);
}
BENCHMARK(BM_SerialFrame);

void BM_TcpFrame(benchmark::State& state)
{
    NullPane tx, rx;
    CVirtualTimers timers;
    CScriptedNotices op;
    CLinkCore core(timers, op, tx, rx);
    int handled = 0;
    core.SetPageHandler(PAGE_GENERAL, [&](const Frame&) { ++handled; });
    std::vector<uint8_t> read;
    for (int i = 0; i < 64; ++i) {
        const Frame f = MakeFrame({0x01, 0x05, static_cast<uint8_t>(i)});
        read.insert(read.end(), f.begin(), f.end());
    }
    for (auto _ : state)
        core.OnTcpRead(read);
    benchmark::DoNotOptimize(handled);
    state.SetItemsProcessed(state.iterations() * 64);
}
BENCHMARK(BM_TcpFrame);

void BM_LogTxFrame(benchmark::State& state)
{
    NullPane tx, rx;
    CLogWriter log(tx, rx);
    const Frame f = MakeFrame({0x06, 0x01, 0x0F, 0x00, 0xDD});
    for (auto _ : state)
        log.LogTx(f);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LogTxFrame);

// A scene file of the largest size the reader takes, one object of many members with one named
// twice: the strict reader finds it in linear time (a 1 MiB object in well under 50 ms).
void BM_SceneOfTheLargestSize(benchmark::State& state)
{
    std::string big = "{\"format\": \"corvane-scene\", \"version\": 1";
    int members = 0;
    while (big.size() < kSceneMaxBytes - 64)
        big += ",\"m" + std::to_string(members++) + "\":0";
    big += ",\"m" + std::to_string(members / 2) + "\":0}";
    for (auto _ : state) {
        std::string error;
        benchmark::DoNotOptimize(ParseScene(big, error));
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(big.size()));
}
BENCHMARK(BM_SceneOfTheLargestSize)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
