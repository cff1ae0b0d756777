#include "panel/widgets/qt_notices.h"

namespace corvane {

void CQtNotices::ResetState()
{
    g_strMessageText.clear();
    g_bMessageOpen = false;
    g_bMessageAsk = false;
    g_bNoLongerRemind = false;
    g_strStatusText = "Setting";
    g_bStatusOpen = false;
}

int CQtNotices::RunMessageBox()
{
    // A window made anew for each opening: "Cancel" and the check box start hidden and unticked.
    QPointer<CMessageDlg> dlg = new CMessageDlg(m_owner);
    m_message = dlg;
    const int result = dlg->exec();
    // However the box went away, it is no longer open.
    g_bMessageOpen = false;
    if (m_message == dlg)
        m_message = nullptr;
    delete dlg.data();  // null if its owner took it along
    return result == IDOK ? IDOK : IDCANCEL;
}

void CQtNotices::ShowMessage(const std::string& text, std::function<void()> then)
{
    g_strMessageText = text;
    if (g_bMessageOpen) {
        if (m_message)
            m_message->RefreshText();
        if (then)
            then();
        return;
    }
    g_bMessageOpen = true;
    g_bMessageAsk = false;
    RunMessageBox();
    if (then)
        then();
}

void CQtNotices::AskMessage(const std::string& text, std::function<void(int)> then)
{
    g_strMessageText = text;
    if (g_bMessageOpen) {
        // Not asked: the caller hears Cancel and releases whatever it holds.
        if (m_message)
            m_message->RefreshText();
        if (then)
            then(IDCANCEL);
        return;
    }
    g_bMessageAsk = true;
    g_bMessageOpen = true;
    const int result = RunMessageBox();
    g_bMessageAsk = false;
    if (then)
        then(result);
}

void CQtNotices::WithdrawQuestion()
{
    if (g_bMessageAsk && m_message)
        m_message->reject();
}

void CQtNotices::OpenStatus(const std::string& text)
{
    g_strStatusText = text;
    if (g_bStatusOpen)
        return;
    g_bStatusOpen = true;
    QPointer<CStatusDlg> dlg = new CStatusDlg(m_timers, m_owner);
    m_status = dlg;
    dlg->exec();
    // Ended by Escape or Alt+F4, g_bStatusOpen stays set until a caller runs CloseStatus.
    if (m_status == dlg)
        m_status = nullptr;
    delete dlg.data();
}

void CQtNotices::FinishStatus(const std::string& text)
{
    g_strStatusText = text;
    if (m_status && m_status->isVisible())
        m_status->ShowFinal();
}

void CQtNotices::CloseStatus()
{
    g_bStatusOpen = false;
    if (m_status && m_status->isVisible())
        m_status->done(IDOK);
}

}  // namespace corvane
