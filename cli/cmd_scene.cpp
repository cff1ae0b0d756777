// scene save|apply|show: a switcher's settings to a file and back, through the General, Matrix
// and EDID pages with text views; show reads a scene without a switcher.
#include <algorithm>
#include <filesystem>

#include "cli/command_line.h"
#include "cli/link_commands.h"
#include "core/switcher/switcher_reader.h"
#include "core/edid/edid_check.h"

namespace corvane::cli {

const char kSceneUsage[] =
    "scene save FILE [--edid INn=FILE ...] [--json]  routes, beep, DVI and input EDIDs to a file\n"
    "  scene apply FILE [--dry-run] [--json]  change what differs from the scene, then read back\n"
    "  scene show FILE [--json]  offline: a scene for people\n";

namespace {

const char kSceneHelp[] =
    "\nA scene is a JSON file (see README): format version, when and from which switcher it was\n"
    "saved, the routes of both outputs, beep, DVI compatibility and each input's EDID. An input\n"
    "whose EDID is not a preset is saved as unknown, and left as it is by apply, unless\n"
    "--edid INn=FILE names the EDID file it was loaded from: that file is checked as by\n"
    "'edid load' and kept in the scene, and apply sends it (always: the switcher reports every\n"
    "EDID that is not a preset alike).\n"
    "apply prints one line a setting that differs (\"output 1: IN 2 -> IN 3\"; for a file, which\n"
    "the switcher cannot report, \"EDID IN3: file lobby.bin, sent: the switcher cannot report it\")\n"
    "and one for each input it leaves as it is, changes only those (nothing with --dry-run),\n"
    "reads the switcher back and exits 0 only when it matches the scene; otherwise 1, with one\n"
    "line for each setting that did not take (a file the switcher did not accept is one) and\n"
    "one naming the settings that could not be read back. A malformed scene, or one of a newer\n"
    "format version, is refused before the link opens (exit 2).\n"
    "With --json: save gives {\"file\",\"saved\"}; apply gives {\"changes\":[{\"setting\",\"from\"\n"
    "(null when the switcher cannot report it),\"to\"}],\"left_alone\":[{\"setting\",\"switcher\"}],\n"
    "\"dry_run\",\"matches\",\"mismatches\":[{\"setting\",\"switcher\",\"scene\",\"why\"}],\n"
    "\"not_read_back\":[setting...]}; show gives the scene itself.\n";

struct SEdidFile {
    std::string name;  // the file's own name, without its folder
    std::vector<uint8_t> data;
};

// "IN2=FILE", "in2=FILE" or "2=FILE".
std::optional<int> EdidOptionInput(const std::string& value)
{
    std::string in = value.substr(0, value.find('='));
    if (in.size() == 3 && (in[0] == 'I' || in[0] == 'i') && (in[1] == 'N' || in[1] == 'n'))
        in = in.substr(2);
    if (value.find('=') == std::string::npos || in.size() != 1 || in[0] < '1' || in[0] > '4')
        return std::nullopt;
    return in[0] - '0';
}

// One change of apply through the page that owns the setting; false after the session said why.
bool Change(SLinkRun& run, const SScene& scene, const SSceneDifference& d)
{
    using S = SSceneDifference::Setting;
    CSession& session = run.session;
    switch (d.setting) {
    case S::Route: return run.SetRoute(d.number, scene.routes[d.number - 1]);
    case S::Beep:
    case S::Dvi: {
        const bool beep = d.setting == S::Beep;
        const bool enable = beep ? scene.beep : scene.dvi;
        if (!run.SetSwitch(beep, enable))
            return false;
        const bool shown = *(beep ? run.state.beep : run.state.dvi);
        if (shown != enable) {
            session.Fail("the switcher reports " + d.name + " " + OnOff(shown));
            return false;
        }
        return true;
    }
    case S::Edid: {
        const SSceneEdid& e = scene.edids[d.number - 1];
        if (e.kind == SSceneEdid::Kind::Preset)
            return run.SetEdidPreset(d.number, e.preset);
        session.Settle();  // what the change shows must be its own answer
        session.Link().SetCurrentPage(PAGE_EDID);
        run.edidView.fileTarget = d.number - 1;
        run.edid.SetLog([&session](const std::string& line) { session.Fail(line); });
        session.SetTimeoutSubject([t = d.number - 1] { return EdidStepText(t); });
        if (!run.edid.TakeContent(e.file, e.data))
            return false;
        run.edid.OnSetFile();
        return !session.Failed() && session.RunUntil([] { return g_bReady; });
    }
    }
    return false;
}

// A link of its own for what follows a failed step: the step's timers go with the old one, and
// a late answer to it cannot be taken for another's.
std::unique_ptr<SLinkRun> Reopen(std::unique_ptr<SLinkRun> run, const SConnection& link, std::ostream& err)
{
    if (run && !run->session.Failed())
        return run;
    run.reset();
    run = std::make_unique<SLinkRun>(err, link);
    if (run->session.Open() != kExitOk)
        run.reset();
    return run;
}

int SaveScene(const std::string& path, const SConnection& link, const std::array<std::optional<SEdidFile>, 4>& files,
              bool json, std::ostream& out, std::ostream& err)
{
    SLinkRun run(err, link);
    if (int r = run.session.Open())
        return r;
    if (!run.QuerySettings(false) || !run.QueryDevice())
        return kExitFailed;
    const SSwitcherState& now = run.State();
    SScene scene;
    scene.saved = UtcNow();
    if (!link.host.empty()) {
        scene.host = HostWithPort(link.host);
    } else {
        scene.port = link.port;
    }
    scene.device = run.state.device->Line();
    scene.routes = now.routes;
    scene.beep = now.beep.value_or(false);
    scene.dvi = now.dvi.value_or(false);
    for (int i = 1; i <= 4; ++i) {
        SSceneEdid& e = scene.edids[i - 1];
        const std::string name = now.edids[i - 1].value_or("");
        if (const auto preset = PresetByName(name)) {
            if (files[i - 1]) {
                err << "corvanectl: --edid IN" << i << ": the switcher reports the preset \"" << name << "\" on IN" << i
                    << ", not an EDID loaded from a file; nothing saved\n";
                return kExitFailed;
            }
            e.kind = SSceneEdid::Kind::Preset;
            e.preset = *preset;
        } else if (files[i - 1]) {
            e.kind = SSceneEdid::Kind::File;
            e.file = files[i - 1]->name;
            e.data = files[i - 1]->data;
        }
    }
    if (const std::string why = WriteSceneFile(path, scene); !why.empty()) {
        err << "corvanectl: " << why << '\n';
        return kExitFailed;
    }
    if (json) {
        out << "{\"file\":" << JsonString(path) << ",\"saved\":" << JsonString(scene.saved) << "}\n";
        return kExitOk;
    }
    for (const std::string& line : SceneLines(scene))
        out << line << '\n';
    out << "Saved to " << path << '\n';
    return kExitOk;
}

}  // namespace

namespace {

// Whether a read-back reached a setting: the state holds each value it read.
bool ReadBackHas(const SSwitcherState& state, const SSceneDifference& d)
{
    using S = SSceneDifference::Setting;
    switch (d.setting) {
    case S::Route: return state.routes[d.number - 1] != 0;
    case S::Beep: return state.beep.has_value();
    case S::Dvi: return state.dvi.has_value();
    case S::Edid: return state.edids[d.number - 1].has_value();
    }
    return false;
}

// The switcher read again, from nothing: what the reading did not reach stays empty.
SSwitcherState ReadBack(SLinkRun& run)
{
    run.state = SSwitcherState{};
    run.QuerySettings(false);
    return run.state;
}

// A setting apply could not confirm, and why.
struct SNotTaken {
    SSceneDifference setting;
    std::string why;  // "the switcher shows IN 1", "the switcher did not accept the file"
};

}  // namespace

int ApplyScene(const SScene& scene, const SConnection& link, const SApplyOptions& options, std::ostream& out,
               std::ostream& err)
{
    auto run = std::make_unique<SLinkRun>(err, link);
    if (int r = run->session.Open())
        return r;
    if (!run->QuerySettings(false))
        return kExitFailed;
    const SSwitcherState before = run->State();
    const std::vector<SSceneDifference> changes = SceneChanges(scene, before);
    // The inputs the scene does not know: apply never touches them, and says so.
    std::vector<std::pair<std::string, std::string>> leftAlone;  // setting, what the switcher shows
    for (int i = 1; i <= 4; ++i)
        if (scene.edids[i - 1].kind == SSceneEdid::Kind::Unknown)
            leftAlone.emplace_back("EDID IN" + std::to_string(i), before.edids[i - 1].value_or(""));
    if (!options.json) {
        for (const auto& d : changes)
            out << d.Line(options.dryRun) << '\n';
        for (const auto& [name, shown] : leftAlone)
            out << name << ": left as it is (unknown in the scene; the switcher shows " << shown << ")\n";
    }
    std::vector<SNotTaken> notTaken;
    std::vector<SSceneDifference> unread;  // changed, but the switcher could not be read back for it
    std::vector<std::string> unreadAll;    // every setting the read-back did not reach
    bool complete = true;                  // every setting read back
    if (!options.dryRun && !changes.empty()) {
        // Every change is tried, whatever became of the one before; the reading back decides,
        // but for an EDID file: the switcher cannot report it, so only its acknowledgement tells.
        std::vector<const SSceneDifference*> filesNotAccepted;
        std::size_t tried = 0;
        for (const auto& d : changes) {
            run = Reopen(std::move(run), link, err);
            if (!run)
                break;  // the link could not be opened again: the reading back cannot happen either
            ++tried;
            if (!Change(*run, scene, d) && d.setting == SSceneDifference::Setting::Edid &&
                scene.edids[d.number - 1].kind == SSceneEdid::Kind::File)
                filesNotAccepted.push_back(&d);
        }
        for (std::size_t k = tried; k < changes.size(); ++k)
            notTaken.push_back({changes[k], "it was not tried, the link could not be opened again"});
        if (run)  // a link that could not be opened again is not tried a second time
            run = Reopen(std::move(run), link, err);
        const SSwitcherState after = run ? ReadBack(*run) : SSwitcherState{};
        for (const auto& d : SceneMismatches(scene, after))
            if (ReadBackHas(after, d))
                notTaken.push_back({d, "the switcher shows " + d.from});
        for (const SSceneDifference* d : filesNotAccepted) {
            const bool named = std::any_of(notTaken.begin(), notTaken.end(), [&](const SNotTaken& n) {
                return n.setting.setting == d->setting && n.setting.number == d->number;
            });
            if (!named)
                notTaken.push_back({*d, "the switcher did not accept the file"});
        }
        for (std::size_t k = 0; k < tried; ++k)
            if (const auto& d = changes[k]; !ReadBackHas(after, d) && std::none_of(filesNotAccepted.begin(), filesNotAccepted.end(),
                                             [&](const SSceneDifference* f) { return f == &d; }))
                unread.push_back(d);
        const std::array<std::pair<bool, const char*>, 8> all = {
            {{after.routes[0] != 0, "output 1"}, {after.routes[1] != 0, "output 2"}, {after.beep.has_value(), "beep"},
             {after.dvi.has_value(), "DVI compatibility"}, {after.edids[0].has_value(), "EDID IN1"},
             {after.edids[1].has_value(), "EDID IN2"}, {after.edids[2].has_value(), "EDID IN3"},
             {after.edids[3].has_value(), "EDID IN4"}}};
        for (const auto& [had, name] : all)
            if (!had)
                unreadAll.push_back(name);
        complete = unreadAll.empty();
    }
    const bool matches = complete && notTaken.empty() && unread.empty() && (!options.dryRun || changes.empty());
    if (options.json) {
        out << "{\"changes\":[";
        for (std::size_t k = 0; k < changes.size(); ++k)
            out << (k ? "," : "") << "{\"setting\":" << JsonString(changes[k].name) << ",\"from\":"
                << (changes[k].fromUnknown ? "null" : JsonString(changes[k].from))
                << ",\"to\":" << JsonString(changes[k].to) << "}";
        out << "],\"left_alone\":[";
        for (std::size_t k = 0; k < leftAlone.size(); ++k)
            out << (k ? "," : "") << "{\"setting\":" << JsonString(leftAlone[k].first)
                << ",\"switcher\":" << JsonString(leftAlone[k].second) << "}";
        out << "],\"dry_run\":" << Bool(options.dryRun) << ",\"matches\":" << Bool(matches) << ",\"mismatches\":[";
        for (std::size_t k = 0; k < notTaken.size(); ++k)
            out << (k ? "," : "") << "{\"setting\":" << JsonString(notTaken[k].setting.name)
                << ",\"switcher\":" << JsonString(notTaken[k].setting.from) << ",\"scene\":"
                << JsonString(notTaken[k].setting.to) << ",\"why\":" << JsonString(notTaken[k].why) << "}";
        out << "],\"not_read_back\":[";
        for (std::size_t k = 0; k < unread.size(); ++k)
            out << (k ? "," : "") << JsonString(unread[k].name);
        out << "]}\n";
    } else if (matches) {
        out << "The switcher matches the scene.\n";
    }
    for (const auto& n : notTaken)
        err << "corvanectl: " << n.setting.name << " did not take: " << n.why << ", the scene says "
            << n.setting.to << '\n';
    const auto list = [](const std::vector<std::string>& names) {
        std::string text;
        for (std::size_t k = 0; k < names.size(); ++k)
            text += (k == 0 ? "" : k + 1 == names.size() ? " and " : ", ") + names[k];
        return text;
    };
    if (!unread.empty()) {
        std::vector<std::string> names;
        for (const auto& d : unread)
            names.push_back(d.name);
        err << "corvanectl: the switcher could not be read back for " << list(names)
            << (unread.size() == 1 ? ": it was set, but whether it took is not known\n"
                                   : ": they were set, but whether they took is not known\n");
    } else if (!complete) {
        err << "corvanectl: the switcher could not be read back for " << list(unreadAll)
            << "; whether it still matches the scene there is not known\n";
    }
    return options.dryRun || matches ? kExitOk : kExitFailed;
}

int RunScene(Args args, std::ostream& out, std::ostream& err)
{
    const SCommandLine c = Parse(args, {"--edid"}, {"--dry-run"});
    if (c.help) {
        out << "Usage: corvanectl " << kSceneUsage << kSceneHelp << kLinkOptionsHelp;
        return kExitOk;
    }
    if (!c.error.empty())
        return Usage(err, c.error, kSceneUsage);
    if (c.words.empty())
        return Usage(err, "which scene command?", kSceneUsage);
    const std::string& sub = c.words[0];
    if (sub != "save" && sub != "apply" && sub != "show")
        return Usage(err, "unknown scene command '" + sub + "'", kSceneUsage);
    if (c.words.size() != 2)
        return Usage(err, "scene " + sub + " takes one FILE", kSceneUsage);
    if (c.Has("--edid") && sub != "save")
        return Usage(err, "--edid belongs to scene save", kSceneUsage);
    if (c.Has("--dry-run") && sub != "apply")
        return Usage(err, "--dry-run belongs to scene apply", kSceneUsage);
    const std::string& path = c.words[1];

    if (sub == "save") {
        std::array<std::optional<SEdidFile>, 4> files;
        for (const auto& [option, value] : c.given) {
            if (option != "--edid")
                continue;
            const auto input = EdidOptionInput(value);
            if (!input)
                return Usage(err, "--edid takes INn=FILE with n from 1 to 4, not '" + value + "'", kSceneUsage);
            if (files[*input - 1])
                return Usage(err, "--edid IN" + std::to_string(*input) + " given twice", kSceneUsage);
            const std::string file = value.substr(value.find('=') + 1);
            // Checked before the link opens, as edid load checks its file.
            const EdidCheck check = CheckEdidFile(file);
            if (!check.Ok()) {
                err << "corvanectl: " << EdidFileLogLine(file, check) << '\n';
                return kExitFailed;
            }
            const auto* bytes = check.edid.data();
            files[*input - 1] = SEdidFile{std::filesystem::path(file).filename().string(),
                                          std::vector<uint8_t>(bytes, bytes + check.size)};
        }
        return SaveScene(path, c.link, files, c.json, out, err);
    }

    std::string why;
    const auto scene = ReadSceneFile(path, why);
    if (!scene) {
        err << "corvanectl: " << path << ": " << why << '\n';
        return kExitUsage;
    }
    if (sub == "show") {
        if (c.json) {
            out << SceneJson(*scene);
            return kExitOk;
        }
        for (const std::string& line : SceneLines(*scene))
            out << line << '\n';
        return kExitOk;
    }
    return ApplyScene(*scene, c.link, {c.Has("--dry-run"), c.json}, out, err);
}

}  // namespace corvane::cli
