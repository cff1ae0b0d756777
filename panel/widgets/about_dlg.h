// The About box (template 100), opened from the main window's system menu.
#pragma once

#include <QDialog>

namespace corvane {

class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* owner = nullptr);
};

// Shows the About box modally and returns when it has been closed.
void ShowAboutBox(QWidget* owner);

}  // namespace corvane
