#include "core/pages/general_page.h"

#include <algorithm>
#include <iterator>
#include <utility>

#include "core/link/link_core.h"
#include "core/link/queries.h"
#include "platform/notices.h"

namespace corvane {

namespace {

// The status sequence: each reply writes its line and asks the next question.
struct StatusStep {
    uint8_t code;    // 0x04 input, 0x05 output
    uint8_t number;  // input or output number
    unsigned timer;  // the step's timer; its follow-up is timer + 1
    int control;     // the static written from the reply
    const char* label;
};
constexpr StatusStep kStatus[kStatusSteps] = {
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
constexpr ResetStep kReset[kResetSteps] = {
    {{0x02, 0x03, 0x03, 0x00, 0x01}, 2500, 0x02, 0x03, 0x01},
    {{0x0A, 0x06, 0x02, 0x00, 0x01}, 2502, 0x0A, 0x06, 0x01},
    {{0x0A, 0x0C, 0x01, 0x00, 0x01}, 2504, 0x0A, 0x0C, 0x01},
    {{0x03, 0x08, 0xF0, 0x00, 0x00}, 2506, 0x03, 0x08, -1},
    {{0x03, 0x02, 0x04, 0xF0, 0x03}, 2508, 0x03, 0x02, 0x03},
};

}  // namespace

bool IsGeneralStepTimer(unsigned id)
{
    for (const StatusStep& s : kStatus)
        if (s.timer == id)
            return true;
    for (const ResetStep& s : kReset)
        if (s.timer == id)
            return true;
    return false;
}

namespace {

// A step is waited for while its timer or its follow-up runs.
bool StepPending(const CLinkCore& link, unsigned timer)
{
    return link.IsTimerRunning(timer) || link.IsTimerRunning(timer + 1);
}

}  // namespace

int FactoryResetStepOf(const Frame& f)
{
    for (int i = 0; i < kResetSteps; ++i)
        if (std::equal(std::begin(kReset[i].frame), std::end(kReset[i].frame), f.begin() + 2) &&
            std::all_of(f.begin() + 7, f.begin() + 12, [](uint8_t b) { return b == 0; }))
            return i + 1;
    return 0;
}

CGeneralPage::CGeneralPage(CLinkCore& link, IGeneralView& view)
    : m_link(link), m_view(view), m_timers(link.TimerService(), [this](unsigned id) { OnTimer(id); })
{
}

void CGeneralPage::OnStatus()
{
    if (!m_link.BeginCommand())
        return;
    m_view.ClearDeviceInfo();
    SendStatusStep(0);
    m_link.Notices().OpenStatus("Getting status");
}

void CGeneralPage::OnBeep(bool enable)
{
    if (!m_link.BeginCommand())
        return;
    m_link.bReady = true;  // the answer only updates the view whenever it comes
    m_link.SendCommand({0x06, 0x01, uint8_t(enable ? 0x0F : 0xF0), 0x00, uint8_t(enable ? 0xDD : 0x00)});
}

void CGeneralPage::OnDvi(bool enable)
{
    if (!m_link.BeginCommand())
        return;
    m_link.bReady = true;
    m_link.SendCommand({0x07, 0x01, uint8_t(enable ? 0x0F : 0xF0), 0x00, uint8_t(enable ? 0x00 : 0xDD)});
}

void CGeneralPage::OnFactoryReset()
{
    if (!m_link.BeginCommand())
        return;
    if (m_link.Notices().NoLongerRemind()) {
        SendResetStep1();
        return;
    }
    m_link.Notices().AskMessage("Do you want to reset to factory settings?", [this](int answer) {
        // The link may have gone while the question was open.
        if (answer != IDOK || !m_link.LinkOpen()) {
            m_link.bReady = true;
            return;
        }
        SendResetStep1();
    });
}

void CGeneralPage::SendResetStep1()
{
    SendResetStep(0);
    m_link.Notices().OpenStatus("Setting");
}

void CGeneralPage::SendStatusStep(int i)
{
    const StatusStep& s = kStatus[i];
    m_link.SendQuery(s.code == STATUS_INPUT ? InputSignalQuery(s.number) : OutputSignalQuery(s.number));
    m_link.StartStep(kStatus[i].timer);
}

void CGeneralPage::SendResetStep(int i)
{
    const auto& f = kReset[i].frame;
    m_link.SendCommand({f[0], f[1], f[2], f[3], f[4]});
    m_link.StartStep(kReset[i].timer);
}

bool CGeneralPage::HandleStatusReply(const Frame& r)
{
    for (int i = 0; i < kStatusSteps; ++i) {
        const StatusStep& s = kStatus[i];
        if (r[2] != 0x01 || r[3] != s.code || r[4] != s.number)
            continue;
        const bool connected = r[6] == 0x00;
        m_view.WriteDeviceInfo({s.control, s.code == 0x05, s.number, connected,
                                std::string(s.label) + (connected ? ": Connect" : ": Disconnect")});
        // Only the step being waited for advances the sequence: a late or doubled answer must
        // neither overwrite the frame of another exchange (a factory reset's resend) nor
        // release the gate of one.
        if (!StepPending(m_link, s.timer))
            return true;
        m_link.StopStep(s.timer);
        if (i + 1 < kStatusSteps) {
            SendStatusStep(i + 1);
        } else {
            m_link.bReady = true;
            m_link.Notices().CloseStatus();
            m_view.StatusRead();
        }
        return true;
    }
    return false;
}

bool CGeneralPage::HandleResetReply(const Frame& r)
{
    for (int i = 0; i < kResetSteps; ++i) {
        const ResetStep& s = kReset[i];
        if (r[2] != s.ackGroup || r[3] != s.ackCode || r[4] != 0x00)
            continue;
        if (s.ackByte6 >= 0 && r[6] != s.ackByte6)
            return false;
        // Only the step being waited for advances: a stray acknowledgement (a late route-set
        // answer looks like the first one) must never send reset commands by itself.
        if (!StepPending(m_link, s.timer))
            return true;
        m_link.StopStep(s.timer);
        if (i + 1 < kResetSteps) {
            SendResetStep(i + 1);
        } else {
            m_link.bReady = true;
            m_link.Notices().FinishStatus("Set successfully!");
            m_timers.SetTimer(TIMER_RESET_CLOSE, kResetCloseMs);
        }
        return true;
    }
    return false;
}

void CGeneralPage::OnGeneralReply(const Frame& r)
{
    if (HandleStatusReply(r))
        return;
    if (r[2] == 0x01 && r[3] == 0x0B && r[4] == 0x00) {
        m_view.ShowBeep(r[6] == 0x00);
        if (std::exchange(m_dviQueryOwed, false) && m_link.bReady)
            m_link.SendQuery(DviStatusQuery());
        return;
    }
    if (r[2] == 0x06 && r[3] == 0x01) {
        if (r[4] == 0x00)
            m_view.ShowBeep(r[6] == 0xDD);
        return;
    }
    if (r[2] == 0x01 && r[3] == 0x0C && r[4] == 0x00) {
        m_view.ShowDvi(r[6] != 0x00);
        return;
    }
    if (r[2] == 0x07 && r[3] == 0x01) {
        if (r[4] == 0x00)
            m_view.ShowDvi(r[6] != 0xDD);
        return;
    }
    HandleResetReply(r);
}

bool CGeneralPage::OnLinkLost()
{
    const bool finishedShown = m_timers.IsRunning(TIMER_RESET_CLOSE);
    m_timers.KillTimer(TIMER_RESET_CLOSE);
    m_dviQueryOwed = false;
    return finishedShown;
}

void CGeneralPage::ReadSettings()
{
    m_dviQueryOwed = true;
    m_link.SendQuery(BeepStatusQuery());
}

void CGeneralPage::OnTimer(unsigned id)
{
    if (id != TIMER_RESET_CLOSE)
        return;
    m_timers.KillTimer(id);
    m_link.Notices().CloseStatus();
    // The reset put beep and DVI back to the switcher's own defaults: show those.
    if (m_link.bReady && m_link.LinkOpen())
        ReadSettings();
}

}  // namespace corvane
