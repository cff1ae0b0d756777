#include "sim/line_pacer.h"

namespace corvane::sim {

CLinePacer::CLinePacer(unsigned baud, unsigned bitsPerByte)
    : m_baud(baud ? baud : 1), m_bitsPerByte(bitsPerByte)
{
}

int64_t CLinePacer::ByteTimeNs() const
{
    return static_cast<int64_t>((uint64_t(m_bitsPerByte) * 1000000000ull + m_baud / 2) / m_baud);
}

int64_t CLinePacer::ArrivalOf(uint64_t k) const
{
    // Whole bits from the start of the run: no rounding error adds up over a long transfer.
    return m_runStart + static_cast<int64_t>((k * m_bitsPerByte * 1000000000ull) / m_baud);
}

void CLinePacer::Push(std::span<const uint8_t> bytes, int64_t nowNs)
{
    if (bytes.empty())
        return;
    // An idle line starts a new run now; a busy one queues the bytes behind what it carries.
    if (m_runBytes == 0 || ArrivalOf(m_runBytes) <= nowNs) {
        m_runStart = nowNs;
        m_runBytes = 0;
    }
    for (uint8_t b : bytes) {
        ++m_runBytes;
        m_bytes.push_back({ArrivalOf(m_runBytes), b});
    }
}

std::vector<uint8_t> CLinePacer::Take(int64_t nowNs)
{
    std::vector<uint8_t> out;
    while (!m_bytes.empty() && m_bytes.front().due <= nowNs) {
        out.push_back(m_bytes.front().value);
        m_bytes.pop_front();
    }
    return out;
}

std::optional<int64_t> CLinePacer::NextDue() const
{
    if (m_bytes.empty())
        return std::nullopt;
    return m_bytes.front().due;
}

void CLinePacer::Clear()
{
    m_bytes.clear();
    m_runBytes = 0;
}

}  // namespace corvane::sim
