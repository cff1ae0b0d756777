// Serial device nodes on Linux: COM numbers, the port directory with its comN aliases, the
// kernel console, lock files and the exclusive open shared by the link and the port list.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "transport/port_dir.h"

namespace corvane {

// Where ports are looked up. Every root is injectable so tests can use a fake tree.
struct SPortPaths {
    std::string portDir;                 // comN aliases
    std::string devRoot = "/dev";        // device nodes of the numbering table
    std::string sysRoot = "/sys";        // sysfs (class/tty/*/device)
    std::string consoles = "/proc/consoles";
    std::vector<std::string> lockDirs = {"/run/lock", "/var/lock"};
};

// The port directory of platform/port_dir.h and the machine's own roots.
SPortPaths DefaultPortPaths();

// A node family of the numbering table: COM(base + i) is <prefix>i for i below count.
struct SNodeFamily {
    std::string_view prefix;
    unsigned base;
    unsigned count;
};
const std::vector<SNodeFamily>& PortNodeFamilies();

// "ttyUSB3" -> 36; 0 when the name is not in the table.
unsigned ComNumberForNodeName(std::string_view name);
// 36 -> "ttyUSB3"; empty when the number has no table node.
std::string NodeNameForComNumber(unsigned n);

// The path COMn is opened by: the alias <portDir>/comN when it resolves to an existing file,
// else the table's node under devRoot; empty when neither applies.
std::string DevicePathForCom(unsigned n, const SPortPaths& paths);

// The resolved node of a path ("/dev/pts/3" for an alias pointing at it); empty if none.
std::string ResolveNode(const std::string& path);

// What keeps a port from being opened although it exists: the kernel console (matched by
// device number, or by name under devRoot or /dev) and live LCK..<name> files. Reads
// /proc/consoles and the lock directories once, so one listing checks every port cheaply.
class CPortChecks {
public:
    explicit CPortChecks(const SPortPaths& paths);
    // `real` is ResolveNode(path), passed in by callers that have it already.
    bool IsConsole(const std::string& path, const std::string& real) const;
    bool IsLocked(const std::string& path, const std::string& real) const;

private:
    struct SConsole {
        std::string name;
        bool hasDevice = false;
        unsigned major = 0, minor = 0;
    };
    std::string m_devRoot;
    std::vector<SConsole> m_consoles;
    std::vector<std::pair<std::string, std::string>> m_lockFiles;  // directory, LCK.. name
};

// Why an exclusive open failed.
enum class EOpenFailure { None, Missing, Console, Held, NotSerial, OsError };

// An exclusively opened port: O_RDWR|O_NOCTTY|O_NONBLOCK|O_CLOEXEC, flock(LOCK_EX|LOCK_NB)
// and TIOCEXCL. Closing clears TIOCEXCL first; the flock goes with the descriptor.
class CPortHandle {
public:
    CPortHandle() = default;
    ~CPortHandle() { Close(); }
    CPortHandle(CPortHandle&& other) noexcept : m_fd(other.m_fd) { other.m_fd = -1; }
    CPortHandle& operator=(CPortHandle&& other) noexcept;
    CPortHandle(const CPortHandle&) = delete;
    CPortHandle& operator=(const CPortHandle&) = delete;

    struct SResult;
    // requireUart: refuse a node whose TIOCGSERIAL type is PORT_UNKNOWN (ttyS without a UART).
    static SResult Open(const std::string& path, const SPortPaths& paths, bool requireUart);
    static SResult Open(const std::string& path, const std::string& real, const CPortChecks& checks,
                        bool requireUart);

    int Fd() const { return m_fd; }
    bool IsOpen() const { return m_fd >= 0; }
    void Close();

private:
    explicit CPortHandle(int fd) : m_fd(fd) {}
    int m_fd = -1;
};

struct CPortHandle::SResult {
    CPortHandle handle;
    EOpenFailure failure = EOpenFailure::None;
    int error = 0;  // errno of an OsError
};

// Test open of the port list: exclusive open, HUPCL cleared so the close does not drop DTR,
// modem lines left alone. True when the port could be held; otherwise failure, when given,
// says why (and its error the errno of an OsError).
bool ProbePort(const std::string& path, const std::string& real, const CPortChecks& checks, bool requireUart,
               CPortHandle::SResult* failure = nullptr);

// "strerror" text of an errno value.
std::string ErrorText(int error);

}  // namespace corvane
