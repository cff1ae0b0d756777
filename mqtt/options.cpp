#include "mqtt/options.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <map>
#include <span>

#include "core/text/text.h"
#include "mqtt/topics.h"
#include "platform/regular_file.h"
#include "transport/linked_switcher.h"

namespace corvane::mqtt {

const char kUsage[] =
    "Usage: corvane-mqtt --broker HOST[:PORT] (--host ADDRESS[:PORT] | --port COMn|PATH) [options]\n"
    "       corvane-mqtt --config FILE [options]\n"
    "\n"
    "One switcher on an MQTT broker: its state published (retained) under the prefix, commands\n"
    "taken on .../set topics, Home Assistant discovery.\n"
    "\n"
    "  --broker HOST[:PORT]      the broker (port 1883, 8883 with --tls-ca)\n"
    "  --host ADDRESS[:PORT]     the switcher over TCP (port 8000)\n"
    "  --port COMn|PATH          the switcher's serial port\n"
    "  --username NAME           the broker's user name\n"
    "  --password-file FILE      the broker's password, the file's first line (not readable by others)\n"
    "  --tls-ca FILE             TLS to the broker, its certificate checked against these CAs\n"
    "  --tls-cert FILE, --tls-key FILE  a client certificate and its key\n"
    "  --interval MS             a reading every MS milliseconds (default 2000, from 100)\n"
    "  --id NAME                 the bridge's id: letters, digits, '_', '-' (default from --prefix,\n"
    "                            else from the switcher's address)\n"
    "  --prefix TOPIC            the topics' prefix (default corvane/<id>)\n"
    "  --discovery-prefix TOPIC  Home Assistant's discovery prefix (default homeassistant)\n"
    "  --no-discovery            publish no discovery documents\n"
    "  --remove-discovery        remove this bridge's discovery documents and retained topics, then end\n"
    "                            (refused while the bridge runs, unless --force)\n"
    "  --scenes DIR              the folder's scene files (NAME.json) as presets\n"
    "  --client-id ID            the MQTT client id (default corvane-mqtt-<id>-<machine>)\n"
    "  --keepalive S             the MQTT keep-alive in seconds (default 30)\n"
    "  --mqtt-version 3.1.1|5    the MQTT protocol version (default 3.1.1)\n"
    "  --config FILE             the same settings as KEY = VALUE lines (see the manual page)\n"
    "  --trace                   every frame to and from the switcher on standard error\n"
    "  --OPTION=VALUE            the same as --OPTION VALUE; a flag takes =true or =false\n"
    "  -h, --help, --version\n";

namespace {

// Options that take a value, and flags; a configuration file takes the same names.
const char* const kValued[] = {"broker",   "host",   "port",       "username",         "password-file",
                               "tls-ca",   "tls-cert", "tls-key",  "interval",         "prefix",
                               "discovery-prefix", "client-id", "keepalive", "mqtt-version", "config", "id", "scenes"};
const char* const kFlags[] = {"no-discovery", "remove-discovery", "force", "trace", "help", "version"};

bool Known(const std::string& key, bool valued)
{
    for (const char* k : valued ? std::span<const char* const>(kValued) : std::span<const char* const>(kFlags))
        if (key == k)
            return true;
    return false;
}

std::optional<long> Number(const std::string& v, long min, long max)
{
    if (v.empty() || v.size() > 9 || v.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    const long n = std::stol(v);
    return n >= min && n <= max ? std::optional<long>(n) : std::nullopt;
}

}  // namespace

bool SetOption(SOptions& o, const std::string& key, const std::string& value, std::string& error)
{
    auto bad = [&](const std::string& what) {
        error = key + ": " + what + ", not '" + value + "'";
        return false;
    };
    if (key == "broker") {
        const auto colon = value.rfind(':');
        o.brokerHost = value.substr(0, colon);
        if (colon != std::string::npos) {
            const auto port = Number(value.substr(colon + 1), 1, 65535);
            if (!port)
                return bad("HOST or HOST:PORT with a port from 1 to 65535");
            o.brokerPort = static_cast<int>(*port);
        }
        if (o.brokerHost.empty())
            return bad("HOST or HOST:PORT");
    } else if (key == "host") {
        if (!ParseHost(value))
            return bad("an IPv4 address, A.B.C.D or A.B.C.D:PORT");
        o.link.host = value;
    } else if (key == "port") {
        std::string why;
        if (!ParsePortName(value, why))
            return bad("COM1 to COM255, or a device path");
        o.link.port = value;
    } else if (key == "username") {
        o.username = value;
    } else if (key == "password-file") {
        o.passwordFile = value;
    } else if (key == "tls-ca") {
        o.tlsCa = value;
    } else if (key == "tls-cert") {
        o.tlsCert = value;
    } else if (key == "tls-key") {
        o.tlsKey = value;
    } else if (key == "interval") {
        const auto n = Number(value, kMinIntervalMs, kMaxIntervalMs);
        if (!n)
            return bad("milliseconds from " + std::to_string(kMinIntervalMs) + " to " + std::to_string(kMaxIntervalMs));
        o.intervalMs = static_cast<unsigned>(*n);
    } else if (key == "prefix" || key == "discovery-prefix") {
        // A prefix is a topic of its own: no wildcards, no empty levels at either end.
        if (value.empty() || value.find_first_of("+#") != std::string::npos || value.front() == '/' ||
            value.back() == '/' || value.find('\0') != std::string::npos)
            return bad("a topic without wildcards, '/' at either end");
        (key == "prefix" ? o.prefix : o.discoveryPrefix) = value;
    } else if (key == "id") {
        if (value.empty() || value.size() > 64 ||
            value.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_-") != std::string::npos)
            return bad("1 to 64 letters, digits, '_' or '-'");
        o.id = value;
    } else if (key == "scenes") {
        if (value.empty())
            return bad("a folder");
        o.scenes = value;
    } else if (key == "client-id") {
        if (value.empty() || value.size() > 23 * 4)
            return bad("1 to 92 characters");
        o.clientId = value;
    } else if (key == "keepalive") {
        const auto n = Number(value, 5, 65535);
        if (!n)
            return bad("seconds from 5 to 65535");
        o.keepalive = static_cast<int>(*n);
    } else if (key == "mqtt-version") {
        if (value == "3.1.1" || value == "311" || value == "4")
            o.mqttVersion = 311;
        else if (value == "5" || value == "5.0")
            o.mqttVersion = 5;
        else
            return bad("3.1.1 or 5");
    } else if (key == "discovery" || key == "remove-discovery" || key == "trace" || key == "force") {
        bool on;
        if (value == "true" || value == "yes" || value == "on")
            on = true;
        else if (value == "false" || value == "no" || value == "off")
            on = false;
        else
            return bad("true or false");
        if (key == "discovery")
            o.discovery = on;
        else if (key == "force")
            o.force = on;
        else if (key == "trace")
            o.link.trace = on;
        else
            o.removeDiscovery = on;
    } else {
        error = "unknown setting '" + key + "'";
        return false;
    }
    return true;
}

namespace {

bool Set(SOptions& o, const std::string& key, const std::string& value, std::string& error)
{
    return SetOption(o, key, value, error);
}

bool ReadConfig(SOptions& o, const std::string& path, std::string& error)
{
    // Never waits on a FIFO, never reads more than a configuration file can be.
    std::vector<uint8_t> bytes;
    switch (ReadRegularFile(path, kConfigMaxBytes, bytes)) {
    case RegularFileError::None: break;
    case RegularFileError::NotRegular: error = "--config " + path + ": not a regular file"; return false;
    case RegularFileError::TooLarge:
        error = "--config " + path + ": longer than " + std::to_string(kConfigMaxBytes) + " bytes; not a configuration file";
        return false;
    default: error = "--config " + path + ": " + std::strerror(errno); return false;
    }
    std::istringstream in(std::string(bytes.begin(), bytes.end()));
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
        if (key == "password") {
            error = where + "the password is read from the file password-file names, never given here";
            return false;
        }
        if (key == "config" || key == "help" || key == "version" || !Set(o, key, value, error)) {
            if (key == "config" || key == "help" || key == "version")
                error = "unknown setting '" + key + "'";
            error = where + error;
            return false;
        }
    }
    return true;
}

}  // namespace

std::vector<std::string> ConfigFiles(const std::vector<std::string>& args)
{
    std::vector<std::string> paths;
    for (std::size_t k = 0; k < args.size(); ++k) {
        if (args[k] == "--config" && k + 1 < args.size())
            paths.push_back(args[k + 1]);
        else if (args[k].rfind("--config=", 0) == 0)
            paths.push_back(args[k].substr(9));
    }
    return paths;
}

std::optional<SOptions> ParseOptions(const std::vector<std::string>& args, std::string& error)
{
    SOptions o;
    // The file first, wherever --config stands, so that the command line wins.
    for (const std::string& path : ConfigFiles(args))
        if (!ReadConfig(o, path, error))
            return std::nullopt;
    for (std::size_t k = 0; k < args.size(); ++k) {
        const std::string& a = args[k];
        if (a == "-h" || a == "--help") {
            o.help = true;
            return o;
        }
        if (a == "--password") {
            error = "--password: the password is read from a file (--password-file FILE), never from the command line";
            return std::nullopt;
        }
        if (a.rfind("--", 0) != 0) {
            error = "unexpected '" + a + "'";
            return std::nullopt;
        }
        std::string key = a.substr(2), value;
        if (const auto eq = key.find('='); eq != std::string::npos) {
            value = key.substr(eq + 1);
            key = key.substr(0, eq);
            if (key == "no-discovery") {
                // --no-discovery=true turns discovery off, as --no-discovery does.
                if (!Set(o, "discovery", value, error))
                    return error = "--no-" + error, std::nullopt;
                o.discovery = !o.discovery;
                continue;
            }
            if (key == "help" || key == "version") {
                error = "--" + key + " takes no value";
                return std::nullopt;
            }
            if (!Known(key, true) && !Known(key, false)) {
                error = "unknown option --" + key;
                return std::nullopt;
            }
        } else if (Known(key, true)) {
            if (k + 1 >= args.size()) {
                error = a + " needs a value";
                return std::nullopt;
            }
            value = args[++k];
        } else if (Known(key, false)) {
            if (key == "help")
                o.help = true;
            else if (key == "version")
                o.version = true;
            else if (key == "no-discovery")
                o.discovery = false;
            else
                value = "true";
            if (key == "no-discovery" || key == "help" || key == "version")
                continue;
        } else {
            error = "unknown option " + a;
            return std::nullopt;
        }
        if (key == "config")
            continue;
        if (!Set(o, key, value, error)) {
            error = "--" + error;
            return std::nullopt;
        }
    }
    if (o.help || o.version)
        return o;
    if (o.link.port.empty() && o.link.host.empty()) {
        if (const char* p = std::getenv("CORVANE_PORT"); p && *p && !Set(o, "port", p, error))
            return std::nullopt;
        if (const char* h = std::getenv("CORVANE_HOST"); h && *h && o.link.port.empty() && !Set(o, "host", h, error))
            return std::nullopt;
    }
    if (o.brokerHost.empty())
        error = "no broker: give --broker HOST[:PORT]";
    else if (o.link.port.empty() == o.link.host.empty())
        error = o.link.port.empty() ? "no switcher: give --host ADDRESS or --port COMn"
                                    : "give --host or --port, not both";
    else if (o.tlsCert.empty() != o.tlsKey.empty())
        error = "--tls-cert and --tls-key go together";
    else if (!o.tlsCert.empty() && o.tlsCa.empty())
        error = "--tls-cert needs --tls-ca";
    else if (!o.passwordFile.empty() && o.username.empty())
        error = "--password-file needs --username";
    if (!error.empty())
        return std::nullopt;
    return o;
}

std::string BridgeId(const SOptions& o) { return o.id.empty() ? SwitcherId(o.link, o.prefix) : o.id; }

std::string MachineTag()
{
    std::vector<uint8_t> bytes;
    if (ReadRegularFile("/etc/machine-id", 256, bytes) == RegularFileError::None) {
        const std::string id = SanitizeId(std::string(bytes.begin(), bytes.end()));
        if (id.size() >= 8 && id != "switcher")
            return id.substr(0, 8);
    }
    char host[256] = {};
    if (gethostname(host, sizeof host - 1) == 0 && host[0])
        return SanitizeId(host).substr(0, 32);
    return "host";
}

std::optional<std::string> ReadSecretFile(const std::string& path, std::string& error)
{
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        error = path + ": " + std::strerror(errno);
        return std::nullopt;
    }
    struct stat st {};
    std::string why;  // error may hold an earlier text: only this call's decides
    std::string text;
    if (fstat(fd, &st) != 0) {
        why = path + ": " + std::strerror(errno);
    } else if (!S_ISREG(st.st_mode)) {
        why = path + ": not a regular file";
    } else if (st.st_mode & (S_IROTH | S_IWOTH)) {
        why = path + ": others may read or write it; refused (chmod o-rwx " + path + ")";
    } else if (st.st_size > 4096) {
        why = path + ": longer than a password file (4096 bytes)";
    } else {
        char buf[4097];
        const ssize_t n = read(fd, buf, sizeof buf - 1);
        if (n < 0)
            why = path + ": " + std::strerror(errno);
        else
            text.assign(buf, static_cast<std::size_t>(n));
    }
    close(fd);
    if (!why.empty()) {
        error = why;
        return std::nullopt;
    }
    text = text.substr(0, text.find('\n'));
    if (!text.empty() && text.back() == '\r')
        text.pop_back();
    return text;
}

}  // namespace corvane::mqtt
