// The port drop-down list as the port-list logic sees it.
#pragma once

#include <QComboBox>

#include "core/link/port_combo.h"

namespace corvane {

class CQtPortCombo final : public IPortCombo {
public:
    explicit CQtPortCombo(QComboBox* combo) : m_combo(combo) {}
    std::string GetText() const override { return m_combo->currentText().toStdString(); }
    int GetCurSel() const override { return m_combo->currentIndex(); }
    // An empty list is left alone: clearing it tells assistive technology of a new name and
    // selection, and the list is refreshed every 600 ms.
    void ResetContent() override
    {
        if (m_combo->count() > 0)
            m_combo->clear();
    }
    void InsertString(int pos, const std::string& text) override
    {
        m_combo->insertItem(pos, QString::fromStdString(text));
    }
    void DeleteString(int pos) override
    {
        if (pos >= 0 && pos < m_combo->count())
            m_combo->removeItem(pos);
    }
    void SetCurSel(int pos) override { m_combo->setCurrentIndex(pos); }
    int Count() const override { return m_combo->count(); }

private:
    QComboBox* m_combo;
};

}  // namespace corvane
