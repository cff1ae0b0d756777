// A scripted operator for flow tests: records every notice, keeps the message box and the busy
// indicator "open" until the test closes them, and runs the box's continuation on closing.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "platform/notices.h"

namespace corvane {

class CScriptedNotices final : public INotices {
public:
    struct Event {
        std::string kind;  // "show", "ask", "open", "finish", "close"
        std::string text;
    };

    void ShowMessage(const std::string& text, std::function<void()> then) override;
    void AskMessage(const std::string& text, std::function<void(int)> then) override;
    void OpenStatus(const std::string& text) override;
    void FinishStatus(const std::string& text) override;
    void CloseStatus() override;
    void WithdrawQuestion() override
    {
        if (m_boxQuestion)
            CloseBox(IDCANCEL, m_noLongerRemind);
    }
    bool NoLongerRemind() const override { return m_noLongerRemind; }
    void SetNoLongerRemind(bool on) { m_noLongerRemind = on; }

    // The message box.
    bool BoxOpen() const { return m_boxOpen; }
    const std::string& BoxText() const { return m_boxText; }
    bool BoxIsQuestion() const { return m_boxQuestion; }
    // Closes the box with IDOK or IDCANCEL; noLongerRemind is the check box's state then.
    void CloseBox(int result = IDOK, bool noLongerRemind = false);

    // The busy indicator.
    bool StatusOpen() const { return m_statusOpen; }
    bool StatusFinished() const { return m_statusFinished; }
    const std::string& StatusText() const { return m_statusText; }

    const std::vector<Event>& Events() const { return m_events; }
    // Texts of every ShowMessage / AskMessage so far, in order.
    std::vector<std::string> Messages() const;
    void ClearEvents() { m_events.clear(); }

private:
    std::vector<Event> m_events;
    bool m_boxOpen = false;
    bool m_boxQuestion = false;
    std::string m_boxText;
    std::function<void(int)> m_then;
    bool m_statusOpen = false;
    bool m_statusFinished = false;
    std::string m_statusText;
    bool m_noLongerRemind = false;
};

}  // namespace corvane
