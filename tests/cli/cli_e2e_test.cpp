// corvanectl as a script runs it: the program against the emulator process over a
// pseudo-terminal, its standard output, standard error and exit status, and what the emulator
// holds afterwards (read back by the program itself).
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <optional>
#include <regex>
#include <cstdlib>
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
    EXPECT_EQ(r.err, "TX A5 5B 02 03 02 00 01 00 00 00 00 00 F8\nRX A5 5B 02 03 00 00 01 00 00 00 00 00 FA\n");
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
        {"not an address", {}, {"status", "--host", "switcher.local"}, 2, "--host switcher.local: not an IPv4"},
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
        // Only a silent switcher is waited for (3 s, a resend, 3 s more; a route set 7 s).
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - begin);
        const bool silent = std::string(c.name).find("silent") != std::string::npos ||
                            std::string(c.name).find("lost") != std::string::npos;
        EXPECT_LT(ms.count(), silent ? 8000 : 2000);
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
    ASSERT_TRUE(sim->Control("signals 0110:10"));
    for (const char* line : {"INPUT 1: Disconnect (was Connect)", "INPUT 3: Connect (was Disconnect)",
                             "OUTPUT2: Disconnect (was Connect)"})
        EXPECT_EQ(Event(watch.ReadLine()), line);
    ASSERT_TRUE(sim->Control("input 4 on"));
    EXPECT_EQ(Event(watch.ReadLine()), "INPUT 4: Connect (was Disconnect)");
    // The switcher goes away: the link is lost and the watch ends with status 1.
    EXPECT_EQ(sim->Terminate(), 0);
    EXPECT_EQ(watch.Wait(8000), 1);
    EXPECT_NE(watch.Err().find("corvanectl: the link to the switcher was lost"), std::string::npos) << watch.Err();
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
    EXPECT_NE(ports.out.find("COM201\t" + dir.path + "/com201\tpts/"), std::string::npos) << ports.out;
    EXPECT_NE(ports.out.find("(in use)\n"), std::string::npos) << ports.out;
    close(fd);
    const Result free = Ctl({"ports", "--json"}, dir.path);
    EXPECT_NE(free.out.find("{\"name\":\"COM201\",\"number\":201,\"device\":\"" + dir.path + "/com201\""),
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
    EXPECT_NE(ports.out.find("COM201\t" + dir.path + "/com201\t"), std::string::npos) << ports.out;
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
    for (const char* command : {"ports", "status", "route", "beep", "dvi", "reset", "edid", "search", "config", "firmware"})
        EXPECT_NE(all.out.find(std::string("\n  ") + command + " "), std::string::npos) << command;
}

}  // namespace
}  // namespace corvane::test
