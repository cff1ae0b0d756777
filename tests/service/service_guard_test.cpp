// The socket guard below the HTTP server, in process on the virtual clock: a request that never
// ends, an idle connection, too many clients, too many bytes.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTcpSocket>
#include <QWebSocket>

#include "platform/timers.h"
#include "service/api.h"
#include "tests/support/child_process.h"

namespace corvane::service {
namespace {

class GuardTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        static int argc = 1;
        static char name[] = "service_tests", *argv[] = {name, nullptr};
        if (!QCoreApplication::instance())
            new QCoreApplication(argc, argv);
        SApiOptions o;
        o.limits.clients = 3;
        api = std::make_unique<CApi>(o, units, scenes, clock);
        std::string error;
        ASSERT_TRUE(api->Listen(error)) << error;
    }
    void Pump(const std::function<bool()>& done)
    {
        const test::SBound bound(10000);
        while (!done() && bound.Left() > 0) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
            // Closed sockets go when the loop's deferred deletions run, as they do under exec().
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        }
    }
    std::unique_ptr<QTcpSocket> Connect(const QByteArray& bytes = {})
    {
        auto s = std::make_unique<QTcpSocket>();
        s->connectToHost("127.0.0.1", api->Port());
        // A refused connection may be closed again before the test looks.
        Pump([&] { return s->state() == QAbstractSocket::ConnectedState || s->state() == QAbstractSocket::UnconnectedState; });
        s->write(bytes);
        s->flush();
        return s;
    }
    // What the service answered before it closed the connection ("" while it stays open).
    QByteArray Closed(QTcpSocket& s, QByteArray& got)
    {
        Pump([&] {
            got += s.readAll();
            return s.state() == QAbstractSocket::UnconnectedState;
        });
        return s.state() == QAbstractSocket::UnconnectedState ? got + "|closed" : got;
    }
    CVirtualTimers clock;
    std::vector<std::unique_ptr<CUnit>> units;
    std::vector<SNamedScene> scenes;
    std::unique_ptr<CApi> api;
};

TEST_F(GuardTest, SlowAndIdleClientsAreLetGo)
{
    auto slow = Connect("GET /api/switchers HTTP/1.1\r\nHost: loc");
    auto idle = Connect();
    auto served = Connect("GET /api/switchers HTTP/1.1\r\nHost: localhost\r\n\r\n");
    QByteArray answer;
    Pump([&] { return (answer += served->readAll()).contains("[]"); });
    EXPECT_TRUE(answer.startsWith("HTTP/1.1 200")) << answer.toStdString();
    clock.Advance(9999);  // a request has 10 s to arrive whole
    QCoreApplication::processEvents();
    EXPECT_EQ(slow->state(), QAbstractSocket::ConnectedState);
    clock.Advance(1);
    QByteArray got;
    EXPECT_TRUE(Closed(*slow, got).startsWith("HTTP/1.1 408")) << got.toStdString();
    EXPECT_EQ(idle->state(), QAbstractSocket::ConnectedState);
    clock.Advance(60000);  // a connection with nothing to do has a minute
    QByteArray none, alsoNone;
    EXPECT_EQ(Closed(*idle, none), "|closed");
    EXPECT_EQ(Closed(*served, alsoNone), "|closed");
}

// A WebSocket that answers nothing is let go after a ping goes unanswered; one that talks stays.
TEST_F(GuardTest, SilentWebSocketsAreLetGo)
{
    auto silent = Connect("GET /api/events HTTP/1.1\r\nHost: localhost\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                          "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n");
    QByteArray got;
    Pump([&] { return (got += silent->readAll()).contains("\r\n\r\n"); });
    ASSERT_TRUE(got.startsWith("HTTP/1.1 101")) << got.toStdString();
    QWebSocket talker;
    QByteArray answers;
    QObject::connect(&talker, &QWebSocket::textMessageReceived, [&](const QString& t) { answers += t.toUtf8(); });
    QNetworkRequest request(QUrl("ws://localhost:" + QString::number(api->Port()) + "/api/events"));
    talker.open(request);
    Pump([&] { return talker.state() == QAbstractSocket::ConnectedState; });
    clock.Advance(30000);  // both pinged
    talker.sendTextMessage("{}");
    Pump([&] { return answers.contains("error"); });
    clock.Advance(30000);  // the silent one had a period to answer
    QByteArray rest;
    EXPECT_TRUE(Closed(*silent, rest).endsWith("|closed"));
    EXPECT_EQ(talker.state(), QAbstractSocket::ConnectedState);
}

TEST_F(GuardTest, ClientsAndBytesBounded)
{
    auto first = Connect(), second = Connect(), third = Connect();
    auto fourth = Connect("GET /api/switchers HTTP/1.1\r\nHost: localhost\r\n\r\n");
    QByteArray got;
    EXPECT_TRUE(Closed(*fourth, got).startsWith("HTTP/1.1 503")) << got.toStdString();
    EXPECT_TRUE(got.contains("too many clients"));
    second.reset();
    Pump([&] { return api->Clients() < 3; });

    QByteArray big = "POST /api/switchers/x/route HTTP/1.1\r\nHost: localhost\r\nContent-Length: 100000\r\n\r\n";
    auto flood = Connect(big + QByteArray(17000, ' '));
    QByteArray refused;
    EXPECT_TRUE(Closed(*flood, refused).startsWith("HTTP/1.1 413")) << refused.toStdString();
}

}  // namespace
}  // namespace corvane::service
