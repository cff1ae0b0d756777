// The program's serial port: the real transport, its bytes handed to the user-interface thread.
#pragma once

#include <atomic>
#include <mutex>
#include <string>

#include "panel/serial_port.h"
#include "transport/serial_link.h"
#include "transport/qt_serial_owner.h"

namespace corvane {

class CQtSerialPort final : public ISerialPort, private ISerialOwner {
public:
    explicit CQtSerialPort(SPortPaths paths = DefaultPortPaths());
    ~CQtSerialPort() override;

    bool OpenPort(unsigned portNumber) override;
    void Start() override { m_link.Start(); }
    void Stop() override { m_link.Stop(); }
    void Write(std::span<const uint8_t> bytes) override { m_link.Write(bytes); }

private:
    // Worker thread: bytes go through the Qt hand-over; a lost link is posted with the number
    // of the opening it belongs to, so a loss reported by an earlier opening cannot close a
    // link opened since.
    void OnPortByte(uint8_t b, unsigned port, std::stop_token stop) override;
    void OnPortBytes(std::span<const uint8_t> bytes, unsigned port, std::stop_token stop) override;
    void OnPortLinkLost(unsigned port) override;

    CQtSerialOwner m_owner;  // declared first: the link, and its worker, go before it
    std::atomic<unsigned> m_opening{0};
    std::mutex m_failureLock;
    std::string m_failure;  // the link's last failure in words (worker thread)
    CSerialLink m_link;
};

}  // namespace corvane
