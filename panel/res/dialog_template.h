// Dialog templates as tables in dialog units: every window's geometry can be read and checked
// here. One file per template (dialog_NNN.cpp); Template(id) finds them.
#pragma once

#include <span>

namespace corvane {

enum class Ctl {
    PushButton,     // ordinary push button with its caption
    IconButton,     // owner-drawn push button (CIconButton), no caption
    Static,         // left-aligned text
    StaticCentered, // text centred both ways (the tab labels)
    Picture,        // bitmap static; caption names the bitmap resource ("136")
    GroupBox,
    Radio,
    CheckBox,       // automatic check box
    DropDown,       // drop-down list (not editable)
    MultiEdit,      // multi-line edit with border and vertical scroll bar
    Progress,       // progress bar
    Edit,           // single-line edit
};

struct ControlTemplate {
    int id;  // 0 where the template gives none (some statics and group boxes)
    Ctl kind;
    const char* caption;
    int x, y, w, h;  // dialog units
};

struct DialogTemplate {
    int id;
    int w, h;  // dialog units
    const char* caption;
    std::span<const ControlTemplate> controls;
};

// nullptr for an unknown id.
const DialogTemplate* Template(int id);

// Adds a template to the table Template() searches. Each dialog_NNN.cpp registers its own
// table from a static initialiser, so a new template needs no central list:
//     static const bool registered = RegisterTemplate(kDialog135);
// A second template with the same id replaces nothing and yields false.
bool RegisterTemplate(const DialogTemplate& dialog);

}  // namespace corvane
