// The words of a corvanectl command line and what every command prints with: the connection
// options, --json, --trace, --help, the command's own options and the rest in order.
#pragma once

#include <initializer_list>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "core/scene/json.h"
#include "transport/linked_switcher.h"

namespace corvane::cli {

struct SCommandLine {
    SConnection link;
    bool json = false;
    bool help = false;
    std::map<std::string, std::string> options;  // the command's own options ("" for a flag)
    std::vector<std::pair<std::string, std::string>> given;  // every option with a value, in order
    std::vector<std::string> words;
    std::string error;  // a bad command line: the reason

    bool Has(const std::string& option) const { return options.count(option) != 0; }
    std::string Value(const std::string& option) const
    {
        auto it = options.find(option);
        return it == options.end() ? std::string() : it->second;
    }
};

// valueOptions take a value ("--to IN1" or "--to=IN1"); flags take none. --port and --host
// default to $CORVANE_PORT and $CORVANE_HOST; the command line wins over the environment.
SCommandLine Parse(Args args, std::initializer_list<const char*> valueOptions = {},
                   std::initializer_list<const char*> flags = {});

// One line with the reason and the command's usage on err; kExitUsage.
int Usage(std::ostream& err, const std::string& reason, const char* usage);

// Handles --help (the usage, then optionsHelp) and a bad command line; nothing when the
// command should go on.
std::optional<int> Preflight(const SCommandLine& c, std::ostream& out, std::ostream& err, const char* usage,
                             const char* optionsHelp);

const char* Bool(bool b);
const char* OnOff(bool b);
// {"line":...,"type":...,"size":...,"version":...,"build":...}
void PrintDeviceJson(std::ostream& out, const SDeviceInfo& device);

// "02:C5:1A:00:00:01", "02-c5-1a-00-00-01" or "02C51A000001" as twelve upper-case hex digits;
// nothing when it is not a MAC address.
std::optional<std::string> ParseMac(const std::string& text);
// Twelve hex digits as "02:C5:1A:00:00:01".
std::string MacWithColons(const std::string& digits);

}  // namespace corvane::cli
