// The switcher's side of one link: bytes in, writes out. A stream session cuts command frames
// and data blocks out of a serial or TCP byte stream; a datagram port answers the search and
// configuration datagrams. Both apply the fault plan and hold replies until they are due.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/link/frame.h"
#include "sim/faults.h"
#include "sim/switcher.h"

namespace corvane::sim {

// One write on the link (or one datagram), due at dueMs. hangUp: close the link instead.
struct Emission {
    int64_t dueMs = 0;
    std::vector<uint8_t> bytes;
    bool hangUp = false;
    uint64_t peer = 0;  // datagrams: where the request came from
};

// What a session saw, for the program's log.
enum class RxEvent {
    Frame,           // a command frame with a valid checksum
    BadFrame,        // a frame whose checksum is wrong: ignored
    Block,           // the data block after a header
    PartialBlock,    // a block that stopped arriving: dropped
    Skipped,         // bytes before a header
    Ignored,         // a valid frame or datagram that got no reply (rebooting, unknown)
    Datagram,
    Fault,           // faults applied to the reply of the last exchange (text in note)
};
using TraceFn = std::function<void(RxEvent, std::span<const uint8_t>, const std::string& note)>;

// Replies waiting for their time, in due order; a merged reply waits for the next one.
class CReplyQueue {
public:
    void Schedule(std::vector<uint8_t> bytes, int64_t dueMs, const FaultSet& f, uint64_t peer = 0);
    void ScheduleHangUp(int64_t dueMs);
    std::vector<Emission> TakeDue(int64_t nowMs);
    std::optional<int64_t> NextDue() const;

private:
    void Push(Emission e);

    std::deque<Emission> m_queue;  // sorted by due time, stable
    std::optional<Emission> m_held;
    int64_t m_heldUntil = 0;
    int64_t m_splitUntil = 0;  // when the last byte of the latest split reply leaves
};

inline constexpr int64_t kDefaultBlockWaitMs = 1000;

class CStreamSession {
public:
    CStreamSession(CSwitcher& device, CFaultPlan& faults);

    void SetTrace(TraceFn fn) { m_trace = std::move(fn); }
    // A block that receives no byte for this long is dropped and the hunt for a header resumes.
    void SetBlockWait(int64_t ms) { m_blockWaitMs = ms; }

    void Feed(std::span<const uint8_t> bytes, int64_t nowMs);
    std::vector<Emission> TakeDue(int64_t nowMs);
    // The next time TakeDue or the block wait needs attention.
    std::optional<int64_t> NextDeadline() const;
    bool WaitingForBlock() const { return m_state == State::Block; }

private:
    enum class State { Hunt, Frame, Block };

    void OnFrame(int64_t nowMs);
    // A block that received no byte for the block wait is dropped; the hunt for a header resumes.
    void DropStalledBlock(int64_t nowMs);
    void Exchange(const Frame& command, const Block* block, int64_t nowMs);
    void FlushSkipped();
    void Trace(RxEvent e, std::span<const uint8_t> bytes, const std::string& note = {});

    CSwitcher& m_device;
    CFaultPlan& m_faults;
    CReplyQueue m_out;
    TraceFn m_trace;
    int64_t m_blockWaitMs = kDefaultBlockWaitMs;

    State m_state = State::Hunt;
    std::vector<uint8_t> m_skipped;
    Frame m_frame{};
    std::size_t m_framePos = 0;
    Frame m_header{};  // the frame that announced the block being collected
    Block m_block{};
    std::size_t m_blockPos = 0;
    int64_t m_lastByteMs = 0;
};

class CDatagramPort {
public:
    // kind: FaultTarget::Search or FaultTarget::Config.
    CDatagramPort(CSwitcher& device, CFaultPlan& faults, FaultTarget kind);

    void SetTrace(TraceFn fn) { m_trace = std::move(fn); }
    void OnDatagram(std::span<const uint8_t> datagram, uint64_t peer, int64_t nowMs);
    std::vector<Emission> TakeDue(int64_t nowMs) { return m_out.TakeDue(nowMs); }
    std::optional<int64_t> NextDeadline() const { return m_out.NextDue(); }

private:
    CSwitcher& m_device;
    CFaultPlan& m_faults;
    FaultTarget m_kind;
    CReplyQueue m_out;
    TraceFn m_trace;
};

}  // namespace corvane::sim
