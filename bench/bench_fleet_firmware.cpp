// A firmware upgrade to eight switchers at once with `corvanectl --hosts`, against one with the
// same command: eight emulator processes on loopback TCP ports, each with its real TCP
// behaviour (no pacing: the 50 ms the page waits before each block and the round trips are
// what the time is made of). "ratio" is the eight's time over the one's (goal: at most 1.2).
//
// CORVANE_BENCH_FLEET_BYTES sets the firmware file's size (default 100,000 bytes, the
// largest); scripts/test.sh runs it once with a small file.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "core/firmware/firmware.h"
#include "tests/support/child_process.h"

namespace corvane {
namespace {

constexpr int kSwitchers = 8;

// A program as a child process with its standard output on a pipe; its standard error is the
// benchmark's own (keepOutput) or dropped.
std::unique_ptr<test::CChildProcess> Child(std::vector<std::string> words, bool keepOutput)
{
    test::SChildOptions o;
    o.err = keepOutput ? test::SChildOptions::Err::Inherited : test::SChildOptions::Err::Dropped;
    return std::make_unique<test::CChildProcess>(std::move(words), o);
}

std::size_t FileBytes()
{
    const char* env = std::getenv("CORVANE_BENCH_FLEET_BYTES");
    const long n = env ? std::atol(env) : 0;
    return n >= long(kFirmwareMinFile) && n <= long(kFirmwareMaxFile) ? std::size_t(n) : kFirmwareMaxFile;
}

// Seconds for `corvanectl --hosts ... firmware upgrade FILE` to the first count emulators;
// a negative number when the upgrade failed.
double Upgrade(const std::vector<std::string>& hosts, int count, const std::string& fw)
{
    std::string list;
    for (int k = 0; k < count; ++k)
        list += (k ? "," : "") + hosts[std::size_t(k)];
    const auto begin = std::chrono::steady_clock::now();
    const int status = Child({CORVANECTL_PATH, "--hosts", list, "firmware", "upgrade", fw}, false)->Finish();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    return status == 0 ? seconds : -1;
}

void BM_FleetFirmwareUpgrade(benchmark::State& state)
{
    char tmpl[] = "/tmp/corvane-bench-fleet-XXXXXX";
    if (!mkdtemp(tmpl)) {
        state.SkipWithError("mkdtemp");
        return;
    }
    const std::string dir = tmpl;
    setenv("CORVANE_PORT_DIR", dir.c_str(), 1);
    const std::size_t fileBytes = FileBytes();
    std::mt19937 rng(42);
    std::vector<uint8_t> image(fileBytes - kFirmwareLead);
    for (auto& b : image)
        b = uint8_t(rng());
    const std::string fw = dir + "/bench.fw";
    {
        const auto file = *PackFirmware(image);
        std::ofstream(fw, std::ios::binary).write(reinterpret_cast<const char*>(file.data()), std::streamsize(file.size()));
    }
    {
        std::vector<std::unique_ptr<test::CChildProcess>> sims;
        std::vector<std::string> hosts;
        for (int k = 0; k < kSwitchers; ++k) {
            sims.push_back(Child({CORVANE_SIM_PATH, "--tcp", "127.0.0.1:0", "--reboot-ms", "0", "--quiet"}, true));
            const std::string first = sims.back()->ReadLine(5000).value_or("");
            if (first.rfind("tcp: ", 0) == 0)
                hosts.push_back(first.substr(5));
        }
        if (hosts.size() != std::size_t(kSwitchers)) {
            state.SkipWithError("the emulators did not start");
        } else {
            for (auto _ : state) {
                const double one = Upgrade(hosts, 1, fw);
                const double eight = Upgrade(hosts, kSwitchers, fw);
                if (one < 0 || eight < 0) {
                    state.SkipWithError("an upgrade failed");
                    break;
                }
                state.SetIterationTime(eight);
                state.counters["bytes"] = double(fileBytes);
                state.counters["seconds_1"] = one;
                state.counters["seconds_8"] = eight;
                state.counters["ratio"] = eight / one;
            }
        }
    }
    std::filesystem::remove_all(dir);
}
BENCHMARK(BM_FleetFirmwareUpgrade)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace
}  // namespace corvane

BENCHMARK_MAIN();
