#include "core/scene/scene_apply.h"

#include <algorithm>
#include <array>

#include "core/scene/json.h"

namespace corvane {

namespace {

using Setting = SSceneDifference::Setting;

// One change through the page that owns the setting. The read-back tells whether it took, but
// for an EDID file, which the switcher cannot report: false when the file was not accepted.
CTask Change(CSwitcher& sw, const SScene& scene, const SSceneDifference& d)
{
    if (d.setting == Setting::Route) {
        co_await sw.SetRoute(d.number, scene.routes[d.number - 1]);
        co_return true;
    }
    if (d.setting == Setting::Beep || d.setting == Setting::Dvi) {
        const bool beep = d.setting == Setting::Beep;
        const bool enable = beep ? scene.beep : scene.dvi;
        const bool answered = co_await sw.SetSwitch(beep, enable);
        if (answered && *(beep ? sw.state.beep : sw.state.dvi) != enable) {
            sw.Fail("the switcher reports " + d.name + " " + (enable ? "off" : "on"));
        }
        co_return true;
    }
    const SSceneEdid& e = scene.edids[d.number - 1];
    if (e.kind == SSceneEdid::Kind::File) {
        const bool accepted = co_await sw.SetEdidFile(d.number, e.file, e.data);
        co_return accepted;
    }
    co_await sw.SetEdidPreset(d.number, e.preset.position);
    co_return true;
}

// Whether a read-back reached a setting: the state holds each value it read.
bool ReadBackHas(const SSwitcherState& state, const SSceneDifference& d)
{
    switch (d.setting) {
    case Setting::Route: return state.routes[d.number - 1] != 0;
    case Setting::Beep: return state.beep.has_value();
    case Setting::Dvi: return state.dvi.has_value();
    case Setting::Edid: return state.edids[d.number - 1].has_value();
    }
    return false;
}

bool SameSetting(const SSceneDifference& a, const SSceneDifference& b)
{
    return a.setting == b.setting && a.number == b.number;
}

// "a", "a and b", "a, b and c".
std::string ListText(const std::vector<std::string>& names)
{
    std::string text;
    for (std::size_t k = 0; k < names.size(); ++k)
        text += (k == 0 ? "" : k + 1 == names.size() ? " and " : ", ") + names[k];
    return text;
}

}  // namespace

bool SSceneApply::Matches() const
{
    return stage == Stage::Done && complete && notTaken.empty() && unread.empty() && (!dryRun || changes.empty());
}

std::vector<std::string> SSceneApply::PlanLines() const
{
    std::vector<std::string> lines;
    for (const auto& d : changes)
        lines.push_back(d.Line(dryRun));
    for (const auto& [name, shown] : leftAlone)
        lines.push_back(name + ": left as it is (unknown in the scene; the switcher shows " + shown + ")");
    return lines;
}

std::vector<std::string> SSceneApply::Problems() const
{
    std::vector<std::string> lines;
    for (const auto& n : notTaken)
        lines.push_back(n.setting.name + " did not take: " + n.why + ", the scene says " + n.setting.to);
    if (!unread.empty()) {
        std::vector<std::string> names;
        for (const auto& d : unread)
            names.push_back(d.name);
        lines.push_back("the switcher could not be read back for " + ListText(names) +
                        (unread.size() == 1 ? ": it was set, but whether it took is not known"
                                            : ": they were set, but whether they took is not known"));
    } else if (!complete) {
        lines.push_back("the switcher could not be read back for " + ListText(unreadAll) +
                        "; whether it still matches the scene there is not known");
    }
    return lines;
}

std::string SSceneApply::Json() const
{
    const auto flag = [](bool b) { return b ? "true" : "false"; };
    std::string j = "{\"changes\":[";
    for (std::size_t k = 0; k < changes.size(); ++k)
        j += std::string(k ? "," : "") + "{\"setting\":" + JsonString(changes[k].name) +
             ",\"from\":" + (changes[k].fromUnknown ? "null" : JsonString(changes[k].from)) +
             ",\"to\":" + JsonString(changes[k].to) + "}";
    j += "],\"left_alone\":[";
    for (std::size_t k = 0; k < leftAlone.size(); ++k)
        j += std::string(k ? "," : "") + "{\"setting\":" + JsonString(leftAlone[k].first) +
             ",\"switcher\":" + JsonString(leftAlone[k].second) + "}";
    j += std::string("],\"dry_run\":") + flag(dryRun) + ",\"matches\":" + flag(Matches()) + ",\"mismatches\":[";
    for (std::size_t k = 0; k < notTaken.size(); ++k)
        j += std::string(k ? "," : "") + "{\"setting\":" + JsonString(notTaken[k].setting.name) +
             ",\"switcher\":" + JsonString(notTaken[k].setting.from) +
             ",\"scene\":" + JsonString(notTaken[k].setting.to) + ",\"why\":" + JsonString(notTaken[k].why) + "}";
    j += "],\"not_read_back\":[";
    for (std::size_t k = 0; k < unread.size(); ++k)
        j += std::string(k ? "," : "") + JsonString(unread[k].name);
    return j + "]}";
}

namespace {

CTask Apply(CSwitcher& sw, SScene scene, bool dryRun, SSceneApply& result,
            std::function<void(const SSceneApply&)> planned)
{
    result = SSceneApply{};
    result.dryRun = dryRun;
    result.stage = SSceneApply::Stage::NotRead;
    co_await sw.Begin();
    const bool read = co_await sw.QuerySettings(false);
    if (!read) {
        co_return false;
    }
    result.stage = SSceneApply::Stage::Done;
    const SSwitcherState before = sw.State();
    result.changes = SceneChanges(scene, before);
    // The inputs the scene does not know: apply never touches them, and says so.
    for (int i = 1; i <= 4; ++i)
        if (scene.edids[i - 1].kind == SSceneEdid::Kind::Unknown)
            result.leftAlone.emplace_back("EDID IN" + std::to_string(i), before.edids[i - 1].value_or(""));
    if (planned)
        planned(result);
    if (dryRun || result.changes.empty()) {
        co_return true;
    }

    const std::vector<SSceneDifference>& changes = result.changes;
    std::vector<const SSceneDifference*> filesNotAccepted;
    std::size_t tried = 0;
    for (const auto& d : changes) {
        // A stop ends the apply between two changes; the one under way was tried.
        if ((result.stopped = sw.Stopped()) || sw.Lost())
            break;
        co_await sw.Begin();  // a step that failed leaves nothing behind for this one
        ++tried;
        const bool accepted = co_await Change(sw, scene, d);
        if (!accepted && !sw.Stopped())
            filesNotAccepted.push_back(&d);
    }
    result.stopped = result.stopped || sw.Stopped();
    for (std::size_t k = tried; k < changes.size(); ++k)
        result.notTaken.push_back({changes[k], result.stopped ? "it was not tried, the apply was stopped"
                                                              : "it was not tried, the link was lost"});
    SSwitcherState after;  // read again from nothing: what the reading did not reach stays empty
    if (!result.stopped && !sw.Lost()) {
        co_await sw.Begin();
        sw.state = SSwitcherState{};
        co_await sw.QuerySettings(false);
        after = sw.state;
    }
    for (const auto& d : SceneMismatches(scene, after))
        if (ReadBackHas(after, d))
            result.notTaken.push_back({d, "the switcher shows " + d.from});
    for (const SSceneDifference* d : filesNotAccepted)
        if (std::none_of(result.notTaken.begin(), result.notTaken.end(),
                         [&](const SSceneNotTaken& n) { return SameSetting(n.setting, *d); }))
            result.notTaken.push_back({*d, "the switcher did not accept the file"});
    for (std::size_t k = 0; k < tried; ++k)
        if (const auto& d = changes[k];
            !ReadBackHas(after, d) &&
            std::none_of(filesNotAccepted.begin(), filesNotAccepted.end(), [&](const SSceneDifference* f) { return f == &d; }))
            result.unread.push_back(d);
    const std::array<std::pair<bool, const char*>, 8> all = {
        {{after.routes[0] != 0, "output 1"}, {after.routes[1] != 0, "output 2"}, {after.beep.has_value(), "beep"},
         {after.dvi.has_value(), "DVI compatibility"}, {after.edids[0].has_value(), "EDID IN1"},
         {after.edids[1].has_value(), "EDID IN2"}, {after.edids[2].has_value(), "EDID IN3"},
         {after.edids[3].has_value(), "EDID IN4"}}};
    for (const auto& [had, name] : all)
        if (!had)
            result.unreadAll.push_back(name);
    result.complete = result.unreadAll.empty();
    if (result.Matches()) {
        co_return true;
    }
    std::string words;
    for (const std::string& line : result.Problems())
        words += (words.empty() ? "" : "; ") + line;
    sw.SayNotDone(words.empty() ? "the switcher does not match the scene" : words);
    co_return false;
}

}  // namespace

SOperation ApplyScene(CSwitcher& sw, SScene scene, bool dryRun, SSceneApply& result,
                      std::function<void(const SSceneApply&)> planned)
{
    // A reading, each change with its settling line, and the reading back.
    const unsigned changes = 4 + 2 + 2;
    const unsigned worst = 2 * CSwitcher::ReadSettingsWorstMs(false) + changes * (kSettleWorstMs + 4 * kExchangeWorstMs);
    return {Apply(sw, std::move(scene), dryRun, result, std::move(planned)), worst};
}

}  // namespace corvane
