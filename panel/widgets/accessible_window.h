// How assistive technology sees the windows themselves: an open popup menu (the system menu) is
// one of the application's windows, so a screen reader finds it in the tree when it opens; and
// a text a window paints can be read as a label through a stand-in that shows nothing itself.
#pragma once

#include <QStringList>
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

// An outcome said to a screen reader without changing the window: a notification named by the
// text, shown anew for each one (a screen reader speaks a notification when it appears). It
// lies under one pixel of its window, paints nothing and lets the mouse through.
class CAnnouncer final : public QWidget {
    Q_OBJECT
public:
    explicit CAnnouncer(QWidget* window);
    void Announce(const QString& text);
    // Adds a line to what is said once the events now waiting have been handled: the lines a
    // window shows in one go are said as one notification.
    void AnnounceLine(const QString& line);
    QString Text() const { return m_text; }

private:
    QString m_text;
    QStringList m_lines;  // waiting to be said
};

// Says the text through the window's announcer (made on first use).
void Announce(QWidget* window, const QString& text);
// Adds a line to what the window's announcer says next (CAnnouncer::AnnounceLine).
void AnnounceLine(QWidget* window, const QString& line);
// The announcer of a window; nullptr before its first announcement.
CAnnouncer* AnnouncerOf(const QWidget* window);

// A control lying wholly outside its window's area (the parts of the main window beyond its
// normal size): assistive technology reports it as not showing until the window shows it.
bool OutOfSight(const QWidget* w);

}  // namespace corvane
