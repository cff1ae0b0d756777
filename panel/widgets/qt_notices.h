// The operator's notices as real modal windows: the message box and the busy indicator. Each
// window runs in a nested event loop (QDialog::exec), so timers, replies and sockets keep
// flowing while it is open; a continuation runs when its box has closed.
#pragma once

#include <QPointer>
#include <QWidget>

#include "platform/notices.h"
#include "panel/widgets/message_dlg.h"
#include "panel/widgets/status_dlg.h"

namespace corvane {

class CQtNotices final : public INotices {
public:
    // timers: the busy indicator's clock; owner: the window the boxes belong to (the main
    // window), may be set later.
    explicit CQtNotices(ITimerService& timers, QWidget* owner = nullptr) : m_timers(timers), m_owner(owner) {}

    void SetOwner(QWidget* owner) { m_owner = owner; }
    QWidget* Owner() const { return m_owner; }

    // Sets g_strMessageText. Opens the box and returns when the operator has closed it, then
    // runs `then`; when a box is already open only its text changes and `then` runs at once.
    void ShowMessage(const std::string& text, std::function<void()> then = {}) override;
    // The question form. `then` receives IDOK or IDCANCEL after the box has closed; when a box
    // is already open the question is not asked and `then` receives IDCANCEL at once.
    void AskMessage(const std::string& text, std::function<void(int)> then) override;
    // Sets g_strStatusText; opens the busy indicator unless g_bStatusOpen, returning when it
    // has been closed. Otherwise only the caption changes (at the animation's next step).
    void OpenStatus(const std::string& text) override;
    // Sets g_strStatusText; switches an open busy indicator to its final view.
    void FinishStatus(const std::string& text) override;
    // Clears g_bStatusOpen and ends an open busy indicator at once.
    void CloseStatus() override;
    void WithdrawQuestion() override;
    bool NoLongerRemind() const override { return g_bNoLongerRemind; }

    // The open windows (nullptr when closed): the single message box and busy indicator.
    CMessageDlg* MessageDlg() const { return m_message; }
    CStatusDlg* StatusDlg() const { return m_status; }

    // Puts every shared notice variable back to its value at program start (tests).
    static void ResetState();

private:
    int RunMessageBox();

    ITimerService& m_timers;
    QPointer<QWidget> m_owner;
    QPointer<CMessageDlg> m_message;
    QPointer<CStatusDlg> m_status;
};

}  // namespace corvane
