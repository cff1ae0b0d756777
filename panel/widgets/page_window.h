// What the page windows (routing, EDID, firmware) share: their own ground and the file-open
// dialog of their "..." and "Open" buttons.
#pragma once

#include <QString>
#include <memory>
#include <optional>
#include <string>

class QFileDialog;
class QWidget;

namespace corvane {

// Fills the page with the button-face colour, so it looks the same wherever it is drawn.
void SetPageGround(QWidget* page);

// A file-open dialog for one existing file: the name filter (as "Binary file(*.fw)") first, then
// "All files (*)", since Linux tools name files without extensions (a monitor's EDID is "edid").
// A typed name gets the default suffix only when the name as typed does not exist. It is Qt's
// own dialog, which matches name filters regardless of case; a desktop's native one may not.
std::unique_ptr<QFileDialog> MakeOpenFileDialog(QWidget* parent, const QString& filter, const QString& suffix);
// The suffix such a dialog adds ("" for any other dialog).
QString OpenFileDialogSuffix(const QFileDialog& dialog);
// Runs the dialog; the chosen file in the file system's encoding, nothing when cancelled. The
// control that had the keyboard before (the one that opened it) has it again afterwards.
std::optional<std::string> RunOpenFileDialog(QFileDialog& dialog);

}  // namespace corvane
