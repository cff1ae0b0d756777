#include "transport/serial_device.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits>
#include <sstream>

namespace corvane {

SPortPaths DefaultPortPaths()
{
    SPortPaths p;
    p.portDir = DefaultPortDir();
    return p;
}

const std::vector<SNodeFamily>& PortNodeFamilies()
{
    static const std::vector<SNodeFamily> families = {
        {"ttyS", 1, 32}, {"ttyUSB", 33, 64}, {"ttyACM", 97, 64}, {"ttyAMA", 161, 16}, {"rfcomm", 177, 16},
    };
    return families;
}

unsigned ComNumberForNodeName(std::string_view name)
{
    for (const SNodeFamily& f : PortNodeFamilies()) {
        if (name.size() <= f.prefix.size() || name.substr(0, f.prefix.size()) != f.prefix)
            continue;
        std::string_view digits = name.substr(f.prefix.size());
        if (digits.size() > 2 || (digits.size() > 1 && digits[0] == '0'))
            continue;
        unsigned index = 0;
        bool ok = true;
        for (char c : digits) {
            if (c < '0' || c > '9') {
                ok = false;
                break;
            }
            index = index * 10 + unsigned(c - '0');
        }
        if (ok && index < f.count)
            return f.base + index;
    }
    return 0;
}

std::string NodeNameForComNumber(unsigned n)
{
    for (const SNodeFamily& f : PortNodeFamilies())
        if (n >= f.base && n < f.base + f.count)
            return std::string(f.prefix) + std::to_string(n - f.base);
    return {};
}

std::string DevicePathForCom(unsigned n, const SPortPaths& paths)
{
    if (n < 1 || n > 255)
        return {};
    // A dangling alias hides nothing, exactly as in the port list: the number then opens the
    // table's node, the one the list offered.
    if (!paths.portDir.empty()) {
        std::string alias = paths.portDir + "/com" + std::to_string(n);
        if (!ResolveNode(alias).empty())
            return alias;
    }
    std::string node = NodeNameForComNumber(n);
    return node.empty() ? std::string() : paths.devRoot + "/" + node;
}

namespace {

// The name of a path below a root ("ttyUSB0", "pts/3"); empty when it is not below it.
std::string NodeNameBelow(const std::string& path, const std::string& root)
{
    std::string prefix = root;
    if (prefix.empty() || prefix.back() != '/')
        prefix += '/';
    if (path.compare(0, prefix.size(), prefix) == 0)
        return path.substr(prefix.size());
    return {};
}

// A lock file is live when it names a process that exists. Text ("  1234\n") and the old
// binary form (a 4-byte pid) are both found in the wild; an unreadable one counts as live.
bool LockFileIsLive(const std::string& file)
{
    std::ifstream in(file, std::ios::binary);
    if (!in)
        return false;
    std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    long pid = 0;
    if (content.size() == 4 && (content[3] == 0 || content[0] == 0)) {
        int32_t raw = 0;
        std::memcpy(&raw, content.data(), 4);
        pid = raw;
    } else {
        char* end = nullptr;
        pid = std::strtol(content.c_str(), &end, 10);
        if (end == content.c_str())
            return true;
    }
    if (pid <= 0)
        return true;
    // A number no process can have is a stale lock; narrowed, it could name a live one.
    if (pid > std::numeric_limits<pid_t>::max())
        return false;
    return kill(pid_t(pid), 0) == 0 || errno == EPERM;
}

}  // namespace

std::string ResolveNode(const std::string& path)
{
    char buf[PATH_MAX];
    return realpath(path.c_str(), buf) ? std::string(buf) : std::string();
}

CPortChecks::CPortChecks(const SPortPaths& paths) : m_devRoot(paths.devRoot)
{
    std::ifstream in(paths.consoles);
    std::string line;
    while (std::getline(in, line)) {
        SConsole c;
        std::istringstream(line) >> c.name;
        if (c.name.empty())
            continue;
        // The device number closes the line: "ttyS0 -W- (EC p a) 4:64".
        const auto colon = line.rfind(':');
        const auto blank = colon == std::string::npos ? std::string::npos : line.find_last_of(" \t", colon);
        if (blank != std::string::npos) {
            char* end = nullptr;
            c.major = unsigned(std::strtoul(line.c_str() + blank + 1, &end, 10));
            const bool majorOk = end == line.c_str() + colon && end != line.c_str() + blank + 1;
            c.minor = unsigned(std::strtoul(line.c_str() + colon + 1, &end, 10));
            c.hasDevice = majorOk && end != line.c_str() + colon + 1;
        }
        m_consoles.push_back(std::move(c));
    }
    for (const std::string& dir : paths.lockDirs) {
        DIR* d = opendir(dir.c_str());
        if (!d)
            continue;
        while (dirent* e = readdir(d))
            if (std::strncmp(e->d_name, "LCK..", 5) == 0)
                m_lockFiles.emplace_back(dir, e->d_name);
        closedir(d);
    }
}

bool CPortChecks::IsConsole(const std::string& path, const std::string& real) const
{
    if (m_consoles.empty())
        return false;
    struct stat st {};
    const bool haveDev = stat(path.c_str(), &st) == 0 && S_ISCHR(st.st_mode);
    const std::string byRoot = NodeNameBelow(path, m_devRoot);
    const std::string byDev = NodeNameBelow(real, "/dev");
    for (const SConsole& c : m_consoles) {
        if ((!byRoot.empty() && c.name == byRoot) || (!byDev.empty() && c.name == byDev))
            return true;
        if (haveDev && c.hasDevice && c.major == major(st.st_rdev) && c.minor == minor(st.st_rdev))
            return true;
    }
    return false;
}

bool CPortChecks::IsLocked(const std::string& path, const std::string& real) const
{
    if (m_lockFiles.empty())
        return false;
    auto lockName = [](std::string name) {
        for (char& c : name)
            if (c == '/')
                c = '_';
        return name.empty() ? name : "LCK.." + name;
    };
    const std::string names[2] = {lockName(NodeNameBelow(path, m_devRoot)), lockName(NodeNameBelow(real, "/dev"))};
    for (const auto& [dir, file] : m_lockFiles)
        for (const std::string& name : names)
            if (!name.empty() && file == name && LockFileIsLive(dir + "/" + file))
                return true;
    return false;
}

std::string ErrorText(int error) { return std::strerror(error); }

CPortHandle& CPortHandle::operator=(CPortHandle&& other) noexcept
{
    if (this != &other) {
        Close();
        m_fd = other.m_fd;
        other.m_fd = -1;
    }
    return *this;
}

void CPortHandle::Close()
{
    if (m_fd < 0)
        return;
    ioctl(m_fd, TIOCNXCL);
    close(m_fd);
    m_fd = -1;
}

CPortHandle::SResult CPortHandle::Open(const std::string& path, const SPortPaths& paths, bool requireUart)
{
    return Open(path, ResolveNode(path), CPortChecks(paths), requireUart);
}

CPortHandle::SResult CPortHandle::Open(const std::string& path, const std::string& real, const CPortChecks& checks,
                                       bool requireUart)
{
    SResult r;
    if (path.empty() || real.empty()) {
        r.failure = EOpenFailure::Missing;
        return r;
    }
    // Checked before any open: opening a console would already disturb it.
    if (checks.IsConsole(path, real)) {
        r.failure = EOpenFailure::Console;
        return r;
    }
    if (checks.IsLocked(path, real)) {
        r.failure = EOpenFailure::Held;
        return r;
    }
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        r.error = errno;
        r.failure = (errno == ENOENT || errno == ENXIO || errno == ENODEV) ? EOpenFailure::Missing
                    : errno == EBUSY                                        ? EOpenFailure::Held
                                                                            : EOpenFailure::OsError;
        return r;
    }
    if (!isatty(fd)) {
        close(fd);
        r.failure = EOpenFailure::NotSerial;
        return r;
    }
    // TIOCEXCL does not stop root, so a port another program made exclusive is asked about.
    int exclusive = 0;
    if (ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive) {
        close(fd);
        r.failure = EOpenFailure::Held;
        return r;
    }
    // flock works per open file description: a second open in this process is refused too.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        r.error = errno;
        close(fd);
        r.failure = r.error == EWOULDBLOCK ? EOpenFailure::Held : EOpenFailure::OsError;
        return r;
    }
    if (requireUart) {
        serial_struct info {};
        if (ioctl(fd, TIOCGSERIAL, &info) != 0 || info.type == PORT_UNKNOWN) {
            close(fd);
            r.failure = EOpenFailure::NotSerial;
            return r;
        }
    }
    ioctl(fd, TIOCEXCL);
    r.handle = CPortHandle(fd);
    return r;
}

bool ProbePort(const std::string& path, const std::string& real, const CPortChecks& checks, bool requireUart,
               CPortHandle::SResult* failure)
{
    CPortHandle::SResult r = CPortHandle::Open(path, real, checks, requireUart);
    if (failure) {
        failure->failure = r.failure;
        failure->error = r.error;
    }
    if (!r.handle.IsOpen())
        return false;
    termios tio {};
    if (tcgetattr(r.handle.Fd(), &tio) == 0 && (tio.c_cflag & HUPCL)) {
        tio.c_cflag &= ~tcflag_t(HUPCL);
        tcsetattr(r.handle.Fd(), TCSANOW, &tio);
    }
    return true;
}

}  // namespace corvane
