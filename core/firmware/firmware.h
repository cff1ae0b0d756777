// Firmware files and the packets that carry them to the switcher. The files are read through
// the platform's regular-file reader; no I/O here.
//
// A firmware file is a two-byte lead (unused) followed by the image; every byte is stored as
// image byte XOR kFirmwareScramble XOR (file length mod 256). The image travels in 256-byte
// packets, each a 13-byte header frame and a 257-byte block; the switcher's acknowledgement of
// each packet decides how the next header is numbered and where the next packet starts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/link/frame.h"
#include "platform/regular_file.h"

namespace corvane {

inline constexpr uint8_t kFirmwareScramble = 0xC3;
inline constexpr std::size_t kFirmwareLead = 2;
inline constexpr std::size_t kFirmwareMaxFile = 100000;
// A file of the lead alone carries no image: it would replace the firmware with zeros.
inline constexpr std::size_t kFirmwareMinFile = kFirmwareLead + 1;
inline constexpr std::size_t kFirmwareMaxImage = kFirmwareMaxFile - kFirmwareLead;

// XOR with the constant and the length: the same call scrambles and descrambles a whole file.
void ScrambleFirmware(std::span<uint8_t> file);

enum class FileError {
    None,
    CannotOpen,  // missing, no permission: the operator picks again, nothing is said
    NotRegular,  // a FIFO, device or directory: never read
    TooLarge,
    NoImage,     // firmware file of the lead alone, or an empty image
    ReadFailed,
};

// The operator's text for a refused firmware file; empty for errors that are not reported.
std::string FirmwareFileErrorText(FileError error);

// The refusal of a firmware file or image for what reading it gave.
FileError FileErrorOf(RegularFileError error);

// A firmware file, read and descrambled: lead included, so image position p is file[p + 2].
// out is left alone unless the file is accepted.
FileError LoadFirmwareFile(const std::string& path, std::vector<uint8_t>& out);
// The refusals of LoadFirmwareFile for a file of this length.
FileError CheckFirmwareLength(std::size_t fileLength);
// The scrambled file for an image (lead 00 00); nothing for an image the page would refuse.
std::optional<std::vector<uint8_t>> PackFirmware(std::span<const uint8_t> image);

// ---- packets ----

// Byte 4 of a packet header.
inline constexpr uint8_t kPacketMark = 0xAA;
inline constexpr uint8_t kLastPacketMark = 0x56;
// Byte 9 of a packet header.
inline constexpr uint8_t kPacketPlain = 0x40;
inline constexpr uint8_t kPacketAfterF0 = 0xB0;
// Byte 10 of an acknowledgement.
inline constexpr uint8_t kAckControlF0 = 0xF0;
inline constexpr uint8_t kAckControlSkip = 0xB0;  // restart the segment, 4096 bytes further on
inline constexpr int kSkipBytes = 3840;

struct FirmwarePacket {
    int offset = 0;        // image position of the packet's first byte
    uint8_t mark = 0;      // header byte 4
    uint8_t kind = 0;      // header byte 9
    uint8_t number = 0;    // header byte 10
    bool operator==(const FirmwarePacket&) const = default;
};

// The packets of one transfer, one acknowledgement at a time. The loop runs on the file length,
// not the image length: a file whose length mod 256 is 1 or 2 ends with a packet of zeros.
class CPacketPlan {
public:
    explicit CPacketPlan(int fileLength = 0) : m_fileLength(fileLength) {}

    // Starts over: the first packet, always marked as an ordinary one.
    FirmwarePacket First();
    // The current packet was acknowledged with this control byte: the next packet, or nothing
    // when the data is done (SendOffset() is then at or past the file length).
    std::optional<FirmwarePacket> Next(uint8_t control);

    int FileLength() const { return m_fileLength; }
    int SendOffset() const { return m_sendOffset; }
    int SegmentBytes() const { return m_segmentBytes; }

private:
    int m_fileLength;
    int m_sendOffset = 0;
    int m_segmentBytes = 0;
};

// Every packet of a transfer whose acknowledgements carry these control bytes in turn (0x00
// after the list ends).
std::vector<FirmwarePacket> PlanPackets(int fileLength, std::span<const uint8_t> controls = {});

// The packet's header in frame (bytes 2..12 cleared first; the sender seals it).
void WritePacketHeader(Frame& frame, const FirmwarePacket& packet);
// The packet's 256 image bytes into block bytes 1..256 (byte 0 is the sender's), 0x00 past the
// end of the file. file is the descrambled file, lead included.
void WritePacketBlock(Block& block, std::span<const uint8_t> file, const FirmwarePacket& packet);

}  // namespace corvane
