#include "panel/widgets/icon_button.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>

#include "panel/widgets/qt_ui.h"

namespace corvane {

CIconButton::CIconButton(QWidget* parent) : QAbstractButton(parent)
{
    // The platform colour is read once, when the button is made.
    m_faceColors.fill(ButtonFaceColor());
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void CIconButton::SetFlatLook(bool flat)
{
    m_bFlatLook = flat;
    if (!flat)
        m_bMouseOver = false;  // raised buttons never track the pointer
    update();
}

void CIconButton::SetHoverFrame(bool on)
{
    m_bHoverFrame = on;
    update();
}

void CIconButton::SetStateColor(int index, const QColor& colour)
{
    if (index < 0 || index >= static_cast<int>(m_faceColors.size()))
        return;
    m_faceColors[static_cast<size_t>(index)] = colour;
    update();
}

QColor CIconButton::StateColor(int index) const
{
    if (index < 0 || index >= static_cast<int>(m_faceColors.size()))
        return {};
    return m_faceColors[static_cast<size_t>(index)];
}

int CIconButton::SetStateIcons(const QPixmap& hot, const QPixmap& rest)
{
    m_Icons = {};
    if (!hot.isNull()) {
        m_Icons[0] = hot;
        m_Icons[1] = rest;  // null: the hot icon shows in every state
    }
    update();
    return 0;
}

void CIconButton::SetTipText(const QString& text)
{
    if (text.isNull())
        return;
    setToolTip(text);
    setAccessibleName(text);
}

void CIconButton::SetDefault(bool on)
{
    m_bDefault = on;
    update();
}

const QPixmap& CIconButton::CurrentIcon() const
{
    const bool hot = isDown() || m_bMouseOver;
    if (!hot && !m_Icons[1].isNull())
        return m_Icons[1];
    return m_Icons[0];
}

void CIconButton::DrawFace(QPainter& p, const QRect& r)
{
    const QColor& face = (m_bMouseOver || m_bPressed) ? m_faceColors[COLOR_BK_HOT]
                         : m_bFocused                  ? m_faceColors[COLOR_BK_FOCUS]
                                                       : m_faceColors[COLOR_BK_REST];
    p.fillRect(r, face);
}

void CIconButton::DrawEdgeFrame(QPainter& p, const QRect& r)
{
    if (r.width() <= 0 || r.height() <= 0)
        return;
    const QColor first = m_bPressed ? ButtonShadowColor() : ButtonHighlightColor();
    const QColor second = m_bPressed ? ButtonHighlightColor() : ButtonShadowColor();
    const int l = r.left(), t = r.top(), rr = r.right(), b = r.bottom();  // inclusive
    if (rr - 1 >= l)
        FillHLine(p, l, rr - 1, t, first);  // top, without its rightmost pixel
    if (b - 1 >= t)
        FillVLine(p, l, t, b - 1, first);  // left, without its bottom pixel
    FillVLine(p, rr, t, b, second);
    FillHLine(p, l, rr, b, second);
}

void CIconButton::paintEvent(QPaintEvent*)
{
    m_bPressed = isDown();
    m_bFocused = hasFocus();

    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing, false);

    const QRect R = rect();
    QRect r = R;

    if (!m_bFlatLook && (m_bFocused || m_bDefault)) {
        OutlineRect(p, r.x(), r.y(), r.width() - 1, r.height() - 1, Qt::black);
        r.adjust(1, 1, -1, -1);
    }

    DrawFace(p, r);

    if (m_bPressed) {
        if (m_bFlatLook) {
            if (m_bHoverFrame)
                DrawEdgeFrame(p, r);
        } else {
            OutlineRect(p, r.x(), r.y(), r.width() - 1, r.height() - 1, ButtonShadowColor());
        }
    } else if (m_bFlatLook) {
        if (m_bMouseOver && m_bHoverFrame)
            DrawEdgeFrame(p, r);
    } else if (r.width() >= 2 && r.height() >= 2) {
        // Raised 2-pixel edge; left, top exclusive-right and exclusive-bottom as a RECT has them.
        const int left = r.x(), top = r.y(), right = r.x() + r.width(), bottom = r.y() + r.height();
        FillVLine(p, left, top, bottom - 1, ButtonHighlightColor());
        FillHLine(p, left, right - 1, top, ButtonHighlightColor());
        FillVLine(p, left + 1, top + 1, bottom - 1, Light3dColor());
        FillHLine(p, left + 1, right - 1, top + 1, Light3dColor());
        FillHLine(p, left, right - 1, bottom - 1, DarkShadow3dColor());
        FillVLine(p, right - 1, top, bottom - 1, DarkShadow3dColor());
        FillHLine(p, left + 1, right - 2, bottom - 2, ButtonShadowColor());
        FillVLine(p, right - 2, top + 1, bottom - 2, ButtonShadowColor());
    }

    if (!m_Icons[0].isNull()) {
        const QPixmap& icon = CurrentIcon();
        const QSize size = icon.deviceIndependentSize().toSize();
        int x = R.left() + (R.width() - size.width()) / 2;
        int y = R.top() + (R.height() - size.height()) / 2;
        if (m_bPressed) {
            ++x;
            ++y;
        }
        p.drawPixmap(x, y, icon);
    }

    if (!m_bFlatLook && m_bFocused) {
        const QRect f = r.adjusted(3, 3, -3, -3);
        if (f.width() > 0 && f.height() > 0) {
            // Dotted focus rectangle: every other pixel along its edge.
            for (int x = f.left(); x <= f.right(); ++x) {
                if ((x - f.left()) % 2 == 0) {
                    p.fillRect(x, f.top(), 1, 1, Qt::black);
                    p.fillRect(x, f.bottom(), 1, 1, Qt::black);
                }
            }
            for (int y = f.top(); y <= f.bottom(); ++y) {
                if ((y - f.top()) % 2 == 0) {
                    p.fillRect(f.left(), y, 1, 1, Qt::black);
                    p.fillRect(f.right(), y, 1, 1, Qt::black);
                }
            }
        }
    }
}

void CIconButton::TrackPointer(bool over, Qt::MouseButtons buttons)
{
    // No hover starts while the left button is held (a drag from elsewhere).
    if ((buttons & Qt::LeftButton) && !m_bMouseOver)
        return;
    if (!m_bFlatLook)
        return;
    if (over) {
        if (!m_bMouseOver) {
            m_bMouseOver = true;
            update();
        }
    } else if (m_bMouseOver) {
        m_bMouseOver = false;
        update();
    }
}

void CIconButton::ResetHover()
{
    if (m_bFlatLook && m_bMouseOver) {
        m_bMouseOver = false;
        update();
    }
}

void CIconButton::enterEvent(QEnterEvent* event)
{
    QAbstractButton::enterEvent(event);
    TrackPointer(true, QGuiApplication::mouseButtons());  // an enter event carries no buttons
}

void CIconButton::leaveEvent(QEvent* event)
{
    QAbstractButton::leaveEvent(event);
    ResetHover();
}

void CIconButton::mouseMoveEvent(QMouseEvent* event)
{
    QAbstractButton::mouseMoveEvent(event);
    TrackPointer(rect().contains(event->position().toPoint()), event->buttons());
}

void CIconButton::focusOutEvent(QFocusEvent* event)
{
    QAbstractButton::focusOutEvent(event);
    ResetHover();
}

void CIconButton::hideEvent(QHideEvent* event)
{
    QAbstractButton::hideEvent(event);
    ResetHover();
}

void CIconButton::changeEvent(QEvent* event)
{
    QAbstractButton::changeEvent(event);
    if (event->type() == QEvent::EnabledChange && !isEnabled())
        ResetHover();
}

}  // namespace corvane
