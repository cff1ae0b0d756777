// The checks an EDID file passes before it may be sent to the switcher: 128 or 256 bytes, the
// fixed header, at most one extension block, and an 8-bit sum of 0 over each block in use.
// The outcome is a value (what failed, with the figures); DescribeEdidCheck turns it into the
// one line a log or a command-line tool prints.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

namespace corvane {

inline constexpr std::size_t kEdidBlockSize = 128;
inline constexpr std::size_t kEdidSize = 2 * kEdidBlockSize;
inline constexpr std::size_t kEdidExtensionCountAt = 126;

using EdidBytes = std::array<uint8_t, kEdidSize>;

enum class EdidFault {
    None,
    CannotOpen,         // the path could not be opened or examined (osError)
    NotRegularFile,     // a directory, FIFO, device or socket (fileType)
    ReadFailed,         // reading stopped with an error (osError)
    Size,               // not 128 or 256 bytes (size)
    Header,             // bytes 0..7 are not 00 FF FF FF FF FF FF 00 (header)
    ExtensionCount,     // byte 126 above 1 (extensionCount)
    BaseChecksum,       // bytes 0..127 do not sum to 0 (sum)
    ExtensionChecksum,  // bytes 128..255 do not sum to 0 with one extension (sum)
};

enum class FileType { Regular, Directory, Fifo, CharacterDevice, BlockDevice, Socket, Other };

struct EdidCheck {
    EdidFault fault = EdidFault::None;
    int osError = 0;
    FileType fileType = FileType::Regular;
    uint64_t size = 0;           // the file's length in bytes
    bool sizeAtLeast = false;    // size is only a lower bound (a file that reports no length)
    std::array<uint8_t, 8> header{};
    uint8_t extensionCount = 0;
    uint8_t sum = 0;  // the 8-bit sum of the block that failed
    // The content followed by zero bytes up to 256: what is sent when the check passed.
    EdidBytes edid{};

    bool Ok() const { return fault == EdidFault::None; }
};

// Checks file content already in memory.
EdidCheck CheckEdid(std::span<const uint8_t> content);

// Checks the file at path. Only a regular file is read, never more than 257 bytes, and nothing
// can block: a FIFO, a device or a directory is reported as NotRegularFile without reading.
EdidCheck CheckEdidFile(const std::string& path);

// "size 100000 bytes, expected 128 or 256", "checksum of bytes 0-127 is 0x3C, expected 0x00", ...
std::string DescribeEdidCheck(const EdidCheck& check);

}  // namespace corvane
