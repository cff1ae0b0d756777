// A log pane shown in a multi-line edit: text goes in at the end, the view follows it. The edit
// may come later than the text (a pane out of sight is made when the window first shows it):
// until then the pane keeps its text, and the edit starts with it.
#pragma once

#include <QPlainTextEdit>
#include <QPointer>
#include <QScrollBar>
#include <QTextCursor>
#include <string>
#include <utility>

#include "core/link/log_panes.h"

namespace corvane {

class CPlainTextPane final : public ILogPane {
public:
    explicit CPlainTextPane(QPlainTextEdit* edit = nullptr) { Attach(edit); }
    void Insert(std::string_view text) override
    {
        if (!m_edit) {
            m_pending.append(text);
            return;
        }
        QTextCursor c = m_edit->textCursor();
        c.movePosition(QTextCursor::End);
        c.insertText(QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())));
        m_edit->setTextCursor(c);
        m_edit->ensureCursorVisible();
    }
    void Clear() override
    {
        m_pending.clear();
        if (m_edit)
            m_edit->clear();
    }
    // The edit that shows the pane from now on; it takes the text kept so far.
    void Attach(QPlainTextEdit* edit)
    {
        m_edit = edit;
        if (!m_edit)
            return;
        m_edit->setUndoRedoEnabled(false);
        const std::string pending = std::exchange(m_pending, std::string());
        if (!pending.empty())
            Insert(pending);
    }

private:
    QPointer<QPlainTextEdit> m_edit;
    std::string m_pending;
};

}  // namespace corvane
