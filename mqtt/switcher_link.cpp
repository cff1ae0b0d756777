#include "mqtt/switcher_link.h"


#include "core/scene/scene_apply.h"
#include "transport/session.h"
#include "core/link/link_state.h"
#include "core/link/queries.h"

namespace corvane::mqtt {

namespace {

// The session's lines start with the program's name; the bridge reports them without it.
std::string FailureText(const std::string& lines)
{
    std::string text;
    std::istringstream in(lines);
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("corvane-mqtt: ", 0) == 0)
            line.erase(0, 14);
        if (line.empty())
            continue;
        text += (text.empty() ? "" : "; ") + line;
    }
    return text;
}

}  // namespace

CSwitcherLink::CSwitcherLink(SLinkAddress address) : m_address(std::move(address)) {}

SConnection CSwitcherLink::Connection() const
{
    SConnection connection;
    connection.port = m_address.port;
    connection.host = m_address.host;
    connection.trace = m_address.trace;
    return connection;
}

CSwitcherLink::~CSwitcherLink() { Close(); }

bool CSwitcherLink::Open(std::string& error)
{
    if (m_run)
        return true;
    m_err.str("");
    auto run = std::make_unique<SLinkRun>(m_err, Connection(), "corvane-mqtt");
    if (run->session.Open() != kExitOk) {
        error = FailureText(m_err.str());
        return false;
    }
    run->session.SetStop(m_stop);
    m_run = std::move(run);
    return true;
}

void CSwitcherLink::Close() { m_run.reset(); }

bool CSwitcherLink::Failed(std::string& error)
{
    error = FailureText(m_err.str());
    if (error.empty())
        error = m_run && m_run->session.Outcome() == EOutcome::Stopped ? "stopped" : "the switcher did not answer";
    Close();
    return false;
}

bool CSwitcherLink::Read(SPublishedState& state, std::string& error)
{
    if (!Open(error))
        return false;
    m_err.str("");
    SLinkRun& run = *m_run;
    if (!run.QuerySettings(true) || !run.QueryDevice())
        return Failed(error);
    const SSwitcherState& v = run.State();
    for (int i = 0; i < 4; ++i)
        state.inputSignal[i] = v.inputs[i] && v.inputs[i]->connected;
    for (int o = 0; o < 2; ++o)
        state.outputSignal[o] = v.outputs[o] && v.outputs[o]->connected;
    state.routes = v.routes;
    state.beep = v.beep.value_or(false);
    state.dvi = v.dvi.value_or(false);
    for (int i = 0; i < 4; ++i)
        state.edids[i] = v.edids[i].value_or("");
    const SDeviceInfo& d = *v.device;
    state.device = d.Line();
    state.model = d.TypeName() + " " + d.Size();
    state.version = d.Version() + (d.build.empty() ? "" : "-" + d.build);
    return true;
}

SOutcome CSwitcherLink::Apply(const SCommand& command, SPublishedState& state, const std::function<void()>& answered)
{
    if (command.kind == SCommand::Kind::Scene)
        return command.scene ? ApplyScene(*command.scene) : SOutcome{false, "no scene", {}};
    if (command.kind == SCommand::Kind::Refresh)
        return {true, {}, {}};
    SOutcome outcome;
    if (!Open(outcome.error))
        return outcome;
    m_err.str("");
    outcome = ApplyOnLink(command, state, answered);
    if (!outcome.ok && !m_run->session.Failed())
        return outcome;  // the switcher answered, with another value than asked for
    if (!outcome.ok)
        Failed(outcome.error);
    return outcome;
}

SOutcome CSwitcherLink::ApplyOnLink(const SCommand& c, SPublishedState& state, const std::function<void()>& answered)
{
    using K = SCommand::Kind;
    SLinkRun& run = *m_run;
    switch (c.kind) {
    case K::Route: {
        if (!run.SetRoute(c.number, c.value))
            return {};
        state.routes[c.number - 1] = run.state.routes[c.number - 1];
        answered();
        if (!run.ConfirmRoute(c.number, c.value) && run.NotDone().empty())
            return {};
        state.routes = run.state.routes;
        return {run.NotDone().empty(), run.NotDone(), {}};
    }
    case K::Beep:
    case K::Dvi: {
        const bool beep = c.kind == K::Beep;
        std::optional<bool>& shown = beep ? run.state.beep : run.state.dvi;
        bool& mine = beep ? state.beep : state.dvi;
        if (!run.SetSwitch(beep, c.on))
            return {};
        mine = *shown;
        answered();
        if (!run.ConfirmSwitch(beep, c.on) && run.NotDone().empty())
            return {};
        mine = *shown;
        return {run.NotDone().empty(), run.NotDone(), {}};
    }
    case K::EdidPreset: {
        std::optional<std::string>& name = run.state.edids[c.number - 1];
        // "Default EDID" to one input is a preset there, and the input reports that preset.
        if (!run.SetEdidPreset(c.number, c.edid.position) ||
            (!run.ConfirmEdidPreset(c.number, c.edid.NameOnOneInput()) && run.NotDone().empty()))
            return {};
        state.edids[c.number - 1] = name.value_or("");
        return {run.NotDone().empty(), run.NotDone(), {}};
    }
    case K::Scene:
    case K::Refresh: break;
    }
    return {true, {}, {}};
}

SOutcome CSwitcherLink::ApplyScene(const SScene& scene)
{
    // Scene apply opens links of its own (a fresh one after a step that failed), and the
    // program's link state and timers serve one session at a time.
    Close();
    m_err.str("");
    const auto open = [this]() -> std::unique_ptr<CSwitcherReader> {
        auto run = std::make_unique<SLinkRun>(m_err, Connection(), "corvane-mqtt");
        if (run->session.Open() != kExitOk)
            return nullptr;
        run->session.SetStop(m_stop);
        return run;
    };
    const SSceneApply result = corvane::ApplyScene(scene, open, false);
    SOutcome outcome;
    outcome.ok = result.Matches();
    if (result.stage == SSceneApply::Stage::Done)
        outcome.detail = result.Json();
    std::string lines = m_err.str();
    for (const std::string& line : result.Problems())
        lines += line + '\n';
    outcome.error = FailureText(lines);
    if (!outcome.ok && outcome.error.empty())
        outcome.error = "the switcher does not match the scene";
    return outcome;
}

}  // namespace corvane::mqtt
