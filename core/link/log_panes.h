// The two log panes: every byte sent and every frame received, in hexadecimal.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "core/link/frame.h"

namespace corvane {

class ILogPane {
public:
    virtual ~ILogPane() = default;
    virtual void Insert(std::string_view text) = 0;
    virtual void Clear() = 0;
};

// A pane that keeps its text in memory (tests, benchmarks, the emulator's console).
class CTextPane final : public ILogPane {
public:
    void Insert(std::string_view text) override { m_text.append(text); }
    void Clear() override { m_text.clear(); }
    const std::string& Text() const { return m_text; }

private:
    std::string m_text;
};

inline constexpr unsigned kLogClearEvery = 60;

class CLogWriter {
public:
    CLogWriter(ILogPane& tx, ILogPane& rx) : m_tx(tx), m_rx(rx) {}

    // A 13-byte frame takes one line; a longer write is followed by an empty line. The pane is
    // emptied after every 60th write.
    void LogTx(std::span<const uint8_t> bytes);
    // One frame a line; the pane is emptied after every 60th frame.
    void LogRx(const Frame& frame);
    // Raw datagram bytes into the receive pane, a line break after every 13th byte and at its
    // end; a datagram counts as a frame toward the emptying.
    void LogRxRaw(std::span<const uint8_t> bytes);
    // The "clear" button: both panes emptied; counters untouched.
    void ClearPanes();

    unsigned RxFrames() const { return m_rxFrames; }

private:
    ILogPane& m_tx;
    ILogPane& m_rx;
    unsigned m_txInLine = 0;
    unsigned m_txWrites = 0;
    unsigned m_rxFrames = 0;
    std::string m_scratch;
};

}  // namespace corvane
