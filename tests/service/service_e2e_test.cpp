// corvaned as a process against emulator processes over TCP and a pseudo-terminal: every
// endpoint, every kind of bad request, the WebSocket stream, the API document held against the
// real answers, many clients at once, and a lost switcher beside working ones.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QWebSocket>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <atomic>
#include <map>
#include <mutex>
#include <thread>

#include "tests/service/service_process.h"
#include "tests/support/netns.h"

namespace corvane::test {
namespace {

// The parts of JSON Schema the API document uses: type, nullable, required, properties,
// additionalProperties false, items and $ref into the document's components.
std::string SchemaMismatch(const SJson& doc, const SJson& schema, const SJson& value, const std::string& where)
{
    if (const SJson* ref = schema.Find("$ref")) {
        const SJson* s = &doc;
        std::istringstream path(ref->text.substr(2));
        for (std::string part; std::getline(path, part, '/');)
            s = s ? s->Find(part) : nullptr;
        return s ? SchemaMismatch(doc, *s, value, where) : where + ": no " + ref->text;
    }
    if (value.type == SJson::Type::Null && schema.Find("nullable"))
        return {};
    const SJson* type = schema.Find("type");
    using T = SJson::Type;
    const std::map<std::string, T> types{{"object", T::Object}, {"array", T::Array}, {"string", T::String},
                                         {"boolean", T::Bool},  {"integer", T::Number}, {"number", T::Number}};
    if (type && types.at(type->text) != value.type)
        return where + ": " + JsonTypeName(value.type) + " where the document says " + type->text;
    if (const SJson* required = schema.Find("required"))
        for (const SJson& r : required->items)
            if (!value.Find(r.text))
                return where + ": no \"" + r.text + "\"";
    const SJson* props = schema.Find("properties");
    for (std::size_t k = 0; k < value.keys.size(); ++k) {
        const SJson* p = props ? props->Find(value.keys[k]) : nullptr;
        if (!p && schema.Find("additionalProperties"))
            return where + ": \"" + value.keys[k] + "\" is not in the document";
        if (p)
            if (auto e = SchemaMismatch(doc, *p, value.items[k], where + "." + value.keys[k]); !e.empty())
                return e;
    }
    if (const SJson* items = schema.Find("items"))
        for (const SJson& v : value.items)
            if (auto e = SchemaMismatch(doc, *items, v, where + "[]"); !e.empty())
                return e;
    return {};
}

class ServiceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        tcp = std::make_unique<SimProcess>(std::vector<std::string>{"--tcp", "0", "--quiet"}, dir.path);
        simPort = tcp->Find("tcp: 127.0.0.1:(\\d+)");
        serial = std::make_unique<SimProcess>(std::vector<std::string>{"--serial", "com211", "--quiet", "--control"}, dir.path);
        std::filesystem::create_directory(dir.path + "/scenes");
        std::ofstream(dir.path + "/scenes/movie.json")
            << R"({"format":"corvane-scene","version":1,"routes":[{"output":1,"input":4},{"output":2,"input":3}],)"
               R"("beep":false,"dvi":true,"edids":[{"input":1,"kind":"unknown"},{"input":2,"kind":"unknown"},)"
               R"({"input":3,"kind":"unknown"},{"input":4,"kind":"unknown"}]})";
    }
    void Start(std::vector<std::string> extra = {})
    {
        std::vector<std::string> a{"--host", "127.0.0.1:" + simPort + "=Lobby", "--port", "COM211=hall",
                                   "--host", "127.0.0.1:1",  // nobody listens there
                                   "--web", "127.0.0.1:0", "--scenes", dir.path + "/scenes", "--interval", "200"};
        a.insert(a.end(), extra.begin(), extra.end());
        service = std::make_unique<Service>(a, dir.path);
        ASSERT_NE(service->port, 0) << service->log;
        for (const char* id : {"lobby", "hall"})
            ASSERT_TRUE(Said(std::string(id) + ": switcher online")) << service->log;
    }
    bool Said(const std::string& line) { return service->log.find(line) != std::string::npos || service->LineWith(line) != ""; }
    static void PumpUntil(const std::function<bool()>& done)
    {
        int argc = 1;
        static char name[] = "service_tests", *argv[] = {name, nullptr};
        if (!QCoreApplication::instance())
            new QCoreApplication(argc, argv);
        const SBound bound(kServiceBoundMs * 3);
        while (!done() && bound.Left() > 0)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    TempDir dir;
    std::unique_ptr<SimProcess> tcp, serial;
    std::string simPort;
    std::unique_ptr<Service> service;
};

// Each endpoint answers, over TCP and over the serial line, in the document's shapes; every
// status a request met is one the document lists for it.
TEST_F(ServiceTest, EveryEndpointMatchesTheDocument)
{
    Start();
    const HttpReply api = service->Get("/api/openapi.json");
    ASSERT_EQ(api.status, 200);
    const auto doc = api.Json();
    ASSERT_TRUE(doc);
    struct Case {
        std::string method, path, body;
        int status;
        std::string schema, where, field, value;  // a member of the answer's "switcher" to look at
    } const cases[] = {
        {"GET", "/api/switchers", "", 200, "", "/api/switchers", "", ""},
        {"GET", "/api/switchers/lobby", "", 200, "Switcher", "/api/switchers/{id}", "", ""},
        {"GET", "/api/switchers/127_0_0_1_1", "", 503, "Error", "/api/switchers/{id}", "", ""},
        {"POST", "/api/switchers/lobby/route", R"({"output":1,"input":3})", 200, "Result", "/api/switchers/{id}/route", "outputs", R"({"output":1,"signal":true,"input":3})"},
        {"POST", "/api/switchers/hall/route", R"({"output":2,"input":4})", 200, "Result", "/api/switchers/{id}/route", "outputs", R"({"output":2,"signal":true,"input":4})"},
        {"POST", "/api/switchers/hall/beep", R"({"beep":false})", 200, "Result", "/api/switchers/{id}/beep", "beep", R"("beep":false)"},
        {"POST", "/api/switchers/lobby/dvi", R"({"dvi":true})", 200, "Result", "/api/switchers/{id}/dvi", "dvi", R"("dvi":true)"},
        {"POST", "/api/switchers/hall/edid", R"({"input":2,"edid":"1080p,Stereo Audio 2.0"})", 200, "Result", "/api/switchers/{id}/edid", "inputs", R"("edid":"1080p,Stereo Audio 2.0")"},
        {"POST", "/api/switchers/lobby/scene", R"({"scene":"movie"})", 200, "Result", "/api/switchers/{id}/scene", "outputs", R"({"output":1,"signal":true,"input":4})"},
        {"POST", "/api/switchers/hall/refresh", "", 200, "Result", "/api/switchers/{id}/refresh", "", ""},
        {"POST", "/api/switchers/127_0_0_1_1/beep", R"({"beep":true})", 503, "Error", "/api/switchers/{id}/beep", "", ""},
        {"GET", "/api/scenes", "", 200, "Scenes", "/api/scenes", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.method + " " + c.path);
        const HttpReply r = Http(service->port, Request(c.method, c.path, c.body));
        ASSERT_EQ(r.status, c.status) << r.body;
        const auto json = r.Json();
        ASSERT_TRUE(json) << r.body;
        const SJson* op = doc->Find("paths")->Find(c.where)->Find(c.method == "GET" ? "get" : "post");
        ASSERT_TRUE(op);
        const SJson* listed = op->Find("responses")->Find(std::to_string(c.status));
        ASSERT_TRUE(listed) << c.status << " is not in the document";
        SJson schema;
        schema.type = SJson::Type::Object;
        if (!c.schema.empty()) {
            schema.keys = {"$ref"};
            schema.items.resize(1);
            schema.items[0].type = SJson::Type::String;
            schema.items[0].text = "#/components/schemas/" + c.schema;
        } else {
            schema = *listed->Find("content")->Find("application/json")->Find("schema");
        }
        EXPECT_EQ(SchemaMismatch(*doc, schema, *json, "answer"), "") << r.body;
        if (c.status == 200 && c.method == "POST") {
            EXPECT_TRUE(json->Find("ok")->boolean) << r.body;
        }
        if (!c.field.empty()) {
            EXPECT_NE(r.body.find(c.value), std::string::npos) << r.body;
        }
    }
    const HttpReply scenes = service->Get("/api/scenes");
    EXPECT_NE(scenes.body.find(R"({"id":"lobby","scene":"movie"})"), std::string::npos) << scenes.body;
    // A refresh reads the presets again.
    std::filesystem::copy_file(dir.path + "/scenes/movie.json", dir.path + "/scenes/show.json");
    ASSERT_EQ(service->Post("/api/switchers/hall/refresh", "").status, 200);
    EXPECT_NE(service->Get("/api/scenes").body.find(R"("show")"), std::string::npos);
    EXPECT_NE(service->Get("/api/switchers").body.find(R"({"id":"lobby","name":"Lobby","link":"tcp 127.0.0.1:)" + simPort + R"(","online":true})"), std::string::npos);
}

// A bad request gets its status and reason, and nothing reaches the switcher.
TEST_F(ServiceTest, BadRequestsAreRefusedWithTheReason)
{
    Start();
    const std::string json = "Content-Type: application/json\r\n";
    struct Case {
        std::string raw;
        int status;
        std::string reason;
    } const cases[] = {
        {Request("POST", "/api/switchers/lobby/route", R"({"output":1,"input":5})"), 400, "from 1 to 4"},
        {Request("POST", "/api/switchers/lobby/route", R"({"output":1,"input":"2"})"), 400, "must be a number, not a string"},
        {Request("POST", "/api/switchers/lobby/route", R"({"output":1,"input":2,"x":1})"), 400, "unknown field \"x\""},
        {Request("POST", "/api/switchers/lobby/route", R"({"output":1})"), 400, "missing field \"input\""},
        {Request("POST", "/api/switchers/lobby/route", R"({"output":1,)"), 400, "not JSON"},
        {Request("POST", "/api/switchers/lobby/route", R"([1,3])"), 400, "must be an object"},
        {Request("POST", "/api/switchers/lobby/edid", R"({"input":1,"edid":"8K"})"), 400, "no built-in EDID"},
        {Request("POST", "/api/switchers/lobby/scene", R"({"scene":"../movie"})"), 400, "no scene is called"},
        {Request("POST", "/api/switchers/lobby/route", R"({"output":1,"input":2})", "Content-Type: text/plain\r\n"), 415, "application/json"},
        {Request("POST", "/api/switchers/lobby/route", std::string(5000, ' '), json), 413, "at most 4096"},
        {Request("POST", "/api/switchers/lobby/route", std::string(20000, ' '), json), 413, "at most 16384"},
        {Request("POST", "/api/switchers/nobody/route", R"({"output":1,"input":2})"), 404, "no switcher is called \"nobody\""},
        {Request("POST", "/api/switchers/lobby/reboot", "{}"), 404, "no such command"},
        {Request("GET", "/api/switchers/lobby/route", ""), 405, "only POST"},
        {Request("DELETE", "/api/switchers", ""), 405, "only GET"},
        {Request("GET", "/index.php", ""), 404, "no such resource"},
        {Request("GET", "/api/events", ""), 426, "WebSocket"},
        // A second request before the first's answer: the connection ends, no answer is mixed up.
        {Request("POST", "/api/switchers/lobby/route", R"({"output":1,"input":1})") + Request("GET", "/api/switchers"), 0, ""},
        {Request("GET", "/api/switchers", "", "", "evil.example:8080"), 421, "does not answer to the host"},
        {Request("GET", "/api/switchers", "", "", "127.0.0.1.nip.io"), 421, "does not answer to the host"},
        {Request("POST", "/api/switchers/lobby/beep", R"({"beep":false})", json + "Origin: http://evil.example\r\n"), 403, "another site"},
        {Request("POST", "/api/switchers/lobby/beep", R"({"beep":false})", json + "Origin: null\r\n"), 403, "another site"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.raw.substr(0, 80));
        const HttpReply r = Http(service->port, c.raw);
        EXPECT_EQ(r.status, c.status) << r.body;
        EXPECT_NE(r.Text("error").find(c.reason), std::string::npos) << r.body;
    }
    // The switcher still shows what it showed: none of the requests above reached it.
    const HttpReply state = service->Get("/api/switchers/lobby");
    EXPECT_NE(state.body.find(R"("outputs":[{"output":1,"signal":true,"input":1},{"output":2,"signal":true,"input":2}],"beep":true)"),
              std::string::npos) << state.body;
    // The allowed names pass: loopback names, with a port, and a name given with --web-name.
    for (const char* host : {"localhost", "LOCALHOST:80", "[::1]:8080", "127.0.0.1"})
        EXPECT_EQ(Http(service->port, Request("GET", "/api/switchers", "", "", host)).status, 200) << host;
    EXPECT_EQ(Http(service->port, Request("POST", "/api/switchers/lobby/refresh", "", "Origin: http://localhost:8080\r\n")).status, 200);
}

// The stream: each change and each command's result, with the switcher's id; a command on the
// stream shares the switcher's queue; a foreign page is refused there too.
TEST_F(ServiceTest, WebSocketCarriesChangesAndCommands)
{
    Start();
    const auto pumpUntil = PumpUntil;
    pumpUntil([] { return true; });
    const QString url = QString("ws://127.0.0.1:%1/api/events").arg(service->port);
    QWebSocket ws, foreign("http://evil.example");
    QStringList got;
    QString closed;
    QObject::connect(&ws, &QWebSocket::textMessageReceived, [&](const QString& t) { got << t; });
    QObject::connect(&foreign, QOverload<QAbstractSocket::SocketError>::of(&QWebSocket::error), [&] { closed = foreign.errorString(); });
    ws.open(QUrl(url));
    foreign.open(QUrl(url));
    pumpUntil([&] { return ws.state() == QAbstractSocket::ConnectedState && !closed.isEmpty(); });
    EXPECT_TRUE(closed.contains("403")) << closed.toStdString();

    // A burst on one connection: carried out in the order sent.
    const char* burst[] = {R"("output":2,"input":1)", R"("output":2,"input":3)", R"("output":2,"input":2)",
                           R"("output":1,"input":4)"};
    for (const char* fields : burst)
        ws.sendTextMessage(QString(R"({"id":"hall","command":"route",%1})").arg(fields));
    ws.sendTextMessage(R"({"id":"hall","command":"route","output":9,"input":4})");
    const auto has = [&](const char* text) { return got.filter(text).size() > 0; };
    pumpUntil([&] { return has(R"("command":"route","output":1,"input":4,"ok":true)") && has("from 1 to 2"); });
    QStringList order;
    for (const QString& t : got.filter(R"("command":"route")"))
        order << t.mid(t.indexOf(R"("output")"), 20);
    EXPECT_EQ(order.join(" ").toStdString(), R"("output":2,"input":1 "output":2,"input":3 "output":2,"input":2 "output":1,"input":4)");
    EXPECT_TRUE(has(R"({"id":"hall","time":")")) << got.join("\n").toStdString();
    EXPECT_TRUE(has(R"("output":1,"route":4,"was":1})")) << got.join("\n").toStdString();
    EXPECT_TRUE(has(R"("command":"route","output":1,"input":4,"ok":true)")) << got.join("\n").toStdString();
    EXPECT_TRUE(has(R"({"error":"\"output\" must be a whole number from 1 to 2"})")) << got.join("\n").toStdString();
    // With a ref the sender also gets the answer, with the state read back; a refusal says its ref.
    ws.sendTextMessage(R"({"id":"hall","command":"route","output":2,"input":4,"ref":"a1"})");
    ws.sendTextMessage(R"({"id":"hall","command":"route","output":0,"input":4,"ref":"a2"})");
    for (const QString& bad : {QString("7"), '"' + QString(65, 'r') + '"'})
        ws.sendTextMessage(R"({"id":"hall","command":"route","output":2,"input":4,"ref":)" + bad + "}");
    pumpUntil([&] { return has(R"({"ref":"a1")"); });
    EXPECT_TRUE(has(R"({"ref":"a1","ok":true,"command":"route","switcher":{"id":"hall","online":true,)")) << got.join("\n").toStdString();
    EXPECT_TRUE(has(R"({"output":2,"signal":true,"input":4}])")) << got.join("\n").toStdString();
    EXPECT_TRUE(has(R"({"ref":"a2","ok":false,"error":"\"output\" must be a whole number from 1 to 2"})")) << got.join("\n").toStdString();
    EXPECT_EQ(got.filter(R"({"error":"\"ref\" must be a string of at most 64 bytes"})").size(), 2) << got.join("\n").toStdString();
    // A change made elsewhere (a source appears on input 3) reaches the stream by the reading.
    serial->Control("input 3 on");
    pumpUntil([&] { return has(R"("input":3,"signal":true,"was":false)"); });
    EXPECT_TRUE(has(R"({"id":"hall")")) << got.join("\n").toStdString();
    EXPECT_TRUE(has(R"("input":3,"signal":true,"was":false)")) << got.join("\n").toStdString();
    // Stopped while stream commands (which wait for no answer) queue behind a silent switcher:
    // the service ends cleanly. The refused last one says the ones before it were taken.
    serial->Signal(SIGSTOP);
    for (int input = 1; input <= 3; ++input)
        ws.sendTextMessage(QString(R"({"id":"hall","command":"route","output":1,"input":%1})").arg(input));
    ws.sendTextMessage(R"({"id":"hall","command":"route","output":0,"input":4})");
    pumpUntil([&] { return has("from 1 to 2\"}") && got.filter("from 1 to 2").size() >= 2; });
    EXPECT_EQ(service->Terminate(), 0) << service->log;
    serial->Signal(SIGCONT);
}

// 1,000 requests from 20 clients on two switchers: each carried out once, and in the order the
// service took them (its stream of results).
TEST_F(ServiceTest, ManyClientsEachCommandOnceInOrder)
{
    tcp.reset();
    serial.reset();
    tcp = std::make_unique<SimProcess>(std::vector<std::string>{"--tcp", "0"}, dir.path);
    simPort = tcp->Find("tcp: 127.0.0.1:(\\d+)");
    serial = std::make_unique<SimProcess>(std::vector<std::string>{"--serial", "com211"}, dir.path);
    Start({"--interval", "60000"});
    // What each emulator received, in its order: "rx A5 5B 02 03 IN 00 OUT ..." (output, input).
    std::map<std::string, std::vector<std::string>> received, streamed;
    std::vector<std::thread> readers;
    for (auto [id, sim] : {std::pair{"lobby", tcp.get()}, std::pair{"hall", serial.get()}}) {
        readers.emplace_back([&received, id = std::string(id), sim] {
            const std::regex set("rx A5 5B 02 03 0(\\d) 00 0(\\d)");
            for (std::string line = sim->ReadLine(3000); !line.empty(); line = sim->ReadLine(3000)) {
                std::smatch m;
                if (std::regex_search(line, m, set))
                    received[id].push_back(m[2].str() + " " + m[1].str());
            }
        });
    }
    PumpUntil([] { return true; });
    QWebSocket ws;
    QObject::connect(&ws, &QWebSocket::textMessageReceived, [&](const QString& t) {
        std::smatch m;
        const std::string text = t.toStdString();
        if (std::regex_search(text, m, std::regex(R"re("id":"(\w+)".*"command":"route","output":(\d),"input":(\d),"ok":true)re")))
            streamed[m[1].str()].push_back(m[2].str() + " " + m[3].str());
    });
    ws.open(QUrl(QString("ws://127.0.0.1:%1/api/events").arg(service->port)));
    PumpUntil([&] { return ws.state() == QAbstractSocket::ConnectedState; });
    std::atomic<int> failed{0}, running{20};
    std::vector<std::thread> clients;
    for (int c = 0; c < 20; ++c) {
        clients.emplace_back([&, c] {
            for (int k = 0; k < 50; ++k) {
                const std::string id = (c + k) % 2 ? "lobby" : "hall";
                const std::string body = R"({"output":)" + std::to_string(1 + k % 2) + R"(,"input":)" +
                                         std::to_string(1 + (c + k) % 4) + "}";
                const HttpReply r = service->Post("/api/switchers/" + id + "/route", body);
                failed += r.status != 200 || r.body.find(R"("ok":true)") == std::string::npos;
            }
            --running;
        });
    }
    PumpUntil([&] { return running == 0 && streamed["lobby"].size() + streamed["hall"].size() >= 1000; });
    for (auto& t : clients)
        t.join();
    EXPECT_EQ(failed, 0);
    for (auto& t : readers)
        t.join();
    for (const char* id : {"lobby", "hall"}) {
        EXPECT_EQ(received[id].size(), 500u) << id;
        EXPECT_EQ(received[id], streamed[id]) << id;
    }
}

// A switcher that goes silent and one that is killed slow no other: the routes on the working
// one take about as long as before.
TEST_F(ServiceTest, ALostSwitcherDoesNotSlowTheOthers)
{
    SimProcess third(std::vector<std::string>{"--tcp", "0", "--quiet"}, dir.path);
    // By name: its reconnections look the name up, off the loop the others share.
    Start({"--host", "localhost:" + third.Find("tcp: 127.0.0.1:(\\d+)") + "=third"});
    ASSERT_TRUE(Said("third: switcher online"));
    const auto routes = [&] {
        const auto start = std::chrono::steady_clock::now();
        for (int k = 0; k < 20; ++k)
            EXPECT_EQ(service->Post("/api/switchers/lobby/route", R"({"output":1,"input":)" + std::to_string(1 + k % 4) + "}").status, 200);
        return std::chrono::steady_clock::now() - start;
    };
    const auto alone = routes();
    serial->Signal(SIGSTOP);  // silent: its reading and a command wait out their timers
    std::thread waiting([&] { service->Post("/api/switchers/hall/route", R"({"output":1,"input":2})"); });
    third.Signal(SIGKILL);
    third.Wait();
    ASSERT_TRUE(Said("third: switcher offline"));
    const auto beside = routes();
    EXPECT_LT(beside, alone * 3 + std::chrono::milliseconds(200));
    serial->Signal(SIGCONT);
    waiting.join();
}

// What the service refuses to start with. Off loopback: no start without a token file only the
// service's user may read; every call then needs the token (inside a network namespace of the
// test's own, on an address of it).
TEST(ServiceStart, RefusalsAndTheTokenOffLoopback)
{
    TempDir dir;
    const std::string token = dir.path + "/token";
    std::ofstream(token) << "s3cret\n";
    chmod(token.c_str(), 0644);
    struct Refusal {
        std::vector<std::string> args;
        std::string line;
    } const refusals[] = {
        {{"--host", "127.0.0.1", "--web", "192.0.2.1:8080"}, "give --token-file FILE too"},
        {{"--host", "127.0.0.1", "--web", "192.0.2.1:8080", "--token-file", token}, "others may read or write it"},
        {{"--host", "127.0.0.1", "--host", "127.0.0.1:8000"}, "two switchers have the id '127_0_0_1_8000'"},
        {{"--broker", "127.0.0.1:1", "--host", "127.0.0.1=a", "--username", "u", "--password-file", token},
         "--password-file " + token + ": others may read or write it"},
    };
    for (const Refusal& r : refusals) {
        std::vector<std::string> words{CORVANED_PATH};
        words.insert(words.end(), r.args.begin(), r.args.end());
        CChildProcess p(words);
        EXPECT_NE(p.LineWith(r.line, kServiceBoundMs), "") << p.log;
        EXPECT_EQ(p.Wait(), 2);
    }
    chmod(token.c_str(), 0600);

    if (geteuid() != 0)
        GTEST_SKIP() << "network namespaces need root; running as uid " << geteuid();
    const std::string ip = IpTool();
    if (ip.empty())
        GTEST_SKIP() << "`ip` (iproute2) not found";
    CNamespaces spaces(ip);
    std::string error;
    const std::string ns = spaces.Add("service", error);
    if (ns.empty())
        GTEST_SKIP() << "network namespaces cannot be made here: " << error;
    for (std::vector<std::string> w : {std::vector<std::string>{"link", "set", "lo", "up"},
                                       {"link", "add", "site0", "type", "veth", "peer", "name", "site1"},
                                       {"address", "add", "192.0.2.1/24", "dev", "site0"},
                                       {"link", "set", "site0", "up"}}) {
        w.insert(w.begin(), {ip, "-n", ns});
        const RunResult r = RunProgram(w);
        ASSERT_EQ(r.status, 0) << r.output;
    }
    const std::vector<std::string> inside{ip, "netns", "exec", ns};
    SimProcess sim({"--tcp", "0", "--quiet"}, dir.path, inside);
    // Bound to every address: the namespace's own address is a name of it, as clients reach it.
    Service service({"--host", "127.0.0.1:" + sim.Find("tcp: 127.0.0.1:(\\d+)") + "=desk", "--web", "0.0.0.0:0",
                     "--token-file", token},
                    dir.path, inside);
    ASSERT_NE(service.LineWith("desk: switcher online"), "");
    CInNamespace in(ns);
    ASSERT_TRUE(in.Entered()) << in.error;
    struct Case {
        std::string auth;
        int status;
    } const cases[] = {
        {"", 401}, {"Authorization: Bearer wrong\r\n", 401}, {"Authorization: Basic czNjcmV0\r\n", 401},
        {"Authorization: Bearer s3cret\r\n", 200},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.auth);
        EXPECT_EQ(Http(service.port, Request("GET", "/api/switchers/desk", "", c.auth, "192.0.2.1"), "192.0.2.1").status, c.status);
    }
    // A foreign name is refused whatever the token.
    EXPECT_EQ(Http(service.port, Request("GET", "/api/switchers", "", "Authorization: Bearer s3cret\r\n", "evil.example"), "192.0.2.1").status, 421);
}

}  // namespace
}  // namespace corvane::test
