#include "core/session/stop_guard.h"

namespace corvane {

namespace {

enum : uint8_t {
    GROUP_EDID = 0x03,
    EDID_FILE_TO_ALL = 0x06,
    EDID_FILE_TO_ONE = 0x07,
    EDID_SET_REQUEST = 0x08,
    EDID_ANNOUNCE = 0xF0,
    EDID_FILE_DATA = 0x56,
    GROUP_FIRMWARE = 0x20,
    FIRMWARE_CODE = 0x01,
    PACKET_MARK = 0xAA,
    LAST_PACKET_MARK = 0x56,
};

bool IsFileAnnounce(std::span<const uint8_t> f)
{
    return f[2] == GROUP_EDID && (f[3] == EDID_FILE_TO_ONE || f[3] == EDID_FILE_TO_ALL) && f[5] == EDID_ANNOUNCE;
}

// The EDID file data header and the firmware packet header: the next 257 bytes are a block.
bool AnnouncesBlock(std::span<const uint8_t> f)
{
    if (f[2] == GROUP_EDID && (f[3] == EDID_FILE_TO_ALL || f[3] == EDID_FILE_TO_ONE) && f[4] == EDID_FILE_DATA)
        return true;
    return f[2] == GROUP_FIRMWARE && f[3] == FIRMWARE_CODE && (f[4] == PACKET_MARK || f[4] == LAST_PACKET_MARK);
}

}  // namespace

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
    if (stopped && !(m_setOpen && out[2] == GROUP_EDID))
        return false;
    m_blockOwed = AnnouncesBlock(out);
    m_setOpen = out[2] == GROUP_EDID && (out[3] == EDID_SET_REQUEST || IsFileAnnounce(out));
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
