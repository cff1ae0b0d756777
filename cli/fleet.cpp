#include "cli/fleet.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <map>
#include <sstream>

#include "cli/command_line.h"
#include "cli/link_commands.h"
#include "transport/linked_switcher.h"
#include "core/firmware/firmware.h"
#include "core/pages/firmware_page.h"
#include "core/pages/matrix_page.h"
#include "core/text/text.h"
#include "platform/regular_file.h"

namespace corvane::cli {

namespace {

// The second words whose command reports progress on standard error ("firmware: 40% ...").
struct SFleetEntry {
    SFleetCommand command;
    const char* progress;
};

constexpr std::array kFleetEntries = {
    SFleetEntry{{"status", ""}, ""},
    SFleetEntry{{"route", ""}, ""},
    SFleetEntry{{"beep", ""}, ""},
    SFleetEntry{{"dvi", ""}, ""},
    SFleetEntry{{"edid", "set copy load"}, ""},
    SFleetEntry{{"firmware", "info upgrade"}, "upgrade"},
    SFleetEntry{{"scene", "apply"}, ""},
};

const std::array<SFleetCommand, kFleetEntries.size()> kFleetCommands = [] {
    std::array<SFleetCommand, kFleetEntries.size()> commands{};
    for (std::size_t i = 0; i < kFleetEntries.size(); ++i)
        commands[i] = kFleetEntries[i].command;
    return commands;
}();

constexpr unsigned kDefaultJobs = 8;
constexpr unsigned kMaxJobs = 256;
constexpr unsigned kDefaultSearchMs = 2000;
constexpr std::size_t kMaxHostsFile = 1 << 20;
// A progress line of a firmware upgrade, as the command writes it when standard error is no
// terminal.
constexpr const char kProgressPrefix[] = "firmware: ";

const char kFleetUsage[] =
    "(--hosts A[:P],B[:P],... | --hosts-file FILE | --all [--udp-to ADDRESS[:SEARCH,CONFIG]]\n"
    "                  [--wait MS]) [--jobs N] COMMAND [ARGS...] [--json]\n";
const char kFleetHelp[] =
    "Runs COMMAND on every switcher named, over TCP, at most N at once (default 8):\n"
    "  --hosts A[:P],...  the switchers' addresses (TCP port 8000 unless :P is given)\n"
    "  --hosts-file FILE  one address a line, a label after it if wanted; # starts a comment\n"
    "  --all              every switcher a search finds (--udp-to and --wait as for search),\n"
    "                     each reached on port 8000; an answer naming a broadcast, multicast or\n"
    "                     reserved address, one ending in .0 or .255, or a loopback address\n"
    "                     (unless the search went to this machine) is skipped; an address that\n"
    "                     several switchers (MACs) answer for is refused: name the one meant\n"
    "                     with --hosts ADDRESS:PORT\n"
    "  --jobs N           at most N switchers at once (1 to 256)\n"
    "COMMAND is status, route, beep, dvi, edid set|copy|load, firmware info|upgrade or scene apply.\n"
    "Standard output gets one block per switcher in the order given: \"ADDRESS: ok\" (or failed,\n"
    "no link) and the command's own lines indented; with --json one record a line:\n"
    "{\"host\",\"label\" (from a hosts file),\"ok\",\"exit\",\"result\",\"error\"}. The progress of a\n"
    "firmware upgrade goes to standard error, one line per switcher, and so does --trace, a block\n"
    "per switcher. Of each switcher's output the last 1 MiB is kept; a switcher's process that runs\n"
    "past what its command can take is stopped. SIGINT or SIGTERM stops the run: every block is\n"
    "printed and the switchers that did not finish are named. Exit status: 0 every switcher\n"
    "succeeded, 1 one or more failed (the others still ran), 2 bad usage (nothing was sent), 3 the\n"
    "search could not run, 130 or 143 stopped by SIGINT or SIGTERM.\n";

// Checks one address and that it names a switcher not named before.
bool TakeHost(const std::string& text, std::vector<std::string>& hosts, std::map<uint64_t, std::string>& seen,
              std::string& error)
{
    std::string why;
    const auto h = ResolveHost(text, why);
    if (!h) {
        error = "'" + text + (why.rfind("not ", 0) == 0 ? "' is " : "': ") + why;
        return false;
    }
    const uint64_t key = uint64_t(h->ipv4) << 16 | h->port;
    if (const auto it = seen.find(key); it != seen.end()) {
        error = text + " names the same switcher as " + it->second;
        return false;
    }
    seen[key] = text;
    hosts.push_back(text);
    return true;
}

}  // namespace

std::span<const SFleetCommand> FleetCommands() { return kFleetCommands; }

std::optional<std::vector<std::string>> ParseHostList(const std::string& text, std::string& error)
{
    std::vector<std::string> hosts;
    std::map<uint64_t, std::string> seen;
    std::size_t begin = 0;
    for (;;) {
        const std::size_t comma = text.find(',', begin);
        const std::string item = Trim(text.substr(begin, comma == std::string::npos ? std::string::npos : comma - begin));
        if (item.empty()) {
            error = "an empty address in the list";
            return std::nullopt;
        }
        if (!TakeHost(item, hosts, seen, error))
            return std::nullopt;
        if (comma == std::string::npos)
            return hosts;
        begin = comma + 1;
    }
}

std::optional<std::vector<std::string>> ParseHostLines(const std::string& text, std::string& error,
                                                       std::vector<std::string>* labels)
{
    std::vector<std::string> hosts;
    std::map<uint64_t, std::string> seen;
    std::istringstream in(text);
    int number = 0;
    if (labels)
        labels->clear();
    for (std::string line; std::getline(in, line);) {
        ++number;
        const std::string whole = Trim(line.substr(0, line.find('#')));
        if (whole.empty())
            continue;
        // The address, then the label: the rest of the line, blanks inside it kept.
        const std::size_t blank = whole.find_first_of(" \t");
        const std::string item = whole.substr(0, blank);
        const std::string label = blank == std::string::npos ? "" : Trim(whole.substr(blank));
        std::string why;
        const std::string firstWord = label.substr(0, label.find_first_of(" \t"));
        if (item.find(',') != std::string::npos || (!label.empty() && ParseHost(firstWord)))
            why = "one address a line, not '" + whole + "'";
        else if (TakeHost(item, hosts, seen, why) && labels)
            labels->push_back(label);
        if (!why.empty()) {
            error = "line " + std::to_string(number) + ": " + why;
            return std::nullopt;
        }
    }
    if (hosts.empty()) {
        error = "no address in it";
        return std::nullopt;
    }
    return hosts;
}

// ---- the processes -------------------------------------------------------------------------

namespace {

struct SRunning {
    std::size_t job;
    pid_t pid;
    std::array<int, 2> fd;  // standard output, standard error
    std::string errLine;    // the part of a line of standard error not ended yet
};

// Forks and executes argv with standard output and error on pipes; false with the reason when
// the process cannot be made.
bool Spawn(const std::vector<std::string>& argv, int devNull, SRunning& r, std::string& why)
{
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0) {
        why = std::strerror(errno);
        return false;
    }
    if (pipe2(err, O_CLOEXEC) != 0) {
        why = std::strerror(errno);
        close(out[0]);
        close(out[1]);
        return false;
    }
    std::vector<char*> args;
    for (const auto& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid == 0) {
        // Only async-signal-safe calls from here to exec.
        if (devNull >= 0)
            dup2(devNull, STDIN_FILENO);
        dup2(out[1], STDOUT_FILENO);
        dup2(err[1], STDERR_FILENO);
        // A fleet run that is killed takes its switchers' processes along.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent)
            _exit(127);
        execv(args[0], args.data());
        static const char text[] = "corvanectl: cannot start the process for this switcher\n";
        [[maybe_unused]] const ssize_t n = write(STDERR_FILENO, text, sizeof text - 1);
        _exit(127);
    }
    const int saved = errno;
    close(out[1]);
    close(err[1]);
    if (pid < 0) {
        close(out[0]);
        close(err[0]);
        why = std::strerror(saved);
        return false;
    }
    r.pid = pid;
    r.fd = {out[0], err[0]};
    return true;
}

int WaitFor(pid_t pid)
{
    int status = 0;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR)
            return 127;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace

namespace {

// Keeps the last keep bytes of what a stream said; what goes is counted.
void Keep(std::string& kept, std::size_t& dropped, const char* chunk, std::size_t n, std::size_t keep)
{
    kept.append(chunk, n);
    // Trimmed when twice the bound: each byte is moved a bounded number of times.
    if (kept.size() > 2 * keep) {
        const std::size_t cut = kept.size() - keep;
        kept.erase(0, cut);
        dropped += cut;
    }
}

void TrimKept(std::string& kept, std::size_t& dropped, std::size_t keep)
{
    if (kept.size() > keep) {
        const std::size_t cut = kept.size() - keep;
        kept.erase(0, cut);
        dropped += cut;
    }
}

enum : unsigned { TIMER_DEADLINE = 1, TIMER_KILL = 2 };

}  // namespace

std::vector<SJobResult> RunJobs(const std::vector<std::vector<std::string>>& jobs, unsigned parallel,
                                IJobObserver& observer, const SRunLimits& limits)
{
    std::vector<SJobResult> results(jobs.size());
    // A running job's timers (the deadline, SIGKILL after the grace), owned by its entry here.
    struct SJobClock {
        pid_t pid = -1;
        bool signalled = false;  // the grace runs: SIGKILL follows
    };
    std::vector<SRunning> running;
    std::vector<SJobClock> clocks(jobs.size());
    CSteadyTimers steady;
    IPolledTimers& timers = limits.timers ? *limits.timers : steady;
    const int devNull = open("/dev/null", O_RDONLY | O_CLOEXEC);
    parallel = std::max(1u, parallel);
    const std::size_t keep = std::max<std::size_t>(limits.keepBytes, 1);
    std::size_t next = 0;
    int stopSignal = 0;
    int stopFd = limits.stopFd;
    char chunk[4096];
    const auto signalJob = [&](std::size_t k, int sig) {
        kill(clocks[k].pid, sig);
        if (clocks[k].signalled)
            return;
        clocks[k].signalled = true;
        timers.KillTimer(&clocks[k], TIMER_DEADLINE);
        timers.SetTimer(&clocks[k], TIMER_KILL, unsigned(std::max(limits.graceMs, 0)));
    };
    // SIGTERM when a process has run too long, SIGKILL when it outlives the grace.
    const auto onTimer = [&](std::size_t k, unsigned id) {
        timers.KillTimer(&clocks[k], id);  // once
        if (id == TIMER_KILL) {
            kill(clocks[k].pid, SIGKILL);
        } else {
            results[k].timedOut = true;
            signalJob(k, SIGTERM);
        }
    };
    while ((next < jobs.size() && !stopSignal) || !running.empty()) {
        while (!stopSignal && running.size() < parallel && next < jobs.size()) {
            const std::size_t k = next++;
            SRunning r{k, -1, {-1, -1}, {}};
            std::string why;
            observer.Started(k);
            if (jobs[k].empty() || !Spawn(jobs[k], devNull, r, why)) {
                results[k].status = 127;
                results[k].err = "corvanectl: cannot start the process for this switcher: " + why + "\n";
                observer.ErrLine(k, results[k].err.substr(0, results[k].err.size() - 1));
                observer.Ended(k, results[k]);
                continue;
            }
            clocks[k].pid = r.pid;
            timers.Attach(&clocks[k], [&onTimer, k](unsigned id) { onTimer(k, id); });
            if (limits.deadlineMs > 0)
                timers.SetTimer(&clocks[k], TIMER_DEADLINE,
                                unsigned(std::min<long long>(limits.deadlineMs, std::numeric_limits<unsigned>::max())));
            running.push_back(std::move(r));
        }
        std::vector<pollfd> fds;
        std::vector<std::pair<std::size_t, int>> owner;  // running index, stream
        for (std::size_t i = 0; i < running.size(); ++i)
            for (int s = 0; s < 2; ++s)
                if (running[i].fd[s] >= 0) {
                    fds.push_back({running[i].fd[s], POLLIN, 0});
                    owner.emplace_back(i, s);
                }
        if (stopFd >= 0) {
            fds.push_back({stopFd, POLLIN, 0});
            owner.emplace_back(SIZE_MAX, 0);
        }
        // Woken by a descriptor, or when the next timer falls due.
        if (!fds.empty() && poll(fds.data(), fds.size(), timers.PollTimeoutMs()) < 0 && errno != EINTR)
            break;
        for (std::size_t f = 0; f < fds.size(); ++f) {
            if (!(fds[f].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            if (owner[f].first == SIZE_MAX) {
                // A stop: every process gets the signal, none is started any more.
                unsigned char sig = 0;
                if (read(stopFd, &sig, 1) == 1 && !stopSignal) {
                    stopSignal = sig ? sig : SIGTERM;
                    for (SRunning& r : running) {
                        results[r.job].interrupted = true;
                        signalJob(r.job, stopSignal);
                    }
                } else if (stopSignal == 0) {
                    stopFd = -1;  // closed: nothing will stop the run any more
                }
                continue;
            }
            SRunning& r = running[owner[f].first];
            const int s = owner[f].second;
            const ssize_t n = read(r.fd[s], chunk, sizeof chunk);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                close(r.fd[s]);
                r.fd[s] = -1;
                continue;
            }
            SJobResult& result = results[r.job];
            if (s == 0)
                Keep(result.out, result.outDropped, chunk, std::size_t(n), keep);
            else
                Keep(result.err, result.errDropped, chunk, std::size_t(n), keep);
            if (s == 1) {
                r.errLine.append(chunk, std::size_t(n));
                for (std::size_t nl; (nl = r.errLine.find('\n')) != std::string::npos;) {
                    observer.ErrLine(r.job, r.errLine.substr(0, nl));
                    r.errLine.erase(0, nl + 1);
                }
                // A line without end is not held past the bound.
                if (r.errLine.size() > keep)
                    r.errLine.erase(0, r.errLine.size() - keep);
            }
        }
        timers.FireDue();
        // A process whose pipes are both closed has ended, or is about to.
        for (auto it = running.begin(); it != running.end();) {
            if (it->fd[0] >= 0 || it->fd[1] >= 0) {
                ++it;
                continue;
            }
            if (!it->errLine.empty())
                observer.ErrLine(it->job, it->errLine);
            SJobResult& result = results[it->job];
            result.status = WaitFor(it->pid);
            timers.Detach(&clocks[it->job]);  // no signal reaches a process that is gone
            TrimKept(result.out, result.outDropped, keep);
            TrimKept(result.err, result.errDropped, keep);
            observer.Ended(it->job, result);
            it = running.erase(it);
        }
    }
    // Jobs a stop kept from starting.
    for (std::size_t k = next; k < jobs.size(); ++k) {
        results[k].status = -1;
        results[k].interrupted = true;
        observer.Ended(k, results[k]);
    }
    // Only when poll itself failed: nothing is left behind.
    for (SRunning& r : running) {
        timers.Detach(&clocks[r.job]);
        kill(r.pid, SIGTERM);
        for (int fd : r.fd)
            if (fd >= 0)
                close(fd);
        results[r.job].status = WaitFor(r.pid);
        observer.Ended(r.job, results[r.job]);
    }
    if (devNull >= 0)
        close(devNull);
    return results;
}

// ---- the command line ----------------------------------------------------------------------

namespace {

struct SFleetLine {
    std::optional<std::string> hosts, hostsFile, jobs, udpTo, wait;
    bool all = false;
    std::vector<std::string> rest;  // the command with its own options
    std::string error;
};

SFleetLine SplitFleetOptions(Args args)
{
    SFleetLine f;
    const std::pair<const char*, std::optional<std::string> SFleetLine::*> valued[] = {
        {"--hosts", &SFleetLine::hosts}, {"--hosts-file", &SFleetLine::hostsFile}, {"--jobs", &SFleetLine::jobs},
        {"--udp-to", &SFleetLine::udpTo}, {"--wait", &SFleetLine::wait}};
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const std::string name = a.rfind("--", 0) == 0 ? a.substr(0, a.find('=')) : a;
        const bool joined = name != a;
        if (name == "--all") {
            if (joined)
                f.error = "option --all takes no value";
            f.all = true;
            continue;
        }
        if (name == "--port" || name == "--host") {
            f.error = name + " names one switcher; --hosts, --hosts-file and --all name several";
            continue;
        }
        const auto it = std::find_if(std::begin(valued), std::end(valued), [&](const auto& v) { return name == v.first; });
        if (it == std::end(valued)) {
            f.rest.push_back(a);
            continue;
        }
        std::optional<std::string>& slot = f.*(it->second);
        if (slot)
            f.error = name + " is given twice";
        if (joined) {
            slot = a.substr(a.find('=') + 1);
        } else if (i + 1 < args.size()) {
            slot = args[++i];
        } else {
            f.error = name + " needs a value";
            slot = "";
        }
    }
    return f;
}

// The first word after the command word that is no option or an option's value. Options are
// skipped whatever they are, so none can hide the word ("scene --edid IN1=a.bin save").
std::string SecondWord(Args afterCommand)
{
    for (std::size_t i = 0; i < afterCommand.size(); ++i) {
        const std::string& a = afterCommand[i];
        if (a.rfind("-", 0) != 0)
            return a;
        if ((a == "--to" || a == "--edid") && i + 1 < afterCommand.size())
            ++i;  // its value
    }
    return {};
}

std::string CommandList()
{
    std::string text;
    for (const SFleetCommand& c : kFleetCommands) {
        text += text.empty() ? "" : ", ";
        text += c.word;
        if (*c.second) {
            std::string second = c.second;
            std::replace(second.begin(), second.end(), ' ', '|');
            text += " " + second;
        }
    }
    return text;
}

bool HasWord(const char* list, const std::string& word)
{
    std::istringstream words(list);
    for (std::string w; words >> w;)
        if (w == word)
            return true;
    return false;
}

const char* StatusWord(int status)
{
    switch (status) {
    case kExitOk: return "ok";
    case kExitFailed: return "failed";
    case kExitUsage: return "bad usage";
    case kExitNoLink: return "no link";
    case 127: return "not started";
    default: return status > 128 ? "ended by a signal" : "failed";
    }
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// A line of --trace: a frame, block or datagram as it went out or came in.
bool IsTraceLine(const std::string& line) { return line.rfind("TX ", 0) == 0 || line.rfind("RX ", 0) == 0; }

// What a switcher's process said on standard error besides its progress and its trace.
std::vector<std::string> ErrorLines(const std::string& err)
{
    std::vector<std::string> lines;
    for (const std::string& line : Lines(err))
        if (line.rfind(kProgressPrefix, 0) != 0 && !IsTraceLine(line))
            lines.push_back(line);
    return lines;
}

std::string SizeText(std::size_t bytes)
{
    return bytes >= 10 * 1024 * 1024 ? std::to_string(bytes >> 20) + " MiB"
           : bytes >= 10 * 1024      ? std::to_string(bytes >> 10) + " KiB"
                                     : std::to_string(bytes) + " bytes";
}

// How a job ended, in words.
std::string Outcome(const SJobResult& r)
{
    if (r.status < 0)
        return "not started (stopped)";
    if (r.timedOut)
        return "did not end in time";
    if (r.interrupted && r.status != kExitOk)
        return "stopped";
    return StatusWord(r.status);
}

// What the run could not keep of a job's output, as lines for its block.
std::vector<std::string> DropNotes(const SJobResult& r, long long deadlineMs, bool json)
{
    std::vector<std::string> notes;
    if (r.outDropped)
        notes.push_back("corvanectl: " + SizeText(r.outDropped) + " of its standard output dropped; the last " +
                        SizeText(r.out.size()) + " kept");
    if (r.errDropped)
        notes.push_back("corvanectl: " + SizeText(r.errDropped) + " of its standard error dropped; the last " +
                        SizeText(r.err.size()) + " kept");
    if (r.timedOut)
        notes.push_back("corvanectl: ended after " + std::to_string((deadlineMs + 999) / 1000) +
                        " s, longer than the command can take with a switcher that answers");
    // A switcher's own process says when a signal stopped it, with what it had done.
    if (r.interrupted && r.status != kExitOk && r.err.find("corvanectl: stopped by ") == std::string::npos)
        notes.push_back(r.status < 0 ? "corvanectl: not started: the run was stopped"
                        : json       ? "corvanectl: stopped while it ran; what it had done is its result"
                                     : "corvanectl: stopped while it ran; what it had done is above");
    return notes;
}

// The per-switcher report: the blocks on standard output in the order given, each as soon as
// it and every one before it have ended; the progress of a firmware upgrade on standard error.
class CFleetReport final : public IJobObserver {
public:
    CFleetReport(const std::vector<std::string>& hosts, const std::vector<std::string>& labels, bool json,
                 bool progress, long long deadlineMs, std::ostream& out, std::ostream& err, std::ostream& rawErr)
        : m_hosts(hosts), m_labels(labels), m_json(json), m_progress(progress), m_deadlineMs(deadlineMs), m_out(out),
          m_err(err), m_rawErr(rawErr), m_jobs(hosts.size())
    {
        m_labels.resize(hosts.size());
        for (std::size_t k = 0; k < hosts.size(); ++k)
            m_width = std::max(m_width, Name(k).size());
        if (!progress || isatty(STDERR_FILENO) != 1)
            return;
        const char* term = std::getenv("TERM");
        if (term && std::string(term) == "dumb")
            return;
        winsize size{};
        if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) {
            m_columns = size.ws_col;
            // A block taller than the screen cannot be redrawn in place.
            if (size.ws_row > 0 && hosts.size() >= size.ws_row)
                return;
        }
        m_terminal = true;
        Redraw();
    }

    void Started(std::size_t k) override
    {
        m_jobs[k].state = "started";
        Redraw();
    }
    void ErrLine(std::size_t k, const std::string& line) override
    {
        if (!m_progress || line.rfind(kProgressPrefix, 0) != 0)
            return;
        if (!m_terminal) {
            // Whole lines only, each naming its switcher.
            m_err << Name(k) << ": " << line << '\n' << std::flush;
            return;
        }
        SJob& j = m_jobs[k];
        const std::string text = line.substr(sizeof kProgressPrefix - 1);
        int percent = 0, value = 0, maximum = 0;
        char tail[8] = {};
        if (std::sscanf(text.c_str(), "%d%% %d/%d %7s", &percent, &value, &maximum, tail) == 4 &&
            std::string(tail) == "bytes") {
            const auto now = std::chrono::steady_clock::now();
            if (!j.transferStart)
                j.transferStart = now;
            const double elapsed = std::chrono::duration<double>(now - *j.transferStart).count();
            j.state = ProgressLine(value, maximum, elapsed, true);
        } else {
            j.state = text;
        }
        Redraw();
    }
    void Ended(std::size_t k, const SJobResult& result) override
    {
        SJob& j = m_jobs[k];
        j.ended = true;
        j.result = result;
        j.state = result.status == kExitOk ? "done" : Outcome(result);
        Redraw();
        if (!m_terminal)
            PrintReady();
    }
    // After the last process: the blocks not printed yet.
    void Finish() { PrintReady(); }

private:
    struct SJob {
        std::string state = "waiting";
        std::optional<std::chrono::steady_clock::time_point> transferStart;
        bool ended = false;
        SJobResult result;
    };

    void Redraw()
    {
        if (!m_terminal)
            return;
        // Up to the block's first line, then every line anew; the texts pass the filter.
        if (m_drawn)
            m_rawErr << "\x1b[" << m_hosts.size() << 'A';
        for (std::size_t k = 0; k < m_hosts.size(); ++k) {
            std::string line = Name(k) + std::string(m_width - Name(k).size() + 2, ' ') + m_jobs[k].state;
            if (line.size() >= m_columns)
                line.resize(m_columns - 1);
            m_rawErr << "\r\x1b[2K";
            m_err << line << '\n';
        }
        m_err << std::flush;
        m_drawn = true;
    }

    void PrintReady()
    {
        for (; m_printed < m_jobs.size() && m_jobs[m_printed].ended; ++m_printed)
            PrintBlock(m_printed);
        m_out << std::flush;
    }

    // "192.168.1.20" or, with a label from the hosts file, "192.168.1.20 (lobby)".
    std::string Name(std::size_t k) const
    {
        return m_labels[k].empty() ? m_hosts[k] : m_hosts[k] + " (" + m_labels[k] + ")";
    }

    void PrintBlock(std::size_t k)
    {
        const SJobResult& r = m_jobs[k].result;
        std::vector<std::string> errors = ErrorLines(r.err);
        for (std::string& note : DropNotes(r, m_deadlineMs, m_json))
            errors.push_back(std::move(note));
        // The trace goes to standard error, a block per switcher in the same order.
        bool traced = false;
        for (const std::string& line : Lines(r.err))
            if (IsTraceLine(line)) {
                if (!traced)
                    m_err << Name(k) << ": trace\n";
                traced = true;
                m_err << "  " << line << '\n';
            }
        if (traced)
            m_err << std::flush;
        if (!m_json) {
            m_out << Name(k) << ": " << Outcome(r) << '\n';
            for (const std::string& line : Lines(r.out))
                m_out << "  " << line << '\n';
            for (const std::string& line : errors)
                m_out << "  " << line << '\n';
            return;
        }
        // The command's own JSON document is the record's result, when it parses as one.
        std::string result = Trim(r.out);
        std::string why;
        const bool document = !result.empty() && result.find('\n') == std::string::npos && r.outDropped == 0 &&
                              (result.front() == '{' || result.front() == '[') && ParseJson(result, why).has_value();
        if (!document)
            result = result.empty() ? "null" : JsonString(r.out);
        // In a record the lines are the switcher's own: the program's name would only repeat.
        std::string error;
        for (const std::string& line : errors)
            error += (error.empty() ? "" : "\n") + (line.rfind("corvanectl: ", 0) == 0 ? line.substr(12) : line);
        m_out << "{\"host\":" << JsonString(m_hosts[k]);
        if (!m_labels[k].empty())
            m_out << ",\"label\":" << JsonString(m_labels[k]);
        m_out << ",\"ok\":" << Bool(r.status == kExitOk)
              << ",\"exit\":" << r.status;
        if (r.interrupted)
            m_out << ",\"interrupted\":true";
        if (r.timedOut)
            m_out << ",\"timed_out\":true";
        m_out << ",\"result\":" << result << ",\"error\":" << JsonString(error) << "}\n";
    }

    const std::vector<std::string>& m_hosts;
    std::vector<std::string> m_labels;
    bool m_json, m_progress;
    long long m_deadlineMs;
    std::ostream &m_out, &m_err, &m_rawErr;
    std::vector<SJob> m_jobs;
    std::size_t m_width = 0, m_printed = 0;
    std::size_t m_columns = 80;
    bool m_terminal = false, m_drawn = false;
};

int FleetUsage(std::ostream& err, const std::string& reason)
{
    err << "corvanectl: " << reason << "\nUsage: corvanectl " << kFleetUsage;
    return kExitUsage;
}

// Sets the linked switchers' check-only mode for as long as it lives.
struct SCheckOnly {
    SCheckOnly() { CLinkedSwitcher::SetCheckOnly(true); }
    ~SCheckOnly() { CLinkedSwitcher::SetCheckOnly(false); }
};

// Why a search answer's address is no switcher to act on, or "" when it may be one: a
// broadcast, multicast, unspecified or loopback address (this machine, unless the search itself
// went to this machine), or an address ending in .0 or .255, which the switcher refuses to take
// as its own (a network's own address or its broadcast on the usual networks).
std::string NotASwitcherAddress(const std::string& text, bool loopbackAllowed)
{
    const auto h = ParseHost(text);
    if (!h || text.find(':') != std::string::npos)
        return "not an IPv4 address";
    const uint32_t a = h->ipv4;
    if (a == 0xFFFFFFFFu)
        return "the broadcast address";
    if ((a >> 28) == 0xE)
        return "a multicast address";
    if ((a >> 28) == 0xF)
        return "a reserved address";
    if ((a >> 24) == 0)
        return "not an address of a host";
    if ((a >> 24) == 127 && !loopbackAllowed)
        return "an address of this machine";
    if ((a & 0xFF) == 0 || (a & 0xFF) == 0xFF)
        return "a network's own or broadcast address";
    return {};
}

}  // namespace

std::vector<std::string> AddressesToActOn(const std::vector<FoundSwitcher>& found, bool searchOnLoopback,
                                          std::ostream& err)
{
    // Each address once, in the order first answered, with the switchers (MACs) behind it: one
    // switcher answering twice (through two interfaces, say) is one.
    std::vector<std::pair<std::string, std::vector<std::string>>> byAddress;
    for (const FoundSwitcher& s : found) {
        auto at = std::find_if(byAddress.begin(), byAddress.end(), [&](const auto& e) { return e.first == s.ip; });
        if (at == byAddress.end())
            at = byAddress.insert(byAddress.end(), {s.ip, {}});
        if (std::find(at->second.begin(), at->second.end(), s.mac) == at->second.end())
            at->second.push_back(s.mac);
    }
    std::vector<std::string> hosts;
    for (const auto& [ip, macs] : byAddress) {
        if (const std::string skip = NotASwitcherAddress(ip, searchOnLoopback); !skip.empty()) {
            err << "corvanectl: a search answer names " << ip << ", " << skip << ": skipped\n";
            continue;
        }
        // Port 8000 of the address reaches one of them, and which one is not known.
        if (macs.size() > 1) {
            std::string list;
            for (const std::string& m : macs)
                list += (list.empty() ? "" : ", ") + m;
            err << "corvanectl: " << macs.size() << " switchers (" << list << ") answer for " << ip
                << ": none acted on; name the one meant with --hosts " << ip << ":PORT\n";
            continue;
        }
        hosts.push_back(ip);
    }
    return hosts;
}

namespace {

// The longest a command can take on one switcher that answers every exchange at the last
// moment its timers allow, with room to spare: past it the switcher's process is stopped.
long long WorstCaseMs(const std::string& word, const std::string& second, Args afterCommand)
{
    constexpr long long kConnect = kConnectTimeoutMs;
    constexpr long long kQuery = 2 * kStepTimeoutMs;  // sent, once more, then given up
    constexpr long long kSet = kPageTimeoutMs;
    constexpr long long kReading = 2 * kQuery + 6 * kQuery + kRouteTimeoutMs + 4 * kQuery + 4 * kQuery;
    constexpr long long kSpare = 30000;
    long long ms = kConnect + kReading;  // status and every reading
    if (word == "route" || word == "beep" || word == "dvi")
        ms = kConnect + 2 * kSet + 2 * kQuery;
    else if (word == "edid")
        ms = kConnect + 3 * kSet + 4 * kQuery;
    else if (word == "scene")  // a reading, each of 8 changes on a new link, a reading back
        ms = 2 * (kConnect + kReading) + 8 * (kConnect + 3 * kSet);
    else if (word == "firmware" && second == "upgrade") {
        // Three requests, then each packet with its repeat; the file's size sets the count.
        long long packets = 1;
        for (const std::string& a : afterCommand) {
            struct stat st {};
            if (a.rfind("-", 0) != 0 && a != second && stat(a.c_str(), &st) == 0 && S_ISREG(st.st_mode))
                packets = std::max<long long>(packets, st.st_size / kBlockDataSize + 2);
        }
        ms = kConnect + 3 * 2 * kFwGuardMs + packets * 2 * kFwGuardMs + 60000;
    }
    return ms + kSpare;
}

}  // namespace

bool IsFleetCommandLine(Args args)
{
    for (const std::string& a : args) {
        const std::string name = a.substr(0, a.find('='));
        if (name == "--hosts" || name == "--hosts-file" || name == "--all" || name == "--jobs")
            return true;
    }
    return false;
}

int RunFleet(Args args, std::ostream& out, std::ostream& err, std::ostream& rawErr)
{
    SFleetLine f = SplitFleetOptions(args);
    if (!f.error.empty())
        return FleetUsage(err, f.error);
    const std::vector<std::string> rest = CommandWordFirst(f.rest);
    const bool help = std::any_of(rest.begin(), rest.end(), [](const auto& a) { return a == "-h" || a == "--help"; });
    if (rest.empty() || rest.front().rfind("-", 0) == 0) {
        if (help) {
            out << "Usage: corvanectl " << kFleetUsage << kFleetHelp;
            return kExitOk;
        }
        return FleetUsage(err, "which command? (" + CommandList() + ")");
    }
    const int sources = int(f.hosts.has_value()) + int(f.hostsFile.has_value()) + int(f.all);
    if (sources != 1)
        return FleetUsage(err, sources ? "give one of --hosts, --hosts-file and --all"
                                       : "--jobs goes with --hosts, --hosts-file or --all");
    if ((f.udpTo || f.wait) && !f.all)
        return FleetUsage(err, "--udp-to and --wait go with --all");

    const std::string& word = rest.front();
    const Args afterCommand = Args(rest).subspan(1);
    const std::string second = SecondWord(afterCommand);
    const auto entry = std::find_if(kFleetEntries.begin(), kFleetEntries.end(),
                                    [&](const SFleetEntry& e) { return word == e.command.word; });
    // Without a second word the command's own check below says what is missing.
    if (entry == kFleetEntries.end() ||
        (*entry->command.second && !help && !second.empty() && !HasWord(entry->command.second, second)))
        return FleetUsage(err, "'" + word + (entry != kFleetEntries.end() && !second.empty() ? " " + second : "") +
                                   "' does not run on several switchers; these do: " + CommandList());

    unsigned jobs = kDefaultJobs;
    if (f.jobs) {
        const std::string& j = *f.jobs;
        if (j.empty() || j.size() > 3 || j.find_first_not_of("0123456789") != std::string::npos ||
            std::stoul(j) < 1 || std::stoul(j) > kMaxJobs)
            return FleetUsage(err, "--jobs is 1 to " + std::to_string(kMaxJobs));
        jobs = unsigned(std::stoul(j));
    }
    unsigned waitMs = kDefaultSearchMs;
    if (f.wait) {
        const std::string& w = *f.wait;
        if (w.empty() || w.size() > 6 || w.find_first_not_of("0123456789") != std::string::npos ||
            std::stoul(w) < 1 || std::stoul(w) > 600000)
            return FleetUsage(err, "--wait is 1 to 600000 milliseconds");
        waitMs = unsigned(std::stoul(w));
    }
    if (f.udpTo) {
        std::string why;
        if (!ParseUdpTarget(*f.udpTo, why))
            return FleetUsage(err, "--udp-to " + why);
    }

    std::vector<std::string> hosts, labels;
    std::string why;
    if (f.hosts) {
        const auto list = ParseHostList(*f.hosts, why);
        if (!list)
            return FleetUsage(err, "--hosts: " + why);
        hosts = *list;
    } else if (f.hostsFile) {
        std::vector<uint8_t> bytes;
        const RegularFileError e = ReadRegularFile(*f.hostsFile, kMaxHostsFile, bytes);
        const int saved = errno;
        if (e != RegularFileError::None) {
            const std::string reason = e == RegularFileError::NotRegular ? "not a regular file"
                                       : e == RegularFileError::TooLarge ? "larger than 1 MiB"
                                                                  : std::strerror(saved);
            return FleetUsage(err, "--hosts-file " + *f.hostsFile + ": " + reason);
        }
        const auto list = ParseHostLines(std::string(bytes.begin(), bytes.end()), why, &labels);
        if (!list)
            return FleetUsage(err, "--hosts-file " + *f.hostsFile + ": " + why);
        hosts = *list;
    }

    // The command's own checks of its words, options and files, once, before any switcher
    // is reached: a bad command line or a refused file is reported once, not per switcher.
    const Subcommand* command = nullptr;
    for (const Subcommand& c : Subcommands())
        if (word == c.name)
            command = &c;
    if (!command)
        return FleetUsage(err, "'" + word + "' does not run on several switchers; these do: " + CommandList());
    {
        std::vector<std::string> checkArgs(afterCommand.begin(), afterCommand.end());
        checkArgs.insert(checkArgs.end(), {"--host", hosts.empty() ? std::string("127.0.0.1") : hosts.front()});
        std::ostringstream checkOut, checkErr;
        int status;
        {
            SCheckOnly checking;
            status = command->run(checkArgs, checkOut, checkErr);
        }
        if (status != kExitChecked) {
            out << checkOut.str() << std::flush;
            err << checkErr.str() << std::flush;
            return status;
        }
    }

    const bool trace = std::find(rest.begin(), rest.end(), "--trace") != rest.end();
    if (f.all) {
        std::vector<FoundSwitcher> found;
        if (const int r = FindSwitchers(f.udpTo.value_or(""), waitMs, trace, found, err))
            return r;
        hosts = AddressesToActOn(found, f.udpTo && f.udpTo->rfind("127.", 0) == 0, err);
        if (hosts.empty()) {
            err << "corvanectl: " << (found.empty() ? "no switcher answered the search" : "no search answer named an address to act on") << '\n';
            return kExitFailed;
        }
    }

    std::vector<std::vector<std::string>> argvs;
    for (const std::string& host : hosts) {
        std::vector<std::string> argv{"/proc/self/exe"};
        argv.insert(argv.end(), rest.begin(), rest.end());
        argv.insert(argv.end(), {"--host", host});
        argvs.push_back(std::move(argv));
    }
    const bool json = std::find(rest.begin(), rest.end(), "--json") != rest.end();
    const bool progress = *entry->progress && HasWord(entry->progress, second);
    SRunLimits limits;
    limits.deadlineMs = WorstCaseMs(word, second, afterCommand);
    // SIGINT and SIGTERM while the switchers' processes run: the runner watches the signal's pipe.
    CStopSignal stop;
    limits.stopFd = stop.Fd();
    CFleetReport report(hosts, labels, json, progress, limits.deadlineMs, out, err, rawErr);
    const std::vector<SJobResult> results = RunJobs(argvs, jobs, report, limits);
    report.Finish();

    std::string failed;
    std::size_t failures = 0;
    for (std::size_t k = 0; k < results.size(); ++k)
        if (results[k].status != kExitOk) {
            failed += (failures++ ? ", " : "") + hosts[k];
        }
    if (const int sig = stop.Received()) {
        std::string stopped;
        std::size_t count = 0;
        for (std::size_t k = 0; k < results.size(); ++k)
            if (results[k].interrupted && results[k].status != kExitOk)
                stopped += (count++ ? ", " : "") + hosts[k];
        err << "corvanectl: stopped by " << StopSignalName(sig) << "; " << count << " of "
            << hosts.size() << " switchers did not finish" << (count ? ": " + stopped : std::string()) << '\n';
        return 128 + sig;
    }
    if (failures) {
        err << "corvanectl: " << failures << " of " << hosts.size() << " switchers failed: " << failed << '\n';
        return kExitFailed;
    }
    return kExitOk;
}

}  // namespace corvane::cli
