#include "panel/qt_serial_port.h"

#include <QMetaObject>

#include <cstdio>
#include <utility>

namespace corvane {

CQtSerialPort::CQtSerialPort(SPortPaths paths) : m_link(std::move(paths))
{
    m_owner.SetOnByte([this](uint8_t b, unsigned) {
        if (onByte)
            onByte(b);
    });
    // A failure stays on standard error, and the one that ends the link is said in the window,
    // without the device's path ("COM3: poll() on the port failed: ...").
    m_link.SetLog([this](const std::string& line) {
        std::fprintf(stderr, "corvane: %s\n", line.c_str());
        const std::size_t open = line.find(" (");
        const std::size_t close = open == std::string::npos ? open : line.find("): ", open);
        std::lock_guard lock(m_failureLock);
        m_failure = close == std::string::npos ? line : line.substr(0, open) + line.substr(close + 1);
    });
}

CQtSerialPort::~CQtSerialPort() = default;

bool CQtSerialPort::OpenPort(unsigned portNumber)
{
    // OpenPort first ends the worker of an earlier opening; whatever it reported since carries
    // the old number.
    const bool opened = m_link.OpenPort(this, portNumber);
    ++m_opening;
    return opened;
}

void CQtSerialPort::OnPortByte(uint8_t b, unsigned port, std::stop_token stop)
{
    m_owner.OnPortByte(b, port, std::move(stop));
}

void CQtSerialPort::OnPortBytes(std::span<const uint8_t> bytes, unsigned port, std::stop_token stop)
{
    m_owner.OnPortBytes(bytes, port, std::move(stop));
}

void CQtSerialPort::OnPortLinkLost(unsigned)
{
    const unsigned opening = m_opening.load();
    std::string why;
    {
        std::lock_guard lock(m_failureLock);
        why = std::exchange(m_failure, {});
    }
    QMetaObject::invokeMethod(
        &m_owner,
        [this, opening, why] {
            if (opening == m_opening.load() && onLinkLost)
                onLinkLost(why);
        },
        Qt::QueuedConnection);
}

}  // namespace corvane
