#include "transport/qt_serial_owner.h"

#include <QMetaObject>
#include <vector>

namespace corvane {

CQtSerialOwner::CQtSerialOwner(QObject* parent) : QObject(parent) {}

// Not Qt::BlockingQueuedConnection: the worker's wait must end when the link stops, or a
// user-interface thread waiting for the worker would wait for ever.
void CQtSerialOwner::Post(std::function<void()> call)
{
    QMetaObject::invokeMethod(this, std::move(call), Qt::QueuedConnection);
}

void CQtSerialOwner::OnPortByte(uint8_t b, unsigned port, std::stop_token stop)
{
    OnPortBytes(std::span<const uint8_t>(&b, 1), port, std::move(stop));
}

void CQtSerialOwner::OnPortBytes(std::span<const uint8_t> bytes, unsigned port, std::stop_token stop)
{
    std::vector<uint8_t> copy(bytes.begin(), bytes.end());
    DeliverBlocking([this](std::function<void()> call) { Post(std::move(call)); },
                    [this, copy = std::move(copy), port, stop] {
                        for (uint8_t b : copy) {
                            if (stop.stop_requested())  // a handler stopped the link: drop the rest
                                return;
                            if (m_onByte)
                                m_onByte(b, port);
                        }
                    },
                    stop);
}

void CQtSerialOwner::OnPortLinkLost(unsigned port)
{
    Post([this, port] {
        if (m_onLinkLost)
            m_onLinkLost(port);
    });
}

}  // namespace corvane
