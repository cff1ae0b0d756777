// The emulator as a child process, with its own port directory.
#pragma once

#include <string>
#include <vector>

#include <QTemporaryDir>

namespace corvane::test {

class CSimProcess {
public:
    // Starts corvane-sim with args (plus --quiet) and waits for the line that tells where it
    // is reachable. Check Ok() afterwards.
    explicit CSimProcess(std::vector<std::string> args);
    ~CSimProcess();  // SIGTERM, then waits

    bool Ok() const { return m_pid > 0 && !m_ready.empty(); }
    const std::string& ReadyLine() const { return m_ready; }
    std::string PortDir() const { return m_dir.path().toStdString() + "/ports"; }
    std::string Root() const { return m_dir.path().toStdString(); }
    void Terminate();

private:
    QTemporaryDir m_dir;
    int m_pid = -1;
    int m_out = -1;
    std::string m_ready;
};

}  // namespace corvane::test
