#include "core/switcher/switcher.h"

#include "core/link/queries.h"

namespace corvane {

namespace {
enum : unsigned { TIMER_SET_TIMEOUT = 3, TIMER_WAKE = 4 };
constexpr int kLastEdidIndex = 0x12;  // 0..14 presets, 15 default, 16/17 output A/B, 18 a file
// Exchanges of each reading: the two route queries, the four EDID queries, the device chain.
constexpr unsigned kRouteQueries = 2, kEdidQueries = 4, kDeviceQueries = 4;
// The firmware transfer's exchanges before the packets (upgrade request, erase, ready, request
// 0x80), and the reboot checks after them.
constexpr unsigned kFirmwareOpening = 4, kRebootChecks = 6;

unsigned Worst(unsigned exchanges) { return kSettleWorstMs + exchanges * kExchangeWorstMs; }
}  // namespace

void SGeneralView::WriteDeviceInfo(const SSignalLine& line)
{
    if (line.output && line.number >= 1 && line.number <= 2)
        state.outputs[line.number - 1] = line;
    else if (!line.output && line.number >= 1 && line.number <= 4)
        state.inputs[line.number - 1] = line;
}

int SEdidView::Selection(EdidList list) const
{
    switch (list) {
    case EdidList::Preset: return preset;
    case EdidList::PresetTarget: return presetTarget;
    case EdidList::CopySource: return copySource;
    case EdidList::CopyTarget: return copyTarget;
    case EdidList::FileTarget: return fileTarget;
    }
    return -1;
}

CSwitcher::CSwitcher(ITimerService& timers, ILogPane& tx, ILogPane& rx)
    : m_observed(timers, [this] { Wake(); }), m_link(m_observed, *this, tx, rx), general(m_link, generalView),
      matrix(m_link, matrixView), edid(m_link, edidView), firmware(m_link, firmwareView),
      m_wake(timers, [this](unsigned) { Poke(); }), m_stopGuard(m_observed)
{
    m_waits = std::make_unique<CTimerOwner>(m_observed, [this](unsigned id) { OnTimer(id); });
    m_query = std::make_unique<CRetryStep>(m_observed, [this] { m_link.SendFrame(kFrameSize, m_link.CommandFrame.data()); },
                                           [this] {
                                               m_link.NoteTimedOut();
                                               ShowTimeOut({});
                                           });
    for (uint8_t page : {PAGE_GENERAL, PAGE_EDID, PAGE_MATRIX, PAGE_FIRMWARE})
        m_link.SetPageHandler(page, [this, page](const Frame& f) { OnReply(page, f); });
    // A command that failed or was stopped starts nothing more: no chain goes on after its
    // "Time out!", whatever late answer comes.
    m_link.SetMaySend([this](std::span<const uint8_t> out) { return m_stopGuard.MaySend(out, Stopped() || m_failed); });
    // Abandoned exchanges end in the pages, silently.
    m_link.SetLinkLostHandler([this] {
        bool busy = general.OnLinkLost();
        busy = matrix.OnLinkLost() || busy;
        busy = edid.OnLinkLost() || busy;
        return firmware.OnLinkLost() || busy;
    });
}

CSwitcher::~CSwitcher()
{
    m_op = CTask();
    m_waiting = {};
    m_query.reset();
    m_waits.reset();
}

// ---- the link ----

void CSwitcher::AttachSerial(ITransport* serial)
{
    m_link.SetTransports(serial, nullptr);
    m_link.ResetLate();
    m_link.nControlMode = MODE_COM;
    m_link.bComOpen = true;
    m_lost = false;
}

void CSwitcher::AttachTcp(ITransport* tcp)
{
    m_link.SetTransports(nullptr, tcp);
    m_link.ResetLate();
    m_link.nControlMode = MODE_TCP;
    m_link.bTcpConnected = true;
    m_lost = false;
}

void CSwitcher::Detach()
{
    m_link.SetTransports(nullptr, nullptr);
    m_link.bComOpen = false;
    m_link.bTcpConnected = false;
}

void CSwitcher::OnLinkLost(const std::string& why)
{
    if (m_lost)
        return;
    m_lost = true;
    m_lostWhy = why;
    m_query->Stop();
    m_waits->KillTimer(TIMER_SET_TIMEOUT);
    Detach();
    Wake();
}

// ---- running operations ----

void CSwitcher::Wake()
{
    if (!m_pump && m_waiting)  // a pump's loop looks after each event itself
        m_wake.SetTimer(TIMER_WAKE, 0);
}

void CSwitcher::Poke()
{
    m_wake.KillTimer(TIMER_WAKE);
    if (m_waiting && m_over && (*m_over)())
        std::exchange(m_waiting, {}).resume();
    if (m_op.Finished()) {
        const SResult result = ResultOf(m_op.Value());
        m_op = CTask();
        if (auto then = std::exchange(m_then, nullptr))
            then(result);
    }
}

SResult CSwitcher::ResultOf(bool ok) const
{
    if (ok)
        return {};
    if (Stopped() && !m_failed)
        return {EOutcome::Stopped, "stopped"};
    if (m_failed)
        return {m_outcome, m_failure};
    if (!m_notDone.empty())
        return {EOutcome::Refused, m_notDone};
    return {EOutcome::Refused, "the switcher did not do it"};
}

void CSwitcher::Start(SOperation op, std::function<void(const SResult&)> then)
{
    if (m_op.Valid()) {
        if (then)
            then({EOutcome::Refused, "another operation is under way"});
        return;
    }
    m_op = std::move(op.task);
    m_then = std::move(then);
    m_op.Start();
    Poke();
}

SResult CSwitcher::Run(SOperation op)
{
    std::optional<SResult> result;
    Start(std::move(op), [&result](const SResult& r) { result = r; });
    while (!result && m_pump) {
        m_pump();
        Poke();
    }
    if (!result) {  // nothing to wait with: the operation cannot go on
        m_op = CTask();
        m_waiting = {};
        return {EOutcome::Stopped, "stopped"};
    }
    return *result;
}

CTask CSwitcher::Until(std::function<bool()> done)
{
    for (;;) {
        if (done()) {
            co_return !m_failed;
        }
        if (m_failed || Stopped()) {
            co_return false;
        }
        if (m_lost) {
            FailLost();
            co_return false;
        }
        SWake wake{*this, [this, &done] { return done() || m_failed || Stopped() || m_lost; }};
        co_await wake;
    }
}

CTask CSwitcher::Settled()
{
    const auto settled = [this] {
        return m_lost || !(Stopped() ? m_stopGuard.Settling(m_link) : m_link.Settling());
    };
    while (!settled()) {
        SWake wake{*this, settled};
        co_await wake;
    }
    co_return true;
}

void CSwitcher::Settle()
{
    if (!m_pump)
        return;
    // Not an operation: it may follow one that failed or stopped, and keeps what that left.
    CTask wait = Settled();
    wait.Start();
    while (!wait.Finished()) {
        m_pump();
        if (m_waiting && m_over && (*m_over)())
            std::exchange(m_waiting, {}).resume();
    }
}

CTask CSwitcher::Begin()
{
    co_await Settled();
    if (!m_lost)
        m_link.Abandon();  // what the pages still owe an earlier exchange is dropped
    m_failed = false;
    m_outcome = EOutcome::Done;
    m_failure.clear();
    m_notDone.clear();
    if (m_lost) {  // said once, as the loss, not as a page's "Open COM failed!"
        FailLost();
    }
    co_return true;
}

CTask CSwitcher::Sequence(CTask first, CTask second)
{
    const bool ok = co_await first;
    if (!ok) {
        co_return false;
    }
    co_return co_await second;
}

SOperation CSwitcher::Wait(std::function<bool()> until) { return {Until(std::move(until)), 0}; }

// ---- replies, timers, notices ----

void CSwitcher::OnReply(uint8_t page, const Frame& r)
{
    // No page accepts a refusal; waiting out the page's timer would only delay the same
    // failure. The frame itself is on the trace.
    if (IsRefusal(r, m_link.CommandFrame)) {
        Fail("the switcher refused " + (m_timeoutSubject ? m_timeoutSubject() : CommandText(m_link.CommandFrame)),
             EOutcome::Refused);
        Wake();
        return;
    }
    switch (page) {
    case PAGE_GENERAL: general.OnGeneralReply(r); break;
    case PAGE_MATRIX:
        if (r[2] == GROUP_ROUTE && r[3] == ROUTE_QUERY && r[4] >= 1 && r[4] <= 2)
            routeAnswers[r[4] - 1] = r[6];
        matrix.OnRoutingReply(r);
        break;
    case PAGE_EDID:
        if (r[2] == 0x01 && r[3] == STATUS_DVI_EDID && r[4] >= 1 && r[4] <= 4)
            edidAnswers[r[4] - 1] = r[6];
        edid.OnEdidReply(r);
        break;
    case PAGE_FIRMWARE: firmware.OnFirmwareReply(r); break;
    default: break;
    }
    Wake();
}

void CSwitcher::OnTimer(unsigned id)
{
    m_waits->KillTimer(id);
    m_link.NoteTimedOut();
    ShowTimeOut({});
}

void CSwitcher::FailLost()
{
    Fail("the link to the switcher was lost" + (m_lostWhy.empty() ? "" : ": " + m_lostWhy), EOutcome::LinkLost);
}

void CSwitcher::Fail(const std::string& what, EOutcome outcome)
{
    if (m_failed || Stopped())  // what a stop cut short is no failure of the switcher
        return;
    m_failed = true;
    m_outcome = outcome;
    std::string line = what;
    const std::string done = m_doneSoFar ? m_doneSoFar() : "";
    if (!done.empty())
        line += "; " + done;
    m_failure = line;
    if (m_report)
        m_report(line);
}

void CSwitcher::ShowMessage(const std::string& text, std::function<void()> then)
{
    Fail(text);
    if (then)
        then();
}

void CSwitcher::ShowTimeOut(std::function<void()> then)
{
    // A time-out names the exchange that went unanswered: the frame the link sent last.
    Fail("no answer to " + (m_timeoutSubject ? m_timeoutSubject() : CommandText(m_link.CommandFrame)) + " (Time out!)",
         EOutcome::TimedOut);
    if (then)
        then();
}

void CSwitcher::AskMessage(const std::string&, std::function<void(int)> then)
{
    if (then)
        then(m_answer);
}

// ---- exchanges ----

CTask CSwitcher::Query(Frame query, std::function<bool()> answered)
{
    co_await Settled();
    if (m_lost) {
        std::function<bool()> never = [] { return false; };
        co_return co_await Until(never);
    }
    m_link.CommandFrame = query;
    m_link.SetExchangeOpen(true);
    m_link.SendFrame(kFrameSize, m_link.CommandFrame.data());
    m_query->Start();
    const bool ok = co_await Until(answered);
    m_query->Stop();
    m_link.SetExchangeOpen(false);
    co_return ok;
}

CTask CSwitcher::AwaitSet(std::function<bool()> answered)
{
    m_link.SetExchangeOpen(true);
    m_waits->SetTimer(TIMER_SET_TIMEOUT, kPageTimeoutMs);
    const bool ok = co_await Until(answered);
    m_waits->KillTimer(TIMER_SET_TIMEOUT);
    m_link.SetExchangeOpen(false);
    co_return ok;
}

// ---- readings ----

CTask CSwitcher::QuerySwitches()
{
    state.beep.reset();
    state.dvi.reset();
    m_link.SetCurrentPage(PAGE_GENERAL);
    std::function<bool()> dvi = [this] { return state.dvi.has_value(); };
    std::function<bool()> beep = [this] { return state.beep.has_value(); };
    const bool ok = co_await Query(DviStatusQuery(), dvi);
    if (!ok) {
        co_return false;
    }
    co_return co_await Query(BeepStatusQuery(), beep);
}

CTask CSwitcher::QuerySettings(bool withSignals)
{
    bool ok = co_await QuerySwitches();
    if (!ok) {
        co_return false;
    }
    if (withSignals) {
        co_await Settled();
        general.OnStatus();
        ok = co_await UntilReady();
        if (!ok) {
            co_return false;
        }
    }
    ok = co_await QueryRoutes();
    if (!ok) {
        co_return false;
    }
    co_return co_await QueryEdidNames();
}

CTask CSwitcher::QueryRoutes()
{
    co_await Settled();
    m_link.SetCurrentPage(PAGE_MATRIX);
    state.routes = {0, 0};
    routeAnswers = {-1, -1};
    if (!m_link.SendOpeningQuery(PAGE_MATRIX)) {
        Fail("the route queries could not be sent: another exchange holds the link");
        co_return false;
    }
    const bool ok = co_await UntilReady();
    if (!ok) {
        co_return false;
    }
    // A value outside the switcher's range is an error, never a route.
    co_return RoutesReported();
}

CTask CSwitcher::QueryEdidNames()
{
    co_await Settled();
    m_link.SetCurrentPage(PAGE_EDID);
    state.edids = {};
    edidAnswers = {-1, -1, -1, -1};
    if (!m_link.bReady) {
        Fail("the EDID queries could not be sent: another exchange holds the link");
        co_return false;
    }
    edid.OnStatus();
    const bool ok = co_await UntilReady();
    if (!ok) {
        co_return false;
    }
    // The EDIDs a switcher can report: the presets, the default, a display's copy, a file.
    co_return EdidsReported();
}

CTask CSwitcher::QueryDevice()
{
    co_await Settled();
    m_link.SetCurrentPage(PAGE_FIRMWARE);
    state.device.reset();
    firmware.SetDeviceGuard(true);
    firmware.QueryDevice();
    if (m_failed) {
        co_return false;
    }
    std::function<bool()> read = [this] { return state.device.has_value(); };
    co_return co_await Until(read);
}

bool CSwitcher::RoutesReported()
{
    for (int o = 1; o <= 2; ++o)
        if (state.routes[o - 1] == 0) {
            Fail(routeAnswers[o - 1] < 0 ? "the switcher did not report the route of output " + std::to_string(o)
                                         : "the switcher reported input " + std::to_string(routeAnswers[o - 1]) +
                                               " for output " + std::to_string(o) + ", outside 1 to 4");
            return false;
        }
    return true;
}

bool CSwitcher::EdidsReported()
{
    for (int i = 1; i <= 4; ++i)
        if (edidAnswers[i - 1] > kLastEdidIndex) {
            state.edids[i - 1].reset();  // unread: the page names any number from 15 up the default
            Fail("the switcher reported EDID number " + std::to_string(edidAnswers[i - 1]) + " for input " +
                 std::to_string(i) + ", outside 0 to " + std::to_string(kLastEdidIndex));
            return false;
        }
    return true;
}

bool CSwitcher::EdidsShow(int input, const std::string& expected)
{
    for (int i = 1; i <= 4; ++i)
        if ((input == kEveryInput || input == i) && *state.edids[i - 1] != expected) {
            m_notDone = "the switcher reports \"" + *state.edids[i - 1] + "\" on IN" + std::to_string(i);
            return false;
        }
    return true;
}

unsigned CSwitcher::ReadSettingsWorstMs(bool withSignals)
{
    return Worst(2 + (withSignals ? kStatusSteps : 0) + kRouteQueries + kEdidQueries);
}

SOperation CSwitcher::ReadSettings(bool withSignals)
{
    return {Sequence(Begin(), QuerySettings(withSignals)), ReadSettingsWorstMs(withSignals)};
}

SOperation CSwitcher::ReadRoutes() { return {Sequence(Begin(), QueryRoutes()), Worst(kRouteQueries)}; }

SOperation CSwitcher::ReadEdidNames() { return {Sequence(Begin(), QueryEdidNames()), Worst(kEdidQueries)}; }

SOperation CSwitcher::ReadDevice() { return {Sequence(Begin(), QueryDevice()), Worst(kDeviceQueries)}; }

// ---- changes ----

CTask CSwitcher::SetRoute(int output, int input)
{
    co_await Settled();  // what the change shows must be its own answer
    m_link.SetCurrentPage(PAGE_MATRIX);
    matrix.OnInputButton(output, input);
    co_return co_await UntilReady();
}

CTask CSwitcher::ConfirmRoute(int output, int input)
{
    m_notDone.clear();
    const bool ok = co_await QueryRoutes();
    if (!ok) {
        co_return false;
    }
    const int shown = state.routes.at(output - 1);
    if (shown == input) {
        co_return true;
    }
    m_notDone = "the switcher shows IN " + std::to_string(shown) + " on output " + std::to_string(output);
    co_return false;
}

CTask CSwitcher::SetSwitch(bool beep, bool on)
{
    co_await Settled();
    std::optional<bool>& shown = beep ? state.beep : state.dvi;
    shown.reset();
    m_link.SetCurrentPage(PAGE_GENERAL);
    if (beep)
        general.OnBeep(on);
    else
        general.OnDvi(on);
    if (m_failed) {
        co_return false;
    }
    std::function<bool()> answered = [&shown] { return shown.has_value(); };
    co_return co_await AwaitSet(answered);
}

CTask CSwitcher::ConfirmSwitch(bool beep, bool on)
{
    m_notDone.clear();
    std::optional<bool>& shown = beep ? state.beep : state.dvi;
    shown.reset();
    m_link.SetCurrentPage(PAGE_GENERAL);
    const Frame query = beep ? BeepStatusQuery() : DviStatusQuery();
    std::function<bool()> answered = [&shown] { return shown.has_value(); };
    const bool ok = co_await Query(query, answered);
    if (!ok) {
        co_return false;
    }
    if (*shown == on) {
        co_return true;
    }
    m_notDone = std::string("the switcher reports ") + (beep ? "beep " : "DVI compatibility ") + (*shown ? "on" : "off");
    co_return false;
}

CTask CSwitcher::RouteOp(int output, int input)
{
    if (output < 1 || output > 2 || input < 1 || input > 4) {
        Fail("no such route: input " + std::to_string(input) + " to output " + std::to_string(output),
             EOutcome::BadInput);
        co_return false;
    }
    co_await Begin();
    const bool ok = co_await SetRoute(output, input);
    if (!ok) {
        co_return false;
    }
    if (auto answered = std::exchange(m_answered, nullptr))
        answered();
    co_return co_await ConfirmRoute(output, input);
}

CTask CSwitcher::SwitchOp(bool beep, bool on)
{
    co_await Begin();
    const bool ok = co_await SetSwitch(beep, on);
    if (!ok) {
        co_return false;
    }
    if (auto answered = std::exchange(m_answered, nullptr))
        answered();
    co_return co_await ConfirmSwitch(beep, on);
}

SOperation CSwitcher::Route(int output, int input, std::function<void()> answered)
{
    m_answered = std::move(answered);
    return {RouteOp(output, input), Worst(1 + kRouteQueries)};
}

SOperation CSwitcher::Switch(bool beep, bool on, std::function<void()> answered)
{
    m_answered = std::move(answered);
    return {SwitchOp(beep, on), Worst(2)};
}

// ---- EDID ----

int CSwitcher::EdidTarget(int input)
{
    m_link.SetCurrentPage(PAGE_EDID);
    for (int i = 1; i <= 4; ++i)
        if (input == kEveryInput || input == i)
            state.edids[i - 1].reset();
    return input == kEveryInput ? 4 : input - 1;
}

CTask CSwitcher::UntilReady()
{
    if (m_failed) {  // the page said why it did not start
        co_return false;
    }
    std::function<bool()> ready = [this] { return m_link.bReady; };
    co_return co_await Until(ready);
}

CTask CSwitcher::SetEdidPreset(int input, int preset)
{
    co_await Settled();  // what the change shows must be its own answer
    edidView.presetTarget = EdidTarget(input);
    edidView.preset = preset;
    edid.OnSetPreset();
    co_return co_await UntilReady();
}

CTask CSwitcher::SetEdidFile(int input, std::string name, std::vector<uint8_t> data)
{
    co_await Settled();
    const int target = EdidTarget(input);
    edidView.fileTarget = target;
    edid.SetLog([this](const std::string& line) { Fail(line); });
    SetTimeoutSubject([this, target] { return EdidStepText(m_link.CommandFrame, target); });
    if (!edid.TakeContent(name, data)) {
        // The page's log line and message say why first; either way the file is at fault, not
        // the switcher.
        Fail(name + ": not an EDID the switcher takes", EOutcome::BadInput);
        m_outcome = EOutcome::BadInput;
        co_return false;
    }
    edid.OnSetFile();
    co_return co_await UntilReady();
}

CTask CSwitcher::ConfirmEdid(int input, std::string expected)
{
    m_notDone.clear();
    std::function<bool()> readBack = [this] { return !edid.ReadBackPending() && m_link.bReady; };
    bool ok = co_await Until(readBack);
    if (!ok) {
        co_return false;
    }
    bool unread = false;
    for (int i = 1; i <= 4; ++i)
        unread = unread || ((input == kEveryInput || input == i) && !state.edids[i - 1]);
    if (unread) {
        ok = co_await QueryEdidNames();
        if (!ok) {
            co_return false;
        }
    }
    co_return EdidsShow(input, expected);
}

CTask CSwitcher::EdidPresetOp(int input, SBuiltInEdid e)
{
    co_await Begin();
    const bool ok = co_await SetEdidPreset(input, e.position);
    if (!ok) {
        co_return false;
    }
    // The default for one input is a preset, and the switcher names it so from now on.
    std::string expected = input == kEveryInput ? e.Name() : e.NameOnOneInput();
    co_return co_await ConfirmEdid(input, std::move(expected));
}

CTask CSwitcher::EdidCopyOp(int input, int output)
{
    co_await Begin();
    edidView.copyTarget = EdidTarget(input);
    edidView.copySource = output - 1;
    edid.OnSetCopy();
    // A copy is no preset: a reading names it as the default.
    const bool ok = co_await UntilReady();
    if (!ok) {
        co_return false;
    }
    std::string expected = EdidListName(kDefaultEdidPosition);
    co_return co_await ConfirmEdid(input, std::move(expected));
}

CTask CSwitcher::EdidFileOp(int input, std::string name, std::vector<uint8_t> data)
{
    co_await Begin();
    const bool ok = co_await SetEdidFile(input, std::move(name), std::move(data));
    if (!ok) {
        co_return false;
    }
    std::string expected = EdidListName(kDefaultEdidPosition);
    co_return co_await ConfirmEdid(input, std::move(expected));
}

SOperation CSwitcher::EdidPreset(int input, SBuiltInEdid e) { return {EdidPresetOp(input, e), Worst(2 + kEdidQueries)}; }

SOperation CSwitcher::EdidCopy(int input, int output) { return {EdidCopyOp(input, output), Worst(2 + kEdidQueries)}; }

SOperation CSwitcher::EdidFile(int input, std::string name, std::vector<uint8_t> data)
{
    return {EdidFileOp(input, std::move(name), std::move(data)), Worst(4 + kEdidQueries)};
}

// ---- firmware, factory reset ----

CTask CSwitcher::FirmwareOp()
{
    co_await Begin();
    m_link.SetCurrentPage(PAGE_FIRMWARE);
    firmware.OnUpgrade();
    if (m_failed) {
        co_return false;
    }
    std::function<bool()> over = [this] { return firmware.CurrentStep() == CFirmwarePage::Step::Idle && m_link.bReady; };
    const bool ok = co_await Until(over);
    if (!ok) {
        co_return false;
    }
    if (firmware.UpgradeFailed()) {
        if (!m_failed)
            Fail("the upgrade failed");
        co_return false;
    }
    co_return true;
}

SOperation CSwitcher::FirmwareUpgrade()
{
    const unsigned packets = (static_cast<unsigned>(firmware.FileLength()) + kBlockDataSize - 1) / kBlockDataSize;
    const unsigned perExchange = 2 * kFwGuardMs + kFwPacingMs;
    return {FirmwareOp(), kSettleWorstMs + (kFirmwareOpening + packets) * perExchange + kRebootChecks * kFwGuardMs};
}

CTask CSwitcher::ResetOp()
{
    co_await Begin();
    m_link.SetCurrentPage(PAGE_GENERAL);
    SetAnswer(IDOK);
    general.OnFactoryReset();
    bool ok = co_await UntilReady();
    if (!ok) {
        co_return false;
    }
    // The switcher is done when it answers again with its settings: read here, instead of
    // by the page on its own a moment later.
    m_link.Abandon();
    ok = co_await QuerySwitches();
    if (!ok) {
        co_return false;
    }
    co_return co_await QueryRoutes();
}

SOperation CSwitcher::FactoryReset() { return {ResetOp(), Worst(kResetSteps + 2 + kRouteQueries)}; }

}  // namespace corvane
