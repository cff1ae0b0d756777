// The switcher's queries and a few facts about its replies, in one place: every page, the main
// window and corvanectl build their queries here, recognise a refusal here and name a command
// in words here.
#pragma once

#include <cstdint>
#include <string>

#include "core/link/frame.h"

namespace corvane {

// Codes of the device group (byte 2 = 01) for the firmware page's device information.
enum : uint8_t {
    GROUP_DEVICE = 0x01,
    DEVICE_TYPE = 0x01,
    DEVICE_SIZE = 0x02,
    DEVICE_VERSION = 0x03,
    DEVICE_BUILD = 0x06,
    DEVICE_QUERY_TAG = 0xCC,  // byte 10 of the type, size and version queries and their replies
    STATUS_INPUT = 0x04,
    STATUS_OUTPUT = 0x05,
    STATUS_BEEP = 0x0B,
    STATUS_DVI_EDID = 0x0C,  // byte 4 = 0: DVI compatibility; 1..4: the EDID of that input
    GROUP_ROUTE = 0x02,
    ROUTE_QUERY = 0x01,
};

Frame InputSignalQuery(int input);
Frame OutputSignalQuery(int output);
Frame BeepStatusQuery();
Frame DviStatusQuery();
Frame EdidStatusQuery(int input);
Frame RouteQuery(int output);
// The device-type, size, version or build-text query (byte 10 CC but for the build text).
Frame DeviceQuery(uint8_t code);
// The device-type query without its tag, which the firmware page sends after a transfer.
Frame RebootCheck();

// The switcher's refusal of a command: bytes 2 and 3 of the command echoed, 0xEE where the
// answer would be (bytes 4 and 6).
bool IsRefusal(const Frame& reply, const Frame& sent);

// A command in words, for an operator who does not read frames: "route input 3 to output 1",
// "the EDID set request", "the device-type query". Frames it does not know give their bytes
// 2 to 6 in hexadecimal.
std::string CommandText(const Frame& command);
// As CommandText, but the EDID file's data step, which carries no input, is named by target
// (0..3 an input, 4 every input).
std::string EdidStepText(const Frame& command, int target);

// What the firmware page learned about the switcher: filled by the device information chain.
struct SDeviceInfo {
    uint8_t type = 0;  // 01, 02, any other
    uint8_t inputs = 0, outputs = 0;
    uint8_t major = 0, minor = 0;
    std::string build;  // up to eight characters, ending at the first NUL

    std::string TypeName() const;            // "Corvane", "Brisel", "Corvane+Brisel"
    std::string Size() const;                // "4x2"
    std::string Version() const;             // "1.32"
    // "Device: Corvane 4x2     Version:1.32-20261207", as the page's information line shows it.
    std::string Line() const;
    bool operator==(const SDeviceInfo&) const = default;
};

}  // namespace corvane
