// corvane-mqtt: one switcher on an MQTT broker (see mqtt/bridge.h).
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <cerrno>
#include <iostream>

#include "mqtt/bridge.h"
#include "mqtt/options.h"

namespace {

volatile std::sig_atomic_t g_stop = 0;
int g_wake[2] = {-1, -1};

void OnStopSignal(int)
{
    const int saved = errno;
    g_stop = 1;
    const char c = 1;
    [[maybe_unused]] const ssize_t n = write(g_wake[1], &c, 1);
    errno = saved;
}

}  // namespace

int main(int argc, char** argv)
{
    using namespace corvane::mqtt;
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

    // SIGINT and SIGTERM end the bridge through its event loop, even in the middle of a reading.
    if (pipe2(g_wake, O_CLOEXEC | O_NONBLOCK) != 0) {
        std::cerr << "corvane-mqtt: cannot watch for signals\n";
        return 1;
    }
    struct sigaction sa {};
    sa.sa_handler = OnStopSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);
    QSocketNotifier notifier(g_wake[0], QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, [&bridge] {
        char buf[16];
        while (read(g_wake[0], buf, sizeof buf) > 0) {
        }
        bridge.Wake();
    });
    return bridge.Run(&g_stop);
}
