#include "panel/widgets/status_dlg.h"

#include <QKeyEvent>
#include <QLabel>
#include <QPainter>

#include "platform/notices.h"
#include "panel/widgets/qt_ui.h"

namespace corvane {

std::string g_strStatusText = "Setting";
bool g_bStatusOpen = false;

namespace {
const QColor kOutline(30, 144, 225, 150);
}  // namespace

CStatusDlg::CStatusDlg(ITimerService& timers, QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::FramelessWindowHint), m_timers(timers, [this](unsigned id) { OnTimer(id); })
{
    setObjectName(QStringLiteral("busyIndicator"));
    setAccessibleName(QStringLiteral("Busy"));
    m_controls = BuildDialog(142, this);
    setFixedSize(size());
    m_text = Control<QLabel>(m_controls, IDC_TEXT);
    m_picture = Control<QLabel>(m_controls, IDC_PICTURE);
    Q_ASSERT(m_text && m_picture);

    // The caption sits on white, black text.
    QPalette pal = m_text->palette();
    pal.setColor(QPalette::Window, Qt::white);
    pal.setColor(QPalette::WindowText, Qt::black);
    m_text->setPalette(pal);
    m_text->setAutoFillBackground(true);
    m_text->setWordWrap(false);

    m_picture->hide();
    SetCaption(" . . .");
    m_timers.SetTimer(TIMER_DOTS_1, kDotPeriodMs);
}

QString CStatusDlg::Text() const { return m_text->text(); }

void CStatusDlg::SetCaption(const char* dots)
{
    // Only the shown text animates: what assistive technology reads is the caption alone, and
    // changes only with it (a screen reader would otherwise speak it again every 300 ms).
    const QString caption = QString::fromStdString(g_strStatusText);
    m_text->setText(caption + QString::fromLatin1(dots));
    if (m_text->accessibleName() != caption)
        m_text->setAccessibleName(caption);
    if (accessibleDescription() != caption)
        setAccessibleDescription(caption);
}

void CStatusDlg::OnTimer(unsigned id)
{
    // Exactly one of the three runs at a time; each step reads the caption afresh.
    const char* dots = nullptr;
    unsigned next = 0;
    switch (id) {
    case TIMER_DOTS_1:
        dots = " .";
        next = TIMER_DOTS_2;
        break;
    case TIMER_DOTS_2:
        dots = " . .";
        next = TIMER_DOTS_3;
        break;
    case TIMER_DOTS_3:
        dots = " . . .";
        next = TIMER_DOTS_1;
        break;
    default:
        return;
    }
    m_timers.KillTimer(id);
    SetCaption(dots);
    m_timers.SetTimer(next, kDotPeriodMs);
}

void CStatusDlg::ShowFinal()
{
    m_timers.KillTimer(TIMER_DOTS_1);
    m_timers.KillTimer(TIMER_DOTS_2);
    m_timers.KillTimer(TIMER_DOTS_3);
    m_picture->show();
    SetCaption("");
}

void CStatusDlg::keyPressEvent(QKeyEvent* event)
{
    // No key filter here: Enter ends the window like a dialog's default OK, Escape like Cancel
    // (g_bStatusOpen stays set until a caller runs CloseStatus).
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (enter && !(event->modifiers() & ~Qt::KeypadModifier)) {
        done(IDOK);
        return;
    }
    QDialog::keyPressEvent(event);
}

void CStatusDlg::reject() { done(IDCANCEL); }

void CStatusDlg::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.fillRect(rect(), Qt::white);
    OutlineRect(p, 0, 0, width() - 1, height() - 1, kOutline);
}

}  // namespace corvane
