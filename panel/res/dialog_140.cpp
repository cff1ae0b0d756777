// Template 140: the EDID page, a child of the main window shown below its band. The "Manual
// Mode" group holds three rows (a preset, a display's EDID, an EDID file), each ending in a
// target list and its "Set"; the "Input EDID List" shows the EDID each input uses.
#include "panel/res/dialog_template.h"

namespace corvane {

namespace {
constexpr ControlTemplate kControls140[] = {
    {1079, Ctl::GroupBox, "Manual Mode", 8, 6, 321, 100},
    {0, Ctl::GroupBox, "Input EDID List", 8, 114, 321, 96},

    {1080, Ctl::Static, "Set EDID Mode", 16, 26, 60, 10},
    {1081, Ctl::DropDown, "", 78, 24, 110, 160},
    {1082, Ctl::Static, "to", 194, 26, 10, 10},
    {1083, Ctl::DropDown, "", 206, 24, 56, 80},
    {1084, Ctl::PushButton, "Set", 270, 23, 50, 14},

    {1085, Ctl::Static, "Copy EDID From", 16, 52, 60, 10},
    {1086, Ctl::DropDown, "", 78, 50, 110, 60},
    {1087, Ctl::Static, "to", 194, 52, 10, 10},
    {1088, Ctl::DropDown, "", 206, 50, 56, 80},
    {1089, Ctl::PushButton, "Set", 270, 49, 50, 14},

    {1103, Ctl::Static, "Open EDID", 16, 78, 60, 10},
    {1104, Ctl::PushButton, "...", 78, 76, 18, 14},
    {1042, Ctl::Edit, "", 100, 76, 88, 14},  // read-only
    {1090, Ctl::Static, "to", 194, 78, 10, 10},
    {1091, Ctl::DropDown, "", 206, 76, 56, 80},
    {1092, Ctl::PushButton, "Set", 270, 75, 50, 14},

    {1105, Ctl::Static, "IN1:", 16, 132, 22, 10},
    {1106, Ctl::Static, "IN2:", 16, 150, 22, 10},
    {1107, Ctl::Static, "IN3:", 16, 168, 22, 10},
    {1108, Ctl::Static, "IN4:", 16, 186, 22, 10},
    {1109, Ctl::Static, "Default EDID", 42, 132, 150, 10},
    {1110, Ctl::Static, "Default EDID", 42, 150, 150, 10},
    {1111, Ctl::Static, "Default EDID", 42, 168, 150, 10},
    {1112, Ctl::Static, "Default EDID", 42, 186, 150, 10},
    {1113, Ctl::PushButton, "Status", 270, 184, 50, 14},
};
}  // namespace

const DialogTemplate kDialog140{140, 337, 217, "", kControls140};
[[maybe_unused]] const bool registered = RegisterTemplate(kDialog140);

}  // namespace corvane
