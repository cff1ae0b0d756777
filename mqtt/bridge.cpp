#include "mqtt/bridge.h"

#include <unistd.h>

#include <QCoreApplication>
#include <cstring>
#include <iostream>

#include "mqtt/client.h"

namespace corvane::mqtt {

namespace {
constexpr auto kPublishWait = std::chrono::seconds(3);
}  // namespace

void Log(const std::string& line) { LogAs("corvane-mqtt", line); }

CBridge::CBridge(SOptions options, std::string password)
    : m_options(std::move(options)), m_password(std::move(password)), m_link(m_options.link)
{
    m_id = BridgeId(m_options);
    m_clientId = m_options.clientId.empty() ? "corvane-mqtt-" + m_id + "-" + MachineTag() : m_options.clientId;
    m_topics.prefix = m_options.prefix.empty() ? "corvane/" + m_id : m_options.prefix;
    // Until a reading says otherwise: a switcher left online by an earlier run is not believed.
    m_published[m_topics.Switcher()] = "offline";
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
    m_client->onMessage = [this](const mosquitto_message& m, const SReply& reply) { OnMessage(m, reply); };
    std::string error;
    if (!m_client->Setup(m_options, m_clientId, m_password, m_topics.Bridge(), error) ||
        !m_client->Start(m_options, error)) {
        Log(error);
        return 1;
    }
    Log("switcher " + (m_options.link.host.empty() ? m_options.link.port : m_options.link.host) + ", id " + m_id +
        ", topics under " + m_topics.prefix);
    ReadScenes();
    // The device and an offline switcher on the broker before the first reading, which may
    // take a while: a broker that answers at once gets them first.
    m_client->WaitConnected(kPublishWait);
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
    return RemoveRetained(m_options, m_clientId, m_password, {{m_topics, m_id}}, "the bridge of " + m_topics.prefix,
                          "corvane-mqtt");
}

int RemoveRetained(const SOptions& options, const std::string& clientId, const std::string& password,
                   const std::vector<SRetainedDevice>& devices, const std::string& running, const std::string& program)
{
    const auto say = [&program](const std::string& line) { LogAs(program, line); };
    CMqttClient client;
    client.program = program;
    std::string error;
    std::mutex lock;
    std::condition_variable seen;
    std::optional<std::string> availability;
    bool synced = false;
    // Every device shares the one availability of the connection that publishes them.
    const std::string connection = devices.empty() ? std::string() : devices.front().topics.Bridge();
    const std::string sync = (devices.empty() ? std::string("corvane") : devices.front().topics.prefix) + "/removal/" +
                             std::to_string(getpid());
    client.onMessage = [&](const mosquitto_message& m, const SReply&) {
        std::lock_guard hold(lock);
        if (m.topic == sync)
            synced = true;
        else if (m.topic == connection)
            availability = std::string(static_cast<const char*>(m.payload), static_cast<std::size_t>(std::max(0, m.payloadlen)));
        seen.notify_all();
    };
    // A client id of its own: the running connection's session is not taken over.
    if (!client.Setup(options, clientId + "-removal", password, "", error) || !client.Start(options, error)) {
        say(error);
        return 1;
    }
    if (!client.WaitConnected(std::chrono::seconds(10))) {
        say("the broker did not take the connection within 10 s; nothing removed");
        return 1;
    }
    if (!options.force) {
        // The broker sends what it retained on a subscription before a message published after it.
        client.Subscribe({connection, sync});
        client.Publish(sync, "", false);
        std::unique_lock hold(lock);
        if (!seen.wait_for(hold, std::chrono::seconds(10), [&] { return synced; })) {
            say("the broker did not say whether " + running + " runs within 10 s; nothing removed");
            return 1;
        }
        if (availability == "online") {
            say(running + " is running (" + connection + " is online): stop it first, or give --force; nothing removed");
            return 1;
        }
    }
    std::vector<std::string> gone;
    const auto add = [&gone](const std::string& topic) {
        if (std::find(gone.begin(), gone.end(), topic) == gone.end())
            gone.push_back(topic);
    };
    for (const SRetainedDevice& d : devices) {
        for (const SMessage& m : DiscoveryRemoval(d.topics, options.discoveryPrefix, d.id))
            add(m.topic);
        for (const SMessage& m : StateMessages(d.topics, {}))
            add(m.topic);
        add(d.topics.Switcher());
        add(d.topics.Preset());
    }
    add(connection);
    for (const std::string& topic : gone)
        client.Publish(topic, "", true);
    const bool done = client.WaitAcknowledged(std::chrono::seconds(10));
    client.Disconnect();
    if (!done) {
        say("the broker did not confirm every removal");
        return 1;
    }
    say("removed " + std::to_string(gone.size()) + " retained topics of " +
        (devices.size() == 1 ? devices.front().topics.prefix : std::to_string(devices.size()) + " switchers"));
    return 0;
}

// Network thread.
void CBridge::OnConnected()
{
    std::vector<std::string> filters = m_topics.CommandFilters();
    if (m_options.discovery)
        filters.push_back(m_options.discoveryPrefix + "/status");  // Home Assistant's birth and will
    m_client->Subscribe(filters);
    m_connected = true;
    Wake();
}

// Network thread: nothing here reads a payload beyond its length and its first bytes.
void CBridge::OnMessage(const mosquitto_message& m, const SReply& reply)
{
    if (!m.topic)
        return;
    const std::string topic = m.topic;
    const auto size = static_cast<std::size_t>(std::max(0, m.payloadlen));
    const char* bytes = static_cast<const char*>(m.payload);
    if (m_options.discovery && topic == m_options.discoveryPrefix + "/status") {
        if (std::string_view(bytes ? bytes : "", bytes ? size : 0) == "online") {
            m_haOnline = true;
            Wake();
        }
        return;
    }
    const std::string name = CommandName(m_topics, topic);
    if (name.empty())
        return;
    // An empty payload clears a retained command: there is nothing to carry out (a refresh
    // takes any payload, and reading again does no harm).
    if (size == 0 && name != "refresh")
        return;
    if (m.retain) {
        // Left on the broker by someone: taking it would repeat the command on every reconnect.
        Log("retained message on " + Excerpt(topic, 200) + " ignored");
        return;
    }
    SQueued item{topic, {}, {}, reply.topic, reply.correlation};
    if (size > PayloadCap(name)) {
        item.payload.assign(bytes, 65);  // enough for the result's excerpt
        item.refused = "a payload of " + std::to_string(size) + " bytes; at most " + std::to_string(PayloadCap(name)) +
                       " are taken";
    } else {
        item.payload.assign(bytes ? bytes : "", size);
    }
    std::string full;
    {
        std::lock_guard lock(m_queueLock);
        if (m_queue.size() >= kQueueBound)
            full = std::to_string(kQueueBound) + " commands wait already; this one is not carried out";
        else if (m_queueBytes + item.payload.size() > kQueueBytes)
            full = "the commands waiting hold " + std::to_string(m_queueBytes) + " bytes; this one is not carried out";
        if (full.empty()) {
            m_queueBytes += item.payload.size();
            m_queue.push_back(std::move(item));
        }
    }
    if (!full.empty()) {
        item.payload.resize(std::min<std::size_t>(item.payload.size(), 65));
        PublishResult(item, name, {false, full, {}});
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
            m_haOnline = false;
            PublishAll();
            continue;
        }
        if (m_haOnline.exchange(false) && m_brokerUp) {
            PublishAll();  // Home Assistant came (back): it learns the device and every state
            continue;
        }
        std::optional<SQueued> item;
        {
            std::lock_guard lock(m_queueLock);
            if (!m_queue.empty()) {
                item = std::move(m_queue.front());
                m_queue.pop_front();
                m_queueBytes -= item->payload.size();
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

// The device, every state, then whether the switcher and the bridge are there: a watcher that
// sees the bridge online already has the rest.
void CBridge::PublishAll()
{
    m_discoveredFor.clear();
    PublishDiscovery();
    for (const auto& [topic, payload] : m_published)
        if (topic != m_topics.Switcher())
            Publish(topic, payload, true);
    Publish(m_topics.Switcher(), m_published[m_topics.Switcher()], true);
    Publish(m_topics.Bridge(), "online", true);
}

void CBridge::Reading()
{
    m_clock.Started(std::chrono::steady_clock::now());
    std::string error;
    if (m_link.Read(m_state, m_presets, error)) {
        m_known = true;
        SetOnline(true, "");
        PublishState();
        m_next = m_clock.Succeeded(m_options.intervalMs);
        return;
    }
    if (m_stop && *m_stop)
        return;
    SetOnline(false, error);
    m_next = m_clock.Failed(std::chrono::steady_clock::now());
}

void CBridge::Carry(const SQueued& item)
{
    SParsedCommand c = ParseCommand(m_topics, item.topic, item.refused.empty() ? item.payload : std::string());
    SOutcome outcome;
    if (!item.refused.empty()) {
        outcome.error = item.refused;  // never parsed
    } else if (!c.ok) {
        outcome.error = c.error;  // nothing is sent
    } else if (c.command.kind == SCommand::Kind::Preset &&
               std::none_of(m_presets.begin(), m_presets.end(), [&](const SPreset& p) { return p.name == c.command.preset; })) {
        outcome.error = "no preset \"" + Excerpt(c.command.preset) + "\"";
    } else if (!m_online) {
        outcome.error = "the switcher is offline" + (m_offlineWhy.empty() ? "" : ": " + m_offlineWhy);
    } else {
        for (const SPreset& p : m_presets)
            if (c.command.kind == SCommand::Kind::Preset && p.name == c.command.preset)
                c.command.scene = p.scene;
        outcome = m_link.Apply(c.command, m_state, [this] { PublishState(); });
        const bool reread = c.command.kind == SCommand::Kind::Scene || c.command.kind == SCommand::Kind::Preset ||
                            c.command.kind == SCommand::Kind::Refresh || !m_link.IsOpen();
        if (m_stop && *m_stop) {
            // Stopping: nothing more goes to the switcher; the result says what was done.
        } else if (reread) {
            // What the switcher holds now, on a fresh link after a failure.
            if (c.command.kind == SCommand::Kind::Refresh)
                ReadScenes();
            Reading();
            if (c.command.kind == SCommand::Kind::Refresh && !m_online)
                outcome = {false, m_offlineWhy, {}};
        } else {
            PublishState();
        }
    }
    if (!outcome.ok) {
        const bool scene = c.command.kind == SCommand::Kind::Scene && item.refused.empty() && c.ok;
        Log(c.name + " \"" + (scene ? "(scene)" : Excerpt(item.payload)) + "\": " + outcome.error);
    }
    PublishResult(item, c.name, outcome);
}

// Any thread.
void CBridge::PublishResult(const SQueued& item, const std::string& name, const SOutcome& outcome)
{
    const std::string json = ResultJson(name, item.payload, outcome);
    Publish(m_topics.Result(), json, false);
    if (!item.responseTopic.empty() && m_client)
        m_client->Publish(item.responseTopic, json, false, &item.correlation);
}

void CBridge::SetOnline(bool online, const std::string& why)
{
    if (online) {
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
    if (!m_presets.empty())
        PublishChanged({m_topics.Preset(), m_state.preset.empty() ? "None" : m_state.preset});
    if (m_options.discovery && m_state.model + m_state.version + m_state.mac != m_discoveredFor)
        PublishDiscovery();
}

void CBridge::PublishDiscovery()
{
    if (!m_options.discovery || !m_brokerUp)
        return;
    const std::string where = m_options.id.empty() ? (m_options.link.host.empty() ? m_options.link.port : m_options.link.host)
                                                   : m_options.id;
    std::vector<std::string> presets;
    for (const SPreset& p : m_presets)
        presets.push_back(p.name);
    for (const SMessage& m : DiscoveryMessages(m_topics, m_options.discoveryPrefix, m_id, where, m_state, presets))
        Publish(m.topic, m.payload, true);
    m_discoveredFor = m_state.model + m_state.version + m_state.mac;
}

void CBridge::ReadScenes()
{
    if (m_options.scenes.empty())
        return;
    std::vector<std::string> problems;
    std::vector<SPreset> presets = ReadPresets(m_options.scenes, problems);
    for (const std::string& p : problems)
        Log("--scenes " + p);
    std::vector<std::string> before, after;
    for (const SPreset& p : m_presets)
        before.push_back(p.name);
    for (const SPreset& p : presets)
        after.push_back(p.name);
    m_presets = std::move(presets);
    if (before != after)
        m_discoveredFor = "-";  // the select's options changed: its document is made again
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
