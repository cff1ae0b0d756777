// The serial ports of the machine as the "Port" drop-down list shows them: enumeration with an
// open test, port numbers taken from the friendly names, and an update of the list that keeps
// the operator's choice. Everything here runs on the user-interface thread.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/link/port_combo.h"
#include "transport/serial_device.h"

namespace corvane {

struct SPortInfo {
    std::string devicePath;    // the path the port is opened by
    std::string portName;      // "COM3"; empty when unknown
    std::string friendlyName;  // "<description> (COM3)"
    bool usbDevice = false;
    std::string description;   // parentheses become brackets: only "(COMn)" is in parentheses
};

inline constexpr int kMaxPorts = 256;

// Port-list state of the main window.
extern std::array<uint8_t, kMaxPorts> g_PortNumbers;        // latest enumeration, list order
extern std::array<std::string, kMaxPorts> g_PortDigitTexts;  // digit text of each number
extern std::array<uint8_t, kMaxPorts> g_PrevPortNumbers;     // numbers shown, list order
extern int g_nPrevPortCount;                                 // entries of the list
// Back to the start-up values (tests).
void ResetPortListState();

// Empties `list` and fills it with the ports that exist and can be opened exclusively right
// now, ordered by port number; `denied`, when given, gets the ports that exist but that this
// user may not open (on Debian: not in the dialout group), `held` those another program holds.
// Returns an error text when the ports cannot be listed.
std::optional<std::string> ListSerialPorts(std::vector<SPortInfo>& list, const SPortPaths& paths,
                                           std::vector<SPortInfo>* denied = nullptr,
                                           std::vector<SPortInfo>* held = nullptr);
std::optional<std::string> ListSerialPorts(std::vector<SPortInfo>& list);

// What to do about a port that exists but may not be opened, in one line.
inline constexpr const char* kDialoutHint =
    "add yourself to the dialout group (sudo adduser $USER dialout) and log in again";

// The digits of a friendly name: "Prolific (COM12)" -> "12"; without "(COM" the first three
// characters are dropped instead; without a closing ")" the result is empty.
std::string PortDigitText(std::string_view friendlyName);
// Up to three characters, 8-bit arithmetic; a non-digit counts 0 in its place; other
// lengths give 0.
uint8_t ParsePortDigits(std::string_view text);
// Stable ascending insertion sort of the first `count` entries of g_PortNumbers.
void SortPortNumbers(int count);
// Brings the list in line with the first n entries of g_PortNumbers, keeping the selection
// when its port still exists; untouched when nothing changed.
void UpdatePortCombo(IPortCombo& combo, int n);
// The refresh after the enumeration: numbers from the friendly names, the list update and
// the remembered state.
void ApplyPortList(const std::vector<SPortInfo>& ports, IPortCombo& combo);

using PortErrorFn = std::function<void(const std::string&)>;
// The refresh run at initialisation and on every TIMER_PORT_POLL tick. When the ports cannot
// be listed the drop-down list stays as it is and the error text goes to onError (stderr when
// empty) once: again only after a listing succeeded or the text changed. False on error.
// A port that exists but may not be opened is named once per run on the same channel, with
// the hint.
bool RefreshPortList(IPortCombo& combo, const SPortPaths& paths, const PortErrorFn& onError = {});
bool RefreshPortList(IPortCombo& combo, const PortErrorFn& onError = {});

}  // namespace corvane
