#include "cli/commands.h"

#include <array>

#ifdef CORVANE_CLI_LINK
#include "cli/link_commands.h"
#endif

namespace corvane::cli {

namespace {

constexpr std::array kSubcommands = {
#ifdef CORVANE_CLI_LINK
    Subcommand{"ports", kPortsUsage, RunPorts},
    Subcommand{"status", kStatusUsage, RunStatus},
    Subcommand{"route", kRouteUsage, RunRoute},
    Subcommand{"beep", kBeepUsage, RunBeep},
    Subcommand{"dvi", kDviUsage, RunDvi},
    Subcommand{"reset", kResetUsage, RunReset},
#endif
    Subcommand{"firmware",
               "firmware pack IMAGE OUT.fw      scramble an image into a firmware file\n"
               "  firmware unpack FILE.fw IMAGE   the image a firmware file carries\n",
               RunFirmware},
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
    out << "\nOptions:\n"
           "  -h, --help      this text\n"
           "  --version       the program's version\n"
           "\nExit status: 0 done, 1 failed (the switcher refused or did not answer), 2 wrong\n"
           "command line, 3 the link could not be opened. 'corvanectl COMMAND --help' tells more.\n";
}

}  // namespace

std::span<const Subcommand> Subcommands() { return kSubcommands; }

int RunCommandLine(Args args, std::ostream& out, std::ostream& err)
{
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
    for (const Subcommand& c : kSubcommands)
        if (first == c.name)
            return c.run(args.subspan(1), out, err);
    err << "corvanectl: unknown command '" << first << "'\nTry 'corvanectl --help'.\n";
    return kExitUsage;
}

}  // namespace corvane::cli
