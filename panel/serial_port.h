// The serial link as the main window sees it: open by COM number, start, stop, write. The
// program uses the real transport on a (pseudo-)terminal; flow tests plug in the switcher model.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "core/link/transport.h"

namespace corvane {

class ISerialPort : public ITransport {
public:
    // Both called on the user-interface thread: one call per received byte, in order, and the
    // loss of the link (waiting or writing failed), with what failed in words (may be empty).
    std::function<void(uint8_t)> onByte;
    std::function<void(const std::string& why)> onLinkLost;

    // Opens COMn at 19200 8N2 with DTR and RTS on; false when the device cannot be opened.
    virtual bool OpenPort(unsigned portNumber) = 0;
    // Starts the worker that moves the bytes.
    virtual void Start() = 0;
    // Signals the worker to close the port and end; does not wait.
    virtual void Stop() = 0;
};

}  // namespace corvane
