// Helpers shared by the switcher model tests.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include "core/link/frame.h"
#include "sim/switcher.h"

namespace corvane::sim::test {

using Bytes = std::vector<uint8_t>;

inline Frame F(std::initializer_list<uint8_t> body) { return MakeFrame(body); }

inline std::string Hex(const std::optional<Frame>& f) { return f ? HexBytes(*f) : std::string("(no reply)"); }

inline Block SealedBlock(const Bytes& data)
{
    Block b{};
    for (std::size_t i = 0; i < data.size() && i < kBlockDataSize; ++i)
        b[i + 1] = data[i];
    SealBlock(b);
    return b;
}

// A 76-byte configuration request as the panel builds it.
inline Bytes ConfigRequest(const Mac& current, const Mac& fresh, std::optional<Ipv4> fixedIp)
{
    Bytes d(kConfigSize, 0);
    std::copy(current.begin(), current.end(), d.begin());
    if (fixedIp) {
        const Ipv4& ip = *fixedIp;
        std::copy(ip.begin(), ip.end(), d.begin() + 6);
        std::copy(ip.begin(), ip.begin() + 3, d.begin() + 10);
        d[13] = 0x01;
        d[14] = d[15] = d[16] = 0xFF;
        d[18] = 0x00;
        d[25] = 0x17;
    } else {
        d[18] = 0x01;
        d[25] = 0x16;
    }
    std::copy(fresh.begin(), fresh.end(), d.begin() + 19);
    d[74] = 0xFF;
    unsigned sum = 0;
    for (std::size_t i = 0; i < 75; ++i)
        sum += d[i];
    d[75] = static_cast<uint8_t>(sum);
    return d;
}

inline uint8_t PlainSum(const Bytes& d, std::size_t n)
{
    unsigned sum = 0;
    for (std::size_t i = 0; i < n; ++i)
        sum += d[i];
    return static_cast<uint8_t>(sum);
}

}  // namespace corvane::sim::test
