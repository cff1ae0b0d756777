#include "tests/app/model_serial_port.h"

#include <gtest/gtest.h>

namespace corvane::test {

CModelSerialPort::CModelSerialPort(CVirtualTimers& clock, sim::SwitcherSettings settings)
    : device(std::move(settings)), m_clock(clock)
{
}

bool CModelSerialPort::OpenPort(unsigned portNumber)
{
    if (portNumber != openablePort)
        return false;
    m_open = true;
    m_session = std::make_unique<sim::CStreamSession>(device, faults);  // a fresh line each time
    return true;
}

void CModelSerialPort::Write(std::span<const uint8_t> bytes)
{
    writes.emplace_back(bytes.begin(), bytes.end());
    if (m_running)
        m_session->Feed(bytes, m_clock.Now());
}

void CModelSerialPort::AddFault(const std::string& rule)
{
    std::string error;
    auto parsed = sim::ParseFaultRule(rule, error);
    ASSERT_TRUE(parsed) << error;
    faults.Add(*parsed);
}

std::size_t CModelSerialPort::Pump()
{
    std::size_t delivered = 0;
    if (!m_session)
        return 0;
    for (const sim::Emission& e : m_session->TakeDue(m_clock.Now())) {
        if (!m_running)
            break;
        ++delivered;
        if (e.hangUp) {
            if (onLinkLost)
                onLinkLost("COM1 (model): the line hung up");
            break;
        }
        heard.emplace_back(writes.size(), e.bytes);
        for (uint8_t b : e.bytes)
            if (onByte && m_running)
                onByte(b);
    }
    return delivered;
}

void CModelSerialPort::Run(int64_t ms)
{
    const int64_t end = m_clock.Now() + ms;
    for (int guard = 0; guard < 1000000; ++guard) {
        int64_t next = end;
        if (auto due = m_session ? m_session->NextDeadline() : std::nullopt)
            next = std::min(next, std::max(*due, m_clock.Now()));
        const int64_t timer = m_clock.NextDue();
        const bool timerDue = timer >= 0 && timer <= next;
        if (timerDue)
            next = timer;
        m_clock.Advance(next - m_clock.Now());
        if (Pump() > 0 || timerDue)
            continue;
        if (m_clock.Now() >= end)
            return;
        m_clock.Advance(1);  // a deadline that delivered nothing (a block wait ending)
    }
    ADD_FAILURE() << "the model and the panel keep each other busy";
}

}  // namespace corvane::test
