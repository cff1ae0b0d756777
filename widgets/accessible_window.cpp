#include "widgets/accessible_window.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QDialog>
#include <QMenu>

namespace corvane {

namespace {

// A dialog whose open popup menus count among its children. Qt leaves popups out of the tree
// (they are neither top-level windows of the application nor child widgets), although a menu
// names the window as its parent.
class CAccessibleWindow final : public QAccessibleWidget {
public:
    explicit CAccessibleWindow(QWidget* w) : QAccessibleWidget(w, QAccessible::Dialog) {}

    int childCount() const override { return QAccessibleWidget::childCount() + static_cast<int>(OpenMenus().size()); }

    QAccessibleInterface* child(int index) const override
    {
        const int own = QAccessibleWidget::childCount();
        if (index < own)
            return QAccessibleWidget::child(index);
        const QList<QMenu*> menus = OpenMenus();
        return index - own < menus.size() ? QAccessible::queryAccessibleInterface(menus[index - own]) : nullptr;
    }

    int indexOfChild(const QAccessibleInterface* child) const override
    {
        if (child && child->object()) {
            const int at = static_cast<int>(OpenMenus().indexOf(qobject_cast<QMenu*>(child->object())));
            if (at >= 0)
                return QAccessibleWidget::childCount() + at;
        }
        return QAccessibleWidget::indexOfChild(child);
    }

private:
    QList<QMenu*> OpenMenus() const
    {
        QList<QMenu*> open;
        for (QMenu* m : widget()->findChildren<QMenu*>(Qt::FindDirectChildrenOnly))
            if (m->isVisible())
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

QAccessibleInterface* WindowFactory(const QString& className, QObject* object)
{
    if (className == QLatin1String("corvane::CSpokenText"))
        return new CAccessibleSpokenText(static_cast<CSpokenText*>(object));
    if (className == QLatin1String("QDialog"))
        return new CAccessibleWindow(static_cast<QWidget*>(object));
    return nullptr;
}

}  // namespace

void InstallAccessibleWindows()
{
    static const bool installed = [] {
        QAccessible::installFactory(WindowFactory);
        return true;
    }();
    (void)installed;
}

CSpokenText::CSpokenText(QWidget* parent) : QWidget(parent)
{
    InstallAccessibleWindows();
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    setFocusPolicy(Qt::NoFocus);
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
