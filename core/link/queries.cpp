#include "core/link/queries.h"

#include <cstdio>

namespace corvane {

namespace {
uint8_t Byte(int n) { return static_cast<uint8_t>(n); }
}  // namespace

Frame InputSignalQuery(int input) { return MakeFrame({GROUP_DEVICE, STATUS_INPUT, Byte(input)}); }
Frame OutputSignalQuery(int output) { return MakeFrame({GROUP_DEVICE, STATUS_OUTPUT, Byte(output)}); }
Frame BeepStatusQuery() { return MakeFrame({GROUP_DEVICE, STATUS_BEEP}); }
Frame DviStatusQuery() { return MakeFrame({GROUP_DEVICE, STATUS_DVI_EDID}); }
Frame EdidStatusQuery(int input) { return MakeFrame({GROUP_DEVICE, STATUS_DVI_EDID, Byte(input)}); }
Frame RouteQuery(int output) { return MakeFrame({GROUP_ROUTE, ROUTE_QUERY, Byte(output)}); }

Frame DeviceQuery(uint8_t code)
{
    const uint8_t tag = code == DEVICE_BUILD ? 0x00 : DEVICE_QUERY_TAG;
    return MakeFrame({GROUP_DEVICE, code, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, tag});
}

Frame RebootCheck() { return MakeFrame({GROUP_DEVICE, DEVICE_TYPE}); }

bool IsRefusal(const Frame& r, const Frame& sent)
{
    return r[2] == sent[2] && r[3] == sent[3] && r[4] == 0xEE && r[6] == 0xEE;
}

std::string EdidStepText(const Frame& c, int target)
{
    if (c[2] == 0x03 && (c[3] == 0x06 || c[3] == 0x07) && c[4] == 0x56)
        return target >= 0 && target < 4 ? "the EDID file data to input " + std::to_string(target + 1)
                                         : "the EDID file data to all inputs";
    return CommandText(c);
}

std::string CommandText(const Frame& c)
{
    const std::string n4 = std::to_string(c[4]), n6 = std::to_string(c[6]);
    switch (c[2]) {
    case 0x01:
        switch (c[3]) {
        case DEVICE_TYPE: return c[10] == DEVICE_QUERY_TAG ? "the device-type query" : "the reboot check";
        case DEVICE_SIZE: return "the size query";
        case DEVICE_VERSION: return "the version query";
        case DEVICE_BUILD: return "the build-text query";
        case STATUS_INPUT: return "the signal query of input " + n4;
        case STATUS_OUTPUT: return "the signal query of output " + n4;
        case STATUS_BEEP: return "the beeper query";
        case STATUS_DVI_EDID: return c[4] == 0 ? "the DVI compatibility query" : "the EDID query of input " + n4;
        default: break;
        }
        break;
    case 0x02:
        if (c[3] == ROUTE_QUERY)
            return "the route query of output " + n4;
        if (c[3] == 0x03)
            return "route input " + n4 + " to output " + n6;
        break;
    case 0x03:
        switch (c[3]) {
        case 0x08: return "the EDID set request";
        case 0x01: return "built-in EDID " + n4 + " to all inputs";
        case 0x02: return "built-in EDID to input " + n6;
        case 0x03: return "the EDID of output " + n4 + " to all inputs";
        case 0x04: return "the EDID of output " + n4 + " to input " + n6;
        case 0x06: return c[4] == 0x56 ? "the EDID file data to all inputs" : "the EDID file to all inputs";
        case 0x07: return c[4] == 0x56 ? "the EDID file data to input " + n4 : "the EDID file to input " + n4;
        case 0x09: return "the default EDID to all inputs";
        default: break;
        }
        break;
    case 0x06: return c[4] == 0x0F ? "switching the beeper on" : "switching the beeper off";
    case 0x07: return c[4] == 0x0F ? "switching DVI compatibility on" : "switching DVI compatibility off";
    case 0x0A:
        if (c[3] == 0x06)
            return "route input " + n4 + " to output 2";
        break;
    case 0x20:
        switch (c[4]) {
        case 0x01: return "the upgrade request";
        case 0x80: return "request 0x80";
        case 0x10: return "request 0x10";
        case 0xAA:
        case 0x56: return "a firmware packet";
        default: break;
        }
        break;
    default: break;
    }
    return "the command " + HexText(std::span<const uint8_t>(c.data() + 2, 5));
}

std::string SDeviceInfo::TypeName() const
{
    switch (type) {
    case 0x01: return "Corvane";
    case 0x02: return "Brisel";
    default: return "Corvane+Brisel";
    }
}

std::string SDeviceInfo::Size() const { return std::to_string(inputs) + "x" + std::to_string(outputs); }
std::string SDeviceInfo::Version() const { return std::to_string(major) + "." + std::to_string(minor); }

std::string SDeviceInfo::Line() const
{
    return "Device: " + TypeName() + " " + Size() + "     Version:" + Version() + "-" + build;
}

}  // namespace corvane
