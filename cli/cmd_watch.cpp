// watch: the status reading of the General, Matrix and EDID pages repeated on one link, and a
// line for each thing that changed between two readings.
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <ctime>

#include "cli/command_line.h"
#include "cli/link_commands.h"
#include "core/switcher/state_json.h"
#include "core/switcher/switcher.h"

namespace corvane::cli {

const char kWatchUsage[] =
    "watch [--interval MS] [--json]  the status reading repeated: a line per change, until stopped\n";

namespace {

constexpr unsigned kDefaultIntervalMs = 2000;
constexpr unsigned kMinIntervalMs = 100;
constexpr unsigned kMaxIntervalMs = 24 * 3600 * 1000;

const char kWatchHelp[] =
    "\nReads the switcher every MS milliseconds (default 2000, from 100): the signals on its\n"
    "inputs and outputs, beep, DVI compatibility, the routes and each input's EDID. The first\n"
    "reading prints every one of them, later ones a line for each that changed, with the old\n"
    "value: \"2026-12-07T14:03:22.481+01:00 INPUT 2: Connect (was Disconnect)\". A reading\n"
    "starts only when the one before has ended: readings that take longer than MS follow each\n"
    "other without a pause.\n"
    "With --json, one object per line: {\"time\",\"input\",\"signal\"}, {\"time\",\"output\",\"signal\"},\n"
    "{\"time\",\"output\",\"route\"}, {\"time\",\"beep\"}, {\"time\",\"dvi\"}, {\"time\",\"input\",\"edid\"};\n"
    "a change carries the old value as \"was\".\n"
    "Ends with status 0 on SIGINT (Ctrl+C) or SIGTERM, or when standard output is a pipe nobody\n"
    "reads any more (\"corvanectl watch | head -3\"); 1 when the link is lost or the switcher\n"
    "stops answering: the line that says so carries a time stamp too, and with --json a last\n"
    "record {\"time\",\"error\"} says it on standard output.\n";

std::string Timestamp() { return ChangeTimestamp(); }

// Standard error of a watch: every line it gets carries the time stamp of the change lines;
// the last one is kept for the JSON record that ends a watch that failed.
class CStampedLines final : public std::streambuf {
public:
    explicit CStampedLines(std::ostream& target) : m_target(target) {}
    ~CStampedLines() override { Pass(); }
    // The last whole line, without its stamp and the program's name.
    const std::string& Last() const { return m_last; }

protected:
    int_type overflow(int_type ch) override
    {
        if (traits_type::eq_int_type(ch, traits_type::eof()))
            return traits_type::not_eof(ch);
        m_line += traits_type::to_char_type(ch);
        if (m_line.back() == '\n')
            Pass();
        return ch;
    }
    int sync() override
    {
        m_target.flush();
        return 0;
    }

private:
    void Pass()
    {
        if (m_line.empty())
            return;
        if (m_line.back() != '\n')
            m_line += '\n';
        m_target << Timestamp() << ' ' << m_line << std::flush;
        m_last = m_line.substr(0, m_line.size() - 1);
        if (m_last.rfind("corvanectl: ", 0) == 0)
            m_last = m_last.substr(12);
        m_line.clear();
    }

    std::ostream& m_target;
    std::string m_line, m_last;
};

// Whether standard output is a pipe whose reader has gone: nothing written there would be read.
bool ReaderGone()
{
    struct stat st {};
    if (fstat(STDOUT_FILENO, &st) != 0 || !S_ISFIFO(st.st_mode))
        return false;
    pollfd p{STDOUT_FILENO, 0, 0};
    return poll(&p, 1, 0) == 1 && (p.revents & POLLERR) != 0;
}

// SIGPIPE ignored for as long as it lives, over either link alike: a write to a pipe nobody
// reads fails instead, and the watch ends on it.
class CNoPipeSignal {
public:
    CNoPipeSignal()
    {
        struct sigaction sa {};
        sa.sa_handler = SIG_IGN;
        sigemptyset(&sa.sa_mask);
        sigaction(SIGPIPE, &sa, &m_old);
    }
    ~CNoPipeSignal() { sigaction(SIGPIPE, &m_old, nullptr); }

private:
    struct sigaction m_old {};
};


}  // namespace

void PrintChanges(std::ostream& out, bool json, const SSwitcherState& now, const std::optional<SSwitcherState>& last)
{
    const std::string time = Timestamp();
    const SSwitcherState* was = last ? &*last : nullptr;
    for (const SChangeJson& j : ChangesJson(was, now)) {
        const SStateChange& c = j.change;
        const std::string &fields = j.fields, &wasJson = j.was, &line = j.line;
        if (json) {
            out << "{\"time\":\"" << time << "\"," << fields;
            if (!wasJson.empty())
                out << ",\"was\":" << wasJson;
            out << "}\n";
        } else {
            out << time << ' ' << line;
            if (was)
                out << " (was " << StateValueText(*was, c) << ')';
            out << '\n';
        }
    }
    out << std::flush;
}

int RunWatch(Args args, std::ostream& out, std::ostream& err)
{
    const SCommandLine c = Parse(args, {"--interval"});
    if (c.help) {
        out << "Usage: corvanectl " << kWatchUsage << kWatchHelp << kLinkOptionsHelp;
        return kExitOk;
    }
    if (!c.error.empty())
        return Usage(err, c.error, kWatchUsage);
    if (!c.words.empty())
        return Usage(err, "unexpected '" + c.words[0] + "'", kWatchUsage);
    unsigned interval = kDefaultIntervalMs;
    if (c.Has("--interval")) {
        const std::string v = c.Value("--interval");
        const bool digits = !v.empty() && v.size() <= 9 && v.find_first_not_of("0123456789") == std::string::npos;
        const unsigned long n = digits ? std::stoul(v) : 0;
        if (n < kMinIntervalMs || n > kMaxIntervalMs)
            return Usage(err, "--interval is " + std::to_string(kMinIntervalMs) + " to " +
                                  std::to_string(kMaxIntervalMs) + " milliseconds, not '" + v + "'",
                         kWatchUsage);
        interval = static_cast<unsigned>(n);
    }

    CStampedLines stampedBuf(err);
    std::ostream stamped(&stampedBuf);
    CLinkedSwitcher run(stamped, c.link);
    if (int r = run.Open())
        return r;
    CNoPipeSignal noPipeSignal;
    run.SetStopSilent(true);  // SIGINT and SIGTERM are how a watch ends
    // A failure ends the watch: on standard error as a stamped line, and with --json as a last
    // record, so that a program reading the records learns why they stopped.
    const auto failed = [&] {
        if (run.Stopped())
            return kExitOk;
        if (c.json && out) {
            stamped << std::flush;
            out << "{\"time\":\"" << Timestamp() << "\",\"error\":" << JsonString(stampedBuf.Last()) << "}\n"
                << std::flush;
        }
        return kExitFailed;
    };
    std::optional<SSwitcherState> last;
    // The next reading starts an interval after this one started, and never before it ended.
    bool elapsed = false;
    CTimerOwner timer(run.Link().TimerService(), [&elapsed](unsigned) { elapsed = true; });
    for (;;) {
        elapsed = false;
        timer.SetTimer(1, interval);
        if (ReaderGone())
            return kExitOutputClosed;
        if (!run.Run(run.ReadSettings(true)).Ok())
            return failed();
        const SSwitcherState now = run.State();
        PrintChanges(out, c.json, now, last);
        if (!out)
            return kExitOutputClosed;  // nobody reads the lines any more (or they cannot be written)
        last = now;
        // A link lost while idle ends the wait too.
        if (!run.Run(run.Wait([&] { return elapsed; })).Ok())
            return failed();
    }
}

}  // namespace corvane::cli
