// Template 102: the main window. Controls right of x = 339 or below y = 246 lie outside the
// window at its template size and come into view when the window is maximized.
#include "panel/res/dialog_template.h"

namespace corvane {

namespace {
constexpr ControlTemplate kControls102[] = {
    // Title band: close and minimize (placed at the top right when painted), the tab labels.
    {1002, Ctl::IconButton, "Close", 325, 0, 14, 12},
    {1005, Ctl::IconButton, "Minimize", 311, 0, 14, 12},
    {1008, Ctl::StaticCentered, "General", 1, 16, 62, 12},
    {1012, Ctl::StaticCentered, "Matrix", 64, 16, 62, 12},
    {1013, Ctl::StaticCentered, "FW Upgrade", 127, 16, 62, 12},
    {1011, Ctl::StaticCentered, "EDID", 345, 16, 62, 12},

    // General page, visible part.
    {1022, Ctl::GroupBox, "Device Information", 7, 36, 186, 146},
    {1026, Ctl::Static, "HDMI IN1: Disconnect", 12, 50, 85, 10},
    {1027, Ctl::Static, "HDMI IN2: Disconnect", 12, 64, 85, 10},
    {1028, Ctl::Static, "Static", 12, 78, 85, 10},
    {1029, Ctl::Static, "Static", 12, 92, 85, 10},
    {1030, Ctl::Static, "Static", 12, 106, 85, 10},
    {1031, Ctl::Static, "Static", 12, 120, 85, 10},
    {1032, Ctl::Static, "Static", 12, 134, 85, 10},
    {1033, Ctl::Static, "Static", 12, 148, 85, 10},
    {1034, Ctl::Static, "HDMI OUTA: Disconnect", 102, 50, 85, 10},
    {1035, Ctl::Static, "Static", 102, 64, 85, 10},
    {1036, Ctl::Static, "Static", 102, 78, 85, 10},
    {1037, Ctl::Static, "Static", 102, 92, 85, 10},
    {1038, Ctl::Static, "Static", 102, 106, 85, 10},
    {1039, Ctl::Static, "Static", 102, 120, 85, 10},
    {1040, Ctl::Static, "Static", 102, 134, 85, 10},
    {1041, Ctl::Static, "Static", 102, 148, 85, 10},
    {1024, Ctl::PushButton, "Status", 48, 190, 50, 14},
    {1025, Ctl::PushButton, "Clear", 104, 190, 50, 14},

    {1018, Ctl::GroupBox, "COM", 200, 36, 132, 60},
    {1019, Ctl::Static, "Port", 208, 53, 20, 10},
    {1020, Ctl::DropDown, "", 230, 51, 56, 13},
    {1021, Ctl::PushButton, "Connect", 208, 72, 50, 14},
    {0, Ctl::GroupBox, "DVI Compatibility", 200, 102, 132, 36},
    {1101, Ctl::CheckBox, "Enable DVI Compatibility", 208, 118, 118, 10},
    {1102, Ctl::Static, "", 200, 146, 132, 10},

    // Outside the template size: they come into view when the window is maximized, all of them
    // on a 1024 x 768 screen. The log panes lie to the right, the rest of the General page below.
    {1015, Ctl::GroupBox, "Control Mode Select", 7, 252, 150, 44},
    {1016, Ctl::Radio, "COM Control Mode", 17, 266, 120, 10},
    {1017, Ctl::Radio, "TCP Control Mode", 17, 280, 120, 10},
    {1063, Ctl::GroupBox, "TCP Control Mode", 7, 300, 150, 60},
    {1059, Ctl::Static, "Switcher IP", 15, 316, 44, 10},
    {1060, Ctl::DropDown, "", 60, 314, 90, 13},
    {1045, Ctl::PushButton, "Connect", 15, 336, 42, 14},
    {1046, Ctl::PushButton, "Search", 61, 336, 42, 14},
    {1047, Ctl::PushButton, "Config...", 107, 336, 42, 14},
    {1097, Ctl::GroupBox, "Reset to the factory settings", 163, 252, 150, 36},
    {1095, Ctl::PushButton, "Factory Reset", 173, 267, 60, 14},
    {1098, Ctl::GroupBox, "Disable/Enable Beep", 163, 292, 150, 32},
    {1096, Ctl::CheckBox, "Enable Beep", 173, 306, 100, 10},

    // Log panes (no page hides them; the panes themselves are made when first in sight).
    {0, Ctl::Static, "RX:", 345, 36, 20, 10},
    {1042, Ctl::MultiEdit, "", 345, 47, 230, 88},
    {0, Ctl::Static, "TX:", 345, 140, 20, 10},
    {1043, Ctl::MultiEdit, "", 345, 151, 230, 72},
    {1123, Ctl::PushButton, "clear", 530, 228, 45, 14},
};
}  // namespace

const DialogTemplate kDialog102{102, 339, 246, "4x2 Corvane Controller Ver" CORVANE_VERSION, kControls102};
[[maybe_unused]] const bool registered = RegisterTemplate(kDialog102);

}  // namespace corvane
