// The busy indicator: 164 x 58 units (287 x 116 pixels), no caption or frame.
#include "panel/res/dialog_template.h"

namespace corvane {

namespace {
constexpr ControlTemplate kControls[] = {
    {1086, Ctl::Static, "", 61, 25, 87, 8},  // caption plus dots
    {1087, Ctl::Picture, "143", 31, 21, 0, 0},  // check mark of the final view
};

const DialogTemplate kDialog142{142, 164, 58, "", kControls};
[[maybe_unused]] const bool registered = RegisterTemplate(kDialog142);
}  // namespace

}  // namespace corvane
