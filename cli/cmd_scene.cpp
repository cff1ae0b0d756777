// scene save|apply|show: a switcher's settings to a file and back, through the General, Matrix
// and EDID pages with text views; show reads a scene without a switcher.
#include <filesystem>

#include "cli/command_line.h"
#include "cli/link_commands.h"
#include "core/scene/scene_apply.h"
#include "core/edid/edid_check.h"

namespace corvane::cli {

const char kSceneUsage[] =
    "scene save FILE [--edid INn=FILE ...] [--json]  routes, beep, DVI and input EDIDs to a file\n"
    "  scene apply FILE [--dry-run] [--json]  change what differs from the scene, then read back\n"
    "  scene show FILE [--json]  offline: a scene for people\n";

namespace {

const char kSceneHelp[] =
    "\nA scene is a JSON file (docs/corvanectl.md in the source): format version, when and from\n"
    "which switcher it was saved, the routes of both outputs, beep, DVI compatibility and each\n"
    "input's EDID. An input whose EDID is not a preset is saved as unknown, and left as it is by\n"
    "apply, unless --edid INn=FILE names the EDID file it was loaded from: that file is checked\n"
    "as by 'edid load' and kept in the scene, and apply sends it (always: the switcher reports\n"
    "every EDID that is not a preset alike).\n"
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

int SaveScene(const std::string& path, const SConnection& link, const std::array<std::optional<SEdidFile>, 4>& files,
              bool json, std::ostream& out, std::ostream& err)
{
    CLinkedSwitcher run(err, link);
    if (int r = run.Open())
        return r;
    if (!run.Run(run.ReadSettings(false)).Ok() || !run.Run(run.ReadDevice()).Ok())
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
            e.preset = SBuiltInEdid{*preset};
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

int ApplyScene(const SScene& scene, const SConnection& link, const SApplyOptions& options, std::ostream& out,
               std::ostream& err)
{
    CLinkedSwitcher run(err, link);
    if (int r = run.Open())
        return r;
    const auto planned = [&](const SSceneApply& plan) {
        if (!options.json)
            for (const std::string& line : plan.PlanLines())
                out << line << '\n';
    };
    SSceneApply result;
    run.Run(ApplyScene(run, scene, options.dryRun, result, planned));
    if (result.stage == SSceneApply::Stage::NotRead)
        return kExitFailed;
    if (options.json)
        out << result.Json() << '\n';
    else if (result.Matches())
        out << "The switcher matches the scene.\n";
    for (const std::string& line : result.Problems())
        err << "corvanectl: " << line << '\n';
    return options.dryRun || result.Matches() ? kExitOk : kExitFailed;
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
