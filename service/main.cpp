// corvaned: the switchers of a site in one process, on one event loop, with an HTTP API, a
// WebSocket stream of changes and MQTT, each optional. Called corvane-mqtt, or given --broker for
// one switcher and nothing of the service's, it is the one-switcher MQTT bridge.
#include <signal.h>

#include <QCoreApplication>
#include <algorithm>
#include <cstring>
#include <iostream>
#include <sstream>

#include "core/text/text.h"
#include "mqtt/bridge.h"
#include "platform/regular_file.h"
#include "mqtt/bridge_main.h"
#include "mqtt/options.h"
#include "service/api.h"
#include "service/mqtt_face.h"
#include "service/options.h"
#include "service/unit.h"
#include "transport/epoll_dispatcher.h"
#include "transport/linked_switcher.h"
#include "transport/qt_timers.h"

namespace {

using namespace corvane;
using namespace corvane::service;

// Every KEY and VALUE of the command line, a configuration file's lines first.
std::vector<std::pair<std::string, std::string>> Settings(int argc, char** argv)
{
    std::vector<std::pair<std::string, std::string>> settings;
    for (int k = 1; k < argc; ++k) {
        const bool config = std::strcmp(argv[k], "--config") == 0 && k + 1 < argc;
        if (!config && std::strncmp(argv[k], "--config=", 9) != 0)
            continue;
        std::vector<uint8_t> bytes;
        if (ReadRegularFile(config ? argv[k + 1] : argv[k] + 9, 64 * 1024, bytes) != RegularFileError::None)
            continue;
        std::istringstream in(std::string(bytes.begin(), bytes.end()));
        for (std::string line; std::getline(in, line);) {
            const auto eq = line.find('=');
            if (eq != std::string::npos)
                settings.emplace_back(Trim(line.substr(0, eq)), Trim(line.substr(eq + 1)));
        }
    }
    for (int k = 1; k < argc; ++k) {
        const std::string a = argv[k];
        if (a.rfind("--", 0) != 0)
            continue;
        const auto eq = a.find('=');
        const bool valued = eq == std::string::npos && k + 1 < argc && std::strncmp(argv[k + 1], "--", 2) != 0;
        settings.emplace_back(a.substr(2, eq == std::string::npos ? std::string::npos : eq - 2),
                              eq != std::string::npos ? a.substr(eq + 1) : valued ? argv[k + 1] : "");
    }
    return settings;
}

// The one-switcher bridge: by the program's name, or --broker for a single switcher with nothing
// of the service's (no API, no labels, no hosts file, no per-switcher prefix). Its command line
// and topics are corvane-mqtt's, whichever name it is called by.
bool BridgeWanted(int argc, char** argv)
{
    const char* slash = std::strrchr(argv[0], '/');
    if (std::strcmp(slash ? slash + 1 : argv[0], "corvane-mqtt") == 0)
        return true;
    bool broker = false;
    int switchers = 0;
    for (const auto& [key, value] : Settings(argc, argv)) {
        broker = broker || key == "broker";
        if (key == "host" || key == "port") {
            ++switchers;
            if (value.find('=') != std::string::npos)
                return false;  // a label: the service's
        }
        for (const char* k : {"web", "hosts-file", "token-file", "web-name"})
            if (key == k)
                return false;
        if (key == "prefix" && value.find('=') != std::string::npos)
            return false;
    }
    return broker && switchers <= 1;
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
    std::string password;
    if (!options->mqtt.passwordFile.empty()) {
        const auto secret = mqtt::ReadSecretFile(options->mqtt.passwordFile, error);
        if (!secret) {
            std::cerr << "corvaned: --password-file " << error << '\n';
            return 2;
        }
        password = *secret;
    }
    if (options->mqtt.removeDiscovery) {
        const SSiteTopics site = SiteTopics(options->mqtt, options->units, options->prefixes);
        return mqtt::RemoveRetained(options->mqtt, site.clientId, password, site.devices, "the service " + site.clientId,
                                    "corvaned");
    }
    // The presets, read at start and again at every refresh: true when their names changed.
    std::vector<SNamedScene> scenes;
    const auto readScenes = [&scenes, &options] {
        if (options->scenes.empty())
            return false;
        std::vector<std::string> problems;
        std::vector<SNamedScene> now;
        for (auto& p : mqtt::ReadPresets(options->scenes, problems))
            now.push_back({p.name, p.scene});
        for (const auto& p : problems)
            Log("--scenes: " + p);
        const bool renamed = !std::equal(now.begin(), now.end(), scenes.begin(), scenes.end(),
                                         [](const SNamedScene& a, const SNamedScene& b) { return a.name == b.name; });
        scenes = std::move(now);
        return renamed;
    };
    readScenes();

    // Every switcher's socket is on this one loop: it waits with epoll, not on all of them at once.
    QCoreApplication::setEventDispatcher(new CEpollDispatcher);
    QCoreApplication app(argc, argv);
    CQtTimers timers;
    std::vector<std::unique_ptr<CUnit>> units;
    for (const SUnitPlace& place : options->units)
        units.push_back(std::make_unique<CUnit>(place, timers, options->intervalMs, scenes, options->mqtt.link.trace));

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
    std::unique_ptr<CMqttFace> mqttFace;
    if (options->Broker()) {
        mqttFace = std::make_unique<CMqttFace>(options->mqtt, password, units, options->prefixes, scenes);
        if (!mqttFace->Start(error)) {
            std::cerr << "corvaned: " << error << '\n';
            return 1;
        }
    }
    for (auto& u : units) {
        CUnit* unit = u.get();
        unit->onEvent = [unit, &api, &mqttFace](const std::string& members) {
            if (members.rfind("\"online\":", 0) == 0)
                Log(unit->Place().id + ": switcher " + (unit->Online() ? "online" : "offline: " + unit->OfflineWhy()));
            if (api)
                api->Event(*unit, members);
            if (mqttFace)
                mqttFace->Event(*unit);
        };
        unit->onRefresh = [&readScenes, &mqttFace] {
            if (readScenes() && mqttFace)
                mqttFace->PresetsChanged();
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
    if (mqttFace)
        mqttFace->Stop();
    api.reset();
    units.clear();
    mqttFace.reset();
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (BridgeWanted(argc, argv))
        return corvane::mqtt::BridgeMain(argc, argv);
    return Serve(argc, argv);
}
