#include "mqtt/switcher_link.h"

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <mutex>

#include "core/link/link_state.h"
#include "core/link/queries.h"
#include "core/scene/scene_apply.h"
#include "transport/linked_switcher.h"

namespace corvane::mqtt {

namespace {

// The switcher's failure lines start with the program's name; the bridge reports them without it.
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

void WriteErrorLine(const std::string& line)
{
    static std::mutex lock;
    std::lock_guard hold(lock);
    std::cerr << line << '\n' << std::flush;
}

CSwitcherLink::CLines::int_type CSwitcherLink::CLines::overflow(int_type c)
{
    if (traits_type::eq_int_type(c, traits_type::eof()))
        return traits_type::not_eof(c);
    if (c != '\n') {
        m_line += traits_type::to_char_type(c);
        return c;
    }
    // Traced frames are for the operator watching, as corvanectl --trace shows them.
    if (m_line.rfind("TX ", 0) == 0 || m_line.rfind("RX ", 0) == 0)
        WriteErrorLine(m_line);
    else
        m_kept += m_line + '\n';
    m_line.clear();
    return c;
}

std::vector<SPreset> ReadPresets(const std::string& dir, std::vector<std::string>& problems)
{
    std::vector<SPreset> presets;
    std::error_code ec;
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
        if (entry.path().extension() == ".json")  // ".json" alone is a name without extension
            names.push_back(entry.path().stem().string());
    }
    if (ec) {
        problems.push_back(dir + ": " + ec.message());
        return presets;
    }
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        const std::string path = dir + "/" + name + ".json";
        std::string why;
        auto scene = ReadSceneFile(path, why);
        if (!scene) {
            problems.push_back(path + ": " + why);
            continue;
        }
        presets.push_back({name, std::make_shared<const SScene>(std::move(*scene))});
    }
    return presets;
}

SPublishedState PublishedState(const SSwitcherState& v)
{
    SPublishedState state;
    for (int i = 0; i < 4; ++i)
        state.inputSignal[i] = v.inputs[i] && v.inputs[i]->connected;
    for (int o = 0; o < 2; ++o)
        state.outputSignal[o] = v.outputs[o] && v.outputs[o]->connected;
    state.routes = v.routes;
    state.beep = v.beep.value_or(false);
    state.dvi = v.dvi.value_or(false);
    for (int i = 0; i < 4; ++i)
        state.edids[i] = v.edids[i].value_or("");
    if (!v.device)
        return state;
    const SDeviceInfo& d = *v.device;
    state.device = d.Line();
    state.model = d.TypeName() + " " + d.Size();
    state.version = d.Version() + (d.build.empty() ? "" : "-" + d.build);
    return state;
}

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
    m_lines.Clear();
    auto run = std::make_unique<CLinkedSwitcher>(m_err, Connection(), DefaultPortPaths(), "corvane-mqtt");
    if (run->Open() != kExitOk) {
        error = FailureText(m_lines.Kept());
        return false;
    }
    run->SetStop(m_stop);
    m_run = std::move(run);
    return true;
}

void CSwitcherLink::Close() { m_run.reset(); }

bool CSwitcherLink::Failed(std::string& error)
{
    error = FailureText(m_lines.Kept());
    if (error.empty())
        error = m_run && m_run->Outcome() == EOutcome::Stopped ? "stopped" : "the switcher did not answer";
    Close();
    return false;
}

bool CSwitcherLink::Read(SPublishedState& state, const std::vector<SPreset>& presets, std::string& error)
{
    if (!Open(error))
        return false;
    m_lines.Clear();
    CLinkedSwitcher& run = *m_run;
    if (!run.Run(run.ReadSettings(true)).Ok() || !run.Run(run.ReadDevice()).Ok())
        return Failed(error);
    const SSwitcherState& v = run.State();
    state = PublishedState(v);
    for (const SPreset& p : presets) {
        if (SceneMismatches(*p.scene, v).empty()) {
            state.preset = p.name;
            break;
        }
    }
    return true;
}

SOutcome CSwitcherLink::Apply(const SCommand& command, SPublishedState& state, const std::function<void()>& answered)
{
    if (command.kind == SCommand::Kind::Refresh)
        return {true, {}, {}};
    SOutcome outcome;
    if (!Open(outcome.error))
        return outcome;
    m_lines.Clear();
    if (command.kind == SCommand::Kind::Scene || command.kind == SCommand::Kind::Preset)
        return command.scene ? ApplyScene(*command.scene) : SOutcome{false, "no scene", {}};
    outcome = ApplyOnLink(command, state, answered);
    if (!outcome.ok && !m_run->Failed())
        return outcome;  // the switcher answered, with another value than asked for
    if (!outcome.ok)
        Failed(outcome.error);
    return outcome;
}

SOutcome CSwitcherLink::ApplyOnLink(const SCommand& c, SPublishedState& state, const std::function<void()>& answered)
{
    using K = SCommand::Kind;
    CLinkedSwitcher& run = *m_run;
    // What the switcher answered is published at once; the reading that follows decides.
    const auto published = [&]() -> SOutcome {
        state.routes = {run.state.routes[0] ? run.state.routes[0] : state.routes[0],
                        run.state.routes[1] ? run.state.routes[1] : state.routes[1]};
        if (run.state.beep)
            state.beep = *run.state.beep;
        if (run.state.dvi)
            state.dvi = *run.state.dvi;
        for (int i = 0; i < 4; ++i)
            if (run.state.edids[i])
                state.edids[i] = *run.state.edids[i];
        return {run.NotDone().empty(), run.NotDone(), {}};
    };
    const auto answer = [&] {
        published();
        answered();
    };
    SResult result;
    switch (c.kind) {
    case K::Route: result = run.Run(run.Route(c.number, c.value, answer)); break;
    case K::Beep:
    case K::Dvi: result = run.Run(run.Switch(c.kind == K::Beep, c.on, answer)); break;
    // "Default EDID" to one input is a preset there, and the input reports that preset.
    case K::EdidPreset: result = run.Run(run.EdidPreset(c.number, c.edid)); break;
    case K::Scene:
    case K::Preset:
    case K::Refresh: return {true, {}, {}};
    }
    if (!result.Ok() && run.NotDone().empty())
        return {};
    return published();
}

SOutcome CSwitcherLink::ApplyScene(const SScene& scene)
{
    SSceneApply result;
    m_run->Run(corvane::ApplyScene(*m_run, scene, false, result));
    SOutcome outcome;
    outcome.ok = result.Matches();
    if (result.stage == SSceneApply::Stage::Done)
        outcome.detail = result.Json();
    std::string lines = m_lines.Kept();
    for (const std::string& line : result.Problems())
        lines += line + '\n';
    outcome.error = FailureText(lines);
    if (!outcome.ok && outcome.error.empty())
        outcome.error = "the switcher does not match the scene";
    if (m_run->Lost() || m_run->Stopped())
        Close();
    return outcome;
}

}  // namespace corvane::mqtt
