// The bridge: one MQTT connection (libmosquitto, on its own network thread) and one switcher
// link (on the main thread, in its Qt Core event loop). The network thread only queues
// commands and wakes the main thread; the main thread reads the switcher every interval, carries
// out the queued commands one at a time in arrival order and publishes what it learns.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <ostream>
#include <set>
#include <string>

#include <QObject>
#include <QTimer>

#include "mqtt/options.h"
#include "mqtt/switcher_link.h"
#include "mqtt/topics.h"

struct mosquitto;
struct mosquitto_message;

namespace corvane::mqtt {

// Commands waiting for the switcher; more are answered at once with an error.
inline constexpr std::size_t kQueueBound = 64;
// The switcher's reconnection back-off: from the first to the longest wait.
inline constexpr unsigned kFirstRetryMs = 500;
inline constexpr unsigned kLongestRetryMs = 10000;

// One line on standard error, whichever thread writes it.
void Log(const std::string& line);

class CMqttClient;

class CBridge {
public:
    CBridge(SOptions options, std::string password);
    ~CBridge();
    CBridge(const CBridge&) = delete;
    CBridge& operator=(const CBridge&) = delete;

    // Runs until *stop turns true (a signal): 0, or 1 when the MQTT client could not be set up.
    int Run(const volatile std::sig_atomic_t* stop);
    // --remove-discovery: the discovery documents and retained topics cleared; 0 when the
    // broker took every removal.
    int RemoveDiscovery();

    // The main thread looks at the queue and the clock (from any thread).
    void Wake();

private:
    struct SQueued {
        std::string topic, payload;
    };
    void OnMessage(const mosquitto_message& message);
    void OnConnected();
    void Pump();
    void Carry(const SQueued& item);
    void Reading();
    void SetOnline(bool online, const std::string& why);
    void PublishState();
    void PublishDiscovery();
    void Publish(const std::string& topic, const std::string& payload, bool retain);
    void PublishChanged(const SMessage& m);

    SOptions m_options;
    std::string m_password;
    std::string m_id;
    STopics m_topics;
    CSwitcherLink m_link;
    std::unique_ptr<CMqttClient> m_client;
    QObject m_context;  // queued calls onto the main thread
    QTimer m_timer;     // the next reading or reconnection attempt

    std::mutex m_queueLock;
    std::deque<SQueued> m_queue;
    std::atomic<bool> m_connected{false};  // the broker session just began: republish all
    std::atomic<bool> m_disconnected{false};

    // Main thread only.
    const volatile std::sig_atomic_t* m_stop = nullptr;
    bool m_busy = false;
    bool m_brokerUp = false;
    bool m_online = false;
    bool m_known = false;  // a reading has succeeded since start
    std::string m_offlineWhy;
    SPublishedState m_state;
    std::map<std::string, std::string> m_published;  // retained topic -> payload last sent
    std::string m_discoveredFor;                    // the device part the documents were made with
    std::chrono::steady_clock::time_point m_next;
    unsigned m_retryMs = kFirstRetryMs;
};

}  // namespace corvane::mqtt
