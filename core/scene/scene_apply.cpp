#include "core/scene/scene_apply.h"

#include <algorithm>
#include <array>

#include "core/scene/json.h"

namespace corvane {

namespace {

using Setting = SSceneDifference::Setting;

// One change through the page that owns the setting. The read-back tells whether it took, but
// for an EDID file, which the switcher cannot report: false when the file was not accepted.
bool Change(CSwitcherReader& reader, const SScene& scene, const SSceneDifference& d)
{
    switch (d.setting) {
    case Setting::Route: reader.SetRoute(d.number, scene.routes[d.number - 1]); break;
    case Setting::Beep:
    case Setting::Dvi: {
        const bool beep = d.setting == Setting::Beep;
        const bool enable = beep ? scene.beep : scene.dvi;
        // An answer with the other value ends the link: the next step starts on a fresh one.
        if (reader.SetSwitch(beep, enable) && *(beep ? reader.state.beep : reader.state.dvi) != enable)
            reader.Session().Fail("the switcher reports " + d.name + " " + (enable ? "off" : "on"));
        break;
    }
    case Setting::Edid: {
        const SSceneEdid& e = scene.edids[d.number - 1];
        if (e.kind == SSceneEdid::Kind::File)
            return reader.SetEdidFile(d.number, e.file, e.data);
        reader.SetEdidPreset(d.number, e.preset.position);
        break;
    }
    }
    return true;
}

// The link kept while it is sound; a fresh one after a failure.
std::unique_ptr<CSwitcherReader> Reopen(std::unique_ptr<CSwitcherReader> reader, const ReaderOpener& open)
{
    if (reader && !reader->Session().Failed())
        return reader;
    reader.reset();  // the old link closes before the new one opens
    return open();
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

SSceneApply ApplyScene(const SScene& scene, const ReaderOpener& open, bool dryRun,
                       const std::function<void(const SSceneApply&)>& planned)
{
    SSceneApply result;
    result.dryRun = dryRun;
    std::unique_ptr<CSwitcherReader> reader = open();
    if (!reader)
        return result;
    result.stage = SSceneApply::Stage::NotRead;
    if (!reader->QuerySettings(false))
        return result;
    result.stage = SSceneApply::Stage::Done;
    const SSwitcherState before = reader->State();
    result.changes = SceneChanges(scene, before);
    // The inputs the scene does not know: apply never touches them, and says so.
    for (int i = 1; i <= 4; ++i)
        if (scene.edids[i - 1].kind == SSceneEdid::Kind::Unknown)
            result.leftAlone.emplace_back("EDID IN" + std::to_string(i), before.edids[i - 1].value_or(""));
    if (planned)
        planned(result);
    if (dryRun || result.changes.empty())
        return result;

    const std::vector<SSceneDifference>& changes = result.changes;
    std::vector<const SSceneDifference*> filesNotAccepted;
    std::size_t tried = 0;
    for (const auto& d : changes) {
        // A stop ends the apply between two changes; the one under way was tried.
        if ((result.stopped = reader && reader->Session().Stopped()))
            break;
        reader = Reopen(std::move(reader), open);
        if (!reader)
            break;  // the link could not be opened again: the reading back cannot happen either
        ++tried;
        if (!Change(*reader, scene, d) && !reader->Session().Stopped())
            filesNotAccepted.push_back(&d);
    }
    result.stopped = result.stopped || (reader && reader->Session().Stopped());
    for (std::size_t k = tried; k < changes.size(); ++k)
        result.notTaken.push_back({changes[k], result.stopped ? "it was not tried, the apply was stopped"
                                                              : "it was not tried, the link could not be opened again"});
    if (reader && !result.stopped)  // a link that could not be opened again is not tried a second time
        reader = Reopen(std::move(reader), open);
    SSwitcherState after;  // read again from nothing: what the reading did not reach stays empty
    if (reader && !result.stopped) {
        reader->state = SSwitcherState{};
        reader->QuerySettings(false);
        after = reader->state;
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
    return result;
}

}  // namespace corvane
