#include "tests/e2e/sim_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>

namespace corvane::test {

CSimProcess::CSimProcess(std::vector<std::string> args)
{
    const std::string ports = PortDir();
    std::filesystem::create_directories(ports);
    std::filesystem::create_directories(Root() + "/dev");
    std::filesystem::create_directories(Root() + "/sys");
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0)
        return;
    args.insert(args.begin(), CORVANE_SIM_PATH);
    args.push_back("--quiet");
    m_pid = fork();
    if (m_pid == 0) {
        dup2(pipeFds[1], STDOUT_FILENO);
        setenv("CORVANE_PORT_DIR", ports.c_str(), 1);
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(pipeFds[1]);
    m_out = pipeFds[0];
    // The first line tells where the switcher is reachable.
    std::string line;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd p{m_out, POLLIN, 0};
        if (poll(&p, 1, 100) <= 0)
            continue;
        char c;
        if (read(m_out, &c, 1) != 1)
            break;
        if (c == '\n') {
            m_ready = line;
            break;
        }
        line.push_back(c);
    }
}

void CSimProcess::Terminate()
{
    if (m_pid <= 0)
        return;
    kill(m_pid, SIGTERM);
    int status = 0;
    waitpid(m_pid, &status, 0);
    m_pid = -1;
}

CSimProcess::~CSimProcess()
{
    Terminate();
    if (m_out >= 0)
        close(m_out);
}

}  // namespace corvane::test
