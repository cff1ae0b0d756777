// What corvane-mqtt says on the broker, without a broker: the topics under the bridge's prefix,
// the state as retained messages, the commands it takes and their results, and the Home
// Assistant discovery documents.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "mqtt/switcher_link.h"

namespace corvane::mqtt {

struct SMessage {
    std::string topic;
    std::string payload;
    bool operator==(const SMessage&) const = default;
};

// Lower case letters, digits, '_' and '-' only: every other run of characters becomes one '_',
// none at either end ("127.0.0.1:8000" -> "127_0_0_1_8000", "/dev/ttyUSB0" -> "dev_ttyusb0").
std::string SanitizeId(const std::string& text);
// The bridge's id: from the MAC when known, else from the host (with its port) or the serial port.
std::string SwitcherId(const SLinkAddress& address, const std::string& mac);

// The topics under a prefix ("corvane/127_0_0_1_8000").
struct STopics {
    std::string prefix;
    std::string Bridge() const { return prefix + "/availability"; }            // online, offline (will)
    std::string Switcher() const { return prefix + "/switcher/availability"; }  // online, offline
    std::string Result() const { return prefix + "/result"; }
    // The subscriptions that bring every command topic, known or not.
    std::vector<std::string> CommandFilters() const;
};

// Every state value as a retained message, in a fixed order:
// input/N/signal, output/N/signal (ON, OFF), output/N/input (1-4), beep, dvi (ON, OFF),
// input/N/edid (the EDID's name), device (the device line).
std::vector<SMessage> StateMessages(const STopics& topics, const SPublishedState& state);

// A message on a command topic, checked: the command, or why it is refused.
struct SParsedCommand {
    std::string name;  // the topic below the prefix without "/set": "output/1/input"
    bool ok = false;
    SCommand command;
    std::string error;
};
// Nothing (no name) for a topic that is not a command topic of this prefix.
SParsedCommand ParseCommand(const STopics& topics, const std::string& topic, const std::string& payload);

// {"command":"output/1/input","value":"3","ok":true,"error":""}; a scene's value is left out and
// its apply report added as "report".
std::string ResultJson(const std::string& name, const std::string& value, const SOutcome& outcome);

// The discovery documents (retained under discoveryPrefix/COMPONENT/NODE/OBJECT/config) of one
// device: a select per output and per input's EDID, switches for beep and DVI, binary sensors
// for every signal, a sensor for the device line and a refresh button. where names the switcher
// for people (its address or port).
std::vector<SMessage> DiscoveryMessages(const STopics& topics, const std::string& discoveryPrefix,
                                        const std::string& id, const std::string& where,
                                        const SPublishedState& state);
// The same topics with empty payloads: a retained empty message removes each entity.
std::vector<SMessage> DiscoveryRemoval(const STopics& topics, const std::string& discoveryPrefix,
                                       const std::string& id);

}  // namespace corvane::mqtt
