// One link to one switcher, serial or TCP: the link core (send gate, sender, receive cutters,
// reply dispatch, the late-answer rule), the transport the bytes leave through, the page
// classes' reply handlers, and the waits of a front end that blocks (corvanectl, the MQTT
// bridge). The panel drives the same session from its window's events and never blocks.
// No I/O of its own: the front end opens a transport and attaches it, and hands the session a
// pump that waits for the next event (a real event loop, or a virtual clock in tests).
#pragma once

#include <csignal>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "core/link/link_core.h"
#include "core/link/retry_step.h"
#include "core/session/stop_guard.h"
#include "platform/notices.h"

namespace corvane {

// How a command of a program without windows ends: done; the switcher refused or did not
// answer, or the link was lost; bad usage; the link could not be opened.
enum : int { kExitOk = 0, kExitFailed = 1, kExitUsage = 2, kExitNoLink = 3 };

// How an operation on the switcher ended. Refused covers every answer or message that says no
// (a refusal frame, a page's own message such as "Bad EDID file!").
enum class EOutcome { Done, Refused, TimedOut, LinkLost, Stopped };

class CLinkSession : public INotices {
public:
    // timers: the clock of every wait of the link; notices: the operator's boxes (the panel's),
    // or none: the session takes them itself, as a front end without windows does.
    CLinkSession(ITimerService& timers, ILogPane& tx, ILogPane& rx, INotices* notices = nullptr);
    ~CLinkSession() override;
    CLinkSession(const CLinkSession&) = delete;
    CLinkSession& operator=(const CLinkSession&) = delete;

    CLinkCore& Link() { return m_link; }

    // A transport opened by the front end: the control mode follows it, and nothing late from
    // an earlier link can come on it.
    void AttachSerial(ITransport* serial);
    void AttachTcp(ITransport* tcp);
    // The front end closed the link.
    void Detach();
    // The other end or the system ended the link: every wait returns false with this reason.
    void OnLinkLost(const std::string& why = {});
    bool Lost() const { return m_lost; }

    // The reply handler of a page; replies reach the handler of the current page.
    void SetPageHandler(uint8_t page, CLinkCore::ReplyHandler handler) { m_handlers[page] = std::move(handler); }

    // ---- the waits of a front end that blocks ----

    // Waits for the next event (a byte, a timer, a signal); set by the front end.
    void SetPump(std::function<void()> pump);
    // Runs the pump until done() holds (true), or a failure was reported, the switcher refused
    // the frame last sent, the link was lost or a stop was asked for (false).
    bool RunUntil(const std::function<bool()>& done);
    // An ungated query (like the status queries sent when a link opens): sent at once, sent
    // again after 3 s without answered(), "Time out!" after another 3 s.
    bool Query(const Frame& query, const std::function<bool()>& answered);
    // A single set whose answer the page only shows: waits up to 7 s for answered().
    bool AwaitSet(const std::function<bool()>& answered);
    // Waits until no late answer can come any more (see CLinkCore::Settling). A front end calls
    // it before it closes a serial line, so that the next program on the line hears nothing of
    // this one's exchanges.
    void Settle();

    // ---- failures, as a front end without windows reports them ----

    // Where the one line that reports a failure goes.
    void SetFailureReporter(std::function<void(const std::string&)> report) { m_report = std::move(report); }
    // Says what failed in words, with what was already done; the first failure only counts.
    void Fail(const std::string& what, EOutcome outcome = EOutcome::Refused);
    bool Failed() const { return m_failed; }
    // What ended the command: Done while nothing failed and no stop came.
    EOutcome Outcome() const { return m_failed ? m_outcome : Stopped() ? EOutcome::Stopped : EOutcome::Done; }
    // A flag that ends every wait when it turns true (a signal asked the command to stop); the
    // wait returns false, nothing is reported. Nothing more is sent but the rest of an exchange
    // the switcher holds part of (see CStopGuard).
    void SetStop(const volatile std::sig_atomic_t* stop) { m_stop = stop; }
    bool Stopped() const { return m_stop && *m_stop; }
    // What the command has carried out so far, in words ("output 1 shows input 3").
    void SetDoneSoFar(std::function<std::string()> done) { m_doneSoFar = std::move(done); }
    std::string DoneSoFar() const { return m_doneSoFar ? m_doneSoFar() : ""; }
    // The exchange a "Time out!" or a refusal is about, when the frame sent last does not say
    // it well.
    void SetTimeoutSubject(std::function<std::string()> subject) { m_timeoutSubject = std::move(subject); }
    // The busy indicator's text last opened or finished ("Configure successfully!", ...).
    const std::string& StatusText() const { return m_status; }
    // The answer the question box gets (the command asked its user before opening the link).
    void SetAnswer(int answer) { m_answer = answer; }

    // INotices, for front ends without windows: a message is a failure, a question gets the
    // answer set above, the busy indicator's text is kept.
    void ShowMessage(const std::string& text, std::function<void()> then) override;
    void ShowTimeOut(std::function<void()> then) override;
    void AskMessage(const std::string& text, std::function<void(int)> then) override;
    void OpenStatus(const std::string& text) override { m_status = text; }
    void FinishStatus(const std::string& text) override { m_status = text; }
    void CloseStatus() override {}

    // Called by the front end that owns the windows: a refusal goes to the page, as the panel
    // shows it. Front ends that block fail at once on a refusal (the default).
    void SetFailOnRefusal(bool fail) { m_failOnRefusal = fail; }

private:
    void OnReply(uint8_t page, const Frame& frame);
    void OnTimer(unsigned id);

    CLinkCore m_link;
    std::map<uint8_t, CLinkCore::ReplyHandler> m_handlers;
    std::unique_ptr<CTimerOwner> m_waits;  // the single-set wait
    std::unique_ptr<CRetryStep> m_query;
    std::function<void()> m_pump;
    std::function<void(const std::string&)> m_report;
    std::function<std::string()> m_doneSoFar, m_timeoutSubject;
    std::string m_status, m_lostWhy;
    int m_answer = IDCANCEL;
    bool m_failed = false;
    EOutcome m_outcome = EOutcome::Done;
    bool m_lost = false;
    bool m_failOnRefusal = true;
    const volatile std::sig_atomic_t* m_stop = nullptr;
    CStopGuard m_stopGuard;
};

}  // namespace corvane
