#pragma once

#include <cstdint>
#include <span>

namespace corvane {

// Where the sender's bytes go: the serial link or the TCP control socket. Write copies the
// bytes and returns at once; they leave in order, each write whole.
class ITransport {
public:
    virtual ~ITransport() = default;
    virtual void Write(std::span<const uint8_t> bytes) = 0;
};

}  // namespace corvane
