// corvanectl's EDID, firmware, search and configuration commands against the emulator process,
// each over the pseudo-terminal and over TCP: what they print, their exit status and what the
// emulator holds afterwards (its EDID and firmware files). Offline: edid inspect on crafted
// EDIDs, the progress line, the --host text.
#include <arpa/inet.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <regex>
#include <sstream>
#include <thread>

#include <QEventLoop>

#include "cli/command_line.h"
#include "cli/fleet.h"
#include "cli/commands.h"
#include "core/scene/json.h"
#include "cli/link_commands.h"
#include "core/scene/scene.h"
#include "transport/linked_switcher.h"
#include "core/text/terminal_text.h"
#include "tests/cli/ctl_run.h"
#include "tests/support/edid_builder.h"
#include "tests/support/sim_clock.h"
#include "tests/support/sim_process.h"

namespace corvane::test {
namespace {

std::vector<uint8_t> ReadAll(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

void WriteAll(const std::string& path, std::span<const uint8_t> bytes)
{
    std::ofstream f(path, std::ios::binary);
    f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// A loopback port nothing listens on: bound by the system, then released.
int DeadPort()
{
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t n = sizeof a;
    bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &n);
    close(s);
    return ntohs(a.sin_port);
}

enum class Link { Serial, Tcp };

// The emulator on all three transports, loopback only; the command reaches it over the link
// of the test's parameter.
class CliLink : public ::testing::TestWithParam<Link> {
protected:
    // quiet: the emulator logs no frames (a CSimClock reads them).
    void Start(std::vector<std::string> extra = {}, bool quiet = true)
    {
        std::vector<std::string> args = {"--serial", "com201", "--tcp", "127.0.0.1:0", "--udp", "127.0.0.1:0,0",
                                         "--udp-reply", "source", "--reboot-ms", "100",
                                         "--edid-out", dir.path + "/edid", "--fw-out", dir.path + "/received.bin"};
        if (quiet)
            args.push_back("--quiet");
        args.insert(args.end(), extra.begin(), extra.end());
        std::filesystem::create_directories(dir.path + "/edid");
        sim = std::make_unique<SimProcess>(args, dir.path);
        tcp = sim->Find("tcp: (127\\.0\\.0\\.1:\\d+)");
        udp = sim->Find("udp: (127\\.0\\.0\\.1:\\d+,\\d+)");
        ASSERT_FALSE(tcp.empty() || udp.empty()) << sim->first;
    }
    std::vector<std::string> Where() const
    {
        return GetParam() == Link::Serial ? std::vector<std::string>{"--port", "COM201"}
                                          : std::vector<std::string>{"--host", tcp};
    }
    Result Run(std::vector<std::string> args, int boundMs = 15000)
    {
        const auto where = Where();
        args.insert(args.end(), where.begin(), where.end());
        return Ctl(args, dir.path, boundMs);
    }
    std::vector<uint8_t> InputEdid(int n) { return ReadAll(dir.path + "/edid/in" + std::to_string(n) + ".bin"); }

    TempDir dir;
    std::unique_ptr<SimProcess> sim;
    std::string tcp, udp;
};

INSTANTIATE_TEST_SUITE_P(BothLinks, CliLink, ::testing::Values(Link::Serial, Link::Tcp),
                         [](const auto& info) { return info.param == Link::Serial ? "Serial" : "Tcp"; });

TEST_P(CliLink, EdidCommandsGiveTheInputsTheirEdids)
{
    Start();
    const EdidImage crafted = BuildEdid();
    WriteAll(dir.path + "/office.bin", crafted);
    EdidFields plain;
    plain.cta = false;
    const EdidImage base = BuildEdid(plain);
    WriteAll(dir.path + "/base.bin", std::span<const uint8_t>(base).first(128));
    const auto outB = [&] {
        // The display on output B, as a copy leaves it on an input.
        return InputEdid(3);
    };
    struct Case {
        std::vector<std::string> args;
        std::string out;
        std::string status;  // "edid status" afterwards
    };
    const std::string statusDefault = "IN1: Default EDID\nIN2: Default EDID\nIN3: Default EDID\nIN4: Default EDID\n";
    const Case cases[] = {
        {{"edid", "status"}, statusDefault, statusDefault},
        {{"edid", "set", "4", "--to", "IN2"}, "IN2: 1080p,Stereo Audio 2.0\nSet successfully!\n",
         "IN1: Default EDID\nIN2: 1080p,Stereo Audio 2.0\nIN3: Default EDID\nIN4: Default EDID\n"},
        {{"edid", "set", "dvi 1920X1200", "--to", "all", "--json"},
         "{\"kind\":\"preset\",\"source\":\"DVI 1920x1200\",\"inputs\":[1,2,3,4],\"done\":true}\n",
         "IN1: DVI 1920x1200\nIN2: DVI 1920x1200\nIN3: DVI 1920x1200\nIN4: DVI 1920x1200\n"},
        {{"edid", "set", "16", "--to", "all"}, "all inputs: Default EDID\nSet successfully!\n", statusDefault},
        {{"edid", "set", "default EDID", "--to", "IN3"},
         "IN3: Default EDID, which the switcher shows as 1080p,Stereo Audio 2.0\nSet successfully!\n",
         "IN1: Default EDID\nIN2: Default EDID\nIN3: 1080p,Stereo Audio 2.0\nIN4: Default EDID\n"},
        {{"edid", "copy", "OUTB", "--to", "3", "--json"},
         "{\"kind\":\"copy\",\"source\":\"OUTB\",\"inputs\":[3],\"done\":true}\n", ""},
        {{"edid", "load", dir.path + "/office.bin", "--to", "IN4"},
         "IN4: " + dir.path + "/office.bin\nSet successfully!\n", ""},
        {{"edid", "load", dir.path + "/base.bin", "--to", "all", "--json"},
         "{\"kind\":\"file\",\"source\":\"" + dir.path + "/base.bin\",\"inputs\":[1,2,3,4],\"done\":true}\n", ""},
    };
    std::vector<uint8_t> copied;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[1] + " " + (c.args.size() > 2 ? c.args[2] : ""));
        const Result r = Run(c.args);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.err, "");
        if (!c.status.empty()) {
            const Result back = Run({"edid", "status"});
            EXPECT_EQ(back.out, c.status);
        }
        if (c.args[1] == "copy") {
            copied = outB();
            EXPECT_EQ(copied.size(), 256u);
            EXPECT_NE(copied, InputEdid(2)) << "input 3 still has the preset";
            // What the switcher copied is a display's EDID the EDID page would take.
            WriteAll(dir.path + "/copied.bin", copied);
            EXPECT_EQ(Ctl({"edid", "inspect", dir.path + "/copied.bin"}, dir.path).status, 0);
        }
        if (c.args.size() > 2 && c.args[2] == dir.path + "/office.bin") {
            EXPECT_EQ(InputEdid(4), std::vector<uint8_t>(crafted.begin(), crafted.end()));
        }
    }
    // A 128-byte file goes out as its block and 128 zero bytes, to every input.
    std::vector<uint8_t> expected(base.begin(), base.begin() + 128);
    expected.resize(256, 0x00);
    for (int n = 1; n <= 4; ++n)
        EXPECT_EQ(InputEdid(n), expected) << "input " << n;
    // The status command names each input's EDID in text and JSON.
    const Result status = Run({"status", "--json"});
    EXPECT_NE(status.out.find("{\"input\":1,\"signal\":true,\"edid\":\"Default EDID\"}"), std::string::npos)
        << status.out;
}

TEST_P(CliLink, FirmwareInfoAndUpgrade)
{
    Start({"--device-type", "2", "--fw-version", "2.7", "--build", "AB-12345"});
    const Result info = Run({"firmware", "info"});
    EXPECT_EQ(info.status, 0) << info.err;
    EXPECT_EQ(info.out, "Device: Brisel 4x2     Version:2.7-AB-12345\n");
    const Result json = Run({"firmware", "info", "--json"});
    EXPECT_EQ(json.out, "{\"line\":\"Device: Brisel 4x2     Version:2.7-AB-12345\",\"type\":\"Brisel\",\"size\":"
                        "\"4x2\",\"version\":\"2.7\",\"build\":\"AB-12345\"}\n");
    const Result status = Run({"status"});
    EXPECT_NE(status.out.find("\nDevice: Brisel 4x2     Version:2.7-AB-12345\n"), std::string::npos) << status.out;

    // An image of a size that ends inside a packet, byte for byte at the switcher.
    std::mt19937 random(GetParam() == Link::Serial ? 7 : 8);
    std::vector<uint8_t> image(2600);
    for (auto& b : image)
        b = static_cast<uint8_t>(random());
    WriteAll(dir.path + "/image.bin", image);
    ASSERT_EQ(Ctl({"firmware", "pack", dir.path + "/image.bin", dir.path + "/new.fw"}, dir.path).status, 0);
    const Result up = Run({"firmware", "upgrade", dir.path + "/new.fw", "--json"});
    EXPECT_EQ(up.status, 0) << up.err;
    EXPECT_EQ(up.out, "{\"file\":\"" + dir.path + "/new.fw\",\"bytes\":2600,\"skipped\":0,\"upgraded\":true}\n");
    const std::vector<uint8_t> got = ReadAll(dir.path + "/received.bin");
    ASSERT_GE(got.size(), image.size());
    EXPECT_TRUE(std::equal(image.begin(), image.end(), got.begin()));
    // Not a terminal: one progress line per tenth reached, in order, up to the whole file.
    std::istringstream lines(up.err);
    std::vector<std::string> progress;
    for (std::string line; std::getline(lines, line);)
        if (line.find(" bytes") != std::string::npos)
            progress.push_back(line);
    ASSERT_GE(progress.size(), 9u) << up.err;
    EXPECT_LE(progress.size(), 11u) << up.err;
    EXPECT_EQ(progress.back(), "firmware: 100% 2600/2600 bytes");
    EXPECT_NE(up.err.find("firmware: System rebooting, please wait...\n"), std::string::npos) << up.err;
    int last = -10;
    for (const auto& p : progress) {
        const int percent = std::stoi(p.substr(10));
        EXPECT_GT(percent / 10, last / 10) << p;
        last = percent;
    }

    // A switcher that asks to skip ahead after packet 3: what was skipped is not counted as sent.
    sim.reset();
    Start({"--fw-control", "3:B0"});
    WriteAll(dir.path + "/big.bin", std::vector<uint8_t>(20000, 0x3C));
    ASSERT_EQ(Ctl({"firmware", "pack", dir.path + "/big.bin", dir.path + "/big.fw"}, dir.path).status, 0);
    const Result skip = Run({"firmware", "upgrade", dir.path + "/big.fw"}, 30000);
    EXPECT_EQ(skip.status, 0) << skip.err;
    EXPECT_EQ(skip.out, dir.path + "/big.fw: 16160 bytes of firmware sent, 3840 skipped at the switcher's "
                                   "request; the switcher rebooted\n");
    EXPECT_NE(skip.err.find("firmware: 100% 20000/20000 bytes\n"), std::string::npos) << skip.err;
}

TEST_P(CliLink, RepeatedAnswersAndLateAcknowledgements)
{
    // The version answer waits for the next reply: the resend after 3 s brings it, and its
    // own answer right behind it.
    Start({"--fault", "merge:01 03", "--fault", "delay=3025:20 01 AA:2", "--fault", "delay=3500:20 01 AA:4"});
    const Result info = Run({"firmware", "info", "--json"});
    EXPECT_EQ(info.status, 0) << info.err;
    EXPECT_EQ(info.out, "{\"line\":\"Device: Corvane 4x2     Version:1.32-20261207\",\"type\":\"Corvane\",\"size\":"
                        "\"4x2\",\"version\":\"1.32\",\"build\":\"20261207\"}\n");
    EXPECT_EQ(info.err, "");

    std::vector<uint8_t> image(1100);
    std::mt19937 random(9);
    for (auto& b : image)
        b = static_cast<uint8_t>(random());
    WriteAll(dir.path + "/image.bin", image);
    ASSERT_EQ(Ctl({"firmware", "pack", dir.path + "/image.bin", dir.path + "/late.fw"}, dir.path).status, 0);
    const Result up = Run({"firmware", "upgrade", dir.path + "/late.fw"}, 30000);
    EXPECT_EQ(up.status, 0) << up.err;
    const std::vector<uint8_t> got = ReadAll(dir.path + "/received.bin");
    ASSERT_GE(got.size(), image.size());
    EXPECT_TRUE(std::equal(image.begin(), image.end(), got.begin()));
}

// A late answer never decides an outcome. Every answer to the query is 3.5 s late: the first
// sending's answer ends the resent query, and the resend's own answer, computed before the
// change, arrives while apply reads back.
TEST_P(CliLink, LateAnswerOfAResentQueryIsNotTheReadBack)
{
    const struct {
        const char* fault;
        const char* from;  // in the saved scene
        const char* to;
    } cases[] = {
        {"delay=3500:01 0B", "\"beep\": true", "\"beep\": false"},
        {"delay=3500:01 0C 03", "{\"input\": 3, \"kind\": \"unknown\"}",
         "{\"input\": 3, \"kind\": \"preset\", \"name\": \"DVI 1920x1080\"}"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        sim.reset();
        Start();
        const std::string scene = dir.path + "/late.json";
        ASSERT_EQ(Run({"scene", "save", scene}).status, 0);
        const std::vector<uint8_t> bytes = ReadAll(scene);
        std::string text(bytes.begin(), bytes.end());
        const auto at = text.find(c.from);
        ASSERT_NE(at, std::string::npos) << text;
        text.replace(at, std::strlen(c.from), c.to);
        WriteAll(scene, std::vector<uint8_t>(text.begin(), text.end()));
        sim.reset();
        Start({"--fault", c.fault});
        const Result applied = Run({"scene", "apply", scene}, 40000);
        EXPECT_EQ(applied.status, 0) << applied.err;
        EXPECT_NE(applied.out.find("The switcher matches the scene."), std::string::npos) << applied.out;
    }
}

// An acknowledgement does not say what it acknowledges: one that comes after its command timed
// out is never taken for the next command's, in the next program on the line either.
TEST_P(CliLink, LateAcknowledgementIsNotTheNextCommandsOwn)
{
    const struct {
        std::vector<std::string> faults;
        const char* first;
        const char* second;
        const char* after;
    } cases[] = {
        // The second command is refused, its refusal late: the first's answer comes in between.
        {{"--fault", "delay=7500:02 03 02 00 01", "--fault", "refuse:02 03 03 00 01", "--fault",
          "delay=2000:02 03 03 00 01"},
         "2", "3", "OUTPUT 1: IN 2\nOUTPUT 2: IN 2\n"},
        // The first answer comes after the line settled; the second command is refused and its
        // answer lost: only a reading of the route tells that the first answer is not its own.
        {{"--fault", "delay=10500:02 03 03", "--fault", "refuse:02 03 04", "--fault", "drop:02 03 04"}, "3", "4",
         "OUTPUT 1: IN 3\nOUTPUT 2: IN 2\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.second);
        sim.reset();
        Start(c.faults);
        const Result first = Run({"route", c.first, "1"});
        EXPECT_EQ(first.status, 1) << first.err;
        EXPECT_NE(first.err.find("(Time out!)"), std::string::npos) << first.err;
        const Result second = Run({"route", c.second, "1"});
        EXPECT_EQ(second.status, 1) << second.out;
        EXPECT_EQ(second.out, "");
        EXPECT_EQ(Run({"route"}).out, c.after);
    }
}

// A command that timed out sends nothing more: the late answers to its query move no chain on,
// and the next program on the line takes none of them for its own. Every answer to IN2's query
// says 7, the first two late, the rest lost: the switcher never reports IN2.
TEST_P(CliLink, ATimedOutChainSendsNothingMore)
{
    Start({"--fault", "delay=6500:01 0C 02:1", "--fault", "delay=5000:01 0C 02:2", "--fault", "value=7:01 0C 02:1-2",
           "--fault", "drop:01 0C 02:3-"});
    for (int run = 1; run <= 2; ++run) {
        SCOPED_TRACE(run);
        const Result r = Run({"edid", "status"}, 30000);
        EXPECT_EQ(r.status, 1) << r.out;
        EXPECT_EQ(r.out, "");
        EXPECT_NE(r.err.find("no answer to the EDID query of input 2 (Time out!)"), std::string::npos) << r.err;
    }
}

TEST_P(CliLink, FailuresEndWithTheirStatusAndOneLine)
{
    WriteAll(dir.path + "/short.bin", std::vector<uint8_t>(100, 0));
    WriteAll(dir.path + "/one.bin", std::vector<uint8_t>{1});
    WriteAll(dir.path + "/good.bin", BuildEdid());
    WriteAll(dir.path + "/image.bin", std::vector<uint8_t>(3000, 0x5A));
    ASSERT_EQ(Ctl({"firmware", "pack", dir.path + "/image.bin", dir.path + "/big.fw"}, dir.path).status, 0);
    struct Case {
        const char* name;
        std::vector<std::string> fault;
        std::vector<std::string> args;
        int status;
        std::string err;  // contained in the last line of standard error
        int maxMs;
    };
    const Case cases[] = {
        {"refused EDID set", {"--fault", "refuse:03 08"}, {"edid", "set", "1", "--to", "all"}, 1,
         "the switcher refused the EDID set request", 2000},
        {"refused copy", {"--fault", "refuse:03 04"}, {"edid", "copy", "OUTA", "--to", "IN2"}, 1,
         "the switcher refused the EDID of output 1 to input 2", 2000},
        {"hang-up mid-upgrade", {"--fault", "hangup:20 01 AA:4"}, {"firmware", "upgrade", dir.path + "/big.fw"}, 1,
         "link to the switcher was lost", 4000},
        {"hang-up mid-EDID status", {"--fault", "hangup:01 0C 03"}, {"edid", "status"}, 1,
         "link to the switcher was lost", 2000},
        // The status queries of the EDID page: 3 s, the query once more, 3 s, Time out!
        {"silent switcher", {"--fault", "drop:01 0C 02"}, {"edid", "status"}, 1, "corvanectl: no answer to the EDID query of input 2 (Time out!)", 7500},
        // Every packet went out; only the last acknowledgement is missing.
        {"last acknowledgement lost", {"--fault", "drop:20 01 56"}, {"firmware", "upgrade", dir.path + "/big.fw"}, 1,
         "no answer to packet 12 (image bytes 2816 to 3071) (Time out!); every packet was sent and all but the "
         "last acknowledged: the switcher may hold the whole image and be rebooting with it",
         7500},
        {"bad EDID file", {}, {"edid", "load", dir.path + "/short.bin", "--to", "IN1"}, 1,
         "size 100 bytes, expected 128 or 256", 1000},
        // A value outside the switcher's range is an error, never printed or saved.
        {"route out of range", {"--fault", "value=5:02 01 01"}, {"route"}, 1,
         "corvanectl: the switcher reported input 5 for output 1, outside 1 to 4", 2000},
        {"saved route out of range", {"--fault", "value=0:02 01 02"}, {"scene", "save", dir.path + "/bad.json"}, 1,
         "corvanectl: the switcher reported input 0 for output 2, outside 1 to 4", 2000},
        {"EDID out of range", {"--fault", "value=99:01 0C 02"}, {"edid", "status"}, 1,
         "corvanectl: the switcher reported EDID number 99 for input 2, outside 0 to 18", 2000},
        // Each step named in words: the data step of a file, a firmware request.
        {"refused EDID data", {"--fault", "refuse:03 07 56"}, {"edid", "load", dir.path + "/good.bin", "--to", "IN3"}, 1,
         "corvanectl: the switcher refused the EDID file data to input 3", 2000},
        {"refused upgrade request", {"--fault", "refuse:20 01 01"}, {"firmware", "upgrade", dir.path + "/big.fw"}, 1,
         "corvanectl: the switcher refused the upgrade request", 2000},
        {"bad firmware file", {}, {"firmware", "upgrade", dir.path + "/one.bin"}, 1, "corvanectl: ", 1000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sim.reset();
        Start(c.fault);
        const auto begin = std::chrono::steady_clock::now();
        const Result r = Run(c.args);
        const auto ms =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - begin).count();
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_EQ(r.out, "");
        std::string last = r.err.substr(0, r.err.size() - 1);
        last = last.substr(last.rfind('\n') == std::string::npos ? 0 : last.rfind('\n') + 1);
        EXPECT_NE(last.find(c.err), std::string::npos) << r.err;
        if (c.args[0] == "edid") {
            EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        }
        // A serial line that timed out is listened to for 3 s more before the port closes.
        const bool timedOut = r.err.find("(Time out!)") != std::string::npos;
        EXPECT_LT(ms, c.maxMs + (timedOut && GetParam() == Link::Serial ? 3000 : 0));
        // A refused file never reaches the switcher: every input keeps the default EDID.
        if (std::string(c.name) == "bad EDID file") {
            EXPECT_EQ(InputEdid(1), InputEdid(2));
        }
        if (std::string(c.name) == "hang-up mid-upgrade") {
            EXPECT_FALSE(std::filesystem::exists(dir.path + "/received.bin"));
        }
        EXPECT_FALSE(std::filesystem::exists(dir.path + "/bad.json"));
    }
}

// ---- scenes --------------------------------------------------------------------------------

TEST_P(CliLink, SceneSavedFromOneSwitcherRestoresAnotherReadBack)
{
    Start({"--signals", "1111:11"});
    const EdidImage crafted = BuildEdid();
    WriteAll(dir.path + "/office.bin", crafted);
    for (const auto& step : std::vector<std::vector<std::string>>{{"route", "3", "1"},
                                                                   {"route", "4", "2"},
                                                                   {"beep", "off"},
                                                                   {"dvi", "on"},
                                                                   {"edid", "set", "6", "--to", "IN1"},
                                                                   {"edid", "set", "13", "--to", "IN2"},
                                                                   {"edid", "load", dir.path + "/office.bin", "--to", "IN3"}})
        ASSERT_EQ(Run(step).status, 0) << step[0];
    const std::string scene = dir.path + "/room.json";
    const Result saved = Run({"scene", "save", scene, "--edid", "IN3=" + dir.path + "/office.bin", "--json"});
    ASSERT_EQ(saved.status, 0) << saved.err;
    EXPECT_EQ(saved.out.rfind("{\"file\":\"" + scene + "\",\"saved\":\"", 0), 0u) << saved.out;
    EXPECT_TRUE(std::regex_search(saved.out, std::regex(R"("saved":"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ")"))) << saved.out;

    // Another switcher, at its power-on settings but for input 4, which the scene leaves alone.
    std::filesystem::remove_all(dir.path + "/edid");
    sim.reset();
    Start();
    ASSERT_EQ(Run({"edid", "set", "1", "--to", "IN4"}).status, 0);
    const Result dry = Run({"scene", "apply", scene, "--dry-run"});
    EXPECT_EQ(dry.status, 0) << dry.err;
    // The switcher cannot say which file an input holds; input 4, unknown in the scene, is named too.
    const std::string changes = "output 1: IN 1 -> IN 3\noutput 2: IN 2 -> IN 4\nbeep: on -> off\n"
                                "DVI compatibility: off -> on\nEDID IN1: Default EDID -> 1080p,HD Audio 7.1\n"
                                "EDID IN2: Default EDID -> DVI 1024x768\n";
    const std::string fileSent = "EDID IN3: file office.bin, sent: the switcher cannot report it\n";
    const std::string leftAlone =
        "EDID IN4: left as it is (unknown in the scene; the switcher shows 1080i,Stereo Audio 2.0)\n";
    EXPECT_EQ(dry.out, changes + "EDID IN3: file office.bin, to be sent: the switcher cannot report it\n" + leftAlone);
    EXPECT_EQ(Run({"route"}).out, "OUTPUT 1: IN 1\nOUTPUT 2: IN 2\n") << "a dry run changed the switcher";

    const Result applied = Run({"scene", "apply", scene});
    EXPECT_EQ(applied.status, 0) << applied.err;
    EXPECT_EQ(applied.out, changes + fileSent + leftAlone + "The switcher matches the scene.\n");
    EXPECT_EQ(applied.err, "");
    const Result status = Run({"status"});
    for (const char* line : {"\nBeep: off\nDVI compatibility: on\nOUTPUT 1: IN 3\nOUTPUT 2: IN 4\n",
                             "\nEDID IN1: 1080p,HD Audio 7.1\nEDID IN2: DVI 1024x768\nEDID IN3: Default EDID\n"
                             "EDID IN4: 1080i,Stereo Audio 2.0\n"})
        EXPECT_NE(status.out.find(line), std::string::npos) << line << status.out;
    EXPECT_EQ(InputEdid(3), std::vector<uint8_t>(crafted.begin(), crafted.end()));

    // Once more: only the file goes out again (the switcher cannot say which file it holds).
    const Result again = Run({"scene", "apply", scene, "--json"});
    EXPECT_EQ(again.status, 0) << again.err;
    EXPECT_EQ(again.out, "{\"changes\":[{\"setting\":\"EDID IN3\",\"from\":null,\"to\":\"file office.bin\"}],"
                         "\"left_alone\":[{\"setting\":\"EDID IN4\",\"switcher\":\"1080i,Stereo Audio 2.0\"}],"
                         "\"dry_run\":false,\"matches\":true,\"mismatches\":[],\"not_read_back\":[]}\n");
}

TEST_P(CliLink, SceneApplyNamesEverySettingThatDidNotTake)
{
    const std::string scene = dir.path + "/scene.json";
    const EdidImage lobby = BuildEdid();
    std::string hex;
    for (uint8_t b : lobby)
        hex += "0123456789abcdef"[b >> 4], hex += "0123456789abcdef"[b & 15];
    std::ofstream(scene) << R"({"format": "corvane-scene", "version": 1,
        "routes": [{"output": 1, "input": 3}, {"output": 2, "input": 4}], "beep": false, "dvi": true,
        "edids": [{"input": 1, "kind": "preset", "name": "DVI 1920x1080"},
                  {"input": 2, "kind": "preset", "name": "1080p,Dolby/DTS 5.1"},
                  {"input": 3, "kind": "file", "name": "lobby.bin", "data": ")" + hex + R"("},
                  {"input": 4, "kind": "unknown"}]})";
    struct Case {
        const char* name;
        std::vector<std::string> faults;
        std::vector<std::string> notTaken;  // the settings named, in order
        std::vector<std::string> errs;      // more lines on standard error
        std::vector<std::string> before = {};  // a command run before the apply
    };
    const Case cases[] = {
        // Route input 3 to output 1, the beeper and the preset for input 2 refused; the rest
        // is still tried and takes.
        {"refusing",
         {"--fault", "refuse:02 03 03 00 01", "--fault", "refuse:06 01", "--fault", "refuse:03 02 05 F0 02"},
         {"output 1 did not take: the switcher shows IN 1, the scene says IN 3",
          "beep did not take: the switcher shows on, the scene says off",
          "EDID IN2 did not take: the switcher shows Default EDID, the scene says 1080p,Dolby/DTS 5.1"},
         {"corvanectl: the switcher refused route input 3 to output 1"}},
        // The beeper ignores its set without a word: the set waits out its 7 s.
        {"silent", {"--fault", "refuse:06 01", "--fault", "drop:06 01"},
         {"beep did not take: the switcher shows on, the scene says off"}, {"(Time out!)"}},
        // The switcher cannot report a file: a file it refused or never acknowledged did not take,
        // whatever the read-back shows.
        {"file refused", {"--fault", "refuse:03 07 03"},
         {"EDID IN3 did not take: the switcher did not accept the file, the scene says file lobby.bin"},
         {"corvanectl: the switcher refused the EDID file to input 3"}},
        // Named once, although the read-back shows a preset where the file belongs.
        {"file refused over a preset", {"--fault", "refuse:03 07 03"},
         {"EDID IN3 did not take: the switcher shows DVI 1024x768, the scene says file lobby.bin"},
         {},
         {"edid", "set", "DVI 1024x768", "--to", "IN3"}},
        {"file data refused", {"--fault", "refuse:03 07 56", "--fault", "refuse:03 02 05 F0 02"},
         {"EDID IN2 did not take: the switcher shows Default EDID, the scene says 1080p,Dolby/DTS 5.1",
          "EDID IN3 did not take: the switcher did not accept the file, the scene says file lobby.bin"},
         {"corvanectl: the switcher refused the EDID file data to input 3\n"}},
        {"file not acknowledged", {"--fault", "drop:03 07 03"},
         {"EDID IN3 did not take: the switcher did not accept the file, the scene says file lobby.bin"},
         {"no answer to the EDID file to input 3 (Time out!)"}},
        // Every change took, but the reading back stops at the beeper: nothing is said not to have
        // taken, only what could not be read back.
        {"read-back lost", {"--fault", "drop:01 0B:2-"}, {},
         {"corvanectl: the switcher could not be read back for output 1, output 2, beep, EDID IN1, EDID IN2 and "
          "EDID IN3: they were set, but whether they took is not known\n"}},
        {"read-back short of IN3", {"--fault", "drop:01 0C 03:2-3"}, {},
         {"corvanectl: the switcher could not be read back for EDID IN3: it was set, but whether it took is not "
          "known\n"}},
        // Every change read back, but not an input the scene leaves alone.
        {"read-back short of IN4", {"--fault", "drop:01 0C 04:2-3"}, {},
         {"corvanectl: the switcher could not be read back for EDID IN4; whether it still matches the scene there "
          "is not known\n"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sim.reset();
        Start(c.faults);
        if (!c.before.empty()) {
            ASSERT_EQ(Run(c.before).status, 0);
        }
        const Result r = Run({"scene", "apply", scene}, 20000);
        EXPECT_EQ(r.status, 1) << r.err;
        std::vector<std::string> named;
        std::istringstream lines(r.err);
        for (std::string line; std::getline(lines, line);)
            if (line.find(" did not take: ") != std::string::npos)
                named.push_back(line.substr(std::string("corvanectl: ").size()));
        EXPECT_EQ(named, c.notTaken) << r.err;
        for (const auto& e : c.errs)
            EXPECT_NE(r.err.find(e), std::string::npos) << e << "\n" << r.err;
        EXPECT_EQ(r.out.find("matches"), std::string::npos) << r.out;
        // Whatever was not refused took (read without the beeper's query, which one case drops).
        const std::string state = Run({"route"}).out + Run({"edid", "status"}).out;
        EXPECT_NE(state.find("OUTPUT 2: IN 4\n"), std::string::npos) << state;
        EXPECT_NE(state.find("IN1: DVI 1920x1080\n"), std::string::npos) << state;
    }
}

// Every --json output parses, whatever text the switcher sends: here a build text with U+009B,
// a control some terminals take as the start of an escape sequence.
TEST_P(CliLink, JsonOutputParsesWhateverTheSwitcherSays)
{
    Start({"--build", "AB\xc2\x9b" "2Jxy"});
    const std::string scene = dir.path + "/room.json";
    std::vector<std::vector<std::string>> commands = {
        {"status", "--json"},        {"route", "--json"},          {"beep", "off", "--json"},
        {"dvi", "on", "--json"},     {"edid", "status", "--json"}, {"edid", "set", "2", "--to", "IN1", "--json"},
        {"firmware", "info", "--json"}, {"scene", "save", scene, "--json"}, {"scene", "show", scene, "--json"},
        {"scene", "apply", scene, "--json"}, {"search", "--udp-to", udp, "--wait", "300", "--json"},
    };
    if (GetParam() == Link::Tcp)
        commands.push_back({"--hosts", tcp, "firmware", "info", "--json"});
    for (const auto& args : commands) {
        SCOPED_TRACE(args[0] + " " + args[1]);
        const bool linked = args[0] != "search" && args[0] != "--hosts" && args[1] != "show";
        const Result r = linked ? Run(args) : Ctl(args, dir.path);
        EXPECT_EQ(r.status, 0) << r.err;
        std::string error;
        const std::string doc = args[1] == "show" ? r.out : r.out.substr(0, r.out.find('\n'));
        EXPECT_TRUE(ParseJson(doc, error)) << error << "\n" << r.out;
        if (args[0] == "firmware" || args[0] == "--hosts") {
            EXPECT_NE(r.out.find("Version:1.32-AB\\u009b2Jxy"), std::string::npos) << r.out;
        }
    }
    // The scene file itself, and what its reader makes of it.
    std::string why;
    const auto saved = ReadSceneFile(scene, why);
    ASSERT_TRUE(saved) << why;
    EXPECT_EQ(saved->device, "Device: Corvane 4x2     Version:1.32-AB\xc2\x9b" "2Jxy");
}

// watch into a pipe whose reader leaves ends with status 0, over either link; a watch whose
// switcher goes away ends with a last JSON record that says so.
TEST_P(CliLink, WatchEndsWhenItsReaderGoesAwayOrTheLinkIsLost)
{
    Start();
    std::vector<std::string> args = {"watch", "--interval", "100"};
    const auto where = Where();
    args.insert(args.end(), where.begin(), where.end());
    {
        CtlProcess watch(args, dir.path);
        for (int k = 0; k < 3; ++k)
            ASSERT_TRUE(watch.ReadLine()) << k;
        watch.CloseOut();
        EXPECT_EQ(watch.Wait(3000), 0);
        EXPECT_EQ(watch.Err(), "");
    }
    args.push_back("--json");
    CtlProcess watch(args, dir.path);
    for (int k = 0; k < 14; ++k)
        ASSERT_TRUE(watch.ReadLine()) << k;
    sim.reset();
    EXPECT_EQ(watch.Wait(8000), 1);
    const auto last = watch.ReadLine(1000);
    ASSERT_TRUE(last);
    const std::regex record(R"re(^\{"time":"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d","error":"(.*)"\}$)re");
    std::smatch m;
    ASSERT_TRUE(std::regex_match(*last, m, record)) << *last;
    EXPECT_EQ(m[1].str().rfind("the link to the switcher was lost", 0), 0u) << *last;
    EXPECT_FALSE(watch.ReadLine(200));
}

// watch in this process on the virtual clock: readings a minute apart take no time, and a
// reading the switcher stops answering ends the watch once its query was sent twice, 3 s apart.
TEST_P(CliLink, WatchOnTheVirtualClock)
{
    Start({"--fault", "drop:01 0B:3-"}, false);  // the beeper query, from the third reading on
    CSimClock clock(*sim);
    const bool serial = GetParam() == Link::Serial;
    const auto r = clock.Run({"watch", "--interval", "60000", serial ? "--port" : "--host",
                              serial ? sim->Find("-> (/dev/pts/\\d+)") : tcp});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 14) << r.out;  // the first reading only
    EXPECT_NE(r.err.find(" corvanectl: no answer to the beeper query (Time out!)\n"), std::string::npos) << r.err;
    clock.moves.resize(4);
    EXPECT_EQ(clock.moves, (std::vector<int64_t>{60000, 120000, 123000, 126000}));
}

TEST(CliTcp, RefusedConnectionIsExitThree)
{
    TempDir dir;
    const std::string where = "127.0.0.1:" + std::to_string(DeadPort());
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"status", "--host", where}, {"--host", where, "firmware", "info"}, {"edid", "set", "1", "--to", "all"},
             {"status", "--host", "localhost" + where.substr(where.find(':'))}}) {
        std::vector<std::string> a = args;
        if (a[0] == "edid")
            a.insert(a.end(), {"--host", where});
        const Result r = Ctl(a, dir.path);
        EXPECT_EQ(r.status, 3) << r.err;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "corvanectl: " + *(std::find(a.begin(), a.end(), "--host") + 1) + ": connection refused\n");
    }
}

// A connect nobody answers (a listener whose queue is full: the kernel drops the next
// connection's first packet) is given up after the time it says, on the program's clock.
TEST(CliTcp, AConnectNobodyAnswersIsGivenUpAfterTheTimeItSays)
{
    struct CLoopClock final : IProgramClock {
        CVirtualTimers timers;
        ITimerService& Timers() override { return timers; }
        void Pump(bool) override
        {
            if (!QEventLoop().processEvents(QEventLoop::AllEvents) && timers.NextDue() >= 0)
                timers.Advance(timers.NextDue() - timers.Now());
        }
    } clock;
    const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0), queued = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t n = sizeof a;
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(listen(listener, 0), 0);
    ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&a), &n), 0);
    ASSERT_EQ(connect(queued, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    const std::string where = "127.0.0.1:" + std::to_string(ntohs(a.sin_port));
    UseProgramClock(&clock);
    std::ostringstream out, err;
    const std::vector<std::string> args = {"status", "--host", where};
    const int status = cli::RunCommandLine(args, out, err);
    UseProgramClock(nullptr);
    EXPECT_EQ(status, 3);
    EXPECT_EQ(err.str(), "corvanectl: " + where + ": no answer within 5 s\n");
    EXPECT_EQ(clock.timers.Now(), 5000);
    // A signal ends the wait at once, not when the connect's timer would have.
    TempDir dir;
    CtlProcess waiting({"status", "--host", where}, dir.path);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the connect under way
    waiting.Signal(SIGINT);
    EXPECT_EQ(waiting.Wait(2000), 130);
    close(queued);
    close(listener);
}

// ---- search and configuration over UDP on loopback --------------------------------------------

class CliNetwork : public ::testing::Test {
protected:
    void Start(std::vector<std::string> extra = {}, bool quiet = true)
    {
        std::vector<std::string> args = {"--udp", "127.0.0.1:0,0", "--udp-reply", "source"};
        if (quiet)
            args.push_back("--quiet");
        args.insert(args.end(), extra.begin(), extra.end());
        sim = std::make_unique<SimProcess>(args, dir.path);
        udp = sim->Find("udp: (127\\.0\\.0\\.1:\\d+,\\d+)");
        ASSERT_FALSE(udp.empty()) << sim->first;
    }
    std::vector<std::string> Aimed(std::vector<std::string> args)
    {
        args.insert(args.end(), {"--udp-to", udp});
        if (std::find(args.begin(), args.end(), "--wait") == args.end())
            args.insert(args.end(), {"--wait", "300"});
        return args;
    }
    Result Run(std::vector<std::string> args) { return Ctl(Aimed(args), dir.path); }
    TempDir dir;
    std::unique_ptr<SimProcess> sim;
    std::string udp;
};

TEST_F(CliNetwork, SearchThenConfigureAndConfirm)
{
    Start({"--mac", "02:00:00:AB:CD:EF", "--ip", "127.0.0.1", "--auto-ip", "127.0.0.77"});
    struct Case {
        std::vector<std::string> args;
        std::string out;
    };
    const Case cases[] = {
        {{"search"}, "127.0.0.1\t02:00:00:AB:CD:EF\n"},
        {{"search", "--json"}, "{\"switchers\":[{\"address\":\"127.0.0.1\",\"mac\":\"02:00:00:AB:CD:EF\"}]}\n"},
        {{"config", "--mac", "02-00-00-ab-cd-ef", "--static", "127.0.0.5", "--json"},
         "{\"mac\":\"02:00:00:AB:CD:EF\",\"address\":\"127.0.0.5\",\"mode\":\"static\",\"confirmed\":true}\n"},
        {{"search"}, "127.0.0.5\t02:00:00:AB:CD:EF\n"},
        // A new MAC: the confirming search finds the switcher under it.
        {{"config", "--mac", "0200000ABCDEF", "--auto"}, ""},  // 13 digits: bad usage, below
        {{"config", "--mac", "020000ABCDEF", "--auto", "--new-mac", "02:00:00:12:34:56"},
         "127.0.0.77\t02:00:00:12:34:56\tauto\nConfigure successfully!\n"},
        {{"search", "--json"}, "{\"switchers\":[{\"address\":\"127.0.0.77\",\"mac\":\"02:00:00:12:34:56\"}]}\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[0] + " " + (c.args.size() > 2 ? c.args[2] : ""));
        const Result r = Run(c.args);
        if (c.out.empty()) {
            EXPECT_EQ(r.status, 2) << r.err;
            continue;
        }
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.err, "");
    }
}

TEST_F(CliNetwork, FailuresEndWithTheirStatusAndOneLine)
{
    struct Case {
        const char* name;
        std::vector<std::string> sim;
        std::vector<std::string> args;
        int status;
        std::string err;
        int64_t endsAtMs;  // on the virtual clock, in this process
        bool asProcess = true;
    };
    const Case cases[] = {
        {"refused configuration", {"--fault", "refuse:config"}, {"config", "--mac", "02:C5:1A:00:00:01", "--auto"}, 1,
         "corvanectl: the switcher refused the configuration\n", 300},
        {"unknown MAC", {}, {"config", "--mac", "02:C5:1A:00:00:02", "--static", "127.0.0.9"}, 1,
         "corvanectl: no switcher with MAC 02:C5:1A:00:00:02 answered the search\n", 300},
        {"silent switcher", {"--fault", "drop:search"}, {"search"}, 1, "corvanectl: no switcher answered the search\n",
         300},
        {"silent configuration", {"--fault", "drop:config"}, {"config", "--mac", "02:C5:1A:00:00:01", "--auto"}, 1,
         "corvanectl: no answer to the configuration (Time out!)\n", 300 + 15000, false},
        {"static address that is none", {}, {"config", "--mac", "02:C5:1A:00:00:01", "--static", "127.0.0.256"}, 2,
         "corvanectl: --static 127.0.0.256: not an IPv4 address\n", 0},
        {"both modes", {}, {"config", "--mac", "02:C5:1A:00:00:01", "--auto", "--static", "1.2.3.4"}, 2,
         "corvanectl: give --auto or --static ADDRESS\n", 0},
        {"no wait", {}, {"search", "--wait", "0"}, 2, "corvanectl: --wait is 1 to 600000 milliseconds\n", 0},
    };
    for (const auto& c : cases) {
        for (const bool inProcess : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (inProcess ? ", in process" : ""));
            if (!inProcess && !c.asProcess)
                continue;
            sim.reset();
            Start(c.sim, !inProcess);
            const auto begin = std::chrono::steady_clock::now();
            std::optional<CSimClock> clock;
            if (inProcess)
                clock.emplace(*sim);
            const auto v = clock ? clock->Run(Aimed(c.args)) : CSimClock::SRun{};
            const Result r = clock ? Result{v.status, v.out, v.err} : Run(c.args);
            EXPECT_EQ(r.status, c.status) << r.err;
            EXPECT_EQ(r.out, "");
            EXPECT_EQ(r.err.substr(0, r.err.find('\n') + 1), c.err);
            EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(3));
            if (clock) {
                EXPECT_EQ(clock->timers.Now(), c.endsAtMs);
            }
        }
    }
}

// ---- offline ----------------------------------------------------------------------------------

struct InProcess {
    int status;
    std::string out, err;
};
InProcess RunInProcess(std::vector<std::string> args)
{
    std::ostringstream out, err;
    const int status = cli::RunCommandLine(args, out, err);
    return {status, out.str(), err.str()};
}

TEST(EdidInspect, CraftedEdidsWithKnownFields)
{
    TempDir dir;
    auto file = [&](const std::string& name, std::span<const uint8_t> bytes) {
        WriteAll(dir.path + "/" + name, bytes);
        return dir.path + "/" + name;
    };
    EdidFields interlaced;
    interlaced.cta = false;
    interlaced.name = "LOBBY";
    interlaced.maker = "ABC";
    interlaced.timing = {7425, 1920, 280, 1080, 22, true};
    const EdidImage good = BuildEdid(), plain = BuildEdid(interlaced);
    EdidImage badHeader = good, twoExtensions = good, badBase = good, badExtension = good;
    badHeader[7] = 0x01;
    twoExtensions[126] = 2;
    badBase[20] ^= 0x3C;
    badExtension[200] ^= 0x11;
    struct Case {
        const char* name;
        std::string path;
        int status;
        std::vector<std::string> lines;  // each a whole line of the text output
    };
    const Case cases[] = {
        {"display with CTA extension", file("good.bin", good), 0,
         {"Display: OFFICE 27", "Maker: ZQX, product code 0xA1B2", "Made: week 12 of 2019",
          "Preferred timing: 1920x1080 at 60.00 Hz", "Extension: CTA-861 revision 3, HDMI",
          "Check readable            pass        regular file",
          "Check size                pass        256 bytes (128 or 256)",
          "Check header              pass        00 FF FF FF FF FF FF 00 (00 FF FF FF FF FF FF 00)",
          "Check extension count     pass        1 (at most 1)",
          "Check extension block sum pass        bytes 128-255 sum to 0x00 (0x00)", "Accepted"}},
        {"128 bytes, interlaced", file("plain.bin", std::span<const uint8_t>(plain).first(128)), 0,
         {"Display: LOBBY", "Preferred timing: 1920x1080i at 60.00 Hz", "Extension: none",
          "Check size                pass        128 bytes (128 or 256)",
          "Check extension block sum not needed  no extension announced", "Accepted"}},
        {"bad header", file("header.bin", badHeader), 1,
         {"Check header              fail        00 FF FF FF FF FF FF 01 (00 FF FF FF FF FF FF 00)",
          "Check extension count     not reached", "Check base block sum      not reached"}},
        {"two extensions", file("two.bin", twoExtensions), 1,
         {"Check extension count     fail        2 (at most 1)"}},
        {"base block sum", file("base.bin", badBase), 1,
         {"Check base block sum      fail        bytes 0-127 sum to 0x3C (0x00)",
          "Refused: bytes 0-127 sum to 0x3C, expected 0x00"}},
        {"extension block sum", file("ext.bin", badExtension), 1,
         {"Check base block sum      pass        bytes 0-127 sum to 0x00 (0x00)",
          "Check extension block sum fail        bytes 128-255 sum to 0x11 (0x00)"}},
        {"size", file("short.bin", std::span<const uint8_t>(good).first(100)), 1,
         {"Check size                fail        100 bytes (128 or 256)", "Check header              not reached"}},
        {"directory", dir.path, 1, {"Check readable            fail        directory"}},
        {"missing", dir.path + "/none.bin", 1, {"Check readable            fail        No such file or directory"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const InProcess r = RunInProcess({"edid", "inspect", c.path});
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.err, "");
        for (const auto& line : c.lines)
            EXPECT_NE(("\n" + r.out).find("\n" + line + "\n"), std::string::npos) << line << "\n" << r.out;
    }
    // JSON: the decoded fields under stable names.
    const InProcess j = RunInProcess({"edid", "inspect", dir.path + "/good.bin", "--json"});
    EXPECT_EQ(j.status, 0);
    for (const char* field :
         {"\"accepted\":true,\"reason\":\"\"", "{\"check\":\"size\",\"verdict\":\"pass\",\"value\":\"256 bytes (128 or 256)\"}",
          "\"manufacturer\":\"ZQX\",\"product_code\":41394,\"serial_number\":16909060,\"serial_text\":\"SN0042\","
          "\"display_name\":\"OFFICE 27\",\"week\":12,\"year\":2019,\"version\":\"1.3\"",
          "\"preferred\":{\"width\":1920,\"height\":1080,\"interlaced\":false,\"pixel_clock_khz\":148500,",
          "\"extension_count\":1,\"extension\":\"cta-861\",\"hdmi\":true,\"audio\":[{\"format\":\"LPCM\",\"channels\":2}"})
        EXPECT_NE(j.out.find(field), std::string::npos) << field << "\n" << j.out;
    const InProcess bad = RunInProcess({"edid", "inspect", dir.path + "/base.bin", "--json"});
    EXPECT_EQ(bad.status, 1);
    EXPECT_NE(bad.out.find("\"accepted\":false,\"reason\":\"bytes 0-127 sum to 0x3C, expected 0x00\""),
              std::string::npos)
        << bad.out;
}

TEST(CliOffline, ProgressLinesAndHostText)
{
    const struct {
        int value, maximum;
        double elapsed;
        bool bar;
        const char* line;
    } progress[] = {
        {1536, 3072, 2.0, true, "[##########..........]  50% 1536/3072 bytes 0.8 KiB/s 0:02 left"},
        {0, 3072, 0.0, true, "[....................]   0% 0/3072 bytes 0.0 KiB/s -:-- left"},
        {3072, 3072, 1.5, true, "[####################] 100% 3072/3072 bytes 2.0 KiB/s 0:00 left"},
        {10240, 204800, 10.0, true, "[#...................]   5% 10240/204800 bytes 1.0 KiB/s 3:10 left"},
        {2900, 3002, 1.0, false, "firmware: 96% 2900/3002 bytes"},
    };
    for (const auto& p : progress)
        EXPECT_EQ(cli::ProgressLine(p.value, p.maximum, p.elapsed, p.bar), p.line);
    // Why a port did not open, naming the device behind a COM name when there is one.
    const struct {
        const char* name;
        const char* device;
        EOpenFailure failure;
        int error;
        const char* line;
    } failures[] = {
        {"COM3", "/dev/ttyUSB0", EOpenFailure::Held, 0, "COM3 (/dev/ttyUSB0): held by another program"},
        {"COM3", "/dev/ttyS2", EOpenFailure::OsError, EACCES, "COM3 (/dev/ttyS2): permission denied; "},
        {"/dev/ttyS2", "/dev/ttyS2", EOpenFailure::OsError, EPERM, "/dev/ttyS2: permission denied; "},
    };
    for (const auto& f : failures)
        EXPECT_EQ(OpenFailureText(f.name, f.device, f.failure, f.error).rfind(f.line, 0), 0u)
            << OpenFailureText(f.name, f.device, f.failure, f.error);
    // A host name through a stand-in resolver: each answer of the system's, in words; what a
    // lookup found is given back.
    static int answer = 0, released = 0;
    static sockaddr_in address{};
    static addrinfo result{};
    const SResolver fake{[](const char*, const char*, const addrinfo*, addrinfo** out) {
                             address.sin_family = AF_INET;
                             address.sin_addr.s_addr = htonl(0x0A000009);
                             result.ai_family = AF_INET;
                             result.ai_addr = reinterpret_cast<sockaddr*>(&address);
                             *out = answer == 0 ? &result : nullptr;
                             return answer;
                         },
                         [](addrinfo*) { ++released; }};
    const struct {
        const char* text;
        int answer;
        const char* why;  // "": found
        uint16_t port;
    } names[] = {
        {"lobby.lan", EAI_NONAME, "no such host (or it has no IPv4 address)", 0},
        {"lobby.lan", EAI_NODATA, "no such host (or it has no IPv4 address)", 0},
        {"lobby.lan", EAI_AGAIN, "the name could not be looked up now", 0},
        {"lobby.lan", EAI_FAIL, "the name could not be looked up: ", 0},
        {"lobby.lan", 0, "", 8000},
        {"lobby.lan:8001", 0, "", 8001},
    };
    for (const auto& n : names) {
        answer = n.answer;
        std::string why;
        const auto h = ResolveHost(n.text, why, fake);
        ASSERT_EQ(h.has_value(), *n.why == 0) << n.text << " " << n.answer;
        if (h) {
            EXPECT_EQ(h->ipv4, 0x0A000009u);
            EXPECT_EQ(h->port, n.port);
        } else {
            EXPECT_EQ(why.rfind(n.why, 0), 0u) << why;
        }
    }
    EXPECT_EQ(released, 2);
}

TEST(CliOffline, JsonStringsAlwaysParse)
{
    // File names and device texts are bytes: what is not UTF-8 must not break the document.
    const std::pair<std::string, std::string> cases[] = {
        {"plain", "\"plain\""},
        {"a\"b\\c", "\"a\\\"b\\\\c\""},
        {"tab\there\n", "\"tab\\u0009here\\u000a\""},
        {"\x7f", "\"\\u007f\""},
        {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80", "\"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80\""},
        {"/tmp/a\xff.bin", "\"/tmp/a\\ufffd.bin\""},
        {"\xc3", "\"\\ufffd\""},                    // cut short at the end
        {"\xc0\xaf", "\"\\ufffd\\ufffd\""},          // overlong
        {"\xed\xa0\x80", "\"\\ufffd\\ufffd\\ufffd\""},  // a surrogate
        {"\xe2\x82x", "\"\\ufffd\\ufffdx\""},         // a sequence broken by ASCII
        {"AB\xc2\x9b" "2J\xc2\x80\xc2\xa0", "\"AB\\u009b2J\\u0080\xc2\xa0\""},  // C1 controls; U+00A0 is text
    };
    for (const auto& [text, json] : cases)
        EXPECT_EQ(JsonString(text), json) << text;
}

// Texts from a switcher, a file or sysfs reach a terminal: control bytes must not act on it.
TEST(CliOffline, TerminalTextEscapesControlBytes)
{
    const std::pair<std::string, std::string> cases[] = {
        {"20261207", "20261207"},
        {"\x1b[2J\x1b[H", "\\x1B[2J\\x1B[H"},
        {"line\n\tnext", "line\n\tnext"},
        {"back\rspace\b\x7f", "back\\x0Dspace\\x08\\x7F"},
        {"caf\xc3\xa9 \xe2\x82\xac", "caf\xc3\xa9 \xe2\x82\xac"},
        {"\xc2\x9b" "2J", "\\xC2\\x9B2J"},  // U+009B, a C1 control some terminals take as CSI
        {"\x9b" "2J", "\\x9B2J"},           // the same as a lone byte
        {"\xe2\x82", "\\xE2\\x82"},        // cut short at the end
        {"\xe2\x1b", "\\xE2\\x1B"},        // broken off by a control byte
    };
    for (const auto& [text, shown] : cases)
        EXPECT_EQ(TerminalText(text), shown) << text;

    // The filter passes whole lines on: an unbuffered target (standard error) gets one write a
    // line, however the text was put, and the rest on a flush.
    struct SWrites final : std::streambuf {
        std::vector<std::string> writes;
        int_type overflow(int_type ch) override
        {
            writes.emplace_back(1, traits_type::to_char_type(ch));
            return ch;
        }
        std::streamsize xsputn(const char* s, std::streamsize n) override
        {
            writes.emplace_back(s, std::size_t(n));
            return n;
        }
    } writes;
    {
        std::ostream target(&writes);
        target.setf(std::ios::unitbuf);
        CTerminalTextBuf buf(target, true);
        std::ostream text(&buf);
        for (char c : std::string("TX A5 5B 01\nRX A5 \x1b 5B\n"))
            text.put(c);
        text << "firmware: 50%" << std::flush;
        text << "\rfirmware: 60%";
    }
    EXPECT_EQ(writes.writes, (std::vector<std::string>{"TX A5 5B 01\n", "RX A5 \\x1B 5B\n", "firmware: 50%",
                                                      "\rfirmware: 60%"}));

    // Every command's output passes the filter: a device path with ESC in it, for one.
    std::ostringstream out, err;
    cli::RunCommandLine(std::vector<std::string>{"status", "--port", "/nonexistent/\x1b]0;title\x07"}, out, err);
    EXPECT_EQ(err.str().find('\x1b'), std::string::npos) << err.str();
    EXPECT_NE(err.str().find("\\x1B]0;title\\x07"), std::string::npos) << err.str();
}

TEST(CliOffline, JsonReaderIsStrict)
{
    // An object of a scene's largest size: a member named twice is found (how fast:
    // bench_link_core's BM_SceneOfTheLargestSize).
    {
        std::string big = "{\"format\": \"corvane-scene\", \"version\": 1";
        int members = 0;
        while (big.size() < kSceneMaxBytes - 64)
            big += ",\"m" + std::to_string(members++) + "\":0";
        big += ",\"m" + std::to_string(members / 2) + "\":0}";
        std::string error;
        EXPECT_FALSE(ParseScene(big, error));
        EXPECT_NE(error.find("the member \"m" + std::to_string(members / 2) + "\" appears twice"), std::string::npos)
            << error;
    }

    const struct {
        std::string text;
        std::string error;  // empty: accepted
    } cases[] = {
        {R"({"a": [1, -0, 2.5e3, true, false, null, "x\u00e9\ud83d\ude00\n"]})", ""},
        {"\xEF\xBB\xBF {} ", ""},  // a byte-order mark and white space around the document
        {"[9223372036854775807, -9223372036854775808, 9223372036854775808]", ""},
        {"", "line 1, column 1: the document ends where a value should be"},
        {"{\"a\": 1,}", "line 1, column 9: expected a member name in double quotes"},
        {"[1, 2,]", "line 1, column 7: expected a value"},
        {"{\"a\": 1, \"a\": 2}", "line 1, column 10: the member \"a\" appears twice"},
        {"[01]", "line 1, column 3: a number with a leading zero"},
        {"[1.]", "line 1, column 4: expected a digit after '.'"},
        {"[+1]", "line 1, column 2: expected a value"},
        {"{\"a\":\n  tru}", "line 2, column 3: expected a value"},
        {"[\"\t\"]", "line 1, column 3: a control character in a string (write it as \\u00XX)"},
        {"[\"\xC3\x28\"]", "line 1, column 3: a byte that is not UTF-8"},
        {"[\"\\ud800\"]", "a high surrogate without a low one"},
        {"[\"\\udc00\"]", "a low surrogate without a high one"},
        {"[\"\\x41\"]", "an unknown escape in a string"},
        {"[\"open", "a string is not closed"},
        {"{} {}", "line 1, column 4: unexpected text after the document"},
        {"// comment\n{}", "line 1, column 1: expected a value"},
        {std::string(64, '[') + std::string(64, ']'), ""},
        {std::string(65, '[') + std::string(65, ']'), "line 1, column 65: nested deeper than 64 levels"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        std::string error;
        const auto v = ParseJson(c.text, error);
        EXPECT_EQ(v.has_value(), c.error.empty());
        if (c.error.empty())
            EXPECT_EQ(error, "");
        else
            EXPECT_NE(error.find(c.error), std::string::npos) << error;
    }
    std::string error;
    const auto v = ParseJson(R"({"a": [1, -0, 2.5e3, "x\u00e9\ud83d\ude00"], "b": 9223372036854775808})", error);
    ASSERT_TRUE(v);
    const SJson& a = *v->Find("a");
    EXPECT_EQ(a.items[0].integer, 1);
    EXPECT_EQ(a.items[1].integer, 0);
    EXPECT_FALSE(a.items[2].integer);  // not a whole number as written
    EXPECT_EQ(a.items[3].text, "x\xc3\xa9\xf0\x9f\x98\x80");
    EXPECT_FALSE(v->Find("b")->integer);  // does not fit
    EXPECT_EQ(v->Find("b")->text, "9223372036854775808");
}

// A scene that is malformed or newer than this program is refused with its reason before any
// link opens (the port named does not exist: opening it would end with status 3).
TEST(CliOffline, SceneFilesRefusedBeforeTheLinkOpens)
{
    TempDir dir;
    const EdidImage edid = BuildEdid();
    std::string hex;
    for (uint8_t b : edid) {
        static const char d[] = "0123456789abcdef";
        hex += d[b >> 4];
        hex += d[b & 15];
    }
    std::string broken = hex;
    broken[40] = broken[40] == '0' ? '1' : '0';  // a byte of the base block: its sum is off
    const auto scene = [](const std::string& head, const std::string& routes, const std::string& edid3) {
        return "{" + head + R"("routes": )" + routes + R"(, "beep": true, "dvi": false, "edids": [
            {"input": 1, "kind": "unknown"}, {"input": 2, "kind": "preset", "name": "DVI 1920x1080"},
            )" + edid3 + R"(, {"input": 4, "kind": "unknown"}]})";
    };
    const std::string head = R"("format": "corvane-scene", "version": 1, )";
    const std::string routes = R"([{"output": 1, "input": 2}, {"output": 2, "input": 4}])";
    const std::string unknown3 = R"({"input": 3, "kind": "unknown"})";
    const struct {
        const char* name;
        std::string text;
        std::string reason;
    } cases[] = {
        {"newer version", scene(R"("format": "corvane-scene", "version": 2, "lights": "off", )", "0", "0"),
         "format version 2 was written by a newer corvanectl; this one reads up to 1"},
        {"not JSON", "{\"format\": \"corvane-scene\",", "line 1, column 28: expected a member name in double quotes"},
        {"another format", scene(R"("format": "panel-layout", "version": 1, )", routes, unknown3),
         "format: \"panel-layout\", not a scene (\"corvane-scene\")"},
        {"no version", scene(R"("format": "corvane-scene", )", routes, unknown3), "version: missing"},
        {"version zero", scene(R"("format": "corvane-scene", "version": 0, )", routes, unknown3),
         "version: 0 is not a format version"},
        {"misspelt setting", scene(head + R"("bep": false, )", routes, unknown3), "bep: not a member this format knows"},
        {"one route", scene(head, R"([{"output": 1, "input": 2}])", unknown3),
         "routes: 1 entries; the switcher has 2 outputs"},
        {"output twice", scene(head, R"([{"output": 1, "input": 2}, {"output": 1, "input": 3}])", unknown3),
         "routes[1]: output 1 appears twice"},
        {"input 5", scene(head, R"([{"output": 1, "input": 5}, {"output": 2, "input": 3}])", unknown3),
         "routes[0].input: 5 is not a whole number from 1 to 4"},
        {"input 0", scene(head, R"([{"output": 1, "input": 2}, {"output": 2, "input": 0}])", unknown3),
         "routes[1].input: 0 is not a whole number from 1 to 4"},
        {"no beep", [&] {
             const std::string beep = R"("beep": true, )";
             std::string t = scene(head, routes, unknown3);
             return t.erase(t.find(beep), beep.size());
         }(),
         "beep: missing"},
        {"misspelt in place of beep", [&] {
             std::string t = scene(head, routes, unknown3);
             return t.replace(t.find(R"("beep")"), 6, R"("bep")");
         }(),
         "bep: not a member this format knows"},
        {"misspelt in place of a route's input", scene(head, R"([{"output": 1, "inptu": 2}, {"output": 2, "input": 3}])", unknown3),
         "routes[0].inptu: not a member this format knows"},
        {"input as text", scene(head, R"([{"output": 1, "input": "2"}, {"output": 2, "input": 3}])", unknown3),
         "routes[0].input: a string where a number belongs"},
        {"no such preset", scene(head, routes, R"({"input": 3, "kind": "preset", "name": "8K"})"),
         "edids[2].name: \"8K\" is not a built-in EDID"},
        {"a preset by number", scene(head, routes, R"({"input": 3, "kind": "preset", "name": "4"})"),
         "edids[2].name: \"4\" is not a built-in EDID"},
        {"input twice", scene(head, routes, R"({"input": 2, "kind": "unknown"})"), "edids[2]: input 2 appears twice"},
        {"EDID with a bad sum", scene(head, routes, R"({"input": 3, "kind": "file", "name": "x.bin", "data": ")" + broken + "\"}"),
         "edids[2].data: not an EDID the switcher may be sent: bytes 0-127 sum to"},
        {"EDID cut short", scene(head, routes, R"({"input": 3, "kind": "file", "name": "x.bin", "data": ")" + hex.substr(0, 200) + "\"}"),
         "edids[2].data: not an EDID the switcher may be sent: size 100 bytes"},
        {"EDID not hex", scene(head, routes, R"({"input": 3, "kind": "file", "name": "x.bin", "data": "0g"})"),
         "edids[2].data: not hexadecimal at digit 2"},
        {"MAC", scene(head + R"("switcher": {"mac": "02:C5:1A"}, )", routes, unknown3),
         "switcher.mac: \"02:C5:1A\" is not a MAC address"},
        {"seven pairs", scene(head + R"("switcher": {"mac": "02:C5:1A:00:00:01:02"}, )", routes, unknown3),
         "is not a MAC address"},
        {"a byte over 1 MiB", scene(head, routes, unknown3) + std::string(kSceneMaxBytes, ' '),
         "more than 1048576 bytes; not a scene"},
        {"two ways", scene(head + R"("switcher": {"host": "10.0.0.2:8000", "port": "COM3"}, )", routes, unknown3),
         "switcher: both host and port"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.path + "/scene.json";
        std::ofstream(path, std::ios::trunc) << c.text;
        const InProcess r = RunInProcess({"scene", "apply", path, "--port", dir.path + "/no-such-tty"});
        EXPECT_EQ(r.status, 2) << r.err;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err.rfind("corvanectl: " + path + ": ", 0), 0u) << r.err;
        EXPECT_NE(r.err.find(c.reason), std::string::npos) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    }
    // Not a regular file: refused without being read, so a FIFO never blocks.
    const InProcess folder = RunInProcess({"scene", "apply", dir.path, "--port", dir.path + "/no-such-tty"});
    EXPECT_EQ(folder.status, 2);
    EXPECT_EQ(folder.err, "corvanectl: " + dir.path + ": a directory, not a scene file\n");
    const std::string fifo = dir.path + "/fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(RunInProcess({"scene", "show", fifo}).err, "corvanectl: " + fifo + ": not a regular file\n");

    // A good scene reads back to what it was written from, and show prints it for people.
    const std::string good = dir.path + "/good.json";
    std::ofstream(good, std::ios::trunc) << scene(head + R"("saved": "2026-12-07T14:03:22Z", "switcher": {"host": "10.0.0.2:8000", "mac": "02:C5:1A:00:00:01", "device": "Device: Corvane 4x2     Version:1.32-20261207"}, )",
                                                  routes, R"({"input": 3, "kind": "file", "name": "office.bin", "data": ")" + hex + "\"}");
    std::string why;
    const auto read = ReadSceneFile(good, why);
    ASSERT_TRUE(read) << why;
    std::string atBound = scene(head, routes, unknown3);
    atBound.resize(kSceneMaxBytes, ' ');  // blanks up to exactly 1 MiB: still a scene
    std::ofstream(dir.path + "/bound.json", std::ios::trunc) << atBound;
    EXPECT_TRUE(ReadSceneFile(dir.path + "/bound.json", why)) << why;
    EXPECT_EQ(read->edids[2].data, std::vector<uint8_t>(edid.begin(), edid.end()));
    const auto again = ParseScene(SceneJson(*read), why);
    ASSERT_TRUE(again) << why;
    EXPECT_EQ(*again, *read);
    const InProcess shown = RunInProcess({"scene", "show", good});
    EXPECT_EQ(shown.status, 0);
    EXPECT_EQ(shown.out, "Scene format 1, saved 2026-12-07T14:03:22Z\n"
                         "Switcher: --host 10.0.0.2:8000, MAC 02:C5:1A:00:00:01\n"
                         "Device: Corvane 4x2     Version:1.32-20261207\n"
                         "OUTPUT 1: IN 2\nOUTPUT 2: IN 4\nBeep: on\nDVI compatibility: off\n"
                         "EDID IN1: unknown (not a preset; scene apply leaves it as it is)\n"
                         "EDID IN2: DVI 1920x1080\n"
                         "EDID IN3: file office.bin (256 bytes, Display: OFFICE 27)\n"
                         "EDID IN4: unknown (not a preset; scene apply leaves it as it is)\n");
}

// What apply changes and what it finds still different afterwards, for each kind of setting.
// What watch, scene apply and the bridge learn from two readings.
TEST(CliOffline, StateChangesBetweenTwoReadings)
{
    const auto line = [](bool output, int n, bool on) {
        return SSignalLine{0, output, n, on, (output ? "OUTPUT" : "INPUT ") + std::to_string(n)};
    };
    SSwitcherState full;
    for (int i = 1; i <= 4; ++i) {
        full.inputs[i - 1] = line(false, i, i % 2 == 1);
        full.edids[i - 1] = "EDID " + std::to_string(i);
    }
    full.outputs = {line(true, 1, true), line(true, 2, false)};
    full.routes = {3, 4};
    full.beep = true;
    full.dvi = false;
    full.device = SDeviceInfo{1, 4, 2, 1, 32, "20261207"};
    SSwitcherState changed = full;
    changed.inputs[1] = line(false, 2, true);
    changed.routes[0] = 1;
    changed.edids[3] = "Default EDID";
    changed.device->build = "20261208";
    SSwitcherState partial = full;
    partial.edids[2].reset();  // not read: never a change
    partial.dvi.reset();
    using I = EStateItem;
    const struct {
        const char* name;
        const SSwitcherState* was;
        const SSwitcherState& now;
        std::vector<SStateChange> changes;
    } cases[] = {
        {"first reading", nullptr, full,
         {{I::InputSignal, 1}, {I::InputSignal, 2}, {I::InputSignal, 3}, {I::InputSignal, 4}, {I::OutputSignal, 1},
          {I::OutputSignal, 2}, {I::Beep, 0}, {I::Dvi, 0}, {I::Route, 1}, {I::Route, 2}, {I::Edid, 1}, {I::Edid, 2},
          {I::Edid, 3}, {I::Edid, 4}, {I::Device, 0}}},
        {"the same", &full, full, {}},
        {"changed", &full, changed, {{I::InputSignal, 2}, {I::Route, 1}, {I::Edid, 4}, {I::Device, 0}}},
        {"not read", &full, partial, {}},
        {"read again", &partial, full, {{I::Dvi, 0}, {I::Edid, 3}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(StateChanges(c.was, c.now), c.changes);
    }
    EXPECT_EQ(StateValueText(changed, {I::InputSignal, 2}), "Connect");
    EXPECT_EQ(StateValueText(full, {I::InputSignal, 2}), "Disconnect");
    EXPECT_EQ(StateValueText(changed, {I::Edid, 4}), "Default EDID");
    EXPECT_EQ(StateValueText(changed, {I::Route, 1}), "IN 1");
    EXPECT_EQ(StateValueText(partial, {I::Dvi, 0}), "?");
    // Each change as watch prints it, with the value it had.
    for (bool json : {false, true}) {
        std::ostringstream out;
        cli::PrintChanges(out, json, changed, full);
        for (const char* said : json ? std::vector<const char*>{R"("input":2,"signal":true,"was":false})",
                                                                 R"("output":1,"route":1,"was":3})",
                                                                 R"("input":4,"edid":"Default EDID","was":"EDID 4"})"}
                                     : std::vector<const char*>{"INPUT 2 (was Disconnect)\n",
                                                                 "OUTPUT 1: IN 1 (was IN 3)\n",
                                                                 "EDID IN4: Default EDID (was EDID 4)\n"})
            EXPECT_NE(out.str().find(said), std::string::npos) << out.str();
    }
}

TEST(CliOffline, SceneDifferences)
{
    SScene scene;
    scene.routes = {3, 4};
    scene.beep = true;
    scene.edids[0] = {SSceneEdid::Kind::Preset, 4, "", {}};
    scene.edids[1] = {SSceneEdid::Kind::File, -1, "a.bin", {0}};
    scene.edids[2] = {SSceneEdid::Kind::Preset, 15, "", {}};  // the default, for this input alone
    const auto lines = [](const std::vector<SSceneDifference>& d) {
        std::vector<std::string> l;
        for (const auto& x : d)
            l.push_back(x.Line());
        return l;
    };
    using Lines = std::vector<std::string>;
    const auto state = [](std::array<int, 2> routes, bool beep, bool dvi, std::array<std::string, 4> edids) {
        SSwitcherState s;
        s.routes = routes;
        s.beep = beep;
        s.dvi = dvi;
        for (int i = 0; i < 4; ++i)
            s.edids[i] = edids[i];
        return s;
    };
    const auto same = state({3, 4}, true, false, {"1080p,Dolby/DTS 5.1", "Default EDID", "1080p,Stereo Audio 2.0", "x"});
    EXPECT_EQ(lines(SceneChanges(scene, same)), Lines{"EDID IN2: file a.bin, sent: the switcher cannot report it"});
    EXPECT_EQ(lines(SceneMismatches(scene, same)), Lines{});
    const auto other = state({1, 4}, false, true, {"Default EDID", "3D,HD Audio 7.1", "Default EDID", ""});
    const Lines all = {"output 1: IN 1 -> IN 3", "beep: off -> on", "DVI compatibility: on -> off",
                       "EDID IN1: Default EDID -> 1080p,Dolby/DTS 5.1", "EDID IN2: 3D,HD Audio 7.1 -> file a.bin",
                       "EDID IN3: Default EDID -> Default EDID (1080p,Stereo Audio 2.0)"};
    EXPECT_EQ(lines(SceneChanges(scene, other)), all);
    EXPECT_EQ(lines(SceneMismatches(scene, other)), all);  // a preset where the file belongs
}

// ---- several switchers: host lists, the process runner, command lines refused up front ---------

// What --all acts on of the search answers: each switcher once, an address two switchers
// answer for never (port 8000 would reach one of them, unknown which).
TEST(CliFleetOffline, SearchAnswersToActOn)
{
    const std::string a = "02:C5:1A:00:00:01", b = "02:C5:1A:00:00:02";
    const struct {
        const char* name;
        std::vector<FoundSwitcher> found;
        std::vector<std::string> hosts;
        std::string said;
    } cases[] = {
        {"two switchers", {{"10.0.0.7", a}, {"10.0.0.9", b}}, {"10.0.0.7", "10.0.0.9"}, ""},
        {"one switcher answering twice", {{"10.0.0.7", a}, {"10.0.0.7", a}}, {"10.0.0.7"}, ""},
        {"two switchers on one address", {{"10.0.0.7", a}, {"10.0.0.8", a}, {"10.0.0.7", b}}, {"10.0.0.8"},
         "corvanectl: 2 switchers (02:C5:1A:00:00:01, 02:C5:1A:00:00:02) answer for 10.0.0.7: none acted on; "
         "name the one meant with --hosts 10.0.0.7:PORT\n"},
        {"a broadcast address, twice", {{"255.255.255.255", a}, {"255.255.255.255", a}}, {},
         "corvanectl: a search answer names 255.255.255.255, the broadcast address: skipped\n"},
        {"loopback, the search elsewhere", {{"127.0.0.2", a}}, {},
         "corvanectl: a search answer names 127.0.0.2, an address of this machine: skipped\n"},
    };
    for (const auto& c : cases) {
        std::ostringstream err;
        EXPECT_EQ(cli::AddressesToActOn(c.found, false, err), c.hosts) << c.name;
        EXPECT_EQ(err.str(), c.said) << c.name;
    }
}

TEST(CliFleetOffline, HostListsAndHostsFiles)
{
    using Hosts = std::vector<std::string>;
    const struct {
        const char* name;
        bool file;
        std::string text;
        Hosts hosts;        // empty: refused
        std::string error;  // part of the reason
    } cases[] = {
        {"list", false, "10.0.0.1,10.0.0.2:8123, 10.0.0.3 ", {"10.0.0.1", "10.0.0.2:8123", "10.0.0.3"}, ""},
        {"one", false, "192.168.1.20", {"192.168.1.20"}, ""},
        {"trailing comma", false, "10.0.0.1,", {}, "an empty address"},
        {"empty", false, "", {}, "an empty address"},
        {"not a name", false, "10.0.0.1,switcher_lobby", {}, "'switcher_lobby' is not an IPv4 address or a host name"},
        // A name is looked up (here in the hosts file: no query leaves the machine).
        {"a name", false, "localhost:8001,10.0.0.1", {"localhost:8001", "10.0.0.1"}, ""},
        {"a name twice", false, "127.0.0.1:8001,localhost:8001", {}, "localhost:8001 names the same switcher"},
        {"bad port", false, "10.0.0.1:0", {}, "'10.0.0.1:0' is not an IPv4 address"},
        // The same switcher twice would get two links at once.
        {"twice", false, "10.0.0.1,10.0.0.1:8000", {}, "10.0.0.1:8000 names the same switcher as 10.0.0.1"},
        {"same address, other port", false, "10.0.0.1:8001,10.0.0.1:8002", {"10.0.0.1:8001", "10.0.0.1:8002"}, ""},
        {"neighbours whose ports differ by 32768", false, "10.0.0.2:40000,10.0.0.3:7232",
         {"10.0.0.2:40000", "10.0.0.3:7232"}, ""},
        {"file", true, "# hall A\n10.0.0.1\n\n  10.0.0.2:8123  # projector room\r\n\t\n#10.0.0.9\n10.0.0.3",
         {"10.0.0.1", "10.0.0.2:8123", "10.0.0.3"}, ""},
        {"file, two on a line", true, "10.0.0.1\n10.0.0.2 10.0.0.3\n", {}, "line 2: one address a line"},
        {"file, labels", true, "10.0.0.1  lobby\n10.0.0.2\tstage left # the big one\n10.0.0.3\n",
         {"10.0.0.1", "10.0.0.2", "10.0.0.3"}, ""},
        {"file, comma list", true, "10.0.0.1,10.0.0.2\n", {}, "line 1: one address a line"},
        {"file, bad line", true, "10.0.0.1\n# ok\nroom_12\n", {}, "line 3: 'room_12' is not an IPv4 address"},
        {"file, twice", true, "10.0.0.1\n10.0.0.1\n", {}, "line 2: 10.0.0.1 names the same switcher"},
        {"file, only comments", true, "# none yet\n\n", {}, "no address in it"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string error;
        std::vector<std::string> labels;
        const auto hosts = c.file ? cli::ParseHostLines(c.text, error, &labels) : cli::ParseHostList(c.text, error);
        EXPECT_EQ(hosts.value_or(Hosts{}), c.hosts);
        if (std::string(c.name) == "file, labels") {
            EXPECT_EQ(labels, (std::vector<std::string>{"lobby", "stage left", ""}));
        }
        if (c.hosts.empty()) {
            EXPECT_NE(error.find(c.error), std::string::npos) << error;
        }
    }
}

// Records what the runner reports, in the order it reports it.
struct SJobLog final : cli::IJobObserver {
    std::vector<std::string> events;
    void Started(std::size_t k) override { events.push_back("start " + std::to_string(k)); }
    void ErrLine(std::size_t k, const std::string& line) override
    {
        events.push_back("line " + std::to_string(k) + " " + line);
    }
    void Ended(std::size_t k, const cli::SJobResult& r) override
    {
        events.push_back("end " + std::to_string(k) + " " + std::to_string(r.status));
    }
};

TEST(CliFleetOffline, RunnerKeepsEachJobApartWithinTheBound)
{
    // Each job prints when it began and ended by the clock, in nanoseconds.
    auto job = [](int exitStatus, const std::string& extra = "") {
        return std::vector<std::string>{"/bin/sh", "-c",
                                        "date +%s%N; sleep 0.1; " + extra + "date +%s%N; echo done >&2; exit " +
                                            std::to_string(exitStatus)};
    };
    std::vector<std::vector<std::string>> jobs = {job(0), job(1), job(0), job(3), job(0), job(0)};
    // One that fills both pipes far past their size: the runner reads both while it waits.
    jobs.push_back({"/bin/sh", "-c", "head -c 300000 /dev/zero | tr '\\0' e >&2; head -c 300000 /dev/zero | tr '\\0' o"});
    jobs.push_back({"/nonexistent/program"});
    jobs.push_back({"/bin/sh", "-c", "kill -KILL $$"});  // ended by a signal: 128 + its number
    for (unsigned bound : {1u, 2u, 3u}) {
        SCOPED_TRACE(bound);
        SJobLog log;
        const auto results = cli::RunJobs(jobs, bound, log);
        ASSERT_EQ(results.size(), jobs.size());
        const int statuses[] = {0, 1, 0, 3, 0, 0, 0, 127, 137};
        std::vector<std::pair<long long, long long>> spans;
        for (std::size_t k = 0; k < results.size(); ++k) {
            EXPECT_EQ(results[k].status, statuses[k]) << k << ": " << results[k].err.substr(0, 200);
            if (k < 6) {
                EXPECT_EQ(results[k].err, "done\n");
                std::istringstream times(results[k].out);
                long long a = 0, b = 0;
                times >> a >> b;
                ASSERT_LT(a, b) << results[k].out;
                spans.emplace_back(a, b);
            }
        }
        EXPECT_EQ(results[6].out, std::string(300000, 'o'));
        EXPECT_EQ(results[6].err, std::string(300000, 'e'));
        EXPECT_NE(results[7].err.find("cannot start"), std::string::npos) << results[7].err;
        // At no moment did more jobs run than the bound, and the bound was used.
        std::size_t most = 0;
        for (const auto& [begin, end] : spans) {
            std::size_t running = 0;
            for (const auto& other : spans)
                running += other.first <= begin && begin < other.second;
            most = std::max(most, running);
        }
        EXPECT_EQ(most, bound);
        // Started in order; every job's lines reported before its end, each line whole.
        std::vector<std::size_t> started;
        for (const auto& e : log.events)
            if (e.rfind("start ", 0) == 0)
                started.push_back(std::stoul(e.substr(6)));
        EXPECT_EQ(started, (std::vector<std::size_t>{0, 1, 2, 3, 4, 5, 6, 7, 8}));
        for (std::size_t k = 0; k < 6; ++k) {
            const auto line = std::find(log.events.begin(), log.events.end(), "line " + std::to_string(k) + " done");
            const auto end = std::find(log.events.begin(), log.events.end(),
                                       "end " + std::to_string(k) + " " + std::to_string(statuses[k]));
            EXPECT_LT(line, end) << k;
        }
        EXPECT_EQ(std::count(log.events.begin(), log.events.end(), "line 6 " + std::string(300000, 'e')), 1);
    }

    // The bounds: the last bytes of each stream kept, what went before counted; a job past its
    // deadline gets SIGTERM, one that ignores it SIGKILL after the grace (on the virtual clock,
    // moved to the next due timer once the first job has ended and the others wait); a stop
    // signals the running jobs and starts no more.
    const int stop[2] = {-1, -1};
    ASSERT_EQ(pipe2(const_cast<int*>(stop), O_CLOEXEC), 0);
    const std::vector<std::vector<std::string>> bounded = {
        jobs[6],
        {"/bin/sh", "-c", "echo waits >&2; exec sleep 30"},
        {"/bin/sh", "-c", "trap '' TERM; trap 'echo again >&2' USR1; echo waits >&2; while :; do sleep 0.05; done"},
    };
    struct SClockMover final : cli::IJobObserver {
        CVirtualTimers clock;
        int waiting = 0;
        std::map<std::size_t, int64_t> ended;  // job: the moment it ended
        void Move()
        {
            if (waiting == 2 && ended.count(0) && clock.NextDue() >= 0)
                clock.Advance(clock.NextDue() - clock.Now());
        }
        void ErrLine(std::size_t, const std::string& line) override
        {
            waiting += line == "waits";
            Move();
        }
        void Ended(std::size_t k, const cli::SJobResult&) override
        {
            ended[k] = clock.Now();
            if (k == 1) {  // a stop while the last one's grace runs does not lengthen it
                clock.Advance(100);
                const unsigned char sig = SIGUSR1;
                EXPECT_EQ(write(stopFd, &sig, 1), 1);
                return;
            }
            Move();
        }
        int stopFd = -1;
    } mover;
    mover.stopFd = stop[1];
    cli::SRunLimits limits;
    limits.keepBytes = 100000;
    limits.deadlineMs = 1500;
    limits.graceMs = 300;
    limits.timers = &mover.clock;
    limits.stopFd = stop[0];
    const auto results = cli::RunJobs(bounded, 3, mover, limits);
    EXPECT_EQ(mover.ended, (std::map<std::size_t, int64_t>{{0, 0}, {1, 1500}, {2, 1800}}));
    EXPECT_EQ(mover.clock.NextDue(), -1);  // no signal left for a process that has gone
    EXPECT_EQ(results[0].status, 0);
    EXPECT_EQ(results[0].out, std::string(100000, 'o'));
    EXPECT_EQ(results[0].outDropped, 200000u);
    EXPECT_EQ(results[0].err.size() + results[0].errDropped, 300000u);
    EXPECT_EQ(results[0].err.size(), 100000u);
    EXPECT_FALSE(results[0].timedOut);
    EXPECT_TRUE(results[1].timedOut);
    EXPECT_EQ(results[1].status, 128 + SIGTERM);
    EXPECT_TRUE(results[2].timedOut);
    EXPECT_EQ(results[2].status, 128 + SIGKILL);

    limits = {};
    limits.stopFd = stop[0];
    const std::vector<std::vector<std::string>> sleepers(3, {"/bin/sh", "-c", "echo begun; exec sleep 30"});
    struct SStopOnStart final : cli::IJobObserver {
        int fd;
        int started = 0;
        std::vector<std::string> events;
        void Started(std::size_t) override
        {
            if (++started == 2) {  // both running: the stop comes
                const unsigned char sig = SIGTERM;
                EXPECT_EQ(write(fd, &sig, 1), 1);
            }
        }
        void Ended(std::size_t k, const cli::SJobResult& r) override
        {
            events.push_back(std::to_string(k) + " " + std::to_string(r.status) + (r.interrupted ? " stopped" : ""));
        }
    } stopper;
    stopper.fd = stop[1];
    const auto stopped = cli::RunJobs(sleepers, 2, stopper, limits);
    std::sort(stopper.events.begin(), stopper.events.end());
    EXPECT_EQ(stopper.events, (std::vector<std::string>{"0 143 stopped", "1 143 stopped", "2 -1 stopped"}));
    close(stop[0]);
    close(stop[1]);
}

TEST(CliFleetOffline, BadCommandLinesEndBeforeAnySwitcher)
{
    TempDir dir;
    WriteAll(dir.path + "/hosts", std::vector<uint8_t>{'1', '0', '.', '0', '.', '0', '.', '1', '\n', 'x', '_', '\n'});
    WriteAll(dir.path + "/one.bin", std::vector<uint8_t>{1});
    const struct {
        std::vector<std::string> args;
        int status;
        std::string err;  // part of standard error
    } cases[] = {
        {{"--hosts", "10.0.0.1", "--port", "COM3", "status"}, 2, "--port names one switcher"},
        {{"status", "--hosts", "10.0.0.1", "--host", "10.0.0.2"}, 2, "--host names one switcher"},
        {{"--hosts", "10.0.0.1", "--all", "status"}, 2, "give one of --hosts, --hosts-file and --all"},
        {{"--jobs", "2", "status"}, 2, "--jobs goes with --hosts"},
        {{"--hosts", "10.0.0.1", "--jobs", "0", "status"}, 2, "--jobs is 1 to 256"},
        {{"--hosts", "10.0.0.1", "--jobs=300", "status"}, 2, "--jobs is 1 to 256"},
        {{"--hosts", "10.0.0.1,10.0.0.2", "--jobs", "256", "route", "5", "1"}, 2, "INPUT is 1, 2, 3 or 4"},
        {{"--hosts", "10.0.0.1", "--hosts", "10.0.0.2", "status"}, 2, "--hosts is given twice"},
        {{"--hosts", "10.0.0.1,", "status"}, 2, "--hosts: an empty address"},
        {{"--hosts-file", dir.path + "/hosts", "status"}, 2, "line 2: 'x_' is not an IPv4 address"},
        {{"--hosts-file", dir.path + "/none", "status"}, 2, "No such file or directory"},
        {{"--hosts-file", dir.path, "status"}, 2, "not a regular file"},
        {{"--hosts", "10.0.0.1", "--udp-to", "127.0.0.1", "status"}, 2, "--udp-to and --wait go with --all"},
        {{"--all", "--udp-to", "nowhere", "status"}, 2, "--udp-to "},
        {{"--all", "--wait", "0", "status"}, 2, "--wait is 1 to 600000"},
        {{"--hosts", "10.0.0.1"}, 2, "which command?"},
        {{"--hosts", "10.0.0.1", "reset", "--yes"}, 2, "'reset' does not run on several switchers"},
        {{"--hosts", "10.0.0.1", "edid", "status"}, 2, "'edid status' does not run on several switchers"},
        {{"--hosts", "10.0.0.1", "firmware", "pack", "a", "b"}, 2, "'firmware pack' does not run"},
        // An option before the second word must not hide it.
        {{"--hosts", "10.0.0.1,10.0.0.2", "scene", "--edid", "IN1=a.bin", "save", "out.json"}, 2,
         "'scene save' does not run"},
        {{"--hosts", "10.0.0.1", "edid", "--to", "all", "status"}, 2, "'edid status' does not run"},
        // The command's own checks, once for all switchers.
        {{"--hosts", "10.0.0.1,10.0.0.2", "route", "5", "1"}, 2, "INPUT is 1, 2, 3 or 4"},
        {{"--hosts", "10.0.0.1,10.0.0.2", "beep"}, 2, "on or off?"},
        {{"--hosts", "10.0.0.1,10.0.0.2", "status", "--colour"}, 2, "unknown option '--colour'"},
        {{"--hosts", "10.0.0.1,10.0.0.2", "firmware", "upgrade", dir.path + "/one.bin"}, 1, "corvanectl: "},
        {{"--hosts", "10.0.0.1,10.0.0.2", "edid", "load", dir.path + "/one.bin", "--to", "all"}, 1,
         "size 1 bytes, expected 128 or 256"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.back());
        const InProcess r = RunInProcess(c.args);
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_EQ(r.out, "");
        EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
        EXPECT_EQ(r.err.rfind("corvanectl: ", 0), 0u) << r.err;
        if (c.status == 1) {
            EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;  // once, not per switcher
        }
    }
    // Help is no run.
    const InProcess help = RunInProcess({"--hosts", "10.0.0.1", "--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("--hosts-file FILE"), std::string::npos) << help.out;
}

TEST(CliOffline, GlobalOptionsMoveBehindTheCommandWord)
{
    using Words = std::vector<std::string>;
    const std::pair<Words, Words> cases[] = {
        {{"--port", "COM3", "status"}, {"status", "--port", "COM3"}},
        {{"--json", "--host=10.0.0.2", "route", "2", "1"}, {"route", "2", "1", "--json", "--host=10.0.0.2"}},
        {{"--port", "COM3", "info"}, {"info", "--port", "COM3"}},  // a firmware command word
        {{"--port", "COM3", "--help"}, {"--help"}},
        {{"status", "--port", "COM3"}, {"status", "--port", "COM3"}},
        {{"--port", "COM3"}, {"--port", "COM3"}},
        {{"--port"}, {"--port"}},
        {{"pack", "a", "b"}, {"pack", "a", "b"}},
    };
    for (const auto& [given, expected] : cases)
        EXPECT_EQ(cli::CommandWordFirst(given), expected) << given.front();
}

}  // namespace
}  // namespace corvane::test
