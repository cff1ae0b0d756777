// One direction of a serial line at its real speed: bytes put on the line arrive one byte time
// apart, each after the bytes already on the line. Times are in nanoseconds of any clock.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <vector>

namespace corvane::sim {

// The switcher's line: 19200 baud, 8 data bits, no parity, 2 stop bits and the start bit.
inline constexpr unsigned kLineBaud = 19200;
inline constexpr unsigned kLineBitsPerByte = 11;

class CLinePacer {
public:
    CLinePacer(unsigned baud = kLineBaud, unsigned bitsPerByte = kLineBitsPerByte);

    // Puts the bytes on the line at nowNs (or when it is free, if it still carries bytes).
    void Push(std::span<const uint8_t> bytes, int64_t nowNs);
    // The bytes whose last bit has arrived by nowNs, in order.
    std::vector<uint8_t> Take(int64_t nowNs);
    // When the next byte arrives; nothing when the line is empty.
    std::optional<int64_t> NextDue() const;
    bool Empty() const { return m_bytes.empty(); }
    void Clear();

    // The time one byte takes on the line, rounded to the nanosecond.
    int64_t ByteTimeNs() const;

private:
    struct Byte {
        int64_t due;
        uint8_t value;
    };
    // Arrival of the k-th byte of a run that started at m_runStart, exact in bits.
    int64_t ArrivalOf(uint64_t k) const;

    unsigned m_baud;
    unsigned m_bitsPerByte;
    std::deque<Byte> m_bytes;
    int64_t m_runStart = 0;   // when the line last started from idle
    uint64_t m_runBytes = 0;  // bytes put on the line since then
};

}  // namespace corvane::sim
