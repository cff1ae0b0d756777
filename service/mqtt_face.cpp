#include "service/mqtt_face.h"

#include "mqtt/client.h"

namespace corvane::service {

namespace {
constexpr auto kPublishWait = std::chrono::seconds(3);
const char kProgram[] = "corvaned";

void Say(const std::string& line) { mqtt::LogAs(kProgram, line); }

// A command of the bridge's topics as one of the service's queue; false with why when it names
// a preset there is none of.
bool ToUnitCommand(const mqtt::SCommand& c, const std::vector<SNamedScene>& scenes, SUnitCommand& u, std::string& why)
{
    using K = mqtt::SCommand::Kind;
    using U = SUnitCommand::Kind;
    switch (c.kind) {
    case K::Route: u.kind = U::Route; u.output = c.number; u.input = c.value; return true;
    case K::Beep: u.kind = U::Beep; u.on = c.on; return true;
    case K::Dvi: u.kind = U::Dvi; u.on = c.on; return true;
    case K::EdidPreset: u.kind = U::Edid; u.input = c.number; u.edid = c.edid; return true;
    case K::Scene:
        u.kind = U::Scene;
        u.scene = {"", c.scene};
        why = c.scene ? "" : "no scene";
        return static_cast<bool>(c.scene);
    case K::Preset:
        for (const SNamedScene& s : scenes) {
            if (s.name == c.preset) {
                u.kind = U::Scene;
                u.scene = s;
                return true;
            }
        }
        why = "no preset \"" + mqtt::Excerpt(c.preset) + "\"";
        return false;
    case K::Refresh: u.kind = U::Refresh; return true;
    }
    return false;
}
}  // namespace

SSiteTopics SiteTopics(const mqtt::SOptions& options, const std::vector<SUnitPlace>& places,
                       const std::map<std::string, std::string>& prefixes)
{
    SSiteTopics site;
    // Two services of one machine (one per site) each keep their own session: the first switcher
    // names it, as a bridge's id names its own.
    const std::string first = places.empty() ? std::string("site") : places.front().id;
    site.clientId = options.clientId.empty() ? "corvaned-" + first + "-" + mqtt::MachineTag() : options.clientId;
    site.availability = "corvane/" + mqtt::SanitizeId(site.clientId) + "/availability";
    for (const SUnitPlace& place : places) {
        mqtt::SRetainedDevice d;
        d.id = place.id;
        const auto p = prefixes.find(place.id);
        d.topics.prefix = p != prefixes.end() ? p->second : "corvane/" + place.id;
        d.topics.connection = site.availability;
        site.devices.push_back(std::move(d));
    }
    return site;
}

CMqttFace::CMqttFace(mqtt::SOptions options, std::string password, const std::vector<std::unique_ptr<CUnit>>& units,
                     const std::map<std::string, std::string>& prefixes, const std::vector<SNamedScene>& scenes)
    : m_options(std::move(options)), m_password(std::move(password)), m_scenes(scenes)
{
    std::vector<SUnitPlace> places;
    for (const auto& u : units)
        places.push_back(u->Place());
    SSiteTopics site = SiteTopics(m_options, places, prefixes);
    m_clientId = site.clientId;
    m_availability = site.availability;
    for (std::size_t k = 0; k < units.size(); ++k) {
        auto d = std::make_unique<SDevice>();
        d->unit = units[k].get();
        d->topics = std::move(site.devices[k].topics);
        // Until a reading says otherwise: a switcher left online by an earlier run is not believed.
        d->published[d->topics.Switcher()] = "offline";
        m_devices.push_back(std::move(d));
    }
}

CMqttFace::~CMqttFace()
{
    m_client.reset();  // the network thread ends before the devices it reads
}

bool CMqttFace::Start(std::string& error)
{
    m_client = std::make_unique<mqtt::CMqttClient>();
    m_client->program = kProgram;
    m_client->onConnected = [this] {
        std::vector<std::string> filters;
        for (const auto& d : m_devices) {
            const auto f = d->topics.CommandFilters();
            filters.insert(filters.end(), f.begin(), f.end());
        }
        if (m_options.discovery)
            filters.push_back(m_options.discoveryPrefix + "/status");  // Home Assistant's birth and will
        m_client->Subscribe(filters);
        QMetaObject::invokeMethod(&m_context, [this] {
            // A new broker session holds nothing of ours but what was retained: say it all again.
            m_brokerUp = true;
            PublishAll();
        }, Qt::QueuedConnection);
    };
    m_client->onDisconnected = [this] {
        QMetaObject::invokeMethod(&m_context, [this] { m_brokerUp = false; }, Qt::QueuedConnection);
    };
    m_client->onMessage = [this](const mosquitto_message& m, const mqtt::SReply& reply) { OnMessage(m, reply); };
    if (!m_client->Setup(m_options, m_clientId, m_password, m_availability, error) || !m_client->Start(m_options, error))
        return false;
    for (const auto& d : m_devices)
        Say(d->unit->Place().id + ": topics under " + d->topics.prefix);
    Say("MQTT client " + m_clientId + ", its availability on " + m_availability);
    return true;
}

void CMqttFace::Stop()
{
    m_stopping = true;
    if (!m_client)
        return;
    // A stop asked for: the process says so itself (the will is for one that vanishes).
    m_client->Publish(m_availability, "offline", true);
    m_client->WaitAcknowledged(kPublishWait);
    m_client->Disconnect();
}

// The device whose command topic this is, the longest prefix first where one prefix holds another.
const CMqttFace::SDevice* CMqttFace::DeviceOf(const std::string& topic, std::string& name) const
{
    const SDevice* found = nullptr;
    for (const auto& d : m_devices) {
        std::string n = mqtt::CommandName(d->topics, topic);
        if (!n.empty() && (!found || d->topics.prefix.size() > found->topics.prefix.size())) {
            found = d.get();
            name = std::move(n);
        }
    }
    return found;
}

// Network thread: nothing here reads a payload beyond its length and its first bytes.
void CMqttFace::OnMessage(const mosquitto_message& m, const mqtt::SReply& reply)
{
    if (!m.topic)
        return;
    const std::string topic = m.topic;
    const auto size = static_cast<std::size_t>(std::max(0, m.payloadlen));
    const char* bytes = static_cast<const char*>(m.payload);
    if (m_options.discovery && topic == m_options.discoveryPrefix + "/status") {
        if (std::string_view(bytes ? bytes : "", bytes ? size : 0) == "online")
            QMetaObject::invokeMethod(&m_context, [this] { PublishAll(); }, Qt::QueuedConnection);  // Home Assistant came (back)
        return;
    }
    std::string name;
    const SDevice* d = DeviceOf(topic, name);
    if (!d)
        return;
    SMessageIn in{topic, {}, {}, m.retain, reply.topic, reply.correlation};
    if (size > mqtt::PayloadCap(name)) {
        in.payload.assign(bytes, 65);  // enough for the result's excerpt
        in.refused = "a payload of " + std::to_string(size) + " bytes; at most " + std::to_string(mqtt::PayloadCap(name)) +
                     " are taken";
    } else {
        in.payload.assign(bytes ? bytes : "", size);
    }
    // The main thread takes each message at once; only a main thread held up lets them pile up.
    const std::size_t bytesNow = m_inFlight.fetch_add(in.payload.size()) + in.payload.size();
    if (bytesNow > mqtt::kQueueBytes) {
        m_inFlight -= in.payload.size();
        in.payload.resize(std::min<std::size_t>(in.payload.size(), 65));
        PublishResult(*d, in, name, {false, "the commands on their way hold too many bytes; this one is not carried out", {}});
        return;
    }
    QMetaObject::invokeMethod(&m_context, [this, in = std::move(in)]() mutable {
        m_inFlight -= in.payload.size();
        Take(std::move(in));
    }, Qt::QueuedConnection);
}

void CMqttFace::Take(SMessageIn in)
{
    std::string name;
    const SDevice* found = DeviceOf(in.topic, name);
    if (!found)
        return;
    SDevice& d = *const_cast<SDevice*>(found);
    // An empty payload clears a retained command: there is nothing to carry out (a refresh
    // takes any payload, and reading again does no harm).
    if (in.payload.empty() && in.refused.empty() && name != "refresh")
        return;
    if (in.retain) {
        // Left on the broker by someone: taking it would repeat the command on every reconnect.
        Say("retained message on " + mqtt::Excerpt(in.topic, 200) + " ignored");
        return;
    }
    mqtt::SOutcome refused;
    const mqtt::SParsedCommand c = mqtt::ParseCommand(d.topics, in.topic, in.refused.empty() ? in.payload : std::string());
    SUnitCommand command;
    if (!in.refused.empty())
        refused.error = in.refused;  // never parsed
    else if (!c.ok)
        refused.error = c.error;
    else if (!ToUnitCommand(c.command, m_scenes, command, refused.error))
        ;  // a preset there is none of
    else if (!d.unit->Online())
        // Held until the link is back, it would be carried out long after it was asked for.
        refused.error = "the switcher is offline" + (d.unit->OfflineWhy().empty() ? "" : ": " + d.unit->OfflineWhy());
    else
        refused.ok = true;
    if (refused.ok) {
        const bool scene = c.command.kind == mqtt::SCommand::Kind::Scene;
        auto done = [this, &d, in, name, scene](const SUnitResult& r) {
            if (m_stopping)
                return;  // the units are going, and so is the connection
            const mqtt::SOutcome outcome{r.ok, r.error, r.report};
            Sync(d);  // what the command changed before its result, as a watcher expects

            if (!r.ok)
                Say(d.unit->Place().id + ": " + name + " \"" + (scene ? "(scene)" : mqtt::Excerpt(in.payload)) +
                    "\": " + r.error);
            PublishResult(d, in, name, outcome);
        };
        if (d.unit->Enqueue(std::move(command), done))
            return;
        refused = {false, std::to_string(kUnitQueueBound) + " commands wait already; this one is not carried out", {}};
    }
    Say(d.unit->Place().id + ": " + c.name + " \"" + mqtt::Excerpt(in.payload) + "\": " + refused.error);
    PublishResult(d, in, c.name.empty() ? name : c.name, refused);
}

void CMqttFace::Event(const CUnit& unit)
{
    for (auto& d : m_devices) {
        if (d->unit != &unit || d->due)
            continue;
        // The unit tells a change before it keeps it: its topics follow from the event loop.
        d->due = true;
        SDevice* device = d.get();
        QMetaObject::invokeMethod(&m_context, [this, device] {
            device->due = false;
            Sync(*device);
        }, Qt::QueuedConnection);
    }
}

void CMqttFace::PresetsChanged()
{
    for (auto& d : m_devices) {
        d->discoveredFor = "-";
        Sync(*d);
    }
}

void CMqttFace::Sync(SDevice& d)
{
    const CUnit& u = *d.unit;
    if (u.Known()) {
        mqtt::SPublishedState state = mqtt::PublishedState(u.State());
        state.preset = u.MatchingScene();
        for (const mqtt::SMessage& m : mqtt::StateMessages(d.topics, state))
            PublishChanged(d, m.topic, m.payload);
        if (!m_scenes.empty())
            PublishChanged(d, d.topics.Preset(), state.preset.empty() ? "None" : state.preset);
        if (m_options.discovery && state.model + state.version + state.mac != d.discoveredFor)
            PublishDiscovery(d, state);
    }
    PublishChanged(d, d.topics.Switcher(), u.Online() ? "online" : "offline");
}

// Every device, every state, whether each switcher is there, then the connection's availability:
// a watcher that sees it online already has the rest.
void CMqttFace::PublishAll()
{
    if (!m_brokerUp)
        return;
    for (auto& d : m_devices) {
        for (const auto& [topic, payload] : d->published)
            m_client->Publish(topic, payload, true);
        if (d->unit->Known())
            d->discoveredFor = "-";  // made again by the sync below
        else
            PublishDiscovery(*d, {});
        Sync(*d);
    }
    m_client->Publish(m_availability, "online", true);
}

void CMqttFace::PublishDiscovery(SDevice& d, const mqtt::SPublishedState& state)
{
    if (!m_options.discovery || !m_brokerUp)
        return;
    std::vector<std::string> presets;
    for (const SNamedScene& s : m_scenes)
        presets.push_back(s.name);
    for (const mqtt::SMessage& m :
         mqtt::DiscoveryMessages(d.topics, m_options.discoveryPrefix, d.unit->Place().id, Where(d), state, presets))
        m_client->Publish(m.topic, m.payload, true);
    d.discoveredFor = state.model + state.version + state.mac;
}

std::string CMqttFace::Where(const SDevice& d) const
{
    const SUnitPlace& s = d.unit->Place();
    return !s.label.empty() ? s.label : !s.host.empty() ? s.host : s.port;
}

void CMqttFace::PublishChanged(SDevice& d, const std::string& topic, const std::string& payload)
{
    auto it = d.published.find(topic);
    if (it != d.published.end() && it->second == payload)
        return;
    d.published[topic] = payload;
    if (m_brokerUp)
        m_client->Publish(topic, payload, true);
}

// Any thread.
void CMqttFace::PublishResult(const SDevice& d, const SMessageIn& in, const std::string& name, const mqtt::SOutcome& outcome)
{
    const std::string json = mqtt::ResultJson(name, in.payload, outcome);
    m_client->Publish(d.topics.Result(), json, false);
    if (!in.responseTopic.empty())
        m_client->Publish(in.responseTopic, json, false, &in.correlation);
}

}  // namespace corvane::service
