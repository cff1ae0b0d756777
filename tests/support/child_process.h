// A program as a child process, for tests and benchmarks: its words and environment given, its
// standard input from /dev/null or a pipe, its standard output and error on one pipe or two, its
// output read a line at a time within a bound, and ended by a signal when it is still running
// as the object goes. No wait is longer than its bound, and none lasts once what it waits for is
// there.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace corvane::test {

// A TCP port on loopback that nothing listens on now.
inline int FreePort()
{
    const int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    int port = 0;
    if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) == 0)
        port = ntohs(a.sin_port);
    close(s);
    return port;
}

// A bound of ms from now, and what is left of it (never below 0).
struct SBound {
    explicit SBound(int ms) : until(std::chrono::steady_clock::now() + std::chrono::milliseconds(ms)) {}
    int Left() const
    {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
        return int(std::max<long long>(left.count(), 0));
    }
    std::chrono::steady_clock::time_point until;
};

// A shell's exit status: the program's own, or 128 + the signal that ended it.
inline int ExitStatus(int waitStatus)
{
    return WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : 128 + WTERMSIG(waitStatus);
}

struct SChildOptions {
    std::optional<std::vector<std::string>> env;  // the whole environment; the test's own when unset
    // Standard error: on the output's pipe, on one of its own, to /dev/null, or the test's own.
    enum class Err { Merged, Own, Dropped, Inherited } err = Err::Merged;
    bool stdinPipe = false;  // standard input from a pipe the test writes (else /dev/null)
    int endSignal = SIGTERM;  // what ends a process still running when the object goes
};

class CChildProcess {
public:
    explicit CChildProcess(std::vector<std::string> words, SChildOptions options = {}) : m_endSignal(options.endSignal)
    {
        int out[2] = {-1, -1}, err[2] = {-1, -1}, in[2] = {-1, -1};
        if (pipe2(out, O_CLOEXEC) != 0 || (options.err == SChildOptions::Err::Own && pipe2(err, O_CLOEXEC) != 0) ||
            (options.stdinPipe && pipe2(in, O_CLOEXEC) != 0)) {
            for (int fd : {out[0], out[1], err[0], err[1], in[0], in[1]})
                if (fd >= 0)
                    close(fd);
            m_status = 127;
            return;
        }
        std::vector<char*> argv, envp;
        for (auto& w : words)
            argv.push_back(w.data());
        argv.push_back(nullptr);
        std::vector<std::string> env = options.env.value_or(std::vector<std::string>{});
        for (auto& e : env)
            envp.push_back(e.data());
        envp.push_back(nullptr);
        m_pid = fork();
        if (m_pid == 0) {
            dup2(options.stdinPipe ? in[0] : open("/dev/null", O_RDONLY), 0);
            dup2(out[1], 1);
            switch (options.err) {
            case SChildOptions::Err::Merged: dup2(out[1], 2); break;
            case SChildOptions::Err::Own: dup2(err[1], 2); break;
            case SChildOptions::Err::Dropped: dup2(open("/dev/null", O_WRONLY), 2); break;
            case SChildOptions::Err::Inherited: break;
            }
            if (options.env)
                execve(argv[0], argv.data(), envp.data());
            else
                execv(argv[0], argv.data());
            _exit(127);
        }
        for (int fd : {out[1], err[1], in[0]})
            if (fd >= 0)
                close(fd);
        m_out = out[0];
        m_err = err[0];
        m_in = in[1];
        if (m_pid < 0) {
            m_pid = 0;  // no process: nothing to signal or wait for (never -1, which means all)
            m_status = 127;
        }
    }
    ~CChildProcess()
    {
        if (Running()) {
            kill(m_pid, m_endSignal);
            Wait();
        }
        for (int fd : {m_out, m_err, m_in})
            if (fd >= 0)
                close(fd);
    }
    CChildProcess(const CChildProcess&) = delete;
    CChildProcess& operator=(const CChildProcess&) = delete;

    pid_t Pid() const { return m_pid; }
    bool Running() const { return m_pid > 0 && m_status < 0; }
    int ErrFd() const { return m_err; }
    int InFd() const { return m_in; }

    // The next line of standard output, or nothing when none comes within ms (or it ended).
    std::optional<std::string> ReadLine(int ms)
    {
        const SBound bound(ms);
        for (;;) {
            if (const auto nl = m_buf.find('\n'); nl != std::string::npos) {
                std::string line = m_buf.substr(0, nl);
                m_buf.erase(0, nl + 1);
                log += line + "\n";
                return line;
            }
            pollfd p{m_out, POLLIN, 0};
            if (m_out < 0 || poll(&p, 1, bound.Left()) <= 0)
                return std::nullopt;
            char chunk[4096];
            const ssize_t n = read(m_out, chunk, sizeof chunk);
            if (n <= 0)
                return std::nullopt;
            m_buf.append(chunk, std::size_t(n));
        }
    }
    // The first line of output that contains text, or "" when none comes within ms.
    std::string LineWith(const std::string& text, int ms)
    {
        const SBound bound(ms);
        for (;;) {
            const auto line = ReadLine(bound.Left());
            if (!line)
                return {};
            if (line->find(text) != std::string::npos)
                return *line;
        }
    }
    // Standard output and error (when it has its own pipe) to their ends, within ms; false when
    // the program still writes then.
    bool Collect(std::string& out, std::string& err, int ms)
    {
        const SBound bound(ms);
        out += m_buf;
        m_buf.clear();
        pollfd fds[2] = {{m_out, POLLIN, 0}, {m_err, POLLIN, 0}};
        std::string* sinks[2] = {&out, &err};
        for (;;) {
            if (fds[0].fd < 0 && fds[1].fd < 0)
                return true;
            if (bound.Left() == 0 || poll(fds, 2, bound.Left()) <= 0)
                return false;
            for (int i = 0; i < 2; ++i) {
                if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                    continue;
                char chunk[4096];
                const ssize_t n = read(fds[i].fd, chunk, sizeof chunk);
                if (n > 0)
                    sinks[i]->append(chunk, std::size_t(n));
                else
                    fds[i].fd = -1;
            }
        }
    }
    // The reader of standard output goes away, as "| head -3" does after its lines.
    void CloseOut()
    {
        close(m_out);
        m_out = -1;
    }
    void Signal(int sig)
    {
        if (Running())
            kill(m_pid, sig);
    }
    // The exit status, once the program has ended.
    int Wait()
    {
        if (Running()) {
            int status = 0;
            waitpid(m_pid, &status, 0);
            m_status = ExitStatus(status);
        }
        return m_status;
    }
    // The same within ms; -1 when the program is still running then.
    int Wait(int ms)
    {
        const SBound bound(ms);
        while (Running() && bound.Left() > 0) {
            int status = 0;
            if (waitpid(m_pid, &status, WNOHANG) == m_pid)
                m_status = ExitStatus(status);
            else
                poll(nullptr, 0, 10);
        }
        return m_status;
    }
    int Terminate()
    {
        Signal(SIGTERM);
        return Wait();
    }
    // Output to its end, then the exit status.
    int Finish()
    {
        char chunk[4096];
        while (m_out >= 0 && read(m_out, chunk, sizeof chunk) > 0) {
        }
        return Wait();
    }

    std::string log;  // every line read so far

private:
    pid_t m_pid = 0;
    int m_out = -1, m_err = -1, m_in = -1;
    int m_status = -1;
    int m_endSignal;
    std::string m_buf;
};

}  // namespace corvane::test
