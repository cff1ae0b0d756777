// The busy indicator: a small borderless window with a caption followed by animated dots, and
// a final view with a check mark. One opening at a time; CQtNotices opens and closes it.
#pragma once

#include <QDialog>
#include <string>

#include "platform/timers.h"
#include "panel/widgets/dialog_builder.h"

class QLabel;

namespace corvane {

// The caption; read at every step of the animation, so callers change it by changing this.
extern std::string g_strStatusText;
// From the moment a caller decides to open the window until a caller closes it.
extern bool g_bStatusOpen;

class CStatusDlg : public QDialog {
    Q_OBJECT
public:
    enum : int {
        IDC_TEXT = 1086,
        IDC_PICTURE = 1087,
        TIMER_DOTS_1 = 1001,  // " ." next
        TIMER_DOTS_2 = 1002,  // " . ." next
        TIMER_DOTS_3 = 1003,  // " . . ." next
        kDotPeriodMs = 300,
    };

    // Builds the window from template 142 and starts the animation (window timers: the virtual
    // clock in tests).
    // timers: the clock of the dots' animation.
    explicit CStatusDlg(ITimerService& timers, QWidget* owner = nullptr);

    // The final view: no more dots, the check mark, g_strStatusText alone.
    void ShowFinal();

    QString Text() const;
    QLabel* TextLabel() const { return m_text; }
    QLabel* Picture() const { return m_picture; }

public slots:
    void reject() override;  // Escape, Alt+F4: the window ends with Cancel

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void OnTimer(unsigned id);
    void SetCaption(const char* dots);

    ControlMap m_controls;
    QLabel* m_text = nullptr;
    QLabel* m_picture = nullptr;
    CTimerOwner m_timers;  // last member: its timers die first
};

}  // namespace corvane
