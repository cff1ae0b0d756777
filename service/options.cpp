#include "service/options.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <set>
#include <sstream>

#include "core/address/address.h"
#include "core/text/text.h"
#include "mqtt/topics.h"
#include "platform/regular_file.h"

namespace corvane::service {

const char kServiceUsage[] =
    "Usage: corvaned [--host ADDRESS[:PORT][=LABEL]]... [--port COMn|DEVICE[=LABEL]]...\n"
    "                [--hosts-file FILE] [--web ADDRESS:PORT] [options]\n"
    "       corvaned --config FILE [options]\n"
    "Holds the switchers of a site in one process and serves them over an HTTP API with a\n"
    "WebSocket stream of changes, and over MQTT; each face optional. Called corvane-mqtt, or\n"
    "given --broker for one unlabelled switcher alone, it is the one-switcher bridge.\n\n"
    "  --host ADDRESS[:PORT][=LABEL]  a switcher on TCP (port 8000 by default); repeatable\n"
    "  --port COMn|DEVICE[=LABEL]     a switcher on a serial port; repeatable\n"
    "  --hosts-file FILE          switchers a line: an address or serial port, then a label\n"
    "  --web ADDRESS:PORT         serve the API there (loopback unless told otherwise)\n"
    "  --web-name NAME            another name clients reach the service by; repeatable\n"
    "  --token-file FILE          the token every API call needs (required off loopback)\n"
    "  --scenes DIR               scene files (NAME.json), offered as presets\n"
    "  --interval MS              time between readings of each switcher (default 2000)\n"
    "  --config FILE              the same settings as KEY = VALUE lines\n"
    "  --broker HOST[:PORT]       serve every switcher over MQTT on this broker too, with\n"
    "                             corvane-mqtt's --username, --password-file, --tls-ca, --tls-cert,\n"
    "                             --tls-key, --discovery-prefix, --no-discovery, --client-id,\n"
    "                             --keepalive, --mqtt-version\n"
    "  --prefix ID=TOPIC          the MQTT topics' prefix of switcher ID (default corvane/ID)\n"
    "  --remove-discovery         remove every switcher's discovery documents and retained\n"
    "                             topics from the broker, then end (refused while the service\n"
    "                             runs, unless --force)\n"
    "  --trace                    every frame to and from each switcher on standard error,\n"
    "                             after the switcher's id\n"
    "  --help, --version\n";

namespace {
constexpr std::size_t kConfigMaxBytes = 64 * 1024;
constexpr std::size_t kHostsMaxBytes = 1 << 20;

const char* const kValued[] = {"host",     "port",       "hosts-file", "web",           "web-name",
                               "token-file", "scenes",   "interval",   "config",        "prefix"};
// The MQTT connection's settings, as corvane-mqtt takes them.
const char* const kBroker[] = {"broker",  "username",         "password-file", "tls-ca",       "tls-cert",
                               "tls-key", "discovery-prefix", "client-id",     "keepalive",    "mqtt-version"};

bool BrokerKey(const std::string& key)
{
    return std::any_of(std::begin(kBroker), std::end(kBroker), [&](const char* k) { return key == k; });
}

bool Valued(const std::string& key)
{
    return BrokerKey(key) || std::any_of(std::begin(kValued), std::end(kValued), [&](const char* k) { return key == k; });
}

// Switches: given alone on the command line, or KEY = true|false.
bool Flag(const std::string& key) { return key == "remove-discovery" || key == "force" || key == "trace"; }

bool ReadText(const std::string& what, const std::string& path, std::size_t max, std::string& text, std::string& error)
{
    std::vector<uint8_t> bytes;
    switch (ReadRegularFile(path, max, bytes)) {
    case RegularFileError::None: text.assign(bytes.begin(), bytes.end()); return true;
    case RegularFileError::NotRegular: error = what + " " + path + ": not a regular file"; return false;
    case RegularFileError::TooLarge: error = what + " " + path + ": longer than " + std::to_string(max) + " bytes"; return false;
    default: error = what + " " + path + ": " + std::strerror(errno); return false;
    }
}

bool Set(SServiceOptions& o, const std::string& key, const std::string& value, std::string& error)
{
    if (key == "host" || key == "port") {
        auto unit = ParseUnit(value, key == "port", error);
        if (!unit)
            return false;
        o.units.push_back(std::move(*unit));
    } else if (key == "hosts-file") {
        std::string text;
        if (!ReadText("--hosts-file", value, kHostsMaxBytes, text, error))
            return false;
        auto units = ParseHostsText(text, error);
        if (!units) {
            error = "--hosts-file " + value + ": " + error;
            return false;
        }
        o.units.insert(o.units.end(), units->begin(), units->end());
    } else if (key == "web") {
        // ADDRESS:PORT, [IPV6]:PORT, or an address alone for the default port.
        std::string address = value, portText;
        bool hasPort = false;
        if (!value.empty() && value.front() == '[') {
            const auto close = value.find(']');
            const std::string rest = close == std::string::npos ? "x" : value.substr(close + 1);
            if (!rest.empty() && rest.front() != ':') {
                error = "--web: ADDRESS:PORT, not '" + value + "'";
                return false;
            }
            address = value.substr(1, close - 1);
            hasPort = !rest.empty();
            portText = hasPort ? rest.substr(1) : "";
        } else if (std::count(value.begin(), value.end(), ':') == 1) {
            address = value.substr(0, value.find(':'));
            portText = value.substr(value.find(':') + 1);
            hasPort = true;
        }
        int port = kDefaultWebPort;
        if (hasPort) {
            if (portText.empty() || portText.size() > 5 || portText.find_first_not_of("0123456789") != std::string::npos ||
                std::stoi(portText) > 65535) {
                error = "--web: ADDRESS:PORT with a port from 0 to 65535, not '" + value + "'";
                return false;
            }
            port = std::stoi(portText);
        }
        if (address.empty()) {
            error = "--web: ADDRESS:PORT, not '" + value + "'";
            return false;
        }
        o.web = value;
        o.webAddress = address;
        o.webPort = port;
    } else if (key == "web-name") {
        // A host name, an IPv4 address, or an IPv6 address bare or in brackets.
        const bool bracketed = value.size() > 2 && value.front() == '[' && value.back() == ']';
        const std::string bare = bracketed ? value.substr(1, value.size() - 2) : value;
        in6_addr v6{};
        if (inet_pton(AF_INET6, bare.c_str(), &v6) == 1) {
            o.webNames.push_back("[" + bare + "]");
        } else if (value.empty() || value.find_first_of(" \t/:@[]") != std::string::npos) {
            error = "--web-name: a host name or address, not '" + value + "'";
            return false;
        } else {
            o.webNames.push_back(value);
        }
    } else if (key == "token-file") {
        o.tokenFile = value;
    } else if (key == "scenes") {
        o.scenes = value;
    } else if (BrokerKey(key) || key == "discovery" || Flag(key)) {
        if (!mqtt::SetOption(o.mqtt, key, value, error)) {
            error = "--" + error;
            return false;
        }
    } else if (key == "prefix") {
        // ID=TOPIC: the topics of the switcher with that id.
        const auto eq = value.find('=');
        mqtt::SOptions check;
        if (eq == std::string::npos || eq == 0) {
            error = "--prefix: ID=TOPIC, not '" + value + "'";
            return false;
        }
        if (!mqtt::SetOption(check, "prefix", value.substr(eq + 1), error)) {
            error = "--" + error;
            return false;
        }
        o.prefixes[value.substr(0, eq)] = check.prefix;
    } else if (key == "interval") {
        const bool digits = !value.empty() && value.size() <= 9 && value.find_first_not_of("0123456789") == std::string::npos;
        const long ms = digits ? std::stol(value) : -1;
        if (ms < kMinIntervalMs || ms > kMaxIntervalMs) {
            error = "--interval: milliseconds from " + std::to_string(kMinIntervalMs) + " to " +
                    std::to_string(kMaxIntervalMs) + ", not '" + value + "'";
            return false;
        }
        o.intervalMs = static_cast<unsigned>(ms);
    } else {
        error = "unknown setting '" + key + "'";
        return false;
    }
    return true;
}

bool ReadConfig(SServiceOptions& o, const std::string& path, std::string& error)
{
    std::string text;
    if (!ReadText("--config", path, kConfigMaxBytes, text, error))
        return false;
    std::istringstream in(text);
    int number = 0;
    for (std::string line; std::getline(in, line);) {
        ++number;
        line = Trim(line);
        if (line.empty() || line[0] == '#')
            continue;
        const auto eq = line.find('=');
        const std::string where = path + ":" + std::to_string(number) + ": ";
        if (eq == std::string::npos) {
            error = where + "expected KEY = VALUE";
            return false;
        }
        const std::string key = Trim(line.substr(0, eq)), value = Trim(line.substr(eq + 1));
        if (key == "config" || !Set(o, key, value, error)) {
            if (key == "config")
                error = "unknown setting 'config'";
            error = where + error;
            return false;
        }
    }
    return true;
}
}  // namespace

bool IsLoopback(const std::string& a)
{
    if (a == "localhost" || a == "::1")
        return true;
    const auto h = ParseHost(a);
    return h && (h->ipv4 >> 24) == 127;
}

std::optional<SUnitPlace> ParseUnit(const std::string& value, bool serial, std::string& error)
{
    SUnitPlace u;
    const auto eq = value.find('=');
    const std::string address = Trim(value.substr(0, eq));
    if (eq != std::string::npos) {
        u.label = Trim(value.substr(eq + 1));
        if (u.label.empty()) {
            error = "an empty label after '=' in '" + value + "'";
            return std::nullopt;
        }
    }
    mqtt::SLinkAddress link;
    if (serial) {
        std::string why;
        if (!ParsePortName(address, why)) {
            error = "--port " + why;
            return std::nullopt;
        }
        u.port = link.port = address;
    } else {
        if (!ParseHost(address) && !IsHostName(address.substr(0, address.find(':')))) {
            error = "--host: an IPv4 address or host name, with :PORT when not 8000, not '" + address + "'";
            return std::nullopt;
        }
        u.host = link.host = address;
    }
    u.id = u.label.empty() ? mqtt::SwitcherId(link, "") : mqtt::SanitizeId(u.label);
    return u;
}

std::optional<std::vector<SUnitPlace>> ParseHostsText(const std::string& text, std::string& error)
{
    std::vector<SUnitPlace> units;
    std::istringstream in(text);
    int number = 0;
    for (std::string line; std::getline(in, line);) {
        ++number;
        line = Trim(line.substr(0, line.find('#')));
        if (line.empty())
            continue;
        const auto blank = line.find_first_of(" \t");
        const std::string address = line.substr(0, blank);
        const std::string label = blank == std::string::npos ? "" : Trim(line.substr(blank));
        std::string why;
        const bool serial = ParsePortName(address, why) && !ParseHost(address);
        auto unit = ParseUnit(address + (label.empty() ? "" : "=" + label), serial, why);
        if (!unit) {
            error = "line " + std::to_string(number) + ": " + why;
            return std::nullopt;
        }
        units.push_back(std::move(*unit));
    }
    return units;
}

std::optional<SServiceOptions> ParseServiceOptions(const std::vector<std::string>& args, std::string& error)
{
    SServiceOptions o;
    for (const std::string& path : mqtt::ConfigFiles(args))
        if (!ReadConfig(o, path, error))
            return std::nullopt;
    for (std::size_t k = 0; k < args.size(); ++k) {
        const std::string& a = args[k];
        if (a == "-h" || a == "--help") {
            o.help = true;
            return o;
        }
        if (a == "--version") {
            o.version = true;
            return o;
        }
        if (a.rfind("--", 0) != 0) {
            error = "unexpected '" + a + "'";
            return std::nullopt;
        }
        std::string key = a.substr(2), value;
        if (key == "no-discovery") {
            o.mqtt.discovery = false;
            continue;
        }
        if (const auto eq = key.find('='); eq != std::string::npos) {
            value = key.substr(eq + 1);
            key = key.substr(0, eq);
        } else if (Valued(key)) {
            if (k + 1 >= args.size()) {
                error = a + " needs a value";
                return std::nullopt;
            }
            value = args[++k];
        } else if (Flag(key)) {
            value = "true";
        }
        if (!Valued(key) && !Flag(key)) {
            error = "unknown option --" + key;
            return std::nullopt;
        }
        if (key == "config")
            continue;
        if (!Set(o, key, value, error)) {
            if (error.rfind("--", 0) != 0)
                error = "--" + key + ": " + error;
            return std::nullopt;
        }
    }
    if (o.units.empty()) {
        error = "no switcher: give --host ADDRESS, --port COMn or --hosts-file FILE";
        return std::nullopt;
    }
    std::set<std::string> ids;
    for (const SUnitPlace& u : o.units) {
        if (!ids.insert(u.id).second) {
            error = "two switchers have the id '" + u.id + "': give each a label of its own (ADDRESS=LABEL)";
            return std::nullopt;
        }
    }
    if (!o.Broker() && (!o.prefixes.empty() || !o.mqtt.username.empty() || !o.mqtt.tlsCa.empty() || o.mqtt.removeDiscovery)) {
        error = "MQTT settings without a broker: give --broker HOST[:PORT]";
        return std::nullopt;
    }
    std::set<std::string> prefixes;
    for (const auto& [id, prefix] : o.prefixes) {
        if (!ids.count(id)) {
            error = "--prefix " + id + "=" + prefix + ": no switcher has the id '" + id + "'";
            return std::nullopt;
        }
    }
    for (const SUnitPlace& u : o.units) {
        // Two switchers on one prefix would each take the other's commands.
        const std::string prefix = o.prefixes.count(u.id) ? o.prefixes.at(u.id) : "corvane/" + u.id;
        if (!prefixes.insert(prefix).second) {
            error = "two switchers have the MQTT prefix '" + prefix + "'";
            return std::nullopt;
        }
    }
    if (o.mqtt.tlsCert.empty() != o.mqtt.tlsKey.empty()) {
        error = "--tls-cert and --tls-key go together";
        return std::nullopt;
    }
    if (!o.mqtt.passwordFile.empty() && o.mqtt.username.empty()) {
        error = "--password-file needs --username";
        return std::nullopt;
    }
    if (!o.web.empty() && !IsLoopback(o.webAddress) && o.tokenFile.empty()) {
        error = "--web " + o.web + " is not a loopback address: give --token-file FILE too";
        return std::nullopt;
    }
    return o;
}

}  // namespace corvane::service
