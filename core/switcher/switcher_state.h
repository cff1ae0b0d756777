// What a switcher reports, in one structure: the signals on its inputs and outputs, the input
// each output shows, the beeper, DVI compatibility, each input's EDID and the device line. One
// reader fills it over the link (switcher_reader.h); one comparison tells what differs between
// two of them. The panel's read-backs, corvanectl's status, scenes, watch and the MQTT bridge
// all go through these.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "core/link/queries.h"
#include "core/pages/general_page.h"

namespace corvane {

struct SSwitcherState {
    // A value the reading did not reach is empty (a route: 0).
    std::array<std::optional<SSignalLine>, 4> inputs;   // as the General page's status wrote them
    std::array<std::optional<SSignalLine>, 2> outputs;
    std::array<int, 2> routes{0, 0};                    // the input (1..4) each output shows
    std::optional<bool> beep, dvi;
    std::array<std::optional<std::string>, 4> edids;    // the names the switcher reports
    std::optional<SDeviceInfo> device;
};

// One thing that differs between two states.
enum class EStateItem { InputSignal, OutputSignal, Route, Beep, Dvi, Edid, Device };
struct SStateChange {
    EStateItem item;
    int number = 0;  // the input or output; 0 for the beeper, DVI and the device
    bool operator==(const SStateChange&) const = default;
};

// Every item that `now` holds and `was` holds otherwise (or, without `was`, every item `now`
// holds), in a fixed order: input signals, output signals, beep, DVI, routes, EDIDs, device.
std::vector<SStateChange> StateChanges(const SSwitcherState* was, const SSwitcherState& now);

// An item's value in words: "Connect"/"Disconnect", "IN 2", "on"/"off", the EDID's name, the
// device line; "?" when the state does not hold it.
std::string StateValueText(const SSwitcherState& state, const SStateChange& item);

inline const char* OnOffText(bool on) { return on ? "on" : "off"; }

}  // namespace corvane
