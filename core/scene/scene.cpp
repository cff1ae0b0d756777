#include "core/scene/scene.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <set>

#include "core/scene/json.h"
#include "core/link/frame.h"
#include "core/edid/edid_check.h"
#include "core/edid/edid_decode.h"
#include "platform/regular_file.h"

namespace corvane {

namespace {

std::string Hex(const std::vector<uint8_t>& bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string s;
    for (uint8_t b : bytes) {
        s += digits[b >> 4];
        s += digits[b & 15];
    }
    return s;
}

// Reads one object of the document, member by member, and refuses members it does not know:
// a misspelt setting must not pass for an absent one.
class CObjectReader {
public:
    CObjectReader(const SJson& object, std::string path, std::string& error)
        : m_object(object), m_path(std::move(path)), m_error(error)
    {
        if (object.type != SJson::Type::Object)
            Fail(m_path.empty() ? "the document is " + std::string(JsonTypeName(object.type)) + ", not an object"
                                : m_path + ": " + JsonTypeName(object.type) + " where an object belongs");
    }
    bool Ok() const { return m_error.empty(); }
    // Every member the object may hold: a member missing is then refused as the unknown one
    // beside it, if there is one ("bep" for "beep"), not as missing.
    void MayHold(std::initializer_list<const char*> keys) { m_mayHold.insert(keys.begin(), keys.end()); }
    const std::string& Path() const { return m_path; }
    std::string Sub(const std::string& key) const { return m_path.empty() ? key : m_path + "." + key; }

    const SJson* Member(const std::string& key, SJson::Type type, bool required)
    {
        if (!Ok())
            return nullptr;
        m_known.insert(key);
        const SJson* v = m_object.Find(key);
        if (!v) {
            if (required && Known())
                Fail(Sub(key) + ": missing");
            return nullptr;
        }
        if (v->type != type) {
            Fail(Sub(key) + ": " + JsonTypeName(v->type) + " where " + JsonTypeName(type) + " belongs");
            return nullptr;
        }
        return v;
    }
    std::optional<std::string> String(const std::string& key, bool required)
    {
        const SJson* v = Member(key, SJson::Type::String, required);
        return v ? std::optional(v->text) : std::nullopt;
    }
    std::optional<bool> Bool(const std::string& key)
    {
        const SJson* v = Member(key, SJson::Type::Bool, true);
        return v ? std::optional(v->boolean) : std::nullopt;
    }
    std::optional<int> Integer(const std::string& key, int low, int high)
    {
        const SJson* v = Member(key, SJson::Type::Number, true);
        if (!v)
            return std::nullopt;
        if (!v->integer || *v->integer < low || *v->integer > high) {
            Fail(Sub(key) + ": " + v->text + " is not a whole number from " + std::to_string(low) + " to " +
                 std::to_string(high));
            return std::nullopt;
        }
        return static_cast<int>(*v->integer);
    }
    // No member outside what the object may hold (when that was said).
    bool Known()
    {
        if (!m_mayHold.empty())
            for (const std::string& key : m_object.keys)
                if (!m_mayHold.count(key))
                    return Fail(Sub(key) + ": not a member this format knows");
        return true;
    }
    // After the last member read: anything else is refused.
    bool NoOthers()
    {
        if (!Ok())
            return false;
        for (const std::string& key : m_object.keys)
            if (!m_known.count(key))
                return Fail(Sub(key) + ": not a member this format knows");
        return true;
    }
    bool Fail(const std::string& what)
    {
        if (m_error.empty())
            m_error = what;
        return false;
    }

private:
    const SJson& m_object;
    std::string m_path;
    std::string& m_error;
    std::set<std::string> m_known;
    std::set<std::string> m_mayHold;
};

bool ReadSwitcher(const SJson& v, SScene& scene, std::string& error)
{
    CObjectReader r(v, "switcher", error);
    const auto host = r.String("host", false);
    const auto port = r.String("port", false);
    const auto mac = r.String("mac", false);
    const auto device = r.String("device", false);
    if (!r.NoOthers())
        return false;
    if (host && port)
        return r.Fail("switcher: both host and port; a switcher is reached one way");
    if (mac) {
        // Twelve hexadecimal digits in pairs separated by colons, as this program writes it.
        bool ok = mac->size() == 17;
        for (std::size_t i = 0; ok && i < mac->size(); ++i)
            ok = i % 3 == 2 ? (*mac)[i] == ':' : HexDigit((*mac)[i]) >= 0;
        if (!ok)
            return r.Fail("switcher.mac: \"" + *mac + "\" is not a MAC address like 02:C5:1A:00:00:01");
        scene.mac = *mac;
    }
    scene.host = host.value_or("");
    scene.port = port.value_or("");
    scene.device = device.value_or("");
    return true;
}

bool ReadRoutes(const SJson& v, SScene& scene, std::string& error)
{
    if (v.items.size() != 2) {
        error = "routes: " + std::to_string(v.items.size()) + " entries; the switcher has 2 outputs";
        return false;
    }
    std::array<bool, 2> seen{false, false};
    for (std::size_t k = 0; k < v.items.size(); ++k) {
        CObjectReader r(v.items[k], "routes[" + std::to_string(k) + "]", error);
        r.MayHold({"output", "input"});
        const auto output = r.Integer("output", 1, 2);
        const auto input = r.Integer("input", 1, 4);
        if (!r.NoOthers())
            return false;
        if (seen[*output - 1])
            return r.Fail(r.Path() + ": output " + std::to_string(*output) + " appears twice");
        seen[*output - 1] = true;
        scene.routes[*output - 1] = *input;
    }
    return true;
}

bool ReadEdid(const SJson& v, const std::string& path, SScene& scene, std::array<bool, 4>& seen, std::string& error)
{
    CObjectReader r(v, path, error);
    r.MayHold({"input", "kind", "name", "data"});
    const auto input = r.Integer("input", 1, 4);
    const auto kind = r.String("kind", true);
    if (!r.Ok())
        return false;
    SSceneEdid e;
    if (*kind == "unknown") {
        e.kind = SSceneEdid::Kind::Unknown;
    } else if (*kind == "preset") {
        e.kind = SSceneEdid::Kind::Preset;
        const auto name = r.String("name", true);
        if (!r.Ok())
            return false;
        const auto preset = ParseBuiltInEdid(*name);
        if (!preset)
            return r.Fail(r.Sub("name") + ": \"" + *name + "\" is not a built-in EDID (see 'corvanectl edid --help')");
        e.preset = *preset;
    } else if (*kind == "file") {
        e.kind = SSceneEdid::Kind::File;
        const auto name = r.String("name", true);
        const auto data = r.String("data", true);
        if (!r.Ok())
            return false;
        e.file = *name;
        if (data->size() % 2 != 0)
            return r.Fail(r.Sub("data") + ": an odd number of hexadecimal digits");
        for (std::size_t i = 0; i < data->size(); i += 2) {
            const int hi = HexDigit((*data)[i]), lo = HexDigit((*data)[i + 1]);
            if (hi < 0 || lo < 0)
                return r.Fail(r.Sub("data") + ": not hexadecimal at digit " + std::to_string(hi < 0 ? i + 1 : i + 2));
            e.data.push_back(static_cast<uint8_t>(hi * 16 + lo));
        }
        // The checks a file passes before the EDID page sends it.
        const EdidCheck check = CheckEdid(e.data);
        if (!check.Ok())
            return r.Fail(r.Sub("data") + ": not an EDID the switcher may be sent: " + DescribeEdidCheck(check));
    } else {
        return r.Fail(r.Sub("kind") + ": \"" + *kind + "\" is none of preset, file, unknown");
    }
    if (!r.NoOthers())
        return false;
    if (seen[*input - 1])
        return r.Fail(path + ": input " + std::to_string(*input) + " appears twice");
    seen[*input - 1] = true;
    scene.edids[*input - 1] = std::move(e);
    return true;
}

// The scene as a switcher would report it: an EDID from a file or unknown is not reported, the
// default EDID shows as the preset it is for one input.
SSwitcherState SceneState(const SScene& scene)
{
    SSwitcherState s;
    s.routes = scene.routes;
    s.beep = scene.beep;
    s.dvi = scene.dvi;
    for (int i = 0; i < 4; ++i)
        if (scene.edids[i].kind == SSceneEdid::Kind::Preset)
            s.edids[i] = scene.edids[i].preset.NameOnOneInput();
    return s;
}

std::vector<SSceneDifference> Compare(const SScene& scene, const SSwitcherState& now, bool afterApply)
{
    using S = SSceneDifference::Setting;
    const SSwitcherState wanted = SceneState(scene);
    const std::vector<SStateChange> changes = StateChanges(&now, wanted);
    std::vector<SSceneDifference> d;
    const auto differs = [&](EStateItem item, int number) {
        return std::find(changes.begin(), changes.end(), SStateChange{item, number}) != changes.end();
    };
    // In the order the settings are made: routes, beep, DVI, EDIDs.
    for (int o = 1; o <= 2; ++o)
        if (differs(EStateItem::Route, o))
            d.push_back({S::Route, o, "output " + std::to_string(o), StateValueText(now, {EStateItem::Route, o}),
                         StateValueText(wanted, {EStateItem::Route, o})});
    if (differs(EStateItem::Beep, 0))
        d.push_back({S::Beep, 0, "beep", StateValueText(now, {EStateItem::Beep}), OnOffText(scene.beep)});
    if (differs(EStateItem::Dvi, 0))
        d.push_back({S::Dvi, 0, "DVI compatibility", StateValueText(now, {EStateItem::Dvi}), OnOffText(scene.dvi)});
    for (int i = 1; i <= 4; ++i) {
        const SSceneEdid& e = scene.edids[i - 1];
        const std::string reported = now.edids[i - 1].value_or("");
        // An EDID from a file is sent every time: the switcher reports any EDID that is not a
        // preset alike. After apply, any such EDID matches it.
        const bool fileDiffers =
            e.kind == SSceneEdid::Kind::File && (!afterApply || PresetByName(reported).has_value());
        if (differs(EStateItem::Edid, i) || fileDiffers)
            d.push_back({S::Edid, i, "EDID IN" + std::to_string(i), reported, EdidSettingText(e),
                         e.kind == SSceneEdid::Kind::File && !PresetByName(reported)});
    }
    return d;
}

}  // namespace

std::optional<int> PresetByName(const std::string& name)
{
    const auto edid = ParseBuiltInEdid(name);
    return edid && !edid->IsDefault() ? std::optional<int>(edid->position) : std::nullopt;
}

std::optional<SScene> ParseScene(std::string_view text, std::string& error)
{
    error.clear();
    const auto doc = ParseJson(text, error);
    if (!doc)
        return std::nullopt;
    SScene scene;
    CObjectReader r(*doc, "", error);
    // Format and version first: a newer version may hold anything after them.
    const auto format = r.String("format", true);
    if (!r.Ok())
        return std::nullopt;
    if (*format != kSceneFormat) {
        error = "format: \"" + *format + "\", not a scene (\"" + kSceneFormat + "\")";
        return std::nullopt;
    }
    const SJson* version = r.Member("version", SJson::Type::Number, true);
    if (!version)
        return std::nullopt;
    if (!version->integer || *version->integer < 1) {
        error = "version: " + version->text + " is not a format version";
        return std::nullopt;
    }
    if (*version->integer > kSceneVersion) {
        error = "format version " + version->text + " was written by a newer corvanectl; this one reads up to " +
                std::to_string(kSceneVersion);
        return std::nullopt;
    }
    scene.version = static_cast<int>(*version->integer);
    r.MayHold({"format", "version", "saved", "switcher", "routes", "beep", "dvi", "edids"});
    scene.saved = r.String("saved", false).value_or("");
    if (const SJson* sw = r.Member("switcher", SJson::Type::Object, false); sw && !ReadSwitcher(*sw, scene, error))
        return std::nullopt;
    const SJson* routes = r.Member("routes", SJson::Type::Array, true);
    if (!routes || !ReadRoutes(*routes, scene, error))
        return std::nullopt;
    const auto beep = r.Bool("beep");
    const auto dvi = r.Bool("dvi");
    const SJson* edids = r.Member("edids", SJson::Type::Array, true);
    if (!edids)
        return std::nullopt;
    if (edids->items.size() != 4) {
        error = "edids: " + std::to_string(edids->items.size()) + " entries; the switcher has 4 inputs";
        return std::nullopt;
    }
    std::array<bool, 4> seen{};
    for (std::size_t k = 0; k < 4; ++k)
        if (!ReadEdid(edids->items[k], "edids[" + std::to_string(k) + "]", scene, seen, error))
            return std::nullopt;
    if (!r.NoOthers())
        return std::nullopt;
    scene.beep = *beep;
    scene.dvi = *dvi;
    return scene;
}

std::optional<SScene> ReadSceneFile(const std::string& path, std::string& error)
{
    // Never waits on a FIFO or a device, never reads more than the bound.
    CRegularFile file(path);
    std::vector<uint8_t> bytes;
    RegularFileError e = file.Error();
    if (e == RegularFileError::None && file.ReportedSize() <= kSceneMaxBytes)
        e = file.Read(kSceneMaxBytes + 1, bytes);
    switch (e) {
    case RegularFileError::None: break;
    case RegularFileError::NotRegular:
        error = S_ISDIR(file.Mode()) ? "a directory, not a scene file" : "not a regular file";
        return std::nullopt;
    default:
        error = std::strerror(file.OsError());
        return std::nullopt;
    }
    if (file.ReportedSize() > kSceneMaxBytes || bytes.size() > kSceneMaxBytes) {
        error = "more than " + std::to_string(kSceneMaxBytes) + " bytes; not a scene";
        return std::nullopt;
    }
    return ParseScene(std::string(bytes.begin(), bytes.end()), error);
}

std::string SceneJson(const SScene& s)
{
    std::string j = "{\n  \"format\": " + JsonString(kSceneFormat) + ",\n  \"version\": " + std::to_string(s.version) +
                    ",\n";
    if (!s.saved.empty())
        j += "  \"saved\": " + JsonString(s.saved) + ",\n";
    std::string sw;
    auto add = [&sw](const char* key, const std::string& value) {
        if (!value.empty())
            sw += std::string(sw.empty() ? "" : ",\n") + "    \"" + key + "\": " + JsonString(value);
    };
    add("host", s.host);
    add("port", s.port);
    add("mac", s.mac);
    add("device", s.device);
    if (!sw.empty())
        j += "  \"switcher\": {\n" + sw + "\n  },\n";
    j += "  \"routes\": [\n";
    for (int o = 1; o <= 2; ++o)
        j += "    {\"output\": " + std::to_string(o) + ", \"input\": " + std::to_string(s.routes[o - 1]) + "}" +
             (o == 1 ? ",\n" : "\n");
    j += std::string("  ],\n  \"beep\": ") + (s.beep ? "true" : "false") + ",\n  \"dvi\": " + (s.dvi ? "true" : "false") +
         ",\n  \"edids\": [\n";
    for (int i = 1; i <= 4; ++i) {
        const SSceneEdid& e = s.edids[i - 1];
        j += "    {\"input\": " + std::to_string(i) + ", \"kind\": ";
        switch (e.kind) {
        case SSceneEdid::Kind::Unknown: j += "\"unknown\""; break;
        case SSceneEdid::Kind::Preset: j += "\"preset\", \"name\": " + JsonString(e.preset.Name()); break;
        case SSceneEdid::Kind::File:
            j += "\"file\", \"name\": " + JsonString(e.file) + ", \"data\": \"" + Hex(e.data) + "\"";
            break;
        }
        j += i < 4 ? "},\n" : "}\n";
    }
    return j + "  ]\n}\n";
}

std::string WriteSceneFile(const std::string& path, const SScene& scene)
{
    const std::string text = SceneJson(scene);
    std::string why;
    WriteFileAtomically(path, std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()), why);
    return why;
}

std::string EdidSettingText(const SSceneEdid& e)
{
    switch (e.kind) {
    case SSceneEdid::Kind::Preset:
        if (e.preset.IsDefault())
            return std::string(e.preset.Name()) + " (" + e.preset.NameOnOneInput() + ")";
        return e.preset.Name();
    case SSceneEdid::Kind::File: return "file " + e.file;
    case SSceneEdid::Kind::Unknown: break;
    }
    return "unknown";
}

std::vector<std::string> SceneLines(const SScene& s)
{
    std::vector<std::string> lines;
    lines.push_back("Scene format " + std::to_string(s.version) + (s.saved.empty() ? "" : ", saved " + s.saved));
    std::string from;
    if (!s.host.empty())
        from = "--host " + s.host;
    else if (!s.port.empty())
        from = "--port " + s.port;
    if (!s.mac.empty())
        from += (from.empty() ? "MAC " : ", MAC ") + s.mac;
    if (!from.empty())
        lines.push_back("Switcher: " + from);
    if (!s.device.empty())
        lines.push_back(s.device);
    for (int o = 1; o <= 2; ++o)
        lines.push_back("OUTPUT " + std::to_string(o) + ": IN " + std::to_string(s.routes[o - 1]));
    lines.push_back(std::string("Beep: ") + (s.beep ? "on" : "off"));
    lines.push_back(std::string("DVI compatibility: ") + (s.dvi ? "on" : "off"));
    for (int i = 1; i <= 4; ++i) {
        const SSceneEdid& e = s.edids[i - 1];
        std::string line = "EDID IN" + std::to_string(i) + ": " + EdidSettingText(e);
        if (e.kind == SSceneEdid::Kind::Unknown) {
            line += " (not a preset; scene apply leaves it as it is)";
        } else if (e.kind == SSceneEdid::Kind::File) {
            const auto summary = SummarizeEdid(DecodeEdid(e.data));
            line += " (" + std::to_string(e.data.size()) + " bytes" +
                    (summary.empty() ? std::string() : ", " + summary.front()) + ")";
        }
        lines.push_back(line);
    }
    return lines;
}

std::vector<SSceneDifference> SceneChanges(const SScene& scene, const SSwitcherState& now)
{
    return Compare(scene, now, false);
}

std::vector<SSceneDifference> SceneMismatches(const SScene& scene, const SSwitcherState& now)
{
    return Compare(scene, now, true);
}

std::string UtcNow()
{
    const std::time_t t = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&t, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

}  // namespace corvane
