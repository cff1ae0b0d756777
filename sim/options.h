// The emulator's command line.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim/faults.h"
#include "sim/session.h"
#include "sim/switcher.h"

namespace corvane::sim {

struct Options {
    bool serial = false;
    int comNumber = 0;  // 0: the first free number from 200
    bool paceLine = false;  // the serial link at the real line's speed, both ways
    bool tcp = false;
    std::string tcpHost = "127.0.0.1";
    uint16_t tcpPort = 8000;
    bool udp = false;
    std::string udpHost = "0.0.0.0";
    uint16_t searchPort = 30600;
    uint16_t configPort = 30601;
    bool udpReplyToSource = false;  // else to the sender's address at the port it was sent to
    bool quiet = false;
    bool control = false;  // control commands on standard input
    bool help = false;
    bool version = false;
    std::string fwOut;
    std::string edidOut;  // folder for in1.bin .. in4.bin
    int64_t blockWaitMs = kDefaultBlockWaitMs;
    SwitcherSettings settings;
    std::vector<FaultRule> faults;
    std::optional<RandomFaults> random;
};

inline constexpr int kFirstFreeCom = 200;

// Returns nothing and sets error on a bad command line. No transport named: all three.
std::optional<Options> ParseOptions(const std::vector<std::string>& args, std::string& error);
std::string UsageText();

bool ParseMac(const std::string& text, Mac& out);
bool ParseIpv4(const std::string& text, Ipv4& out);
// "IIII[:OO]", 1 for a connected source or display, 0 for none.
bool ParseSignals(const std::string& text, SwitcherSettings& s);

// One line of --control: "signals IIII[:OO]", "input N on|off" or "output N on|off" changes
// what the switcher senses on its connectors. Returns what changed in words ("signals
// 1010:01"), or nothing and sets error.
std::optional<std::string> ControlCommand(const std::string& line, CSwitcher& device, std::string& error);

}  // namespace corvane::sim
