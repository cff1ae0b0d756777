#include "panel/widgets/accessible_button.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QKeySequence>
#include <QPointer>
#include <QRadioButton>
#include <QTimer>

#include "panel/widgets/accessible_window.h"

namespace corvane {

namespace {

constexpr const char* kChoiceProperty = "corvaneChoice";

// A text as read: "&&" is an ampersand, a single "&" only marks the mnemonic.
QString WithoutMnemonic(const QString& text)
{
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == QLatin1Char('&') && i + 1 < text.size())
            ++i;
        else if (text[i] == QLatin1Char('&'))
            continue;
        out += text[i];
    }
    return out;
}

class CAccessibleButton final : public QAccessibleWidget {
public:
    explicit CAccessibleButton(QAbstractButton* button) : QAccessibleWidget(button, RoleOf(button)) {}

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Name && Button()->accessibleName().isEmpty())
            return WithoutMnemonic(Button()->text());
        if (t == QAccessible::Description) {
            // The tip of an icon button is already its name: said once, not twice.
            const QString description = QAccessibleWidget::text(t);
            return description == text(QAccessible::Name) ? QString() : description;
        }
        return QAccessibleWidget::text(t);
    }

    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        s.offscreen = OutOfSight(Button());
        s.pressed = Button()->isDown();
        if (Button()->isCheckable()) {
            s.checkable = true;
            s.checked = Button()->isChecked();
        }
        return s;
    }

    QStringList actionNames() const override
    {
        QStringList names;
        if (Button()->isEnabled())
            names << (Button()->isCheckable() ? toggleAction() : pressAction());
        return names + QAccessibleWidget::actionNames();
    }

    void doAction(const QString& name) override
    {
        if (name == pressAction() || name == toggleAction()) {
            // clicked() is what the windows act on. Queued, as a key's click is: the click may
            // run a modal window for seconds, and the caller must not wait for it.
            QTimer::singleShot(0, Button(), [button = QPointer<QAbstractButton>(Button())] {
                if (button && button->isEnabled())
                    button->click();
            });
            return;
        }
        QAccessibleWidget::doAction(name);
    }

    // The key that presses the focused control in every window (the key filter's press key).
    QStringList keyBindingsForAction(const QString& name) const override
    {
        if (name == pressAction() || name == toggleAction())
            return {QKeySequence(Qt::CTRL | Qt::Key_Return).toString(QKeySequence::NativeText)};
        return {};
    }

private:
    QAbstractButton* Button() const { return static_cast<QAbstractButton*>(widget()); }

    QAccessible::Role role() const override { return RoleOf(Button()); }

    static QAccessible::Role RoleOf(QAbstractButton* b)
    {
        if (b->isCheckable() && b->property(kChoiceProperty).toBool())
            return QAccessible::RadioButton;
        if (qobject_cast<QCheckBox*>(b))
            return QAccessible::CheckBox;
        if (qobject_cast<QRadioButton*>(b))
            return QAccessible::RadioButton;
        return QAccessible::Button;
    }
};

QAccessibleInterface* ButtonFactory(const QString& className, QObject* object)
{
    if (className != QLatin1String("QPushButton") && className != QLatin1String("QCheckBox") &&
        className != QLatin1String("QRadioButton") && className != QLatin1String("QAbstractButton"))
        return nullptr;
    auto* button = qobject_cast<QAbstractButton*>(object);
    return button ? new CAccessibleButton(button) : nullptr;
}

// A text label or a group box, read with the text it shows, and not on screen while it lies
// beyond its window's edge (the parts of the main window beyond its normal size).
class CAccessibleStatic final : public QAccessibleWidget {
public:
    explicit CAccessibleStatic(QWidget* w, QAccessible::Role role) : QAccessibleWidget(w, role) {}

    QString text(QAccessible::Text t) const override
    {
        if (auto* box = qobject_cast<QGroupBox*>(widget())) {
            // Its own name first, else its title; its tip describes it.
            const QString s = QAccessibleWidget::text(t);
            if (!s.isEmpty())
                return s;
            if (t == QAccessible::Name)
                return WithoutMnemonic(box->title());
            return t == QAccessible::Description ? box->toolTip() : s;
        }
        // A label reads its own text (even when it is another label's buddy, as an input's
        // EDID name is), unless it is given a name.
        if (auto* label = qobject_cast<QLabel*>(widget()); label && t == QAccessible::Name) {
            QString s = label->accessibleName();
            if (s.isEmpty())
                s = WithoutMnemonic(label->text());
            if (!s.isEmpty())
                return s;
        }
        return QAccessibleWidget::text(t);
    }

    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        s.offscreen = OutOfSight(widget());
        return s;
    }

    // A label with a buddy labels it (the Port list, the Switcher IP list, the EDID fields).
    QList<QPair<QAccessibleInterface*, QAccessible::Relation>> relations(QAccessible::Relation match) const override
    {
        auto rels = QAccessibleWidget::relations(match);
        auto* label = qobject_cast<QLabel*>(widget());
        if ((match & QAccessible::Labelled) && label && label->buddy())
            if (QAccessibleInterface* buddy = QAccessible::queryAccessibleInterface(label->buddy()))
                rels.append({buddy, QAccessible::Labelled});
        return rels;
    }
};

// A drop-down list of the main window (the Port list, the Switcher IP list below the edge, the
// EDID page's lists), read as Qt reads one on Linux, and not on screen while beyond the window's
// edge: its name is its current text (else its own name), its one child the list, opened by its
// action. A hidden one (on a page not shown) has no list: the list's items would say they are
// showing, as they do whenever they fit in the closed list's area.
class CAccessibleDropDown final : public QAccessibleWidget {
public:
    explicit CAccessibleDropDown(QComboBox* box) : QAccessibleWidget(box, QAccessible::ComboBox) {}

    int childCount() const override { return Box()->isVisible() ? 1 : 0; }
    QAccessibleInterface* child(int index) const override
    {
        return index == 0 && childCount() == 1 ? QAccessible::queryAccessibleInterface(Box()->view()) : nullptr;
    }
    int indexOfChild(const QAccessibleInterface* child) const override
    {
        return child && child->object() == Box()->view() && childCount() == 1 ? 0 : -1;
    }

    QString text(QAccessible::Text t) const override
    {
        QString s;
        if (t == QAccessible::Name || t == QAccessible::Value)
            s = Box()->currentText();
        else if (t == QAccessible::Accelerator)
            s = QKeySequence(Qt::Key_Down).toString(QKeySequence::NativeText);
        return s.isEmpty() ? QAccessibleWidget::text(t) : s;
    }

    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        s.offscreen = OutOfSight(widget());
        s.expandable = true;
        const auto* list = Box()->findChild<QAbstractItemView*>();  // not made before it opens
        s.expanded = list && list->isVisible();
        return s;
    }

    QStringList actionNames() const override { return {showMenuAction(), pressAction()}; }
    QString localizedActionDescription(const QString& name) const override
    {
        return name == showMenuAction() || name == pressAction() ? QComboBox::tr("Open the combo box selection popup")
                                                                 : QString();
    }
    void doAction(const QString& name) override
    {
        if (name != showMenuAction() && name != pressAction())
            return;
        if (Box()->view()->isVisible())
            Box()->hidePopup();
        else
            Box()->showPopup();
    }
    QStringList keyBindingsForAction(const QString&) const override { return {}; }

private:
    QComboBox* Box() const { return static_cast<QComboBox*>(widget()); }
};

QAccessibleInterface* StaticFactory(const QString& className, QObject* object)
{
    if (className == QLatin1String("QComboBox")) {
        auto* box = qobject_cast<QComboBox*>(object);
        const bool ofMainWindow = box && box->window()->inherits("corvane::CCorvaneDlg");
        return ofMainWindow && !box->isEditable() ? new CAccessibleDropDown(box) : nullptr;
    }
    if (className == QLatin1String("QGroupBox")) {
        auto* box = qobject_cast<QGroupBox*>(object);
        return box && !box->isCheckable() ? new CAccessibleStatic(box, QAccessible::Grouping) : nullptr;
    }
    if (className != QLatin1String("QLabel"))
        return nullptr;
    // Text labels only: pictures keep their image description, and the page tabs are tabs.
    auto* label = qobject_cast<QLabel*>(object);
    if (!label || label->textFormat() == Qt::RichText || !label->pixmap().isNull() ||
        (label->parentWidget() && label->parentWidget()->inherits("corvane::CPageTabList")))
        return nullptr;
    return new CAccessibleStatic(label, QAccessible::StaticText);
}

}  // namespace

void SetAccessibleChoice(QAbstractButton* button)
{
    button->setProperty(kChoiceProperty, true);  // read by the interface's role()
}

// Qt keeps a factory once, however often it is installed.
void InstallAccessibleButtons()
{
    QAccessible::installFactory(ButtonFactory);
    QAccessible::installFactory(StaticFactory);
}

}  // namespace corvane
