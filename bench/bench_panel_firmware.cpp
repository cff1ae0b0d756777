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
#include "tests/support/child_process.h"

namespace corvane {
namespace {

constexpr double kByteSeconds = 11.0 / 19200.0;
constexpr double kPacingSeconds = 0.050;

// The emulator as a child process on its own port directory; ended with SIGTERM. Its first line
// says the alias is published.
class CSim : public test::CChildProcess {
public:
    CSim(std::vector<std::string> args, const std::string& portDir) : CChildProcess(Words(std::move(args)), Options(portDir))
    {
        ready = ReadLine(5000).value_or("").rfind("serial:", 0) == 0;
    }
    bool ready = false;

private:
    static std::vector<std::string> Words(std::vector<std::string> args)
    {
        args.insert(args.begin(), CORVANE_SIM_PATH);
        return args;
    }
    static test::SChildOptions Options(const std::string& portDir)
    {
        test::SChildOptions o;
        o.env = std::vector<std::string>{"CORVANE_PORT_DIR=" + portDir, "PATH=/usr/bin:/bin"};
        o.err = test::SChildOptions::Err::Inherited;
        return o;
    }
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
        ResetPortListState();
        {
            CCorvaneDlg dlg(std::make_unique<CQtSerialPort>(paths), timers, op, paths);
            RegisterPages(dlg);
            qobject_cast<QAbstractButton*>(dlg.Control(1021))->click();
            if (!sim.ready || !dlg.Link().bComOpen || !WaitFor([&] { return dlg.Link().bReady && dlg.Link().Log().RxFrames() >= 1; }, 5000)) {
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
                    const bool ok = WaitFor([&] { return dlg.Link().bReady; }, 600000) &&
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
