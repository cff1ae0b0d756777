// corvanectl as a process, as a script runs it: its standard output, standard error and exit
// status, with the emulator's port directory and standard input from /dev/null. The test
// program defines CORVANECTL_PATH.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace corvane::test {

struct Result {
    int status = -1;
    std::string out, err;
};

// Runs corvanectl with the emulator's port directory, standard input from /dev/null. Every
// run is bounded: a program that hangs is killed and the test fails.
// launcher, when given, runs the program (another user, for example).
inline Result Ctl(std::vector<std::string> args, const std::string& portDir, int boundMs = 15000,
                  std::vector<std::string> launcher = {})
{
    Result r;
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0)
        return r;
    if (pipe2(err, O_CLOEXEC) != 0) {
        close(out[0]), close(out[1]);
        return r;
    }
    std::string exe = CORVANECTL_PATH;
    std::vector<char*> argv;
    for (auto& l : launcher)
        argv.push_back(l.data());
    argv.push_back(exe.data());
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> env = {"CORVANE_PORT_DIR=" + portDir, "PATH=/usr/bin:/bin"};
    std::vector<char*> envp;
    for (auto& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        const int null = open("/dev/null", O_RDONLY);
        dup2(null, 0);
        dup2(out[1], 1);
        dup2(err[1], 2);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    if (pid < 0) {  // kill(-1) or waitpid(-1) below would reach other processes
        close(out[0]), close(err[0]);
        return r;
    }
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(boundMs);
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    std::string* sinks[2] = {&r.out, &r.err};
    int open = 2;
    while (open > 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
        if (left.count() <= 0 || poll(fds, 2, int(left.count())) <= 0) {
            kill(pid, SIGKILL);
            ADD_FAILURE() << "corvanectl did not end within " << boundMs << " ms";
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP)))
                continue;
            char chunk[4096];
            const ssize_t n = read(fds[i].fd, chunk, sizeof chunk);
            if (n > 0) {
                sinks[i]->append(chunk, std::size_t(n));
            } else {
                fds[i].fd = -1;
                --open;
            }
        }
    }
    close(out[0]);
    close(err[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return r;
}

// corvanectl running on its own (watch): its standard output read a line at a time, standard
// error kept, ended by a signal or by itself. Killed when the test leaves it running.
class CtlProcess {
public:
    CtlProcess(std::vector<std::string> args, const std::string& portDir)
    {
        int out[2], err[2];
        if (pipe2(out, O_CLOEXEC) != 0)
            return;
        if (pipe2(err, O_CLOEXEC) != 0) {
            close(out[0]), close(out[1]);
            return;
        }
        std::string exe = CORVANECTL_PATH;
        std::vector<char*> argv{exe.data()};
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        std::vector<std::string> env = {"CORVANE_PORT_DIR=" + portDir, "PATH=/usr/bin:/bin"};
        std::vector<char*> envp;
        for (auto& e : env)
            envp.push_back(e.data());
        envp.push_back(nullptr);
        m_pid = fork();
        if (m_pid == 0) {
            const int null = open("/dev/null", O_RDONLY);
            dup2(null, 0);
            dup2(out[1], 1);
            dup2(err[1], 2);
            execve(argv[0], argv.data(), envp.data());
            _exit(127);
        }
        close(out[1]);
        close(err[1]);
        m_out = out[0];
        m_err = err[0];
        if (m_pid < 0)
            m_pid = 0;  // no process: nothing to signal or wait for (never -1, which means all)
        fcntl(m_err, F_SETFL, O_NONBLOCK);
    }
    ~CtlProcess()
    {
        if (m_pid > 0 && m_status < 0) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
        close(m_out);
        close(m_err);
    }
    // The next line of standard output, or nothing when none comes within ms.
    std::optional<std::string> ReadLine(int ms = 5000)
    {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        for (;;) {
            if (const auto nl = m_buf.find('\n'); nl != std::string::npos) {
                std::string line = m_buf.substr(0, nl);
                m_buf.erase(0, nl + 1);
                return line;
            }
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
            pollfd p{m_out, POLLIN, 0};
            if (left.count() <= 0 || poll(&p, 1, int(left.count())) <= 0)
                return std::nullopt;
            char chunk[4096];
            const ssize_t n = read(m_out, chunk, sizeof chunk);
            if (n <= 0)
                return std::nullopt;
            m_buf.append(chunk, std::size_t(n));
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
        if (m_pid > 0)
            kill(m_pid, sig);
    }
    // The exit status, or -1 when the program has not ended within ms.
    int Wait(int ms = 5000)
    {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (m_pid > 0 && m_status < 0 && std::chrono::steady_clock::now() < until) {
            int status = 0;
            if (waitpid(m_pid, &status, WNOHANG) == m_pid)
                m_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            else
                poll(nullptr, 0, 10);
        }
        return m_status;
    }
    std::string Err()
    {
        char chunk[4096];
        for (ssize_t n; (n = read(m_err, chunk, sizeof chunk)) > 0;)
            m_errText.append(chunk, std::size_t(n));
        return m_errText;
    }

private:
    pid_t m_pid = -1;
    int m_out = -1, m_err = -1;
    int m_status = -1;
    std::string m_buf, m_errText;
};

}  // namespace corvane::test
