// corvaned's settings: the switchers (--host, --port, --hosts-file), the API (--web, --web-name,
// --token-file), MQTT (--broker and the bridge's connection options, --prefix ID=TOPIC), scenes and the reading interval; the command line, or a configuration file of
// KEY = VALUE lines with the same names (read first, so that the command line wins; host and
// port lines add a switcher each).
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "mqtt/options.h"
#include "service/unit.h"

namespace corvane::service {

inline constexpr unsigned kDefaultIntervalMs = 2000;
inline constexpr unsigned kMinIntervalMs = 100;
inline constexpr unsigned kMaxIntervalMs = 24 * 3600 * 1000;
inline constexpr int kDefaultWebPort = 8080;

struct SServiceOptions {
    std::vector<SUnitPlace> units;
    std::string web;       // ADDRESS:PORT, or empty: no API
    std::string webAddress;
    int webPort = 0;
    std::vector<std::string> webNames;
    std::string tokenFile;
    std::string scenes;
    unsigned intervalMs = kDefaultIntervalMs;
    // MQTT (with broker): the connection's settings as corvane-mqtt takes them, --remove-discovery
    // and --force among them; the topics' prefix per switcher id, where not corvane/<id>.
    // mqtt.link.trace (--trace): every switcher's frames on standard error, with a broker or not.
    mqtt::SOptions mqtt;
    std::map<std::string, std::string> prefixes;
    bool Broker() const { return !mqtt.brokerHost.empty(); }
    bool help = false;
    bool version = false;
};

// The command line without the program's name. Nothing, with error set to one line, when it or
// a file it names is wrong, or two switchers would have the same id.
std::optional<SServiceOptions> ParseServiceOptions(const std::vector<std::string>& args, std::string& error);

// "ADDRESS[:PORT][=LABEL]" or "COMn|DEVICE[=LABEL]" as one switcher; the id from the label, else
// from the address as the MQTT bridge makes it.
std::optional<SUnitPlace> ParseUnit(const std::string& value, bool serial, std::string& error);
// A hosts file: an address or a serial port a line, optionally a label after blanks ("COM3  lobby"),
// "#" to the end of a line a comment. The reason names the line.
std::optional<std::vector<SUnitPlace>> ParseHostsText(const std::string& text, std::string& error);

// Whether the API's address is a loopback one (127.0.0.0/8, ::1, localhost).
bool IsLoopback(const std::string& address);

extern const char kServiceUsage[];

}  // namespace corvane::service
