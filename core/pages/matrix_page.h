// The routing page's behaviour: which input feeds each output, the route set and route query
// frames, the replies that answer them and the page's own 7-second timer. No Qt: the page talks
// to the link core, the timer layer and the notices, and shows what the switcher reported
// through a small view (the Qt widget, or a text view of the command-line tool).
#pragma once

#include "core/link/frame.h"
#include "core/link/link_state.h"
#include "platform/timers.h"

namespace corvane {

class CLinkCore;

inline constexpr int kRouteInputs = 4;
inline constexpr int kRouteOutputs = 2;

// The page's own timer (its id equals the main window's page-opening timer, on another owner).
enum : unsigned { TIMER_ROUTE_TIMEOUT = 1000, TIMER_ROUTE_READ_BACK = 1001 };
inline constexpr unsigned kRouteTimeoutMs = kPageTimeoutMs;
// How often a read-back owed after a time-out looks whether the line is free again.
inline constexpr unsigned kReadBackPollMs = 250;

class IMatrixView {
public:
    virtual ~IMatrixView() = default;
    // Checks the IN button of the input (1..4) for the output (1..2), unchecks its other three.
    virtual void CheckInput(int output, int input) = 0;
    // Shows the digit of the input (1..4) in the output's picture.
    virtual void ShowDigit(int output, int input) = 0;
    // The switcher took a route the operator set (said to a screen reader).
    virtual void RouteSet(int /*output*/, int /*input*/) {}
};

class CMatrixPage {
public:
    CMatrixPage(CLinkCore& link, IMatrixView& view);
    CMatrixPage(const CMatrixPage&) = delete;
    CMatrixPage& operator=(const CMatrixPage&) = delete;

    // Remembers the input for the output and checks its IN button. An input outside 1..4 or an
    // output other than 1 and 2 changes nothing.
    void ShowRoute(int input, int output);

    // The operator's buttons. Each passes the send gate and sends one route set; the display
    // changes only when the switcher acknowledges it. The IN buttons' own toggle is the view's
    // business: a click alone must not change what they show.
    void OnInputButton(int output, int input);
    // Previous from input 1 routes input 4, next from input 4 routes input 1.
    void OnPreviousInput(int output);
    void OnNextInput(int output);

    // Every reply with a valid checksum while the page is shown.
    void OnRoutingReply(const Frame& reply);
    void OnTimer(unsigned id);
    // The link is gone (CLinkCore::OnLinkLost): the exchange waiting on it ends now, silently.
    // True when the page still showed the busy indicator's finished view.
    bool OnLinkLost();

    // After a route's "Time out!" the switcher may have taken the route all the same (or an
    // earlier one): once the operator has read the message and the line has settled, both routes
    // are read back while the page is still shown, so it shows the switcher's state. Off for
    // front ends that read back themselves.
    void SetReadBackAfterTimeOut(bool on) { m_readBack = on; }

    // The input last shown for the output (1 before any report); 0 for an unknown output.
    int ShownInput(int output) const;
    bool RouteTimerRunning() const { return m_timers.IsRunning(TIMER_ROUTE_TIMEOUT); }

private:
    // The frame into CommandFrame, sent.
    void SendRoutingFrame(std::initializer_list<uint8_t> body);
    void SendRouteSet(int input, int output);
    // Digit and IN button of a reported route.
    void ShowReported(int input, int output);
    void EndRouteExchange();

    CLinkCore& m_link;
    IMatrixView& m_view;
    int m_nOutput1Input = 1;
    int m_nOutput2Input = 1;
    bool m_readBack = false;
    CTimerOwner m_timers;
};

}  // namespace corvane
