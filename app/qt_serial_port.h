// The program's serial port: the real transport, its bytes handed to the user-interface thread.
#pragma once

#include "app/serial_port.h"
#include "link/serial_link.h"
#include "platform/qt_serial_owner.h"

namespace corvane {

class CQtSerialPort final : public ISerialPort {
public:
    explicit CQtSerialPort(SPortPaths paths = DefaultPortPaths());
    ~CQtSerialPort() override;

    bool OpenPort(unsigned portNumber) override;
    void Start() override { m_link.Start(); }
    void Stop() override { m_link.Stop(); }
    void Write(std::span<const uint8_t> bytes) override { m_link.Write(bytes); }

private:
    CQtSerialOwner m_owner;  // declared first: the link, and its worker, go before it
    CSerialLink m_link;
};

}  // namespace corvane
