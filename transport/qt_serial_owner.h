// Delivers the serial worker's calls to the user-interface thread: each received byte as a
// blocking queued call (cancelled when the link stops), a lost link as a queued call.
#pragma once

#include <QObject>
#include <functional>

#include "transport/serial_owner.h"

namespace corvane {

class CQtSerialOwner final : public QObject, public ISerialOwner {
    Q_OBJECT
public:
    using ByteFn = std::function<void(uint8_t b, unsigned port)>;
    using LinkLostFn = std::function<void(unsigned port)>;

    // Lives on the thread that creates it (the user-interface thread); the callbacks run there.
    // Must outlive the worker of every link it owns: destroy or stop-and-wait the link first.
    explicit CQtSerialOwner(QObject* parent = nullptr);

    void SetOnByte(ByteFn fn) { m_onByte = std::move(fn); }
    void SetOnLinkLost(LinkLostFn fn) { m_onLinkLost = std::move(fn); }

    void OnPortByte(uint8_t b, unsigned port, std::stop_token stop) override;
    // One crossing per read; each byte still reaches the byte callback by itself, in order.
    void OnPortBytes(std::span<const uint8_t> bytes, unsigned port, std::stop_token stop) override;
    void OnPortLinkLost(unsigned port) override;

private:
    void Post(std::function<void()> call);

    ByteFn m_onByte;
    LinkLostFn m_onLinkLost;
};

}  // namespace corvane
