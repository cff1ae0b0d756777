// What a link still sends once its command was asked to stop: nothing that starts an exchange,
// only what completes one the switcher already holds part of. The set an EDID set request
// announced, the data header a file announcement asked for, the block a header announced:
// without them the switcher would stay armed for a change, or take the next program's frames
// for the block it expects.
#pragma once

#include <cstdint>
#include <span>

#include "core/link/link_core.h"

namespace corvane {

class CStopGuard {
public:
    explicit CStopGuard(ITimerService& timers);

    // Every frame or block about to leave, sealed; false: it stays unsent.
    bool MaySend(std::span<const uint8_t> out, bool stopped);
    // For the line of a stopped command: true while it must not close yet. What went out may
    // still be answered (within the link's late window), and a half-sent exchange is given its
    // rest, for at most kPageTimeoutMs.
    bool Settling(CLinkCore& link);

private:
    bool m_setOpen = false;    // an EDID set went out in part: its next frame is owed
    bool m_blockOwed = false;  // a header went out, its block has not
    bool m_answerOwed = true;  // a frame's answer may come: the one under way at the stop, or one sent since
    bool m_started = false;
    bool m_expired = false;
    CTimerOwner m_bound;
};

}  // namespace corvane
