#include "panel/pages/matrix_dlg.h"

#include <QAbstractButton>
#include <QLabel>
#include <QPushButton>

#include "panel/widgets/qt_ui.h"
#include "panel/res/icons.h"
#include "panel/widgets/accessible_button.h"
#include "panel/widgets/accessible_window.h"
#include "panel/widgets/icon_button.h"
#include "panel/widgets/page_window.h"

namespace corvane {

namespace {

// Ids by output (index 0 = output 1) and input (index 0 = input 1).
constexpr int kInputIds[2][4] = {{1101, 1102, 1103, 1104}, {1121, 1122, 1109, 1110}};
constexpr int kPictureIds[2] = {1114, 1120};
constexpr int kPreviousIds[2] = {1116, 1119};
constexpr int kNextIds[2] = {1118, 1123};

}  // namespace

CMatrixDlg::CMatrixDlg(CLinkCore& link, QWidget* parent) : QWidget(parent), m_page(link, *this)
{
    m_controls = BuildDialog(134, this);
    m_page.SetReadBackAfterTimeOut(true);
    setAccessibleName(QStringLiteral("Matrix"));
    SetPageGround(this);

    for (int o = 1; o <= kRouteOutputs; ++o) {
        for (int i = 1; i <= kRouteInputs; ++i) {
            QAbstractButton* b = InputButton(o, i);
            b->setCheckable(true);
            // Read as "Output 1: IN3, radio button, checked": which input the output shows.
            b->setAccessibleName(QStringLiteral("Output %1: IN%2").arg(o).arg(i));
            b->setAccessibleDescription(QStringLiteral("Route input %1 to output %2").arg(i).arg(o));
            SetAccessibleChoice(b);
            // clicked, not toggled: mouse, keyboard and assistive actions (which click, see the
            // dialog builder's accessible buttons) all arrive here. The click's own toggle is
            // undone at once; only the switcher's answer changes the check.
            connect(b, &QAbstractButton::clicked, this, [this, b, o, i](bool checked) {
                b->setChecked(!checked);
                m_page.OnInputButton(o, i);
            });
        }
        const struct {
            CIconButton* button;
            int icon;
            const char* tip;
            void (CMatrixPage::*handler)(int);
        } arrows[] = {{PreviousButton(o), IDI_PREVIOUS, "Output %1: previous input", &CMatrixPage::OnPreviousInput},
                      {NextButton(o), IDI_NEXT, "Output %1: next input", &CMatrixPage::OnNextInput}};
        for (const auto& a : arrows) {
            a.button->SetFlatLook(false);
            a.button->SetStateIcons(ResourcePixmap(a.icon));
            a.button->SetTipText(QString::fromLatin1(a.tip).arg(o));
            connect(a.button, &QAbstractButton::clicked, this, [this, o, h = a.handler] { (m_page.*h)(o); });
        }
        SetPictureName(o);
    }
    // Enter, Escape and Space never reach the page's buttons. Inside the main window, its own
    // filter already covers the page (and opens the system menu on Alt+Space, which a second
    // filter here would swallow first); a page shown on its own brings its own.
    if (!parent)
        InstallKeyFilter(this);
}

QWidget* CMatrixDlg::Control(int id) const { return corvane::Control<QWidget>(m_controls, id); }

std::vector<QWidget*> CMatrixDlg::FocusOrder() const
{
    // Output by output: its arrows, then its IN buttons.
    std::vector<QWidget*> order;
    for (int o = 1; o <= kRouteOutputs; ++o) {
        order.push_back(PreviousButton(o));
        order.push_back(NextButton(o));
        for (int i = 1; i <= kRouteInputs; ++i)
            order.push_back(InputButton(o, i));
    }
    return order;
}

QAbstractButton* CMatrixDlg::InputButton(int output, int input) const
{
    if (output < 1 || output > kRouteOutputs || input < 1 || input > kRouteInputs)
        return nullptr;
    return qobject_cast<QAbstractButton*>(Control(kInputIds[output - 1][input - 1]));
}

QLabel* CMatrixDlg::Picture(int output) const
{
    if (output < 1 || output > kRouteOutputs)
        return nullptr;
    return qobject_cast<QLabel*>(Control(kPictureIds[output - 1]));
}

CIconButton* CMatrixDlg::PreviousButton(int output) const
{
    if (output < 1 || output > kRouteOutputs)
        return nullptr;
    return qobject_cast<CIconButton*>(Control(kPreviousIds[output - 1]));
}

CIconButton* CMatrixDlg::NextButton(int output) const
{
    if (output < 1 || output > kRouteOutputs)
        return nullptr;
    return qobject_cast<CIconButton*>(Control(kNextIds[output - 1]));
}

int CMatrixDlg::DigitShown(int output) const
{
    return output >= 1 && output <= kRouteOutputs ? m_digit[output - 1] : 0;
}

void CMatrixDlg::CheckInput(int output, int input)
{
    for (int i = 1; i <= kRouteInputs; ++i)
        if (QAbstractButton* b = InputButton(output, i))
            b->setChecked(i == input);
}

void CMatrixDlg::RouteSet(int output, int input)
{
    Announce(window(), QStringLiteral("Output %1: input %2").arg(output).arg(input));
}

void CMatrixDlg::ShowDigit(int output, int input)
{
    QLabel* picture = Picture(output);
    const int bitmap = DigitBitmap(input);
    if (!picture || bitmap == 0)
        return;
    picture->setPixmap(ResourcePixmap(bitmap));
    m_digit[output - 1] = input;
    SetPictureName(output);
}

void CMatrixDlg::SetPictureName(int output)
{
    // Read by a screen reader in place of the digit.
    Picture(output)->setAccessibleName(QStringLiteral("Output %1: input %2").arg(output).arg(m_digit[output - 1]));
}

}  // namespace corvane
