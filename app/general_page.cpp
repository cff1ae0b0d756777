// The General page: the serial link, the status sequence, beeper, DVI compatibility and the
// factory reset, and the page's reply handler.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>

#include "app/corvane_dlg.h"
#include "link/port_list.h"
#include "platform/notices.h"

namespace corvane {

namespace {

// The status sequence: each reply writes its static and asks the next question.
struct StatusStep {
    uint8_t code;     // 0x04 input, 0x05 output
    uint8_t number;   // input or output number
    unsigned timer;   // the step's timer; its follow-up is timer + 1
    int control;      // the static written from the reply
    const char* label;
};
constexpr StatusStep kStatusSteps[] = {
    {0x04, 1, 2000, 1026, "INPUT 1"}, {0x05, 1, 2100, 1034, "OUTPUT1"}, {0x04, 2, 2002, 1027, "INPUT 2"},
    {0x05, 2, 2102, 1035, "OUTPUT2"}, {0x04, 3, 2004, 1028, "INPUT 3"}, {0x04, 4, 2006, 1029, "INPUT 4"},
};

// The factory reset: the frame of each step and the acknowledgement that completes it.
struct ResetStep {
    uint8_t frame[5];  // bytes 2 to 6 sent
    unsigned timer;
    uint8_t ackGroup, ackCode;
    int ackByte6;  // -1: any
};
constexpr ResetStep kResetSteps[] = {
    {{0x02, 0x03, 0x03, 0x00, 0x01}, 2500, 0x02, 0x03, 0x01},
    {{0x0A, 0x06, 0x02, 0x00, 0x01}, 2502, 0x0A, 0x06, 0x01},
    {{0x0A, 0x0C, 0x01, 0x00, 0x01}, 2504, 0x0A, 0x0C, 0x01},
    {{0x03, 0x08, 0xF0, 0x00, 0x00}, 2506, 0x03, 0x08, -1},
    {{0x03, 0x02, 0x04, 0xF0, 0x03}, 2508, 0x03, 0x02, 0x03},
};
constexpr std::size_t kResetStepCount = std::size(kResetSteps);

}  // namespace

void CCorvaneDlg::ApplyControlMode()
{
    const bool com = g_nControlMode == MODE_COM;
    if (com) {
        g_bTcpConnected = false;
        Ctl<QPushButton>(1045)->setText(QStringLiteral("Connect"));
    } else {
        if (m_serial)
            m_serial->Stop();
        g_bComOpen = false;
        Ctl<QPushButton>(1021)->setText(QStringLiteral("Connect"));
    }
    for (int id : {1045, 1063, 1059, 1046, 1047, 1060})
        Control(id)->setEnabled(!com);
    for (int id : {1018, 1019, 1021, 1020})
        Control(id)->setEnabled(com);
}

void CCorvaneDlg::OnConnectButton()
{
    if (g_bComOpen) {
        CloseSerialLink();
        return;
    }
    const QString text = Ctl<QComboBox>(1020)->currentText();
    m_nPortNumber = ParsePortDigits(text.mid(3).toStdString());
    if (!m_serial || !m_serial->OpenPort(m_nPortNumber)) {
        ShowMessage("Open COM failed!");
        return;
    }
    Ctl<QPushButton>(1021)->setText(QStringLiteral("Disconnect"));
    m_serial->Start();
    g_bComOpen = true;
    m_link->KillTimer(TIMER_PORT_POLL);
    Control(1020)->setEnabled(false);
    m_link->SendCommand({0x01, 0x0C});  // DVI status; its reply sets the check box
}

void CCorvaneDlg::CloseSerialLink()
{
    if (m_serial)
        m_serial->Stop();
    g_bComOpen = false;
    Ctl<QPushButton>(1021)->setText(QStringLiteral("Connect"));
    m_link->SetTimer(TIMER_PORT_POLL, 600);
    Control(1020)->setEnabled(true);
}

void CCorvaneDlg::OnPortLinkLost()
{
    // The worker may report a loss after the operator has already disconnected.
    if (g_bComOpen)
        CloseSerialLink();
}

void CCorvaneDlg::ClearDeviceInfo()
{
    for (int id = 1026; id <= 1041; ++id)
        Ctl<QLabel>(id)->clear();
}

void CCorvaneDlg::OnStatusButton()
{
    if (!m_link->BeginCommand())
        return;
    ClearDeviceInfo();
    m_link->SendCommand({0x01, 0x04, 0x01});
    m_link->StartStep(2000);
    OpenStatus("Getting status");
}

void CCorvaneDlg::OnBeepClicked(bool checked)
{
    Ctl<QCheckBox>(1096)->setChecked(!checked);  // the box shows the switcher's state, not the wish
    if (!m_link->BeginCommand())
        return;
    g_bReady = true;  // the answer only updates the box whenever it comes
    m_link->SendCommand({0x06, 0x01, uint8_t(checked ? 0x0F : 0xF0), 0x00, uint8_t(checked ? 0xDD : 0x00)});
}

void CCorvaneDlg::OnDviClicked(bool checked)
{
    Ctl<QCheckBox>(1101)->setChecked(!checked);
    if (!m_link->BeginCommand())
        return;
    g_bReady = true;
    m_link->SendCommand({0x07, 0x01, uint8_t(checked ? 0x0F : 0xF0), 0x00, uint8_t(checked ? 0x00 : 0xDD)});
}

void CCorvaneDlg::OnFactoryResetButton()
{
    if (!m_link->BeginCommand())
        return;
    if (g_bNoLongerRemind) {
        SendResetStep1();
        return;
    }
    AskMessage("Do you want to reset to factory settings?", [this](int answer) {
        if (answer != IDOK) {
            g_bReady = true;
            return;
        }
        SendResetStep1();
    });
}

void CCorvaneDlg::SendResetStep1()
{
    const auto& f = kResetSteps[0].frame;
    m_link->SendCommand({f[0], f[1], f[2], f[3], f[4]});
    m_link->StartStep(kResetSteps[0].timer);
    OpenStatus("Setting");
}

bool CCorvaneDlg::HandleStatusReply(const Frame& r)
{
    for (std::size_t i = 0; i < std::size(kStatusSteps); ++i) {
        const StatusStep& s = kStatusSteps[i];
        if (r[2] != 0x01 || r[3] != s.code || r[4] != s.number)
            continue;
        const char* state = r[6] == 0x00 ? ": Connect" : ": Disconnect";
        Ctl<QLabel>(s.control)->setText(QString::fromLatin1(s.label) + QLatin1String(state));
        // Only the step being waited for advances the sequence: a late or doubled answer must
        // neither overwrite the frame of another exchange (a factory reset's resend) nor
        // release the gate of one.
        if (!m_link->IsTimerRunning(s.timer) && !m_link->IsTimerRunning(s.timer + 1))
            return true;
        m_link->StopStep(s.timer);
        if (i + 1 < std::size(kStatusSteps)) {
            const StatusStep& next = kStatusSteps[i + 1];
            m_link->SendCommand({0x01, next.code, next.number});
            m_link->StartStep(next.timer);
        } else {
            g_bReady = true;
            CloseStatus();
        }
        return true;
    }
    return false;
}

bool CCorvaneDlg::HandleResetReply(const Frame& r)
{
    for (std::size_t i = 0; i < kResetStepCount; ++i) {
        const ResetStep& s = kResetSteps[i];
        if (r[2] != s.ackGroup || r[3] != s.ackCode || r[4] != 0x00)
            continue;
        if (s.ackByte6 >= 0 && r[6] != s.ackByte6)
            return false;
        // Only the step being waited for advances: a stray acknowledgement (a late route-set
        // answer looks like the first one) must never send reset commands by itself.
        if (!m_link->IsTimerRunning(s.timer) && !m_link->IsTimerRunning(s.timer + 1))
            return true;
        m_link->StopStep(s.timer);
        if (i + 1 < kResetStepCount) {
            const ResetStep& next = kResetSteps[i + 1];
            const auto& f = next.frame;
            m_link->SendCommand({f[0], f[1], f[2], f[3], f[4]});
            m_link->StartStep(next.timer);
        } else {
            g_bReady = true;
            FinishStatus("Set successfully!");
            m_link->SetTimer(TIMER_RESET_CLOSE, 900);
        }
        return true;
    }
    return false;
}

void CCorvaneDlg::OnGeneralReply(const Frame& r)
{
    if (HandleStatusReply(r))
        return;
    auto* beep = Ctl<QCheckBox>(1096);
    auto* dvi = Ctl<QCheckBox>(1101);
    if (r[2] == 0x01 && r[3] == 0x0B && r[4] == 0x00) {
        beep->setChecked(r[6] == 0x00);
        return;
    }
    if (r[2] == 0x06 && r[3] == 0x01) {
        if (r[4] == 0x00)
            beep->setChecked(r[6] == 0xDD);
        return;
    }
    if (r[2] == 0x01 && r[3] == 0x0C && r[4] == 0x00) {
        dvi->setChecked(r[6] != 0x00);
        return;
    }
    if (r[2] == 0x07 && r[3] == 0x01) {
        if (r[4] == 0x00)
            dvi->setChecked(r[6] != 0xDD);
        return;
    }
    HandleResetReply(r);
}

void CCorvaneDlg::RefreshPortList()
{
    corvane::RefreshPortList(*m_portCombo, m_portPaths, [](const std::string& error) {
        qWarning("corvane: listing serial ports failed: %s", error.c_str());
    });
}

}  // namespace corvane
