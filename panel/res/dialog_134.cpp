// Template 134: the routing page, a child of the main window shown below its band. One group
// per output: the digit of the routed input between the previous and next buttons, and an IN
// button per input. Output 2's IN buttons do not follow the id order of output 1's.
#include "panel/res/dialog_template.h"

namespace corvane {

namespace {
constexpr ControlTemplate kControls134[] = {
    {0, Ctl::GroupBox, "OUTPUT 1", 8, 10, 156, 100},
    {0, Ctl::GroupBox, "OUTPUT 2", 173, 10, 156, 100},

    {1114, Ctl::Picture, "146", 63, 28, 0, 0},  // size of the bitmap
    {1120, Ctl::Picture, "146", 228, 28, 0, 0},

    {1101, Ctl::PushButton, "IN1", 14, 84, 32, 16},
    {1102, Ctl::PushButton, "IN2", 51, 84, 32, 16},
    {1103, Ctl::PushButton, "IN3", 88, 84, 32, 16},
    {1104, Ctl::PushButton, "IN4", 125, 84, 32, 16},
    {1121, Ctl::PushButton, "IN1", 179, 84, 32, 16},
    {1122, Ctl::PushButton, "IN2", 216, 84, 32, 16},
    {1109, Ctl::PushButton, "IN3", 253, 84, 32, 16},
    {1110, Ctl::PushButton, "IN4", 290, 84, 32, 16},

    {1116, Ctl::IconButton, "", 27, 38, 24, 20},   // previous, output 1
    {1118, Ctl::IconButton, "", 120, 38, 24, 20},  // next, output 1
    {1119, Ctl::IconButton, "", 192, 38, 24, 20},  // previous, output 2
    {1123, Ctl::IconButton, "", 285, 38, 24, 20},  // next, output 2
};
}  // namespace

const DialogTemplate kDialog134{134, 337, 217, "", kControls134};
[[maybe_unused]] const bool registered = RegisterTemplate(kDialog134);

}  // namespace corvane
