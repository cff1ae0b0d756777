// About box: the program's picture, its name, its version and an OK button.
#include "panel/res/dialog_template.h"

namespace corvane {

namespace {
constexpr ControlTemplate kControls[] = {
    {0, Ctl::Picture, "128", 14, 14, 0, 0},
    {0, Ctl::Static, "4x2 Corvane Controller", 42, 14, 114, 8},
    {0, Ctl::Static, "Version " CORVANE_VERSION, 42, 26, 114, 8},
    {1, Ctl::PushButton, "OK", 113, 41, 50, 14},
};

const DialogTemplate kDialog100{100, 170, 62, "About 4x2 Corvane Controller", kControls};
[[maybe_unused]] const bool registered = RegisterTemplate(kDialog100);
}  // namespace

}  // namespace corvane
