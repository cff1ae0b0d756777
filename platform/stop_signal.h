// A request to stop, by signal: SIGINT and SIGTERM (SIGHUP too where the program wants it)
// set a flag to the number of the signal that came and write that number down a pipe, so that
// a poll loop or an event loop wakes for it. The handlers the program had come back when the
// object goes. One lives at a time: a handler has nowhere to look but a namespace-scope flag.
#pragma once

#include <csignal>

namespace corvane {

class CStopSignal {
public:
    explicit CStopSignal(bool hangUpToo = false);
    ~CStopSignal();
    CStopSignal(const CStopSignal&) = delete;
    CStopSignal& operator=(const CStopSignal&) = delete;

    // False when the pipe could not be made, or another lives: no handler was installed.
    bool Ok() const;
    // The number of the first signal that came, 0 before any.
    int Received() const;
    // Readable once a signal came: a byte per signal, its number.
    int Fd() const;
    // Empties the pipe, so that a level-triggered watcher is not woken again for the same signal.
    void Drain() const;

private:
    struct sigaction m_old[3] {};
    bool m_hangUp;
    bool m_owner = false;
};

// The flag of the one CStopSignal: 0, or the number of the signal that asked the program to
// stop. Stays 0 while none lives.
const volatile std::sig_atomic_t* StopSignalFlag();

// "SIGINT", "SIGTERM", "SIGHUP", else "signal N".
const char* StopSignalName(int sig);

}  // namespace corvane
