// corvanectl as a process, as a script runs it: its standard output, standard error and exit
// status, with the emulator's port directory and standard input from /dev/null. The test
// program defines CORVANECTL_PATH.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/child_process.h"

namespace corvane::test {

struct Result {
    int status = -1;
    std::string out, err;
};

inline SChildOptions CtlOptions(const std::string& portDir, int endSignal = SIGTERM)
{
    SChildOptions o;
    o.env = std::vector<std::string>{"CORVANE_PORT_DIR=" + portDir, "PATH=/usr/bin:/bin"};
    o.err = SChildOptions::Err::Own;
    o.endSignal = endSignal;
    return o;
}

// Runs corvanectl with the emulator's port directory, standard input from /dev/null. Every
// run is bounded: a program that hangs is killed and the test fails.
// launcher, when given, runs the program (another user, for example).
inline Result Ctl(std::vector<std::string> args, const std::string& portDir, int boundMs = 15000,
                  std::vector<std::string> launcher = {})
{
    launcher.push_back(CORVANECTL_PATH);
    launcher.insert(launcher.end(), args.begin(), args.end());
    CChildProcess ctl(launcher, CtlOptions(portDir, SIGKILL));
    Result r;
    if (!ctl.Collect(r.out, r.err, boundMs)) {
        ctl.Signal(SIGKILL);
        ADD_FAILURE() << "corvanectl did not end within " << boundMs << " ms";
    }
    r.status = ctl.Wait();
    return r;
}

// corvanectl running on its own (watch): its standard output read a line at a time, standard
// error kept, ended by a signal or by itself. Killed when the test leaves it running.
class CtlProcess : public CChildProcess {
public:
    CtlProcess(std::vector<std::string> args, const std::string& portDir)
        : CChildProcess(Words(std::move(args)), CtlOptions(portDir, SIGKILL))
    {
        fcntl(ErrFd(), F_SETFL, O_NONBLOCK);
    }
    std::optional<std::string> ReadLine(int ms = 5000) { return CChildProcess::ReadLine(ms); }
    int Wait(int ms = 5000) { return CChildProcess::Wait(ms); }
    // What the program wrote to standard error so far.
    std::string Err()
    {
        char chunk[4096];
        for (ssize_t n; (n = read(ErrFd(), chunk, sizeof chunk)) > 0;)
            m_errText.append(chunk, std::size_t(n));
        return m_errText;
    }

private:
    static std::vector<std::string> Words(std::vector<std::string> args)
    {
        args.insert(args.begin(), CORVANECTL_PATH);
        return args;
    }
    std::string m_errText;
};

}  // namespace corvane::test
