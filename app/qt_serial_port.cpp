#include "app/qt_serial_port.h"

namespace corvane {

CQtSerialPort::CQtSerialPort(SPortPaths paths) : m_link(std::move(paths))
{
    m_owner.SetOnByte([this](uint8_t b, unsigned) {
        if (onByte)
            onByte(b);
    });
    m_owner.SetOnLinkLost([this](unsigned) {
        if (onLinkLost)
            onLinkLost();
    });
}

CQtSerialPort::~CQtSerialPort() = default;

bool CQtSerialPort::OpenPort(unsigned portNumber) { return m_link.OpenPort(&m_owner, portNumber); }

}  // namespace corvane
