#include "core/switcher/state_json.h"

#include "core/scene/json.h"

#include <chrono>
#include <cstdio>
#include <ctime>

namespace corvane {

std::string ChangeTimestamp()
{
    using namespace std::chrono;
    const auto now = system_clock::now();
    const std::time_t t = system_clock::to_time_t(now);
    const auto ms = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm local{};
    localtime_r(&t, &local);
    char date[32], zone[8];
    std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &local);
    std::strftime(zone, sizeof zone, "%z", &local);
    char text[48];
    std::snprintf(text, sizeof text, "%s.%03d%.3s:%.2s", date, static_cast<int>(ms), zone, zone + 3);
    return text;
}

const char* JsonBool(bool b) { return b ? "true" : "false"; }

std::string DeviceJson(const SDeviceInfo& d)
{
    return "{\"line\":" + JsonString(d.Line()) + ",\"type\":" + JsonString(d.TypeName()) +
           ",\"size\":" + JsonString(d.Size()) + ",\"version\":" + JsonString(d.Version()) +
           ",\"build\":" + JsonString(d.build) + "}";
}

std::string StatusJson(const SSwitcherState& v)
{
    std::string out = "{\"inputs\":[";
    for (int i = 0; i < 4; ++i)
        out += std::string(i ? "," : "") + "{\"input\":" + std::to_string(i + 1) +
               ",\"signal\":" + JsonBool(v.inputs[i] && v.inputs[i]->connected) +
               ",\"edid\":" + JsonString(v.edids[i].value_or("")) + "}";
    out += "],\"outputs\":[";
    for (int o = 0; o < 2; ++o)
        out += std::string(o ? "," : "") + "{\"output\":" + std::to_string(o + 1) +
               ",\"signal\":" + JsonBool(v.outputs[o] && v.outputs[o]->connected) +
               ",\"input\":" + std::to_string(v.routes[o]) + "}";
    out += std::string("],\"beep\":") + JsonBool(v.beep.value_or(false)) + ",\"dvi\":" + JsonBool(v.dvi.value_or(false)) +
           ",\"device\":" + (v.device ? DeviceJson(*v.device) : "null") + "}";
    return out;
}

std::vector<SChangeJson> ChangesJson(const SSwitcherState* was, const SSwitcherState& now)
{
    std::vector<SChangeJson> changes;
    for (const SStateChange& c : StateChanges(was, now)) {
        SChangeJson j{c, {}, {}, {}};
        const std::string n = std::to_string(c.number);
        switch (c.item) {
        case EStateItem::InputSignal:
        case EStateItem::OutputSignal: {
            const bool output = c.item == EStateItem::OutputSignal;
            const SSignalLine& s = output ? *now.outputs[c.number - 1] : *now.inputs[c.number - 1];
            j.fields = std::string(output ? "\"output\":" : "\"input\":") + n + ",\"signal\":" + JsonBool(s.connected);
            if (was)
                j.was = JsonBool(!s.connected);
            j.line = s.text;
            break;
        }
        case EStateItem::Route:
            j.fields = "\"output\":" + n + ",\"route\":" + std::to_string(now.routes[c.number - 1]);
            if (was)
                j.was = std::to_string(was->routes[c.number - 1]);
            j.line = "OUTPUT " + n + ": " + StateValueText(now, c);
            break;
        case EStateItem::Beep:
        case EStateItem::Dvi: {
            const bool beep = c.item == EStateItem::Beep;
            const bool on = *(beep ? now.beep : now.dvi);
            j.fields = std::string(beep ? "\"beep\":" : "\"dvi\":") + JsonBool(on);
            if (was)
                j.was = JsonBool(!on);
            j.line = std::string(beep ? "Beep: " : "DVI compatibility: ") + OnOffText(on);
            break;
        }
        case EStateItem::Edid:
            j.fields = "\"input\":" + n + ",\"edid\":" + JsonString(*now.edids[c.number - 1]);
            if (was)
                j.was = JsonString(was->edids[c.number - 1].value_or(""));
            j.line = "EDID IN" + n + ": " + *now.edids[c.number - 1];
            break;
        case EStateItem::Device: continue;  // a change of firmware comes with a reboot: not a watched item
        }
        changes.push_back(std::move(j));
    }
    return changes;
}

}  // namespace corvane
