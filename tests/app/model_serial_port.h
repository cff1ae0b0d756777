// A serial port whose other end is the in-process switcher model, on the virtual clock: what
// the panel writes reaches the model at once; the model's replies arrive when the test lets
// time pass.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "panel/serial_port.h"
#include "platform/timers.h"
#include "sim/faults.h"
#include "sim/session.h"
#include "sim/switcher.h"

namespace corvane::test {

class CModelSerialPort final : public ISerialPort {
public:
    CModelSerialPort(CVirtualTimers& clock, sim::SwitcherSettings settings = {});

    bool OpenPort(unsigned portNumber) override;
    void Start() override { m_running = m_open; }
    void Stop() override { m_open = m_running = false; }
    void Write(std::span<const uint8_t> bytes) override;

    // Moves the clock forward by ms, delivering every reply that falls due on the way.
    void Run(int64_t ms);
    // Delivers what is due now; returns the number of writes delivered.
    std::size_t Pump();

    unsigned openablePort = 7;
    sim::CSwitcher device;
    sim::CFaultPlan faults;
    std::vector<std::vector<uint8_t>> writes;
    std::vector<std::pair<std::size_t, std::vector<uint8_t>>> heard;  // each reply, after writes[0..first)
    bool IsRunning() const { return m_running; }
    void AddFault(const std::string& rule);

private:
    CVirtualTimers& m_clock;
    std::unique_ptr<sim::CStreamSession> m_session;
    bool m_open = false;
    bool m_running = false;
};

}  // namespace corvane::test
