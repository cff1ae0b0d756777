// Cutting replies out of the received byte streams.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "core/link/frame.h"

namespace corvane {

// The serial receive state machine: one call per byte. Bytes before a header are skipped;
// after A5 5B exactly eleven more bytes complete the frame, whatever they are.
class CSerialHunt {
public:
    std::optional<Frame> OnPortByte(uint8_t b);

private:
    std::array<uint8_t, 256> m_hunt{};
    unsigned m_huntIndex = 2;  // positions 0 and 1 are only ever zero
    Frame m_frame{};
    unsigned m_framePos = 0;
    bool m_inFrame = false;
};

// The TCP receive path: bytes arrive in reads of any size. Every complete frame is cut out,
// hunting for the header exactly as the serial path does; a partial frame waits for the next
// read. Holds at most one partial frame, however the stream is split.
class CTcpCutter {
public:
    std::vector<Frame> Feed(std::span<const uint8_t> bytes);
    std::size_t Pending() const { return m_len; }

private:
    Frame m_buf{};
    std::size_t m_len = 0;  // bytes held; when >= 2 they start with the header
};

}  // namespace corvane
