#include "core/link/network.h"

#include <algorithm>
#include <cstdio>

#include "core/link/frame.h"

namespace corvane {

namespace {
std::string Hex2(uint8_t b)
{
    char buf[3];
    std::snprintf(buf, sizeof buf, "%02X", b);
    return buf;
}

}  // namespace

std::optional<SearchAnswer> ParseSearchReply(std::span<const uint8_t> d)
{
    if (d.size() < kSearchReplyMin)
        return std::nullopt;
    SearchAnswer a;
    for (std::size_t k = 0; k < 6; ++k)
        a.mac[k] = Hex2(d[k]);
    for (std::size_t k = 0; k < 4; ++k)
        a.ip[k] = std::to_string(d[6 + k]);
    a.macText = MacText(a.mac);
    a.ipText = a.ip[0] + "." + a.ip[1] + "." + a.ip[2] + "." + a.ip[3];
    a.listed = d[18] == 0x77 && d[19] == 0x88;
    return a;
}

std::optional<std::size_t> CSwitcherList::Add(const std::string& ip, const std::string& mac)
{
    if (m_entries.size() >= kMaxSwitchers) {
        ++m_dropped;
        return std::nullopt;
    }
    const auto at = std::upper_bound(m_entries.begin(), m_entries.end(), ip,
                                     [](const std::string& v, const FoundSwitcher& e) { return v < e.ip; });
    const auto pos = static_cast<std::size_t>(at - m_entries.begin());
    m_entries.insert(at, FoundSwitcher{ip, mac});
    return pos;
}

void CSwitcherList::Clear()
{
    m_entries.clear();
    m_dropped = 0;
}

IpFields SplitAddress(std::string_view text)
{
    IpFields out;
    for (std::size_t k = 0; k < 3; ++k) {
        const auto dot = text.find('.');
        if (dot == std::string_view::npos) {
            out[k] = std::string(text);
            return out;
        }
        out[k] = std::string(text.substr(0, dot));
        text.remove_prefix(dot + 1);
    }
    out[3] = std::string(text);
    return out;
}

MacFields SplitMac(std::string_view text)
{
    MacFields out;
    for (std::size_t k = 0; k < 6 && 2 * k < text.size(); ++k)
        out[k] = std::string(text.substr(2 * k, 2));
    return out;
}

std::string MacText(const MacFields& mac)
{
    std::string s;
    for (const auto& m : mac)
        s += m;
    return s;
}

uint8_t HexFieldToByte(std::string_view text)
{
    uint8_t value = 0;
    for (std::size_t i = 0; i + 1 < text.size(); i += 2) {
        const int hi = HexDigit(text[i]), lo = HexDigit(text[i + 1]);
        if (hi < 0 || lo < 0)
            break;
        value = static_cast<uint8_t>(hi * 16 + lo);
    }
    return value;
}

std::optional<uint8_t> AddressFieldValue(std::string_view text)
{
    if (text.empty() || text.size() > 3)
        return std::nullopt;
    unsigned v = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        v = v * 10 + static_cast<unsigned>(c - '0');
    }
    if (v > 255)
        return std::nullopt;
    return static_cast<uint8_t>(v);
}

bool AddressFieldsValid(const IpFields& ip)
{
    return std::all_of(ip.begin(), ip.end(), [](const std::string& f) { return AddressFieldValue(f).has_value(); });
}

uint8_t PlainSum8(std::span<const uint8_t> bytes)
{
    unsigned sum = 0;
    for (uint8_t b : bytes)
        sum += b;
    return static_cast<uint8_t>(sum);
}

std::optional<ConfigRequest> BuildConfigRequest(int ipMode, const IpFields& ip, const MacFields& currentMac,
                                                const MacFields& newMac)
{
    ConfigRequest r{};
    for (std::size_t k = 0; k < 6; ++k) {
        r[k] = HexFieldToByte(currentMac[k]);
        r[19 + k] = HexFieldToByte(newMac[k]);
    }
    if (ipMode == IP_MODE_STATIC) {
        if (!AddressFieldsValid(ip))
            return std::nullopt;
        for (std::size_t k = 0; k < 4; ++k)
            r[6 + k] = *AddressFieldValue(ip[k]);
        r[10] = r[6];
        r[11] = r[7];
        r[12] = r[8];
        r[13] = 0x01;  // gateway: the address with its last part 1
        r[14] = r[15] = r[16] = 0xFF;
        r[17] = 0x00;  // mask 255.255.255.0
        r[18] = 0x00;
        r[25] = 0x17;
    } else {
        r[18] = 0x01;
        r[25] = 0x16;
    }
    r[74] = 0xFF;
    r[75] = PlainSum8(std::span<const uint8_t>(r.data(), 75));
    return r;
}

bool ConfigReplyAccepted(std::span<const uint8_t> d) { return d.size() >= kConfigRequestSize && d[74] == 0x00; }

}  // namespace corvane
