// A firmware upgrade of a 100,000-byte file through the real panel: the main window, the FW
// Upgrade page, the serial transport with its worker and the real-clock timers, against the
// emulator over a pseudo-terminal.
//
// Paced (arg 1): the emulator runs its serial link at the real line's speed, 19200 baud and
// 11 bits a byte, both ways. The floor is the wire time of every byte of the upgrade plus the
// 50 ms pacing before every block and before request 0x80; "ratio" is the measured time over
// that floor (goal: at most 1.02). The header of a packet crosses the wire while the page's
// 50 ms run, so the true critical path is shorter than the floor: "ratio_path" compares with
// it.
// Unpaced (arg 0): the emulator answers at once; what remains beyond the 50 ms pacing is the
// program's own overhead per packet ("overhead_ms_per_packet").
#include <benchmark/benchmark.h>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>

#include "panel/corvane_dlg.h"
#include "panel/page_factories.h"
#include "panel/qt_serial_port.h"
#include "core/firmware/firmware.h"
#include "transport/port_list.h"
#include "panel/pages/firmware_dlg.h"
#include "transport/qt_timers.h"
#include "platform/scripted_notices.h"

namespace corvane {
namespace {

constexpr double kByteSeconds = 11.0 / 19200.0;
constexpr double kPacingSeconds = 0.050;

// The emulator as a child process on its own port directory; ended with SIGTERM.
class CSim {
public:
    CSim(const std::vector<std::string>& args, const std::string& portDir)
    {
        int out[2];
        if (pipe2(out, O_CLOEXEC) != 0)
            return;
        m_pid = fork();
        if (m_pid == 0) {
            setenv("CORVANE_PORT_DIR", portDir.c_str(), 1);
            dup2(out[1], 1);
            std::vector<char*> argv{const_cast<char*>(CORVANE_SIM_PATH)};
            for (const auto& a : args)
                argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(out[1]);
        m_out = out[0];
        // The first line says the alias is published.
        std::string line;
        char c;
        pollfd p{m_out, POLLIN, 0};
        while (poll(&p, 1, 5000) > 0 && read(m_out, &c, 1) == 1 && c != '\n')
            line += c;
        ready = line.rfind("serial:", 0) == 0;
    }
    ~CSim()
    {
        if (m_pid > 0) {
            kill(m_pid, SIGTERM);
            waitpid(m_pid, nullptr, 0);
        }
        if (m_out >= 0)
            close(m_out);
    }
    bool ready = false;

private:
    pid_t m_pid = -1;
    int m_out = -1;
};

bool WaitFor(const std::function<bool()>& condition, int timeoutMs)
{
    QElapsedTimer t;
    t.start();
    // The loop sleeps until an event comes; the tick wakes it at least every 5 ms, so that the
    // timeout is seen even when nothing else happens.
    QTimer tick;
    tick.start(5);
    while (!condition()) {
        if (t.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

std::size_t FileBytes()
{
    const char* env = std::getenv("CORVANE_BENCH_FW_BYTES");  // a shorter run while developing
    const long n = env ? std::atol(env) : 0;
    return n >= long(kFirmwareMinFile) && n <= long(kFirmwareMaxFile) ? std::size_t(n) : kFirmwareMaxFile;
}

void BM_FirmwareUpgrade(benchmark::State& state)
{
    const bool paced = state.range(0) != 0;
    char tmpl[] = "/tmp/corvane-bench-fw-XXXXXX";
    if (!mkdtemp(tmpl)) {
        state.SkipWithError("mkdtemp");
        return;
    }
    const std::string dir = tmpl;
    SPortPaths paths;
    for (const char* sub : {"/ports", "/dev", "/sys"})
        std::filesystem::create_directories(dir + sub);
    paths.portDir = dir + "/ports";
    paths.devRoot = dir + "/dev";
    paths.sysRoot = dir + "/sys";
    paths.consoles = dir + "/consoles";
    paths.lockDirs = {};

    const std::size_t fileBytes = FileBytes();
    std::mt19937 rng(42);
    std::vector<uint8_t> image(fileBytes - kFirmwareLead);
    for (auto& b : image)
        b = uint8_t(rng());
    const std::string fw = dir + "/bench.fw";
    {
        const auto file = *PackFirmware(image);
        std::ofstream(fw, std::ios::binary).write(reinterpret_cast<const char*>(file.data()), std::streamsize(file.size()));
    }

    std::vector<std::string> args{"--serial", "com212", "--reboot-ms", "0", "--quiet"};
    if (paced)
        args.push_back("--pace-line");
    {
        CSim sim(args, paths.portDir);
        CQtTimers timers;
        CScriptedNotices op;
        ResetLinkState();
        ResetPortListState();
        InstallTimers(&timers);
        InstallNotices(&op);
        {
            CCorvaneDlg dlg(std::make_unique<CQtSerialPort>(paths), paths);
            RegisterPages(dlg);
            qobject_cast<QAbstractButton*>(dlg.Control(1021))->click();
            if (!sim.ready || !g_bComOpen || !WaitFor([&] { return g_bReady && dlg.Link().Log().RxFrames() >= 1; }, 5000)) {
                state.SkipWithError("cannot reach the emulator");
            } else {
                dlg.PressTab(1013);
                auto* page = dlg.findChild<CFWDlg*>();
                WaitFor([&] { return !page->DeviceLine()->text().isEmpty(); }, 5000);
                page->SetFileChooser([&] { return std::optional<std::string>(fw); });
                page->OpenButton()->click();

                const std::size_t packets = PlanPackets(int(fileBytes)).size();
                // Every byte of the upgrade crosses the line once: six frames of the requests and
                // their answers, header, block and acknowledgement per packet, the reboot check
                // and its answer.
                const double wireBytes = 8.0 * kFrameSize + double(packets) * (2.0 * kFrameSize + kBlockSize);
                const double floor = wireBytes * kByteSeconds + double(packets + 1) * kPacingSeconds;
                const double path = floor - double(packets) * kFrameSize * kByteSeconds;
                for (auto _ : state) {
                    QElapsedTimer t;
                    t.start();
                    page->UpgradeButton()->click();
                    const bool ok = WaitFor([&] { return g_bReady; }, 600000) &&
                                    page->Messages()->toPlainText().endsWith(QStringLiteral("successfully \n"));
                    const double seconds = double(t.nsecsElapsed()) / 1e9;
                    state.SetIterationTime(seconds);
                    if (!ok) {
                        state.SkipWithError("the upgrade failed");
                        break;
                    }
                    state.counters["seconds"] = seconds;
                    state.counters["packets"] = double(packets);
                    if (paced) {
                        state.counters["floor_s"] = floor;
                        state.counters["ratio"] = seconds / floor;
                        state.counters["ratio_path"] = seconds / path;
                    } else {
                        state.counters["overhead_ms_per_packet"] =
                            (seconds - double(packets + 1) * kPacingSeconds) * 1000.0 / double(packets);
                    }
                }
            }
        }
        InstallTimers(nullptr);
        InstallNotices(nullptr);
    }
    std::filesystem::remove_all(dir);
}
BENCHMARK(BM_FirmwareUpgrade)->Arg(0)->Arg(1)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace
}  // namespace corvane

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
