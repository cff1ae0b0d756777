#include "service/requests.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>

#include <algorithm>
#include <cctype>
#include <cstring>

#include "core/scene/json.h"

namespace corvane::service {

namespace {
std::string Lower(std::string_view s)
{
    std::string r(s);
    std::transform(r.begin(), r.end(), r.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return r;
}

struct SField {
    const char* name;
    SJson::Type type;
};
struct SCommandShape {
    const char* name;
    SUnitCommand::Kind kind;
    std::vector<SField> fields;  // every one required
};
const std::vector<SCommandShape>& Shapes()
{
    using K = SUnitCommand::Kind;
    using T = SJson::Type;
    static const std::vector<SCommandShape> shapes{
        {"route", K::Route, {{"output", T::Number}, {"input", T::Number}}},
        {"beep", K::Beep, {{"beep", T::Bool}}},
        {"dvi", K::Dvi, {{"dvi", T::Bool}}},
        {"edid", K::Edid, {{"input", T::Number}, {"edid", T::String}}},
        {"scene", K::Scene, {{"scene", T::String}}},
        {"refresh", K::Refresh, {}},
    };
    return shapes;
}

// A whole number in [low, high], else nothing with the reason.
std::optional<int> Number(const SJson& j, const char* name, int low, int high, std::string& error)
{
    if (!j.integer || *j.integer < low || *j.integer > high) {
        error = std::string("\"") + name + "\" must be a whole number from " + std::to_string(low) + " to " +
                std::to_string(high);
        return std::nullopt;
    }
    return static_cast<int>(*j.integer);
}
}  // namespace

std::string HostPart(std::string_view value, bool origin)
{
    std::string_view v = value;
    if (origin) {
        const auto scheme = v.find("://");
        if (scheme == std::string_view::npos)
            return {};
        const std::string s = Lower(v.substr(0, scheme));
        if (s != "http" && s != "https")
            return {};
        v.remove_prefix(scheme + 3);
        if (v.find('/') != std::string_view::npos)
            return {};
    }
    if (v.empty() || v.find_first_of(" \t@/?#") != std::string_view::npos)
        return {};
    std::string_view host;
    if (v.front() == '[') {
        const auto close = v.find(']');
        if (close == std::string_view::npos)
            return {};
        host = v.substr(1, close - 1);
        v.remove_prefix(close + 1);
        if (!v.empty() && v.front() != ':')
            return {};
    } else {
        const auto colon = v.find(':');
        host = v.substr(0, colon);
        v.remove_prefix(colon == std::string_view::npos ? v.size() : colon);
    }
    if (!v.empty()) {  // ":PORT"
        v.remove_prefix(1);
        if (v.empty() || v.size() > 5 || !std::all_of(v.begin(), v.end(), [](char c) { return c >= '0' && c <= '9'; }))
            return {};
    }
    std::string h = Lower(host);
    if (!h.empty() && h.back() == '.')  // "localhost." names the same host
        h.pop_back();
    return h;
}

namespace {
// Whether an address literal ("192.0.2.1", "fe80::1") is one of the machine's interfaces' now.
bool IsMachineAddress(const std::string& text)
{
    in_addr v4{};
    in6_addr v6{};
    const bool isV4 = inet_pton(AF_INET, text.c_str(), &v4) == 1;
    if (!isV4 && inet_pton(AF_INET6, text.c_str(), &v6) != 1)
        return false;
    ifaddrs* all = nullptr;
    if (getifaddrs(&all) != 0)
        return false;
    bool found = false;
    for (const ifaddrs* a = all; a && !found; a = a->ifa_next) {
        if (!a->ifa_addr)
            continue;
        if (isV4 && a->ifa_addr->sa_family == AF_INET)
            found = std::memcmp(&reinterpret_cast<const sockaddr_in*>(a->ifa_addr)->sin_addr, &v4, sizeof v4) == 0;
        else if (!isV4 && a->ifa_addr->sa_family == AF_INET6)
            found = std::memcmp(&reinterpret_cast<const sockaddr_in6*>(a->ifa_addr)->sin6_addr, &v6, sizeof v6) == 0;
    }
    freeifaddrs(all);
    return found;
}
}  // namespace

SAllowedHosts AllowedHosts(const std::string& boundAddress, const std::vector<std::string>& webNames)
{
    SAllowedHosts a{{"localhost", "127.0.0.1", "::1"}};
    a.machine = boundAddress.empty();
    if (!boundAddress.empty())
        a.names.push_back(Lower(boundAddress));
    for (const auto& n : webNames)
        a.names.push_back(HostPart(n, false));
    return a;
}

bool SAllowedHosts::Names(const std::string& host) const
{
    return !host.empty() &&
           (std::find(names.begin(), names.end(), host) != names.end() || (machine && IsMachineAddress(host)));
}

bool SAllowedHosts::Allows(std::string_view hostHeader) const { return Names(HostPart(hostHeader, false)); }

bool SAllowedHosts::AllowsOrigin(std::string_view origin, bool present) const
{
    return !present || Names(HostPart(origin, true));
}

bool SameSecret(std::string_view a, std::string_view b)
{
    unsigned char diff = a.size() == b.size() ? 0 : 1;
    for (std::size_t i = 0; i < a.size(); ++i)
        diff |= static_cast<unsigned char>(a[i] ^ (i < b.size() ? b[i] : 0));
    return diff == 0;
}

bool IsCommandName(const std::string& name)
{
    return std::any_of(Shapes().begin(), Shapes().end(), [&](const SCommandShape& s) { return name == s.name; });
}

std::optional<SUnitCommand> ParseCommand(const std::string& name, std::string_view body,
                                         const std::vector<SNamedScene>& scenes, std::string& error)
{
    SJson doc;
    doc.type = SJson::Type::Object;
    if (body.find_first_not_of(" \t\r\n") != std::string_view::npos) {
        std::string why;
        auto parsed = ParseJson(body, why);
        if (!parsed) {
            error = "the body is not JSON: " + why;
            return std::nullopt;
        }
        doc = std::move(*parsed);
    }
    if (doc.type != SJson::Type::Object) {
        error = std::string("the body must be an object, not ") + JsonTypeName(doc.type);
        return std::nullopt;
    }
    return ParseCommandJson(name, doc, scenes, error);
}

std::optional<SUnitCommand> ParseCommandJson(const std::string& name, const SJson& doc,
                                             const std::vector<SNamedScene>& scenes, std::string& error,
                                             const std::vector<std::string>& ignored)
{
    const auto shape = std::find_if(Shapes().begin(), Shapes().end(), [&](const SCommandShape& s) { return name == s.name; });
    if (shape == Shapes().end()) {
        error = "no such command";
        return std::nullopt;
    }
    for (const std::string& key : doc.keys) {
        if (std::find(ignored.begin(), ignored.end(), key) != ignored.end())
            continue;
        if (std::none_of(shape->fields.begin(), shape->fields.end(), [&](const SField& f) { return key == f.name; })) {
            error = "unknown field \"" + key + "\"";
            return std::nullopt;
        }
    }
    for (const SField& f : shape->fields) {
        const SJson* v = doc.Find(f.name);
        if (!v) {
            error = std::string("missing field \"") + f.name + "\"";
            return std::nullopt;
        }
        if (v->type != f.type) {
            error = std::string("\"") + f.name + "\" must be " + JsonTypeName(f.type) + ", not " + JsonTypeName(v->type);
            return std::nullopt;
        }
    }
    SUnitCommand c;
    c.kind = shape->kind;
    using K = SUnitCommand::Kind;
    switch (c.kind) {
    case K::Route: {
        const auto output = Number(*doc.Find("output"), "output", 1, 2, error);
        if (!output)
            return std::nullopt;
        const auto input = Number(*doc.Find("input"), "input", 1, 4, error);
        if (!input)
            return std::nullopt;
        c.output = *output;
        c.input = *input;
        break;
    }
    case K::Beep: c.on = doc.Find("beep")->boolean; break;
    case K::Dvi: c.on = doc.Find("dvi")->boolean; break;
    case K::Edid: {
        const auto input = Number(*doc.Find("input"), "input", 1, 4, error);
        if (!input)
            return std::nullopt;
        const auto edid = ParseBuiltInEdid(doc.Find("edid")->text);
        if (!edid) {
            error = "no built-in EDID is called " + JsonString(doc.Find("edid")->text);
            return std::nullopt;
        }
        c.input = *input;
        c.edid = *edid;
        break;
    }
    case K::Scene: {
        const std::string& wanted = doc.Find("scene")->text;
        const auto s = std::find_if(scenes.begin(), scenes.end(), [&](const SNamedScene& n) { return n.name == wanted; });
        if (s == scenes.end()) {
            error = "no scene is called " + JsonString(wanted);
            return std::nullopt;
        }
        c.scene = *s;
        break;
    }
    case K::Refresh: break;
    }
    return c;
}

}  // namespace corvane::service
