// Look and feel shared by every window: dialog units, fonts, the button-face colour, the key
// filter and the window drag.
#pragma once

#include <QColor>
#include <QFont>
#include <QObject>
#include <QRect>
#include <functional>

class QApplication;
class QPainter;
class QWidget;

namespace corvane {

// Dialog units to pixels: x px = round(x * 7 / 4), y px = y * 2 (halves round away from zero).
int DuX(int x);
int DuY(int y);
// A control's pixel rectangle from its template position and size. Position and size are
// converted on their own, so controls of equal template size are equally large on the screen.
QRect DuRect(int x, int y, int w, int h);

// Fusion style with its own palette, so every machine shows the same colours.
void ApplyPlatformLook(QApplication& app);

// The 9-point font of every dialog template, in the first of its families that is installed
// (the set-up installs the fallback).
QFont DialogFont();
// Bold sans serif whose character cell (ascent + descent) is 16 pixels (the set-up installs a
// metric-compatible fallback): title and tab labels.
QFont TitleFont();

// The platform's button-face colour (QPalette::Button of the application palette).
QColor ButtonFaceColor();
// The blue title band of every window, its 1-pixel edge lines, and the tab separators.
inline QColor BandColor() { return QColor(30, 144, 225); }
inline QColor BandEdgeColor() { return QColor(30, 120, 255); }
inline QColor TabSeparatorColor() { return QColor(30, 120, 200); }

// 3D edge colours used by raised buttons.
QColor ButtonHighlightColor();  // outermost light edge
QColor Light3dColor();          // inner light edge
QColor ButtonShadowColor();     // inner dark edge, pressed frame
QColor DarkShadow3dColor();     // outermost dark edge

// Opaque or translucent 1-pixel lines and outlines with exact end points (both inclusive);
// alpha blends once per pixel, corners included.
void FillHLine(QPainter& p, int x0, int x1, int y, const QColor& c);
void FillVLine(QPainter& p, int x, int y0, int y1, const QColor& c);
// Outline of the rectangle whose corners are (x, y) and (x + w, y + h).
void OutlineRect(QPainter& p, int x, int y, int w, int h, const QColor& c);

// Swallows key presses of Return/Enter, Escape and Space for a window and all of its present
// and future child widgets, so a stray key cannot end the window or press its buttons.
// Alt+Space is swallowed too (a focused button would take its Space) and opens the window's
// system menu instead, as do the Menu key and Shift+F10, which no desktop takes for itself. Ctrl+Enter, a chord nobody types by accident, presses the focused
// button, check box or radio button (a queued click, as the mouse's). Child windows (dialogs
// owned by the window, popups) are left to themselves.
class CKeyFilter final : public QObject {
    Q_OBJECT
public:
    explicit CKeyFilter(QObject* parent = nullptr, std::function<void()> systemMenu = {})
        : QObject(parent), m_systemMenu(std::move(systemMenu))
    {
    }
    // Installs this filter on w and every widget below it that is not a window of its own.
    void InstallOn(QWidget* w);
    // Window keys (page changes and the like): asked first for every key press in the window;
    // true when it took the key.
    void SetKeyCommands(std::function<bool(int key, Qt::KeyboardModifiers modifiers)> commands)
    {
        m_commands = std::move(commands);
    }
    static bool IsFilteredKey(int key, Qt::KeyboardModifiers modifiers);
    static bool IsSystemMenuKey(int key, Qt::KeyboardModifiers modifiers);
    static bool IsPressKey(int key, Qt::KeyboardModifiers modifiers);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::function<void()> m_systemMenu;
    std::function<bool(int, Qt::KeyboardModifiers)> m_commands;
};

// Creates a key filter owned by the window and installs it on the window and its children;
// systemMenu opens the window's system menu (Menu key, Shift+F10, Alt+Space).
CKeyFilter* InstallKeyFilter(QWidget* window, std::function<void()> systemMenu = {});

// Starts the window manager's move of w's top-level window, as if its title bar had been
// grabbed. False where the platform cannot (offscreen, or the window is not shown yet).
bool StartWindowDrag(QWidget* w);
// Replaces what StartWindowDrag does (tests watch which presses drag); an empty one restores it.
void SetWindowDragHandler(std::function<bool(QWidget*)> handler);

}  // namespace corvane
