// Every address a user can type, parsed in one place with one set of messages: a switcher's
// control address (HOST or HOST:PORT), the aim of the search and configuration datagrams
// (ADDRESS or ADDRESS:SEARCH,CONFIG), and a serial port (a COM name or a device path).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/link/network.h"

namespace corvane {

// An IPv4 address in dotted-decimal text, as the control link's connect takes it: each
// character's low byte, at most 49 of them. Host byte order; nothing when it is not an address.
std::optional<uint32_t> ParseIpv4(std::u16string_view text);
// The same of a text typed on a command line: four numbers of 0 to 255 with dots between.
std::optional<uint32_t> ParseIpv4(std::string_view text);

// "ADDRESS" or "ADDRESS:PORT" (port 8000 when none is given).
struct SHostPort {
    uint32_t ipv4 = 0;
    uint16_t port = kControlPort;
};
// Nothing, with the reason in error ("'X' is not an IPv4 address (A.B.C.D or A.B.C.D:PORT)"),
// for anything else.
std::optional<SHostPort> ParseHost(std::string_view text, std::string* error = nullptr);
// Whether text can be a host name: letters, digits and hyphens in dot-separated labels of 1 to
// 63, no label starting or ending with a hyphen, at most 253 in all, not all digits and dots
// (that is a malformed address).
bool IsHostName(std::string_view text);
// "A.B.C.D:PORT" for a host as given, with the control port added when none was.
std::string HostWithPort(std::string_view text);

// Where the requests go. The switcher listens where it answers, so the defaults serve both
// ends; tests on one machine give the emulator other ports.
struct SNetPorts {
    uint16_t searchLocal = kSearchPort;
    uint16_t searchRemote = kSearchPort;
    uint16_t configLocal = kConfigPort;
    uint16_t configRemote = kConfigPort;
    uint16_t control = kControlPort;
};

// Requests aimed at one address instead of the broadcast, for a switcher on this machine
// (loopback carries no broadcast) or a known one.
struct SUdpTarget {
    uint32_t ipv4 = 0;  // host byte order
    SNetPorts ports;
};
// "ADDRESS" or "ADDRESS:SEARCH,CONFIG". With ports, the requests go to those ports and the
// answers are awaited on ports the system picks. Nothing, with the reason in error, for
// anything else.
std::optional<SUdpTarget> ParseUdpTarget(std::string_view text, std::string& error);

// "COM5", "com5" -> 5; 0 when the text is not a COM name (COM1 to COM255).
unsigned ComNumberOf(std::string_view text);
// A serial port as a user names it: a COM name (number set) or a device path (device set).
struct SPortName {
    unsigned number = 0;
    std::string device;
};
// Nothing, with the reason in error, for anything else.
std::optional<SPortName> ParsePortName(std::string_view text, std::string& error);

}  // namespace corvane
