// The emulator as a child process for tests: started with its own port directory, its stdout
// and stderr on one pipe and its stdin on another, ended with SIGTERM (which it must survive
// cleanly). The test program defines CORVANE_SIM_PATH.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "tests/support/child_process.h"

namespace corvane::test {

inline constexpr int kWaitMs = 5000;  // only a bound: every wait ends as soon as the bytes are there

class TempDir {
public:
    TempDir()
    {
        char tmpl[] = "/tmp/corvane-sim-test-XXXXXX";
        if (const char* made = mkdtemp(tmpl))
            path = made;
        EXPECT_FALSE(path.empty()) << "mkdtemp: " << std::strerror(errno);
    }
    ~TempDir()
    {
        std::error_code ignored;
        if (!path.empty())
            std::filesystem::remove_all(path, ignored);
    }
    std::string path;
};

// The emulator, its stdout and stderr on one pipe. A launcher, when given, runs it: its words
// come first and the emulator's path follows them ("ip netns exec NAME", which execs it, so the
// process is still the emulator and ends on SIGTERM).
class SimProcess : public CChildProcess {
public:
    SimProcess(const std::vector<std::string>& args, const std::string& portDir,
               const std::vector<std::string>& launcher = {})
        : CChildProcess(Words(args, launcher), Options(portDir))
    {
        first = ReadLine();
    }
    ~SimProcess()
    {
        // Every emulator ends cleanly on SIGTERM, whatever the test did with it.
        if (Running()) {
            EXPECT_EQ(Terminate(), 0) << "corvane-sim did not end cleanly";
        }
    }

    // A line on the emulator's standard input (its --control commands).
    bool Control(const std::string& line)
    {
        const std::string text = line + "\n";
        return write(InFd(), text.data(), text.size()) == static_cast<ssize_t>(text.size());
    }

    // The next line of output, or "" when none comes in time.
    std::string ReadLine(int timeoutMs = kWaitMs) { return CChildProcess::ReadLine(timeoutMs).value_or(""); }
    // The first line that contains text.
    std::string LineWith(const std::string& text)
    {
        for (std::string line = ReadLine(); !line.empty(); line = ReadLine())
            if (line.find(text) != std::string::npos)
                return line;
        return {};
    }
    std::string Find(const std::string& pattern) const
    {
        std::smatch m;
        return std::regex_search(first, m, std::regex(pattern)) ? m[1].str() : std::string();
    }

    std::string first;

private:
    static std::vector<std::string> Words(const std::vector<std::string>& args, std::vector<std::string> launcher)
    {
        launcher.push_back(CORVANE_SIM_PATH);
        launcher.insert(launcher.end(), args.begin(), args.end());
        return launcher;
    }
    static SChildOptions Options(const std::string& portDir)
    {
        SChildOptions o;
        o.env = std::vector<std::string>{"CORVANE_PORT_DIR=" + portDir, "PATH=/usr/bin:/bin"};
        o.stdinPipe = true;
        return o;
    }
};

}  // namespace corvane::test
