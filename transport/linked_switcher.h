// The switcher of a program without windows (corvanectl, the MQTT bridge): opens the switcher's
// serial port or TCP connection, attaches it to the switcher object, runs a Qt Core event loop
// as its pump with the real-clock timers (or a clock a test installs), and reports failures as
// one line on the error stream. Every wait ends by a protocol timer, a refusal or the link's
// loss.
#pragma once

#include <netdb.h>

#include <QCoreApplication>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>

#include "core/address/address.h"
#include "core/switcher/switcher.h"
#include "transport/qt_serial_owner.h"
#include "transport/qt_timers.h"
#include "transport/serial_device.h"
#include "transport/serial_link.h"
#include "transport/socket_network.h"
#include "platform/stop_signal.h"

class QSocketNotifier;

namespace corvane {

// What the waits of a switcher run on: the timer service of every timer owner while it lives
// (its own, the pages', a command's), and the pump that waits for the next event. The
// programs run on the real clock: Qt timers and the Qt event loop.
class IProgramClock {
public:
    virtual ~IProgramClock() = default;
    virtual ITimerService& Timers() = 0;
    // Waits for the next event and handles it. awaiting: the switcher waits for the other end (a
    // connection being made, an exchange's answer); a clock that is not the real one must not
    // move past such a wait while a real event could still end it.
    virtual void Pump(bool awaiting) = 0;
};
// The clock of every switcher made after the call (a test's virtual clock); nullptr: the real
// clock, the default.
void UseProgramClock(IProgramClock* clock);

// An address that never answers would hold a connect for minutes: given up after this.
inline constexpr unsigned kConnectTimeoutMs = 5000;

// What Open() returns under SetCheckOnly: no exit status of the program.
inline constexpr int kExitChecked = 100;

// Where the switcher is: --port (a COM number, an alias's number or a device path) or --host
// (an IPv4 address, with a port after a colon when it is not 8000).
struct SConnection {
    std::string port;
    std::string host;
    bool trace = false;
};

// As ParseHost, and a host name in place of the address ("switcher-lobby.local",
// "switcher-lobby.local:8001") is looked up through the system's resolver (IPv4 only). Nothing,
// with why set to the reason, when the text is neither or the name has no IPv4 address.
// resolver: the system's getaddrinfo and freeaddrinfo, or a stand-in (tests).
struct SResolver {
    int (*lookup)(const char*, const char*, const addrinfo*, addrinfo**) = getaddrinfo;
    void (*release)(addrinfo*) = freeaddrinfo;
};
std::optional<SHostPort> ResolveHost(const std::string& text, std::string& why, const SResolver& resolver = {});

// Why a port cannot be opened, as one line with a hint where one helps.
std::string OpenFailureText(const std::string& name, const std::string& device, EOpenFailure failure, int error);

namespace detail {
// A log pane as trace lines on the error stream: "TX A5 5B ...", one line per frame or block.
class CTracePane final : public ILogPane {
public:
    // prefix: "TX", "RX", or with the switcher's name before it ("hall: TX").
    CTracePane(std::ostream* err, std::string prefix) : m_err(err), m_prefix(std::move(prefix)) {}
    void Insert(std::string_view text) override;
    void Clear() override {}

private:
    std::ostream* m_err;
    std::string m_prefix;
    std::string m_line;
};
// What the switcher runs on, made before it and gone after it: the event loop's application
// object, the clock (its timers installed for every timer owner of the switcher) and the panes.
struct SHostParts {
    SHostParts(std::ostream& err, bool trace);
    ~SHostParts();
    SHostParts(const SHostParts&) = delete;
    SHostParts& operator=(const SHostParts&) = delete;
    struct SReady {
        SReady();  // the application object made, the link state fresh
    } ready;
    std::unique_ptr<IProgramClock> realClock;  // when no other clock was installed
    IProgramClock* clock;
    CTracePane tx, rx;
};
}  // namespace detail

// The application object the event loop needs; made once per process.
void EnsureCoreApplication();

// SIGINT and SIGTERM (SIGHUP with hangUpToo) on the event loop: a signal wakes the loop and
// onStop runs on it. Every switcher stops with it (see CLinkedSwitcher).
class CEventLoopStop {
public:
    explicit CEventLoopStop(std::function<void()> onStop = {}, bool hangUpToo = false);
    ~CEventLoopStop();
    CEventLoopStop(const CEventLoopStop&) = delete;
    CEventLoopStop& operator=(const CEventLoopStop&) = delete;
    bool Ok() const { return m_signal.Ok(); }
    // The signal that came, 0 before any.
    int Received() const { return m_signal.Received(); }

private:
    CStopSignal m_signal;
    std::unique_ptr<QSocketNotifier> m_notifier;
};

class CLinkedSwitcher final : private detail::SHostParts, public CSwitcher {
public:
    // name: the program, at the start of each line it writes ("corvanectl").
    CLinkedSwitcher(std::ostream& err, const SConnection& connection, SPortPaths paths = DefaultPortPaths(),
                    std::string name = "corvanectl");
    ~CLinkedSwitcher() override;

    // Opens the link; kExitOk, or kExitNoLink / kExitUsage after one line on the error stream.
    // While SetCheckOnly(true) holds it opens nothing and returns kExitChecked: a command then
    // ends after its own checks of the command line and of its files, before any link.
    int Open();
    // Closes the link; a serial line is first let settle (no late answer reaches the next
    // program on the line). Also done by the destructor. A stopped switcher says so here, once:
    // "corvanectl: stopped by SIGTERM", with what was done.
    void Close();
    // A stop is the program's normal end (watch): no line says it.
    void SetStopSilent(bool silent) { m_stopSilent = silent; }
    static void SetCheckOnly(bool on);

    // The log pane that traces datagrams ("TX ..." lines), or nothing without --trace.
    ILogPane& TxPane() { return tx; }

private:
    int OpenSerial();
    int OpenTcp();
    void OnTimer(unsigned id);

    std::ostream& m_err;
    SConnection m_connection;
    SPortPaths m_paths;
    std::string m_name;
    std::unique_ptr<CTimerOwner> m_waits;  // the connect wait
    CQtSerialOwner m_owner;
    std::unique_ptr<CSerialLink> m_serial;  // destroyed first: its worker ends before the owner
    std::unique_ptr<CSocketTcpControl> m_tcp;
    std::mutex m_linkErrorLock;  // the serial worker reports too
    std::string m_linkError;     // the serial link's last diagnostic
    bool m_connectTimedOut = false;
    bool m_stopSilent = false;
    bool m_stopSeen = false, m_stopSaid = false;
    std::string m_stopDone;  // what the command had done when the stop came
};

}  // namespace corvane
