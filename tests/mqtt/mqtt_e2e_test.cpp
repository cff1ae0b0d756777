// corvane-mqtt as it runs on a site: a real Mosquitto broker on loopback, the emulator as the
// switcher over a pseudo-terminal or TCP, the bridge, and a client watching the broker.
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <thread>

#include "tests/cli/ctl_run.h"
#include "tests/mqtt/mqtt_process.h"

namespace corvane::test {
namespace {

const std::string kP = "site/matrix";  // the bridge's prefix in these tests

enum class LinkKind { Serial, Tcp };

class MqttBridge : public ::testing::TestWithParam<LinkKind> {
protected:
    bool Serial() const { return GetParam() == LinkKind::Serial; }
    void SetUp() override { broker = std::make_unique<Broker>(dir.path); }
    void StartSim(std::vector<std::string> extra = {"--quiet"})
    {
        if (!simPort)
            simPort = FreePort();
        std::vector<std::string> a = Serial() ? std::vector<std::string>{"--serial", "com210"}
                                              : std::vector<std::string>{"--tcp", "127.0.0.1:" + std::to_string(simPort)};
        a.push_back("--control");
        a.insert(a.end(), extra.begin(), extra.end());
        sim = std::make_unique<SimProcess>(a, dir.path);
        ASSERT_NE(sim->first.find(Serial() ? "serial: com210" : "tcp: 127.0.0.1"), std::string::npos) << sim->first;
    }
    std::vector<std::string> LinkArgs() const
    {
        return Serial() ? std::vector<std::string>{"--port", "COM210"}
                        : std::vector<std::string>{"--host", "127.0.0.1:" + std::to_string(simPort)};
    }
    std::unique_ptr<Child> Bridge(std::vector<std::string> args, bool withBroker = true)
    {
        if (withBroker)
            args.insert(args.begin(), {"--broker", "127.0.0.1:" + std::to_string(broker->port)});
        return std::make_unique<Child>(CORVANE_MQTT_PATH, args, std::vector<std::string>{"CORVANE_PORT_DIR=" + dir.path});
    }
    void StartBridge(std::vector<std::string> extra = {}, const std::string& interval = "300")
    {
        std::vector<std::string> a = {"--prefix", kP, "--interval", interval};
        const auto link = LinkArgs();
        a.insert(a.end(), link.begin(), link.end());
        a.insert(a.end(), extra.begin(), extra.end());
        bridge = Bridge(a);
        ASSERT_NE(bridge->LineWith("switcher online"), "") << bridge->log;
        // On the broker too: a client that subscribes from now on finds it retained.
        Watcher sync(broker->port, {kP + "/switcher/availability"});
        ASSERT_GE(sync.Await(kP + "/switcher/availability", "online"), 0);
    }
    // The result of the command at index `from` on, or "" when none comes.
    std::string ResultOf(Watcher& w, std::size_t from)
    {
        const int k = w.Await([](const Watcher::Msg& m) { return m.topic == kP + "/result"; }, from);
        return k < 0 ? "" : w.On("/result", std::size_t(k)).front().payload;
    }
    // The emulator's lines received since the last call, once it has been quiet for a moment.
    std::vector<std::string> SimFrames()
    {
        std::vector<std::string> lines;
        for (std::string l = sim->ReadLine(300); !l.empty(); l = sim->ReadLine(300))
            if (l.find(" rx ") != std::string::npos)
                lines.push_back(l);
        return lines;
    }

    TempDir dir;
    std::unique_ptr<Broker> broker;
    std::unique_ptr<SimProcess> sim;
    std::unique_ptr<Child> bridge;
    int simPort = 0;
};

INSTANTIATE_TEST_SUITE_P(Links, MqttBridge, ::testing::Values(LinkKind::Serial, LinkKind::Tcp),
                         [](const auto& info) { return info.param == LinkKind::Serial ? "Serial" : "Tcp"; });

TEST_P(MqttBridge, PublishesDiscoveryAndEveryStateRetainedThenOnlyChanges)
{
    StartSim({"--quiet", "--signals", "1010:01"});
    StartBridge();
    const std::pair<std::string, std::string> state[] = {
        {"input/1/signal", "ON"},   {"input/2/signal", "OFF"}, {"input/3/signal", "ON"},
        {"input/4/signal", "OFF"},  {"output/1/signal", "OFF"}, {"output/2/signal", "ON"},
        {"output/1/input", "1"},    {"output/2/input", "2"},    {"beep", "ON"},
        {"dvi", "OFF"},             {"input/1/edid", "Default EDID"}, {"input/4/edid", "Default EDID"},
        {"device", "Device: Corvane 4x2     Version:1.32-20261207"}, {"availability", "online"},
        {"switcher/availability", "online"}};
    // Until the bridge has published everything: the documents are sent again, whole, once the
    // device is known (its model and version in each), which may come after a first set; then a
    // subscriber finds all eighteen retained with the model.
    for (const SBound bound(kBoundMs);;) {
        Watcher first(broker->port, {"homeassistant/#"});
        const auto docs = first.On("/config");
        if (docs.size() == 18 && std::all_of(docs.begin(), docs.end(), [](const Watcher::Msg& m) {
                return m.payload.find("\"sw_version\":\"1.32-20261207\"") != std::string::npos;
            }))
            break;
        ASSERT_GT(bound.Left(), 0) << docs.size() << " documents retained, not all with the device";
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    Watcher w(broker->port);
    for (const auto& [topic, payload] : state) {
        const auto got = w.On(kP + "/" + topic);
        ASSERT_EQ(got.size(), 1u) << topic;
        EXPECT_EQ(got[0].payload, payload) << topic;
        EXPECT_TRUE(got[0].retain) << topic;
    }
    // One device with eighteen entities, each with both availability topics but the link's.
    const char* configs[] = {"select/corvane_%/output_1", "select/corvane_%/output_2", "select/corvane_%/input_1_edid",
                             "select/corvane_%/input_4_edid", "switch/corvane_%/beep", "switch/corvane_%/dvi",
                             "binary_sensor/corvane_%/input_3_signal", "binary_sensor/corvane_%/output_2_signal",
                             "sensor/corvane_%/device", "button/corvane_%/refresh", "sensor/corvane_%/last_command"};
    const std::string id = "site_matrix";  // from the prefix
    for (std::string c : configs) {
        c.replace(c.find('%'), 1, id);
        const int k = w.Await([&](const Watcher::Msg& m) { return m.topic == "homeassistant/" + c + "/config"; });
        ASSERT_GE(k, 0) << c;
        const Watcher::Msg m = w.On(c + "/config", std::size_t(k)).front();
        EXPECT_TRUE(m.retain);
        EXPECT_NE(m.payload.find("{\"topic\":\"" + kP + "/availability\"},{\"topic\":\"" + kP + "/switcher/availability\"}"),
                  std::string::npos) << m.payload;
        EXPECT_NE(m.payload.find("\"model\":\"Corvane 4x2\",\"sw_version\":\"1.32-20261207\""), std::string::npos);
    }
    EXPECT_EQ(w.On("/config").size(), 18u);

    // Changes behind the bridge's back: published within an interval, and nothing else is.
    const std::size_t from = w.Count();
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(sim->Control("input 2 on"));
    ASSERT_GE(w.Await(kP + "/input/2/signal", "ON", from), 0);
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    EXPECT_LT(took.count(), 300 + 1500) << "an interval and a reading, on a busy machine";
    ASSERT_TRUE(sim->Control("output 1 on"));
    ASSERT_GE(w.Await(kP + "/output/1/signal", "ON", from), 0);
    EXPECT_EQ(w.Count() - from, 2u);

    // Removal is refused while it runs; stopped (by a hang-up), it says so; --remove-discovery then leaves
    // nothing of it retained.
    auto early = Bridge({"--prefix", kP, "--remove-discovery", LinkArgs()[0], LinkArgs()[1]});
    EXPECT_NE(early->LineWith("is running (" + kP + "/availability is online): stop it first, or give --force"), "");
    EXPECT_EQ(early->Wait(), 1);
    kill(bridge->Pid(), SIGHUP);
    EXPECT_EQ(bridge->Wait(), 0) << bridge->log;
    EXPECT_EQ(bridge->LineWith("lost broker"), "") << "the removal took the bridge's session";
    EXPECT_GE(w.Await(kP + "/availability", "offline", from), 0);
    auto remover = Bridge({"--prefix", kP, "--remove-discovery", LinkArgs()[0], LinkArgs()[1]});
    EXPECT_EQ(remover->Wait(), 0) << remover->LineWith("never");
    Watcher after(broker->port, {"homeassistant/#", kP + "/#"});
    EXPECT_EQ(after.Count(), 0u);
}

TEST_P(MqttBridge, CommandsChangeTheSwitcherAndAreReadBack)
{
    StartSim();
    std::filesystem::create_directory(dir.path + "/scenes");
    std::ofstream(dir.path + "/scenes/movie.json")
        << R"({"format":"corvane-scene","version":1,"routes":[{"output":1,"input":4},{"output":2,"input":3}],)"
           R"("beep":false,"dvi":true,"edids":[{"input":1,"kind":"unknown"},{"input":2,"kind":"unknown"},)"
           R"({"input":3,"kind":"unknown"},{"input":4,"kind":"unknown"}]})";
    std::ofstream(dir.path + "/scenes/bad\nname.json") << "{";
    StartBridge({"--scenes", dir.path + "/scenes"});
    EXPECT_NE(bridge->log.find("/scenes/bad\\x0Aname.json: line 1"), std::string::npos) << "one line: " << bridge->log;
    Watcher w(broker->port);
    const std::string scene =
        R"({"format":"corvane-scene","version":1,"routes":[{"output":1,"input":2},{"output":2,"input":1}],)"
        R"("beep":true,"dvi":false,"edids":[{"input":1,"kind":"preset","name":"4K2K,HD Audio 7.1"},)"
        R"({"input":2,"kind":"preset","name":"Default EDID"},{"input":3,"kind":"unknown"},{"input":4,"kind":"unknown"}]})";
    struct Case {
        std::string topic, payload, stateTopic, state;
    } const cases[] = {
        {"output/1/input", "3", "output/1/input", "3"},
        {"output/2/input", "IN 4", "output/2/input", "4"},
        {"beep", "OFF", "beep", "OFF"},
        {"dvi", "on", "dvi", "ON"},
        {"input/3/edid", "DVI 1920x1080", "input/3/edid", "DVI 1920x1080"},
        {"input/2/edid", "default edid", "input/2/edid", "1080p,Stereo Audio 2.0"},
        {"preset", "movie", "preset", "movie"},
        {"scene/apply", scene, "input/1/edid", "4K2K,HD Audio 7.1"},
        {"refresh", "PRESS", "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.topic);
        const std::size_t from = w.Count();
        w.Publish(kP + "/" + c.topic + "/set", c.payload);
        const std::string result = ResultOf(w, from);
        EXPECT_EQ(result.rfind("{\"command\":\"" + c.topic + "\"", 0), 0u) << result;
        EXPECT_NE(result.find("\"ok\":true,\"error\":\"\""), std::string::npos) << result;
        if (!c.stateTopic.empty()) {
            EXPECT_GE(w.Await(kP + "/" + c.stateTopic, c.state, from), 0);
        }
    }
    // The emulator holds what the state topics show.
    EXPECT_EQ(bridge->Terminate(), 0);
    const Result status = Ctl({"status", "--json", LinkArgs()[0], LinkArgs()[1]}, dir.path);
    for (const char* part : {"{\"input\":1,\"signal\":true,\"edid\":\"4K2K,HD Audio 7.1\"}",
                             "{\"input\":3,\"signal\":false,\"edid\":\"DVI 1920x1080\"}", "{\"output\":1,\"signal\":true,\"input\":2}",
                             "{\"output\":2,\"signal\":true,\"input\":1}", "\"beep\":true,\"dvi\":false"})
        EXPECT_NE(status.out.find(part), std::string::npos) << part << "\n" << status.out << status.err;
}

// A scene the switcher refuses part of: the result names the setting, in the bridge's own words.
TEST_P(MqttBridge, SceneRefusedInPartNamesTheSetting)
{
    StartSim({"--quiet", "--fault", "refuse:02 03 03 00 01"});
    StartBridge({"--trace"});
    Watcher w(broker->port);
    const std::size_t from = w.Count();
    w.Publish(kP + "/scene/apply/set",
              R"({"format":"corvane-scene","version":1,"routes":[{"output":1,"input":3},{"output":2,"input":4}],)"
              R"("beep":true,"dvi":false,"edids":[{"input":1,"kind":"unknown"},{"input":2,"kind":"unknown"},)"
              R"({"input":3,"kind":"unknown"},{"input":4,"kind":"unknown"}]})");
    const std::string result = ResultOf(w, from);
    EXPECT_NE(result.find("\"ok\":false"), std::string::npos) << result;
    EXPECT_NE(result.find("\"error\":\"the switcher refused route input 3 to output 1; output 1 did not take: the switcher shows IN 1"), std::string::npos)
        << result;
    EXPECT_EQ(result.find("corvanectl"), std::string::npos) << result;
    EXPECT_EQ(result.find("TX A5"), std::string::npos) << "frames go to standard error only";
    EXPECT_NE(bridge->LineWith("TX A5 5B 02 03 03 00 01 "), "") << bridge->log;
    EXPECT_GE(w.Await(kP + "/output/2/input", "4", from), 0) << "the rest of the scene was applied";
}

// Stopped while a scene apply waits for the beeper's answer: the changes after it are not made,
// nothing goes out but what the exchange under way still needs, and the bridge ends cleanly.
TEST_P(MqttBridge, StoppedDuringASceneApplySendsNothingMore)
{
    StartSim({"--fault", "delay=5000:06 01"});
    StartBridge({}, "10000");
    SimFrames();
    Watcher w(broker->port);
    w.Publish(kP + "/scene/apply/set",
              R"({"format":"corvane-scene","version":1,"routes":[{"output":1,"input":3},{"output":2,"input":4}],)"
              R"("beep":false,"dvi":true,"edids":[{"input":1,"kind":"preset","name":"3D,Dolby/DTS 5.1"},)"
              R"({"input":2,"kind":"unknown"},{"input":3,"kind":"unknown"},{"input":4,"kind":"unknown"}]})");
    ASSERT_NE(sim->LineWith(" rx A5 5B 06 01 "), "");
    EXPECT_EQ(bridge->Terminate(), 0) << bridge->log;
    EXPECT_EQ(SimFrames(), std::vector<std::string>{}) << "sent after the stop";
}

// The read-back of an EDID set answered late, inside its resend window: the set is done, and
// the switcher stays online.
TEST_P(MqttBridge, EdidSetWhoseReadBackIsLateIsDone)
{
    StartSim({"--quiet", "--fault", "delay=3500:01 0C 01:2-3"});
    StartBridge({}, "10000");
    Watcher w(broker->port);
    const std::size_t from = w.Count();
    w.Publish(kP + "/input/1/edid/set", "DVI 1920x1080");
    const std::string result = ResultOf(w, from);
    EXPECT_NE(result.find("\"ok\":true,\"error\":\"\""), std::string::npos) << result;
    EXPECT_GE(w.Await(kP + "/input/1/edid", "DVI 1920x1080", from), 0);
    EXPECT_LT(w.Await(kP + "/switcher/availability", "offline", from), 0);
}

TEST_P(MqttBridge, BurstOfTwentyCommandsEachCarriedOutOnceInOrder)
{
    StartSim({});  // not quiet: every frame the switcher receives is on its output
    StartBridge({"--mqtt-version", "5"}, "60000");
    SimFrames();
    Watcher w(broker->port, {kP + "/#"}, MQTT_PROTOCOL_V5);
    const std::size_t from = w.Count();
    for (int k = 0; k < 20; ++k)
        w.Publish(kP + "/output/" + std::to_string(k % 2 + 1) + "/input/set", std::to_string(k * 3 % 4 + 1));
    ASSERT_TRUE(w.AwaitCount("/result", 20, from));
    const auto results = w.On("/result", from);
    for (int k = 0; k < 20; ++k)
        EXPECT_EQ(results[k].payload, "{\"command\":\"output/" + std::to_string(k % 2 + 1) + "/input\",\"value\":\"" +
                                          std::to_string(k * 3 % 4 + 1) + "\",\"ok\":true,\"error\":\"\"}");
    int sets = 0;
    for (const auto& line : SimFrames())
        sets += line.find(" rx A5 5B 02 03 ") != std::string::npos;
    EXPECT_EQ(sets, 20);
    EXPECT_EQ(w.On("/output/1/input", from).back().payload, std::to_string(18 * 3 % 4 + 1));
    EXPECT_EQ(w.On("/output/2/input", from).back().payload, std::to_string(19 * 3 % 4 + 1));
    // A request with a response topic: the result goes there too, with its correlation data.
    Child request("/usr/bin/mosquitto_rr", {"-p", std::to_string(broker->port), "-t", kP + "/beep/set", "-e", "reply/7",
                                            "-m", "OFF", "-D", "publish", "correlation-data", "c42", "-F", "%D|%p", "-W", "20"}, {});
    EXPECT_NE(request.LineWith("c42|{\"command\":\"beep\",\"value\":\"OFF\",\"ok\":true"), "") << request.log;
}

TEST_P(MqttBridge, RetainedMalformedAndUnknownCommandsSendNothing)
{
    StartSim({});
    Watcher w(broker->port);
    w.Publish(kP + "/beep/set", "OFF", true);  // left on the broker before the bridge came
    ASSERT_GE(w.Await(kP + "/beep/set", "OFF"), 0);
    StartBridge({}, "60000");
    const std::string ignored = "retained message on " + kP + "/beep/set ignored";
    EXPECT_TRUE(bridge->log.find(ignored) != std::string::npos || !bridge->LineWith(ignored).empty()) << bridge->log;
    SimFrames();
    w.Publish(kP + "/beep/set", "", true);  // clearing it is no command: no result
    struct Case {
        std::string topic, payload, error;
    } const cases[] = {
        {"output/1/input", "5", "expected an input, 1 to 4"},
        {"output/1/input", std::string(1 << 20, '1'), "a payload of 1048576 bytes; at most 256 are taken"},
        {"scene/apply", std::string(4000001, ' '), "a payload of 4000001 bytes; at most 1048576 are taken"},
        {"beep", "on\nforged", "expected ON or OFF, not \\\"on\\\\x0aforged\\\""},
        {"output/3/input", "1", "unknown command topic"},
        {"beep", "loud", "expected ON or OFF"},
        {"input/2/edid", "1080p", "\\\"1080p\\\" is not an EDID of the switcher's list"},
        {"input/5/edid", "DVI 1024x768", "unknown command topic"},
        {"scene/apply", "{\"format\":\"corvane-scene\",\"version\":1}", "not a scene: "},
        {"scene/apply", "{\"format\":\"corvane-scene\",\"version\":1,", "not a scene: line 1"},
        {"switcher/reboot", "now", "unknown command topic"},
        {"preset", "movie", "no preset \\\"movie\\\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.topic + " " + c.payload);
        const std::size_t from = w.Count();
        w.Publish(kP + "/" + c.topic + "/set", c.payload);
        const std::string result = ResultOf(w, from);
        EXPECT_NE(result.find("\"ok\":false,\"error\":\"" + c.error), std::string::npos) << result;
        EXPECT_LT(result.size(), 1000u);
    }
    EXPECT_NE(bridge->LineWith("beep \"on\\x0aforged\": expected ON or OFF"), "") << bridge->log;
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    std::ifstream status("/proc/" + std::to_string(bridge->Pid()) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0) {
            EXPECT_LT(std::stol(line.substr(6)), 40 * 1024) << line;  // kB, at the highest
        }
#endif
    EXPECT_EQ(SimFrames(), std::vector<std::string>{});
    EXPECT_EQ(w.On("/result").size(), std::size(cases)) << "the retained command has no result";
    EXPECT_EQ(w.On(kP + "/beep").back().payload, "ON");
}

TEST_P(MqttBridge, SwitcherSilentHungUpAndBack)
{
    StartSim();
    StartBridge();
    Watcher w(broker->port, {kP + "/#"});
    std::size_t from = w.Count();
    // Silent: every command still gets its result, the queue stays bounded.
    kill(sim->Pid(), SIGSTOP);
    for (int k = 0; k < 80; ++k)
        w.Publish(kP + "/output/1/input/set", std::to_string(k % 4 + 1));
    EXPECT_GE(w.Await(kP + "/switcher/availability", "offline", from), 0);
    ASSERT_TRUE(w.AwaitCount("/result", 80, from));
    int refused = 0;
    for (const auto& r : w.On("/result", from)) {
        EXPECT_NE(r.payload.find("\"ok\":false"), std::string::npos) << r.payload;
        refused += r.payload.find("commands wait already") != std::string::npos;
    }
    EXPECT_GE(refused, 80 - 64 - 1);
    kill(sim->Pid(), SIGCONT);
    // At the latest after the longest back-off and one more reading's time-out.
    ASSERT_GE(w.Await(kP + "/switcher/availability", "online", from, 10000 + 7000 + 3000), 0);
    from = w.Count();
    w.Publish(kP + "/output/2/input/set", "4");
    EXPECT_NE(ResultOf(w, from).find("\"ok\":true"), std::string::npos) << ResultOf(w, from);
    EXPECT_EQ(w.On("/result", from).size(), 1u) << "each command answered once";

    // Hung up, then back where it was.
    from = w.Count();
    EXPECT_EQ(sim->Terminate(), 0);
    ASSERT_GE(w.Await(kP + "/switcher/availability", "offline", from), 0);
    StartSim();
    ASSERT_GE(w.Await(kP + "/switcher/availability", "online", from), 0);
    EXPECT_GE(w.Await(kP + "/output/2/input", "2", from), 0) << "the new switcher's route";
}

TEST_P(MqttBridge, BrokerRestartedGetsEveryStateAgain)
{
    StartSim();
    StartBridge();
    broker->Stop();
    ASSERT_NE(bridge->LineWith("lost broker 127.0.0.1:" + std::to_string(broker->port) +
                               ": The connection was lost; reconnecting"), "") << bridge->log;
    ASSERT_TRUE(sim->Control("input 4 on"));  // while the broker is away
    broker->Start();
    ASSERT_NE(bridge->LineWith("connected to broker"), "") << bridge->log;
    Watcher w(broker->port);
    for (const auto& [topic, payload] : {std::pair{kP + "/availability", "online"},
                                         {kP + "/switcher/availability", "online"},
                                         {kP + "/input/4/signal", "ON"},
                                         {kP + "/device", "Device: Corvane 4x2     Version:1.32-20261207"}})
        EXPECT_GE(w.Await(topic, payload), 0) << topic;
    EXPECT_TRUE(w.AwaitCount("/config", 18));
    std::size_t from = w.Count();
    w.Publish(kP + "/dvi/set", "ON");
    EXPECT_NE(ResultOf(w, from).find("\"ok\":true"), std::string::npos);
    // Home Assistant started again: it is told the device and every state again.
    from = w.Count();
    w.Publish("homeassistant/status", "online");
    EXPECT_TRUE(w.AwaitCount("/config", 18, from));
    EXPECT_GE(w.Await(kP + "/input/4/signal", "ON", from), 0);
}

class MqttBridgeTcp : public MqttBridge {};
INSTANTIATE_TEST_SUITE_P(Link, MqttBridgeTcp, ::testing::Values(LinkKind::Tcp));

// Started with the switcher unreachable: the device and an offline switcher on the broker at
// once. Killed, its last will stays; started again with the switcher silent, the switcher is
// offline before the bridge says it is back.
TEST_P(MqttBridgeTcp, StartsBeforeTheSwitcherAnswersAndAfterAnUncleanEnd)
{
    simPort = FreePort();
    const std::string p = "corvane/hall";
    const std::vector<std::string> args = {"--id", "hall", "--interval", "300", LinkArgs()[0], LinkArgs()[1]};
    Watcher w(broker->port);
    bridge = Bridge(args);
    ASSERT_TRUE(w.AwaitCount("/config", 18));
    const int offline = w.Await(p + "/switcher/availability", "offline"), online = w.Await(p + "/availability", "online");
    EXPECT_GE(offline, 0);
    EXPECT_LT(offline, online) << "states first, then online";
    StartSim();
    ASSERT_GE(w.Await(p + "/switcher/availability", "online"), 0);
    kill(bridge->Pid(), SIGKILL);
    bridge->Wait();
    {
        Watcher after(broker->port, {p + "/availability"});
        ASSERT_GE(after.Await(p + "/availability", "offline"), 0);
        EXPECT_TRUE(after.On(p + "/availability").back().retain);
    }
    kill(sim->Pid(), SIGSTOP);
    const std::size_t from = w.Count();
    bridge = Bridge(args);
    const int silent = w.Await(p + "/switcher/availability", "offline", from), back = w.Await(p + "/availability", "online", from);
    EXPECT_GE(silent, 0);
    EXPECT_LT(silent, back);
    kill(sim->Pid(), SIGCONT);
}

// The broker's password from a file, read through a configuration file.
TEST(MqttBridgeLogin, PasswordFileAndConfigFile)
{
    TempDir dir;
    Child passwd("/usr/bin/mosquitto_passwd", {"-b", "-c", dir.path + "/passwd", "bridge", "s3cret"}, {});
    ASSERT_EQ(passwd.Wait(), 0) << passwd.LineWith("never");
    Broker broker(dir.path, "allow_anonymous false\npassword_file " + dir.path + "/passwd\n");
    SimProcess sim({"--serial", "com211", "--quiet"}, dir.path);
    const std::string conf = dir.path + "/room.conf", secret = dir.path + "/secret";
    std::ofstream(conf) << "# room 1\nbroker = 127.0.0.1:" << broker.port
                        << "\nport = COM211\nusername = bridge\npassword-file = " << secret << "\ninterval = 500\n";
    const std::vector<std::string> env = {"CORVANE_PORT_DIR=" + dir.path};
    struct Case {
        std::string password;
        mode_t mode;
        int status;  // -1: runs until stopped
        std::string line;
    } const cases[] = {
        {"s3cret\n", 0644, 2, "others may read or write it; refused"},
        {"wrong\n", 0600, -1, "refused the connection: Connection Refused: not authorised"},
        {"s3cret\n", 0600, -1, "switcher online"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        std::ofstream(secret, std::ios::trunc) << c.password;
        chmod(secret.c_str(), c.mode);
        Child bridge(CORVANE_MQTT_PATH, {"--config", conf}, env);
        EXPECT_NE(bridge.LineWith(c.line), "") << bridge.log;
        EXPECT_EQ(c.status < 0 ? bridge.Terminate() : bridge.Wait(), c.status < 0 ? 0 : c.status);
    }
    Child commandLine(CORVANE_MQTT_PATH, {"--config", conf, "--password", "x"}, env);
    EXPECT_NE(commandLine.LineWith("never from the command line"), "");
    EXPECT_EQ(commandLine.Wait(), 2);
    Child noCa(CORVANE_MQTT_PATH, {"--config", conf, "--tls-ca", dir.path + "/none.pem"}, env);
    EXPECT_NE(noCa.LineWith("MQTT client: "), "");
    EXPECT_EQ(noCa.Wait(), 1);
    for (const char* word : {"--help", "--version"}) {
        Child asked(CORVANE_MQTT_PATH, {word}, env);
        EXPECT_EQ(asked.Wait(), 0) << word;
    }
}

}  // namespace
}  // namespace corvane::test
