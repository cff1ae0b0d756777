#include "cli/commands.h"

#include <algorithm>
#include <array>
#include <utility>

#ifdef CORVANE_CLI_LINK
#include "cli/fleet.h"
#include "cli/link_commands.h"
#endif
#include "core/text/terminal_text.h"

namespace corvane::cli {

namespace {

#ifdef CORVANE_CLI_LINK
#define CORVANE_FIRMWARE_LINK_USAGE                                                     \
    "firmware info [--json]  the device line: type, size, version, build text\n"        \
    "  firmware upgrade FILE.fw [--json]  send a firmware file, wait for the reboot\n  "
#else
#define CORVANE_FIRMWARE_LINK_USAGE ""
#endif
constexpr const char kFirmwareUsage[] = CORVANE_FIRMWARE_LINK_USAGE
    "firmware pack IMAGE OUT.fw  scramble an image into a firmware file\n"
    "  firmware unpack FILE.fw IMAGE  the image a firmware file carries\n";

constexpr std::array kSubcommands = {
#ifdef CORVANE_CLI_LINK
    Subcommand{"ports", kPortsUsage, RunPorts},
    Subcommand{"status", kStatusUsage, RunStatus},
    Subcommand{"route", kRouteUsage, RunRoute},
    Subcommand{"beep", kBeepUsage, RunBeep},
    Subcommand{"dvi", kDviUsage, RunDvi},
    Subcommand{"reset", kResetUsage, RunReset},
    Subcommand{"edid", kEdidUsage, RunEdid},
    Subcommand{"search", kSearchUsage, RunSearch},
    Subcommand{"config", kConfigUsage, RunConfig},
    Subcommand{"scene", kSceneUsage, RunScene},
    Subcommand{"watch", kWatchUsage, RunWatch, true},
    Subcommand{"firmware", kFirmwareUsage, RunFirmware},
#else
    Subcommand{"firmware", kFirmwareUsage, RunFirmware},
#endif
};

#ifndef CORVANE_VERSION
#define CORVANE_VERSION "unknown"
#endif

void Usage(std::ostream& out)
{
    out << "Usage: corvanectl COMMAND [ARGS...]\n"
           "Controls the 4x2 HDMI matrix switcher and handles its files from a shell.\n\n"
           "Commands:\n";
    for (const Subcommand& c : kSubcommands)
        out << "  " << c.usage;
    out << "\nOptions (before or after the command):\n"
           "  --port COMn|PATH  the switcher's serial port (default $CORVANE_PORT)\n"
           "  --host ADDRESS[:PORT]  the switcher's IPv4 address or host name, TCP port 8000\n"
           "                    unless PORT is given (default $CORVANE_HOST)\n"
           "  --json            the result as one JSON document on standard output\n"
           "  --trace           every frame, block and datagram in hexadecimal on standard error\n"
           "  -h, --help      this text\n"
           "  --version       the program's version\n"
#ifdef CORVANE_CLI_LINK
           "\nSeveral switchers at once, over TCP (status, route, beep, dvi, edid set|copy|load,\n"
           "firmware info|upgrade, scene apply; 'corvanectl --hosts A --help' tells more):\n"
           "  --hosts A[:P],B[:P],...  --hosts-file FILE  --all [--udp-to ...] [--wait MS]\n"
           "  --jobs N          at most N switchers at once (default 8)\n"
#endif

           "\nExit status: 0 done, 1 failed (the switcher refused or did not answer), 2 wrong\n"
           "command line, 3 the link could not be opened. 'corvanectl COMMAND --help' tells more.\n";
}

}  // namespace

std::span<const Subcommand> Subcommands() { return kSubcommands; }


namespace {
// Options that may come before the command word, and whether each takes a value.
constexpr std::array<std::pair<const char*, bool>, 5> kGlobalOptions = {
    {{"--port", true}, {"--host", true}, {"--json", false}, {"--trace", false}, {"--udp-to", true}}};

}  // namespace

std::vector<std::string> CommandWordFirst(Args args)
{
    std::vector<std::string> leading;
    std::size_t i = 0;
    while (i < args.size()) {
        const std::string& a = args[i];
        const std::string name = a.substr(0, a.find('='));
        const auto it = std::find_if(kGlobalOptions.begin(), kGlobalOptions.end(),
                                     [&](const auto& o) { return name == o.first; });
        if (it == kGlobalOptions.end())
            break;
        leading.push_back(a);
        if (it->second && name == a) {  // "--port COM3": the value is the next word
            if (i + 1 >= args.size())
                break;
            leading.push_back(args[++i]);
        }
        ++i;
    }
    if (!leading.empty() && i < args.size() && (args[i] == "-h" || args[i] == "--help"))
        return {args[i]};  // "--port COM3 --help": the help, whatever the link
    if (leading.empty() || i >= args.size() || args[i].rfind("-", 0) == 0)
        return {args.begin(), args.end()};
    std::vector<std::string> moved(args.begin() + static_cast<std::ptrdiff_t>(i), args.end());
    moved.insert(moved.end(), leading.begin(), leading.end());
    return moved;
}


namespace {

int RunCommand(Args original, std::ostream& out, std::ostream& err, [[maybe_unused]] std::ostream& rawErr)
{
#ifdef CORVANE_CLI_LINK
    if (IsFleetCommandLine(original))
        return RunFleet(original, out, err, rawErr);
#endif
    const std::vector<std::string> reordered = CommandWordFirst(original);
    const Args args(reordered);
    if (args.empty()) {
        Usage(err);
        return kExitUsage;
    }
    const std::string& first = args.front();
    if (first == "-h" || first == "--help" || first == "help") {
        Usage(out);
        return kExitOk;
    }
    if (first == "--version") {
        out << "corvanectl " << CORVANE_VERSION << "\n";
        return kExitOk;
    }
#ifdef CORVANE_CLI_LINK
    // SIGINT and SIGTERM stop a command between two frames: its line settles and its port
    // closes as at any other end, and the status tells the signal, as a fleet run's does.
    CEventLoopStop stop;
#endif
    for (const Subcommand& c : kSubcommands)
        if (first == c.name) {
            const int status = c.run(args.subspan(1), out, err);
#ifdef CORVANE_CLI_LINK
            if (stop.Received() && !c.untilStopped)
                return 128 + stop.Received();
#endif
            return status;
        }
    err << "corvanectl: unknown command '" << first << "'\nTry 'corvanectl --help'.\n";
    return kExitUsage;
}

}  // namespace

int RunCommandLine(Args original, std::ostream& rawOut, std::ostream& rawErr)
{
    CTerminalTextBuf outText(rawOut, false), errText(rawErr, true);
    std::ostream out(&outText), err(&errText);
    return RunCommand(original, out, err, rawErr);
}

}  // namespace corvane::cli
