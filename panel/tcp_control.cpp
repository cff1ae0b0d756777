// TCP control mode on the main window: the connect button, "Search", the switcher list and
// "Config...". The behaviour is CNetLink's; this file connects it to the controls.
#include <QComboBox>
#include <cstdlib>
#include <string>
#include <QPushButton>

#include "panel/config_ip_dlg.h"
#include "panel/corvane_dlg.h"
#include "panel/net_module.h"

namespace corvane {

void CCorvaneDlg::SetNetTransports(std::unique_ptr<ITcpControl> tcp, std::unique_ptr<IDatagramSocket> udp,
                                   SNetPorts ports)
{
    m_net.reset();  // it holds on to the transports
    m_tcp = std::move(tcp);
    m_udp = std::move(udp);
    INetView& view = *this;
    m_net = std::make_unique<CNetLink>(*m_link, *m_tcp, *m_udp, view, ports);
    m_link->SetTransports(m_serial.get(), m_tcp.get());
}

void CCorvaneDlg::WireNetControls()
{
    // CORVANE_UDP_TO ("ADDRESS[:SEARCH,CONFIG]") aims the search and the configuration at one
    // address instead of broadcasting them, with the ports to match; a value that is no such
    // address is named, and the requests are broadcast.
    SNetPorts ports;
    uint32_t target = 0;
    if (const char* aim = std::getenv("CORVANE_UDP_TO"); aim && *aim) {
        std::string error;
        if (const auto t = ParseUdpTarget(aim, error)) {
            target = t->ipv4;
            ports = t->ports;
            ports.control = SNetPorts{}.control;
        } else {
            qWarning("corvane: CORVANE_UDP_TO=%s; the search broadcasts", error.c_str());
        }
    }
    // The sockets come with the network module, loaded on first use.
    SetNetTransports(LazyTcpControl(), LazyDatagramSocket(target), ports);
    connect(Ctl<QPushButton>(1045), &QPushButton::clicked, this,
            [this] { m_net->OnTcpConnectButton(Ctl<QComboBox>(1060)->currentText().toStdU16String()); });
    connect(Ctl<QPushButton>(1046), &QPushButton::clicked, this, [this] { m_net->StartSearch(); });
    connect(Ctl<QPushButton>(1047), &QPushButton::clicked, this, [this] { OnConfigButton(); });
    // The operator accepted an entry (also the one already shown).
    connect(Ctl<QComboBox>(1060), &QComboBox::activated, this,
            [this](int index) { m_net->OnSwitcherSelected(static_cast<std::size_t>(index)); });
}

void CCorvaneDlg::OnConfigButton()
{
    if (!m_configDlg)
        m_configDlg = std::make_unique<CConfigIPDlg>(m_link->Notices(), this);
    // The dialog's nested event loop lets search answers change the current switcher; the
    // request goes to the one the dialog shows.
    const MacFields target = m_net->SwitcherMac;
    m_configDlg->Prepare(*m_net);
    const int result = m_configRunner ? m_configRunner(*m_configDlg) : m_configDlg->exec();
    if (result != QDialog::Accepted)
        return;
    m_net->SendConfiguration(target);
}

void CCorvaneDlg::ClearSwitchers() { Ctl<QComboBox>(1060)->clear(); }

void CCorvaneDlg::InsertSwitcher(std::size_t pos, const std::string& ip)
{
    Ctl<QComboBox>(1060)->insertItem(static_cast<int>(pos), QString::fromStdString(ip));
}

void CCorvaneDlg::SelectSwitcher(std::size_t pos) { Ctl<QComboBox>(1060)->setCurrentIndex(static_cast<int>(pos)); }

void CCorvaneDlg::SetTcpButtonText(const std::string& text)
{
    Ctl<QPushButton>(1045)->setText(QString::fromStdString(text));
}

}  // namespace corvane
