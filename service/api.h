// The service's HTTP API and its WebSocket stream of changes, on Qt's HTTP server. The server
// parses HTTP; the listening socket is ours, so that what it lacks is enforced below it: a
// bound on clients, on the bytes a request may send before it is answered, and timers that end
// a request that never finishes and a connection left idle.
#pragma once

#include <QAbstractHttpServer>
#include <QHostAddress>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QWebSocket>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/timers.h"
#include "service/requests.h"
#include "service/unit.h"

namespace corvane::service {

struct SApiLimits {
    std::size_t clients = 64;               // connections at once, WebSockets included
    std::size_t requestBytes = 16 * 1024;   // head and body of one request, before its answer
    unsigned requestMs = 10000;             // from a request's first byte to its last
    unsigned idleMs = 60000;                // a connection with nothing to do
    std::size_t eventBacklog = 1 << 20;     // bytes a WebSocket reader may leave unread
    unsigned pingMs = 30000;                // a WebSocket is pinged this often; one that said
                                            // nothing since the last ping is let go
};

// The listening socket: counts its connections, refuses those over the bound, and watches each
// for too many bytes, a request that never ends, and idleness.
class CGuardedServer final : public QTcpServer {
    Q_OBJECT
public:
    CGuardedServer(ITimerService& timers, SApiLimits limits);
    ~CGuardedServer() override;
    std::size_t Clients() const { return m_clients; }
    // A request was handed to the API whole: its timer stops until it is answered. False when
    // the connection's last request is still unanswered.
    bool RequestTaken(QTcpSocket* socket);
    // Its answer was written: the connection may idle, the byte count starts again.
    // close: the client asked for the connection to end with this answer (Connection: close).
    void Answered(QTcpSocket* socket, bool close = false);
    // The socket now carries a WebSocket: only the client count holds for it.
    void Upgraded(QTcpSocket* socket);

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    struct SWatch;
    void OnBytes(QTcpSocket* socket);
    void OnTimer(QTcpSocket* socket, unsigned id);
    void Refuse(QTcpSocket* socket, const char* status, const std::string& why);

    ITimerService& m_timers;
    SApiLimits m_limits;
    std::size_t m_clients = 0;
    std::map<QTcpSocket*, std::unique_ptr<SWatch>> m_watch;
};

struct SApiOptions {
    QHostAddress address = QHostAddress::LocalHost;
    quint16 port = 0;
    std::string token;                  // empty: no token needed (loopback only)
    std::vector<std::string> webNames;  // --web-name
    SApiLimits limits;
};

class CApi final : public QAbstractHttpServer {
    Q_OBJECT
public:
    CApi(SApiOptions options, std::vector<std::unique_ptr<CUnit>>& units, const std::vector<SNamedScene>& scenes,
         ITimerService& timers);
    ~CApi() override;
    // Listens; false with the reason.
    bool Listen(std::string& error);
    quint16 Port() const;
    // Connections open now, WebSockets included.
    std::size_t Clients() const { return m_server->Clients(); }
    // A unit's event, to every WebSocket client: {"id":...,"time":...,members}.
    void Event(const CUnit& unit, const std::string& members);

protected:
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override;
    void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override;

private:
    struct SAnswer {
        int status = 200;
        std::string body;
        const char* type = nullptr;  // a file of the page; JSON when null
    };
    SAnswer Checked(const QHttpServerRequest& request, bool& later, QTcpSocket* socket);
    void Reply(QTcpSocket* socket, const QHttpServerRequest& request, const SAnswer& answer);
    std::string UnitDocument(const CUnit& unit) const;
    std::string ResultDocument(const CUnit& unit, const std::string& commandName, const SUnitResult& r,
                               const std::string& ref) const;
    CUnit* Find(const std::string& id) const;
    void OnWebSocket();
    void OnWebSocketMessage(QWebSocket* ws, const QString& text);
    void Send(QWebSocket* ws, const std::string& text);
    // Host, token and (for a change) Origin: empty when allowed, else the status and reason.
    std::optional<SAnswer> Refused(const std::string& host, const std::string& auth, const std::string& origin,
                                   bool hasOrigin, bool changes) const;

    SApiOptions m_options;
    SAllowedHosts m_hosts;
    std::vector<std::unique_ptr<CUnit>>& m_units;
    const std::vector<SNamedScene>& m_scenes;
    CGuardedServer* m_server;
    void Ping();
    struct SClient {
        std::unique_ptr<QWebSocket> socket;
        qint64 unwritten = 0;
        bool pinged = false;  // since it last said anything
    };
    std::map<QWebSocket*, SClient> m_clients;
    std::unique_ptr<CTimerOwner> m_pinger;
    std::optional<SAnswer> m_refusedUpgrade;  // for missingHandler, called right after
};

// The API document (OpenAPI 3).
extern const char kOpenApi[];
// The document with the names of the built-in EDIDs filled in.
std::string OpenApiDocument();

}  // namespace corvane::service
