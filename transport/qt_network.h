// The TCP control socket and the UDP socket over Qt Network. Their signals are the socket
// notifications, delivered on the user-interface thread.
#pragma once

#include <QHostAddress>
#include <QObject>
#include <memory>
#include <optional>
#include <string>

#include "core/link/net_link.h"

class QTcpSocket;
class QUdpSocket;

namespace corvane {

class CQtTcpControl final : public QObject, public ITcpControl {
    Q_OBJECT
public:
    CQtTcpControl();
    ~CQtTcpControl() override;

    void Connect(uint32_t ipv4, uint16_t port) override;
    void Close() override;
    // One write of the whole frame or block; its result is not looked at.
    void Write(std::span<const uint8_t> bytes) override;
    // Why the last connect failed ("Connection refused", ...); "" when it did not.
    const std::string& LastError() const { return m_lastError; }

private:
    void OnReadyRead();

    std::unique_ptr<QTcpSocket> m_socket;
    bool m_connected = false;
    std::string m_lastError;
};

class CQtDatagramSocket final : public QObject, public IDatagramSocket {
    Q_OBJECT
public:
    CQtDatagramSocket();
    ~CQtDatagramSocket() override;

    bool Bind(uint16_t localPort) override;
    void Close() override;
    void Broadcast(std::span<const uint8_t> bytes, uint16_t port) override;

    // Sends to this address instead of broadcasting (tests on one machine, where the loopback
    // interface carries no broadcast).
    void SetTarget(const QHostAddress& address) { m_target = address; }
    // Interfaces the last Broadcast went through (0 when it went out the ordinary way).
    int LastInterfaceCount() const { return m_lastInterfaces; }

private:
    void OnReadyRead();

    std::unique_ptr<QUdpSocket> m_socket;
    std::optional<QHostAddress> m_target;
    int m_lastInterfaces = 0;
};

// The panel's datagram socket. aim (CORVANE_UDP_TO: "ADDRESS[:SEARCH,CONFIG]") sends the search
// and the configuration to one address instead of broadcasting them, with ports set to match;
// null or empty broadcasts. A value that is no such address is named on standard error, and
// the requests are broadcast.
std::unique_ptr<CQtDatagramSocket> AimedDatagramSocket(const char* aim, SNetPorts& ports);

}  // namespace corvane
