// corvaned's MQTT face: every switcher of the service on one broker connection, each under its
// own prefix with its own state topics, commands, availability and Home Assistant device, in the
// bridge's topics and payloads. A command taken on a topic goes into the switcher's queue beside
// those of the API, and its result is published as the bridge publishes it.
//
// Availability: the connection has one will, so it is on a topic of the connection's own
// (corvane/<client id>/availability), online while the process is connected and offline when it
// stops or vanishes; each switcher's PREFIX/switcher/availability follows its own link. Every
// device's discovery documents name both, so a device is available only while both are online.
#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <QObject>

#include "mqtt/bridge.h"
#include "mqtt/options.h"
#include "mqtt/topics.h"
#include "service/unit.h"

struct mosquitto_message;

namespace corvane::mqtt {
class CMqttClient;
struct SReply;
}

namespace corvane::service {

// The MQTT names of a site: its connection's client id and availability topic, and each
// switcher's topics and discovery id, in the order of the places.
struct SSiteTopics {
    std::string clientId, availability;
    std::vector<mqtt::SRetainedDevice> devices;
};
// prefixes: the prefix of a switcher id where not corvane/<id>.
SSiteTopics SiteTopics(const mqtt::SOptions& options, const std::vector<SUnitPlace>& places,
                       const std::map<std::string, std::string>& prefixes);

class CMqttFace {
public:
    CMqttFace(mqtt::SOptions options, std::string password, const std::vector<std::unique_ptr<CUnit>>& units,
              const std::map<std::string, std::string>& prefixes, const std::vector<SNamedScene>& scenes);
    ~CMqttFace();
    CMqttFace(const CMqttFace&) = delete;
    CMqttFace& operator=(const CMqttFace&) = delete;

    // Starts the connection (its network thread); false with the reason when the client cannot
    // be set up. A broker not there yet is tried again and again.
    bool Start(std::string& error);
    // Says the process is going (its availability offline), waits a little for the broker to
    // take it, and disconnects.
    void Stop();
    // Something changed on a switcher (CUnit::onEvent): its topics follow once the change is in.
    void Event(const CUnit& unit);
    // The presets were read again with other names: every device's discovery is made again.
    void PresetsChanged();

    const std::string& ClientId() const { return m_clientId; }
    const std::string& Availability() const { return m_availability; }

private:
    struct SDevice {
        CUnit* unit = nullptr;
        mqtt::STopics topics;
        std::map<std::string, std::string> published;  // retained topic -> payload last sent
        std::string discoveredFor;
        bool due = false;  // a sync is queued
    };
    struct SMessageIn {
        std::string topic, payload, refused;
        bool retain = false;
        std::string responseTopic, correlation;
    };
    void OnMessage(const mosquitto_message& m, const mqtt::SReply& reply);   // network thread
    const SDevice* DeviceOf(const std::string& topic, std::string& name) const;  // any thread
    void Take(SMessageIn in);
    void Sync(SDevice& d);
    void PublishAll();
    void PublishDiscovery(SDevice& d, const mqtt::SPublishedState& state);
    void PublishChanged(SDevice& d, const std::string& topic, const std::string& payload);
    void PublishResult(const SDevice& d, const SMessageIn& in, const std::string& name, const mqtt::SOutcome& outcome);
    std::string Where(const SDevice& d) const;

    mqtt::SOptions m_options;
    std::string m_password;
    std::string m_clientId;
    std::string m_availability;
    const std::vector<SNamedScene>& m_scenes;
    std::vector<std::unique_ptr<SDevice>> m_devices;  // fixed once made: the network thread reads their topics
    std::unique_ptr<mqtt::CMqttClient> m_client;
    QObject m_context;  // queued calls onto the main thread
    std::atomic<std::size_t> m_inFlight{0};  // payload bytes on their way to the main thread
    bool m_brokerUp = false;  // main thread
    bool m_stopping = false;
};

}  // namespace corvane::service
