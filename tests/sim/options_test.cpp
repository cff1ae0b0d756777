// The emulator's command line.
#include <gtest/gtest.h>

#include "sim/options.h"

namespace corvane::sim {
namespace {

std::optional<Options> Parse(std::vector<std::string> args, std::string* errorOut = nullptr)
{
    std::string error;
    auto o = ParseOptions(args, error);
    if (errorOut)
        *errorOut = error;
    return o;
}

TEST(SimOptions, TransportsAndDeviceSettings)
{
    const auto o = Parse({"--serial", "com201", "--tcp", "0", "--udp", "127.0.0.1:0,0", "--udp-reply", "source",
                          "--mac", "02-11-22-33-44-55", "--ip", "10.0.0.5", "--signals", "1010:01", "--fw-control",
                          "3:B0", "--fw-control", "5:0xF0", "--build", "ABC", "--fw-version", "2.5", "--device-type",
                          "0x03", "--reboot-ms", "250", "--reboot-reply", "6=5A,9=0xA5", "--fault", "drop:01 04 02", "--fault-random", "9:5%",
                          "--quiet"});
    ASSERT_TRUE(o);
    EXPECT_TRUE(o->serial && o->tcp && o->udp && o->quiet && o->udpReplyToSource);
    EXPECT_EQ(o->comNumber, 201);
    EXPECT_EQ(o->tcpPort, 0);
    EXPECT_EQ(o->udpHost, "127.0.0.1");
    EXPECT_EQ(o->searchPort, 0);
    EXPECT_EQ(o->configPort, 0);
    const SwitcherSettings& s = o->settings;
    EXPECT_EQ(s.mac, (Mac{0x02, 0x11, 0x22, 0x33, 0x44, 0x55}));
    EXPECT_EQ(s.ip, (Ipv4{10, 0, 0, 5}));
    EXPECT_EQ(s.autoIp, (Ipv4{10, 0, 0, 5}));
    EXPECT_EQ(s.gateway, (Ipv4{10, 0, 0, 1}));
    EXPECT_EQ(s.inputSignal, (std::array<bool, 4>{true, false, true, false}));
    EXPECT_EQ(s.outputSignal, (std::array<bool, 2>{false, true}));
    EXPECT_EQ(s.packetControl, (std::map<unsigned, uint8_t>{{3, 0xB0}, {5, 0xF0}}));
    EXPECT_EQ(std::string(s.build.begin(), s.build.end()), "ABC     ");
    EXPECT_EQ(s.versionMajor, 2);
    EXPECT_EQ(s.versionMinor, 5);
    EXPECT_EQ(s.deviceType, 3);
    EXPECT_EQ(s.rebootMs, 250);
    EXPECT_EQ(s.rebootReply, (std::map<unsigned, uint8_t>{{6, 0x5A}, {9, 0xA5}}));
    EXPECT_EQ(o->faults.size(), 1u);
    ASSERT_TRUE(o->random);
    EXPECT_EQ(o->random->seed, 9u);

    const auto all = Parse({});  // no transport named: all three, at the switcher's ports
    ASSERT_TRUE(all);
    EXPECT_TRUE(all->serial && all->tcp && all->udp);
    EXPECT_EQ(all->tcpHost + ":" + std::to_string(all->tcpPort), "127.0.0.1:8000");
    EXPECT_EQ(std::to_string(all->searchPort) + "," + std::to_string(all->configPort), "30600,30601");
    const auto bare = Parse({"--serial", "--tcp", "--quiet"});
    ASSERT_TRUE(bare);
    EXPECT_EQ(bare->comNumber, 0);
    EXPECT_EQ(bare->tcpPort, 8000);
    EXPECT_FALSE(bare->udp);
    EXPECT_EQ(Parse({"--udp", "31000"})->configPort, 31001);
    EXPECT_EQ(Parse({"--serial", "7"})->comNumber, 7);

    // The fault's hex bytes may come as separate words, as an unquoted shell line gives them.
    const auto split = Parse({"--fault", "drop:01", "04", "02:2-3", "--tcp", "0"});
    ASSERT_TRUE(split);
    ASSERT_EQ(split->faults.size(), 1u);
    EXPECT_EQ(split->faults[0].pattern, (std::vector<uint8_t>{0x01, 0x04, 0x02}));
    EXPECT_EQ(split->faults[0].first, 2u);
    EXPECT_EQ(split->tcpPort, 0);
}

TEST(SimOptions, BadValuesAreReported)
{
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"--serial", "com0"}, {"--serial", "com256"}, {"--serial", "tty"}, {"--tcp", "1.2.3:80"},
             {"--tcp", "70000"}, {"--signals", "12"}, {"--signals", "1111:1"}, {"--signals", "11x1"},
             {"--mac", "01:02"}, {"--mac", "01:02:03:04:05:06:07"}, {"--ip", "1.2.3.256"}, {"--ip", "1.2.3"},
             {"--bogus"}, {"--fault", "nope"}, {"--reboot-ms"}, {"--build", "123456789"}, {"--fw-version", "1"},
             {"--fw-control", "0:B0"}, {"--fw-control", "2:1FF"}, {"--udp-reply", "broadcast"},
             // Times are added to the clock: a value near the integer limit would overflow it.
             {"--reboot-ms", "9223372036854775807"}, {"--block-wait-ms", "9223372036854775807"},
             {"--reboot-ms", "-1"}, {"--block-wait-ms", "0"},
             // Bytes 0..4 and 12 make another frame; the check sum is the emulator's.
             {"--reboot-reply", "4=01"}, {"--reboot-reply", "12=00"}, {"--reboot-reply", "6=100"},
             {"--reboot-reply", "6"}, {"--reboot-reply", "6=5A,"}}) {
        std::string error;
        EXPECT_FALSE(Parse(args, &error)) << args[0];
        EXPECT_FALSE(error.empty());
    }
}

// --control: the commands that change what the switcher senses while it runs. A refused
// command changes nothing.
TEST(SimOptions, ControlCommandsChangeTheSignals)
{
    EXPECT_TRUE(Parse({"--tcp", "0", "--control"})->control);
    CSwitcher device;  // 1100:11
    const struct {
        const char* line;
        const char* done;  // nothing: refused
        const char* error;
    } cases[] = {
        {"signals 0011", "signals 0011:11", ""},
        {"signals 1010:01", "signals 1010:01", ""},
        {"  input 2 on\r", "signals 1110:01", ""},
        {"output 1 on", "signals 1110:11", ""},
        {"input 1 off", "signals 0110:11", ""},
        {"input 5 on", nullptr, "input is 1 to 4, not '5'"},
        {"output 3 off", nullptr, "output is 1 to 2, not '3'"},
        {"input 1 maybe", nullptr, "on or off, not 'maybe'"},
        {"signals 012", nullptr, "signals takes IIII[:OO] of 0 and 1, not '012'"},
        {"signals 1111:1", nullptr, "signals takes IIII[:OO]"},
        {"route 1 2", nullptr, "unknown command 'route 1 2'"},
        {"signals", nullptr, "unknown command"},
        {"", nullptr, "empty command"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        std::string error;
        const auto done = ControlCommand(c.line, device, error);
        if (c.done) {
            ASSERT_TRUE(done) << error;
            EXPECT_EQ(*done, c.done);
        } else {
            EXPECT_FALSE(done);
            EXPECT_NE(error.find(c.error), std::string::npos) << error;
        }
    }
    EXPECT_EQ((std::array{device.InputSignal(1), device.InputSignal(2), device.InputSignal(3), device.InputSignal(4),
                          device.OutputSignal(1), device.OutputSignal(2)}),
              (std::array{false, true, true, false, true, true}));
}

}  // namespace
}  // namespace corvane::sim
