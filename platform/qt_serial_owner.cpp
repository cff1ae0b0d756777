#include "platform/qt_serial_owner.h"

#include <QMetaObject>

namespace corvane {

CQtSerialOwner::CQtSerialOwner(QObject* parent) : QObject(parent) {}

void CQtSerialOwner::OnPortByte(uint8_t b, unsigned port, std::stop_token stop)
{
    // Not Qt::BlockingQueuedConnection: the wait must end when the link stops, or a user-interface
    // thread waiting for the worker would wait for ever.
    auto post = [this](std::function<void()> call) {
        QMetaObject::invokeMethod(this, std::move(call), Qt::QueuedConnection);
    };
    DeliverBlocking(post, [this, b, port] {
        if (m_onByte)
            m_onByte(b, port);
    }, std::move(stop));
}

void CQtSerialOwner::OnPortLinkLost(unsigned port)
{
    QMetaObject::invokeMethod(this, [this, port] {
        if (m_onLinkLost)
            m_onLinkLost(port);
    }, Qt::QueuedConnection);
}

}  // namespace corvane
