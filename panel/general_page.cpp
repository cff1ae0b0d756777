// The General page's controls: the serial link, and the status sequence, beeper, DVI
// compatibility and factory reset handed to CGeneralPage.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>

#include "panel/corvane_dlg.h"
#include "transport/port_list.h"
#include "core/link/queries.h"
#include "platform/notices.h"
#include "panel/widgets/accessible_window.h"

namespace corvane {

namespace {

// The General page's controls as the page's view: the device information statics and the
// beep and DVI check boxes.
class CGeneralControls final : public IGeneralView {
public:
    explicit CGeneralControls(CCorvaneDlg& dlg) : m_dlg(dlg) {}
    void ClearDeviceInfo() override
    {
        for (int id = 1026; id <= 1041; ++id)
            Label(id)->clear();
    }
    void WriteDeviceInfo(const SSignalLine& line) override { Label(line.control)->setText(QString::fromStdString(line.text)); }
    void ShowBeep(bool on) override { qobject_cast<QCheckBox*>(m_dlg.Control(1096))->setChecked(on); }
    void ShowDvi(bool on) override { qobject_cast<QCheckBox*>(m_dlg.Control(1101))->setChecked(on); }
    void StatusRead() override
    {
        // The lines in reading order, as one notice.
        QStringList lines;
        for (int id : {1026, 1027, 1028, 1029, 1034, 1035})
            if (!Label(id)->text().isEmpty())
                lines << Label(id)->text();
        Announce(&m_dlg, lines.join(QStringLiteral(", ")));
    }

private:
    QLabel* Label(int id) const { return qobject_cast<QLabel*>(m_dlg.Control(id)); }
    CCorvaneDlg& m_dlg;
};

}  // namespace

void CCorvaneDlg::CreateGeneralPage()
{
    m_generalView = std::make_unique<CGeneralControls>(*this);
    m_general = std::make_unique<CGeneralPage>(*m_link, *m_generalView);
}

void CCorvaneDlg::ApplyControlMode()
{
    const bool com = m_link->nControlMode == MODE_COM;
    if (com) {
        if (m_net)
            m_net->CloseTcp();
    } else {
        if (m_serial)
            m_serial->Stop();
        m_link->bComOpen = false;
        Ctl<QPushButton>(1021)->setText(QStringLiteral("Connect"));
        ForgetSwitcher();
    }
    for (int id : {1045, 1063, 1059, 1046, 1047, 1060})
        Control(id)->setEnabled(!com);
    for (int id : {1018, 1019, 1021, 1020})
        Control(id)->setEnabled(com);
}

void CCorvaneDlg::OnConnectButton()
{
    if (m_link->bComOpen) {
        CloseSerialLink();
        return;
    }
    const QString text = Ctl<QComboBox>(1020)->currentText();
    m_nPortNumber = ParsePortDigits(text.mid(3).toStdString());
    if (!m_serial || !m_serial->OpenPort(m_nPortNumber)) {
        m_link->Notices().ShowMessage("Open COM failed!");
        return;
    }
    Ctl<QPushButton>(1021)->setText(QStringLiteral("Disconnect"));
    m_serial->Start();
    m_link->ResetLate();
    m_link->bComOpen = true;
    m_link->KillTimer(TIMER_PORT_POLL);
    Control(1020)->setEnabled(false);
    m_general->ReadSettings();  // the replies set the beep and DVI check boxes
}

void CCorvaneDlg::CloseSerialLink()
{
    if (m_serial)
        m_serial->Stop();
    m_link->bComOpen = false;
    Ctl<QPushButton>(1021)->setText(QStringLiteral("Connect"));
    ForgetSwitcher();
    m_link->SetTimer(TIMER_PORT_POLL, 600);
    Control(1020)->setEnabled(true);
}

void CCorvaneDlg::OnPortLinkLost(const std::string& why)
{
    // The worker may report a loss after the operator has already disconnected.
    if (!m_link->bComOpen)
        return;
    CloseSerialLink();
    // Said once, as a lost TCP link is, after whatever the ended command showed.
    m_link->Notices().ShowMessage(why.empty() ? std::string(kLinkLostText) : kLinkLostText + (" " + why));
}

void CCorvaneDlg::ClearDeviceInfo() { m_generalView->ClearDeviceInfo(); }

bool CCorvaneDlg::TcpConnected()
{
    m_link->ResetLate();
    m_general->ReadSettings();
    return true;
}

void CCorvaneDlg::ForgetSwitcher()
{
    if (!m_generalView)
        return;  // the window is still being built
    // Whatever waited on the link ends now, before anything is said about it.
    m_link->OnLinkLost();
    ClearDeviceInfo();
    for (auto& [id, page] : m_pages)
        page->ForgetSwitcher();
}

void CCorvaneDlg::OnStatusButton() { m_general->OnStatus(); }

void CCorvaneDlg::OnBeepClicked(bool checked)
{
    Ctl<QCheckBox>(1096)->setChecked(!checked);  // the box shows the switcher's state, not the wish
    m_general->OnBeep(checked);
}

void CCorvaneDlg::OnDviClicked(bool checked)
{
    Ctl<QCheckBox>(1101)->setChecked(!checked);
    m_general->OnDvi(checked);
}

void CCorvaneDlg::OnFactoryResetButton() { m_general->OnFactoryReset(); }

void CCorvaneDlg::OnGeneralReply(const Frame& frame) { m_general->OnGeneralReply(frame); }

void CCorvaneDlg::RefreshPortList()
{
    corvane::RefreshPortList(*m_portCombo, m_portPaths, [](const std::string& error) {
        qWarning("corvane: %s", error.c_str());
    });
}

}  // namespace corvane
