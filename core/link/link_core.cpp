#include "core/link/link_core.h"

#include <algorithm>

#include "core/link/queries.h"
#include "core/pages/general_page.h"

namespace corvane {

CLinkCore::CLinkCore(ITimerService& timers, INotices& notices, ILogPane& tx, ILogPane& rx)
    : m_notices(notices), m_log(tx, rx), m_timers(timers, [this](unsigned id) { OnTimer(id); })
{
}

bool CLinkCore::LinkOpen() const { return nControlMode == MODE_COM ? bComOpen : bTcpConnected; }

bool CLinkCore::BeginCommand()
{
    if (nControlMode == MODE_COM && !bComOpen) {
        m_notices.ShowMessage("Open COM failed!");
        return false;
    }
    if (nControlMode != MODE_COM && !bTcpConnected) {
        m_notices.ShowMessage("Connect to Matrix failed!");
        return false;
    }
    if (!bReady)
        return false;
    if (Settling()) {
        if (!m_settle)
            return false;
        m_settle();
        if (!bReady || !LinkOpen())
            return false;
    }
    bReady = false;
    m_timedOut = false;
    return true;
}

bool CLinkCore::Settling() const { return m_lateOwed > 0 && m_timers.IsRunning(TIMER_LATE_WINDOW); }

void CLinkCore::NoteLate(unsigned windowMs)
{
    ++m_lateOwed;
    // A window already running longer is kept.
    if (!m_timers.IsRunning(TIMER_LATE_WINDOW) || windowMs >= kLateAfterResendMs)
        m_timers.SetTimer(TIMER_LATE_WINDOW, windowMs);
}

void CLinkCore::NoteTimedOut()
{
    m_timedOut = true;
    if (!m_answeredSince)  // an answer that came already, to another page say, is not owed
        NoteLate(kLateAfterTimeoutMs);
}

void CLinkCore::ShowTimedOut()
{
    NoteTimedOut();
    m_notices.ShowTimeOut([this] { bReady = true; });
}

void CLinkCore::SetExchangeOpen(bool open)
{
    m_exchangeOpen = open;
    if (open)
        m_timedOut = false;
}

bool CLinkCore::ExchangeActive() const { return m_exchangeOpen || (!bReady && !m_timedOut); }

void CLinkCore::ResetLate()
{
    m_lateOwed = 0;
    m_timedOut = false;
    m_answeredSince = true;
    m_resentUnanswered = false;
    m_timers.KillTimer(TIMER_LATE_WINDOW);
}

void CLinkCore::SendFrame(std::size_t length, uint8_t* bytes)
{
    if (length == kFrameSize) {
        bytes[12] = NegatedSum(std::span<const uint8_t>(bytes, 12));
    } else if (length == kBlockDataSize) {
        bytes[0] = NegatedSum(std::span<const uint8_t>(bytes + 1, kBlockDataSize));
        length = kBlockSize;
    }
    if (m_maySend && !m_maySend(std::span<const uint8_t>(bytes, length)))
        return;
    if (length == kFrameSize) {
        // The same frame again with no answer in between: the first sending may still be answered.
        if (!m_answeredSince && std::equal(bytes, bytes + kFrameSize, m_lastSent.begin())) {
            NoteLate(kLateAfterResendMs);
            m_resentUnanswered = true;
        }
        std::copy(bytes, bytes + kFrameSize, m_lastSent.begin());
        m_answeredSince = false;
    }
    const std::span<const uint8_t> out(bytes, length);
    const bool com = m_comModeChecked ? m_comModeChecked() : nControlMode == MODE_COM;
    if (ITransport* t = com ? m_serial : m_tcp)
        t->Write(out);
    m_log.LogTx(out);
}

void CLinkCore::SendCommand(std::initializer_list<uint8_t> body)
{
    CommandFrame = MakeFrame(body);
    SendFrame(kFrameSize, CommandFrame.data());
}

void CLinkCore::SendQuery(const Frame& query)
{
    CommandFrame = query;
    SendFrame(kFrameSize, CommandFrame.data());
}

void CLinkCore::OnSendRequest(unsigned code)
{
    switch (code) {
    case SEND_EDID_FRAME:
    case SEND_ROUTING_FRAME:
    case SEND_FIRMWARE_FRAME:
        SendFrame(kFrameSize, CommandFrame.data());
        break;
    case SEND_EDID_BLOCK:
        SendFrame(kBlockDataSize, EdidBlock.data());
        break;
    case SEND_FIRMWARE_BLOCK:
        SendFrame(kBlockDataSize, FirmwareBlock.data());
        break;
    case STOP_PAGE_TIMER:
        m_timers.KillTimer(TIMER_PAGE_TIMEOUT);
        break;
    default:
        break;
    }
}

bool CLinkCore::SendOpeningQuery(uint8_t page)
{
    if (page != PAGE_MATRIX && page != PAGE_EDID && page != PAGE_FIRMWARE)
        return false;
    ClearCommand(CommandFrame);
    if (!BeginCommand())
        return false;
    switch (page) {
    case PAGE_MATRIX:
        CommandFrame = RouteQuery(1);
        SetTimer(TIMER_PAGE_TIMEOUT, kPageTimeoutMs);
        break;
    case PAGE_EDID:
        CommandFrame = EdidStatusQuery(1);
        SetTimer(TIMER_PAGE_TIMEOUT, kPageTimeoutMs);
        break;
    default:  // PAGE_FIRMWARE
        bReady = true;
        CommandFrame = DeviceQuery(DEVICE_TYPE);
        break;
    }
    SendFrame(kFrameSize, CommandFrame.data());
    return true;
}

void CLinkCore::OnPortByte(uint8_t b)
{
    if (auto frame = m_serialHunt.OnPortByte(b))
        DispatchReply(*frame);
}

void CLinkCore::OnTcpRead(std::span<const uint8_t> bytes)
{
    for (const Frame& f : m_tcpCut.Feed(bytes))
        DispatchReply(f);
}

void CLinkCore::DispatchReply(const Frame& frame)
{
    m_log.LogRx(frame);
    if (!FrameChecksumOk(frame))
        return;
    m_answeredSince = true;
    if (m_resentUnanswered) {
        m_resentUnanswered = false;
        if (m_lateOwed > 0)
            m_timers.SetTimer(TIMER_LATE_WINDOW, kLateAfterAnswerMs);
    }
    // The late answer of an exchange that is over. No other exchange has started since, so
    // the page may still take it for what it is.
    if (Settling() && !ExchangeActive() && --m_lateOwed == 0)
        m_timers.KillTimer(TIMER_LATE_WINDOW);
    auto it = m_handlers.find(m_nCurrentPage);
    if (it != m_handlers.end() && it->second) {
        ReplyHandler handler = it->second;  // a handler may replace itself
        handler(frame);
    }
}

void CLinkCore::ClearLogs()
{
    m_log.ClearPanes();
    bReady = true;
}

void CLinkCore::Abandon()
{
    m_timers.KillTimer(TIMER_PAGE_TIMEOUT);
    m_timers.KillTimer(TIMER_RESET_CLOSE);
    for (unsigned id = kFirstStepTimer; id <= kLastStepTimer; ++id)
        if (IsGeneralStepTimer(id))
            StopStep(id);
    bool busyShown = !bReady;  // a command waited: its busy indicator, if any, is open
    if (m_linkLost && m_linkLost())
        busyShown = true;
    ResetLate();  // nothing more comes on a link that is gone
    bReady = true;
    if (busyShown)
        m_notices.CloseStatus();
}

namespace {
bool IsResendTimer(unsigned id) { return IsGeneralStepTimer(id); }

bool IsStepTimeoutTimer(unsigned id) { return IsResendTimer(id - 1); }
}  // namespace

void CLinkCore::OnTimer(unsigned id)
{
    if (id == TIMER_LATE_WINDOW) {
        m_timers.KillTimer(id);
        m_lateOwed = 0;
        return;
    }
    if (id == TIMER_PAGE_TIMEOUT) {
        m_timers.KillTimer(id);
        ShowTimedOut();
        return;
    }
    if (IsResendTimer(id)) {
        m_timers.KillTimer(id);
        SendFrame(kFrameSize, CommandFrame.data());
        m_timers.SetTimer(id + 1, kStepTimeoutMs);
        return;
    }
    if (IsStepTimeoutTimer(id)) {
        m_timers.KillTimer(id);
        m_notices.CloseStatus();
        ShowTimedOut();
        return;
    }
    if (m_otherTimers)
        m_otherTimers(id);
}

}  // namespace corvane
