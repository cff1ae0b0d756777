// The EDID page's window (template 140): three set rows (preset, display copy, file), the list
// of the EDID each input uses, and "Status". It only shows and forwards: what is sent and what a
// reply means is CEdidPage's business.
#pragma once

#include <QWidget>
#include <functional>
#include <memory>

#include "core/pages/edid_page.h"
#include "panel/widgets/dialog_builder.h"

class QComboBox;
class QFileDialog;
class QLabel;
class QLineEdit;

namespace corvane {

class CEDIDDlg final : public QWidget, public IEdidView {
    Q_OBJECT
public:
    using FileChooser = std::function<std::optional<std::string>()>;

    explicit CEDIDDlg(CLinkCore& link, QWidget* parent = nullptr);

    // Every reply with a valid checksum while the page is shown.
    void OnReply(const Frame& frame) { m_page.OnEdidReply(frame); }

    CEdidPage& Page() { return m_page; }
    // Closing the panel now would leave an input half written: the question to ask first, or "".
    std::string CloseQuestion() const
    {
        return m_page.FileTransferRunning() ? "An EDID file is being sent. Close anyway?" : "";
    }
    QWidget* Control(int id) const;
    // The controls in reading order, as Tab visits them.
    std::vector<QWidget*> FocusOrder() const;
    QComboBox* List(EdidList list) const;
    QLineEdit* FileEdit() const;
    // The static that shows the EDID name of input 1..4.
    QLabel* InputEdid(int input) const;

    // The file dialog of "...": "Binary file(*.BIN)", which also lists *.bin and any other case.
    std::unique_ptr<QFileDialog> MakeFileDialog();
    // Replaces the file dialog (tests); an empty chooser brings the dialog back.
    void SetFileChooser(FileChooser chooser) { m_chooser = std::move(chooser); }

    // IEdidView
    int Selection(EdidList list) const override;
    void ShowInputEdid(int input, const std::string& name) override;
    void ShowFile(const std::string& path, const std::vector<std::string>& summary) override;
    std::optional<std::string> ChooseFile() override;
    void ShowRefusal(const std::string& reason) override;
    void SetDone() override;
    void InputsRead() override;

private:
    ControlMap m_controls;
    FileChooser m_chooser;
    QString m_acceptedTip;          // the accepted file's tip, as rich text
    QString m_acceptedDescription;  // what a screen reader hears of the accepted file
    CEdidPage m_page;
};

}  // namespace corvane
