// One switcher on one link, serial or TCP: the protocol engine (CLinkCore), the pages on views
// that write what they showed into one SSwitcherState, and the operations every front end
// drives: read, route, beeper, DVI, EDID, firmware, factory reset (scene apply builds on them).
// An operation runs on the event loop without blocking it, ends exactly once with an outcome
// and the words a front end prints, and states the longest it can take. No I/O of its own: the
// front end opens a transport and attaches it. Many switchers may live in one process.
#pragma once

#include <array>
#include <coroutine>
#include <csignal>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/edid/edid_names.h"
#include "core/link/link_core.h"
#include "core/link/retry_step.h"
#include "core/pages/edid_page.h"
#include "core/pages/firmware_page.h"
#include "core/pages/general_page.h"
#include "core/pages/matrix_page.h"
#include "core/switcher/stop_guard.h"
#include "core/switcher/switcher_state.h"
#include "core/switcher/task.h"
#include "platform/notices.h"

namespace corvane {

// How a command of a program without windows ends: done; the switcher refused or did not
// answer, or the link was lost; bad usage; the link could not be opened.
enum : int { kExitOk = 0, kExitFailed = 1, kExitUsage = 2, kExitNoLink = 3 };

// How an operation on the switcher ended. Refused covers every answer or message that says no
// (a refusal frame, a page's own message, a reading that shows another value than was set).
enum class EOutcome { Done, Refused, TimedOut, LinkLost, Stopped, BadInput };

struct SResult {
    EOutcome outcome = EOutcome::Done;
    std::string words;  // what went wrong, as a front end prints it; empty when done
    bool Ok() const { return outcome == EOutcome::Done; }
};

// An operation not yet started, and the longest it can take once started (from the page timers:
// the line settling first, each exchange's resend and time-out).
struct SOperation {
    CTask task;
    unsigned worstCaseMs = 0;
};

// The longest one exchange can wait: a step sent twice 3 s apart, or a single set's 7 s.
inline constexpr unsigned kExchangeWorstMs = kPageTimeoutMs > 2 * kStepTimeoutMs ? kPageTimeoutMs : 2 * kStepTimeoutMs;
// The longest a line settles before an operation starts: a resent frame's window, restarted by
// its first late answer.
inline constexpr unsigned kSettleWorstMs = kLateAfterResendMs + kLateAfterAnswerMs;

struct SGeneralView final : IGeneralView {
    explicit SGeneralView(SSwitcherState& s) : state(s) {}
    SSwitcherState& state;
    void ClearDeviceInfo() override
    {
        state.inputs = {};
        state.outputs = {};
    }
    void WriteDeviceInfo(const SSignalLine& line) override;
    void ShowBeep(bool on) override { state.beep = on; }
    void ShowDvi(bool on) override { state.dvi = on; }
};

struct SMatrixView final : IMatrixView {
    explicit SMatrixView(SSwitcherState& s) : state(s) {}
    SSwitcherState& state;
    void CheckInput(int, int) override {}
    void ShowDigit(int output, int input) override { state.routes.at(output - 1) = input; }
};

// The EDID page's drop-down lists hold what the operation chose.
struct SEdidView final : IEdidView {
    explicit SEdidView(SSwitcherState& s) : state(s) {}
    SSwitcherState& state;
    int preset = -1, presetTarget = -1, copySource = -1, copyTarget = -1, fileTarget = -1;
    std::vector<std::string> summary;
    int Selection(EdidList list) const override;
    void ShowInputEdid(int input, const std::string& name) override
    {
        if (input >= 1 && input <= 4)
            state.edids[input - 1] = name;
    }
    void ShowFile(const std::string&, const std::vector<std::string>& lines) override { summary = lines; }
    std::optional<std::string> ChooseFile() override { return std::nullopt; }
};

struct SFirmwareView final : IFirmwareView {
    explicit SFirmwareView(SSwitcherState& s) : state(s) {}
    SSwitcherState& state;
    int maximum = 0;
    std::function<void(int)> onProgress;
    std::function<void(const std::string&)> onMessage;
    std::optional<std::string> ChooseFirmwareFile() override { return std::nullopt; }
    void ShowPath(const std::string&) override {}
    void SetProgressRange(int max) override { maximum = max; }
    void SetProgress(int value) override
    {
        if (onProgress)
            onProgress(value);
    }
    void ClearMessages() override {}
    void AppendMessage(const std::string& text) override
    {
        if (onMessage)
            onMessage(text);
    }
    void ShowFailed(bool) override {}
    void ShowDeviceInfo(const SDeviceInfo& info) override { state.device = info; }
    void ClearDeviceInfo() override { state.device.reset(); }
};

inline constexpr int kEveryInput = 0;

class CSwitcher : public INotices {
public:
    // timers: the clock of every wait of the link.
    CSwitcher(ITimerService& timers, ILogPane& tx, ILogPane& rx);
    ~CSwitcher() override;
    CSwitcher(const CSwitcher&) = delete;
    CSwitcher& operator=(const CSwitcher&) = delete;

    CLinkCore& Link() { return m_link; }

    // ---- the link ----

    // A transport opened by the front end: the control mode follows it, and nothing late from
    // an earlier link can come on it.
    void AttachSerial(ITransport* serial);
    void AttachTcp(ITransport* tcp);
    // The front end closed the link.
    void Detach();
    // The other end or the system ended the link: the operation under way ends with LinkLost.
    void OnLinkLost(const std::string& why = {});
    bool Lost() const { return m_lost; }

    // ---- operations ----
    // Each starts once the line has settled, drops what the pages still owe an earlier one, and
    // ends with Done only when the switcher did it.

    // The switcher's settings and, with withSignals, its status sequence: the DVI and beep
    // queries a link sends when it opens, the General page's status, the routes, the input
    // EDIDs. What it reads is emptied first, so a repeated reading shows only what the switcher
    // answered.
    SOperation ReadSettings(bool withSignals);
    static unsigned ReadSettingsWorstMs(bool withSignals);
    // The route queries of the opening Matrix page: output 1, then output 2.
    SOperation ReadRoutes();
    // The EDID page's Status: input 1 to 4, each query repeated once after 3 s.
    SOperation ReadEdidNames();
    // The device information the FW Upgrade page asks for when it opens.
    SOperation ReadDevice();
    // A route, the beeper (beep) or DVI compatibility: set, then read again; done when the
    // reading shows it. answered: called once the switcher acknowledged the set, before the
    // reading (the state shows what the acknowledgement reported).
    SOperation Route(int output, int input, std::function<void()> answered = {});
    SOperation Switch(bool beep, bool on, std::function<void()> answered = {});
    // An EDID to an input (1 to 4) or to every input (kEveryInput): a built-in one, the EDID of
    // a display on an output (1 or 2), a file's checked bytes (name for messages). A preset is
    // done when each input set reports it; a copy or a file, which a reading names as "Default
    // EDID", when acknowledged and no input set reports a preset any more.
    SOperation EdidPreset(int input, SBuiltInEdid edid);
    SOperation EdidCopy(int input, int output);
    SOperation EdidFile(int input, std::string name, std::vector<uint8_t> data);
    // The firmware page's loaded file to the switcher; done when the switcher came back from its
    // reboot with it (the page's reboot check).
    SOperation FirmwareUpgrade();
    // The five reset steps; done when the beeper, DVI compatibility and the routes can be read
    // again afterwards (the state shows them).
    SOperation FactoryReset();
    // A front end's own wait on the switcher's clock (an interval between readings, a search's
    // answers): ends when until() holds, or with the link.
    SOperation Wait(std::function<bool()> until);

    // Starts an operation; then is called once with its result, from the event loop. Only one
    // operation runs at a time: a second is refused at once.
    void Start(SOperation op, std::function<void(const SResult&)> then);
    bool Busy() const { return m_op.Valid(); }
    // The wait of a front end that blocks: starts the operation and runs the pump until it ended.
    SResult Run(SOperation op);

    // ---- steps, for operations built on these (scene apply) ----

    // Waits until no late answer can come any more (see CLinkCore::Settling), then drops what
    // the pages still owe and forgets an earlier failure: what follows is a new exchange.
    CTask Begin();
    CTask SetRoute(int output, int input);
    CTask SetSwitch(bool beep, bool on);
    CTask SetEdidPreset(int input, int preset);
    CTask SetEdidFile(int input, std::string name, std::vector<uint8_t> data);
    CTask QuerySettings(bool withSignals);
    // Runs until done() holds (true), or a failure was reported, the switcher refused the frame
    // last sent, the link was lost or a stop was asked for (false).
    CTask Until(std::function<bool()> done);
    // Waits until the line has settled; a front end closing a serial line waits this out, so
    // that the next program on the line hears nothing of this one's exchanges.
    CTask Settled();
    // The same, blocking, on the pump.
    void Settle();

    // ---- the waits of a front end that blocks ----

    // Waits for the next event (a byte, a timer, a signal); set by the front end. Without one,
    // the operations are woken by the events themselves.
    void SetPump(std::function<void()> pump) { m_pump = std::move(pump); }

    // ---- failures, as a front end without windows reports them ----

    // Where the one line that reports a failure goes.
    void SetFailureReporter(std::function<void(const std::string&)> report) { m_report = std::move(report); }
    // Says what failed in words, with what was already done; the first failure only counts.
    void Fail(const std::string& what, EOutcome outcome = EOutcome::Refused);
    bool Failed() const { return m_failed; }
    // What ended the operation: Done while nothing failed and no stop came.
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
    // A set the switcher answered but a reading shows otherwise: what the reading shows.
    const std::string& NotDone() const { return m_notDone; }
    void SayNotDone(std::string words) { m_notDone = std::move(words); }

    // INotices: a message is a failure, a question gets the answer set above, the busy
    // indicator's text is kept.
    void ShowMessage(const std::string& text, std::function<void()> then) override;
    void ShowTimeOut(std::function<void()> then) override;
    void AskMessage(const std::string& text, std::function<void(int)> then) override;
    void OpenStatus(const std::string& text) override { m_status = text; }
    void FinishStatus(const std::string& text) override { m_status = text; }
    void CloseStatus() override {}

    // ---- what the readings and the pages have shown so far ----

    const SSwitcherState& State() const { return state; }
    // The values the switcher last answered the route and EDID queries with, as sent (-1: none),
    // so that a value outside the range is named instead of shown as no answer.
    std::array<int, 2> routeAnswers{-1, -1};
    std::array<int, 4> edidAnswers{-1, -1, -1, -1};

private:
    // A step waits here; an event that may end the wait wakes it.
    struct SWake {
        CSwitcher& sw;
        std::function<bool()> over;
        bool await_ready() const { return over(); }
        void await_suspend(std::coroutine_handle<> h)
        {
            sw.m_waiting = h;
            sw.m_over = &over;
        }
        void await_resume()
        {
            sw.m_waiting = {};
            sw.m_over = nullptr;
        }
    };
    void OnReply(uint8_t page, const Frame& frame);
    void OnTimer(unsigned id);
    // An event happened: the waiting step goes on where its wait is over (at once from the
    // front end's pump, else from the event loop once the event's handler has returned).
    void Wake();
    void Poke();
    SResult ResultOf(bool ok) const;
    void FailLost();  // the loss, with its reason

    CTask Query(Frame query, std::function<bool()> answered);
    CTask AwaitSet(std::function<bool()> answered);
    CTask QueryRoutes();
    CTask QueryEdidNames();
    CTask QueryDevice();
    CTask ConfirmRoute(int output, int input);
    CTask ConfirmSwitch(bool beep, bool on);
    // After an EDID set: the page's own reading of the inputs it set, then the input list once
    // more where it left a name unread; every input set must report the name expected.
    CTask ConfirmEdid(int input, std::string expected);
    // Until the page's exchange ended (the gate free again); false at once when it did not start.
    CTask UntilReady();
    // The DVI, then the beep status query.
    CTask QuerySwitches();
    int EdidTarget(int input);
    // What the readings just made show: false after saying what is wrong.
    bool RoutesReported();
    bool EdidsReported();
    bool EdidsShow(int input, const std::string& expected);
    CTask RouteOp(int output, int input);
    CTask SwitchOp(bool beep, bool on);
    CTask EdidPresetOp(int input, SBuiltInEdid edid);
    CTask EdidCopyOp(int input, int output);
    CTask EdidFileOp(int input, std::string name, std::vector<uint8_t> data);
    CTask FirmwareOp();
    CTask ResetOp();
    CTask Sequence(CTask first, CTask second);

    CObservedTimers m_observed;  // every timer of the link wakes the waiting step
    CLinkCore m_link;

public:
    SSwitcherState state;
    SGeneralView generalView{state};
    CGeneralPage general;
    SMatrixView matrixView{state};
    CMatrixPage matrix;
    SEdidView edidView{state};
    CEdidPage edid;
    SFirmwareView firmwareView{state};
    CFirmwarePage firmware;

private:
    std::unique_ptr<CTimerOwner> m_waits;  // the single-set wait
    std::unique_ptr<CRetryStep> m_query;
    CTimerOwner m_wake;
    CTask m_op;
    std::function<void(const SResult&)> m_then;
    std::coroutine_handle<> m_waiting;
    const std::function<bool()>* m_over = nullptr;
    std::function<void()> m_pump;
    std::function<void()> m_answered;  // of the route or switch operation made last
    std::function<void(const std::string&)> m_report;
    std::function<std::string()> m_doneSoFar, m_timeoutSubject;
    std::string m_status, m_lostWhy, m_failure, m_notDone;
    int m_answer = IDCANCEL;
    bool m_failed = false;
    EOutcome m_outcome = EOutcome::Done;
    bool m_lost = false;
    const volatile std::sig_atomic_t* m_stop = nullptr;
    CStopGuard m_stopGuard;
};

}  // namespace corvane
