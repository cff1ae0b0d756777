// The bridge: one MQTT connection (libmosquitto, on its own network thread) and one switcher
// link (on the main thread, in its Qt Core event loop). The network thread only queues
// commands and wakes the main thread; the main thread reads the switcher every interval, carries
// out the queued commands one at a time in arrival order and publishes what it learns.
#pragma once

#include <algorithm>
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

// Commands waiting for the switcher, by count and by their payloads' bytes; more are answered
// at once with an error.
inline constexpr std::size_t kQueueBound = 64;
inline constexpr std::size_t kQueueBytes = 4 * kSceneMaxBytes;
// The largest packet the bridge takes (announced with MQTT 5): a scene, its topic and properties.
inline constexpr std::size_t kMaxPacketBytes = kSceneMaxBytes + 64 * 1024;
// The switcher's reconnection back-off: from the first to the longest wait.
inline constexpr unsigned kFirstRetryMs = 500;
inline constexpr unsigned kLongestRetryMs = 10000;

// When the next reading is due: an interval after the start of the last good one (so that
// readings keep their pace), or after a failure a wait that doubles up to the longest.
class CReadingClock {
public:
    using TimePoint = std::chrono::steady_clock::time_point;
    void Started(TimePoint now) { m_start = now; }
    // The reading that started last has succeeded: the next one.
    TimePoint Succeeded(unsigned intervalMs)
    {
        m_retryMs = kFirstRetryMs;
        return m_start + std::chrono::milliseconds(intervalMs);
    }
    TimePoint Failed(TimePoint now)
    {
        const auto next = now + std::chrono::milliseconds(m_retryMs);
        m_retryMs = std::min(m_retryMs * 2, kLongestRetryMs);
        return next;
    }

private:
    TimePoint m_start{};
    unsigned m_retryMs = kFirstRetryMs;
};

// One line on standard error, whichever thread writes it.
void Log(const std::string& line);

class CMqttClient;

// MQTT 5: where a command asked its result to go too, and what to send back with it.
struct SReply {
    std::string topic, correlation;
};

// The retained topics of one device: its prefix and its discovery id.
struct SRetainedDevice {
    STopics topics;
    std::string id;
};
// Clears every retained topic of the devices (discovery documents, states, availabilities) and
// of the connection that publishes them; 0 when the broker took every removal. Refused while
// that connection is online (running: who it is, for the refusal) unless options.force.
// program: the name the log lines start with.
int RemoveRetained(const SOptions& options, const std::string& clientId, const std::string& password,
                   const std::vector<SRetainedDevice>& devices, const std::string& running, const std::string& program);

class CBridge {
public:
    CBridge(SOptions options, std::string password);
    ~CBridge();
    CBridge(const CBridge&) = delete;
    CBridge& operator=(const CBridge&) = delete;

    // Runs until *stop turns true (a signal): 0, or 1 when the MQTT client could not be set up.
    int Run(const volatile std::sig_atomic_t* stop);
    // --remove-discovery: the discovery documents and retained topics cleared; 0 when the
    // broker took every removal. Refused while the bridge runs (its availability is online)
    // unless forced.
    int RemoveDiscovery();
    // The bridge's id and its MQTT client id.
    const std::string& Id() const { return m_id; }
    const std::string& ClientId() const { return m_clientId; }
    const STopics& Topics() const { return m_topics; }

    // The main thread looks at the queue and the clock (from any thread).
    void Wake();

private:
    struct SQueued {
        std::string topic, payload;
        std::string refused;  // refused unread (too long): why
        std::string responseTopic, correlation;  // MQTT 5: where the result goes too
    };
    void OnMessage(const mosquitto_message& message, const SReply& reply);
    void OnConnected();
    void Pump();
    void Carry(const SQueued& item);
    void Reading();
    void SetOnline(bool online, const std::string& why);
    void PublishState();
    void PublishDiscovery();
    void PublishAll();
    void PublishResult(const SQueued& item, const std::string& name, const SOutcome& outcome);
    void Publish(const std::string& topic, const std::string& payload, bool retain);
    void PublishChanged(const SMessage& m);
    void ReadScenes();

    SOptions m_options;
    std::string m_password;
    std::string m_id;
    std::string m_clientId;
    STopics m_topics;
    CSwitcherLink m_link;
    std::unique_ptr<CMqttClient> m_client;
    QObject m_context;  // queued calls onto the main thread
    QTimer m_timer;     // the next reading or reconnection attempt

    std::mutex m_queueLock;
    std::deque<SQueued> m_queue;
    std::size_t m_queueBytes = 0;
    std::atomic<bool> m_connected{false};  // the broker session just began: republish all
    std::atomic<bool> m_haOnline{false};   // Home Assistant (re)started: republish all
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
    CReadingClock m_clock;
    std::vector<SPreset> m_presets;  // --scenes: the scene files, by name
};

}  // namespace corvane::mqtt
