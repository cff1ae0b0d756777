#include "panel/widgets/message_dlg.h"

#include <QCheckBox>
#include <QFontMetrics>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>

#include "platform/notices.h"
#include "panel/widgets/qt_ui.h"
#include "panel/res/icons.h"
#include "panel/widgets/accessible_window.h"
#include "panel/widgets/icon_button.h"

namespace corvane {

std::string g_strMessageText;
bool g_bMessageOpen = false;
bool g_bMessageAsk = false;
bool g_bNoLongerRemind = false;

namespace {
constexpr int kBandHeight = 25;
constexpr int kBottomBandTop = 120;
const QColor kOutline(128, 128, 128, 150);
}  // namespace

CMessageDlg::CMessageDlg(QWidget* owner) : QDialog(owner, Qt::Dialog | Qt::FramelessWindowHint)
{
    setObjectName(QStringLiteral("messageBox"));
    m_controls = BuildDialog(135, this);
    setFixedSize(size());

    m_btnClose = Control<CIconButton>(m_controls, IDC_CLOSE);
    m_btnOk = Control<QPushButton>(m_controls, IDC_OK);
    m_btnCancel = Control<QPushButton>(m_controls, IDC_CANCEL);
    m_chkNoLongerRemind = Control<QCheckBox>(m_controls, IDC_NO_LONGER_REMIND);
    m_picture = Control<QLabel>(m_controls, IDC_PICTURE);
    Q_ASSERT(m_btnClose && m_btnOk && m_btnCancel && m_chkNoLongerRemind && m_picture);
    m_picturePos = m_picture->pos();

    // The title-band close button, set up like every other one.
    m_btnClose->SetHoverFrame(false);
    m_btnClose->SetStateIcons(ResourcePixmap(IDI_CLOSE_HOT), ResourcePixmap(IDI_CLOSE));
    m_btnClose->SetTipText(QStringLiteral("Close"));
    m_btnClose->SetStateColor(CIconButton::COLOR_BK_HOT, BandColor());
    m_btnClose->SetStateColor(CIconButton::COLOR_BK_REST, BandColor());
    m_btnClose->SetStateColor(CIconButton::COLOR_BK_FOCUS, BandColor());
    PlaceCloseButton();

    m_btnCancel->hide();
    m_chkNoLongerRemind->hide();
    if (g_bMessageAsk) {
        // The question: "Ok" goes left of "Cancel".
        const QRect ok = m_btnOk->geometry();
        const QRect cancel = m_btnCancel->geometry();
        m_btnOk->move(cancel.topLeft());
        m_btnCancel->move(ok.topLeft());
        m_btnCancel->show();
        // "No longer remind" belongs to the factory-reset question.
        if (g_strMessageText == kFactoryResetQuestion)
            m_chkNoLongerRemind->show();
    }

    connect(m_btnOk, &QPushButton::clicked, this, &CMessageDlg::OnOk);
    connect(m_btnCancel, &QPushButton::clicked, this, &CMessageDlg::OnCancel);
    connect(m_btnClose, &CIconButton::clicked, this, &CMessageDlg::OnCancel);
    // Every click counts, whichever button closes the box afterwards.
    connect(m_chkNoLongerRemind, &QCheckBox::clicked, this, [](bool checked) { g_bNoLongerRemind = checked; });

    InstallKeyFilter(this, [this] { ShowSystemMenu(); });
    m_spokenText = new CSpokenText(this);
    // Focus starts on "Ok", on "Cancel" for a question: the Ok of each (a factory reset, closing
    // during a transfer) destroys something, Cancel loses nothing. The focus ring shows from the
    // start, so the operator sees which answer Ctrl+Enter gives. Tab goes along the bottom row,
    // then to the close button.
    QWidget::setTabOrder(m_btnOk, m_btnCancel);
    QWidget::setTabOrder(m_btnCancel, m_chkNoLongerRemind);
    QWidget::setTabOrder(m_chkNoLongerRemind, m_btnClose);
    (g_bMessageAsk ? m_btnCancel : m_btnOk)->setFocus(Qt::OtherFocusReason);
    RefreshText();
}

void CMessageDlg::ShowSystemMenu()
{
    if (!m_systemMenu) {
        m_systemMenu = new QMenu(this);
        m_systemMenu->setAccessibleName(QStringLiteral("System menu"));
        // Closing the box is what its close button does: the question's answer is "Cancel".
        m_systemMenu->addAction(QStringLiteral("Close\tAlt+F4"), this, &CMessageDlg::OnCancel);
    }
    m_systemMenu->popup(mapToGlobal(QPoint(1, kBandHeight + 1)));
}

QMenu* CMessageDlg::SystemMenu() const { return m_systemMenu; }

QWidget* CMessageDlg::Item(int id) const { return Control<QWidget>(m_controls, id); }

namespace {
// The question's rectangle, also taken by any text the narrow ones would cut.
const QRect kWideText(QPoint(50, 60), QPoint(320 - 1, 100 - 1));
int TextWidth(const std::string& text)
{
    return QFontMetrics(DialogFont()).horizontalAdvance(QString::fromStdString(text));
}
}  // namespace

QRect CMessageDlg::TextRect(const std::string& text)
{
    QRect box(QPoint(100, 60), QPoint(220 - 1, 100 - 1));
    if (text == "Connect to Matrix failed!")
        box = QRect(QPoint(100, 60), QPoint(255 - 1, 100 - 1));
    else if (text == "Please open the file(.fw)!")
        box = QRect(QPoint(100, 60), QPoint(260 - 1, 100 - 1));
    // The question, and any text the narrow rectangle would cut (two lines there when one is not
    // enough): a message is read whole or not at all.
    if (text == kFactoryResetQuestion || TextWidth(text) > box.width())
        box = kWideText;
    return box;
}

bool CMessageDlg::TextWraps(const std::string& text) { return TextWidth(text) > kWideText.width(); }

QColor CMessageDlg::BottomBandColor()
{
    const QColor face = ButtonFaceColor();
    return QColor((face.red() + 5) % 256, (face.green() + 10) % 256, face.blue());
}

void CMessageDlg::RefreshText()
{
    // A wide text needs the picture out of its way.
    m_picture->move(TextRect(g_strMessageText).left() < 100 ? QPoint(9, 60) : m_picturePos);
    // The box is named by its text, which is also read as the label it shows.
    const QString text = QString::fromStdString(g_strMessageText);
    setAccessibleName(text);
    m_spokenText->setGeometry(TextRect(g_strMessageText));
    m_spokenText->SetText(text);
    update();
}

void CMessageDlg::OnOk()
{
    g_bMessageOpen = false;
    done(IDOK);
}

void CMessageDlg::OnCancel()
{
    g_bMessageOpen = false;
    done(IDCANCEL);
}

void CMessageDlg::reject() { OnCancel(); }

void CMessageDlg::PlaceCloseButton() { m_btnClose->setGeometry(width() - 26, 1, 25, 25); }

void CMessageDlg::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    setAttribute(Qt::WA_KeyboardFocusChange);  // the first answer's focus ring, before any Tab
}

void CMessageDlg::resizeEvent(QResizeEvent* event)
{
    QDialog::resizeEvent(event);
    PlaceCloseButton();
}

void CMessageDlg::mousePressEvent(QMouseEvent* event)
{
    // The whole free surface serves as the title bar.
    if (event->button() == Qt::LeftButton && StartWindowDrag(this)) {
        event->accept();
        return;
    }
    QDialog::mousePressEvent(event);
}

void CMessageDlg::paintEvent(QPaintEvent*)
{
    const int w = width(), h = height();
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.fillRect(rect(), Qt::white);
    OutlineRect(p, 0, 0, w - 1, h - 1, kOutline);
    p.fillRect(QRect(1, 1, w - 2, kBandHeight), BandColor());
    if (h > kBottomBandTop + 1)
        p.fillRect(QRect(1, kBottomBandTop, w - 2, h - kBottomBandTop - 1), BottomBandColor());
    FillHLine(p, 0, w - 2, 0, BandEdgeColor());
    FillVLine(p, 0, 0, kBandHeight, BandEdgeColor());
    FillVLine(p, w - 1, 0, kBandHeight, BandEdgeColor());

    // Centred both ways, one line unless it needs two, kept within the rectangle.
    const QRect box = TextRect(g_strMessageText);
    p.setClipRect(box);
    p.setPen(Qt::black);
    p.setFont(DialogFont());
    p.drawText(box, Qt::AlignCenter | (TextWraps(g_strMessageText) ? Qt::TextWordWrap : Qt::TextSingleLine),
               QString::fromStdString(g_strMessageText));
}

}  // namespace corvane
