#include "transport/socket_network.h"

#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <functional>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <set>
#include <sys/socket.h>
#include <unistd.h>

#include "core/link/network.h"

namespace corvane {

namespace {

// The socket goes silent at once; its notifiers are deleted when control is back in the event
// loop, since the one that called may still be on the stack.
void Retire(detail::SWatchedSocket& s)
{
    for (QSocketNotifier* n : {s.read, s.write}) {
        if (!n)
            continue;
        n->setEnabled(false);
        QObject::disconnect(n, nullptr, nullptr, nullptr);
        n->deleteLater();
    }
    if (s.fd >= 0)
        close(s.fd);
    s = {};
}

QSocketNotifier* Watch(int fd, QSocketNotifier::Type type, QObject* context, std::function<void()> call)
{
    auto* n = new QSocketNotifier(fd, type);
    QObject::connect(n, &QSocketNotifier::activated, context, std::move(call));
    return n;
}

// As the system says it, first letter upper-case ("Connection refused").
std::string ErrorText(int error) { return std::strerror(error); }

sockaddr_in Address(uint32_t ipv4, uint16_t port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(ipv4);
    a.sin_port = htons(port);
    return a;
}

}  // namespace

// ---- TCP -------------------------------------------------------------------------------------

CSocketTcpControl::CSocketTcpControl() = default;
CSocketTcpControl::~CSocketTcpControl() { Retire(m_socket); }

void CSocketTcpControl::Connect(uint32_t ipv4, uint16_t port)
{
    Close();
    m_lastError.clear();
    const unsigned generation = ++m_generation;
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    const sockaddr_in to = Address(ipv4, port);
    if (fd < 0 || (connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0 && errno != EINPROGRESS)) {
        const int error = errno;
        if (fd >= 0)
            close(fd);
        // The outcome comes from the event loop, as that of a connect under way does.
        QTimer::singleShot(0, &m_context, [this, generation, error] {
            if (generation == m_generation)
                Failed(error);
        });
        return;
    }
    m_socket.fd = fd;
    m_socket.write = Watch(fd, QSocketNotifier::Write, &m_context, [this] { OnWritable(); });
}

void CSocketTcpControl::Close()
{
    ++m_generation;
    m_connected = false;
    m_pending.clear();
    Retire(m_socket);
}

void CSocketTcpControl::Failed(int error)
{
    m_lastError = ErrorText(error);
    Close();
    if (onConnected)
        onConnected(false);
}

void CSocketTcpControl::Lost()
{
    if (!m_connected)
        return;
    Close();
    if (onClosed)
        onClosed();
}

void CSocketTcpControl::OnWritable()
{
    if (m_connected) {
        Flush();
        return;
    }
    int error = 0;
    socklen_t len = sizeof error;
    if (getsockopt(m_socket.fd, SOL_SOCKET, SO_ERROR, &error, &len) != 0)
        error = errno;
    if (error != 0) {
        Failed(error);
        return;
    }
    m_connected = true;
    m_socket.write->setEnabled(false);
    m_socket.read = Watch(m_socket.fd, QSocketNotifier::Read, &m_context, [this] { OnReadable(); });
    if (onConnected)
        onConnected(true);
}

void CSocketTcpControl::Write(std::span<const uint8_t> bytes)
{
    if (!m_connected)
        return;
    m_pending.insert(m_pending.end(), bytes.begin(), bytes.end());
    Flush();
}

void CSocketTcpControl::Flush()
{
    std::size_t sent = 0;
    while (sent < m_pending.size()) {
        const ssize_t n = send(m_socket.fd, m_pending.data() + sent, m_pending.size() - sent, MSG_NOSIGNAL);
        if (n > 0) {
            sent += std::size_t(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            break;  // full for now (the write notifier says when it takes more), or broken: the read side tells
        }
    }
    m_pending.erase(m_pending.begin(), m_pending.begin() + std::ptrdiff_t(sent));
    if (m_socket.write)
        m_socket.write->setEnabled(!m_pending.empty());
}

void CSocketTcpControl::OnReadable()
{
    const unsigned generation = m_generation;
    uint8_t chunk[1024];
    while (generation == m_generation) {
        const ssize_t n = recv(m_socket.fd, chunk, sizeof chunk, 0);
        if (n > 0) {
            if (onRead)
                onRead(std::span<const uint8_t>(chunk, std::size_t(n)));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return;
        Lost();  // the peer closed the link or reset it
        return;
    }
}

// ---- UDP -------------------------------------------------------------------------------------

CSocketDatagrams::CSocketDatagrams() = default;
CSocketDatagrams::~CSocketDatagrams() { Retire(m_socket); }

bool CSocketDatagrams::Bind(uint16_t localPort)
{
    Close();
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    const int on = 1;
    const sockaddr_in local = Address(INADDR_ANY, localPort);
    if (fd < 0 || setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0 ||
        bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        const int error = errno;
        if (fd >= 0)
            close(fd);
        qWarning("corvane: binding UDP port %u failed: %s", unsigned(localPort), ErrorText(error).c_str());
        return false;
    }
    m_socket.fd = fd;
    m_socket.read = Watch(fd, QSocketNotifier::Read, &m_context, [this] { OnReadable(); });
    return true;
}

void CSocketDatagrams::Close()
{
    ++m_generation;
    Retire(m_socket);
}

void CSocketDatagrams::Broadcast(std::span<const uint8_t> bytes, uint16_t port)
{
    m_lastInterfaces = 0;
    if (m_socket.fd < 0)
        return;
    if (m_target) {
        const sockaddr_in to = Address(m_target, port);
        sendto(m_socket.fd, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
        return;
    }
    const sockaddr_in to = Address(INADDR_BROADCAST, port);
    // Linux sends a limited broadcast out of the route's interface only; a switcher with a
    // foreign or factory address hears it only on its own segment, so every segment gets one:
    // each interface that is up, can broadcast, is no loopback and has an IPv4 address.
    ifaddrs* all = nullptr;
    if (getifaddrs(&all) == 0) {
        std::set<unsigned> done;
        for (const ifaddrs* i = all; i; i = i->ifa_next) {
            const unsigned flags = i->ifa_flags;
            if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET || !(flags & IFF_UP) || !(flags & IFF_BROADCAST) ||
                (flags & IFF_LOOPBACK))
                continue;
            const unsigned index = if_nametoindex(i->ifa_name);
            if (index == 0 || !done.insert(index).second)
                continue;
            iovec data{const_cast<uint8_t*>(bytes.data()), bytes.size()};
            alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
            msghdr m{};
            m.msg_name = const_cast<sockaddr_in*>(&to);
            m.msg_namelen = sizeof to;
            m.msg_iov = &data;
            m.msg_iovlen = 1;
            m.msg_control = control;
            m.msg_controllen = sizeof control;
            cmsghdr* c = CMSG_FIRSTHDR(&m);
            c->cmsg_level = IPPROTO_IP;
            c->cmsg_type = IP_PKTINFO;
            c->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
            in_pktinfo info{};
            info.ipi_ifindex = int(index);
            std::memcpy(CMSG_DATA(c), &info, sizeof info);
            sendmsg(m_socket.fd, &m, 0);
            ++m_lastInterfaces;
        }
        freeifaddrs(all);
    }
    if (m_lastInterfaces == 0)
        sendto(m_socket.fd, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
}

void CSocketDatagrams::OnReadable()
{
    const unsigned generation = m_generation;
    // Handling a datagram may close or replace the socket: reading stops then. A longer
    // datagram is cut to the longest the protocol has.
    uint8_t datagram[kDatagramMax];
    while (generation == m_generation) {
        const ssize_t n = recv(m_socket.fd, datagram, sizeof datagram, MSG_TRUNC);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return;
        if (onDatagram)
            onDatagram(std::span<const uint8_t>(datagram, std::min(std::size_t(n), sizeof datagram)));
    }
}

}  // namespace corvane
