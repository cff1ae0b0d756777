#include "panel/widgets/dialog_builder.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>

#include "panel/widgets/qt_ui.h"
#include "panel/widgets/accessible_button.h"
#include "panel/widgets/accessible_window.h"
#include "panel/res/icons.h"
#include "panel/widgets/icon_button.h"

namespace corvane {

namespace {

// accessibleName is set only for controls without a text of their own (icon buttons, pictures);
// every other control is read with the text it shows at the moment.
QWidget* MakeControl(const ControlTemplate& c, QWidget* parent, QString& accessibleName)
{
    const QString caption = QString::fromUtf8(c.caption ? c.caption : "");
    switch (c.kind) {
    case Ctl::PushButton: {
        auto* b = new QPushButton(caption, parent);
        b->setAutoDefault(false);  // Enter never presses a button in these windows
        return b;
    }
    case Ctl::IconButton:
        accessibleName = caption;  // replaced by the tip text when the window sets one
        return new CIconButton(parent);
    case Ctl::Static: {
        auto* l = new QLabel(caption, parent);
        l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        l->setWordWrap(true);
        return l;
    }
    case Ctl::StaticCentered: {
        auto* l = new QLabel(caption, parent);
        l->setAlignment(Qt::AlignCenter);
        return l;
    }
    case Ctl::Picture: {
        auto* l = new QLabel(parent);
        const int resource = caption.toInt();
        l->setPixmap(ResourcePixmap(resource));
        accessibleName = ResourceDescription(resource);
        return l;
    }
    case Ctl::GroupBox:
        return new QGroupBox(caption, parent);
    case Ctl::Radio:
        return new QRadioButton(caption, parent);
    case Ctl::CheckBox:
        return new QCheckBox(caption, parent);
    case Ctl::DropDown: {
        auto* combo = new QComboBox(parent);
        combo->setEditable(false);
        return combo;
    }
    case Ctl::MultiEdit: {
        auto* edit = new QPlainTextEdit(caption, parent);
        edit->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        return edit;
    }
    case Ctl::Progress: {
        auto* bar = new QProgressBar(parent);
        bar->setTextVisible(false);
        bar->setRange(0, 100);
        bar->setValue(0);
        return bar;
    }
    case Ctl::Edit:
        return new QLineEdit(caption, parent);
    }
    return nullptr;
}

}  // namespace

QSize DialogSize(const DialogTemplate& tpl) { return DuRect(0, 0, tpl.w, tpl.h).size(); }

namespace {

// Makes one control of a template on parent, in the dialog font, at its place.
QWidget* BuildControl(const ControlTemplate& c, QWidget* parent, const QFont& font)
{
    QString name;
    QWidget* w = MakeControl(c, parent, name);
    if (!w)
        return nullptr;
    // A drop-down list takes the font from its parent, which has it, and its list from the box
    // when it first opens: a box given a font of its own makes its list (a window with an item
    // view) at once, loading the item views' code at start-up for lists nobody has opened.
    if (c.kind != Ctl::DropDown || parent->font() != font)
        w->setFont(font);
    if (!name.isEmpty())
        w->setAccessibleName(name);

    QRect geometry = DuRect(c.x, c.y, c.w, c.h);
    switch (c.kind) {
    case Ctl::Picture:
        // A picture static takes its bitmap's size.
        if (c.w == 0 || c.h == 0)
            geometry.setSize(static_cast<QLabel*>(w)->pixmap().deviceIndependentSize().toSize());
        break;
    case Ctl::DropDown:
        // The template's height is that of the opened list; the closed box is one line.
        geometry.setHeight(std::min(geometry.height(), w->sizeHint().height()));
        break;
    default:
        break;
    }
    w->setGeometry(geometry);

    if (c.kind == Ctl::Static || c.kind == Ctl::StaticCentered || c.kind == Ctl::Picture || c.kind == Ctl::GroupBox)
        w->setAttribute(Qt::WA_TransparentForMouseEvents);
    if (c.id != 0)
        w->setObjectName(QStringLiteral("ctl%1").arg(c.id));
    return w;
}

}  // namespace

ControlMap BuildDialog(const DialogTemplate& tpl, QWidget* parent, bool resizeParent,
                       const std::function<bool(const ControlTemplate&)>& defer,
                       std::vector<DeferredControl>& deferred)
{
    ControlMap controls;
    if (!parent)
        return controls;
    InstallAccessibleButtons();
    InstallAccessibleWindows();
    const QFont font = DialogFont();
    parent->setFont(font);
    if (resizeParent)
        parent->resize(DialogSize(tpl));

    const std::size_t firstDeferred = deferred.size();
    QButtonGroup* radios = nullptr;
    for (const ControlTemplate& c : tpl.controls) {
        if (defer && defer(c)) {
            deferred.push_back({&c, nullptr});
            continue;
        }
        QWidget* w = BuildControl(c, parent, font);
        if (!w)
            continue;
        // The controls left out before this one go under it.
        for (std::size_t i = firstDeferred; i < deferred.size(); ++i)
            if (!deferred[i].under)
                deferred[i].under = w;

        if (c.kind == Ctl::Radio) {
            if (!radios) {
                radios = new QButtonGroup(parent);
                radios->setExclusive(true);
            }
            auto* radio = static_cast<QRadioButton*>(w);
            radio->setAutoExclusive(false);
            radios->addButton(radio, c.id);
        } else {
            radios = nullptr;
        }

        if (c.id != 0)
            controls[c.id] = w;
        w->show();
    }
    return controls;
}

ControlMap BuildDialog(const DialogTemplate& tpl, QWidget* parent, bool resizeParent)
{
    std::vector<DeferredControl> none;
    return BuildDialog(tpl, parent, resizeParent, {}, none);
}

ControlMap BuildDeferred(const std::vector<DeferredControl>& deferred, QWidget* parent)
{
    ControlMap controls;
    if (!parent)
        return controls;
    const QFont font = DialogFont();
    for (const DeferredControl& d : deferred) {
        QWidget* w = d.control ? BuildControl(*d.control, parent, font) : nullptr;
        if (!w)
            continue;
        if (d.under)
            w->stackUnder(d.under);
        if (d.control->id != 0)
            controls[d.control->id] = w;
        w->show();
    }
    return controls;
}

ControlMap BuildDialog(int templateId, QWidget* parent, bool resizeParent)
{
    const DialogTemplate* tpl = Template(templateId);
    return tpl ? BuildDialog(*tpl, parent, resizeParent) : ControlMap{};
}

}  // namespace corvane
