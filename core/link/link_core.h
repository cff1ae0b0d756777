// The conversation with the switcher: the send gate, the sender, both receive paths, the reply
// dispatch to the page shown, the log panes and the main window's timers. It does no I/O of its
// own: bytes leave through the transports it is given and arrive through OnPortByte/OnTcpRead.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <span>

#include "core/link/frame.h"
#include "core/link/link_state.h"
#include "core/link/log_panes.h"
#include "core/link/receive.h"
#include "core/link/transport.h"
#include "platform/notices.h"
#include "platform/timers.h"

namespace corvane {

// Timer ids of the main window.
enum : unsigned {
    TIMER_PORT_POLL = 1,
    TIMER_PAGE_TIMEOUT = 1000,
    TIMER_RESET_CLOSE = 1006,
    TIMER_LATE_WINDOW = 1090,
};
// How long an answer may still come after its frame was sent once more (a resent frame is
// answered up to twice, the second answer as late as the step's whole wait) or after its
// exchange timed out.
inline constexpr unsigned kLateAfterResendMs = 2 * kStepTimeoutMs;
inline constexpr unsigned kLateAfterTimeoutMs = kStepTimeoutMs;
// Once a resent frame has an answer, the other answer comes about one resend period after it.
inline constexpr unsigned kLateAfterAnswerMs = kStepTimeoutMs + 500;

// The protocol engine of one link. Its SLinkState is the link's own: pages reach it through the
// engine they are given, so a process may hold as many links as it likes.
class CLinkCore : public SLinkState {
public:
    using ReplyHandler = std::function<void(const Frame&)>;

    // timers: the clock every timer of the link runs on; notices: the operator's boxes.
    CLinkCore(ITimerService& timers, INotices& notices, ILogPane& tx, ILogPane& rx);
    CLinkCore(const CLinkCore&) = delete;
    CLinkCore& operator=(const CLinkCore&) = delete;

    void SetTransports(ITransport* serial, ITransport* tcp)
    {
        m_serial = serial;
        m_tcp = tcp;
    }
    // The sender picks the transport by the "COM Control Mode" radio button.
    void SetComModeChecked(std::function<bool()> checked) { m_comModeChecked = std::move(checked); }
    void SetPageHandler(uint8_t page, ReplyHandler handler) { m_handlers[page] = std::move(handler); }
    // Timers of the main window that the core does not handle itself (port poll, ...).
    void SetOtherTimerHandler(std::function<void(unsigned)> handler) { m_otherTimers = std::move(handler); }

    uint8_t CurrentPage() const { return m_nCurrentPage; }
    void SetCurrentPage(uint8_t page) { m_nCurrentPage = page; }

    // The send gate: true means the caller owns the conversation until a reply or time-out.
    // While the line settles (below) the gate waits it out through the settle hook, or refuses
    // when there is none (the panel: the operator presses again).
    bool BeginCommand();

    // An acknowledgement does not say what it acknowledges. After a frame was sent again, or an
    // exchange timed out, an answer may still come for it; the line "settles" until that answer
    // has come or could no longer come. No new exchange starts meanwhile, so a late answer is
    // never taken for a later exchange's.
    bool Settling() const;
    // The exchange waiting now has timed out; its answer may still come.
    void NoteTimedOut();
    // The headless front ends open ungated exchanges of their own (a query, the wait for a
    // set's answer): while one is open, answers go to the pages.
    void SetExchangeOpen(bool open);
    // An exchange waits for its answer: one the front end opened, or a command that holds the
    // gate and has not timed out.
    bool ExchangeActive() const;
    // How a front end that can block waits the settling out; empty: the gate refuses instead.
    void SetSettleHook(std::function<void()> settle) { m_settle = std::move(settle); }
    // A new link (a port opened, a connection made): nothing late can come on it.
    void ResetLate();
    // The link of the selected control mode is open.
    bool LinkOpen() const;
    // length 13: seal and send a frame; length 256: seal a 257-byte block (checksum in
    // bytes[0]) and send all 257; other lengths go out unchanged.
    void SendFrame(std::size_t length, uint8_t* bytes);
    // Asked for every frame or block about to leave, sealed: false keeps it unsent.
    void SetMaySend(std::function<bool(std::span<const uint8_t>)> maySend) { m_maySend = std::move(maySend); }
    // Clears bytes 2..12 of CommandFrame, fills bytes 2.. from body and sends it.
    void SendCommand(std::initializer_list<uint8_t> body);
    // A whole frame (a query from link/queries.h) into CommandFrame, sent.
    void SendQuery(const Frame& query);
    void OnSendRequest(unsigned code);
    // The first query of a page being opened, if the gate agrees: the route of output 1
    // (PAGE_MATRIX) or the EDID of input 1 (PAGE_EDID), both under TIMER_PAGE_TIMEOUT; the device
    // type (PAGE_FIRMWARE), without a timer and with the gate released at once. False when the
    // gate refused or the page has no such query.
    bool SendOpeningQuery(uint8_t page);

    void OnPortByte(uint8_t b);
    void OnTcpRead(std::span<const uint8_t> bytes);
    void DispatchReply(const Frame& frame);

    // A sequence step: starts its 3000 ms timer (the follow-up timer is id + 1).
    void StartStep(unsigned timerId) { m_timers.SetTimer(timerId, kStepTimeoutMs); }
    // The reply that completes a step stops the step's timer and its follow-up.
    void StopStep(unsigned timerId)
    {
        m_timers.KillTimer(timerId);
        m_timers.KillTimer(timerId + 1);
    }
    void SetTimer(unsigned id, unsigned ms) { m_timers.SetTimer(id, ms); }
    void KillTimer(unsigned id) { m_timers.KillTimer(id); }
    bool IsTimerRunning(unsigned id) const { return m_timers.IsRunning(id); }

    // "Time out!" for the exchange waiting now: the line settles, and the gate is free once the
    // operator has read it.
    void ShowTimedOut();

    // The log panes' "clear" button: both panes emptied and the gate released; timers go on.
    void ClearLogs();

    // The link closed or was lost: the command waiting on it ends at once instead of at its
    // time-out. The core's command timers stop, the busy indicator closes, the gate is free, and
    // the handler set here tells the pages to stop their own exchanges (true when one of them
    // still showed the busy indicator's finished view). Nothing is said: a lost link's own
    // message, if any, is the caller's and stays the last word.
    void OnLinkLost() { Abandon(); }
    // The same on a link that stays: whatever the pages still wait for or mean to send of their
    // own accord is dropped (a new operation takes the link over).
    void Abandon();
    void SetLinkLostHandler(std::function<bool()> handler) { m_linkLost = std::move(handler); }

    CLogWriter& Log() { return m_log; }
    INotices& Notices() { return m_notices; }
    ITimerService& TimerService() { return m_timers.Service(); }

private:
    void OnTimer(unsigned id);
    void NoteLate(unsigned windowMs);

    INotices& m_notices;
    CLogWriter m_log;
    CSerialHunt m_serialHunt;
    CTcpCutter m_tcpCut;
    ITransport* m_serial = nullptr;
    ITransport* m_tcp = nullptr;
    std::function<bool()> m_comModeChecked;
    std::map<uint8_t, ReplyHandler> m_handlers;
    std::function<void(unsigned)> m_otherTimers;
    std::function<bool()> m_linkLost;
    uint8_t m_nCurrentPage = PAGE_GENERAL;
    std::function<void()> m_settle;
    std::function<bool(std::span<const uint8_t>)> m_maySend;
    Frame m_lastSent{};           // the last 13-byte frame sent, to tell a resend
    bool m_answeredSince = true;  // a valid answer came after m_lastSent
    int m_lateOwed = 0;           // answers that may still come for finished exchanges
    bool m_timedOut = false;      // the exchange that is waiting has timed out
    bool m_resentUnanswered = false;  // a frame was sent again and no answer has come since
    bool m_exchangeOpen = false;
    CTimerOwner m_timers;
};

}  // namespace corvane
