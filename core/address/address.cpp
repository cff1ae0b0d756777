#include "core/address/address.h"

#include <algorithm>
#include <cctype>

namespace corvane {

namespace {
// A port number of one to five digits, 1 to 65535; 0 for anything else.
uint16_t PortNumber(std::string_view p)
{
    if (p.empty() || p.size() > 5 || p.find_first_not_of("0123456789") != std::string_view::npos)
        return 0;
    const unsigned long n = std::stoul(std::string(p));
    return n <= 65535 ? static_cast<uint16_t>(n) : 0;
}
}  // namespace

std::optional<uint32_t> ParseIpv4(std::u16string_view text)
{
    std::string s;
    for (char16_t c : text.substr(0, std::min<std::size_t>(text.size(), 49)))
        s.push_back(static_cast<char>(c & 0xFF));
    return ParseIpv4(std::string_view(s));
}

std::optional<uint32_t> ParseIpv4(std::string_view s)
{
    const IpFields f = SplitAddress(s);
    if (std::count(s.begin(), s.end(), '.') != 3 || !AddressFieldsValid(f))
        return std::nullopt;
    uint32_t a = 0;
    for (const auto& part : f)
        a = (a << 8) | *AddressFieldValue(part);
    return a;
}

bool IsHostName(std::string_view name)
{
    bool letter = false;
    std::size_t label = 0;
    if (name.empty() || name.size() > 253)
        return false;
    for (std::size_t i = 0; i < name.size(); ++i) {
        const char ch = name[i];
        if (ch == '.') {
            if (label == 0 || name[i - 1] == '-')
                return false;
            label = 0;
            continue;
        }
        const bool alpha = std::isalpha(static_cast<unsigned char>(ch)) != 0;
        if (!alpha && !std::isdigit(static_cast<unsigned char>(ch)) && (ch != '-' || label == 0))
            return false;
        letter = letter || alpha;
        if (++label > 63)
            return false;
    }
    return letter && label != 0 && name.back() != '-';
}

std::optional<SHostPort> ParseHost(std::string_view text, std::string* error)
{
    SHostPort h;
    std::string_view address = text;
    bool ok = true;
    if (const auto colon = text.find(':'); colon != std::string_view::npos) {
        address = text.substr(0, colon);
        h.port = PortNumber(text.substr(colon + 1));
        ok = h.port != 0;
    }
    // Only dotted-decimal text: no name look-up, which could wait on the network.
    ok = ok && !address.empty() && address.find_first_not_of("0123456789.") == std::string_view::npos;
    const auto ip = ok ? ParseIpv4(std::u16string(address.begin(), address.end())) : std::nullopt;
    if (!ip) {
        if (error)
            *error = "'" + std::string(text) + "' is not an IPv4 address (A.B.C.D or A.B.C.D:PORT)";
        return std::nullopt;
    }
    h.ipv4 = *ip;
    return h;
}

std::string HostWithPort(std::string_view text)
{
    const auto h = ParseHost(text);
    if (!h || text.find(':') != std::string_view::npos)
        return std::string(text);
    return std::string(text) + ":" + std::to_string(h->port);
}

std::optional<SUdpTarget> ParseUdpTarget(std::string_view text, std::string& error)
{
    SUdpTarget t;
    std::string_view address = text;
    if (const auto colon = text.find(':'); colon != std::string_view::npos) {
        address = text.substr(0, colon);
        const std::string_view ports = text.substr(colon + 1);
        const auto comma = ports.find(',');
        const uint16_t search = PortNumber(ports.substr(0, comma));
        const uint16_t config = comma == std::string_view::npos ? 0 : PortNumber(ports.substr(comma + 1));
        if (search == 0 || config == 0) {
            error = std::string(text) + ": ports are SEARCH,CONFIG";
            return std::nullopt;
        }
        t.ports.searchRemote = search;
        t.ports.configRemote = config;
        t.ports.searchLocal = t.ports.configLocal = 0;
    }
    const auto ipv4 = ParseIpv4(std::u16string(address.begin(), address.end()));
    if (!ipv4 || address.size() > 15) {
        error = std::string(text) + ": not an IPv4 address";
        return std::nullopt;
    }
    t.ipv4 = *ipv4;
    return t;
}

unsigned ComNumberOf(std::string_view text)
{
    if (text.size() < 4 || text.size() > 6)
        return 0;
    for (int i = 0; i < 3; ++i)
        if (std::toupper(static_cast<unsigned char>(text[i])) != "COM"[i])
            return 0;
    unsigned n = 0;
    for (std::size_t i = 3; i < text.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(text[i])))
            return 0;
        n = n * 10 + unsigned(text[i] - '0');
    }
    return n >= 1 && n <= 255 ? n : 0;
}

std::optional<SPortName> ParsePortName(std::string_view text, std::string& error)
{
    SPortName p;
    p.number = ComNumberOf(text);
    if (p.number == 0 && (text.empty() || text.front() != '/')) {
        error = std::string(text) + ": not a port (COM1 to COM255, or a device path)";
        return std::nullopt;
    }
    if (p.number == 0)
        p.device = std::string(text);
    return p;
}

}  // namespace corvane
