// The firmware page's window (template 144): the file row, the progress bar, the message pane
// and the device information line. It only shows and forwards: the transfer is CFirmwarePage's.
#pragma once

#include <QWidget>
#include <functional>

#include "core/pages/firmware_page.h"
#include "panel/widgets/dialog_builder.h"

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;

namespace corvane {

class CFWDlg final : public QWidget, public IFirmwareView {
    Q_OBJECT
public:
    explicit CFWDlg(CLinkCore& link, QWidget* parent = nullptr);

    // Every reply with a valid checksum while the page is shown.
    void OnReply(const Frame& frame) { m_page.OnFirmwareReply(frame); }

    CFirmwarePage& Page() { return m_page; }
    // Closing the panel now would cut the upgrade off: the question to ask first, or "".
    std::string CloseQuestion() const
    {
        return m_page.CurrentStep() != CFirmwarePage::Step::Idle ? "An upgrade is running. Close anyway?" : "";
    }
    void ForgetSwitcher() { m_page.ForgetDevice(); }
    QWidget* Control(int id) const;
    // The controls in reading order, as Tab visits them.
    std::vector<QWidget*> FocusOrder() const;
    QLineEdit* PathEdit() const;
    QPushButton* OpenButton() const;
    QPushButton* UpgradeButton() const;
    QProgressBar* Progress() const;
    QPlainTextEdit* Messages() const;
    QLabel* DeviceLine() const;

    // Replaces the file-open dialog (tests); an empty function restores it.
    using FileChooser = std::function<std::optional<std::string>()>;
    void SetFileChooser(FileChooser chooser) { m_chooser = std::move(chooser); }

    // IFirmwareView
    std::optional<std::string> ChooseFirmwareFile() override;
    void ShowPath(const std::string& path) override;
    void ShowRefusal(const std::string& reason) override;
    void SetProgressRange(int maximum) override;
    void SetProgress(int value) override;
    void ClearMessages() override;
    void AppendMessage(const std::string& text) override;
    void ShowFailed(bool failed) override;
    void ShowDeviceInfo(const SDeviceInfo& info) override;
    void ClearDeviceInfo() override;

private:
    ControlMap m_controls;
    FileChooser m_chooser;
    CFirmwarePage m_page;
};

}  // namespace corvane
