#include "transport/qt_network.h"

#include <algorithm>

#include <QNetworkDatagram>
#include <QNetworkInterface>
#include <QPointer>
#include <QTcpSocket>
#include <QUdpSocket>

namespace corvane {

namespace {
// A socket may be closed from inside its own signal (a configuration reply starts a search):
// it goes silent at once and is deleted when control is back in the event loop.
template <typename Socket>
void Retire(std::unique_ptr<Socket>& socket)
{
    if (!socket)
        return;
    Socket* s = socket.release();
    QObject::disconnect(s, nullptr, nullptr, nullptr);
    s->abort();
    s->deleteLater();
}
}  // namespace

// ---- TCP -------------------------------------------------------------------------------------

CQtTcpControl::CQtTcpControl() = default;
CQtTcpControl::~CQtTcpControl() { Retire(m_socket); }

void CQtTcpControl::Connect(uint32_t ipv4, uint16_t port)
{
    Close();
    m_lastError.clear();
    m_socket = std::make_unique<QTcpSocket>();
    QTcpSocket* s = m_socket.get();
    connect(s, &QTcpSocket::connected, this, [this] {
        m_connected = true;
        if (onConnected)
            onConnected(true);
    });
    connect(s, &QTcpSocket::errorOccurred, this, [this, s](QAbstractSocket::SocketError) {
        if (m_connected || s != m_socket.get())
            return;  // a connected link ends through disconnected
        m_lastError = s->errorString().toStdString();
        Retire(m_socket);
        if (onConnected)
            onConnected(false);
    });
    connect(s, &QTcpSocket::disconnected, this, [this] {
        if (!m_connected)
            return;
        m_connected = false;
        if (onClosed)
            onClosed();
    });
    connect(s, &QTcpSocket::readyRead, this, [this] { OnReadyRead(); });
    s->connectToHost(QHostAddress(ipv4), port);
}

void CQtTcpControl::Close()
{
    m_connected = false;
    Retire(m_socket);
}

void CQtTcpControl::Write(std::span<const uint8_t> bytes)
{
    if (m_socket && m_socket->state() == QAbstractSocket::ConnectedState)
        m_socket->write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
}

void CQtTcpControl::OnReadyRead()
{
    QTcpSocket* s = m_socket.get();
    while (s && s == m_socket.get() && s->bytesAvailable() > 0) {
        const QByteArray chunk = s->read(1024);
        if (chunk.isEmpty())
            break;
        if (onRead)
            onRead(std::span(reinterpret_cast<const uint8_t*>(chunk.constData()), static_cast<std::size_t>(chunk.size())));
    }
}

// ---- UDP -------------------------------------------------------------------------------------

CQtDatagramSocket::CQtDatagramSocket() = default;
CQtDatagramSocket::~CQtDatagramSocket() { Retire(m_socket); }

bool CQtDatagramSocket::Bind(uint16_t localPort)
{
    Close();
    auto s = std::make_unique<QUdpSocket>();
    if (!s->bind(QHostAddress::AnyIPv4, localPort, QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint)) {
        qWarning("corvane: binding UDP port %u failed: %s", unsigned(localPort), qPrintable(s->errorString()));
        return false;
    }
    m_socket = std::move(s);
    connect(m_socket.get(), &QUdpSocket::readyRead, this, [this] { OnReadyRead(); });
    return true;
}

void CQtDatagramSocket::Close() { Retire(m_socket); }

void CQtDatagramSocket::Broadcast(std::span<const uint8_t> bytes, uint16_t port)
{
    m_lastInterfaces = 0;
    if (!m_socket)
        return;
    const QByteArray data(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()));
    if (m_target) {
        m_socket->writeDatagram(data, *m_target, port);
        return;
    }
    // Linux sends a limited broadcast out of the route's interface only; a switcher with a
    // foreign or factory address hears it only on its own segment, so every segment gets one.
    for (const QNetworkInterface& i : QNetworkInterface::allInterfaces()) {
        const auto flags = i.flags();
        if (!(flags & QNetworkInterface::IsUp) || !(flags & QNetworkInterface::CanBroadcast) ||
            (flags & QNetworkInterface::IsLoopBack))
            continue;
        const auto entries = i.addressEntries();
        const bool ipv4 = std::any_of(entries.begin(), entries.end(), [](const QNetworkAddressEntry& e) {
            return e.ip().protocol() == QAbstractSocket::IPv4Protocol;
        });
        if (!ipv4)
            continue;
        QNetworkDatagram d(data, QHostAddress(QHostAddress::Broadcast), port);
        d.setInterfaceIndex(static_cast<uint>(i.index()));
        m_socket->writeDatagram(d);
        ++m_lastInterfaces;
    }
    if (m_lastInterfaces == 0)
        m_socket->writeDatagram(data, QHostAddress(QHostAddress::Broadcast), port);
}

void CQtDatagramSocket::OnReadyRead()
{
    QUdpSocket* s = m_socket.get();
    // Handling a datagram may close or replace the socket: stop reading from it then.
    while (s && s == m_socket.get() && s->hasPendingDatagrams()) {
        const QNetworkDatagram d = s->receiveDatagram(static_cast<qint64>(kDatagramMax));
        const QByteArray data = d.data();
        if (onDatagram)
            onDatagram(std::span(reinterpret_cast<const uint8_t*>(data.constData()), static_cast<std::size_t>(data.size())));
    }
}

std::unique_ptr<CQtDatagramSocket> AimedDatagramSocket(const char* aim, SNetPorts& ports)
{
    auto udp = std::make_unique<CQtDatagramSocket>();
    if (!aim || !*aim)
        return udp;
    std::string error;
    if (const auto target = ParseUdpTarget(aim, error)) {
        udp->SetTarget(QHostAddress(target->ipv4));
        const uint16_t control = ports.control;
        ports = target->ports;
        ports.control = control;
    } else {
        qWarning("corvane: CORVANE_UDP_TO=%s; the search broadcasts", error.c_str());
    }
    return udp;
}

}  // namespace corvane

// The sockets' meta-objects stay in this object: a program that does not use the sockets (the
// panel, which loads them as a module) does not link Qt Network through them.
#include "moc_qt_network.cpp"
