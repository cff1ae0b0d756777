#include "panel/widgets/accessible_window.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QMenu>
#include <QTimer>

#include <utility>

namespace corvane {

namespace {

// Tells assistive technology when a popup menu opens or closes, as it is told of windows.
class CMenuWatcher final : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if ((event->type() == QEvent::Show || event->type() == QEvent::Hide) && qobject_cast<QMenu*>(watched) &&
            static_cast<QWidget*>(watched)->isWindow()) {
            QAccessibleEvent change(watched, event->type() == QEvent::Show ? QAccessible::ObjectCreated
                                                                           : QAccessible::ObjectDestroyed);
            QAccessible::updateAccessibility(&change);
        }
        return QObject::eventFilter(watched, event);
    }
};

// The application with its open popup menus (the system menu) among its windows. Qt leaves
// popups out of the tree (they are neither listed as top-level windows nor as child widgets),
// although a menu names the application as its parent.
class CAccessibleApp final : public QAccessibleApplication {
public:
    CAccessibleApp()
    {
        // Clients that keep a copy of the tree hear of a menu coming and going.
        if (qApp)
            qApp->installEventFilter(new CMenuWatcher(qApp));
    }

    int childCount() const override { return QAccessibleApplication::childCount() + static_cast<int>(OpenMenus().size()); }

    QAccessibleInterface* child(int index) const override
    {
        const int own = QAccessibleApplication::childCount();
        if (index < own)
            return QAccessibleApplication::child(index);
        const QList<QMenu*> menus = OpenMenus();
        return index - own < menus.size() ? QAccessible::queryAccessibleInterface(menus[index - own]) : nullptr;
    }

    int indexOfChild(const QAccessibleInterface* child) const override
    {
        if (child && child->object()) {
            const int at = static_cast<int>(OpenMenus().indexOf(qobject_cast<QMenu*>(child->object())));
            if (at >= 0)
                return QAccessibleApplication::childCount() + at;
        }
        return QAccessibleApplication::indexOfChild(child);
    }

private:
    static QList<QMenu*> OpenMenus()
    {
        QList<QMenu*> open;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* m = qobject_cast<QMenu*>(w); m && m->isVisible())
                open << m;
        return open;
    }
};

class CAccessibleSpokenText final : public QAccessibleWidget {
public:
    explicit CAccessibleSpokenText(CSpokenText* w) : QAccessibleWidget(w, QAccessible::StaticText) {}
    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Name)
            return static_cast<CSpokenText*>(widget())->Text();
        return QAccessibleWidget::text(t);
    }
};

class CAccessibleAnnouncer final : public QAccessibleWidget {
public:
    explicit CAccessibleAnnouncer(CAnnouncer* w) : QAccessibleWidget(w, QAccessible::Notification) {}
    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Name)
            return static_cast<CAnnouncer*>(widget())->Text();
        return QAccessibleWidget::text(t);
    }
};

QAccessibleInterface* WindowFactory(const QString& className, QObject* object)
{
    if (className == QLatin1String("corvane::CSpokenText"))
        return new CAccessibleSpokenText(static_cast<CSpokenText*>(object));
    if (className == QLatin1String("corvane::CAnnouncer"))
        return new CAccessibleAnnouncer(static_cast<CAnnouncer*>(object));
    if (className == QLatin1String("QApplication") && object == qApp)
        return new CAccessibleApp;
    return nullptr;
}

}  // namespace

// Qt keeps a factory once, however often it is installed.
void InstallAccessibleWindows() { QAccessible::installFactory(WindowFactory); }

CSpokenText::CSpokenText(QWidget* parent) : QWidget(parent)
{
    InstallAccessibleWindows();
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    setFocusPolicy(Qt::NoFocus);
}

CAnnouncer::CAnnouncer(QWidget* window) : QWidget(window)
{
    InstallAccessibleWindows();
    setObjectName(QStringLiteral("announcer"));
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    setFocusPolicy(Qt::NoFocus);
    setGeometry(0, 0, 1, 1);
    hide();
}

void CAnnouncer::Announce(const QString& text)
{
    m_text = text;
    // The new name is signalled before the notification appears: a client that keeps names
    // reads it when it hears of the appearing, which is what is spoken. Hidden first, so a
    // repeated outcome is said again.
    QAccessibleEvent named(this, QAccessible::NameChanged);
    QAccessible::updateAccessibility(&named);
    hide();
    show();
}

void CAnnouncer::AnnounceLine(const QString& line)
{
    if (m_lines.isEmpty())
        QTimer::singleShot(0, this, [this] { Announce(std::exchange(m_lines, {}).join(QStringLiteral(", "))); });
    m_lines << line;
}

CAnnouncer* AnnouncerOf(const QWidget* window)
{
    return window ? window->findChild<CAnnouncer*>(QStringLiteral("announcer"), Qt::FindDirectChildrenOnly) : nullptr;
}

namespace {
CAnnouncer* MadeAnnouncerOf(QWidget* window)
{
    if (!window)
        return nullptr;
    CAnnouncer* a = AnnouncerOf(window);
    return a ? a : new CAnnouncer(window);
}
}  // namespace

void Announce(QWidget* window, const QString& text)
{
    if (CAnnouncer* a = MadeAnnouncerOf(window))
        a->Announce(text);
}

void AnnounceLine(QWidget* window, const QString& line)
{
    if (CAnnouncer* a = MadeAnnouncerOf(window))
        a->AnnounceLine(line);
}

bool OutOfSight(const QWidget* w)
{
    const QWidget* window = w ? w->window() : nullptr;
    if (!window || window == w)
        return false;
    return !window->rect().intersects(QRect(w->mapTo(window, QPoint(0, 0)), w->size()));
}

void CSpokenText::SetText(const QString& text)
{
    if (text == m_text)
        return;
    m_text = text;
    QAccessibleEvent event(this, QAccessible::NameChanged);
    QAccessible::updateAccessibility(&event);
}

}  // namespace corvane
