// Feeds arbitrary bytes to both receive cutters, split at points taken from the input itself,
// and checks what they promise: every frame starts with the header, the TCP cutter holds less
// than one frame, and both agree on the frames of a stream when fed whole.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "core/link/receive.h"

using namespace corvane;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const std::size_t step = 1 + data[0] % 32;
    const std::span<const uint8_t> stream(data + 1, size - 1);

    CSerialHunt hunt;
    std::vector<Frame> serial;
    for (uint8_t b : stream)
        if (auto f = hunt.OnPortByte(b))
            serial.push_back(*f);

    CTcpCutter chunked, whole;
    std::vector<Frame> tcp;
    for (std::size_t pos = 0; pos < stream.size(); pos += step) {
        for (const Frame& f : chunked.Feed(stream.subspan(pos, std::min(step, stream.size() - pos))))
            tcp.push_back(f);
        if (chunked.Pending() >= kFrameSize)
            std::abort();
    }
    if (whole.Feed(stream) != tcp)
        std::abort();
    for (const Frame& f : serial)
        if (!HasHeader(f))
            std::abort();
    for (const Frame& f : tcp)
        if (!HasHeader(f))
            std::abort();
    return 0;
}
