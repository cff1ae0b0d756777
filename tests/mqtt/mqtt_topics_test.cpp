// The bridge's words without a broker: ids, command payloads and the settings it starts with.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <fstream>

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
    EXPECT_EQ(SwitcherId({"COM1", "", false}, "02:C5:1A:00:00:01"), "02_c5_1a_00_00_01");
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
        {"a/b/dvi/set", "ONN", false, K::Dvi, 0, 0, false},
        {"a/b/input/4/edid/set", "DVI 1920x1200", true, K::EdidPreset, 4, 14, false},
        {"a/b/input/1/edid/set", "Default EDID", true, K::EdidPreset, 1, 15, false},
        {"a/b/input/1/edid/set", "dvi 1920x1200", true, K::EdidPreset, 1, 14, false},
        {"a/b/input/1/edid/set", "16", false, K::EdidPreset, 0, 0, false},
        {"a/b/refresh/set", "", true, K::Refresh, 0, 0, false},
        {"a/b/input/1/signal/set", "ON", false, K::Refresh, 0, 0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.topic + " " + c.payload);
        const SParsedCommand p = ParseCommand(t, c.topic, c.payload);
        EXPECT_EQ(p.ok, c.ok) << p.error;
        EXPECT_EQ(p.error.empty(), c.ok);
        if (!c.ok)
            continue;
        EXPECT_EQ(p.command.kind, c.kind);
        EXPECT_EQ(p.command.number, c.number);
        EXPECT_EQ(c.kind == K::EdidPreset ? p.command.edid.position : p.command.value, c.value);
        EXPECT_EQ(p.command.on, c.on);
    }
    // Not a command topic of this bridge: no name, so no result either.
    for (const char* topic : {"a/b/beep", "a/bc/beep/set", "x/a/b/beep/set", "a/b/set"})
        EXPECT_EQ(ParseCommand(t, topic, "ON").name, "") << topic;
}

TEST(MqttOptions, CommandLineOverConfigFile)
{
    test::TempDir dir;
    const std::string conf = dir.path + "/x.conf";
    std::ofstream(conf) << "# a room\nbroker = mq.example:1884\nhost = 10.0.0.5\ninterval=5000\ndiscovery = false\n";
    std::string error;
    auto o = ParseOptions({"--config", conf, "--interval", "250", "--mqtt-version", "5"}, error);
    ASSERT_TRUE(o) << error;
    EXPECT_EQ(o->brokerHost, "mq.example");
    EXPECT_EQ(o->BrokerPort(), 1884);
    EXPECT_EQ(o->link.host, "10.0.0.5");
    EXPECT_EQ(o->intervalMs, 250u);
    EXPECT_FALSE(o->discovery);
    EXPECT_EQ(o->mqttVersion, 5);

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
    for (const auto& [mode, ok] : {std::pair{0600, true}, {0640, true}, {0604, false}, {0602, false}}) {
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
