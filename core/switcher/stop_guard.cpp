#include "core/switcher/stop_guard.h"

#include "core/pages/edid_page.h"
#include "core/pages/firmware_page.h"

namespace corvane {

CStopGuard::CStopGuard(ITimerService& timers) : m_bound(timers, [this](unsigned id) {
    m_bound.KillTimer(id);
    m_expired = true;
})
{
}

bool CStopGuard::MaySend(std::span<const uint8_t> out, bool stopped)
{
    if (out.size() == kBlockSize) {
        if (stopped && !m_blockOwed)
            return false;
        m_blockOwed = false;
        return true;
    }
    if (out.size() != kFrameSize)
        return !stopped;
    if (stopped && !(m_setOpen && IsEdidFrame(out)))
        return false;
    m_blockOwed = AnnouncesEdidBlock(out) || AnnouncesFirmwareBlock(out);
    m_setOpen = OpensEdidSet(out);
    if (stopped)
        m_answerOwed = true;
    return true;
}

bool CStopGuard::Settling(CLinkCore& link)
{
    if (!m_started) {
        m_started = true;
        m_bound.SetTimer(1, kPageTimeoutMs);
    }
    // Its answer is awaited as a late one: no later exchange will take it for its own.
    if (m_answerOwed) {
        m_answerOwed = false;
        link.NoteTimedOut();
    }
    return link.Settling() || ((m_setOpen || m_blockOwed) && !m_expired);
}

}  // namespace corvane
