// What corvane-mqtt says on the broker, without a broker: the topics under the bridge's prefix,
// the state as retained messages, the commands it takes and their results, and the Home
// Assistant discovery documents.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
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
// The bridge's id when --id names none: from the prefix when one is given, else from the host
// (with its port) or the serial port.
std::string SwitcherId(const SLinkAddress& address, const std::string& prefix);

// The longest payload each command topic takes: a scene as large as a scene file may be, a
// few hundred bytes for every other command. A longer one is refused unread.
inline constexpr std::size_t kCommandPayloadCap = 256;
std::size_t PayloadCap(const std::string& name);

// A payload or text from outside as one short line: at most max bytes of it, then "...";
// control bytes and bytes beyond ASCII as \xNN, a backslash doubled. Never a second line.
std::string Excerpt(std::string_view text, std::size_t max = 64);

// The topics under a prefix ("corvane/127_0_0_1_8000").
struct STopics {
    std::string prefix;
    // Where the connection's will is, when several devices share one connection; else under the prefix.
    std::string connection{};
    std::string Bridge() const { return connection.empty() ? prefix + "/availability" : connection; }  // online, offline (will)
    std::string Switcher() const { return prefix + "/switcher/availability"; }  // online, offline
    std::string Result() const { return prefix + "/result"; }
    std::string Preset() const { return prefix + "/preset"; }  // --scenes: the preset matched, or None
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
// The name of a command topic of this prefix ("output/1/input"), without looking at any payload;
// empty for any other topic.
std::string CommandName(const STopics& topics, const std::string& topic);
// Nothing (no name) for a topic that is not a command topic of this prefix.
SParsedCommand ParseCommand(const STopics& topics, const std::string& topic, const std::string& payload);

// {"command":"output/1/input","value":"3","ok":true,"error":""}; the value as an excerpt, a
// scene's left out and its apply report added as "report".
std::string ResultJson(const std::string& name, const std::string& value, const SOutcome& outcome);

// The discovery documents (retained under discoveryPrefix/COMPONENT/NODE/OBJECT/config) of one
// device: a select per output and per input's EDID, switches for beep and DVI, binary sensors
// for every signal, sensors for the device line, the last command and the link, a refresh
// button, and a select of the presets when there are any. where names the switcher for people.
std::vector<SMessage> DiscoveryMessages(const STopics& topics, const std::string& discoveryPrefix,
                                        const std::string& id, const std::string& where,
                                        const SPublishedState& state, const std::vector<std::string>& presets = {});
// The same topics with empty payloads: a retained empty message removes each entity.
std::vector<SMessage> DiscoveryRemoval(const STopics& topics, const std::string& discoveryPrefix,
                                       const std::string& id);

}  // namespace corvane::mqtt
