// The service's checks without sockets: the names it answers to, command bodies, and its
// command line.
#include <gtest/gtest.h>

#include <fstream>

#include "service/options.h"
#include "service/requests.h"
#include "tests/support/sim_process.h"

namespace corvane::service {
namespace {

TEST(ServiceHosts, OnlyTheServicesOwnNames)
{
    const SAllowedHosts hosts = AllowedHosts("192.0.2.1", {"switchers.example"});
    struct Case {
        const char* value;
        bool origin, allowed;
    } const cases[] = {
        {"127.0.0.1:8080", false, true},       {"LocalHost.", false, true},
        {"[::1]:80", false, true},             {"192.0.2.1", false, true},
        {"switchers.example:8080", false, true}, {"http://switchers.example:8080", true, true},
        {"https://localhost", true, true},     {"evil.example", false, false},
        {"127.0.0.1.evil.example", false, false}, {"user@127.0.0.1", false, false},
        {"127.0.0.1:80x", false, false},       {"[::1", false, false},
        {"", false, false},                    {"null", true, false},
        {"file://localhost", true, false},     {"http://localhost/x", true, false},
        {"http://evil.example", true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        EXPECT_EQ(c.origin ? hosts.AllowsOrigin(c.value, true) : hosts.Allows(c.value), c.allowed);
    }
    EXPECT_TRUE(hosts.AllowsOrigin("", false)) << "a client that is no browser sends none";
    EXPECT_FALSE(AllowedHosts("", {}).Allows("192.0.2.1")) << "bound to every address, no address is a name of it";
}

TEST(ServiceHosts, TokensCompareWhole)
{
    EXPECT_TRUE(SameSecret("s3cret", "s3cret"));
    for (const char* other : {"s3cre", "s3cret!", "S3cret", ""})
        EXPECT_FALSE(SameSecret(other, "s3cret")) << other;
}

TEST(ServiceCommands, BodiesChecked)
{
    const std::vector<SNamedScene> scenes{{"movie", std::make_shared<const SScene>()}};
    struct Case {
        const char* name;
        const char* body;
        const char* error;  // "" when taken
    } const cases[] = {
        {"route", R"({"output":2,"input":4})", ""},
        {"route", R"({"output":0,"input":4})", "\"output\" must be a whole number from 1 to 2"},
        {"route", R"({"output":1,"input":2.0})", "\"input\" must be a whole number from 1 to 4"},
        {"route", R"({"output":1,"input":99999999999999999999})", "\"input\" must be a whole number"},
        {"route", R"({"input":1,"output":1,"output":2})", "not JSON"},
        {"route", "", "missing field \"output\""},
        {"beep", R"({"beep":"on"})", "\"beep\" must be true or false, not a string"},
        {"dvi", R"({"dvi":null})", "\"dvi\" must be true or false, not null"},
        {"edid", R"({"input":4,"edid":" default edid "})", ""},
        {"edid", R"({"input":4,"edid":"16"})", "no built-in EDID is called \"16\""},
        {"scene", R"({"scene":"movie"})", ""},
        {"scene", R"({"scene":"Movie"})", "no scene is called \"Movie\""},
        {"refresh", "", ""},
        {"refresh", R"({"now":true})", "unknown field \"now\""},
        {"refresh", "\"x\"", "the body must be an object, not a string"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " " + c.body);
        std::string error;
        const auto command = ParseCommand(c.name, c.body, scenes, error);
        EXPECT_EQ(command.has_value(), !*c.error);
        EXPECT_NE(error.find(c.error), std::string::npos) << error;
    }
}

TEST(ServiceOptions, SwitchersAndTheirIds)
{
    test::TempDir dir;
    std::ofstream(dir.path + "/site") << "# the site\n192.0.2.20  Lobby North\nCOM3 hall # by the stage\n\n/dev/ttyUSB1\n";
    std::ofstream(dir.path + "/bad") << "192.0.2.20\nnot/an address\n";
    std::ofstream(dir.path + "/conf") << "host = 192.0.2.30=desk\ninterval = 500\nbroker = 192.0.2.9:1884\n"
                                         "prefix = desk=site/desk\ndiscovery = false\n";
    struct Case {
        std::vector<std::string> args;
        std::string result;  // the ids and links, or the error
    } const cases[] = {
        {{"--hosts-file", dir.path + "/site"}, "lobby_north=tcp 192.0.2.20:8000 hall=serial COM3 dev_ttyusb1=serial /dev/ttyUSB1 "},
        {{"--host", "192.0.2.20:8001", "--port", "COM4=Bar"}, "192_0_2_20_8001=tcp 192.0.2.20:8001 bar=serial COM4 "},
        {{"--config", dir.path + "/conf", "--host", "192.0.2.31"}, "desk=tcp 192.0.2.30:8000 192_0_2_31_8000=tcp 192.0.2.31:8000 "},
        {{"--hosts-file", dir.path + "/bad"}, "--hosts-file " + dir.path + "/bad: line 2: --host: an IPv4 address or host name"},
        {{"--host", "192.0.2.20=a", "--host", "192.0.2.21=A"}, "two switchers have the id 'a'"},
        {{"--host", "192.0.2.20="}, "an empty label"},
        {{"--web", "127.0.0.1:8080"}, "no switcher"},
        {{"--host", "192.0.2.20", "--web", "0.0.0.0:8080"}, "not a loopback address: give --token-file"},
        {{"--host", "192.0.2.20", "--web", "127.0.0.1:99999"}, "--web: ADDRESS:PORT with a port from 0 to 65535"},
        {{"--host", "192.0.2.20", "--interval", "50"}, "--interval: milliseconds from 100"},
        {{"--host", "192.0.2.20", "--broker2", "x"}, "unknown option --broker2"},
        {{"--host", "192.0.2.20", "--web-name", "[fe80::1]", "--web-name", "2001:db8::1"}, "192_0_2_20_8000=tcp 192.0.2.20:8000 "},
        {{"--host", "192.0.2.20", "--web-name", "site:8080"}, "--web-name: a host name or address, not 'site:8080'"},
        {{"--host", "192.0.2.20=a", "--remove-discovery"}, "MQTT settings without a broker"},
        {{"--host", "192.0.2.20=a", "--host", "192.0.2.21=b", "--broker", "127.0.0.1", "--prefix", "a=corvane/b"},
         "two switchers have the MQTT prefix 'corvane/b'"},
        {{"--host", "192.0.2.20=a", "--broker", "127.0.0.1", "--prefix", "c=site/c"}, "no switcher has the id 'c'"},
        {{"--host", "192.0.2.20=a", "--broker", "127.0.0.1", "--prefix", "a=site/+"}, "--prefix: a topic without wildcards"},
        {{"--host", "192.0.2.20=a", "--prefix", "a=site/a"}, "MQTT settings without a broker"},
        {{"--host", "192.0.2.20=a", "--broker", "127.0.0.1:0"}, "--broker: HOST or HOST:PORT with a port from 1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[0] + " " + c.args[1]);
        std::string error, got;
        const auto o = ParseServiceOptions(c.args, error);
        for (const SUnitPlace& u : o ? o->units : std::vector<SUnitPlace>{})
            got += u.id + "=" + u.Link() + " ";
        if (o)
            EXPECT_EQ(got, c.result);
        else
            EXPECT_NE(error.find(c.result), std::string::npos) << error;
    }
    std::string error;
    const auto o = ParseServiceOptions({"--config", dir.path + "/conf", "--host", "192.0.2.1"}, error);
    ASSERT_TRUE(o) << error;
    EXPECT_EQ(o->intervalMs, 500u);
    EXPECT_EQ(o->mqtt.brokerHost + ":" + std::to_string(o->mqtt.BrokerPort()), "192.0.2.9:1884");
    EXPECT_EQ(o->prefixes, (std::map<std::string, std::string>{{"desk", "site/desk"}}));
    EXPECT_FALSE(o->mqtt.discovery);
}

}  // namespace
}  // namespace corvane::service
