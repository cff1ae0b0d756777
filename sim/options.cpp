#include "sim/options.h"

#include "core/address/address.h"

#include <cctype>
#include <charconv>
#include <set>

namespace corvane::sim {
namespace {

// Waits are added to the clock; a day is longer than any test needs.
constexpr int64_t kMaxWaitMs = 24 * 3600 * 1000;

template <typename T>
bool Number(const std::string& s, T& out)
{
    int base = 10;
    const char* b = s.data();
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        base = 16;
        b += 2;
    }
    const char* e = s.data() + s.size();
    const auto [p, ec] = std::from_chars(b, e, out, base);
    return ec == std::errc() && p == e && b != e;
}

// "[HOST:]PORT"
bool HostPort(const std::string& text, std::string& host, uint16_t& port)
{
    const auto colon = text.rfind(':');
    if (colon != std::string::npos) {
        Ipv4 ip;
        if (!ParseIpv4(text.substr(0, colon), ip))
            return false;
        host = text.substr(0, colon);
        return Number(text.substr(colon + 1), port);
    }
    return Number(text, port);
}

std::string HexText(const std::string& v) { return v.rfind("0x", 0) == 0 || v.rfind("0X", 0) == 0 ? v : "0x" + v; }

// "04", or "02:3" with the range of a fault rule.
bool IsHexByteWord(const std::string& w)
{
    if (w.size() < 2 || !std::isxdigit(static_cast<unsigned char>(w[0])) ||
        !std::isxdigit(static_cast<unsigned char>(w[1])))
        return false;
    if (w.size() == 2)
        return true;
    return w[2] == ':' && w.find_first_not_of("0123456789-*", 3) == std::string::npos;
}

bool ComNumber(std::string text, int& n)
{
    if (text.size() > 3 && (text.compare(0, 3, "com") == 0 || text.compare(0, 3, "COM") == 0))
        text = text.substr(3);
    return Number(text, n) && n >= 1 && n <= 255;
}

}  // namespace

bool ParseMac(const std::string& text, Mac& out)
{
    std::size_t k = 0;
    int high = -1;
    for (char c : text) {
        if (c == ':' || c == '-') {
            if (high >= 0)
                return false;
            continue;
        }
        if (!std::isxdigit(static_cast<unsigned char>(c)) || k >= out.size())
            return false;
        const int d = std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : std::tolower(c) - 'a' + 10;
        if (high < 0) {
            high = d;
        } else {
            out[k++] = static_cast<uint8_t>(high * 16 + d);
            high = -1;
        }
    }
    return k == out.size() && high < 0;
}

bool ParseIpv4(const std::string& text, Ipv4& out)
{
    const auto a = corvane::ParseIpv4(std::string_view(text));
    if (!a)
        return false;
    out = {uint8_t(*a >> 24), uint8_t(*a >> 16), uint8_t(*a >> 8), uint8_t(*a)};
    return true;
}

bool ParseSignals(const std::string& text, SwitcherSettings& s)
{
    const auto colon = text.find(':');
    const std::string in = text.substr(0, colon);
    const std::string out = colon == std::string::npos ? "" : text.substr(colon + 1);
    if (in.size() != kInputs || (colon != std::string::npos && out.size() != kOutputs))
        return false;
    for (char c : in + out)
        if (c != '0' && c != '1')
            return false;
    for (int i = 0; i < kInputs; ++i)
        s.inputSignal[i] = in[i] == '1';
    for (std::size_t i = 0; i < out.size(); ++i)
        s.outputSignal[i] = out[i] == '1';
    return true;
}

namespace {
std::string SignalsText(const CSwitcher& d)
{
    std::string t;
    for (int i = 1; i <= kInputs; ++i)
        t += d.InputSignal(i) ? '1' : '0';
    t += ':';
    for (int o = 1; o <= kOutputs; ++o)
        t += d.OutputSignal(o) ? '1' : '0';
    return t;
}
}  // namespace

std::optional<std::string> ControlCommand(const std::string& line, CSwitcher& device, std::string& error)
{
    std::vector<std::string> words;
    std::size_t at = 0;
    while (at < line.size()) {
        const std::size_t start = line.find_first_not_of(" \t\r", at);
        if (start == std::string::npos)
            break;
        at = std::min(line.find_first_of(" \t\r", start), line.size());
        words.push_back(line.substr(start, at - start));
    }
    if (words.empty()) {
        error = "empty command";
        return std::nullopt;
    }
    if (words[0] == "signals" && words.size() == 2) {
        SwitcherSettings s;
        for (int i = 1; i <= kInputs; ++i)
            s.inputSignal[i - 1] = device.InputSignal(i);
        for (int o = 1; o <= kOutputs; ++o)
            s.outputSignal[o - 1] = device.OutputSignal(o);
        if (!ParseSignals(words[1], s)) {
            error = "signals takes IIII[:OO] of 0 and 1, not '" + words[1] + "'";
            return std::nullopt;
        }
        for (int i = 1; i <= kInputs; ++i)
            device.SetInputSignal(i, s.inputSignal[i - 1]);
        for (int o = 1; o <= kOutputs; ++o)
            device.SetOutputSignal(o, s.outputSignal[o - 1]);
        return "signals " + SignalsText(device);
    }
    if ((words[0] == "input" || words[0] == "output") && words.size() == 3) {
        const bool input = words[0] == "input";
        const int count = input ? kInputs : kOutputs;
        int n = 0;
        if (!Number(words[1], n) || n < 1 || n > count) {
            error = words[0] + " is 1 to " + std::to_string(count) + ", not '" + words[1] + "'";
            return std::nullopt;
        }
        if (words[2] != "on" && words[2] != "off") {
            error = "on or off, not '" + words[2] + "'";
            return std::nullopt;
        }
        if (input)
            device.SetInputSignal(n, words[2] == "on");
        else
            device.SetOutputSignal(n, words[2] == "on");
        return "signals " + SignalsText(device);
    }
    error = "unknown command '" + line + "' (signals IIII[:OO], input N on|off, output N on|off)";
    return std::nullopt;
}

std::string UsageText()
{
    return R"(Usage: corvane-sim [TRANSPORTS] [DEVICE] [FAULTS] [--quiet]
Emulates the 4x2 HDMI matrix switcher for the control panel. With no transport named,
all three are opened.

Transports:
  --serial [comN]          pseudo-terminal published as the port alias comN in the port
                           directory ($CORVANE_PORT_DIR, else $XDG_RUNTIME_DIR/corvane/ports,
                           else /tmp/corvane-<uid>/ports); default: first free from com200
  --tcp [[ADDR:]PORT]      TCP control port (default 127.0.0.1:8000; PORT 0 picks a free one)
  --udp [[ADDR:]S[,C]]     search and configuration ports (default 0.0.0.0:30600,30601)
  --udp-reply fixed|source where datagram replies go: fixed = the sender's address at the port
                           the request came to (30600/30601, as a switcher does; default);
                           source = the sender's address and port
  --pace-line              the serial link runs at the real line's speed, both ways: 19200
                           baud, 11 bits a byte (start, 8 data, 2 stop), 0.573 ms a byte

Device:
  --mac XX:XX:XX:XX:XX:XX  MAC address (default 02:C5:1A:00:00:01)
  --ip A.B.C.D             IPv4 address reported by the search (default 127.0.0.1)
  --auto-ip A.B.C.D        address taken on automatic addressing (default: --ip)
  --static                 start with static addressing (default automatic)
  --signals IIII[:OO]      1 = signal present on inputs 1-4 and outputs 1-2 (default 1100:11)
  --control                read commands from standard input, one a line, while running:
                             signals IIII[:OO]   the signals as --signals gives them
                             input N on|off      a source appears on or leaves input N
                             output N on|off     a display appears on or leaves output N
                           each taken is answered "control: signals IIII:OO" on standard
                           output; the end of input ends only the commands
  --device-type N          device type byte (default 1)
  --fw-version MAJ.MIN     firmware version (default 1.32)
  --build TEXT             eight-character build text (default 20261207)
  --reboot-ms MS           time from the last firmware packet until the reboot check is
                           answered (default 4000, at most a day)
  --fw-control N:XX        acknowledge firmware packet N (1-based) with control byte XX
                           (F0 or B0; B0 makes the panel skip 3840 bytes); repeatable
  --reboot-reply N=XX[,N=XX]  bytes of the answer to the reboot check (the device-type query
                           without its tag) that are 00 unless given: N is 5 to 11;
                           bytes 7 and 8 other than 00 make the panel miss the switcher's return
  --fw-out FILE            write each received firmware image (descrambled) to FILE
  --edid-out DIR           keep each input's EDID in DIR/in1.bin .. in4.bin (256 bytes), written
                           at start and whenever an input is given another EDID
  --block-wait-ms MS       drop a data block that stops arriving for MS (default 1000, at
                           most a day)

Faults:
  --fault KIND[=ARG]:TARGET[:RANGE]     repeatable
      KIND    drop              the reply is not sent
              delay[=MS]        the reply leaves MS later (default 1000)
              corrupt           the reply's checksum byte is inverted (search reply: marker)
              split[=MS]        the reply is written one byte at a time, MS apart (default 2)
              merge[=MS]        the reply waits for the next one and both leave in one write
                                (it leaves alone after MS, default 5000)
              noise[=N]         N garbage bytes before the reply's header (default 4, at
                                most 4096)
              refuse            the command is not carried out; the reply carries error code
                                EE (configuration: byte 74 = 01)
              hangup            the link is closed instead of replying (serial: the pty is
                                closed and a new one published under the same alias;
                                TCP: the connection is closed; datagrams: no reply)
              value=N           the reply reports N (0 to 255) in byte 6, the value it
                                carries (a route's input, an EDID's index), checksum kept right
      TARGET  hex bytes 2.. of the command ("01 04 02", "200156"), any, search or config
      RANGE   which matching exchanges: N, N-M or N- (default: all)
      e.g. --fault drop:01 04 02   --fault delay=3500:20 01 AA:2   --fault refuse:config
  --fault-random SEED:RATE[:KINDS]      each exchange hit with chance RATE (0.1 or 10%) by
                           one of KINDS (default drop,delay,corrupt,split,merge,noise)

Output:
  The first line tells where the switcher is reachable, e.g.
    serial: com200 -> /dev/pts/5; tcp: 127.0.0.1:8000; udp: 0.0.0.0:30600,30601
  then every frame received and sent, in hexadecimal with a time stamp, one per line.
  --quiet                  print only the first line (and later "serial:" and "control:" lines)
  --help                   this text
  --version                the version, shared by the panel and corvanectl
)";
}

std::optional<Options> ParseOptions(const std::vector<std::string>& args, std::string& error)
{
    // The options whose value is the next word, whatever it is.
    static const std::set<std::string> kWithValue = {
        "--udp-reply", "--mac", "--ip", "--auto-ip", "--signals", "--device-type", "--fw-version",
        "--build", "--reboot-ms", "--reboot-reply", "--block-wait-ms", "--fw-control", "--fw-out", "--edid-out",
        "--fault", "--fault-random",
    };
    Options o;
    bool autoIpGiven = false;
    bool ipGiven = false;
    const std::size_t n = args.size();
    for (std::size_t i = 0; i < n; ++i) {
        const std::string& a = args[i];
        // An optional value: the next word unless it is another option.
        auto optional = [&](std::string& v) {
            if (i + 1 < n && !args[i + 1].empty() && args[i + 1][0] != '-') {
                v = args[++i];
                return true;
            }
            return false;
        };
        auto bad = [&](const std::string& v) {
            error = "bad value for " + a + ": '" + v + "'";
            return std::nullopt;
        };
        std::string v;
        if (kWithValue.count(a)) {
            if (i + 1 >= n) {
                error = a + " needs a value";
                return std::nullopt;
            }
            v = args[++i];
        }
        if (a == "--help" || a == "-h") {
            o.help = true;
        } else if (a == "--version") {
            o.version = true;
        } else if (a == "--quiet" || a == "-q") {
            o.quiet = true;
        } else if (a == "--control") {
            o.control = true;
        } else if (a == "--serial") {
            o.serial = true;
            if (optional(v) && !ComNumber(v, o.comNumber))
                return bad(v);
        } else if (a == "--tcp") {
            o.tcp = true;
            if (optional(v) && !HostPort(v, o.tcpHost, o.tcpPort))
                return bad(v);
        } else if (a == "--udp") {
            o.udp = true;
            if (optional(v)) {
                const auto comma = v.find(',');
                std::string host = o.udpHost;
                if (!HostPort(v.substr(0, comma), host, o.searchPort))
                    return bad(v);
                o.udpHost = host;
                if (comma == std::string::npos)
                    o.configPort = o.searchPort ? static_cast<uint16_t>(o.searchPort + 1) : 0;
                else if (!Number(v.substr(comma + 1), o.configPort))
                    return bad(v);
            }
        } else if (a == "--pace-line") {
            o.paceLine = true;
        } else if (a == "--udp-reply") {
            if (v == "source")
                o.udpReplyToSource = true;
            else if (v == "fixed")
                o.udpReplyToSource = false;
            else
                return bad(v);
        } else if (a == "--mac") {
            if (!ParseMac(v, o.settings.mac))
                return bad(v);
        } else if (a == "--ip") {
            if (!ParseIpv4(v, o.settings.ip))
                return bad(v);
            ipGiven = true;
        } else if (a == "--auto-ip") {
            if (!ParseIpv4(v, o.settings.autoIp))
                return bad(v);
            autoIpGiven = true;
        } else if (a == "--static") {
            o.settings.dhcp = false;
        } else if (a == "--signals") {
            if (!ParseSignals(v, o.settings))
                return bad(v);
        } else if (a == "--device-type") {
            if (!Number(v, o.settings.deviceType))
                return bad(v);
        } else if (a == "--fw-version") {
            const auto dot = v.find('.');
            if (dot == std::string::npos || !Number(v.substr(0, dot), o.settings.versionMajor) ||
                !Number(v.substr(dot + 1), o.settings.versionMinor))
                return bad(v);
        } else if (a == "--build") {
            if (v.size() > 8)
                return bad(v);
            o.settings.build.fill(' ');
            std::copy(v.begin(), v.end(), o.settings.build.begin());
        } else if (a == "--reboot-ms") {
            if (!Number(v, o.settings.rebootMs) || o.settings.rebootMs < 0 || o.settings.rebootMs > kMaxWaitMs)
                return bad(v);
        } else if (a == "--reboot-reply") {
            std::size_t at = 0;
            while (at <= v.size()) {
                const std::size_t comma = std::min(v.find(',', at), v.size());
                const std::string item = v.substr(at, comma - at);
                const auto eq = item.find('=');
                unsigned pos = 0, value = 0;
                if (eq == std::string::npos || !Number(item.substr(0, eq), pos) ||
                    (pos < 5 || pos > 11) || !Number(HexText(item.substr(eq + 1)), value) ||
                    value > 0xFF)
                    return bad(v);
                o.settings.rebootReply[pos] = static_cast<uint8_t>(value);
                at = comma + 1;
            }
        } else if (a == "--block-wait-ms") {
            if (!Number(v, o.blockWaitMs) || o.blockWaitMs < 1 || o.blockWaitMs > kMaxWaitMs)
                return bad(v);
        } else if (a == "--fw-control") {
            const auto colon = v.find(':');
            unsigned packet = 0;
            unsigned control = 0;
            if (colon == std::string::npos || !Number(v.substr(0, colon), packet) || packet == 0 ||
                !Number(HexText(v.substr(colon + 1)), control) || control > 0xFF)
                return bad(v);
            o.settings.packetControl[packet] = static_cast<uint8_t>(control);
        } else if (a == "--fw-out") {
            o.fwOut = v;
        } else if (a == "--edid-out") {
            o.edidOut = v;
        } else if (a == "--fault") {
            // Unquoted "--fault drop:01 04 02" arrives as three words: the hex bytes belong to it.
            while (i + 1 < n && IsHexByteWord(args[i + 1]))
                v += " " + args[++i];
            std::string why;
            auto rule = ParseFaultRule(v, why);
            if (!rule) {
                error = "--fault '" + v + "': " + why;
                return std::nullopt;
            }
            o.faults.push_back(*rule);
        } else if (a == "--fault-random") {
            std::string why;
            o.random = ParseRandomFaults(v, why);
            if (!o.random) {
                error = "--fault-random '" + v + "': " + why;
                return std::nullopt;
            }
        } else {
            error = "unknown option '" + a + "'";
            return std::nullopt;
        }
    }
    if (!o.serial && !o.tcp && !o.udp)
        o.serial = o.tcp = o.udp = true;
    if (ipGiven && !autoIpGiven)
        o.settings.autoIp = o.settings.ip;
    if (ipGiven && o.settings.ip[0] != 127) {
        o.settings.mask = {255, 255, 255, 0};
        o.settings.gateway = {o.settings.ip[0], o.settings.ip[1], o.settings.ip[2], 1};
    }
    o.settings.tcpPort = o.tcpPort;
    return o;
}

}  // namespace corvane::sim
