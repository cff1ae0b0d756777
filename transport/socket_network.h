// The TCP control socket and the UDP socket of the programs without windows (corvanectl, the
// MQTT bridge) on the system's sockets, watched by the Qt Core event loop: a program that only
// talks over a serial port loads no network library at all. Callbacks run on the thread of the
// event loop; a socket may be closed or replaced from inside its own callback.
#pragma once

#include <QObject>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/link/net_link.h"

class QSocketNotifier;

namespace corvane {

namespace detail {
// A non-blocking descriptor and the notifiers that watch it for reading and writing.
struct SWatchedSocket {
    int fd = -1;
    QSocketNotifier* read = nullptr;
    QSocketNotifier* write = nullptr;
};
}  // namespace detail

class CSocketTcpControl final : public ITcpControl {
public:
    CSocketTcpControl();
    ~CSocketTcpControl() override;
    CSocketTcpControl(const CSocketTcpControl&) = delete;
    CSocketTcpControl& operator=(const CSocketTcpControl&) = delete;

    void Connect(uint32_t ipv4, uint16_t port) override;
    void Close() override;
    // The whole frame or block is sent, in order, even when the socket takes it in parts; its
    // result is not looked at.
    void Write(std::span<const uint8_t> bytes) override;
    // Why the last connect failed ("Connection refused", ...); "" when it did not.
    const std::string& LastError() const { return m_lastError; }

private:
    void OnWritable();
    void OnReadable();
    void Flush();
    void Failed(int error);
    void Lost();

    QObject m_context;  // what the notifiers' and the deferred calls' connections hang on
    detail::SWatchedSocket m_socket;
    bool m_connected = false;
    unsigned m_generation = 0;  // changes with every socket: a callback sees its socket go
    std::vector<uint8_t> m_pending;  // written, not yet taken by the socket
    std::string m_lastError;
};

class CSocketDatagrams final : public IDatagramSocket {
public:
    CSocketDatagrams();
    ~CSocketDatagrams() override;
    CSocketDatagrams(const CSocketDatagrams&) = delete;
    CSocketDatagrams& operator=(const CSocketDatagrams&) = delete;

    // A failure is said as a Qt warning, "corvane: binding UDP port N failed: REASON".
    bool Bind(uint16_t localPort) override;
    void Close() override;
    void Broadcast(std::span<const uint8_t> bytes, uint16_t port) override;

    // Sends to this address (IPv4, host order) instead of broadcasting (tests on one machine,
    // where the loopback interface carries no broadcast); 0 broadcasts again.
    void SetTarget(uint32_t ipv4) { m_target = ipv4; }
    // Interfaces the last Broadcast went through (0 when it went out the ordinary way).
    int LastInterfaceCount() const { return m_lastInterfaces; }

private:
    void OnReadable();

    QObject m_context;
    detail::SWatchedSocket m_socket;
    unsigned m_generation = 0;
    uint32_t m_target = 0;
    int m_lastInterfaces = 0;
};

}  // namespace corvane
