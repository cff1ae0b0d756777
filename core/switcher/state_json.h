// The switcher's state as JSON, in the field names every front end shares: the status document
// (corvanectl status --json, the service's switcher document) and one object per change
// (corvanectl watch --json, the service's event stream).
#pragma once

#include <string>
#include <vector>

#include "core/pages/firmware_page.h"
#include "core/switcher/switcher_state.h"

namespace corvane {

// The time of a change as every stream of changes stamps it: "2026-12-07T14:03:22.481+01:00", local time.
std::string ChangeTimestamp();
const char* JsonBool(bool b);
// {"line","type","size","version","build"}
std::string DeviceJson(const SDeviceInfo& device);
// {"inputs":[{"input","signal","edid"}...],"outputs":[{"output","signal","input"}...],"beep","dvi",
// "device"}: for a state that a whole status reading and the device reading filled.
std::string StatusJson(const SSwitcherState& state);

// One change: its fields ("\"output\":1,\"route\":3") and, when there was an earlier state, the
// old value as JSON ("2"); a line of text for people too.
struct SChangeJson {
    SStateChange change;
    std::string fields, was, line;
};
// Every change from was to now (every item of now without was), device line left out.
std::vector<SChangeJson> ChangesJson(const SSwitcherState* was, const SSwitcherState& now);

}  // namespace corvane
