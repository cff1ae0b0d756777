// A firmware upgrade to eight switchers at once with `corvanectl --hosts`, against one with the
// same command: eight emulator processes on loopback TCP ports, each with its real TCP
// behaviour (no pacing: the 50 ms the page waits before each block and the round trips are
// what the time is made of). "ratio" is the eight's time over the one's (goal: at most 1.2).
//
// CORVANE_BENCH_FLEET_BYTES sets the firmware file's size (default 100,000 bytes, the
// largest); scripts/test.sh runs it once with a small file.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "core/firmware/firmware.h"

namespace corvane {
namespace {

constexpr int kSwitchers = 8;

// A program as a child process with its standard output on a pipe.
class CChild {
public:
    CChild(const std::vector<std::string>& args, bool keepOutput)
    {
        int out[2];
        if (pipe2(out, O_CLOEXEC) != 0)
            return;
        m_pid = fork();
        if (m_pid == 0) {
            dup2(out[1], 1);
            if (!keepOutput) {
                const int null = open("/dev/null", O_WRONLY);
                dup2(null, 2);
            }
            std::vector<char*> argv;
            for (const auto& a : args)
                argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(out[1]);
        m_out = out[0];
    }
    ~CChild()
    {
        if (m_pid > 0 && !m_reaped) {
            kill(m_pid, SIGTERM);
            Wait();
        }
        if (m_out >= 0)
            close(m_out);
    }
    // The next line of output within ms, or "".
    std::string Line(int ms)
    {
        std::string line;
        char c;
        pollfd p{m_out, POLLIN, 0};
        while (poll(&p, 1, ms) > 0 && read(m_out, &c, 1) == 1 && c != '\n')
            line += c;
        return line;
    }
    // Everything until the end of output, then the exit status.
    int Finish()
    {
        char chunk[4096];
        while (read(m_out, chunk, sizeof chunk) > 0) {
        }
        return Wait();
    }

private:
    int Wait()
    {
        if (m_pid <= 0)
            return 127;  // never started: waitpid(-1) would reap another child
        int status = 0;
        waitpid(m_pid, &status, 0);
        m_reaped = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    pid_t m_pid = -1;
    int m_out = -1;
    bool m_reaped = false;
};

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
    CChild ctl({CORVANECTL_PATH, "--hosts", list, "firmware", "upgrade", fw}, false);
    const int status = ctl.Finish();
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
        std::vector<std::unique_ptr<CChild>> sims;
        std::vector<std::string> hosts;
        for (int k = 0; k < kSwitchers; ++k) {
            sims.push_back(std::make_unique<CChild>(
                std::vector<std::string>{CORVANE_SIM_PATH, "--tcp", "127.0.0.1:0", "--reboot-ms", "0", "--quiet"}, true));
            const std::string first = sims.back()->Line(5000);
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
