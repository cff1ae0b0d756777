#include "sim/session.h"

#include <algorithm>

namespace corvane::sim {
namespace {

constexpr std::size_t kMaxSkipped = 4096;

}  // namespace

// ---- reply queue ----

void CReplyQueue::Push(Emission e)
{
    auto at = std::upper_bound(m_queue.begin(), m_queue.end(), e.dueMs,
                               [](int64_t due, const Emission& x) { return due < x.dueMs; });
    m_queue.insert(at, std::move(e));
}

void CReplyQueue::Schedule(std::vector<uint8_t> bytes, int64_t dueMs, const FaultSet& f, uint64_t peer)
{
    // A held reply leaves in one write with this one, or with its first byte when this one is
    // split: it never falls behind the reply that releases it.
    std::size_t firstWrite = 1;
    const bool released = m_held.has_value();
    if (released) {
        firstWrite += m_held->bytes.size();
        bytes.insert(bytes.begin(), m_held->bytes.begin(), m_held->bytes.end());
        dueMs = std::max(dueMs, m_held->dueMs);
        m_held.reset();
    }
    // The line carries one reply at a time: none starts inside a split one still under way.
    dueMs = std::max(dueMs, m_splitUntil);
    if (f.split) {
        auto n = static_cast<std::ptrdiff_t>(std::min(firstWrite, bytes.size()));
        int64_t due = dueMs;
        for (auto at = bytes.begin(); at != bytes.end(); at += n, n = 1, due += f.splitGapMs) {
            Push({due, {at, at + n}, false, peer});
            m_splitUntil = due;
        }
        return;
    }
    if (f.merge && !released) {
        m_heldUntil = dueMs + f.mergeHoldMs;
        m_held = Emission{dueMs, std::move(bytes), false, peer};
        return;
    }
    Push({dueMs, std::move(bytes), false, peer});
}

void CReplyQueue::ScheduleHangUp(int64_t dueMs) { Push({dueMs, {}, true, 0}); }

std::vector<Emission> CReplyQueue::TakeDue(int64_t nowMs)
{
    if (m_held && nowMs >= m_heldUntil) {  // nothing came to merge with: it leaves alone
        Push(std::move(*m_held));
        m_held.reset();
    }
    std::vector<Emission> due;
    while (!m_queue.empty() && m_queue.front().dueMs <= nowMs) {
        due.push_back(std::move(m_queue.front()));
        m_queue.pop_front();
    }
    return due;
}

std::optional<int64_t> CReplyQueue::NextDue() const
{
    std::optional<int64_t> next;
    if (!m_queue.empty())
        next = m_queue.front().dueMs;
    if (m_held && (!next || m_heldUntil < *next))
        next = m_heldUntil;
    return next;
}

// ---- stream session ----

CStreamSession::CStreamSession(CSwitcher& device, CFaultPlan& faults) : m_device(device), m_faults(faults) {}

void CStreamSession::Trace(RxEvent e, std::span<const uint8_t> bytes, const std::string& note)
{
    if (m_trace)
        m_trace(e, bytes, note);
}

void CStreamSession::FlushSkipped()
{
    if (!m_skipped.empty())
        Trace(RxEvent::Skipped, m_skipped);
    m_skipped.clear();
}

void CStreamSession::Feed(std::span<const uint8_t> bytes, int64_t nowMs)
{
    if (bytes.empty())
        return;
    DropStalledBlock(nowMs);
    m_lastByteMs = nowMs;

    for (uint8_t b : bytes) {
        switch (m_state) {
        case State::Hunt:
            if (b == kHeader1 && !m_skipped.empty() && m_skipped.back() == kHeader0) {
                m_skipped.pop_back();
                FlushSkipped();
                m_frame[0] = kHeader0;
                m_frame[1] = kHeader1;
                m_framePos = 2;
                m_state = State::Frame;
            } else {
                if (m_skipped.size() >= kMaxSkipped)
                    FlushSkipped();
                m_skipped.push_back(b);
            }
            break;
        case State::Frame:
            m_frame[m_framePos++] = b;
            if (m_framePos == kFrameSize) {
                m_state = State::Hunt;
                OnFrame(nowMs);
            }
            break;
        case State::Block:
            m_block[m_blockPos++] = b;
            if (m_blockPos == kBlockSize) {
                m_state = State::Hunt;
                Trace(RxEvent::Block, m_block, BlockChecksumOk(m_block) ? "" : "block checksum wrong");
                Exchange(m_header, &m_block, nowMs);
            }
            break;
        }
    }
    // Garbage is reported as it arrives rather than when the next header turns up; a trailing
    // A5 stays, it may be the first half of a header.
    if (m_state == State::Hunt && !m_skipped.empty()) {
        const bool keep = m_skipped.back() == kHeader0;
        if (keep)
            m_skipped.pop_back();
        FlushSkipped();
        if (keep)
            m_skipped.push_back(kHeader0);
    }
}

void CStreamSession::OnFrame(int64_t nowMs)
{
    if (!FrameChecksumOk(m_frame)) {
        Trace(RxEvent::BadFrame, m_frame, "checksum wrong: ignored");
        return;
    }
    Trace(RxEvent::Frame, m_frame);
    if (AnnouncesBlock(m_frame)) {
        m_header = m_frame;
        m_blockPos = 0;
        m_state = State::Block;
        return;
    }
    Exchange(m_frame, nullptr, nowMs);
}

void CStreamSession::Exchange(const Frame& command, const Block* block, int64_t nowMs)
{
    if (m_device.Rebooting(nowMs)) {
        Trace(RxEvent::Ignored, command, "rebooting: no reply");
        return;
    }
    const FaultSet f = m_faults.ForFrame(command);
    std::optional<Frame> reply;
    if (f.refuse) {
        // The build text has no room for an error code: a refused build-text query stays silent.
        if (!(command[2] == 0x01 && command[3] == 0x06))
            reply = RefusalFor(command);
    } else {
        reply = m_device.OnCommand(command, block, nowMs);
    }
    if (f.Any())
        Trace(RxEvent::Fault, command, f.Describe());
    if (f.hangUp) {
        m_out.ScheduleHangUp(nowMs + f.delayMs);
        return;
    }
    if (!reply) {
        Trace(RxEvent::Ignored, command, "no reply");
        return;
    }
    if (f.drop)
        return;
    Frame r = *reply;
    if (f.value) {
        r[6] = *f.value;
        SealFrame(r);
    }
    if (f.corrupt)
        r[12] ^= 0xFF;
    std::vector<uint8_t> bytes = m_faults.Noise(f.noise);
    bytes.insert(bytes.end(), r.begin(), r.end());
    m_out.Schedule(std::move(bytes), nowMs + f.delayMs, f);
}

void CStreamSession::DropStalledBlock(int64_t nowMs)
{
    if (m_state == State::Block && nowMs - m_lastByteMs > m_blockWaitMs) {
        Trace(RxEvent::PartialBlock, std::span(m_block).first(m_blockPos), "block stopped arriving: dropped");
        m_state = State::Hunt;
    }
}

std::vector<Emission> CStreamSession::TakeDue(int64_t nowMs)
{
    DropStalledBlock(nowMs);
    return m_out.TakeDue(nowMs);
}

std::optional<int64_t> CStreamSession::NextDeadline() const
{
    std::optional<int64_t> next = m_out.NextDue();
    if (m_state == State::Block) {
        const int64_t giveUp = m_lastByteMs + m_blockWaitMs + 1;
        if (!next || giveUp < *next)
            next = giveUp;
    }
    return next;
}

// ---- datagrams ----

CDatagramPort::CDatagramPort(CSwitcher& device, CFaultPlan& faults, FaultTarget kind)
    : m_device(device), m_faults(faults), m_kind(kind)
{
}

void CDatagramPort::OnDatagram(std::span<const uint8_t> d, uint64_t peer, int64_t nowMs)
{
    if (m_trace)
        m_trace(RxEvent::Datagram, d, {});
    const bool search = m_kind == FaultTarget::Search;
    // A datagram that is not a request for this switcher never counts as an exchange.
    const bool request = search ? (d.size() == 1 && d[0] == kSearchRequest)
                                : (d.size() == kConfigSize &&
                                   std::equal(m_device.MacAddress().begin(), m_device.MacAddress().end(), d.begin()));
    if (!request || m_device.Rebooting(nowMs)) {
        if (m_trace)
            m_trace(RxEvent::Ignored, d, "no reply");
        return;
    }
    const FaultSet f = m_faults.ForDatagram(m_kind);
    if (f.Any() && m_trace)
        m_trace(RxEvent::Fault, d, f.Describe());
    std::optional<std::vector<uint8_t>> reply;
    if (search) {
        if (!f.refuse)
            reply = m_device.OnSearch(d, nowMs);
    } else {
        reply = m_device.OnConfig(d, nowMs, f.refuse);
    }
    if (!reply || f.drop || f.hangUp)
        return;
    std::vector<uint8_t>& r = *reply;
    if (f.corrupt) {
        if (search)
            r[19] ^= 0x01;  // no checksum here: the marker suffers instead
        else
            r[75] ^= 0xFF;
    }
    std::vector<uint8_t> bytes = m_faults.Noise(f.noise);
    bytes.insert(bytes.end(), r.begin(), r.end());
    m_out.Schedule(std::move(bytes), nowMs + f.delayMs, f, peer);
}

}  // namespace corvane::sim
