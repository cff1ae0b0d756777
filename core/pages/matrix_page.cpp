#include "core/pages/matrix_page.h"

#include "core/link/link_core.h"
#include "core/link/queries.h"
#include "platform/notices.h"

namespace corvane {

namespace {

bool IsInput(int input) { return input >= 1 && input <= kRouteInputs; }
bool IsOutput(int output) { return output >= 1 && output <= kRouteOutputs; }

// Command groups and codes of the routing frames and the acknowledgements the page ends.
enum : uint8_t {
    ROUTE_SET = 0x03,
    GROUP_OPTIONS = 0x0A,
    GROUP_PANEL = 0x90,
    TO_OUTPUT_2 = 0x06,
};

// The frame last sent, to read an acknowledgement against. Its bytes 4 and 6 mean an input and
// an output only while it is the command the reply acknowledges; any other frame (a newer
// command, the page-opening query) says nothing about the reply.
bool LastSentIs(const Frame& sent, uint8_t group, uint8_t code) { return sent[2] == group && sent[3] == code; }

}  // namespace

CMatrixPage::CMatrixPage(CLinkCore& link, IMatrixView& view)
    : m_link(link), m_view(view), m_timers(link.TimerService(), [this](unsigned id) { OnTimer(id); })
{
}

int CMatrixPage::ShownInput(int output) const
{
    return output == 1 ? m_nOutput1Input : output == 2 ? m_nOutput2Input : 0;
}

void CMatrixPage::ShowRoute(int input, int output)
{
    if (!IsOutput(output) || !IsInput(input))
        return;
    (output == 1 ? m_nOutput1Input : m_nOutput2Input) = input;
    m_view.CheckInput(output, input);
}

void CMatrixPage::ShowReported(int input, int output)
{
    if (!IsOutput(output) || !IsInput(input))
        return;
    m_view.ShowDigit(output, input);
    ShowRoute(input, output);
}

void CMatrixPage::SendRoutingFrame(std::initializer_list<uint8_t> body)
{
    m_link.CommandFrame = MakeFrame(body);
    m_link.OnSendRequest(SEND_ROUTING_FRAME);
}

void CMatrixPage::SendRouteSet(int input, int output)
{
    m_timers.SetTimer(TIMER_ROUTE_TIMEOUT, kRouteTimeoutMs);
    SendRoutingFrame({GROUP_ROUTE, ROUTE_SET, static_cast<uint8_t>(input), 0x00, static_cast<uint8_t>(output)});
}

void CMatrixPage::OnInputButton(int output, int input)
{
    if (!IsOutput(output) || !IsInput(input))
        return;
    if (!m_link.BeginCommand())
        return;
    SendRouteSet(input, output);
}

void CMatrixPage::OnPreviousInput(int output)
{
    if (!IsOutput(output) || !m_link.BeginCommand())
        return;
    const int shown = ShownInput(output);
    SendRouteSet(IsInput(shown) && shown > 1 ? shown - 1 : kRouteInputs, output);
}

void CMatrixPage::OnNextInput(int output)
{
    if (!IsOutput(output) || !m_link.BeginCommand())
        return;
    const int shown = ShownInput(output);
    SendRouteSet(IsInput(shown) && shown < kRouteInputs ? shown + 1 : 1, output);
}

void CMatrixPage::EndRouteExchange()
{
    m_timers.KillTimer(TIMER_ROUTE_TIMEOUT);
    m_link.bReady = true;
}

void CMatrixPage::OnRoutingReply(const Frame& r)
{
    const Frame& sent = m_link.CommandFrame;

    if (r[2] == GROUP_ROUTE && r[3] == ROUTE_SET && r[4] == 0x00) {
        // Applied even after the time-out: the switcher has taken the route all the same.
        if (LastSentIs(sent, GROUP_ROUTE, ROUTE_SET)) {
            ShowReported(sent[4], sent[6]);
            m_view.RouteSet(sent[6], sent[4]);
        }
        EndRouteExchange();
        return;
    }

    if (r[2] == GROUP_ROUTE && r[3] == ROUTE_QUERY) {
        // Only the answer to the query last sent counts: a late or repeated answer must neither
        // show one output's route as the other's nor move the chain on behind another
        // command's back.
        if (!LastSentIs(sent, GROUP_ROUTE, ROUTE_QUERY) || r[4] != sent[4])
            return;
        ShowReported(r[6], sent[4]);
        if (r[4] == 1) {
            // The chain goes on under the page-opening claim and its timer.
            m_link.CommandFrame = RouteQuery(2);
            m_link.OnSendRequest(SEND_ROUTING_FRAME);
        } else if (r[4] == 2) {
            m_link.OnSendRequest(STOP_PAGE_TIMER);
            m_link.bReady = true;
        }
        return;
    }

    if (r[2] == GROUP_OPTIONS && r[4] == 0x00) {
        const bool option = (r[3] == 0x0C || r[3] == 0x0E || r[3] == 0x0F) && r[6] == 0x01;
        const bool general = r[3] == 0x01 && r[6] == 0x00;
        const bool toOutput2 = r[3] == TO_OUTPUT_2 && r[6] == 0x01;
        if (!option && !general && !toOutput2)
            return;
        if (toOutput2 && LastSentIs(sent, GROUP_OPTIONS, TO_OUTPUT_2))
            ShowReported(sent[4], 2);
        EndRouteExchange();
        return;
    }

    if (r[2] == GROUP_PANEL) {
        const bool done = (r[3] == 0x0C || r[3] == 0x01) && r[6] == 0x00;
        const bool toOutput2 = r[3] == TO_OUTPUT_2 && r[6] == 0x01;
        if (!done && !toOutput2)
            return;
        if (toOutput2)
            ShowReported(r[4], 2);
        m_timers.KillTimer(TIMER_ROUTE_TIMEOUT);
        m_link.OnSendRequest(STOP_PAGE_TIMER);
        m_link.bReady = true;
    }
    // Anything else is left to the pending timer.
}

bool CMatrixPage::OnLinkLost()
{
    m_timers.KillTimer(TIMER_ROUTE_TIMEOUT);
    m_timers.KillTimer(TIMER_ROUTE_READ_BACK);
    return false;
}

void CMatrixPage::OnTimer(unsigned id)
{
    if (id == TIMER_ROUTE_READ_BACK) {
        if (m_link.CurrentPage() != PAGE_MATRIX || !m_link.LinkOpen()) {
            m_timers.KillTimer(id);  // the page's next opening reads the routes anyway
            return;
        }
        if (!m_link.bReady || m_link.Settling())
            return;  // looks again at the next tick
        m_timers.KillTimer(id);
        m_link.SendOpeningQuery(PAGE_MATRIX);
        return;
    }
    if (id != TIMER_ROUTE_TIMEOUT)
        return;
    m_timers.KillTimer(id);
    // The display keeps what the switcher last reported until the read-back.
    if (m_readBack)
        m_timers.SetTimer(TIMER_ROUTE_READ_BACK, kReadBackPollMs);
    m_link.ShowTimedOut();
}

}  // namespace corvane
