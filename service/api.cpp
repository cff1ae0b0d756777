#include "service/api.h"

#include <QFile>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QNetworkRequest>
#include <QUrlQuery>

#include "core/scene/json.h"
#include "core/switcher/state_json.h"

namespace corvane::service {

namespace {
enum : unsigned { TIMER_REQUEST = 1, TIMER_IDLE = 2 };

std::string ErrorJson(const std::string& why) { return "{\"error\":" + JsonString(why) + "}"; }

std::string Header(const QHttpServerRequest& r, const char* name, bool* present = nullptr)
{
    for (const auto& [key, value] : r.headers()) {
        if (key.compare(name, Qt::CaseInsensitive) == 0) {
            if (present)
                *present = true;
            return value.toStdString();
        }
    }
    if (present)
        *present = false;
    return {};
}

QHttpServerResponder::StatusCode Status(int code) { return static_cast<QHttpServerResponder::StatusCode>(code); }
// The client wants the connection closed after this answer.
bool WantsClose(const QHttpServerRequest& r)
{
    return QByteArray::fromStdString(Header(r, "connection")).toLower().contains("close");
}

// The web page's files, compiled into the program.
struct SPageFile {
    std::string body;
    const char* type;
};

std::optional<SPageFile> PageFile(const QString& path)
{
    static constexpr struct {
        const char* path;
        const char* resource;
        const char* type;
    } kFiles[] = {
        {"/", ":/web/index.html", "text/html; charset=utf-8"},
        {"/index.html", ":/web/index.html", "text/html; charset=utf-8"},
        {"/app.js", ":/web/app.js", "text/javascript; charset=utf-8"},
        {"/style.css", ":/web/style.css", "text/css; charset=utf-8"},
    };
    for (const auto& f : kFiles) {
        if (path != QLatin1String(f.path))
            continue;
        QFile file(QString::fromLatin1(f.resource));
        if (!file.open(QIODevice::ReadOnly))
            return std::nullopt;
        return SPageFile{file.readAll().toStdString(), f.type};
    }
    return std::nullopt;
}

}  // namespace

// ---- the listening socket ----

struct CGuardedServer::SWatch {
    SWatch(ITimerService& timers, TimerHandler handler) : timer(timers, std::move(handler)) {}
    CTimerOwner timer;
    std::size_t bytes = 0;  // since the last answer
    bool inRequest = false;
    bool taken = false;  // the request is with the API, its answer not yet written
};

CGuardedServer::CGuardedServer(ITimerService& timers, SApiLimits limits) : m_timers(timers), m_limits(limits) {}

CGuardedServer::~CGuardedServer()
{
    m_watch.clear();
    for (QObject* child : children())
        disconnect(child, nullptr, this, nullptr);
}

void CGuardedServer::incomingConnection(qintptr descriptor)
{
    auto* socket = new QTcpSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        delete socket;
        return;
    }
    // Answers and events are small and wanted at once: no Nagle wait behind an unacknowledged one.
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    ++m_clients;
    connect(socket, &QObject::destroyed, this, [this, socket] {
        --m_clients;
        m_watch.erase(socket);
    });
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    if (m_clients > m_limits.clients) {
        Refuse(socket, "503 Service Unavailable", "too many clients");
        return;
    }
    auto& w = m_watch[socket] = std::make_unique<SWatch>(m_timers, [this, socket](unsigned id) { OnTimer(socket, id); });
    w->timer.SetTimer(TIMER_IDLE, m_limits.idleMs);
    // Connected before the HTTP server's own slot: the bytes are counted before it takes them.
    connect(socket, &QTcpSocket::readyRead, this, [this, socket] { OnBytes(socket); });
    addPendingConnection(socket);
}

void CGuardedServer::OnBytes(QTcpSocket* socket)
{
    const auto it = m_watch.find(socket);
    if (it == m_watch.end())
        return;
    SWatch& w = *it->second;
    w.bytes += static_cast<std::size_t>(socket->bytesAvailable());
    if (w.bytes > m_limits.requestBytes) {
        Refuse(socket, "413 Payload Too Large",
               "a request may carry at most " + std::to_string(m_limits.requestBytes) + " bytes");
        return;
    }
    if (!w.inRequest && !w.taken) {
        w.inRequest = true;
        w.timer.KillTimer(TIMER_IDLE);
        w.timer.SetTimer(TIMER_REQUEST, m_limits.requestMs);
    }
}

bool CGuardedServer::RequestTaken(QTcpSocket* socket)
{
    const auto it = m_watch.find(socket);
    if (it == m_watch.end())
        return true;
    if (it->second->taken)
        return false;
    it->second->taken = true;
    it->second->inRequest = false;
    it->second->timer.KillTimer(TIMER_REQUEST);
    return true;
}

void CGuardedServer::Answered(QTcpSocket* socket, bool close)
{
    const auto it = m_watch.find(socket);
    if (it == m_watch.end())
        return;
    if (close) {
        socket->disconnectFromHost();  // once the answer has left
        return;
    }
    SWatch& w = *it->second;
    w.taken = false;
    w.bytes = static_cast<std::size_t>(socket->bytesAvailable());  // a next request already under way
    if (w.bytes) {
        w.inRequest = true;
        w.timer.SetTimer(TIMER_REQUEST, m_limits.requestMs);
    } else {
        w.timer.SetTimer(TIMER_IDLE, m_limits.idleMs);
    }
}

void CGuardedServer::Upgraded(QTcpSocket* socket) { m_watch.erase(socket); }

void CGuardedServer::OnTimer(QTcpSocket* socket, unsigned id)
{
    const auto it = m_watch.find(socket);
    if (it == m_watch.end())
        return;
    it->second->timer.KillTimer(id);
    if (id == TIMER_REQUEST) {
        Refuse(socket, "408 Request Timeout",
               "a request must arrive whole within " + std::to_string(m_limits.requestMs / 1000) + " s");
        return;
    }
    m_watch.erase(it);
    socket->abort();
}

// The answer to a request the HTTP server never saw whole: written here, and the connection ends.
void CGuardedServer::Refuse(QTcpSocket* socket, const char* status, const std::string& why)
{
    m_watch.erase(socket);
    disconnect(socket, &QTcpSocket::readyRead, nullptr, nullptr);
    socket->readAll();
    const std::string body = ErrorJson(why) + "\n";
    const std::string head = std::string("HTTP/1.1 ") + status +
                             "\r\nContent-Type: application/json\r\nConnection: close\r\nContent-Length: " +
                             std::to_string(body.size()) + "\r\n\r\n";
    socket->write((head + body).data(), static_cast<qint64>(head.size() + body.size()));
    socket->disconnectFromHost();
}

// ---- the API ----

CApi::CApi(SApiOptions options, std::vector<std::unique_ptr<CUnit>>& units, const std::vector<SNamedScene>& scenes,
           ITimerService& timers)
    : m_options(std::move(options)), m_units(units), m_scenes(scenes)
{
    const bool anyAddress = m_options.address == QHostAddress::Any || m_options.address == QHostAddress::AnyIPv4 ||
                            m_options.address == QHostAddress::AnyIPv6;
    m_hosts = AllowedHosts(anyAddress ? "" : m_options.address.toString().toStdString(), m_options.webNames);
    m_server = new CGuardedServer(timers, m_options.limits);
    m_server->setParent(this);
    connect(this, &QAbstractHttpServer::newWebSocketConnection, this, &CApi::OnWebSocket);
    m_pinger = std::make_unique<CTimerOwner>(timers, [this](unsigned) { Ping(); });
}

// A WebSocket whose client is gone without a word (a phone put away) would hold its place among
// the clients for ever: each is pinged, and one that has answered nothing since is let go.
void CApi::Ping()
{
    std::vector<QWebSocket*> silent;
    for (auto& [ws, client] : m_clients) {
        if (client.pinged)
            silent.push_back(ws);
        client.pinged = true;
        ws->ping();
    }
    for (QWebSocket* ws : silent)
        ws->abort();
}

CApi::~CApi()
{
    for (auto& [ws, client] : m_clients)
        client.socket->disconnect(this);
    m_clients.clear();
}

bool CApi::Listen(std::string& error)
{
    if (!m_server->listen(m_options.address, m_options.port)) {
        error = m_server->errorString().toStdString();
        return false;
    }
    bind(m_server);
    return true;
}

quint16 CApi::Port() const { return m_server->serverPort(); }

CUnit* CApi::Find(const std::string& id) const
{
    for (const auto& u : m_units) {
        if (u->Place().id == id)
            return u.get();
    }
    return nullptr;
}

std::string CApi::UnitDocument(const CUnit& u) const
{
    const std::string status = StatusJson(u.State());
    std::string doc = "{\"id\":" + JsonString(u.Place().id) + ",\"online\":" + JsonBool(u.Online());
    if (!u.Online())
        doc += ",\"error\":" + JsonString(u.OfflineWhy());
    return doc + "," + status.substr(1);
}

std::optional<CApi::SAnswer> CApi::Refused(const std::string& host, const std::string& auth, const std::string& origin,
                                           bool hasOrigin, bool changes) const
{
    if (!m_hosts.Allows(host))
        return SAnswer{421, ErrorJson("this service does not answer to the host " + JsonString(host))};
    if (!m_options.token.empty()) {
        const std::string scheme = "Bearer ";
        if (auth.empty())
            return SAnswer{401, ErrorJson("a token is needed: Authorization: Bearer TOKEN")};
        if (auth.compare(0, scheme.size(), scheme) != 0 || !SameSecret(auth.substr(scheme.size()), m_options.token))
            return SAnswer{401, ErrorJson("the token is wrong")};
    }
    if (changes && !m_hosts.AllowsOrigin(origin, hasOrigin))
        return SAnswer{403, ErrorJson("requests from the page of another site are refused")};
    return std::nullopt;
}

void CApi::Reply(QTcpSocket* socket, const QHttpServerRequest& request, const SAnswer& a)
{
    QHttpServerResponder responder = makeResponder(request, socket);
    if (a.type) {
        // The page's own files: nothing else may load into it or frame it.
        responder.write(QByteArray::fromStdString(a.body),
                        {{"Content-Type", a.type},
                         {"Cache-Control", "no-cache"},
                         {"X-Content-Type-Options", "nosniff"},
                         {"Content-Security-Policy", "default-src 'self'; img-src 'self' data:; connect-src 'self'; frame-ancestors 'none'"},
                         {"Referrer-Policy", "no-referrer"}},
                        Status(a.status));
        m_server->Answered(socket, WantsClose(request));
        return;
    }
    const QByteArray body = QByteArray::fromStdString(a.body + "\n");
    if (a.status == 401)
        responder.write(body, {{"Content-Type", "application/json"}, {"Cache-Control", "no-store"},
                               {"WWW-Authenticate", "Bearer"}},
                        Status(a.status));
    else
        responder.write(body, {{"Content-Type", "application/json"}, {"Cache-Control", "no-store"}}, Status(a.status));
    m_server->Answered(socket, WantsClose(request));
}

void CApi::missingHandler(const QHttpServerRequest& request, QTcpSocket* socket)
{
    if (m_refusedUpgrade) {
        Reply(socket, request, *std::exchange(m_refusedUpgrade, std::nullopt));
        return;
    }
    Reply(socket, request, {404, ErrorJson("no such resource")});
}

bool CApi::handleRequest(const QHttpServerRequest& request, QTcpSocket* socket)
{
    // Answers go out in the order of the requests: a client that sends the next request before
    // the answer to the last (pipelining) would get them mixed up, so its connection ends.
    if (!m_server->RequestTaken(socket)) {
        socket->abort();
        return true;
    }
    // A WebSocket: true lets the server upgrade the connection; false has missingHandler say
    // why not, and the server closes it.
    if (QByteArray::fromStdString(Header(request, "upgrade")).toLower() == "websocket") {
        bool hasOrigin = false;
        const std::string origin = Header(request, "origin", &hasOrigin);
        std::string auth = Header(request, "authorization");
        const QString token = QUrlQuery(request.url()).queryItemValue("access_token", QUrl::FullyDecoded);
        if (auth.empty() && !token.isEmpty())  // a browser cannot set the header on a WebSocket
            auth = "Bearer " + token.toStdString();
        auto refused = Refused(Header(request, "host"), auth, origin, hasOrigin, true);
        if (!refused && request.url().path() != "/api/events")
            refused = SAnswer{404, ErrorJson("no such resource")};
        if (refused) {
            m_refusedUpgrade = *refused;
            return false;
        }
        m_server->Upgraded(socket);
        return true;
    }
    bool later = false;
    const SAnswer a = Checked(request, later, socket);
    if (!later)
        Reply(socket, request, a);
    return true;
}

CApi::SAnswer CApi::Checked(const QHttpServerRequest& request, bool& later, QTcpSocket* socket)
{
    using M = QHttpServerRequest::Method;
    const bool post = request.method() == M::Post;
    // The page asks for no token itself (it signs in through the API), only for the right host.
    if (const auto file = PageFile(request.url().path(QUrl::FullyDecoded))) {
        if (!m_hosts.Allows(Header(request, "host")))
            return {421, ErrorJson("this service does not answer to the host " + JsonString(Header(request, "host")))};
        if (request.method() != M::Get)
            return {405, ErrorJson("only GET is allowed here")};
        return {200, file->body, file->type};
    }
    bool hasOrigin = false;
    const std::string origin = Header(request, "origin", &hasOrigin);
    if (auto refused = Refused(Header(request, "host"), Header(request, "authorization"), origin, hasOrigin, post))
        return *refused;

    const QStringList parts = request.url().path(QUrl::FullyDecoded).split('/');
    // "", "api", ...
    if (parts.size() < 3 || !parts[0].isEmpty() || parts[1] != "api")
        return {404, ErrorJson("no such resource")};
    const std::string what = parts[2].toStdString();
    const auto onlyGet = [&]() -> std::optional<SAnswer> {
        if (request.method() != M::Get)
            return SAnswer{405, ErrorJson("only GET is allowed here")};
        return std::nullopt;
    };
    if (parts.size() == 3 && what == "openapi.json") {
        if (auto r = onlyGet())
            return *r;
        return {200, OpenApiDocument()};
    }
    if (parts.size() == 3 && what == "events")
        return {426, ErrorJson("a WebSocket upgrade is needed here")};
    if (parts.size() == 3 && what == "scenes") {
        if (auto r = onlyGet())
            return *r;
        std::string body = "{\"scenes\":[";
        for (std::size_t i = 0; i < m_scenes.size(); ++i)
            body += (i ? "," : "") + JsonString(m_scenes[i].name);
        body += "],\"switchers\":[";
        for (std::size_t i = 0; i < m_units.size(); ++i) {
            const std::string match = m_units[i]->MatchingScene();
            body += std::string(i ? "," : "") + "{\"id\":" + JsonString(m_units[i]->Place().id) +
                    ",\"scene\":" + (match.empty() ? "null" : JsonString(match)) + "}";
        }
        return {200, body + "]}"};
    }
    if (what != "switchers" || parts.size() > 5)
        return {404, ErrorJson("no such resource")};
    if (parts.size() == 3) {
        if (auto r = onlyGet())
            return *r;
        std::string body = "[";
        for (std::size_t i = 0; i < m_units.size(); ++i) {
            const CUnit& u = *m_units[i];
            const std::string& label = u.Place().label;
            body += std::string(i ? "," : "") + "{\"id\":" + JsonString(u.Place().id) +
                    ",\"name\":" + JsonString(label.empty() ? u.Place().id : label) +
                    ",\"link\":" + JsonString(u.Place().Link()) + ",\"online\":" + JsonBool(u.Online()) + "}";
        }
        return {200, body + "]"};
    }
    const std::string id = parts[3].toStdString();
    CUnit* unit = Find(id);
    if (!unit)
        return {404, ErrorJson("no switcher is called " + JsonString(id))};
    if (parts.size() == 4) {
        if (auto r = onlyGet())
            return *r;
        if (!unit->Known())
            return {503, ErrorJson(unit->OfflineWhy().empty() ? "the switcher has not been read yet"
                                                              : "the switcher is offline: " + unit->OfflineWhy())};
        return {200, UnitDocument(*unit)};
    }
    const std::string name = parts[4].toStdString();
    if (!IsCommandName(name))
        return {404, ErrorJson("no such command: " + JsonString(name))};
    if (!post)
        return {405, ErrorJson("only POST is allowed here")};
    const QByteArray body = request.body();
    if (static_cast<std::size_t>(body.size()) > kBodyCap)
        return {413, ErrorJson("a command's body may hold at most " + std::to_string(kBodyCap) + " bytes")};
    const std::string type = Header(request, "content-type");
    const std::string mime = type.substr(0, type.find(';'));
    if (!body.isEmpty() && QByteArray::fromStdString(mime).trimmed().toLower() != "application/json")
        return {415, ErrorJson("the body must be application/json")};
    std::string error;
    auto command = ParseCommand(name, std::string_view(body.constData(), static_cast<std::size_t>(body.size())),
                                m_scenes, error);
    if (!command)
        return {400, ErrorJson(error)};
    if (!unit->Online())
        return {503, ErrorJson("the switcher is offline" + (unit->OfflineWhy().empty() ? "" : ": " + unit->OfflineWhy()))};
    if (unit->Queued() >= kUnitQueueBound)
        return {429, ErrorJson("the switcher has " + std::to_string(kUnitQueueBound) + " commands waiting already")};
    auto responder = std::make_shared<QHttpServerResponder>(makeResponder(request, socket));
    QPointer<QTcpSocket> alive(socket);
    const std::string commandName = command->Name();
    const bool close = WantsClose(request);
    unit->Enqueue(std::move(*command), [this, responder, alive, unit, commandName, close](const SUnitResult& r) {
        if (!alive)
            return;  // the client went; the command was carried out all the same
        const std::string answer = ResultDocument(*unit, commandName, r, {}) + "\n";
        responder->write(QByteArray::fromStdString(answer),
                         {{"Content-Type", "application/json"}, {"Cache-Control", "no-store"}});
        m_server->Answered(alive, close);
    });
    later = true;
    return {};
}

// The answer to a command: its result and the switcher as the service holds it afterwards.
// ref: the member that ties it to a stream command, or empty.
std::string CApi::ResultDocument(const CUnit& unit, const std::string& commandName, const SUnitResult& r,
                                 const std::string& ref) const
{
    std::string answer = "{" + (ref.empty() ? "" : "\"ref\":" + ref + ",") + "\"ok\":" + JsonBool(r.ok) +
                         ",\"command\":\"" + commandName + "\"";
    if (!r.ok)
        answer += ",\"error\":" + JsonString(r.error);
    if (!r.report.empty())
        answer += ",\"report\":" + r.report;
    return answer + ",\"switcher\":" + UnitDocument(unit) + "}";
}

// ---- the stream of changes ----

void CApi::OnWebSocket()
{
    while (hasPendingWebSocketConnections()) {
        std::unique_ptr<QWebSocket> ws = nextPendingWebSocketConnection();
        if (!ws)
            break;
        QWebSocket* raw = ws.get();
        raw->setMaxAllowedIncomingMessageSize(kBodyCap);
        raw->setMaxAllowedIncomingFrameSize(kBodyCap);
        const auto heard = [this, raw] {
            const auto it = m_clients.find(raw);
            if (it != m_clients.end())
                it->second.pinged = false;
        };
        connect(raw, &QWebSocket::pong, this, heard);
        connect(raw, &QWebSocket::textMessageReceived, this, [this, raw, heard](const QString& text) {
            heard();
            OnWebSocketMessage(raw, text);
        });
        connect(raw, &QWebSocket::binaryMessageReceived, this, [raw] {
            raw->close(QWebSocketProtocol::CloseCodeDatatypeNotSupported, "text messages only");
        });
        connect(raw, &QWebSocket::bytesWritten, this, [this, raw](qint64 n) {
            const auto it = m_clients.find(raw);
            if (it != m_clients.end())
                it->second.unwritten = std::max<qint64>(0, it->second.unwritten - n);
        });
        connect(raw, &QWebSocket::disconnected, this, [this, raw] {
            const auto it = m_clients.find(raw);
            if (it == m_clients.end())
                return;
            it->second.socket.release()->deleteLater();
            m_clients.erase(it);
            if (m_clients.empty())
                m_pinger->KillTimer(1);
        });
        m_clients[raw] = SClient{std::move(ws), 0, false};
        if (!m_pinger->IsRunning(1))
            m_pinger->SetTimer(1, m_options.limits.pingMs);
    }
}

void CApi::Send(QWebSocket* ws, const std::string& text)
{
    const auto it = m_clients.find(ws);
    if (it == m_clients.end())
        return;
    // A reader that does not keep up is let go rather than given ever more memory.
    if (it->second.unwritten + static_cast<qint64>(text.size()) > static_cast<qint64>(m_options.limits.eventBacklog)) {
        ws->abort();
        return;
    }
    it->second.unwritten += ws->sendTextMessage(QString::fromStdString(text));
}

void CApi::Event(const CUnit& unit, const std::string& members)
{
    const std::string text =
        "{\"id\":" + JsonString(unit.Place().id) + ",\"time\":\"" + ChangeTimestamp() + "\"," + members + "}";
    std::vector<QWebSocket*> all;
    for (auto& [ws, client] : m_clients)
        all.push_back(ws);
    for (QWebSocket* ws : all)
        Send(ws, text);
}

void CApi::OnWebSocketMessage(QWebSocket* ws, const QString& text)
{
    const std::string message = text.toStdString();
    std::string error;
    const auto doc = ParseJson(message, error);
    const SJson* id = doc ? doc->Find("id") : nullptr;
    const SJson* command = doc ? doc->Find("command") : nullptr;
    const SJson* tag = doc ? doc->Find("ref") : nullptr;
    // A ref asks for this command's own answer, as HTTP gives it, with the ref in front.
    const bool refOk = tag && tag->type == SJson::Type::String && tag->text.size() <= kRefCap;
    const std::string ref = refOk ? JsonString(tag->text) : "";
    CUnit* unit = nullptr;
    std::optional<SUnitCommand> parsed;
    const auto answer = [&]() -> std::function<void(const SUnitResult&)> {
        if (ref.empty())
            return {};
        return [this, alive = QPointer<QWebSocket>(ws), ref, unit, name = command->text](const SUnitResult& r) {
            if (alive)  // else the client went; the command was carried out all the same
                Send(alive, ResultDocument(*unit, name, r, ref));
        };
    };
    if (!doc)
        error = "not JSON: " + error;
    else if (tag && !refOk)
        error = "\"ref\" must be a string of at most " + std::to_string(kRefCap) + " bytes";
    else if (!id || id->type != SJson::Type::String || !command || command->type != SJson::Type::String)
        error = "a command names the switcher (\"id\") and the command (\"command\") as strings";
    else if (!(unit = Find(id->text)))
        error = "no switcher is called " + JsonString(id->text);
    else if (!IsCommandName(command->text))
        error = "no such command: " + JsonString(command->text);
    else if (!(parsed = ParseCommandJson(command->text, *doc, m_scenes, error, {"id", "command", "ref"})))
        ;
    else if (!unit->Online())
        error = "the switcher is offline";
    else if (!unit->Enqueue(std::move(*parsed), answer()))
        error = "the switcher has " + std::to_string(kUnitQueueBound) + " commands waiting already";
    // The result reaches every client as the switcher's event; a refusal, and with a ref the
    // answer, are this client's alone.
    if (!error.empty())
        Send(ws, ref.empty() ? ErrorJson(error) : "{\"ref\":" + ref + ",\"ok\":false,\"error\":" + JsonString(error) + "}");
}

}  // namespace corvane::service
