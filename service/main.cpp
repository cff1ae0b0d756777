// corvaned: the switchers of a site in one process, on one event loop, with an HTTP API and a
// WebSocket stream of changes. Called corvane-mqtt, or given --broker, it is the MQTT bridge.
#include <signal.h>

#include <QCoreApplication>
#include <cstring>
#include <iostream>
#include <sstream>

#include "core/text/text.h"
#include "mqtt/bridge.h"
#include "platform/regular_file.h"
#include "mqtt/bridge_main.h"
#include "mqtt/options.h"
#include "service/api.h"
#include "service/options.h"
#include "service/unit.h"
#include "transport/linked_switcher.h"
#include "transport/qt_timers.h"

namespace {

using namespace corvane;
using namespace corvane::service;

// The bridge's own options: by the program's name, or --broker on the line or in --config.
bool BridgeWanted(int argc, char** argv)
{
    const char* slash = std::strrchr(argv[0], '/');
    if (std::strcmp(slash ? slash + 1 : argv[0], "corvane-mqtt") == 0)
        return true;
    for (int k = 1; k < argc; ++k) {
        if (std::strcmp(argv[k], "--broker") == 0 || std::strncmp(argv[k], "--broker=", 9) == 0)
            return true;
        const bool config = std::strcmp(argv[k], "--config") == 0 && k + 1 < argc;
        if (!config && std::strncmp(argv[k], "--config=", 9) != 0)
            continue;
        // A configuration file that names a broker is the bridge's.
        std::vector<uint8_t> bytes;
        if (ReadRegularFile(config ? argv[k + 1] : argv[k] + 9, 64 * 1024, bytes) != RegularFileError::None)
            continue;
        std::istringstream in(std::string(bytes.begin(), bytes.end()));
        for (std::string line; std::getline(in, line);) {
            const auto eq = line.find('=');
            if (eq != std::string::npos && Trim(line.substr(0, eq)) == "broker")
                return true;
        }
    }
    return false;
}

void Log(const std::string& line) { mqtt::WriteErrorLine("corvaned: " + line); }

int Serve(int argc, char** argv)
{
    const std::vector<std::string> args(argv + 1, argv + argc);
    std::string error;
    const auto options = ParseServiceOptions(args, error);
    if (!options) {
        std::cerr << "corvaned: " << error << "\n(corvaned --help tells more)\n";
        return 2;
    }
    if (options->help) {
        std::cout << kServiceUsage;
        return 0;
    }
    if (options->version) {
        std::cout << "corvaned " << CORVANE_VERSION << '\n';
        return 0;
    }
    std::string token;
    if (!options->tokenFile.empty()) {
        const auto secret = mqtt::ReadSecretFile(options->tokenFile, error);
        if (!secret || secret->empty()) {
            std::cerr << "corvaned: --token-file " << (secret ? options->tokenFile + ": empty" : error) << '\n';
            return 2;
        }
        token = *secret;
    }
    std::vector<SNamedScene> scenes;
    if (!options->scenes.empty()) {
        std::vector<std::string> problems;
        for (auto& p : mqtt::ReadPresets(options->scenes, problems))
            scenes.push_back({p.name, p.scene});
        for (const auto& p : problems)
            Log("--scenes: " + p);
    }

    QCoreApplication app(argc, argv);
    CQtTimers timers;
    std::vector<std::unique_ptr<CUnit>> units;
    for (const SUnitSpec& spec : options->units)
        units.push_back(std::make_unique<CUnit>(spec, timers, options->intervalMs, scenes));

    std::unique_ptr<CApi> api;
    if (!options->web.empty()) {
        SApiOptions a;
        a.address = options->webAddress == "localhost" ? QHostAddress(QHostAddress::LocalHost)
                                                       : QHostAddress(QString::fromStdString(options->webAddress));
        if (a.address.isNull()) {
            std::cerr << "corvaned: --web " << options->web << ": not an IP address\n";
            return 2;
        }
        a.port = static_cast<quint16>(options->webPort);
        a.token = token;
        a.webNames = options->webNames;
        api = std::make_unique<CApi>(a, units, scenes, timers);
        if (!api->Listen(error)) {
            std::cerr << "corvaned: --web " << options->web << ": " << error << '\n';
            return 1;
        }
        Log("API on " + options->webAddress + ":" + std::to_string(api->Port()));
    }
    for (auto& u : units) {
        CUnit* unit = u.get();
        unit->onEvent = [unit, &api](const std::string& members) {
            if (members.rfind("\"online\":", 0) == 0)
                Log(unit->Spec().id + ": switcher " + (unit->Online() ? "online" : "offline: " + unit->OfflineWhy()));
            if (api)
                api->Event(*unit, members);
        };
        unit->Start();
    }
    const CEventLoopStop stop([] { QCoreApplication::quit(); }, true);
    if (!stop.Ok()) {
        std::cerr << "corvaned: cannot watch for signals\n";
        return 1;
    }
    signal(SIGPIPE, SIG_IGN);
    app.exec();
    api.reset();
    units.clear();
    return 0;
}

// The bridge holds one switcher on its broker connection and serves no API: a command line that
// asks for more is refused rather than carried out in part.
bool BridgeAskedForMore(int argc, char** argv, std::string& what)
{
    int switchers = 0;
    for (int k = 1; k < argc; ++k) {
        const std::string a = argv[k];
        for (const char* o : {"--host", "--port"})
            switchers += a == o || a.rfind(std::string(o) + "=", 0) == 0;
        for (const char* o : {"--web", "--hosts-file", "--token-file", "--web-name"}) {
            if (a == o || a.rfind(std::string(o) + "=", 0) == 0)
                what = o;
        }
    }
    if (what.empty() && switchers > 1)
        what = "a second switcher";
    return !what.empty();
}

}  // namespace

int main(int argc, char** argv)
{
    if (BridgeWanted(argc, argv)) {
        std::string what;
        if (BridgeAskedForMore(argc, argv, what)) {
            std::cerr << "corvaned: --broker holds one switcher and serves no API: " << what
                      << " cannot go with it; run the bridge once per switcher (corvane-mqtt@.service)\n";
            return 2;
        }
        return corvane::mqtt::BridgeMain(argc, argv);
    }
    return Serve(argc, argv);
}
