// corvaned with the API and MQTT at once: two emulators on one broker connection, commands from
// both faces in one queue per switcher, each switcher's topics its own.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "tests/mqtt/mqtt_process.h"
#include "tests/service/service_process.h"

namespace corvane::test {
namespace {

// The input output 1 shows in a switcher document of the API, or -1.
int OutputOneInput(const std::string& body)
{
    std::smatch found;
    return std::regex_search(body, found, std::regex(R"(\{"output":1,[^}]*"input":(\d))")) ? std::stoi(found[1].str()) : -1;
}

TEST(ServiceMqtt, TwoSwitchersOnOneConnectionBesideTheApi)
{
    TempDir dir;
    Broker broker(dir.path);
    // The hall's emulator holds its first answer to "input 2 to output 1" for a second.
    SimProcess hall({"--tcp", "0", "--fault", "delay=1000:02 03 02 00 01:1"}, dir.path);
    SimProcess lobby({"--tcp", "0", "--quiet"}, dir.path);
    const std::string availability = "corvane/test-site/availability";
    const std::vector<std::string> site{"--host", "127.0.0.1:" + hall.Find("tcp: 127.0.0.1:(\\d+)") + "=hall", "--host",
                                       "127.0.0.1:" + lobby.Find("tcp: 127.0.0.1:(\\d+)") + "=lobby", "--prefix",
                                       "lobby=site/lobby", "--broker", "127.0.0.1:" + std::to_string(broker.port),
                                       "--client-id", "test-site"};
    std::vector<std::string> args = site;
    args.insert(args.end(), {"--web", "127.0.0.1:0", "--interval", "1000", "--trace"});
    Service service(args, dir.path);
    ASSERT_NE(service.port, 0) << service.log;
    Watcher w(broker.port);
    ASSERT_GE(w.Await(availability, "online"), 0) << service.log;
    for (const char* prefix : {"corvane/hall", "site/lobby"}) {
        EXPECT_GE(w.Await(std::string(prefix) + "/switcher/availability", "online"), 0) << prefix;
        EXPECT_GE(w.Await(std::string(prefix) + "/output/1/input", "1"), 0) << prefix;
    }
    // Each device is available while the connection and its own switcher are.
    EXPECT_GE(w.Await([&](const Watcher::Msg& m) {
                  return m.topic == "homeassistant/select/corvane_hall/output_1/config" &&
                         m.payload.find("\"availability\":[{\"topic\":\"" + availability +
                                        "\"},{\"topic\":\"corvane/hall/switcher/availability\"}]") != std::string::npos;
              }),
              0);

    // An API command the switcher is slow to answer, then one on MQTT: the second waits its turn,
    // and each face sees the other's change.
    std::size_t from = w.Count();
    std::atomic<int> apiInput{0};
    std::thread api([&] { apiInput = OutputOneInput(service.Post("/api/switchers/hall/route", R"({"output":1,"input":2})").body); });
    const bool held = hall.LineWith("rx A5 5B 02 03 02 00 01") != "";
    w.Publish("corvane/hall/output/1/input/set", "3");
    api.join();
    ASSERT_TRUE(held) << hall.first;
    EXPECT_NE(service.LineWith("hall: TX A5 5B 02 03 02 00 01"), "") << "traced after the switcher's id";
    EXPECT_EQ(apiInput, 2) << "the MQTT command went ahead of the API's";
    ASSERT_GE(w.Await("corvane/hall/result", R"({"command":"output/1/input","value":"3","ok":true,"error":""})", from), 0);
    std::vector<std::string> seen;
    for (const auto& m : w.On("corvane/hall/output/1/input", from))
        seen.push_back(m.payload);
    EXPECT_EQ(seen, (std::vector<std::string>{"2", "3"}));
    EXPECT_EQ(OutputOneInput(service.Get("/api/switchers/hall").body), 3);

    // A command on the lobby's topics reaches the lobby only.
    from = w.Count();
    w.Publish("site/lobby/output/1/input/set", "4");
    ASSERT_GE(w.Await("site/lobby/result", R"({"command":"output/1/input","value":"4","ok":true,"error":""})", from), 0);
    EXPECT_EQ(OutputOneInput(service.Get("/api/switchers/lobby").body), 4);
    EXPECT_EQ(OutputOneInput(service.Get("/api/switchers/hall").body), 3);
    EXPECT_TRUE(w.On("corvane/hall/result", from).empty());
    EXPECT_TRUE(w.On("corvane/hall/output/1/input", from).empty());

    // The lobby's emulator gone: its availability only.
    from = w.Count();
    lobby.Signal(SIGKILL);
    lobby.Wait();
    EXPECT_GE(w.Await("site/lobby/switcher/availability", "offline", from), 0) << service.log;
    EXPECT_LT(w.Await("corvane/hall/switcher/availability", "offline", from, 300), 0);
    EXPECT_LT(w.Await(availability, "offline", from, 0), 0);
    // The hall silent: a burst on its topics fills its queue, and what is beyond the bound is
    // refused at once (one command may be on the link already, or a reading).
    hall.Signal(SIGSTOP);
    from = w.Count();
    for (int k = 0; k < 40; ++k)
        w.Publish("corvane/hall/beep/set", k % 2 ? "ON" : "OFF");
    const std::string full = "commands wait already; this one is not carried out";
    ASSERT_GE(w.Await([&](const Watcher::Msg& m) { return m.payload.find(full) != std::string::npos; }, from), 0);
    w.AwaitCount("corvane/hall/result", 8, from, 300);
    const auto refused = w.On("corvane/hall/result", from);
    EXPECT_GE(refused.size(), 7u);
    EXPECT_LE(refused.size(), 8u);
    for (const auto& m : refused)
        EXPECT_NE(m.payload.find(full), std::string::npos) << m.payload;
    // Removing the site's topics is refused while it runs.
    std::vector<std::string> removal = site;
    removal.push_back("--remove-discovery");
    Child early(CORVANED_PATH, removal, {});
    EXPECT_NE(early.LineWith("the service test-site is running (" + availability + " is online)"), "") << early.log;
    EXPECT_EQ(early.Wait(), 1);
    // A stop, with commands still waiting, says the connection is gone.
    EXPECT_EQ(service.Terminate(), 0) << service.log;
    hall.Signal(SIGCONT);
    EXPECT_GE(w.Await(availability, "offline", from), 0);
    // Stopped, the removal leaves nothing of either switcher or of the connection retained.
    Child remover(CORVANED_PATH, removal, {});
    EXPECT_EQ(remover.Wait(), 0) << remover.log;
    Watcher after(broker.port, {"homeassistant/#", "corvane/#", "site/#"});
    EXPECT_EQ(after.Count(), 0u) << (after.Count() ? after.On("", 0).front().topic : "");
}

}  // namespace
}  // namespace corvane::test
