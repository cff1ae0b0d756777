// How assistive technology sees the windows themselves: an open popup menu (the system menu) is
// one of the application's windows, so a screen reader finds it in the tree when it opens; and
// a text a window paints can be read as a label through a stand-in that shows nothing itself.
#pragma once

#include <QWidget>

namespace corvane {

// Installs the accessible interfaces of the application (open menus among its windows) and of
// the spoken texts; once per process. The application's interface is made once, when assistive
// technology first asks: install before the application object exists.
void InstallAccessibleWindows();

// A painted text as assistive technology reads it: a label named by the text, lying over the
// place where the window paints it. It paints nothing and lets the mouse through.
class CSpokenText final : public QWidget {
    Q_OBJECT
public:
    explicit CSpokenText(QWidget* parent);
    void SetText(const QString& text);
    QString Text() const { return m_text; }

private:
    QString m_text;
};

}  // namespace corvane
