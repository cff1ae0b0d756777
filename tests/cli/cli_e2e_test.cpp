// corvanectl as a script runs it: the program against the emulator process over a
// pseudo-terminal, its standard output, standard error and exit status, and what the emulator
// holds afterwards (read back by the program itself).
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <pty.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <optional>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/cli/ctl_run.h"
#include "tests/support/sim_process.h"

namespace corvane::test {
namespace {

class CliEndToEnd : public ::testing::Test {
protected:
    void Start(std::vector<std::string> simArgs, bool quiet = true)
    {
        simArgs.insert(simArgs.begin(), {"--serial", "com201"});
        if (quiet)
            simArgs.push_back("--quiet");
        sim = std::make_unique<SimProcess>(simArgs, dir.path);
        ASSERT_EQ(sim->first.rfind("serial: com201", 0), 0u) << sim->first;
    }
    Result Run(std::vector<std::string> args, int boundMs = 15000)
    {
        args.insert(args.end(), {"--port", "COM201"});
        return Ctl(args, dir.path, boundMs);
    }

    TempDir dir;
    std::unique_ptr<SimProcess> sim;
};

const char kDefaultStatus[] =
    "INPUT 1: Connect\nINPUT 2: Disconnect\nINPUT 3: Connect\nINPUT 4: Disconnect\n"
    "OUTPUT1: Disconnect\nOUTPUT2: Connect\nBeep: on\nDVI compatibility: off\n"
    "OUTPUT 1: IN 1\nOUTPUT 2: IN 2\n"
    "EDID IN1: Default EDID\nEDID IN2: Default EDID\nEDID IN3: Default EDID\nEDID IN4: Default EDID\n"
    "Device: Corvane 4x2     Version:1.32-20261207\n";

TEST_F(CliEndToEnd, EveryCommandChangesTheSwitcherAndReportsIt)
{
    Start({"--signals", "1010:01"});
    struct Case {
        std::vector<std::string> args;
        std::string out;
        std::vector<std::string> readBack;  // a command whose output shows the switcher's state
        std::string state;
    };
    const Case cases[] = {
        {{"status"}, kDefaultStatus, {}, ""},
        {{"status", "--json"},
         "{\"inputs\":[{\"input\":1,\"signal\":true,\"edid\":\"Default EDID\"},{\"input\":2,\"signal\":false,"
         "\"edid\":\"Default EDID\"},{\"input\":3,\"signal\":true,\"edid\":\"Default EDID\"},{\"input\":4,"
         "\"signal\":false,\"edid\":\"Default EDID\"}],\"outputs\":[{\"output\":1,\"signal\":false,\"input\":1},"
         "{\"output\":2,\"signal\":true,\"input\":2}],\"beep\":true,\"dvi\":false,\"device\":{\"line\":"
         "\"Device: Corvane 4x2     Version:1.32-20261207\",\"type\":\"Corvane\",\"size\":\"4x2\",\"version\":"
         "\"1.32\",\"build\":\"20261207\"}}\n",
         {}, ""},
        {{"route", "4", "2"}, "OUTPUT 2: IN 4\n", {"route"}, "OUTPUT 1: IN 1\nOUTPUT 2: IN 4\n"},
        {{"route", "3", "all", "--json"}, "{\"routes\":[{\"output\":1,\"input\":3},{\"output\":2,\"input\":3}]}\n",
         {"route", "--json"}, "{\"routes\":[{\"output\":1,\"input\":3},{\"output\":2,\"input\":3}]}\n"},
        {{"beep", "off"}, "Beep: off\n", {"status", "--json"}, "\"beep\":false,\"dvi\":false,"},
        {{"dvi", "on", "--json"}, "{\"dvi\":true}\n", {"status", "--json"}, "\"beep\":false,\"dvi\":true,"},
        {{"beep", "on", "--json"}, "{\"beep\":true}\n", {"status"}, "Beep: on\nDVI compatibility: on\n"},
        // The factory reset brings back the routes, the beeper and DVI compatibility.
        {{"reset", "--yes"}, "Set successfully!\n", {"status"}, kDefaultStatus},
        {{"reset", "--yes", "--json"}, "{\"reset\":true}\n", {}, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[0] + (c.args.size() > 1 ? " " + c.args[1] : ""));
        const Result r = Run(c.args);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.err, "");
        if (c.readBack.empty())
            continue;
        const Result back = Run(c.readBack);
        EXPECT_EQ(back.status, 0) << back.err;
        EXPECT_NE(back.out.find(c.state), std::string::npos) << back.out;
    }
}

TEST_F(CliEndToEnd, TraceShowsEveryFrameOnStandardError)
{
    Start({});
    const Result r = Run({"route", "2", "1", "--trace"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "OUTPUT 1: IN 2\n");
    // The set, then the reading that confirms it.
    EXPECT_EQ(r.err, "TX A5 5B 02 03 02 00 01 00 00 00 00 00 F8\nRX A5 5B 02 03 00 00 01 00 00 00 00 00 FA\n"
                     "TX A5 5B 02 01 01 00 00 00 00 00 00 00 FC\nRX A5 5B 02 01 01 00 02 00 00 00 00 00 FA\n"
                     "TX A5 5B 02 01 02 00 00 00 00 00 00 00 FB\nRX A5 5B 02 01 02 00 02 00 00 00 00 00 F9\n");
}

TEST_F(CliEndToEnd, FailuresEndWithTheirStatusAndOneLine)
{
    struct Case {
        const char* name;
        std::vector<std::string> sim;  // faults of the emulator; empty: none started
        std::vector<std::string> args;
        int status;
        std::string err;  // contained in standard error
    };
    const Case cases[] = {
        // The switcher answers the first status queries, then stops: a resend, then Time out!
        {"silent switcher", {"--fault", "drop:01 05 01"}, {"status"}, 1,
         "corvanectl: no answer to the signal query of output 1 (Time out!)\n"},
        // The queries a link sends when it opens: once more after 3 s, then Time out!
        {"silent on the DVI query", {"--fault", "drop:01 0C 00"}, {"status"}, 1,
         "corvanectl: no answer to the DVI compatibility query (Time out!)\n"},
        // Output 1 switched, but its acknowledgement was lost: the second output is never tried.
        {"route, first acknowledgement lost", {"--fault", "drop:02 03 03 00 01"}, {"route", "3", "all"}, 1,
         "corvanectl: no answer to route input 3 to output 1 (Time out!); output 2 was not tried\n"},
        {"route, second refused", {"--fault", "refuse:02 03 03 00 02"}, {"route", "3", "all"}, 1,
         "corvanectl: the switcher refused route input 3 to output 2; output 1 already shows input 3\n"},
        {"refused route", {"--fault", "refuse:02 03"}, {"route", "2", "1"}, 1,
         "corvanectl: the switcher refused route input 2 to output 1\n"},
        {"refused beep", {"--fault", "refuse:06 01"}, {"beep", "off"}, 1,
         "corvanectl: the switcher refused switching the beeper off\n"},
        {"refused reset step", {"--fault", "refuse:0A 0C"}, {"reset", "--yes"}, 1,
         "corvanectl: the switcher refused factory reset step 3 of 5; steps 1 to 2 were carried out\n"},
        {"hang-up mid-status", {"--fault", "hangup:01 04 02"}, {"status"}, 1, "link to the switcher was lost"},
        {"missing port", {}, {"status", "--port", "COM250"}, 3, "COM250: no such port"},
        {"missing device", {}, {"beep", "on", "--port", "/dev/corvane-none"}, 3, "/dev/corvane-none: no such port"},
        {"not an address", {}, {"status", "--host", "switcher_lobby"}, 2,
         "--host switcher_lobby: not an IPv4 address or a host name"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sim.reset();
        if (!c.sim.empty())
            Start(c.sim);
        const auto begin = std::chrono::steady_clock::now();
        const Result r = c.sim.empty() ? Ctl(c.args, dir.path) : Run(c.args);
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_EQ(r.out, "");
        EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        // Only a silent switcher is waited for (3 s, a resend, 3 s more; a route set 7 s), and
        // then the line is listened to for 3 s more before the port closes, so that a late answer
        // cannot reach the next program on it.
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - begin);
        const bool silent = std::string(c.name).find("silent") != std::string::npos ||
                            std::string(c.name).find("lost") != std::string::npos;
        EXPECT_LT(ms.count(), silent ? 11000 : 2000);
        if (silent) {
            EXPECT_GE(ms.count(), 9000) << "the port closed before a late answer could no longer come";
        }
    }
}

// Everything after the time stamp, which must be local time to the millisecond with its offset.
std::string Event(const std::optional<std::string>& line)
{
    static const std::regex stamp(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d (.*)$)");
    static const std::regex json(R"(^\{"time":"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d",(.*)$)");
    std::smatch m;
    if (!line)
        return "(no line)";
    if (std::regex_match(*line, m, stamp) || std::regex_match(*line, m, json))
        return m[1].str();
    return "(no time stamp) " + *line;
}

TEST_F(CliEndToEnd, WatchPrintsTheStateThenEachChangeUntilStopped)
{
    Start({"--control", "--signals", "1100:11"});
    CtlProcess watch({"watch", "--interval", "100", "--port", "COM201"}, dir.path);
    const char* first[] = {"INPUT 1: Connect", "INPUT 2: Connect", "INPUT 3: Disconnect", "INPUT 4: Disconnect",
                           "OUTPUT1: Connect", "OUTPUT2: Connect", "Beep: on", "DVI compatibility: off",
                           "OUTPUT 1: IN 1", "OUTPUT 2: IN 2", "EDID IN1: Default EDID", "EDID IN2: Default EDID",
                           "EDID IN3: Default EDID", "EDID IN4: Default EDID"};
    for (const char* line : first)
        EXPECT_EQ(Event(watch.ReadLine()), line);
    // Readings with nothing new print nothing; a change shows in the next one, with the old value.
    EXPECT_FALSE(watch.ReadLine(400));
    // The inputs are asked one by one, so a change may fall between two of them and show over
    // two readings: each changed value is printed once, in whatever reading first sees it.
    ASSERT_TRUE(sim->Control("signals 0110:10"));
    std::multiset<std::string> changed;
    for (int i = 0; i < 3; ++i)
        changed.insert(Event(watch.ReadLine()));
    EXPECT_EQ(changed, (std::multiset<std::string>{"INPUT 1: Disconnect (was Connect)",
                                                   "INPUT 3: Connect (was Disconnect)",
                                                   "OUTPUT2: Disconnect (was Connect)"}));
    ASSERT_TRUE(sim->Control("input 4 on"));
    EXPECT_EQ(Event(watch.ReadLine()), "INPUT 4: Connect (was Disconnect)");
    // The switcher goes away: the link is lost and the watch ends with status 1.
    EXPECT_EQ(sim->Terminate(), 0);
    EXPECT_EQ(watch.Wait(8000), 1);
    // The line that says why carries a time stamp as the change lines do.
    const std::string err = watch.Err();
    EXPECT_EQ(Event(err.substr(0, err.find('\n'))).rfind("corvanectl: the link to the switcher was lost", 0), 0u)
        << err;
}

TEST_F(CliEndToEnd, WatchInJsonEndsCleanlyOnASignal)
{
    Start({"--control", "--signals", "1000:01"});
    for (int sig : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(sig);
        CtlProcess watch({"watch", "--json", "--interval", "150", "--port", "COM201"}, dir.path);
        const std::string first[] = {
            R"("input":1,"signal":true})", R"("input":2,"signal":false})", R"("input":3,"signal":false})",
            R"("input":4,"signal":false})", R"("output":1,"signal":false})", R"("output":2,"signal":true})",
            R"("beep":true})", R"("dvi":false})", R"("output":1,"route":1})", R"("output":2,"route":2})",
            R"("input":1,"edid":"Default EDID"})", R"("input":2,"edid":"Default EDID"})",
            R"("input":3,"edid":"Default EDID"})", R"("input":4,"edid":"Default EDID"})"};
        for (const auto& line : first)
            EXPECT_EQ(Event(watch.ReadLine()), line);
        ASSERT_TRUE(sim->Control("output 1 on"));
        EXPECT_EQ(Event(watch.ReadLine()), R"("output":1,"signal":true,"was":false})");
        watch.Signal(sig);
        EXPECT_EQ(watch.Wait(), 0);
        EXPECT_EQ(watch.Err(), "");
        ASSERT_TRUE(sim->Control("output 1 off"));  // the next watch starts where this one did
    }
}

// A signal stops a command between two frames: what went out is answered, the rest of a
// header's block still goes, nothing else does, and the port opens again at once.
TEST_F(CliEndToEnd, SignalStopsAOneShotCommandAtAFrameBoundary)
{
    std::vector<uint8_t> image(2600, 0x5A);
    std::ofstream(dir.path + "/image.bin", std::ios::binary)
        .write(reinterpret_cast<const char*>(image.data()), std::streamsize(image.size()));
    ASSERT_EQ(Ctl({"firmware", "pack", dir.path + "/image.bin", dir.path + "/new.fw"}, dir.path).status, 0);
    const std::string fw = dir.path + "/new.fw";
    struct Case {
        std::vector<std::string> args;
        std::string fault;
        std::string frame;  // the frame the signal follows, and how many times it was seen
        int seen;
        int sig;
        std::string said;
    };
    const Case cases[] = {
        {{"beep", "off"}, "delay=2000:06 01", "06 01", 1, SIGINT, "corvanectl: stopped by SIGINT\n"},
        {{"route", "3", "all"}, "delay=2000:02 03", "02 03", 1, SIGTERM,
         "corvanectl: stopped by SIGTERM; output 2 was not tried\n"},
        {{"firmware", "upgrade", fw}, "delay=300:20 01", "20 01 AA", 1, SIGTERM, "part of an image"},
        {{"firmware", "upgrade", fw}, "delay=300:20 01", "20 01 AA", 6, SIGINT, "part of an image"},
        {{"firmware", "upgrade", fw}, "delay=300:20 01", "20 01 56", 1, SIGTERM, "part of an image"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[0] + " after " + c.frame + " #" + std::to_string(c.seen));
        Start({"--fault", c.fault, "--reboot-ms", "100"}, false);  // a whole image reboots the switcher
        std::vector<std::string> args = c.args;
        args.insert(args.end(), {"--port", "COM201"});
        CtlProcess ctl(args, dir.path);
        for (int k = 0; k < c.seen; ++k)
            ASSERT_NE(sim->LineWith("serial rx A5 5B " + c.frame), "");
        ctl.Signal(c.sig);
        EXPECT_EQ(ctl.Wait(12000), 128 + c.sig);
        EXPECT_NE(ctl.Err().find(c.said), std::string::npos) << ctl.Err();
        EXPECT_EQ(ctl.Err().find("held by"), std::string::npos);
        // Nothing after the stop but the block a packet header announced.
        for (std::string line = sim->ReadLine(300); !line.empty(); line = sim->ReadLine(300))
            EXPECT_EQ(line.find("serial rx A5 5B"), std::string::npos) << line;
        const Result next = Run({"dvi", "on"});
        EXPECT_EQ(next.status, 0) << next.err;
        sim.reset();
    }
}

TEST_F(CliEndToEnd, PortHeldByAnotherProgram)
{
    Start({});
    const int fd = open((dir.path + "/com201").c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);
    const Result r = Run({"route"});
    EXPECT_EQ(r.status, 3);
    EXPECT_NE(r.err.find("COM201 (" + dir.path + "/com201): held by another program"), std::string::npos) << r.err;
    const Result ports = Ctl({"ports"}, dir.path);
    char node[PATH_MAX] = {};
    ASSERT_NE(realpath((dir.path + "/com201").c_str(), node), nullptr);
    EXPECT_NE(ports.out.find("COM201\t" + std::string(node) + "\tpts/"), std::string::npos) << ports.out;
    EXPECT_NE(ports.out.find("(in use)\n"), std::string::npos) << ports.out;
    close(fd);
    const Result free = Ctl({"ports", "--json"}, dir.path);
    EXPECT_NE(free.out.find("{\"name\":\"COM201\",\"number\":201,\"device\":\"" + std::string(node) +
                            "\",\"path\":\"" + dir.path + "/com201\""),
              std::string::npos)
        << free.out;
    EXPECT_NE(free.out.find("\"state\":\"free\"}"), std::string::npos) << free.out;
}

TEST_F(CliEndToEnd, PortThisUserMayNotOpenIsListedWithTheHint)
{
    Start({});
    // The emulator's port becomes one this user may not open: for root, by running corvanectl
    // as nobody (no pseudo-terminal is theirs); otherwise by taking our own rights away.
    std::vector<std::string> as;
    char slave[PATH_MAX] = {};
    ASSERT_NE(realpath((dir.path + "/com201").c_str(), slave), nullptr);
    if (geteuid() == 0) {
        if (access("/usr/bin/setpriv", X_OK) != 0)
            GTEST_SKIP() << "running as another user needs setpriv (util-linux)";
        ASSERT_EQ(chmod(dir.path.c_str(), 0755), 0);
        as = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--"};
    } else {
        ASSERT_EQ(chmod(slave, 0), 0);
    }
    const Result ports = Ctl({"ports"}, dir.path, 15000, as);
    EXPECT_EQ(ports.status, 0) << ports.err;
    EXPECT_NE(ports.out.find("COM201\t" + std::string(slave) + "\t"), std::string::npos) << ports.out;
    EXPECT_NE(ports.out.find("(permission denied: not in the dialout group?)\n"), std::string::npos) << ports.out;
    const Result json = Ctl({"ports", "--json"}, dir.path, 15000, as);
    EXPECT_NE(json.out.find("\"state\":\"denied\"}"), std::string::npos) << json.out;
    const Result route = Ctl({"route", "--port", "COM201"}, dir.path, 15000, as);
    EXPECT_EQ(route.status, 3);
    EXPECT_NE(route.err.find("permission denied; add yourself to the dialout group"), std::string::npos) << route.err;
    if (geteuid() != 0)
        chmod(slave, 0620);
}

TEST_F(CliEndToEnd, BadCommandLinesExitTwoWithTheUsage)
{
    Start({}, false);
    const std::vector<std::vector<std::string>> cases = {
        {"route", "5", "1"}, {"route", "1", "3"}, {"route", "1"},         {"beep"},
        {"dvi", "maybe"},    {"status", "now"},   {"status", "--colour"}, {"reset"},  // stdin is no terminal
        {"status", "--host", "10.0.0.1"}, {"status", "--port"},          {"frobnicate"},
    };
    for (const auto& args : cases) {
        SCOPED_TRACE(args[0] + (args.size() > 1 ? " " + args[1] : ""));
        std::vector<std::string> withPort = args;
        if (args != std::vector<std::string>{"status", "--port"})
            withPort.insert(withPort.end(), {"--port", "COM201"});
        const Result r = Ctl(withPort, dir.path);
        EXPECT_EQ(r.status, 2) << r.err;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err.rfind("corvanectl: ", 0), 0u) << r.err;
    }
    // Nothing reached the switcher: the emulator logged no frame.
    for (std::string line = sim->ReadLine(300); !line.empty(); line = sim->ReadLine(300))
        EXPECT_EQ(line.find("A5 5B"), std::string::npos) << line;
}

TEST_F(CliEndToEnd, OptionsBeforeOrAfterTheCommandWord)
{
    Start({});
    const std::string json = "{\"routes\":[{\"output\":1,\"input\":1},{\"output\":2,\"input\":2}]}\n";
    for (const auto& args : std::vector<std::vector<std::string>>{{"--port", "COM201", "--json", "route"},
                                                                   {"--json", "route", "--port=COM201"},
                                                                   {"route", "--json", "--port", "COM201"}}) {
        const Result r = Ctl(args, dir.path);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, json) << args[0];
    }
    // An option the command does not know stays an error wherever it stands.
    EXPECT_EQ(Ctl({"--port", "COM201", "--colour", "route"}, dir.path).status, 2);
    // Commands of two words take the options between them too.
    for (const auto& args : std::vector<std::vector<std::string>>{{"firmware", "--port", "COM201", "info", "--json"},
                                                                   {"--port", "COM201", "firmware", "info", "--json"}}) {
        const Result r = Ctl(args, dir.path);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out.rfind("{\"line\":\"Device: ", 0), 0u) << r.out;
    }
    EXPECT_EQ(Ctl({"--port", "COM201", "firmware", "--help"}, dir.path).status, 0);
}

// ---- several switchers at once over TCP ------------------------------------------------------

// Emulators on loopback ports, each with faults of its own.
class CliFleet : public ::testing::Test {
protected:
    // Starts an emulator (firmware kept in fwK.bin); its address.
    std::string Add(std::vector<std::string> extra = {}, bool quiet = true)
    {
        const std::size_t k = sims.size();
        std::vector<std::string> args = {"--tcp", "127.0.0.1:0", "--reboot-ms", "100", "--signals", "1010:01",
                                         "--fw-out", FwOut(k)};
        if (quiet)
            args.push_back("--quiet");
        args.insert(args.end(), extra.begin(), extra.end());
        sims.push_back(std::make_unique<SimProcess>(args, dir.path));
        const std::string where = sims.back()->Find("tcp: (127\\.0\\.0\\.1:\\d+)");
        EXPECT_FALSE(where.empty()) << sims.back()->first;
        return where;
    }
    std::string FwOut(std::size_t k) const { return dir.path + "/fw" + std::to_string(k) + ".bin"; }
    // A loopback port that refuses connections: bound, never listening, held for the test.
    std::string Refusing()
    {
        refusing = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t n = sizeof a;
        EXPECT_EQ(bind(refusing, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        getsockname(refusing, reinterpret_cast<sockaddr*>(&a), &n);
        return "127.0.0.1:" + std::to_string(ntohs(a.sin_port));
    }
    void TearDown() override
    {
        if (refusing >= 0)
            close(refusing);
    }
    // Everything emulator k has printed since the last call.
    std::string Log(std::size_t k)
    {
        std::string text;
        for (std::string line = sims[k]->ReadLine(300); !line.empty(); line = sims[k]->ReadLine(300))
            text += line + "\n";
        return text;
    }

    TempDir dir;
    std::vector<std::unique_ptr<SimProcess>> sims;
    int refusing = -1;
};

std::string Indented(const std::string& lines)
{
    std::string text;
    std::istringstream in(lines);
    for (std::string line; std::getline(in, line);)
        text += "  " + line + "\n";
    return text;
}

long long ElapsedMs(std::chrono::steady_clock::time_point since)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - since).count();
}

TEST_F(CliFleet, EachSwitcherReportedOnItsOwnInTheOrderGiven)
{
    const std::string first = Add(), silent = Add({"--fault", "drop:any"}), refusing = Add({"--fault", "refuse:any"}),
                      hangUp = Add({"--fault", "hangup:any"}), dead = Refusing(), last = Add();
    const std::string hosts = first + "," + silent + "," + refusing + "," + hangUp + "," + dead + "," + last;
    auto begin = std::chrono::steady_clock::now();
    const Result status = Ctl({"--hosts", hosts, "status"}, dir.path);
    // In parallel: the silent switcher's 3 s, resend, 3 s bound the whole run.
    EXPECT_LT(ElapsedMs(begin), 8000);
    EXPECT_EQ(status.status, 1);
    EXPECT_EQ(status.out, first + ": ok\n" + Indented(kDefaultStatus) +                                    //
                              silent + ": failed\n  corvanectl: no answer to the DVI compatibility query (Time out!)\n" +
                              refusing + ": failed\n  corvanectl: the switcher refused the DVI compatibility query\n" +
                              hangUp + ": failed\n  corvanectl: the link to the switcher was lost\n" +  //
                              dead + ": no link\n  corvanectl: " + dead + ": connection refused\n" +    //
                              last + ": ok\n" + Indented(kDefaultStatus));
    EXPECT_EQ(status.err, "corvanectl: 4 of 6 switchers failed: " + silent + ", " + refusing + ", " + hangUp + ", " +
                              dead + "\n");

    // A change, as one JSON record a line in the order given; then read back.
    begin = std::chrono::steady_clock::now();
    const Result route = Ctl({"route", "3", "all", "--json", "--hosts", hosts, "--jobs", "6"}, dir.path);
    EXPECT_LT(ElapsedMs(begin), 9000);
    EXPECT_EQ(route.status, 1);
    const std::string routes = "{\"routes\":[{\"output\":1,\"input\":3},{\"output\":2,\"input\":3}]}";
    auto record = [](const std::string& host, bool ok, int exit, const std::string& result, const std::string& error) {
        return "{\"host\":\"" + host + "\",\"ok\":" + (ok ? "true" : "false") + ",\"exit\":" + std::to_string(exit) +
               ",\"result\":" + result + ",\"error\":\"" + error + "\"}\n";
    };
    EXPECT_EQ(route.out,
              record(first, true, 0, routes, "") +
                  record(silent, false, 1, "null",
                         "no answer to route input 3 to output 1 (Time out!); output 2 was not tried") +
                  record(refusing, false, 1, "null",
                         "the switcher refused route input 3 to output 1; output 2 was not tried") +
                  record(hangUp, false, 1, "null", "the link to the switcher was lost; output 2 was not tried") +
                  record(dead, false, 3, "null", dead + ": connection refused") +
                  record(last, true, 0, routes, ""));
    const Result back = Ctl({"--hosts", first + "," + last, "route"}, dir.path);
    EXPECT_EQ(back.status, 0) << back.err;
    EXPECT_EQ(back.out, first + ": ok\n  OUTPUT 1: IN 3\n  OUTPUT 2: IN 3\n" + last + ": ok\n  OUTPUT 1: IN 3\n  OUTPUT 2: IN 3\n");
    EXPECT_EQ(back.err, "");
    // The trace is each switcher's block on standard error, never part of its result.
    const Result traced = Ctl({"--hosts", first + "," + last, "route", "--trace"}, dir.path);
    EXPECT_EQ(traced.status, 0) << traced.err;
    EXPECT_EQ(traced.out, back.out);
    const std::string trace = "  TX A5 5B 02 01 01 00 00 00 00 00 00 00 FC\n  RX A5 5B 02 01 01 00 03 00 00 00 00 00 F9\n"
                              "  TX A5 5B 02 01 02 00 00 00 00 00 00 00 FB\n  RX A5 5B 02 01 02 00 03 00 00 00 00 00 F8\n";
    EXPECT_EQ(traced.err, first + ": trace\n" + trace + last + ": trace\n" + trace);
}

TEST_F(CliFleet, FirmwareToSeveralOneFailingMidway)
{
    std::vector<uint8_t> image(2600);
    std::mt19937 random(21);
    for (auto& b : image)
        b = static_cast<uint8_t>(random());
    {
        std::ofstream(dir.path + "/image.bin", std::ios::binary)
            .write(reinterpret_cast<const char*>(image.data()), std::streamsize(image.size()));
    }
    ASSERT_EQ(Ctl({"firmware", "pack", dir.path + "/image.bin", dir.path + "/new.fw"}, dir.path).status, 0);
    const std::vector<std::string> hosts = {Add(), Add({"--fault", "hangup:20 01 AA:4"}), Add()};
    const Result r = Ctl({"--hosts", hosts[0] + "," + hosts[1] + "," + hosts[2], "firmware", "upgrade",
                          dir.path + "/new.fw", "--json"},
                         dir.path, 30000);
    EXPECT_EQ(r.status, 1);
    const std::string done = "\"result\":{\"file\":\"" + dir.path + "/new.fw\",\"bytes\":2600,\"skipped\":0,\"upgraded\":true}";
    EXPECT_EQ(r.out, "{\"host\":\"" + hosts[0] + "\",\"ok\":true,\"exit\":0," + done + ",\"error\":\"\"}\n" +
                         "{\"host\":\"" + hosts[1] +
                         "\",\"ok\":false,\"exit\":1,\"result\":null,\"error\":\"the link to the "
                         "switcher was lost\"}\n" +
                         "{\"host\":\"" + hosts[2] + "\",\"ok\":true,\"exit\":0," + done + ",\"error\":\"\"}\n");
    // The others got the whole image, byte for byte; the one that hung up kept nothing.
    for (std::size_t k : {0u, 2u}) {
        std::ifstream f(FwOut(k), std::ios::binary);
        const std::vector<uint8_t> got{std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
        ASSERT_GE(got.size(), image.size()) << k;
        EXPECT_TRUE(std::equal(image.begin(), image.end(), got.begin())) << k;
    }
    EXPECT_FALSE(std::filesystem::exists(FwOut(1)));
    // Standard error is no terminal: whole lines, each naming its switcher, each switcher's
    // progress rising; the summary last.
    std::istringstream lines(r.err);
    std::map<std::string, std::vector<int>> percents;
    std::vector<std::string> all;
    for (std::string line; std::getline(lines, line);)
        all.push_back(line);
    ASSERT_FALSE(all.empty());
    EXPECT_EQ(all.back(), "corvanectl: 1 of 3 switchers failed: " + hosts[1]);
    all.pop_back();
    const std::regex progress("(127\\.0\\.0\\.1:\\d+): firmware: (\\d+)% \\d+/2600 bytes");
    for (const std::string& line : all) {
        std::smatch m;
        if (std::regex_match(line, m, progress)) {
            percents[m[1]].push_back(std::stoi(m[2]));
            continue;
        }
        const auto colon = line.find(": firmware: ");
        ASSERT_NE(colon, std::string::npos) << line;
        EXPECT_NE(std::find(hosts.begin(), hosts.end(), line.substr(0, colon)), hosts.end()) << line;
    }
    for (const std::string& host : {hosts[0], hosts[2]}) {
        ASSERT_GE(percents[host].size(), 9u) << host << "\n" << r.err;
        EXPECT_TRUE(std::is_sorted(percents[host].begin(), percents[host].end())) << host;
        EXPECT_EQ(percents[host].back(), 100) << host;
    }
}

// "HH:MM:SS.mmm tcp#1 -- connected from ..." / "... closed": when each emulator had a link.
std::vector<std::pair<long, long>> LinkSpans(const std::string& log)
{
    std::vector<std::pair<long, long>> spans;
    std::istringstream in(log);
    const std::regex line("(\\d+):(\\d+):(\\d+)\\.(\\d+) tcp#\\d+ -- (connected from|closed).*");
    for (std::string text; std::getline(in, text);) {
        std::smatch m;
        if (!std::regex_match(text, m, line))
            continue;
        const long ms = ((std::stol(m[1]) * 60 + std::stol(m[2])) * 60 + std::stol(m[3])) * 1000 + std::stol(m[4]);
        if (m[5] == "closed" && !spans.empty())
            spans.back().second = ms;
        else if (m[5] != "closed")
            spans.emplace_back(ms, -1);
    }
    return spans;
}

TEST_F(CliFleet, JobsBoundAndHostsFile)
{
    // Each switcher answers the first query 300 ms late, so a link lasts long enough to overlap.
    std::vector<std::string> hosts;
    for (int k = 0; k < 4; ++k)
        hosts.push_back(Add({"--fault", "delay=300:01 01"}, false));
    for (std::size_t k = 0; k < sims.size(); ++k)
        Log(k);
    // The file lists them last first, with comments and blank lines; output follows the file.
    const std::string file = dir.path + "/hosts";
    std::ofstream(file) << "# the hall\n" << hosts[3] << "  # stage\n\n" << hosts[2] << "  lobby\n\t\n" << hosts[1] << "\n"
                        << hosts[0] << "\n";
    for (unsigned jobs : {2u, 1u}) {
        SCOPED_TRACE(jobs);
        const Result r = Ctl({"--hosts-file", file, "--jobs", std::to_string(jobs), "firmware", "info"}, dir.path);
        EXPECT_EQ(r.status, 0) << r.err;
        std::string expected;
        for (int k = 3; k >= 0; --k)
            expected += hosts[k] + (k == 2 ? " (lobby)" : "") + ": ok\n  Device: Corvane 4x2     Version:1.32-20261207\n";
        EXPECT_EQ(r.out, expected);
        std::vector<std::pair<long, long>> spans;
        for (std::size_t k = 0; k < sims.size(); ++k) {
            const auto s = LinkSpans(Log(k));
            ASSERT_EQ(s.size(), 1u) << k;
            ASSERT_GE(s[0].second, s[0].first) << k;
            spans.push_back(s[0]);
        }
        std::size_t most = 0;
        for (const auto& [begin, end] : spans) {
            std::size_t open = 0;
            for (const auto& other : spans)
                open += other.first <= begin && begin < other.second;
            most = std::max(most, open);
        }
        EXPECT_EQ(most, jobs);
    }
    // The label is in the JSON record too.
    const Result json = Ctl({"--hosts-file", file, "firmware", "info", "--json"}, dir.path);
    EXPECT_NE(json.out.find("{\"host\":\"" + hosts[2] + "\",\"label\":\"lobby\",\"ok\":true,"), std::string::npos)
        << json.out;
    for (std::size_t k = 0; k < sims.size(); ++k)
        Log(k);
    // A bad line: bad usage, and no switcher was reached.
    std::ofstream(file, std::ios::app) << "room_12\n";
    const Result bad = Ctl({"--hosts-file", file, "status"}, dir.path);
    EXPECT_EQ(bad.status, 2);
    EXPECT_EQ(bad.out, "");
    EXPECT_EQ(bad.err.rfind("corvanectl: --hosts-file " + file + ": line 8: 'room_12' is not an IPv4 address", 0), 0u)
        << bad.err;
    for (std::size_t k = 0; k < sims.size(); ++k)
        EXPECT_EQ(Log(k), "") << k;
}

TEST_F(CliFleet, AllActsOnWhatTheSearchFinds)
{
    // The switcher's control port is 8000 on its own loopback address, as a search answer
    // carries no port; the address is picked per test run so runs beside each other do not meet.
    const std::string address = "127.21." + std::to_string((getpid() >> 8) & 255) + "." + std::to_string(getpid() % 250 + 2);
    sims.push_back(std::make_unique<SimProcess>(
        std::vector<std::string>{"--tcp", address + ":8000", "--udp", "127.0.0.1:0,0", "--udp-reply", "source", "--ip",
                                 address, "--quiet"},
        dir.path));
    const std::string udp = sims.back()->Find("udp: (127\\.0\\.0\\.1:\\d+,\\d+)");
    ASSERT_FALSE(udp.empty()) << sims.back()->first;
    const Result r = Ctl({"--all", "--udp-to", udp, "--wait", "300", "firmware", "info", "--json"}, dir.path);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "{\"host\":\"" + address +
                         "\",\"ok\":true,\"exit\":0,\"result\":{\"line\":\"Device: Corvane 4x2     "
                         "Version:1.32-20261207\",\"type\":\"Corvane\",\"size\":\"4x2\",\"version\":\"1.32\","
                         "\"build\":\"20261207\"},\"error\":\"\"}\n");
    EXPECT_EQ(r.err, "");

    // Nobody answers the search: nothing to act on.
    sims.clear();
    sims.push_back(std::make_unique<SimProcess>(
        std::vector<std::string>{"--udp", "127.0.0.1:0,0", "--udp-reply", "source", "--quiet", "--fault", "drop:search"},
        dir.path));
    const std::string quiet = sims.back()->Find("udp: (127\\.0\\.0\\.1:\\d+,\\d+)");
    const Result none = Ctl({"--all", "--udp-to", quiet, "--wait", "300", "status"}, dir.path);
    EXPECT_EQ(none.status, 1);
    EXPECT_EQ(none.out, "");
    EXPECT_EQ(none.err, "corvanectl: no switcher answered the search\n");

    // Answers that name no switcher's address steer nothing.
    for (const auto& [ip, why] : std::vector<std::pair<std::string, std::string>>{
             {"255.255.255.255", "the broadcast address"}, {"224.0.0.251", "a multicast address"},
             {"192.168.1.0", "a network's own or broadcast address"}}) {
        SCOPED_TRACE(ip);
        sims.clear();
        sims.push_back(std::make_unique<SimProcess>(
            std::vector<std::string>{"--udp", "127.0.0.1:0,0", "--udp-reply", "source", "--quiet", "--ip", ip}, dir.path));
        const std::string to = sims.back()->Find("udp: (127\\.0\\.0\\.1:\\d+,\\d+)");
        const Result odd = Ctl({"--all", "--udp-to", to, "--wait", "300", "status"}, dir.path);
        EXPECT_EQ(odd.status, 1);
        EXPECT_EQ(odd.out, "");
        EXPECT_EQ(odd.err, "corvanectl: a search answer names " + ip + ", " + why +
                               ": skipped\ncorvanectl: no search answer named an address to act on\n");
    }
}

TEST_F(CliFleet, StoppedRunReportsEverySwitcher)
{
    // Two switchers that take their time to answer, one more waiting for its turn: a stop
    // mid-run names them all and the blocks still come.
    const std::vector<std::string> hosts = {Add({"--fault", "delay=4000:01 0C 00"}, false),
                                            Add({"--fault", "delay=4000:01 0C 00"}, false), Add()};
    for (int sig : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(sig);
        CtlProcess fleet({"--hosts", hosts[0] + "," + hosts[1] + "," + hosts[2], "--jobs", "2", "status"}, dir.path);
        // Both running: each emulator has logged the first query.
        for (std::size_t k = 0; k < 2; ++k)
            ASSERT_NE(sims[k]->LineWith("A5 5B 01 0C"), "") << k;
        fleet.Signal(sig);
        EXPECT_EQ(fleet.Wait(5000), 128 + sig);
        std::string out;
        for (auto line = fleet.ReadLine(1000); line; line = fleet.ReadLine(1000))
            out += *line + "\n";
        // Each process that ran says it was stopped, and by what.
        const std::string said = std::string(": stopped\n  corvanectl: stopped by ") + (sig == SIGINT ? "SIGINT" : "SIGTERM") + "\n";
        EXPECT_EQ(out, hosts[0] + said + hosts[1] + said +
                           hosts[2] + ": not started (stopped)\n  corvanectl: not started: the run was stopped\n");
        EXPECT_EQ(fleet.Err(), std::string("corvanectl: stopped by ") + (sig == SIGINT ? "SIGINT" : "SIGTERM") +
                                   "; 3 of 3 switchers did not finish: " + hosts[0] + ", " + hosts[1] + ", " + hosts[2] +
                                   "\n");
        for (std::size_t k = 0; k < 2; ++k)
            Log(k);
    }
    // In JSON: the status of a stop by Ctrl+C, and the switcher's words alone. One that failed on
    // its own before the stop is not among those the stop cut short.
    const std::string dead = Refusing();
    CtlProcess json({"--hosts", dead + "," + hosts[0] + "," + hosts[2], "--jobs", "1", "--json", "status"}, dir.path);
    ASSERT_NE(sims[0]->LineWith("A5 5B 01 0C"), "");
    json.Signal(SIGINT);
    EXPECT_EQ(json.Wait(5000), 130);
    EXPECT_EQ(json.ReadLine(1000).value_or("").rfind("{\"host\":\"" + dead + "\",\"ok\":false,\"exit\":3,", 0), 0u);
    EXPECT_EQ(json.ReadLine(1000).value_or(""), "{\"host\":\"" + hosts[0] +
                                                   "\",\"ok\":false,\"exit\":130,\"interrupted\":true,\"result\":null,"
                                                   "\"error\":\"stopped by SIGINT\"}");
    EXPECT_EQ(json.ReadLine(1000).value_or(""), "{\"host\":\"" + hosts[2] +
                                                   "\",\"ok\":false,\"exit\":-1,\"interrupted\":true,\"result\":null,"
                                                   "\"error\":\"not started: the run was stopped\"}");
    EXPECT_EQ(json.Err(), "corvanectl: stopped by SIGINT; 2 of 3 switchers did not finish: " + hosts[0] + ", " +
                              hosts[2] + "\n");
}

// corvanectl with standard error on a terminal of rows x columns and standard output on a pipe:
// the exit status, standard output and the bytes the terminal received.
Result CtlOnTerminal(std::vector<std::string> args, const std::string& portDir, unsigned short rows,
                     unsigned short columns, int boundMs = 30000)
{
    Result r;
    int master = -1, slave = -1, out[2];
    winsize size{rows, columns, 0, 0};
    if (openpty(&master, &slave, nullptr, nullptr, &size) != 0 || pipe2(out, O_CLOEXEC) != 0)
        return r;
    std::string exe = CORVANECTL_PATH;
    std::vector<char*> argv{exe.data()};
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> env = {"CORVANE_PORT_DIR=" + portDir, "PATH=/usr/bin:/bin", "TERM=xterm"};
    std::vector<char*> envp;
    for (auto& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        setsid();
        dup2(open("/dev/null", O_RDONLY), 0);
        dup2(out[1], 1);
        dup2(slave, 2);
        close(master);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    close(slave);
    close(out[1]);
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(boundMs);
    pollfd fds[2] = {{out[0], POLLIN, 0}, {master, POLLIN, 0}};
    std::string* sinks[2] = {&r.out, &r.err};
    for (int open = 2; open > 0;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
        if (left.count() <= 0 || poll(fds, 2, int(left.count())) <= 0) {
            kill(pid, SIGKILL);
            ADD_FAILURE() << "corvanectl did not end within " << boundMs << " ms";
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            char chunk[4096];
            const ssize_t n = read(fds[i].fd, chunk, sizeof chunk);
            if (n > 0) {
                sinks[i]->append(chunk, std::size_t(n));
            } else {
                fds[i].fd = -1;  // a terminal whose last user left reads EIO
                --open;
            }
        }
    }
    close(out[0]);
    close(master);
    int status = 0;
    waitpid(pid, &status, 0);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return r;
}

// The screen a terminal shows after the bytes: text, carriage return, line feed, ESC [ n A
// (lines up) and ESC [ 2 K (clear the line). Anything else is noted in odd.
std::vector<std::string> Screen(const std::string& bytes, std::string& odd)
{
    std::vector<std::string> rows(1);
    std::size_t row = 0, column = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        if (c == '\x1b') {
            std::smatch m;
            const std::string rest = bytes.substr(i, 16);
            if (std::regex_search(rest, m, std::regex("^\\x1b\\[(\\d+)A"))) {
                const std::size_t up = std::stoul(m[1]);
                if (up > row)
                    odd += "up past the top; ";
                row -= std::min(up, row);
            } else if (std::regex_search(rest, m, std::regex("^\\x1b\\[2K"))) {
                rows[row].clear();
            } else {
                odd += "escape " + rest.substr(1, 4) + "; ";
                continue;
            }
            i += m.length(0) - 1;
        } else if (c == '\r') {
            column = 0;
        } else if (c == '\n') {
            if (++row == rows.size())
                rows.emplace_back();
        } else if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7f) {
            if (rows[row].size() <= column)
                rows[row].resize(column + 1, ' ');
            rows[row][column++] = c;
        } else {
            odd += "byte " + std::to_string(int(static_cast<unsigned char>(c))) + "; ";
        }
    }
    while (!rows.empty() && rows.back().empty())
        rows.pop_back();
    return rows;
}

TEST_F(CliFleet, FirmwareProgressRedrawnInPlaceOnATerminal)
{
    std::vector<uint8_t> image(3000, 0x5A);
    std::ofstream(dir.path + "/image.bin", std::ios::binary)
        .write(reinterpret_cast<const char*>(image.data()), std::streamsize(image.size()));
    ASSERT_EQ(Ctl({"firmware", "pack", dir.path + "/image.bin", dir.path + "/new.fw"}, dir.path).status, 0);
    const std::vector<std::string> hosts = {Add(), Refusing(), Add({"--fault", "hangup:20 01 AA:4"}), Add()};
    const Result r = CtlOnTerminal({"--hosts", hosts[0] + "," + hosts[1] + "," + hosts[2] + "," + hosts[3],
                                    "firmware", "upgrade", dir.path + "/new.fw"},
                                   dir.path, 24, 100);
    EXPECT_EQ(r.status, 1);
    // The blocks wait until the progress is over, then come in the order given.
    const std::string sent = "  " + dir.path + "/new.fw: 3000 bytes of firmware sent; the switcher rebooted\n";
    EXPECT_EQ(r.out, hosts[0] + ": ok\n" + sent + hosts[1] + ": no link\n  corvanectl: " + hosts[1] +
                         ": connection refused\n" + hosts[2] + ": failed\n  corvanectl: the link to the switcher was "
                         "lost\n" + hosts[3] + ": ok\n" + sent);
    // One line per switcher, redrawn in place: what remains on the screen is each switcher's
    // outcome, and the summary below them.
    std::string odd;
    const std::vector<std::string> screen = Screen(r.err, odd);
    EXPECT_EQ(odd, "");
    auto row = [&](std::size_t k, const std::string& state) {
        return hosts[k] + std::string(std::max(hosts[0].size(), hosts[1].size()) - hosts[k].size() + 2, ' ') + state;
    };
    EXPECT_EQ(screen, (std::vector<std::string>{row(0, "done"), row(1, "no link"), row(2, "failed"), row(3, "done"),
                                                "corvanectl: 2 of 4 switchers failed: " + hosts[1] + ", " + hosts[2]}))
        << r.err;
    // The bar was shown on the way.
    EXPECT_NE(r.err.find("] 100% 3000/3000 bytes"), std::string::npos);
}

TEST_F(CliEndToEnd, HelpForTheProgramAndEachCommand)
{
    for (const char* command : {"ports", "status", "route", "beep", "dvi", "reset", "edid", "search", "config"}) {
        SCOPED_TRACE(command);
        const Result r = Ctl({command, "--help"}, dir.path);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out.rfind(std::string("Usage: corvanectl ") + command, 0), 0u) << r.out;
        EXPECT_NE(r.out.find("Exit status"), std::string::npos);
    }
    const Result all = Ctl({"--help"}, dir.path);
    EXPECT_EQ(all.status, 0);
    // Where a switcher is: an address or a name, with a port when it is not 8000.
    for (const Result& r : {all, Ctl({"status", "--help"}, dir.path)}) {
        EXPECT_NE(r.out.find("--host ADDRESS[:PORT]  the switcher's IPv4 address or host name"), std::string::npos)
            << r.out;
    }
    for (const char* command : {"ports", "status", "route", "beep", "dvi", "reset", "edid", "search", "config", "firmware"})
        EXPECT_NE(all.out.find(std::string("\n  ") + command + " "), std::string::npos) << command;
}

}  // namespace
}  // namespace corvane::test
