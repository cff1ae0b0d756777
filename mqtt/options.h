// corvane-mqtt's settings: the command line and the configuration file (the same keys without
// the leading dashes), the file read first so that the command line wins.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "mqtt/switcher_link.h"

namespace corvane::mqtt {

inline constexpr unsigned kDefaultIntervalMs = 2000;
inline constexpr unsigned kMinIntervalMs = 100;
inline constexpr unsigned kMaxIntervalMs = 24 * 3600 * 1000;

struct SOptions {
    std::string brokerHost;
    int brokerPort = 0;  // 0: 1883, or 8883 with TLS
    SLinkAddress link;
    std::string username;
    std::string passwordFile;
    std::string tlsCa, tlsCert, tlsKey;
    unsigned intervalMs = kDefaultIntervalMs;
    std::string id;      // empty: from the prefix, else from the switcher's address
    std::string prefix;  // empty: corvane/<id>
    std::string discoveryPrefix = "homeassistant";
    bool discovery = true;
    bool removeDiscovery = false;
    bool force = false;    // --remove-discovery even while the bridge runs
    std::string scenes;    // a folder of scene files, offered as presets
    std::string clientId;  // empty: corvane-mqtt-<id>-<machine>
    int keepalive = 30;
    int mqttVersion = 311;  // 311 or 5
    bool help = false;
    bool version = false;

    int BrokerPort() const { return brokerPort ? brokerPort : tlsCa.empty() ? 1883 : 8883; }
};

// The --config files a command line names, in order: read before its other options, so that
// the command line wins.
std::vector<std::string> ConfigFiles(const std::vector<std::string>& args);

// The command line without the program's name; a --config file named on it is read first.
// Nothing, with error set to one line, when either is wrong.
std::optional<SOptions> ParseOptions(const std::vector<std::string>& args, std::string& error);

// Applies one setting by its name without dashes ("broker", "tls-ca", "prefix", "discovery"
// with true or false, ...); false with error set to "KEY: why, not 'VALUE'".
bool SetOption(SOptions& o, const std::string& key, const std::string& value, std::string& error);

// The bridge's id: --id, else from the prefix, else from the switcher's address.
std::string BridgeId(const SOptions& o);
// This machine, for client ids that differ between machines: the start of /etc/machine-id,
// else the host name, in the characters of an id.
std::string MachineTag();

// A configuration file is a few lines; anything much larger is not one.
inline constexpr std::size_t kConfigMaxBytes = 64 * 1024;

// The first line of a secret's file (the broker's password). Refused, with the reason, when
// the file is not a regular file or others may read or write it.
std::optional<std::string> ReadSecretFile(const std::string& path, std::string& error);

extern const char kUsage[];

}  // namespace corvane::mqtt
