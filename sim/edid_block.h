// Writing EDID blocks: the fixed header, text descriptors and the block checksum. Shared by the
// switcher's built-in EDIDs and the test builder, so both seal and label blocks one way.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace corvane::sim {

using Edid = std::array<uint8_t, 256>;

inline constexpr std::array<uint8_t, 8> kEdidHeader = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};

// Sets the last byte of the 128-byte block at `from` so that the block sums to 0.
inline void SealEdidBlock(Edid& e, std::size_t from)
{
    unsigned sum = 0;
    for (std::size_t i = from; i < from + 127; ++i)
        sum += e[i];
    e[from + 127] = static_cast<uint8_t>(0x100 - (sum & 0xFF));
}

// A display descriptor at `at` with tag `tag` and up to 13 characters of text, ended by a line
// feed and padded with spaces when shorter.
inline void PutEdidText(Edid& e, std::size_t at, uint8_t tag, std::string_view text)
{
    e[at + 3] = tag;
    std::size_t i = 0;
    for (; i < text.size() && i < 13; ++i)
        e[at + 5 + i] = static_cast<uint8_t>(text[i]);
    if (i < 13)
        e[at + 5 + i++] = 0x0A;
    for (; i < 13; ++i)
        e[at + 5 + i] = 0x20;
}

}  // namespace corvane::sim
