// The bridge's words without a broker: ids, command payloads and the settings it starts with.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <tuple>

#include "mqtt/bridge.h"
#include "mqtt/options.h"
#include "mqtt/topics.h"
#include "tests/support/sim_process.h"

namespace corvane::mqtt {
namespace {

TEST(MqttIds, TopicSafeFromEveryAddress)
{
    const std::pair<SLinkAddress, std::string> cases[] = {
        {{"", "192.168.1.20", false}, "192_168_1_20_8000"},
        {{"", "10.0.0.7:8001", false}, "10_0_0_7_8001"},
        {{"COM200", "", false}, "com200"},
        {{"/dev/serial/by-id/usb-FTDI_#1+x", "", false}, "dev_serial_by-id_usb-ftdi_1_x"},
    };
    for (const auto& [address, id] : cases)
        EXPECT_EQ(SwitcherId(address, ""), id);
    // The id, the prefix and the client id of a bridge: the same device wherever the switcher
    // moves, a session of its own on every machine.
    const std::string machine = MachineTag(), longId = std::string(62, 'H') + "-2";  // the longest
    const struct {
        std::vector<std::string> args;
        std::string id, prefix, clientId;
    } bridges[] = {
        {{"--host", "10.0.0.9", "--id", longId}, longId, "corvane/" + longId, "corvane-mqtt-" + longId + "-" + machine},
        {{"--port", "COM3", "--id=hall"}, "hall", "corvane/hall", "corvane-mqtt-hall-" + machine},
        {{"--host", "10.0.0.9", "--prefix", "Site/Matrix 1"}, "site_matrix_1", "Site/Matrix 1",
         "corvane-mqtt-site_matrix_1-" + machine},
        {{"--host", "10.0.0.9"}, "10_0_0_9_8000", "corvane/10_0_0_9_8000", "corvane-mqtt-10_0_0_9_8000-" + machine},
        {{"--host", "10.0.0.9", "--client-id", "mine"}, "10_0_0_9_8000", "corvane/10_0_0_9_8000", "mine"},
    };
    EXPECT_GE(machine.size(), 4u);
    for (const auto& b : bridges) {
        std::vector<std::string> args = {"--broker", "h"};
        args.insert(args.end(), b.args.begin(), b.args.end());
        std::string error;
        const auto o = ParseOptions(args, error);
        ASSERT_TRUE(o) << error;
        CBridge bridge(*o, "");
        EXPECT_EQ(bridge.Id(), b.id);
        EXPECT_EQ(bridge.ClientId(), b.clientId);
        EXPECT_EQ(bridge.Topics().prefix, b.prefix);
    }
}

TEST(MqttCommands, PayloadsCheckedBeforeAnythingIsSent)
{
    const STopics t{"a/b"};
    using K = SCommand::Kind;
    struct Case {
        std::string topic, payload;
        bool ok;
        K kind;
        int number, value;
        bool on;
    } const cases[] = {
        {"a/b/output/1/input/set", "4", true, K::Route, 1, 4, false},
        {"a/b/output/2/input/set", " in 2 ", true, K::Route, 2, 2, false},
        {"a/b/output/2/input/set", "IN 0", false, K::Route, 0, 0, false},
        {"a/b/output/0/input/set", "1", false, K::Route, 0, 0, false},
        {"a/b/output/12/input/set", "1", false, K::Route, 0, 0, false},
        {"a/b/beep/set", "off", true, K::Beep, 0, 0, false},
        {"a/b/dvi/set", "ON", true, K::Dvi, 0, 0, true},
        {"a/b/beep/set", "1", true, K::Beep, 0, 0, true},
        {"a/b/output//set", "1", false, K::Route, 0, 0, false},
        {"a/b/dvi/set", "ONN", false, K::Dvi, 0, 0, false},
        {"a/b/input/4/edid/set", "DVI 1920x1200", true, K::EdidPreset, 4, 14, false},
        {"a/b/input/1/edid/set", "Default EDID", true, K::EdidPreset, 1, 15, false},
        {"a/b/input/1/edid/set", "dvi 1920x1200", true, K::EdidPreset, 1, 14, false},
        {"a/b/input/1/edid/set", "16", false, K::EdidPreset, 0, 0, false},
        {"a/b/refresh/set", "", true, K::Refresh, 0, 0, false},
        {"a/b/preset/set", " movie ", true, K::Preset, 0, 0, false},
        // At most 256 bytes a command, a scene as large as a scene file: longer is refused unread.
        {"a/b/output/1/input/set", std::string(255, ' ') + "2", true, K::Route, 1, 2, false},
        {"a/b/output/1/input/set", std::string(256, ' ') + "2", false, K::Route, 0, 0, false},
        {"a/b/scene/apply/set", std::string(kSceneMaxBytes + 1, ' '), false, K::Scene, 0, 0, false},
        {"a/b/input/1/signal/set", "ON", false, K::Refresh, 0, 0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.topic + " " + c.payload);
        const SParsedCommand p = ParseCommand(t, c.topic, c.payload);
        EXPECT_EQ(p.ok, c.ok) << p.error;
        EXPECT_EQ(p.error.empty(), c.ok);
        EXPECT_LT(p.error.size(), 300u) << "the payload is never echoed whole";
        if (!c.ok)
            continue;
        EXPECT_EQ(p.command.kind, c.kind);
        EXPECT_EQ(p.command.number, c.number);
        EXPECT_EQ(c.kind == K::EdidPreset ? p.command.edid.position : p.command.value, c.value);
        EXPECT_EQ(p.command.on, c.on);
        EXPECT_EQ(p.command.preset, c.kind == K::Preset ? "movie" : "");
    }
    // A scene of exactly the largest size is read.
    const std::string scene = R"({"format":"corvane-scene","version":1,"routes":[{"output":1,"input":2},)"
                              R"({"output":2,"input":1}],"beep":true,"dvi":false,"edids":[{"input":1,"kind":"unknown"},)"
                              R"({"input":2,"kind":"unknown"},{"input":3,"kind":"unknown"},{"input":4,"kind":"unknown"}]})";
    EXPECT_TRUE(ParseCommand(t, "a/b/scene/apply/set", scene + std::string(kSceneMaxBytes - scene.size(), '\n')).ok);
    // What goes back into results and logs: short, one line, ASCII.
    const std::pair<std::string, std::string> excerpts[] = {
        {"on\nforged", "on\\x0aforged"}, {"a\\b", "a\\\\b"}, {"\x7f\x1f ~", "\\x7f\\x1f ~"},
        {"\xc3\xa9", "\\xc3\\xa9"},     {std::string(64, 'a'), std::string(64, 'a')},
        {std::string(65, 'a'), std::string(64, 'a') + "..."},
    };
    for (const auto& [text, shown] : excerpts)
        EXPECT_EQ(Excerpt(text), shown);
    EXPECT_LT(ResultJson("output/1/input", std::string(1 << 20, '\n'), {}).size(), 400u);
    // Not a command topic of this bridge: no name, so no result either.
    for (const char* topic : {"a/b/beep", "a/bc/beep/set", "x/a/b/beep/set", "a/b/set"})
        EXPECT_EQ(ParseCommand(t, topic, "ON").name, "") << topic;
}

// What Home Assistant is told of each kind of entity: the fragments it acts on.
TEST(MqttDiscovery, EachEntityWithWhatHomeAssistantNeeds)
{
    const STopics t{"a/b"};
    const auto docs = DiscoveryMessages(t, "ha", "hall", "hall", {}, {"movie", "night"});
    const std::string both = R"("availability":[{"topic":"a/b/availability"},{"topic":"a/b/switcher/availability"}],)"
                             R"("availability_mode":"all")";
    const std::pair<std::string, std::vector<std::string>> cases[] = {
        {"ha/binary_sensor/corvane_hall/input_4_signal/config", {R"("device_class":"connectivity")", both}},
        {"ha/binary_sensor/corvane_hall/output_1_signal/config", {R"("device_class":"connectivity")", both}},
        {"ha/button/corvane_hall/refresh/config", {R"("entity_category":"diagnostic")", both}},
        {"ha/sensor/corvane_hall/last_command/config",
         {R"("state_topic":"a/b/result","value_template":"{{ 'ok' if value_json.ok else 'failed' }}")",
          R"("json_attributes_topic":"a/b/result")", both}},
        // Shows the switcher's link while the switcher is away.
        {"ha/sensor/corvane_hall/link/config",
         {R"("state_topic":"a/b/switcher/availability","entity_category":"diagnostic","availability":[{"topic":"a/b/availability"}],)"}},
        {"ha/select/corvane_hall/preset/config",
         {R"("command_topic":"a/b/preset/set","options":["movie","night"])", R"("state_topic":"a/b/preset")", both}},
    };
    for (const auto& [topic, parts] : cases) {
        const auto doc = std::find_if(docs.begin(), docs.end(), [&](const SMessage& m) { return m.topic == topic; });
        ASSERT_NE(doc, docs.end()) << topic;
        for (const std::string& part : parts)
            EXPECT_NE(doc->payload.find(part), std::string::npos) << part << "\n" << doc->payload;
        EXPECT_NE(doc->payload.find(R"("identifiers":["corvane_hall"],"name":"Corvane hall"},"origin":{"name":"corvane-mqtt")"),
                  std::string::npos) << doc->payload;
    }
    EXPECT_EQ(docs.size(), 19u);
    EXPECT_EQ(DiscoveryMessages(t, "ha", "hall", "hall", {}).size(), 18u) << "no preset select without presets";
    EXPECT_EQ(DiscoveryRemoval(t, "ha", "hall").size(), 19u);
}

// When the next reading comes: an interval after the last good one started, whatever it took;
// after failures a wait that doubles up to the longest, and starts again once a reading succeeds.
TEST(MqttReadings, PaceKeptAndBackOffBounded)
{
    using T = std::chrono::steady_clock::time_point;
    const T t0{};
    CReadingClock clock;
    const struct {
        bool ok;
        int startMs, endMs, nextMs;  // a reading's start and end, and the next one
    } steps[] = {
        {true, 0, 300, 2000},          {false, 2000, 2500, 3000},    {false, 3000, 3000, 4000},
        {false, 4000, 4000, 6000},     {false, 6000, 6000, 10000},   {false, 10000, 10000, 18000},
        {false, 18000, 18000, 28000},  {false, 28000, 28000, 38000}, {true, 38000, 38500, 40000},
        {false, 40000, 41000, 41500},  {false, 41500, 41500, 42500},
    };
    for (const auto& s : steps) {
        clock.Started(t0 + std::chrono::milliseconds(s.startMs));
        const T next = s.ok ? clock.Succeeded(2000) : clock.Failed(t0 + std::chrono::milliseconds(s.endMs));
        EXPECT_EQ(std::chrono::duration_cast<std::chrono::milliseconds>(next - t0).count(), s.nextMs) << s.startMs;
    }
}

TEST(MqttOptions, CommandLineOverConfigFile)
{
    test::TempDir dir;
    const std::string conf = dir.path + "/x.conf";
    std::ofstream(conf) << "# a room\nbroker = mq.example:1884\nhost = 10.0.0.5\ninterval=5000\ndiscovery = false\n";
    std::string error;
    auto o = ParseOptions({"--config=" + conf, "--interval=250", "--mqtt-version", "5", "--trace=yes"}, error);
    ASSERT_TRUE(o) << error;
    EXPECT_EQ(o->brokerHost, "mq.example");
    EXPECT_EQ(o->BrokerPort(), 1884);
    EXPECT_EQ(o->link.host, "10.0.0.5");
    EXPECT_EQ(o->intervalMs, 250u);
    EXPECT_FALSE(o->discovery);
    EXPECT_EQ(o->mqttVersion, 5);
    EXPECT_TRUE(o->link.trace);
    // The lowest of each range is taken; CORVANE_PORT wins over CORVANE_HOST.
    setenv("CORVANE_PORT", "COM7", 1);
    setenv("CORVANE_HOST", "10.0.0.1", 1);
    o = ParseOptions({"--broker=h:1", "--interval", "100", "--keepalive=5", "--no-discovery=true", "--force"}, error);
    unsetenv("CORVANE_PORT");
    unsetenv("CORVANE_HOST");
    ASSERT_TRUE(o) << error;
    EXPECT_EQ(std::tuple(o->BrokerPort(), o->intervalMs, o->keepalive, o->discovery, o->force, o->link.port, o->link.host),
              std::tuple(1, 100u, 5, false, true, std::string("COM7"), std::string()));
    EXPECT_TRUE(ParseOptions({"--broker", "h:65535", "--port", "COM1"}, error)) << error;
    const std::string fifo = dir.path + "/fifo", big = dir.path + "/big.conf";
    mkfifo(fifo.c_str(), 0600);
    std::ofstream(big) << std::string(kConfigMaxBytes + 1, '#');

    const std::pair<std::vector<std::string>, std::string> refused[] = {
        {{"--broker", "h", "--host", "1.2.3.4", "--port", "COM3"}, "give --host or --port, not both"},
        {{"--broker", "h"}, "no switcher"},
        {{"--host", "1.2.3.4"}, "no broker"},
        {{"--broker", "h:0", "--host", "1.2.3.4"}, "broker: HOST or HOST:PORT"},
        {{"--broker", "h", "--host", "switcher.lan"}, "host: an IPv4 address"},
        {{"--broker", "h", "--host", "1.2.3.4", "--interval", "99"}, "interval: milliseconds from 100"},
        {{"--broker", "h", "--host", "1.2.3.4", "--prefix", "a/#"}, "prefix: a topic without wildcards"},
        {{"--broker", "h", "--host", "1.2.3.4", "--password-file", "f"}, "--password-file needs --username"},
        {{"--config", conf + ".missing"}, "No such file"},
        {{"--config=/dev/zero"}, "not a regular file"},
        {{"--config", fifo}, "not a regular file"},
        {{"--config", big}, "longer than 65536 bytes"},
        {{"--broker", "h", "--host", "1.2.3.4", "--keepalive", "4"}, "keepalive: seconds from 5"},
        {{"--broker", "h", "--host", "1.2.3.4", "--id", "hall.1"}, "id: 1 to 64 letters"},
        {{"--broker", "h", "--host", "1.2.3.4", "--id", std::string(65, 'h')}, "id: 1 to 64 letters"},
        {{"--broker", "h:65536", "--host", "1.2.3.4"}, "port from 1 to 65535"},
        {{"--broker", "h", "--host", "1.2.3.4", "--interval="}, "interval: milliseconds from 100"},
        {{"--broker", "h", "--host", "1.2.3.4", "--config"}, "--config needs a value"},
        {{"--broker", "h", "--host", "1.2.3.4", "--trace=maybe"}, "trace: true or false"},
        {{"--broker", "h", "--host", "1.2.3.4", "--bogus=1"}, "unknown option --bogus"},
    };
    for (const auto& [args, why] : refused) {
        error.clear();
        EXPECT_FALSE(ParseOptions(args, error));
        EXPECT_NE(error.find(why), std::string::npos) << error;
    }
    std::ofstream(conf) << "password = x\n";
    EXPECT_FALSE(ParseOptions({"--config", conf}, error));
    EXPECT_NE(error.find(":1: the password is read from the file"), std::string::npos) << error;
}

TEST(MqttOptions, SecretFileReadableByOthersRefused)
{
    test::TempDir dir;
    const std::string f = dir.path + "/pw";
    std::ofstream(f) << "top secret\r\nsecond line\n";
    std::string error;
    // The last: a good file after a refused one (error still holds the refusal) is read.
    for (const auto& [mode, ok] : {std::pair{0600, true}, {0640, true}, {0604, false}, {0602, false}, {0600, true}}) {
        chmod(f.c_str(), mode_t(mode));
        const auto s = ReadSecretFile(f, error);
        EXPECT_EQ(s.has_value(), ok) << std::oct << mode;
        if (s) {
            EXPECT_EQ(*s, "top secret");
        }
    }
    EXPECT_FALSE(ReadSecretFile(dir.path, error));
    EXPECT_NE(error.find("not a regular file"), std::string::npos);
}

}  // namespace
}  // namespace corvane::mqtt
