#include "sim/transports.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/port_lock.h"
#include "transport/port_dir.h"

namespace corvane::sim {
namespace {

std::string Errno(const std::string& what) { return what + ": " + std::strerror(errno); }

bool MakeDirs(const std::string& path)
{
    std::string sofar;
    std::size_t start = 0;
    while (start <= path.size()) {
        const auto slash = path.find('/', start);
        sofar = path.substr(0, slash);
        if (!sofar.empty() && mkdir(sofar.c_str(), 0700) != 0 && errno != EEXIST)
            return false;
        if (slash == std::string::npos)
            break;
        start = slash + 1;
    }
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string ReadLink(const std::string& path)
{
    char buf[512];
    const ssize_t n = readlink(path.c_str(), buf, sizeof buf - 1);
    if (n < 0)
        return {};
    return std::string(buf, static_cast<std::size_t>(n));
}

// An alias whose target is gone was left by an emulator that did not end cleanly.
bool IsStaleAlias(const std::string& path)
{
    struct stat lst {};
    struct stat st {};
    return lstat(path.c_str(), &lst) == 0 && S_ISLNK(lst.st_mode) && stat(path.c_str(), &st) != 0;
}

bool SetNonBlocking(int fd) { return fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK) == 0; }

bool ResolveHost(const std::string& host, uint16_t port, sockaddr_in& a)
{
    a = {};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    return inet_pton(AF_INET, host.c_str(), &a.sin_addr) == 1;
}

// A socket bound to host:port with a shared address; port 0 picks a free one, and port
// receives the port actually bound.
CFd BoundSocket(int type, const char* what, const std::string& host, uint16_t& port, std::string& error)
{
    sockaddr_in a;
    if (!ResolveHost(host, port, a))
        return error = "bad address " + host, CFd();
    CFd fd(socket(AF_INET, type | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!fd.Valid())
        return error = Errno("socket"), CFd();
    const int one = 1;
    setsockopt(fd.Get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (bind(fd.Get(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
        return error = Errno(std::string(what) + " bind " + host + ":" + std::to_string(port)), CFd();
    socklen_t len = sizeof a;
    if (getsockname(fd.Get(), reinterpret_cast<sockaddr*>(&a), &len) != 0)
        return error = Errno("getsockname"), CFd();
    port = ntohs(a.sin_port);
    return fd;
}

}  // namespace

void CFd::Reset(int fd)
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = fd;
}

CPtyPort::~CPtyPort() { Close(); }

bool CPtyPort::OpenPair(std::string& error)
{
    CFd master(posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!master.Valid())
        return error = Errno("posix_openpt"), false;
    if (grantpt(master.Get()) != 0 || unlockpt(master.Get()) != 0)
        return error = Errno("unlockpt"), false;
    char name[128];
    if (ptsname_r(master.Get(), name, sizeof name) != 0)
        return error = Errno("ptsname"), false;
    CFd slave(::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK));
    if (!slave.Valid())
        return error = Errno(std::string("open ") + name), false;
    // Turn off all fancy termios tricks, give us a raw channel.
    termios t{};
    if (tcgetattr(slave.Get(), &t) != 0)
        return error = Errno("tcgetattr"), false;
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    if (tcsetattr(slave.Get(), TCSANOW, &t) != 0)
        return error = Errno("tcsetattr"), false;
    if (!SetNonBlocking(master.Get()))
        return error = Errno("fcntl"), false;
    m_master = std::move(master);
    m_slave = std::move(slave);
    m_slavePath = name;
    return true;
}

bool CPtyPort::Open(int comNumber, int firstFree, std::string& error)
{
    if (!OpenPair(error))
        return false;
    const SPortDir portDir = ResolvePortDir();
    if (portDir.path.empty())
        return error = portDir.error, false;
    const std::string& dir = portDir.path;
    if (!MakeDirs(dir))
        return error = Errno("port directory " + dir), false;

    // The number is ours while we hold the lock beside its link. A link whose lock was left
    // unheld, or whose target is gone, is a killed emulator's: it is replaced.
    auto tryAlias = [&](int n) {
        const std::string path = dir + "/com" + std::to_string(n);
        const bool left = PortLockLeft(path);
        const bool lockExisted = access(PortLockPath(path).c_str(), F_OK) == 0;
        CFd lock(TakePortLock(path));
        if (!lock.Valid()) {
            errno = EBUSY;
            return false;
        }
        for (int attempt = 0; attempt < 2; ++attempt) {
            if (symlink(m_slavePath.c_str(), path.c_str()) == 0) {
                m_aliasPath = path;
                m_lock = std::move(lock);
                m_com = n;
                return true;
            }
            if (errno != EEXIST || !(left || IsStaleAlias(path)))
                break;
            unlink(path.c_str());
        }
        const int why = errno;
        if (!lockExisted)
            unlink(PortLockPath(path).c_str());
        errno = why;
        return false;
    };
    if (comNumber > 0) {
        if (tryAlias(comNumber))
            return true;
        const std::string link = dir + "/com" + std::to_string(comNumber);
        error = errno == EBUSY    ? link + ": in use by another emulator"
                : errno == EEXIST ? link + ": already there, and not an emulator's: remove it or choose another number"
                                  : Errno(link);
        return false;
    }
    for (int n = firstFree; n <= 255; ++n)
        if (tryAlias(n))
            return true;
    error = "no free port alias from com" + std::to_string(firstFree) + " in " + dir;
    return false;
}

bool CPtyPort::HangUpAndReopen(std::string& error)
{
    m_slave.Reset();
    m_master.Reset();
    if (!OpenPair(error))
        return false;
    // Point the alias at the new slave in one step.
    const std::string tmp = m_aliasPath + ".new" + std::to_string(getpid());
    unlink(tmp.c_str());
    if (symlink(m_slavePath.c_str(), tmp.c_str()) != 0 || rename(tmp.c_str(), m_aliasPath.c_str()) != 0) {
        unlink(tmp.c_str());
        return error = Errno("alias " + m_aliasPath), false;
    }
    return true;
}

void CPtyPort::RemoveAlias()
{
    // Only our own alias: another emulator may have taken the number since.
    if (!m_aliasPath.empty() && ReadLink(m_aliasPath) == m_slavePath)
        unlink(m_aliasPath.c_str());
    if (m_lock.Valid())
        unlink(PortLockPath(m_aliasPath).c_str());
    m_lock.Reset();
    m_aliasPath.clear();
}

void CPtyPort::Close()
{
    RemoveAlias();
    m_slave.Reset();
    m_master.Reset();
}

CFd ListenTcp(const std::string& host, uint16_t& port, std::string& error)
{
    CFd fd = BoundSocket(SOCK_STREAM, "tcp", host, port, error);
    if (fd.Valid() && listen(fd.Get(), 8) != 0)
        return error = Errno("listen"), CFd();
    return fd;
}

CFd BindUdp(const std::string& host, uint16_t& port, std::string& error)
{
    return BoundSocket(SOCK_DGRAM, "udp", host, port, error);
}

uint64_t PackPeer(const sockaddr_in& a)
{
    return (static_cast<uint64_t>(ntohl(a.sin_addr.s_addr)) << 16) | ntohs(a.sin_port);
}

sockaddr_in UnpackPeer(uint64_t peer)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(static_cast<uint32_t>(peer >> 16));
    a.sin_port = htons(static_cast<uint16_t>(peer & 0xFFFF));
    return a;
}

std::string PeerText(uint64_t peer)
{
    const sockaddr_in a = UnpackPeer(peer);
    char buf[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &a.sin_addr, buf, sizeof buf);
    return std::string(buf) + ":" + std::to_string(ntohs(a.sin_port));
}

}  // namespace corvane::sim
