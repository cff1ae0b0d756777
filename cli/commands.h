// corvanectl's command line: a table of subcommands, each a function of its arguments that
// writes to out and err and returns the exit status.
#pragma once

#include <ostream>
#include <span>
#include <string>
#include <vector>

#include "core/switcher/switcher.h"

namespace corvane::cli {

// What a command returns when it ended because nobody reads its output any more (watch into a
// pipe whose reader left): the program exits 0, as a filter does, whatever standard output says.
inline constexpr int kExitOutputClosed = 141;

using Args = std::span<const std::string>;

struct Subcommand {
    const char* name;
    const char* usage;    // the lines of the help text, each "NAME ARGS  what it does"
    int (*run)(Args args, std::ostream& out, std::ostream& err);
    bool untilStopped = false;  // runs until a signal stops it: its own status says how it ended
};

// Every subcommand, in the order the help text lists them.
std::span<const Subcommand> Subcommands();

// Moves the global options (--port, --host, --json, --trace, --udp-to) that come before a
// command word behind it, where every command reads them: "--port COM3 status" is
// "status --port COM3"; "--port COM3 --help" is "--help". Nothing moves without a command word.
std::vector<std::string> CommandWordFirst(Args args);

// The whole command line without the program name. What it prints passes CTerminalTextBuf.
int RunCommandLine(Args args, std::ostream& out, std::ostream& err);

// corvanectl firmware pack|unpack ...
int RunFirmware(Args args, std::ostream& out, std::ostream& err);

}  // namespace corvane::cli
