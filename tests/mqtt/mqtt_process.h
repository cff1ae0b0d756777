// The processes of a bridge test: a Mosquitto broker on a loopback port of its own, the bridge,
// and a watching client (libmosquitto in the test). Every wait is bounded and ends as soon as
// what it waits for has come. The test program defines CORVANE_MQTT_PATH.
#pragma once

#include <mosquitto.h>

#include <chrono>
#include <condition_variable>
#include <fstream>
#include <functional>
#include <mutex>

#include "tests/support/child_process.h"
#include "tests/support/sim_process.h"

namespace corvane::test {

inline constexpr int kBoundMs = 20000;

// A program with its standard output and error on one pipe, ended with SIGTERM.
class Child : public CChildProcess {
public:
    Child(const std::string& path, const std::vector<std::string>& args, std::vector<std::string> env)
        : CChildProcess(Words(path, args), Options(std::move(env)))
    {
    }
    std::string LineWith(const std::string& text, int boundMs = kBoundMs) { return CChildProcess::LineWith(text, boundMs); }

private:
    static std::vector<std::string> Words(const std::string& path, const std::vector<std::string>& args)
    {
        std::vector<std::string> words{path};
        words.insert(words.end(), args.begin(), args.end());
        return words;
    }
    static SChildOptions Options(std::vector<std::string> env)
    {
        env.push_back("PATH=/usr/sbin:/usr/bin:/sbin:/bin");
        SChildOptions o;
        o.env = std::move(env);
        return o;
    }
};

// Mosquitto on 127.0.0.1:port with a configuration of its own (extra lines appended).
class Broker {
public:
    Broker(const std::string& dir, const std::string& extra = "") : port(FreePort()), m_conf(dir + "/mosquitto.conf")
    {
        std::ofstream(m_conf) << "listener " << port << " 127.0.0.1\nuser root\npersistence false\n"
                              << (extra.empty() ? "allow_anonymous true\n" : extra);
        Start();
    }
    void Start()
    {
        m_child = std::make_unique<Child>("/usr/sbin/mosquitto", std::vector<std::string>{"-c", m_conf},
                                          std::vector<std::string>{});
        EXPECT_NE(m_child->LineWith(" running"), "") << m_child->log;
    }
    void Stop() { m_child.reset(); }
    int port;

private:
    std::string m_conf;
    std::unique_ptr<Child> m_child;
};

// A client of the broker that keeps every message it receives.
class Watcher {
public:
    struct Msg {
        std::string topic, payload;
        bool retain;
    };
    Watcher(int port, const std::vector<std::string>& filters = {"#"}, int version = MQTT_PROTOCOL_V311)
    {
        mosquitto_lib_init();
        m_mosq = mosquitto_new(nullptr, true, this);
        mosquitto_int_option(m_mosq, MOSQ_OPT_PROTOCOL_VERSION, version);
        mosquitto_message_callback_set(m_mosq, [](mosquitto*, void* me, const mosquitto_message* m) {
            auto* w = static_cast<Watcher*>(me);
            std::lock_guard lock(w->m_lock);
            if (w->m_sync == m->topic) {
                w->m_synced = true;
                return w->m_cv.notify_all();
            }
            w->m_msgs.push_back({m->topic, std::string(static_cast<const char*>(m->payload), std::size_t(m->payloadlen)),
                                 m->retain});
            w->m_cv.notify_all();
        });
        EXPECT_EQ(mosquitto_connect(m_mosq, "127.0.0.1", port, 30), MOSQ_ERR_SUCCESS);
        // The broker sends what it retained before a message published after the subscriptions:
        // once that message is here, every retained one is.
        m_sync = "corvane-test-sync/" + std::to_string(getpid()) + "/" + std::to_string(reinterpret_cast<uintptr_t>(this));
        for (const auto& f : filters)
            mosquitto_subscribe(m_mosq, nullptr, f.c_str(), 1);
        mosquitto_subscribe(m_mosq, nullptr, m_sync.c_str(), 1);
        mosquitto_publish(m_mosq, nullptr, m_sync.c_str(), 1, "s", 1, false);
        mosquitto_loop_start(m_mosq);
        std::unique_lock lock(m_lock);
        EXPECT_TRUE(m_cv.wait_for(lock, std::chrono::milliseconds(kBoundMs), [&] { return m_synced; }));
    }
    ~Watcher()
    {
        mosquitto_disconnect(m_mosq);
        mosquitto_loop_stop(m_mosq, false);
        mosquitto_destroy(m_mosq);
        mosquitto_lib_cleanup();
    }
    void Publish(const std::string& topic, const std::string& payload, bool retain = false)
    {
        EXPECT_EQ(mosquitto_publish(m_mosq, nullptr, topic.c_str(), int(payload.size()), payload.data(), 1, retain),
                  MOSQ_ERR_SUCCESS);
    }
    // The index of the first message from `from` on that passes, or -1 when none comes in time.
    int Await(const std::function<bool(const Msg&)>& pass, std::size_t from = 0, int boundMs = kBoundMs)
    {
        std::unique_lock lock(m_lock);
        int found = -1;
        m_cv.wait_for(lock, std::chrono::milliseconds(boundMs), [&] {
            for (std::size_t k = from; k < m_msgs.size(); ++k)
                if (pass(m_msgs[k]))
                    return found = int(k), true;
            return false;
        });
        return found;
    }
    int Await(const std::string& topic, const std::string& payload, std::size_t from = 0, int boundMs = kBoundMs)
    {
        return Await([&](const Msg& m) { return m.topic == topic && m.payload == payload; }, from, boundMs);
    }
    // Every message whose topic ends with the suffix, from `from` on.
    std::vector<Msg> On(const std::string& suffix, std::size_t from = 0)
    {
        std::lock_guard lock(m_lock);
        return OnLocked(suffix, from);
    }
    // Waits until at least n messages from `from` on have topics ending with the suffix.
    bool AwaitCount(const std::string& suffix, std::size_t n, std::size_t from = 0, int boundMs = kBoundMs)
    {
        std::unique_lock lock(m_lock);
        return m_cv.wait_for(lock, std::chrono::milliseconds(boundMs), [&] { return OnLocked(suffix, from).size() >= n; });
    }
    std::size_t Count()
    {
        std::lock_guard lock(m_lock);
        return m_msgs.size();
    }

private:
    std::vector<Msg> OnLocked(const std::string& suffix, std::size_t from) const
    {
        std::vector<Msg> r;
        for (std::size_t k = from; k < m_msgs.size(); ++k)
            if (m_msgs[k].topic.size() >= suffix.size() &&
                m_msgs[k].topic.compare(m_msgs[k].topic.size() - suffix.size(), suffix.size(), suffix) == 0)
                r.push_back(m_msgs[k]);
        return r;
    }

    mosquitto* m_mosq = nullptr;
    std::mutex m_lock;
    std::condition_variable m_cv;
    std::vector<Msg> m_msgs;
    std::string m_sync;
    bool m_synced = false;
};

}  // namespace corvane::test
