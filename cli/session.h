// One conversation with a switcher for a command of corvanectl: the link core, the real-clock
// timers and the serial transport, run by a Qt Core event loop, with the operator's notices as
// lines on standard error. Every wait ends by a protocol timer, a refusal or the link's loss.
#pragma once

#include <QCoreApplication>
#include <csignal>
#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>

#include "cli/commands.h"
#include "link/link_core.h"
#include "link/queries.h"
#include "link/retry_step.h"
#include "link/qt_network.h"
#include "link/serial_device.h"
#include "link/serial_link.h"
#include "platform/notices.h"
#include "platform/qt_serial_owner.h"
#include "platform/qt_timers.h"

namespace corvane::cli {


// Where the switcher is: --port (a COM number, an alias's number or a device path) or --host
// (an IPv4 address, with a port after a colon when it is not 8000).
struct SConnection {
    std::string port;
    std::string host;
    bool trace = false;
};

// "COM5", "com5" -> 5; 0 when the text is not a COM name.
unsigned ComNumberOf(const std::string& text);

// "ADDRESS" or "ADDRESS:PORT" (port 8000 when none is given); nothing when it is neither.
struct SHostPort {
    uint32_t ipv4 = 0;
    uint16_t port = kControlPort;
};
std::optional<SHostPort> ParseHost(const std::string& text);
// As ParseHost, and a host name in place of the address ("switcher-lobby.local",
// "switcher-lobby.local:8001") is looked up through the system's resolver (IPv4 only). Nothing,
// with why set to the reason, when the text is neither or the name has no IPv4 address.
std::optional<SHostPort> ResolveHost(const std::string& text, std::string& why);

// Why a port cannot be opened, as one line with a hint where one helps.
std::string OpenFailureText(const std::string& name, const std::string& device, EOpenFailure failure, int error);

class CSession final : public INotices {
public:
    CSession(std::ostream& err, const SConnection& connection, SPortPaths paths = DefaultPortPaths());
    ~CSession() override;
    CSession(const CSession&) = delete;
    CSession& operator=(const CSession&) = delete;

    // Opens the link; kExitOk, or kExitNoLink / kExitUsage after one line on the error stream.
    // While SetCheckOnly(true) holds it opens nothing and returns kExitChecked: a command then
    // ends after its own checks of the command line and of its files, before any link.
    int Open();
    static void SetCheckOnly(bool on);
    CLinkCore& Link() { return *m_link; }

    // The reply handler of a page. Replies reach the handler of the page set current.
    void SetPageHandler(uint8_t page, CLinkCore::ReplyHandler handler) { m_handlers[page] = std::move(handler); }

    // Runs the event loop until done() holds (true), or a notice reported a failure, the
    // switcher refused the frame last sent or the link was lost (false).
    bool RunUntil(const std::function<bool()>& done);
    // An ungated query (like the status queries sent when a link opens): sent at once, sent
    // again after 3 s without answered(), "Time out!" after another 3 s.
    bool Query(const Frame& query, const std::function<bool()>& answered);
    // A single set whose answer the page only shows: waits up to 7 s for answered().
    bool AwaitSet(const std::function<bool()>& answered);

    bool Failed() const { return m_failed; }
    // A flag that ends every wait when it turns true (a signal asked the command to stop); the
    // wait returns false, nothing is reported.
    void SetStop(const volatile std::sig_atomic_t* stop) { m_stop = stop; }
    bool Stopped() const { return m_stop && *m_stop; }
    // What the command has carried out so far, in words, for the line that reports a failure
    // ("output 1 shows input 3"); empty when nothing has been done yet.
    void SetDoneSoFar(std::function<std::string()> done) { m_doneSoFar = std::move(done); }
    // The exchange a "Time out!" or a refusal is about, when the frame sent last does not say
    // it well.
    void SetTimeoutSubject(std::function<std::string()> subject) { m_timeoutSubject = std::move(subject); }
    // Says what failed in words, with what was already done; the first failure only counts.
    void Fail(const std::string& what);
    // The busy indicator's text last opened or finished ("Configure successfully!", ...).
    const std::string& StatusText() const { return m_status; }
    // The answer the question box gets (the command asked its user before opening the link).
    void SetAnswer(int answer) { m_answer = answer; }

    // INotices
    void ShowMessage(const std::string& text, std::function<void()> then) override;
    void AskMessage(const std::string& text, std::function<void(int)> then) override;
    void OpenStatus(const std::string& text) override { m_status = text; }
    void FinishStatus(const std::string& text) override { m_status = text; }
    void CloseStatus() override {}

    // The log pane that traces datagrams ("TX ..." lines), or nothing without --trace.
    ILogPane& TxPane();

private:
    class CTracePane;
    int OpenSerial();
    int OpenTcp();
    void OnReply(uint8_t page, const Frame& frame);
    void OnTimer(unsigned id);

    std::ostream& m_err;
    SConnection m_connection;
    SPortPaths m_paths;
    CQtTimers m_timers;
    std::unique_ptr<CTracePane> m_tx, m_rx;
    std::unique_ptr<CLinkCore> m_link;
    std::unique_ptr<CTimerOwner> m_waits;  // the single-set and connect waits
    std::unique_ptr<CRetryStep> m_query;
    std::function<std::string()> m_doneSoFar, m_timeoutSubject;
    std::map<uint8_t, CLinkCore::ReplyHandler> m_handlers;
    CQtSerialOwner m_owner;
    std::unique_ptr<CSerialLink> m_serial;  // destroyed first: its worker ends before the owner
    std::unique_ptr<CQtTcpControl> m_tcp;
    std::string m_status;
    std::mutex m_linkErrorLock;  // the serial worker reports too
    std::string m_linkError;     // the serial link's last diagnostic
    std::function<void()> m_onConnectTimeout;
    int m_answer = IDCANCEL;
    bool m_failed = false;
    bool m_lost = false;
    const volatile std::sig_atomic_t* m_stop = nullptr;
};

// What Open() returns under SetCheckOnly: no exit status of the program.
inline constexpr int kExitChecked = 100;

// The application object the event loop needs; made once per process.
void EnsureCoreApplication();

}  // namespace corvane::cli
