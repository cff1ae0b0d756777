// The main window without a mouse: the page tab list, Tab through what is on screen in reading
// order, the page keys, and names for the controls that show none.
#include <QComboBox>
#include <QLabel>
#include <QRadioButton>

#include "panel/corvane_dlg.h"
#include "panel/widgets/qt_ui.h"
#include "panel/widgets/page_tabs.h"

namespace corvane {

namespace {

constexpr int kTabIds[4] = {1008, 1011, 1012, 1013};

// The General page in reading order: the part in sight at the template size (device
// information, the COM group, DVI), then what a maximized window adds, group by group.
constexpr int kGeneralOrder[] = {1024, 1025, 1020, 1021, 1101, 1016, 1017, 1060, 1045, 1046, 1047, 1095, 1096};
// Not part of a page: the log panes with their "clear", then the band's buttons.
constexpr int kCommonOrder[] = {1042, 1043, 1123, 1005, 1002};

// Whether Tab may land on w: shown, enabled, taking focus by Tab, and with its middle inside
// the window (controls out of sight are left alone until the window is enlarged).
bool Reachable(const QWidget* window, const QWidget* w)
{
    if (!w || !w->isVisibleTo(window) || !w->isEnabled() || !(w->focusPolicy() & Qt::TabFocus))
        return false;
    // A radio button group is one stop, at its checked button.
    if (auto* radio = qobject_cast<const QRadioButton*>(w); radio && !radio->isChecked())
        return false;
    const QRect inWindow(w->mapTo(window, QPoint(0, 0)), w->size());
    return window->rect().contains(inWindow.center());
}

}  // namespace

void CCorvaneDlg::SetUpKeyboard()
{
    m_tabList = new CPageTabList(this);
    for (int i : {0, 2, 3, 1})  // as on screen: General, Matrix, FW Upgrade, EDID
        m_tabList->AddTab(m_tabs[i]);
    m_tabList->lower();
    LayoutBand();
    UpdateTabColours();
    m_tabList->onPick = [this](QLabel* tab) { PressTab(TabId(tab)); };
    m_keyFilter->SetKeyCommands([this](int key, Qt::KeyboardModifiers m) { return OnWindowKey(key, m); });

    // Names for what shows no text of its own (a list is otherwise read by its value alone).
    const struct {
        int id;
        const char* name;
    } names[] = {{1020, "Port"}, {1060, "Switcher IP"}};
    for (const auto& n : names)
        Control(n.id)->setAccessibleName(QString::fromLatin1(n.name));
    Ctl<QLabel>(1019)->setBuddy(Control(1020));
    Ctl<QLabel>(1059)->setBuddy(Control(1060));
    // Two buttons read "Clear": what each clears tells them apart.
    Control(1025)->setAccessibleDescription(QStringLiteral("Clears the device information"));
    Control(1123)->setAccessibleDescription(QStringLiteral("Clears the RX and TX panes"));
    PlaceFocusAfterSwitch(false);
}

int CCorvaneDlg::TabId(const QLabel* tab) const
{
    for (int i = 0; i < 4; ++i)
        if (m_tabs[i] == tab)
            return kTabIds[i];
    return 0;
}

std::vector<QWidget*> CCorvaneDlg::FocusOrder() const
{
    std::vector<QWidget*> order;
    auto add = [&](QWidget* w) {
        if (Reachable(this, w))
            order.push_back(w);
    };
    add(m_tabList ? m_tabList->Current() : nullptr);
    if (CurrentPage() == PAGE_GENERAL) {
        for (int id : kGeneralOrder)
            add(Control(id));
    } else if (auto it = m_pages.find(CurrentPage()); it != m_pages.end() && it->second->Widget()->isVisible()) {
        for (QWidget* w : it->second->FocusOrder())
            add(w);
    }
    for (int id : kCommonOrder)
        add(Existing(id));  // a log pane not yet made is out of sight
    return order;
}

bool CCorvaneDlg::focusNextPrevChild(bool next)
{
    const std::vector<QWidget*> order = FocusOrder();
    if (order.empty())
        return false;
    const auto n = static_cast<int>(order.size());
    int at = -1;
    if (QWidget* f = focusWidget())
        for (int i = 0; i < n; ++i)
            if (order[static_cast<std::size_t>(i)] == f || order[static_cast<std::size_t>(i)]->isAncestorOf(f))
                at = i;
    const int to = at < 0 ? (next ? 0 : n - 1) : (at + (next ? 1 : n - 1)) % n;
    order[static_cast<std::size_t>(to)]->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
    return true;
}

bool CCorvaneDlg::OnWindowKey(int key, Qt::KeyboardModifiers modifiers)
{
    const Qt::KeyboardModifiers m = modifiers & ~Qt::KeypadModifier;
    const bool ctrl = m == Qt::ControlModifier, ctrlShift = m == (Qt::ControlModifier | Qt::ShiftModifier);
    if ((ctrl && (key == Qt::Key_Tab || key == Qt::Key_PageDown))) {
        StepPage(1);
        return true;
    }
    if ((ctrlShift && (key == Qt::Key_Tab || key == Qt::Key_Backtab)) || (ctrl && key == Qt::Key_PageUp)) {
        StepPage(-1);
        return true;
    }
    return false;
}

void CCorvaneDlg::StepPage(int steps)
{
    if (QLabel* tab = m_tabList->Neighbour(steps))
        PressTab(TabId(tab));  // refused, as a click is, while a command is outstanding
}

void CCorvaneDlg::PlaceFocusAfterSwitch(bool onTabs)
{
    const std::vector<QWidget*> order = FocusOrder();
    if (order.empty())
        return;
    QWidget* current = m_tabList->Current();
    const bool tabFirst = order.front() == current;
    if (onTabs && tabFirst)
        current->setFocus(Qt::OtherFocusReason);
    else if (tabFirst && order.size() > 1)
        order[1]->setFocus(Qt::OtherFocusReason);
    else
        order.front()->setFocus(Qt::OtherFocusReason);
}

}  // namespace corvane
