// A log pane shown in a multi-line edit: text goes in at the end, the view follows it.
#pragma once

#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextCursor>

#include "core/link/log_panes.h"

namespace corvane {

class CPlainTextPane final : public ILogPane {
public:
    explicit CPlainTextPane(QPlainTextEdit* edit) : m_edit(edit) {}
    void Insert(std::string_view text) override
    {
        QTextCursor c = m_edit->textCursor();
        c.movePosition(QTextCursor::End);
        c.insertText(QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())));
        m_edit->setTextCursor(c);
        m_edit->ensureCursorVisible();
    }
    void Clear() override { m_edit->clear(); }

private:
    QPlainTextEdit* m_edit;
};

}  // namespace corvane
