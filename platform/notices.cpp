#include "platform/notices.h"

#include "platform/scripted_notices.h"

namespace corvane {


void CScriptedNotices::ShowMessage(const std::string& text, std::function<void()> then)
{
    m_events.push_back({"show", text});
    m_boxText = text;
    if (m_boxOpen) {
        // Only the text changes; the caller goes on at once.
        if (then)
            then();
        return;
    }
    m_boxOpen = true;
    m_boxQuestion = false;
    m_then = [then = std::move(then)](int) {
        if (then)
            then();
    };
}

void CScriptedNotices::AskMessage(const std::string& text, std::function<void(int)> then)
{
    m_events.push_back({"ask", text});
    m_boxText = text;
    if (m_boxOpen) {
        // The question is not asked while a box is open: the caller is told Cancel.
        if (then)
            then(IDCANCEL);
        return;
    }
    m_boxOpen = true;
    m_boxQuestion = true;
    m_then = std::move(then);
}

void CScriptedNotices::CloseBox(int result, bool noLongerRemind)
{
    if (!m_boxOpen)
        return;
    if (m_boxQuestion)
        m_noLongerRemind = noLongerRemind;
    m_boxOpen = false;
    auto then = std::move(m_then);
    m_then = nullptr;
    if (then)
        then(result);
}

void CScriptedNotices::OpenStatus(const std::string& text)
{
    m_events.push_back({"open", text});
    m_statusText = text;
    m_statusOpen = true;
    m_statusFinished = false;
}

void CScriptedNotices::FinishStatus(const std::string& text)
{
    m_events.push_back({"finish", text});
    if (!m_statusOpen)
        return;
    m_statusText = text;
    m_statusFinished = true;
}

void CScriptedNotices::CloseStatus()
{
    m_events.push_back({"close", ""});
    m_statusOpen = false;
    m_statusFinished = false;
}

std::vector<std::string> CScriptedNotices::Messages() const
{
    std::vector<std::string> out;
    for (const auto& e : m_events)
        if (e.kind == "show" || e.kind == "ask")
            out.push_back(e.text);
    return out;
}

}  // namespace corvane
