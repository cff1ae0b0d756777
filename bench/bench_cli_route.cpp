// `corvanectl route 3 1` over a serial line paced as the real one (19200 baud), as a script sees
// it (the whole process, start-up and exit included), against the least a client process can do
// for the same exchange on the same emulator: ideal_serial_client writes the frames corvanectl's
// --trace shows and reads each answer, nothing more. The runs alternate, and the medians are
// compared: "ratio" is corvanectl's over the ideal client's (goal: at most 1.1). What is left
// above 1 is start-up, the link's set-up and exit.
//
// CORVANE_BENCH_CLI_RUNS sets the number of runs of each (default 11).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <csignal>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/child_process.h"

namespace corvane {
namespace {

using test::CChildProcess;
using test::SChildOptions;

int Runs()
{
    const char* env = std::getenv("CORVANE_BENCH_CLI_RUNS");
    const int n = env ? std::atoi(env) : 0;
    return n >= 1 && n <= 1000 ? n : 11;
}

// No run may take longer: one that hangs is killed and counts as failed.
constexpr int kRunBoundMs = 10000;

// Milliseconds from the start of the process to its end; negative when it did not exit 0 within
// the bound.
double TimedRun(std::vector<std::string> words)
{
    SChildOptions o;
    o.err = SChildOptions::Err::Dropped;
    o.endSignal = SIGKILL;
    const auto begin = std::chrono::steady_clock::now();
    CChildProcess run(std::move(words), o);
    std::string out, err;
    run.Collect(out, err, kRunBoundMs);
    const int status = run.Wait(kRunBoundMs);
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - begin).count();
    return status == 0 ? ms : -1;
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// The frames corvanectl sends for the command ("TX A5 5B ..." trace lines), as hex text.
std::vector<std::string> SentFrames(const std::string& trace)
{
    std::vector<std::string> frames;
    std::istringstream lines(trace);
    for (std::string line; std::getline(lines, line);)
        if (line.rfind("TX ", 0) == 0)
            frames.push_back(line.substr(3));
    return frames;
}

void BM_CliRouteAgainstIdealClient(benchmark::State& state)
{
    char tmpl[] = "/tmp/corvane-bench-cli-XXXXXX";
    if (!mkdtemp(tmpl)) {
        state.SkipWithError("mkdtemp");
        return;
    }
    const std::string dir = tmpl;
    setenv("CORVANE_PORT_DIR", dir.c_str(), 1);
    {
        CChildProcess sim({CORVANE_SIM_PATH, "--serial", "--pace-line", "--quiet"});
        const std::string first = sim.LineWith("serial: com", 5000);
        const std::string number = first.empty() ? "" : first.substr(11, first.find(' ', 11) - 11);
        const std::vector<std::string> route = {CORVANECTL_PATH, "route", "3", "1", "--port", "COM" + number};
        std::vector<std::string> ideal = {IDEAL_SERIAL_CLIENT_PATH, dir + "/com" + number};
        if (!number.empty()) {
            SChildOptions o;
            o.err = SChildOptions::Err::Own;
            o.endSignal = SIGKILL;
            std::vector<std::string> traced = route;
            traced.push_back("--trace");
            CChildProcess run(traced, o);
            std::string out, err;
            run.Collect(out, err, kRunBoundMs);
            if (run.Wait(kRunBoundMs) == 0)
                for (const std::string& frame : SentFrames(err))
                    ideal.push_back(frame);
        }
        for (auto _ : state) {
            if (number.empty()) {
                state.SkipWithError("the emulator did not start");
                break;
            }
            if (ideal.size() <= 2) {
                state.SkipWithError("corvanectl --trace route showed no frame");
                break;
            }
            std::vector<double> ctl, floor;
            for (int k = 0; k < Runs() && !state.error_occurred(); ++k) {
                ctl.push_back(TimedRun(route));
                floor.push_back(TimedRun(ideal));
                if (ctl.back() < 0 || floor.back() < 0)
                    state.SkipWithError(ctl.back() < 0 ? "corvanectl route failed" : "the ideal client failed");
            }
            if (state.error_occurred())
                break;
            const double c = Median(ctl), f = Median(floor);
            state.SetIterationTime(c / 1000);
            state.counters["corvanectl_ms"] = c;
            state.counters["ideal_ms"] = f;
            state.counters["frames"] = double(ideal.size() - 2);
            state.counters["ratio"] = c / f;
        }
    }
    std::filesystem::remove_all(dir);
}
BENCHMARK(BM_CliRouteAgainstIdealClient)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace corvane

BENCHMARK_MAIN();
