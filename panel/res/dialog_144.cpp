// Template 144: the firmware page, a child of the main window shown below its band. The file
// row (path, "Open"), the progress row ("Upgrade"), the message pane and the device line.
#include "panel/res/dialog_template.h"

namespace corvane {

namespace {
constexpr ControlTemplate kControls144[] = {
    {0, Ctl::GroupBox, "FW Upgrade", 8, 4, 321, 58},
    {0, Ctl::Static, "Open FW File", 16, 22, 50, 10},
    {1042, Ctl::Edit, "", 68, 20, 198, 13},
    {1088, Ctl::PushButton, "Open", 272, 19, 50, 14},
    {1094, Ctl::Progress, "", 16, 41, 250, 12},
    {1090, Ctl::PushButton, "Upgrade", 272, 40, 50, 14},

    {0, Ctl::GroupBox, "Messages", 8, 68, 321, 112},
    {1093, Ctl::MultiEdit, "", 16, 82, 306, 92},

    {1092, Ctl::Static, "", 10, 186, 319, 10},
};
}  // namespace

const DialogTemplate kDialog144{144, 337, 205, "", kControls144};
[[maybe_unused]] const bool registered = RegisterTemplate(kDialog144);

}  // namespace corvane
