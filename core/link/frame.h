// Command frames (13 bytes, header A5 5B, checksum in byte 12) and data blocks (257 bytes,
// checksum in byte 0, no header). The checksum is the two's complement of the 8-bit sum, so
// the 8-bit sum of a whole valid frame or block is 0.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>

namespace corvane {

inline constexpr std::size_t kFrameSize = 13;
inline constexpr std::size_t kBlockDataSize = 256;
inline constexpr std::size_t kBlockSize = kBlockDataSize + 1;
inline constexpr uint8_t kHeader0 = 0xA5;
inline constexpr uint8_t kHeader1 = 0x5B;

using Frame = std::array<uint8_t, kFrameSize>;
using Block = std::array<uint8_t, kBlockSize>;

// Two's complement of the 8-bit sum of the bytes.
uint8_t NegatedSum(std::span<const uint8_t> bytes);

// Writes the checksum of bytes 0 to 11 into byte 12.
void SealFrame(Frame& frame);
bool FrameChecksumOk(const Frame& frame);
bool HasHeader(const Frame& frame);

// Writes the checksum of bytes 1 to 256 into byte 0.
void SealBlock(Block& block);
bool BlockChecksumOk(const Block& block);

// A sealed frame with the header, bytes 2.. from the list (at most 10), the rest 0x00.
Frame MakeFrame(std::initializer_list<uint8_t> body);

// Clears bytes 2 to 12, keeping the header.
void ClearCommand(Frame& frame);

// "A5 5B 01 ..." : upper-case hex pairs, each followed by one blank.
std::string HexBytes(std::span<const uint8_t> bytes);
// The same without the last blank, for text that goes on: "A5 5B 01".
std::string HexText(std::span<const uint8_t> bytes);
// Appends one byte in that form ("A5 ").
void AppendHex(std::string& out, uint8_t b);
// The value of a hexadecimal digit (either case); -1 for any other character.
int HexDigit(char c);

}  // namespace corvane
