#include "mqtt/topics.h"

#include <cctype>

#include "core/edid/edid_names.h"
#include "core/scene/json.h"
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

std::string SwitcherId(const SLinkAddress& address, const std::string& mac)
{
    if (!mac.empty())
        return SanitizeId(mac);
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

SParsedCommand ParseCommand(const STopics& t, const std::string& topic, const std::string& payload)
{
    SParsedCommand r;
    const std::string head = t.prefix + "/";
    const std::string tail = "/set";
    if (topic.size() <= head.size() + tail.size() || topic.rfind(head, 0) != 0 ||
        topic.compare(topic.size() - tail.size(), tail.size(), tail) != 0)
        return r;
    r.name = topic.substr(head.size(), topic.size() - head.size() - tail.size());
    using K = SCommand::Kind;
    SCommand& c = r.command;
    auto fail = [&r](std::string why) {
        r.error = std::move(why);
        return r;
    };
    if (const int o = NumberedTopic(r.name, "output/", "/input", 2)) {
        c = {K::Route, o, InputNumber(payload), false, nullptr, {}};
        if (!c.value)
            return fail("expected an input, 1 to 4 (or IN 1 to IN 4), not \"" + payload + "\"");
    } else if (r.name == "beep" || r.name == "dvi") {
        const auto on = Switch(payload);
        if (!on)
            return fail("expected ON or OFF, not \"" + payload + "\"");
        c = {r.name == "beep" ? K::Beep : K::Dvi, 0, 0, *on, nullptr, {}};
    } else if (const int i = NumberedTopic(r.name, "input/", "/edid", 4)) {
        const auto edid = ParseBuiltInEdid(payload);
        if (!edid)
            return fail("\"" + payload + "\" is not an EDID of the switcher's list (\"" + EdidListName(0) +
                        "\" ... \"" + EdidListName(kEdidNames - 1) + "\")");
        c = {K::EdidPreset, i, 0, false, nullptr, *edid};
    } else if (r.name == "scene/apply") {
        std::string why;
        auto scene = ParseScene(payload, why);
        if (!scene)
            return fail("not a scene: " + why);
        c = {K::Scene, 0, 0, false, std::make_shared<const SScene>(std::move(*scene)), {}};
    } else if (r.name == "refresh") {
        c = {K::Refresh, 0, 0, false, nullptr, {}};
    } else {
        return fail("unknown command topic " + topic);
    }
    r.ok = true;
    return r;
}

std::string ResultJson(const std::string& name, const std::string& value, const SOutcome& outcome)
{
    std::string j = "{\"command\":" + Json(name);
    if (name != "scene/apply")
        j += ",\"value\":" + Json(value);
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
};

std::vector<SEntity> Entities(const STopics& t)
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
                     ",\"state_topic\":" + Json(p + "/input/" + std::to_string(i) + "/signal")});
    for (int o = 1; o <= 2; ++o)
        e.push_back({"binary_sensor", "output_" + std::to_string(o) + "_signal",
                     "Output " + std::to_string(o) + " signal",
                     ",\"state_topic\":" + Json(p + "/output/" + std::to_string(o) + "/signal")});
    e.push_back({"sensor", "device", "Device", ",\"state_topic\":" + Json(p + "/device") +
                                                   ",\"entity_category\":\"diagnostic\""});
    e.push_back({"button", "refresh", "Refresh", ",\"command_topic\":" + Json(p + "/refresh/set")});
    return e;
}

std::string ConfigTopic(const std::string& discoveryPrefix, const std::string& node, const SEntity& e)
{
    return discoveryPrefix + "/" + e.component + "/" + node + "/" + e.object + "/config";
}

}  // namespace

std::vector<SMessage> DiscoveryMessages(const STopics& t, const std::string& discoveryPrefix, const std::string& id,
                                        const std::string& where, const SPublishedState& s)
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
    const std::string availability = ",\"availability\":[{\"topic\":" + Json(t.Bridge()) + "},{\"topic\":" +
                                     Json(t.Switcher()) + "}],\"availability_mode\":\"all\"";
    std::vector<SMessage> m;
    for (const SEntity& e : Entities(t))
        m.push_back({ConfigTopic(discoveryPrefix, node, e), "{\"name\":" + Json(e.name) + ",\"unique_id\":" +
                                                                Json(node + "_" + e.object) + e.fields +
                                                                availability + ",\"device\":" + device + "}"});
    return m;
}

std::vector<SMessage> DiscoveryRemoval(const STopics& t, const std::string& discoveryPrefix, const std::string& id)
{
    std::vector<SMessage> m;
    for (const SEntity& e : Entities(t))
        m.push_back({ConfigTopic(discoveryPrefix, "corvane_" + id, e), ""});
    return m;
}

}  // namespace corvane::mqtt
