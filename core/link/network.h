// Switcher search and network configuration as bytes and texts: the search reply, the sorted
// switcher list, the configuration request and the current switcher. No sockets.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace corvane {

inline constexpr uint16_t kSearchPort = 30600;
inline constexpr uint16_t kConfigPort = 30601;
inline constexpr uint16_t kControlPort = 8000;
inline constexpr uint8_t kSearchRequestByte = 0x61;  // 'a'
inline constexpr std::size_t kDatagramMax = 1024;    // a longer datagram is cut to this
inline constexpr std::size_t kSearchReplyMin = 50;
inline constexpr std::size_t kConfigRequestSize = 76;
inline constexpr std::size_t kMaxSwitchers = 256;

enum : int { IP_MODE_AUTO = 0, IP_MODE_STATIC = 1 };

using IpFields = std::array<std::string, 4>;   // "192", "168", "1", "100"
using MacFields = std::array<std::string, 6>;  // "02", "C5", ...
using ConfigRequest = std::array<uint8_t, kConfigRequestSize>;

// What a search reply of at least 50 bytes says about its sender.
struct SearchAnswer {
    IpFields ip;         // "%d" of bytes 6..9
    MacFields mac;       // "%02X" of bytes 0..5
    std::string ipText;  // the four joined with "."
    std::string macText; // the six joined
    bool listed = false; // bytes 18, 19 carry the marker 77 88
};

// Nothing for a datagram shorter than 50 bytes.
std::optional<SearchAnswer> ParseSearchReply(std::span<const uint8_t> datagram);

// One listed switcher: its address text as shown in the list and its MAC as 12 hex digits.
struct FoundSwitcher {
    std::string ip;
    std::string mac;
};

// The switcher list: kept in ascending text order of the addresses, as the drop-down list
// shows them, each MAC paired with its own address whatever its position. An equal address
// goes after the ones already there. At most 256 entries.
class CSwitcherList {
public:
    // The position the entry took, or nothing when the list is full (the entry is counted as
    // dropped).
    std::optional<std::size_t> Add(const std::string& ip, const std::string& mac);
    void Clear();
    std::size_t Size() const { return m_entries.size(); }
    const FoundSwitcher& At(std::size_t i) const { return m_entries.at(i); }
    const std::vector<FoundSwitcher>& Entries() const { return m_entries; }
    // Answers not listed because the list was full, since the last Clear.
    std::size_t Dropped() const { return m_dropped; }

private:
    std::vector<FoundSwitcher> m_entries;
    std::size_t m_dropped = 0;
};

// "192.168.1.100" into its four texts: before the first dot, between the next ones, the rest.
// Missing parts are empty.
IpFields SplitAddress(std::string_view text);
// Twelve hex digits into six pairs; characters 2k and 2k+1, as far as the text goes.
MacFields SplitMac(std::string_view text);
// "%02X" of each byte, joined.
std::string MacText(const MacFields& mac);

// Reads the text two characters at a time; each pair of hex digits sets the byte, the first pair
// with another character ends the reading, a single last character is ignored. "1A" 0x1A,
// "1a2B" 0x2B, "G1", "1" and "" 0x00.
uint8_t HexFieldToByte(std::string_view text);

// An address field as the switcher may be given it: one to three digits, 0 to 255.
std::optional<uint8_t> AddressFieldValue(std::string_view text);
// True when all four fields are such values.
bool AddressFieldsValid(const IpFields& ip);

// The 8-bit sum of the bytes (not its complement).
uint8_t PlainSum8(std::span<const uint8_t> bytes);

// The 76-byte request: the switcher named by currentMac; automatic or static addressing with
// the address fields (gateway .1, mask 255.255.255.0); newMac; the plain-sum checksum in byte
// 75. Nothing in static mode when an address field is not a value from 0 to 255: such a
// request could leave the switcher unreachable.
std::optional<ConfigRequest> BuildConfigRequest(int ipMode, const IpFields& ip, const MacFields& currentMac,
                                                const MacFields& newMac);

// The switcher took the configuration: at least 76 bytes and byte 74 is 0x00.
bool ConfigReplyAccepted(std::span<const uint8_t> datagram);

// The current switcher and the network configuration of one front end.
struct SNetworkState {
    IpFields SwitcherIp;
    MacFields SwitcherMac;
    std::string SwitcherMacText;
    MacFields NewMac;
    int nIpMode = IP_MODE_AUTO;
    CSwitcherList FoundSwitchers;
    std::array<uint8_t, kDatagramMax> SearchReply{};
};

}  // namespace corvane
