#include "transport/linked_switcher.h"

#include <QEventLoop>
#include <QSocketNotifier>
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>

#include <cctype>
#include <cerrno>

#include "transport/port_list.h"

namespace corvane {

namespace {
enum : unsigned { TIMER_CONNECT = 4 };
bool g_bCheckOnly = false;
IProgramClock* g_programClock = nullptr;

// The programs' clock: Qt timers, and the Qt event loop waiting for the next event.
class CRealClock final : public IProgramClock {
public:
    ITimerService& Timers() override { return m_timers; }
    void Pump(bool) override { QEventLoop().processEvents(QEventLoop::WaitForMoreEvents); }

private:
    CQtTimers m_timers;
};
}  // namespace

void UseProgramClock(IProgramClock* clock) { g_programClock = clock; }

void CLinkedSwitcher::SetCheckOnly(bool on) { g_bCheckOnly = on; }

void detail::CTracePane::Insert(std::string_view text)
{
    if (!m_err)
        return;
    for (char c : text) {
        if (c != '\n') {
            m_line += c;
            continue;
        }
        while (!m_line.empty() && m_line.back() == ' ')
            m_line.pop_back();
        if (!m_line.empty())
            *m_err << (m_prefix + (' ' + m_line) + '\n') << std::flush;  // one write: lines of other threads stay whole
        m_line.clear();
    }
}

std::string OpenFailureText(const std::string& name, const std::string& device, EOpenFailure failure, int error)
{
    const std::string what = device.empty() || device == name ? name : name + " (" + device + ")";
    switch (failure) {
    case EOpenFailure::Missing: return what + ": no such port";
    case EOpenFailure::Console: return what + ": the system console, not opened";
    case EOpenFailure::Held: return what + ": held by another program";
    case EOpenFailure::NotSerial: return what + ": not a serial port";
    case EOpenFailure::OsError:
        if (error == EACCES || error == EPERM)
            return what + ": permission denied; " + kDialoutHint;
        return what + ": " + ErrorText(error);
    case EOpenFailure::None: break;
    }
    return what + ": cannot be opened";
}

std::optional<SHostPort> ResolveHost(const std::string& text, std::string& why, const SResolver& resolver)
{
    if (const auto h = ParseHost(text))
        return h;
    why = "not an IPv4 address or a host name (A.B.C.D, NAME, or either with :PORT)";
    const auto colon = text.find(':');
    const std::string name = text.substr(0, colon);
    // A port that is wrong is wrong whatever the name: checked on a stand-in address.
    if (colon != std::string::npos && !ParseHost("0.0.0.0" + text.substr(colon)))
        return std::nullopt;
    // Only what can be a host name is looked up.
    if (!IsHostName(name))
        return std::nullopt;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int e = resolver.lookup(name.c_str(), nullptr, &hints, &found);
    if (e != 0 || !found) {
        why = e == EAI_NONAME || e == EAI_NODATA ? "no such host (or it has no IPv4 address)"
              : e == EAI_AGAIN                   ? "the name could not be looked up now"
                                                 : std::string("the name could not be looked up: ") + gai_strerror(e);
        return std::nullopt;
    }
    SHostPort h;
    h.ipv4 = ntohl(reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr.s_addr);
    resolver.release(found);
    if (colon != std::string::npos)
        h.port = ParseHost("0.0.0.0" + text.substr(colon))->port;
    return h;
}

void EnsureCoreApplication()
{
    if (QCoreApplication::instance())
        return;
    static int argc = 1;
    static char name[] = "corvanectl";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
}

CEventLoopStop::CEventLoopStop(std::function<void()> onStop, bool hangUpToo) : m_signal(hangUpToo)
{
    if (!m_signal.Ok())
        return;
    EnsureCoreApplication();
    m_notifier = std::make_unique<QSocketNotifier>(m_signal.Fd(), QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, [this, onStop = std::move(onStop)] {
        m_signal.Drain();
        if (onStop)
            onStop();
    });
}

CEventLoopStop::~CEventLoopStop() { m_notifier.reset(); }

detail::SHostParts::SReady::SReady() { EnsureCoreApplication(); }

detail::SHostParts::SHostParts(std::ostream& err, bool trace)
    : realClock(g_programClock ? nullptr : std::make_unique<CRealClock>()),
      clock(g_programClock ? g_programClock : realClock.get()), tx(trace ? &err : nullptr, "TX"),
      rx(trace ? &err : nullptr, "RX")
{
}

detail::SHostParts::~SHostParts() = default;

CLinkedSwitcher::CLinkedSwitcher(std::ostream& err, const SConnection& connection, SPortPaths paths, std::string name)
    : detail::SHostParts(err, connection.trace), CSwitcher(clock->Timers(), tx, rx), m_err(err),
      m_connection(connection), m_paths(std::move(paths)), m_name(std::move(name))
{
    SetStop(StopSignalFlag());
    m_waits = std::make_unique<CTimerOwner>(clock->Timers(), [this](unsigned id) { OnTimer(id); });
    SetFailureReporter([this](const std::string& line) { m_err << m_name << ": " << line << '\n' << std::flush; });
    SetPump([this] {
        clock->Pump(Link().ExchangeActive());
        // What was done is told in the command's words while the command still runs.
        if (Stopped() && !std::exchange(m_stopSeen, true))
            m_stopDone = DoneSoFar();
    });
    m_owner.SetOnByte([this](uint8_t b, unsigned) { Link().OnPortByte(b); });
    m_owner.SetOnLinkLost([this](unsigned) {
        std::lock_guard lock(m_linkErrorLock);
        OnLinkLost(m_linkError);
    });
}

CLinkedSwitcher::~CLinkedSwitcher()
{
    Close();
    m_waits.reset();
}

void CLinkedSwitcher::Close()
{
    if (m_serial) {
        Settle();
        m_serial.reset();
    }
    if (Stopped() && !m_stopSilent && !std::exchange(m_stopSaid, true)) {
        const int sig = *StopSignalFlag();
        const std::string& done = m_stopDone;
        m_err << m_name << ": stopped" << (sig ? std::string(" by ") + StopSignalName(sig) : "")
              << (done.empty() ? "" : "; " + done) << '\n'
              << std::flush;
    }
    if (m_tcp) {
        m_tcp->onRead = nullptr;
        m_tcp->onClosed = nullptr;
        m_tcp->onConnected = nullptr;
        m_tcp.reset();
    }
    Detach();
}

int CLinkedSwitcher::Open()
{
    if (g_bCheckOnly)
        return kExitChecked;
    if (!m_connection.host.empty())
        return OpenTcp();
    if (m_connection.port.empty()) {
        m_err << m_name
              << ": no switcher named: give --port COMn or --host ADDRESS (or set CORVANE_PORT or CORVANE_HOST)\n";
        return kExitUsage;
    }
    return OpenSerial();
}

int CLinkedSwitcher::OpenTcp()
{
    const std::string& host = m_connection.host;
    std::string why;
    const auto target = ResolveHost(host, why);
    if (!target) {
        m_err << m_name << ": --host " << host << ": " << why << '\n';
        return kExitUsage;
    }
    m_tcp = std::make_unique<CSocketTcpControl>();
    std::optional<bool> connected;
    m_tcp->onConnected = [&connected](bool ok) { connected = ok; };
    m_tcp->onRead = [this](std::span<const uint8_t> bytes) { Link().OnTcpRead(bytes); };
    m_tcp->onClosed = [this] { OnLinkLost(); };
    m_tcp->Connect(target->ipv4, target->port);
    m_connectTimedOut = false;
    m_waits->SetTimer(TIMER_CONNECT, kConnectTimeoutMs);
    while (!connected && !m_connectTimedOut && !Stopped())
        clock->Pump(true);
    m_waits->KillTimer(TIMER_CONNECT);
    m_tcp->onConnected = nullptr;
    if (Stopped() && !(connected && *connected)) {
        m_tcp.reset();
        return kExitNoLink;
    }
    if (!connected || !*connected) {
        std::string why = m_connectTimedOut ? "no answer within " + std::to_string(kConnectTimeoutMs / 1000) + " s"
                                            : m_tcp->LastError();
        if (!why.empty())
            why[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(why[0])));
        m_err << m_name << ": " << HostWithPort(host) << ": " << (why.empty() ? "cannot connect" : why) << '\n';
        m_tcp->Close();
        m_tcp.reset();
        return kExitNoLink;
    }
    AttachTcp(m_tcp.get());
    return kExitOk;
}

int CLinkedSwitcher::OpenSerial()
{
    const std::string& port = m_connection.port;
    std::string why;
    const auto name = ParsePortName(port, why);
    if (!name) {
        m_err << m_name << ": --port " << why << '\n';
        return kExitUsage;
    }
    m_serial = std::make_unique<CSerialLink>(m_paths);
    // A diagnostic of the link becomes part of the one line that ends the command.
    m_serial->SetLog([this](const std::string& line) {
        std::lock_guard lock(m_linkErrorLock);
        m_linkError = line;
    });
    const bool opened = name->number ? m_serial->OpenPort(&m_owner, name->number)
                                     : m_serial->OpenDevice(&m_owner, name->device);
    if (!opened) {
        m_err << m_name << ": "
              << OpenFailureText(name->number ? "COM" + std::to_string(name->number) : port, m_serial->DevicePath(),
                                 m_serial->LastOpenFailure(), m_serial->LastOpenError())
              << '\n';
        m_serial.reset();
        return kExitNoLink;
    }
    m_serial->Start();
    AttachSerial(m_serial.get());
    return kExitOk;
}

void CLinkedSwitcher::OnTimer(unsigned id)
{
    m_waits->KillTimer(id);
    if (id == TIMER_CONNECT)
        m_connectTimedOut = true;
}

}  // namespace corvane
