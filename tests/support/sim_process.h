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
class SimProcess {
public:
    SimProcess(const std::vector<std::string>& args, const std::string& portDir,
               const std::vector<std::string>& launcher = {})
    {
        int out[2], in[2];
        if (pipe2(out, O_CLOEXEC) != 0 || pipe2(in, O_CLOEXEC) != 0)
            return;
        std::vector<std::string> env = {"CORVANE_PORT_DIR=" + portDir, "PATH=/usr/bin:/bin"};
        std::vector<char*> argv, envp;
        std::vector<std::string> copy = launcher;
        copy.push_back(CORVANE_SIM_PATH);
        copy.insert(copy.end(), args.begin(), args.end());
        for (auto& a : copy)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        for (auto& e : env)
            envp.push_back(e.data());
        envp.push_back(nullptr);
        m_pid = fork();
        if (m_pid == 0) {
            dup2(in[0], 0);
            dup2(out[1], 1);
            dup2(out[1], 2);
            execve(argv[0], argv.data(), envp.data());
            _exit(127);
        }
        close(out[1]);
        close(in[0]);
        m_out = out[0];
        m_in = in[1];
        first = ReadLine();
    }
    ~SimProcess()
    {
        // Every emulator ends cleanly on SIGTERM, whatever the test did with it.
        if (m_pid > 0 && !m_reaped) {
            EXPECT_EQ(Terminate(), 0) << "corvane-sim did not end cleanly";
        }
        if (m_out >= 0)
            close(m_out);
        if (m_in >= 0)
            close(m_in);
    }

    // A line on the emulator's standard input (its --control commands).
    bool Control(const std::string& line)
    {
        const std::string text = line + "\n";
        return write(m_in, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    }

    // The next line of output, or "" when none comes in time.
    std::string ReadLine(int timeoutMs = kWaitMs)
    {
        for (;;) {
            if (const auto nl = m_buf.find('\n'); nl != std::string::npos) {
                std::string line = m_buf.substr(0, nl);
                m_buf.erase(0, nl + 1);
                return line;
            }
            pollfd p{m_out, POLLIN, 0};
            if (poll(&p, 1, timeoutMs) <= 0)
                return {};
            char chunk[4096];
            const ssize_t n = read(m_out, chunk, sizeof chunk);
            if (n <= 0)
                return {};
            m_buf.append(chunk, static_cast<std::size_t>(n));
        }
    }
    // The first line that contains text.
    std::string LineWith(const std::string& text)
    {
        for (std::string line = ReadLine(); !line.empty(); line = ReadLine())
            if (line.find(text) != std::string::npos)
                return line;
        return {};
    }
    int Terminate()
    {
        kill(m_pid, SIGTERM);
        return Wait();
    }
    int Wait()
    {
        int status = 0;
        waitpid(m_pid, &status, 0);
        m_reaped = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    std::string Find(const std::string& pattern) const
    {
        std::smatch m;
        return std::regex_search(first, m, std::regex(pattern)) ? m[1].str() : std::string();
    }

    pid_t Pid() const { return m_pid; }
    std::string first;

private:
    pid_t m_pid = -1;
    int m_out = -1;
    int m_in = -1;  // the emulator's standard input
    bool m_reaped = false;
    std::string m_buf;
};

}  // namespace corvane::test
