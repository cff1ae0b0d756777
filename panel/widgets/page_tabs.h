// The page tabs of a window's title band: labels the window paints as tabs, held in a strip that
// lets the mouse through to the window (which decides what a press on a tab does). For the
// keyboard the current tab is a focus stop whose Left, Right, Home and End ask for the
// neighbouring, first or last tab; assistive technology reads the strip as a page tab list
// whose current tab is selected, and its "press" asks for that tab.
#pragma once

#include <QWidget>
#include <functional>
#include <vector>

class QLabel;

namespace corvane {

class CPageTabList final : public QWidget {
    Q_OBJECT
public:
    // A strip over the window's band, from its top-left corner: the labels keep the positions
    // they have in the window.
    explicit CPageTabList(QWidget* window);

    // Takes the label into the strip, at its place in the window.
    void AddTab(QLabel* label);
    const std::vector<QLabel*>& Tabs() const { return m_tabs; }

    // The selected tab; only it takes focus.
    void SetCurrent(QLabel* label);
    QLabel* Current() const { return m_current; }

    // Whether the operator can reach the tab now: shown and inside the window's visible area.
    bool IsReachable(const QLabel* label) const;
    // The reachable tab `steps` places left (negative) or right of the current one in the order
    // on screen, wrapping around; nullptr when there is none.
    QLabel* Neighbour(int steps) const;

    // Asked when the operator picks a tab by the keyboard or assistive technology; the owner
    // switches pages (or refuses) exactly as for a press of the mouse.
    std::function<void(QLabel*)> onPick;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::vector<QLabel*> OnScreenOrder() const;

    std::vector<QLabel*> m_tabs;
    QLabel* m_current = nullptr;
};

// Installs the accessible interfaces of the page tab list and its tabs; once per process.
void InstallAccessibleTabs();

}  // namespace corvane
