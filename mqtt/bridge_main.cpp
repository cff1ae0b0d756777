// The bridge as a program of its own: one switcher on an MQTT broker (see mqtt/bridge.h).
#include "mqtt/bridge_main.h"

#include <signal.h>

#include <QCoreApplication>
#include <iostream>

#include "mqtt/bridge.h"
#include "mqtt/options.h"
#include "transport/linked_switcher.h"

namespace corvane::mqtt {

int BridgeMain(int argc, char** argv)
{
    const std::vector<std::string> args(argv + 1, argv + argc);
    std::string error;
    const auto options = ParseOptions(args, error);
    if (!options) {
        std::cerr << "corvane-mqtt: " << error << "\n(corvane-mqtt --help tells more)\n";
        return 2;
    }
    if (options->help) {
        std::cout << kUsage;
        return 0;
    }
    if (options->version) {
        std::cout << "corvane-mqtt " << CORVANE_VERSION << '\n';
        return 0;
    }
    std::string password;
    if (!options->passwordFile.empty()) {
        const auto secret = ReadSecretFile(options->passwordFile, error);
        if (!secret) {
            std::cerr << "corvane-mqtt: --password-file " << error << '\n';
            return 2;
        }
        password = *secret;
    }
    QCoreApplication app(argc, argv);
    CBridge bridge(*options, password);
    if (options->removeDiscovery)
        return bridge.RemoveDiscovery();

    // SIGINT, SIGTERM and SIGHUP end the bridge through its event loop, even in the middle of a
    // reading; it says offline before it goes.
    const CEventLoopStop stop([&bridge] { bridge.Wake(); }, true);
    if (!stop.Ok()) {
        std::cerr << "corvane-mqtt: cannot watch for signals\n";
        return 1;
    }
    signal(SIGPIPE, SIG_IGN);
    return bridge.Run(StopSignalFlag());
}

}  // namespace corvane::mqtt
