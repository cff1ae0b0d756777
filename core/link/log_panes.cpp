#include "core/link/log_panes.h"

namespace corvane {

void CLogWriter::LogTx(std::span<const uint8_t> bytes)
{
    m_scratch.clear();
    for (uint8_t b : bytes) {
        ++m_txInLine;
        AppendHex(m_scratch, b);
        if (m_txInLine == kFrameSize) {
            m_scratch.push_back('\n');
            m_txInLine = 0;
        }
    }
    if (bytes.size() > kFrameSize) {
        m_scratch.append("\n\n");
        m_txInLine = 0;
    }
    m_tx.Insert(m_scratch);
    if (++m_txWrites == kLogClearEvery) {
        m_tx.Clear();
        m_txWrites = 0;
    }
}

void CLogWriter::LogRx(const Frame& frame)
{
    m_scratch.clear();
    for (uint8_t b : frame)
        AppendHex(m_scratch, b);
    m_scratch.push_back('\n');
    m_rx.Insert(m_scratch);
    if (++m_rxFrames == kLogClearEvery) {
        m_rx.Clear();
        m_rxFrames = 0;
    }
}

void CLogWriter::LogRxRaw(std::span<const uint8_t> bytes)
{
    m_scratch.clear();
    std::size_t n = 0;
    for (uint8_t b : bytes) {
        AppendHex(m_scratch, b);
        if (++n % kFrameSize == 0)
            m_scratch.push_back('\n');
    }
    if (n % kFrameSize != 0)
        m_scratch.push_back('\n');  // the next datagram starts a line of its own
    m_rx.Insert(m_scratch);
    // Datagrams count like frames, so a flood from the network cannot grow the pane unbounded.
    if (++m_rxFrames == kLogClearEvery) {
        m_rx.Clear();
        m_rxFrames = 0;
    }
}

void CLogWriter::ClearPanes()
{
    m_tx.Clear();
    m_rx.Clear();
}

}  // namespace corvane
