// The process's one MQTT connection: libmosquitto with its own network thread, shared by the
// bridge and the service's MQTT face.
#pragma once

#include <mosquitto.h>
#include <mqtt_protocol.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "mqtt/bridge.h"

namespace corvane::mqtt {

inline constexpr int kQos = 1;

// libmosquitto's text for an error, without its full stop (it ends a clause here).
std::string ErrorText(int rc);
// One line in the journal as "PROGRAM: LINE", control bytes and line feeds shown, not written.
void LogAs(const std::string& program, const std::string& line);

// libmosquitto with its network thread: connects, reconnects with a bounded back-off, and
// hands every event to the functions below (on its thread).
class CMqttClient {
public:
    std::function<void()> onConnected, onDisconnected;
    std::function<void(const mosquitto_message&, const SReply&)> onMessage;
    // The program its journal lines name.
    std::string program = "corvane-mqtt";

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
        m_v5 = o.mqttVersion == 5;
        mosquitto_int_option(m_mosq, MOSQ_OPT_PROTOCOL_VERSION, m_v5 ? MQTT_PROTOCOL_V5 : MQTT_PROTOCOL_V311);
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
        mosquitto_message_v5_callback_set(
            m_mosq, [](mosquitto*, void* self, const mosquitto_message* m, const mosquitto_property* props) {
                auto* me = static_cast<CMqttClient*>(self);
                if (!me->onMessage || !m)
                    return;
                SReply reply;
                char* topic = nullptr;
                if (mosquitto_property_read_string(props, MQTT_PROP_RESPONSE_TOPIC, &topic, false)) {
                    reply.topic = topic;
                    free(topic);
                    void* data = nullptr;
                    uint16_t length = 0;
                    if (mosquitto_property_read_binary(props, MQTT_PROP_CORRELATION_DATA, &data, &length, false)) {
                        reply.correlation.assign(static_cast<const char*>(data), length);
                        free(data);
                    }
                }
                me->onMessage(*m, reply);
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
        int rc = MOSQ_ERR_SUCCESS;
        if (m_v5) {
            // The broker sends nothing larger than this, so no payload can outgrow the caps
            // before the bridge sees it. The properties stay with the client for every reconnect;
            // only this first connection is made here, before the network thread runs.
            mosquitto_property* props = nullptr;
            mosquitto_property_add_int32(&props, MQTT_PROP_MAXIMUM_PACKET_SIZE, static_cast<uint32_t>(kMaxPacketBytes));
            rc = mosquitto_connect_bind_v5(m_mosq, o.brokerHost.c_str(), o.BrokerPort(), o.keepalive, nullptr, props);
            mosquitto_property_free_all(&props);
        } else {
            rc = mosquitto_connect_async(m_mosq, o.brokerHost.c_str(), o.BrokerPort(), o.keepalive);
        }
        if (rc != MOSQ_ERR_SUCCESS && rc != MOSQ_ERR_ERRNO && rc != MOSQ_ERR_CONN_REFUSED) {
            error = m_where + ": " + ErrorText(rc);
            return false;
        }
        if (rc != MOSQ_ERR_SUCCESS)  // refused or unreachable now: the network thread tries again
            LogAs(program, "broker " + m_where + ": " + (rc == MOSQ_ERR_ERRNO ? std::strerror(errno) : ErrorText(rc)) + "; trying again");
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

    // With MQTT 5 and correlation data given, the message carries it.
    void Publish(const std::string& topic, const std::string& payload, bool retain, const std::string* correlation = nullptr)
    {
        int mid = 0;
        mosquitto_property* props = nullptr;
        if (m_v5 && correlation && !correlation->empty())
            mosquitto_property_add_binary(&props, MQTT_PROP_CORRELATION_DATA, correlation->data(),
                                          static_cast<uint16_t>(correlation->size()));
        std::lock_guard lock(m_lock);  // the acknowledgement may come before mid is known here
        const int rc = mosquitto_publish_v5(m_mosq, &mid, topic.c_str(), static_cast<int>(payload.size()),
                                            payload.data(), kQos, retain, props);
        mosquitto_property_free_all(&props);
        if (rc == MOSQ_ERR_SUCCESS)
            m_unacknowledged.insert(mid);
        else if (rc != MOSQ_ERR_NO_CONN)  // without a broker: said again once it is back
            LogAs(program, "cannot publish " + Excerpt(topic, 200) + ": " + ErrorText(rc));
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
                LogAs(program, "broker " + m_where + " refused the connection: " + mosquitto_connack_string(rc));
            m_lastRefusal = rc;
            return;
        }
        m_lastRefusal = 0;
        LogAs(program, "connected to broker " + m_where);
        // Subscribed and flagged before anyone waiting for the connection goes on.
        if (onConnected)
            onConnected();
        {
            std::lock_guard lock(m_lock);
            m_isConnected = true;
        }
        m_acked.notify_all();
    }
    void Disconnected(int rc)
    {
        {
            std::lock_guard lock(m_lock);
            m_isConnected = false;
        }
        if (rc != 0)
            LogAs(program, "lost broker " + m_where + ": " + ErrorText(rc) + "; reconnecting");
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
    bool m_v5 = false;
    bool m_started = false;
    std::string m_where;
    int m_lastRefusal = 0;
    std::mutex m_lock;
    std::condition_variable m_acked;
    std::set<int> m_unacknowledged;
    bool m_isConnected = false;
};

}  // namespace corvane::mqtt
