// How assistive technology sees and operates the buttons, check boxes and radio buttons of the
// dialogs: every action it offers ("press", "toggle") is a click, so it takes the same path as
// the mouse and the keyboard (a bare toggle would change the box without telling the switcher).
// The click is queued: the action returns at once, even when the click opens a modal window
// (the status sequence, the factory-reset question), so the screen reader's call never waits.
#pragma once

class QAbstractButton;

namespace corvane {

// A checkable push button that is one choice among several (an output's IN buttons): read as a
// radio button, so a screen reader says whether it is the one chosen. (The platform's toggle
// button role would do as well, but Qt 6.4's bridge maps none of Qt's roles to it, whatever
// the state: a checked button is a push button that is checked.)
void SetAccessibleChoice(QAbstractButton* button);

// Installs the accessible interface for push buttons, check boxes and radio buttons, and for
// text labels, group boxes and the main window's drop-down lists (which, like the buttons, are
// not on screen while beyond their window's edge); once per process, later calls do nothing.
void InstallAccessibleButtons();

}  // namespace corvane
