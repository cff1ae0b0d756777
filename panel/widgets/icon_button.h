// A push button that paints itself: flat title-band buttons that change face and icon while the
// pointer is over them, and raised buttons with a 2-pixel edge (the routing page's arrows).
// It reports clicks exactly like any push button (clicked()); only its look is its own. The second
// press of a fast double click is a press like any other (the widget default), so both count.
#pragma once

#include <QAbstractButton>
#include <QColor>
#include <QPixmap>
#include <array>

namespace corvane {

class CIconButton : public QAbstractButton {
    Q_OBJECT
public:
    enum : int { COLOR_BK_HOT = 0, COLOR_BK_REST = 1, COLOR_BK_FOCUS = 2 };

    explicit CIconButton(QWidget* parent = nullptr);

    // Flat: no edge at rest, hover tracking on. Raised otherwise.
    void SetFlatLook(bool flat);
    // Flat buttons draw a thin 3D frame while hovered or pressed.
    void SetHoverFrame(bool on);
    // One of the three face colours (COLOR_BK_HOT, COLOR_BK_REST, COLOR_BK_FOCUS); others ignored.
    void SetStateColor(int index, const QColor& colour);
    // Hot icon (pointer over or pressed) and rest icon; a null rest icon uses the hot one in every
    // state, a null hot icon removes both. Each is drawn at its own size. Returns 0: a pixmap is
    // either null or drawable, so there is no icon that cannot be read.
    int SetStateIcons(const QPixmap& hot, const QPixmap& rest = QPixmap());
    // The tooltip, also the accessible name. A null text does nothing.
    void SetTipText(const QString& text);
    // The dialog's default button: a raised button shows the black outer line for it.
    void SetDefault(bool on);

    bool FlatLook() const { return m_bFlatLook; }
    bool HoverFrame() const { return m_bHoverFrame; }
    bool MouseOver() const { return m_bMouseOver; }
    bool IsDefault() const { return m_bDefault; }
    QColor StateColor(int index) const;
    // The icon shown now (rest or hot, by state); null when none is set.
    const QPixmap& CurrentIcon() const;

    QSize sizeHint() const override { return {25, 25}; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void changeEvent(QEvent* event) override;

    // The face: hot colour while hovered or pressed, focus colour while focused, else rest.
    virtual void DrawFace(QPainter& p, const QRect& r);
    // A 1-pixel 3D rectangle along r: raised, or sunken while pressed.
    virtual void DrawEdgeFrame(QPainter& p, const QRect& r);

private:
    // Hover tracking for a pointer over (or off) the button with these mouse buttons held.
    void TrackPointer(bool over, Qt::MouseButtons buttons);
    void ResetHover();

    bool m_bFlatLook = true;
    bool m_bMouseOver = false;
    bool m_bPressed = false;
    bool m_bFocused = false;
    bool m_bDefault = false;
    bool m_bHoverFrame = true;
    std::array<QColor, 3> m_faceColors;
    std::array<QPixmap, 2> m_Icons;  // 0 = hot, 1 = rest
};

}  // namespace corvane
