#include "cli/session.h"

#include <QEventLoop>
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>

#include <cctype>
#include <cerrno>

#include "link/link_state.h"
#include "link/port_list.h"

namespace corvane::cli {

namespace {

// The waits of the session itself, on its own timer owner.
enum : unsigned { TIMER_SET_TIMEOUT = 3, TIMER_CONNECT = 4 };
// An address that never answers would hold a connect for minutes.
constexpr unsigned kConnectTimeoutMs = 5000;
bool g_bCheckOnly = false;
}  // namespace

void CSession::SetCheckOnly(bool on) { g_bCheckOnly = on; }

// A log pane as trace lines on the error stream: "TX A5 5B ...", one line per frame or block.
class CSession::CTracePane final : public ILogPane {
public:
    CTracePane(std::ostream* err, const char* prefix) : m_err(err), m_prefix(prefix) {}
    void Insert(std::string_view text) override
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
                *m_err << m_prefix << ' ' << m_line << '\n' << std::flush;
            m_line.clear();
        }
    }
    void Clear() override {}

private:
    std::ostream* m_err;
    const char* m_prefix;
    std::string m_line;
};

unsigned ComNumberOf(const std::string& text)
{
    if (text.size() < 4 || text.size() > 6)
        return 0;
    for (int i = 0; i < 3; ++i)
        if (std::toupper(static_cast<unsigned char>(text[i])) != "COM"[i])
            return 0;
    unsigned n = 0;
    for (std::size_t i = 3; i < text.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(text[i])))
            return 0;
        n = n * 10 + unsigned(text[i] - '0');
    }
    return n >= 1 && n <= 255 ? n : 0;
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

std::optional<SHostPort> ParseHost(const std::string& text)
{
    SHostPort h;
    std::string address = text;
    if (const auto colon = text.find(':'); colon != std::string::npos) {
        address = text.substr(0, colon);
        const std::string port = text.substr(colon + 1);
        if (port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos)
            return std::nullopt;
        const unsigned long n = std::stoul(port);
        if (n == 0 || n > 65535)
            return std::nullopt;
        h.port = static_cast<uint16_t>(n);
    }
    // Only dotted-decimal text: no name look-up, which could wait on the network.
    if (address.empty() || address.find_first_not_of("0123456789.") != std::string::npos)
        return std::nullopt;
    const auto ip = ParseIpv4(std::u16string(address.begin(), address.end()));
    if (!ip)
        return std::nullopt;
    h.ipv4 = *ip;
    return h;
}

std::optional<SHostPort> ResolveHost(const std::string& text, std::string& why)
{
    if (const auto h = ParseHost(text))
        return h;
    why = "not an IPv4 address or a host name (A.B.C.D, NAME, or either with :PORT)";
    const auto colon = text.find(':');
    const std::string name = text.substr(0, colon);
    // A port that is wrong is wrong whatever the name: checked on a stand-in address.
    if (colon != std::string::npos && !ParseHost("0.0.0.0" + text.substr(colon)))
        return std::nullopt;
    // Only what can be a host name is looked up: letters, digits and hyphens in dot-separated
    // labels of 1 to 63, not all digits (that is a malformed address).
    bool letter = false;
    std::size_t label = 0;
    if (name.empty() || name.size() > 253)
        return std::nullopt;
    for (std::size_t i = 0; i < name.size(); ++i) {
        const char ch = name[i];
        if (ch == '.') {
            if (label == 0 || name[i - 1] == '-')
                return std::nullopt;
            label = 0;
            continue;
        }
        const bool alpha = std::isalpha(static_cast<unsigned char>(ch)) != 0;
        if (!alpha && !std::isdigit(static_cast<unsigned char>(ch)) && (ch != '-' || label == 0))
            return std::nullopt;
        letter = letter || alpha;
        if (++label > 63)
            return std::nullopt;
    }
    if (!letter || label == 0 || name.back() == '-')
        return std::nullopt;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int e = getaddrinfo(name.c_str(), nullptr, &hints, &found);
    if (e != 0 || !found) {
        why = e == EAI_NONAME || e == EAI_NODATA ? "no such host (or it has no IPv4 address)"
              : e == EAI_AGAIN                   ? "the name could not be looked up now"
                                                 : std::string("the name could not be looked up: ") + gai_strerror(e);
        return std::nullopt;
    }
    SHostPort h;
    h.ipv4 = ntohl(reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr.s_addr);
    freeaddrinfo(found);
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

CSession::CSession(std::ostream& err, const SConnection& connection, SPortPaths paths)
    : m_err(err), m_connection(connection), m_paths(std::move(paths))
{
    EnsureCoreApplication();
    ResetLinkState();
    InstallTimers(&m_timers);
    InstallNotices(this);
    m_tx = std::make_unique<CTracePane>(connection.trace ? &err : nullptr, "TX");
    m_rx = std::make_unique<CTracePane>(connection.trace ? &err : nullptr, "RX");
    m_link = std::make_unique<CLinkCore>(*m_tx, *m_rx);
    m_waits = std::make_unique<CTimerOwner>([this](unsigned id) { OnTimer(id); });
    m_query = std::make_unique<CRetryStep>([this] { m_link->SendFrame(kFrameSize, g_CommandFrame.data()); },
                                           [this] { ShowMessage("Time out!", {}); });
    for (uint8_t page : {PAGE_GENERAL, PAGE_EDID, PAGE_MATRIX, PAGE_FIRMWARE})
        m_link->SetPageHandler(page, [this, page](const Frame& f) { OnReply(page, f); });
    m_owner.SetOnByte([this](uint8_t b, unsigned) { m_link->OnPortByte(b); });
    m_owner.SetOnLinkLost([this](unsigned) { m_lost = true; });
}

CSession::~CSession()
{
    m_serial.reset();
    if (m_tcp) {
        m_tcp->onRead = nullptr;
        m_tcp->onClosed = nullptr;
        m_tcp->onConnected = nullptr;
        m_tcp.reset();
    }
    m_query.reset();
    m_waits.reset();
    m_link.reset();
    InstallTimers(nullptr);
    InstallNotices(nullptr);
    g_bComOpen = false;
    g_bTcpConnected = false;
}

ILogPane& CSession::TxPane() { return *m_tx; }

int CSession::Open()
{
    if (g_bCheckOnly)
        return kExitChecked;
    if (!m_connection.host.empty())
        return OpenTcp();
    if (m_connection.port.empty()) {
        m_err << "corvanectl: no switcher named: give --port COMn or --host ADDRESS (or set CORVANE_PORT or "
                 "CORVANE_HOST)\n";
        return kExitUsage;
    }
    return OpenSerial();
}

int CSession::OpenTcp()
{
    const std::string& host = m_connection.host;
    std::string why;
    const auto target = ResolveHost(host, why);
    if (!target) {
        m_err << "corvanectl: --host " << host << ": " << why << '\n';
        return kExitUsage;
    }
    m_tcp = std::make_unique<CQtTcpControl>();
    std::optional<bool> connected;
    m_tcp->onConnected = [&connected](bool ok) { connected = ok; };
    m_tcp->onRead = [this](std::span<const uint8_t> bytes) { m_link->OnTcpRead(bytes); };
    m_tcp->onClosed = [this] {
        g_bTcpConnected = false;
        m_lost = true;
    };
    m_tcp->Connect(target->ipv4, target->port);
    bool timedOut = false;
    m_waits->SetTimer(TIMER_CONNECT, kConnectTimeoutMs);
    m_onConnectTimeout = [&timedOut] { timedOut = true; };
    QEventLoop loop;
    while (!connected && !timedOut)
        loop.processEvents(QEventLoop::WaitForMoreEvents);
    m_waits->KillTimer(TIMER_CONNECT);
    m_onConnectTimeout = nullptr;
    m_tcp->onConnected = nullptr;
    const std::string where = host.find(':') == std::string::npos ? host + ":" + std::to_string(target->port) : host;
    if (!connected || !*connected) {
        std::string why = timedOut ? "no answer within 5 s" : m_tcp->LastError();
        if (!why.empty())
            why[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(why[0])));
        m_err << "corvanectl: " << where << ": " << (why.empty() ? "cannot connect" : why) << '\n';
        m_tcp->Close();
        m_tcp.reset();
        return kExitNoLink;
    }
    g_nControlMode = MODE_TCP;
    g_bTcpConnected = true;
    m_link->SetTransports(nullptr, m_tcp.get());
    return kExitOk;
}

int CSession::OpenSerial()
{
    const std::string& port = m_connection.port;
    const unsigned number = ComNumberOf(port);
    if (number == 0 && port.front() != '/') {
        m_err << "corvanectl: --port " << port << ": not a port (COM1 to COM255, or a device path)\n";
        return kExitUsage;
    }
    m_serial = std::make_unique<CSerialLink>(m_paths);
    // A diagnostic of the link becomes part of the one line that ends the command.
    m_serial->SetLog([this](const std::string& line) {
        std::lock_guard lock(m_linkErrorLock);
        m_linkError = line;
    });
    const bool opened = number ? m_serial->OpenPort(&m_owner, number) : m_serial->OpenDevice(&m_owner, port);
    if (!opened) {
        m_err << "corvanectl: "
              << OpenFailureText(number ? "COM" + std::to_string(number) : port, m_serial->DevicePath(),
                                 m_serial->LastOpenFailure(), m_serial->LastOpenError())
              << '\n';
        m_serial.reset();
        return kExitNoLink;
    }
    m_serial->Start();
    g_nControlMode = MODE_COM;
    g_bComOpen = true;
    m_link->SetTransports(m_serial.get(), nullptr);
    return kExitOk;
}

void CSession::Fail(const std::string& what)
{
    if (m_failed)
        return;
    m_failed = true;
    m_err << "corvanectl: " << what;
    const std::string done = m_doneSoFar ? m_doneSoFar() : "";
    if (!done.empty())
        m_err << "; " << done;
    m_err << '\n' << std::flush;
}

void CSession::OnReply(uint8_t page, const Frame& r)
{
    // No page accepts a refusal; waiting out the page's timer would only delay the same
    // failure. The frame itself is on the trace.
    if (IsRefusal(r, g_CommandFrame)) {
        Fail("the switcher refused " + (m_timeoutSubject ? m_timeoutSubject() : CommandText(g_CommandFrame)));
        return;
    }
    auto it = m_handlers.find(page);
    if (it != m_handlers.end() && it->second) {
        auto handler = it->second;
        handler(r);
    }
}

bool CSession::RunUntil(const std::function<bool()>& done)
{
    QEventLoop loop;
    while (!done()) {
        if (m_failed || Stopped())
            return false;
        if (m_lost) {
            std::lock_guard lock(m_linkErrorLock);
            Fail("the link to the switcher was lost" + (m_linkError.empty() ? "" : ": " + m_linkError));
            return false;
        }
        loop.processEvents(QEventLoop::WaitForMoreEvents);
    }
    return !m_failed;
}

bool CSession::Query(const Frame& query, const std::function<bool()>& answered)
{
    g_CommandFrame = query;
    m_link->SendFrame(kFrameSize, g_CommandFrame.data());
    m_query->Start();
    const bool ok = RunUntil(answered);
    m_query->Stop();
    return ok;
}

bool CSession::AwaitSet(const std::function<bool()>& answered)
{
    m_waits->SetTimer(TIMER_SET_TIMEOUT, kPageTimeoutMs);
    const bool ok = RunUntil(answered);
    m_waits->KillTimer(TIMER_SET_TIMEOUT);
    return ok;
}

void CSession::OnTimer(unsigned id)
{
    m_waits->KillTimer(id);
    if (id == TIMER_CONNECT) {
        if (m_onConnectTimeout)
            m_onConnectTimeout();
        return;
    }
    ShowMessage("Time out!", {});
}

void CSession::ShowMessage(const std::string& text, std::function<void()> then)
{
    // A time-out names the exchange that went unanswered: the frame the link sent last.
    if (text == "Time out!")
        Fail("no answer to " + (m_timeoutSubject ? m_timeoutSubject() : CommandText(g_CommandFrame)) +
             " (Time out!)");
    else
        Fail(text);
    if (then)
        then();
}

void CSession::AskMessage(const std::string&, std::function<void(int)> then)
{
    if (then)
        then(m_answer);
}

}  // namespace corvane::cli
