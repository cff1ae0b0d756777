// The emulator's links: a pseudo-terminal published as a port alias, TCP and UDP sockets.
// Plain POSIX; every descriptor is owned by an RAII wrapper.
#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <string>

namespace corvane::sim {

class CFd {
public:
    CFd() = default;
    explicit CFd(int fd) : m_fd(fd) {}
    ~CFd() { Reset(); }
    CFd(CFd&& o) noexcept : m_fd(o.Release()) {}
    CFd& operator=(CFd&& o) noexcept
    {
        if (this != &o)
            Reset(o.Release());
        return *this;
    }
    CFd(const CFd&) = delete;
    CFd& operator=(const CFd&) = delete;

    int Get() const { return m_fd; }
    bool Valid() const { return m_fd >= 0; }
    int Release()
    {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }
    void Reset(int fd = -1);

private:
    int m_fd = -1;
};

// A pseudo-terminal in raw mode whose slave is published as "comN" in the port directory. The
// emulator keeps a slave descriptor of its own open, so the master stays usable while the
// panel closes and reopens the port.
class CPtyPort {
public:
    ~CPtyPort();
    // comNumber 0: the first free number from firstFree. Returns false with error set.
    bool Open(int comNumber, int firstFree, std::string& error);
    // Closes the pair (the panel sees the link lost) and publishes a fresh one under the alias.
    bool HangUpAndReopen(std::string& error);
    void Close();

    int MasterFd() const { return m_master.Get(); }
    int ComNumber() const { return m_com; }
    const std::string& SlavePath() const { return m_slavePath; }

private:
    bool OpenPair(std::string& error);
    void RemoveAlias();

    CFd m_master;
    CFd m_slave;
    std::string m_slavePath;
    std::string m_aliasPath;
    CFd m_lock;  // the lock beside the alias, held while the alias is ours
    int m_com = 0;
};

// Listening TCP socket; port 0 picks a free one, the actual port is returned in port.
CFd ListenTcp(const std::string& host, uint16_t& port, std::string& error);
// UDP socket bound to host:port (shared address, so a panel on the same machine may bind it too).
CFd BindUdp(const std::string& host, uint16_t& port, std::string& error);

// A datagram peer packed into 48 bits: IPv4 address and port, both in host order.
uint64_t PackPeer(const sockaddr_in& a);
sockaddr_in UnpackPeer(uint64_t peer);
std::string PeerText(uint64_t peer);

}  // namespace corvane::sim
