#include "mqtt/topics.h"

#include <cctype>

#include "core/edid/edid_names.h"
#include "core/scene/json.h"
#include "core/scene/scene.h"
#include "core/text/text.h"

namespace corvane::mqtt {

namespace {

const char* OnOffPayload(bool on) { return on ? "ON" : "OFF"; }

// "1".."4" or "IN 3" / "in3": an input number, 0 when it is neither.
int InputNumber(const std::string& payload)
{
    std::string t = Lower(Trim(payload));
    if (t.rfind("in", 0) == 0)
        t = Trim(t.substr(2));
    return t.size() == 1 && t[0] >= '1' && t[0] <= '4' ? t[0] - '0' : 0;
}

std::optional<bool> Switch(const std::string& payload)
{
    const std::string t = Lower(Trim(payload));
    if (t == "on" || t == "true" || t == "1")
        return true;
    if (t == "off" || t == "false" || t == "0")
        return false;
    return std::nullopt;
}

// "output/2/input" -> 2 for the pattern "output/#/input" with numbers 1..max; 0 otherwise.
int NumberedTopic(const std::string& name, const std::string& head, const std::string& tail, int max)
{
    if (name.size() != head.size() + 1 + tail.size() || name.rfind(head, 0) != 0 ||
        name.compare(head.size() + 1, std::string::npos, tail) != 0)
        return 0;
    const char d = name[head.size()];
    return d >= '1' && d < '1' + max ? d - '0' : 0;
}

std::string Json(const std::string& s) { return JsonString(s); }


}  // namespace

std::string SanitizeId(const std::string& text)
{
    std::string id;
    bool gap = false;
    for (char c : Lower(text)) {
        if (std::isalnum(static_cast<unsigned char>(c)) || c == '-') {
            if (gap && !id.empty())
                id += '_';
            id += c;
            gap = false;
        } else {
            gap = true;
        }
    }
    return id.empty() ? "switcher" : id;
}

std::string SwitcherId(const SLinkAddress& address, const std::string& prefix)
{
    if (!prefix.empty())
        return SanitizeId(prefix);
    if (!address.host.empty())
        return SanitizeId(address.host.find(':') == std::string::npos ? address.host + ":8000" : address.host);
    return SanitizeId(address.port);
}

std::vector<std::string> STopics::CommandFilters() const
{
    return {prefix + "/+/set", prefix + "/+/+/set", prefix + "/+/+/+/set"};
}

std::vector<SMessage> StateMessages(const STopics& t, const SPublishedState& s)
{
    std::vector<SMessage> m;
    const std::string& p = t.prefix;
    for (int i = 0; i < 4; ++i)
        m.push_back({p + "/input/" + std::to_string(i + 1) + "/signal", OnOffPayload(s.inputSignal[i])});
    for (int o = 0; o < 2; ++o)
        m.push_back({p + "/output/" + std::to_string(o + 1) + "/signal", OnOffPayload(s.outputSignal[o])});
    for (int o = 0; o < 2; ++o)
        m.push_back({p + "/output/" + std::to_string(o + 1) + "/input", std::to_string(s.routes[o])});
    m.push_back({p + "/beep", OnOffPayload(s.beep)});
    m.push_back({p + "/dvi", OnOffPayload(s.dvi)});
    for (int i = 0; i < 4; ++i)
        m.push_back({p + "/input/" + std::to_string(i + 1) + "/edid", s.edids[i]});
    m.push_back({p + "/device", s.device});
    return m;
}

std::size_t PayloadCap(const std::string& name)
{
    return name == "scene/apply" ? kSceneMaxBytes : kCommandPayloadCap;
}

std::string Excerpt(std::string_view text, std::size_t max)
{
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    for (std::size_t k = 0; k < text.size() && k < max; ++k) {
        const auto c = static_cast<unsigned char>(text[k]);
        if (c == '\\') {
            out += "\\\\";
        } else if (c < 0x20 || c >= 0x7f) {
            out += "\\x";
            out += kHex[c >> 4];
            out += kHex[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
    if (text.size() > max)
        out += "...";
    return out;
}

std::string CommandName(const STopics& t, const std::string& topic)
{
    const std::string head = t.prefix + "/";
    const std::string tail = "/set";
    if (topic.size() <= head.size() + tail.size() || topic.rfind(head, 0) != 0 ||
        topic.compare(topic.size() - tail.size(), tail.size(), tail) != 0)
        return "";
    return topic.substr(head.size(), topic.size() - head.size() - tail.size());
}

SParsedCommand ParseCommand(const STopics& t, const std::string& topic, const std::string& payload)
{
    SParsedCommand r;
    r.name = CommandName(t, topic);
    if (r.name.empty())
        return r;
    if (payload.size() > PayloadCap(r.name)) {
        r.error = "a payload of " + std::to_string(payload.size()) + " bytes; at most " +
                  std::to_string(PayloadCap(r.name)) + " are taken";
        return r;
    }
    const std::string shown = Excerpt(payload);
    using K = SCommand::Kind;
    SCommand& c = r.command;
    auto fail = [&r](std::string why) {
        r.error = std::move(why);
        return r;
    };
    if (const int o = NumberedTopic(r.name, "output/", "/input", 2)) {
        c = {K::Route, o, InputNumber(payload), false, nullptr, {}, {}};
        if (!c.value)
            return fail("expected an input, 1 to 4 (or IN 1 to IN 4), not \"" + shown + "\"");
    } else if (r.name == "beep" || r.name == "dvi") {
        const auto on = Switch(payload);
        if (!on)
            return fail("expected ON or OFF, not \"" + shown + "\"");
        c = {r.name == "beep" ? K::Beep : K::Dvi, 0, 0, *on, nullptr, {}, {}};
    } else if (const int i = NumberedTopic(r.name, "input/", "/edid", 4)) {
        const auto edid = ParseBuiltInEdid(payload);
        if (!edid)
            return fail("\"" + shown + "\" is not an EDID of the switcher's list (\"" + EdidListName(0) +
                        "\" ... \"" + EdidListName(kEdidNames - 1) + "\")");
        c = {K::EdidPreset, i, 0, false, nullptr, *edid, {}};
    } else if (r.name == "scene/apply") {
        std::string why;
        auto scene = ParseScene(payload, why);
        if (!scene)
            return fail("not a scene: " + Excerpt(why, 200));
        c = {K::Scene, 0, 0, false, std::make_shared<const SScene>(std::move(*scene)), {}, {}};
    } else if (r.name == "preset") {
        c = {K::Preset, 0, 0, false, nullptr, {}, Trim(payload)};
    } else if (r.name == "refresh") {
        c = {K::Refresh, 0, 0, false, nullptr, {}, {}};
    } else {
        return fail("unknown command topic " + Excerpt(topic, 200));
    }
    r.ok = true;
    return r;
}

std::string ResultJson(const std::string& name, const std::string& value, const SOutcome& outcome)
{
    std::string j = "{\"command\":" + Json(name);
    if (name != "scene/apply")
        j += ",\"value\":" + Json(Excerpt(value));
    j += ",\"ok\":" + std::string(outcome.ok ? "true" : "false") + ",\"error\":" + Json(outcome.error);
    if (!outcome.detail.empty())
        j += ",\"report\":" + outcome.detail;
    return j + "}";
}

namespace {

struct SEntity {
    const char* component;
    std::string object;  // unique within the device
    std::string name;
    std::string fields;  // the entity's own members, each with a leading comma
    bool bridgeOnly = false;  // available while the bridge runs, whether the switcher answers or not
};

std::vector<SEntity> Entities(const STopics& t, const std::vector<std::string>& presets)
{
    const std::string& p = t.prefix;
    std::vector<SEntity> e;
    std::string inputs;
    for (int i = 1; i <= 4; ++i)
        inputs += std::string(i > 1 ? "," : "") + "\"IN " + std::to_string(i) + "\"";
    for (int o = 1; o <= 2; ++o) {
        const std::string base = p + "/output/" + std::to_string(o) + "/input";
        e.push_back({"select", "output_" + std::to_string(o), "Output " + std::to_string(o),
                     ",\"state_topic\":" + Json(base) + ",\"command_topic\":" + Json(base + "/set") +
                         ",\"options\":[" + inputs + "],\"value_template\":\"IN {{ value }}\""});
    }
    std::string names;
    for (int n = 0; n < kEdidNames; ++n)
        names += std::string(n ? "," : "") + Json(EdidListName(n));
    for (int i = 1; i <= 4; ++i) {
        const std::string base = p + "/input/" + std::to_string(i) + "/edid";
        e.push_back({"select", "input_" + std::to_string(i) + "_edid", "Input " + std::to_string(i) + " EDID",
                     ",\"state_topic\":" + Json(base) + ",\"command_topic\":" + Json(base + "/set") +
                         ",\"options\":[" + names + "],\"entity_category\":\"config\""});
    }
    for (const auto& [object, name] : {std::pair{"beep", "Beep"}, std::pair{"dvi", "DVI compatibility"}})
        e.push_back({"switch", object, name,
                     ",\"state_topic\":" + Json(p + "/" + object) + ",\"command_topic\":" +
                         Json(p + "/" + object + "/set") + ",\"entity_category\":\"config\""});
    for (int i = 1; i <= 4; ++i)
        e.push_back({"binary_sensor", "input_" + std::to_string(i) + "_signal", "Input " + std::to_string(i) + " signal",
                     ",\"state_topic\":" + Json(p + "/input/" + std::to_string(i) + "/signal") +
                         ",\"device_class\":\"connectivity\""});
    for (int o = 1; o <= 2; ++o)
        e.push_back({"binary_sensor", "output_" + std::to_string(o) + "_signal",
                     "Output " + std::to_string(o) + " signal",
                     ",\"state_topic\":" + Json(p + "/output/" + std::to_string(o) + "/signal") +
                         ",\"device_class\":\"connectivity\""});
    e.push_back({"sensor", "device", "Device", ",\"state_topic\":" + Json(p + "/device") +
                                                   ",\"entity_category\":\"diagnostic\""});
    e.push_back({"button", "refresh", "Refresh",
                 ",\"command_topic\":" + Json(p + "/refresh/set") + ",\"entity_category\":\"diagnostic\""});
    // The last command's outcome as its state, the whole result as its attributes.
    e.push_back({"sensor", "last_command", "Last command",
                 ",\"state_topic\":" + Json(t.Result()) +
                     ",\"value_template\":\"{{ 'ok' if value_json.ok else 'failed' }}\",\"json_attributes_topic\":" +
                     Json(t.Result()) + ",\"entity_category\":\"diagnostic\""});
    e.push_back({"sensor", "link", "Link",
                 ",\"state_topic\":" + Json(t.Switcher()) + ",\"entity_category\":\"diagnostic\"", true});
    if (!presets.empty()) {
        std::string options;
        for (const std::string& name : presets)
            options += std::string(options.empty() ? "" : ",") + Json(name);
        e.push_back({"select", "preset", "Preset",
                     ",\"state_topic\":" + Json(t.Preset()) + ",\"command_topic\":" + Json(p + "/preset/set") +
                         ",\"options\":[" + options + "]"});
    }
    return e;
}

std::string ConfigTopic(const std::string& discoveryPrefix, const std::string& node, const SEntity& e)
{
    return discoveryPrefix + "/" + e.component + "/" + node + "/" + e.object + "/config";
}

}  // namespace

std::vector<SMessage> DiscoveryMessages(const STopics& t, const std::string& discoveryPrefix, const std::string& id,
                                        const std::string& where, const SPublishedState& s,
                                        const std::vector<std::string>& presets)
{
    const std::string node = "corvane_" + id;
    std::string device = "{\"identifiers\":[" + Json(node) + "],\"name\":" + Json("Corvane " + where);
    if (!s.model.empty())
        device += ",\"model\":" + Json(s.model);
    if (!s.version.empty())
        device += ",\"sw_version\":" + Json(s.version);
    if (!s.mac.empty())
        device += ",\"connections\":[[\"mac\"," + Json(Lower(s.mac)) + "]]";
    device += "}";
    // Where the documents come from; the support address is the packager's (CORVANE_SUPPORT_URL).
    const std::string support = CORVANE_SUPPORT_URL;
    const std::string origin = ",\"origin\":{\"name\":\"corvane-mqtt\",\"sw_version\":" + Json(CORVANE_VERSION) +
                               (support.empty() ? "" : ",\"support_url\":" + Json(support)) + "}";
    const std::string both = ",\"availability\":[{\"topic\":" + Json(t.Bridge()) + "},{\"topic\":" +
                             Json(t.Switcher()) + "}],\"availability_mode\":\"all\"";
    const std::string bridge = ",\"availability\":[{\"topic\":" + Json(t.Bridge()) + "}]";
    std::vector<SMessage> m;
    for (const SEntity& e : Entities(t, presets))
        m.push_back({ConfigTopic(discoveryPrefix, node, e), "{\"name\":" + Json(e.name) + ",\"unique_id\":" +
                                                                Json(node + "_" + e.object) + e.fields +
                                                                (e.bridgeOnly ? bridge : both) + ",\"device\":" +
                                                                device + origin + "}"});
    return m;
}

std::vector<SMessage> DiscoveryRemoval(const STopics& t, const std::string& discoveryPrefix, const std::string& id)
{
    std::vector<SMessage> m;
    for (const SEntity& e : Entities(t, {"-"}))  // the preset select too, if there ever was one
        m.push_back({ConfigTopic(discoveryPrefix, "corvane_" + id, e), ""});
    return m;
}

}  // namespace corvane::mqtt
