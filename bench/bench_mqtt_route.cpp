// A route change through corvane-mqtt against the same change with `corvanectl route`, on one
// emulator over a serial line paced as the real one (19200 baud): from the command published to
// the broker until the new route is published, against corvanectl's whole run. "ratio" is the
// bridge's time over corvanectl's (goal: at most 1.1). A Mosquitto broker on a loopback port of
// its own carries the messages.
#include <benchmark/benchmark.h>

#include <mosquitto.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "tests/support/child_process.h"

namespace corvane {
namespace {

constexpr int kChanges = 12;
const std::string kPrefix = "bench/matrix";

using test::CChildProcess;
using test::FreePort;

// A client that waits for one topic to carry one payload.
class CWatcher {
public:
    explicit CWatcher(int port)
    {
        mosquitto_lib_init();
        m_mosq = mosquitto_new(nullptr, true, this);
        mosquitto_int_option(m_mosq, MOSQ_OPT_TCP_NODELAY, 1);  // as the bridge: no Nagle wait
        mosquitto_message_callback_set(m_mosq, [](mosquitto*, void* me, const mosquitto_message* m) {
            auto* w = static_cast<CWatcher*>(me);
            std::lock_guard lock(w->m_lock);
            w->m_last[m->topic] = std::string(static_cast<const char*>(m->payload), std::size_t(m->payloadlen));
            w->m_cv.notify_all();
        });
        m_ok = mosquitto_connect(m_mosq, "127.0.0.1", port, 30) == MOSQ_ERR_SUCCESS &&
               mosquitto_subscribe(m_mosq, nullptr, (kPrefix + "/#").c_str(), 1) == MOSQ_ERR_SUCCESS &&
               mosquitto_loop_start(m_mosq) == MOSQ_ERR_SUCCESS;
    }
    ~CWatcher()
    {
        mosquitto_disconnect(m_mosq);
        mosquitto_loop_stop(m_mosq, false);
        mosquitto_destroy(m_mosq);
        mosquitto_lib_cleanup();
    }
    bool Ok() const { return m_ok; }
    bool Await(const std::string& topic, const std::string& payload, int ms)
    {
        std::unique_lock lock(m_lock);
        return m_cv.wait_for(lock, std::chrono::milliseconds(ms), [&] { return m_last[topic] == payload; });
    }
    void Forget(const std::string& topic)
    {
        std::lock_guard lock(m_lock);
        m_last.erase(topic);
    }
    void Publish(const std::string& topic, const std::string& payload)
    {
        mosquitto_publish(m_mosq, nullptr, topic.c_str(), int(payload.size()), payload.data(), 1, false);
    }

private:
    mosquitto* m_mosq = nullptr;
    bool m_ok = false;
    std::mutex m_lock;
    std::condition_variable m_cv;
    std::map<std::string, std::string> m_last;
};

double Since(std::chrono::steady_clock::time_point t)
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t).count();
}

void BM_MqttRouteAgainstCorvanectl(benchmark::State& state)
{
    char tmpl[] = "/tmp/corvane-bench-mqtt-XXXXXX";
    if (!mkdtemp(tmpl)) {
        state.SkipWithError("mkdtemp");
        return;
    }
    const std::string dir = tmpl;
    setenv("CORVANE_PORT_DIR", dir.c_str(), 1);
    {
        CChildProcess sim({CORVANE_SIM_PATH, "--serial", "--pace-line", "--quiet"});
        const std::string first = sim.LineWith("serial: com", 5000);
        const std::string com = first.empty() ? "" : "COM" + first.substr(11, first.find(' ', 11) - 11);
        const int brokerPort = FreePort();
        std::ofstream(dir + "/mosquitto.conf") << "listener " << brokerPort
                                               << " 127.0.0.1\nallow_anonymous true\nuser root\npersistence false\nset_tcp_nodelay true\n";
        for (auto _ : state) {
            if (com.empty()) {
                state.SkipWithError("the emulator did not start");
                break;
            }
            // corvanectl: the whole run, as a script sees it.
            double ctl = 0;
            for (int k = 0; k < kChanges; ++k) {
                const auto t = std::chrono::steady_clock::now();
                CChildProcess run({CORVANECTL_PATH, "route", std::to_string(k % 4 + 1), "1", "--port", com});
                if (run.Finish() != 0) {
                    state.SkipWithError("corvanectl route failed");
                    return;
                }
                ctl += Since(t);
            }
            // The bridge: from the command published to the new route published.
            CChildProcess broker({"/usr/sbin/mosquitto", "-c", dir + "/mosquitto.conf"});
            if (broker.LineWith(" running", 5000).empty()) {
                state.SkipWithError("the broker did not start");
                break;
            }
            CChildProcess bridge({CORVANE_MQTT_PATH, "--broker", "127.0.0.1:" + std::to_string(brokerPort), "--port", com,
                           "--prefix", kPrefix, "--interval", "600000"});
            CWatcher watcher(brokerPort);
            if (!watcher.Ok() || !watcher.Await(kPrefix + "/output/1/input", std::to_string((kChanges - 1) % 4 + 1), 10000)) {
                state.SkipWithError("the bridge did not publish the state");
                break;
            }
            double mqtt = 0;
            for (int k = 0; k < kChanges; ++k) {
                const std::string input = std::to_string(k % 4 + 1);
                watcher.Forget(kPrefix + "/result");
                const auto t = std::chrono::steady_clock::now();
                watcher.Publish(kPrefix + "/output/1/input/set", input);
                if (!watcher.Await(kPrefix + "/output/1/input", input, 10000)) {
                    state.SkipWithError("the route was not published");
                    return;
                }
                mqtt += Since(t);
                // The read-back and the result follow; the next command waits for them.
                watcher.Await(kPrefix + "/result", "{\"command\":\"output/1/input\",\"value\":\"" + input +
                                                       "\",\"ok\":true,\"error\":\"\"}", 10000);
            }
            state.SetIterationTime(mqtt / kChanges / 1000);
            state.counters["corvanectl_ms"] = ctl / kChanges;
            state.counters["mqtt_ms"] = mqtt / kChanges;
            state.counters["ratio"] = mqtt / ctl;
        }
    }
    std::filesystem::remove_all(dir);
}
BENCHMARK(BM_MqttRouteAgainstCorvanectl)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace corvane

BENCHMARK_MAIN();
