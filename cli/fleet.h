// Acting on several switchers at once: --hosts, --hosts-file and --all. Each switcher gets a
// corvanectl process of its own that runs the same command with --host ADDRESS, at most --jobs
// of them at once. A process per switcher keeps every link, its timers and the program-wide link
// state apart: a switcher that is silent, refuses or hangs up ends its own process on its own
// timers while the others go on. Each process's output and exit status are captured and printed
// per switcher, in the order the switchers were given.
#pragma once

#include <cstddef>
#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "core/link/network.h"
#include "platform/timers.h"

namespace corvane::cli {

// A command that runs on several switchers: its word and, for a command of two words, the
// second words allowed, separated by blanks ("" when the command has no second word).
struct SFleetCommand {
    const char* word;
    const char* second;
};
std::span<const SFleetCommand> FleetCommands();

// "A[:P],B[:P],...": the addresses in order. Nothing, with the reason in error, for an empty
// item, an item that is not an IPv4 address (with a port) or a switcher named twice.
std::optional<std::vector<std::string>> ParseHostList(const std::string& text, std::string& error);
// The addresses of search answers to act on, each once, in the order answered. An answer naming
// an address no switcher can have, or an address several switchers (MACs) answer for, is said
// on err and left out.
std::vector<std::string> AddressesToActOn(const std::vector<FoundSwitcher>& found, bool searchOnLoopback,
                                          std::ostream& err);
// The text of a hosts file: one address a line, optionally followed by a label for people
// ("192.168.1.20  lobby"; the rest of the line), "#" to the end of the line a comment, blank
// lines and blanks around an address ignored. labels, when given, gets each address's label
// ("" for none). The reason names the line ("line 3: ...").
std::optional<std::vector<std::string>> ParseHostLines(const std::string& text, std::string& error,
                                                       std::vector<std::string>* labels = nullptr);

// One process of a fleet run: what it printed and how it ended (its exit status, or 128 plus
// the signal that ended it).
struct SJobResult {
    int status = -1;          // -1: never started (a stop came first)
    std::string out, err;     // the last SRunLimits::keepBytes of each
    std::size_t outDropped = 0, errDropped = 0;  // the bytes before them, not kept
    bool interrupted = false;  // a stop reached it while it ran, or before it started
    bool timedOut = false;     // ended for running past the deadline
};

// What bounds a run: the bytes kept of each stream of a job, the time a job may take (0: no
// bound) before SIGTERM and, graceMs later, SIGKILL, and a descriptor that turns readable with
// one byte, a signal number, when the run is to stop: the running jobs get that signal (and
// SIGKILL after the grace), no more are started, and RunJobs returns when the running ones have
// ended. The deadlines and graces are timers of timers, the steady clock when none is given.
struct SRunLimits {
    std::size_t keepBytes = std::size_t(1) << 20;
    long long deadlineMs = 0;
    int graceMs = 3000;
    int stopFd = -1;
    IPolledTimers* timers = nullptr;
};

class IJobObserver {
public:
    virtual ~IJobObserver() = default;
    virtual void Started(std::size_t /*job*/) {}
    // Each whole line the job writes to standard error, as it comes (without the line feed).
    virtual void ErrLine(std::size_t /*job*/, const std::string& /*line*/) {}
    virtual void Ended(std::size_t /*job*/, const SJobResult& /*result*/) {}
};

// Runs each job (argv[0] the program's path, standard input /dev/null) with at most parallel
// of them at once, starting them in order, and returns when every one has ended. A job that
// cannot be started ends with status 127 and the reason on its standard error. Every job that
// was not started because of a stop is reported as ended too (status -1).
std::vector<SJobResult> RunJobs(const std::vector<std::vector<std::string>>& jobs, unsigned parallel,
                                IJobObserver& observer, const SRunLimits& limits = {});

// Whether the command line names several switchers (or --jobs).
bool IsFleetCommandLine(Args args);
// The whole command line with --hosts, --hosts-file or --all. out and err filter their text;
// rawErr is standard error without the filter, for the cursor movements that redraw the
// firmware progress lines on a terminal (the lines' texts pass through err).
int RunFleet(Args args, std::ostream& out, std::ostream& err, std::ostream& rawErr);

}  // namespace corvane::cli
