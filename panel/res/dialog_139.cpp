// Template 139: the network configuration, 200 x 118 units (350 x 236 pixels), no caption or
// frame; the top 25 pixels are the painted title band with the close button.
#include "panel/res/dialog_template.h"

namespace corvane {

namespace {
constexpr ControlTemplate kControls139[] = {
    {1072, Ctl::IconButton, "Close", 186, 0, 14, 12},  // placed at the band's right end
    {1064, Ctl::GroupBox, "Device Information", 7, 18, 186, 74},
    {1065, Ctl::Radio, "Auto IP", 17, 32, 60, 10},
    {1066, Ctl::Radio, "Static IP", 90, 32, 60, 10},
    {1067, Ctl::Static, "IP Address", 17, 52, 42, 10},
    {1042, Ctl::Edit, "", 62, 50, 24, 12},
    {0, Ctl::StaticCentered, ".", 86, 50, 6, 12},
    {1043, Ctl::Edit, "", 92, 50, 24, 12},
    {0, Ctl::StaticCentered, ".", 116, 50, 6, 12},
    {1044, Ctl::Edit, "", 122, 50, 24, 12},
    {0, Ctl::StaticCentered, ".", 146, 50, 6, 12},
    {1045, Ctl::Edit, "", 152, 50, 24, 12},
    {1077, Ctl::Static, "MAC", 17, 72, 42, 10},
    {1078, Ctl::Edit, "", 62, 70, 16, 12},
    {0, Ctl::StaticCentered, "-", 78, 70, 6, 12},
    {1079, Ctl::Edit, "", 84, 70, 16, 12},
    {0, Ctl::StaticCentered, "-", 100, 70, 6, 12},
    {1080, Ctl::Edit, "", 106, 70, 16, 12},
    {0, Ctl::StaticCentered, "-", 122, 70, 6, 12},
    {1081, Ctl::Edit, "", 128, 70, 16, 12},
    {0, Ctl::StaticCentered, "-", 144, 70, 6, 12},
    {1082, Ctl::Edit, "", 150, 70, 16, 12},
    {0, Ctl::StaticCentered, "-", 166, 70, 6, 12},
    {1083, Ctl::Edit, "", 172, 70, 16, 12},
    {1070, Ctl::PushButton, "OK", 86, 98, 50, 14},
    {1071, Ctl::PushButton, "Cancel", 143, 98, 50, 14},
};
}  // namespace

const DialogTemplate kDialog139{139, 200, 118, "", kControls139};
[[maybe_unused]] const bool registered = RegisterTemplate(kDialog139);

}  // namespace corvane
