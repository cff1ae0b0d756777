// The message box: 185 x 73 units (324 x 146 pixels), no caption or frame.
#include "panel/res/dialog_template.h"

namespace corvane {

namespace {
constexpr ControlTemplate kControls[] = {
    {1057, Ctl::IconButton, "", 157, 7, 21, 18},  // close; placed at the band's right end
    {1058, Ctl::PushButton, "Ok", 137, 60, 41, 11},
    {1099, Ctl::PushButton, "Cancel", 94, 60, 41, 11},       // question only
    {1100, Ctl::Picture, "136", 26, 29, 0, 0},               // size of the bitmap
    {1101, Ctl::CheckBox, "No longer remind", 3, 60, 69, 10}, // question only
};

const DialogTemplate kDialog135{135, 185, 73, "", kControls};
[[maybe_unused]] const bool registered = RegisterTemplate(kDialog135);
}  // namespace

}  // namespace corvane
