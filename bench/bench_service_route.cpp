// corvaned's speed and scale against emulator processes (figures printed, not judged):
//  - a route through the API against the same route through the MQTT bridge, on one serial line
//    paced as the real one: each from the command sent until its answer after the read-back
//    ("ratio", goal at most 1.1);
//  - 64 emulators on loopback TCP held by one service: its memory once all are read (goal at
//    most 64 MB), its processor time between readings (goal under 1 % of one core), and the
//    median of a route on one switcher while the other 63 are read against the same route with
//    that switcher alone ("ratio", goal at most 1.05), the two taken in turn, 1000 each, and as
//    many again with every process on one processor ("ratio_one_cpu"), where the place the
//    scheduler gives each process does not enter the figures.
#include <benchmark/benchmark.h>

#include <mosquitto.h>
#include <sched.h>
#include <sys/resource.h>

#include <algorithm>
#include <array>
#include <condition_variable>
#include <mutex>
#include <fstream>
#include <thread>

#include "tests/service/service_process.h"

namespace corvane {
namespace {

using namespace test;

double Since(std::chrono::steady_clock::time_point t)
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t).count();
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// The process's resident memory in KiB, and its processor time in ms, from /proc.
long RssKiB(int pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(in, line);)
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
}
double CpuMs(int pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string all((std::istreambuf_iterator<char>(in)), {});
    std::istringstream rest(all.substr(all.rfind(')') + 2));
    std::string field;
    long ticks = 0;
    for (int k = 3; k <= 15 && rest >> field; ++k)
        if (k >= 14)
            ticks += std::stol(field);
    return 1000.0 * double(ticks) / double(sysconf(_SC_CLK_TCK));
}

// A client of the broker that waits for a message carrying a text (libmosquitto, in process,
// as the bridge's own client: no process started per command).
class CMqtt {
public:
    explicit CMqtt(int port)
    {
        mosquitto_lib_init();
        m_mosq = mosquitto_new(nullptr, true, this);
        mosquitto_int_option(m_mosq, MOSQ_OPT_TCP_NODELAY, 1);
        mosquitto_message_callback_set(m_mosq, [](mosquitto*, void* me, const mosquitto_message* m) {
            auto* c = static_cast<CMqtt*>(me);
            std::lock_guard lock(c->m_lock);
            c->m_got.emplace_back(static_cast<const char*>(m->payload), std::size_t(m->payloadlen));
            c->m_cv.notify_all();
        });
        mosquitto_subscribe_callback_set(m_mosq, [](mosquitto*, void* me, int, int, const int*) {
            auto* c = static_cast<CMqtt*>(me);
            std::lock_guard lock(c->m_lock);
            c->m_subscribed = true;
            c->m_cv.notify_all();
        });
        m_ok = mosquitto_connect(m_mosq, "127.0.0.1", port, 30) == MOSQ_ERR_SUCCESS &&
               mosquitto_subscribe(m_mosq, nullptr, "bench/m/result", 1) == MOSQ_ERR_SUCCESS &&
               mosquitto_loop_start(m_mosq) == MOSQ_ERR_SUCCESS;
        std::unique_lock lock(m_lock);
        m_ok = m_ok && m_cv.wait_for(lock, std::chrono::seconds(10), [this] { return m_subscribed; });
    }
    ~CMqtt()
    {
        mosquitto_disconnect(m_mosq);
        mosquitto_loop_stop(m_mosq, false);
        mosquitto_destroy(m_mosq);
        mosquitto_lib_cleanup();
    }
    // Publishes the route and waits for its result.
    bool Route(const std::string& input)
    {
        std::unique_lock lock(m_lock);
        m_got.clear();
        mosquitto_publish(m_mosq, nullptr, "bench/m/output/1/input/set", int(input.size()), input.data(), 1, false);
        const std::string want = "\"value\":\"" + input + "\",\"ok\":true";
        return m_ok && m_cv.wait_for(lock, std::chrono::seconds(20), [&] {
            return std::any_of(m_got.begin(), m_got.end(), [&](const std::string& g) { return g.find(want) != std::string::npos; });
        });
    }

private:
    mosquitto* m_mosq = nullptr;
    bool m_ok = false;
    std::mutex m_lock;
    std::condition_variable m_cv;
    std::vector<std::string> m_got;
    bool m_subscribed = false;
};

// The processes (0: this one) on the first processor only, or back on every one.
void PinToOneCpu(const std::vector<int>& pids, bool one)
{
    cpu_set_t set;
    CPU_ZERO(&set);
    for (int cpu = 0; cpu < (one ? 1 : CPU_SETSIZE); ++cpu)
        CPU_SET(cpu, &set);
    for (int pid : pids)
        sched_setaffinity(pid, sizeof set, &set);
}

std::vector<double> ApiRoutes(Service& s, const std::string& id, int n, int first = 0)
{
    std::vector<double> times;
    for (int k = first; k < first + n; ++k) {
        const auto t = std::chrono::steady_clock::now();
        const HttpReply r = s.Post("/api/switchers/" + id + "/route", R"({"output":1,"input":)" + std::to_string(k % 4 + 1) + "}");
        if (r.status != 200 || r.body.find(R"("ok":true)") == std::string::npos)
            return {};
        times.push_back(Since(t));
    }
    return times;
}

void BM_ApiRouteAgainstMqtt(benchmark::State& state)
{
    TempDir dir;
    setenv("CORVANE_PORT_DIR", dir.path.c_str(), 1);
    SimProcess sim({"--serial", "--pace-line", "--quiet"}, dir.path);
    const std::string com = "COM" + sim.Find("serial: com(\\d+)");
    const int brokerPort = FreePort();
    std::ofstream(dir.path + "/mosquitto.conf")
        << "listener " << brokerPort << " 127.0.0.1\nallow_anonymous true\nuser root\npersistence false\nset_tcp_nodelay true\n";
    for (auto _ : state) {
        // The bridge: a command published until its result (sent after the read-back) arrives.
        CChildProcess broker({"/usr/sbin/mosquitto", "-c", dir.path + "/mosquitto.conf"});
        CChildProcess bridge({CORVANE_MQTT_PATH, "--broker", "127.0.0.1:" + std::to_string(brokerPort), "--port", com,
                              "--prefix", "bench/m", "--interval", "600000"});
        if (broker.LineWith(" running", 5000).empty() || bridge.LineWith("switcher online", 20000).empty()) {
            state.SkipWithError("the broker or the bridge did not start");
            return;
        }
        CMqtt client(brokerPort);
        std::vector<double> mqtt, api;
        for (int k = 0; k < 12; ++k) {
            const std::string input = std::to_string(k % 4 + 1);
            const auto t = std::chrono::steady_clock::now();
            if (!client.Route(input)) {
                state.SkipWithError("no result from the bridge");
                return;
            }
            mqtt.push_back(Since(t));
        }
        bridge.Terminate();
        Service service({"--port", com + "=desk", "--web", "127.0.0.1:0", "--interval", "600000"}, dir.path);
        if (service.LineWith("desk: switcher online").empty() || (api = ApiRoutes(service, "desk", 12)).empty()) {
            state.SkipWithError("the service did not route");
            return;
        }
        state.SetIterationTime(Median(api) / 1000);
        state.counters["api_ms"] = Median(api);
        state.counters["mqtt_ms"] = Median(mqtt);
        state.counters["ratio"] = Median(api) / Median(mqtt);
    }
}
BENCHMARK(BM_ApiRouteAgainstMqtt)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_SiteOf64(benchmark::State& state)
{
    TempDir dir;
    rlimit files{4096, 4096};
    setrlimit(RLIMIT_NOFILE, &files);
    std::vector<std::unique_ptr<SimProcess>> sims;
    std::vector<std::string> args{"--web", "127.0.0.1:0", "--interval", "2000"};
    for (int k = 0; k < 65; ++k) {
        sims.push_back(std::make_unique<SimProcess>(std::vector<std::string>{"--tcp", "0", "--quiet"}, dir.path));
        const std::string at = "127.0.0.1:" + sims.back()->Find("tcp: 127.0.0.1:(\\d+)");
        if (k < 64)
            args.insert(args.end(), {"--host", at + "=s" + std::to_string(k)});
        else
            args.insert(args.begin(), {"--host", at + "=s0"});  // the switcher alone: an emulator of its own
    }
    for (auto _ : state) {
        // A service holding one switcher alone (read as often) and one holding 64, side by side, so
        // that the load of the machine is the same for both; their routes taken in turn. Each round
        // starts both again, so that no one placement of the processes decides the figures.
        // Odd rounds run every process of the benchmark on one processor: what then differs is the
        // services' own work, not where the scheduler happened to place them.
        std::vector<double> alone, among, aloneOneCpu, amongOneCpu;
        double rss = 0;
        for (int round = 0; round < 20; ++round) {
            Service one({args[0], args[1], "--web", "127.0.0.1:0", "--interval", "2000"}, dir.path);
            Service site(std::vector<std::string>(args.begin() + 2, args.end()), dir.path);
            one.LineWith("s0: switcher online");
            for (int seen = 0; seen < 64 && !site.LineWith("switcher online").empty();)
                ++seen;
            std::vector<int> pids{0, one.Pid(), site.Pid()};
            for (const auto& sim : sims)
                pids.push_back(sim->Pid());
            const bool oneCpu = round % 2;
            PinToOneCpu(pids, oneCpu);
            for (int k = 0; k < 100; ++k) {
                // Which goes first changes every time: neither gains from following the other.
                const std::pair<Service*, std::vector<double>*> first{&site, oneCpu ? &amongOneCpu : &among},
                    second{&one, oneCpu ? &aloneOneCpu : &alone};
                for (auto [service, times] : k % 2 ? std::array{first, second} : std::array{second, first}) {
                    const auto route = ApiRoutes(*service, "s0", 1, k);
                    if (route.empty()) {
                        state.SkipWithError("a route failed");
                        return;
                    }
                    times->push_back(route.front());
                }
            }
            PinToOneCpu(pids, false);
            rss = std::max(rss, double(RssKiB(site.Pid())) / 1024);
        }
        state.SetIterationTime(Median(among) / 1000);
        state.counters["alone_ms"] = Median(alone);
        state.counters["among_63_ms"] = Median(among);
        state.counters["ratio"] = Median(among) / Median(alone);
        state.counters["ratio_one_cpu"] = Median(amongOneCpu) / Median(aloneOneCpu);
        state.counters["rss_MiB"] = rss;
    }
    {
        // Processor time between readings: the same site read once a minute, over 5 s after
        // the first readings.
        std::vector<std::string> slow(args.begin() + 2, args.end());
        slow[3] = "60000";
        Service idle(slow, dir.path);
        for (int seen = 0; seen < 64 && !idle.LineWith("switcher online").empty();)
            ++seen;
        const double before = CpuMs(idle.Pid());
        std::this_thread::sleep_for(std::chrono::seconds(5));
        state.counters["idle_cpu_percent"] = (CpuMs(idle.Pid()) - before) / 5000 * 100;
    }
}
BENCHMARK(BM_SiteOf64)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace corvane

BENCHMARK_MAIN();
