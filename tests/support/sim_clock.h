// corvanectl in this process on a virtual clock, against the emulator process over real I/O (a
// pseudo-terminal, a TCP connection, datagrams on loopback): a wait of minutes takes none.
//
// When the clock moves. Real events are handled as they come; the clock moves to the next due
// timer only when no real event could still end the wait that timer ends:
//  - every frame and datagram the command sent (its --trace "TX" lines) has been taken by the
//    emulator (its "rx" lines, so it runs without --quiet), and the emulator has settled each
//    one: answered it ("tx"), found nothing to answer ("no reply") or dropped it by a fault;
//  - no answer is still on its way: the session waits for no connection and no exchange, or the
//    emulator dropped the last answer. A datagram is logged once sent, and loopback delivers it
//    at once, so the events handled before the clock moves include it.
// Nothing here waits on the wall clock for a protocol timer: a slow machine only takes longer.
#pragma once

#include <QEventLoop>
#include <chrono>
#include <functional>
#include <sstream>
#include <stdexcept>

#include "cli/commands.h"
#include "tests/support/sim_process.h"
#include "transport/linked_switcher.h"

namespace corvane::test {

class CSimClock final : public IProgramClock {
public:
    explicit CSimClock(SimProcess& sim) : m_sim(sim) { UseProgramClock(this); }
    ~CSimClock() override { UseProgramClock(nullptr); }

    struct SRun {
        int status;
        std::string out, err;  // err without the trace
    };
    SRun Run(std::vector<std::string> args)
    {
        args.push_back("--trace");
        const int status = cli::RunCommandLine(args, m_out, m_err);
        std::istringstream all(m_err.str());
        std::string err;
        for (std::string line; std::getline(all, line);)
            if (!IsTrace(line, "TX") && !IsTrace(line, "RX"))
                err += line + "\n";
        return {status, m_out.str(), err};
    }

    CVirtualTimers timers;
    std::vector<int64_t> moves;  // the moments the clock moved to

    ITimerService& Timers() override { return timers; }
    void Pump(bool awaiting) override
    {
        const auto since = std::chrono::steady_clock::now();
        for (;;) {
            while (ReadLog(0)) {
            }
            if (QEventLoop().processEvents(QEventLoop::AllEvents))
                return;
            if (Sent() == m_taken && m_settled == m_taken && (!awaiting || m_dropped) && timers.NextDue() >= 0) {
                moves.push_back(timers.NextDue());
                timers.Advance(timers.NextDue() - timers.Now());
                return;
            }
            // Only a bound, so that a fault fails the test instead of hanging it.
            if (std::chrono::steady_clock::now() - since > std::chrono::seconds(20))
                throw std::runtime_error("the clock could not move for 20 s");
            ReadLog(2);  // a short wait for the emulator; the serial worker's bytes come as events
        }
    }

private:
    // "TX A5 ..." or, from watch, "<time stamp> TX A5 ...".
    static bool IsTrace(const std::string& line, const char* what)
    {
        const auto at = line.find(std::string(what) + " ");
        return at == 0 || (at != std::string::npos && line.find(' ') == at - 1);
    }
    int Sent() const
    {
        std::istringstream all(m_err.str());
        int n = 0;
        for (std::string line; std::getline(all, line);)
            n += IsTrace(line, "TX");
        return n;
    }
    // One line of the emulator's log: "12:00:00.000 serial rx A5 5B ...".
    bool ReadLog(int waitMs)
    {
        const std::string line = m_sim.ReadLine(waitMs);
        std::istringstream words(line);
        std::string time, link, what;
        words >> time >> link >> what;
        if (what == "rx") {
            ++m_taken;
        } else if (m_settled < m_taken && (what == "tx" || line.find("no reply") != std::string::npos ||
                                           (what == "fault" && line.find("drop") != std::string::npos))) {
            ++m_settled;
            m_dropped = what != "tx";
        }
        return !line.empty();
    }

    SimProcess& m_sim;
    std::ostringstream m_out, m_err;
    int m_taken = 0, m_settled = 0;
    bool m_dropped = false;
};

}  // namespace corvane::test
