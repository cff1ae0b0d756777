#include "mqtt/bridge.h"

#include <mosquitto.h>

#include <QCoreApplication>
#include <cstring>
#include <iostream>

namespace corvane::mqtt {

namespace {
std::mutex g_logLock;
constexpr int kQos = 1;
constexpr auto kPublishWait = std::chrono::seconds(3);

// libmosquitto's text for an error, without its full stop (it ends a clause here).
std::string ErrorText(int rc)
{
    std::string text = mosquitto_strerror(rc);
    if (!text.empty() && text.back() == '.')
        text.pop_back();
    return text;
}
}  // namespace

void Log(const std::string& line)
{
    std::lock_guard lock(g_logLock);
    std::cerr << "corvane-mqtt: " << line << '\n' << std::flush;
}

// libmosquitto with its network thread: connects, reconnects with a bounded back-off, and
// hands every event to the functions below (on its thread).
class CMqttClient {
public:
    std::function<void()> onConnected, onDisconnected;
    std::function<void(const mosquitto_message&)> onMessage;

    CMqttClient() { mosquitto_lib_init(); }
    ~CMqttClient()
    {
        if (m_mosq) {
            if (m_started)
                mosquitto_loop_stop(m_mosq, true);
            mosquitto_destroy(m_mosq);
        }
        mosquitto_lib_cleanup();
    }

    // Sets the client up; false with the reason.
    bool Setup(const SOptions& o, const std::string& clientId, const std::string& password, const std::string& will,
               std::string& error)
    {
        m_mosq = mosquitto_new(clientId.c_str(), true, this);
        if (!m_mosq) {
            error = std::string("cannot make an MQTT client: ") + std::strerror(errno);
            return false;
        }
        mosquitto_int_option(m_mosq, MOSQ_OPT_PROTOCOL_VERSION, o.mqttVersion == 5 ? MQTT_PROTOCOL_V5 : MQTT_PROTOCOL_V311);
        // A state and its result go out one right after the other: Nagle's wait for the first's
        // acknowledgement would hold the second back by a delayed ACK (40 ms).
        mosquitto_int_option(m_mosq, MOSQ_OPT_TCP_NODELAY, 1);
        int rc = MOSQ_ERR_SUCCESS;
        if (!o.username.empty())
            rc = mosquitto_username_pw_set(m_mosq, o.username.c_str(), o.passwordFile.empty() ? nullptr : password.c_str());
        if (rc == MOSQ_ERR_SUCCESS && !o.tlsCa.empty())
            rc = mosquitto_tls_set(m_mosq, o.tlsCa.c_str(), nullptr, o.tlsCert.empty() ? nullptr : o.tlsCert.c_str(),
                                   o.tlsKey.empty() ? nullptr : o.tlsKey.c_str(), nullptr);
        if (rc == MOSQ_ERR_SUCCESS && !will.empty())
            rc = mosquitto_will_set(m_mosq, will.c_str(), 7, "offline", kQos, true);
        if (rc != MOSQ_ERR_SUCCESS) {
            error = std::string("MQTT client: ") + ErrorText(rc);
            return false;
        }
        mosquitto_reconnect_delay_set(m_mosq, 1, 30, true);
        mosquitto_connect_callback_set(m_mosq, [](mosquitto*, void* self, int rc) {
            static_cast<CMqttClient*>(self)->Connected(rc);
        });
        mosquitto_disconnect_callback_set(m_mosq, [](mosquitto*, void* self, int rc) {
            static_cast<CMqttClient*>(self)->Disconnected(rc);
        });
        mosquitto_message_callback_set(m_mosq, [](mosquitto*, void* self, const mosquitto_message* m) {
            auto* me = static_cast<CMqttClient*>(self);
            if (me->onMessage && m)
                me->onMessage(*m);
        });
        mosquitto_publish_callback_set(m_mosq, [](mosquitto*, void* self, int mid) {
            static_cast<CMqttClient*>(self)->Acknowledged(mid);
        });
        return true;
    }

    // Starts the network thread, which connects and stays connected.
    bool Start(const SOptions& o, std::string& error)
    {
        m_where = o.brokerHost + ":" + std::to_string(o.BrokerPort());
        const int rc = mosquitto_connect_async(m_mosq, o.brokerHost.c_str(), o.BrokerPort(), o.keepalive);
        if (rc != MOSQ_ERR_SUCCESS && rc != MOSQ_ERR_ERRNO) {
            error = m_where + ": " + ErrorText(rc);
            return false;
        }
        if (rc == MOSQ_ERR_ERRNO)  // refused or unreachable now: the network thread tries again
            Log("broker " + m_where + ": " + std::strerror(errno) + "; trying again");
        const int started = mosquitto_loop_start(m_mosq);
        if (started != MOSQ_ERR_SUCCESS) {
            error = std::string("MQTT network thread: ") + ErrorText(started);
            return false;
        }
        m_started = true;
        return true;
    }

    void Subscribe(const std::vector<std::string>& filters)
    {
        for (const auto& f : filters)
            mosquitto_subscribe(m_mosq, nullptr, f.c_str(), kQos);
    }

    void Publish(const std::string& topic, const std::string& payload, bool retain)
    {
        int mid = 0;
        std::lock_guard lock(m_lock);  // the acknowledgement may come before mid is known here
        const int rc = mosquitto_publish(m_mosq, &mid, topic.c_str(), static_cast<int>(payload.size()),
                                         payload.data(), kQos, retain);
        if (rc == MOSQ_ERR_SUCCESS)
            m_unacknowledged.insert(mid);
        else if (rc != MOSQ_ERR_NO_CONN)  // without a broker: said again once it is back
            Log("cannot publish " + topic + ": " + ErrorText(rc));
    }

    // Waits until the broker has acknowledged every publication, at most until the bound.
    bool WaitAcknowledged(std::chrono::steady_clock::duration bound)
    {
        std::unique_lock lock(m_lock);
        return m_acked.wait_for(lock, bound, [this] { return m_unacknowledged.empty(); });
    }

    bool WaitConnected(std::chrono::steady_clock::duration bound)
    {
        std::unique_lock lock(m_lock);
        return m_acked.wait_for(lock, bound, [this] { return m_isConnected; });
    }

    void Disconnect()
    {
        mosquitto_disconnect(m_mosq);
        if (m_started)
            mosquitto_loop_stop(m_mosq, false);
        m_started = false;
    }

private:
    void Connected(int rc)
    {
        if (rc != 0) {
            if (rc != m_lastRefusal)
                Log("broker " + m_where + " refused the connection: " + mosquitto_connack_string(rc));
            m_lastRefusal = rc;
            return;
        }
        m_lastRefusal = 0;
        Log("connected to broker " + m_where);
        {
            std::lock_guard lock(m_lock);
            m_isConnected = true;
        }
        m_acked.notify_all();
        if (onConnected)
            onConnected();
    }
    void Disconnected(int rc)
    {
        {
            std::lock_guard lock(m_lock);
            m_isConnected = false;
        }
        if (rc != 0)
            Log("lost broker " + m_where + ": " + ErrorText(rc) + "; reconnecting");
        if (onDisconnected)
            onDisconnected();
    }
    void Acknowledged(int mid)
    {
        {
            std::lock_guard lock(m_lock);
            m_unacknowledged.erase(mid);
        }
        m_acked.notify_all();
    }

    mosquitto* m_mosq = nullptr;
    bool m_started = false;
    std::string m_where;
    int m_lastRefusal = 0;
    std::mutex m_lock;
    std::condition_variable m_acked;
    std::set<int> m_unacknowledged;
    bool m_isConnected = false;
};

CBridge::CBridge(SOptions options, std::string password)
    : m_options(std::move(options)), m_password(std::move(password)), m_link(m_options.link)
{
    m_id = SwitcherId(m_options.link, "");
    m_topics.prefix = m_options.prefix.empty() ? "corvane/" + m_id : m_options.prefix;
    m_timer.setSingleShot(true);
    QObject::connect(&m_timer, &QTimer::timeout, &m_context, [this] { Pump(); });
}

CBridge::~CBridge()
{
    m_client.reset();  // the network thread ends before the queue it fills
}

void CBridge::Wake()
{
    QMetaObject::invokeMethod(&m_context, [this] { Pump(); }, Qt::QueuedConnection);
}

int CBridge::Run(const volatile std::sig_atomic_t* stop)
{
    m_stop = stop;
    m_link.SetStop(stop);
    m_client = std::make_unique<CMqttClient>();
    m_client->onConnected = [this] { OnConnected(); };
    m_client->onDisconnected = [this] {
        m_disconnected = true;
        Wake();
    };
    m_client->onMessage = [this](const mosquitto_message& m) { OnMessage(m); };
    const std::string clientId = m_options.clientId.empty() ? "corvane-mqtt-" + m_id : m_options.clientId;
    std::string error;
    if (!m_client->Setup(m_options, clientId, m_password, m_topics.Bridge(), error) ||
        !m_client->Start(m_options, error)) {
        Log(error);
        return 1;
    }
    Log("switcher " + (m_options.link.host.empty() ? m_options.link.port : m_options.link.host) + ", topics under " +
        m_topics.prefix);
    m_next = std::chrono::steady_clock::now();
    Wake();
    QCoreApplication::exec();
    // A stop asked for: the bridge says so itself (the will is for a bridge that vanishes).
    m_timer.stop();
    Publish(m_topics.Bridge(), "offline", true);
    m_client->WaitAcknowledged(kPublishWait);
    m_client->Disconnect();
    m_link.Close();
    return 0;
}

int CBridge::RemoveDiscovery()
{
    m_client = std::make_unique<CMqttClient>();
    std::string error;
    const std::string clientId = m_options.clientId.empty() ? "corvane-mqtt-" + m_id : m_options.clientId;
    if (!m_client->Setup(m_options, clientId, m_password, "", error) || !m_client->Start(m_options, error)) {
        Log(error);
        return 1;
    }
    if (!m_client->WaitConnected(std::chrono::seconds(10))) {
        Log("the broker did not take the connection within 10 s; nothing removed");
        return 1;
    }
    std::vector<SMessage> gone = DiscoveryRemoval(m_topics, m_options.discoveryPrefix, m_id);
    for (const SMessage& m : StateMessages(m_topics, {}))
        gone.push_back({m.topic, ""});
    gone.push_back({m_topics.Switcher(), ""});
    gone.push_back({m_topics.Bridge(), ""});
    for (const SMessage& m : gone)
        m_client->Publish(m.topic, "", true);
    const bool done = m_client->WaitAcknowledged(std::chrono::seconds(10));
    m_client->Disconnect();
    if (!done) {
        Log("the broker did not confirm every removal");
        return 1;
    }
    Log("removed " + std::to_string(gone.size()) + " retained topics of " + m_topics.prefix);
    return 0;
}

// Network thread.
void CBridge::OnConnected()
{
    m_client->Subscribe(m_topics.CommandFilters());
    m_connected = true;
    Wake();
}

// Network thread.
void CBridge::OnMessage(const mosquitto_message& m)
{
    if (!m.topic)
        return;
    SQueued item{m.topic, std::string(static_cast<const char*>(m.payload), static_cast<std::size_t>(std::max(0, m.payloadlen)))};
    if (m.retain) {
        // Left on the broker by someone: taking it would repeat the command on every reconnect.
        Log("retained message on " + item.topic + " ignored");
        return;
    }
    {
        std::lock_guard lock(m_queueLock);
        if (m_queue.size() < kQueueBound) {
            m_queue.push_back(std::move(item));
            item.topic.clear();
        }
    }
    if (!item.topic.empty()) {
        const SParsedCommand c = ParseCommand(m_topics, item.topic, item.payload);
        Publish(m_topics.Result(),
                ResultJson(c.name, item.payload,
                           {false, std::to_string(kQueueBound) + " commands wait already; this one is not carried out", {}}),
                false);
        return;
    }
    Wake();
}

void CBridge::Pump()
{
    if (m_busy)  // a reading or command is running; it looks again when it ends
        return;
    m_busy = true;
    while (!(m_stop && *m_stop)) {
        if (m_disconnected.exchange(false))
            m_brokerUp = false;  // what changes meanwhile is said again once it is back
        if (m_connected.exchange(false)) {
            // A new broker session holds nothing of ours but what was retained: say it all again.
            m_brokerUp = true;
            Publish(m_topics.Bridge(), "online", true);
            for (const auto& [topic, payload] : m_published)
                Publish(topic, payload, true);
            m_discoveredFor.clear();
            if (m_known)
                PublishDiscovery();
            continue;
        }
        std::optional<SQueued> item;
        {
            std::lock_guard lock(m_queueLock);
            if (!m_queue.empty()) {
                item = std::move(m_queue.front());
                m_queue.pop_front();
            }
        }
        if (item) {
            Carry(*item);
            continue;
        }
        if (std::chrono::steady_clock::now() >= m_next) {
            Reading();
            continue;
        }
        break;
    }
    m_busy = false;
    if (m_stop && *m_stop) {
        QCoreApplication::quit();
        return;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(m_next - std::chrono::steady_clock::now());
    m_timer.start(static_cast<int>(std::max<int64_t>(0, left.count())));
}

void CBridge::Reading()
{
    const auto start = std::chrono::steady_clock::now();
    std::string error;
    if (m_link.Read(m_state, error)) {
        m_known = true;
        SetOnline(true, "");
        PublishState();
        m_next = start + std::chrono::milliseconds(m_options.intervalMs);
        return;
    }
    if (m_stop && *m_stop)
        return;
    SetOnline(false, error);
    m_next = std::chrono::steady_clock::now() + std::chrono::milliseconds(m_retryMs);
    m_retryMs = std::min(m_retryMs * 2, kLongestRetryMs);
}

void CBridge::Carry(const SQueued& item)
{
    SParsedCommand c = ParseCommand(m_topics, item.topic, item.payload);
    SOutcome outcome;
    if (!c.ok) {
        outcome.error = c.error;  // nothing is sent
    } else if (!m_online) {
        outcome.error = "the switcher is offline" + (m_offlineWhy.empty() ? "" : ": " + m_offlineWhy);
    } else {
        outcome = m_link.Apply(c.command, m_state, [this] { PublishState(); });
        const bool reread = c.command.kind == SCommand::Kind::Scene || c.command.kind == SCommand::Kind::Refresh ||
                            !m_link.IsOpen();
        if (m_stop && *m_stop) {
            // Stopping: nothing more goes to the switcher; the result says what was done.
        } else if (reread) {
            // What the switcher holds now, on a fresh link after a failure.
            Reading();
            if (c.command.kind == SCommand::Kind::Refresh && !m_online)
                outcome = {false, m_offlineWhy, {}};
        } else {
            PublishState();
        }
    }
    if (!outcome.ok)
        Log(c.name + " \"" + (c.command.kind == SCommand::Kind::Scene ? "(scene)" : item.payload) + "\": " + outcome.error);
    Publish(m_topics.Result(), ResultJson(c.name, item.payload, outcome), false);
}

void CBridge::SetOnline(bool online, const std::string& why)
{
    if (online) {
        m_retryMs = kFirstRetryMs;
        if (!m_online)
            Log("switcher online");
    } else if (m_online || why != m_offlineWhy) {
        Log("switcher offline: " + why);
    }
    m_online = online;
    m_offlineWhy = why;
    PublishChanged({m_topics.Switcher(), online ? "online" : "offline"});
}

void CBridge::PublishState()
{
    for (const SMessage& m : StateMessages(m_topics, m_state))
        PublishChanged(m);
    if (m_options.discovery && m_state.model + m_state.version + m_state.mac != m_discoveredFor)
        PublishDiscovery();
}

void CBridge::PublishDiscovery()
{
    if (!m_options.discovery || !m_brokerUp)
        return;
    const std::string where = m_options.link.host.empty() ? m_options.link.port : m_options.link.host;
    for (const SMessage& m : DiscoveryMessages(m_topics, m_options.discoveryPrefix, m_id, where, m_state))
        Publish(m.topic, m.payload, true);
    m_discoveredFor = m_state.model + m_state.version + m_state.mac;
}

void CBridge::PublishChanged(const SMessage& m)
{
    auto it = m_published.find(m.topic);
    if (it != m_published.end() && it->second == m.payload)
        return;
    m_published[m.topic] = m.payload;
    if (m_brokerUp)
        Publish(m.topic, m.payload, true);
}

void CBridge::Publish(const std::string& topic, const std::string& payload, bool retain)
{
    if (m_client)
        m_client->Publish(topic, payload, retain);
}

}  // namespace corvane::mqtt
