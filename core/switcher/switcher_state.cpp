#include "core/switcher/switcher_state.h"

namespace corvane {

namespace {
template <typename T>
bool Differs(const std::optional<T>* was, const std::optional<T>& now)
{
    return now && (!was || !*was || !(**was == *now));
}

bool SignalDiffers(const std::optional<SSignalLine>* was, const std::optional<SSignalLine>& now)
{
    return now && (!was || !*was || (*was)->connected != now->connected);
}
}  // namespace

std::vector<SStateChange> StateChanges(const SSwitcherState* was, const SSwitcherState& now)
{
    std::vector<SStateChange> d;
    for (int i = 0; i < 4; ++i)
        if (SignalDiffers(was ? &was->inputs[i] : nullptr, now.inputs[i]))
            d.push_back({EStateItem::InputSignal, i + 1});
    for (int o = 0; o < 2; ++o)
        if (SignalDiffers(was ? &was->outputs[o] : nullptr, now.outputs[o]))
            d.push_back({EStateItem::OutputSignal, o + 1});
    if (Differs(was ? &was->beep : nullptr, now.beep))
        d.push_back({EStateItem::Beep, 0});
    if (Differs(was ? &was->dvi : nullptr, now.dvi))
        d.push_back({EStateItem::Dvi, 0});
    for (int o = 0; o < 2; ++o)
        if (now.routes[o] != 0 && (!was || was->routes[o] != now.routes[o]))
            d.push_back({EStateItem::Route, o + 1});
    for (int i = 0; i < 4; ++i)
        if (Differs(was ? &was->edids[i] : nullptr, now.edids[i]))
            d.push_back({EStateItem::Edid, i + 1});
    if (Differs(was ? &was->device : nullptr, now.device))
        d.push_back({EStateItem::Device, 0});
    return d;
}

std::string StateValueText(const SSwitcherState& s, const SStateChange& c)
{
    const auto signal = [](const std::optional<SSignalLine>& line) -> std::string {
        return line ? (line->connected ? "Connect" : "Disconnect") : "?";
    };
    const auto onOff = [](const std::optional<bool>& b) -> std::string { return b ? OnOffText(*b) : "?"; };
    switch (c.item) {
    case EStateItem::InputSignal: return signal(s.inputs.at(c.number - 1));
    case EStateItem::OutputSignal: return signal(s.outputs.at(c.number - 1));
    case EStateItem::Route: {
        const int in = s.routes.at(c.number - 1);
        return in ? "IN " + std::to_string(in) : "?";
    }
    case EStateItem::Beep: return onOff(s.beep);
    case EStateItem::Dvi: return onOff(s.dvi);
    case EStateItem::Edid: return s.edids.at(c.number - 1).value_or("?");
    case EStateItem::Device: return s.device ? s.device->Line() : "?";
    }
    return "?";
}

}  // namespace corvane
