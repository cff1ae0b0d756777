// Network namespaces for tests: the `ip` tool, programs run without a shell, namespaces made
// and removed again, and the test's thread moved into one. Needs root; a test says why it skips
// where namespaces cannot be made.
#pragma once

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace corvane::test {

inline std::string IpTool()
{
    for (const char* p : {"/usr/sbin/ip", "/sbin/ip", "/usr/bin/ip", "/bin/ip"})
        if (access(p, X_OK) == 0)
            return p;
    return {};
}

// Runs a program without a shell; its exit status (-1 when it could not run) and everything it
// printed on stdout and stderr.
struct RunResult {
    int status = -1;
    std::string output;
};
inline RunResult RunProgram(const std::vector<std::string>& words)
{
    RunResult r;
    int out[2];
    if (words.empty() || pipe2(out, O_CLOEXEC) != 0)
        return r;
    std::vector<std::string> copy = words;
    std::vector<char*> argv;
    for (auto& w : copy)
        argv.push_back(w.data());
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], 1);
        dup2(out[1], 2);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(out[1]);
    if (pid < 0) {
        close(out[0]);
        return r;
    }
    char chunk[1024];
    for (ssize_t n; (n = read(out[0], chunk, sizeof chunk)) > 0;)
        r.output.append(chunk, static_cast<std::size_t>(n));
    close(out[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return r;
}

// Named network namespaces, removed again when this goes (also when a test fails half-way).
// The names carry the test process's id; ones a crashed earlier run left behind are removed
// before new ones are made.
class CNamespaces {
public:
    explicit CNamespaces(std::string ip) : m_ip(std::move(ip)) { RemoveStale(); }
    ~CNamespaces()
    {
        for (auto it = m_names.rbegin(); it != m_names.rend(); ++it)
            RunProgram({m_ip, "netns", "delete", *it});
    }
    static std::string Prefix() { return "corvane-e2e-"; }
    // "corvane-e2e-<pid>-<role>"; "" (and why in error) when it cannot be made.
    std::string Add(const std::string& role, std::string& error)
    {
        const std::string name = Prefix() + std::to_string(getpid()) + "-" + role;
        const RunResult r = RunProgram({m_ip, "netns", "add", name});
        if (r.status != 0) {
            error = "ip netns add " + name + ": " + (r.output.empty() ? "exit " + std::to_string(r.status) : r.output);
            return {};
        }
        m_names.push_back(name);
        return name;
    }

private:
    void RemoveStale()
    {
        std::istringstream list(RunProgram({m_ip, "netns", "list"}).output);
        for (std::string line; std::getline(list, line);) {
            const std::string name = line.substr(0, line.find(' '));
            std::smatch m;
            if (!std::regex_match(name, m, std::regex(Prefix() + "(\\d+)-\\w+")))
                continue;
            const pid_t owner = static_cast<pid_t>(std::stol(m[1].str()));
            if (owner != getpid() && kill(owner, 0) != 0 && errno == ESRCH)
                RunProgram({m_ip, "netns", "delete", name});
        }
    }

    std::string m_ip;
    std::vector<std::string> m_names;
};

// This thread in another network namespace until this goes: sockets made meanwhile live there.
class CInNamespace {
public:
    explicit CInNamespace(const std::string& name)
    {
        m_home = open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
        const int target = open(("/run/netns/" + name).c_str(), O_RDONLY | O_CLOEXEC);
        if (m_home >= 0 && target >= 0 && setns(target, CLONE_NEWNET) == 0)
            m_entered = true;
        else
            error = std::strerror(errno);
        if (target >= 0)
            close(target);
    }
    ~CInNamespace()
    {
        if (m_entered) {
            EXPECT_EQ(setns(m_home, CLONE_NEWNET), 0) << "back to the test's own network namespace";
        }
        if (m_home >= 0)
            close(m_home);
    }
    bool Entered() const { return m_entered; }
    std::string error;

private:
    int m_home = -1;
    bool m_entered = false;
};

}  // namespace corvane::test
