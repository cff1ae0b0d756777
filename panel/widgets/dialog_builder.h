// Builds a dialog template's controls as children of a widget, at their dialog-unit places, in
// the dialog font. Controls are read by assistive technology with the text they show at the
// moment; only icon buttons (their tip text) and pictures (the picture's description) get an
// accessible name of their own. Controls with an id are named "ctl<id>".
#pragma once

#include <QPointer>
#include <QWidget>
#include <functional>
#include <map>
#include <vector>

#include "panel/res/dialog_template.h"

namespace corvane {

using ControlMap = std::map<int, QWidget*>;

// Creates the controls of tpl on parent (which gets the dialog font and, with resizeParent, the
// template's size) and returns the controls that have an id, by id. Controls are created in
// template order, so later ones lie above earlier ones (group boxes first, as in the templates).
// Radio buttons that follow one another in the template form one exclusive group.
// Statics, pictures and group boxes let the mouse through to the parent, so a press on them
// reaches the window (window drag, tab labels).
ControlMap BuildDialog(const DialogTemplate& tpl, QWidget* parent, bool resizeParent = true);
// The same by template id; an empty map for an unknown id.
ControlMap BuildDialog(int templateId, QWidget* parent, bool resizeParent = true);

// A control left out of the first build, to be made when it is first needed: its template
// and the control made after it, which it lies under once made.
struct DeferredControl {
    const ControlTemplate* control = nullptr;
    QPointer<QWidget> under;
};
// As above, leaving out the controls for which defer holds (never radio buttons, which are
// grouped as they are made); they are added to deferred.
ControlMap BuildDialog(const DialogTemplate& tpl, QWidget* parent, bool resizeParent,
                       const std::function<bool(const ControlTemplate&)>& defer,
                       std::vector<DeferredControl>& deferred);
// Makes deferred controls on parent as the first build would have made them, in their place in
// the stacking order; returns those with an id.
ControlMap BuildDeferred(const std::vector<DeferredControl>& deferred, QWidget* parent);

// The template's size in pixels.
QSize DialogSize(const DialogTemplate& tpl);

// The control with the id, cast to T; nullptr when missing or of another kind.
template <class T>
T* Control(const ControlMap& controls, int id)
{
    auto it = controls.find(id);
    return it == controls.end() ? nullptr : qobject_cast<T*>(it->second);
}

}  // namespace corvane
