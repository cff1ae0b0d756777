#include "panel/widgets/page_tabs.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QPointer>
#include <QTimer>
#include <algorithm>

#include "panel/widgets/accessible_window.h"

namespace corvane {

CPageTabList::CPageTabList(QWidget* window) : QWidget(window)
{
    InstallAccessibleTabs();
    setObjectName(QStringLiteral("pageTabs"));
    setAccessibleName(QStringLiteral("Pages"));
    // The window paints the band and decides what a press means; the strip itself shows nothing.
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    setFocusPolicy(Qt::NoFocus);
    move(0, 0);
}

void CPageTabList::AddTab(QLabel* label)
{
    const QRect at = label->geometry();
    const QPoint origin = pos();
    label->setParent(this);
    label->setGeometry(at.translated(-origin));
    label->setFocusPolicy(Qt::NoFocus);
    label->installEventFilter(this);
    label->show();
    // An interface made while the label was a plain static is dropped: from now on it is a tab.
    if (QAccessibleInterface* old = QAccessible::queryAccessibleInterface(label))
        QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(old));
    m_tabs.push_back(label);
}

void CPageTabList::SetCurrent(QLabel* label)
{
    if (label == m_current)
        return;
    QLabel* old = m_current;
    m_current = label;
    QAccessible::State selected;
    selected.selected = true;
    for (QLabel* tab : {old, label}) {
        if (!tab)
            continue;
        // The current tab is the list's one focus stop; focus follows it from tab to tab.
        tab->setFocusPolicy(tab == label ? Qt::TabFocus : Qt::NoFocus);
        QAccessibleStateChangeEvent event(tab, selected);
        QAccessible::updateAccessibility(&event);
    }
    if (old && old->hasFocus())
        label->setFocus(Qt::OtherFocusReason);
}

bool CPageTabList::IsReachable(const QLabel* label) const
{
    if (!label || !label->isVisibleTo(window()))
        return false;
    const QRect inWindow(label->mapTo(window(), QPoint(0, 0)), label->size());
    return window()->rect().contains(inWindow.center());
}

std::vector<QLabel*> CPageTabList::OnScreenOrder() const
{
    std::vector<QLabel*> order = m_tabs;
    std::stable_sort(order.begin(), order.end(), [](const QLabel* a, const QLabel* b) { return a->x() < b->x(); });
    return order;
}

QLabel* CPageTabList::Neighbour(int steps) const
{
    const std::vector<QLabel*> order = OnScreenOrder();
    const auto n = static_cast<int>(order.size());
    const auto it = std::find(order.begin(), order.end(), m_current);
    if (n == 0 || it == order.end() || steps == 0)
        return nullptr;
    int at = static_cast<int>(it - order.begin());
    const int dir = steps > 0 ? 1 : -1;
    // Tabs out of sight are passed over, as the mouse cannot press them either.
    for (int left = std::abs(steps), tries = 0; left > 0 && tries < n; ++tries) {
        at = (at + dir + n) % n;
        if (IsReachable(order[static_cast<std::size_t>(at)]))
            --left;
        if (left == 0)
            return order[static_cast<std::size_t>(at)] == m_current ? nullptr : order[static_cast<std::size_t>(at)];
    }
    return nullptr;
}

void CPageTabList::keyPressEvent(QKeyEvent* event)
{
    QLabel* target = nullptr;
    if (event->modifiers() & ~Qt::KeypadModifier) {
        QWidget::keyPressEvent(event);
        return;
    }
    switch (event->key()) {
    case Qt::Key_Left:
        target = Neighbour(-1);
        break;
    case Qt::Key_Right:
        target = Neighbour(1);
        break;
    case Qt::Key_Home:
    case Qt::Key_End: {
        std::vector<QLabel*> order = OnScreenOrder();
        if (event->key() == Qt::Key_End)
            std::reverse(order.begin(), order.end());
        for (QLabel* tab : order)
            if (IsReachable(tab)) {
                target = tab;
                break;
            }
        break;
    }
    default:
        QWidget::keyPressEvent(event);
        return;
    }
    if (target && target != m_current && onPick)
        onPick(target);
}

bool CPageTabList::eventFilter(QObject* watched, QEvent* event)
{
    // The focused tab is framed: the strip's only sign of keyboard focus.
    auto* label = qobject_cast<QLabel*>(watched);
    if (label && (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut))
        label->setFrameStyle(event->type() == QEvent::FocusIn ? QFrame::Box | QFrame::Plain : QFrame::NoFrame);
    return QWidget::eventFilter(watched, event);
}

namespace {

class CAccessibleTabList final : public QAccessibleWidget {
public:
    explicit CAccessibleTabList(QWidget* w) : QAccessibleWidget(w, QAccessible::PageTabList) {}
};

class CAccessibleTab final : public QAccessibleWidget {
public:
    explicit CAccessibleTab(QLabel* label) : QAccessibleWidget(label, QAccessible::PageTab) {}

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Name && widget()->accessibleName().isEmpty())
            return Label()->text();
        return QAccessibleWidget::text(t);
    }

    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        s.offscreen = OutOfSight(Label());
        s.selectable = true;
        s.selected = List() && List()->Current() == Label();
        s.focusable = s.focusable || s.selected;
        return s;
    }

    QStringList actionNames() const override { return {pressAction()}; }

    void doAction(const QString& name) override
    {
        if (name != pressAction())
            return;
        // Queued, as a click: a refused switch may open the message box, and the caller must
        // not wait for it to close.
        QTimer::singleShot(0, List(), [label = QPointer<QLabel>(Label())] {
            auto* list = label ? qobject_cast<CPageTabList*>(label->parentWidget()) : nullptr;
            if (list && list->onPick)
                list->onPick(label);
        });
    }

    QStringList keyBindingsForAction(const QString&) const override { return {}; }

private:
    QLabel* Label() const { return static_cast<QLabel*>(widget()); }
    CPageTabList* List() const { return qobject_cast<CPageTabList*>(widget()->parentWidget()); }
};

QAccessibleInterface* TabFactory(const QString& className, QObject* object)
{
    if (className == QLatin1String("corvane::CPageTabList"))
        return new CAccessibleTabList(static_cast<QWidget*>(object));
    if (className == QLatin1String("QLabel")) {
        auto* label = qobject_cast<QLabel*>(object);
        if (label && qobject_cast<CPageTabList*>(label->parentWidget()))
            return new CAccessibleTab(label);
    }
    return nullptr;
}

}  // namespace

// Qt keeps a factory once, however often it is installed.
void InstallAccessibleTabs() { QAccessible::installFactory(TabFactory); }

}  // namespace corvane
