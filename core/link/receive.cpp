#include "core/link/receive.h"

namespace corvane {

std::optional<Frame> CSerialHunt::OnPortByte(uint8_t b)
{
    if (m_inFrame)
        m_frame[m_framePos++] = b;
    else
        m_hunt[m_huntIndex++] = b;

    if (!m_inFrame && m_hunt[m_huntIndex - 2] == kHeader0 && m_hunt[m_huntIndex - 1] == kHeader1) {
        m_frame[0] = kHeader0;
        m_frame[1] = kHeader1;
        m_framePos = 2;
        m_huntIndex = 2;
        m_inFrame = true;
        return std::nullopt;
    }
    if (m_framePos >= kFrameSize) {
        Frame done = m_frame;
        m_inFrame = false;
        m_framePos = 0;
        m_huntIndex = 2;
        m_hunt.fill(0);
        m_frame.fill(0);
        return done;
    }
    if (m_huntIndex >= m_hunt.size())
        m_huntIndex = 2;  // contents stay; they are overwritten from position 2 on
    return std::nullopt;
}

std::vector<Frame> CTcpCutter::Feed(std::span<const uint8_t> bytes)
{
    std::vector<Frame> frames;
    for (uint8_t b : bytes) {
        if (m_len == 0) {
            if (b == kHeader0)
                m_buf[m_len++] = b;
            continue;
        }
        if (m_len == 1) {
            if (b == kHeader1)
                m_buf[m_len++] = b;
            else if (b != kHeader0)
                m_len = 0;  // an A5 A5 5B run keeps the second A5 as the header start
            continue;
        }
        m_buf[m_len++] = b;
        if (m_len == kFrameSize) {
            frames.push_back(m_buf);
            m_len = 0;
        }
    }
    return frames;
}

}  // namespace corvane
